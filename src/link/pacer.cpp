#include "link/pacer.h"

#include "text/errors.h"

#include <QScopeGuard>

#include <utility>

namespace vigilor::link {

Pacer::Pacer(std::function<void()> tick, ErrorSink* errors, QObject* parent)
    : QObject(parent), m_tick(std::move(tick)), m_errors(errors), m_timer(this)
{
    m_timer.setObjectName(QStringLiteral("rctimer"));
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(m_period);
    connect(&m_timer, &QTimer::timeout, this, [this] { guarded(m_errors, [this] { fire(); }); });
}

void Pacer::arm()
{
    if (!m_timer.isActive())
        m_timer.start(m_period);
}

void Pacer::stop()
{
    m_timer.stop();
}

void Pacer::reset()
{
    m_timer.stop();
    m_tickDue = false;
}

void Pacer::setPeriod(int milliseconds)
{
    m_period = milliseconds;
    if (m_timer.isActive())
        m_timer.start(m_period);
    else
        m_timer.setInterval(m_period);
}

int Pacer::msUntilGap(int gapMs) const
{
    if (!m_lastSend.isValid())
        return 0;
    return static_cast<int>(qMax<qint64>(0, gapMs - m_lastSend.elapsed()));
}

void Pacer::fire()
{
    if (!m_open)
        return;
    if (m_holds > 0) {
        m_tickDue = true;
        return;
    }
    // Early after a send made outside the ticks (the owner's own, sent() all the same): wait out
    // the rest.
    if (const int rest = msUntilNextSend(); rest > 0) {
        m_timer.start(rest);
        return;
    }
    // The next tick is armed whatever this one throws.
    const auto armNext = qScopeGuard([this] {
        if (m_open && !m_timer.isActive())
            m_timer.start(m_period);
    });
    if (m_tick)
        m_tick();
}

void Pacer::release(bool sendDueTick)
{
    if (m_holds == 0 || --m_holds > 0 || !std::exchange(m_tickDue, false))
        return;
    if (sendDueTick)
        guarded(m_errors, [this] { fire(); });
    else if (m_open && !m_timer.isActive())
        m_timer.start(m_period);
}

} // namespace vigilor::link
