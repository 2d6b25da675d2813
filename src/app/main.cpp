// Vigilor: the command line, the start-up sequence and the front end (window or terminal).
#include "app/datafolder.h"
#include "app/frontend.h"
#include "robot/robot.h"
#include "testserver/demo.h"
#include "testserver/rconserver.h"
#include "text/clock.h"
#include "ui/application.h"
#include "ui/mainwindow.h"
#include "ui/widgetdialogs.h"
#include "web/webfront.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <cstdlib>
#include <memory>
#include <optional>

namespace {

using namespace vigilor;

struct Options
{
    bool headless = false;
    bool demo = false;
    QString dataDir;
    std::optional<web::WebConfig> web; // --web and its TLS files, over the [Web] settings
};

bool displayAvailable()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Parsed before any application object exists, since the options decide which one to make.
Options parseOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Vigilor: administration robot for Call of Duty, United Offensive and Call of Duty 2 "
        "dedicated servers, over the game's remote console (rcon, UDP)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("Folder of the settings, lists and logs "
                                                    "(default: the program's folder, or "
                                                    "$XDG_DATA_HOME/vigilor when that is not "
                                                    "writable or under /usr)."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Start a practice server with a few simulated "
                                                 "players on 127.0.0.1 and connect to it."));
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("Run without a window; every console line "
                                                     "goes to standard output."));
    const QCommandLineOption web(QStringLiteral("web"),
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
    parser.addOptions({help, version, dataDir, demo, headless, web, webCert, webKey});
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!parser.parse(arguments)) {
        err << parser.errorText() << "\n\n" << parser.helpText();
        err.flush();
        std::exit(2);
    }
    if (parser.isSet(help)) {
        out << parser.helpText();
        out.flush();
        std::exit(0);
    }
    if (parser.isSet(version)) {
        out << vigilor::Robot::caption() << " (" << VIGILOR_VERSION << ")\n";
        out.flush();
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << "Unexpected argument: " << parser.positionalArguments().front() << "\n\n"
            << parser.helpText();
        err.flush();
        std::exit(2);
    }
    Options options;
    options.headless = parser.isSet(headless) || !displayAvailable();
    options.demo = parser.isSet(demo);
    options.dataDir = parser.value(dataDir);
    if (parser.isSet(web))
        options.web = web::WebConfig{parser.value(web), parser.value(webCert), parser.value(webKey)};
    else if (parser.isSet(webCert) || parser.isSet(webKey)) {
        err << "--web-cert and --web-key go with --web\n\n" << parser.helpText();
        err.flush();
        std::exit(2);
    }
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

int runHeadless(int argc, char** argv, const QStringList& arguments)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vigilor"));
    const Options options = parseOptions(arguments);
    SystemClock clock;
    SystemPump pump;
    app::ConsoleDialogs dialogs;
    const app::DataFolder folder = dataFolder(options);
    Robot robot(folder.path, clock, pump, dialogs);
    app::echoConsoleToStdout(robot);
    app::beepOnTerminal(robot);
    QObject::connect(&robot, &Robot::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    app::TerminationWatcher watcher([&robot] { guarded(&robot, [&robot] { robot.close(); }); });

    const bool firstStart = robot.startUp();
    sayDataFolder(robot, folder);
    if (firstStart)
        dialogs.message(Robot::firstStartMessage());
    robot.loadSettingsAtStart();
    if (watcher.terminated())
        return 0;
    web::WebFront webFront(robot, options.web);
    webFront.apply();
    Demo demo;
    if (options.demo && demo.start(robot))
        connectDemo(robot);
    return watcher.terminated() ? 0 : app.exec();
}

int runWindow(int argc, char** argv, const QStringList& arguments)
{
    QApplication app(argc, argv);
    ui::setUpApplication(app);
    const Options options = parseOptions(arguments);
    SystemClock clock;
    SystemPump pump;
    ui::WidgetDialogs dialogs;
    const app::DataFolder folder = dataFolder(options);
    Robot robot(folder.path, clock, pump, dialogs);
    QObject::connect(&robot, &Robot::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    ui::MainWindow window(robot);
    dialogs.setWindow(&window);
    app::TerminationWatcher watcher(
        [&window, &robot] { guarded(&robot, [&window] { window.close(); }); });

    const bool firstStart = robot.startUp();
    sayDataFolder(robot, folder);
    if (firstStart)
        window.showFirstStartMessage();
    // A signal while the first-start message was open closed the program: nothing more starts.
    if (watcher.terminated())
        return 0;
    QObject::connect(&robot, &Robot::showWindowRequested, &window,
                     [&window] { window.presentAtStart(false); });
    robot.loadSettingsAtStart();
    // Started in the icon area: only the icon, or the window where there is no icon area.
    if (!window.isVisible())
        window.presentAtStart(true);
    if (watcher.terminated())
        return 0;
    web::WebFront webFront(robot, options.web);
    webFront.apply();
    Demo demo;
    if (options.demo && demo.start(robot))
        connectDemo(robot);
    return watcher.terminated() ? 0 : app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    bool headless = !displayAvailable();
    for (const QString& a : arguments)
        headless = headless || a == QStringLiteral("--headless");
    return headless ? runHeadless(argc, argv, arguments) : runWindow(argc, argv, arguments);
}
