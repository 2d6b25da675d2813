// The engine as the program assembles it: settings loaded and saved around the datagrams, the
// rule checks and the command channel reached through the robot's own wiring, over UDP against
// the practice server.
#include "robot/robot.h"
#include "support/fakes.h"
#include "testserver/rconserver.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using testserver::Player;
using testserver::RconServer;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

Player player(int slot, const QString& name, const QString& address, int score = 3)
{
    Player p;
    p.slot = slot;
    p.name = name;
    p.address = address;
    p.score = score;
    p.ping = 50;
    return p;
}

struct Harness
{
    QTemporaryDir dir;
    QTemporaryDir config;
    FakeClock clock;
    ScriptedDialogs dialogs;
    std::unique_ptr<Robot> robot;
    RconServer server;

    Harness()
    {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        server.setPassword(u"pw"_s);
        server.setFloodGuardMs(0);
        server.start();
    }
    QString path(const QString& name) const { return dir.path() + u'/' + name; }
    // An operator's settings file pointing at the practice server.
    void writeSettings(const QByteArray& extra = {})
    {
        writeFile(path(u"vigilor.ini"_s),
                  "[System]\r\nEventNotify=1\r\n" + extra + "[ServerInfo]\r\nIP=127.0.0.1\r\nPort=" +
                      QByteArray::number(server.port()) + "\r\nPWD=" + scrambled("pw") + "\r\n");
    }
    static QByteArray scrambled(const QByteArray& plain)
    {
        QByteArray out = plain;
        for (int k = 1; k <= out.size(); ++k)
            out[k - 1] = static_cast<char>(out[k - 1] ^ (k % 256));
        return out;
    }
    void start()
    {
        robot = std::make_unique<Robot>(dir.path() + u'/', clock, dialogs);
        robot->startUp();
        robot->loadSettings();
    }
    bool waitFor(const std::function<bool()>& condition, int ms = 8000)
    {
        return QTest::qWaitFor(condition, ms);
    }
};

} // namespace

class TestRobot final : public QObject
{
    Q_OBJECT

private slots:
    void firstStartDefaultsAndFilesAfterTheFirstReply()
    {
        Harness h;
        h.start();
        Settings& s = h.robot->settings();
        QCOMPARE(s.timeInterval(), 60);
        QCOMPARE(h.robot->link().rosterPoll().interval(), 60000);
        QVERIFY(s.flag(Key::TestBans));
        QVERIFY(!QFile::exists(h.path(u"vigilor.ini"_s))); // nothing written before a reply

        s.setHost(u"127.0.0.1"_s);
        s.setPort(QString::number(h.server.port()));
        s.setPassword(u"pw"_s);
        h.robot->link().connectAction();
        settle(h.robot->link());
        h.robot->link().enqueueCommand(u"serverinfo"_s);
        QVERIFY(h.waitFor([&] { return QFile::exists(h.path(u"vigilor.ini"_s)); }));
        for (const char16_t* name : {u"bans.txt", u"Messages.txt", u"SyncURLs.txt"})
            QVERIFY2(QFile::exists(h.path(QString::fromUtf16(name))), qPrintable(QString::fromUtf16(name)));
        QFile ini(h.path(u"vigilor.ini"_s));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray content = ini.readAll();
        QVERIFY(content.startsWith("[System]\r\nEventNotify=1\r\nAutoStart=0\r\n"));
        QVERIFY(content.contains("IP=127.0.0.1\r\n"));
    }

    // A save cut short by a kill leaves its new content under a temporary name beside the file.
    // The next start removes such leftovers of its own files, and nothing else.
    void startRemovesWhatInterruptedSavesLeft()
    {
        Harness h;
        h.writeSettings();
        QVERIFY(QDir(h.dir.path()).mkpath(u"logs/bans.txt.Folder"_s));
        const QStringList leftovers = {u"vigilor.ini.AbCdEf"_s, u"bans.txt.x9Y8z7"_s,
                                       u"vigilor.ini.bak.QwErTy"_s, u"SyncURLs.txt.aaaaaa"_s,
                                       u"Scheduling.ini.Sch123"_s, u"rconpb.ban.Ban456"_s,
                                       u"logs/console (2026.12.07.).log.ZzZzZz"_s};
        // Windows folds the case of names: there VIGILOR.INI.AbCdEf is vigilor.ini.AbCdEf.
#ifdef Q_OS_WIN
        const QStringList otherCase;
#else
        const QStringList otherCase = {u"VIGILOR.INI.AbCdEf"_s};
#endif
        const QStringList others = QStringList{u"vigilor.ini.AbCdE"_s,     u"vigilor.ini.AbCd-f"_s,
                                               u"notes.txt.AbCdEf"_s,      u"bans.txt.bak"_s,
                                               u"logs/other.log.AbCdEf"_s, u"xbans.txt.AbCdEf"_s,
                                               u"logs/console (x).log.AbCdEfG"_s} +
                                   otherCase;
        for (const QString& name : leftovers + others)
            writeFile(h.path(name), "x\r\n");
#ifdef Q_OS_WIN
        // Windows' links made without privileges are shortcuts, plain files.
        const QStringList links;
#else
        const QStringList links = {u"Messages.txt.LnkLnk"_s};
        QVERIFY(QFile::link(h.path(u"notes.txt.AbCdEf"_s), h.path(links.front())));
#endif
        QVERIFY(QDir(h.dir.path()).mkdir(u"bans.txt.Folder"_s));
        h.start();
        for (const QString& name : leftovers)
            QVERIFY2(!QFileInfo::exists(h.path(name)), qPrintable(name));
        for (const QString& name :
             others + links + QStringList{u"vigilor.ini"_s, u"bans.txt.Folder"_s})
            QVERIFY2(QFileInfo::exists(h.path(name)), qPrintable(name));
        const QString console = h.robot->console().lines().join(u'\n');
        for (const QString& name : leftovers)
            QVERIFY2(console.contains(u"Félbeszakadt mentés maradéka törölve: "_s + h.path(name)),
                     qPrintable(console));
        QCOMPARE(h.robot->settings().port(), QString::number(h.server.port())); // loaded as before
    }

