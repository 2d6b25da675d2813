#pragma once

#include "rules/rostermenu.h"

#include <QStringList>
#include <QWidget>

#include <optional>

class QMenu;
class QTableWidget;

namespace vigilor {
class ErrorSink;
}
namespace vigilor::record {
class ActRecord;
}
namespace vigilor::roster {
class Roster;
}

namespace vigilor::ui {

// The tab "Lista": the player table, a mirror of the roster's rows, and its pop-up menu `ListMenu`
// of actions on the selected player.
class RosterTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RosterTab)

public:
    RosterTab(roster::Roster& roster, rules::RosterMenu& menu, record::ActRecord& record,
              ErrorSink* errors, QWidget* parent = nullptr);

    QTableWidget* table() const { return m_table; }
    QMenu* listMenu() const { return m_menu; }

private:
    void showRows();
    QStringList selectedCells() const;

    roster::Roster& m_roster;
    rules::RosterMenu& m_actions;
    record::ActRecord& m_record;
    ErrorSink* m_errors;
    QTableWidget* m_table;
    QMenu* m_menu;
    // The player the menu was opened on: its items act on him, whatever the table shows by the
    // time one is chosen (it is redrawn every second).
    std::optional<rules::TableRow> m_menuRow;
};

} // namespace vigilor::ui
