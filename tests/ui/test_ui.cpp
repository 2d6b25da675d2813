// The main window on a whole Robot, driven through its widgets under the offscreen platform,
// with the practice server on 127.0.0.1 for the link.
#include "support/fakenames.h"
#include "text/version.h"
#include "ui/helptexts.h"
#include "ui/linesview.h"
#include "ui/widgetdialogs.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <memory>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using testserver::Player;
using testserver::RconServer;
using ui::MainWindow;

namespace {

const QString kPassword = u"secret"_s;

QList<Player> players(int count)
{
    QList<Player> list;
    for (int i = 0; i < count; ++i) {
        Player p;
        p.slot = i + 1;
        p.score = i * 3;
        p.ping = 40 + i;
        p.name = u"^1Player^7"_s + QString::number(i);
        p.address = u"10.0.0.%1:28960"_s.arg(i + 1);
        p.rate = 20000 + i;
        list.append(p);
    }
    return list;
}

QStringList texts(const QListWidget* list)
{
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

QStringList cells(const QTableWidget* table, int row)
{
    QStringList values;
    for (int column = 0; column < table->columnCount(); ++column)
        values << (table->item(row, column) ? table->item(row, column)->text() : QString());
    return values;
}

// A roster text of one player, slot 7, "Some body".
QStringList someBodyRoster()
{
    const QString line = u"  7    12   48 123456 "_s + u"Some body"_s.leftJustified(16) +
                         u"      0 "_s + u"192.0.2.9:28960"_s.leftJustified(22) + u" 1234 25000"_s;
    return {u"map: mp_harbor"_s,
            u"num score ping guid   name            lastmsg address               qport rate"_s,
            u"---"_s, line, QString()};
}

// Answers the next modal dialog once it is up.
void whenModal(std::function<void(QWidget*)> answer)
{
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, qApp, [poll, answer] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            poll->deleteLater();
            poll->stop();
            answer(dialog);
        }
    });
    poll->start();
}

// A robot in a temporary program folder with its main window, built before the start-up so
// that the start lines reach the console view through the console's signals.
struct Harness : WindowFixture
{
    bool firstStart = robot.startUp();

    Harness() : WindowFixture(kPassword) {}
    bool enabled(const QString& name) const { return find(name)->isEnabled(); }
    ui::LinesView* consoleView() const { return find<ui::LinesView>(u"console"_s); }
    QLineEdit* commandBox() const { return find<QLineEdit>(u"Edit4"_s); }
    QSystemTrayIcon* tray() const { return window.findChild<QSystemTrayIcon*>(); }

    void fillServer(const QString& password = kPassword)
    {
        QTest::keyClicks(find(u"Edit1"_s), u"127.0.0.1"_s);
        QTest::keyClicks(find(u"Edit3"_s), QString::number(server.port()));
        QTest::keyClicks(find(u"Edit2"_s), password);
    }
    void clickConnect()
    {
        QTest::mouseClick(find(u"Button1"_s), Qt::LeftButton);
        settle(robot.link());
    }
    bool show()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
};

const QStringList kServerFields = {u"Label3"_s, u"Edit1"_s,  u"Label5"_s,
                                   u"Edit3"_s,  u"Label2"_s, u"Edit2"_s};
const QStringList kSendingControls = {
    u"ChRCON"_s, u"LockBtn"_s,  u"OpenBtn"_s,     u"Edit4"_s,    u"Send"_s,       u"Edit6"_s,
    u"Say"_s,    u"statbutt"_s, u"servinfbutt"_s, u"warnbutt"_s, u"restartbutt"_s};

} // namespace

class TestUi : public QObject
{
    Q_OBJECT

private slots:
    void windowAtStart();
    void secondStartShowsTheDaysConsole();
    void topBarBindsToSettings();
    void topBarFollowsTheLink();
    void commandBoxGoesToTheHeadOfTheQueue();
    void queueViewRunsWhileShowing();
    void tableMirrorsTheRoster();
    void tableRedrawFollowsTheWindow();
    void keysTypedOnTheConsoleGoToTheCommandBox();
    void pacingItemsSetThePacer();
    void iconAndClosing();
    void forcedStopEndsWithAFailureStatus();
    void errorsReachTheConsole();
    void connectingIsShownOnTheButton();
    void widgetDialogs();
};

