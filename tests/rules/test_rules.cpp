// Rule enforcement: the ban list and its matching, the punishments, the learning list, the
// freeze, rate and ping checks and the player table's menu. Unit cases run against a Robot
// whose link is connected to the practice server with the pacer held, so every queued command
// stays visible; the end-to-end cases let the pacer run and watch the server.
#include "robot/robot.h"
#include "rules/banentry.h"
#include "rules/rules.h"
#include "support/fakes.h"
#include "testserver/rconserver.h"
#include "text/errors.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vigilor;
using namespace vigilor::rules;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using link::Link;
using testserver::Player;
using testserver::RconServer;

namespace {

const QString kSay = u"say ^1vigilor^2> ^7"_s;

// A player line as the status reply prints it, in the guid layout or without the guid column.
QString line(int slot, int score, const QString& ping, const QString& name,
             const QString& address = u"10.9.9.9:28960"_s, int rate = 25000, bool guid = true)
{
    return QString::asprintf("%3d %5d ", slot, score) + ping.rightJustified(4) + u' ' +
           (guid ? QString::asprintf("%6d ", 123456) : QString()) + name.leftJustified(16) +
           QString::asprintf("%7d ", 50) + address.leftJustified(22) +
           QString::asprintf("%5d %5d", 4321, rate);
}

QString noGuidLine(int slot, int score, const QString& ping, const QString& name,
                   const QString& address = u"10.9.9.9:28960"_s, int rate = 25000)
{
    return line(slot, score, ping, name, address, rate, false);
}

QStringList reply(const QStringList& players)
{
    return QStringList{
               u"map: mp_toujane"_s,
               u"num score ping guid   name            lastmsg address               qport rate"_s,
               u"--- ----- ---- ------ --------------- ------- --------------------- ----- -----"_s} +
           players + QStringList{QString()};
}

QStringList noGuidReply(const QStringList& players)
{
    return QStringList{
               u"map: mp_carentan"_s,
               u"num score ping name            lastmsg address               qport rate"_s,
               u"--- ----- ---- --------------- ------- --------------------- ----- -----"_s} +
           players + QStringList{QString()};
}

// The result of a check or punishment once it has run to its end: the test clocks end every
// timed wait at once, and the returns to the event loop go on from the loop run here.
template <typename T> T done(Step<T>&& step)
{
    if (!QTest::qWaitFor([&] { return step.done(); }, 5000))
        qFatal("a step of the rules is still waiting");
    return step.result();
}

// A status reply in one datagram, as the server sends it.
QByteArray statusDatagram(const QStringList& lines)
{
    return "\xff\xff\xff\xffprint\n" + lines.join(u'\n').toLatin1() + '\n';
}

class HookClock final : public Clock
{
public:
    QDateTime now() const override { return m_now; }
    void wait(int milliseconds) override
    {
        waits.append(milliseconds);
        m_now = m_now.addMSecs(milliseconds);
        if (onWait)
            onWait();
    }
    QDateTime m_now{QDate(2026, 12, 8), QTime(12, 34, 56)};
    QList<int> waits;
    std::function<void()> onWait;
};

// A robot connected to the practice server with its pacer stopped, and the rules on top.
struct Rig
{
    QTemporaryDir dir;
    HookClock clock;
    ScriptedDialogs dialogs;
    Robot robot{dir.path() + u'/', clock, dialogs};
    RconServer server;
    std::function<void(const QString&)> onSay;
    Rules rules{robot.settings(),
                robot.link(),
                robot.console(),
                clock,
                dialogs,
                [this](const QString& text) {
                    robot.broadcaster().sayPublic(text);
                    if (onSay)
                        onSay(text);
                }};
    qsizetype mark = 0;

    Rig()
    {
        server.setPassword(u"secret"_s);
        server.start();
        Settings& s = settings();
        s.setHost(u"127.0.0.1"_s);
        s.setPort(QString::number(server.port()));
        s.setPassword(u"secret"_s);
        s.setFlag(Key::EventNotify, false); // no connect notice in the queue
        robot.link().connectAction();
        settle(robot.link());
        robot.link().pacer().stop();
        s.setFlag(Key::EventNotify, true);
        mark = robot.console().size();
    }
    Settings& settings() { return robot.settings(); }
    const QStringList& queue() { return robot.link().queue(); }
    // Console lines written since the rig was built, without their stamps.
    QStringList console()
    {
        QStringList out;
        for (qsizetype i = mark; i < robot.console().size(); ++i) {
            const QString l = robot.console().line(i);
            out << l.mid(l.indexOf(u" >> "_s) + 4);
        }
        return out;
    }
    void setBans(const QStringList& entries) { settings().setBanList(entries); }
    QStringList learning() { return rules.learning().entries(); }
    // A pass of the checks on the roster, waited for to its end.
    void check(const QStringList& roster)
    {
        if (!rules.runChecks(roster) && !QTest::qWaitFor([&] { return !rules.checking(); }, 5000))
            qFatal("the checks are still waiting");
    }
};

// A robot wired as the program wires it: the rules run on every complete roster, and the pacer
// sends to the practice server in real time. Waits cost nothing: the server needs no real time
// between the chat line and the kick, only their order.
struct Live
{
    QTemporaryDir dir;
    FakeClock clock;
    ScriptedDialogs dialogs;
    Robot robot{dir.path() + u'/', clock, dialogs};
    RconServer server;
    Rules rules{robot.settings(),
                robot.link(),
                robot.console(),
                clock,
                dialogs,
                [this](const QString& text) { robot.broadcaster().sayPublic(text); }};
    int passes = 0;

    explicit Live(const QList<Player>& players)
    {
        server.setPassword(u"secret"_s);
        server.start();
        server.setPlayers(players);
        robot.settings().setHost(u"127.0.0.1"_s);
        robot.settings().setPort(QString::number(server.port()));
        robot.settings().setPassword(u"secret"_s);
        link::ReplyIntake::Hooks hooks;
        hooks.rosterReplaced = [this] { rules.rosterReplaced(); };
        hooks.runChecks = [this] {
            ++passes;
            return rules.runChecks(robot.roster().text());
        };
        hooks.midnight = [this] { rules.midnight(); };
        robot.intake().setHooks(hooks);
        QObject::connect(&rules, &Rules::checksEnded, &robot,
                         [this](bool completed) { robot.intake().checksEnded(completed); });
        robot.link().connectAction();
        settle(robot.link());
    }
    // Asks for a roster and waits until the checks have run on it.
    bool pass()
    {
        const int wanted = passes + 1;
        robot.link().enqueueCommand(u"status"_s);
        return QTest::qWaitFor([&] { return passes >= wanted; }, 5000);
    }
    bool received(const QString& command)
    {
        return QTest::qWaitFor([&] { return server.receivedCommands().contains(command); }, 5000);
    }
    qsizetype at(const QString& command) { return server.receivedCommands().indexOf(command); }
    bool heard(const QString& text)
    {
        return QTest::qWaitFor(
            [&] { return server.sayLines().contains(u"^1vigilor^2> ^7"_s + text); }, 5000);
    }
    bool listed(const QString& name)
    {
        for (const QStringList& row : robot.roster().rows())
            if (row.value(3) == name)
                return true;
        return false;
    }
};

Player player(int slot, const QString& name, int score, int ping, const QString& address)
{
    Player p;
    p.slot = slot;
    p.name = name;
    p.score = score;
    p.ping = ping;
    p.address = address;
    return p;
}

} // namespace

class TestRules final : public QObject
{
    Q_OBJECT

private slots:
    // ---- ban entries and the ban list -------------------------------------------------------

    void entryFormat()
    {
        QCOMPARE(entryText(u"0 Bob"), u"Bob"_s);
        QCOMPARE(entryText(u"3 10.0."), u"10.0."_s);
        QCOMPARE(entryText(u"0 "), QString());
        QCOMPARE(entryText(u"0 B"), QString()); // three characters or fewer: empty
        QCOMPARE(entryText(u""), QString());
        QVERIFY(!entryMatchable(u""));
        QVERIFY(!entryMatchable(u"   "));
        QVERIFY(entryMatchable(u" x "));

        QCOMPARE(entryGrade(u"4 x"), 4);
        QCOMPARE(entryGrade(u"5 Bob"), -1);
        QCOMPARE(entryGrade(u"0Bob"), -1);
        QCOMPARE(entryGrade(u"Bob"), -1);
        QCOMPARE(entryGrade(u"0"), -1);
        QCOMPARE(punishmentCode(u"3 Bob"), 3);
        QCOMPARE(punishmentCode(u"9 Bob"), 0);
        QCOMPARE(punishmentCode(u"Bobby"), 0);

        QCOMPARE(regraded(u"3 Bob", 0), u"0 Bob"_s);
        QCOMPARE(regraded(u"0 B", 2), u"2 B"_s); // the short text survives
        QCOMPARE(regraded(u"7 Bob", 1), u"1 Bob"_s);
        QCOMPARE(regraded(u"Bobby", 1), u"1 Bobby"_s); // no code position: nothing is lost

        QCOMPARE(gradeCaptions(),
                 (QStringList{u"(0) Mindíg kirúg (Ban)"_s, u"(1) Ha van pontja, kirúg"_s,
                              u"(2) Mindíg SPECTATOR (AWE 2.x)"_s,
                              u"(3) Mindíg felrobban (-1 frag, AWE 2.x)"_s,
                              u"(4) Mindíg Admin-Kill (nincs fragcsökkentés, AWE 2.x)"_s}));
    }

