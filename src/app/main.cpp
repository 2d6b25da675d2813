// Vigilor: the command line, the start-up sequence and the front end (window or terminal).
#include "app/datafolder.h"
#include "app/frontend.h"
#include "app/instancelock.h"
#include "exchange/transfer.h"
#include "link/lookup.h"
#include "platform/endwatcher.h"
#include "platform/system.h"
#ifdef VIGILOR_SERVICE_NOTIFY
#include "platform/servicenotifier.h"
#endif
#include "robot/robot.h"
#include "settings/setup.h"
#include "testserver/demo.h"
#include "testserver/rconserver.h"
#include "text/clock.h"
#include "text/version.h"
#include "ui/application.h"
#include "ui/helptexts.h"
#include "ui/mainwindow.h"
#include "ui/widgetdialogs.h"
#ifdef VIGILOR_WEB
#include "web/users.h"
#include "web/webfront.h"
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace {

using namespace vigilor;

struct Options
{
    bool headless = false;
    bool demo = false;
    QString dataDir;
    QStringList assignments; // --set KEY=VALUE: the set-up without a window
    bool passwordStdin = false;
#ifdef VIGILOR_WEB
    std::optional<web::WebConfig> web; // --web and its TLS files, over the [Web] settings
    QString webUser;                   // --web-user NAME: a personal key made or (--remove) revoked
    QString webRole;
    bool remove = false;
#endif
};

// The exit statuses besides 0 (a normal end) and the forced stop's.
constexpr int kExitFolderInUse = 1;
constexpr int kExitWrongCommandLine = 2;
// How long the window's word about a data folder in use stays up before the program ends.
constexpr int kInUseMessageMs = 3000;

bool isSetUp(const QStringList& arguments)
{
    for (const QString& a : arguments)
        if (a == QStringLiteral("--set") || a.startsWith(QStringLiteral("--set=")) ||
            a == QStringLiteral("--password-stdin"))
            return true;
    return false;
}

bool displayAvailable()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    return platform::hasDesktop();
}

// Parsed before any application object exists, since the options decide which one to make.
Options parseOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    QString description = QStringLiteral(
        "Vigilor: administration robot for Call of Duty, United Offensive and Call of Duty 2 "
        "dedicated servers, over the game's remote console (rcon, UDP).");
#ifndef VIGILOR_WEB
    description +=
        QStringLiteral("\nThis build has no web page (--web): the Linux build serves it.");
#endif
    parser.setApplicationDescription(description);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
#ifdef Q_OS_WIN
    const QString userFolder = QStringLiteral("%LOCALAPPDATA%\\Vigilor when that is not writable "
                                              "or under Program Files");
#else
    const QString userFolder =
        QStringLiteral("$XDG_DATA_HOME/vigilor when that is not writable or under /usr");
#endif
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("Folder of the settings, lists and logs "
                                                    "(default: the program's folder, or ") +
                                         userFolder + QStringLiteral(")."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Start a practice server with a few simulated "
                                                 "players on 127.0.0.1 and connect to it."));
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("Run without a window; every console line "
                                                     "goes to standard output."));
    const QCommandLineOption set(
        QStringLiteral("set"),
        QStringLiteral("Write KEY=VALUE into the data folder's vigilor.ini (made with the "
                       "defaults when missing) and exit without starting the robot; may be "
                       "given many times. Keys and values are the settings file's own."),
        QStringLiteral("KEY=VALUE"));
    const QCommandLineOption passwordStdin(
        QStringLiteral("password-stdin"),
        QStringLiteral("With the set-up: read the rcon password from the first line of standard "
                       "input and store it scrambled, as the settings file keeps it."));
    parser.addOptions({help, version, dataDir, demo, headless, set, passwordStdin});
