#include "ui/rostertab.h"

#include "robot/robot.h"
#include "ui/guard.h"

#include <QHeaderView>
#include <QMenu>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

constexpr std::array kColumnWidths = {40, 40, 40, 170, 120, 50};
static_assert(kColumnWidths.size() == roster::Roster::kColumns);

} // namespace

RosterTab::RosterTab(Robot& robot, QWidget* parent)
    : QWidget(parent), m_robot(robot), m_table(new QTableWidget(0, roster::Roster::kColumns, this)),
      m_menu(new QMenu(this))
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
    QAction* refresh = m_menu->addAction(u"Frissítés"_s);
    refresh->setObjectName(u"RefreshItem"_s);
    refresh->setShortcut(Qt::Key_F5);
    refresh->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(refresh); // F5 works wherever the focus is on this tab
    connect(refresh, &QAction::triggered, this,
            guard(&robot, [this] { m_robot.link().enqueueCommand(u"status"_s); }));
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_table, &QWidget::customContextMenuRequested, this, guard(&robot, [this](QPoint at) {
                m_menu->popup(m_table->viewport()->mapToGlobal(at));
            }));

    connect(&robot.roster(), &roster::Roster::rowsChanged, this,
            guard(&robot, [this] { showRows(); }));
    showRows();
}

void RosterTab::showRows()
{
    const QList<QStringList>& rows = m_robot.roster().rows();
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
