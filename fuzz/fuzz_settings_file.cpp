// The settings file reader: the input is "vigilor.ini" as a person may have edited or a disk
// damaged it. Loading never fails on a regular file and gives numbers within their ranges; what
// is saved then loads back as the same settings and saves to the same bytes; a file that could
// not be taken as it stands is kept unchanged as "vigilor.ini.bak"; and the INI reader reads
// its own output back as it was. The bans and messages files beside it are empty (the load
// reads them, so the save leaves them be); the import list file is not there.
#include "io/files.h"
#include "settings/inifile.h"
#include "settings/settingsstore.h"
#include "settings/textfile.h"
#include "support/fuzzsupport.h"


#include <array>

using namespace vigilor;
using namespace vigilor::settings;
using namespace vigilor::fuzz;

namespace {

// What a save writes of a text value: one line of code page 1250 (a character it lacks as '?'),
// control characters but the tab as blanks. The password has a form of its own that keeps every
// control character; the public addresses are not set by a save, only written back as read (a
// NUL, which no file may hold, as a blank), and the upload address is kept decoded (a '?' stops
// the decoding as the lacking character did).
QVariant asWritten(const KeyInfo& info, const QVariant& value)
{
    if (info.type != ValueType::Text || info.key == Key::PublicUploadURL)
        return value;
    QString text = asStored(value.toString());
    if (info.key == Key::PWD)
        return text;
    if (info.key == Key::PublicBanURL)
        return text.replace(QChar(0), u' ');
    for (QChar& c : text)
        if (c.unicode() < 0x20 && c != u'\t')
            c = u' ';
    return text;
}

// What the INI reader makes of the writer's output, and the writer of that again.
struct Reread
{
    IniFile second;
    QByteArray again;
};

// The INI reader reads its own output as it was written. A file with letters code page 1250
// lacks loses them on the way ('?'), so for such a file only the second round must hold. The
// second and third rounds depend on the written bytes alone: worked out once for each.
void checkIniRoundTrip(const QByteArray& input)
{
    static Memo<Reread> rereads;
    const IniFile first = IniFile::parse(input);
    const QByteArray written = first.toBytes();
    const Reread* reread = rereads.find(written);
    if (!reread) {
        Reread r{IniFile::parse(written), {}};
        r.again = r.second.toBytes();
        FUZZ_CHECK(IniFile::parse(r.again).toBytes() == r.again,
                   QString::fromLatin1(r.again.toPercentEncoding()));
        reread = &rereads.insert(written, std::move(r));
    }
    if (!decodeStoredText(input).problem.isEmpty())
        return;
    const IniFile& second = reread->second;
    FUZZ_CHECK(reread->again == written, QString::fromLatin1(written.toPercentEncoding()));
    FUZZ_CHECK(second.sections() == first.sections(), first.sections().join(u','));
    for (const QString& section : first.sections()) {
        FUZZ_CHECK(second.keys(section) == first.keys(section), section);
        for (const QString& key : first.keys(section))
            FUZZ_CHECK(second.value(section, key) == first.value(section, key), key);
    }
}

// What a program started with the saved files holds, and the settings file it saves then.
struct Reloaded
{
    std::array<QVariant, kKeyCount> values;
    QStringList importList;
    QByteArray saved;
};

// The folder of every input: the list files a save leaves beside the settings file, emptied
// again; the import list file is written from what the settings file names, so it is not there.
QString folderForInput(const QByteArray& input)
{
    static const QString folder = [] {
        const QString f = freshFolder(QStringLiteral("settings"));
        writeFile(f + SettingsStore::kBansFile, {});
        writeFile(f + SettingsStore::kMessagesFile, {});
        return f;
    }();
    static const QStringList written = [] {
        QStringList paths;
        for (const QString& name : SettingsStore::writtenFiles())
            if (name != SettingsStore::kBansFile && name != SettingsStore::kMessagesFile)
                paths.append(folder + name);
        return paths;
    }();
    for (const QString& path : written)
        removeFile(path);
    writeFile(folder + SettingsStore::kSettingsFile, input);
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = bytesOf(data, size);
    checkIniRoundTrip(input);

    const QString folder = folderForInput(input);
    const QString ini = folder + SettingsStore::kSettingsFile;

    Settings loaded;
    SettingsStore store(loaded, folder);
    quietHooks(store);
    store.load();
    checkRanges(loaded);
    store.save();
    const QByteArray saved = readFile(ini);
    const QString backup = io::backupPath(ini);
    if (fileSize(backup) >= 0)
        FUZZ_CHECK(readFile(backup) == input, QStringLiteral("the backup differs from the file"));
    for (const QString& list : {SettingsStore::kBansFile, SettingsStore::kMessagesFile})
        FUZZ_CHECK(fileSize(folder + list) == 0, list);

    // Loading and saving again depends on the saved files alone: worked out once for each.
    static Memo<Reloaded> reloads;
    const QByteArray files = saved + '\0' + readFile(folder + SettingsStore::kImportFile);
    const Reloaded* reloaded = reloads.find(files);
    if (!reloaded) {
        Settings again;
        SettingsStore store(again, folder);
        quietHooks(store);
        store.load();
        Reloaded r;
        for (int i = 0; i < kKeyCount; ++i)
            r.values[i] = again.value(Key(i));
        r.importList = again.importList();
        store.save();
        r.saved = readFile(ini);
        reloaded = &reloads.insert(files, std::move(r));
    }
    for (int i = 0; i < kKeyCount; ++i) {
        const KeyInfo& info = keyInfo(Key(i));
        FUZZ_CHECK(reloaded->values[i] == asWritten(info, loaded.value(Key(i))),
                   QString::fromUtf16(info.name) + QStringLiteral(": '") +
                       printable(loaded.value(Key(i)).toString()) + QStringLiteral("' / '") +
                       printable(reloaded->values[i].toString()) + u'\'');
    }
    FUZZ_CHECK(reloaded->importList == asStored(loaded.importList()),
               describeLines(loaded.importList()));
    const QByteArray& second = reloaded->saved;
    if (second != saved) {
        const QList<QByteArray> a = saved.split('\n');
        const QList<QByteArray> b = second.split('\n');
        qsizetype i = 0;
        while (i < a.size() && i < b.size() && a[i] == b[i])
            ++i;
        fail(QStringLiteral("a second save changed the file at line ") + QString::number(i + 1) +
             QStringLiteral(": '") + printable(QString::fromLatin1(a.value(i))) +
             QStringLiteral("' / '") + printable(QString::fromLatin1(b.value(i))) + u'\'');
    }
    return 0;
}