void TestUi::windowAtStart()
{
    Harness h;
    QCOMPARE(h.window.windowTitle(), kProgramCaption);
    QCOMPARE(h.window.size(), QSize(784, 495));

    QStringList titles;
    for (int i = 0; i < h.tabs()->count(); ++i)
        titles << h.tabs()->tabText(i);
    QCOMPARE(titles, QStringList({u"Beállítások"_s, u"CFG eröltetés"_s, u"Lista"_s, u"Banlista"_s,
                                  u"Fegyverek"_s, u"Konzol"_s, u"Keresés"_s}));
    QCOMPARE(h.tabs()->widget(5), h.find(u"TabSheet4"_s));

    // A first start: the message, then the settings tab in front.
    QVERIFY(h.firstStart);
    QCOMPARE(h.currentTab(), u"CFG eröltetés"_s);
    QVERIFY(h.dialogs.messages().isEmpty());
    h.window.showFirstStartMessage();
    QCOMPARE(h.dialogs.messages(), QStringList{ui::help::firstStart()});
    QCOMPARE(h.currentTab(), u"Beállítások"_s);

    // The start lines reached the view, built before them.
    QCOMPARE(h.consoleView()->text(), h.robot.console().lines().join(u'\n'));
    QVERIFY(h.consoleView()->text().endsWith(u"Program verzió: "_s + kProgramCaption));

    QMenu* menu = h.window.menuBar()->findChild<QMenu*>(u"VigilorMenu"_s);
    QVERIFY(menu);
    QCOMPARE(menu->title(), u"[ !! Vigilor !! ]"_s);
    QStringList items;
    for (const QAction* item : menu->actions())
        items << (item->isSeparator() ? u"-"_s : item->text());
    QCOMPARE(items,
             QStringList({u">> Beállítások mentése <<"_s, u">> Beállítások betöltése <<"_s,
                          u">> Lista frissítése MOST <<"_s, u">> ALAPBEÁLLÍTÁSOK <<"_s,
                          u">> Banlista törlése <<"_s, u">> [ ERŐSZAKOS LEÁLLÁS ] <<"_s, u"-"_s,
                          u"700ms-es parancsküldés"_s, u"2100ms-es parancsküldés"_s}));

    QSystemTrayIcon* tray = h.tray();
    QVERIFY(tray);
    QVERIFY(tray->isVisible());
    QVERIFY(!tray->icon().isNull());
    QCOMPARE(tray->toolTip(), u"vigilor"_s);
    QStringList trayItems;
    for (const QAction* item : tray->contextMenu()->actions())
        trayItems << (item->isSeparator() ? u"-"_s : item->text());
    QCOMPARE(trayItems,
             QStringList({u"Megnyitás"_s, u"GoPlay!"_s, u"Weblap"_s, u"-"_s, u"Kilépés"_s}));
    QCOMPARE(tray->contextMenu()->defaultAction()->text(), u"Megnyitás"_s);
}

void TestUi::secondStartShowsTheDaysConsole()
{
    QTemporaryDir dir;
    FakeClock clock;
    ScriptedDialogs dialogs;
    const QString folder = dir.path() + u'/';
    QStringList firstRun;
    {
        Robot robot(folder, clock, dialogs);
        MainWindow window(robot);
        robot.startUp();
        robot.console().consoleLine(u"az első futás vége"_s);
        firstRun = robot.console().lines();
        window.close(); // the normal end saves the day's log
    }
    QFile settings(folder + u"vigilor.ini"_s);
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.close();

    // A window built after the start-up shows the loaded lines and the new start lines.
    Robot robot(folder, clock, dialogs);
    QVERIFY(!robot.startUp());
    MainWindow window(robot);
    const QStringList shown = window.findChild<ui::LinesView*>(u"console"_s)->text().split(u'\n');
    QCOMPARE(shown.mid(0, firstRun.size()), firstRun);
    QCOMPARE(shown, robot.console().lines());
    QVERIFY(shown.size() > firstRun.size());
    QCOMPARE(window.findChild<QTabWidget*>()->currentWidget()->objectName(), u"TabSheet7"_s);
}

