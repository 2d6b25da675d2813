#pragma once

class QGroupBox;
class QWidget;

namespace vigilor {
class Robot;
}

namespace vigilor::ui {

// The settings tab's group of the timed import and export: "Időzített lista import (perc)" with
// its interval, the import list `ImportAd` with "+" and "-", "Import most", and "Import után
// feltöltés ide:" with the upload address `ExpAd`, bound to the settings and the importer.
QGroupBox* importGroup(Robot& robot, QWidget* parent);

} // namespace vigilor::ui
