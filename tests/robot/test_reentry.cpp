// The places where an operation goes on from the event loop in its middle: what an operator, a
// datagram or another timer could do at that moment is done right there (a timer that fires
// between the operation's steps), and the operation ends as it would have without it.
#include "exchange/publicbanlist.h"
#include "support/robotfixture.h"

#include <QTest>
#include <QTimer>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray reply(const QByteArray& body)
{
    return QByteArray("\xff\xff\xff\xffprint\n") + body;
}

QByteArray status(const QByteArray& players)
{
    return reply(
        "map: mp_toujane\n"
        "num score ping guid   name            lastmsg address               qport rate\n"
        "--- ----- ---- ------ --------------- ------- --------------------- ----- -----\n" +
        players + "\n");
}

QByteArray player(int slot, const QByteArray& name)
{
    return QString::asprintf("%3d %5d %4d %6d ", slot, 3, 40, 123456).toLatin1() +
           name.leftJustified(16) + QString::asprintf("%7d ", 50).toLatin1() +
           QByteArray("10.0.0.9:28960").leftJustified(22) + "4321 25000\n";
}

// A robot connected to the practice server, its pacer held so that the queue stays visible.
struct Connected : RobotFixture
{
    qsizetype mark = 0;

    Connected() : RobotFixture(u"secret"_s)
    {
        robot.startUp();
        pointAtServer();
        robot.settings().setFlag(Key::EventNotify, false);
        robot.link().connectAction();
        robot.link().pacer().stop();
        mark = robot.console().size();
    }
    // Console lines since the mark, without their stamps.
    QStringList said()
    {
        QStringList out;
        for (qsizetype i = mark; i < robot.console().size(); ++i) {
            const QString l = robot.console().line(i);
            const qsizetype at = l.indexOf(u" >> "_s);
            out << (at >= 0 ? l.mid(at + 4) : l);
        }
        return out;
    }
    void feed(const QByteArray& datagram)
    {
        try {
            robot.intake().handleDatagram(datagram);
        } catch (const Error&) {
        }
    }
};

} // namespace

class TestReentry final : public QObject
{
    Q_OBJECT

private slots:
    // The checks of a complete roster go back to the event loop after a punishment, with the
    // datagram's handling still open. A datagram read then waits for the checks to be done and
    // is handled whole after them.
    void datagramDuringTheChecks()
    {
        Connected c;
        c.robot.settings().setBanList({u"1 First"_s});
        bool duringTheChecks = false;
        QTimer::singleShot(0, &c.robot, [&c, &duringTheChecks] {
            duringTheChecks = c.robot.rules().checking();
            c.feed(reply("hello from the server\n"));
            c.feed(status(player(5, "Later")));
        });
        c.feed(status(player(4, "First")));
        QVERIFY(QTest::qWaitFor([&c] { return c.said().count(u"PingCheck"_s) == 2; }, 5000));
        QVERIFY(duringTheChecks);
        QCOMPARE(c.robot.link().queue(), QStringList{u"clientkick 4"_s});
        const QStringList said = c.said();
        const qsizetype hello = said.indexOf(u"hello from the server"_s);
        QVERIFY(hello > said.indexOf(u"..:: 1 játékos a szerveren ::.."_s));
        QVERIFY(hello > said.indexOf(u"PingCheck"_s));
        // The roster that came after it is its own, whole.
        QCOMPARE(c.robot.roster().rows().size(), 1);
        QCOMPARE(c.robot.roster().rows()[0][3], u"Later"_s);
        QVERIFY(c.robot.intake().replyComplete());
        QVERIFY(c.robot.intake().assemblyBuffer().isEmpty());
    }

    // The ban check goes back to the event loop after each punishment: the operator empties the
    // list, kicks another player from the menu, and a new roster comes. The check punishes whom
    // its list matched, the menu's kick goes in between, and the new roster is checked
    // afterwards.
    void eventsDuringABanCheck()
    {
        Connected c;
        c.robot.settings().setBanList({u"1 Cheat"_s});
        bool duringTheChecks = false;
        QTimer::singleShot(0, &c.robot, [&c, &duringTheChecks] {
            duringTheChecks = c.robot.rules().checking();
            c.robot.settings().setBanList({});
            c.robot.link().enqueueCommand(u"clientkick 9"_s);
            c.feed(status(player(7, "Cheat7")));
        });
        c.feed(status(player(1, "Cheat1") + player(2, "Cheat2")));
        QVERIFY(QTest::qWaitFor([&c] { return c.said().count(u"PingCheck"_s) == 2; }, 5000));
        QVERIFY(duringTheChecks);
        QCOMPARE(c.robot.link().queue(),
                 (QStringList{u"clientkick 1"_s, u"clientkick 9"_s, u"clientkick 2"_s}));
        const QStringList said = c.said();
        QCOMPARE(said.count(u"Test Bans"_s), 2);
        QVERIFY(said.lastIndexOf(u"Test Bans"_s) > said.indexOf(u"PingCheck"_s));
    }

