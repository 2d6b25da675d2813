#include "text/clock.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <thread>

namespace vigilor {

QDateTime SystemClock::now() const { return QDateTime::currentDateTime(); }

void SystemClock::wait(int milliseconds)
{
    // A true blocking wait: nothing else runs meanwhile, so what was queued before it (the
    // reason of a kick in chat) leaves at the first pacer tick after it, ahead of what comes
    // next. The callers let window events run afterwards.
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SystemPump::processEvents() { QCoreApplication::processEvents(); }

} // namespace vigilor