    void storedServerAutoConnectAndIntervals()
    {
        Harness h;
        h.writeSettings("AutoConnect=1\r\nTimeInterval=5\r\n[Service]\r\nCommandListener=1\r\n");
        h.start();
        QVERIFY(h.robot->link().isConnected());
        QCOMPARE(h.robot->settings().timeInterval(), 30);
        QCOMPARE(h.robot->link().rosterPoll().interval(), 30000);
        QVERIFY(h.robot->interpreter().pollTimer().isActive());
        QCOMPARE(h.robot->interpreter().pollTimer().interval(), 10000);
        QVERIFY(h.dialogs.messages().isEmpty()); // a load never shows the listener's warning
    }

    void banLinesWithoutACodeAreSaidAtLoad()
    {
        Harness h;
        h.writeSettings();
        writeFile(h.path(u"bans.txt"_s), "Johnny\r\n0 Bob\r\n10.0.0.5\r\n");
        h.start();
        QCOMPARE(h.robot->console().lines().filter(u"bans.txt"_s).size(), 1);
        const QString said = h.robot->console().lines().filter(u"bans.txt"_s).front();
        QVERIFY(said.endsWith(u" >> bans.txt: a kód és szóköz nélküli sorokat a robot figyelmen "
                              u"kívül hagyja: 10.0.0.5 | Johnny"_s));
        // The lines stay in the list and the file as they are.
        QCOMPARE(h.robot->settings().banList(),
                 (QStringList{u"0 Bob"_s, u"10.0.0.5"_s, u"Johnny"_s}));
    }

    void bannedPlayerIsToldAndKicked()
    {
        Harness h;
        h.writeSettings("AutoConnect=1\r\n");
        writeFile(h.path(u"bans.txt"_s), "0 onion\r\n");
        h.server.setPlayers({player(0, u"Friend"_s, u"10.0.0.1:28960"_s),
                             player(4, u"^1Onion^7Head"_s, u"10.0.0.9:28960"_s)});
        h.start();
        QVERIFY(h.robot->link().isConnected());
        h.robot->link().enqueueCommand(u"status"_s);
        QVERIFY(h.waitFor([&] { return h.server.receivedCommands().contains(u"clientkick 4"_s); }, 10000));
        const QStringList said = h.server.sayLines();
        const qsizetype reason = said.indexOf(QRegularExpression(u".*OnionHead.*kirugja.*onion.*"_s));
        QVERIFY2(reason >= 0, qPrintable(said.join(u" | "_s)));
        QVERIFY(h.clock.waits().contains(3000)); // the kick waited for the chat line
        QCOMPARE(h.server.players().size(), 1);
        // The offender's address is remembered for a later visit under another name.
        QVERIFY(h.robot->rules().learning().entries().join(u'\n').contains(u"10.0.0.9"_s));
    }

    void channelCommandThroughThePoll()
    {
        Harness h;
        h.writeSettings("AutoConnect=1\r\n");
        h.start();
        h.server.setVariable(u"vigilor"_s, u"RSAY Hello World"_s);
        h.robot->interpreter().pollChannel();
        QVERIFY(h.waitFor([&] { return h.server.variable(u"vigilor"_s) == u"nil"_s; }));
        QVERIFY(h.server.receivedCommands().contains(u"say ^1vigilor^2> ^7parancs erkezett"_s));
        QVERIFY(h.server.receivedCommands().contains(u"say ^1vigilor^2> ^7hello world"_s));
        // The answer was interpreted, not written to the console.
        QVERIFY(!h.robot->console().lines().join(u'\n').contains(u"is:\""_s));
    }

