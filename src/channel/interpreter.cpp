#include "channel/interpreter.h"

#include "channel/broadcaster.h"
#include "link/console.h"
#include "link/intake.h"
#include "link/link.h"
#include "settings/settings.h"
#include "text/errors.h"
#include "text/textutil.h"

#include <algorithm>

namespace vigilor::channel {

using namespace Qt::StringLiterals;

namespace {

const QString kDefault = u"\" default"_s;
const QString kReset = u"set vigilor \"nil\""_s;

// Leading blanks, one sign, then digits only. A number too long for the check interval is
// still a whole number and ends up at the top of its range.
int wholeNumber(const QString& field)
{
    qsizetype i = 0;
    while (i < field.size() && field[i] == u' ')
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == u'-' || field[i] == u'+'))
        negative = field[i++] == u'-';
    const qsizetype digits = i;
    qint64 value = 0;
    for (; i < field.size() && field[i] >= u'0' && field[i] <= u'9'; ++i)
        value = std::min<qint64>(value * 10 + (field[i].unicode() - u'0'), 1000000000);
    if (i == digits || i != field.size())
        throw ConversionError(u"Parancs figyelő: az \"interval\" után nem egész szám áll: '"_s +
                              field + u'\'');
    return static_cast<int>(negative ? -value : value);
}

} // namespace

Interpreter::Interpreter(Settings& settings, link::Link& link, link::Console& console,
                         Broadcaster& broadcaster, ErrorSink* errors, QObject* parent)
    : QObject(parent), m_settings(settings), m_link(link), m_console(console),
      m_broadcaster(broadcaster), m_errors(errors), m_poll(this)
{
    m_poll.setObjectName(u"Timer5"_s);
    m_poll.setInterval(pollPeriod(m_settings.timeInterval()));
    connect(&m_poll, &QTimer::timeout, this,
            [this] { guarded(m_errors, [this] { pollChannel(); }); });
    connect(&m_settings, &Settings::changed, this,
            [this](Key key) { guarded(m_errors, [this, key] { onChanged(key); }); });
    connect(&m_settings, &Settings::timeIntervalSet, this,
            [this](int seconds) noexcept { m_poll.setInterval(pollPeriod(seconds)); });
    if (m_settings.flag(Key::CommandListener))
        m_poll.start();
}

int Interpreter::pollPeriod(int timeIntervalSeconds)
{
    return std::max(timeIntervalSeconds * 1000 / 3, kMinPollMs);
}

void Interpreter::onChanged(Key key)
{
    if (key != Key::CommandListener)
        return;
    if (!m_settings.flag(Key::CommandListener))
        m_poll.stop();
    else if (!m_poll.isActive())
        m_poll.start();
}

void Interpreter::pollChannel()
{
    if (m_link.isConnected())
        m_link.enqueueCommand(u"vigilor"_s);
}

QString Interpreter::commandText(const QString& reply)
{
    const QString& plain = link::kChannelMarker;
    const QString& blank = link::kChannelMarkerWithBlank;
    const qsizetype atPlain = reply.indexOf(plain);
    const qsizetype atBlank = reply.indexOf(blank);
    if (atPlain < 0 && atBlank < 0)
        return {};
    const qsizetype start = atPlain >= 0 && (atBlank < 0 || atPlain < atBlank)
                                ? atPlain + plain.size()
                                : atBlank + blank.size();
    const qsizetype end = reply.indexOf(kDefault, start);
    if (end < 0)
        return {};
    // The variable's value is one line. A garbled answer must not carry a line break into a
    // chat line, where the server would take what follows for a command of its own.
    QString command = text::asciiLower(QStringView(reply).mid(start, end - start));
    std::replace_if(
        command.begin(), command.end(),
        [](QChar c) { return c == u'\n' || c == u'\r' || c == QChar(0); }, QChar(u' '));
    return command;
}

QString Interpreter::madeUpAnswer(const QString& command)
{
    return link::kChannelMarker + command + u"\" default is:\"\""_s;
}

template <typename Step> void Interpreter::step(Step&& work)
{
    guarded(std::forward<Step>(work), [this](const std::exception& e) {
        m_console.consoleLine(dynamic_cast<const UnknownError*>(&e)
                                  ? u"Parancs figyelő: ismeretlen hiba"_s
                                  : errorText(e));
    });
}

void Interpreter::setMessageAtPosition(const QString& text)
{
    QStringList lines = m_settings.messages();
    const qsizetype at = m_broadcaster.position();
    if (at < lines.size())
        lines[at] = text;
    else if (lines.isEmpty())
        lines.append(text);
    else
        return;
    m_settings.setMessages(lines);
}

