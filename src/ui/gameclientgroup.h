#pragma once

#include "ui/settingsbinding.h"

class QGroupBox;
class QWidget;

namespace vigilor {
class Settings;
}

namespace vigilor::ui {

// The game client of GoPlay on the settings tab: the path of its executable with "..." to pick
// it, and "Belépés RCON joggal".
QGroupBox* gameClientGroup(const SettingsBinding& bound, QWidget* parent);

// "...": a file dialog for the executable, starting at the current file when there is one.
void browseGameClient(Settings& settings, QWidget* parent);

} // namespace vigilor::ui