    void listBoxOrder()
    {
        // ASCII letters fold; accented letters sort by their code page byte, unfolded.
        const QStringList sorted = sortedEntries({u"1 bob"_s, u"0 Zed"_s, u"0 ábel"_s, u"0 alice"_s,
                                                  u"0 Bob"_s, u"0 Ábel"_s, u"0 _x"_s});
        QCOMPARE(sorted, (QStringList{u"0 _x"_s, u"0 alice"_s, u"0 Bob"_s, u"0 Zed"_s, u"0 Ábel"_s,
                                      u"0 ábel"_s, u"1 bob"_s}));
        // Equal lines keep their order.
        QCOMPARE(sortedEntries({u"0 BOB"_s, u"0 bob"_s}), (QStringList{u"0 BOB"_s, u"0 bob"_s}));
        QCOMPARE(sortedPosition({u"0 a"_s, u"0 c"_s}, u"0 B"), 1);
        QCOMPARE(sortedPosition({}, u"0 B"), 0);
    }

    void addRegradeRemove()
    {
        Rig r;
        BanList& bans = r.rules.banList();
        QSignalSpy changed(&r.settings(), &Settings::banListChanged);
        bans.add(QString(), 0);
        QCOMPARE(changed.count(), 0);

        r.setBans({u"0 alice"_s, u"3 Bob"_s, u"Stray line"_s, u"4 bob"_s});
        bans.add(u"BOB"_s, 1); // every equal entry, text kept as stored
        QCOMPARE(bans.entries(),
                 (QStringList{u"0 alice"_s, u"1 Bob"_s, u"Stray line"_s, u"1 bob"_s}));

        bans.add(u"Carl"_s, -1); // no grade shown: code 0, sorted place
        bans.add(u"10.0.0."_s, 4);
        QCOMPARE(bans.entries(), (QStringList{u"0 alice"_s, u"0 Carl"_s, u"1 Bob"_s, u"4 10.0.0."_s,
                                              u"Stray line"_s, u"1 bob"_s}));

        bans.setGrade(1, 4); // keeps its place until the next load
        QCOMPARE(bans.entries().at(1), u"4 Carl"_s);
        QCOMPARE(bans.gradeOf(1), 4);
        QCOMPARE(bans.gradeOf(4), -1); // the stray line shows no grade
        QCOMPARE(bans.gradeOf(-1), -1);
        bans.setGrade(-1, 2);
        bans.setGrade(99, 2);
        bans.remove(-1);
        bans.remove(6);
        QCOMPARE(bans.entries().size(), 6);
        bans.remove(4);
        QVERIFY(!bans.entries().contains(u"Stray line"_s));
        QCOMPARE(bans.entries().size(), 5);
        bans.sortAsLoaded(); // the re-graded entry moves only now
        QCOMPARE(bans.entries(),
                 (QStringList{u"0 alice"_s, u"1 Bob"_s, u"1 bob"_s, u"4 10.0.0."_s, u"4 Carl"_s}));
    }

    void clearingTheBanList()
    {
        Rig r;
        const QString file = r.dir.path() + u"/bans.txt"_s;
        auto seed = [&] {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("0 Bob\r\n");
            r.setBans({u"0 Bob"_s});
            r.rules.learning().remember(0, u"1.2.3.4"_s);
        };
        seed();
        r.dialogs.answerQuestion(false);
        r.rules.clearBanList(file);
        QCOMPARE(r.dialogs.questions(), (QStringList{u"Biztosan törlöd a banlistát?"_s}));
        QVERIFY(QFile::exists(file));
        QCOMPARE(r.settings().banList().size(), 1);

        r.dialogs.answerQuestion(true);
        r.dialogs.answerQuestion(false);
        r.rules.clearBanList(file);
        QTRY_COMPARE(r.dialogs.questions().size(), 3);
        QCOMPARE(r.dialogs.questions().mid(1),
                 (QStringList{u"Biztosan törlöd a banlistát?"_s, u"IP címeket is takarítod?"_s}));
        QVERIFY(!QFile::exists(file));
        QVERIFY(r.settings().banList().isEmpty());
        QCOMPARE(r.learning().size(), 1);

        seed();
        r.dialogs.answerQuestion(true);
        r.dialogs.answerQuestion(true);
        r.rules.clearBanList(file);
        QVERIFY(r.settings().banList().isEmpty());
        QTRY_VERIFY(r.learning().isEmpty());
    }

    void codeLookup()
    {
        Rig r;
        Context& context = r.rules.context();
        QSignalSpy yields(&context, &Context::stepResumed);
        const QString l = line(3, 1, u"40"_s, u"xBOBBYx"_s);
        // Case folded; the first entry in list order whose text occurs wins.
        QCOMPARE(done(findEntryCode(l, {u"3 Al"_s, u"2 bob"_s, u"0 Bobby"_s}, context)), 2);
        QCOMPARE(yields.count(), 1); // after each entry passed over
        // None: the last.
        QCOMPARE(done(findEntryCode(l, {u"4 "_s, u"3     "_s, u"1 zed"_s}, context)), 1);
        QCOMPARE(yields.count(), 4);
        QCOMPARE(done(findEntryCode(l, {}, context)), 0);
        QCOMPARE(done(findEntryCode(l, {u"Bobby and more"_s}, context)), 0);
        // A match at the first entry goes to the event loop not at all.
        Step<int> first = findEntryCode(l, {u"4 bobby"_s, u"0 x"_s}, context);
        QVERIFY(first.done());
        QCOMPARE(first.result(), 4);

        // Only the first 256 entries are looked at: a match beyond gets the code of entry 255.
        QStringList many;
        for (int i = 0; i < 300; ++i)
            many << (i == 255 ? u"3 nobody"_s : u"1 filler"_s + QString::number(i));
        many[280] = u"4 BOBBY"_s;
        yields.clear();
        QCOMPARE(done(findEntryCode(l, many, context)), 3);
        QCOMPARE(yields.count(), 256);
        many[100] = u"2 bobby"_s;
        QCOMPARE(done(findEntryCode(l, many, context)), 2);

        // The walk is over its own copy: the list emptied while it yields does not move it.
        QStringList edited = {u"1 a"_s, u"1 b"_s, u"3 bobby"_s};
        Step<int> walk = findEntryCode(l, edited, context);
        edited.clear();
        QCOMPARE(done(std::move(walk)), 3);
    }

    // ---- CheckBans --------------------------------------------------------------------------

    void banCheckMatching()
    {
        Rig r;
        // An empty list: only the heading.
        QVERIFY(!done(r.rules.banCheck().checkBans(reply({line(1, 0, u"40"_s, u"Bob"_s)}))));
        QCOMPARE(r.console(), (QStringList{u"Test Bans"_s}));

        // Code 1 and no score: matched, case folded, nothing queued.
        r.setBans({u"1 Bob"_s});
        QVERIFY(done(r.rules.banCheck().checkBans(reply({line(2, 0, u"40"_s, u"xBOBx"_s)}))));
        QCOMPARE(r.console().mid(1), (QStringList{u"Test Bans"_s, u"Bad guy found: Bob"_s}));
        QVERIFY(r.queue().isEmpty());
        // With a score: a bare kick, no chat.
        QVERIFY(done(r.rules.banCheck().checkBans(reply({line(2, 1, u"40"_s, u"xBOBx"_s)}))));
        QCOMPARE(r.queue(), (QStringList{u"clientkick 2"_s}));

        // Texts that are empty or only blanks never match, not even the blanks of a line.
        r.setBans({u"0 "_s, u"0    "_s, u"2 B"_s});
        QVERIFY(!done(r.rules.banCheck().checkBans(reply({line(2, 5, u"40"_s, u"B"_s)}))));

        // A word of the header sets the result without any action.
        r.setBans({u"0 qport"_s, u"2 mp_toujane"_s});
        const qsizetype before = r.console().size();
        QVERIFY(done(r.rules.banCheck().checkBans(reply({line(2, 5, u"40"_s, u"Joe"_s)}))));
        QCOMPARE(r.console().mid(before), (QStringList{u"Test Bans"_s, u"Bad guy found: qport"_s,
                                                       u"Bad guy found: mp_toujane"_s}));
        QCOMPARE(r.queue().size(), 1);
    }

