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
    QString key = rules::entryText(line);
    key.truncate(kMaxKeyLength); // in place: a key is made for every line merged
    return key;
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

void MergeList::forgetDescents(qsizetype first, qsizetype last)
{
    std::erase_if(m_descents, [=](qsizetype at) { return at >= first && at <= last; });
}

void MergeList::noteDescents(qsizetype first, qsizetype last)
{
    for (qsizetype row = first; row <= last; ++row)
        if (descent(row))
            m_descents.insert(std::lower_bound(m_descents.begin(), m_descents.end(), row), row);
}

void MergeList::shiftDescents(qsizetype from, qsizetype by)
{
    for (qsizetype& at : m_descents)
        if (at >= from)
            at += by;
}

// Before the first line that sorts after the new one. Within each sorted run those lines are
// the run's end, found by halving; a run whose last line does not sort after it has none.
qsizetype MergeList::insertPosition(const QString& line) const
{
    const auto after = [&line](const QString& other) {
        return rules::compareEntries(other, line) > 0;
    };
    qsizetype start = 0;
    const auto firstAfter = [&](qsizetype end) { // the run [start, end)
        return std::partition_point(m_lines.begin() + start, m_lines.begin() + end,
                                    [&](const QString& other) { return !after(other); }) -
               m_lines.begin();
    };
    for (qsizetype at : m_descents) {
        if (after(m_lines[at]))
            return firstAfter(at + 1);
        start = at + 1;
    }
    return firstAfter(m_lines.size());
}

void MergeList::insertAt(qsizetype row, const QString& line)
{
    forgetDescents(row - 1, row - 1);
    shiftDescents(row, 1);
    m_lines.insert(row, line);
    m_keys.insert(row, mergeKey(line));
    count(line, m_keys[row], 1);
    noteDescents(row - 1, row);
}

void MergeList::replaceAt(qsizetype row, const QString& line)
{
    forgetDescents(row - 1, row);
    count(m_lines[row], m_keys[row], -1);
    m_lines[row] = line;
    count(line, m_keys[row], 1);
    noteDescents(row - 1, row);
}

void MergeList::removeAt(qsizetype row)
{
    if (row < 0 || row >= m_lines.size())
        return;
    forgetDescents(row - 1, row);
    shiftDescents(row + 1, -1);
    count(m_lines[row], m_keys[row], -1);
    m_lines.removeAt(row);
    m_keys.removeAt(row);
    noteDescents(row - 1, row - 1);
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