void TestUi::topBarBindsToSettings()
{
    Harness h;
    Settings& settings = h.robot.settings();
    QTest::keyClicks(h.find(u"Edit1"_s), u"127.0.0.1"_s);
    QTest::keyClicks(h.find(u"Edit3"_s), u"28960"_s);
    QTest::keyClicks(h.find(u"Edit2"_s), u"pw"_s);
    QCOMPARE(settings.host(), u"127.0.0.1"_s);
    QCOMPARE(settings.port(), u"28960"_s);
    QCOMPARE(settings.password(), u"pw"_s);

    settings.setHost(u"localhost"_s);
    settings.setPort(u"28961"_s);
    settings.setPassword(u"new"_s);
    QCOMPARE(h.find<QLineEdit>(u"Edit1"_s)->text(), u"localhost"_s);
    QCOMPARE(h.find<QLineEdit>(u"Edit3"_s)->text(), u"28961"_s);
    auto* password = h.find<QLineEdit>(u"Edit2"_s);
    QCOMPARE(password->text(), u"new"_s);
    QCOMPARE(password->echoMode(), QLineEdit::Password);

    QCOMPARE(h.find<QLabel>(u"Label3"_s)->text(), u"Host/IP:"_s);
    QCOMPARE(h.find<QLabel>(u"Label5"_s)->text(), u"Port:"_s);
    QCOMPARE(h.find<QLabel>(u"Label2"_s)->text(), u"Jelszó:"_s);
}

void TestUi::topBarFollowsTheLink()
{
    Harness h;
    auto* connect = h.find<QPushButton>(u"Button1"_s);
    const auto checkStates = [&](bool serverFields, bool sending, bool openAndLock) {
        for (const QString& name : kServerFields)
            QVERIFY2(h.enabled(name) == serverFields, qPrintable(name));
        for (const QString& name : kSendingControls.mid(3))
            QVERIFY2(h.enabled(name) == sending, qPrintable(name));
        for (const QString& name : kSendingControls.mid(0, 3))
            QVERIFY2(h.enabled(name) == openAndLock, qPrintable(name));
        QVERIFY(connect->isEnabled());
    };

    // At start only the password change, lock and open buttons wait for a link.
    checkStates(true, true, false);
    QCOMPARE(connect->text(), u"Csatlakozás"_s);

    // Without a password the button does nothing at all.
    h.fillServer(QString());
    const QStringList before = h.robot.console().lines();
    h.clickConnect();
    QVERIFY(!h.robot.link().isConnected());
    QCOMPARE(h.robot.console().lines(), before);
    checkStates(true, true, false);
    QCOMPARE(connect->text(), u"Csatlakozás"_s);
    QCOMPARE(h.tray()->toolTip(), u"vigilor"_s);

    QTest::keyClicks(h.find(u"Edit2"_s), kPassword);
    h.clickConnect();
    QVERIFY(h.robot.link().isConnected());
    checkStates(false, true, true);
    QCOMPARE(connect->text(), u"Szétkapcsol"_s);
    QCOMPARE(h.currentTab(), u"Konzol"_s);
    const QString hint = u"Vigilor - 127.0.0.1:"_s + QString::number(h.server.port());
    QCOMPARE(h.tray()->toolTip(), hint);

    h.clickConnect();
    QVERIFY(!h.robot.link().isConnected());
    checkStates(true, false, false);
    QCOMPARE(connect->text(), u"Csatlakozás"_s);
    QCOMPARE(h.tray()->toolTip(), hint);
}

