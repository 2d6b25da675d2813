// How a stored text is decoded: the encoding an editor saved it in is found, and what would not
// survive code page 1250 is told.
#include "settingsfixture.h"

class TestTextFile final : public QObject
{
    Q_OBJECT

private slots:
    void decodingChoosesTheEncoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("kept"); // written back in code page 1250 without loss
        QTest::newRow("ASCII") << QByteArray("plain\r\n") << u"plain\r\n"_s << true;
        QTest::newRow("code page 1250")
            << QByteArray("\xe1rv\xedzt\xfbr\xf5") << u"árvíztűrő"_s << true;
        QTest::newRow("UTF-8 without mark")
            << QByteArray("\xc3\xa1rv\xc3\xadzt\xc5\xb1r\xc5\x91") << u"árvíztűrő"_s << true;
        // Code page 1250 "Ă©" is also UTF-8 "é": a text of nothing but such pairs reads as UTF-8.
        QTest::newRow("code page 1250 that is valid UTF-8")
            << QByteArray("\xc3\xa9") << u"é"_s << true;
        // "Â€" is valid UTF-8 too, but for a C1 control character, which no text holds.
        QTest::newRow("UTF-8 that would give a control character")
            << QByteArray("\xc2\x80") << u"Â€"_s << true;
        QTest::newRow("UTF-8 cut in a character") << QByteArray("ab\xc5") << u"abĹ"_s << true;
        QTest::newRow("UTF-16LE") << QByteArray("\xFF\xFEo\x00\x51\x01", 6) << u"oő"_s << true;
        QTest::newRow("UTF-16BE") << QByteArray("\xFE\xFF\x00o\x01\x51", 6) << u"oő"_s << true;
        QTest::newRow("letter outside code page 1250") << QByteArray("\xd0\x96") << u"Ж"_s << false;
        QTest::newRow("UTF-16 of odd length")
            << QByteArray("\xFF\xFEo\x00o", 5) << QString() << false;
        QTest::newRow("UTF-16 without its mark")
            << QByteArray("[\x00S\x00]\x00", 6) << QString() << false;
    }
    void decodingChoosesTheEncoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(bool, kept);
        const StoredText stored = decodeStoredText(bytes);
        if (!text.isEmpty())
            QCOMPARE(stored.text, text);
        QCOMPARE(stored.problem.isEmpty(), kept);
    }
};

QTEST_GUILESS_MAIN(TestTextFile)
#include "test_textfile.moc"
