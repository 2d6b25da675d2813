#include "loopstate.h"
#include "io/files.h"
#include "settings/autostart.h"
#include "settings/inifile.h"
#include "settings/password.h"
#include "settings/settingsstore.h"
#include "settings/setup.h"
#include "settings/textfile.h"
#include "settings/xxcode.h"
#include "text/cp1250.h"
#include "text/errors.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using namespace vigilor;
using namespace vigilor::settings;
using namespace vigilor::io;
using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

#ifdef Q_OS_WIN
// The file's index on its volume, which a replacement changes as it does a Linux inode.
using FileId = quint64;
FileId inode(const QString& path)
{
    const HANDLE file =
        CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), 0,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known ? (FileId(info.nFileIndexHigh) << 32) | info.nFileIndexLow : 0;
}
#else
using FileId = ino_t;
FileId inode(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}
#endif

QVariant defaultOf(Key key)
{
    const KeyInfo& info = keyInfo(key);
    return info.type == ValueType::Text ? QVariant(QString()) : QVariant(info.defaultValue);
}

// A value for the key that differs from its default and survives the file.
QVariant otherValue(Key key)
{
    const KeyInfo& info = keyInfo(key);
    switch (info.type) {
    case ValueType::Boolean:
        return info.defaultValue ? 0 : 1;
    case ValueType::Integer:
        return info.defaultValue == info.maximum ? info.minimum : info.maximum;
    case ValueType::Text:
        return QString(u"Érték ő=ű;# " + QString::fromUtf16(info.name));
    }
    return {};
}

// One program folder with a settings model and its store; hooks record what they were asked.
struct Folder
{
    QTemporaryDir dir;
    Settings settings;
    std::unique_ptr<SettingsStore> store;
    QStringList calls;
    QStringList notes; // console lines

    Folder() : store(std::make_unique<SettingsStore>(settings, dir.path() + u'/'))
    {
        store->setHooks(hooks());
    }
    SettingsStore::Hooks hooks()
    {
        SettingsStore::Hooks h;
        h.showMainWindow = [this] { calls << u"show"_s; };
        h.connectAction = [this] { calls << u"connect " + settings.host(); };
        h.disconnectIfConnected = [this] {
            calls << u"disconnect"_s + (QFile::exists(path(u"vigilor.ini"_s)) ? u" ini"_s : u""_s);
        };
        h.autostart = [this](bool on, const QString&) {
            calls << (on ? u"autostart on"_s : u"autostart off"_s);
        };
        h.reportError = [this](const std::exception& e) {
            const auto* own = dynamic_cast<const Error*>(&e);
            calls << u"error " + (own ? own->message() : QString());
        };
        h.consoleLine = [this](const QString& line) { notes << line; };
        return h;
    }
    QString path(const QString& name) const { return dir.path() + u'/' + name; }
    void write(const QString& name, const QByteArray& bytes) const { writeAll(path(name), bytes); }
    QByteArray read(const QString& name) const { return readAll(path(name)); }
    // A fresh model and store over the same folder, as after a restart.
    void restart(Settings& into) const
    {
        SettingsStore other(into, dir.path() + u'/');
        SettingsStore::Hooks h;
        h.autostart = nullptr;
        other.setHooks(h);
        other.load();
    }
};

// The text in one of the encodings an editor may save: code page 1250, UTF-8 with or without its
// byte-order mark, UTF-16 in either byte order with its mark.
QByteArray encoded(const QString& text, const QString& encoding)
{
    if (encoding == u"cp1250")
        return text::toCp1250(text);
    if (encoding == u"utf-8")
        return text.toUtf8();
    if (encoding == u"utf-8 bom")
        return "\xEF\xBB\xBF" + text.toUtf8();
    const bool little = encoding == u"utf-16le";
    QByteArray bytes = little ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    for (const QChar c : text) {
        const char high = char(c.unicode() >> 8);
        const char low = char(c.unicode() & 0xFF);
        bytes.append(little ? low : high).append(little ? high : low);
    }
    return bytes;
}

// The saved settings file parses back into exactly the program's sections, each once, and every
// line is a section or a key, ended by CR LF.
void verifyClean(const QByteArray& bytes)
{
    QVERIFY(bytes.endsWith("\r\n"));
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast();
    QStringList sections;
    for (QByteArray line : lines) {
        QVERIFY2(line.endsWith('\r'), line.constData());
        line.chop(1);
        QVERIFY(!line.contains('\r'));
        if (line.startsWith('['))
            sections << QString::fromLatin1(line);
        else
            QVERIFY2(line.indexOf('=') > 0, line.constData());
    }
    sections.sort();
    QCOMPARE(sections, QStringList({u"[ServerInfo]"_s, u"[Service]"_s, u"[System]"_s}));
}

