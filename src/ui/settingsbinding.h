#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QString>

#include <functional>

namespace vigilor {
class ErrorSink;
class Settings;
enum class Key : int;
} // namespace vigilor

namespace vigilor::ui {

// Controls bound both ways to one value of the settings model: they show the value, write the
// operator's changes back, and follow every change the engine makes, without writing that
// change back again. Captions and ranges come from the key table.

// What a bound control works on: the settings model, and where a failure in its slots goes.
struct SettingsBinding
{
    Settings& settings;
    ErrorSink* errors;
};

// beforeSet runs when the operator changes the box, before the value is set.
QCheckBox* switchBox(const SettingsBinding& bound, Key key, const QString& name, QWidget* parent,
                     std::function<void(QCheckBox*, bool)> beforeSet = {});
QSpinBox* numberBox(const SettingsBinding& bound, Key key, const QString& name, QWidget* parent);
QLineEdit* textField(const SettingsBinding& bound, Key key, const QString& name, QWidget* parent);

// The number field every number control uses: a typed value outside the range is limited to
// the nearest bound when the operator leaves the field or presses Enter.
QSpinBox* numberField(const QString& name, int minimum, int maximum, QWidget* parent);

} // namespace vigilor::ui