    // Each punishment whose command is queued is on the record of acts under the rule that dealt
    // it, with the player's slot, name and address and the matched entry as its reason; a code 1
    // entry that kicks no one (no score) records nothing.
    void punishmentsAreRecorded()
    {
        Rig r;
        r.rules.context().setRecord(&r.robot.record());
        r.settings().setFlag(Key::EventNotify, false);
        r.setBans({u"0 bob"_s, u"1 joe"_s, u"3 eve"_s});
        QVERIFY(done(r.rules.banCheck().checkBans(
            reply({line(4, 0, u"40"_s, u"Bob"_s, u"1.2.3.4:28960"_s), line(5, 0, u"40"_s, u"Joe"_s),
                   line(6, 2, u"40"_s, u"Eve"_s, u"5.6.7.8:28960"_s)}))));
        QCOMPARE(r.queue(), (QStringList{u"clientkick 4"_s, u"g_smite 6"_s}));
        const QList<record::Act> acts = r.robot.record().find({}).acts;
        QCOMPARE(acts.size(), 2);
        QCOMPARE(acts[0], (record::Act{acts[0].when, u"banlista"_s, {}, u"Felrobbantás"_s,
                                       u"6"_s, u"Eve"_s, u"5.6.7.8"_s, u"3 eve"_s}));
        QCOMPARE(acts[1], (record::Act{acts[1].when, u"banlista"_s, {}, u"Kirúgás"_s, u"4"_s,
                                       u"Bob"_s, u"1.2.3.4"_s, u"0 bob"_s}));
        QVERIFY(!acts[0].when.isEmpty());

        // The rate check's own kick names the check.
        done(r.rules.punisher().kickWithReason(line(7, 1, u"40"_s, u"Rita"_s), u"rate"_s, {},
                                               Punisher::Remember::AsSwitched, kByRate));
        QCOMPARE(r.robot.record().find({}).acts[0].who, u"Rate ellenőrzés"_s);
        QCOMPARE(r.robot.record().find({}).acts[0].why, u"rate"_s);
    }

    void banCheckPunishes()
    {
        Rig r;
        // Lookup ignores case too: "bob" kicks Bob with the whole entry as the reason.
        r.setBans({u"0 bob"_s});
        QVERIFY(done(r.rules.banCheck().checkBans(reply({line(4, 0, u"40"_s, u"Bob"_s)}))));
        QCOMPARE(r.queue(),
                 (QStringList{
                     kSay + u"Bob-t az vigilor kirugja, mert megfelelt a ''0 bob'' feltetelnek. "
                            u"Infoert kerdezzetek az adminokat!"_s,
                     u"clientkick 4"_s}));
        QCOMPARE(r.clock.waits, (QList<int>{3000}));

        // Two entries in one line: handled twice, both times with the first entry's code, each
        // time with its own entry as the reason.
        Rig t;
        t.settings().setFlag(Key::EventNotify, false);
        t.setBans({u"0 Bob"_s, u"2 Bobby"_s});
        QVERIFY(done(t.rules.banCheck().checkBans(reply({line(1, 3, u"40"_s, u"Bobby"_s)}))));
        QCOMPARE(t.queue(), (QStringList{u"clientkick 1"_s, u"clientkick 1"_s}));
        const QStringList debug = t.console().filter(u"DEBUG"_s);
        QCOMPARE(debug,
                 (QStringList{u"DEBUG:  1 will be kicked"_s, u"DEBUG:  1 will be kicked"_s}));
    }

    void banLinesWithoutACodeNeverMatch()
    {
        Rig r;
        r.settings().setFlag(Key::EventNotify, false);
        const QStringList bans = {u"Johnny"_s, u"10.0.0.5"_s, u"7 Ohnny"_s, u"1 Real"_s};
        r.setBans(bans);
        QCOMPARE(malformedEntries(bans + QStringList{u"  "_s, QString()}),
                 (QStringList{u"Johnny"_s, u"10.0.0.5"_s, u"7 Ohnny"_s}));
        // Neither the shortened text ("hnny", ".0.0.5") nor the whole line matches.
        QVERIFY(!done(r.rules.banCheck().checkBans(
            reply({line(2, 3, u"40"_s, u"Ohnny"_s, u"110.0.0.55:1"_s),
                   line(3, 3, u"40"_s, u"Johnny"_s, u"10.0.0.5:1"_s)}))));
        QVERIFY(r.queue().isEmpty());
        QVERIFY(r.console().filter(u"Bad guy found"_s).isEmpty());
        // The well-formed entry after them takes its own code.
        QVERIFY(done(r.rules.banCheck().checkBans(reply({line(4, 3, u"40"_s, u"Johnny Real"_s)}))));
        QCOMPARE(r.queue(), QStringList{u"clientkick 4"_s});
        QCOMPARE(done(findEntryCode(u"Johnny Real"_s, bans, r.rules.context())), 1);
    }

    void namesLikeHeaderWordsAreChecked()
    {
        Rig r;
        r.settings().setFlag(Key::EventNotify, false);
        r.setBans({u"1 -----"_s, u"1 print"_s});
        QVERIFY(done(r.rules.banCheck().checkBans(
            reply({line(2, 3, u"40"_s, u"--------"_s), line(3, 3, u"40"_s, u"xprintx"_s)}))));
        QCOMPARE(r.queue(), (QStringList{u"clientkick 2"_s, u"clientkick 3"_s}));
    }

    void banListBeyondTheLookupLimit()
    {
        Rig r;
        r.settings().setFlag(Key::EventNotify, false);
        QStringList many;
        for (int i = 0; i < 300; ++i)
            many << u"1 filler"_s + QString::number(1000 + i);
        many[255] = u"4 nobody"_s;
        many[299] = u"0 Mallory"_s;
        r.setBans(many);
        QVERIFY(done(r.rules.banCheck().checkBans(reply({line(6, 5, u"40"_s, u"Mallory"_s)}))));
        // Every entry is matched; the code comes from entry 255; the console says so once.
        QCOMPARE(r.queue(), (QStringList{u"g_killum 6"_s}));
        const QStringList notes = r.console().filter(u"256"_s);
        QCOMPARE(notes.size(), 1);
        QVERIFY(notes.front().contains(u"300"_s));
        done(r.rules.banCheck().checkBans(reply({})));
        QCOMPARE(r.console().filter(u"256"_s).size(), 2);
    }

    // ---- punishments ------------------------------------------------------------------------

    void punishmentTexts()
    {
        Rig r;
        r.settings().setFlag(Key::LearningBan, false);
        const QString five = line(5, 3, u"40"_s, u"Joe"_s);
        r.rules.punisher().killPlayer(five);
        r.rules.punisher().explodePlayer(line(11, 3, u"40"_s, u"Ann"_s));
        r.rules.punisher().forceSpectator(five);
        QCOMPARE(r.queue(),
                 (QStringList{kSay + u"Joe buntetesben van."_s, u"g_killum 5"_s,
                              kSay + u"Ann-t az vigilor most megtomi C4-el, mert szemet volt."_s,
                              u"g_smite 11"_s, kSay + u"Joe csak SPECTATOR lehet."_s,
                              u"g_kicktospec 5"_s}));
        QCOMPARE(r.console(),
                 (QStringList{u"DEBUG:  5 megölve"_s, u"DEBUG: 11 fel lesz robbantva"_s,
                              u"DEBUG:  5 eröltetése spectatorba"_s}));
        QVERIFY(r.clock.waits.isEmpty());
        QVERIFY(r.learning().isEmpty()); // "IP figyelő" off: nothing remembered

        // The kick waits with its chat line queued and its command not yet.
        QStringList queuedAtWait;
        r.clock.onWait = [&] { queuedAtWait = r.queue(); };
        const qsizetype before = r.queue().size();
        done(r.rules.punisher().kickWithReason(five, u"rate"_s));
        QCOMPARE(
            queuedAtWait.mid(before),
            (QStringList{kSay + u"Joe-t az vigilor kirugja, mert megfelelt a ''rate'' feltetelnek. "
                                u"Infoert kerdezzetek az adminokat!"_s}));
        QCOMPARE(r.queue().back(), u"clientkick 5"_s);
        QCOMPARE(r.clock.waits, (QList<int>{3000}));

        // Not a player line: nothing at all.
        const qsizetype lines = r.console().size();
        for (const QString& header : reply({}))
            done(r.rules.punisher().kickWithReason(header, u"x"_s));
        QCOMPARE(r.console().size(), lines);
        QCOMPARE(r.clock.waits.size(), 1);

        // Chat off: console lines and commands still go out. An empty name still gets its chat.
        r.settings().setFlag(Key::EventNotify, false);
        r.rules.punisher().killPlayer(line(7, 0, u"40"_s, QString()));
        QCOMPARE(r.queue().back(), u"g_killum 7"_s);
        QVERIFY(!r.queue().at(r.queue().size() - 2).contains(u"buntetesben"_s));
        r.settings().setFlag(Key::EventNotify, true);
        r.rules.punisher().killPlayer(line(7, 0, u"40"_s, QString()));
        QCOMPARE(r.queue().at(r.queue().size() - 2), kSay + u" buntetesben van."_s);
    }