// The round a line was written in: the number that `pattern` captures.
int roundOf(const QString& line, const QString& pattern)
{
    const QRegularExpressionMatch m = QRegularExpression(pattern).match(line);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Every file the save loop writes holds one complete round: all lines of one list, all keys of
// one state, never a mix.
void checkLoopFiles(const QString& folder)
{
    const QStringList bans = linesFromBytes(readAll(folder + u"bans.txt"_s));
    QVERIFY(!bans.isEmpty());
    QCOMPARE(bans, test::loopBans(roundOf(bans.first(), u"^ban ő (\\d+) "_s)));
    const QStringList messages = linesFromBytes(readAll(folder + u"Messages.txt"_s));
    QVERIFY(!messages.isEmpty());
    QCOMPARE(messages, test::loopMessages(roundOf(messages.first(), u"^Üzenet (\\d+) "_s)));
    const QStringList imports = linesFromBytes(readAll(folder + u"SyncURLs.txt"_s));
    QVERIFY(!imports.isEmpty());
    QCOMPARE(imports, test::loopImports(roundOf(imports.first(), u"lista(\\d+)\\."_s)));

    const QByteArray bytes = readAll(folder + u"vigilor.ini"_s);
    verifyClean(bytes);
    const IniFile ini = IniFile::parse(bytes);
    // Every key but the public ban list window's two, and the web page's five, which a robot
    // without the web page does not write.
    QCOMPARE(ini.keys(u"System").size() + ini.keys(u"Service").size() +
                 ini.keys(u"ServerInfo").size(),
             kKeyCount - 2 - 5);
    const int round =
        roundOf(ini.value(u"Service", u"ed_name").value_or(QString()), u"^név (\\d+)$"_s);
    QCOMPARE(ini.value(u"System", u"CoDexe"), test::loopPath(round));
    QCOMPARE(ini.value(u"System", u"TimeInterval"), QString::number(test::loopInterval(round)));
    QCOMPARE(passwordFromStored(ini.value(u"ServerInfo", u"PWD").value_or(QString())),
             test::loopPassword(round));
}

} // namespace

class TestSettings final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        // No test may touch the real autostart folder.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    // ---- load, save, reset --------------------------------------------------------------------

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
        h.confirmReset = [&](const QString& text) {
            asked = text;
            return false;
        };
        f.store->setHooks(h);
        QVERIFY(!f.store->reset());
        QVERIFY(asked.startsWith(u"!!! FIGYELEM !!!\n\r\n\r"_s));
        QCOMPARE(f.read(u"vigilor.ini"_s), saved);
        QCOMPARE(f.settings.host(), u"10.0.0.1"_s);

        h.confirmReset = [](const QString&) { return true; };
        f.store->setHooks(h);
        f.calls.clear();
        QVERIFY(f.store->reset());
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

    // ---- other encodings, damaged files and their backups ---------------------------------------

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

    // ---- the INI reader -----------------------------------------------------------------------

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

    // ---- the password -------------------------------------------------------------------------

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

    void xxcode()
    {
        QCOMPARE(xxencode(QString()), u"+"_s);
        QCOMPARE(xxencode(u"A"_s), u"-EE++"_s);
        QCOMPARE(xxencode(u"Cat"_s), u"1Eq3o"_s);
        QCOMPARE(xxdecode(u"1Eq3o"_s), u"Cat"_s);
        QCOMPARE(xxdecode(u"-EE--"_s), u"A"_s); // the padding does not matter
        for (const QString& bad : {QString(), u"+"_s, u"*abc"_s, u"0"_s})
            QCOMPARE(xxdecode(bad), QString());
        QRandomGenerator rng(7);
        for (int n = 0; n <= kXxMaxBytes; ++n) {
            QByteArray bytes(n, Qt::Uninitialized);
            for (char& c : bytes)
                c = char(rng.bounded(256));
            const QString text = text::fromCp1250(bytes);
            const QString encoded = xxencode(text);
            QCOMPARE(encoded.size(), 1 + (n + 2) / 3 * 4);
            QCOMPARE(xxdecode(encoded), text);
            // Cut short, it gives what it still holds.
            for (qsizetype cut = 0; cut < encoded.size(); ++cut)
                QVERIFY(text.startsWith(xxdecode(encoded.first(cut))));
        }
        QVERIFY_THROWS_EXCEPTION(Error, xxencode(QString(64, u'a')));
    }

    // ---- writing only what changed, and failures ------------------------------------------------

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

    // Whatever stands under a file's name, reading it neither blocks nor misreads: no file is
    // no content, a folder, a pipe or a socket is an error that says so, a file is read whole.
    void readingWhateverStandsUnderTheName()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        QVERIFY(!readFileIfPresent(folder + u"missing"_s));
        const auto failure = [](const QString& path) {
            try {
                readFileIfPresent(path);
            } catch (const FileError& e) {
                return e.message();
            }
            return QString();
        };
        QVERIFY(QDir().mkdir(folder + u"folder"_s));
        QVERIFY(failure(folder + u"folder"_s).endsWith(u"(mappa van a helyén)"_s));
