// The engine of the "Keresés" tab over the real console, its lines stamped at staged hours.
#include "link/console.h"
#include "link/search.h"
#include "support/fakes.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using link::ConsoleSearch;

namespace {

// Runs a piece of the test between the pieces of a long search, where the window's events run.
struct Pieces
{
    int calls = 0;
    std::function<void()> during;
};

struct Harness
{
    FakeClock clock;
    link::Console console{clock};
    ConsoleSearch search{console};
    Pieces pump;

    Harness()
    {
        QObject::connect(&search, &ConsoleSearch::pieceSearched, &search, [this] {
            ++pump.calls;
            if (pump.during)
                pump.during();
        });
    }
    // Lets the event loop run the rest of a long search.
    void settle()
    {
        while (search.isSearching())
            QCoreApplication::processEvents();
    }

    void at(int hour, int minute, const QString& text)
    {
        clock.set(QDateTime(QDate(2026, 12, 8), QTime(hour, minute, 7)));
        console.consoleLine(text);
    }
    QStringList find(const QString& needle, bool reverse = false, bool caseSensitive = false)
    {
        search.setNeedle(needle);
        search.setReverse(reverse);
        search.setCaseSensitive(caseSensitive);
        settle();
        search.run();
        settle();
        return results();
    }
    QStringList results() const { return search.results().toStringList(); }
    void fill(int lines)
    {
        QStringList many;
        for (int i = 0; i < lines; ++i)
            many << u"[2026.12.08.] %1:%2:00 >> line %3"_s.arg(i % 24)
                        .arg(i % 60, 2, 10, QChar(u'0'))
                        .arg(i);
        console.replace(many);
    }
};

} // namespace

class TestSearch final : public QObject
{
    Q_OBJECT

private slots:
    void hourPrefixSelectsStampedLines()
    {
        Harness h;
        h.at(12, 0, u"Csatlakozás szerverhez"_s);
        h.at(1, 12, u"one past twelve minutes"_s); // "1:12:07": no blank before 12
        h.at(12, 59, u"kirug Joe"_s);
        h.at(13, 12, u"score 12:3 somewhere"_s);                 // another blank followed by "12:"
        h.console.appendText(u"12:00 unstamped at the start"_s); // the blank put before the line
        h.console.appendText(u"  0    12 999 Joe"_s);
        const QStringList all = h.console.lines();
        QCOMPARE(h.find(u" 12:"_s), (QStringList{all[0], all[2], all[3], all[4]}));
        QCOMPARE(h.results().front(), u"[2026.12.08.] 12:00:07 >> Csatlakozás szerverhez"_s);
        // " 3:2" picks 3:20 to 3:29 only.
        Harness m;
        m.at(3, 20, u"a"_s);
        m.at(3, 29, u"b"_s);
        m.at(3, 30, u"c"_s);
        m.at(13, 25, u"d"_s);
        QCOMPARE(m.find(u" 3:2"_s).size(), 2);
    }

    void emptyNeedleAndReverse()
    {
        Harness h;
        h.at(10, 0, u"a"_s);
        h.at(11, 0, u"b"_s);
        QVERIFY(h.find(QString()).isEmpty());
        h.search.clear();
        QCOMPARE(h.find(QString(), true), h.console.lines());
        h.search.clear();
        QCOMPARE(h.find(u"11:"_s, true), QStringList{h.console.lines().front()});
        // An empty source gives an empty result, in either direction.
        Harness empty;
        QVERIFY(empty.find(QString(), true).isEmpty());
        QVERIFY(empty.search.withinResults());
    }

    void narrowingAndClearing()
    {
        Harness h;
        h.at(10, 0, u"clientkick 3"_s);
        h.at(10, 5, u"Joe kirug"_s);
        h.at(11, 0, u"clientkick 4"_s);
        QSignalSpy within(&h.search, &ConsoleSearch::withinResultsChanged);
        QCOMPARE(h.find(u"clientkick"_s).size(), 2);
        QVERIFY(h.search.withinResults());
        QCOMPARE(within.count(), 1);
        // The second search reads the first one's results, not the console.
        QCOMPARE(h.find(u" 11:"_s), QStringList{h.console.lines()[2]});
        QVERIFY(h.find(u"kirug"_s).isEmpty());
        QSignalSpy needle(&h.search, &ConsoleSearch::needleChanged);
        h.search.clear();
        QVERIFY(h.results().isEmpty());
        QVERIFY(h.search.needle().isEmpty());
        QCOMPARE(needle.count(), 1);
        QVERIFY(!h.search.withinResults());
        QCOMPARE(h.find(u"kirug"_s).size(), 1);
        // Switched off by hand, the next search reads the console again.
        h.search.setWithinResults(false);
        QCOMPARE(h.find(u"clientkick"_s).size(), 2);
    }

