#include "link/search.h"

#include "link/console.h"
#include "text/clock.h"
#include "text/textutil.h"

#include "text/cp1250.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <string_view>

namespace vigilor::link {

namespace {

// The needle as the bytes of the lines hold it: cut to its first 255 characters, folded unless
// the case counts. Empty when the code page cannot hold one of its characters, since no line
// can then contain it.
QByteArray prepareNeedle(QStringView needle, bool caseSensitive)
{
    const QStringView head = needle.left(ConsoleSearch::kMaxChars);
    const QString folded = caseSensitive ? head.toString() : text::asciiLower(head);
    QByteArray bytes;
    bytes.reserve(folded.size());
    for (const QChar c : folded) {
        const int b = text::cp1250Byte(c);
        if (b < 0)
            return {};
        bytes += char(b);
    }
    return bytes;
}

// Whether the hay (a blank, then the line's first 255 bytes) holds the prepared needle. The hay
// is built in a buffer on the stack, folded when the case does not count.
bool hayHolds(QByteArrayView line, std::string_view needle, bool caseSensitive)
{
    std::array<char, ConsoleSearch::kMaxChars + 1> hay;
    const qsizetype length = std::min(line.size(), ConsoleSearch::kMaxChars);
    hay[0] = ' ';
    if (caseSensitive)
        std::copy_n(line.data(), length, hay.begin() + 1);
    else
        std::transform(line.data(), line.data() + length, hay.begin() + 1,
                       [](char c) { return text::asciiFolded(c); });
    return std::string_view(hay.data(), size_t(length + 1)).find(needle) != std::string_view::npos;
}

} // namespace

ConsoleSearch::ConsoleSearch(const Console& console, EventPump& pump, QObject* parent)
    : QObject(parent), m_console(console), m_pump(pump)
{
}

Lines ConsoleSearch::search(const Lines& source, QStringView needle, bool reverse,
                            bool caseSensitive, EventPump* pump,
                            const std::function<bool()>& cancelled)
{
    PickedLines results(source);
    const QByteArray prepared = prepareNeedle(needle, caseSensitive);
    const std::string_view wanted(prepared.constData(), size_t(prepared.size()));
    QElapsedTimer sincePump;
    sincePump.start();
    qsizetype linesSincePump = 0;
    for (qsizetype i = 0; i < source.size(); ++i) {
        if (pump && (++linesSincePump >= kPumpLines ||
                     (linesSincePump % kClockCheckLines == 0 && sincePump.elapsed() >= kPumpMs))) {
            // The window and the link run: the source is a snapshot, the results are this
            // call's own, and a cancel is seen right after.
            pump->processEvents();
            linesSincePump = 0;
            sincePump.restart();
            if (cancelled && cancelled())
                break;
        }
        const bool found = !wanted.empty() && hayHolds(source.bytes(i), wanted, caseSensitive);
        if (found != reverse)
            results.pick(i);
    }
    return results.snapshot();
}

void ConsoleSearch::setNeedle(const QString& needle)
{
    if (m_needle == needle)
        return;
    m_needle = needle;
    emit needleChanged(m_needle);
}

void ConsoleSearch::setWithinResults(bool on)
{
    if (m_withinResults == on)
        return;
    m_withinResults = on;
    emit withinResultsChanged(on);
}

void ConsoleSearch::setResults(Lines results)
{
    m_results = std::move(results);
    emit resultsChanged();
}

bool ConsoleSearch::run()
{
    if (m_searching)
        return false;
    m_searching = true;
    m_cancelled = false;
    emit searchingChanged(true);
    Lines found;
    {
        const auto searching = qScopeGuard([this] {
            m_searching = false;
            emit searchingChanged(false);
        });
        // Everything is taken by value: the operator may edit the field while events run, and
        // the console may grow or be emptied at midnight.
        const Lines source = m_withinResults ? m_results : m_console.content().snapshot();
        found = search(source, QString(m_needle), m_reverse, m_caseSensitive, &m_pump,
                       [this] { return m_cancelled; });
    }
    if (m_cancelled)
        return true;
    setResults(std::move(found));
    setWithinResults(true);
    return true;
}

void ConsoleSearch::clear()
{
    m_cancelled = m_searching;
    setResults({});
    setNeedle(QString());
    setWithinResults(false);
}

} // namespace vigilor::link
