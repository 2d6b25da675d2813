#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace vigilor::roster {

// Fixed-column readers of one line of the server's `status` reply, counted after colour
// codes were removed. Fields up to the name are counted from the start of the line, the
// address and the rate from its end. A number column that holds no number throws
// ConversionError.

// Where a reply's own column header puts the name. United Offensive and Call of Duty 2 servers
// print a guid column before it; early Call of Duty servers do not, and their names start right
// after the ping. The columns up to the ping and those counted from the end are the same in both.
struct StatusLayout
{
    // "num score ping guid   name ...": the layout read when a reply's header says nothing else.
    static constexpr qsizetype kGuidNameColumn = 23;
    // "num score ping name ...".
    static constexpr qsizetype kNoGuidNameColumn = 16;

    qsizetype nameColumn = kGuidNameColumn; // 1-based

    bool operator==(const StatusLayout&) const = default;
};

// The layout of a reply from its column header (the first line holding " qport " that is not a
// player line); the guid layout when the header is missing or puts no "name" word where a name
// can start.
StatusLayout statusLayout(const QStringList& lines);

bool isPlayerLine(QStringView line);
int playerSlot(QStringView line);  // 0..255; 255 when not a player line
int playerScore(QStringView line); // 0 when not a player line
int playerPing(QStringView line);  // 0..65535; 999 for a connecting or zombie client
QString playerName(QStringView line, StatusLayout layout = {});
// The name of a player line as the server sent it, with its colour codes (the line before they
// were removed): the characters playerName reads, and the codes standing before and among them.
// Empty when the line is no player line.
QString colouredPlayerName(QStringView colouredLine, StatusLayout layout = {});
// The same for a name already read from the line without codes: its first column (1-based) and
// its length.
QString colouredField(QStringView colouredLine, qsizetype column, qsizetype length);
// The IP address without its port (a port printed as a negative number is cut off all the
// same), or the word a server prints instead of an address: "loopback" for a client on its own
// machine, "bot" for a bot.
QString playerAddress(QStringView line);
// Whether an address read by playerAddress is one machine's IPv4 address, the only kind worth
// remembering: "loopback" or "bot" would match every local client or every bot.
bool isRememberableAddress(QStringView address);
int playerRate(QStringView line, int requiredRate); // requiredRate when not a player line

// All lines from the first to the last player line; 0 for a reply of at most four lines.
int playerCount(const QStringList& lines);
int playerCount(QStringView text);

// The lines without the player lines whose number columns cannot be read, so that one garbled
// line does not keep the table and the checks from the other players. The left-out lines are
// appended to skipped.
QStringList readableLines(const QStringList& lines, QStringList* skipped);

struct PlayerRecord
{
    int slot = 255;
    int score = 0;
    int ping = 0;
    QString name;
    QString address;
    int rate = 0;
};

PlayerRecord readPlayer(QStringView line, int requiredRate, StatusLayout layout = {});

} // namespace vigilor::roster