    void caseFoldingIsAsciiOnly()
    {
        Harness h;
        h.console.appendText(u"*** Log break at 2026.12.08. 0:00:01 ***"_s);
        h.console.appendText(u"ÁRVÍZTŰRŐ tükörfúrógép"_s);
        h.console.appendText(u"árvíztűrő"_s);
        QCOMPARE(h.find(u"log break"_s), QStringList{h.console.lines()[0]});
        h.search.clear();
        QVERIFY(h.find(u"log break"_s, false, true).isEmpty());
        h.search.clear();
        QCOMPARE(h.find(u"Log break"_s, false, true).size(), 1);
        h.search.clear();
        // An accented capital never meets its small letter; the ASCII letters around it fold.
        QCOMPARE(h.find(u"ÁRVÍZ"_s), QStringList{h.console.lines()[1]});
        h.search.clear();
        QCOMPARE(h.find(u"árvíz"_s), QStringList{h.console.lines()[2]});
        h.search.clear();
        QCOMPARE(h.find(u"ÁRVÍZ"_s, true),
                 (QStringList{h.console.lines()[0], h.console.lines()[2]}));
    }

    void onlyTheFirst255Characters()
    {
        Harness h;
        const QString head = QString(250, u'x');
        h.console.appendText(head + u"abcde" + u"fghij"); // "abcde" ends at 255
        h.console.appendText(u"abcde"_s);
        QCOMPARE(h.find(u"abcde"_s).size(), 2);
        QCOMPARE(h.results().front().size(), 260); // listed whole
        h.search.clear();
        QCOMPARE(h.find(u"abcdef"_s).size(), 0);
        h.search.clear();
        QCOMPARE(h.find(u"fgh"_s, true).size(), 2);
        h.search.clear();
        // A needle is cut to its first 255 characters too: the hay's own 256 match them.
        QCOMPARE(h.find(u' ' + head + u"abcd" + u"zzz").size(), 1);
        h.search.clear();
        QCOMPARE(h.find(u' ' + head + u"abcd" + u"zzz", false, true).size(), 1);
        h.search.clear();
        QCOMPARE(h.find(u' ' + head.mid(1) + u"zabcd").size(), 0);
    }

    void longSearchLetsEventsRunNowAndThen()
    {
        Harness h;
        const int lines = 50000;
        h.fill(lines);
        QCOMPARE(h.find(u" 23:"_s).size(), lines / 24);
        // Not before every line, but at least every kPieceLines lines.
        QVERIFY2(h.pump.calls >= lines / ConsoleSearch::kPieceLines,
                 qPrintable(QString::number(h.pump.calls)));
        QVERIFY2(h.pump.calls <= lines / ConsoleSearch::kClockCheckLines,
                 qPrintable(QString::number(h.pump.calls)));
        // A short source is searched in one piece, inside the call.
        Harness s;
        s.fill(ConsoleSearch::kClockCheckLines - 1);
        s.search.setNeedle(u"line"_s);
        QVERIFY(s.search.run());
        QVERIFY(!s.search.isSearching());
        QCOMPARE(s.results().size(), ConsoleSearch::kClockCheckLines - 1);
        QCOMPARE(s.pump.calls, 0);
    }

    void consoleChangesDuringTheSearch()
    {
        Harness h;
        h.fill(20000);
        // A datagram handled meanwhile adds lines, then midnight empties the console: the
        // search still reads the console as it stood when it started.
        h.pump.during = [&] {
            h.console.appendText(u"line 1 added meanwhile"_s);
            if (h.pump.calls == 3)
                h.console.clear();
        };
        QCOMPARE(h.find(u"line 1"_s).size(), 11111);
        for (const QString& line : h.results())
            QVERIFY(!line.contains(u"meanwhile"_s));
    }

    void operatorDuringTheSearch()
    {
        Harness h;
        h.fill(20000);
        // A second press is ignored, editing the field does not change the running search.
        h.pump.during = [&] {
            QVERIFY(h.search.isSearching());
            QVERIFY(!h.search.run());
            h.search.setNeedle(u"nowhere"_s);
        };
        QCOMPARE(h.find(u" 5:"_s).size(), 20000 / 24 + 1);
        QVERIFY(!h.search.isSearching());
        // "Törlés" pressed meanwhile ends the search with nothing listed.
        h.pump.during = [&] { h.search.clear(); };
        h.search.setWithinResults(false);
        h.search.setNeedle(u"line"_s);
        QVERIFY(h.search.run());
        h.settle();
        QVERIFY(h.results().isEmpty());
        QVERIFY(!h.search.withinResults());
        QVERIFY(h.search.needle().isEmpty());
        h.pump.during = nullptr;
        QCOMPARE(h.find(u"line"_s).size(), 20000);
    }

    void tipsText()
    {
        const QStringList lines = ConsoleSearch::kTipsText.split(u"\n\r"_s);
        QCOMPARE(lines.front(), u"--- Keresési tippek ---"_s);
        QStringList conditions;
        for (const QString& line : lines) {
            QVERIFY(!line.contains(u'\n') && !line.contains(u'\r'));
            if (line.startsWith(u'"') && line.contains(u"\" : "_s))
                conditions << line.left(line.indexOf(u"\" : "_s) + 1);
        }
        QCOMPARE(conditions,
                 (QStringList{u"\"megszakadt\""_s, u"\"Log break\""_s, u"\"játékos a szerveren\""_s,
                              u"\"clientkick\""_s, u"\"kirug\""_s, u"\" <időpont>\""_s,
                              u"\"<IP/nick>\""_s}));
        QVERIFY(lines.back().contains(u"idézőjel"_s));
    }
};

QTEST_GUILESS_MAIN(TestSearch)
#include "test_search.moc"
