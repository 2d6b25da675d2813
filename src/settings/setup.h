#pragma once

#include "settings/settings.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace vigilor::settings {

// One KEY=VALUE of the set-up without a window, checked: the key and the text the settings
// file keeps for it, or what is wrong with it.
struct Assignment
{
    Key key = Key::Count;
    QString stored;
    QString error; // empty when the assignment is sound
};

// Reads "KEY=VALUE": KEY is the settings file's own key (letter case aside), VALUE is checked
// against the key's type and range as the settings load reads the file, except that a value out
// of range is refused instead of limited. The rcon password is never taken here (a command line
// is visible to every user of the machine).
Assignment parseAssignment(const QString& text);

// What the set-up did: every error names its KEY=VALUE (or the password); notes are what the
// settings store said (a damaged file kept aside).
struct SetupResult
{
    QStringList errors;
    QStringList notes;
    bool written = false;
    bool fileError = false; // the file could not be read or written
};

// Writes the assignments, and the password when given (stored scrambled, as the settings file
// keeps it), into `folder`'s vigilor.ini, made with the defaults when missing. Nothing else of
// the file changes. When any assignment is wrong the file is left as it was.
SetupResult setUpSettingsFile(const QString& folder, const QStringList& assignments,
                              const std::optional<QString>& password);

} // namespace vigilor::settings