void TestUi::commandBoxGoesToTheHeadOfTheQueue()
{
    Harness h;
    QVERIFY(h.show());
    QLineEdit* box = h.commandBox();
    auto* queueView = h.find<QListWidget>(u"ListBox1"_s);
    const QStringList& queue = h.robot.link().queue();

    // Disconnected: nothing is queued.
    QTest::keyClicks(box, u"dropped"_s);
    QTest::keyClick(box, Qt::Key_Return);
    QVERIFY(queue.isEmpty());
    box->clear();

    h.fillServer();
    h.clickConnect();
    QVERIFY(h.robot.link().isConnected());
    h.server.clearLog();
    QTest::keyClicks(box, u"first"_s);
    QTest::keyClick(box, Qt::Key_Return);
    QVERIFY(box->text().isEmpty());
    QTest::keyClicks(box, u"second"_s);
    QTest::mouseClick(h.find(u"Send"_s), Qt::LeftButton);
    QVERIFY(box->text().isEmpty());
    QCOMPARE(queue.mid(0, 2), QStringList({u"second"_s, u"first"_s}));
    QCOMPARE(texts(queueView), queue);

    // A toolbar button replaces what was typed and overtakes everything waiting.
    QTest::keyClicks(box, u"half-typed"_s);
    QTest::mouseClick(h.find(u"servinfbutt"_s), Qt::LeftButton);
    QVERIFY(box->text().isEmpty());
    QCOMPARE(queue.mid(0, 3), QStringList({u"serverinfo"_s, u"second"_s, u"first"_s}));
    QCOMPARE(texts(queueView), queue);

    // The pacer sends them in queue order; the view empties with the queue.
    QTRY_VERIFY_WITH_TIMEOUT(h.server.receivedCommands().size() >= 3, 10000);
    QCOMPARE(h.server.receivedCommands().mid(0, 3),
             QStringList({u"serverinfo"_s, u"second"_s, u"first"_s}));
    QTRY_COMPARE(queueView->count(), 0);
}

void TestUi::queueViewRunsWhileShowing()
{
    Harness h;
    auto* timer = h.find<QTimer>(u"Timer6"_s);
    QVERIFY(timer);
    QVERIFY(h.show());
    QVERIFY(!timer->isActive());

    for (int i = 0; i < 500; ++i)
        h.robot.console().consoleLine(u"sor %1"_s.arg(i));
    h.window.showTab(MainWindow::Tab::Console);
    QVERIFY(timer->isActive());
    QTRY_COMPARE(h.consoleView()->verticalScrollBar()->value(),
                 h.consoleView()->verticalScrollBar()->maximum());
    // The caret at the start of the last line, in sight.
    ui::LinesView* view = h.consoleView();
    QCOMPARE(view->caret(), (ui::LinesView::Position{view->lineCount() - 1, 0}));
    QVERIFY(view->viewport()->rect().contains(view->cellRect(view->caret())));

    // A hidden window stops the view's own refresh; showing the tab again restarts it.
    h.window.hide();
    QTRY_VERIFY(!timer->isActive());
    QVERIFY(h.show());
    QVERIFY(timer->isActive());
}

