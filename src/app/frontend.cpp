#include "app/frontend.h"

#include "robot/robot.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace vigilor::app {

namespace {
int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_signal = 0;  // the first termination signal
volatile std::sig_atomic_t g_closing = 0; // the close after it has begun: the saves come first

extern "C" void onHardStop(int)
{
    ::_exit(g_closing ? 0 : 128 + g_signal);
}

extern "C" void onSignal(int signal)
{
    if (g_signal == 0) {
        g_signal = signal;
        ::alarm(TerminationWatcher::kHardStopSeconds);
    }
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
        const link::Console& console = robot.console();
        for (qsizetype i = first; i < console.size(); ++i)
            out << console.line(i) << '\n';
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

int TerminationWatcher::msUntilHardStop()
{
    if (g_signal == 0)
        return -1;
    itimerval left = {};
    if (::getitimer(ITIMER_REAL, &left) != 0)
        return 0;
    return int(left.it_value.tv_sec * 1000 + left.it_value.tv_usec / 1000);
}

void TerminationWatcher::limitLastCommands(Robot& robot)
{
    const int left = msUntilHardStop();
    if (left >= 0)
        robot.link().limitLastCommands(QDeadlineTimer(qMax(0, left - kLastCommandsMarginMs)));
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
        if (m_terminated)
            return;
        m_terminated = true;
        g_closing = 1;
        if (m_onTerminate)
            m_onTerminate();
        // Every event loop ends, a dialog's too; one started later returns at once.
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    struct sigaction hardStop = {};
    hardStop.sa_handler = onHardStop;
    sigemptyset(&hardStop.sa_mask);
    sigaction(SIGALRM, &hardStop, nullptr);
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