void Interpreter::runChannelCommand(const QString& reply)
{
    const QString command = commandText(reply);
    if (command == u"nil")
        return;
    const qsizetype length = command.size();
    const QString hay = u' ' + command;
    const auto keyword = [&hay](QStringView word) { return hay.contains(word); };
    const auto holds = [&command](QStringView word) { return command.contains(word); };
    const auto say = [this](const QString& line) { m_broadcaster.sayPublic(line); };

    step([&] { say(u"parancs erkezett"_s); });

    if (keyword(u"randomize"))
        step([&] { m_link.enqueueCommand(u"sv_maprotationcurrent"_s); });
    if (keyword(u"status"))
        step([&] { m_link.enqueueCommand(u"status"_s); });
    if (keyword(u"rsay ") && length > 5)
        step([&] { say(command.mid(5)); });

    if (keyword(u"unban ")) {
        step([&] {
            const QString entry = command.mid(6);
            QStringList entries = m_settings.banList();
            const auto found = std::find_if(entries.begin(), entries.end(), [&](const QString& e) {
                return text::asciiLower(e) == entry;
            });
            if (found == entries.end())
                return;
            entries.erase(found);
            m_settings.setBanList(entries);
        });
    } else if (keyword(u"lban ")) {
        step([&] {
            if (holds(u"off"))
                m_settings.setFlag(Key::LearningBan, false);
            else if (holds(u"on"))
                m_settings.setFlag(Key::LearningBan, true);
        });
    } else if (keyword(u"ban ")) {
        step([&] {
            if (holds(u" on"))
                m_settings.setFlag(Key::TestBans, true);
            else if (holds(u" off"))
                m_settings.setFlag(Key::TestBans, false);
            else if (length > 4 && m_hooks.addBanEntry)
                m_hooks.addBanEntry(command.mid(4), 0);
        });
    }

    if (keyword(u"time")) {
        step([&] {
            if (length == 4)
                m_broadcaster.sayTime();
            else if (holds(u"off"))
                m_settings.setFlag(Key::AnounceTime, false);
            else if (holds(u"on"))
                m_settings.setFlag(Key::AnounceTime, true);
        });
    }
    if (keyword(u"anounce")) {
        step([&] {
            if (length == 7)
                m_broadcaster.announceNext();
            else if (holds(u"off"))
                m_settings.setFlag(Key::Notification, false);
            else if (holds(u"on"))
                m_settings.setFlag(Key::Notification, true);
            else
                setMessageAtPosition(command.mid(8));
        });
    }
    if (keyword(u"antifreeze")) {
        step([&] {
            if (holds(u"on"))
                m_settings.setFlag(Key::AntiFreeze, true);
            else if (holds(u"off"))
                m_settings.setFlag(Key::AntiFreeze, false);
            else
                say(m_settings.flag(Key::AntiFreeze) ? u"A fagyas vedelem be van kapcsolva"_s
                                                     : u"A fagyas vedelem ki van kapcsolva"_s);
        });
    }
    if (keyword(u"ratecheck")) {
        step([&] {
            if (holds(u"on"))
                m_settings.setFlag(Key::RateCheck, true);
            else if (holds(u"off"))
                m_settings.setFlag(Key::RateCheck, false);
            else
                say(m_settings.flag(Key::RateCheck) ? u"Rate ellenorzes be van kapcsolva"_s
                                                    : u"Rate ellenorzes ki van kapcsolva"_s);
        });
    }
    if (keyword(u"save") && m_hooks.saveSettings)
        step([&] { m_hooks.saveSettings(); });
    if (keyword(u"load") && m_hooks.loadSettings)
        step([&] { m_hooks.loadSettings(); });
    if (keyword(u"interval")) {
        step([&] {
            if (length <= 9)
                say(u"Interval is currently "_s + QString::number(m_settings.timeInterval()));
            else
                m_settings.setTimeInterval(wholeNumber(command.mid(9)));
        });
    }
    if (keyword(u"restart")) {
        step([&] {
            if (holds(u"warn")) {
                say(u"^1 !!! FIGYELEM !!! ^3A szerver nemsokara ujraindul!"_s);
                return;
            }
            say(u"^1 !!! FIGYELEM !!! ^3A szerver most ujraindul!"_s);
            say(u"3"_s);
            say(u"2"_s);
            say(u"1"_s);
            m_link.enqueueCommand(u"quit"_s);
        });
    }

    step([&] { m_link.enqueueCommand(kReset); });
}

} // namespace vigilor::channel
