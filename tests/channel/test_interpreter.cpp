// The in-game command channel: RunChannelCommand against a Robot connected over real UDP to
// the practice server on 127.0.0.1, which records what the pacer actually delivered.
#include "channel/broadcaster.h"
#include "channel/interpreter.h"
#include "link/datagram.h"
#include "robot/robot.h"
#include "support/fakes.h"
#include "testserver/rconserver.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using channel::Interpreter;
using testserver::RconServer;

namespace {

const QString kReset = u"set vigilor \"nil\""_s;
QString say(const QString& text)
{
    return channel::Broadcaster::sayCommand(text);
}
const QString kAck = say(u"parancs erkezett"_s);
QByteArray reply(const QString& body)
{
    return "\xff\xff\xff\xffprint\n" + body.toLatin1();
}

// A robot connected to the practice server, the interpreter plugged into its reply intake,
// and a pacer fast enough that a whole interpretation arrives in a few milliseconds.
struct Harness
{
    QTemporaryDir dir;
    FakeClock clock;
    ScriptedDialogs dialogs;
    Robot robot{dir.path() + u'/', clock, dialogs};
    RconServer server;
    Interpreter interpreter{robot.settings(), robot.link(), robot.console(), robot.broadcaster(),
                            &robot};
    QStringList calls; // the hooks, in the order they ran
    std::function<void()> onLoad = [] {};
    std::function<void()> onSave = [] {};
    int answers = 0;

    explicit Harness(RconServer::Variant variant = RconServer::Variant::UnitedOffensive)
    {
        server.setVariant(variant);
        server.setPassword(u"pw"_s);
        server.setFloodGuardMs(0);
        server.start();
        robot.startUp();
        Settings& s = settings();
        s.setHost(u"127.0.0.1"_s);
        s.setPort(QString::number(server.port()));
        s.setPassword(u"pw"_s);
        s.setFlag(Key::Notification, false);
        interpreter.setHooks({
            [this](const QString& entry, int code) {
                calls << u"ban %1 %2"_s.arg(code).arg(entry);
            },
            [this] {
                calls << u"load"_s;
                onLoad();
            },
            [this] {
                calls << u"save"_s;
                onSave();
            },
        });
        link::ReplyIntake::Hooks hooks;
        hooks.channelReply = [this](const QString& text) {
            ++answers;
            interpreter.runChannelCommand(text);
        };
        robot.intake().setHooks(std::move(hooks));
        robot.link().setPacerInterval(5);
        robot.link().connectAction();
        settle(robot.link());
        deliver(); // the connect notice
    }
    Settings& settings() { return robot.settings(); }
    // Waits until everything queued has left and reached the server; returns what the server
    // accepted since the last call.
    QStringList deliver()
    {
        const qsizetype queued = robot.link().queue().size();
        if (!QTest::qWaitFor(
                [&] {
                    return robot.link().queue().isEmpty() && server.datagrams().size() >= queued;
                },
                5000))
            return {u"<not delivered>"_s};
        const QStringList commands = server.receivedCommands();
        server.clearLog();
        return commands;
    }
    QStringList run(const QString& value)
    {
        interpreter.runChannelCommand(Interpreter::madeUpAnswer(value));
        return deliver();
    }
    // The console lines from `first` on, without their stamps and the pacer's echoes.
    QStringList notes(qsizetype first)
    {
        QStringList lines;
        for (const QString& line : robot.console().lines().mid(first)) {
            const QString text = line.mid(line.indexOf(u" >> "_s) + 4);
            if (!text.startsWith(u"Parancs küldés: "_s))
                lines << text;
        }
        return lines;
    }
};

} // namespace

