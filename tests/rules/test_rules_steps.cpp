// The waits of the rules as timed steps, in real time against the practice server: the kick's
// 3 s and the rate check's 2 s let the event loop run (timers fire, datagrams are read, the
// window and the web page answer), while what reaches the server (the commands, their order
// and their spacing) is what a wait that blocked the event loop gave: nothing leaves during
// the wait, the chat line of the reason leaves when it ends and the kick one pacer period later.
#include "robot/robot.h"
#include "rules/step.h"
#include "support/fakes.h"
#include "testserver/rconserver.h"
#include "text/clock.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace vigilor;
using namespace vigilor::rules;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using testserver::Player;
using testserver::RconServer;

namespace {

const QString kSay = u"say ^1vigilor^2> ^7"_s;
const QString kReason = kSay + u"Cheater-t az vigilor kirugja, mert megfelelt a ''0 Cheater'' "
                               u"feltetelnek. Infoert kerdezzetek az adminokat!"_s;

Player player(int slot, const QString& name, const QString& address, int rate = 25000)
{
    Player p;
    p.slot = slot;
    p.name = name;
    p.score = 3;
    p.ping = 40;
    p.address = address;
    p.rate = rate;
    return p;
}

// A command, with when it reached the server (on the server's clock) or left the robot.
struct Sent
{
    QString command;
    qint64 atMs;
};

// The robot as the program makes it, with the real clock, connected to the
// practice server; its pacer paces as in the program.
struct Live
{
    QTemporaryDir dir;
    SystemClock clock;
    ScriptedDialogs dialogs;
    std::unique_ptr<Robot> robot = std::make_unique<Robot>(dir.path() + u'/', clock, dialogs);
    RconServer server;
    // Every command as the pacer sent it, with when on this clock. Spacings are read here: the
    // server shares this thread, so a busy moment can delay reading one datagram until the next
    // is in and make two sends look closer than they were.
    QElapsedTimer sendClock;
    QList<Sent> sends;

    Live()
    {
        sendClock.start();
        QObject::connect(&robot->link(), &link::Link::commandSent, &server,
                         [this](const QString& command) {
                             sends.append({command, sendClock.elapsed()});
                         });
        server.setPassword(u"pw"_s);
        server.start();
        server.setPlayers({player(1, u"Honest"_s, u"10.0.1.1:28960"_s),
                           player(4, u"Cheater"_s, u"10.0.0.4:28960"_s)});
        robot->startUp();
        Settings& s = robot->settings();
        s.setHost(u"127.0.0.1"_s);
        s.setPort(QString::number(server.port()));
        s.setPassword(u"pw"_s);
        s.setFlag(Key::CommandListener, false);
        s.setBanList({u"0 Cheater"_s});
        robot->link().connectAction();
        settle(robot->link());
    }
    // Everything the server took, with the password, in order.
    QList<Sent> sent() const
    {
        QList<Sent> out;
        for (const RconServer::Datagram& d : server.datagrams()) {
            const QByteArray prefix = "\xff\xff\xff\xffrcon \"pw\" ";
            if (d.data.startsWith(prefix))
                out.append({QString::fromLatin1(d.data.mid(prefix.size())), d.atMs});
        }
        return out;
    }
    QStringList commands() const
    {
        QStringList out;
        for (const Sent& s : sent())
            out << s.command;
        return out;
    }
    qsizetype indexOf(const QString& command, qsizetype from = 0) const
    {
        return commands().indexOf(command, from);
    }
    bool received(const QString& command, int timeoutMs = 8000)
    {
        return QTest::qWaitFor([&] { return commands().contains(command); }, timeoutMs);
    }
    // Everything queued has reached the server, and one pacer period more has passed.
    bool idle()
    {
        const auto settled = [&] {
            return robot->link().queue().isEmpty() &&
                   robot->link().sentCount() == quint64(sent().size());
        };
        if (!QTest::qWaitFor(settled, 8000))
            return false;
        QTest::qWait(link::Link::kStartPacerMs);
        return settled() && robot->link().isConnected();
    }
    QStringList console() const { return robot->console().lines(); }
    // `work` runs `ms` after the server took the next `status`: in the wait of a kick that the
    // roster it answers brings.
    void afterStatus(int ms, std::function<void()> work)
    {
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = QObject::connect(&server, &RconServer::commandReceived, &server,
                                 [this, ms, once, work](const QString& command) {
                                     if (command != u"status")
                                         return;
                                     QObject::disconnect(*once);
                                     QTimer::singleShot(ms, &server, work);
                                 });
    }
};

QStringList commandsOf(const QList<Sent>& sent)
{
    QStringList out;
    for (const Sent& s : sent)
        out << s.command;
    return out;
}

// Counts the ticks of a timer that runs every 50 ms, with the robot's send clock at each.
struct Ticker
{
    QTimer timer;
    QList<qint64> at;
    explicit Ticker(const QElapsedTimer& clock)
    {
        timer.setInterval(50);
        QObject::connect(&timer, &QTimer::timeout, &timer,
                         [this, &clock] { at.append(clock.elapsed()); });
        timer.start();
    }
    qsizetype between(qint64 from, qint64 to) const
    {
        return std::count_if(at.begin(), at.end(), [&](qint64 t) { return t > from && t < to; });
    }
};

// A step that waits for a flag set from outside, to try the steps alone.
struct Gate
{
    std::coroutine_handle<> waiting;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> step) noexcept { waiting = step; }
    void await_resume() const noexcept {}
};

