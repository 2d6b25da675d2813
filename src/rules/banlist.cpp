#include "rules/banlist.h"

#include "link/dialogs.h"
#include "rules/banentry.h"
#include "rules/learninglist.h"
#include "settings/settings.h"
#include "text/errors.h"
#include "text/textutil.h"

#include <QFile>
#include <QScopeGuard>
#include <QTimer>

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

void BanList::clear(Dialogs& dialogs, LearningList& learning, const QString& bansFile,
                    ErrorSink* errors)
{
    if (m_clearing)
        return;
    m_clearing = true;
    dialogs.question(QStringLiteral("Biztosan törlöd a banlistát?"),
                     [this, &dialogs, &learning, bansFile, errors](bool yes) {
                         if (!yes) {
                             m_clearing = false;
                             return;
                         }
                         {
                             auto failed = qScopeGuard([this] { m_clearing = false; });
                             QFile::remove(bansFile);
                             m_settings.setBanList({});
                             failed.dismiss();
                         }
                         // A check that runs before the next question finds the emptied list; an
                         // entry added meanwhile (the channel's "ban") stays, as the operator's own
                         // later one would.
                         QTimer::singleShot(0, &m_settings, [this, &dialogs, &learning, errors] {
                             guarded(errors, [&] { askAboutAddresses(dialogs, learning); });
                         });
                     });
}

void BanList::askAboutAddresses(Dialogs& dialogs, LearningList& learning)
{
    auto failed = qScopeGuard([this] { m_clearing = false; });
    dialogs.question(QStringLiteral("IP címeket is takarítod?"), [this, &learning](bool yes) {
        m_clearing = false;
        if (yes)
            learning.clear();
    });
    failed.dismiss();
}

} // namespace vigilor::rules
