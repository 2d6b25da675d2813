// The built program as a service runs it, driven from outside: a server name that does not
// resolve at start, a name server that does not answer, two programs on one data folder, the
// set-up of a folder without a window, and the service manager's notifications.
#include "settings/password.h"
#include "settings/settings.h"
#include "settings/settingsstore.h"
#include "support/fakenames.h"
#include "testserver/rconserver.h"
#include "text/timeformat.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace vigilor;
using vigilor::test::FakeNames;

namespace {

QString program()
{
    return QStringLiteral(VIGILOR_EXE);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every file under the folder with its bytes, by its path in the folder.
QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), readFile(path));
    }
    return files;
}

QString dayLog(const QString& folder)
{
    return folder + u"/logs/console ("_s + text::shortDate(QDate::currentDate()) + u").log"_s;
}

// The program, in a terminal or with an offscreen window, in an environment of the test's own.
struct Program
{
    QProcess process;
    QString out;
    QString err;

    static QProcessEnvironment environment(const QString& scratch, bool window)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DISPLAY"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        env.remove(u"NOTIFY_SOCKET"_s);
        env.remove(u"WATCHDOG_USEC"_s);
        env.remove(u"WATCHDOG_PID"_s);
        if (window)
            env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        // The autostart reaction of every load stays in the test's folders.
        env.insert(u"XDG_CONFIG_HOME"_s, scratch + u"/config"_s);
        env.insert(u"XDG_DATA_HOME"_s, scratch + u"/data"_s);
        return env;
    }

    void start(const QStringList& arguments, const QProcessEnvironment& env)
    {
        process.setProcessEnvironment(env);
        process.start(program(), arguments);
    }
    void read()
    {
        out += QString::fromUtf8(process.readAllStandardOutput());
        err += QString::fromUtf8(process.readAllStandardError());
    }
    bool waitFor(const QString& text, int timeoutMs)
    {
        return QTest::qWaitFor(
            [&] {
                read();
                return out.contains(text);
            },
            timeoutMs);
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    // Ends it with SIGTERM; the exit status, or -1 when it did not end within the time.
    int terminate(int timeoutMs = 10000)
    {
        signal(SIGTERM);
        return finished(timeoutMs);
    }
    int finished(int timeoutMs)
    {
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        read();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
};

// A unix datagram socket standing in for the service manager's NOTIFY_SOCKET.
struct NotifySocket
{
    QTemporaryDir dir;
    QString path = dir.filePath(u"notify"_s);
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    QStringList messages;

    bool bind()
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        if (fd < 0 || size_t(name.size()) >= sizeof address.sun_path)
            return false;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    void read()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            messages << QString::fromUtf8(buffer, n);
    }
    ~NotifySocket()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

class TestService final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scratch;

    QProcessEnvironment environment(bool window = false) const
    {
        return Program::environment(m_scratch.path(), window);
    }

    // The settings and lists of a robot that watches `host`, written as the program writes them.
    static void writeServerFolder(const QString& folder, const QString& host, quint16 port,
                                  const QString& password)
    {
        Settings settings;
        settings::SettingsStore store(settings, folder + u'/');
        store.setHooks({});
        settings.setFlag(Key::SaveServerInfo, true);
        settings.setFlag(Key::AutoConnect, true);
        settings.setFlag(Key::EventNotify, true);
        settings.setFlag(Key::Notification, false);
        settings.setHost(host);
        settings.setPort(QString::number(port));
        settings.setPassword(password);
        settings.setBanList({u"0 Csaló"_s, u"1 10.0.0."_s});
        settings.setMessages({u"Üdv a szerveren!"_s, u"Szabályok: nincs csalás"_s});
        settings.setImportList({u"http://127.0.0.1/lista.txt"_s});
        store.save();
    }

    static void terminalAndWindow()
    {
        QTest::addColumn<bool>("window");
        QTest::newRow("terminal") << false;
        QTest::newRow("window") << true;
    }

private slots:
    void initTestCase() { QVERIFY(m_scratch.isValid()); }

    // A server name that does not resolve at start (no name server yet at boot): the settings
    // load runs to its end and every file stays byte for byte; the robot says the failure and
    // connects by itself once the name resolves, with no restart.
    void unresolvedNameAtStartCostsNothing()
    {
        QTemporaryDir dir;
        FakeNames names;
        QVERIFY(names.write("kesobb.teszt -\n"));
        testserver::RconServer server;
        server.setPassword(u"pw"_s);
        QVERIFY(server.start());
        writeServerFolder(dir.path(), u"kesobb.teszt"_s, server.port(), u"pw"_s);
        const QMap<QString, QByteArray> before = snapshot(dir.path());
        QCOMPARE(before.size(), 4);

        QProcessEnvironment env = environment();
        names.addTo(env);
        Program robot;
        robot.start({u"--data-dir"_s, dir.path()}, env);
        const QString where = u"kesobb.teszt:"_s + QString::number(server.port());
        QVERIFY2(robot.waitFor(u"Nem sikerült csatlakozni a szerverhez: "_s + where +
                                   u" (a gépnév nem található: kesobb.teszt"_s,
                               10000),
                 qPrintable(robot.out));
        QVERIFY(robot.out.contains(u"Újrapróbálkozás 5 mp múlva"_s));
        QTest::qWait(500);
        robot.read();
        QVERIFY2(!robot.out.contains(u"A beállítások betöltése nem sikerült"_s),
                 qPrintable(robot.out));
        QVERIFY(!robot.out.contains(u"Socket Error"_s));
        QVERIFY(server.receivedCommands().isEmpty());

        QVERIFY(names.write("kesobb.teszt 127.0.0.1\n"));
        QVERIFY2(QTest::qWaitFor([&] { return !server.receivedCommands().isEmpty(); }, 15000),
                 qPrintable(robot.out));
        QVERIFY(server.receivedCommands().front().startsWith(u"say ^1vigilor^2> ^7Csatlakozva "_s));
        QVERIFY(robot.waitFor(u"Csatlakozás szerverhez: "_s + where, 5000));
        QCOMPARE(robot.terminate(), 0);

        QMap<QString, QByteArray> after = snapshot(dir.path());
        QVERIFY(after.contains(QDir(dir.path()).relativeFilePath(dayLog(dir.path()))));
        after.remove(QDir(dir.path()).relativeFilePath(dayLog(dir.path())));
        QCOMPARE(after.keys(), before.keys());
        for (auto it = before.begin(); it != before.end(); ++it)
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
    }

    // A name server that does not answer holds neither the program nor its end: SIGTERM during
    // the lookup ends it at once, with everything saved.
    void slowNameServerHoldsNothing_data() { terminalAndWindow(); }

    void slowNameServerHoldsNothing()
    {
        QFETCH(bool, window);
        QTemporaryDir dir;
        FakeNames names;
        QVERIFY(names.write("lassu.teszt 127.0.0.1 30000\n"));
        writeServerFolder(dir.path(), u"lassu.teszt"_s, 28960, u"pw"_s);
        QProcessEnvironment env = environment(window);
        names.addTo(env);
        Program robot;
        robot.start({u"--data-dir"_s, dir.path()}, env);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return QFile::exists(dayLog(dir.path())) ||
                       QFileInfo(dir.path() + u"/logs"_s).isDir();
            },
            10000));
        QTest::qWait(1000); // the lookup has begun, the event loop runs
        QElapsedTimer took;
        took.start();
        const int status = robot.terminate(10000);
        const qint64 ms = took.elapsed();
        QCOMPARE(status, 0); // not the hard stop's 128 + 15
        QVERIFY2(ms < 2500, qPrintable(QString::number(ms)));
        QVERIFY(readFile(dayLog(dir.path())).contains("vigilor sikeresen elindult\r\n"));
        QVERIFY(!QFile::exists(dir.path() + u"/vigilor.lock"_s));
    }

    // Two programs on one data folder: the second says so and ends with status 1 within a few
    // seconds, before it touches a file or sends anything; the first runs on untouched.
    void secondProgramOnAFolderInUse_data() { terminalAndWindow(); }

    void secondProgramOnAFolderInUse()
    {
        QFETCH(bool, window);
        QTemporaryDir dir;
        testserver::RconServer server;
        server.setPassword(u"pw"_s);
        QVERIFY(server.start());
        writeServerFolder(dir.path(), u"127.0.0.1"_s, server.port(), u"pw"_s);
        Program first;
        first.start({u"--data-dir"_s, dir.path()}, environment());
        QVERIFY(first.waitFor(u"Csatlakozás szerverhez: "_s, 10000));
        QVERIFY(QTest::qWaitFor([&] { return !server.receivedCommands().isEmpty(); }, 5000));
        QTest::qWait(500);
        QVERIFY(QFile::exists(dir.path() + u"/vigilor.lock"_s));
        const QMap<QString, QByteArray> before = snapshot(dir.path());
        const QStringList commands = server.receivedCommands();

        Program second;
        QElapsedTimer took;
        took.start();
        second.start({u"--data-dir"_s, dir.path()}, environment(window));
        QCOMPARE(second.finished(8000), 1);
        QVERIFY2(took.elapsed() < 6000, qPrintable(QString::number(took.elapsed())));
        QVERIFY2(second.err.contains(u"Ezt az adatmappát már egy másik futó Vigilor használja "
                                     "(folyamat: "_s +
                                     QString::number(first.process.processId()) + u')'),
                 qPrintable(second.err));
        QVERIFY(second.err.contains(QDir::toNativeSeparators(dir.path())));
        QVERIFY2(second.out.isEmpty(), qPrintable(second.out));
        QTest::qWait(300);
        QCOMPARE(snapshot(dir.path()), before);
        QCOMPARE(server.receivedCommands(), commands);

        // The first runs on, and its day's log keeps every line of it.
        first.read();
        QCOMPARE(first.terminate(), 0);
        const QByteArray log = readFile(dayLog(dir.path()));
        QCOMPARE(log.count("vigilor sikeresen elindult"), 1);
        QVERIFY(log.contains("Csatlakoz\xe1s szerverhez: 127.0.0.1:"));
        QVERIFY(!QFile::exists(dir.path() + u"/vigilor.lock"_s));
    }

    // The lock of a program that was killed is taken over, as is one left by a process that is
    // gone.
    void staleLockIsTakenOver()
    {
        QTemporaryDir dir;
        Program killed;
        killed.start({u"--data-dir"_s, dir.path()}, environment());
        QVERIFY(killed.waitFor(u"Program verzió"_s, 10000));
        killed.signal(SIGKILL);
        QCOMPARE(killed.finished(5000), -2);
        QVERIFY(QFile::exists(dir.path() + u"/vigilor.lock"_s));

        Program next;
        next.start({u"--data-dir"_s, dir.path()}, environment());
        QVERIFY2(next.waitFor(u"Program verzió"_s, 10000), qPrintable(next.err));
        QCOMPARE(next.terminate(), 0);

        // A lock file naming a process that does not exist.
        pid_t gone = 4194000;
        while (::kill(gone, 0) == 0 || errno != ESRCH)
            --gone;
        QVERIFY(writeFile(dir.path() + u"/vigilor.lock"_s,
                          QByteArray::number(gone) + "\nvigilor\n" +
                              QFile::encodeName(QSysInfo::machineHostName()) + "\n"));
        Program again;
        again.start({u"--data-dir"_s, dir.path()}, environment());
        QVERIFY2(again.waitFor(u"Program verzió"_s, 10000), qPrintable(again.err));
        QCOMPARE(again.terminate(), 0);
    }

    // A folder set up from the command line alone, the password from standard input, runs the
    // robot against the practice server.
    void setUpWithoutAWindow()
    {
        QTemporaryDir scratch;
        const QString folder = scratch.path() + u"/servers/public"_s;
        testserver::RconServer server;
        server.setPassword(u"tit kos jelszó"_s);
        QVERIFY(server.start());

        Program setUp;
        setUp.start({u"--data-dir"_s, folder, u"--set"_s, u"IP=127.0.0.1"_s, u"--set"_s,
                     u"Port="_s + QString::number(server.port()), u"--set"_s, u"autoconnect=1"_s,
                     u"--set"_s, u"TimeInterval=45"_s, u"--set"_s, u"Kitiltottak megjegyzése=0"_s,
                     u"--password-stdin"_s},
                    environment());
        setUp.process.write("tit kos jelsz\xc3\xb3\n");
        setUp.process.closeWriteChannel();
        QCOMPARE(setUp.finished(10000), 0);
        QVERIFY2(setUp.err.isEmpty(), qPrintable(setUp.err));
        // Only the settings file: the robot did not start.
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"vigilor.ini"_s});
        const QByteArray ini = readFile(folder + u"/vigilor.ini"_s);
        QVERIFY(!ini.contains("jelsz"));
        {
            Settings read;
            settings::SettingsStore store(read, folder + u'/');
            settings::SettingsStore::Hooks hooks;
            hooks.autostart = {};
            store.setHooks(std::move(hooks));
            store.load();
            QCOMPARE(read.host(), u"127.0.0.1"_s);
            QCOMPARE(read.port(), QString::number(server.port()));
            QCOMPARE(read.password(), u"tit kos jelszó"_s);
            QVERIFY(read.flag(Key::AutoConnect));
            QCOMPARE(read.timeInterval(), 45);
            QVERIFY(!read.flag(Key::RememberBanned));
            // The rest as a first start leaves it.
            QVERIFY(read.flag(Key::SaveServerInfo));
            QVERIFY(read.flag(Key::EventNotify));
            QCOMPARE(read.number(Key::PingKickLevel), 110);
        }
        // Every key of a saved file, in the order a save writes them.
        QVERIFY(ini.startsWith("[System]\r\nEventNotify=1\r\nAutoStart=0\r\nSaveServerInfo=1\r\n"
                               "AutoConnect=1\r\n"));

        Program robot;
        robot.start({u"--headless"_s, u"--data-dir"_s, folder}, environment());
        QVERIFY2(QTest::qWaitFor([&] { return !server.receivedCommands().isEmpty(); }, 10000),
                 qPrintable(robot.out + robot.err));
        QVERIFY(server.receivedCommands().front().startsWith(u"say ^1vigilor^2> ^7Csatlakozva "_s));
        QCOMPARE(robot.terminate(), 0);

        // A later set-up changes only the keys it names.
        const QByteArray saved = readFile(folder + u"/vigilor.ini"_s);
        Program change;
        change.start({u"--data-dir"_s, folder, u"--set"_s, u"PingKickLevel=150"_s}, environment());
        QCOMPARE(change.finished(10000), 0);
        QByteArray expected = saved;
        expected.replace("PingKickLevel=110\r\n", "PingKickLevel=150\r\n");
        QVERIFY(expected != saved);
        QCOMPARE(readFile(folder + u"/vigilor.ini"_s), expected);
    }

    // What the settings load would not take is named on standard error; the file stays as it
    // was and the status is 2.
    void setUpRefusesWhatTheLoadWouldNotTake_data()
    {
        QTest::addColumn<QStringList>("sets");
        QTest::addColumn<QByteArray>("input"); // standard input, with --password-stdin
        QTest::addColumn<QStringList>("named");
        QTest::newRow("unknown key") << QStringList{u"IP=10.0.0.1"_s, u"Bogus=1"_s} << QByteArray()
                                     << QStringList{u"Bogus=1: ismeretlen kulcs"_s};
        QTest::newRow("below the range")
            << QStringList{u"TimeInterval=5"_s} << QByteArray()
            << QStringList{u"TimeInterval=5: az érték 30 és 999999 között lehet"_s};
        QTest::newRow("above the range")
            << QStringList{u"AnounceInterval=61"_s, u"AutoConnect=2"_s} << QByteArray()
            << QStringList{u"AnounceInterval=61: az érték 1 és 60 között lehet"_s,
                           u"AutoConnect=2: az érték 0 és 1 között lehet"_s};
        QTest::newRow("not a number") << QStringList{u"PingCheck=igen"_s} << QByteArray()
                                      << QStringList{u"PingCheck=igen: nem egész szám"_s};
        QTest::newRow("no port") << QStringList{u"Port=0"_s, u"Port=x"_s} << QByteArray()
                                 << QStringList{u"Port=0: a port 1 és 65535"_s,
                                                u"Port=x: a port"_s};
        QTest::newRow("password on the command line")
            << QStringList{u"PWD=titok"_s} << QByteArray()
            << QStringList{u"PWD=titok: a jelszót a --password-stdin olvassa be"_s};
        QTest::newRow("no value") << QStringList{u"AutoConnect"_s} << QByteArray()
                                  << QStringList{u"AutoConnect: KULCS=ÉRTÉK alakban add meg"_s};
        QTest::newRow("no password")
            << QStringList{u"AutoConnect=1"_s} << QByteArray("")
            << QStringList{u"--password-stdin: a szabványos bemeneten nincs jelszó"_s};
        QTest::newRow("empty password")
            << QStringList() << QByteArray("\n")
            << QStringList{u"--password-stdin: a szabványos bemenet első sora üres"_s};
        QTest::newRow("server fields not kept")
            << QStringList{u"SaveServerInfo=0"_s, u"IP=10.0.0.1"_s} << QByteArray()
            << QStringList{u"SaveServerInfo=0 mellett a program nem olvassa be"_s};
    }

    void setUpRefusesWhatTheLoadWouldNotTake()
    {
        QFETCH(QStringList, sets);
        QFETCH(QByteArray, input);
        QFETCH(QStringList, named);
        for (const bool existing : {true, false}) {
            QTemporaryDir dir;
            if (existing)
                QVERIFY(writeFile(dir.filePath(u"vigilor.ini"_s),
                                  "[System]\r\nTimeInterval=90\r\n[ServerInfo]\r\nIP=a\r\n"));
            const QMap<QString, QByteArray> before = snapshot(dir.path());
            QStringList arguments{u"--data-dir"_s, dir.path()};
            for (const QString& set : sets)
                arguments << u"--set"_s << set;
            const bool password = !input.isNull();
            if (password)
                arguments << u"--password-stdin"_s;
            Program setUp;
            setUp.start(arguments, environment());
            if (password)
                setUp.process.write(input);
            setUp.process.closeWriteChannel();
            QCOMPARE(setUp.finished(10000), 2);
            for (const QString& text : named)
                QVERIFY2(setUp.err.contains(u"vigilor: "_s + text), qPrintable(setUp.err));
            QVERIFY(setUp.err.contains(u"a beállítások fájlja nem változott: "_s));
            QCOMPARE(snapshot(dir.path()), before);
        }
    }

    // The set-up keeps off a folder a running program uses: that program would write its own
    // settings over the new ones.
    void setUpOnAFolderInUse()
    {
        QTemporaryDir dir;
        Program running;
        running.start({u"--data-dir"_s, dir.path()}, environment());
        QVERIFY(running.waitFor(u"Program verzió"_s, 10000));
        const QMap<QString, QByteArray> before = snapshot(dir.path());
        Program setUp;
        setUp.start({u"--data-dir"_s, dir.path(), u"--set"_s, u"AutoConnect=1"_s}, environment());
        QCOMPARE(setUp.finished(10000), 1);
        QVERIFY(setUp.err.contains(u"Ezt az adatmappát már egy másik futó Vigilor használja"_s));
        QCOMPARE(snapshot(dir.path()), before);
        QCOMPARE(running.terminate(), 0);
    }

    // Under a service manager (NOTIFY_SOCKET): ready once the settings are loaded, watchdog
    // pings from the event loop at half the watchdog's time, and the stop said at the end.
    void serviceManagerIsTold()
    {
        NotifySocket notify;
        QVERIFY(notify.bind());
        QTemporaryDir dir;
        QProcessEnvironment env = environment();
        env.insert(u"NOTIFY_SOCKET"_s, notify.path);
        env.insert(u"WATCHDOG_USEC"_s, u"400000"_s);
        Program robot;
        robot.start({u"--data-dir"_s, dir.path()}, env);
        QVERIFY(QTest::qWaitFor(
            [&] {
                notify.read();
                return notify.messages.count(u"WATCHDOG=1"_s) >= 4;
            },
            10000));
        QCOMPARE(notify.messages.value(0), u"READY=1"_s);
        robot.read();
        QVERIFY(robot.out.contains(u"Program verzió"_s));
        // A stopped event loop sends nothing: the service manager would restart the program.
        robot.signal(SIGSTOP);
        QTest::qWait(300);
        notify.read();
        const qsizetype pings = notify.messages.size();
        QTest::qWait(700);
        notify.read();
        QCOMPARE(notify.messages.size(), pings);
        robot.signal(SIGCONT);
        QCOMPARE(robot.terminate(), 0);
        notify.read();
        QCOMPARE(notify.messages.last(), u"STOPPING=1"_s);
        QCOMPARE(notify.messages.count(u"READY=1"_s), 1);
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "test_service.moc"
