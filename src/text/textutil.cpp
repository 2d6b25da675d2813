#include "text/textutil.h"

#include <algorithm>
#include <limits>

namespace vigilor::text {

QString asciiLower(QStringView text)
{
    QString result = text.toString();
    for (QChar& c : result)
        c = QChar(asciiFolded(c.unicode()));
    return result;
}

bool asciiContains(QStringView haystack, QStringView needle)
{
    if (needle.isEmpty())
        return false;
    const qsizetype n = needle.size();
    const char16_t* hay = haystack.utf16();
    const char16_t* wanted = needle.utf16();
    const char16_t first = wanted[0];
    for (qsizetype i = 0; i + n <= haystack.size(); ++i) {
        if (asciiFolded(hay[i]) != first)
            continue;
        qsizetype j = 1;
        for (; j < n; ++j) {
            if (asciiFolded(hay[i + j]) != wanted[j])
                break;
        }
        if (j == n)
            return true;
    }
    return false;
}

QString stripColours(QString text)
{
    if (!text.contains(u'^'))
        return text;
    // The rule is "remove the first '^^' with the character after it, as long as there is one;
    // then remove the first '^' with the character after it, as long as there is one". Doing
    // that literally costs a rescan per code; the two passes below give the same result in
    // linear time. The first keeps its output free of '^^': removing a doubled caret can only
    // create a new one where the output's last character meets the rest of the input.
    QString joined;
    joined.reserve(text.size());
    const qsizetype n = text.size();
    const char16_t* in = QStringView(text).utf16();
    for (qsizetype i = 0; i < n;) {
        const QChar c = in[i];
        if (c == u'^' && !joined.isEmpty() && QStringView(joined).back() == u'^') {
            joined.chop(1);
            i += 2; // the second caret and the character after it
            continue;
        }
        joined.append(c);
        ++i;
    }
    // No doubled caret is left, so every caret stands alone and takes its follower.
    QString result;
    result.reserve(joined.size());
    const char16_t* kept = QStringView(joined).utf16();
    for (qsizetype i = 0; i < joined.size(); ++i) {
        if (kept[i] == u'^') {
            ++i;
            continue;
        }
        result.append(kept[i]);
    }
    return result;
}

QList<qsizetype> visibleIndices(QStringView text)
{
    // The two passes of stripColours, on positions instead of characters.
    QList<qsizetype> joined;
    joined.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] == u'^' && !joined.isEmpty() && text[joined.back()] == u'^') {
            joined.removeLast();
            i += 2;
            continue;
        }
        joined.append(i);
        ++i;
    }
    QList<qsizetype> kept;
    kept.reserve(joined.size());
    for (qsizetype i = 0; i < joined.size(); ++i) {
        if (text[joined[i]] == u'^') {
            ++i;
            continue;
        }
        kept.append(joined[i]);
    }
    return kept;
}

QStringList splitLines(QStringView text)
{
    // The breaks are found by Qt's searches rather than character by character: every status
    // reply and console text passes here, and most of their characters are no break.
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    qsizetype nextFeed = text.indexOf(u'\n');
    qsizetype nextReturn = text.indexOf(u'\r');
    while (nextFeed >= 0 || nextReturn >= 0) {
        qsizetype i = nextFeed < 0 ? nextReturn
                      : nextReturn < 0 ? nextFeed
                                       : std::min(nextFeed, nextReturn);
        lines.append(text.mid(start, i - start).toString());
        if (i == nextReturn && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
        if (nextFeed >= 0 && nextFeed < start)
            nextFeed = text.indexOf(u'\n', start);
        if (nextReturn >= 0 && nextReturn < start)
            nextReturn = text.indexOf(u'\r', start);
    }
    if (start < n)
        lines.append(text.mid(start).toString());
    return lines;
}

bool endsWithEmptyLine(QStringView text)
{
    const auto isBreak = [](QChar c) { return c == u'\n' || c == u'\r'; };
    if (text.isEmpty() || !isBreak(text.back()))
        return false;
    text.chop(text.endsWith(u"\r\n") ? 2 : 1);
    return text.isEmpty() || isBreak(text.back());
}

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case u'\n':
    case u'\r':
    case u'\v':
    case u'\f':
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

QString singleLine(const QString& text)
{
    if (std::none_of(text.cbegin(), text.cend(), isLineBreak))
        return text;
    QString result;
    result.reserve(text.size());
    bool pendingBreak = false;
    for (const QChar c : text) {
        if (isLineBreak(c)) {
            pendingBreak = !result.isEmpty();
            continue;
        }
        if (pendingBreak)
            result.append(u' ');
        pendingBreak = false;
        result.append(c);
    }
    return result;
}

int parseDecimal(QStringView field, bool* ok)
{
    qsizetype i = 0;
    while (i < field.size() && field[i] == u' ')
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == u'-' || field[i] == u'+')) {
        negative = field[i] == u'-';
        ++i;
    }
    if (i >= field.size()) {
        *ok = false;
        return 0;
    }
    qint64 value = 0;
    for (; i < field.size(); ++i) {
        const char16_t c = field[i].unicode();
        if (c < u'0' || c > u'9') {
            *ok = false;
            return 0;
        }
        value = value * 10 + (c - u'0');
        if (value > 0x7fffffffLL) {
            *ok = false;
            return 0;
        }
    }
    *ok = true;
    return static_cast<int>(negative ? -value : value);
}

std::optional<qint64> parseWholeNumber(QStringView text)
{
    text = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    if (i == text.size())
        return std::nullopt;
    qint64 value = 0;
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value > (kMax - 9) / 10 ? kMax : value * 10 + (c - u'0');
    }
    return negative ? -value : value;
}

} // namespace vigilor::text
