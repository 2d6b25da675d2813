#pragma once

#include <QString>

namespace vigilor {
class Robot;
}

namespace vigilor::ui::help {

// Message box texts of the "[ S.O.S ]" menu; lines are broken with LF CR like the engine's.
const QString& rconCommands(); // "[RCON parancsok]"
const QString& about();        // "[Névjegy]"

// "[Weblap]" of the main menu and "Weblap" of the icon's menu: the program's documentation,
// copied beside the executable by the build (docs/README.md) or installed with the package
// (../share/doc/vigilor/README.md), in the desktop's viewer. A missing file is said on the
// console instead, under the name beside the executable.
QString documentationFile();
QString documentationFileFor(const QString& programFolder);
void openDocumentation(Robot& robot, const QString& file = documentationFile());

} // namespace vigilor::ui::help
