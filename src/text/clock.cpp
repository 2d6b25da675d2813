#include "text/clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

namespace vigilor {

QDateTime SystemClock::now() const { return QDateTime::currentDateTime(); }

void SystemClock::wait(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents,
                                        static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
}

void SystemPump::processEvents() { QCoreApplication::processEvents(); }

} // namespace vigilor