void TestUi::tableMirrorsTheRoster()
{
    Harness h;
    auto* table = h.find<QTableWidget>(u"Table"_s);
    QVERIFY(table);
    QCOMPARE(table->columnCount(), 6);
    QCOMPARE(table->rowCount(), 0);
    const QList<int> widths = {40, 40, 40, 170, 120, 50};
    QStringList titles;
    for (int column = 0; column < 6; ++column) {
        QCOMPARE(table->columnWidth(column), widths[column]);
        titles << table->horizontalHeaderItem(column)->text();
    }
    QCOMPARE(titles, QStringList({u"Slot"_s, u"Pont"_s, u"Ping"_s, u"Név"_s, u"IP"_s, u"Rate"_s}));
    QVERIFY(table->font().bold());
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);

    // "Frissítés" asks the server; its reply fills the table.
    h.server.setPlayers(players(2));
    h.fillServer();
    h.clickConnect();
    auto* refresh = h.action(u"RefreshItem"_s);
    QCOMPARE(refresh->text(), u"Frissítés"_s);
    QCOMPARE(refresh->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(h.find<QMenu>(u"ListMenu"_s)->actions().value(0), refresh);
    refresh->trigger();
    QVERIFY(h.robot.link().queue().contains(u"status"_s));
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 2, 10000);
    QCOMPARE(cells(table, 0),
             QStringList({u"1"_s, u"0"_s, u"40"_s, u"Player0"_s, u"10.0.0.1"_s, u"20000"_s}));
    QCOMPARE(cells(table, 1),
             QStringList({u"2"_s, u"3"_s, u"41"_s, u"Player1"_s, u"10.0.0.2"_s, u"20001"_s}));

    // An empty server cuts the table to its titles.
    h.server.setPlayers({});
    refresh->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 0, 10000);

    // ">> Lista frissítése MOST <<" redraws from the roster text without asking the server.
    h.robot.link().connectAction();
    settle(h.robot.link());
    h.robot.roster().setText(someBodyRoster());
    h.action(u"FRefresh"_s)->trigger();
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(cells(table, 0),
             QStringList({u"7"_s, u"12"_s, u"48"_s, u"Some body"_s, u"192.0.2.9"_s, u"25000"_s}));
}

// The window tells the engine whether it is on the screen; ListTimer runs only while it is.
void TestUi::tableRedrawFollowsTheWindow()
{
    Harness h;
    auto* listTimer = h.robot.findChild<QTimer*>(u"ListTimer"_s);
    QVERIFY(listTimer);
    h.robot.roster().setText(someBodyRoster());
    const auto redrawnWhileShowing = [&] {
        h.robot.roster().refresh();
        return listTimer->isActive();
    };
    QVERIFY(!redrawnWhileShowing());
    QVERIFY(h.show());
    QVERIFY(redrawnWhileShowing());
    h.window.showMinimized();
    QTRY_VERIFY(h.window.isMinimized());
    QVERIFY(!redrawnWhileShowing());
    h.window.showNormal();
    QTRY_VERIFY(!h.window.isMinimized());
    QVERIFY(redrawnWhileShowing());
    h.window.hide();
    QVERIFY(!redrawnWhileShowing());
}

void TestUi::keysTypedOnTheConsoleGoToTheCommandBox()
{
    Harness h;
    QVERIFY(h.show());
    h.window.showTab(MainWindow::Tab::Console);
    ui::LinesView* view = h.consoleView();
    QLineEdit* box = h.commandBox();
    box->setText(u"sta"_s);
    view->setFocus();

    QTest::keyClick(view, Qt::Key_T);
    QCOMPARE(box->text(), u"stat"_s);
    QCOMPARE(h.window.focusWidget(), static_cast<QWidget*>(box));
    QCOMPARE(box->cursorPosition(), 4);
    QTest::keyClicks(box, u"us"_s);
    QCOMPARE(box->text(), u"status"_s);

    // A shortcut is no character: it stays with the console.
    view->setFocus();
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(box->text(), u"status"_s);
    QCOMPARE(h.window.focusWidget(), static_cast<QWidget*>(view));
}

void TestUi::pacingItemsSetThePacer()
{
    Harness h;
    QAction* fast = h.action(u"N700ms1"_s);
    QAction* slow = h.action(u"N2100ms1"_s);
    QVERIFY(fast->isChecked());
    QVERIFY(!slow->isChecked());
    QCOMPARE(h.robot.link().pacer().period(), link::Link::kStartPacerMs);

    slow->trigger();
    QCOMPARE(h.robot.link().pacer().period(), 2100);
    QVERIFY(slow->isChecked());
    QVERIFY(!fast->isChecked());
    fast->trigger();
    QCOMPARE(h.robot.link().pacer().period(), 700);
    QVERIFY(fast->isChecked());
    QVERIFY(!slow->isChecked());
}

