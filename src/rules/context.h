#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace vigilor {
class Clock;
class EventPump;
class Settings;
} // namespace vigilor

namespace vigilor::link {
class Console;
class Link;
} // namespace vigilor::link

namespace vigilor::rules {

using SayPublic = std::function<void(const QString&)>;

// What the checks and actions talk through: the live settings, the command queue, the public
// chat, the console, the clock and the event pump. It also counts the link's sessions, so that
// a check can tell that the link it started on has gone down (or has been closed and opened
// again) while it let window events run; the check then ends instead of acting on a new
// session with a stale roster.
class Context final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Context)

public:
    Context(Settings& settings, link::Link& link, link::Console& console, Clock& clock,
            EventPump& pump, SayPublic sayPublic, QObject* parent = nullptr);

    Settings& settings() { return m_settings; }
    link::Link& link() { return m_link; }
    link::Console& console() { return m_console; }
    Clock& clock() { return m_clock; }
    EventPump& pump() { return m_pump; }

    void enqueue(const QString& command);
    void say(const QString& text);
    void line(const QString& text);
    void processEvents();
    void wait(int milliseconds);

    // Changes at every connect and disconnect.
    quint64 session() const { return m_session; }
    // The link is up and is still the session a check began on.
    bool intact(quint64 session) const;

private:
    Settings& m_settings;
    link::Link& m_link;
    link::Console& m_console;
    Clock& m_clock;
    EventPump& m_pump;
    SayPublic m_say;
    quint64 m_session = 0;
};

} // namespace vigilor::rules