#ifndef Q_OS_WIN // Windows has no fifos or sockets among the files of a folder.
        QVERIFY(::mkfifo(QFile::encodeName(folder + u"pipe"_s).constData(), 0644) == 0);
        QVERIFY(failure(folder + u"pipe"_s).endsWith(u"(nem közönséges fájl)"_s));
        const QString socketPath = folder + u"socket"_s;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(socketPath).constData(),
                     sizeof address.sun_path - 1);
        QVERIFY(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
        QVERIFY(failure(socketPath).endsWith(u"(nem közönséges fájl)"_s));
        ::close(fd);
#endif

        QByteArray content;
        for (int i = 0; i < 300000; ++i)
            content += QByteArray::number(i) + "\r\n";
        writeAll(folder + u"bans.txt"_s, content);
        QCOMPARE(readFileIfPresent(folder + u"bans.txt"_s).value_or(QByteArray()), content);
        writeAll(folder + u"empty"_s, {});
        QCOMPARE(readFileIfPresent(folder + u"empty"_s), std::optional<QByteArray>(QByteArray()));
    }

    // A replacement keeps what the operator set up around the file: its permissions, a link to
    // it from elsewhere; a new file gets the usual permissions; one not committed leaves the old
    // content and nothing beside it.
    void replacementKeepsPermissionsAndLinks()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
#ifndef Q_OS_WIN
        const auto modeOf = [](const QString& path) {
            struct stat st
            {
            };
            return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777)
                                                                          : -1;
        };
#endif
        const auto names = [&] {
            return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        };
#ifdef Q_OS_WIN
        // Windows has no permission bits, umask or symbolic links of this kind: the file's
        // replacement and what is left around it are checked.
        replaceFile(folder + u"new.txt"_s, "new");
        QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("new"));
        replaceFile(folder + u"new.txt"_s, "again");
        QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("again"));
#else
        const mode_t mask = ::umask(022);
        const auto restoreMask = qScopeGuard([mask] { ::umask(mask); });

        replaceFile(folder + u"new.txt"_s, "new");
        QCOMPARE(modeOf(folder + u"new.txt"_s), 0644);
        QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("new"));

        // Permissions the operator chose stay, whatever the umask.
        QVERIFY(::chmod(QFile::encodeName(folder + u"new.txt"_s).constData(), 0640) == 0);
        replaceFile(folder + u"new.txt"_s, "again");
        QCOMPARE(modeOf(folder + u"new.txt"_s), 0640);
        QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("again"));

        // A link (to a link) stays a link; the file at its end takes the content.
        QVERIFY(QDir().mkdir(folder + u"real"_s));
        writeAll(folder + u"real/vigilor.ini"_s, "old");
        QVERIFY(QFile::link(u"real/vigilor.ini"_s, folder + u"inner"_s));
        QVERIFY(QFile::link(folder + u"inner"_s, folder + u"vigilor.ini"_s));
        replaceFile(folder + u"vigilor.ini"_s, "through the links");
        QVERIFY(QFileInfo(folder + u"vigilor.ini"_s).isSymLink());
        QVERIFY(QFileInfo(folder + u"inner"_s).isSymLink());
        QCOMPARE(readAll(folder + u"real/vigilor.ini"_s), QByteArray("through the links"));
        // A link whose file is missing brings the file about.
        QVERIFY(QFile::link(u"real/bans.txt"_s, folder + u"bans.txt"_s));
        replaceFile(folder + u"bans.txt"_s, "made");
        QCOMPARE(readAll(folder + u"real/bans.txt"_s), QByteArray("made"));
