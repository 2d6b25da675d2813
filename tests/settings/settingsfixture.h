#pragma once

// What the settings tests share: a program folder with its settings and store, values that differ
// from the defaults, the encodings an editor may save in, and the checks of written files.

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

namespace vigilor::test::settings_fixture {

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

#ifdef Q_OS_WIN
// The file's index on its volume, which a replacement changes as it does a Linux inode.
using FileId = quint64;
inline FileId inode(const QString& path)
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
inline FileId inode(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}
#endif

inline QVariant defaultOf(Key key)
{
    const KeyInfo& info = keyInfo(key);
    return info.type == ValueType::Text ? QVariant(QString()) : QVariant(info.defaultValue);
}

// A value for the key that differs from its default and survives the file.
inline QVariant otherValue(Key key)
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
        h.disconnectIfConnected = [this](std::function<void()> then) {
            calls << u"disconnect"_s + (QFile::exists(path(u"vigilor.ini"_s)) ? u" ini"_s : u""_s);
            then();
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
inline QByteArray encoded(const QString& text, const QString& encoding)
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
inline void verifyClean(const QByteArray& bytes)
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
inline int roundOf(const QString& line, const QString& pattern)
{
    const QRegularExpressionMatch m = QRegularExpression(pattern).match(line);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Every file the save loop writes holds one complete round: all lines of one list, all keys of
// one state, never a mix.
inline void checkLoopFiles(const QString& folder)
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

} // namespace vigilor::test::settings_fixture

using namespace vigilor::test::settings_fixture;
