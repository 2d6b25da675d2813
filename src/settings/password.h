#pragma once

#include <QString>

namespace vigilor::settings {

// The saved server password is scrambled by position: byte k (counted from 1) of the password
// in code page 1250 is combined by exclusive-or with k mod 256. Applying it twice gives the
// text back, so the same call scrambles on save and unscrambles on load.
QString scramblePassword(const QString& text);

// The value kept under `PWD` for a password, and back.
//
// A scrambled password that is printable text without a blank at either end is kept as the
// scrambled characters themselves, the form every existing settings file holds. Any other one
// (possible from the 32nd character on: control characters, even CR, LF or NUL, and blanks at
// the ends, which INI readers trim) would not survive the file, so it is kept as '~' followed
// by the scrambled bytes in upper-case hexadecimal, two digits per byte.
//
// A plain scrambled value never starts with '~', which would stand for a password starting with
// the control character DEL; the rare scrambled value that does is kept in the hexadecimal form
// too. An older reader therefore unscrambles an escaped value into text that starts with DEL,
// which no typed password does, instead of into a plausible password.
QString storedPassword(const QString& password);
QString passwordFromStored(const QString& value);

} // namespace vigilor::settings
