#include "text/clock.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <ctime>
#include <thread>

namespace vigilor {

QDateTime SystemClock::now() const { return QDateTime::currentDateTime(); }

qint64 SystemClock::steadyMs() const
{
#ifdef Q_OS_LINUX
    // The boot clock counts a suspended machine's time too, which the monotonic clock leaves out.
    timespec t = {};
    if (::clock_gettime(CLOCK_BOOTTIME, &t) == 0)
        return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
#endif
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::wait(int milliseconds)
{
    // A true blocking wait: nothing else runs meanwhile. Only short waits block (the rest of a
    // pacer period before "Jelszó váltás" sends); the rules' long ones are timed steps (arm).
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool SystemClock::arm(QTimer& timer, int milliseconds)
{
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    timer.start(qMax(0, milliseconds));
    return true;
}


} // namespace vigilor
