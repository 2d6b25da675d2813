// The stored form of the rcon password: its scrambling, every byte at every position, and awkward
// passwords through the files.
#include "settingsfixture.h"

class TestPassword final : public QObject
{
    Q_OBJECT

private slots:
    void scrambleIsItsOwnInverseAndMovesEveryCharacter()
    {
        QCOMPARE(scramblePassword(u"titok"_s), u"ukwkn"_s);
        QCOMPARE(scramblePassword(u"ukwkn"_s), u"titok"_s);
        QCOMPARE(scramblePassword(QString()), QString());
        // Character 256 is combined with 0, so it stays.
        const QString longOne(300, u'x');
        const QString scrambled = scramblePassword(longOne);
        for (int k = 1; k <= 300; ++k)
            QCOMPARE(scrambled[k - 1] == longOne[k - 1], k % 256 == 0);
        // Existing files: the plain scrambled form reads as before.
        QCOMPARE(passwordFromStored(u"ukwkn"_s), u"titok"_s);
        QCOMPARE(storedPassword(u"titok"_s), u"ukwkn"_s);
        QCOMPARE(storedPassword(QString()), QString());
    }

    void passwordSurvivesEveryByteAtEveryPosition()
    {
        // A password of length n whose last byte is b, for every b and every n up to 255, kept in
        // an INI text beside another key; the file must keep its lines and give the password back.
        int escaped = 0;
        for (int n = 1; n <= 255; ++n) {
            QByteArray bytes(n, 'a');
            // Varied letters before it, some of which scramble into control characters.
            for (int i = 0; i + 1 < n; ++i)
                bytes[i] = char('A' + (i * 7 + n) % 58);
            for (int b = 0; b < 256; ++b) {
                bytes[n - 1] = char(b);
                const QString password = text::fromCp1250(bytes);
                const QString stored = storedPassword(password);
                IniFile ini;
                ini.setValue(u"ServerInfo", u"PWD", stored);
                ini.setValue(u"ServerInfo", u"Next", u"x"_s);
                const QByteArray file = ini.toBytes();
                const IniFile back = IniFile::parse(file);
                if (back.value(u"ServerInfo", u"PWD") != stored ||
                    back.value(u"ServerInfo", u"Next") != u"x"_s ||
                    passwordFromStored(stored) != password)
                    QFAIL(qPrintable(u"length %1, byte %2"_s.arg(n).arg(b)));
                const QByteArray raw = text::toCp1250(stored);
                if (stored.startsWith(u'~')) {
                    ++escaped;
                    continue;
                }
                // A plain value is printable, without blanks at the ends, and differs from the
                // password at every position.
                for (int i = 0; i < raw.size(); ++i) {
                    const auto c = static_cast<unsigned char>(raw[i]);
                    if (c < 0x20 || c == 0x7F || raw[i] == bytes[i])
                        QFAIL(qPrintable(u"plain form of length %1, byte %2"_s.arg(n).arg(b)));
                }
                if (raw.startsWith(' ') || raw.endsWith(' '))
                    QFAIL(qPrintable(u"blank at an end: length %1, byte %2"_s.arg(n).arg(b)));
            }
        }
        QVERIFY(escaped > 0);
    }

    void awkwardPasswordsThroughTheFiles_data()
    {
        QTest::addColumn<QString>("password");
        QString withBreaks = QString(31, u'p');
        withBreaks += QChar(u'\r' ^ 32);
        withBreaks += QChar(u'\n' ^ 33);
        withBreaks += QChar(char16_t(34));
        QTest::newRow("CR, LF and NUL from the 32nd character") << withBreaks;
        QTest::newRow("scrambles to a leading blank") << u"!abc"_s;
        QTest::newRow("scrambles to a trailing blank") << u"ab#"_s;
        QTest::newRow("scrambles to a tilde") << QString(QChar(0x7F)) + u"x"_s;
        QTest::newRow("accented") << u"jelszó ŐŰ"_s;
    }
    void awkwardPasswordsThroughTheFiles()
    {
        QFETCH(QString, password);
        Folder f;
        f.settings.setPassword(password);
        f.store->save();
        verifyClean(f.read(u"vigilor.ini"_s));
        Settings loaded;
        f.restart(loaded);
        QCOMPARE(loaded.password(), password);
    }
};

QTEST_GUILESS_MAIN(TestPassword)
#include "test_password.moc"
