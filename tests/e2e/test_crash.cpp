// Sudden death: the built program runs on the practice server while the server's channel keeps
// changing its ban list and switches and pushes console lines, so that every datagram rewrites
// the settings file, the lists and the day's log; it is killed (SIGKILL on Linux,
// TerminateProcess on Windows) at random moments and started again, many times over. After each
// kill every file must read completely and hold a state the program had, the day's log must
// hold all it held before the kill, and the next start must remove what an interrupted save
// left behind.
//
// VIGILOR_CRASH_KILLS sets the number of kills (default 100; scripts/crashtest.sh asks for
// more), VIGILOR_CRASH_SEED repeats a run's random moments.
#include "rules/banlist.h"
#include "settings/settings.h"
#include "settings/settingsstore.h"
#include "support/fakes.h"
#include "support/processend.h"
#include "testserver/rconserver.h"
#include "text/cp1250.h"
#include "text/textutil.h"
#include "text/timeformat.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <vector>

#ifdef Q_OS_WIN
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on
#endif

using namespace Qt::StringLiterals;
using namespace vigilor;

namespace {

// What the settings file holds, and what the lists hold.
using Values = std::array<QVariant, kKeyCount>;

struct Saved
{
    Values values;
    QStringList bans;
    QStringList messages;
    QStringList imports;
};

Values valuesOf(const Settings& settings)
{
    Values values;
    for (int i = 0; i < kKeyCount; ++i)
        values[i] = settings.value(Key(i));
    return values;
}

#ifdef Q_OS_WIN
// Read with every sharing allowed: a file the test reads while the program runs never stops the
// program from replacing it (QFile's own open would, and the save would fail).
QByteArray readFile(const QString& path)
{
    const HANDLE file = CreateFileW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    QByteArray content;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content.append(buffer, got);
    CloseHandle(file);
    return content;
}
#else
QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
#endif

// The files of the program in `folder` as a program starting there reads them. Any line the
// reading says (a damaged file, its original kept) is a problem.
Saved readSaved(const QString& folder, QStringList& problems)
{
    const QString scratch = folder + u"/../check/"_s;
    QDir(scratch).removeRecursively();
    QDir().mkpath(scratch);
    for (const QString& name :
         {settings::SettingsStore::kSettingsFile, settings::SettingsStore::kBansFile,
          settings::SettingsStore::kMessagesFile, settings::SettingsStore::kImportFile}) {
        if (!QFile::copy(folder + u'/' + name, scratch + name))
            problems << name + u" is missing"_s;
    }
    Settings read;
    settings::SettingsStore store(read, scratch);
    settings::SettingsStore::Hooks hooks;
    hooks.autostart = {};
    hooks.consoleLine = [&problems](const QString& line) { problems << line; };
    hooks.reportError = [&problems](const std::exception& e) {
        problems << QString::fromLocal8Bit(e.what());
    };
    store.setHooks(std::move(hooks));
    try {
        store.load();
    } catch (const std::exception& e) {
        problems << QString::fromLocal8Bit(e.what());
    }
    return {valuesOf(read), read.banList(), read.messages(), read.importList()};
}

// The temporary files a save leaves beside its file when it is cut short.
QStringList leftovers(const QString& folder)
{
    static const QRegularExpression temporary(
        uR"(^(vigilor\.ini|bans\.txt|Messages\.txt|SyncURLs\.txt|Scheduling\.ini|rconpb\.ban|console \(.*\)\.log)(\.bak)?\.[A-Za-z0-9]{6}$)"_s);
    QStringList found;
    for (const QString& sub : {QString(), u"logs/"_s}) {
        const QDir dir(folder + u'/' + sub);
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
            if (temporary.match(name).hasMatch())
                found << sub + name;
        }
    }
    return found;
}

