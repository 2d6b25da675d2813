#include "exchange/merge.h"

#include "rules/banentry.h"
#include "text/textutil.h"

#include <algorithm>

namespace vigilor::exchange {

namespace {

constexpr qsizetype kMaxKeyLength = 255;

} // namespace

QString mergeKey(QStringView line)
{
    return rules::entryText(line).left(kMaxKeyLength);
}

MergeList::MergeList(const QStringList& lines) : m_lines(rules::sortedEntries(lines))
{
    m_keys.reserve(m_lines.size());
    for (const QString& line : std::as_const(m_lines)) {
        m_keys.append(mergeKey(line));
        count(line, m_keys.constLast(), 1);
    }
}

void MergeList::count(const QString& line, const QString& key, int delta)
{
    const auto add = [delta](QHash<QString, int>& counts, const QString& what) {
        if ((counts[what] += delta) <= 0)
            counts.remove(what);
    };
    add(m_folded, text::asciiLower(line));
    add(m_keyCounts, key);
}

bool MergeList::descent(qsizetype row) const
{
    return row >= 0 && row + 1 < m_lines.size() &&
           rules::compareEntries(m_lines[row], m_lines[row + 1]) > 0;
}

int MergeList::descentsAround(qsizetype row) const
{
    return int(descent(row - 1)) + int(descent(row));
}

// Before the first line that sorts after the new one. While the list is in order that is the
// upper bound, found by halving.
qsizetype MergeList::insertPosition(const QString& line) const
{
    if (m_descents > 0)
        return rules::sortedPosition(m_lines, line);
    const auto it = std::upper_bound(
        m_lines.begin(), m_lines.end(), line,
        [](const QString& a, const QString& b) { return rules::compareEntries(a, b) < 0; });
    return it - m_lines.begin();
}

void MergeList::insertAt(qsizetype row, const QString& line)
{
    m_descents -= int(descent(row - 1));
    m_lines.insert(row, line);
    m_keys.insert(row, mergeKey(line));
    count(line, m_keys[row], 1);
    m_descents += descentsAround(row);
}

void MergeList::replaceAt(qsizetype row, const QString& line)
{
    m_descents -= descentsAround(row);
    count(m_lines[row], m_keys[row], -1);
    m_lines[row] = line;
    count(line, m_keys[row], 1);
    m_descents += descentsAround(row);
}

void MergeList::removeAt(qsizetype row)
{
    if (row < 0 || row >= m_lines.size())
        return;
    m_descents -= descentsAround(row);
    count(m_lines[row], m_keys[row], -1);
    m_lines.removeAt(row);
    m_keys.removeAt(row);
    m_descents += int(descent(row - 1));
}

MergeList::Result MergeList::merge(const QString& line, bool mayAdd)
{
    if (m_folded.value(text::asciiLower(line)) > 0)
        return Result::Unchanged;
    const QString key = mergeKey(line);
    if (m_keyCounts.value(key) > 0) {
        for (qsizetype row = 0; row < m_lines.size(); ++row)
            if (m_keys[row] == key)
                replaceAt(row, line);
        return Result::Replaced;
    }
    if (!mayAdd)
        return Result::Refused;
    m_lastAdded = insertPosition(line);
    insertAt(m_lastAdded, line);
    return Result::Added;
}

} // namespace vigilor::exchange
