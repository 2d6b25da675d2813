// The set-up of a settings file from the command line: assignments read, only the named keys
// written.
#include "settingsfixture.h"

class TestSetUp final : public QObject
{
    Q_OBJECT

private slots:
    // The set-up without a window reads KEY=VALUE as the load reads the file: the key's own
    // spelling in any letter case, whole numbers within the range, texts as they are.
    void setUpAssignments_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("stored"); // empty: refused
        QTest::addColumn<QString>("error");
        const auto row = [](const char* name, const QString& text, Key key, const QString& stored,
                            const QString& error = QString()) {
            QTest::newRow(name) << text << int(key) << stored << error;
        };
        row("letter case", u"autoCONNECT=1"_s, Key::AutoConnect, u"1"_s);
        row("blanks and a sign", u"TimeInterval= +45 "_s, Key::TimeInterval, u"45"_s);
        row("lowest", u"TimeInterval=30"_s, Key::TimeInterval, u"30"_s);
        row("highest", u"SeInterval=1000000000"_s, Key::SeInterval, QString(),
            u"ismeretlen kulcs"_s);
        row("highest of its own", u"se_interval=1000000000"_s, Key::SeInterval, u"1000000000"_s);
        row("caption key", u"megölendők MEGJEGYZÉSE=0"_s, Key::RememberKilled, QString(),
            u"ismeretlen kulcs"_s); // only ASCII letters fold
        row("caption key as spelt", u"Megölendők megjegyzése=0"_s, Key::RememberKilled, u"0"_s);
        row("text kept as it is", u"ed_name= Béla = Jó "_s, Key::EdName, u" Béla = Jó "_s);
        row("empty text", u"IP="_s, Key::IP, QString());
        row("port", u"Port=28960"_s, Key::Port, u"28960"_s);
        row("port beyond", u"Port=65536"_s, Key::Port, QString(),
            u"a port 1 és 65535 közötti egész szám"_s);
        row("boolean beyond", u"AutoConnect=-1"_s, Key::AutoConnect, QString(),
            u"az érték 0 és 1 között lehet"_s);
        row("number beyond 64 bits", u"PingKickLevel=99999999999999999999999"_s, Key::PingKickLevel,
            QString(), u"az érték 2 és 999 között lehet"_s);
        row("not a number", u"RequiredRate=25k"_s, Key::RequiredRate, QString(),
            u"nem egész szám"_s);
        row("tab in a text", u"CoDexe=a\tb"_s, Key::CoDexe, QString(),
            u"az érték nem tartalmazhat sortörést vagy vezérlőkaraktert"_s);
        row("letter outside the code page", u"ed_name=Ωmega"_s, Key::EdName, QString(),
            u"az érték olyan betűt tartalmaz, amely az 1250-es kódlapban nincs"_s);
        row("upload address encoded", u"PublicUploadURL=u:p@h/d"_s, Key::PublicUploadURL,
            xxencode(u"u:p@h/d"_s));
        row("unknown", u"Nincs=1"_s, Key::Count, QString(), u"ismeretlen kulcs"_s);
        row("no equals sign", u"AutoConnect"_s, Key::Count, QString(),
            u"KULCS=ÉRTÉK alakban add meg"_s);
    }
    void setUpAssignments()
    {
        QFETCH(QString, text);
        QFETCH(int, key);
        QFETCH(QString, stored);
        QFETCH(QString, error);
        const Assignment a = parseAssignment(text);
        QCOMPARE(a.error, error);
        if (error.isEmpty()) {
            QCOMPARE(int(a.key), key);
            QCOMPARE(a.stored, stored);
        }
        // The password never comes from the command line.
        QVERIFY(
            parseAssignment(u"pwd=titok"_s).error.startsWith(u"a jelszót a --password-stdin"_s));
    }

    // A missing settings file is made as a save of the defaults makes it; an existing one keeps
    // everything but the named keys, also what the load would not take; a damaged one is kept
    // aside first; nothing is written when one assignment is wrong.
    void setUpWritesOnlyTheNamedKeys()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(u"vigilor.ini"_s);
        SetupResult r = setUpSettingsFile(dir.path() + u'/', {u"AutoConnect=1"_s}, u"é jelszó"_s);
        QVERIFY(r.written);
        {
            Settings defaults;
            defaults.setFlag(Key::AutoConnect, true);
            defaults.setPassword(u"é jelszó"_s);
            QTemporaryDir other;
            SettingsStore store(defaults, other.path() + u'/');
            store.setHooks({});
            store.save();
            QCOMPARE(readAll(ini), readAll(other.filePath(u"vigilor.ini"_s)));
        }

        const QByteArray odd = "; kézzel\r\n[system]\r\ntimeinterval=5\r\nAutoConnect=0\r\n"
                               "[Egyéb]\r\nx=1\r\n";
        writeAll(ini, odd);
        r = setUpSettingsFile(dir.path() + u'/', {u"AUTOCONNECT=1"_s, u"Port=1"_s}, std::nullopt);
        QVERIFY(r.written);
        QVERIFY(r.errors.isEmpty());
        QCOMPARE(readAll(ini), QByteArray("[System]\r\ntimeinterval=5\r\nAutoConnect=1\r\n"
                                          "[ServerInfo]\r\nPort=1\r\n"));

        const QByteArray before = readAll(ini);
        r = setUpSettingsFile(dir.path() + u'/', {u"Port=2"_s, u"TimeInterval=1"_s}, std::nullopt);
        QVERIFY(!r.written);
        QCOMPARE(r.errors, QStringList{u"TimeInterval=1: az érték 30 és 999999 között lehet"_s});
        QCOMPARE(readAll(ini), before);
        // The server fields are read only while they are kept.
        r = setUpSettingsFile(dir.path() + u'/', {u"SaveServerInfo=0"_s}, std::nullopt);
        QVERIFY(r.written);
        r = setUpSettingsFile(dir.path() + u'/', {u"IP=h"_s}, std::nullopt);
        QVERIFY(!r.written);
        QVERIFY(r.errors.value(0).startsWith(u"SaveServerInfo=0 mellett"_s));
        r = setUpSettingsFile(dir.path() + u'/', {u"IP=h"_s, u"SaveServerInfo=1"_s}, std::nullopt);
        QVERIFY(r.written);

        // Not a settings file at all: kept aside before it is replaced.
        writeAll(ini, QByteArray("\x00\x01\x02garbage", 10));
        r = setUpSettingsFile(dir.path() + u'/', {u"IP=h"_s}, std::nullopt);
        QVERIFY(r.written);
        QCOMPARE(readAll(ini + u".bak"_s), QByteArray("\x00\x01\x02garbage", 10));
        QVERIFY(r.notes.join(u'\n').contains(u"vigilor.ini.bak"_s));
        QVERIFY(readAll(ini).contains("IP=h\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestSetUp)
#include "test_setup.moc"
