// Where the built program keeps its files when started without a window: beside itself while it
// may write there, in the user's data folder when it may not (an installed copy), and in
// --data-dir whenever that is given. Root may write everywhere, so as root the program is run
// as the unprivileged user nobody. On Windows a copy in one of the system's program folders keeps
// its files in the user's data folder: the test installs one in the user's own,
// %LOCALAPPDATA%\Programs.
#include "support/processend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

constexpr auto kReadOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                           QFile::ReadOther | QFile::ExeOther;
constexpr auto kWritable = kReadOnly | QFile::WriteOwner;

#ifndef Q_OS_WIN
// The user the program runs as: nobody when the test runs as root, the test's own user otherwise.
struct RunAs
{
    bool dropRoot = ::geteuid() == 0;
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();

    RunAs()
    {
        if (const passwd* nobody = dropRoot ? ::getpwnam("nobody") : nullptr) {
            uid = nobody->pw_uid;
            gid = nobody->pw_gid;
        }
    }

    // A folder the program's user owns.
    bool makeOwned(const QString& path) const
    {
        return QDir().mkpath(path) && QFile::setPermissions(path, kWritable) &&
               (!dropRoot || ::chown(QFile::encodeName(path).constData(), uid, gid) == 0);
    }
};
#endif

// A first start, headless, to its start lines, then its end as the operator asks for it; what
// it printed goes to `out`.
void startAndEnd(QProcess& p, QString& out)
{
    QVERIFY(p.waitForStarted());
    const bool started = QTest::qWaitFor(
        [&] {
            out += QString::fromUtf8(p.readAllStandardOutput());
            return out.contains(u"Program verzió"_s) && out.contains(u"ELSŐ INDÍTÁS"_s);
        },
        10000);
    QVERIFY2(started, qPrintable(out + QString::fromUtf8(p.readAllStandardError())));
    QVERIFY(vigilor::test::askToEnd(p, vigilor::test::EndRequest::Terminate));
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    out += QString::fromUtf8(p.readAllStandardOutput());
}

bool holdsFiles(const QString& folder)
{
    return QFile::exists(folder + u"/vigilor.ini"_s) &&
           !QDir(folder + u"/logs"_s).entryList({u"console (*).log"_s}, QDir::Files).isEmpty();
}

} // namespace

class TestDataFolder final : public QObject
{
    Q_OBJECT

private slots:
#ifdef Q_OS_WIN
    void choice_data()
    {
        QTest::addColumn<QString>("place"); // "own", "read-only" or "programs"
        QTest::addColumn<bool>("dataDirOption");
        QTest::addColumn<QString>("expected"); // "program", "user" or "option"

        QTest::newRow("writable program folder") << u"own"_s << false << u"program"_s;
        QTest::newRow("read-only program folder") << u"read-only"_s << false << u"user"_s;
        QTest::newRow("installed") << u"programs"_s << false << u"user"_s;
        QTest::newRow("installed, --data-dir") << u"programs"_s << true << u"option"_s;
        QTest::newRow("writable, --data-dir") << u"own"_s << true << u"option"_s;
    }

    void choice()
    {
        QFETCH(QString, place);
        QFETCH(bool, dataDirOption);
        QFETCH(QString, expected);
        if (place == u"read-only")
            QSKIP("Windows keeps a user out of a folder by its access rights, not by permission "
                  "bits, and wine (run as root here) enforces none");

        // The user's data folder is the real one: a test never touches one that holds files.
        const QString user =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Vigilor"_s;
        if (expected == u"user" && QFileInfo::exists(user))
            QSKIP("the user's own Vigilor data folder exists; the test leaves it alone");
        const auto removeUser = qScopeGuard([&] {
            if (expected == u"user")
                QDir(user).removeRecursively();
        });

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path();
        // The user's own folder of installed programs is one of the system's program folders.
        const QString installed =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            u"/Programs/vigilor-test-"_s + QFileInfo(root).fileName();
        const QString program = place == u"programs" ? installed : root + u"/program"_s;
        const auto removeInstalled = qScopeGuard([&] {
            if (place == u"programs")
                QDir(installed).removeRecursively();
        });
        QVERIFY(QDir().mkpath(program));
        // The DLLs are found through PATH, in the build's folder.
        const QString executable = program + u"/vigilor.exe"_s;
        QVERIFY(QFile::copy(QStringLiteral(VIGILOR_EXE), executable));
        const QString option = root + u"/data/server one"_s; // created by the program
        const QMap<QString, QString> folders = {
            {u"program"_s, program}, {u"user"_s, user}, {u"option"_s, option}};

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString build = QFileInfo(QStringLiteral(VIGILOR_EXE)).path();
        env.insert(u"PATH"_s, QDir::toNativeSeparators(build) + u';' + env.value(u"PATH"_s));
        env.remove(u"QT_QPA_PLATFORM"_s);

        QStringList arguments = {u"--headless"_s};
        if (dataDirOption)
            arguments << u"--data-dir"_s << option;
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(root);
        p.start(executable, arguments);
        QString out;
        startAndEnd(p, out);
        if (QTest::currentTestFailed())
            return;
        out.replace(u"\r\n"_s, u"\n"_s);

        for (auto it = folders.cbegin(); it != folders.cend(); ++it)
            QVERIFY2(holdsFiles(it.value()) == (it.key() == expected), qPrintable(it.value()));
        // The user's data folder is said once, with the reason; a chosen or the program's own
        // folder goes unsaid.
        const bool said = expected == u"user";
        const QString notice = u" >> Adatmappa: "_s + QDir::toNativeSeparators(user) +
                               u"\\ (a program rendszermappában van)\n"_s;
        QCOMPARE(out.count(u"Adatmappa"_s), said ? 1 : 0);
        QVERIFY2(!said || out.contains(notice), qPrintable(out));
    }
#else
    void choice_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("xdgDataHome"); // "set", "unset" or "relative"
        QTest::addColumn<bool>("dataDirOption");
        QTest::addColumn<QString>("expected"); // "program", "xdg", "home" or "option"