#ifdef Q_OS_WIN
// The port of the robot's UDP socket, from the system's table of UDP endpoints and the processes
// that own them (its rows have no remote address; the robot has this one UDP socket): the robot
// sends its first datagram only at its pacer's first tick, and the test need not wait for that
// to talk to it. 0 while there is none.
quint16 connectedPort(quint16, qint64 robotProcess)
{
    ULONG size = 0;
    GetExtendedUdpTable(nullptr, &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
    QByteArray buffer(qsizetype(size) + 4096, '\0');
    size = ULONG(buffer.size());
    if (GetExtendedUdpTable(buffer.data(), &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0) !=
        NO_ERROR)
        return 0;
    const auto* table = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(buffer.constData());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_UDPROW_OWNER_PID& row = table->table[i];
        if (row.dwOwningPid == DWORD(robotProcess))
            return ntohs(u_short(row.dwLocalPort));
    }
    return 0;
}
#else
// The port of the UDP socket on 127.0.0.1 connected to serverPort (the robot's link), from the
// kernel's socket table: the robot sends its first datagram only at its pacer's first tick, and
// the test need not wait for that to talk to it. 0 while there is none.
quint16 connectedPort(quint16 serverPort, qint64)
{
    QFile table(u"/proc/net/udp"_s);
    if (!table.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray remote =
        "0100007F:" + QByteArray::number(serverPort, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[2] == remote && fields[1].startsWith("0100007F:"))
            return quint16(fields[1].mid(9).toUInt(nullptr, 16));
    }
    return 0;
}
#endif

QString describe(const QStringList& lines)
{
    return u'[' + lines.join(u", "_s) + u']';
}

// The channel commands and what they change, applied to a model with the program's own ban
// list rule.
class Model
{
public:
    explicit Model(const Saved& start) { resume(start.values, start.bans); }

    // A life starts from what the files held: the history of states begins there.
    void resume(const Values& values, const QStringList& bans)
    {
        for (int i = 0; i < kKeyCount; ++i)
            m_settings.set(Key(i), values[i]);
        m_settings.setBanList(bans);
        m_valueHistory = {valuesOf(m_settings)};
        m_banHistory = {m_settings.banList()};
    }

    QString nextCommand(QRandomGenerator& random)
    {
        static const QList<std::pair<QString, Key>> switches = {{u"ratecheck"_s, Key::RateCheck},
                                                                {u"antifreeze"_s, Key::AntiFreeze},
                                                                {u"lban"_s, Key::LearningBan},
                                                                {u"time"_s, Key::AnounceTime},
                                                                {u"ban"_s, Key::TestBans}};
        const int roll = random.bounded(100);
        const QString name = u"crash"_s + QString::number(random.bounded(40));
        QString command;
        if (roll < 40) {
            command = u"ban "_s + name;
            m_bans.add(name, 0);
        } else if (roll < 70) {
            const QString entry = u"0 "_s + name;
            command = u"unban "_s + entry;
            QStringList list = m_settings.banList();
            const auto found = std::find_if(list.begin(), list.end(), [&](const QString& e) {
                return text::asciiLower(e) == entry;
            });
            if (found != list.end()) {
                list.erase(found);
                m_settings.setBanList(list);
            }
        } else {
            const auto& [word, key] = switches[random.bounded(int(switches.size()))];
            const bool on = random.bounded(2) == 1;
            command = word + (on ? u" on"_s : u" off"_s);
            m_settings.setFlag(key, on);
        }
        remember();
        return command;
    }

    QString banCommand(const QString& name)
    {
        m_bans.add(name, 0);
        remember();
        return u"ban "_s + name;
    }

    bool wasValues(const Values& values) const { return m_valueHistory.contains(values); }
    bool wasBans(const QStringList& bans) const { return m_banHistory.contains(bans); }
    const QStringList& bans() const { return m_settings.banList(); }
    Values values() const { return valuesOf(m_settings); }

private:
    void remember()
    {
        if (valuesOf(m_settings) != m_valueHistory.back())
            m_valueHistory.append(valuesOf(m_settings));
        if (m_settings.banList() != m_banHistory.back())
            m_banHistory.append(m_settings.banList());
    }

    Settings m_settings;
    rules::BanList m_bans{m_settings};
    QList<Values> m_valueHistory;
    QList<QStringList> m_banHistory;
};

QByteArray channelReply(const QString& command)
{
    return "\xFF\xFF\xFF\xFFprint\n\"vigilor\" is:\"" + text::toCp1250(command) +
           "^7\" default:\"nil^7\"\n";
}

QByteArray consoleText(int number)
{
    return "\xFF\xFF\xFF\xFFprint\nsor a konzolra " + QByteArray::number(number) + '\n';
}

// The lines a file holds whole: everything up to its last line end.
QByteArray wholeLines(const QByteArray& log)
{
    const qsizetype end = log.lastIndexOf("\r\n");
    return end < 0 ? QByteArray() : log.left(end + 2);
}

} // namespace