void TestUi::iconAndClosing()
{
    Harness h;
    QVERIFY(h.show());

    // Minimised, the window goes to the icon only where there is a notification area.
    h.window.showMinimized();
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        QTRY_VERIFY(!h.window.isVisible());
    } else {
        QCoreApplication::processEvents();
        QVERIFY(h.window.isVisible());
    }
    h.window.hide();
    const QList<QAction*> items = h.tray()->contextMenu()->actions();
    items.constFirst()->trigger(); // "Megnyitás"
    QVERIFY(h.window.isVisible());
    QVERIFY(!h.window.isMinimized());

    // ">> Beállítások mentése <<" writes the day's log.
    const QString logFile = h.robot.intake().logFileName();
    QVERIFY(!QFile::exists(logFile));
    h.action(u"SaveSettingsnow1"_s)->trigger();
    QVERIFY(QFile::exists(logFile));

    // "Kilépés" is the normal end: the log is saved while still connected, then the link closes.
    h.fillServer();
    h.clickConnect();
    QVERIFY(h.robot.link().isConnected());
    h.robot.console().consoleLine(u"a zárás előtti utolsó sor"_s);
    items.constLast()->trigger();
    QVERIFY(!h.window.isVisible());
    settle(h.robot.link());
    QVERIFY(!h.robot.link().isConnected());
    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray saved = log.readAll();
    QVERIFY(saved.contains("a z\xe1r\xe1s el\xf5tti utols\xf3 sor\r\n"));
    QVERIFY(!saved.contains("Lecsatlakozva"));
}

// ">> [ ERŐSZAKOS LEÁLLÁS ] <<" ends the process at once, saving nothing, with a status that
// a parent takes for a failure. The test runs itself as the process that is stopped.
void TestUi::forcedStopEndsWithAFailureStatus()
{
    static const char* const kChildVariable = "VIGILOR_FORCED_STOP_CHILD";
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        Harness h;
        h.robot.console().consoleLine(u"a line no save may write"_s);
        h.robot.settings().setFlag(Key::TestBans, !h.robot.settings().flag(Key::TestBans));
        std::printf("FOLDER=%s\n", qPrintable(h.dir.path()));
        std::fflush(stdout);
        QAction* item = nullptr;
        for (QAction* action : h.window.findChildren<QAction*>())
            if (action->text() == u">> [ ERŐSZAKOS LEÁLLÁS ] <<"_s)
                item = action;
        QVERIFY(item);
        item->trigger();
        QFAIL("the forced stop returned");
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), u"1"_s);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {u"forcedStopEndsWithAFailureStatus"_s});
    QVERIFY(child.waitForFinished(20000));
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
    const qsizetype at = out.indexOf(u"FOLDER="_s);
    QVERIFY2(at >= 0, qPrintable(out));
    const QString folder = out.mid(at + 7, out.indexOf(u'\n', at) - at - 7);
    const auto cleanup = qScopeGuard([&] { QDir(folder).removeRecursively(); });
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY(child.exitCode() != 0);
    QCOMPARE(child.exitCode(), Robot::kForcedStopExitCode);
    QVERIFY(!QFile::exists(folder + u"/vigilor.ini"_s));
    QVERIFY(QDir(folder + u"/logs"_s).isEmpty());
}

void TestUi::errorsReachTheConsole()
{
    Harness h;
    QTest::keyClicks(h.find(u"Edit1"_s), u"127.0.0.1"_s);
    QTest::keyClicks(h.find(u"Edit3"_s), u"x1"_s);
    QTest::keyClicks(h.find(u"Edit2"_s), kPassword);
    h.clickConnect(); // the socket cannot be opened: the connect says so on the console
    QVERIFY(!h.robot.link().isConnected());
    const QString failure =
        u"Nem sikerült csatlakozni a szerverhez: 127.0.0.1:x1 (érvénytelen port: x1)."_s;
    QVERIFY(h.robot.console().lines().join(u'\n').contains(failure));
    QVERIFY(h.consoleView()->text().contains(failure));
    QCOMPARE(h.find<QPushButton>(u"Button1"_s)->text(), u"Csatlakozás"_s);
}

