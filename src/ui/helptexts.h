#pragma once

#include <QString>
#include <QStringList>

namespace vigilor::link {
class Console;
}

namespace vigilor::ui::help {

// Message box texts of the "[ S.O.S ]" menu; lines are broken with LF CR like the engine's.
const QString& rconCommands(); // "[RCON parancsok]"
const QString& about();        // "[Névjegy]"
// The message of the first start, before the default settings are loaded.
const QString& firstStart();

// "[Weblap]" of the main menu and "Weblap" of the icon's menu: the program's documentation in the
// desktop's viewer, wherever the program runs from. The first that exists of: the copy the build
// puts beside the executable (docs/README.md), the package's (../share/doc/vigilor/README.md),
// the source tree's the program was built from, the installed package's
// (/usr/share/doc/vigilor/README.md); failing all, the copy built into the program, written out
// to copyFolder. A file that cannot be opened is said on the console instead.
QString documentationFile();
QStringList documentationPlaces(const QString& programFolder);
QString documentationCopyFolder(); // $XDG_CACHE_HOME/vigilor
QString documentationFileFor(const QString& programFolder,
                             const QString& copyFolder = documentationCopyFolder());
// The built-in copy written to folder/README.md (left as it is when it already holds it); empty
// when it cannot be written.
QString documentationCopy(const QString& folder);
void openDocumentation(link::Console& console, const QString& file = documentationFile());

} // namespace vigilor::ui::help
