#pragma once

#include <QString>

namespace vigilor::app {

// The folder of the settings, list files and logs, chosen once at start.
struct DataFolder
{
    QString path;   // absolute, with a trailing '/'
    QString notice; // a console line when the user's data folder stands in for the program's
};

// --data-dir when given. Otherwise the program's own folder, as long as this user may write to
// it and it is not one of the system's program folders (an installed program run by root must
// not fill /usr/bin with its files; one installed under Program Files may not write there).
// Otherwise the user's data folder. The folder is created when
// missing; a failure shows at start-up, when the "logs" folder cannot be made in it.
DataFolder prepareDataFolder(const QString& dataDirOption, const QString& programDir);

// $XDG_DATA_HOME/vigilor/, or ~/.local/share/vigilor/ when XDG_DATA_HOME is unset or relative;
// %LOCALAPPDATA%\Vigilor\ on Windows.
QString userDataFolder();

} // namespace vigilor::app
