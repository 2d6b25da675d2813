#include "app/frontend.h"

#include "robot/robot.h"

#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vigilor::app {

namespace {
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

QString plainLines(const QString& text)
{
    QString plain = text;
    plain.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    return plain;
}
} // namespace

void ConsoleDialogs::message(const QString& text)
{
    QTextStream out(stdout);
    out << plainLines(text) << '\n';
    out.flush();
}

bool ConsoleDialogs::question(const QString& text)
{
    QTextStream out(stdout);
    out << plainLines(text) << QStringLiteral("\n-> nem\n");
    out.flush();
    return false;
}

std::optional<QString> ConsoleDialogs::input(const QString&, const QString&, const QString&)
{
    return std::nullopt;
}

void echoConsoleToStdout(Robot& robot)
{
    auto print = [&robot](qsizetype first) {
        QTextStream out(stdout);
        const QStringList& lines = robot.console().lines();
        for (qsizetype i = first; i < lines.size(); ++i)
            out << lines[i] << '\n';
        out.flush();
    };
    QObject::connect(&robot.console(), &link::Console::linesAppended, &robot, print);
    QObject::connect(&robot.console(), &link::Console::contentReset, &robot, [print] { print(0); });
}

void beepOnTerminal(Robot& robot)
{
    if (!::isatty(STDOUT_FILENO))
        return;
    robot.scheduler().setBeep([] {
        std::fputc('\a', stdout);
        std::fflush(stdout);
    });
}

TerminationWatcher::TerminationWatcher(std::function<void()> onTerminate, QObject* parent)
    : QObject(parent), m_onTerminate(std::move(onTerminate))
{
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        if (m_onTerminate)
            m_onTerminate();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

TerminationWatcher::~TerminationWatcher()
{
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
}

} // namespace vigilor::app
