#include "support/fuzzsupport.h"

#include "settings/settingsstore.h"
#include "text/cp1250.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// AddressSanitizer's defaults for every target (ASAN_OPTIONS still overrides them):
// - frames of returned functions stay watched (detect_stack_use_after_return), but in the
//   smallest fake stack: every exception thrown makes the sanitizer sweep the whole of it, and
//   the readers under test throw for every unreadable number column;
// - two frames of call stack are recorded for each allocation and release, not thirty
//   (malloc_context_size=2): the engine's strings allocate at nearly every step, and walking
//   and storing thirty frames each time took a third of a target's time. Every fault is still
//   found and the report shows where it happened and which function made or freed the block;
//   scripts/fuzz.sh runs a failing input again with whole stacks
//   (ASAN_OPTIONS=malloc_context_size=30). Fewer than two frames would blind the leak check at
//   exit: LeakSanitizer reports no block whose allocation it cannot place.
extern "C" const char* __asan_default_options()
{
    return "max_uar_stack_size_log=16:malloc_context_size=2";
}

namespace vigilor::fuzz {

namespace {

QString g_scratch;

} // namespace

void initialise(int* argc, char*** argv)
{
    static QCoreApplication* app = nullptr;
    if (app)
        return;
    // One folder per process: ctest runs several targets side by side.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                             ? QStringLiteral("/dev/shm")
                             : QDir::tempPath();
    g_scratch = base + QStringLiteral("/vigilor-fuzz-") + QString::number(::getpid()) + u'/';
    QDir().mkpath(g_scratch);
    // Without Qt: its own globals may be gone by then.
    static const std::string scratch = QFile::encodeName(g_scratch).toStdString();
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    });
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(g_scratch + QStringLiteral("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(g_scratch + QStringLiteral("data")));
    // One time zone wherever the targets run, so that an input fails alike on every machine;
    // named, because without TZ the C library looks at /etc/localtime again at every
    // conversion of a local time, and the engine converts several for every console line.
    qputenv("TZ", "Europe/Budapest");
    // The engine's few warnings would drown libFuzzer's own output.
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.warning=false");
    // Never destroyed: libFuzzer ends the process from inside its loop.
    app = new QCoreApplication(*argc, *argv);
}

QString freshFolder(const QString& name)
{
    const QString path = g_scratch + name + u'/';
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

QString asStored(const QString& text)
{
    return text::fromCp1250(text::toCp1250(text));
}

QStringList asStored(const QStringList& lines)
{
    QStringList stored;
    for (const QString& line : lines)
        stored.append(asStored(line));
    return stored;
}

// By plain system calls: Qt's file classes cost more than the engine's work they check.
QByteArray readFile(const QString& path)
{
    QByteArray bytes;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    struct stat st{};
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        bytes.reserve(qsizetype(st.st_size));
    char buffer[16384];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, qsizetype(n));
    ::close(fd);
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0;
    for (qsizetype at = 0; written && at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + at, size_t(bytes.size() - at));
        written = n > 0;
        at += written ? n : 0;
    }
    if (fd >= 0)
        written = ::close(fd) == 0 && written;
    if (!written)
        fail(QStringLiteral("cannot write ") + path);
}

void removeFile(const QString& path)
{
    ::unlink(QFile::encodeName(path).constData());
}

qint64 fileSize(const QString& path)
{
    struct stat st{};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return qint64(st.st_size);
}

void fail(const QString& what)
{
    std::fprintf(stderr, "\n*** property failed: %s\n", what.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

SettingsState stateOf(const Settings& settings)
{
    SettingsState state;
    for (int i = 0; i < kKeyCount; ++i)
        state.values[i] = settings.value(Key(i));
    state.banList = settings.banList();
    state.messages = settings.messages();
    state.importList = settings.importList();
    state.importSelection = settings.importSelection();
    state.uploadAddress = settings.uploadAddress();
    state.importInterval = settings.importInterval();
    return state;
}

QString printable(const QString& text)
{
    QString shown;
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c == u'\\')
            shown +=
                QStringLiteral("\\x") + QString::number(c.unicode(), 16).rightJustified(2, u'0');
        else
            shown += c;
    }
    return shown;
}

QString describeLines(const QStringList& lines)
{
    QStringList quoted;
    for (const QString& line : lines)
        quoted.append(u'"' + printable(line) + u'"');
    return u'[' + quoted.join(QStringLiteral(", ")) + u']';
}

QString difference(const SettingsState& a, const SettingsState& b)
{
    for (int i = 0; i < kKeyCount; ++i) {
        if (a.values[i] != b.values[i])
            return QString::fromUtf16(keyInfo(Key(i)).name) + QStringLiteral(": '") +
                   printable(a.values[i].toString()) + QStringLiteral("' / '") +
                   printable(b.values[i].toString()) + u'\'';
    }
    if (a.banList != b.banList)
        return QStringLiteral("bans ") + describeLines(a.banList) + QStringLiteral(" / ") +
               describeLines(b.banList);
    if (a.messages != b.messages)
        return QStringLiteral("messages ") + describeLines(a.messages) + QStringLiteral(" / ") +
               describeLines(b.messages);
    if (a.importList != b.importList)
        return QStringLiteral("imports ") + describeLines(a.importList) + QStringLiteral(" / ") +
               describeLines(b.importList);
    if (a.importSelection != b.importSelection)
        return QStringLiteral("import selection");
    if (a.uploadAddress != b.uploadAddress)
        return QStringLiteral("upload address");
    if (a.importInterval != b.importInterval)
        return QStringLiteral("import interval");
    return QStringLiteral("none");
}

void checkRanges(const Settings& settings)
{
    for (int i = 0; i < kKeyCount; ++i) {
        const KeyInfo& info = keyInfo(Key(i));
        const QVariant v = settings.value(Key(i));
        if (info.type == ValueType::Text)
            continue;
        const int n = v.toInt();
        if (info.type == ValueType::Boolean)
            FUZZ_CHECK(n == 0 || n == 1, QString::fromUtf16(info.name));
        else
            FUZZ_CHECK(n >= info.minimum && n <= info.maximum,
                       QString::fromUtf16(info.name) + QStringLiteral(" = ") + QString::number(n));
    }
    FUZZ_CHECK(settings.importSelection() >= -1 &&
                   settings.importSelection() < settings.importList().size(),
               QString::number(settings.importSelection()));
}

void quietHooks(settings::SettingsStore& store)
{
    settings::SettingsStore::Hooks hooks;
    hooks.autostart = {};
    store.setHooks(std::move(hooks));
}

} // namespace vigilor::fuzz
