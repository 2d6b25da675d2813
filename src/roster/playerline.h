#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace vigilor::roster {

// Fixed-column readers of one line of the server's `status` reply, counted after colour
// codes were removed. Fields up to the name are counted from the start of the line, the
// address and the rate from its end. A number column that holds no number throws
// ConversionError.

bool isPlayerLine(QStringView line);
int playerSlot(QStringView line);  // 0..255; 255 when not a player line
int playerScore(QStringView line); // 0 when not a player line
int playerPing(QStringView line);  // 0..65535; 999 for a connecting or zombie client
QString playerName(QStringView line);
QString playerAddress(QStringView line); // the IP address without port
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

PlayerRecord readPlayer(QStringView line, int requiredRate);

} // namespace vigilor::roster
