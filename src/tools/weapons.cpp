#include "tools/weapons.h"

#include "link/link.h"

#include <QScopeGuard>

using namespace Qt::StringLiterals;

namespace vigilor::tools {

namespace {

using Place = WeaponSwitches::Place;
using Preset = WeaponSwitches::Preset;

const QString kTanks = u"Tanks"_s;

// The order in which every preset sets its boxes. "30cal", "Tankok" and "Dzsippek" are no
// preset's business.
const QStringList& presetOrder()
{
    static const QStringList order = {
        u"kar98"_s,       u"mp40"_s,         u"mp44"_s,        u"gewehr43"_s,  u"kar98sniper"_s,
        u"mg34"_s,        u"mosin_nagant"_s, u"svt40"_s,       u"ppsh"_s,      u"nagant_sniper"_s,
        u"dp28"_s,        u"m1carbine"_s,    u"m1garand"_s,    u"Thompson"_s,  u"BAR"_s,
        u"Springfield"_s, u"lee_enfield"_s,  u"Bren"_s,        u"Sten"_s,      u"Silenced_Sten"_s,
        u"FG42"_s,        u"Flamethrower"_s, u"Panzerfaust"_s, u"Artillery"_s, u"pistol"_s,
        u"Granades"_s,    u"SmokeGranade"_s, u"Satchel"_s,     u"Flak"_s};
    return order;
}

// The boxes a preset checks; every other box of the preset order is unchecked. "Minden
// fegyver" checks them all.
QStringList checkedBy(Preset preset)
{
    switch (preset) {
    case Preset::SniperOnly:
        return {u"kar98sniper"_s, u"nagant_sniper"_s, u"Springfield"_s, u"SmokeGranade"_s};
    case Preset::RifleOnly:
        return {u"kar98"_s, u"mosin_nagant"_s, u"lee_enfield"_s, u"SmokeGranade"_s};
    case Preset::SemiAutoOnly:
        return {u"gewehr43"_s, u"svt40"_s, u"m1carbine"_s, u"m1garand"_s, u"SmokeGranade"_s};
    case Preset::MGsOnly:
        return {u"mp40"_s, u"mp44"_s, u"ppsh"_s,          u"Thompson"_s,    u"BAR"_s,
                u"Bren"_s, u"Sten"_s, u"Silenced_Sten"_s, u"SmokeGranade"_s};
    case Preset::PistolOnly:
        return {u"pistol"_s, u"SmokeGranade"_s};
    case Preset::All:
        return presetOrder();
    }
    return {};
}

} // namespace

const QList<WeaponSwitches::Switch>& WeaponSwitches::table()
{
    static const QList<Switch> switches = {
        {Place::German, u"Kar98k"_s, u"kar98"_s, true, {u"scr_allow_kar98k "_s}},
        {Place::German, u"MP40"_s, u"mp40"_s, true, {u"scr_allow_mp40 "_s}},
        {Place::German, u"MP44"_s, u"mp44"_s, true, {u"scr_allow_mp44 "_s}},
        {Place::German, u"Gewehr43"_s, u"gewehr43"_s, true, {u"scr_allow_gewehr43 "_s}},
        {Place::German,
         u"Kar98k sniper"_s,
         u"kar98sniper"_s,
         false,
         {u"scr_allow_kar98ksniper "_s}},
        {Place::German, u"MG34"_s, u"mg34"_s, true, {u"scr_allow_mg34 "_s}},
        {Place::British, u"Lee-Enfield"_s, u"lee_enfield"_s, true, {u"scr_allow_enfield "_s}},
        {Place::British, u"Bren"_s, u"Bren"_s, true, {u"scr_allow_bren "_s}},
        {Place::British, u"Sten"_s, u"Sten"_s, true, {u"scr_allow_sten "_s}},
        {Place::British,
         u"Silenced Sten"_s,
         u"Silenced_Sten"_s,
         true,
         {u"scr_allow_sten_silenced "_s}},
        {Place::Russian, u"Mosin Nagant"_s, u"mosin_nagant"_s, true, {u"scr_allow_nagant "_s}},
        {Place::Russian, u"Tokarev svt40"_s, u"svt40"_s, true, {u"scr_allow_svt40 "_s}},
        {Place::Russian, u"PPSH"_s, u"ppsh"_s, true, {u"scr_allow_ppsh "_s}},
        {Place::Russian,
         u"Nagant sniper"_s,
         u"nagant_sniper"_s,
         false,
         {u"scr_allow_nagantsniper "_s}},
        {Place::Russian, u"DP28"_s, u"dp28"_s, true, {u"scr_allow_dp28 "_s}},
        {Place::American, u"M1 Carbine"_s, u"m1carbine"_s, true, {u"scr_allow_m1carbine "_s}},
        {Place::American, u"M1 Garand"_s, u"m1garand"_s, true, {u"scr_allow_m1garand "_s}},
        {Place::American, u"Thompson"_s, u"Thompson"_s, true, {u"scr_allow_thompson "_s}},
        {Place::American, u"BAR"_s, u"BAR"_s, true, {u"scr_allow_bar "_s}},
        {Place::American, u"Springfield"_s, u"Springfield"_s, false, {u"scr_allow_springfield "_s}},
        {Place::American, u"30cal"_s, u"_30cal"_s, true, {u"scr_allow_mg30cal "_s}},
        {Place::LeftColumn,
         u"Flamethrower"_s,
         u"Flamethrower"_s,
         true,
         {u"scr_allow_ft_axis "_s, u"scr_allow_ft_allies "_s}},
        {Place::LeftColumn,
         u"Panzerfaust, Panzershreck, Bazooka"_s,
         u"Panzerfaust"_s,
         true,
         {u"scr_allow_rl_axis "_s, u"scr_allow_rl_allies "_s, u"scr_allow_panzerfaust "_s,
          u"scr_allow_panzerschreck "_s}},
        {Place::LeftColumn, u"Bombázás"_s, u"Artillery"_s, false, {u"scr_allow_artillery "_s}},
        {Place::LeftColumn,
         u"FG42"_s,
         u"FG42"_s,
         false,
         {u"scr_allow_fg42 "_s, u"scr_allow_fg42_allies "_s, u"scr_allow_fg42_axis "_s}},
        {Place::MiddleColumn, u"Pisztoly"_s, u"pistol"_s, true, {u"scr_allow_pistols "_s}},
        {Place::MiddleColumn, u"Gránátok"_s, u"Granades"_s, true, {u"scr_allow_grenades "_s}},
        {Place::MiddleColumn, u"Füst gránát"_s, u"SmokeGranade"_s, true, {u"scr_allow_smoke "_s}},
        {Place::MiddleColumn, u"Táska"_s, u"Satchel"_s, true, {u"scr_allow_satchel "_s}},
        {Place::RightColumn,
         u"Tankok"_s,
         kTanks,
         true,
         {u"scr_allow_horch "_s, u"scr_allow_t34 "_s, u"scr_allow_sherman "_s,
          u"scr_allow_panzeriv "_s, u"scr_allow_elefant "_s, u"scr_allow_su152 "_s,
          u"scr_allow_tanks "_s}},
        {Place::RightColumn,
         u"Dzsippek"_s,
         u"Jeeps"_s,
         true,
         {u"scr_allow_willyjeep "_s, u"scr_allow_gaz67b "_s, u"scr_allow_jeep "_s}},
        {Place::RightColumn, u"Flak88"_s, u"Flak"_s, true, {u"scr_allow_flak88 "_s}},
    };
    return switches;
}

const QList<WeaponSwitches::PresetInfo>& WeaponSwitches::presets()
{
    static const QList<PresetInfo> buttons = {
        {Preset::SniperOnly, u"Csak sniper"_s, u"Sniper_Only"_s},
        {Preset::RifleOnly, u"Csak puska"_s, u"RiffleOnly"_s},
        {Preset::SemiAutoOnly, u"Csak ismétlő"_s, u"SemiAutoOnly"_s},
        {Preset::MGsOnly, u"Csak gépfegyver"_s, u"MGsOnly"_s},
        {Preset::PistolOnly, u"Csak pisztoly"_s, u"PistolOnly"_s},
        {Preset::All, u"Minden fegyver"_s, u"Button10"_s},
    };
    return buttons;
}

QString WeaponSwitches::placeCaption(Place place)
{
    switch (place) {
    case Place::German:
        return u"Német"_s;
    case Place::British:
        return u"Britt"_s;
    case Place::Russian:
        return u"Orosz"_s;
    case Place::American:
        return u"Amerikai"_s;
    default:
        return {};
    }
}

int WeaponSwitches::indexOf(const QString& name)
{
    const QList<Switch>& switches = table();
    for (int i = 0; i < switches.size(); ++i)
        if (switches[i].name == name)
            return i;
    return -1;
}

WeaponSwitches::WeaponSwitches(link::Link& link, QObject* parent) : QObject(parent), m_link(link)
{
    for (const Switch& s : table())
        m_checked.append(s.defaultOn);
}

QStringList WeaponSwitches::commands(int index) const
{
    const QString bit = m_checked.at(index) ? u"1"_s : u"0"_s;
    QStringList result;
    for (const QString& variable : table().at(index).variables)
        result.append(variable + bit);
    return result;
}

void WeaponSwitches::setChecked(int index, bool on)
{
    if (m_checked.at(index) == on || !isEnabled(index))
        return;
    m_checked[index] = on;
    emit checkedChanged(index, on);
    // "Tankok" stays disabled while its seven commands are queued: queueing may let window
    // events run (a reconnect), and a click then would interleave two sets of its commands.
    const bool holdBox = table().at(index).name == kTanks;
    if (holdBox) {
        m_busy = index;
        emit enabledChanged(index, false);
    }
    const auto release = qScopeGuard([&] {
        if (holdBox) {
            m_busy = -1;
            emit enabledChanged(index, true);
        }
    });
    for (const QString& command : commands(index))
        m_link.enqueueCommand(command);
}

void WeaponSwitches::applyPreset(Preset preset)
{
    const QStringList wanted = checkedBy(preset);
    for (const QString& name : presetOrder())
        setChecked(indexOf(name), wanted.contains(name));
}

} // namespace vigilor::tools