#endif

        // Written but not committed: the old content, no temporary file.
        const QStringList before = names();
        {
            Replacement file(folder + u"new.txt"_s);
            QVERIFY(file.open());
            QVERIFY(file.write("never seen"));
            QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("again"));
        }
        QCOMPARE(names(), before);
        QCOMPARE(readAll(folder + u"new.txt"_s), QByteArray("again"));

        // A folder in the file's place is no file to replace.
        QVERIFY(QDir().mkdir(folder + u"Messages.txt"_s));
        Replacement blocked(folder + u"Messages.txt"_s);
        QVERIFY(!blocked.open());
        QVERIFY(!blocked.renameFailed());
        QVERIFY(!blocked.errorString().isEmpty());
        QCOMPARE(names(), before);
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

    // ---- autostart ----------------------------------------------------------------------------

    void autostartEntryQuotesThePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << u"/opt/vigilor/vigilor"_s << u"/opt/vigilor/vigilor"_s;
        QTest::newRow("blanks") << u"/opt/my games/vigilor"_s << u"\"/opt/my games/vigilor\""_s;
        QTest::newRow("reserved characters")
            << u"/opt/a b/vig\"il$or%`\\x"_s
            << u"\"/opt/a b/vig\\\\\"il\\\\$or%%\\\\`\\\\\\\\x\""_s;
        QTest::newRow("percent only") << u"/opt/100%/v"_s << u"/opt/100%%/v"_s;
        QTest::newRow("300 characters")
            << u"/"_s + QString(299, u'p') << u"/"_s + QString(254, u'p');
    }
    void autostartEntryQuotesThePath()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the autostart entries in the registry's Run key, not in freedesktop "
              "files (test_windows covers it)");
#else
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QCOMPARE(autostartEntry(path),
                 u"[Desktop Entry]\nType=Application\nName=vigilor\nExec="_s + exec + u"\n"_s);
#endif
    }

    void autostartIsWrittenRewrittenAndRemoved()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the autostart entries in the registry's Run key, not in freedesktop "
              "files (test_windows covers it)");
#else
        const QString entry = m_config.path() + u"/autostart/vigilor.desktop"_s;
        QCOMPARE(autostartEntryPath(), entry);
        QFile::remove(entry);
        applyAutostart(false, u"/x"_s); // nothing to remove
        QVERIFY(!QFile::exists(entry));

        Folder f;
        QString programPath = u"/opt/vigilor/vigilor"_s;
        SettingsStore::Hooks h = f.hooks();
        h.autostart = [&](bool on, const QString&) { applyAutostart(on, programPath); };
        f.store->setHooks(h);

        // A click on the switch writes the entry, another removes it.
        f.settings.setFlag(Key::AutoStart, true);
        QVERIFY(readAll(entry).contains("\nExec=/opt/vigilor/vigilor\n"));
        f.settings.setFlag(Key::AutoStart, false);
        QVERIFY(!QFile::exists(entry));

        // Every load while the switch is on writes the current path, even over a changed entry.
        f.write(u"vigilor.ini"_s, "[System]\r\nAutoStart=1\r\n");
        f.store->load();
        QVERIFY(readAll(entry).contains("\nExec=/opt/vigilor/vigilor\n"));
        programPath = u"/moved/"_s + QString(300, u'v');
        f.store->load();
        QVERIFY(readAll(entry).contains(
            QByteArray("\nExec=/moved/" + QByteArray(255 - 7, 'v') + "\n")));
        f.write(u"vigilor.ini"_s, "[System]\r\nAutoStart=0\r\n");
        f.store->load();
        QVERIFY(!QFile::exists(entry));
#endif
    }

    // Each data folder has its own entry, which passes the folder on; the program's own folder
    // keeps the plain entry.
    void autostartEntryPerDataFolder()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the autostart entries in the registry's Run key, not in freedesktop "
              "files (test_windows covers it)");
