#pragma once

#include "rules/step.h"

#include <QString>
#include <QStringList>
#include <QStringView>

namespace vigilor::rules {

class Context;

// A ban entry is one line: the punishment code digit 0-4, a blank, then the entry text (a name,
// a fragment of one, an IP address or its leading part). The ban list and the learning list
// hold such lines. A line of another form (a hand-edited "Johnny") is kept as it is but never
// matches: read from its third character on it would ban "hnny", and taken whole a stray short
// line would ban nearly everyone.

constexpr int kGradeCount = 5;
// FindEntryCode looks at this many entries at most.
constexpr int kLookupLimit = 256;

// The items of the grade selectors, index = punishment code.
const QStringList& gradeCaptions();

// The text from the third character on; empty for an entry of 3 characters or fewer.
QString entryText(QStringView entry);
// The entry text as matching uses it: empty when it never matches (empty or only blanks).
bool entryMatchable(QStringView text);
// Whether the entry takes part in matching: a well-formed line whose text is matchable.
bool entryMatches(QStringView entry);
// The code digit of a well-formed entry (0-4 and a blank after it), otherwise -1.
int entryGrade(QStringView entry);
// What a match punishes with: the entry's grade, 0 for a line of another form.
int punishmentCode(QStringView entry);
// The entry with a new code. A line whose second character is a blank has its code replaced;
// any other line gets the code put in front, so none of its text is lost.
QString regraded(QStringView entry, int code);

// The code of the first entry (of the first kLookupLimit) whose text occurs in the line,
// letter case folded; the code of the last entry looked at when none does. Yields to the event
// loop after each entry passed over. 0 for an empty list. The line and the entries are taken by
// value: the caller's may change while the walk yields.
Step<int> findEntryCode(QString line, QStringList entries, Context& context);

// The order of the ban list box: whole lines, ASCII letters folded, then by code page 1250
// byte. Returns <0, 0 or >0.
int compareEntries(QStringView a, QStringView b);
// Where the list box puts a new line: before the first line that sorts after it.
qsizetype sortedPosition(const QStringList& entries, QStringView entry);
// The list in list box order, as it stands after loading "bans.txt"; equal lines keep their
// order.
QStringList sortedEntries(QStringList entries);

// The lines of the list that are not ban entries and so never match (blank lines aside).
QStringList malformedEntries(const QStringList& entries);

} // namespace vigilor::rules
