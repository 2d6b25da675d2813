// The places where the engine lets pending events run in the middle of an operation: a real
// timer comes due right there (FakePump::fireTimer, or a 0 ms timer where the operation goes
// back to the event loop) and does what an operator, a datagram or another timer could do at
// that moment; the operation ends as it would have without it.
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

    // The error handler's recovery lets events run between the disconnect and the connect; an
    // error raised there is written, and the link is closed and opened once, not twice.
    void errorDuringTheRecovery()
    {
        Connected c;
        const int start = c.pump.calls();
        // The disconnect lets events run three times; the fourth is the recovery's own.
        c.pump.fireTimer(
            [&c] { c.robot.reportError(IndexError(u"List index out of bounds (8)"_s)); },
            [&c, start] { return c.pump.calls() == start + 4; });
        c.robot.reportError(IndexError(u"List index out of bounds (7)"_s));
        QVERIFY(c.pump.timerFired());
        const QStringList said = c.said();
        QVERIFY(said.contains(u"List index out of bounds (8)"_s));
        QCOMPARE(said.filter(u"Lecsatlakozva"_s).size(), 1);
        QCOMPARE(said.filter(u"Csatlakozás szerverhez"_s).size(), 1);
        QVERIFY(c.robot.link().isConnected());
        QCOMPARE(c.robot.link().queue(), QStringList{u"status"_s});
    }

    // The silence check's reconnect lets events run while the link is down: the roster poll
    // queues its status then, which neither goes anywhere nor starts a second reconnect.
    void pollDuringTheSilenceReconnect()
    {
        Connected c;
        link::Link& link = c.robot.link();
        c.robot.console().consoleLine(u"Parancs küldés: \"status\""_s);
        c.robot.console().consoleLine(u"Parancs küldés: \"status\""_s);
        c.pump.fireTimer([&link] { link.enqueueCommand(u"status"_s); },
                         [&link] { return !link.isConnected(); });
        link.enqueueCommand(u"serverinfo"_s);
        QVERIFY(c.pump.timerFired());
        QCOMPARE(c.said().filter(u"megszakadt"_s).size(), 1);
        QVERIFY(link.isConnected());
        QVERIFY(link.queue().isEmpty());
    }

    // The connect lets events run once the link is up; a disconnect then leaves no greeting
    // and no connect line after its own lines.
    void disconnectWhileConnecting()
    {
        RobotFixture f(u"secret"_s);
        f.robot.startUp();
        f.pointAtServer();
        link::Link& link = f.robot.link();
        f.pump.fireTimer([&link] { link.connectAction(); }, [&link] { return link.isConnected(); });
        const qsizetype mark = f.robot.console().size();
        link.connectAction();
        QVERIFY(f.pump.timerFired());
        QVERIFY(!link.isConnected());
        QVERIFY(!link.pacer().isActive());
        QVERIFY(link.queue().isEmpty());
        const QStringList lines = f.robot.console().lines().mid(mark);
        QVERIFY(lines.back().endsWith(u"Lecsatlakozva"_s));
        QVERIFY(!lines.join(u'\n').contains(u"Csatlakozás szerverhez"_s));
    }

    // ">> Banlista törlése <<" lets events run between its two questions; the same item chosen
    // then asks nothing more.
    void clearAskedAgainMeanwhile()
    {
        Connected c;
        c.robot.settings().setBanList({u"0 Bob"_s});
        const QString bans = c.path(u"bans.txt"_s);
        c.pump.fireTimer([&c, bans] { c.robot.rules().clearBanList(bans); });
        c.dialogs.answerQuestion(true);
        c.dialogs.answerQuestion(false);
        c.robot.rules().clearBanList(bans);
        QVERIFY(c.pump.timerFired());
        QCOMPARE(c.dialogs.questions().size(), 2);
        QVERIFY(c.robot.settings().banList().isEmpty());
    }

    // A long "<<" of the public ban list window lets events run; a copy, a merge or a download
    // asked for then waits for nothing and does nothing, and the window is not busy afterwards.
    void clicksDuringAMerge()
    {
        RobotFixture f(u"pw"_s, false);
        QStringList many;
        for (int i = 0; i < 100000; ++i)
            many << u"0 Player%1"_s.arg(i, 6, 10, QChar(u'0'));
        f.robot.settings().setBanList(many);
        exchange::PublicBanList window(f.robot.exchangeServices());
        window.open();
        window.selectOwn(0);
        bool busyThen = false;
        f.pump.fireTimer([&] {
            busyThen = window.busy();
            window.copyAllToOwn();
            window.mergeToPublic();
        });
        window.copyAllToPublic();
        QVERIFY(f.pump.timerFired());
        QVERIFY(busyThen);
        QCOMPARE(window.publicLines(), many);
        QCOMPARE(window.ownLines(), many);
        QVERIFY(!window.busy());
    }
};

QTEST_GUILESS_MAIN(TestReentry)
#include "test_reentry.moc"