struct Witness
{
    QStringList* log;
    QString name;
    ~Witness() { log->append(u"~"_s + name); }
};

Step<int> inner(Gate& gate, QStringList& log)
{
    const Witness w{&log, u"inner"_s};
    log << u"inner waits"_s;
    co_await gate;
    log << u"inner goes on"_s;
    co_return 7;
}

Step<> outer(Gate& gate, QStringList& log, bool fail)
{
    const Witness w{&log, u"outer"_s};
    const int got = co_await inner(gate, log);
    log << u"outer got "_s + QString::number(got);
    if (fail)
        throw Error(u"failed after the wait"_s);
}

} // namespace

class TestRulesSteps final : public QObject
{
    Q_OBJECT

private slots:
    // A step runs at once up to its wait, goes on in order when the wait ends, hands on what it
    // threw, and one let go of while it waits ends there with every step it awaits.
    void stepsGoOnInOrderOrEndWhereTheyWait()
    {
        QStringList log;
        Gate gate;
        Step<> step = outer(gate, log, false);
        QVERIFY(!step.done());
        QCOMPARE(log, (QStringList{u"inner waits"_s}));
        gate.waiting.resume();
        QVERIFY(step.done());
        step.result();
        QCOMPARE(log, (QStringList{u"inner waits"_s, u"inner goes on"_s, u"~inner"_s,
                                   u"outer got 7"_s, u"~outer"_s}));

        log.clear();
        Step<> failing = outer(gate, log, true);
        gate.waiting.resume();
        QVERIFY(failing.done());
        QVERIFY_THROWS_EXCEPTION(Error, failing.result());

        log.clear();
        {
            Step<> dropped = outer(gate, log, false);
        }
        QCOMPARE(log, (QStringList{u"inner waits"_s, u"~inner"_s, u"~outer"_s}));
    }

