#include "roster/playerline.h"

#include "text/errors.h"
#include "text/textutil.h"

#include <algorithm>

namespace vigilor::roster {
namespace {

// Characters from a 1-based column; fewer when the line is shorter.
QStringView columns(QStringView line, qsizetype first, qsizetype count)
{
    const qsizetype start = first - 1;
    if (start >= line.size())
        return {};
    return line.mid(start, std::min(count, line.size() - start));
}

int toNumber(QStringView field)
{
    bool ok = false;
    const int value = text::parseDecimal(field, &ok);
    if (!ok)
        throw ConversionError(u'\'' + field.toString() +
                              QStringLiteral("' is not a valid integer value"));
    return value;
}

// A three-column number field whose last column may be blank.
int rightAlignedField(QStringView line, qsizetype first)
{
    QStringView field = columns(line, first, 3);
    if (field.size() == 3 && field[2] == u' ')
        field.chop(1);
    return toNumber(field);
}

// The columns before the name field: slot, score and ping with their blanks.
constexpr qsizetype kNameFieldStart = 15;
// The fields after the name, counted from the end: "%7i " lastmsg, the address padded to 22,
// "%5i" qport and " %5i" rate.
constexpr qsizetype kTailColumns = 41;

// Whether the text holds one of the words that mark the reply's header lines.
bool holdsHeaderWord(QStringView text)
{
    // One pass instead of four searches: every rule check reads each line many times.
    const auto at = [&text](qsizetype i, QStringView word) {
        return text.size() - i >= word.size() && text.sliced(i, word.size()) == word;
    };
    const char16_t* c = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i) {
        switch (c[i]) {
        case u'q':
            if (at(i, u"qport"))
                return true;
            break;
        case u'p':
            if (at(i, u"print"))
                return true;
            break;
        case u'-':
            if (at(i, u"-----"))
                return true;
            break;
        case u'm':
            if (at(i, u"map:"))
                return true;
            break;
        default:
            break;
        }
    }
    return false;
}

// The words a server prints in the address field of a client that has no IP address.
QStringView addressWord(QStringView field)
{
    for (const QStringView word : {QStringView(u"loopback"), QStringView(u"bot")}) {
        if (field.startsWith(word) && (field.size() == word.size() || field[word.size()] == u' '))
            return word;
    }
    return {};
}

bool isWordAt(QStringView text, qsizetype at, QStringView word)
{
    const qsizetype end = at + word.size();
    return (at == 0 || text[at - 1] == u' ') && (end == text.size() || text[end] == u' ');
}

} // namespace

StatusLayout statusLayout(const QStringList& lines)
{
    for (const QString& line : lines) {
        if (!line.contains(u" qport ") || isPlayerLine(line))
            continue;
        constexpr QStringView kName = u"name";
        for (qsizetype at = line.indexOf(kName); at >= 0; at = line.indexOf(kName, at + 1)) {
            if (!isWordAt(line, at, kName))
                continue;
            // A name cannot start inside the slot, score and ping columns.
            const qsizetype column = at + 1;
            if (column < StatusLayout::kNoGuidNameColumn)
                return {};
            return StatusLayout{column};
        }
        return {};
    }
    return {};
}

bool isPlayerLine(QStringView line)
{
    if (line.size() < 7 || line[0] != u' ')
        return false;
    // A name may hold anything, so the header words are looked for only outside it: before the
    // column after the ping, and in the fields counted from the end (lastmsg, address, qport,
    // rate). A line too short to hold those is searched whole.
    const qsizetype nameEnd = line.size() - kTailColumns;
    if (nameEnd <= kNameFieldStart)
        return !holdsHeaderWord(line);
    return !holdsHeaderWord(line.first(kNameFieldStart)) && !holdsHeaderWord(line.sliced(nameEnd));
}

int playerSlot(QStringView line)
{
    if (!isPlayerLine(line))
        return 255;
    return toNumber(columns(line, 2, 2)) & 0xff;
}

int playerScore(QStringView line)
{
    if (!isPlayerLine(line))
        return 0;
    return rightAlignedField(line, 7);
}

