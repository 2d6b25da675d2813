// The console's line store: code page 1250 bytes in chunks with an index, read back exactly as
// written across chunk ends, by snapshots that outlive what the store does next, and through the
// day's log file.
#include "link/console.h"
#include "link/linestore.h"
#include "support/fakes.h"
#include "text/cp1250.h"
#include "text/errors.h"
#include "text/textutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/resource.h>
#endif

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using link::Lines;
using link::LineStore;

namespace {

QStringList all(const Lines& lines)
{
    return lines.toStringList();
}

// Every position of the joined text maps to its line, and each line starts where it should.
void checkOffsets(const Lines& lines)
{
    const QString joined = lines.text();
    QCOMPARE(lines.textLength(), joined.size());
    qint64 start = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QCOMPARE(lines.textOffset(i), start);
        QCOMPARE(lines.lineAt(start), i);
        QCOMPARE(lines.lineAt(start + lines.length(i)), i); // its line feed
        start += lines.length(i) + 1;
    }
}

} // namespace

class TestLineStore final : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheCodePagesCharacters()
    {
        LineStore store;
        store.append(u"Árvíztűrő tükörfúrógép €"_s);
        store.append(QString());
        store.append(u"Привет ok"_s); // outside the code page
        QCOMPARE(all(store),
                 (QStringList{u"Árvíztűrő tükörfúrógép €"_s, QString(), u"?????? ok"_s}));
        QCOMPARE(store.bytes(0), text::toCp1250(u"Árvíztűrő tükörfúrógép €"));
        QCOMPARE(store.length(0), 24);
        QCOMPARE(store.maxLength(), 24);
        QCOMPARE(store.characters(), 24 + 0 + 9);
        QCOMPARE(store.last(), u"?????? ok"_s);
        QCOMPARE(store.toStringList(1, 1), QStringList{QString()});
        checkOffsets(store);
        store.clear();
        QVERIFY(store.isEmpty());
        QCOMPARE(store.maxLength(), 0);
        QCOMPARE(store.textLength(), 0);
    }

    void splitsAtEveryLineBreak_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one line") << "a"_ba;
        QTest::newRow("final LF") << "a\n"_ba;
        QTest::newRow("CR LF") << "a\r\nb\r\n"_ba;
        QTest::newRow("lone CRs") << "x\ry\rz"_ba;
        QTest::newRow("empty lines") << "\n\r\n\r\n\n"_ba;
        QTest::newRow("CR CR LF") << "a\r\r\nb"_ba;
        QTest::newRow("LF CR") << "a\n\rb\n\r"_ba;
        QTest::newRow("high bytes") << "\x80\x81\xff\r\n\xa0"_ba;
    }
    void splitsAtEveryLineBreak()
    {
        QFETCH(QByteArray, text);
        LineStore store;
        store.append(u"before"_s);
        const qsizetype added = store.appendText(text);
        const QStringList expected = text::splitLines(text::fromCp1250(text));
        QCOMPARE(added, expected.size());
        QCOMPARE(store.toStringList(1), expected);
        checkOffsets(store);
    }

    void linesOfAnyLengthAcrossChunks()
    {
        // Short lines over several mebibytes, empty ones, and lines far longer than a chunk.
        LineStore store;
        QStringList expected;
        for (int i = 0; i < 60000; ++i) {
            const QString line = i % 1000 == 7 ? QString()
                                 : i % 20000 == 9
                                     ? QString(3 << 20, QChar(u'a' + i % 26))
                                     : u"[2026.12.08.] sor %1 "_s.arg(i) + QString(i % 97, u'é');
            expected << line;
            store.append(line);
        }
        QCOMPARE(store.size(), expected.size());
        QCOMPARE(all(store), expected);
        QCOMPARE(store.maxLength(), 3 << 20);
        checkOffsets(store);
        QCOMPARE(store.lineAt(store.textLength() + 100), store.size() - 1);
        QCOMPARE(store.lineAt(-5), 0);
    }

    void snapshotKeepsWhatItSaw()
    {
        LineStore store;
        for (int i = 0; i < 5000; ++i)
            store.append(u"régi %1"_s.arg(i));
        const Lines before = store.snapshot();
        const QStringList seen = all(before);
        // Growing fills the very chunk and index page the snapshot shares.
        for (int i = 0; i < 5000; ++i)
            store.append(u"új %1"_s.arg(i));
        QCOMPARE(before.size(), 5000);
        QCOMPARE(all(before), seen);
        QCOMPARE(before.textLength(), seen.join(u'\n').size());
        // Emptied at midnight and begun again: the snapshot still reads the old day.
        store.clear();
        store.append(u"*** Log break ***"_s);
        QCOMPARE(all(before), seen);
        QCOMPARE(all(store), QStringList{u"*** Log break ***"_s});
        checkOffsets(before);
    }

    void pickedLinesReadTheSourcesBytes()
    {
        LineStore store;
        QStringList expected;
        for (int i = 0; i < 70000; ++i) {
            store.append(i % 5000 == 3 ? QString() : u"sor %1 árvíz"_s.arg(i));
            if (i % 3 == 0)
                expected << store.last();
        }
        link::PickedLines picked(store);
        for (qsizetype i = 0; i < store.size(); i += 3)
            picked.pick(i);
        const Lines every = picked.snapshot();
        QCOMPARE(all(every), expected);
        QVERIFY(every.bytes(1).data() == store.bytes(3).data()); // the very bytes, not a copy
        QCOMPARE(every.maxLength(), expected.back().size());
        checkOffsets(every);

        // Picked again out of the picked lines, after the source was packed and emptied.
        link::LinePacker packer(store);
        packer.schedule();
        QTRY_VERIFY(!store.hasUnpacked());
        store.clear();
        link::PickedLines narrowed(every);
        QStringList fewer;
        for (qsizetype i = 5; i < every.size(); i += 1000) {
            narrowed.pick(i);
            fewer << expected[i];
        }
        QCOMPARE(all(narrowed), fewer);
        checkOffsets(narrowed);
        QVERIFY(narrowed.footprint() < 2 * 4096 * 20);
        QCOMPARE(all(link::PickedLines(store)), QStringList());
    }

    void packedChunksReadAsWritten()
    {
        LineStore store;
        QStringList expected;
        for (int i = 0; i < 120000; ++i) {
            expected << u"%1     0   48 Player%1          0 10.0.%2.%3:28960  %1 25000"_s
                            .arg(i % 64)
                            .arg(i % 250)
                            .arg(i % 7);
            store.append(expected.back());
        }
        const Lines before = store.snapshot();
        QVERIFY(store.footprint() > store.characters());
        // Packed from the event loop, all but the chunk being written last.
        link::LinePacker packer(store);
        packer.schedule();
        QTRY_VERIFY(!store.hasUnpacked());
        QVERIFY(!store.packOne());
        QVERIFY2(store.footprint() < store.characters() / 2,
                 qPrintable(u"%1 of %2"_s.arg(store.footprint()).arg(store.characters())));
        QCOMPARE(all(store), expected);
        QCOMPARE(all(before), expected);
        // Reading around more chunks than the cache holds, to and fro.
        for (int round = 0; round < 3; ++round)
            for (qsizetype i = round; i < store.size(); i += 9973)
                QCOMPARE(store.line(i), expected[i]);
        for (qsizetype i = store.size() - 1; i >= 0; i -= 7919)
            QCOMPARE(before.line(i), expected[i]);
        checkOffsets(store);
        // Growing on after the packing, and emptied with chunks in the cache.
        store.append(u"utána"_s);
        QCOMPARE(store.last(), u"utána"_s);
        QCOMPARE(store.line(0), expected.front());
        store.clear();
        QCOMPARE(before.line(1), expected[1]);
    }

    // A full disk (a file size limit stands in for it) fails the log's appends and its rewrites:
    // the failure is thrown, a rewrite leaves the file as it was and nothing beside it, and the
    // first save with room again writes every line.
    void fullDiskFailsTheLogAndLosesNoLine()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no file size limit of a process to stand in for a full disk");