    // The kick's wait: the event loop runs through it (a timer ticks, the server's own
    // datagram is read), nothing leaves until it ends, the reason's chat line leaves as it ends
    // and the kick one pacer period later; a datagram that came meanwhile is handled after the
    // check, as one that waited in the socket was.
    void kickWaitLetsTheEventLoopRun()
    {
        Live l;
        QVERIFY(l.idle());
        Ticker ticker(l.sendClock);
        // A second into the wait, the server prints something of its own.
        l.afterStatus(1000, [&] {
            l.server.sendRawToLastClient("\xff\xff\xff\xffprint\nhello during the wait\n");
        });
        const qsizetype before = l.commands().size();
        l.robot->link().enqueueCommand(u"status"_s);
        QVERIFY(l.received(u"clientkick 4"_s));
        const QList<Sent> sent = l.sent().mid(before);
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent[0].command, u"status"_s);
        QCOMPARE(sent[1].command, kReason);
        QCOMPARE(sent[2].command, u"clientkick 4"_s);
        const QList<Sent> left = l.sends.mid(before, 3);
        QCOMPARE(commandsOf(left), commandsOf(sent));
        const qint64 wait = left[1].atMs - left[0].atMs;
        const qint64 spacing = left[2].atMs - left[1].atMs;
        QVERIFY2(wait >= Punisher::kKickWaitMs - 5 && wait < Punisher::kKickWaitMs + 700,
                 qPrintable(QString::number(wait)));
        QVERIFY2(spacing >= link::Link::kStartPacerMs - 5 && spacing < 1200,
                 qPrintable(QString::number(spacing)));
        QVERIFY2(ticker.between(left[0].atMs + 100, left[1].atMs - 100) >= 40,
                 qPrintable(QString::number(ticker.between(left[0].atMs, left[1].atMs))));
        // The server's line came during the wait and is on the console after the check.
        QVERIFY(QTest::qWaitFor(
            [&] { return l.console().join(u'\n').contains(u"hello during the wait"_s); }, 3000));
        const QStringList c = l.console();
        const auto at = [&c](const QString& text) {
            for (qsizetype i = c.size() - 1; i >= 0; --i)
                if (c[i].contains(text))
                    return i;
            return qsizetype(-1);
        };
        QVERIFY(at(u"hello during the wait"_s) > at(u"PingCheck"_s));
        QVERIFY(at(u"PingCheck"_s) > at(u"DEBUG:  4 will be kicked"_s));
        QCOMPARE(l.robot->rules().learning().entries(), QStringList{u"0 10.0.0.4"_s});
        QVERIFY(!l.robot->link().pacer().isHeld());
    }

    // A channel command that arrives during the wait is carried out after the check, so what
    // it queues reaches the server after the kick, as it did.
    void channelCommandDuringTheWaitQueuesAfterTheKick()
    {
        Live l;
        QVERIFY(l.idle());
        l.afterStatus(500, [&] {
            l.server.sendRawToLastClient("\xff\xff\xff\xffprint\n\"vigilor\" "
                                         "is:\"status:^7\" default:\"nil^7\"\n");
        });
        const qsizetype before = l.commands().size();
        l.robot->link().enqueueCommand(u"status"_s);
        QVERIFY(l.received(u"set vigilor \"nil\""_s, 12000));
        const QStringList sent = l.commands().mid(before);
        QCOMPARE(sent.mid(0, 3), (QStringList{u"status"_s, kReason, u"clientkick 4"_s}));
        QVERIFY(sent.indexOf(u"set vigilor \"nil\""_s) > 2);
    }

    // The rate check's farewell waits 2 s and the kick's reason 3 s more, with the pacer held
    // throughout: the farewell leaves after 5 s, then the reason, the kick and a fresh status
    // one pacer period apart.
    void rateWaitsHoldThePacer()
    {
        Live l;
        l.robot->settings().setBanList({});
        l.robot->settings().setFlag(Key::RateCheck, true);
        l.server.updatePlayer(4, [](Player& p) { p.rate = 5000; });
        QVERIFY(l.idle());
        // Three wrong readings: three warnings, at a quicker pace.
        l.server.setFloodGuardMs(0);
        l.robot->link().setPacerInterval(50);
        for (int i = 1; i <= 3; ++i) {
            l.robot->link().enqueueCommand(u"status"_s);
            QVERIFY(QTest::qWaitFor([&] { return l.robot->rules().watch().rateWarnings() == i; },
                                    5000));
            QVERIFY(l.idle());
        }
        QCOMPARE(l.robot->rules().watch().rateWarnings(), 3);
        l.server.setFloodGuardMs(link::Link::kServerFloodWindowMs);
        l.robot->link().setPacerInterval(link::Link::kStartPacerMs);
        QVERIFY(l.idle());
        Ticker ticker(l.sendClock);
        const qsizetype before = l.commands().size();
        l.robot->link().enqueueCommand(u"status"_s);
        QVERIFY(l.received(u"clientkick 4"_s, 12000));
        QVERIFY(QTest::qWaitFor([&] { return l.commands().size() >= before + 5; }, 5000));
        const QList<Sent> sent = l.sent().mid(before);
        QStringList commands;
        for (const Sent& s : sent)
            commands << s.command;
        QCOMPARE(commands.mid(0, 5),
                 (QStringList{u"status"_s, kSay + u"Oke! Normalisan majd visszajohetsz! Szevasz!"_s,
                              kSay + u"Cheater-t az vigilor kirugja, mert megfelelt a ''rate'' "
                                     u"feltetelnek. Infoert kerdezzetek az adminokat!"_s,
                              u"clientkick 4"_s, u"status"_s}));
        const QList<Sent> left = l.sends.mid(before, 5);
        QCOMPARE(commandsOf(left), commands.mid(0, 5));
        const qint64 wait = left[1].atMs - left[0].atMs;
        QVERIFY2(wait >= Watch::kRateWaitMs + Punisher::kKickWaitMs - 5 &&
                     wait < Watch::kRateWaitMs + Punisher::kKickWaitMs + 700,
                 qPrintable(QString::number(wait)));
        for (int i = 2; i < 5; ++i)
            QVERIFY2(left[i].atMs - left[i - 1].atMs >= link::Link::kStartPacerMs - 5,
                     qPrintable(QString::number(i)));
        QVERIFY(ticker.between(left[0].atMs + 100, left[1].atMs - 100) >= 70);
        QCOMPARE(l.robot->rules().watch().rateWarnings(), 0);
    }

    // Closed and opened again during the wait: no kick on the new session, the check ends, and
    // the new session's greeting leaves at the pacer's pace.
    void reconnectDuringTheWait()
    {
        Live l;
        QVERIFY(l.idle());
        l.afterStatus(1000, [&] {
            l.robot->link().connectAction();
            settle(l.robot->link());
            l.robot->link().connectAction();
            settle(l.robot->link());
        });
        const qsizetype before = l.commands().size();
        l.robot->link().enqueueCommand(u"status"_s);
        // The new session's greeting waits for the end of the wait, as it did.
        QVERIFY(QTest::qWaitFor(
            [&] { return l.commands().mid(before).filter(u"Csatlakozva"_s).size() == 1; }, 8000));
        const QList<Sent> left = l.sends.mid(before);
        QCOMPARE(commandsOf(left).filter(u"Csatlakozva"_s).size(), 1);
        QVERIFY(left.back().atMs - left.front().atMs >= Punisher::kKickWaitMs - 5);
        QTest::qWait(1500);
        QVERIFY(!l.commands().mid(before).contains(u"clientkick 4"_s));
        QVERIFY(!l.robot->rules().checking());
        QVERIFY(!l.robot->link().pacer().isHeld());
        QVERIFY(l.robot->link().isConnected());
        QVERIFY(l.robot->rules().learning().entries().isEmpty());
    }

    // A roster that arrives during the wait is checked after the pass: the cheat whose kick
    // still waits in the queue is left out of it, and kicked once.
    void rosterDuringTheWaitIsCheckedAfterIt()
    {
        Live l;
        QVERIFY(l.idle());
        const QByteArray status =
            "\xff\xff\xff\xffprint\nmap: mp_toujane\n"
            "num score ping guid   name            lastmsg address               qport rate\n"
            "--- ----- ---- ------ --------------- ------- --------------------- ----- -----\n"
            "  4     3   40 123456 Cheater^7             0 10.0.0.4:28960         4321 25000\n\n";
        l.afterStatus(1000, [&] { l.server.sendRawToLastClient(status); });
        const qsizetype before = l.commands().size();
        l.robot->link().enqueueCommand(u"status"_s);
        QVERIFY(l.received(u"clientkick 4"_s));
        QVERIFY(QTest::qWaitFor(
            [&] { return l.console().join(u'\n').contains(u"Elavult lista: a 4. slot"_s); }, 3000));
        QTest::qWait(1500);
        QCOMPARE(l.commands().mid(before).count(u"clientkick 4"_s), 1);
        QCOMPARE(l.console().join(u'\n').count(u"Test Bans"_s), 2);
    }

    // The operator empties the ban list and switches "IP figyelő" off during the wait: the
    // kick under way still leaves (its check had found him), and nothing is remembered.
    void settingsChangedDuringTheWait()
    {
        Live l;
        QVERIFY(l.idle());
        l.afterStatus(1000, [&] {
            l.robot->settings().setBanList({});
            l.robot->settings().setFlag(Key::LearningBan, false);
        });
        l.robot->link().enqueueCommand(u"status"_s);
        QVERIFY(l.received(u"clientkick 4"_s));
        QVERIFY(l.robot->rules().learning().entries().isEmpty());
    }

    // The program ends during the wait: the kick is not sent, nothing of the check is left,
    // and the robot goes away cleanly, also without being closed first.
    void programEndsDuringTheWait()
    {
        Live closed;
        Live destroyed;
        QVERIFY(closed.idle());
        QVERIFY(destroyed.idle());
        closed.robot->link().enqueueCommand(u"status"_s);
        destroyed.robot->link().enqueueCommand(u"status"_s);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return closed.robot->link().pacer().isHeld() &&
                       destroyed.robot->link().pacer().isHeld();
            },
            5000));
        closed.robot->close();
        QVERIFY(!closed.robot->rules().checking());
        settle(closed.robot->link());
        QVERIFY(!closed.robot->link().isConnected());
        destroyed.robot.reset();
        QTest::qWait(Punisher::kKickWaitMs + 500);
        QVERIFY(!closed.commands().contains(u"clientkick 4"_s));
        QVERIFY(!closed.commands().contains(kReason)); // dropped with the queue at the disconnect
        QVERIFY(!destroyed.commands().contains(u"clientkick 4"_s));
    }
};

QTEST_GUILESS_MAIN(TestRulesSteps)
#include "test_rules_steps.moc"
