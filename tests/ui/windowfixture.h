#pragma once

#include "support/robotfixture.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QTabWidget>
#include <QTest>

namespace vigilor::test {

// The robot of RobotFixture with its real main window, made before the start-up so that the
// start lines reach the window through the console's signals.
struct WindowFixture : RobotFixture
{
    ui::MainWindow window{robot};

    explicit WindowFixture(const QString& rconPassword) : RobotFixture(rconPassword)
    {
        // The practice server shares the window's event loop, so it stamps a datagram when the
        // loop reaches it rather than when it arrived: on a loaded machine two paced commands
        // can be read within 500 ms of each other and the second dropped by the flood guard.
        // The guard and the pace that respects it are tested without a window.
        server.setFloodGuardMs(0);
    }

    template <typename T = QWidget> T* find(const QString& name) const
    {
        return window.findChild<T*>(name);
    }
    QAction* action(const QString& name) const { return find<QAction>(name); }
    QTabWidget* tabs() const { return find<QTabWidget>(QStringLiteral("PageControl1")); }
    QString currentTab() const { return tabs()->tabText(tabs()->currentIndex()); }
    // Clicks and focus need the window on the screen and active.
    bool showActive()
    {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
};

} // namespace vigilor::test
