// What only Windows has, driven as an operator's desktop meets it: the Run key of "Indulás
// rendszerrel együtt", the data folder of a program installed under Program Files, the ends
// that a console (Ctrl+C, Ctrl+Break) and the desktop session (log-off, shut-down) give, one
// program per data folder, the game client started directly, and a data folder made on Linux
// taken and written back byte for byte.
#include "link/console.h"
#include "settings/autostart.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "testserver/rconserver.h"
#include "text/cp1250.h"
#include "text/timeformat.h"
#include "tools/launcher.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <windows.h>

using namespace Qt::StringLiterals;
using namespace vigilor;

namespace {

const QString kRunKey = u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"_s;

// A path the build wrote as the build machine sees it (/work/...): under wine the host's root
// is drive Z:.
QString hostPath(const char* path)
{
    const QString text = QString::fromUtf8(path);
    return text.startsWith(u'/') ? u"Z:"_s + text : text;
}

QString program()
{
    return hostPath(VIGILOR_EXE);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QString dayLog(const QString& folder)
{
    return folder + u"/logs/console ("_s + text::shortDate(QDate::currentDate()) + u").log"_s;
}

bool copyFolder(const QString& from, const QString& to)
{
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(path, target))
            return false;
    }
    return true;
}

// The robot of a test: the program started headless, its output read as it comes.
class Robot
{
public:
    // `newGroup`: in a process group of its own, so that Ctrl+Break can be sent to it alone.
    // `platform`: Qt's, "offscreen" (no window on the screen) or "windows" (the desktop's).
    explicit Robot(const QStringList& arguments, bool newGroup = false,
                   const QString& executable = program(), const QString& platform = u"offscreen"_s)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, platform);
        m_process.setProcessEnvironment(env);
        if (newGroup)
            m_process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* args) {
                args->flags |= CREATE_NEW_PROCESS_GROUP;
            });
        m_process.start(executable, arguments);
    }
    ~Robot()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess& process() { return m_process; }
    DWORD id() const { return DWORD(m_process.processId()); }

    bool waitFor(const QString& text, int timeoutMs = 20000)
    {
        return QTest::qWaitFor(
                   [&] {
                       m_out += QString::fromUtf8(m_process.readAllStandardOutput());
                       return m_out.contains(text) || m_process.state() == QProcess::NotRunning;
                   },
                   timeoutMs) &&
               m_out.contains(text);
    }
    bool waitForEnd(int timeoutMs = 10000)
    {
        const bool ended = m_process.waitForFinished(timeoutMs);
        m_out += QString::fromUtf8(m_process.readAllStandardOutput());
        return ended;
    }
    const QString& out() const { return m_out; }

private:
    QProcess m_process;
    QString m_out;
};

// The practice server and a data folder whose robot connects to it at start.
struct Server
{
    testserver::RconServer server;
    QTemporaryDir dir;

    Server()
    {
        server.start(0);
        server.setPassword(u"pw"_s);
    }

    QString folder() const { return QDir::toNativeSeparators(dir.path()); }

    // vigilor.ini and the password set up as an operator does it, through the program.
    bool setUp(const QStringList& more = {})
    {
        QStringList arguments = {u"--data-dir"_s,      folder(),
                                 u"--set"_s,           u"IP=127.0.0.1"_s,
                                 u"--set"_s,           u"Port="_s + QString::number(server.port()),
                                 u"--set"_s,           u"SaveServerInfo=1"_s,
                                 u"--set"_s,           u"AutoConnect=1"_s,
                                 u"--password-stdin"_s};
        for (const QString& assignment : more)
            arguments << u"--set"_s << assignment;
        QProcess setUp;
        setUp.start(program(), arguments);
        setUp.write("pw\n");
        setUp.closeWriteChannel();
        return setUp.waitForFinished(20000) && setUp.exitCode() == 0;
    }
};

bool underWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The top-level windows of a process, hidden ones included.
QList<HWND> windowsOf(DWORD process)
{
    struct Search
    {
        DWORD process;
        QList<HWND> found;
    } search{process, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->process)
                s->found.append(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// What the system does at log-off: every top-level window is asked whether the session may end
// and then told that it ends. Returns how many windows took the messages.
int endSession(DWORD process)
{
    const QList<HWND> windows = windowsOf(process);
    for (HWND window : windows) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                            5000, &answer);
    }
    for (HWND window : windows) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000,
                            &answer);
    }
    return int(windows.size());
}

