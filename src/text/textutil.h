#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace vigilor::text {

// Case folding in every comparison folds the ASCII letters A-Z only; accented letters are
// compared as they are.
QString asciiLower(QStringView text);
// One character folded so: a code unit, or a byte of code page 1250.
constexpr char16_t asciiFolded(char16_t u)
{
    return u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u;
}
constexpr char asciiFolded(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
}
bool asciiContains(QStringView haystack, QStringView needle); // needle already folded

// Removes the game's caret colour codes. A doubled caret anywhere is removed (with the
// character after it) before a single caret standing earlier; a single caret takes the
// character after it, or only itself when it is the last character.
QString stripColours(QString text);
// Where each character that stripColours keeps stands in the text: the i-th kept character is
// text[visibleIndices(text)[i]]. Lets a reader that counts columns after the codes were removed
// find the same field in the text with its colours.
QList<qsizetype> visibleIndices(QStringView text);

// Splits at LF, CR and CR LF; a final line break does not produce an empty last line, and an
// empty text gives no lines.
QStringList splitLines(QStringView text);
// Whether splitLines(text) ends with an empty line (the text ends with two line breaks, or is
// one), without splitting it.
bool endsWithEmptyLine(QStringView text);

// Whether a character ends a line: LF, CR, vertical tab, form feed and the Unicode line and
// paragraph separators (NEL, U+2028, U+2029).
bool isLineBreak(QChar c);
// The text of a one-line field as one line: line breaks at its start and end are dropped, and
// each run of them inside becomes one blank, so that a pasted "mp_carentan\n" stays
// "mp_carentan" and two pasted lines stay two words. A text without line breaks is returned as
// it is.
QString singleLine(const QString& text);

// The decimal value of a field read by fixed columns: leading blanks and one minus sign are
// allowed, a field holding anything else fails (ok == false).
int parseDecimal(QStringView field, bool* ok);

// A whole number as a person types it, optionally signed and surrounded by blanks; a number
// beyond 64 bits is taken as the largest one of its sign, so that a range limit still applies.
// No value for anything else.
std::optional<qint64> parseWholeNumber(QStringView text);

} // namespace vigilor::text
