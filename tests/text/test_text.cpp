#include "text/cp1250.h"
#include "text/textutil.h"
#include "text/timeformat.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <utility>

using namespace vigilor::text;
using namespace Qt::StringLiterals;

class TestText final : public QObject
{
    Q_OBJECT

private slots:
    void codecRoundTripsEveryByte()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(static_cast<char>(b));
        const QString decoded = fromCp1250(all);
        QCOMPARE(decoded.size(), 256);
        QCOMPARE(toCp1250(decoded), all);
        // Distinct characters for distinct bytes, the unassigned ones as C1 controls.
        QSet<QChar> seen(decoded.begin(), decoded.end());
        QCOMPARE(seen.size(), 256);
        for (int b : {0x81, 0x83, 0x88, 0x90, 0x98})
            QCOMPARE(decoded[b].unicode(), char16_t(b));
    }

    void codecHungarianLetters()
    {
        const QString word = QStringLiteral("Beállítások ŐőŰű €");
        const QByteArray bytes = toCp1250(word);
        QCOMPARE(bytes.size(), word.size());
        QCOMPARE(static_cast<unsigned char>(bytes[2]), 0xE1); // á
        QCOMPARE(static_cast<unsigned char>(bytes.at(bytes.size() - 1)), 0x80); // €
        QCOMPARE(fromCp1250(bytes), word);
        QCOMPARE(toCp1250(QStringLiteral("日本")), QByteArray("??"));
    }

    void stripColours_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("codes") << u"^1Red^7Name"_s << u"RedName"_s;
        QTest::newRow("doubled") << u"a^^7b"_s << u"ab"_s;
        QTest::newRow("trailing caret") << u"x^"_s << u"x"_s;
        QTest::newRow("doubled first") << u"^^^1x"_s << u"1x"_s;
        QTest::newRow("no caret") << u"plain text"_s << u"plain text"_s;
        QTest::newRow("doubled before single") << u"^1a^^2b"_s << u"ab"_s;
        QTest::newRow("doubled created by removal") << u"^^^^xy"_s << u"y"_s;
        QTest::newRow("only carets") << u"^^^^^"_s << u""_s;
        QTest::newRow("empty") << QString() << QString();
    }
    void stripColours()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(vigilor::text::stripColours(in), out);
    }

    // The linear algorithm against the literal rule on random texts.
    void stripColoursMatchesLiteralRule()
    {
        auto literal = [](QString t) {
            while (t.contains(u'^')) {
                const qsizetype d = t.indexOf(QStringLiteral("^^"));
                if (d >= 0)
                    t.remove(d, 3);
                else
                    t.remove(t.indexOf(u'^'), 2);
            }
            return t;
        };
        QRandomGenerator rng(1250);
        const QString alphabet = QStringLiteral("^^^ab7");
        for (int round = 0; round < 5000; ++round) {
            QString t;
            const int len = rng.bounded(12);
            for (int i = 0; i < len; ++i)
                t += alphabet[rng.bounded(alphabet.size())];
            QCOMPARE(vigilor::text::stripColours(t), literal(t));
            // The positions of the kept characters give the same text.
            QString kept;
            for (const qsizetype at : vigilor::text::visibleIndices(t))
                kept += t[at];
            QCOMPARE(kept, literal(t));
        }
    }

    void splitLines()
    {
        QCOMPARE(vigilor::text::splitLines(u""), QStringList());
        QCOMPARE(vigilor::text::splitLines(u"a"), QStringList{u"a"_s});
        QCOMPARE(vigilor::text::splitLines(u"a\n"), QStringList{u"a"_s});
        QCOMPARE(vigilor::text::splitLines(u"a\n\n"), (QStringList{u"a"_s, QString()}));
        QCOMPARE(vigilor::text::splitLines(u"\nb\r\nc\rd"),
                 (QStringList{QString(), u"b"_s, u"c"_s, u"d"_s}));
        QCOMPARE(vigilor::text::splitLines(u"m\n\r"), (QStringList{u"m"_s, QString()}));
        // Against the rule itself, character by character, over every text of up to eight
        // characters made of the two breaks and a letter.
        const auto byTheRule = [](const QString& text) {
            QStringList lines;
            QString line;
            for (qsizetype i = 0; i < text.size(); ++i) {
                if (text[i] != u'\n' && text[i] != u'\r') {
                    line += text[i];
                    continue;
                }
                lines.append(std::exchange(line, QString()));
                if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                    ++i;
            }
            if (!line.isEmpty())
                lines.append(line);
            return lines;
        };
        const QString letters = u"\n\rx"_s;
        for (int length = 0, count = 1; length <= 8; ++length, count *= 3)
            for (int n = 0; n < count; ++n) {
                QString text;
                for (int i = 0, rest = n; i < length; ++i, rest /= 3)
                    text += letters[rest % 3];
                QCOMPARE(vigilor::text::splitLines(text), byTheRule(text));
                const QStringList lines = byTheRule(text);
                QCOMPARE(vigilor::text::endsWithEmptyLine(text),
                         !lines.isEmpty() && lines.back().isEmpty());
            }
    }

    void asciiFoldingLeavesAccentsAlone()
    {
        QCOMPARE(asciiLower(u"ABC Éá"), u"abc Éá"_s);
        QVERIFY(asciiContains(u"Log BREAK at", u"log break"));
        QVERIFY(!asciiContains(u"ÉLET", u"élet"));
        QVERIFY(!asciiContains(u"anything", u""));
    }

    void parseDecimal()
    {
        bool ok = false;
        QCOMPARE(vigilor::text::parseDecimal(u"  12", &ok), 12);
        QVERIFY(ok);
        QCOMPARE(vigilor::text::parseDecimal(u" -5", &ok), -5);
        QVERIFY(ok);
        for (const char16_t* bad : {u"", u"   ", u"1 2", u"12 ", u"x1", u"-", u"99999999999"}) {
            vigilor::text::parseDecimal(bad, &ok);
            QVERIFY2(!ok, QString::fromUtf16(bad).toUtf8());
        }
    }

    void formats()
    {
        QCOMPARE(shortDate(QDate(2026, 1, 5)), u"2026.01.05."_s);
        QCOMPARE(longTime(QTime(3, 4, 5)), u"3:04:05"_s);
        QCOMPARE(dateTime(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 0))),
                 u"2026.12.08. 23:59:00"_s);
        // Written digit by digit: the same text as the format strings give, for every second
        // of a day and for dates across the years, the edges and invalid values included.
        for (int second = 0; second < 24 * 3600; ++second) {
            const QTime time = QTime(0, 0).addSecs(second);
            QCOMPARE(longTime(time), time.toString(u"H:mm:ss"_s));
        }
        QCOMPARE(longTime(QTime()), QString());
        for (QDate date(1, 1, 1); date.year() < 10010; date = date.addDays(97))
            QCOMPARE(shortDate(date), date.toString(u"yyyy.MM.dd."_s));
        for (const QDate& date : {QDate(-1, 12, 31), QDate(9999, 12, 31), QDate(10000, 1, 1),
                                  QDate(2024, 2, 29), QDate()})
            QCOMPARE(shortDate(date), date.toString(u"yyyy.MM.dd."_s));
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "test_text.moc"