    void channelLoadKeepsTheLinkAndTheCommandsChanges()
    {
        Harness h;
        h.writeSettings("AutoConnect=1\r\n");
        h.start();
        QVERIFY(h.robot->link().isConnected());
        h.robot->saveSettings();
        // "ban overload" bans and, holding the word, also reloads the settings.
        h.server.setVariable(u"vigilor"_s, u"ban overload"_s);
        h.robot->interpreter().pollChannel();
        QVERIFY(h.waitFor([&] { return h.server.variable(u"vigilor"_s) == u"nil"_s; }));
        QVERIFY(h.robot->link().isConnected());
        QVERIFY(h.robot->settings().banList().contains(u"0 overload"_s));
        QFile bans(h.path(u"bans.txt"_s));
        QVERIFY(bans.open(QIODevice::ReadOnly));
        QCOMPARE(bans.readAll(), QByteArray("0 overload\r\n"));
        QVERIFY(h.server.receivedCommands().contains(u"say ^1vigilor^2> ^7parancs erkezett"_s));
        // The next poll reads "nil" and the robot stays on duty.
        h.robot->link().enqueueCommand(u"status"_s);
        QVERIFY(h.waitFor([&] { return h.server.receivedCommands().endsWith(u"status"_s); }));
        QVERIFY(h.robot->link().isConnected());
    }

    // A garbled channel answer cannot split a ban entry or a message over two lines of their
    // files, blank a list file out with a NUL, or smuggle a command of its own into a chat line.
    void garbledChannelAnswerKeepsEveryLineOneLine()
    {
        Harness h;
        h.writeSettings("AutoConnect=1\r\n");
        writeFile(h.path(u"Messages.txt"_s), "first\r\n");
        h.start();
        QVERIFY(h.robot->link().isConnected());
        const auto answer = [&](const QByteArray& value) {
            h.robot->intake().handleDatagram("\xff\xff\xff\xffprint\n\"vigilor\" is:\"" + value +
                                             "^7\" default:\"nil^7\"\n");
        };
        answer(QByteArray("ban evil\r\n0 x\0y", 15));
        answer("anounce two\nlines");
        answer("rsay hi\nquit");
        QCOMPARE(h.robot->settings().banList(), QStringList{u"0 evil  0 x y"_s});
        QCOMPARE(h.robot->settings().messages(), QStringList{u"two lines"_s});
        QVERIFY(h.robot->link().queue().contains(u"say ^1vigilor^2> ^7hi quit"_s));
        QFile bans(h.path(u"bans.txt"_s));
        QVERIFY(bans.open(QIODevice::ReadOnly));
        QCOMPARE(bans.readAll(), QByteArray("0 evil  0 x y\r\n"));

        Robot again(h.dir.path() + u'/', h.clock, h.dialogs);
        again.loadSettings();
        QCOMPARE(again.settings().banList(), h.robot->settings().banList());
        QCOMPARE(again.settings().messages(), h.robot->settings().messages());
    }

    void midnightClearsTheLearningList()
    {
        Harness h;
        h.writeSettings("AutoConnect=1\r\n");
        h.start();
        h.robot->rules().learning().remember(0, u"10.1.2.3"_s);
        h.clock.set(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 0)));
        h.robot->link().enqueueCommand(u"serverinfo"_s);
        QVERIFY(h.waitFor([&] {
            return h.robot->console().lines().join(u'\n').contains(u"Server info settings"_s);
        }));
        h.clock.set(QDateTime(QDate(2026, 12, 9), QTime(0, 0, 5)));
        h.robot->link().enqueueCommand(u"serverinfo"_s);
        QVERIFY(h.waitFor([&] { return h.robot->rules().learning().entries().isEmpty(); }));
        const QStringList& lines = h.robot->console().lines();
        QVERIFY(lines[0].contains(u"*** Log break at 2026.12.09. 0:00:05 ***"_s));
        QVERIFY(lines[1].contains(u"IP lista törölve ekkor: "_s));
    }

    void resetKeepsListsAndEmptiesTheServer()
    {
        Harness h;
        h.writeSettings("AutoConnect=1\r\n");
        writeFile(h.path(u"bans.txt"_s), "1 cheater\r\n");
        writeFile(h.path(u"Messages.txt"_s), "welcome\r\n");
        h.start();
        QVERIFY(h.robot->link().isConnected());
        h.dialogs.answerQuestion(true);
        h.robot->resetSettings();
        settle(h.robot->link());
        QVERIFY(!h.robot->link().isConnected());
        QCOMPARE(h.robot->settings().host(), QString());
        QCOMPARE(h.robot->settings().banList(), QStringList{u"1 cheater"_s});
        QCOMPARE(h.robot->settings().messages(), QStringList{u"welcome"_s});
        QFile ini(h.path(u"vigilor.ini"_s));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(ini.readAll().contains("IP=\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestRobot)
#include "test_robot.moc"
