#pragma once

#include <QString>

namespace vigilor::settings {

// Starting the program at logon, one entry per data folder. The program's own folder has the
// plain entry: on Windows the string value `vigilor` under
// HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run, elsewhere the freedesktop
// autostart entry `vigilor.desktop` in $XDG_CONFIG_HOME/autostart (~/.config/autostart when
// unset), naming the program path cut to its first 255 characters. Any other data folder (one
// watched server each) has an entry of its own, named after the folder and stable across runs,
// that starts the program with `--data-dir` and that folder; so switching autostart off for one
// server leaves another's entry alone.
constexpr int kAutostartPathLimit = 255;

// Writes the entry of `dataFolder` (empty: the program's own folder), creating what it needs,
// when `on`; removes it otherwise. Writing throws Error with a text for the console; removing an
// absent entry does nothing, and a removal that fails is not reported.
void applyAutostart(bool on, const QString& programPath, const QString& dataFolder = {});
// The running program's own path; a data folder that is the program's own folder gets the plain
// entry.
void applyAutostartForThisProgram(bool on, const QString& dataFolder);

#ifdef Q_OS_WIN
// The registry value's name and its data: the plain path for the program's own folder, the
// quoted path with `--data-dir` and the quoted folder for another.
QString autostartValueName(const QString& dataFolder = {});
QString autostartCommand(const QString& programPath, const QString& dataFolder = {});
#else
QString autostartEntryPath(const QString& dataFolder = {});
// The entry's text: Exec quoted and escaped as desktop entries require.
QString autostartEntry(const QString& programPath, const QString& dataFolder = {});
#endif

} // namespace vigilor::settings