#else
        const QString program = u"/opt/my games/vigilor"_s;
        const QString first = u"/srv/cod 2/szerver 1"_s;
        const QString second = u"/srv/uo"_s;
        QCOMPARE(autostartEntry(program, first + u"/"_s),
                 u"[Desktop Entry]\nType=Application\nName=vigilor (/srv/cod 2/szerver 1)\n"
                 "Exec=\"/opt/my games/vigilor\" --data-dir \"/srv/cod 2/szerver 1\"\n"_s);
        QCOMPARE(autostartEntry(u"/opt/vigilor"_s, u"/srv/100%/a$b"_s),
                 u"[Desktop Entry]\nType=Application\nName=vigilor (/srv/100%/a$b)\n"
                 "Exec=/opt/vigilor --data-dir \"/srv/100%%/a\\\\$b\"\n"_s);

        // Named after the folder, the same at every run, different for another folder even of
        // the same name.
        const QString entryFirst = autostartEntryPath(first);
        QCOMPARE(autostartEntryPath(first + u"/"_s), entryFirst);
        QCOMPARE(autostartEntryPath(u"/srv/cod 2/../cod 2/szerver 1"_s), entryFirst);
        QVERIFY2(QFileInfo(entryFirst).fileName().startsWith(u"vigilor-szerver_1-"_s),
                 qPrintable(entryFirst));
        QVERIFY(entryFirst.endsWith(u".desktop"_s));
        QCOMPARE(QFileInfo(entryFirst).path(), m_config.path() + u"/autostart"_s);
        QVERIFY(autostartEntryPath(u"/other/szerver 1"_s) != entryFirst);
        QCOMPARE(autostartEntryPath(), m_config.path() + u"/autostart/vigilor.desktop"_s);

        // Side by side: switching one off leaves the other and the program folder's entry.
        applyAutostart(true, program);
        applyAutostart(true, program, first);
        applyAutostart(true, program, second);
        QVERIFY(readAll(entryFirst)
                    .contains(
                        "\nExec=\"/opt/my games/vigilor\" --data-dir \"/srv/cod 2/szerver 1\"\n"));
        QVERIFY(readAll(autostartEntryPath(second))
                    .contains("\nExec=\"/opt/my games/vigilor\" --data-dir /srv/uo\n"));
        applyAutostart(false, program, first);
        QVERIFY(!QFile::exists(entryFirst));
        QVERIFY(QFile::exists(autostartEntryPath(second)));
        QVERIFY(readAll(autostartEntryPath()).contains("\nExec=\"/opt/my games/vigilor\"\n"));
        applyAutostart(false, program, second);
        applyAutostart(false, program);
        QCOMPARE(QDir(m_config.path() + u"/autostart"_s).entryList(QDir::Files), QStringList());

        // The store passes its own folder; a folder that is the program's own gets the plain
        // entry, which starts the program without arguments.
        Folder f;
        SettingsStore::Hooks h = f.hooks();
        h.autostart = &applyAutostartForThisProgram;
        f.store->setHooks(h);
        f.settings.setFlag(Key::AutoStart, true);
        const QByteArray own = readAll(autostartEntryPath(f.dir.path()));
        QVERIFY2(own.contains(QByteArray("--data-dir " + QFile::encodeName(f.dir.path()) + "\n")),
                 own.constData());
        QVERIFY(!QFile::exists(autostartEntryPath()));
        f.settings.setFlag(Key::AutoStart, false);
        QVERIFY(!QFile::exists(autostartEntryPath(f.dir.path())));
        applyAutostartForThisProgram(true, QCoreApplication::applicationDirPath() + u"/"_s);
        QVERIFY(readAll(autostartEntryPath())
                    .endsWith(QByteArray(
                        "\nExec=" + QFile::encodeName(QCoreApplication::applicationFilePath()) +
                        "\n")));
        applyAutostartForThisProgram(false, QCoreApplication::applicationDirPath());
        QVERIFY(!QFile::exists(autostartEntryPath()));
#endif
    }

    void autostartFailureIsReportedAndTheLoadGoesOn()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the autostart entries in the registry's Run key, not in freedesktop "
              "files (test_windows covers it)");
#else
        QTemporaryDir dir;
        writeAll(dir.path() + u"/blocked"_s, "a file where a folder should be");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + u"/blocked"_s));
        Folder f;
        SettingsStore::Hooks h = f.hooks();
        h.autostart = [](bool on, const QString&) { applyAutostart(on, u"/opt/vigilor"_s); };
        f.store->setHooks(h);
        f.write(u"vigilor.ini"_s, "[System]\r\nAutoStart=1\r\nTimeInterval=321\r\n"
                                  "[ServerInfo]\r\nIP=10.0.0.9\r\n");
        f.store->load();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        QCOMPARE(f.calls.size(), 2);
        QVERIFY2(f.calls[0].startsWith(u"error Az automatikus indítás"_s), qPrintable(f.calls[0]));
        QCOMPARE(f.calls[1], u"show"_s);
        QCOMPARE(f.settings.timeInterval(), 321);
        QCOMPARE(f.settings.host(), u"10.0.0.9"_s);
#endif
    }

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

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
