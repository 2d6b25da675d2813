#pragma once

#include <QMainWindow>

class QTabWidget;

namespace vigilor {
class Dialogs;
class Robot;
} // namespace vigilor
namespace vigilor::link {
class Link;
}
namespace vigilor::roster {
class Roster;
}

namespace vigilor::ui {

class SchedulerWindow;
class TrayIcon;

// The main window: the top bar, the seven tabs, the main menu and the notification-area icon.
// It builds each of them from the few engine objects it works with, and drives the robot's own
// operations (save, load, reset, close) from the main menu. Closing it is the program's normal
// end.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    // The tabs in the order they are shown.
    enum class Tab
    {
        Settings,
        ClientConfig,
        Roster,
        Bans,
        Weapons,
        Console,
        Search
    };

    explicit MainWindow(Robot& robot, QWidget* parent = nullptr);
    ~MainWindow() override;

    // At start the window is shown, or only the icon is when the program starts in the icon
    // area (and there is one to start in).
    void presentAtStart(bool inIconArea);
    // On a first start: the first-start message, then the tab "Beállítások" to the front.
    void showFirstStartMessage();

    void showTab(Tab tab);
    QWidget* page(Tab tab) const;
    QMenu* robotMenu() const { return m_robotMenu; }
    SchedulerWindow* schedulerWindow() const { return m_scheduler; }

    // Double-click on the icon, "Megnyitás": the window back on the screen.
    void showAndRestore();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildTabs();
    void buildRobotMenu();
    void buildHelpMenu();
    void buildMapRotationItem();
    void buildSchedulerItem();

    Robot& m_robot;
    link::Link& m_link;
    roster::Roster& m_roster;
    Dialogs& m_dialogs;
    QTabWidget* m_tabs;
    QMenu* m_robotMenu = nullptr;
    QAction* m_publicBanItem = nullptr; // "[Ütemező]" goes before it
    TrayIcon* m_tray;
    SchedulerWindow* m_scheduler = nullptr;
};

} // namespace vigilor::ui
