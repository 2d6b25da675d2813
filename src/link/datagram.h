#pragma once

#include <QByteArray>
#include <QString>

namespace vigilor::link {

// 0xFF 0xFF 0xFF 0xFF, `rcon "`, the password, `" `, the command: one command per datagram,
// code page 1250, nothing escaped, no terminator. Neither ever carries a line break (see
// text::singleLine), which the server would take for the end of the command.
QByteArray rconDatagram(const QString& password, const QString& command);

// The 9 characters that start every reply: four 0xFF bytes and "print".
QString replyHeader();

// The echo a sent command leaves on the console. A command that carries a new rcon password
// shows it as asterisks, so the password never reaches the day's log in clear text.
QString commandEcho(const QString& command);
// The command as the console shows it: a new rcon password it carries as asterisks.
QString maskedCommand(const QString& command);

// Whether a command carries the word "rconpassword" (ASCII case folded, a blank put in front).
bool mentionsRconPassword(const QString& command);

} // namespace vigilor::link
