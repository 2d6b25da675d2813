#include "ui/weaponstab.h"

#include "tools/weapons.h"
#include "ui/guard.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QMap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

using tools::WeaponSwitches;
using Place = WeaponSwitches::Place;

WeaponsTab::WeaponsTab(WeaponSwitches& weapons, ErrorSink* errors, QWidget* parent)
    : QWidget(parent)
{
    // The nations' groups side by side; the left and middle columns below them; the right
    // column beside them all.
    auto* grid = new QGridLayout(this);
    QMap<Place, QVBoxLayout*> places;
    int column = 0;
    for (const Place place : {Place::German, Place::British, Place::Russian, Place::American}) {
        auto* group = new QGroupBox(WeaponSwitches::placeCaption(place), this);
        group->setObjectName(u"Group"_s + QString::number(int(place)));
        places[place] = new QVBoxLayout(group);
        grid->addWidget(group, 0, column++);
    }
    places[Place::LeftColumn] = new QVBoxLayout;
    places[Place::MiddleColumn] = new QVBoxLayout;
    places[Place::RightColumn] = new QVBoxLayout;
    grid->addLayout(places[Place::LeftColumn], 1, 0, 1, 2);
    grid->addLayout(places[Place::MiddleColumn], 1, 2, 1, 2);
    grid->addLayout(places[Place::RightColumn], 0, 4, 2, 1);
    grid->setColumnStretch(5, 1);
    grid->setRowStretch(2, 1);

    for (const WeaponSwitches::PresetInfo& preset : WeaponSwitches::presets()) {
        auto* button = new QPushButton(preset.caption, this);
        button->setObjectName(preset.name);
        connect(button, &QPushButton::clicked, this,
                guard(errors, [&weapons, which = preset.preset] { weapons.applyPreset(which); }));
        places[Place::RightColumn]->addWidget(button);
    }
    places[Place::RightColumn]->addSpacing(12);

    QList<QCheckBox*> boxes;
    const QList<WeaponSwitches::Switch>& table = WeaponSwitches::table();
    for (int i = 0; i < table.size(); ++i) {
        auto* box = new QCheckBox(table[i].caption, this);
        box->setObjectName(table[i].name);
        box->setChecked(weapons.isChecked(i));
        connect(box, &QCheckBox::toggled, this,
                guard(errors, [&weapons, i](bool on) { weapons.setChecked(i, on); }));
        places[table[i].place]->addWidget(box);
        boxes.append(box);
    }
    connect(&weapons, &WeaponSwitches::checkedChanged, this,
            guard(errors, [boxes](int index, bool on) {
                const QSignalBlocker quiet(boxes[index]);
                boxes[index]->setChecked(on);
            }));
    connect(&weapons, &WeaponSwitches::enabledChanged, this,
            guard(errors, [boxes](int index, bool enabled) { boxes[index]->setEnabled(enabled); }));
    for (QVBoxLayout* place : std::as_const(places))
        place->addStretch();
}

} // namespace vigilor::ui
