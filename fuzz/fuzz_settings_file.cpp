// The settings file reader: the input is "vigilor.ini" as a person may have edited or a disk
// damaged it. Loading never fails on a regular file and gives numbers within their ranges; what
// is saved then loads back as the same settings and saves to the same bytes; a file that could
// not be taken as it stands is kept unchanged as "vigilor.ini.bak"; and the INI reader reads
// its own output back as it was.
#include "settings/inifile.h"
#include "settings/settingsstore.h"
#include "settings/textfile.h"
#include "support/fuzzsupport.h"

#include <QFileInfo>

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

// The INI reader reads its own output as it was written. A file with letters code page 1250
// lacks loses them on the way ('?'), so for such a file only the second round must hold.
void checkIniRoundTrip(const QByteArray& input)
{
    const IniFile first = IniFile::parse(input);
    const QByteArray written = first.toBytes();
    const IniFile second = IniFile::parse(written);
    const QByteArray again = second.toBytes();
    FUZZ_CHECK(IniFile::parse(again).toBytes() == again,
               QString::fromLatin1(again.toPercentEncoding()));
    if (!decodeStoredText(input).problem.isEmpty())
        return;
    FUZZ_CHECK(again == written, QString::fromLatin1(written.toPercentEncoding()));
    FUZZ_CHECK(second.sections() == first.sections(), first.sections().join(u','));
    for (const QString& section : first.sections()) {
        FUZZ_CHECK(second.keys(section) == first.keys(section), section);
        for (const QString& key : first.keys(section))
            FUZZ_CHECK(second.value(section, key) == first.value(section, key), key);
    }
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

    const QString folder = freshFolder(QStringLiteral("settings"));
    const QString ini = folder + SettingsStore::kSettingsFile;
    writeFile(ini, input);

    Settings loaded;
    SettingsStore store(loaded, folder);
    quietHooks(store);
    store.load();
    checkRanges(loaded);
    store.save();
    const QByteArray saved = readFile(ini);
    const QString backup = backupPath(ini);
    if (QFileInfo::exists(backup))
        FUZZ_CHECK(readFile(backup) == input, QStringLiteral("the backup differs from the file"));

    Settings reloaded;
    SettingsStore again(reloaded, folder);
    quietHooks(again);
    again.load();
    for (int i = 0; i < kKeyCount; ++i) {
        const KeyInfo& info = keyInfo(Key(i));
        FUZZ_CHECK(reloaded.value(Key(i)) == asWritten(info, loaded.value(Key(i))),
                   QString::fromUtf16(info.name) + QStringLiteral(": '") +
                       printable(loaded.value(Key(i)).toString()) + QStringLiteral("' / '") +
                       printable(reloaded.value(Key(i)).toString()) + u'\'');
    }
    FUZZ_CHECK(reloaded.importList() == asStored(loaded.importList()),
               describeLines(loaded.importList()));
    again.save();
    const QByteArray second = readFile(ini);
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
