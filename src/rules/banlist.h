#pragma once

#include <QString>
#include <QStringList>

namespace vigilor {
class Dialogs;
class ErrorSink;
class Settings;
} // namespace vigilor

namespace vigilor::rules {

class LearningList;

// The operator's edits of the ban list, which the settings hold (and save to "bans.txt") in
// the order of the sorted list box `banlistbox`. Rows are indexes into that list; -1 stands
// for no selection.
class BanList final
{
public:
    explicit BanList(Settings& settings) : m_settings(settings) {}

    const QStringList& entries() const;

    // AddBanEntry, the "+" button: every entry whose text equals the given one (letter case
    // folded) takes the grade; when none does, a new entry goes to its sorted place. A grade
    // of -1 (the selector shows no item) stands for 0. An empty text adds nothing. The window
    // empties `Edit5` afterwards.
    void add(const QString& text, int grade);
    // "-": deletes the selected entry.
    void remove(int row);
    // `ComboBox1` changed while an entry is selected: the entry takes the grade and keeps its
    // place.
    void setGrade(int row, int grade);
    // Puts the list in list box order, as it stands when "bans.txt" has been loaded (call it
    // after every load that replaces the list).
    void sortAsLoaded();
    // What `ComboBox1` shows for a selected entry: its code, -1 for a line of another form.
    int gradeOf(int row) const;

    // ">> Banlista törlése <<": asks, deletes the file and empties the list once the operator
    // said yes, then, from the event loop's next turn, asks whether the learning list goes too.
    // What fails after the first answer goes to errors.
    void clear(Dialogs& dialogs, LearningList& learning, const QString& bansFile,
               ErrorSink* errors);

private:
    void askAboutAddresses(Dialogs& dialogs, LearningList& learning);

    Settings& m_settings;
    // ">> Banlista törlése <<" has a question open or waits to ask its second: a second clear
    // asked for meanwhile would only ask again what this one asks.
    bool m_clearing = false;
};

} // namespace vigilor::rules
