#include "link/rosterpoll.h"

#include "text/errors.h"

namespace vigilor::link {

RosterPoll::RosterPoll(int intervalMs, ErrorSink* errors, QObject* parent)
    : QObject(parent), m_errors(errors), m_timer(this)
{
    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this,
            [this] { guarded(m_errors, [this] { emit due(); }); });
}

void RosterPoll::start()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void RosterPoll::stop()
{
    m_timer.stop();
}

} // namespace vigilor::link
