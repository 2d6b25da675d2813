#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace vigilor::exchange {

// What the merge rule compares of two lines: the entry text (from the third character on,
// empty for a line of three characters or fewer), cut to 255 characters, compared with case.
QString mergeKey(QStringView line);

// One list of the public ban list window: lines in list box order (letter case folded), where a
// new line takes its sorted place and a replacing line the place of the line it replaces. Keeps
// what the merge rule asks of every line at hand, so merging a whole list costs about the size
// of both lists, not their product.
class MergeList final
{
public:
    enum class Result
    {
        Unchanged, // an equal line (letter case folded) was there already
        Replaced,  // lines with the same entry text took the line in their places
        Added,     // the line took its sorted place
        Refused    // it would have been added, but additions were not allowed
    };

    MergeList() = default;
    // The lines take list box order, as a sorted list box that is filled puts them.
    explicit MergeList(const QStringList& lines);

    const QStringList& lines() const { return m_lines; }
    qsizetype size() const { return m_lines.size(); }
    bool isEmpty() const { return m_lines.isEmpty(); }

    // The merge rule: nothing when an equal line (ASCII letters folded) is there; otherwise every
    // line with the same entry text (compared with case) is replaced in place by the line; when
    // none is, the line is added in its sorted place, unless mayAdd is false.
    Result merge(const QString& line, bool mayAdd = true);
    // Where the last line merge() added went.
    qsizetype lastAdded() const { return m_lastAdded; }
    void removeAt(qsizetype row);

private:
    void insertAt(qsizetype row, const QString& line);
    void replaceAt(qsizetype row, const QString& line);
    void count(const QString& line, const QString& key, int delta);
    bool descent(qsizetype row) const; // lines row and row + 1 out of order
    void forgetDescents(qsizetype first, qsizetype last);
    void noteDescents(qsizetype first, qsizetype last);
    void shiftDescents(qsizetype from, qsizetype by);
    qsizetype insertPosition(const QString& line) const;

    QStringList m_lines;
    QStringList m_keys; // mergeKey of each line
    QHash<QString, int> m_folded;
    QHash<QString, int> m_keyCounts;
    // Where a line sorts after the next one (replacements in place cause that): the list is
    // a row of sorted runs between these places.
    std::vector<qsizetype> m_descents;
    qsizetype m_lastAdded = -1;
};

} // namespace vigilor::exchange
