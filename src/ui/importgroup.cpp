#include "ui/importgroup.h"

#include "exchange/importer.h"
#include "settings/settings.h"
#include "ui/guard.h"
#include "ui/settingsbinding.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

// `ImportAd`: a drop-down list to choose from, in the import list's order.
QComboBox* importList(const SettingsBinding& bound, QWidget* parent)
{
    Settings& settings = bound.settings;
    auto* box = new QComboBox(parent);
    box->setObjectName(u"ImportAd"_s);
    box->setAccessibleName(u"Import lista"_s);
    box->setEditable(false);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(10);
    const auto showList = [&settings, box] {
        const QSignalBlocker quiet(box);
        box->clear();
        box->addItems(settings.importList());
        box->setCurrentIndex(settings.importSelection());
    };
    showList();
    QObject::connect(&settings, &Settings::importListChanged, box, guard(bound.errors, showList));
    QObject::connect(&settings, &Settings::importSelectionChanged, box,
                     guard(bound.errors, [box](int row) {
                         const QSignalBlocker quiet(box);
                         box->setCurrentIndex(row);
                     }));
    QObject::connect(box, &QComboBox::currentIndexChanged, box,
                     guard(bound.errors, [&settings, box](int row) {
                         settings.setImportSelection(row);
                         // A list with entries keeps one selected.
                         if (box->currentIndex() != settings.importSelection()) {
                             const QSignalBlocker quiet(box);
                             box->setCurrentIndex(settings.importSelection());
                         }
                     }));
    return box;
}

// The import interval in minutes: 5 at every start, never stored.
QSpinBox* intervalBox(const SettingsBinding& bound, QWidget* parent)
{
    Settings& settings = bound.settings;
    auto* field = new QSpinBox(parent);
    field->setObjectName(u"ImportInterval"_s);
    field->setAccessibleName(QString::fromUtf16(keyInfo(Key::TimedImport).caption));
    field->setRange(Settings::kImportIntervalMin, Settings::kImportIntervalMax);
    field->setValue(settings.importInterval());
    QObject::connect(
        field, &QSpinBox::valueChanged, field,
        guard(bound.errors, [&settings](int minutes) { settings.setImportInterval(minutes); }));
    QObject::connect(&settings, &Settings::importIntervalChanged, field,
                     guard(bound.errors, [field](int minutes) {
                         const QSignalBlocker quiet(field);
                         field->setValue(minutes);
                     }));
    return field;
}

// `ExpAd`: the upload address of the export; what is typed lasts until the program ends.
QLineEdit* exportAddress(const SettingsBinding& bound, QWidget* parent)
{
    Settings& settings = bound.settings;
    auto* field = new QLineEdit(settings.uploadAddress(), parent);
    field->setObjectName(u"ExpAd"_s);
    field->setAccessibleName(QString::fromUtf16(keyInfo(Key::ExportAlso).caption));
    QObject::connect(
        field, &QLineEdit::textEdited, field,
        guard(bound.errors, [&settings](const QString& text) { settings.setUploadAddress(text); }));
    QObject::connect(&settings, &Settings::uploadAddressChanged, field,
                     guard(bound.errors, [field](const QString& text) {
                         if (field->text() != text)
                             field->setText(text);
                     }));
    return field;
}

} // namespace

QGroupBox* importGroup(const SettingsBinding& bound, exchange::Importer& importer, QWidget* parent)
{
    auto* box = new QGroupBox(u"Banlista import és export"_s, parent);
    box->setObjectName(u"ImportGroup"_s);
    auto* grid = new QGridLayout(box);
    const auto button = [&](const QString& caption, const QString& name, auto action) {
        auto* b = new QPushButton(caption, box);
        b->setObjectName(name);
        QObject::connect(b, &QPushButton::clicked, box, guard(bound.errors, action));
        return b;
    };
    QPushButton* add = button(u"+"_s, u"ImpAdd"_s, [&importer] { importer.addAddress(); });
    QPushButton* remove = button(u"-"_s, u"ImpRem"_s, [&importer] { importer.removeAddress(); });
    add->setAccessibleName(u"Import cím hozzáadása"_s);
    remove->setAccessibleName(u"Import cím törlése"_s);
    for (QPushButton* b : {add, remove})
        b->setFixedWidth(b->sizeHint().height());

    grid->addWidget(switchBox(bound, Key::TimedImport, u"TimedImport"_s, box), 0, 0, 1, 4);
    grid->addWidget(intervalBox(bound, box), 1, 0);
    grid->addWidget(button(u"Import most"_s, u"ImpNow"_s, [&importer] { importer.runNow(); }), 1, 1,
                    1, 3);
    grid->addWidget(importList(bound, box), 2, 0, 1, 2);
    grid->addWidget(add, 2, 2);
    grid->addWidget(remove, 2, 3);
    grid->addWidget(switchBox(bound, Key::ExportAlso, u"ExportAlso"_s, box), 3, 0, 1, 4);
    grid->addWidget(exportAddress(bound, box), 4, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(5, 1);
    return box;
}

} // namespace vigilor::ui