#ifdef VIGILOR_WEB
    const QCommandLineOption web(
        QStringLiteral("web"),
        QStringLiteral("Serve the web page on ADDRESS:PORT (127.0.0.1:8080; "
                       "any other address needs --web-cert and "
                       "--web-key). Overrides the [Web] settings."),
        QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption webCert(QStringLiteral("web-cert"),
                                     QStringLiteral("TLS certificate (PEM) of the web page."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption webKey(QStringLiteral("web-key"),
                                    QStringLiteral("TLS private key (PEM) of the web page."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption webUser(
        QStringLiteral("web-user"),
        QStringLiteral("Make a personal key of the web page for NAME (printed once; the data "
                       "folder's web-users keeps only its SHA-256) and exit without starting the "
                       "robot; a key NAME had before stops working. A running robot takes the "
                       "new key at once."),
        QStringLiteral("NAME"));
    const QCommandLineOption webRole(
        QStringLiteral("web-role"),
        QStringLiteral("With --web-user: figyelő (sees everything, changes nothing; the "
                       "default) or admin (acts as the shared key does)."),
        QStringLiteral("ROLE"));
    const QCommandLineOption remove(
        QStringLiteral("remove"),
        QStringLiteral("With --web-user: revoke NAME's key; his open pages are logged out."));
    parser.addOptions({web, webCert, webKey, webUser, webRole, remove});
#endif
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!parser.parse(arguments)) {
        err << parser.errorText() << "\n\n" << parser.helpText();
        err.flush();
        std::exit(kExitWrongCommandLine);
    }
    if (parser.isSet(help)) {
        out << parser.helpText();
        out.flush();
        std::exit(0);
    }
    if (parser.isSet(version)) {
        out << vigilor::kProgramCaption << " (" << VIGILOR_VERSION << ")\n";
        out.flush();
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << "Unexpected argument: " << parser.positionalArguments().front() << "\n\n"
            << parser.helpText();
        err.flush();
        std::exit(kExitWrongCommandLine);
    }
    Options options;
    options.headless = parser.isSet(headless) || !displayAvailable();
    options.demo = parser.isSet(demo);
    options.dataDir = parser.value(dataDir);
    options.assignments = parser.values(set);
    options.passwordStdin = parser.isSet(passwordStdin);
#ifdef VIGILOR_WEB
    if (parser.isSet(web))
        options.web =
            web::WebConfig{parser.value(web), parser.value(webCert), parser.value(webKey)};
    else if (parser.isSet(webCert) || parser.isSet(webKey)) {
        err << "--web-cert and --web-key go with --web\n\n" << parser.helpText();
        err.flush();
        std::exit(kExitWrongCommandLine);
    }
    options.webUser = parser.value(webUser);
    options.webRole = parser.value(webRole);
    options.remove = parser.isSet(remove);
    if (!parser.isSet(webUser) && (parser.isSet(webRole) || options.remove)) {
        err << "--web-role and --remove go with --web-user\n\n" << parser.helpText();
        err.flush();
        std::exit(kExitWrongCommandLine);
    }
#endif
    return options;
}

app::DataFolder dataFolder(const Options& options)
{
    return app::prepareDataFolder(options.dataDir, QCoreApplication::applicationDirPath());
}

void sayDataFolder(Robot& robot, const app::DataFolder& folder)
{
    if (!folder.notice.isEmpty())
        robot.console().consoleLine(folder.notice);
}

// The practice server of --demo, in this process, and the robot pointed at it.
struct Demo
{
    testserver::RconServer server;
    std::unique_ptr<testserver::DemoEvolver> evolver;

    bool start(Robot& robot)
    {
        if (!server.start(0))
            return false;
        server.setPassword(QStringLiteral("demo"));
        testserver::populateDemo(server);
        evolver = std::make_unique<testserver::DemoEvolver>(server);
        robot.settings().setHost(QStringLiteral("127.0.0.1"));
        robot.settings().setPort(QString::number(server.port()));
        robot.settings().setPassword(QStringLiteral("demo"));
        return true;
    }
};

void connectDemo(Robot& robot)
{
    guarded(&robot, [&robot] {
        robot.link().connectAction();
        // Show the players at once instead of after a whole check interval.
        robot.link().enqueueCommand(QStringLiteral("status"));
    });
}

void printError(const QString& text)
{
    QTextStream err(stderr);
    err << text << '\n';
    err.flush();
}

// One line of standard input, without echo when it is a terminal.
std::optional<QString> readPasswordLine()
{
    std::string line;
    bool read = false;
    {
        const platform::EchoOff quiet;
        if (quiet.active()) {
            std::fputs("Jelszó: ", stderr);
            std::fflush(stderr);
        }
        read = bool(std::getline(std::cin, line));
        if (quiet.active())
            std::fputs("\n", stderr);
    }
    if (!read && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line);
}

// --set and --password-stdin: the data folder's settings file written, nothing started.
int runSetUp(int argc, char** argv, const QStringList& arguments)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vigilor"));
    const Options options = parseOptions(arguments);
    const app::DataFolder folder = dataFolder(options);
    app::DataFolderLock lock;
    QString refusal;
    if (!lock.acquire(folder.path, &refusal)) {
        printError(refusal);
        return kExitFolderInUse;
    }
    const QString file = folder.path + settings::SettingsStore::kSettingsFile;
    const auto unchanged = [&file] {
        printError(QStringLiteral("vigilor: a beállítások fájlja nem változott: ") + file);
    };
    std::optional<QString> password;
    if (options.passwordStdin) {
        password = readPasswordLine();
        if (!password) {
            printError(QStringLiteral("vigilor: --password-stdin: a szabványos bemeneten nincs "
                                      "jelszó"));
            unchanged();
            return kExitWrongCommandLine;
        }
    }
    const settings::SetupResult result =
        settings::setUpSettingsFile(folder.path, options.assignments, password);
    for (const QString& note : result.notes)
        printError(note);
    if (!result.written) {
        for (const QString& error : result.errors)
            printError(QStringLiteral("vigilor: ") + error);
        unchanged();
        return result.fileError ? kExitFolderInUse : kExitWrongCommandLine;
    }
    QTextStream(stdout) << QStringLiteral("Beállítások beírva: ") << file << '\n';
    return 0;
}

#ifdef VIGILOR_WEB
bool isWebUser(const QStringList& arguments)
{
    for (const QString& a : arguments)
        if (a == QStringLiteral("--web-user") || a.startsWith(QStringLiteral("--web-user=")))
            return true;
    return false;
}

// --web-user: a personal key made or revoked in the data folder, nothing started. The data
// folder's lock is not taken: a running robot keeps it, and it only reads the file, which is
// replaced whole (under a lock of its own) and read again by the robot when it changed.
int runWebUser(int argc, char** argv, const QStringList& arguments)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vigilor"));
    const Options options = parseOptions(arguments);
    const QString problem = web::WebUsers::nameProblem(options.webUser);
    if (!problem.isEmpty()) {
        printError(QStringLiteral("vigilor: --web-user: ") + problem);
        return kExitWrongCommandLine;
    }
    const std::optional<QString> role = options.webRole.isEmpty()
                                            ? std::optional<QString>(web::WebUsers::kViewer)
                                            : web::WebUsers::roleOf(options.webRole);
    if (!role || (options.remove && !options.webRole.isEmpty())) {
        printError(options.remove
                       ? QStringLiteral("vigilor: --remove mellé nem kell --web-role")
                       : QStringLiteral("vigilor: --web-role: figyelő vagy admin lehet, nem ") +
                             options.webRole);
        return kExitWrongCommandLine;
    }
    const app::DataFolder folder = dataFolder(options);
    try {
        if (options.remove) {
            if (!web::WebUsers::revoke(folder.path, options.webUser)) {
                printError(QStringLiteral("vigilor: ") + options.webUser +
                           QStringLiteral(" nevű kezelőnek nincs kulcsa"));
                return kExitWrongCommandLine;
            }
            QTextStream(stdout) << options.webUser << QStringLiteral(" kulcsa visszavonva.\n");
            return 0;
        }
        const QByteArray key = web::WebUsers::makeKey(folder.path, options.webUser, *role);
        QTextStream out(stdout);
        out << QStringLiteral("A webes kezelő ") << options.webUser << " (" << *role
            << QStringLiteral(") kulcsa, csak most látható:\n") << QString::fromLatin1(key) << '\n';
        return 0;
    } catch (const FileError& e) {
        printError(QStringLiteral("vigilor: ") + e.message());
        return kExitFolderInUse;
    }
}
#endif

// Another program runs on the folder: it is said (in a message box that closes by itself when
// there is a window) and this one ends before it touches anything.
bool refuseFolderInUse(app::DataFolderLock& lock, const app::DataFolder& folder, bool window)
{
    QString refusal;
    if (lock.acquire(folder.path, &refusal))
        return false;
    printError(refusal);
    if (window) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Vigilor"), refusal, QMessageBox::Ok);
        QTimer::singleShot(kInUseMessageMs, &box, &QDialog::accept);
        box.exec();
    }
    return true;
}

