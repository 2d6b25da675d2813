#include "rules/banentry.h"

#include "rules/context.h"
#include "text/cp1250.h"
#include "text/textutil.h"

#include <algorithm>

namespace vigilor::rules {

namespace {

bool wellFormed(QStringView entry)
{
    return entry.size() >= 2 && entry[0] >= u'0' && entry[0] <= u'4' && entry[1] == u' ';
}

int sortKey(QChar c)
{
    const char16_t u = text::asciiFolded(c.unicode());
    const int byte = text::cp1250Byte(QChar(u));
    return byte >= 0 ? byte : 0x100 + u;
}

} // namespace

const QStringList& gradeCaptions()
{
    static const QStringList captions = {
        QStringLiteral("(0) Mindíg kirúg (Ban)"),
        QStringLiteral("(1) Ha van pontja, kirúg"),
        QStringLiteral("(2) Mindíg SPECTATOR (AWE 2.x)"),
        QStringLiteral("(3) Mindíg felrobban (-1 frag, AWE 2.x)"),
        QStringLiteral("(4) Mindíg Admin-Kill (nincs fragcsökkentés, AWE 2.x)"),
    };
    return captions;
}

QString entryText(QStringView entry)
{
    return entry.size() > 3 ? entry.mid(2).toString() : QString();
}

bool entryMatchable(QStringView text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c != u' '; });
}

bool entryMatches(QStringView entry)
{
    return wellFormed(entry) && entryMatchable(entryText(entry));
}

int entryGrade(QStringView entry)
{
    return wellFormed(entry) ? entry[0].unicode() - u'0' : -1;
}

int punishmentCode(QStringView entry)
{
    return std::max(0, entryGrade(entry));
}

QString regraded(QStringView entry, int code)
{
    // One allocation: the list's sort and every regrading of a long list come here.
    const QChar digit(char16_t(u'0' + std::clamp(code, 0, kGradeCount - 1)));
    QString result;
    result.reserve(entry.size() + 2);
    result.append(digit);
    if (entry.size() >= 2 && entry[1] == u' ') {
        result.append(entry.mid(1));
    } else {
        result.append(u' ');
        result.append(entry);
    }
    return result;
}

Step<int> findEntryCode(QString line, QStringList entries, Context& context)
{
    if (entries.isEmpty())
        co_return 0;
    const qsizetype last = std::min<qsizetype>(entries.size(), kLookupLimit) - 1;
    for (qsizetype i = 0; i <= last; ++i) {
        if (entryMatches(entries[i]) &&
            text::asciiContains(line, text::asciiLower(entryText(entries[i]))))
            co_return punishmentCode(entries[i]);
        // The entries are this walk's copy: an edit of the list made meanwhile does not move it.
        co_await context.yield();
    }
    co_return punishmentCode(entries[last]);
}

int compareEntries(QStringView a, QStringView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const int d = sortKey(a[i]) - sortKey(b[i]);
        if (d != 0)
            return d;
    }
    return int(a.size() - b.size());
}

qsizetype sortedPosition(const QStringList& entries, QStringView entry)
{
    const auto it = std::find_if(entries.begin(), entries.end(), [entry](const QString& e) {
        return compareEntries(e, entry) > 0;
    });
    return it - entries.begin();
}

QStringList malformedEntries(const QStringList& entries)
{
    QStringList malformed;
    for (const QString& entry : entries)
        if (!wellFormed(entry) && !entry.trimmed().isEmpty())
            malformed.append(entry);
    return malformed;
}

QStringList sortedEntries(QStringList entries)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const QString& a, const QString& b) { return compareEntries(a, b) < 0; });
    return entries;
}

} // namespace vigilor::rules
