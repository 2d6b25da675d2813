#include "rules/learninglist.h"

#include "rules/banentry.h"
#include "text/textutil.h"

namespace vigilor::rules {

void LearningList::remember(int code, const QString& address)
{
    if (address.isEmpty())
        return;
    bool listed = false;
    for (QString& entry : m_entries) {
        if (text::asciiLower(entryText(entry)) == address) {
            entry = regraded(entry, code);
            listed = true;
        }
    }
    if (!listed)
        m_entries.append(QString::number(code) + u' ' + address);
    emit changed();
}

void LearningList::setGrade(int row, int code)
{
    if (row < 0 || row >= m_entries.size())
        return;
    m_entries[row] = regraded(m_entries[row], code);
    emit changed();
}

void LearningList::remove(int row)
{
    if (row < 0 || row >= m_entries.size())
        return;
    m_entries.removeAt(row);
    emit changed();
}

int LearningList::gradeOf(int row) const
{
    return row < 0 || row >= m_entries.size() ? -1 : entryGrade(m_entries[row]);
}

void LearningList::clear()
{
    if (m_entries.isEmpty())
        return;
    m_entries.clear();
    emit changed();
}

} // namespace vigilor::rules
