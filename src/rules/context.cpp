#include "rules/context.h"

#include "link/console.h"
#include "link/link.h"
#include "record/actrecord.h"
#include "roster/playerline.h"
#include "text/clock.h"
#include "text/errors.h"

#include <utility>

namespace vigilor::rules {

Context::Context(Settings& settings, link::Link& link, link::Console& console, Clock& clock,
                 SayPublic sayPublic, QObject* parent)
    : QObject(parent), m_settings(settings), m_link(link), m_console(console), m_clock(clock),
      m_say(std::move(sayPublic)), m_stepTimer(this)
{
    connect(&m_link, &link::Link::connectedChanged, this, [this]() noexcept { ++m_session; });
    m_stepTimer.setObjectName(QStringLiteral("RulesStepTimer"));
    m_stepTimer.setSingleShot(true);
    // The checks belong to the datagram that completed the roster: what fails after a wait or a
    // yield ends its handling as a failure before it would, silently.
    connect(&m_stepTimer, &QTimer::timeout, this,
            [this] { guarded([this] { resumeStep(); }, link::dropSilently); });
}

Context::~Context()
{
    stopPause();
}

void Context::enqueue(const QString& command)
{
    m_link.enqueueCommand(command);
}

void Context::say(const QString& text)
{
    if (m_say)
        m_say(text);
}

void Context::line(const QString& text)
{
    m_console.consoleLine(text);
}

void Context::recordPunishment(const QString& rule, const QString& what, const QString& line,
                               const QString& why, const QString& name)
{
    if (m_record)
        m_record->add({{},
                       rule,
                       {},
                       what,
                       QString::number(roster::playerSlot(line)),
                       name,
                       roster::playerAddress(line),
                       why});
}

bool Context::startPause(int milliseconds, std::coroutine_handle<> step)
{
    if (!m_holdingPacer) {
        m_link.pacer().hold();
        m_holdingPacer = true;
    }
    if (!m_clock.arm(m_stepTimer, milliseconds))
        return false; // a test's clock: the time has passed, the step goes on at once
    m_paused = step;
    return true;
}

void Context::startYield(std::coroutine_handle<> step)
{
    // Not through the clock: a test's clock would go on at once, and nothing pending would run.
    m_paused = step;
    m_stepTimer.start(0);
}

void Context::resumeStep()
{
    if (const std::coroutine_handle<> step = std::exchange(m_paused, {}))
        step.resume();
    emit stepResumed();
}

void Context::endPause()
{
    if (std::exchange(m_holdingPacer, false))
        m_link.pacer().release();
}

void Context::stopPause()
{
    m_stepTimer.stop();
    m_paused = {};
    if (std::exchange(m_holdingPacer, false))
        m_link.pacer().release(false);
}

bool Context::intact(quint64 session) const
{
    return session == m_session && m_link.isConnected();
}

} // namespace vigilor::rules
