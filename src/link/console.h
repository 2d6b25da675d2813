#pragma once

#include "link/linestore.h"

#include <QMap>
#include <QObject>
#include <QStringList>

namespace vigilor {
class Clock;
class ErrorSink;
} // namespace vigilor

namespace vigilor::link {

// The console: the operator's view of the server's replies and the program's event log. It is
// never trimmed; it is emptied only at the change of day and replaced by the day's log file at
// start. Each line is kept once, here, in code page 1250 (what the day's log holds); the window,
// the search and the log read them from here. Views pull what they have not shown yet
// (linesAppended gives the first new line).
class Console final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Console)

public:
    // errors: where the packing of the lines reports what goes wrong.
    explicit Console(const Clock& clock, ErrorSink* errors = nullptr, QObject* parent = nullptr);

    const LineStore& content() const { return m_lines; }
    qsizetype size() const { return m_lines.size(); }
    QString line(qsizetype i) const { return m_lines.line(i); }
    // Decoded copies of the lines from first on: for tests and short tails, not for the day.
    QStringList lines(qsizetype first = 0) const { return m_lines.toStringList(first); }

    // Counts the clear and replace operations: while it stays the same the console has only
    // grown, which lets the day's log be saved by appending.
    quint64 generation() const { return m_generation; }

    // Appends "[date] time >> text". A text holding line breaks continues on unstamped lines.
    void consoleLine(const QString& text);
    // Appends text as it stands, without a stamp, split at its line breaks (a final break does
    // not give an empty line; a leading one does).
    void appendText(const QString& text);
    // The lines appendText appends for a text.
    static QStringList linesOf(const QString& text);
    void appendLines(const QStringList& lines);
    // The same, with the lines as the server sent them: coloured[i], when not empty, is lines[i]
    // with its colour codes. Only the last kColouredLines lines keep them, for a front end that
    // draws the colours; the log and the window have the lines without codes.
    void appendLines(const QStringList& lines, const QStringList& coloured);
    static constexpr qsizetype kColouredLines = 2000;
    // Line i with its colour codes where they are still known, else as it stands.
    QString colouredLine(qsizetype i) const
    {
        const auto coloured = m_coloured.constFind(i);
        return coloured == m_coloured.constEnd() ? line(i) : *coloured;
    }
    bool hasColours(qsizetype i) const { return m_coloured.contains(i); }

    void clear();
    void replace(const QStringList& lines);
    void replace(LineStore lines);

    QString stamp() const;
    QString stamped(QStringView text) const; // the stamp and the text

signals:
    void linesAppended(qsizetype first);
    void contentReset();

private:
    const Clock& m_clock;
    LineStore m_lines;
    LinePacker m_packer;
    QMap<qsizetype, QString> m_coloured; // by line index
    quint64 m_generation = 0;
};

// SaveConsoleLog and LoadConsoleLog: the day's log file holds the whole console, code page
// 1250, CR LF after each line. While the console has only grown since the last save to the
// same file, a save appends the new lines (same content as a rewrite, cost of the new lines);
// otherwise it replaces the file atomically.
class ConsoleLog final
{
public:
    explicit ConsoleLog(const Console& console) : m_console(console) {}

    // Writes the console to the file, after the closed days still waiting for their files.
    // Throws FileError when a file cannot be written; what was not written is kept, and the
    // next save tries again.
    void save(const QString& fileName);
    // The change of day: the console, the whole closing day, to that day's file. When that
    // fails the lines are kept for the next saves (and FileError is thrown), so the console can
    // begin the new day without losing a line of the old one.
    void closeDay(const QString& fileName);
    // Replaces the console's content by the file's lines. Throws FileError when unreadable.
    void load(const QString& fileName, Console& console);

private:
    struct Day
    {
        QString fileName;
        Lines lines; // the closed day, sharing the console's chunks of that day
    };

    void saveConsole(const QString& fileName);
    void rewrite(const QString& fileName);

    const Console& m_console;
    QList<Day> m_unwrittenDays;
    QString m_fileName;
    quint64 m_generation = 0;
    qsizetype m_linesSaved = -1; // -1: nothing known about the file
    qint64 m_bytesSaved = 0;
};

} // namespace vigilor::link