class TestInterpreter final : public QObject
{
    Q_OBJECT

private slots:
    void cuttingTheCommandText_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("command");
        QTest::newRow("plain") << u"\"vigilor\" is:\"Ban Joe\" default:\"\""_s << u"ban joe"_s;
        QTest::newRow("blank after colon")
            << u"\"vigilor\" is: \"Ban Joe\" default: \"\""_s << u"ban joe"_s;
        QTest::newRow("made up") << Interpreter::madeUpAnswer(u"RESTART Warn"_s)
                                 << u"restart warn"_s;
        QTest::newRow("quotes inside")
            << u"\"vigilor\" is:\"rsay \"hi\"\" default:\"x\""_s << u"rsay \"hi\""_s;
        QTest::newRow("first default ends it")
            << u"\"vigilor\" is:\"a\" default b\" default:\"\""_s << u"a"_s;
        QTest::newRow("ascii folding only")
            << u"\"vigilor\" is:\"rsay ÁRVÍZ Tűrő\" default:\"\""_s << u"rsay ÁrvÍz tűrő"_s;
        QTest::newRow("no default part") << u"\"vigilor\" is:\"ban joe\""_s << QString();
        QTest::newRow("empty value") << u"\"vigilor\" is:\"\" default:\"\""_s << QString();
        QTest::newRow("line breaks and NULs as blanks")
            << u"\"vigilor\" is:\"rsay a\nquit\r\n"_s + QChar(0) + u"b\" default:\"\""_s
            << u"rsay a quit   b"_s;
        QTest::newRow("text around")
            << u"x\n\"vigilor\" is:\"Status\" default:\"\"\n\n"_s << u"status"_s;
    }
    void cuttingTheCommandText()
    {
        QFETCH(QString, reply);
        QFETCH(QString, command);
        QCOMPARE(Interpreter::commandText(reply), command);
    }

    void madeUpAnswerForm()
    {
        QCOMPARE(Interpreter::madeUpAnswer(u"restart"_s),
                 u"\"vigilor\" is:\"restart\" default is:\"\""_s);
    }

    void nilInAnyCaseDoesNothing()
    {
        Harness h;
        const qsizetype consoleLines = h.robot.console().size();
        for (const QString& value : {u"nil"_s, u"NIL"_s, u"nIl"_s}) {
            h.interpreter.runChannelCommand(Interpreter::madeUpAnswer(value));
            h.interpreter.runChannelCommand(u"\"vigilor\" is: \""_s + value +
                                            u"\" default: \"\""_s);
        }
        QVERIFY(h.robot.link().queue().isEmpty());
        QCOMPARE(h.robot.console().size(), consoleLines);
        // Anything else is acknowledged and reset, unknown and empty commands included.
        QCOMPARE(h.run(u" nil"_s), (QStringList{kAck, kReset}));
        QCOMPARE(h.run(u"hello"_s), (QStringList{kAck, kReset}));
        QCOMPARE(h.run(QString()), (QStringList{kAck, kReset}));
    }

    void rowBan()
    {
        Harness h;
        h.settings().setFlag(Key::TestBans, false);
        QSignalSpy changes(&h.settings(), &Settings::changed);
        // "onion" holds " on": the switch goes on and nobody is banned.
        QCOMPARE(h.run(u"ban onion"_s), (QStringList{kAck, kReset}));
        QVERIFY(h.settings().flag(Key::TestBans));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(h.run(u"ban on"_s), (QStringList{kAck, kReset}));
        QCOMPARE(changes.count(), 1); // already on: no reaction
        h.run(u"ban jonathan"_s);
        h.run(u"BAN Joe"_s);
        h.run(u"ban "_s); // nothing to ban
        QCOMPARE(h.calls, (QStringList{u"ban 0 jonathan"_s, u"ban 0 joe"_s}));
        h.run(u"ban off"_s);
        QVERIFY(!h.settings().flag(Key::TestBans));
    }

    void rowUnbanExcludesTheBanRows()
    {
        Harness h;
        h.settings().setBanList({u"2 x"_s, u"0 Joe"_s, u"0 JOE"_s, u"0 joe"_s});
        h.settings().setFlag(Key::TestBans, false);
        QCOMPARE(h.run(u"unban 0 joe"_s), (QStringList{kAck, kReset}));
        QCOMPARE(h.settings().banList(), (QStringList{u"2 x"_s, u"0 JOE"_s, u"0 joe"_s}));
        // Without its code the entry is not equal to any line; and these texts would switch
        // ban checking on (" on") if the "lban " and "ban " tests ran after "unban ".
        h.run(u"unban joe on"_s);
        h.run(u"unban 3 onion"_s);
        QCOMPARE(h.settings().banList().size(), 3);
        QVERIFY(!h.settings().flag(Key::TestBans));
        QVERIFY(h.calls.isEmpty());
    }

    void rowLbanExcludesTheBanRow()
    {
        Harness h;
        h.settings().setFlag(Key::TestBans, false);
        h.run(u"lban off"_s);
        QVERIFY(!h.settings().flag(Key::LearningBan));
        h.run(u"lban on"_s);
        QVERIFY(h.settings().flag(Key::LearningBan));
        h.run(u"lban onoff"_s); // "off" is looked for first
        QVERIFY(!h.settings().flag(Key::LearningBan));
        QVERIFY(!h.settings().flag(Key::TestBans));
        QVERIFY(h.calls.isEmpty());
    }

    void rowRsay()
    {
        Harness h;
        QCOMPARE(h.run(u"rsay Hello World"_s), (QStringList{kAck, say(u"hello world"_s), kReset}));
        QCOMPARE(h.run(u"rsay"_s), (QStringList{kAck, kReset}));
        QCOMPARE(h.run(u"rsay "_s), (QStringList{kAck, kReset}));
        QVERIFY(h.calls.isEmpty());
        // "download" holds "load": the settings are reloaded as well.
        QCOMPARE(h.run(u"rsay download the map"_s),
                 (QStringList{kAck, say(u"download the map"_s), kReset}));
        QCOMPARE(h.calls, QStringList{u"load"_s});
    }

    void rowsRandomizeAndStatusInTableOrder()
    {
        Harness h;
        QCOMPARE(h.run(u"status: randomize:"_s),
                 (QStringList{kAck, u"sv_maprotationcurrent"_s, u"status"_s, kReset}));
        QCOMPARE(h.run(u"save load"_s), (QStringList{kAck, kReset}));
        QCOMPARE(h.calls, (QStringList{u"save"_s, u"load"_s}));
    }

    void rowTime()
    {
        Harness h;
        h.clock.set(QDateTime(QDate(2026, 12, 8), QTime(9, 5, 7)));
        QCOMPARE(h.run(u"time"_s), (QStringList{kAck, say(u"Time is: 9:05:07"_s), kReset}));
        QVERIFY(!h.settings().flag(Key::AnounceTime));
        QCOMPARE(h.run(u"time "_s), (QStringList{kAck, kReset}));
        QVERIFY(!h.settings().flag(Key::AnounceTime));
        // Switching on runs the switch's reaction: one signal at once, then the timer.
        QCOMPARE(h.run(u"time on"_s), (QStringList{kAck, say(u"Time is: 9:05:07"_s), kReset}));
        QVERIFY(h.robot.broadcaster().timeSignal().isActive());
        QCOMPARE(h.run(u"time on"_s), (QStringList{kAck, kReset}));
        h.run(u"time off on"_s);
        QVERIFY(!h.robot.broadcaster().timeSignal().isActive());
    }

    void rowAnounce()
    {
        Harness h;
        const QStringList messages{u"one"_s, u"two"_s, u"three"_s};
        h.settings().setMessages(messages);
        // Off: the announcer says nothing but moves on.
        QCOMPARE(h.run(u"anounce"_s), (QStringList{kAck, kReset}));
        QCOMPARE(h.robot.broadcaster().position(), quint8(1));
        // "anounce" has no "on" of its own; this text has, so the switch goes on (and its
        // reaction announces at once) and the list stays as it is.
        QCOMPARE(h.run(u"anounce welcome on board"_s), (QStringList{kAck, say(u"two"_s), kReset}));
        QVERIFY(h.settings().flag(Key::Notification));
        QCOMPARE(h.settings().messages(), messages);
        QCOMPARE(h.run(u"anounce"_s), (QStringList{kAck, say(u"three"_s), kReset}));
        // A text replaces the line at the position (back at 0 now).
        h.run(u"anounce Hello Players"_s);
        QCOMPARE(h.settings().messages(), (QStringList{u"hello players"_s, u"two"_s, u"three"_s}));
        h.run(u"anounce off"_s);
        QVERIFY(!h.robot.broadcaster().announcer().isActive());
        // A position beyond the last line (the operator deleted lines) changes nothing.
        h.run(u"anounce"_s);
        h.settings().setMessages({u"only"_s});
        h.run(u"anounce new text"_s);
        QCOMPARE(h.settings().messages(), QStringList{u"only"_s});
        // An empty list takes the text as its first line.
        h.settings().setMessages({});
        h.run(u"anounce first words"_s);
        QCOMPARE(h.settings().messages(), QStringList{u"first words"_s});
    }

    void rowsAntiFreezeAndRateCheck()
    {
        Harness h;
        QCOMPARE(h.run(u"AntiFreeze"_s),
                 (QStringList{kAck, say(u"A fagyas vedelem be van kapcsolva"_s), kReset}));
        h.run(u"antifreeze off"_s);
        QVERIFY(!h.settings().flag(Key::AntiFreeze));
        QCOMPARE(h.run(u"antifreeze"_s),
                 (QStringList{kAck, say(u"A fagyas vedelem ki van kapcsolva"_s), kReset}));
        h.run(u"antifreeze onoff"_s); // "on" is looked for first here
        QVERIFY(h.settings().flag(Key::AntiFreeze));

        QCOMPARE(h.run(u"ratecheck"_s),
                 (QStringList{kAck, say(u"Rate ellenorzes ki van kapcsolva"_s), kReset}));
        h.run(u"ratecheck on"_s);
        QCOMPARE(h.run(u"RateCheck"_s),
                 (QStringList{kAck, say(u"Rate ellenorzes be van kapcsolva"_s), kReset}));
        h.run(u"ratecheck off"_s);
        QVERIFY(!h.settings().flag(Key::RateCheck));
    }

    void rowInterval()
    {
        Harness h;
        QCOMPARE(h.interpreter.pollTimer().interval(), 20000);
        QCOMPARE(h.run(u"interval 5"_s), (QStringList{kAck, kReset}));
        QCOMPARE(h.settings().timeInterval(), 30);
        QCOMPARE(h.interpreter.pollTimer().interval(), 10000);
        QCOMPARE(h.robot.link().rosterPoll().interval(), 30000);
        QCOMPARE(h.run(u"interval"_s),
                 (QStringList{kAck, say(u"Interval is currently 30"_s), kReset}));
        QCOMPARE(h.run(u"interval "_s),
                 (QStringList{kAck, say(u"Interval is currently 30"_s), kReset}));
        h.run(u"interval  90"_s);
        QCOMPARE(h.interpreter.pollTimer().interval(), 30000);
        h.run(u"interval 99999999999999"_s);
        QCOMPARE(h.settings().timeInterval(), 999999);
        QCOMPARE(h.interpreter.pollTimer().interval(), 333333000);
    }

    // A step that fails is told on the console and skipped; the rest runs and the reset is
    // queued once, so the next poll does not meet the same command again.
    void failingStepsStillReset()
    {
        Harness h;
        h.onSave = [] { throw FileError(u"vigilor.ini nem írható"_s); };
        h.onLoad = [] { throw std::runtime_error("autostart failed"); };
        qsizetype first = h.robot.console().size();
        QCOMPARE(h.run(u"save load restart warn"_s),
                 (QStringList{kAck, say(u"^1 !!! FIGYELEM !!! ^3A szerver nemsokara ujraindul!"_s),
                              kReset}));
        QCOMPARE(h.notes(first), (QStringList{u"vigilor.ini nem írható"_s, u"autostart failed"_s}));

        first = h.robot.console().size();
        QCOMPARE(h.run(u"interval 60s restart warn"_s),
                 (QStringList{kAck, say(u"^1 !!! FIGYELEM !!! ^3A szerver nemsokara ujraindul!"_s),
                              kReset}));
        QCOMPARE(h.settings().timeInterval(), 60);
        QCOMPARE(h.notes(first).size(), 1);
        QVERIFY(h.notes(first).front().contains(u"'60s restart warn'"_s));
    }

    void rowRestart()
    {
        Harness h;
        // The console button "[figyelmeztető]".
        QCOMPARE(h.run(u"restart warn"_s),
                 (QStringList{kAck, say(u"^1 !!! FIGYELEM !!! ^3A szerver nemsokara ujraindul!"_s),
                              kReset}));
        // With public chat off only the server commands go: quit, then the reset, which meets
        // the closed port of the stopped server.
        h.settings().setFlag(Key::EventNotify, false);
        h.interpreter.runChannelCommand(Interpreter::madeUpAnswer(u"restart"_s));
        QCOMPARE(h.robot.link().queue(), (QStringList{u"quit"_s, kReset}));
        QVERIFY(QTest::qWaitFor([&] { return h.robot.link().queue().isEmpty(); }, 5000));
        QCOMPARE(h.server.receivedCommands(), QStringList{u"quit"_s});
        QVERIFY(!h.server.isRunning());
        QVERIFY(h.robot.console().lines().back().endsWith(link::commandEcho(kReset)));
    }

    void restartCountdown()
    {
        Harness h;
        h.interpreter.runChannelCommand(Interpreter::madeUpAnswer(u"restart"_s));
        QCOMPARE(h.robot.link().queue(),
                 (QStringList{kAck, say(u"^1 !!! FIGYELEM !!! ^3A szerver most ujraindul!"_s),
                              say(u"3"_s), say(u"2"_s), say(u"1"_s), u"quit"_s, kReset}));
        QVERIFY(QTest::qWaitFor([&] { return h.robot.link().queue().isEmpty(); }, 5000));
        QCOMPARE(h.server.receivedCommands().size(), 6);
        QCOMPARE(h.server.receivedCommands().back(), u"quit"_s);
        QVERIFY(h.robot.console().lines().back().endsWith(link::commandEcho(kReset)));
    }

    void linkDownKeepsTheSwitchChanges()
    {
        Harness h;
        h.robot.link().connectAction(); // disconnect
        settle(h.robot.link());
        h.settings().setFlag(Key::RateCheck, false);
        h.interpreter.runChannelCommand(Interpreter::madeUpAnswer(u"ratecheck on restart"_s));
        QVERIFY(h.robot.link().queue().isEmpty());
        QVERIFY(h.settings().flag(Key::RateCheck));
    }

    void pollTimerFollowsTheListener()
    {
        Harness h;
        QTimer& timer = h.interpreter.pollTimer();
        QCOMPARE(timer.objectName(), u"Timer5"_s);
        QVERIFY(!timer.isActive());
        h.settings().setFlag(Key::CommandListener, true);
        QVERIFY(timer.isActive());
        h.settings().setTimeInterval(10); // limited to 30
        QCOMPARE(timer.interval(), 10000);
        QCOMPARE(Interpreter::pollPeriod(0), 10);
        // An interpreter made while the listener is on starts polling at once.
        Interpreter second(h.settings(), h.robot.link(), h.robot.console(), h.robot.broadcaster(),
                           nullptr);
        QVERIFY(second.pollTimer().isActive());
        QCOMPARE(second.pollTimer().interval(), 10000);

        // Each tick queues the bare variable name, only while connected.
        h.robot.link().pacer().stop();
        second.pollTimer().stop();
        timer.setInterval(1);
        QVERIFY(QTest::qWaitFor([&] { return h.robot.link().queue().size() >= 2; }, 2000));
        const QStringList polls = h.robot.link().queue();
        QVERIFY(std::all_of(polls.begin(), polls.end(),
                            [](const QString& c) { return c == u"vigilor"; }));
        h.robot.link().connectAction();
        settle(h.robot.link());
        QTest::qWait(20);
        QVERIFY(h.robot.link().queue().isEmpty());
        QVERIFY(timer.isActive()); // the timer keeps running while disconnected
        h.settings().setFlag(Key::CommandListener, false);
        QVERIFY(!timer.isActive());
    }

    // The administrator's /rcon set vigilor "rsay hi", polled, interpreted, answered and reset.
    void endToEnd_data()
    {
        QTest::addColumn<RconServer::Variant>("variant");
        QTest::newRow("is:\"") << RconServer::Variant::UnitedOffensive;
        QTest::newRow("is: \"") << RconServer::Variant::CallOfDuty2;
    }
    void endToEnd()
    {
        QFETCH(RconServer::Variant, variant);
        Harness h(variant);
        h.server.setVariable(u"vigilor"_s, u"Rsay ^1Hi"_s);
        h.interpreter.pollChannel();
        QVERIFY(
            QTest::qWaitFor([&] { return h.server.receivedCommands().contains(kReset); }, 5000));
        QCOMPARE(h.server.receivedCommands(),
                 (QStringList{u"vigilor"_s, kAck, say(u"hi"_s), kReset}));
        QCOMPARE(h.server.variable(u"vigilor"_s), u"nil"_s);
        QCOMPARE(h.server.sayLines().at(1), u"^1vigilor^2> ^7hi"_s);
        // The next poll reads "nil" and nothing more happens.
        h.server.clearLog();
        h.interpreter.pollChannel();
        QVERIFY(QTest::qWaitFor([&] { return h.answers == 2; }, 5000));
        QTest::qWait(30);
        QCOMPARE(h.server.receivedCommands(), QStringList{u"vigilor"_s});
        QVERIFY(h.robot.link().queue().isEmpty());
    }

    // Only the watched server's address and port can steer the robot.
    void forgedAnswerChangesNothing()
    {
        Harness h;
        const QByteArray forged = reply(u"\"vigilor\" is:\"restart\" default:\"\"\n"_s);
        QUdpSocket intruder;
        QVERIFY(intruder.bind(QHostAddress::LocalHost, 0));
        QCOMPARE(intruder.writeDatagram(forged, QHostAddress::LocalHost, h.server.lastClientPort()),
                 forged.size());
        QTest::qWait(200);
        QCOMPARE(h.answers, 0);
        QVERIFY(h.robot.link().queue().isEmpty());
        QVERIFY(h.server.datagrams().isEmpty());
        // The same datagram from the server itself is obeyed.
        QVERIFY(h.server.sendRawToLastClient(forged));
        QVERIFY(
            QTest::qWaitFor([&] { return h.server.receivedCommands().contains(u"quit"_s); }, 5000));
    }

    void helpTexts()
    {
        const QStringList help = Interpreter::kHelpText.split(u"\n\r"_s);
        QCOMPARE(help.mid(0, 4),
                 (QStringList{u"Alap parancs: /rcon set vigilor \"<vigilor parancs>\""_s, QString(),
                              u"Az vigilor parancs helyére ezeket kell írnod!"_s, QString()}));
        QCOMPARE(help.mid(help.size() - 2), (QStringList{QString(), u"Keldor"_s}));
        QStringList syntaxes;
        for (const QString& line : help.mid(4, help.size() - 6)) {
            QVERIFY2(line.indexOf(u" : "_s) > 0 && !line.endsWith(u" : "_s), qPrintable(line));
            syntaxes << line.left(line.indexOf(u" : "_s));
        }
        QCOMPARE(syntaxes, (QStringList{u"ban <név vagy IP>"_s,
                                        u"ban on/off"_s,
                                        u"unban <bünt.szám> <név vagy IP>"_s,
                                        u"lban off/on"_s,
                                        u"time"_s,
                                        u"time on/off"_s,
                                        u"rsay <message>"_s,
                                        u"anounce"_s,
                                        u"anounce on/off"_s,
                                        u"anounce <üzenet>"_s,
                                        u"AntiFreeze"_s,
                                        u"AntiFreeze on/off"_s,
                                        u"interval"_s,
                                        u"interval <szám>"_s,
                                        u"restart warn"_s,
                                        u"restart"_s,
                                        u"randomize:"_s,
                                        u"status:"_s,
                                        u"save"_s,
                                        u"load"_s}));
        const QStringList warning = Interpreter::kListenerWarning.split(u"\n\r"_s);
        QCOMPARE(warning.front(), u"!!! FIGYELEM !!!"_s);
        QCOMPARE(warning.back(), u"Keldor"_s);
        QVERIFY(Interpreter::kListenerWarning.contains(u"1 perc"_s));
        for (const QString& line : help + warning)
            QVERIFY2(!line.contains(u'\n') && !line.contains(u'\r'), qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(TestInterpreter)
#include "test_interpreter.moc"
