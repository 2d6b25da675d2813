// The settings store over a real folder: the first start, load, save and reset with their
// reactions, the list files, other encodings and damaged files with their backups, saving only
// what changed, failures that keep the old content, a full disk, and a save loop killed at random
// moments.
#include "settingsfixture.h"

class TestSettingsStore final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        // No test may touch the real autostart folder.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void firstStartAppliesDefaultsAndRunsReactions()
    {
        Folder f;
        f.settings.setFlag(Key::EventNotify, false);
        f.settings.setNumber(Key::TimeInterval, 500);
        f.settings.setHost(u"left from before"_s);
        QStringList reactions;
        connect(&f.settings, &Settings::changed, this,
                [&](Key k) { reactions << QString::fromUtf16(keyInfo(k).name); });
        f.store->load();

        const QList<Key> checked = {
            Key::EventNotify,        Key::SaveServerInfo,   Key::Notification,
            Key::AntiFreeze,         Key::TestBans,         Key::LearningBan,
            Key::ClearAtMidnight,    Key::PingCheck,        Key::RememberBanned,
            Key::RememberSpectators, Key::RememberExploded, Key::RememberKilled};
        QList<int> numbers;
        for (int i = 0; i < kKeyCount; ++i) {
            const Key key = Key(i);
            if (keyInfo(key).type == ValueType::Boolean)
                QVERIFY2(f.settings.flag(key) == checked.contains(key),
                         qPrintable(QString::fromUtf16(keyInfo(key).name)));
            else if (keyInfo(key).type == ValueType::Integer)
                numbers << f.settings.number(key);
            else
                QVERIFY(f.settings.text(key).isEmpty());
        }
        QCOMPARE(numbers, QList<int>({60, 25000, 10, 10, 100, 125, 40, 25000, 90, 110}));
        QCOMPARE(f.calls, QStringList({u"autostart off"_s, u"show"_s}));
        // The reactions that run also without a change, in the order of the load.
        QCOMPARE(
            reactions.filter(QRegularExpression(u"^(AutoStart|TimeInterval|Notification|"
                                                u"anounceTime|CommandListener|Scheduler|"
                                                u"AnounceInterval|TimedImport)$"_s)),
            QStringList({u"AutoStart"_s, u"TimeInterval"_s, u"Notification"_s, u"anounceTime"_s,
                         u"CommandListener"_s, u"Scheduler"_s, u"AnounceInterval"_s}));
        QVERIFY(!QFile::exists(f.path(u"vigilor.ini"_s))); // files come with the first save
    }

    void loadRunsHooksInOrder()
    {
        Folder f;
        f.write(u"vigilor.ini"_s, "[System]\r\nAutoConnect=1\r\nStartMinimized=1\r\nAutoStart=1\r\n"
                                  "[ServerInfo]\r\nIP=10.1.2.3\r\n");
        connect(&f.settings, &Settings::changed, this, [&](Key k) {
            if (k == Key::TimeInterval || k == Key::AnounceInterval)
                f.calls << QString::fromUtf16(keyInfo(k).name);
        });
        f.store->load();
        // Minimised: no window; the connection starts after the server fields are filled.
        QCOMPARE(f.calls, QStringList({u"autostart on"_s, u"TimeInterval"_s, u"AnounceInterval"_s,
                                       u"connect 10.1.2.3"_s}));
    }

    void everyKeyRoundTrips()
    {
        Folder f;
        Settings& s = f.settings;
        for (int i = 0; i < kKeyCount; ++i) {
            const Key key = Key(i);
            if (key == Key::SaveServerInfo) // kept on for the server fields, off further below
                continue;
            s.set(key, otherValue(key));
            QVERIFY2(s.value(key) != defaultOf(key),
                     qPrintable(QString::fromUtf16(keyInfo(key).name)));
        }
        s.set(Key::PublicBanURL, u"http://bans.example/lista"_s);
        s.setBanList({u"1.2.3.4 ő"_s, QString(), u"5.6.7.*"_s});
        s.setMessages({u"Üdv a szerveren!"_s, u"  behúzott  "_s});
        s.setImportList({u"http://a.example"_s, u"http://b.example"_s});
        f.store->save();
        // The public ban list window's two keys are written by that window only.
        f.store->writePublicAddresses(s.text(Key::PublicBanURL), s.text(Key::PublicUploadURL));

        Settings loaded;
        f.restart(loaded);
        for (int i = 0; i < kKeyCount; ++i) {
            const Key key = Key(i);
            QVERIFY2(loaded.value(key) == s.value(key),
                     qPrintable(QString::fromUtf16(keyInfo(key).name)));
        }
        QCOMPARE(loaded.banList(), s.banList());
        QCOMPARE(loaded.messages(), s.messages());
        QCOMPARE(loaded.importList(), s.importList());
        QCOMPARE(loaded.importSelection(), 0);
        QCOMPARE(loaded.uploadAddress(), s.text(Key::PublicUploadURL));

        s.setFlag(Key::SaveServerInfo, false);
        f.store->save();
        Settings off;
        f.restart(off);
        QCOMPARE(off.flag(Key::SaveServerInfo), false);
    }

    void newFileHoldsSectionsAndKeysInWriteOrder()
    {
        Folder f;
        f.store->load();
        f.settings.setHost(u"10.0.0.1"_s);
        f.settings.setPort(u"28960"_s);
        f.settings.setPassword(u"titok"_s);
        f.settings.setText(Key::EdName, u"Játékos"_s);
        f.settings.setBanList({u"1.2.3.4 Ödön"_s, u"5.6.7.8"_s});
        f.store->save();
        QCOMPARE(
            f.read(u"vigilor.ini"_s),
            QByteArray(
                "[System]\r\nEventNotify=1\r\nAutoStart=0\r\nSaveServerInfo=1\r\n"
                "AutoConnect=0\r\nStartMinimized=0\r\nTimeInterval=60\r\nNotification=1\r\n"
                "CoDexe=\r\nck_rcon=0\r\n"
                "[Service]\r\nRequiredRate=25000\r\nkickOnBadRate=0\r\nanounceTime=0\r\n"
                "RateCheck=0\r\nAntiFreeze=1\r\nTestBans=1\r\nLearningBan=1\r\n"
                "ClearAtMidnight=1\r\nCommandListener=0\r\nScheduler=0\r\nAnounceInterval=10\r\n"
                "cfg_enable=0\r\nck_maxpackets=0\r\nck_fps=0\r\nck_snaps=0\r\nck_rate=0\r\n"
                "ck_name=0\r\ned_name=J\xe1t\xe9kos\r\nse_interval=10\r\nse_maxpackets=100\r\n"
                "se_fps=125\r\nse_snaps=40\r\nse_rate=25000\r\nPingCheck=1\r\n"
                "PingWarningLevel=90\r\nPingKickLevel=110\r\nTimedImport=0\r\nExportAlso=0\r\n"
                "Kitiltottak megjegyz\xe9se=1\r\nWarnOnLBhit=0\r\n"
                "SPECTATOR-ok megjegyz\xe9se=1\r\nFelrobbantand\xf3k megjegyz\xe9se=1\r\n"
                "Meg\xf6lend\xf5k megjegyz\xe9se=1\r\n"
                "[ServerInfo]\r\nIP=10.0.0.1\r\nPort=28960\r\nPWD=ukwkn\r\n"));
        QCOMPARE(f.read(u"bans.txt"_s), QByteArray("1.2.3.4 \xd6"
                                                   "d\xf6n\r\n5.6.7.8\r\n"));
        // Empty lists are written too, as empty files.
        QCOMPARE(f.read(u"Messages.txt"_s), QByteArray());
        QVERIFY(QFile::exists(f.path(u"SyncURLs.txt"_s)));
    }

    void numbersAreLimitedAndMalformedOnesGiveDefaults_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QVariant>("loaded");
        QTest::newRow("interval below range")
            << u"TimeInterval"_s << QByteArray("5") << QVariant(30);
        QTest::newRow("interval above range")
            << u"TimeInterval"_s << QByteArray("1000000") << QVariant(999999);
        QTest::newRow("interval in range") << u"TimeInterval"_s << QByteArray("45") << QVariant(45);
        QTest::newRow("blanks around") << u"TimeInterval"_s << QByteArray(" 45 ") << QVariant(45);
        QTest::newRow("negative") << u"AnounceInterval"_s << QByteArray("-7") << QVariant(1);
        QTest::newRow("beyond 64 bits")
            << u"se_interval"_s << QByteArray("99999999999999999999999") << QVariant(1000000000);
        QTest::newRow("not a number")
            << u"TimeInterval"_s << QByteArray("egy perc") << QVariant(60);
        QTest::newRow("number and text")
            << u"PingKickLevel"_s << QByteArray("12x") << QVariant(110);
        QTest::newRow("empty") << u"RequiredRate"_s << QByteArray("") << QVariant(25000);
        QTest::newRow("kick level minimum") << u"PingKickLevel"_s << QByteArray("1") << QVariant(2);
        QTest::newRow("boolean zero") << u"EventNotify"_s << QByteArray("0") << QVariant(0);
        QTest::newRow("boolean any other number")
            << u"RateCheck"_s << QByteArray("-2") << QVariant(1);
        QTest::newRow("boolean padded zero") << u"TestBans"_s << QByteArray("000") << QVariant(0);
        QTest::newRow("boolean text") << u"TestBans"_s << QByteArray("false") << QVariant(1);
        QTest::newRow("boolean empty") << u"KickOnBadRate"_s << QByteArray() << QVariant(0);
    }
    void numbersAreLimitedAndMalformedOnesGiveDefaults()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, stored);
        QFETCH(QVariant, loaded);
        Key k = Key::Count;
        for (int i = 0; i < kKeyCount; ++i)
            if (QString::fromUtf16(keyInfo(Key(i)).name).compare(key, Qt::CaseInsensitive) == 0)
                k = Key(i);
        QVERIFY(k != Key::Count);
        Folder f;
        f.write(u"vigilor.ini"_s, "[" + QByteArray(keyInfo(k).section) + "]\r\n" + key.toLatin1() +
                                      "=" + stored + "\r\n");
        f.settings.set(k, otherValue(k));
        f.store->load();
        QCOMPARE(f.settings.value(k), loaded);
    }

    void serverInfoOffWritesEmptyFieldsAndLoadLeavesThem()
    {
        Folder f;
        f.settings.setFlag(Key::SaveServerInfo, false);
        f.settings.setHost(u"10.0.0.1"_s);
        f.settings.setPort(u"28960"_s);
        f.settings.setPassword(u"titok"_s);
        f.store->save();
        QVERIFY(f.read(u"vigilor.ini"_s).endsWith("[ServerInfo]\r\nIP=\r\nPort=\r\nPWD=\r\n"));

        // Also an older file that still holds server fields does not fill them.
        f.write(u"vigilor.ini"_s,
                "[System]\r\nSaveServerInfo=0\r\n[ServerInfo]\r\nIP=9.9.9.9\r\nPWD=x\r\n");
        Settings other;
        other.setHost(u"typed"_s);
        other.setPassword(u"secret"_s);
        f.restart(other);
        QCOMPARE(other.host(), u"typed"_s);
        QCOMPARE(other.port(), QString());
        QCOMPARE(other.password(), u"secret"_s);
    }

    void resetKeepsListsAndEmptiesServerFields()
    {
        Folder f;
        f.store->load();
        for (Key key : {Key::TimeInterval, Key::EventNotify, Key::CkName, Key::EdName})
            f.settings.set(key, otherValue(key));
        f.settings.setHost(u"10.0.0.1"_s);
        f.settings.setPort(u"28960"_s);
        f.settings.setPassword(u"titok"_s);
        f.settings.setBanList({u"1.2.3.4"_s});
        f.settings.setMessages({u"Szia"_s});
        f.settings.setImportList({u"http://a.example"_s});
        f.store->writePublicAddresses(u"http://pub.example"_s, u"u:p@ftp.example"_s);
        f.store->save();
        const QByteArray saved = f.read(u"vigilor.ini"_s);

        QString asked;
        SettingsStore::Hooks h = f.hooks();
        h.confirmReset = [&](const QString& text, std::function<void(bool)> answered) {
            asked = text;
            answered(false);
        };
        f.store->setHooks(h);
        std::optional<bool> done;
        f.store->reset([&](bool reset) { done = reset; });
        QCOMPARE(done, std::optional<bool>(false));
        QVERIFY(asked.startsWith(u"!!! FIGYELEM !!!\n\r\n\r"_s));
        QCOMPARE(f.read(u"vigilor.ini"_s), saved);
        QCOMPARE(f.settings.host(), u"10.0.0.1"_s);

        h.confirmReset = [](const QString&, std::function<void(bool)> answered) { answered(true); };
        f.store->setHooks(h);
        f.calls.clear();
        done.reset();
        f.store->reset([&](bool reset) { done = reset; });
        QCOMPARE(done, std::optional<bool>(true));
        QCOMPARE(f.calls.first(), u"disconnect ini"_s); // before the file goes
        for (int i = 0; i < kKeyCount; ++i)
            if (Key(i) != Key::PublicUploadURL)
                QVERIFY2(f.settings.value(Key(i)) == defaultOf(Key(i)),
                         qPrintable(QString::fromUtf16(keyInfo(Key(i)).name)));
        QCOMPARE(f.settings.banList(), QStringList{u"1.2.3.4"_s});
        QCOMPARE(f.settings.messages(), QStringList{u"Szia"_s});
        QCOMPARE(f.settings.importList(), QStringList{u"http://a.example"_s});

        Folder fresh;
        fresh.store->load();
        fresh.store->save();
        QCOMPARE(f.read(u"vigilor.ini"_s), fresh.read(u"vigilor.ini"_s));
    }

    void publicAddressesJoinTheImportList()
    {
        Folder f;
        f.write(u"vigilor.ini"_s,
                "[System]\r\nPublicBanURL=Bans.Example/lista\r\nPublicUploadURL=" +
                    xxencode(u"user:pw@ftp.example/dir"_s).toLatin1() + "\r\n");
        f.write(u"Imports.ban"_s, "http://one.example\r\nHTTP://BANS.EXAMPLE/lista\r\n");
        f.store->load();
        QCOMPARE(f.settings.importList(),
                 QStringList({u"http://one.example"_s, u"HTTP://BANS.EXAMPLE/lista"_s}));
        QCOMPARE(f.settings.importSelection(), 1);
        QCOMPARE(f.settings.uploadAddress(), u"user:pw@ftp.example/dir"_s);

        f.write(u"Imports.ban"_s, "http://one.example\r\n");
        f.store->load();
        QCOMPARE(f.settings.importList().last(), u"http://Bans.Example/lista"_s);

        // An address with its own scheme keeps it.
        f.write(u"vigilor.ini"_s, "[System]\r\nPublicBanURL=https://secure.example/lista\r\n");
        f.store->load();
        QCOMPARE(f.settings.importList().last(), u"https://secure.example/lista"_s);

        // Without a download address the upload address is not taken.
        f.settings.setUploadAddress(u"typed"_s);
        f.write(u"vigilor.ini"_s,
                "[System]\r\nPublicUploadURL=" + xxencode(u"x@y"_s).toLatin1() + "\r\n");
        f.store->load();
        QCOMPARE(f.settings.uploadAddress(), u"typed"_s);

        // SyncURLs.txt replaces the list afterwards.
        f.write(u"vigilor.ini"_s, "[System]\r\nPublicBanURL=bans.example\r\n");
        f.write(u"SyncURLs.txt"_s, "http://sync.example\r\n");
        f.store->load();
        QCOMPARE(f.settings.importList(), QStringList{u"http://sync.example"_s});
    }

    void publicAddressesKeepTheRestOfTheFile()
    {
        Folder f;
        f.store->load();
        f.settings.setHost(u"10.0.0.1"_s);
        f.store->save();
        f.settings.setHost(u"not saved yet"_s);
        f.store->writePublicAddresses(u"http://pub.example"_s, u"u:p@ftp.example"_s);
        const QByteArray bytes = f.read(u"vigilor.ini"_s);
        QVERIFY(bytes.contains(
            QByteArray("ck_rcon=0\r\nPublicBanURL=http://pub.example\r\nPublicUploadURL=" +
                       xxencode(u"u:p@ftp.example"_s).toLatin1() + "\r\n[Service]")));
        QVERIFY(bytes.contains("IP=10.0.0.1\r\n"));
        // A later save keeps them.
        f.store->save();
        QVERIFY(f.read(u"vigilor.ini"_s).contains("PublicBanURL=http://pub.example\r\n"));

        const QByteArray before = f.read(u"vigilor.ini"_s);
        QVERIFY_THROWS_EXCEPTION(Error, f.store->writePublicAddresses(u"x"_s, QString(64, u'a')));
        QCOMPARE(f.read(u"vigilor.ini"_s), before);
    }

    void listFiles()
    {
        Folder f;
        f.settings.setBanList({u"kept"_s});
        f.settings.setMessages({u"kept"_s});
        // Any line ends; a last line without one; an empty line in the middle stays.
        f.write(u"Messages.txt"_s, "egy\ncsak CR\r\rk\xe9t\r\nutols\xf3");
        f.write(u"Imports.ban"_s, "http://x.example\r\n");
        f.store->load();
        QCOMPARE(f.settings.messages(),
                 QStringList({u"egy"_s, u"csak CR"_s, u""_s, u"két"_s, u"utolsó"_s}));
        QCOMPARE(f.settings.banList(), QStringList{u"kept"_s}); // no bans.txt
        QCOMPARE(f.settings.importList(), QStringList{u"http://x.example"_s});
        QCOMPARE(f.settings.importSelection(), 0); // a list with entries has one selected

        f.write(u"bans.txt"_s, "");
        f.write(u"SyncURLs.txt"_s, "\xEF\xBB\xBFhttp://\xc3\xa1.example\n");
        f.store->load();
        QVERIFY(f.settings.banList().isEmpty());
        QCOMPARE(f.settings.importList(), QStringList{u"http://á.example"_s});
        QCOMPARE(f.settings.importSelection(), 0);

        // Saving writes clean lists again.
        f.store->save();
        QCOMPARE(f.read(u"Messages.txt"_s),
                 QByteArray("egy\r\ncsak CR\r\n\r\nk\xe9t\r\nutols\xf3\r\n"));
        QCOMPARE(f.read(u"SyncURLs.txt"_s), QByteArray("http://\xe1.example\r\n"));
    }

    // Text whose code page 1250 bytes the reader would take for UTF-8 or UTF-16 is written so
    // that it reads back as it was; everything else stays code page 1250.
    void everyWrittenFileReadsBackAsWritten()
    {
        Folder f;
        f.settings.setBanList({u"0 Ă©"_s, u"0 ßŠ"_s});
        f.settings.setMessages({u"˙ţ like a mark"_s});
        f.settings.setImportList({u"http://á.example"_s});
        f.settings.setText(Key::EdName, u"Ă©"_s);
        f.store->save();
        QCOMPARE(f.read(u"bans.txt"_s),
                 QByteArray("\xEF\xBB\xBF" "0 \xC4\x82\xC2\xA9\r\n0 \xC3\x9F\xC5\xA0\r\n"));
        QVERIFY(f.read(u"Messages.txt"_s).startsWith("\xEF\xBB\xBF"));
        QCOMPARE(f.read(u"SyncURLs.txt"_s), QByteArray("http://\xe1.example\r\n"));
        // The accented letters of its own keys rule UTF-8 out: the settings file stays as it is.
        QVERIFY(f.read(u"vigilor.ini"_s).startsWith("[System]\r\n"));

        Folder again;
        for (const QString& name : {u"vigilor.ini"_s, u"bans.txt"_s, u"Messages.txt"_s})
            again.write(name, f.read(name));
        again.store->load();
        QCOMPARE(again.settings.banList(), f.settings.banList());
        QCOMPARE(again.settings.messages(), f.settings.messages());
        QCOMPARE(again.settings.text(Key::EdName), u"Ă©"_s);
        QVERIFY(again.notes.isEmpty()); // nothing taken for damaged
    }

    void filesInEveryEncodingAreRead_data()
    {
        QTest::addColumn<QString>("encoding");
        for (const char* e : {"cp1250", "utf-8", "utf-8 bom", "utf-16le", "utf-16be"})
            QTest::newRow(e) << QString::fromLatin1(e);
    }
    void filesInEveryEncodingAreRead()
    {
        QFETCH(QString, encoding);
        Folder f;
        f.write(
            u"vigilor.ini"_s,
            encoded(u"[System]\r\nTimeInterval=120\r\n[Service]\r\nKitiltottak megjegyzése=0\r\n"
                    "[ServerInfo]\r\nIP=szerver.hu\r\nPort=28960\r\nPWD=\r\n"_s,
                    encoding));
        f.write(u"bans.txt"_s, encoded(u"0 Árvíztűrő\r\n3 1.2.3.\r\n"_s, encoding));
        f.write(u"Messages.txt"_s, encoded(u"Üdv a szerveren!\r\n"_s, encoding));
        f.store->load();
        QCOMPARE(f.settings.timeInterval(), 120);
        QVERIFY(!f.settings.flag(Key::RememberBanned));
        QCOMPARE(f.settings.host(), u"szerver.hu"_s);
        QCOMPARE(f.settings.port(), u"28960"_s);
        QCOMPARE(f.settings.banList(), QStringList({u"0 Árvíztűrő"_s, u"3 1.2.3."_s}));
        QCOMPARE(f.settings.messages(), QStringList{u"Üdv a szerveren!"_s});

        // Written back in code page 1250, each key once; nothing needed keeping aside.
        f.store->save();
        const QByteArray ini = f.read(u"vigilor.ini"_s);
        verifyClean(ini);
        QCOMPARE(ini.count("Kitiltottak megjegyz\xe9se="), 1);
        QVERIFY(ini.contains("IP=szerver.hu\r\n"));
        QCOMPARE(f.read(u"bans.txt"_s), QByteArray("0 \xc1rv\xedzt\xfbr\xf5\r\n3 1.2.3.\r\n"));
        QCOMPARE(f.read(u"Messages.txt"_s), text::toCp1250(u"Üdv a szerveren!\r\n"));
        QVERIFY(f.notes.isEmpty());
        QCOMPARE(QDir(f.dir.path()).entryList({u"*.bak"_s}), QStringList());
    }

    void damagedSettingsFileIsKeptOnceBeforeItsRewrite_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("interval");
        static constexpr char nul[] = "[System]\r\nTimeInterval=90\r\n\0\0\0\0";
        QTest::newRow("NUL bytes") << QByteArray(nul, sizeof nul - 1) << 90;
        QTest::newRow("UTF-16 without its mark") << QByteArray("[\0S\0y\0s\0]\0", 10) << 60;
        QTest::newRow("no recognisable line")
            << QByteArray("Ez nem INI f\xe1jl.\r\nEgy lev\xe9l.") << 60;
        QTest::newRow("only another program's section")
            << QByteArray("[Other]\r\nTimeInterval=90\r\n") << 60;
        QTest::newRow("broken UTF-16") << QByteArray("\xFF\xFE[\0\x00\xD8", 6) << 60;
        QTest::newRow("letters outside code page 1250")
            << QByteArray("[Service]\r\ned_name=\xd0\x96\xd0\xb5\xd0\xbd\xd1\x8f\r\n") << 60;
    }
    void damagedSettingsFileIsKeptOnceBeforeItsRewrite()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, interval);
        Folder f;
        const QString ini = f.path(u"vigilor.ini"_s);
        f.write(u"vigilor.ini"_s, content);
        f.store->load();
        QCOMPARE(f.settings.timeInterval(), interval);
        QCOMPARE(f.notes.size(), 1);
        QVERIFY2(f.notes[0].startsWith(u"Hibás fájl: "_s + ini + u" ("_s), qPrintable(f.notes[0]));
        QVERIFY(!QFile::exists(ini + u".bak"_s)); // nothing rewritten yet

        f.store->save();
        QCOMPARE(readAll(ini + u".bak"_s), content);
        QCOMPARE(f.notes.size(), 2);
        QCOMPARE(f.notes[1], u"Felülírás előtt az eredeti fájl megmaradt: "_s + ini + u".bak"_s);
        verifyClean(f.read(u"vigilor.ini"_s));

        // Later saves keep nothing more; a second damaged file leaves the first backup alone.
        f.settings.setNumber(Key::TimeInterval, 45);
        f.store->save();
        QCOMPARE(f.notes.size(), 2);
        f.write(u"vigilor.ini"_s, QByteArray("\0other garbage", 14));
        f.store->load();
        f.store->save();
        QCOMPARE(readAll(ini + u".bak"_s), content);
        QCOMPARE(f.notes.size(), 4);
        QVERIFY2(f.notes[3].contains(u"nem íródott felül"_s), qPrintable(f.notes[3]));
        verifyClean(f.read(u"vigilor.ini"_s));
    }

    void damagedListFilesAreKeptOnceBeforeTheirRewrite()
    {
        Folder f;
        f.settings.setBanList({u"0 kept"_s});
        // Not text: not loaded, since its lines would become ban entries.
        const QByteArray binary("0 a\r\n\x00\x01\x02\xff\x00", 10);
        f.write(u"bans.txt"_s, binary);
        // Text, with a letter code page 1250 lacks: loaded, but a rewrite would lose that letter.
        const QByteArray cyrillic = u"Женя üdvözöl\r\n"_s.toUtf8();
        f.write(u"Messages.txt"_s, cyrillic);
        f.write(u"SyncURLs.txt"_s, encoded(u"http://ő.example\r\n"_s, u"utf-16le"_s)); // clean
        f.store->load();
        QCOMPARE(f.settings.banList(), QStringList{u"0 kept"_s});
        QCOMPARE(f.settings.messages(), QStringList{u"Женя üdvözöl"_s});
        QCOMPARE(f.settings.importList(), QStringList{u"http://ő.example"_s});
        QCOMPARE(f.notes.size(), 2);
        QVERIFY2(f.notes[0].endsWith(u"A lista nem töltődött be belőle."_s),
                 qPrintable(f.notes[0]));
        QVERIFY2(f.notes[1].contains(u"U+0416"_s), qPrintable(f.notes[1]));

        f.store->save();
        QCOMPARE(f.read(u"bans.txt.bak"_s), binary);
        QCOMPARE(f.read(u"bans.txt"_s), QByteArray("0 kept\r\n"));
        QCOMPARE(f.read(u"Messages.txt.bak"_s), cyrillic);
        QCOMPARE(f.read(u"Messages.txt"_s), text::toCp1250(u"???? üdvözöl\r\n"));
        QVERIFY(!QFile::exists(f.path(u"SyncURLs.txt.bak"_s)));
        QCOMPARE(f.read(u"SyncURLs.txt"_s), QByteArray("http://\xf5.example\r\n"));
        QCOMPARE(f.notes.size(), 4);

        // A backup already there is never overwritten.
        f.write(u"bans.txt"_s, QByteArray("\0new", 4));
        f.store->load();
        f.settings.setBanList({u"1 x"_s});
        f.store->save();
        QCOMPARE(f.read(u"bans.txt.bak"_s), binary);
        QCOMPARE(f.read(u"bans.txt"_s), QByteArray("1 x\r\n"));
        QVERIFY2(f.notes.constLast().contains(u"nem íródott felül"_s),
                 qPrintable(f.notes.constLast()));
    }

    // A load that stops at a file it cannot read leaves the files after it unread: their content
    // is kept aside before a save replaces it with lists that never held it.
    void failedLoadKeepsTheFilesItDidNotRead()
    {
        Folder f;
        f.write(u"vigilor.ini"_s, "[System]\r\nTimeInterval=300\r\n");
        f.write(u"Messages.txt"_s, "Szia!\r\n");
        f.write(u"SyncURLs.txt"_s, "http://lista.example\r\n");
        QVERIFY(QDir(f.dir.path()).mkdir(u"Imports.ban"_s));
        QVERIFY_THROWS_EXCEPTION(FileError, f.store->load());
        QCOMPARE(f.settings.timeInterval(), 300);
        QVERIFY(f.settings.messages().isEmpty());

        f.store->save();
        QCOMPARE(f.read(u"Messages.txt.bak"_s), QByteArray("Szia!\r\n"));
        QCOMPARE(f.read(u"SyncURLs.txt.bak"_s), QByteArray("http://lista.example\r\n"));
        QVERIFY(!QFile::exists(f.path(u"vigilor.ini.bak"_s)));
        QVERIFY(!QFile::exists(f.path(u"bans.txt.bak"_s)));

        // A folder where the settings file should be is an error that names it, at every load.
        Folder g;
        QVERIFY(QDir(g.dir.path()).mkdir(u"vigilor.ini"_s));
        try {
            g.store->load();
            QFAIL("no error");
        } catch (const FileError& e) {
            QCOMPARE(e.message(), u"Nem olvasható a fájl: "_s + g.path(u"vigilor.ini"_s) +
                                      u" (mappa van a helyén)"_s);
        }
        QVERIFY_THROWS_EXCEPTION(FileError, g.store->save());
    }

    // The connect action amid the load lets events run, and a datagram handled then asks for a
    // save: it must not write the half-loaded settings over the files still to be read.
    void saveAmidTheLoadWritesNothing()
    {
        Folder f;
        const QByteArray ini = "[System]\r\nAutoConnect=1\r\nTimeInterval=300\r\n"
                               "[ServerInfo]\r\nIP=127.0.0.1\r\nPort=28960\r\nPWD=qu\r\n";
        f.write(u"vigilor.ini"_s, ini);
        f.write(u"bans.txt"_s, "0 cheater\r\n");
        f.write(u"Messages.txt"_s, "Szia!\r\n");
        f.write(u"SyncURLs.txt"_s, "http://lista.example/\r\n");
        SettingsStore::Hooks hooks = f.hooks();
        hooks.connectAction = [&f] { f.store->save(); };
        f.store->setHooks(hooks);
        f.store->load();
        QCOMPARE(f.settings.messages(), QStringList{u"Szia!"_s});
        QCOMPARE(f.settings.importList(), QStringList{u"http://lista.example/"_s});
        QCOMPARE(f.read(u"Messages.txt"_s), QByteArray("Szia!\r\n"));
        QCOMPARE(f.read(u"vigilor.ini"_s), ini);
        f.store->save();
        Settings again;
        f.restart(again);
        QCOMPARE(again.messages(), f.settings.messages());
        QCOMPARE(again.importList(), f.settings.importList());
        QCOMPARE(again.timeInterval(), 300);
    }

    void unchangedFilesAreNotRewritten()
    {
        Folder f;
        f.store->load();
        f.settings.setBanList({u"1.2.3.4"_s});
        f.settings.setMessages({u"m"_s});
        f.settings.setImportList({u"http://a.example"_s});
        f.store->save();
        const QStringList names = {u"vigilor.ini"_s, u"bans.txt"_s, u"Messages.txt"_s,
                                   u"SyncURLs.txt"_s};
        const auto inodes = [&] {
            QList<FileId> list;
            for (const QString& n : names)
                list << inode(f.path(n));
            return list;
        };
        const QList<FileId> first = inodes();
        f.store->save();
        QCOMPARE(inodes(), first);

        // A loaded store does not rewrite what it read, either.
        Settings other;
        SettingsStore otherStore(other, f.dir.path() + u'/');
        SettingsStore::Hooks none;
        none.autostart = nullptr;
        otherStore.setHooks(none);
        otherStore.load();
        otherStore.save();
        QCOMPARE(inodes(), first);

        f.settings.setNumber(Key::TimeInterval, 120);
        f.store->save();
        QList<FileId> now = inodes();
        QVERIFY(now[0] != first[0]);
        QCOMPARE(now.mid(1), first.mid(1));

        f.settings.setBanList({u"1.2.3.4"_s, u"5.6.7.8"_s});
        f.store->save();
        QVERIFY(inodes()[1] != now[1]);
        now = inodes();

        // Changed or removed by someone else: written again.
        const QByteArray ini = f.read(u"vigilor.ini"_s);
        writeAll(f.path(u"vigilor.ini"_s), ini.first(ini.indexOf("[Service]"))); // cut short
        writeAll(f.path(u"Messages.txt"_s), "other\r\n");
        QFile::remove(f.path(u"SyncURLs.txt"_s));
        f.store->save();
        QCOMPARE(f.read(u"vigilor.ini"_s), ini);
        QCOMPARE(f.read(u"Messages.txt"_s), QByteArray("m\r\n"));
        QCOMPARE(f.read(u"SyncURLs.txt"_s), QByteArray("http://a.example\r\n"));
        QCOMPARE(inodes()[1], now[1]);
    }

    void failedSaveReportsTheFileAndKeepsOldContent()
    {
        // The program folder is a regular file.
        {
            QTemporaryDir dir;
            writeAll(dir.path() + u"/plain"_s, "x");
            Settings s;
            SettingsStore store(s, dir.path() + u"/plain/"_s);
            try {
                store.save();
                QFAIL("saved into a file");
            } catch (const FileError& e) {
                QVERIFY2(e.message().contains(u"bans.txt"_s), qPrintable(e.message()));
            }
        }

        Folder f;
        f.store->load();
        f.settings.setBanList({u"old"_s});
        f.settings.setMessages({u"old"_s});
        f.store->save();
        const QByteArray ini = f.read(u"vigilor.ini"_s);

        // bans.txt became a folder: the save ends at its first step.
        QFile::remove(f.path(u"bans.txt"_s));
        QDir().mkdir(f.path(u"bans.txt"_s));
        f.settings.setNumber(Key::TimeInterval, 300);
        QVERIFY_THROWS_EXCEPTION(FileError, f.store->save());
        QCOMPARE(f.read(u"vigilor.ini"_s), ini);
        QDir().rmdir(f.path(u"bans.txt"_s));

        // The settings file became a folder: the ban list before it is written, the messages
        // after it are not.
        QFile::remove(f.path(u"vigilor.ini"_s));
        QDir().mkdir(f.path(u"vigilor.ini"_s));
        f.settings.setBanList({u"new"_s});
        f.settings.setMessages({u"new"_s});
        try {
            f.store->save();
            QFAIL("saved over a folder");
        } catch (const FileError& e) {
            QVERIFY2(e.message().contains(u"vigilor.ini"_s), qPrintable(e.message()));
        }
        QCOMPARE(f.read(u"bans.txt"_s), QByteArray("new\r\n"));
        QCOMPARE(f.read(u"Messages.txt"_s), QByteArray("old\r\n"));
        QDir().rmdir(f.path(u"vigilor.ini"_s));
        f.store->save();
        QCOMPARE(f.read(u"Messages.txt"_s), QByteArray("new\r\n"));
    }

    void fullDiskKeepsTheOldBanList()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no file size limit of a process to stand in for a full disk");
