#pragma once

#include "link/linestore.h"

#include <QObject>
#include <QString>
#include <QStringView>

#include <memory>

namespace vigilor {
class ErrorSink;
}

namespace vigilor::link {

class Console;

// The engine of the "Keresés" tab: filters the console, or the previous results, line by line.
// It only reads the console; the window binds its search field, its three switches and its
// result box to this object.
class ConsoleSearch final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConsoleSearch)

public:
    static constexpr qsizetype kMaxChars = 255; // of the needle and of every line
    // A long search runs in pieces from the event loop: a piece ends after this many lines, or
    // sooner once this much time has passed (looked at every kClockCheckLines lines).
    static constexpr qsizetype kPieceLines = 4096;
    static constexpr qsizetype kClockCheckLines = 256;
    static constexpr int kPieceMs = 15;

    // Errors of a piece run from the event loop go to errors (or are dropped without one).
    explicit ConsoleSearch(const Console& console, ErrorSink* errors = nullptr,
                           QObject* parent = nullptr);
    ~ConsoleSearch() override;

    // The lines of source (picked out of it, not copied) whose hay (a blank and the line's first
    // 255 characters) contains the needle's first 255 characters, or, when reverse, the lines whose
    // hay does not. Folding is ASCII only and applies to both sides unless caseSensitive. An
    // empty needle is found nowhere, and so is one holding a character the code page lacks.
    // Searches the whole source at once.
    static Lines search(const Lines& source, QStringView needle, bool reverse, bool caseSensitive);

    // "[Keresési tippek]" in the "[ S.O.S ]" menu: the whole message box text.
    static inline const QString kTipsText = QStringLiteral(
        "--- Keresési tippek ---\n\r"
        "\n\r"
        "Hosszú napló esetén a keresés eltarthat egy ideig.\n\r"
        "A program minden sort kilistáz, amelyben a feltétel szerepel.\n\r"
        "A táblázat feltételeit idézőjelek nélkül írd be!\n\r"
        "\n\r"
        "\"megszakadt\" : hányszor és mikor szakadt meg a kapcsolat a szerverrel\n\r"
        "\"Log break\" : mikor tört meg a napló (mindig éjfél körül)\n\r"
        "\"játékos a szerveren\" : a játékosok számának statisztikája, időpontokkal\n\r"
        "\"clientkick\" : mikor rúgtak ki játékost, és melyik helyről\n\r"
        "\"kirug\" : kit rúgtak ki, miért és mikor\n\r"
        "\" <időpont>\" : egy időpont időbélyeges sorai: \" 12:\" a 12:00 és 12:59 közöttieket, "
        "\" 3:2\" a 3:20 és 3:29 közöttieket adja; a kezdő szóköz fontos, az időbélyeg nélküli "
        "sorok (a status listák) nem kerülnek bele\n\r"
        "\"<IP/nick>\" : egy játékos sorai, az IP cím vagy a név egy részlete alapján\n\r"
        "\n\r"
        "Az idézőjeleket ne írd be!");

    QString needle() const { return m_needle; }
    void setNeedle(const QString& needle);
    bool reverse() const { return m_reverse; }
    void setReverse(bool on) { m_reverse = on; }
    bool caseSensitive() const { return m_caseSensitive; }
    void setCaseSensitive(bool on) { m_caseSensitive = on; }
    // "Keresés az eredmények között": the next search narrows the results instead of reading
    // the console. Turns itself on after every search.
    bool withinResults() const { return m_withinResults; }
    void setWithinResults(bool on);
    // The result box's lines: the console's own lines where the search found them.
    const Lines& results() const { return m_results; }
    bool isSearching() const { return m_searching; }

    // "Keresés". A short source is searched inside the call; a long one in pieces from the
    // event loop (isSearching until resultsChanged), on a snapshot of the console, so whatever
    // happens to the console meanwhile is not searched. A press while a search is running is
    // ignored; returns whether this call started a search.
    bool run();
    // "Törlés": empties the results and the needle and switches "Keresés az eredmények
    // között" off. During a running search it also ends that search without results.
    void clear();

signals:
    void needleChanged(const QString& needle);
    void withinResultsChanged(bool on);
    void resultsChanged();
    void searchingChanged(bool searching);
    // A piece of a long search is done; the next runs from the event loop's next turn.
    void pieceSearched();

private:
    struct Job;

    void setResults(Lines results);
    // Searches the running search's next piece, or ends it when it is done or cancelled.
    void searchOn();

    const Console& m_console;
    ErrorSink* m_errors;
    std::unique_ptr<Job> m_job;
    QString m_needle;
    bool m_reverse = false;
    bool m_caseSensitive = false;
    bool m_withinResults = false;
    bool m_searching = false;
    bool m_cancelled = false;
    Lines m_results;
};

} // namespace vigilor::link
