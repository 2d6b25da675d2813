#include "ui/schedulerwindow.h"

#include "link/dialogs.h"
#include "scheduler/scheduler.h"
#include "settings/settings.h"
#include "text/clock.h"
#include "ui/guard.h"
#include "ui/taskeditor.h"

#include <QApplication>
#include <QBrush>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

constexpr QSize kSchedulerSize(760, 300);
constexpr int kMinTaskColumn = 40;

} // namespace

SchedulerWindow::SchedulerWindow(scheduler::Scheduler& tasks, const Settings& settings,
                                 Clock& clock, Dialogs& dialogs, const QString& programFolder,
                                 ErrorSink* errors, QWidget* parent)
    : QWidget(parent, Qt::Window), m_tasks(tasks), m_settings(settings), m_clock(clock),
      m_dialogs(dialogs), m_programFolder(programFolder), m_errors(errors),
      m_table(new QTableWidget(this))
{
    setObjectName(u"Form2"_s);
    setWindowTitle(caption());

    auto* bar = new QHBoxLayout;
    const auto addButton = [&](const QString& name, const QString& text, auto work) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(name);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, guard(m_errors, work));
        bar->addWidget(button);
    };
    addButton(u"NewButton"_s, u"Új"_s, [this] { newTask(); });
    addButton(u"EditButton"_s, u"Szerkeszt"_s, [this] { editTask(); });
    addButton(u"DeleteButton"_s, u"Töröl"_s, [this] { deleteTask(); });
    addButton(u"SaveButton"_s, u"Mentés..."_s, [this] { saveAs(); });
    addButton(u"LoadButton"_s, u"Betöltés..."_s, [this] { loadFrom(); });
    bar->addStretch();

    m_table->setObjectName(u"TaskGrid"_s);
    m_table->setAccessibleName(u"Feladatok"_s);
    m_table->setColumnCount(int(scheduler::kColumnTitles.size()));
    m_table->setHorizontalHeaderLabels(scheduler::kColumnTitles);
    QFont bold = m_table->horizontalHeader()->font();
    bold.setBold(true);
    m_table->horizontalHeader()->setFont(bold);
    // The last column takes what the first three leave of the table's inside, so the columns fit
    // the window (no horizontal scroll bar) at any width that holds them.
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setMinimumSectionSize(kMinTaskColumn);
    for (int column = 0; column < 3; ++column)
        m_table->setColumnWidth(column, kFirstColumns[column]);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(m_table, 1);
    resize(kSchedulerSize);

    tasks.setBeep([] { QApplication::beep(); });
    connect(&tasks, &scheduler::Scheduler::tasksChanged, this,
            guard(m_errors, [this] { refresh(); }));
    connect(&m_settings, &Settings::changed, this, guard(m_errors, [this](Key key) {
        if (key == Key::Scheduler)
            setWindowTitle(caption());
    }));
    connect(m_table, &QTableWidget::cellDoubleClicked, this,
            guard(m_errors, [this](int row, int) { m_tasks.fire(row); }));
    refresh();
}

QString SchedulerWindow::caption() const
{
    QString text = u"Parancs ütemező"_s;
    if (!m_settings.flag(Key::Scheduler))
        text += u" - [KIKAPCSOLVA]"_s;
    return text;
}

void SchedulerWindow::present()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void SchedulerWindow::refresh()
{
    const QList<scheduler::Task>& tasks = m_tasks.tasks();
    const int selected = selectedTask();
    m_table->setRowCount(int(tasks.size()));
    for (int row = 0; row < tasks.size(); ++row) {
        const scheduler::Task& task = tasks[row];
        const QString texts[] = {task.date, task.time, task.kind, task.option};
        for (int column = 0; column < 4; ++column) {
            QTableWidgetItem* item = m_table->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
                m_table->setItem(row, column, item);
            }
            item->setText(texts[column]);
            // A task the timer can never fire is marked, for the eye and for a screen reader.
            const QString why = scheduler::whyNeverDue(task);
            item->setForeground(why.isEmpty() ? QBrush() : QBrush(Qt::red));
            const QString note = why.isEmpty() ? QString() : u"Soha nem fut le: "_s + why;
            item->setToolTip(note);
            item->setData(Qt::AccessibleDescriptionRole, note.isEmpty() ? QVariant() : note);
        }
    }
    if (selected >= tasks.size())
        m_table->clearSelection();
}

int SchedulerWindow::selectedTask() const
{
    const QList<QTableWidgetItem*> items = m_table->selectedItems();
    if (items.isEmpty())
        return -1;
    return items.front()->row();
}

void SchedulerWindow::newTask()
{
    scheduler::EditorValues values;
    const QDateTime now = m_clock.now();
    values.date = now.date();
    values.time = now.time();
    TaskEditor editor(TaskEditor::Mode::Add, values, m_errors, this);
    editor.move(pos());
    if (editor.exec() != QDialog::Accepted)
        return;
    scheduler::Scheduler& tasks = m_tasks;
    const int row = tasks.append(scheduler::taskFromEditor(editor.values(), tasks.lastFileError()));
    m_table->selectRow(row);
}

void SchedulerWindow::editTask()
{
    const int row = selectedTask();
    if (row < 0)
        return;
    scheduler::Scheduler& tasks = m_tasks;
    const scheduler::Task task = tasks.tasks().at(row);
    scheduler::EditorValues base;
    const QDateTime now = m_clock.now();
    base.date = now.date();
    base.time = now.time();
    const scheduler::EditorValues values = scheduler::editorFromTask(task, base);
    if (values.kindIndex < 0)
        m_dialogs.message(u"ProgramHIBA #"_s + QString::number(tasks.lastFileError()));
    TaskEditor editor(TaskEditor::Mode::Change, values, m_errors, this);
    editor.move(pos());
    if (editor.exec() != QDialog::Accepted)
        return;
    tasks.replace(row, scheduler::taskFromEditor(editor.values(), tasks.lastFileError()));
}

void SchedulerWindow::deleteTask()
{
    const int row = selectedTask();
    if (row >= 0)
        m_tasks.remove(row);
}

QString SchedulerWindow::chooseFile(bool save)
{
    QFileDialog dialog(this);
    dialog.setNameFilter(u"Schedules (*.sch)"_s);
    dialog.setDirectory(m_programFolder);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(u"sch"_s);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

void SchedulerWindow::saveAs()
{
    const QString path = chooseFile(true);
    if (!path.isEmpty())
        m_tasks.saveFile(path);
}

void SchedulerWindow::loadFrom()
{
    const QString path = chooseFile(false);
    if (!path.isEmpty())
        m_tasks.loadFile(path);
}

void SchedulerWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    setWindowTitle(caption());
    guarded(m_errors, [this] { m_tasks.applySwitch(); });
}

// The window stays for the whole run: closing writes the task file and only hides it.
void SchedulerWindow::closeEvent(QCloseEvent* event)
{
    guarded(m_errors, [this] { m_tasks.windowClosed(); });
    event->ignore();
    hide();
}

void SchedulerWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    guarded(m_errors, [this] {
        for (int column = 0; column < 3; ++column)
            m_table->setColumnWidth(column, kFirstColumns[column]);
    });
}

} // namespace vigilor::ui