// The end of main: a name lookup whose resolver has not answered yet would hold the program up
// (the application's objects wait for the lookup's thread), for as long as a name server that
// does not answer takes; a transfer stuck in the system's resolver inside libcurl would run on
// while the libraries it uses are torn down. Everything is saved by now, so the process ends
// without them.
int finish(int status, app::DataFolderLock& lock)
{
    if (link::NameLookup::running() > 0 || exchange::TransferRunner::stillWorking() > 0) {
        lock.release();
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }
    return status;
}

// The service manager's notifications where the program runs under one (systemd on Linux).
struct Service
{
#ifdef VIGILOR_SERVICE_NOTIFY
    platform::ServiceNotifier notifier;

    explicit Service(Robot& robot)
    {
        QObject::connect(&robot, &Robot::quitRequested, &notifier,
                         &platform::ServiceNotifier::stopping);
    }
    void ready()
    {
        notifier.ready();
    }
#else
    explicit Service(Robot&) {}
    void ready() {}
#endif
};

// The web page, where the build has one.
struct WebPage
{
#ifdef VIGILOR_WEB
    std::unique_ptr<web::WebFront> front;

    void start(Robot& robot, const Options& options)
    {
        front = std::make_unique<web::WebFront>(web::Engine::of(robot), options.web);
        front->apply();
    }
#else
    void start(Robot&, const Options&) {}
#endif
};

