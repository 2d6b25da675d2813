// Where the built program keeps its files when started without a window: beside itself while it
// may write there, in the user's data folder when it may not (an installed copy), and in
// --data-dir whenever that is given. Root may write everywhere, so as root the program is run
// as the unprivileged user nobody.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr auto kReadOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                           QFile::ReadOther | QFile::ExeOther;
constexpr auto kWritable = kReadOnly | QFile::WriteOwner;

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
        QVERIFY(p.waitForStarted());
        QString out;
        const bool started = QTest::qWaitFor(
            [&] {
                out += QString::fromUtf8(p.readAllStandardOutput());
                return out.contains(u"Program verzió"_s) && out.contains(u"ELSŐ INDÍTÁS"_s);
            },
            10000);
        QVERIFY2(started, qPrintable(out + QString::fromUtf8(p.readAllStandardError())));
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        out += QString::fromUtf8(p.readAllStandardOutput());

        for (auto it = folders.cbegin(); it != folders.cend(); ++it)
            QVERIFY2(holdsFiles(it.value()) == (it.key() == expected), qPrintable(it.value()));
        // The user's data folder is said once; a chosen or the program's own folder goes unsaid.
        const bool said = expected == u"xdg" || expected == u"home";
        const QString notice =
            u" >> Adatmappa: "_s + folders[expected] + u"/ (a program mappája nem írható)\n"_s;
        QCOMPARE(out.count(u"Adatmappa"_s), said ? 1 : 0);
        QVERIFY2(!said || out.contains(notice), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "test_datafolder.moc"
