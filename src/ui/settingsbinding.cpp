#include "ui/settingsbinding.h"

#include "settings/settings.h"
#include "text/textutil.h"
#include "ui/guard.h"
#include "ui/singleline.h"

#include <QSignalBlocker>

#include <algorithm>
#include <optional>

namespace vigilor::ui {

namespace {

// A number field that limits a typed value to its range, as loading the settings file does: "5"
// where 30 is the least becomes 30, "1000000" where 999999 is the most becomes 999999. Qt's own
// field would put the previous value back for the first and refuse the last digit of the second.
class NumberField final : public QSpinBox
{
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& input, int& pos) const override
    {
        const QValidator::State state = QSpinBox::validate(input, pos);
        if (state == QValidator::Invalid && typedNumber(input))
            return QValidator::Intermediate;
        return state;
    }

    void fixup(QString& input) const override
    {
        if (const std::optional<qint64> number = typedNumber(input))
            input = prefix() +
                    textFromValue(int(std::clamp<qint64>(*number, minimum(), maximum()))) +
                    suffix();
        else
            QSpinBox::fixup(input);
    }

private:
    std::optional<qint64> typedNumber(QStringView input) const
    {
        if (input.startsWith(prefix()))
            input = input.sliced(prefix().size());
        if (input.endsWith(suffix()))
            input.chop(suffix().size());
        return text::parseWholeNumber(input);
    }
};

} // namespace

QSpinBox* numberField(const QString& name, int minimum, int maximum, QWidget* parent)
{
    auto* field = new NumberField(parent);
    field->setObjectName(name);
    field->setRange(minimum, maximum);
    return field;
}

QCheckBox* switchBox(const SettingsBinding& bound, Key key, const QString& name, QWidget* parent,
                     std::function<void(QCheckBox*, bool)> beforeSet)
{
    Settings& settings = bound.settings;
    auto* box = new QCheckBox(QString::fromUtf16(keyInfo(key).caption), parent);
    box->setObjectName(name);
    box->setChecked(settings.flag(key));
    QObject::connect(box, &QCheckBox::toggled, box,
                     guard(bound.errors, [&settings, key, box, beforeSet](bool on) {
                         if (beforeSet)
                             beforeSet(box, on);
                         settings.setFlag(key, on);
                     }));
    QObject::connect(&settings, &Settings::changed, box,
                     guard(bound.errors, [&settings, key, box](Key changed) {
                         if (changed != key || box->isChecked() == settings.flag(key))
                             return;
                         const QSignalBlocker quiet(box);
                         box->setChecked(settings.flag(key));
                     }));
    return box;
}

QSpinBox* numberBox(const SettingsBinding& bound, Key key, const QString& name, QWidget* parent)
{
    Settings& settings = bound.settings;
    const KeyInfo& info = keyInfo(key);
    QSpinBox* field = numberField(name, info.minimum, info.maximum, parent);
    field->setValue(settings.number(key));
    QObject::connect(
        field, &QSpinBox::valueChanged, field,
        guard(bound.errors, [&settings, key](int value) { settings.setNumber(key, value); }));
    QObject::connect(&settings, &Settings::changed, field,
                     guard(bound.errors, [&settings, key, field](Key changed) {
                         if (changed != key || field->value() == settings.number(key))
                             return;
                         const QSignalBlocker quiet(field);
                         field->setValue(settings.number(key));
                     }));
    return field;
}

QLineEdit* textField(const SettingsBinding& bound, Key key, const QString& name, QWidget* parent)
{
    Settings& settings = bound.settings;
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    keepOnOneLine(field);
    field->setText(settings.text(key));
    QObject::connect(field, &QLineEdit::textChanged, field,
                     guard(bound.errors,
                           [&settings, key](const QString& text) { settings.setText(key, text); }));
    QObject::connect(&settings, &Settings::changed, field,
                     guard(bound.errors, [&settings, key, field](Key changed) {
                         if (changed != key || field->text() == settings.text(key))
                             return;
                         const QSignalBlocker quiet(field);
                         field->setText(settings.text(key));
                     }));
    return field;
}

} // namespace vigilor::ui
