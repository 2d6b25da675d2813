#include "ui/settingsbinding.h"

#include "robot/robot.h"
#include "ui/guard.h"

#include <QSignalBlocker>

namespace vigilor::ui {

QCheckBox* switchBox(Robot& robot, Key key, const QString& name, QWidget* parent,
                     std::function<void(QCheckBox*, bool)> beforeSet)
{
    Settings& settings = robot.settings();
    auto* box = new QCheckBox(QString::fromUtf16(keyInfo(key).caption), parent);
    box->setObjectName(name);
    box->setChecked(settings.flag(key));
    QObject::connect(box, &QCheckBox::toggled, box,
                     guard(&robot, [&settings, key, box, beforeSet](bool on) {
                         if (beforeSet)
                             beforeSet(box, on);
                         settings.setFlag(key, on);
                     }));
    QObject::connect(&settings, &Settings::changed, box,
                     guard(&robot, [&settings, key, box](Key changed) {
                         if (changed != key || box->isChecked() == settings.flag(key))
                             return;
                         const QSignalBlocker quiet(box);
                         box->setChecked(settings.flag(key));
                     }));
    return box;
}

QSpinBox* numberBox(Robot& robot, Key key, const QString& name, QWidget* parent)
{
    Settings& settings = robot.settings();
    const KeyInfo& info = keyInfo(key);
    auto* field = new QSpinBox(parent);
    field->setObjectName(name);
    field->setRange(info.minimum, info.maximum);
    field->setValue(settings.number(key));
    QObject::connect(
        field, &QSpinBox::valueChanged, field,
        guard(&robot, [&settings, key](int value) { settings.setNumber(key, value); }));
    QObject::connect(&settings, &Settings::changed, field,
                     guard(&robot, [&settings, key, field](Key changed) {
                         if (changed != key || field->value() == settings.number(key))
                             return;
                         const QSignalBlocker quiet(field);
                         field->setValue(settings.number(key));
                     }));
    return field;
}

QLineEdit* textField(Robot& robot, Key key, const QString& name, QWidget* parent)
{
    Settings& settings = robot.settings();
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setText(settings.text(key));
    QObject::connect(
        field, &QLineEdit::textChanged, field,
        guard(&robot, [&settings, key](const QString& text) { settings.setText(key, text); }));
    QObject::connect(&settings, &Settings::changed, field,
                     guard(&robot, [&settings, key, field](Key changed) {
                         if (changed != key || field->text() == settings.text(key))
                             return;
                         const QSignalBlocker quiet(field);
                         field->setText(settings.text(key));
                     }));
    return field;
}

} // namespace vigilor::ui
