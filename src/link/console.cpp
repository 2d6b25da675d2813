#include "link/console.h"

#include "io/files.h"
#include "text/clock.h"
#include "text/cp1250.h"
#include "text/errors.h"
#include "text/textutil.h"
#include "text/timeformat.h"

#include <QDir>

#include <exception>

namespace vigilor::link {

Console::Console(const Clock& clock, ErrorSink* errors, QObject* parent)
    : QObject(parent), m_clock(clock), m_packer(m_lines, errors)
{
}

QString Console::stamp() const
{
    return stamped({});
}

QString Console::stamped(QStringView text) const
{
    const QDateTime now = m_clock.now();
    // "[date] time >> ", written in place: every console line has one.
    char16_t buffer[1 + text::kShortDateMax + 2 + text::kLongTimeMax + 4];
    char16_t* at = buffer;
    *at++ = u'[';
    at = text::writeShortDate(at, now.date());
    if (at) {
        *at++ = u']';
        *at++ = u' ';
        at = text::writeLongTime(at, now.time());
    }
    if (!at) {
        return u'[' + text::shortDate(now.date()) + QStringLiteral("] ") +
               text::longTime(now.time()) + QStringLiteral(" >> ") + text;
    }
    for (const char16_t c : {u' ', u'>', u'>', u' '})
        *at++ = c;
    QString line;
    line.reserve((at - buffer) + text.size());
    line.append(reinterpret_cast<const QChar*>(buffer), at - buffer);
    line.append(text);
    return line;
}

void Console::consoleLine(const QString& text)
{
    const qsizetype first = m_lines.size();
    if (!text.contains(u'\n') && !text.contains(u'\r')) {
        // Nearly every line: one line, no splitting.
        m_lines.append(stamped(text));
        m_packer.schedule();
        emit linesAppended(first);
        return;
    }
    const QStringList parts = text::splitLines(text);
    if (parts.isEmpty()) {
        m_lines.append(stamp());
    } else {
        m_lines.append(stamped(parts.front()));
        for (qsizetype i = 1; i < parts.size(); ++i)
            m_lines.append(parts[i]);
    }
    m_packer.schedule();
    emit linesAppended(first);
}

QStringList Console::linesOf(const QString& text)
{
    QStringList parts = text::splitLines(text);
    if (parts.isEmpty())
        parts.append(QString());
    return parts;
}

void Console::appendText(const QString& text)
{
    appendLines(linesOf(text));
}

void Console::appendLines(const QStringList& lines)
{
    appendLines(lines, {});
}

void Console::appendLines(const QStringList& lines, const QStringList& coloured)
{
    if (lines.isEmpty())
        return;
    const qsizetype first = m_lines.size();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        m_lines.append(lines[i]);
        if (!coloured.value(i).isEmpty())
            m_coloured.insert(first + i, coloured[i]);
    }
    const qsizetype kept = m_lines.size() - kColouredLines;
    while (!m_coloured.isEmpty() && m_coloured.firstKey() < kept)
        m_coloured.erase(m_coloured.begin());
    m_packer.schedule();
    emit linesAppended(first);
}

void Console::clear()
{
    m_lines.clear();
    m_coloured.clear();
    ++m_generation;
    emit contentReset();
}

void Console::replace(const QStringList& lines)
{
    m_lines.clear();
    m_coloured.clear();
    for (const QString& line : lines)
        m_lines.append(line);
    m_packer.schedule();
    ++m_generation;
    emit contentReset();
}

void Console::replace(LineStore lines)
{
    m_lines = std::move(lines);
    m_coloured.clear();
    m_packer.schedule();
    ++m_generation;
    emit contentReset();
}

namespace {

// The day's log is written and read in pieces of about these sizes, so that a long day is never
// held a second time in memory.
constexpr qsizetype kWriteBytes = 1 << 20;
constexpr qsizetype kReadBytes = 1 << 20;

// Writes lines [from, end), each followed by CR LF, through `write` (true when all of a piece
// was written); returns the bytes written, or -1 when some were refused.
template <typename Write> qint64 writePieces(Write&& write, const Lines& lines, qsizetype from)
{
    // One buffer of the size the lines need, up to a piece and one line, kept for every piece.
    qint64 needed = 0;
    for (qsizetype i = from; i < lines.size() && needed < kWriteBytes; ++i)
        needed += lines.bytes(i).size() + 2;
    QByteArray piece;
    piece.reserve(qsizetype(needed));
    qint64 written = 0;
    const auto flush = [&] {
        if (!write(QByteArrayView(piece)))
            return false;
        written += piece.size();
        piece.resize(0);
        return true;
    };
    for (qsizetype i = from; i < lines.size(); ++i) {
        piece += lines.bytes(i);
        piece += "\r\n";
        if (piece.size() >= kWriteBytes && !flush())
            return -1;
    }
    return flush() ? written : -1;
}

QString describe(const QString& fileName, const QString& reason)
{
    return QStringLiteral("A fájl nem írható: ") + QDir::toNativeSeparators(fileName) +
           QStringLiteral(" (") + reason + u')';
}

// The whole file replaced atomically; returns its size.
qint64 writeLines(const QString& fileName, const Lines& lines)
{
    io::Replacement file(fileName);
    if (!file.open())
        throw FileError(describe(fileName, file.errorString()), file.errorCode());
    const qint64 written =
        writePieces([&](QByteArrayView piece) { return file.write(piece); }, lines, 0);
    if (written < 0 || !file.commit())
        throw FileError(describe(fileName, file.errorString()), file.errorCode());
    return written;
}

// Lines [from, end) appended to an existing file; returns the bytes written. The pieces are
// written as they are, unbuffered.
qint64 appendLines(const QString& fileName, const Lines& lines, qsizetype from)
{
    io::Appending file(fileName);
    if (!file.open())
        throw FileError(describe(fileName, file.errorString()));
    const qint64 written =
        writePieces([&](QByteArrayView piece) { return file.write(piece); }, lines, from);
    if (written < 0) {
        const QString reason = file.errorString();
        file.close();
        throw FileError(describe(fileName, reason));
    }
    if (!file.close())
        throw FileError(describe(fileName, file.errorString()));
    return written;
}

} // namespace

