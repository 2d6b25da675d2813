#include "platform/endwatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace vigilor::platform {

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
        ::alarm(EndWatcher::kHardStopSeconds);
    }
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}
} // namespace

// The signal handler only writes a byte to a pipe; the event loop reads it.
class EndWatcher::Backend
{
public:
    std::unique_ptr<QSocketNotifier> notifier;
};

int EndWatcher::msUntilHardStop()
{
    if (g_signal == 0)
        return -1;
    itimerval left = {};
    if (::getitimer(ITIMER_REAL, &left) != 0)
        return 0;
    return int(left.it_value.tv_sec * 1000 + left.it_value.tv_usec / 1000);
}

EndWatcher::EndWatcher(std::function<void()> onEnd, QObject* parent)
    : QObject(parent), m_onEnd(std::move(onEnd)), m_backend(std::make_unique<Backend>())
{
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_backend->notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    connect(m_backend->notifier.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        end();
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

EndWatcher::~EndWatcher()
{
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
}

void EndWatcher::end()
{
    if (m_ended)
        return;
    m_ended = true;
    g_closing = 1;
    if (m_onEnd)
        m_onEnd();
    // Every event loop ends, a dialog's too; one started later returns at once.
    QCoreApplication::exit(0);
}

} // namespace vigilor::platform
