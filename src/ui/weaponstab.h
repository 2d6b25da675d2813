#pragma once

#include <QWidget>

namespace vigilor {
class ErrorSink;
}
namespace vigilor::tools {
class WeaponSwitches;
}

namespace vigilor::ui {

// The tab "Fegyverek": one box per weapon switch of the engine, the nations' groups and the
// three columns, and the six preset buttons at the top of the right column.
class WeaponsTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WeaponsTab)

public:
    WeaponsTab(tools::WeaponSwitches& weapons, ErrorSink* errors, QWidget* parent = nullptr);
};

} // namespace vigilor::ui
