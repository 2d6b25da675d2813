#include "link/search.h"

#include "link/console.h"
#include "text/clock.h"
#include "text/textutil.h"

#include <QElapsedTimer>

namespace vigilor::link {

namespace {

bool startsWithFolded(QStringView text, QStringView foldedPrefix)
{
    if (foldedPrefix.size() > text.size())
        return false;
    for (qsizetype i = 0; i < foldedPrefix.size(); ++i) {
        char16_t c = text[i].unicode();
        if (c >= u'A' && c <= u'Z')
            c += 32;
        if (c != foldedPrefix[i].unicode())
            return false;
    }
    return true;
}

} // namespace

ConsoleSearch::ConsoleSearch(const Console& console, EventPump& pump, QObject* parent)
    : QObject(parent), m_console(console), m_pump(pump)
{
}

bool ConsoleSearch::hayContains(QStringView line, QStringView needle, bool caseSensitive)
{
    if (needle.isEmpty())
        return false;
    const QStringView head = line.left(kMaxChars);
    // The hay is a blank followed by head, built here without a copy: a needle that begins
    // with a blank also matches where head begins with the rest of it.
    if (needle.front() == u' ') {
        const QStringView rest = needle.mid(1);
        if (caseSensitive ? head.startsWith(rest) : startsWithFolded(head, rest))
            return true;
    }
    return caseSensitive ? head.contains(needle) : text::asciiContains(head, needle);
}

QStringList ConsoleSearch::search(QStringList source, QStringView needle, bool reverse,
                                  bool caseSensitive, EventPump* pump,
                                  const std::function<bool()>& cancelled)
{
    const QString prepared = caseSensitive ? needle.left(kMaxChars).toString()
                                           : text::asciiLower(needle.left(kMaxChars));
    QStringList results;
    QElapsedTimer sincePump;
    sincePump.start();
    qsizetype linesSincePump = 0;
    for (const QString& line : std::as_const(source)) {
        if (pump && (++linesSincePump >= kPumpLines ||
                     (linesSincePump % kClockCheckLines == 0 && sincePump.elapsed() >= kPumpMs))) {
            pump->processEvents();
            linesSincePump = 0;
            sincePump.restart();
            if (cancelled && cancelled())
                break;
        }
        if (hayContains(line, prepared, caseSensitive) != reverse)
            results.append(line);
    }
    return results;
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

void ConsoleSearch::setResults(QStringList results)
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
    struct Done
    {
        ConsoleSearch* self;
        ~Done()
        {
            self->m_searching = false;
            emit self->searchingChanged(false);
        }
    };
    QStringList found;
    {
        Done done{this};
        // Everything is taken by value: the operator may edit the field while events run.
        found = search(m_withinResults ? m_results : m_console.lines(), QString(m_needle),
                       m_reverse, m_caseSensitive, &m_pump, [this] { return m_cancelled; });
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

const QString& ConsoleSearch::tipsText()
{
    static const QString text = QStringLiteral(
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
    return text;
}

} // namespace vigilor::link