    void rememberingOffenders()
    {
        Rig r;
        r.settings().setFlag(Key::EventNotify, false);
        Punisher& p = r.rules.punisher();
        r.settings().setFlag(Key::RememberKilled, false);
        p.killPlayer(line(1, 1, u"40"_s, u"A"_s, u"1.1.1.1:1"_s));
        QVERIFY(r.learning().isEmpty());
        p.explodePlayer(line(1, 1, u"40"_s, u"A"_s, u"1.1.1.1:1"_s));
        p.forceSpectator(line(2, 1, u"40"_s, u"B"_s, u"2.2.2.2:1"_s));
        done(p.kickWithReason(line(3, 1, u"40"_s, u"C"_s, u"3.3.3.3:1"_s), u"x"_s));
        QCOMPARE(r.learning(), (QStringList{u"3 1.1.1.1"_s, u"2 2.2.2.2"_s, u"0 3.3.3.3"_s}));

        // A listed address is re-graded, every copy of it, and nothing is added.
        r.rules.learning().setGrade(2, 4);
        r.settings().setFlag(Key::RememberKilled, true);
        p.killPlayer(line(1, 1, u"40"_s, u"A"_s, u"1.1.1.1:1"_s));
        done(p.kickWithReason(line(3, 1, u"40"_s, u"D"_s, u"3.3.3.3:1"_s), u"x"_s));
        QCOMPARE(r.learning(), (QStringList{u"4 1.1.1.1"_s, u"2 2.2.2.2"_s, u"0 3.3.3.3"_s}));

        // Each switch governs its own action.
        for (Key k : {Key::RememberBanned, Key::RememberSpectators, Key::RememberExploded})
            r.settings().setFlag(k, false);
        done(p.kickWithReason(line(4, 1, u"40"_s, u"E"_s, u"4.4.4.4:1"_s), u"x"_s));
        p.forceSpectator(line(4, 1, u"40"_s, u"E"_s, u"4.4.4.4:1"_s));
        p.explodePlayer(line(4, 1, u"40"_s, u"E"_s, u"4.4.4.4:1"_s));
        QCOMPARE(r.learning().size(), 3);
        // A player line without an address is not remembered.
        p.killPlayer(line(5, 1, u"40"_s, u"Bot"_s, u"bot"_s));
        QCOMPARE(r.learning().size(), 3);
    }

    // ---- the learning list ------------------------------------------------------------------

    void learningCheckCatchesRenamedPlayer()
    {
        Rig r;
        r.settings().setFlag(Key::WarnOnLBhit, true);
        r.rules.learning().remember(4, u"10.0.0.9"_s);
        QSignalSpy switched(&r.settings(), &Settings::changed);
        r.check(reply({line(3, 2, u"40"_s, u"NewName"_s, u"10.0.0.9:28960"_s)}));
        QCOMPARE(r.queue(), (QStringList{kSay + u"^3Kedves ^2NewName^3! Allnevezni felesleges!"_s,
                                         kSay + u"NewName buntetesben van."_s, u"g_killum 3"_s}));
        QVERIFY(r.console().contains(u"Learning ban"_s));
        QVERIFY(r.console().contains(u"Bad guy found: 10.0.0.9"_s));
        // No entry was added or re-graded by the punishment, and "IP figyelő" was never switched
        // off for it.
        QCOMPARE(switched.count(), 0);
        QVERIFY(r.settings().flag(Key::LearningBan));
        QCOMPARE(r.learning(), (QStringList{u"4 10.0.0.9"_s}));

        // A kick waits 3 s with the event loop running, where every datagram saves the settings:
        // "IP figyelő" reads on all the while, and the kick remembers nothing either.
        r.rules.learning().setGrade(0, 0);
        bool onDuringTheWait = false;
        r.clock.onWait = [&] { onDuringTheWait = r.settings().flag(Key::LearningBan); };
        done(r.rules.banCheck().checkLearningBans(
            reply({line(3, 2, u"40"_s, u"Other"_s, u"10.0.0.9:28960"_s)})));
        QCOMPARE(r.clock.waits, (QList<int>{3000}));
        QVERIFY(onDuringTheWait);
        QCOMPARE(r.queue().back(), u"clientkick 3"_s);
        QCOMPARE(r.learning(), (QStringList{u"0 10.0.0.9"_s}));
        QCOMPARE(switched.count(), 0);
    }

    void learningCheckMatching()
    {
        Rig r;
        r.settings().setFlag(Key::EventNotify, false);
        r.rules.learning().remember(1, u"1.2.3.4"_s);
        // A plain substring: 1.2.3.4 is in 11.2.3.45.
        done(r.rules.banCheck().checkLearningBans(
            reply({line(8, 3, u"40"_s, u"X"_s, u"11.2.3.45:1"_s)})));
        QCOMPARE(r.queue(), (QStringList{u"clientkick 8"_s}));

        // The roster-wide test folds letter case, the line test does not.
        r.rules.learning().clear();
        r.rules.learning().remember(0, u"Loopback"_s);
        done(r.rules.banCheck().checkLearningBans(reply({line(9, 3, u"40"_s, u"loopbacker"_s)})));
        QVERIFY(r.console().contains(u"Bad guy found: Loopback"_s));
        QCOMPARE(r.queue().size(), 1);

        // When the ban list matched, the learning check does not run at all.
        r.setBans({u"1 Zed"_s});
        r.rules.learning().remember(0, u"1.2.3.4"_s);
        const qsizetype before = r.console().size();
        r.check(reply({line(8, 0, u"40"_s, u"Zed"_s, u"1.2.3.4:1"_s)}));
        QVERIFY(!r.console().mid(before).contains(u"Learning ban"_s));
        QCOMPARE(r.queue().size(), 1);
    }

    void learningSwitchComesBackAfterAFailure()
    {
        Rig r;
        r.rules.learning().remember(1, u"1.2.3.4"_s);
        // The slot column holds no number: the kick fails in the middle of the punishment.
        const QString bad = u" xx"_s + line(0, 3, u"40"_s, u"X"_s, u"1.2.3.4:1"_s).mid(3);
        QVERIFY_THROWS_EXCEPTION(ConversionError,
                                 done(r.rules.banCheck().checkLearningBans(reply({bad}))));
        QVERIFY(r.settings().flag(Key::LearningBan));
    }

    void learningListEditsAndMidnight()
    {
        Rig r;
        LearningList& l = r.rules.learning();
        QSignalSpy changed(&l, &LearningList::changed);
        l.remember(0, u"1.1.1.1"_s);
        l.remember(2, u"2.2.2.2"_s);
        l.setGrade(0, 3);
        l.setGrade(5, 3);
        QCOMPARE(l.gradeOf(0), 3);
        QCOMPARE(l.gradeOf(2), -1);
        l.remove(-1);
        QCOMPARE(l.entries(), (QStringList{u"3 1.1.1.1"_s, u"2 2.2.2.2"_s}));
        l.remove(0);
        QCOMPARE(l.entries(), (QStringList{u"2 2.2.2.2"_s}));
        QCOMPARE(changed.count(), 4);

        r.settings().setFlag(Key::ClearAtMidnight, false);
        r.rules.midnight();
        QCOMPARE(l.entries().size(), 1);
        QVERIFY(r.console().isEmpty());
        r.settings().setFlag(Key::ClearAtMidnight, true);
        r.clock.m_now = QDateTime(QDate(2026, 12, 9), QTime(0, 0, 3));
        r.rules.midnight();
        QVERIFY(l.entries().isEmpty());
        QCOMPARE(r.console(), (QStringList{u"IP lista törölve ekkor: 2026.12.09. 0:00:03"_s}));
    }

    // ---- freeze, rate and ping --------------------------------------------------------------

