#pragma once

#include <QWidget>

class QTableWidget;

namespace vigilor {
class Robot;
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

    explicit SchedulerWindow(Robot& robot, QWidget* parent = nullptr);

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

    Robot& m_robot;
    QTableWidget* m_table;
};

} // namespace vigilor::ui
