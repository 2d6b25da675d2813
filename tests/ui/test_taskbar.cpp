// The main window keeps its button off the taskbar, on a real X server (Xvfb), read from outside
// with xprop the way a taskbar reads it: from its creation on, and again after each showing, as
// the window manager forgets the state of a hidden window.
#include "text/version.h"
#include "windowfixture.h"

#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTest>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;

namespace {

QString xprop(const QWidget& window, const QStringList& arguments)
{
    QProcess process;
    process.start(u"xprop"_s, QStringList{u"-id"_s, QString::number(window.winId())} + arguments);
    if (!process.waitForFinished(10000))
        return u"xprop did not finish"_s;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

bool skipsTaskbar(const QWidget& window)
{
    return xprop(window, {u"_NET_WM_STATE"_s}).contains(u"_NET_WM_STATE_SKIP_TASKBAR"_s);
}

} // namespace

class TestTaskbar final : public QObject
{
    Q_OBJECT

private slots:
    void buttonStaysHidden()
    {
        QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
        WindowFixture f(u"secret"_s);
        QVERIFY(skipsTaskbar(f.window)); // from the window's creation

        f.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        QVERIFY(skipsTaskbar(f.window));
        QVERIFY(xprop(f.window, {u"WM_NAME"_s}).contains(kProgramCaption));

        // Hidden (to the icon), the window manager drops the window's state; "Megnyitás" shows
        // it again without a taskbar button.
        f.window.hide();
        QTRY_VERIFY(!f.window.isVisible());
        xprop(f.window, {u"-remove"_s, u"_NET_WM_STATE"_s});
        QTRY_VERIFY(!skipsTaskbar(f.window));
        QSystemTrayIcon* tray = f.window.findChild<QSystemTrayIcon*>();
        QVERIFY(tray);
        tray->contextMenu()->actions().constFirst()->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        QTRY_VERIFY(skipsTaskbar(f.window));
    }
};

QTEST_MAIN(TestTaskbar)
#include "test_taskbar.moc"
