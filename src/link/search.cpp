#include "link/search.h"

#include "link/console.h"
#include "text/errors.h"
#include "text/textutil.h"

#include "text/cp1250.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTimer>

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

// A search under way: its snapshot of the source, what it looks for, where it stands.
struct ConsoleSearch::Job
{
    Job(Lines lines, QStringView needle, bool reverse, bool caseSensitive)
        : source(std::move(lines)), prepared(prepareNeedle(needle, caseSensitive)),
          reverse(reverse), caseSensitive(caseSensitive), results(source)
    {
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Searches on to the end, or, when in pieces, to the end of a piece; true once done.
    bool searchOn(bool inPieces)
    {
        const std::string_view wanted(prepared.constData(), size_t(prepared.size()));
        QElapsedTimer sincePiece;
        sincePiece.start();
        qsizetype inPiece = 0;
        for (; next < source.size(); ++next) {
            // A piece's first line is searched before its count begins.
            if (inPieces && next > pieceStart &&
                (++inPiece >= kPieceLines ||
                 (inPiece % kClockCheckLines == 0 && sincePiece.elapsed() >= kPieceMs))) {
                pieceStart = next;
                return false;
            }
            const bool found =
                !wanted.empty() && hayHolds(source.bytes(next), wanted, caseSensitive);
            if (found != reverse)
                results.pick(next);
        }
        return true;
    }

    const Lines source;
    const QByteArray prepared;
    const bool reverse;
    const bool caseSensitive;
    PickedLines results;
    qsizetype next = 0;
    qsizetype pieceStart = -1;
};

ConsoleSearch::ConsoleSearch(const Console& console, ErrorSink* errors, QObject* parent)
    : QObject(parent), m_console(console), m_errors(errors)
{
}

ConsoleSearch::~ConsoleSearch() = default;

Lines ConsoleSearch::search(const Lines& source, QStringView needle, bool reverse,
                            bool caseSensitive)
{
    Job job(source, needle, reverse, caseSensitive);
    job.searchOn(false);
    return job.results.snapshot();
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
    // Everything is taken by value: the operator may edit the field while a long search runs,
    // and the console may grow or be emptied at midnight.
    m_job = std::make_unique<Job>(m_withinResults ? m_results : m_console.content().snapshot(),
                                  QString(m_needle), m_reverse, m_caseSensitive);
    searchOn();
    return true;
}

void ConsoleSearch::searchOn()
{
    {
        bool more = false;
        const auto searching = qScopeGuard([this, &more] {
            if (more)
                return;
            m_searching = false;
            emit searchingChanged(false);
        });
        // The window and the link run between pieces: the source is a snapshot, the results
        // are this search's own, and a cancel is seen before the next piece.
        if (!m_cancelled && !m_job->searchOn(true)) {
            more = true;
            emit pieceSearched();
            QTimer::singleShot(0, this, [this] { guarded(m_errors, [this] { searchOn(); }); });
            return;
        }
    }
    const std::unique_ptr<Job> job = std::move(m_job);
    if (m_cancelled)
        return;
    setResults(job->results.snapshot());
    setWithinResults(true);
}

void ConsoleSearch::clear()
{
    m_cancelled = m_searching;
    setResults({});
    setNeedle(QString());
    setWithinResults(false);
}

} // namespace vigilor::link
