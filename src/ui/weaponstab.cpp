#include "ui/weaponstab.h"

#include "robot/robot.h"
#include "ui/guard.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

using tools::WeaponSwitches;
using Place = WeaponSwitches::Place;

WeaponsTab::WeaponsTab(Robot& robot, QWidget* parent) : QWidget(parent)
{
    WeaponSwitches& weapons = robot.weapons();
    QVBoxLayout* columns[3] = {new QVBoxLayout, new QVBoxLayout, new QVBoxLayout};
    QMap<Place, QVBoxLayout*> places;
    // The nations' groups stand two by two above the left and middle columns' boxes.
    for (const Place place : {Place::German, Place::British, Place::Russian, Place::American}) {
        auto* group = new QGroupBox(WeaponSwitches::placeCaption(place), this);
        group->setObjectName(u"Group"_s + QString::number(int(place)));
        places[place] = new QVBoxLayout(group);
        const bool left = place == Place::German || place == Place::British;
        columns[left ? 0 : 1]->addWidget(group);
    }
    places[Place::LeftColumn] = columns[0];
    places[Place::MiddleColumn] = columns[1];
    places[Place::RightColumn] = columns[2];

    for (const WeaponSwitches::PresetInfo& preset : WeaponSwitches::presets()) {
        auto* button = new QPushButton(preset.caption, this);
        button->setObjectName(preset.name);
        connect(button, &QPushButton::clicked, this,
                guard(&robot, [&weapons, which = preset.preset] { weapons.applyPreset(which); }));
        columns[2]->addWidget(button);
    }
    columns[2]->addSpacing(12);

    QList<QCheckBox*> boxes;
    const QList<WeaponSwitches::Switch>& table = WeaponSwitches::table();
    for (int i = 0; i < table.size(); ++i) {
        auto* box = new QCheckBox(table[i].caption, this);
        box->setObjectName(table[i].name);
        box->setChecked(weapons.isChecked(i));
        connect(box, &QCheckBox::toggled, this,
                guard(&robot, [&weapons, i](bool on) { weapons.setChecked(i, on); }));
        places[table[i].place]->addWidget(box);
        boxes.append(box);
    }
    connect(&weapons, &WeaponSwitches::checkedChanged, this, [boxes](int index, bool on) {
        const QSignalBlocker quiet(boxes[index]);
        boxes[index]->setChecked(on);
    });
    connect(&weapons, &WeaponSwitches::enabledChanged, this,
            [boxes](int index, bool enabled) { boxes[index]->setEnabled(enabled); });

    auto* layout = new QHBoxLayout(this);
    for (QVBoxLayout* column : columns) {
        column->addStretch();
        layout->addLayout(column);
    }
    layout->addStretch();
}

} // namespace vigilor::ui