int runHeadless(int argc, char** argv, const QStringList& arguments)
{
    platform::ensureConsole();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vigilor"));
    const Options options = parseOptions(arguments);
    SystemClock clock;
    app::ConsoleDialogs dialogs;
    const app::DataFolder folder = dataFolder(options);
    app::DataFolderLock lock;
    if (refuseFolderInUse(lock, folder, false))
        return kExitFolderInUse;
    Robot robot(folder.path, clock, dialogs);
    Service service(robot);
    app::echoConsoleToStdout(robot.console());
    app::beepOnTerminal(robot.scheduler());
    QObject::connect(&robot, &Robot::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    platform::EndWatcher watcher([&robot] {
        guarded(&robot, [&robot] {
            app::limitLastCommands(robot.link());
            robot.close();
            // The watcher ends every event loop right after: the last commands leave here.
            robot.finishClosing();
        });
    });

    const bool firstStart = robot.startUp();
    sayDataFolder(robot, folder);
    if (firstStart)
        dialogs.message(ui::help::firstStart());
    robot.loadSettingsAtStart();
    service.ready();
    if (watcher.ended()) {
        robot.finishClosing();
        return finish(0, lock);
    }
    WebPage webPage;
    webPage.start(robot, options);
    Demo demo;
    if (options.demo && demo.start(robot))
        connectDemo(robot);
    return finish(watcher.ended() ? 0 : app.exec(), lock);
}

int runWindow(int argc, char** argv, const QStringList& arguments)
{
    QApplication app(argc, argv);
    ui::setUpApplication(app);
    const Options options = parseOptions(arguments);
    SystemClock clock;
    ui::WidgetDialogs dialogs;
    const app::DataFolder folder = dataFolder(options);
    app::DataFolderLock lock;
    if (refuseFolderInUse(lock, folder, true))
        return kExitFolderInUse;
    Robot robot(folder.path, clock, dialogs);
    QObject::connect(&robot, &Robot::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    Service service(robot);

    ui::MainWindow window(robot);
    dialogs.setWindow(&window);
    dialogs.setErrors(&robot);
    // The end of the desktop session (on Windows, Qt's answer to WM_ENDSESSION) ends the
    // program from outside the event loop's usual way: the close saves first, as "Kilépés" does.
    // No event loop runs any more: the last commands of that close leave inside it.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &robot, [&robot] {
        guarded(&robot, [&robot] {
            robot.close();
            robot.finishClosing();
        });
    });
    platform::EndWatcher watcher([&window, &robot] {
        guarded(&robot, [&window, &robot] {
            app::limitLastCommands(robot.link());
            window.close();
            // The watcher ends every event loop right after: the last commands leave here.
            robot.finishClosing();
        });
    });

    const bool firstStart = robot.startUp();
    sayDataFolder(robot, folder);
    if (firstStart)
        window.showFirstStartMessage();
    // A signal during the start closed the program: nothing more starts.
    if (watcher.ended()) {
        robot.finishClosing();
        return 0;
    }
    QObject::connect(&robot, &Robot::showWindowRequested, &window,
                     [&window] { window.presentAtStart(false); });
    robot.loadSettingsAtStart();
    // Started in the icon area: only the icon, or the window where there is no icon area.
    if (!window.isVisible())
        window.presentAtStart(true);
    service.ready();
    if (watcher.ended()) {
        robot.finishClosing();
        return finish(0, lock);
    }
    WebPage webPage;
    webPage.start(robot, options);
    Demo demo;
    if (options.demo && demo.start(robot))
        connectDemo(robot);
    return finish(watcher.ended() ? 0 : app.exec(), lock);
}

} // namespace

int main(int argc, char** argv)
{
    platform::useParentConsole();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (isSetUp(arguments))
        return runSetUp(argc, argv, arguments);
#ifdef VIGILOR_WEB
    if (isWebUser(arguments))
        return runWebUser(argc, argv, arguments);
#endif
    bool headless = !displayAvailable();
    for (const QString& a : arguments)
        headless = headless || a == QStringLiteral("--headless");
    return headless ? runHeadless(argc, argv, arguments) : runWindow(argc, argv, arguments);
}
