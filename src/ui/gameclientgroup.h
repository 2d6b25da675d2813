#pragma once

class QGroupBox;
class QWidget;

namespace vigilor {
class Robot;
}

namespace vigilor::ui {

// The game client of GoPlay on the settings tab: the path of its executable with "..." to pick
// it, and "Belépés RCON joggal".
QGroupBox* gameClientGroup(Robot& robot, QWidget* parent);

// "...": a file dialog for the executable, starting at the current file when there is one.
void browseGameClient(Robot& robot, QWidget* parent);

} // namespace vigilor::ui
