#pragma once

#include <QObject>
#include <QTimer>

namespace vigilor {
class Clock;
class ErrorSink;
class Settings;
enum class Key : int;
} // namespace vigilor

namespace vigilor::link {
class Link;
}

namespace vigilor::channel {

// The robot's voice in the public chat: SayPublic with its prefix and switch, the announcer
// that repeats the operator's messages (`Timer3`) and the time signal (`Timer4`).
class Broadcaster final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Broadcaster)

public:
    static constexpr int kTimeSignalMs = 600000;

    Broadcaster(Settings& settings, link::Link& link, const Clock& clock, ErrorSink* errors,
                QObject* parent = nullptr);

    static QString sayCommand(const QString& text); // "say ^1vigilor^2> ^7" + text

    void sayPublic(const QString& text);
    void announceNext();
    void sayTime();

    // The 8-bit position of the next message line; the channel's "anounce" replaces the line
    // there.
    quint8 position() const { return m_position; }

    QTimer& announcer() { return m_announcer; }
    QTimer& timeSignal() { return m_timeSignal; }

private:
    void onChanged(Key key);

    Settings& m_settings;
    link::Link& m_link;
    const Clock& m_clock;
    ErrorSink* m_errors;
    QTimer m_announcer;
    QTimer m_timeSignal;
    quint8 m_position = 0;
};

} // namespace vigilor::channel
