#pragma once

#include <QString>

namespace vigilor::settings {

// The single-line xxencode form in which the settings file keeps the upload address: the
// alphabet "+-0-9A-Za-z" (values 0 to 63), one character for the number of bytes, then the
// bytes (code page 1250) in groups of three written as four characters of six bits, most
// significant first. A last short group is completed with zero bits and its unused places are
// '+'. No line end. The empty text is "+".
constexpr int kXxMaxBytes = 63;

// Throws Error when the text has more than 63 bytes, which one length character cannot say.
QString xxencode(const QString& text);

// Reads what is readable: the length character decides where the text ends, padding does not
// matter; an empty or unreadable value gives the empty text, and a value shorter than its length
// character says gives the bytes it holds.
QString xxdecode(const QString& encoded);

} // namespace vigilor::settings
