// The list file reader: the input is "bans.txt" and "Messages.txt" as an editor or a damaged
// disk left them. Loading never fails on a regular file; the lines saved then read back as the
// same lines; a file that could not be taken as it stands is kept unchanged as "NAME.bak"; and
// the ban entry helpers keep their promises on every line. The settings file is not there.
#include "io/files.h"
#include "rules/banentry.h"
#include "settings/settingsstore.h"
#include "support/fuzzsupport.h"
#include "text/cp1250.h"


using namespace vigilor;
using namespace vigilor::settings;
using namespace vigilor::fuzz;

namespace {

int sign(int n)
{
    return (n > 0) - (n < 0);
}

void checkEntries(const QStringList& lines)
{
    for (const QString& line : lines) {
        const int grade = rules::entryGrade(line);
        FUZZ_CHECK(grade >= -1 && grade < rules::kGradeCount, line);
        const int code = rules::punishmentCode(line);
        FUZZ_CHECK(code == (grade < 0 ? 0 : grade), line);
        const QString text = rules::entryText(line);
        FUZZ_CHECK(line.size() > 3 || text.isEmpty(), line);
        FUZZ_CHECK(line.endsWith(text), line);
        for (int g = 0; g < rules::kGradeCount; ++g) {
            const QString regraded = rules::regraded(line, g);
            FUZZ_CHECK(rules::entryGrade(regraded) == g, regraded);
            FUZZ_CHECK(regraded.endsWith(line.mid(2)), regraded);
        }
    }
    for (qsizetype i = 0; i + 1 < lines.size() && i < 64; ++i)
        FUZZ_CHECK(sign(rules::compareEntries(lines[i], lines[i + 1])) ==
                       -sign(rules::compareEntries(lines[i + 1], lines[i])),
                   lines[i] + QStringLiteral(" / ") + lines[i + 1]);
    const QStringList sorted = rules::sortedEntries(lines);
    FUZZ_CHECK(sorted.size() == lines.size(), QString::number(sorted.size()));
    for (qsizetype i = 0; i + 1 < sorted.size(); ++i)
        FUZZ_CHECK(rules::compareEntries(sorted[i], sorted[i + 1]) <= 0,
                   sorted[i] + QStringLiteral(" / ") + sorted[i + 1]);
}

// The folder of every input, emptied but for an empty import list file: the load reads it, so
// the save leaves it be.
QString folderForInput()
{
    static const QString folder = freshFolder(QStringLiteral("lists"));
    static const QStringList written = [] {
        QStringList paths;
        for (const QString& name : SettingsStore::writtenFiles())
            paths.append(folder + name);
        return paths;
    }();
    for (const QString& path : written)
        removeFile(path);
    writeFile(folder + SettingsStore::kImportFile, {});
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
    const StoredText stored = decodeStoredText(input);
    FUZZ_CHECK(!stored.broken || !stored.problem.isEmpty(), QStringLiteral("broken, no problem"));
    const QStringList lines = linesFromBytes(input);
    for (const QString& line : lines)
        FUZZ_CHECK(!line.contains(u'\n') && !line.contains(u'\r'), line);
    if (stored.problem.isEmpty())
        FUZZ_CHECK(linesFromBytes(linesToBytes(lines)) == lines, describeLines(lines));
    checkEntries(lines);

    const QString folder = folderForInput();
    const QString bans = folder + SettingsStore::kBansFile;
    const QString messages = folder + SettingsStore::kMessagesFile;
    writeFile(bans, input);
    writeFile(messages, input);

    Settings loaded;
    SettingsStore store(loaded, folder);
    quietHooks(store);
    store.load();
    if (!stored.broken) {
        FUZZ_CHECK(loaded.banList() == lines, describeLines(loaded.banList()));
        FUZZ_CHECK(loaded.messages() == lines, describeLines(loaded.messages()));
    }
    store.save();
    for (const QString& path : {bans, messages}) {
        if (fileSize(io::backupPath(path)) >= 0)
            FUZZ_CHECK(readFile(io::backupPath(path)) == input, path);
        else
            FUZZ_CHECK(stored.problem.isEmpty() || input.isEmpty(), path + u' ' + stored.problem);
    }

    // The settings file the save wrote holds nothing of the lists: read back without it.
    removeFile(folder + SettingsStore::kSettingsFile);
    Settings reloaded;
    SettingsStore again(reloaded, folder);
    quietHooks(again);
    again.load();
    // A character code page 1250 lacks was written as '?'; the backup kept the original.
    FUZZ_CHECK(reloaded.banList() == asStored(loaded.banList()), describeLines(reloaded.banList()));
    FUZZ_CHECK(reloaded.messages() == asStored(loaded.messages()),
               describeLines(reloaded.messages()));
    return 0;
}