        QTest::newRow("writable program folder") << true << u"set"_s << false << u"program"_s;
        QTest::newRow("read-only, XDG_DATA_HOME") << false << u"set"_s << false << u"xdg"_s;
        QTest::newRow("read-only, no XDG_DATA_HOME") << false << u"unset"_s << false << u"home"_s;
        // The freedesktop rules ignore a relative XDG_DATA_HOME.
        QTest::newRow("read-only, relative XDG_DATA_HOME")
            << false << u"relative"_s << false << u"home"_s;
        QTest::newRow("read-only, --data-dir") << false << u"set"_s << true << u"option"_s;
        QTest::newRow("writable, --data-dir") << true << u"set"_s << true << u"option"_s;
    }

    void choice()
    {
        QFETCH(bool, writable);
        QFETCH(QString, xdgDataHome);
        QFETCH(bool, dataDirOption);
        QFETCH(QString, expected);
        const RunAs user;

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path();
        QVERIFY(QFile::setPermissions(root, kReadOnly | QFile::WriteOwner));
        const QString program = root + u"/program"_s;
        QVERIFY(QDir().mkpath(program));
        QVERIFY(QFile::copy(QStringLiteral(VIGILOR_EXE), program + u"/vigilor"_s));
        QVERIFY(QFile::setPermissions(program + u"/vigilor"_s, kReadOnly));
        if (writable)
            QVERIFY(user.makeOwned(program));
        else
            QVERIFY(QFile::setPermissions(program, kReadOnly));
        const auto restore = qScopeGuard([&] { QFile::setPermissions(program, kWritable); });

        const QString home = root + u"/home"_s;
        const QString xdg = root + u"/xdg"_s;
        const QString data = root + u"/data"_s;
        for (const QString& folder : {home, xdg, data})
            QVERIFY(user.makeOwned(folder));
        const QString option = data + u"/server one"_s; // created by the program

        const QMap<QString, QString> folders = {{u"program"_s, program},
                                                {u"xdg"_s, xdg + u"/vigilor"_s},
                                                {u"home"_s, home + u"/.local/share/vigilor"_s},
                                                {u"option"_s, option}};

        QProcessEnvironment env;
        env.insert(u"HOME"_s, home);
        env.insert(u"LANG"_s, u"C.UTF-8"_s);
        env.insert(u"PATH"_s, u"/usr/bin:/bin"_s);
        if (xdgDataHome == u"set")
            env.insert(u"XDG_DATA_HOME"_s, xdg);
        else if (xdgDataHome == u"relative")
            env.insert(u"XDG_DATA_HOME"_s, u"xdg"_s);

        QStringList arguments = {program + u"/vigilor"_s, u"--headless"_s};
        if (dataDirOption)
            arguments << u"--data-dir"_s << option;
        if (user.dropRoot)
            arguments = QStringList({u"--reuid="_s + QString::number(user.uid),
                                     u"--regid="_s + QString::number(user.gid), u"--clear-groups"_s,
                                     u"--"_s}) +
                        arguments;
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(root);
        if (user.dropRoot)
            p.start(u"setpriv"_s, arguments);
        else
            p.start(arguments.takeFirst(), arguments);
        QString out;
        startAndEnd(p, out);
        if (QTest::currentTestFailed())
            return;

        for (auto it = folders.cbegin(); it != folders.cend(); ++it)
            QVERIFY2(holdsFiles(it.value()) == (it.key() == expected), qPrintable(it.value()));
        // The user's data folder is said once; a chosen or the program's own folder goes unsaid.
        const bool said = expected == u"xdg" || expected == u"home";
        const QString notice =
            u" >> Adatmappa: "_s + folders[expected] + u"/ (a program mappája nem írható)\n"_s;
        QCOMPARE(out.count(u"Adatmappa"_s), said ? 1 : 0);
        QVERIFY2(!said || out.contains(notice), qPrintable(out));
    }
#endif
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "test_datafolder.moc"
