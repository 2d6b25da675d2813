#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace vigilor::text {

// Code page 1250 is the character set of the game's console, of the stored files and of the
// window texts. The table is lossless: all 256 byte values map to distinct characters (the
// five unassigned bytes to U+0081, U+0083, U+0088, U+0090 and U+0098), so bytes survive a
// round trip and every byte position is a character position.
QString fromCp1250(QByteArrayView bytes);

// Characters outside the code page become '?'.
QByteArray toCp1250(QStringView text);

// The byte a character stands for, or -1 when the code page has no such character.
int cp1250Byte(QChar c);

} // namespace vigilor::text
