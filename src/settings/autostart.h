#pragma once

#include <QString>

namespace vigilor::settings {

// Starting the program at logon. On Windows this is the string value `vigilor` under
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run; elsewhere the freedesktop
// autostart entry `vigilor.desktop` in $XDG_CONFIG_HOME/autostart (~/.config/autostart when
// unset). The entry names the program path cut to its first 255 characters.
constexpr int kAutostartPathLimit = 255;

// Writes the entry (creating what it needs) when `on`, removes it otherwise. Writing throws
// Error with a text for the console; removing an absent entry does nothing, and a removal that
// fails is not reported.
void applyAutostart(bool on, const QString& programPath);
// The running program's own path, as the system reports it.
void applyAutostartForThisProgram(bool on);

#ifndef Q_OS_WIN
QString autostartEntryPath();
// The entry's text for a program path: Exec quoted and escaped as desktop entries require.
QString autostartEntry(const QString& programPath);
#endif

} // namespace vigilor::settings