int playerPing(QStringView line)
{
    if (!isPlayerLine(line))
        return 0;
    if (line.contains(u" ZMBI ") || line.contains(u" CNCT "))
        return 999;
    return rightAlignedField(line, 12) & 0xffff;
}

QString playerName(QStringView line, StatusLayout layout)
{
    if (!isPlayerLine(line))
        return {};
    QStringView name = columns(line, layout.nameColumn, 20);
    while (!name.isEmpty() && name.back() == u' ')
        name.chop(1);
    return name.toString();
}

QString colouredPlayerName(QStringView colouredLine, StatusLayout layout)
{
    const QString name = playerName(text::stripColours(colouredLine.toString()), layout);
    return name.isEmpty() ? name : colouredField(colouredLine, layout.nameColumn, name.size());
}

QString colouredField(QStringView colouredLine, qsizetype column, qsizetype length)
{
    const QList<qsizetype> at = text::visibleIndices(colouredLine);
    const qsizetype first = column - 1;
    if (length <= 0 || first < 0 || first + length > at.size())
        return {};
    // From just after the character before the field, so that the codes that colour its first
    // letter come along.
    const qsizetype begin = first > 0 ? at[first - 1] + 1 : 0;
    const qsizetype end = at[first + length - 1] + 1;
    return colouredLine.sliced(begin, end - begin).toString();
}

QString playerAddress(QStringView line)
{
    if (!isPlayerLine(line))
        return {};
    QStringView a = line.size() > 13 ? line.first(line.size() - 13) : QStringView();
    // The 19 characters before the last one: the beginning of the address field.
    const qsizetype start = std::max<qsizetype>(1, a.size() - 19);
    a = columns(a, start, 19);
    const qsizetype colon = a.indexOf(u':');
    if (colon < 0)
        return addressWord(a).toString();
    a = a.first(colon);
    const qsizetype dot = a.indexOf(u'.');
    if (dot >= 0)
        a = columns(a, std::max<qsizetype>(1, dot + 1 - 3), a.size());
    if (!a.isEmpty() && a[0] == u' ') {
        const qsizetype blank = a.indexOf(u' ');
        a = a.mid(blank + 1);
    }
    return a.toString();
}

bool isRememberableAddress(QStringView address)
{
    const auto parts = address.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QStringView part : parts) {
        if (part.isEmpty() || part.size() > 3 ||
            !std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            return false;
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

int playerRate(QStringView line, int requiredRate)
{
    if (!isPlayerLine(line))
        return requiredRate;
    return toNumber(line.last(std::min<qsizetype>(5, line.size()))) & 0xffff;
}

int playerCount(const QStringList& lines)
{
    if (lines.size() <= 4)
        return 0;
    qsizetype first = 0;
    qsizetype last = lines.size() - 1;
    while (first <= last) {
        const bool firstIsPlayer = isPlayerLine(lines[first]);
        const bool lastIsPlayer = isPlayerLine(lines[last]);
        if (firstIsPlayer && lastIsPlayer)
            break;
        if (!firstIsPlayer)
            ++first;
        if (!lastIsPlayer && first <= last)
            --last;
    }
    return first <= last ? static_cast<int>(last - first + 1) : 0;
}

int playerCount(QStringView text)
{
    return playerCount(text::splitLines(text));
}

QStringList readableLines(const QStringList& lines, QStringList* skipped)
{
    QStringList readable;
    readable.reserve(lines.size());
    for (const QString& line : lines) {
        if (isPlayerLine(line)) {
            try {
                readPlayer(line, 0);
            } catch (const ConversionError&) {
                if (skipped)
                    skipped->append(line);
                continue;
            }
        }
        readable.append(line);
    }
    return readable;
}

PlayerRecord readPlayer(QStringView line, int requiredRate, StatusLayout layout)
{
    PlayerRecord record;
    record.slot = playerSlot(line);
    record.score = playerScore(line);
    record.ping = playerPing(line);
    record.name = playerName(line, layout);
    record.address = playerAddress(line);
    record.rate = playerRate(line, requiredRate);
    return record;
}

} // namespace vigilor::roster
