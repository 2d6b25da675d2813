#include "rules/bancheck.h"

#include "roster/playerline.h"
#include "rules/banentry.h"
#include "rules/context.h"
#include "rules/learninglist.h"
#include "rules/punisher.h"
#include "settings/settings.h"
#include "text/textutil.h"

#include <array>

namespace vigilor::rules {

// Named, not anonymous: a check's coroutine frame holds one.
namespace detail {

// The roster-wide test of every entry, the bulk of a check's work, made cheap: a text can only
// occur in the roster when each pair of adjacent characters of it does, and most entries fail
// that at once, which spares them a search of the whole roster.
class RosterText
{
public:
    explicit RosterText(const QStringList& lines) : m_folded(text::asciiLower(lines.join(u'\n')))
    {
        const char16_t* c = QStringView(m_folded).utf16();
        for (qsizetype i = 0, n = m_folded.size(); i + 1 < n; ++i)
            set(pair(c[i], c[i + 1]));
    }
    // folded: the text with its letters folded.
    bool contains(QStringView folded) const
    {
        const char16_t* c = folded.utf16();
        for (qsizetype i = 0, n = folded.size(); i + 1 < n; ++i)
            if (!test(pair(c[i], c[i + 1])))
                return false;
        return m_folded.contains(folded);
    }

private:
    static std::size_t pair(char16_t a, char16_t b) { return (a * 31u + b) & 0xffffu; }
    void set(std::size_t bit) { m_pairs[bit / 64] |= quint64(1) << (bit % 64); }
    bool test(std::size_t bit) const { return m_pairs[bit / 64] >> (bit % 64) & 1; }

    QString m_folded;
    std::array<quint64, 0x10000 / 64> m_pairs{};
};

} // namespace detail

namespace {

using detail::RosterText;

// Whether t occurs in the line with one blank put in front of it.
bool occursInBlankedLine(QStringView line, QStringView t)
{
    return line.contains(t) || (t.startsWith(u' ') && line.startsWith(t.mid(1)));
}

} // namespace

Step<bool> BanCheck::checkBans(QStringList lines)
{
    const quint64 session = m_context.session();
    m_context.line(QStringLiteral("Test Bans"));
    // A snapshot: the operator may edit the list while the check yields to the event loop.
    const QStringList entries = m_context.settings().banList();
    if (entries.size() > kLookupLimit)
        m_context.line(QStringLiteral("FIGYELEM: a banlista ") + QString::number(entries.size()) +
                       QStringLiteral(" bejegyzésből áll; a 256. utáni találatok büntetését az "
                                      "első 256 bejegyzés határozza meg."));
    const RosterText roster(lines);
    const roster::StatusLayout layout = roster::statusLayout(lines);
    bool result = false;
    for (const QString& entry : entries) {
        if (!m_context.intact(session))
            break;
        const QString t = entryText(entry);
        const QString folded = text::asciiLower(t);
        if (!entryMatches(entry) || !roster.contains(folded))
            continue;
        m_context.line(QStringLiteral("Bad guy found: ") + t);
        for (const QString& line : lines) {
            if (!m_context.intact(session))
                break;
            if (!text::asciiContains(line, folded))
                continue;
            result = true;
            const int code = co_await findEntryCode(line, entries, m_context);
            co_await m_punisher.apply(code, line, entry, layout);
            // The pacer sends what was queued; a menu action, the web page or a timer may queue
            // more, edit the lists or drop the link: the check keeps its own copies of the
            // roster and the list, and stops when the session it began on is gone.
            co_await m_context.yield();
        }
    }
    co_return result;
}

Step<> BanCheck::checkLearningBans(QStringList lines)
{
    const quint64 session = m_context.session();
    const Settings& settings = m_context.settings();
    m_context.line(QStringLiteral("Learning ban"));
    const QStringList entries = m_learning.entries();
    const RosterText roster(lines);
    const roster::StatusLayout layout = roster::statusLayout(lines);
    for (const QString& entry : entries) {
        if (!m_context.intact(session))
            break;
        const QString t = entryText(entry);
        if (!entryMatches(entry) || !roster.contains(text::asciiLower(t)))
            continue;
        m_context.line(QStringLiteral("Bad guy found: ") + t);
        for (const QString& line : lines) {
            if (!m_context.intact(session))
                break;
            // Letter case counts here, unlike in the roster-wide test above.
            if (!occursInBlankedLine(line, t))
                continue;
            if (settings.flag(Key::WarnOnLBhit))
                m_context.say(QStringLiteral("^3Kedves ^2") + roster::playerName(line, layout) +
                              QStringLiteral("^3! Allnevezni felesleges!"));
            // As in the ban check.
            co_await m_context.yield();
            const int code = co_await findEntryCode(line, entries, m_context);
            // Not remembered again. "IP figyelő" itself stays as the operator set it: switched
            // off for the punishment, a save during the kick's wait (the program ending then)
            // would keep it off, and an operator's click on it meanwhile would be lost.
            co_await m_punisher.apply(code, line, entry, layout, Punisher::Remember::Never,
                                      kByLearning);
            // As in the ban check.
            co_await m_context.yield();
        }
    }
}

} // namespace vigilor::rules
