#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace vigilor::settings {

// Stored text as read. The program writes code page 1250, but a file edited by hand may come
// back as UTF-16 (with its byte-order mark, either byte order) or UTF-8 (with or without one).
struct StoredText
{
    QString text;
    // Why writing the text back in code page 1250 would not keep what the file holds (not text,
    // a broken encoding, letters the code page lacks); empty when it would.
    QString problem;
    // The content is not text at all: NUL bytes, or a broken UTF-16 or UTF-8 after its mark.
    bool broken = false;
};
StoredText decodeStoredText(QByteArrayView bytes);

// Text as the program stores it: code page 1250, a character it lacks written as '?'. Those
// bytes are written as they are unless the reader above would take them for another encoding
// (a text whose only non-ASCII letters pair up like UTF-8, "ßŠ" or "Ă©", or one that starts like
// a byte-order mark): such a text is written as UTF-8 with its mark, so that every file the
// program writes reads back as it was written.
QByteArray storedBytes(QStringView text);
QByteArray storedBytes(const QByteArray& cp1250);

// List files: one entry per line, CR LF after every line, code page 1250. Reading accepts LF,
// CR and CR LF and the encodings above; a final line end adds no empty entry.
QStringList linesFromBytes(QByteArrayView bytes);
QByteArray linesToBytes(const QStringList& lines);

} // namespace vigilor::settings