#else
        QTemporaryDir dir;
        FakeClock clock;
        link::Console console(clock);
        link::ConsoleLog log(console);
        const QString name = dir.filePath(u"console (2026.12.08.).log"_s);
        const auto read = [&] {
            QFile file(name);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const auto expected = [&] {
            return text::toCp1250(QString(console.lines().join(u"\r\n"_s) + u"\r\n"_s));
        };
        for (int i = 0; i < 100; ++i)
            console.consoleLine(u"line "_s + QString::number(i));
        log.save(name);
        QCOMPARE(read(), expected());

        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = rlim_t(read().size() + 100);
        setrlimit(RLIMIT_FSIZE, &small);
        const auto lift = qScopeGuard([&] {
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, previous);
        });

        for (int i = 0; i < 20; ++i)
            console.consoleLine(u"appended line "_s + QString::number(i));
        QVERIFY_THROWS_EXCEPTION(FileError, log.save(name));
        const QByteArray afterAppend = read();
        QVERIFY(afterAppend.size() < expected().size());

        console.replace(console.lines() + QStringList(50, u"a longer day than the disk holds"_s));
        QVERIFY_THROWS_EXCEPTION(FileError, log.save(name));
        QCOMPARE(read(), afterAppend);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(name).fileName()});

        setrlimit(RLIMIT_FSIZE, &saved);
        log.save(name);
        QCOMPARE(read(), expected());
#endif
    }

    void longDayLogRoundTrip()
    {
        QTemporaryDir dir;
        FakeClock clock;
        link::Console console(clock);
        link::ConsoleLog log(console);
        QStringList day;
        QByteArray expected;
        for (int i = 0; i < 80000; ++i) {
            day << u"[2026.12.08.] %1:00:00 >> Parancs küldés: \"status\" %2"_s.arg(i % 24).arg(i);
            expected += text::toCp1250(day.back()) + "\r\n";
        }
        console.replace(day);
        const auto read = [](const QString& name) {
            QFile file(name);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        // A rewrite of several mebibytes, written piece by piece.
        const QString name = dir.filePath(u"console (2026.12.08.).log"_s);
        log.save(name);
        QCOMPARE(read(name), expected);

        // Loaded back into another console, line for line; a later save there appends.
        link::Console again(clock);
        link::ConsoleLog againLog(again);
        againLog.load(name, again);
        QCOMPARE(again.size(), day.size());
        QCOMPARE(again.line(0), day.front());
        QCOMPARE(again.lines(again.size() - 1), QStringList{day.back()});
        again.consoleLine(u"újra"_s);
        againLog.save(name);
        QCOMPARE(read(name), expected + text::toCp1250(again.line(again.size() - 1)) + "\r\n");

        // A CR LF cut in two by the pieces the file is read in still ends one line.
        QFile cut(name);
        QVERIFY(cut.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray first((4 << 20) - 1, 'x');
        cut.write(first + "\r\ny\r\n");
        cut.close();
        againLog.load(name, again);
        QCOMPARE(again.size(), 2);
        QCOMPARE(again.content().bytes(0), first);
        QCOMPARE(again.line(1), u"y"_s);
        again.consoleLine(u"z"_s);
        againLog.save(name);
        QCOMPARE(read(name), first + "\r\ny\r\n" + text::toCp1250(again.line(2)) + "\r\n");
    }
};

QTEST_GUILESS_MAIN(TestLineStore)
#include "test_linestore.moc"