void ConsoleLog::save(const QString& fileName)
{
    std::exception_ptr failure;
    for (qsizetype i = 0; i < m_unwrittenDays.size();) {
        try {
            writeLines(m_unwrittenDays[i].fileName, m_unwrittenDays[i].lines);
        } catch (const FileError&) {
            if (!failure)
                failure = std::current_exception();
            ++i;
            continue;
        }
        if (m_unwrittenDays[i].fileName == m_fileName)
            m_linesSaved = -1; // that file no longer holds what we know of it
        m_unwrittenDays.removeAt(i);
    }
    try {
        saveConsole(fileName);
    } catch (const FileError&) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void ConsoleLog::closeDay(const QString& fileName)
{
    try {
        saveConsole(fileName);
    } catch (const FileError&) {
        m_unwrittenDays.append({fileName, m_console.content().snapshot()});
        throw;
    }
}

void ConsoleLog::saveConsole(const QString& fileName)
{
    const LineStore& lines = m_console.content();
    const bool onlyGrown = fileName == m_fileName && m_linesSaved >= 0 &&
                           m_generation == m_console.generation() && m_linesSaved <= lines.size();
    if (!onlyGrown)
        return rewrite(fileName);
    // One status call tells whether the file is still as written.
    if (io::regularFileSize(fileName) == m_bytesSaved) {
        if (m_linesSaved == lines.size())
            return;
        const qsizetype from = m_linesSaved;
        // Whatever happens below, the file no longer matches what we know of it until written.
        m_linesSaved = -1;
        const qint64 written = appendLines(fileName, lines, from);
        m_linesSaved = lines.size();
        m_bytesSaved += written;
        return;
    }
    rewrite(fileName);
}

void ConsoleLog::rewrite(const QString& fileName)
{
    const LineStore& lines = m_console.content();
    m_linesSaved = -1;
    const qint64 bytes = writeLines(fileName, lines);
    m_fileName = fileName;
    m_generation = m_console.generation();
    m_linesSaved = lines.size();
    m_bytesSaved = bytes;
}

void ConsoleLog::load(const QString& fileName, Console& console)
{
    // Piece by piece through one buffer; each piece is taken up to its last line feed and the
    // rest waits for the next, so a CR LF cut in two still ends one line. Only that rest is
    // copied: the day's lines are held once, in the store, even at the peak of a start.
    LineStore lines;
    QByteArray pending;
    qint64 size = 0;
    qint64 lineFeeds = 0;
    qint64 returns = 0;
    QByteArray ending;
    const auto take = [&](QByteArrayView piece) {
        size += piece.size();
        lineFeeds += piece.count('\n');
        returns += piece.count('\r');
        ending = piece.size() >= 2 ? piece.last(2).toByteArray()
                                   : QByteArray(ending + piece.toByteArray()).right(2);
        const qsizetype cut = piece.lastIndexOf('\n');
        if (cut < 0) {
            pending += piece;
            return;
        }
        qsizetype from = 0;
        if (!pending.isEmpty()) {
            // The line begun in the pieces before ends at the first line feed of this one.
            from = piece.indexOf('\n') + 1;
            pending += piece.first(from);
            lines.appendText(pending);
        }
        lines.appendText(piece.sliced(from, cut + 1 - from));
        pending = piece.sliced(cut + 1).toByteArray();
    };
    QString error;
    if (!io::readInPieces(fileName, kReadBytes, take, &error))
        throw FileError(QStringLiteral("A fájl nem olvasható: ") +
                        QDir::toNativeSeparators(fileName) + QStringLiteral(" (") + error + u')');
    lines.appendText(pending);
    const qsizetype count = lines.size();
    console.replace(std::move(lines));
    // Appending later keeps the file identical to a rewrite only when every line of it ended
    // in CR LF, as our own saves write it.
    const bool ownFormat =
        lineFeeds == count && returns == count && (size == 0 || ending == "\r\n");
    if (&console == &m_console && ownFormat) {
        m_fileName = fileName;
        m_generation = console.generation();
        m_linesSaved = count;
        m_bytesSaved = size;
    } else {
        m_linesSaved = -1;
    }
}

} // namespace vigilor::link
