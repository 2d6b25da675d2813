#include "rules/context.h"

#include "link/console.h"
#include "link/link.h"
#include "text/clock.h"

namespace vigilor::rules {

Context::Context(Settings& settings, link::Link& link, link::Console& console, Clock& clock,
                 EventPump& pump, SayPublic sayPublic, QObject* parent)
    : QObject(parent), m_settings(settings), m_link(link), m_console(console), m_clock(clock),
      m_pump(pump), m_say(std::move(sayPublic))
{
    connect(&m_link, &link::Link::connectedChanged, this, [this]() noexcept { ++m_session; });
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

void Context::processEvents()
{
    m_pump.processEvents();
}

void Context::wait(int milliseconds)
{
    m_clock.wait(milliseconds);
}

bool Context::intact(quint64 session) const
{
    return session == m_session && m_link.isConnected();
}

} // namespace vigilor::rules
