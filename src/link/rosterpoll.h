#pragma once

#include <QObject>
#include <QTimer>

namespace vigilor {
class ErrorSink;
} // namespace vigilor

namespace vigilor::link {

// The repeating timer (`Timer1`) that asks the server for its roster: `due` at every interval
// while it runs. What is asked, and whether there is anyone to ask, is the owner's business; an
// error that escapes a reaction to `due` goes to `errors`.
class RosterPoll final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RosterPoll)

public:
    RosterPoll(int intervalMs, ErrorSink* errors, QObject* parent = nullptr);

    // Starts the polls, unless they run already: a running poll keeps its schedule.
    void start();
    void stop();
    bool isRunning() const { return m_timer.isActive(); }
    int interval() const { return m_timer.interval(); }
    // A running poll starts again from now with the new interval.
    void setInterval(int milliseconds) { m_timer.setInterval(milliseconds); }

signals:
    void due();

private:
    ErrorSink* m_errors;
    QTimer m_timer;
};

} // namespace vigilor::link
