#include "rules/rostermenu.h"

#include "roster/roster.h"
#include "rules/banlist.h"
#include "rules/context.h"

#include <algorithm>

namespace vigilor::rules {

TableRow TableRow::fromCells(const QStringList& cells)
{
    return {cells.value(0), cells.value(3), cells.value(4)};
}

const QList<MenuItem>& listMenuItems()
{
    using enum MenuAction;
    static const QList<MenuItem> items = {
        {Refresh, QStringLiteral("Frissítés"), QStringLiteral("RefreshItem"), QStringLiteral("F5")},
        {Separator, QStringLiteral("-"), {}, {}},
        {Dump, QStringLiteral("Részletes infók"), QStringLiteral("Dump"), {}},
        {Separator, QStringLiteral("-"), {}, {}},
        {Kick, QStringLiteral("Kirúgás"), QStringLiteral("KickItem"), {}},
        {BanName, QStringLiteral("Kitiltás (név alapján)"), QStringLiteral("BanNameItem"), {}},
        {BanAddress, QStringLiteral("Kitiltás (IP alapján)"), QStringLiteral("BanIPItem"), {}},
        {AweHeading, QStringLiteral("----- AWE szükséges -----"), {}, {}, false},
        {Kill, QStringLiteral("Kill (min AWE 2.1x)"), QStringLiteral("KillPlayerAWE21x1"), {}},
        {Smite, QStringLiteral("Felrobbant (min AWE 2.1x)"), QStringLiteral("Smite1"), {}},
        {SwitchTeam,
         QStringLiteral("Csapat váltás (min AWE 2.1x)"),
         QStringLiteral("SwitchTeam1"),
         {}},
        {Spectate,
         QStringLiteral("Nézelődő (min AWE 2.1x)"),
         QStringLiteral("SpectatePlayerminAWE21x1"),
         {}},
    };
    return items;
}

const MenuItem& menuItem(MenuAction action)
{
    const QList<MenuItem>& items = listMenuItems();
    return *std::find_if(items.begin(), items.end(),
                         [action](const MenuItem& item) { return item.action == action; });
}

bool isRecordedAct(MenuAction action)
{
    switch (action) {
    case MenuAction::Refresh:
    case MenuAction::Dump:
    case MenuAction::Separator:
    case MenuAction::AweHeading:
        return false;
    default:
        return true;
    }
}

bool RosterMenu::stillThere(const TableRow& row)
{
    if (!m_roster)
        return true;
    for (const QStringList& cells : m_roster->rows())
        if (cells.value(0) == row.slot && cells.value(3) == row.name)
            return true;
    if (row.slot == roster::Roster::headerRow()[0])
        m_context.line(QStringLiteral("A művelet elmarad: nincs kiválasztott játékos"));
    else
        m_context.line(QStringLiteral("A művelet elmarad: a ") + row.slot +
                       QStringLiteral(". slotban már nem ") + row.name + QStringLiteral(" van"));
    return false;
}

bool RosterMenu::run(MenuAction action, const TableRow& row)
{
    switch (action) {
    case MenuAction::Kick:
    case MenuAction::Kill:
    case MenuAction::Smite:
    case MenuAction::SwitchTeam:
    case MenuAction::Spectate:
        if (!stillThere(row))
            return false;
        break;
    default:
        break;
    }
    switch (action) {
    case MenuAction::Refresh:
        refresh();
        return true;
    case MenuAction::Dump:
        dump(row);
        return true;
    case MenuAction::Kick:
        kick(row);
        return true;
    case MenuAction::BanName:
        banByName(row);
        return true;
    case MenuAction::BanAddress:
        banByAddress(row);
        return true;
    case MenuAction::Kill:
        kill(row);
        return true;
    case MenuAction::Smite:
        smite(row);
        return true;
    case MenuAction::SwitchTeam:
        switchTeam(row);
        return true;
    case MenuAction::Spectate:
        spectate(row);
        return true;
    case MenuAction::Separator:
    case MenuAction::AweHeading:
        return false;
    }
    return false;
}

void RosterMenu::refresh()
{
    m_context.enqueue(QStringLiteral("status"));
}

void RosterMenu::dump(const TableRow& row)
{
    const QString name = row.name.left(std::max<qsizetype>(0, row.name.size() - 1));
    m_context.enqueue(QStringLiteral("dumpuser \"") + name + u'"');
    emit consoleTabRequested();
}

void RosterMenu::kick(const TableRow& row)
{
    m_context.enqueue(QStringLiteral("clientkick ") + row.slot);
    m_context.enqueue(QStringLiteral("status"));
}

void RosterMenu::ban(const QString& text, bool titleRow)
{
    // The title row's captions would ban every name that holds them.
    if (titleRow)
        return;
    // The window clears its form, then the entry is added at once: a check that is open works
    // on its own copy of the list.
    emit banFormReset();
    m_banList.add(text, 0);
    m_context.enqueue(QStringLiteral("status"));
}

void RosterMenu::banByName(const TableRow& row)
{
    ban(row.name, row.slot == roster::Roster::headerRow()[0]);
}

void RosterMenu::banByAddress(const TableRow& row)
{
    ban(row.address, row.slot == roster::Roster::headerRow()[0]);
}

void RosterMenu::kill(const TableRow& row)
{
    m_context.enqueue(QStringLiteral("g_killum ") + row.slot);
}

void RosterMenu::smite(const TableRow& row)
{
    m_context.enqueue(QStringLiteral("g_smite ") + row.slot);
}

void RosterMenu::switchTeam(const TableRow& row)
{
    m_context.enqueue(QStringLiteral("g_switchteam ") + row.slot);
}

void RosterMenu::spectate(const TableRow& row)
{
    m_context.enqueue(QStringLiteral("g_kicktospec ") + row.slot);
}

} // namespace vigilor::rules