class TestCrash final : public QObject
{
    Q_OBJECT

private slots:
    void killedAtRandomMoments()
    {
        const int kills = qEnvironmentVariableIsSet("VIGILOR_CRASH_KILLS")
                              ? qEnvironmentVariableIntValue("VIGILOR_CRASH_KILLS")
                              : 100;
        const quint32 seed = qEnvironmentVariableIsSet("VIGILOR_CRASH_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("VIGILOR_CRASH_SEED"))
                                 : QRandomGenerator::global()->generate();
        std::printf("crash test: %d kills, VIGILOR_CRASH_SEED=%u\n", kills, seed);
        QRandomGenerator random(seed);

        QTemporaryDir root;
        const QString folder = root.filePath(u"data"_s);
        QVERIFY(QDir().mkpath(folder));
        testserver::RconServer server;
        server.setPassword(u"pw"_s);
        server.setFloodGuardMs(0);
        QVERIFY(server.start());
        quint16 robotPort = 0;
        const auto push = [&](const QByteArray& datagram) {
            server.sendRaw(datagram, QHostAddress::LocalHost, robotPort);
        };

        {
            Settings settings;
            settings::SettingsStore store(settings, folder + u'/');
            store.setHooks({});
            settings.setFlag(Key::SaveServerInfo, true);
            settings.setFlag(Key::AutoConnect, true);
            settings.setFlag(Key::EventNotify, true); // the connect notice: the first datagram
            settings.setNumber(Key::TimeInterval, 999);
            settings.setHost(u"127.0.0.1"_s);
            settings.setPort(QString::number(server.port()));
            settings.setPassword(u"pw"_s);
            settings.setBanList({u"0 cheater"_s, u"1 192.0.2."_s, u"3 boom"_s});
            settings.setMessages({u"Üdv a szerveren!"_s, u"Ne csalj!"_s});
            store.save();
        }
        QStringList problems;
        const Saved start = readSaved(folder, problems);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
        Model model(start);
        const QString logName =
            folder + u"/logs/console ("_s + text::shortDate(QDate::currentDate()) + u").log"_s;

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DISPLAY"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.insert(u"XDG_CONFIG_HOME"_s, root.filePath(u"config"_s));
        env.insert(u"XDG_DATA_HOME"_s, root.filePath(u"share"_s));

        QStringList failures;
        QStringList earlierLeftovers;
        int survived = 0;
        int cutShort = 0;
        int amidChanges = 0;
        int pushed = 0;
        int lines = 0;
        // Each life has a QProcess of its own, kept to the end: Qt 6.4 on Windows crashes when a
        // QProcess is started again or destroyed while its wait for the killed program is still
        // being delivered on a pool thread (seen under wine).
        std::vector<std::unique_ptr<QProcess>> lives;
        QProcess* current = nullptr;
        const auto startRobot = [&] {
            robotPort = 0;
            current = lives.emplace_back(std::make_unique<QProcess>()).get();
            current->setProcessEnvironment(env);
            current->setStandardOutputFile(QProcess::nullDevice());
            current->setStandardErrorFile(root.filePath(u"stderr.txt"_s));
            current->start(QStringLiteral(VIGILOR_EXE), {u"--headless"_s, u"--data-dir"_s, folder});
            return current->waitForStarted(10000);
        };

        for (int life = 1; life <= kills; ++life) {
            if (!startRobot()) {
                failures << u"life %1: the program did not start"_s.arg(life);
                break;
            }
            QStringList lifeProblems;
            const Values valuesAtStart = model.values();
            const QStringList bansAtStart = model.bans();
            // A kill anywhere from the start to well into the run of changes.
            const int lifeMs = random.bounded(30, 700);
            QElapsedTimer alive;
            alive.start();
            bool checkedStart = false;
            while (alive.elapsed() < lifeMs) {
                if (!robotPort)
                    robotPort = connectedPort(server.port(), current->processId());
                if (robotPort && !checkedStart) {
                    // Connected: the start is over, so what the last kill left is gone.
                    checkedStart = true;
                    const QStringList left = leftovers(folder);
                    for (const QString& name : std::as_const(earlierLeftovers))
                        if (left.contains(name))
                            lifeProblems << u"left behind after the next start: "_s + name;
                }
                if (checkedStart) {
                    const bool command = random.bounded(3) != 0;
                    push(command ? channelReply(model.nextCommand(random)) : consoleText(++lines));
                    ++pushed;
                }
                QTest::qWait(random.bounded(1, 4));
            }
            const QByteArray logBefore = wholeLines(readFile(logName));
            // A program that ended by itself (a start it refused, a fall) is a problem of its own:
            // no kill ended this life.
            if (current->state() != QProcess::Running)
                lifeProblems << u"the program ended by itself with status %1: "_s.arg(
                                    current->exitCode()) +
                                    QString::fromLocal8Bit(
                                        readFile(root.filePath(u"stderr.txt"_s)).trimmed());
            else
                test::killSuddenly(*current);
            current->waitForFinished(10000);

            earlierLeftovers = leftovers(folder);
            if (!earlierLeftovers.isEmpty())
                ++cutShort;
            const QByteArray logAfter = readFile(logName);
            if (!logAfter.startsWith(logBefore))
                lifeProblems << u"the day's log lost lines: %1 bytes before the kill, %2 after"_s
                                    .arg(logBefore.size())
                                    .arg(logAfter.size());
            QStringList readProblems;
            const Saved saved = readSaved(folder, readProblems);
            for (const QString& p : std::as_const(readProblems))
                lifeProblems << u"not read completely: "_s + p;
            if (!model.wasValues(saved.values))
                lifeProblems << u"the settings file holds no state the program had"_s;
            if (!model.wasBans(saved.bans))
                lifeProblems << u"bans.txt holds no state the program had: "_s +
                                    describe(saved.bans);
            if (saved.messages != start.messages || saved.imports != start.imports)
                lifeProblems << u"Messages.txt or SyncURLs.txt changed: "_s +
                                    describe(saved.messages) + describe(saved.imports);
            const QStringList kept = QDir(folder).entryList({u"*.bak"_s}, QDir::Files);
            if (!kept.isEmpty())
                lifeProblems << u"a start found a damaged file: "_s + kept.join(u' ');

            if (saved.values != valuesAtStart || saved.bans != bansAtStart)
                ++amidChanges;
            if (lifeProblems.isEmpty())
                ++survived;
            else
                failures << u"life %1 (killed after %2 ms): "_s.arg(life).arg(lifeMs) +
                                lifeProblems.join(u"; "_s);
            // The next life starts from what the files hold.
            model.resume(saved.values, saved.bans);
        }

        // A last life that ends as the operator ends it: everything the channel changed is
        // saved, and nothing temporary is left.
        QVERIFY(startRobot());
        QVERIFY(QTest::qWaitFor(
            [&] { return (robotPort = connectedPort(server.port(), current->processId())) != 0; },
            10000));
        for (int i = 0; i < 20; ++i) {
            push(channelReply(model.nextCommand(random)));
            QTest::qWait(5);
        }
        push(channelReply(model.banCommand(u"crashlast"_s)));
        QVERIFY2(
            QTest::qWaitFor([&] { return readFile(folder + u"/bans.txt"_s).contains("crashlast"); },
                            10000),
            qPrintable(u"the program %1; its errors: "_s.arg(
                           current->state() == QProcess::Running ? u"runs"_s : u"ended"_s) +
                       QString::fromLocal8Bit(readFile(root.filePath(u"stderr.txt"_s)))));
        QVERIFY(test::askToEnd(*current, test::EndRequest::Terminate));
        QVERIFY(current->waitForFinished(10000));
        QCOMPARE(current->exitCode(), 0);
        QStringList finalProblems;
        const Saved final = readSaved(folder, finalProblems);
        QVERIFY2(finalProblems.isEmpty(), qPrintable(finalProblems.join(u'\n')));
        QCOMPARE(final.bans, model.bans());
        QVERIFY2(final.values == model.values(), "the switches at the end");
        QVERIFY2(leftovers(folder).isEmpty(), qPrintable(leftovers(folder).join(u' ')));

        std::printf("crash test: %d of %d kills survived; %d came after the files had changed, "
                    "%d cut a save short (a temporary file left); %d datagrams pushed\n",
                    survived, kills, amidChanges, cutShort, pushed);
        for (const QString& f : failures.mid(0, 10))
            std::printf("  %s\n", qPrintable(f));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.value(0)));
    }
};

QTEST_GUILESS_MAIN(TestCrash)
#include "test_crash.moc"
