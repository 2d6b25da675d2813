#pragma once

#include <QString>
#include <QWidget>

class QTableWidget;

namespace vigilor {
class Clock;
class Dialogs;
class ErrorSink;
class Settings;
} // namespace vigilor
namespace vigilor::scheduler {
class Scheduler;
}

namespace vigilor::ui {

// "Parancs ütemező": the task table with its bar. It exists for the whole run, hidden until
// the main menu's "[Ütemező]" shows it; closing it writes "Scheduling.ini" and hides it. Rows
// whose task can never fire (a date or time not in the program's form) are marked.
class SchedulerWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SchedulerWindow)

public:
    static constexpr int kFirstColumns[3] = {120, 100, 150};

    // Save and load dialogs start in programFolder.
    SchedulerWindow(scheduler::Scheduler& tasks, const Settings& settings, Clock& clock,
                    Dialogs& dialogs, const QString& programFolder, ErrorSink* errors,
                    QWidget* parent = nullptr);

    // The caption, with " - [KIKAPCSOLVA]" while the scheduler is off.
    QString caption() const;
    // "[Ütemező]": the window on the screen and in front.
    void present();

    // The bar's buttons.
    void newTask();
    void editTask();
    void deleteTask();
    void saveAs();
    void loadFrom();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    int selectedTask() const; // -1 when no task row is selected
    QString chooseFile(bool save);

    scheduler::Scheduler& m_tasks;
    const Settings& m_settings;
    Clock& m_clock;
    Dialogs& m_dialogs;
    QString m_programFolder;
    ErrorSink* m_errors;
    QTableWidget* m_table;
};

} // namespace vigilor::ui
