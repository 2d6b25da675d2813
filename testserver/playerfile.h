#pragma once

#include "testserver/rconserver.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace vigilor::testserver {

// A players file lists one scripted player per line, fields separated by ';':
//
//     slot;score;ping;name;address;rate[;qport[;guid]]
//
// ping is a number, or CNCT for a connecting client, or ZMBI for a zombie. name is taken as
// written (colour codes included, blanks kept); the other fields may have blanks around them.
// Empty lines and lines starting with '#' are skipped. The file is read as UTF-8.
//
//     # slot;score;ping;name;address;rate
//     0;12;48;^1Marek;192.0.2.10:28960;25000
//     1;0;CNCT;Lucie;192.0.2.11:28960;5000
//
// On a malformed line gives nullopt and, when error is set, says which line and why.
std::optional<QList<Player>> parsePlayers(QStringView text, QString* error = nullptr);
std::optional<QList<Player>> loadPlayers(const QString& path, QString* error = nullptr);

} // namespace vigilor::testserver
