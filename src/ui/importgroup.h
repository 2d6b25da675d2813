#pragma once

#include "ui/settingsbinding.h"

class QGroupBox;
class QWidget;

namespace vigilor::exchange {
class Importer;
}

namespace vigilor::ui {

// The settings tab's group of the timed import and export: "Időzített lista import (perc)" with
// its interval, the import list `ImportAd` with "+" and "-", "Import most", and "Import után
// feltöltés ide:" with the upload address `ExpAd`, bound to the settings and the importer.
QGroupBox* importGroup(const SettingsBinding& bound, exchange::Importer& importer, QWidget* parent);

} // namespace vigilor::ui