    // The error handler's recovery connects again from the event loop's next turn; an error
    // raised before it is written, and the link is closed and opened once, not twice.
    void errorDuringTheRecovery()
    {
        Connected c;
        c.robot.reportError(IndexError(u"List index out of bounds (7)"_s));
        QVERIFY(!c.robot.link().isConnected());
        c.robot.reportError(IndexError(u"List index out of bounds (8)"_s));
        QTRY_COMPARE(c.said().filter(u"Csatlakozás szerverhez"_s).size(), 1);
        const QStringList said = c.said();
        QVERIFY(said.contains(u"List index out of bounds (8)"_s));
        QCOMPARE(said.filter(u"Lecsatlakozva"_s).size(), 1);
        QVERIFY(c.robot.link().isConnected());
        QCOMPARE(c.robot.link().queue(), QStringList{u"status"_s});
    }

    // The silence check's reconnect connects from the event loop's next turn: the roster poll
    // that queues its status while the link is down sends nothing and starts no second
    // reconnect.
    void pollDuringTheSilenceReconnect()
    {
        Connected c;
        link::Link& link = c.robot.link();
        c.robot.console().consoleLine(u"Parancs küldés: \"status\""_s);
        c.robot.console().consoleLine(u"Parancs küldés: \"status\""_s);
        link.enqueueCommand(u"serverinfo"_s);
        QVERIFY(!link.isConnected());
        link.enqueueCommand(u"status"_s);
        QTRY_VERIFY(link.isConnected());
        QTRY_VERIFY(link.pacer().isArmed()); // the greeting's step ran
        QCOMPARE(c.said().filter(u"megszakadt"_s).size(), 1);
        QVERIFY(link.queue().isEmpty());
    }

    // The connect greets from the event loop's next turn; a disconnect before it leaves no
    // greeting and no connect line after its own lines.
    void disconnectWhileConnecting()
    {
        RobotFixture f(u"secret"_s);
        f.robot.startUp();
        f.pointAtServer();
        link::Link& link = f.robot.link();
        const qsizetype mark = f.robot.console().size();
        link.connectAction();
        QVERIFY(link.isConnected());
        link.connectAction();
        QTRY_VERIFY(!link.isConnected());
        QTRY_VERIFY(!link.isDisconnecting());
        QCoreApplication::processEvents();
        QVERIFY(!link.pacer().isArmed());
        QVERIFY(link.queue().isEmpty());
        const QStringList lines = f.robot.console().lines().mid(mark);
        QVERIFY(lines.back().endsWith(u"Lecsatlakozva"_s));
        QVERIFY(!lines.join(u'\n').contains(u"Csatlakozás szerverhez"_s));
    }

    // ">> Banlista törlése <<" asks its second question from the event loop's next turn; the
    // same item chosen before then asks nothing more.
    void clearAskedAgainMeanwhile()
    {
        Connected c;
        c.robot.settings().setBanList({u"0 Bob"_s});
        const QString bans = c.path(u"bans.txt"_s);
        c.dialogs.answerQuestion(true);
        c.dialogs.answerQuestion(false);
        c.robot.rules().clearBanList(bans);
        QVERIFY(c.robot.settings().banList().isEmpty());
        c.robot.rules().clearBanList(bans);
        QCOMPARE(c.dialogs.questions().size(), 1);
        QTRY_COMPARE(c.dialogs.questions().size(), 2);
        QTest::qWait(20);
        QCOMPARE(c.dialogs.questions().size(), 2);
        // Once both are answered, the item asks again.
        c.robot.rules().clearBanList(bans);
        QCOMPARE(c.dialogs.questions().size(), 3);
    }

    // A long "<<" of the public ban list window runs in pieces from the event loop; a copy or
    // a merge asked for meanwhile does nothing, and the window is not busy afterwards.
    void clicksDuringAMerge()
    {
        RobotFixture f(u"pw"_s);
        QStringList many;
        for (int i = 0; i < 100000; ++i)
            many << u"0 Player%1"_s.arg(i, 6, 10, QChar(u'0'));
        f.robot.settings().setBanList(many);
        exchange::PublicBanList window(f.robot.exchangeServices());
        window.open();
        window.selectOwn(0);
        window.copyAllToPublic();
        QVERIFY(window.busy());
        window.copyAllToOwn();
        window.mergeToPublic();
        QTRY_VERIFY_WITH_TIMEOUT(!window.busy(), 30000);
        QCOMPARE(window.publicLines(), many);
        QCOMPARE(window.ownLines(), many);
    }
};

QTEST_GUILESS_MAIN(TestReentry)
#include "test_reentry.moc"
