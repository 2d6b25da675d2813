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

    using RobotFixture::RobotFixture;

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
