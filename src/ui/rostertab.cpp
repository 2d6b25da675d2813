#include "ui/rostertab.h"

#include "record/actrecord.h"
#include "roster/roster.h"
#include "ui/guard.h"
#include "ui/mainwindow.h"

#include <QHeaderView>
#include <QMenu>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <array>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

constexpr std::array kColumnWidths = {40, 40, 40, 170, 120, 50};
static_assert(kColumnWidths.size() == roster::Roster::kColumns);

} // namespace

RosterTab::RosterTab(roster::Roster& roster, rules::RosterMenu& menu, record::ActRecord& record,
                     ErrorSink* errors, QWidget* parent)
    : QWidget(parent), m_roster(roster), m_actions(menu), m_record(record), m_errors(errors),
      m_table(new QTableWidget(0, roster::Roster::kColumns, this)), m_menu(new QMenu(this))
{
    m_table->setObjectName(u"Table"_s);
    m_table->setHorizontalHeaderLabels(roster::Roster::headerRow());
    for (int column = 0; column < roster::Roster::kColumns; ++column)
        m_table->setColumnWidth(column, kColumnWidths[column]);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QFont bold = m_table->font();
    bold.setBold(true);
    m_table->setFont(bold);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);

    m_menu->setObjectName(u"ListMenu"_s);
    for (const rules::MenuItem& item : rules::listMenuItems()) {
        if (item.action == rules::MenuAction::Separator) {
            m_menu->addSeparator();
            continue;
        }
        QAction* action = m_menu->addAction(item.caption);
        action->setObjectName(item.objectName);
        action->setEnabled(item.enabled);
        if (!item.shortcut.isEmpty()) {
            action->setShortcut(QKeySequence(item.shortcut));
            action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            addAction(action); // F5 works wherever the focus is on this tab
        }
        connect(action, &QAction::triggered, this, guard(errors, [this, what = item.action] {
                    const rules::TableRow row =
                        m_menuRow.value_or(rules::TableRow::fromCells(selectedCells()));
                    if (m_actions.run(what, row) && rules::isRecordedAct(what))
                        m_record.add({{},
                                      record::kWindow,
                                      {},
                                      rules::menuItem(what).caption,
                                      row.slot,
                                      row.name,
                                      row.address,
                                      {}});
                }));
    }
    connect(&menu, &rules::RosterMenu::consoleTabRequested, this, guard(errors, [this] {
        if (auto* main = qobject_cast<MainWindow*>(window()))
            main->showTab(MainWindow::Tab::Console);
    }));
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_table, &QWidget::customContextMenuRequested, this, guard(errors, [this](QPoint at) {
                if (const QModelIndex under = m_table->indexAt(at); under.isValid())
                    m_table->selectRow(under.row());
                m_menuRow = rules::TableRow::fromCells(selectedCells());
                m_menu->popup(m_table->viewport()->mapToGlobal(at));
            }));
    // A chosen item is triggered after the menu has hidden, so the player is let go only once
    // the events of the moment have run.
    connect(m_menu, &QMenu::aboutToHide, this, guard(errors, [this] {
                QTimer::singleShot(0, this, guard(m_errors, [this] { m_menuRow.reset(); }));
            }));

    connect(&roster, &roster::Roster::rowsChanged, this, guard(errors, [this] { showRows(); }));
    showRows();
}

// The menu acts on the selected row; with none, on the title row, as the grid's own first row.
QStringList RosterTab::selectedCells() const
{
    const QModelIndexList selected = m_table->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return roster::Roster::headerRow();
    QStringList cells;
    for (int column = 0; column < m_table->columnCount(); ++column) {
        const QTableWidgetItem* item = m_table->item(selected.constFirst().row(), column);
        cells << (item ? item->text() : QString());
    }
    return cells;
}

void RosterTab::showRows()
{
    const QList<QStringList>& rows = m_roster.rows();
    m_table->setRowCount(int(rows.size()));
    for (int row = 0; row < m_table->rowCount(); ++row) {
        for (int column = 0; column < roster::Roster::kColumns; ++column) {
            QTableWidgetItem* item = m_table->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                m_table->setItem(row, column, item);
            }
            item->setText(rows[row].value(column));
        }
    }
}

} // namespace vigilor::ui
