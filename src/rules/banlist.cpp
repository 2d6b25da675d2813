#include "rules/banlist.h"

#include "link/dialogs.h"
#include "rules/banentry.h"
#include "rules/learninglist.h"
#include "settings/settings.h"
#include "text/clock.h"
#include "text/textutil.h"

#include <QFile>
#include <QScopedValueRollback>

namespace vigilor::rules {

const QStringList& BanList::entries() const
{
    return m_settings.banList();
}

void BanList::add(const QString& text, int grade)
{
    if (text.isEmpty())
        return;
    const int code = grade < 0 || grade >= kGradeCount ? 0 : grade;
    QStringList list = entries();
    const QString folded = text::asciiLower(text);
    bool found = false;
    for (QString& entry : list) {
        if (text::asciiLower(entryText(entry)) == folded) {
            entry = regraded(entry, code);
            found = true;
        }
    }
    if (!found) {
        const QString entry = QString::number(code) + u' ' + text;
        list.insert(sortedPosition(list, entry), entry);
    }
    m_settings.setBanList(list);
}

void BanList::remove(int row)
{
    if (row < 0 || row >= entries().size())
        return;
    QStringList list = entries();
    list.removeAt(row);
    m_settings.setBanList(list);
}

void BanList::setGrade(int row, int grade)
{
    if (row < 0 || row >= entries().size() || grade < 0 || grade >= kGradeCount)
        return;
    QStringList list = entries();
    list[row] = regraded(list[row], grade);
    m_settings.setBanList(list);
}

void BanList::sortAsLoaded()
{
    m_settings.setBanList(sortedEntries(entries()));
}

int BanList::gradeOf(int row) const
{
    return row < 0 || row >= entries().size() ? -1 : entryGrade(entries()[row]);
}

void BanList::clear(Dialogs& dialogs, LearningList& learning, const QString& bansFile)
{
    // Events run inside (the questions wait for the operator): a second clear asked for then
    // would only ask again what this one asks.
    if (m_clearing)
        return;
    const QScopedValueRollback clearing(m_clearing, true);
    if (!dialogs.question(QStringLiteral("Biztosan törlöd a banlistát?")))
        return;
    QFile::remove(bansFile);
    m_settings.setBanList({});
    // A check that runs now finds the emptied list; an entry added now (the channel's "ban")
    // stays, as the operator's own later one would.
    m_pump.processEvents();
    if (dialogs.question(QStringLiteral("IP címeket is takarítod?")))
        learning.clear();
}

} // namespace vigilor::rules
