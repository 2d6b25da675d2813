#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

namespace vigilor::exchange {

// The largest public list a download takes. Ban lists hold hundreds of lines; a file beyond
// these bounds is no ban list, and merging it line by line would keep the window busy for long.
constexpr qsizetype kMaxListBytes = 4 * 1024 * 1024;
constexpr qsizetype kMaxListLines = 10'000;

// A downloaded public list file, read as the list file it is: code page 1250 (UTF-8 when it
// starts with its byte-order mark), one ban entry per line, a line ending at CR, LF or CR LF, no
// empty line after the last line end, lines taken as they stand. A body larger than
// kMaxListBytes, one holding a zero byte (not a text file) or more than kMaxListLines lines
// yields no lines.
struct DownloadedList
{
    enum class Problem
    {
        None,
        TooLarge,
        NotText,
        TooManyLines
    };
    QStringList lines;
    Problem problem = Problem::None;
};
DownloadedList readDownloadedList(QByteArrayView body);

// Whether a downloaded list is a web page (a parked domain, a hosting welcome page, a login page
// answered with status 200) rather than a ban list: served as "text/html", or its first line
// with more than blanks starts with "<", which no ban entry does.
bool isWebPage(const QStringList& lines, QStringView contentType);

// The public list file as it is uploaded: each line in code page 1250 followed by CR LF.
QByteArray listFileBytes(const QStringList& lines);

} // namespace vigilor::exchange