    void checkLinesAndFrozen()
    {
        const QStringList lines = Watch::checkLines(
            reply({line(1, 1, u"40"_s, u"A"_s), u" 2 3 45"_s, u" 2 3 456"_s, u"junk line"_s}));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.back(), u" 2 3 456"_s);
        QVERIFY(Watch::isFrozen(line(1, 1, u"999"_s, u"A"_s)));
        QVERIFY(Watch::isFrozen(line(1, 1, u"CNCT"_s, u"A"_s)));
        QVERIFY(!Watch::isFrozen(line(1, 0, u"999"_s, u"A"_s)));
        QVERIFY(!Watch::isFrozen(line(1, 1, u"998"_s, u"A"_s)));
    }

    void freezeCheck()
    {
        Rig r;
        Watch& w = r.rules.watch();
        const QString frozen = line(4, 3, u"999"_s, u"Ice"_s);
        w.checkFreeze(reply({frozen, line(5, 0, u"999"_s, u"Fresh"_s)}));
        QCOMPARE(r.queue(), (QStringList{kSay + u"Ice - ^1Kapcsolat akadozik"_s}));
        w.checkFreeze(reply({frozen}));
        QCOMPARE(r.queue().mid(1),
                 (QStringList{u"clientkick 4"_s, kSay + u"Ice kirugva, mert kifagyott"_s}));
        QCOMPARE(w.freezeList(), (QList<int>{4}));

        // Unfrozen in between: the count starts again.
        w.checkFreeze(reply({line(4, 3, u"50"_s, u"Ice"_s)}));
        QVERIFY(w.freezeList().isEmpty());
        w.checkFreeze(reply({frozen}));
        QCOMPARE(r.queue().back(), kSay + u"Ice - ^1Kapcsolat akadozik"_s);
        // A zombie line neither warns nor clears.
        const qsizetype n = r.queue().size();
        w.checkFreeze(reply({line(4, 3, u"ZMBI"_s, u"Ice"_s)}));
        QCOMPARE(r.queue().size(), n);
        QCOMPARE(w.freezeList(), (QList<int>{4}));
        QCOMPARE(r.console().filter(u"AntiFreeze"_s).size(), 5);
    }

    void rateCheckWarnsThenKicks()
    {
        Rig r;
        r.settings().setFlag(Key::LearningBan, false);
        Watch& w = r.rules.watch();
        const QStringList roster = reply({line(2, 1, u"40"_s, u"Slow"_s, u"1.1.1.1:1"_s, 5000),
                                          line(3, 1, u"CNCT"_s, u"Joining"_s, u"1.1.1.2:1"_s, 1),
                                          line(4, 1, u"40"_s, u"Fine"_s, u"1.1.1.3:1"_s, 25000)});
        const QString tip = kSay + u"Slow konzolba ird be: /rate 25000"_s;
        done(w.checkRate(roster));
        done(w.checkRate(
            reply({line(2, 1, u"40"_s, u"Slow"_s, u"1.1.1.1:1"_s, 25000)}))); // no reset
        done(w.checkRate(roster));
        QCOMPARE(r.queue(), (QStringList{tip, tip}));
        done(w.checkRate(roster));
        QCOMPARE(r.queue().back(),
                 kSay + u"^1UTOLJARA SZOLOK ^7Slow! Konzolba ird be: /rate 25000"_s);
        QCOMPARE(w.rateWarnings(), 3);
        done(w.checkRate(roster));
        QCOMPARE(r.queue().mid(3),
                 (QStringList{
                     kSay + u"Oke! Normalisan majd visszajohetsz! Szevasz!"_s,
                     kSay + u"Slow-t az vigilor kirugja, mert megfelelt a ''rate'' feltetelnek. "
                            u"Infoert kerdezzetek az adminokat!"_s,
                     u"clientkick 2"_s, u"status"_s}));
        QCOMPARE(r.clock.waits, (QList<int>{2000, 3000}));
        QCOMPARE(w.rateWarnings(), 0);
        QCOMPARE(r.console().filter(u"rate-je"_s).size(), 4);
        QVERIFY(r.console().contains(u"Slow rate-je 5000"_s));
    }

    void checksNameThePlayerWhereTheHeaderSays()
    {
        Rig r;
        r.settings().setFlag(Key::WarnOnLBhit, true);
        r.rules.learning().remember(4, u"10.0.0.9"_s);
        done(r.rules.banCheck().checkLearningBans(
            noGuidReply({noGuidLine(3, 2, u"40"_s, u"Big Bad Wolf"_s, u"10.0.0.9:28960"_s)})));
        QCOMPARE(r.queue(),
                 (QStringList{kSay + u"^3Kedves ^2Big Bad Wolf^3! Allnevezni felesleges!"_s,
                              kSay + u"Big Bad Wolf buntetesben van."_s, u"g_killum 3"_s}));

        const qsizetype before = r.queue().size();
        Watch& w = r.rules.watch();
        done(w.checkRate(
            noGuidReply({noGuidLine(2, 1, u"40"_s, u"Slow Poke"_s, u"1.1.1.1:1"_s, 5000)})));
        QCOMPARE(r.queue().mid(before),
                 (QStringList{kSay + u"Slow Poke konzolba ird be: /rate 25000"_s}));
        const QStringList frozen =
            noGuidReply({noGuidLine(5, 3, u"CNCT"_s, u"ABCDEFGHIJKLMNOPQRSTUVWXY"_s)});
        w.checkFreeze(frozen);
        w.checkFreeze(frozen);
        QCOMPARE(
            r.queue().mid(before + 1),
            (QStringList{kSay + u"ABCDEFGHIJKLMNOPQRST - ^1Kapcsolat akadozik"_s, u"clientkick 5"_s,
                         kSay + u"ABCDEFGHIJKLMNOPQRST kirugva, mert kifagyott"_s}));
    }

    void rateCheckSharedCounterAndAggressive()
    {
        Rig r;
        r.settings().setFlag(Key::EventNotify, false);
        Watch& w = r.rules.watch();
        // Too high is as wrong as too low; one counter for all: the fourth sighting kicks.
        const QStringList two = reply({line(1, 1, u"40"_s, u"High"_s, u"1.1.1.1:1"_s, 30000),
                                       line(2, 1, u"40"_s, u"Low"_s, u"1.1.1.2:1"_s, 5000)});
        done(w.checkRate(two));
        QVERIFY(r.queue().isEmpty());
        done(w.checkRate(two));
        QCOMPARE(r.queue(), (QStringList{u"clientkick 2"_s, u"status"_s}));

        r.settings().setFlag(Key::KickOnBadRate, true);
        r.settings().setFlag(Key::EventNotify, true);
        done(w.checkRate(reply({line(1, 1, u"40"_s, u"High"_s, u"1.1.1.1:1"_s, 30000)})));
        QCOMPARE(r.queue().mid(2),
                 (QStringList{kSay + u"High-t az vigilor kirugja, mert a rate-je nem 25000"_s,
                              u"clientkick 1"_s}));
        QCOMPARE(r.clock.waits, (QList<int>{2000, 3000})); // no waits for the aggressive kick
        QCOMPARE(w.rateWarnings(), 0);
    }

    void pingCheckLevels()
    {
        Rig r;
        Watch& w = r.rules.watch();
        auto at = [](int ping) { return reply({line(6, 4, QString::number(ping), u"Lag"_s)}); };
        const QString friendly =
            kSay + u"Lag! Tul magas a pinged (100), legyszives csinalj vele valamit!"_s;
        const QString stern =
            kSay + u"Lag! Csinalj valamit a pingeddel, ^1MOST!! ^3Nem szolok tobbet!"_s;
        const QString bye =
            kSay + u"Szoltam mar parszor... ^3Gyere vissza ha rendes pinged lesz!"_s;
        w.checkPing(at(100));
        w.checkPing(at(100));
        QCOMPARE(r.queue(), (QStringList{friendly, friendly}));
        QVERIFY(w.pingWarningList().isEmpty());

        w.checkPing(at(120));
        QCOMPARE(r.queue().back(), stern);
        w.checkPing(at(95)); // listed and in the warning zone: kicked, stays listed
        QCOMPARE(r.queue().mid(3), (QStringList{bye, u"clientkick 6"_s}));
        QCOMPARE(w.pingWarningList(), (QList<int>{6}));
        w.checkPing(at(120)); // listed and at the kick level: kicked, forgotten
        QCOMPARE(r.queue().mid(5), (QStringList{bye, u"clientkick 6"_s}));
        QVERIFY(w.pingWarningList().isEmpty());
        w.checkPing(at(120));
        w.checkPing(at(80)); // forgets the warning
        QVERIFY(w.pingWarningList().isEmpty());
        QCOMPARE(r.queue().size(), 8);
    }

    void pingCheckEndsEarly()
    {
        Rig r;
        Watch& w = r.rules.watch();
        // A player without a score ends the check; the ones after him are not examined.
        w.checkPing(reply({line(1, 0, u"300"_s, u"New"_s), line(2, 5, u"300"_s, u"Old"_s)}));
        QVERIFY(r.queue().isEmpty());
        // A kick from the warning zone ends the check too.
        w.checkPing(reply({line(2, 5, u"300"_s, u"Old"_s)}));
        w.checkPing(reply({line(2, 5, u"100"_s, u"Old"_s), line(3, 5, u"300"_s, u"Next"_s)}));
        QCOMPARE(r.queue().back(), u"clientkick 2"_s);
        QCOMPARE(w.pingWarningList(), (QList<int>{2}));

        // Warning level above the kick level: forgotten and warned again every reply.
        r.settings().set(Key::PingWarningLevel, 150);
        const qsizetype n = r.queue().size();
        for (int i = 0; i < 3; ++i)
            w.checkPing(reply({line(9, 5, u"120"_s, u"Mid"_s)}));
        QCOMPARE(r.queue().size(), n + 3);
        QVERIFY(!r.queue().mid(n).join(u'\n').contains(u"clientkick"_s));
    }

    // ---- the pass, the link and re-entry ----------------------------------------------------

    void passOrderAndSwitches()
    {
        Rig r;
        r.settings().setFlag(Key::RateCheck, true);
        const QStringList headings = {u"Test Bans"_s, u"Learning ban"_s, u"AntiFreeze"_s,
                                      u"Rate Check"_s, u"PingCheck"_s};
        auto pass = [&] {
            const qsizetype before = r.console().size();
            r.check(reply({line(1, 1, u"40"_s, u"A"_s)}));
            QStringList seen;
            for (const QString& l : r.console().mid(before))
                if (headings.contains(l))
                    seen << l;
            return seen;
        };
        QCOMPARE(pass(), headings);
        r.settings().setFlag(Key::LearningBan, false);
        QCOMPARE(pass(), headings.mid(0, 1) + headings.mid(2));
        r.settings().setFlag(Key::LearningBan, true);
        r.settings().setFlag(Key::TestBans, false); // takes the learning check with it
        r.settings().setFlag(Key::AntiFreeze, false);
        QCOMPARE(pass(), headings.mid(3));
        r.settings().setFlag(Key::RateCheck, false);
        r.settings().setFlag(Key::PingCheck, false);
        QVERIFY(pass().isEmpty());
    }

    void linkLostInTheMiddle()
    {
        // Disconnected by the first warning: the rest of the check is skipped.
        Rig r;
        r.onSay = [&](const QString&) {
            if (r.robot.link().isConnected()) {
                r.robot.link().connectAction();
                settle(r.robot.link());
            }
        };
        r.rules.watch().checkFreeze(
            reply({line(1, 3, u"999"_s, u"A"_s), line(2, 3, u"999"_s, u"B"_s)}));
        QVERIFY(!r.robot.link().isConnected());
        QCOMPARE(r.rules.watch().freezeList(), (QList<int>{1}));
        QVERIFY(r.queue().isEmpty());

        // Closed at the start: nothing is queued and no state is changed.
        r.rules.watch().checkPing(reply({line(3, 3, u"500"_s, u"C"_s)}));
        QVERIFY(r.rules.watch().pingWarningList().isEmpty());
        done(r.rules.punisher().kickWithReason(line(3, 3, u"50"_s, u"C"_s), u"x"_s));
        QVERIFY(r.clock.waits.isEmpty());
        QVERIFY(r.learning().isEmpty());

        // Closed and opened again during the kick's wait: the kick is not queued on the new
        // session, nothing is remembered, the second offender is left for the next roster.
        Rig t;
        t.setBans({u"0 Cheat"_s});
        t.clock.onWait = [&] {
            t.robot.link().connectAction();
            settle(t.robot.link());
            t.robot.link().connectAction();
            settle(t.robot.link());
            t.robot.link().pacer().stop();
        };
        QVERIFY(done(t.rules.banCheck().checkBans(
            reply({line(1, 3, u"40"_s, u"Cheat1"_s), line(2, 3, u"40"_s, u"Cheat2"_s)}))));
        QVERIFY(t.robot.link().isConnected());
        QCOMPARE(t.clock.waits.size(), 1);
        QVERIFY(!t.queue().join(u'\n').contains(u"clientkick"_s));
        QVERIFY(t.learning().isEmpty());
    }

    // The link dropped by an event that runs between two punishments (the check is back in the
    // event loop then): the check ends there, and the second offender is left alone.
    void linkDroppedBetweenPunishments()
    {
        Rig r;
        r.settings().setFlag(Key::EventNotify, false);
        r.setBans({u"4 Cheat"_s});
        bool connectedThen = false;
        QTimer::singleShot(0, &r.rules, [&] {
            connectedThen = r.robot.link().isConnected();
            r.robot.link().connectAction();
        });
        QVERIFY(done(r.rules.banCheck().checkBans(
            reply({line(1, 3, u"40"_s, u"Cheat1"_s), line(2, 3, u"40"_s, u"Cheat2"_s)}))));
        QVERIFY(connectedThen);
        QVERIFY(!r.robot.link().isConnected());
        const QStringList debug = r.console().filter(u"DEBUG"_s);
        QCOMPARE(debug, QStringList{u"DEBUG:  1 megölve"_s});
    }

    void rateKickLostWithTheLink()
    {
        Rig r;
        Watch& w = r.rules.watch();
        const QStringList slow = reply({line(2, 1, u"40"_s, u"Slow"_s, u"1.1.1.1:1"_s, 5000)});
        for (int i = 0; i < 3; ++i)
            done(w.checkRate(slow));
        r.clock.onWait = [&] {
            if (r.clock.waits.back() == Punisher::kKickWaitMs) {
                r.robot.link().connectAction();
                settle(r.robot.link());
            }
        };
        done(w.checkRate(slow));
        // The kick never went out, so the count stays: the next wrong reading kicks.
        QCOMPARE(r.clock.waits, (QList<int>{2000, 3000}));
        QCOMPARE(w.rateWarnings(), 4);
        QVERIFY(r.learning().isEmpty());
    }

    void rosterReplacedDuringACheck()
    {
        Rig r;
        r.settings().setFlag(Key::EventNotify, false);
        r.setBans({u"1 Cheat"_s});
        QStringList roster =
            reply({line(1, 3, u"40"_s, u"Cheat1"_s), line(2, 3, u"40"_s, u"Cheat2"_s)});
        // The roster the check was handed is replaced while it yields to the event loop, after
        // the first punishment.
        QStringList queuedThen;
        QTimer::singleShot(0, &r.rules, [&] {
            queuedThen = r.queue();
            roster = reply({});
        });
        QVERIFY(done(r.rules.banCheck().checkBans(roster)));
        QCOMPARE(queuedThen, QStringList{u"clientkick 1"_s});
        QCOMPARE(r.queue(), (QStringList{u"clientkick 1"_s, u"clientkick 2"_s}));
    }

    // A roster that comes while a pass is open (here in its kick's wait) waits in the reply
    // intake and is checked after the pass, never inside it; the rules refuse a second pass
    // asked for meanwhile.
    void rosterArrivingInsideAPassWaits()
    {
        Rig r;
        r.setBans({u"0 Cheat"_s});
        Rules& rules = r.robot.rules(); // the rules the intake hands its rosters to
        bool nested = false;
        bool refused = false;
        r.clock.onWait = [&] {
            if (std::exchange(nested, true))
                return;
            r.robot.intake().handleDatagram(
                statusDatagram(reply({line(9, 1, u"40"_s, u"Later"_s, u"10.8.8.8:28960"_s)})));
            try {
                rules.runChecks(reply({line(8, 1, u"40"_s, u"Cheat8"_s)}));
            } catch (const Error&) {
                refused = true;
            }
        };
        r.robot.intake().handleDatagram(statusDatagram(reply({line(1, 3, u"40"_s, u"Cheat"_s)})));
        QVERIFY(QTest::qWaitFor([&] { return r.console().count(u"PingCheck"_s) == 2; }, 5000));
        QVERIFY(!rules.checking());
        QVERIFY(refused);
        QCOMPARE(r.robot.roster().rows().size(), 1);
        QCOMPARE(r.robot.roster().rows()[0][3], u"Later"_s);
        QVERIFY(!r.queue().contains(u"clientkick 8"_s));
        const QStringList c = r.console();
        const qsizetype firstPing = c.indexOf(u"PingCheck"_s);
        QCOMPARE(c.count(u"Test Bans"_s), 2);
        QVERIFY(firstPing >= 0);
        // The second roster's datagram, whole, after the first pass.
        QVERIFY(c.lastIndexOf(u"..:: 1 játékos a szerveren ::.."_s) > firstPing);
        QVERIFY(c.lastIndexOf(u"Test Bans"_s) > firstPing);
        QCOMPARE(r.queue().filter(u"clientkick"_s), QStringList{u"clientkick 1"_s});
    }

    void ledgerTiesRostersToTheirStatus()
    {
        QCOMPARE(Ledger::punishedSlot(u"clientkick 4"), 4);
        QCOMPARE(Ledger::punishedSlot(u"g_killum 12"), 12);
        QCOMPARE(Ledger::punishedSlot(u"g_smite 0"), 0);
        QCOMPARE(Ledger::punishedSlot(u"g_kicktospec 7"), 7);
        for (QStringView other : {u"clientkick ", u"clientkick x", u"clientkick 4 5", u"status",
                                  u"g_switchteam 4", u"say clientkick 4"})
            QVERIFY2(!Ledger::punishedSlot(other), qPrintable(other.toString()));

        Rig r;
        Ledger& ledger = r.rules.ledger();
        Link& link = r.robot.link();
        QVERIFY(!ledger.rosterSerial()); // no roster yet: nothing is held back
        const auto send = [&](const QString& command) {
            link.enqueueCommand(command);
            link.pacerTick();
            return link.sentCount();
        };
        const quint64 firstStatus = send(u"status"_s);
        const quint64 kick = send(u"clientkick 4"_s);
        const quint64 secondStatus = send(u"status"_s);
        // Two polls in flight: the first reply answers the first, the next one the second.
        ledger.rosterReplaced();
        QCOMPARE(ledger.rosterSerial(), firstStatus);
        QCOMPARE(ledger.newerPunishment(4, firstStatus), u"clientkick 4"_s);
        QVERIFY(ledger.newerPunishment(5, firstStatus).isEmpty());
        ledger.rosterReplaced();
        QCOMPARE(ledger.rosterSerial(), secondStatus);
        QVERIFY(ledger.newerPunishment(4, secondStatus).isEmpty());
        QVERIFY(kick < secondStatus);
        // A punishment still in the queue is newer than any roster.
        link.enqueueCommand(u"g_killum 4"_s);
        QCOMPARE(ledger.newerPunishment(4, secondStatus), u"g_killum 4"_s);
    }

    // ---- the player table's menu ------------------------------------------------------------

    void menuItems()
    {
        QStringList captions, names;
        for (const MenuItem& item : listMenuItems()) {
            captions << item.caption;
            names << item.objectName;
        }
        QCOMPARE(captions,
                 (QStringList{u"Frissítés"_s, u"-"_s, u"Részletes infók"_s, u"-"_s, u"Kirúgás"_s,
                              u"Kitiltás (név alapján)"_s, u"Kitiltás (IP alapján)"_s,
                              u"----- AWE szükséges -----"_s, u"Kill (min AWE 2.1x)"_s,
                              u"Felrobbant (min AWE 2.1x)"_s, u"Csapat váltás (min AWE 2.1x)"_s,
                              u"Nézelődő (min AWE 2.1x)"_s}));
        QCOMPARE(names, (QStringList{u"RefreshItem"_s,
                                     {},
                                     u"Dump"_s,
                                     {},
                                     u"KickItem"_s,
                                     u"BanNameItem"_s,
                                     u"BanIPItem"_s,
                                     {},
                                     u"KillPlayerAWE21x1"_s,
                                     u"Smite1"_s,
                                     u"SwitchTeam1"_s,
                                     u"SpectatePlayerminAWE21x1"_s}));
        QCOMPARE(listMenuItems().front().shortcut, u"F5"_s);
        QVERIFY(!listMenuItems().at(7).enabled);
    }

    void menuActions()
    {
        Rig r;
        RosterMenu& m = r.rules.menu();
        QSignalSpy console(&m, &RosterMenu::consoleTabRequested);
        QSignalSpy form(&m, &RosterMenu::banFormReset);
        const TableRow row =
            TableRow::fromCells({u"7"_s, u"3"_s, u"40"_s, u"Player"_s, u"10.0.0.5"_s, u"25000"_s});
        for (const MenuItem& item : listMenuItems())
            m.run(item.action, row);
        QCOMPARE(r.queue(),
                 (QStringList{u"status"_s, u"dumpuser \"Playe\""_s, u"clientkick 7"_s, u"status"_s,
                              u"status"_s, u"status"_s, u"g_killum 7"_s, u"g_smite 7"_s,
                              u"g_switchteam 7"_s, u"g_kicktospec 7"_s}));
        QCOMPARE(console.count(), 1);
        QCOMPARE(form.count(), 2);
        QCOMPARE(r.settings().banList(), (QStringList{u"0 10.0.0.5"_s, u"0 Player"_s}));

        // An existing entry is re-graded to 0; the title row bans nothing.
        r.setBans({u"3 PLAYER"_s});
        m.banByName(row);
        QCOMPARE(r.settings().banList(), (QStringList{u"0 PLAYER"_s}));
        const TableRow title = TableRow::fromCells(roster::Roster::headerRow());
        m.banByName(title);
        m.banByAddress(title);
        QCOMPARE(r.settings().banList(), (QStringList{u"0 PLAYER"_s}));
        m.dump(TableRow{});
        QCOMPARE(r.queue().back(), u"dumpuser \"\""_s);
    }

    // ---- end to end over UDP ----------------------------------------------------------------

    void bannedPlayerKickedThenCaughtUnderANewName()
    {
        Live l({player(1, u"Honest"_s, 5, 40, u"10.0.1.1:28960"_s),
                player(4, u"^1Chea^7ter"_s, 2, 45, u"10.0.0.4:28960"_s)});
        l.robot.settings().setFlag(Key::WarnOnLBhit, true);
        l.robot.settings().setBanList({u"0 Cheater"_s});
        QVERIFY(l.pass());
        QVERIFY(
            l.heard(u"Cheater-t az vigilor kirugja, mert megfelelt a ''0 Cheater'' feltetelnek. "
                    u"Infoert kerdezzetek az adminokat!"_s));
        QVERIFY(l.received(u"clientkick 4"_s));
        QVERIFY(
            l.at(u"say ^1vigilor^2> ^7Cheater-t az vigilor kirugja, mert megfelelt a ''0 Cheater'' "
                 u"feltetelnek. Infoert kerdezzetek az adminokat!"_s) < l.at(u"clientkick 4"_s));
        QVERIFY(l.clock.waits().contains(3000));
        QCOMPARE(l.rules.learning().entries(), (QStringList{u"0 10.0.0.4"_s}));
        QVERIFY(l.pass());
        QVERIFY(!l.listed(u"Cheater"_s));
        QVERIFY(l.listed(u"Honest"_s));

        // Back under another name from the same address: the learning list knows him.
        l.server.addPlayer(player(6, u"Angel"_s, 1, 50, u"10.0.0.4:28960"_s));
        QVERIFY(l.pass());
        QVERIFY(l.heard(u"^3Kedves ^2Angel^3! Allnevezni felesleges!"_s));
        QVERIFY(l.received(u"clientkick 6"_s));
        QVERIFY(l.server.sayLines().contains(u"^1vigilor^2> ^7Angel-t az vigilor kirugja, mert "
                                             u"megfelelt a ''0 10.0.0.4'' feltetelnek. "
                                             u"Infoert kerdezzetek az adminokat!"_s));
        QVERIFY(l.pass());
        QVERIFY(!l.listed(u"Angel"_s));
        QVERIFY(!l.server.receivedCommands().contains(u"clientkick 1"_s));
    }

    void namesInBothLayouts_data()
    {
        QTest::addColumn<RconServer::Layout>("layout");
        QTest::newRow("guid") << RconServer::Layout::Guid;
        QTest::newRow("no guid") << RconServer::Layout::NoGuid;
    }

    void namesInBothLayouts()
    {
        QFETCH(RconServer::Layout, layout);
        Live l({player(1, u"Big Bad Wolf"_s, 5, 40, u"10.0.1.1:28960"_s),
                player(2, u"ABCDEFGHIJKLMNOPQRSTUVWXY"_s, 3, 40, u"10.0.1.2:28960"_s),
                player(3, u"^1Red^7Baron"_s, 2, 40, u"10.0.1.3:28960"_s)});
        l.server.setLayout(layout);
        l.server.setFloodGuardMs(0);
        l.robot.link().setPacerInterval(50);
        // The reply comes in many datagrams; only the first holds the column header.
        l.server.setChunkSize(90);
        QVERIFY(l.pass());
        const QList<QStringList>& rows = l.robot.roster().rows();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].mid(3, 2), (QStringList{u"Big Bad Wolf"_s, u"10.0.1.1"_s}));
        QCOMPARE(rows[1].mid(3, 2), (QStringList{u"ABCDEFGHIJKLMNOPQRST"_s, u"10.0.1.2"_s}));
        QCOMPARE(rows[2].mid(3, 2), (QStringList{u"RedBaron"_s, u"10.0.1.3"_s}));
        QVERIFY(l.robot.console()
                    .lines()
                    .filter(u" csomagrészlet érkezett"_s)
                    .constLast()
                    .contains(QRegularExpression(u">> ([3-9]|\\d\\d+) csomag"_s)));
    }

    void noGuidServerBanByNameAndKickMessage()
    {
        Live l({player(1, u"Honest Abe"_s, 5, 40, u"10.0.1.1:28960"_s),
                player(4, u"^1Chea^7ter Pro"_s, 2, 45, u"10.0.0.4:-4242"_s)});
        l.server.setLayout(RconServer::Layout::NoGuid);
        l.server.setFloodGuardMs(0);
        l.robot.link().setPacerInterval(50);
        l.robot.settings().setBanList({u"0 cheater"_s});
        QVERIFY(l.pass());
        const QString kickChat =
            u"Cheater Pro-t az vigilor kirugja, mert megfelelt a ''0 cheater'' "
            u"feltetelnek. Infoert kerdezzetek az adminokat!"_s;
        QVERIFY(l.heard(kickChat));
        QVERIFY(l.received(u"clientkick 4"_s));
        QVERIFY(l.at(u"say ^1vigilor^2> ^7"_s + kickChat) < l.at(u"clientkick 4"_s));
        // The port printed as a negative number is cut off like any other.
        QCOMPARE(l.rules.learning().entries(), (QStringList{u"0 10.0.0.4"_s}));
        QVERIFY(l.pass());
        QVERIFY(!l.listed(u"Cheater Pro"_s));
        QVERIFY(l.listed(u"Honest Abe"_s));

        // The table's name is the one the player's details are asked for.
        l.rules.menu().run(MenuAction::Dump, TableRow::fromCells(l.robot.roster().rows().value(0)));
        QVERIFY(l.received(u"dumpuser \"Honest Ab\""_s));
        QVERIFY(!l.server.receivedCommands().contains(u"clientkick 1"_s));
    }

    void addressesAsServersPrintThem()
    {
        Live l({player(1, u"Local"_s, 5, 40, u"loopback"_s),
                player(2, u"Sniper"_s, 3, 40, u"bot"_s),
                player(3, u"Far"_s, 2, 40, u"203.0.113.9:-31000"_s),
                player(5, u"Other"_s, 4, 40, u"10.0.0.5:28960"_s)});
        l.server.setLayout(RconServer::Layout::NoGuid);
        l.server.setFloodGuardMs(0);
        l.robot.link().setPacerInterval(50);
        QVERIFY(l.pass());
        QStringList addresses;
        for (const QStringList& row : l.robot.roster().rows())
            addresses << row.value(4);
        QCOMPARE(addresses,
                 (QStringList{u"loopback"_s, u"bot"_s, u"203.0.113.9"_s, u"10.0.0.5"_s}));

        // Entries match the addresses as printed; none but a real address is remembered.
        l.robot.settings().setBanList({u"0 loopback"_s, u"3 bot"_s, u"2 203.0.113.9:-31000"_s});
        QVERIFY(l.pass());
        QVERIFY(l.received(u"clientkick 1"_s));
        QVERIFY(l.received(u"g_smite 2"_s));
        QVERIFY(l.received(u"g_kicktospec 3"_s));
        QVERIFY(l.heard(u"Local-t az vigilor kirugja, mert megfelelt a ''0 loopback'' feltetelnek. "
                        u"Infoert kerdezzetek az adminokat!"_s));
        QCOMPARE(l.rules.learning().entries(), (QStringList{u"2 203.0.113.9"_s}));
        QVERIFY(!l.server.receivedCommands().contains(u"clientkick 5"_s));
    }

    void staleRosterPunishesNoOneTwice()
    {
        Live l({player(1, u"Honest"_s, 5, 40, u"10.0.1.1:28960"_s),
                player(4, u"Cheat4"_s, 2, 45, u"10.0.0.4:28960"_s),
                player(5, u"Cheat5"_s, 2, 45, u"10.0.0.5:28960"_s)});
        l.server.setFloodGuardMs(0);
        l.robot.link().setPacerInterval(50);
        l.robot.settings().setBanList({u"0 Cheat"_s});
        // The roster poll comes due while the first kick waits, so a status leaves ahead of
        // the kicks: its reply still lists both cheats.
        l.clock.onWait = [&l, polled = false]() mutable {
            if (!std::exchange(polled, true))
                l.robot.link().enqueueCommand(u"status"_s);
        };
        // A newcomer takes slot 4 as soon as it is freed; the cheat of slot 5 is back at once.
        QObject::connect(
            &l.server, &RconServer::commandReceived, &l.server, [&l](const QString& command) {
                QTimer::singleShot(0, &l.server, [&l, command] {
                    if (command == u"clientkick 4")
                        l.server.addPlayer(player(4, u"Newcomer"_s, 0, 50, u"10.0.2.4:28960"_s));
                    if (command == u"clientkick 5")
                        l.server.addPlayer(player(5, u"Cheat5"_s, 2, 45, u"10.0.0.5:28960"_s));
                });
            });
        QVERIFY(l.pass());
        QVERIFY(QTest::qWaitFor([&] { return l.passes >= 2; }, 5000));
        QVERIFY(l.received(u"clientkick 5"_s));
        QTest::qWait(200); // what a second pass would have queued has left by now
        QCOMPARE(l.server.receivedCommands().count(u"clientkick 4"_s), 1);
        QCOMPARE(l.server.receivedCommands().count(u"clientkick 5"_s), 1);
        const QStringList c = l.robot.console().lines();
        const auto logged = [&c](const QString& text) {
            return std::any_of(c.begin(), c.end(),
                               [&](const QString& x) { return x.endsWith(text); });
        };
        QVERIFY(logged(u"Elavult lista: a 4. slot kimarad, mert a lista a \"clientkick 4\" "
                       u"elküldése előtt készült"_s));
        QVERIFY(logged(u"Elavult lista: a 5. slot kimarad, mert a lista a \"clientkick 5\" "
                       u"elküldése előtt készült"_s));

        // A roster taken after the kicks punishes the cheat who is still there, and only him.
        QVERIFY(l.pass());
        QVERIFY(QTest::qWaitFor(
            [&] { return l.server.receivedCommands().count(u"clientkick 5"_s) == 2; }, 5000));
        QVERIFY(l.pass());
        QCOMPARE(l.server.receivedCommands().count(u"clientkick 4"_s), 1);
        QVERIFY(l.listed(u"Newcomer"_s));
        QVERIFY(!l.server.receivedCommands().contains(u"clientkick 1"_s));
    }

    void highPingWarnedThenKicked()
    {
        Live l({player(1, u"Steady"_s, 5, 40, u"10.0.1.1:28960"_s),
                player(3, u"Laggy"_s, 4, 150, u"10.0.1.3:28960"_s)});
        QVERIFY(l.pass());
        QVERIFY(l.heard(u"Laggy! Csinalj valamit a pingeddel, ^1MOST!! ^3Nem szolok tobbet!"_s));
        QVERIFY(!l.server.receivedCommands().contains(u"clientkick 3"_s));
        QVERIFY(l.pass());
        QVERIFY(l.heard(u"Szoltam mar parszor... ^3Gyere vissza ha rendes pinged lesz!"_s));
        QVERIFY(l.received(u"clientkick 3"_s));
        QVERIFY(l.pass());
        QVERIFY(!l.listed(u"Laggy"_s));
        QVERIFY(l.listed(u"Steady"_s));
    }

    void frozenPlayerWarnedThenKicked()
    {
        Player frosty = player(2, u"Frosty"_s, 3, 0, u"10.0.1.2:28960"_s);
        frosty.state = Player::Connecting;
        Live l({player(1, u"Steady"_s, 5, 40, u"10.0.1.1:28960"_s), frosty});
        l.robot.settings().setFlag(Key::PingCheck, false); // a frozen ping is also a high one
        QVERIFY(l.pass());
        QVERIFY(l.heard(u"Frosty - ^1Kapcsolat akadozik"_s));
        QVERIFY(l.pass());
        QVERIFY(l.received(u"clientkick 2"_s));
        QVERIFY(l.heard(u"Frosty kirugva, mert kifagyott"_s));
        QVERIFY(l.pass());
        QVERIFY(!l.listed(u"Frosty"_s));
        QVERIFY(l.listed(u"Steady"_s));
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "test_rules.moc"