// Ends a robot the way the operator's desktop ends it at log-off (its windows are told), or
// where it has no window here, by Ctrl+Break in its console; false when neither reached it.
bool endCleanly(DWORD process)
{
    if (endSession(process) > 0)
        return true;
    return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process);
}

} // namespace

class TestWindows final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The programs under test share the test's console, as they share a command prompt's:
        // a test started without one (by a script, with its output in a pipe) makes its own.
        if (!GetConsoleWindow())
            AllocConsole();
    }

    void cleanupTestCase()
    {
        // No value of the tests' own stays behind in the user's Run key.
        QSettings run(kRunKey, QSettings::NativeFormat);
        for (const QString& name : run.childKeys())
            if (run.value(name).toString().contains(u"vigilor-test-"_s))
                run.remove(name);
    }

    // "Indulás rendszerrel együtt" as the registry holds it: `vigilor` with the bare path for
    // the program's own folder (cut to 255 characters), `vigilor HASH` with the quoted path and
    // --data-dir for every other folder; switching one off leaves the others.
    void runKeyValues()
    {
        const QString exe = u"C:/Games/vigilor-test-run/vigilor.exe"_s;
        QSettings run(kRunKey, QSettings::NativeFormat);
        const QString stranger = u"vigilor-test-stranger"_s;
        run.setValue(stranger, u"C:\\other.exe"_s);
        run.sync();
        const QString saved = run.value(u"vigilor"_s).toString();
        const auto restore = qScopeGuard([&] {
            QSettings again(kRunKey, QSettings::NativeFormat);
            again.remove(stranger);
            if (saved.isEmpty())
                again.remove(u"vigilor"_s);
            else
                again.setValue(u"vigilor"_s, saved);
        });

        settings::applyAutostart(true, exe);
        run.sync();
        QCOMPARE(run.value(u"vigilor"_s).toString(), u"C:\\Games\\vigilor-test-run\\vigilor.exe"_s);
        const QString longPath = u"C:/vigilor-test-"_s + QString(300, u'p') + u"/vigilor.exe"_s;
        settings::applyAutostart(true, longPath);
        run.sync();
        QCOMPARE(run.value(u"vigilor"_s).toString(),
                 QDir::toNativeSeparators(longPath).left(settings::kAutostartPathLimit));

        QTemporaryDir one, two;
        settings::applyAutostart(true, exe, one.path());
        settings::applyAutostart(true, exe, two.path());
        run.sync();
        const QString nameOne = settings::autostartValueName(one.path());
        const QString nameTwo = settings::autostartValueName(two.path());
        QVERIFY(nameOne.startsWith(u"vigilor "_s));
        QVERIFY(nameOne != nameTwo);
        QCOMPARE(run.value(nameOne).toString(), u"\"C:\\Games\\vigilor-test-run\\vigilor.exe\" "
                                                u"--data-dir \""_s +
                                                    QDir::toNativeSeparators(one.path()) + u'"');
        // The same folder written another way is the same entry.
        QCOMPARE(settings::autostartValueName(one.path() + u"/./"_s), nameOne);

        settings::applyAutostart(false, exe, one.path());
        run.sync();
        QVERIFY(!run.contains(nameOne));
        QVERIFY(run.contains(nameTwo));
        QVERIFY(run.contains(u"vigilor"_s));
        QCOMPARE(run.value(stranger).toString(), u"C:\\other.exe"_s);
        settings::applyAutostart(false, exe, two.path());
        settings::applyAutostart(false, exe);
        settings::applyAutostart(false, exe); // an absent value is no error
        run.sync();
        QVERIFY(!run.contains(nameTwo));
        QVERIFY(!run.contains(u"vigilor"_s));
    }

    // The program itself writes and removes its folder's value at start, as the switch says.
    void runKeyFromTheProgram()
    {
        Server s;
        QVERIFY(s.setUp({u"AutoStart=1"_s}));
        const QString name = settings::autostartValueName(s.dir.path());
        {
            Robot robot({u"--headless"_s, u"--data-dir"_s, s.folder()}, true);
            QVERIFY2(robot.waitFor(u"Csatlakozás szerverhez: 127.0.0.1:"_s),
                     qPrintable(robot.out()));
            QSettings run(kRunKey, QSettings::NativeFormat);
            const QString command = run.value(name).toString();
            QVERIFY2(command.startsWith(u'"' + QDir::toNativeSeparators(program()) + u'"'),
                     qPrintable(command));
            QVERIFY(command.endsWith(u" --data-dir \""_s + s.folder() + u'"'));
            QVERIFY(endCleanly(robot.id()));
            QVERIFY(robot.waitForEnd());
        }
        QVERIFY(s.setUp({u"AutoStart=0"_s}));
        Robot robot({u"--headless"_s, u"--data-dir"_s, s.folder()}, true);
        QVERIFY(robot.waitFor(u"Csatlakozás szerverhez: 127.0.0.1:"_s));
        QVERIFY(!QSettings(kRunKey, QSettings::NativeFormat).contains(name));
        QVERIFY(endCleanly(robot.id()));
        QVERIFY(robot.waitForEnd());
    }

    // Ctrl+Break and Ctrl+C in the console end the program like "Kilépés": the day's log is
    // written first (without the disconnect's lines), the goodbye goes out, the status is 0.
    void consoleEventsEndLikeExit_data()
    {
        QTest::addColumn<int>("event");
        QTest::newRow("Ctrl+Break") << int(CTRL_BREAK_EVENT);
        QTest::newRow("Ctrl+C") << int(CTRL_C_EVENT);
    }

    void consoleEventsEndLikeExit()
    {
        QFETCH(int, event);
        Server s;
        QVERIFY(s.setUp({u"EventNotify=1"_s}));
        // Ctrl+C reaches every program of the console; a process group of its own has it off.
        Robot robot({u"--headless"_s, u"--data-dir"_s, s.folder()}, event == CTRL_BREAK_EVENT);
        QVERIFY2(robot.waitFor(u"Parancs küldés: \"say ^1vigilor^2> ^7Csatlakozva"_s),
                 qPrintable(robot.out()));
        if (event == CTRL_C_EVENT)
            SetConsoleCtrlHandler(nullptr, TRUE); // the test itself goes on
        const bool sent =
            GenerateConsoleCtrlEvent(DWORD(event), event == CTRL_C_EVENT ? 0 : robot.id());
        if (!sent && underWine()) {
            SetConsoleCtrlHandler(nullptr, FALSE);
            QSKIP("wine's console carries no control event to another program here "
                  "(GenerateConsoleCtrlEvent fails; Ctrl+Break is not implemented in wine 8): "
                  "console_end.py sends Ctrl+C from a terminal instead");
        }
        QVERIFY(sent);
        const bool ended = robot.waitForEnd();
        SetConsoleCtrlHandler(nullptr, FALSE);
        QVERIFY2(ended, qPrintable(robot.out()));
        QCOMPARE(robot.process().exitCode(), 0);
        QVERIFY2(robot.out().contains(u"Lecsatlakozás szerverről: 127.0.0.1:"_s),
                 qPrintable(robot.out()));
        QVERIFY(QTest::qWaitFor(
            [&] { return s.server.receivedCommands().join(u'\n').contains(u"Lecsatlakozva"_s); },
            3000));
        const QByteArray log = readFile(dayLog(s.dir.path()));
        QVERIFY(log.contains("vigilor sikeresen elindult\r\n"));
        QVERIFY(log.endsWith("\r\n"));
        QVERIFY(!log.contains("Lecsatlakoz\xe1s szerver"));
        QVERIFY(QFile::exists(s.dir.filePath(u"vigilor.ini"_s)));
    }

    // Log-off and shut-down as a program without a window learns them, and as the desktop
    // program does (Qt's window answers, asking the robot to save first): both end like
    // "Kilépés" before the messages return.
    void sessionEndEndsLikeExit_data()
    {
        QTest::addColumn<bool>("window");
        QTest::newRow("headless") << false;
        QTest::newRow("window") << true;
    }

    void sessionEndEndsLikeExit()
    {
        QFETCH(bool, window);
        Server s;
        QVERIFY(s.setUp({u"EventNotify=1"_s}));
        QStringList arguments = {u"--data-dir"_s, s.folder()};
        if (!window)
            arguments.prepend(u"--headless"_s);
        Robot robot(arguments, true, program(), window ? u"windows"_s : u"offscreen"_s);
        // The window shows its console in itself: the server tells when the robot is there.
        QVERIFY2(
            QTest::qWaitFor(
                [&] { return s.server.receivedCommands().join(u'\n').contains(u"Csatlakozva"_s); },
                20000),
            qPrintable(robot.out()));
        const QByteArray before = readFile(s.dir.filePath(u"vigilor.ini"_s));
        // Under wine the windows of a program exist only where wine has a display driver.
        if (!QTest::qWaitFor([&] { return !windowsOf(robot.id()).isEmpty(); }, 5000))
            QSKIP("the program has no top-level window here: wine runs without a display "
                  "driver (run the tests under xvfb-run)");
        QVERIFY(endSession(robot.id()) > 0);
        QVERIFY2(robot.waitForEnd(), qPrintable(robot.out()));
        QCOMPARE(robot.process().exitCode(), 0);
        // The goodbye went out before the end, as "Kilépés" sends it.
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return s.server.receivedCommands().join(u'\n').contains(
                             u"Lecsatlakozva"_s);
                     },
                     3000),
                 qPrintable(s.server.receivedCommands().join(u'\n')));
        const QByteArray log = readFile(dayLog(s.dir.path()));
        QVERIFY(log.contains("Csatlakoz\xe1s szerverhez: 127.0.0.1:"));
        QVERIFY(!log.contains("Lecsatlakoz\xe1s szerver"));
        QCOMPARE(readFile(s.dir.filePath(u"vigilor.ini"_s)), before);
    }

    // A program under Program Files may not write there: its data go to %LOCALAPPDATA%\Vigilor,
    // which the console names once, and nothing is left beside the program.
    void dataFolderOfAnInstalledProgram()
    {
        const QString userFolder =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Vigilor"_s;
        if (QFileInfo::exists(userFolder))
            QSKIP("this user's data folder exists: the test leaves an operator's data alone");
        const QString programFiles =
            QDir::fromNativeSeparators(qEnvironmentVariable("ProgramFiles"));
        QVERIFY(!programFiles.isEmpty());
        const QString installed = programFiles + u"/vigilor-test-"_s +
                                  QString::number(QRandomGenerator::global()->generate(), 16);
        const auto cleanup = qScopeGuard([&] {
            QDir(installed).removeRecursively();
            QDir(userFolder).removeRecursively();
        });
        QVERIFY(copyFolder(QFileInfo(program()).path(), installed));
        for (const QString& name : QDir(installed).entryList({u"test_*"_s}, QDir::Files))
            QFile::remove(installed + u'/' + name); // the program alone, with what it needs

        Robot robot({u"--headless"_s}, true, installed + u"/vigilor.exe"_s);
        QVERIFY2(robot.waitFor(u"Program verzió: "_s), qPrintable(robot.out()));
        QVERIFY2(robot.waitFor(u"Adatmappa: "_s + QDir::toNativeSeparators(userFolder)),
                 qPrintable(robot.out()));
        QVERIFY(endCleanly(robot.id()));
        QVERIFY(robot.waitForEnd());
        QVERIFY(QFileInfo::exists(userFolder + u"/vigilor.ini"_s));
        QVERIFY(QFileInfo::exists(dayLog(userFolder)));
        QVERIFY(!QFileInfo::exists(installed + u"/vigilor.ini"_s));
        QVERIFY(!QFileInfo::exists(installed + u"/logs"_s));
    }

    // One program per data folder, as on Linux: the second says so and ends with status 1,
    // touching nothing; the first runs on.
    void oneProgramPerFolder()
    {
        Server s;
        QVERIFY(s.setUp());
        Robot first({u"--headless"_s, u"--data-dir"_s, s.folder()}, true);
        QVERIFY(first.waitFor(u"Csatlakozás szerverhez: 127.0.0.1:"_s));
        const QByteArray ini = readFile(s.dir.filePath(u"vigilor.ini"_s));
        QProcess second;
        second.start(program(), {u"--headless"_s, u"--data-dir"_s, s.folder()});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(!second.readAllStandardError().isEmpty());
        QCOMPARE(readFile(s.dir.filePath(u"vigilor.ini"_s)), ini);
        QCOMPARE(first.process().state(), QProcess::Running);
        QVERIFY(endCleanly(first.id()));
        QVERIFY(first.waitForEnd());
    }

    // "GoPlay!" starts a Windows game client itself, in the client's folder, with the
    // password as one argument, and the program's folder is the working folder again after.
    void goPlayStartsTheClientDirectly()
    {
        QTemporaryDir games;
        const QString folder = games.path() + u"/Call of Duty 2"_s;
        QVERIFY(QDir().mkpath(folder));
        const QString client = folder + u"/CoD2MP.EXE"_s;
        QVERIFY(QFile::copy(hostPath(VIGILOR_ARG_RECORDER), client));

        const std::optional<tools::Launcher::Start> start = tools::Launcher::startFor(client, {});
        QVERIFY(start);
        QCOMPARE(start->program, client);
        QVERIFY(start->arguments.isEmpty());

        test::FakeClock clock;
        link::Console console(clock);
        Settings settings;
        settings.setText(Key::CoDexe, client);
        settings.setHost(u"127.0.0.1"_s);
        settings.setPort(u"28960"_s);
        settings.setPassword(u"jel szó"_s);
        settings.setFlag(Key::CkRcon, true);
        QTemporaryDir own;
        const QString testFolder = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(testFolder); });
        QVERIFY(QDir::setCurrent(own.path()));
        tools::Launcher launcher(settings, console, own.path());
        launcher.goPlay();
        QCOMPARE(QDir::current().canonicalPath(), QDir(own.path()).canonicalPath());
        QVERIFY2(QTest::qWaitFor([&] { return QFile::exists(folder + u"/record"_s); }, 10000),
                 qPrintable(console.lines().join(u'\n')));
        const QStringList lines = QString::fromUtf8(readFile(folder + u"/record"_s)).split(u'\n');
        QCOMPARE(QDir(lines.value(0)).canonicalPath(), QDir(folder).canonicalPath());
        QCOMPARE(lines.mid(1, 5), (QStringList{u"+connect"_s, u"127.0.0.1:28960"_s, u"+set"_s,
                                               u"rconpassword"_s, u"jel szó"_s}));
        QVERIFY(!console.lines().join(u'\n').contains(u"wine"_s));
        // The client has ended once its files can go (a running program's cannot).
        QVERIFY(QTest::qWaitFor([&] { return QDir(games.path()).removeRecursively(); }, 10000));
    }

    // A data folder made by the Linux program: the Windows program takes it as it stands and
    // writes it back byte for byte (code page 1250, CR LF, the same names), and its own lines
    // go on the day's log in the same form.
    void aLinuxDataFolderMovesUnchanged()
    {
        const QString fixture = hostPath(VIGILOR_WINDOWS_TEST_DATA) + u"/linux-folder"_s;
        QVERIFY(QFileInfo(fixture + u"/vigilor.ini"_s).isFile());
        QTemporaryDir dir;
        QVERIFY(copyFolder(fixture, dir.path()));
        const QStringList files = {u"vigilor.ini"_s, u"bans.txt"_s, u"Messages.txt"_s,
                                   u"SyncURLs.txt"_s};
        Robot robot({u"--headless"_s, u"--data-dir"_s, QDir::toNativeSeparators(dir.path())}, true);
        QVERIFY2(robot.waitFor(u"Program verzió: "_s), qPrintable(robot.out()));
        QVERIFY(endCleanly(robot.id()));
        QVERIFY(robot.waitForEnd());
        QCOMPARE(robot.process().exitCode(), 0);
        for (const QString& name : files)
            QVERIFY2(readFile(dir.filePath(name)) == readFile(fixture + u'/' + name),
                     qPrintable(name));
        // The day of the fixture's log stays as it was; today's holds the start, as Linux
        // writes it.
        const QStringList oldLogs = QDir(fixture + u"/logs"_s).entryList(QDir::Files);
        QVERIFY(!oldLogs.isEmpty());
        for (const QString& name : oldLogs)
            QCOMPARE(readFile(dir.filePath(u"logs/"_s + name)),
                     readFile(fixture + u"/logs/"_s + name));
        const QByteArray today = readFile(dayLog(dir.path()));
        QVERIFY(today.contains(" >> vigilor sikeresen elindult\r\n"));
        QVERIFY(today.contains(" >> Program verzi\xf3: Vigilor CoD/UO/CoD2  1.8 release 1\r\n"));
        QVERIFY(!today.contains("\n\n"));
        QCOMPARE(today.count('\n'), today.count("\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestWindows)
#include "test_windows.moc"
