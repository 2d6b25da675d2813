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

// What the console shows in place of a secret: always the same, whatever the secret's length.
inline const QString kSecretMark = QStringLiteral("********");

// The echo a sent command leaves on the console. A command that carries a new rcon password
// shows it as kSecretMark, so the password never reaches the day's log in clear text.
QString commandEcho(const QString& command);
// The command as the console shows it: whatever follows "rconpassword" or "rcon_password"
// (ASCII case folded) replaced by kSecretMark, in its quotes when it was quoted.
QString maskedCommand(const QString& command);

// Whether a command carries the word "rconpassword" (ASCII case folded, a blank put in front).
bool mentionsRconPassword(const QString& command);

} // namespace vigilor::link
