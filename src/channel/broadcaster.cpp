#include "channel/broadcaster.h"

#include "link/link.h"
#include "settings/settings.h"
#include "text/clock.h"
#include "text/errors.h"
#include "text/textutil.h"
#include "text/timeformat.h"

#include <algorithm>

namespace vigilor::channel {

Broadcaster::Broadcaster(Settings& settings, link::Link& link, const Clock& clock,
                         ErrorSink* errors, QObject* parent)
    : QObject(parent), m_settings(settings), m_link(link), m_clock(clock), m_errors(errors),
      m_announcer(this), m_timeSignal(this)
{
    m_announcer.setObjectName(QStringLiteral("Timer3"));
    m_announcer.setInterval(36000); // replaced by the period as soon as the settings are applied
    m_timeSignal.setObjectName(QStringLiteral("Timer4"));
    m_timeSignal.setInterval(kTimeSignalMs);
    // Saying anything queues a command, and queueing may reconnect (the silence check), which
    // can fail: nothing of that may escape into the event loop.
    connect(&m_announcer, &QTimer::timeout, this,
            [this] { guarded(m_errors, [this] { announceNext(); }); });
    connect(&m_timeSignal, &QTimer::timeout, this,
            [this] { guarded(m_errors, [this] { sayTime(); }); });
    connect(&m_settings, &Settings::changed, this,
            [this](Key key) { guarded(m_errors, [this, key] { onChanged(key); }); });
}

QString Broadcaster::sayCommand(const QString& text)
{
    return QStringLiteral("say ^1vigilor^2> ^7") + text;
}

// A text of several lines (a scheduled message) goes out as one say per line: a line break
// inside one command would end it at the server. Empty lines are left out.
void Broadcaster::sayPublic(const QString& text)
{
    if (!m_settings.flag(Key::EventNotify))
        return;
    if (std::none_of(text.cbegin(), text.cend(), text::isLineBreak)) {
        m_link.enqueueCommand(sayCommand(text));
        return;
    }
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !text::isLineBreak(text[i]))
            continue;
        if (i > start)
            m_link.enqueueCommand(sayCommand(text.mid(start, i - start)));
        start = i + 1;
    }
}

void Broadcaster::announceNext()
{
    const QStringList& lines = m_settings.messages();
    if (m_settings.flag(Key::EventNotify) && m_settings.flag(Key::Notification))
        sayPublic(m_position < lines.size() ? lines[m_position] : QString());
    ++m_position;
    if (m_position >= lines.size())
        m_position = 0;
}

void Broadcaster::sayTime()
{
    sayPublic(QStringLiteral("Time is: ") + text::longTime(m_clock.now().time()));
}

void Broadcaster::onChanged(Key key)
{
    switch (key) {
    case Key::Notification:
        if (m_settings.flag(Key::Notification)) {
            announceNext();
            // Switching on a running timer keeps its count.
            if (!m_announcer.isActive())
                m_announcer.start();
        } else {
            m_announcer.stop();
        }
        break;
    case Key::AnounceInterval:
        // A new period restarts the count of a running timer.
        m_announcer.setInterval(m_settings.number(Key::AnounceInterval) * 60000);
        break;
    case Key::AnounceTime:
        if (m_settings.flag(Key::AnounceTime)) {
            m_timeSignal.start();
            sayTime();
        } else {
            m_timeSignal.stop();
        }
        break;
    default:
        break;
    }
}

} // namespace vigilor::channel