// A name that does not resolve yet: the button keeps its caption, tells a screen reader that it
// gives the tries up now, and does so when pressed.
void TestUi::connectingIsShownOnTheButton()
{
    if (!FakeNames::activeHere())
        QSKIP("needs the test's name server preloaded (ctest does that)");
    FakeNames names;
    names.useHere();
    QVERIFY(names.write("nincs.teszt -\n"));
    Harness h;
    QTest::keyClicks(h.find(u"Edit1"_s), u"nincs.teszt"_s);
    QTest::keyClicks(h.find(u"Edit3"_s), QString::number(h.server.port()));
    QTest::keyClicks(h.find(u"Edit2"_s), kPassword);
    auto* button = h.find<QPushButton>(u"Button1"_s);
    h.clickConnect();
    QVERIFY(h.robot.link().isConnecting());
    QTRY_COMPARE(h.robot.link().failedAttempts(), 1);
    QCOMPARE(button->text(), u"Csatlakozás"_s);
    QCOMPARE(button->accessibleDescription(), u"Csatlakozás folyamatban: a gomb leállítja"_s);
    QCOMPARE(button->toolTip(), button->accessibleDescription());
    QVERIFY(
        h.consoleView()->text().contains(u"Nem sikerült csatlakozni a szerverhez: nincs.teszt:"_s));
    h.clickConnect();
    QVERIFY(!h.robot.link().isConnecting());
    QVERIFY(button->accessibleDescription().isEmpty());
    QVERIFY(h.enabled(u"Edit1"_s));
}

void TestUi::widgetDialogs()
{
    QWidget owner;
    ui::WidgetDialogs dialogs(&owner);

    QString shownText;
    whenModal([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        shownText = box->text();
        box->accept();
    });
    dialogs.message(u"!!! FIGYELEM !!!\n\r\n\relső\n\rmásodik"_s);
    QTRY_COMPARE(shownText, u"!!! FIGYELEM !!!\n\nelső\nmásodik"_s);
    QTRY_VERIFY(!QApplication::activeModalWidget());

    // The answer comes once the box is closed; the box is window-modal over its owner.
    std::optional<bool> yes;
    const auto ask = [&] {
        yes.reset();
        dialogs.question(u"Biztos?"_s, [&](bool answer) { yes = answer; });
        QVERIFY(!yes);
        QTRY_VERIFY(yes);
    };

    whenModal([](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        box->button(QMessageBox::Yes)->click();
    });
    ask();
    QVERIFY(*yes);
    whenModal([](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        box->button(QMessageBox::No)->click();
    });
    ask();
    QVERIFY(!*yes);
    // Escape is No.
    whenModal([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    ask();
    QVERIFY(!*yes);

    // The answer is limited to 255 characters; a cancelled box gives no answer.
    QString initial;
    QString title;
    whenModal([&](QWidget* dialog) {
        auto* input = qobject_cast<QInputDialog*>(dialog);
        QVERIFY(input);
        title = input->windowTitle();
        auto* field = input->findChild<QLineEdit*>();
        initial = field->text();
        field->setText(QString(300, u'x'));
        input->accept();
    });
    bool entered = false;
    std::optional<QString> answer;
    dialogs.input(u"RCON jelszó váltás"_s, u"Írd be az új RCON jelszót:"_s, u"régi"_s,
                  [&](std::optional<QString> text) {
                      entered = true;
                      answer = std::move(text);
                  });
    QTRY_VERIFY(entered);
    QCOMPARE(title, u"RCON jelszó váltás"_s);
    QCOMPARE(initial, u"régi"_s);
    QVERIFY(answer);
    QCOMPARE(*answer, QString(255, u'x'));

    whenModal([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
    entered = false;
    dialogs.input(u"Szerver lezárása jelszóval"_s, u"Írd be a szerver jelszót:"_s, {},
                  [&](std::optional<QString> text) {
                      entered = true;
                      answer = std::move(text);
                  });
    QTRY_VERIFY(entered);
    QVERIFY(!answer);
}

QTEST_MAIN(TestUi)
#include "test_ui.moc"