#else
        Folder f;
        f.settings.setBanList(test::loopBans(1));
        f.store->save();
        const QByteArray old = f.read(u"bans.txt"_s);

        // A file size limit stands in for a full disk: writes past it fail.
        f.settings.setBanList(test::loopBans(2) + test::loopBans(3));
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &small);
        bool failed = false;
        try {
            f.store->save();
        } catch (const FileError& e) {
            failed = e.message().contains(u"bans.txt"_s);
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QVERIFY(failed);
        QCOMPARE(f.read(u"bans.txt"_s), old);
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 4); // no leftovers

        f.store->save();
        QCOMPARE(linesFromBytes(f.read(u"bans.txt"_s)), test::loopBans(2) + test::loopBans(3));
#endif
    }

    void killedSaveLoopNeverLeavesABrokenFile()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        QRandomGenerator rng(QRandomGenerator::global()->generate());
        int round = 1;
        for (int run = 0; run < 20; ++run, round += 100000) {
            QProcess helper;
            helper.start(QStringLiteral(VIGILOR_SAVE_LOOP), {folder, QString::number(round)});
            QVERIFY(helper.waitForStarted());
            QVERIFY(helper.waitForReadyRead(10000));
            QTest::qSleep(int(rng.bounded(60)));
            helper.kill();
            QVERIFY(helper.waitForFinished());

            checkLoopFiles(folder);
            if (QTest::currentTestFailed())
                return;
        }
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
