// The settings file's reader over exotic, damaged and hand-edited input, and the rewrite as a
// fixed point.
#include "settingsfixture.h"

class TestIniFile final : public QObject
{
    Q_OBJECT

private slots:
    void exoticIniInput_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("remembered");
        QTest::addColumn<QString>("host");
        const QByteArray rem = "Meg\xf6lend\xf5k megjegyz\xe9se";
        QTest::newRow("LF only") << QByteArray("[System]\nTimeInterval=120\n[Service]\n" + rem +
                                               "=0\n")
                                 << 120 << false << QString();
        QTest::newRow("CR only") << QByteArray("[System]\rTimeInterval=120\r[Service]\r" + rem +
                                               "=0\r")
                                 << 120 << false << QString();
        QTest::newRow("UTF-8 with byte-order mark")
            << QByteArray(
                   "\xEF\xBB\xBF[Service]\r\nMeg\xc3\xb6lend\xc5\x91k megjegyz\xc3\xa9se=0\r\n")
            << 60 << false << QString();
        QTest::newRow("byte-order mark, then code page 1250")
            << QByteArray("\xEF\xBB\xBF[Service]\r\n" + rem + "=0\r\n") << 60 << false << QString();
        QTest::newRow("letter case")
            << QByteArray("[SYSTEM]\r\ntimeinterval=90\r\n[serverinfo]\r\nip=h\r\n") << 90 << true
            << u"h"_s;
        QTest::newRow("first occurrence wins")
            << QByteArray("[System]\r\nTimeInterval=100\r\nTimeInterval=200\r\n[system]"
                          "\r\nTimeInterval=300\r\n")
            << 100 << true << QString();
        QTest::newRow("section repeated later")
            << QByteArray("[System]\r\nEventNotify=0\r\n[ServerInfo]\r\nIP=a\r\n[System]"
                          "\r\nTimeInterval=99\r\n")
            << 99 << true << u"a"_s;
        QTest::newRow("comments, blanks, lines without '='")
            << QByteArray("; comment\r\n# TimeInterval=33\r\n\r\n   \r\n[System]\r\njunk line\r\n"
                          ";TimeInterval=44\r\n  TimeInterval  =77\r\n=5\r\n")
            << 77 << true << QString();
        QTest::newRow("keys outside any section")
            << QByteArray("TimeInterval=200\r\nIP=x\r\n[ServerInfo]\r\nIP= spaced \r\n") << 60
            << true << u" spaced "_s;
        QTest::newRow("section header oddities")
            << QByteArray(
                   "[ System ] trailing\r\nTimeInterval=88\r\n[\r\nIP=x\r\n[Server\r\nIP=y\r\n")
            << 88 << true << QString();
        QTest::newRow("value with '=' and quotes")
            << QByteArray("[ServerInfo]\r\nIP=\"a=b\"\r\n") << 60 << true << u"\"a=b\""_s;
        static constexpr char withNul[] = "[System]\r\nTime\0Interval=50\r\nTimeInterval=5\0\r\n";
        QTest::newRow("NUL bytes")
            << QByteArray(withNul, sizeof withNul - 1) << 60 << true << QString();
        QTest::newRow("empty") << QByteArray() << 60 << true << QString();
    }
    void exoticIniInput()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, interval);
        QFETCH(bool, remembered);
        QFETCH(QString, host);
        Folder f;
        f.write(u"vigilor.ini"_s, file);
        f.store->load();
        QCOMPARE(f.settings.timeInterval(), interval);
        QCOMPARE(f.settings.flag(Key::RememberKilled), remembered);
        QCOMPARE(f.settings.host(), host);
        f.store->save();
        verifyClean(f.read(u"vigilor.ini"_s));
        Settings again;
        f.restart(again);
        QCOMPARE(again.timeInterval(), interval);
        QCOMPARE(again.host(), host);
    }

    void iniSurvivesTruncationAndGarbage()
    {
        Folder f;
        f.store->load();
        f.settings.setHost(u"10.0.0.1"_s);
        f.store->save();
        const QByteArray whole = f.read(u"vigilor.ini"_s);
        // Every prefix reads the keys it holds completely, and nothing else.
        for (qsizetype n = 0; n <= whole.size(); ++n) {
            const IniFile ini = IniFile::parse(whole.first(n));
            const qsizetype at = whole.indexOf("IP=10.0.0.1\r");
            if (n > at + 11)
                QCOMPARE(ini.value(u"serverinfo", u"ip"), u"10.0.0.1"_s);
            else if (n <= at + 2)
                QVERIFY(!ini.value(u"ServerInfo", u"IP"));
        }

        // Ten megabytes of noise with one readable section in the middle.
        QByteArray noise(10 << 20, Qt::Uninitialized);
        QRandomGenerator rng(20261208);
        rng.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        noise.insert(noise.size() / 2, "\r\n[System]\r\nTimeInterval=77\r\n");
        f.write(u"vigilor.ini"_s, noise);
        f.store->load();
        QCOMPARE(f.settings.timeInterval(), 77);
        f.store->save();
        const QByteArray clean = f.read(u"vigilor.ini"_s);
        verifyClean(clean);
        QVERIFY(clean.size() < noise.size() / 10);
    }

    // A hand-edited file is written once in the program's spelling; saving it again after a
    // load writes the very same bytes.
    void aRewrittenFileIsAFixedPoint()
    {
        Folder f;
        f.write(u"vigilor.ini"_s,
                "; by hand\n[system]\n time;interval = =-1\n[SERVERINFO]\nip=h\n");
        f.store->load();
        f.store->save();
        const QByteArray first = f.read(u"vigilor.ini"_s);
        QVERIFY(first.startsWith("[System]\r\ntime;interval= =-1\r\nEventNotify=1\r\n"));
        QVERIFY(first.contains("\r\n[ServerInfo]\r\nIP=h\r\n"));
        Folder again;
        again.write(u"vigilor.ini"_s, first);
        again.store->load();
        again.store->save();
        QCOMPARE(again.read(u"vigilor.ini"_s), first);

        // Keys that only letters code page 1250 lacks tell apart are written alike, and a NUL
        // of a damaged file is a blank: the rewrite holds each once, and reads back as written.
        for (const QByteArray& file :
             {encoded(u"[System]\r\nx☺=1\r\nx☻=2\r\nTimeInterval=90\r\n"_s, u"utf-8 bom"_s),
              encoded(u"[System]\r\na"_s + QChar(0) + u"=1\r\na =2\r\n"_s, u"utf-16le"_s)}) {
            Folder g;
            g.write(u"vigilor.ini"_s, file);
            g.store->load();
            g.store->save();
            const QByteArray rewritten = g.read(u"vigilor.ini"_s);
            QVERIFY(!rewritten.contains('\0'));
            QCOMPARE(rewritten.count("x?="), file.contains("x") ? 1 : 0);
            QCOMPARE(rewritten.count("\r\na="), file.contains("x") ? 0 : 1);
            Folder h;
            h.write(u"vigilor.ini"_s, rewritten);
            h.store->load();
            QVERIFY2(h.notes.isEmpty(), qPrintable(h.notes.join(u'\n')));
            h.store->save();
            QCOMPARE(h.read(u"vigilor.ini"_s), rewritten);
        }
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "test_inifile.moc"
