#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace vigilor::roster {
class Roster;
}

namespace vigilor::rules {

class BanList;
class Context;

// The selected row of the player table as it shows it: column 0 the slot, 3 the name and 4
// the address.
struct TableRow
{
    QString slot;
    QString name;
    QString address;

    static TableRow fromCells(const QStringList& cells);
};

enum class MenuAction
{
    Refresh,
    Separator,
    Dump,
    Kick,
    BanName,
    BanAddress,
    AweHeading,
    Kill,
    Smite,
    SwitchTeam,
    Spectate
};

struct MenuItem
{
    MenuAction action;
    QString caption;
    QString objectName; // empty for separators and the heading
    QString shortcut;
    bool enabled = true;
};

// The player table's pop-up menu `ListMenu`, items in their order.
const QList<MenuItem>& listMenuItems();
// The menu's item of an action.
const MenuItem& menuItem(MenuAction action);
// Whether an action is an act on a player that the record of acts keeps (not the refresh or
// the details).
bool isRecordedAct(MenuAction action);

// The menu's actions on one player, by hand: commands go out at once, with no chat and none of
// the warning rules of the checks.
class RosterMenu final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RosterMenu)

public:
    RosterMenu(Context& context, BanList& banList, QObject* parent = nullptr)
        : QObject(parent), m_context(context), m_banList(banList)
    {
    }

    // The actions aimed at a slot act only while the latest roster still shows the row's player
    // there: a menu opened on one player must not hit another who has taken his slot since.
    void setRoster(const roster::Roster* roster) { m_roster = roster; }

    // Returns false when the action was left undone (the player has left the slot, or the item
    // does nothing).
    bool run(MenuAction action, const TableRow& row);

    void refresh();
    void dump(const TableRow& row);
    void kick(const TableRow& row);
    // Put the name or the address on the ban list with code 0 (re-grading an equal entry), then
    // ask for a fresh roster so that the ban check punishes the player. The title row of the
    // table bans nothing.
    void banByName(const TableRow& row);
    void banByAddress(const TableRow& row);
    void kill(const TableRow& row);
    void smite(const TableRow& row);
    void switchTeam(const TableRow& row);
    void spectate(const TableRow& row);

signals:
    // "Részletes infók": bring the "Konzol" tab to the front.
    void consoleTabRequested();
    // A ban from the menu: the ban list selection is cleared, `ComboBox1` shows item 0 and
    // `Edit5` is empty.
    void banFormReset();

private:
    void ban(const QString& text, bool titleRow);
    bool stillThere(const TableRow& row);

    Context& m_context;
    BanList& m_banList;
    const roster::Roster* m_roster = nullptr;
};

} // namespace vigilor::rules
