#include "settings/textfile.h"

#include "text/cp1250.h"
#include "text/errors.h"
#include "text/textutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vigilor::settings {

namespace {

// Bytes without a mark are read as UTF-8 only when they plainly are: they decode without error,
// hold at least one multi-byte sequence and give no C1 control character. Code page 1250 text
// passes that test only by accident, since each of its accented letters (0xC0-0xFF) would have
// to be followed directly by one to three of the symbol bytes 0x80-0xBF, and Hungarian words
// put ASCII letters, blanks or line ends after their accented letters.
std::optional<QString> plainUtf8(QByteArrayView bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;
    if (std::any_of(text.cbegin(), text.cend(),
                    [](QChar c) { return c.unicode() >= 0x80 && c.unicode() <= 0x9F; }))
        return std::nullopt;
    return text;
}

// A character that code page 1250 cannot hold, with its code point, for the console.
QString characterName(QStringView text, qsizetype at)
{
    const char32_t code = QStringView(text).sliced(at).toUcs4().value(0);
    return u'"' + QString::fromUcs4(&code, 1) + u'"' + QStringLiteral(" (U+") +
           QString::number(code, 16).toUpper().rightJustified(4, u'0') + u')';
}

} // namespace

StoredText decodeStoredText(QByteArrayView bytes)
{
    StoredText stored;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        const QByteArrayView body = bytes.sliced(2);
        QStringDecoder utf16(bytes[0] == '\xFF' ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                             QStringDecoder::Flag::Stateless);
        stored.text = utf16.decode(body);
        if (utf16.hasError() || body.size() % 2 != 0) {
            stored.broken = true;
            stored.problem = QStringLiteral("hibás UTF-16 kódolás");
            return stored;
        }
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        const QByteArrayView body = bytes.sliced(3);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        stored.text = utf8.decode(body);
        // Some editors put the mark before code page 1250 text: every byte is kept that way.
        if (utf8.hasError())
            stored.text = text::fromCp1250(body);
    } else if (std::optional<QString> utf8 = plainUtf8(bytes)) {
        stored.text = *std::move(utf8);
    } else {
        stored.text = text::fromCp1250(bytes);
    }

    if (stored.text.contains(QChar(0))) {
        stored.broken = true;
        stored.problem = QStringLiteral("NUL bájtokat tartalmaz, nem szöveg");
        return stored;
    }
    for (qsizetype i = 0; i < stored.text.size(); ++i) {
        if (text::cp1250Byte(stored.text[i]) < 0) {
            stored.problem = QStringLiteral("az 1250-es kódlap nem tudja tárolni ezt a betűjét: ") +
                             characterName(stored.text, i);
            break;
        }
    }
    return stored;
}

QByteArray storedBytes(QStringView text)
{
    return storedBytes(text::toCp1250(text));
}

QByteArray storedBytes(const QByteArray& cp1250)
{
    const bool marked = cp1250.startsWith("\xFF\xFE") || cp1250.startsWith("\xFE\xFF") ||
                        cp1250.startsWith("\xEF\xBB\xBF");
    if (!marked && !plainUtf8(cp1250))
        return cp1250;
    return QByteArrayLiteral("\xEF\xBB\xBF") + text::fromCp1250(cp1250).toUtf8();
}

QStringList linesFromBytes(QByteArrayView bytes)
{
    return text::splitLines(decodeStoredText(bytes).text);
}

QByteArray linesToBytes(const QStringList& lines)
{
    qsizetype size = 0;
    for (const QString& line : lines)
        size += line.size() + 2;
    QByteArray bytes;
    bytes.reserve(size);
    for (const QString& line : lines) {
        bytes += text::toCp1250(line);
        bytes += "\r\n";
    }
    return storedBytes(bytes);
}

std::optional<QByteArray> readFileIfPresent(const QString& path)
{
    // Plain system calls: every save and load of the settings comes here for each file.
    const auto fail = [&](const QString& reason) {
        throw FileError(QStringLiteral("Nem olvasható a fájl: ") + path + QStringLiteral(" (") +
                        reason + u')');
    };
    // Opened without waiting, so that a pipe in the file's place cannot block the window; what
    // was opened is then looked at before a byte is read.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        // A socket in the file's place cannot even be opened.
        fail(errno == ENXIO ? QStringLiteral("nem közönséges fájl") : systemError(errno));
    }
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat st{};
    if (::fstat(fd, &st) != 0)
        fail(systemError(errno));
    // A folder or a pipe in a file's place is no file to read.
    if (S_ISDIR(st.st_mode))
        fail(QStringLiteral("mappa van a helyén"));
    if (!S_ISREG(st.st_mode))
        fail(QStringLiteral("nem közönséges fájl"));
    // Read whole at once, as large as the status call said, plus one byte to notice a file
    // that grew meanwhile; one that did is read on to its end.
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype size = 0;
    for (;;) {
        const ssize_t got = ::read(fd, bytes.data() + size, size_t(bytes.size() - size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail(systemError(errno));
        size += got;
        if (got == 0 || size < bytes.size())
            break;
        bytes.resize(bytes.size() * 2);
    }
    bytes.resize(size);
    return bytes;
}

namespace {

// Where a file name leads: the last file named by a chain of symbolic links, so that a link to
// the settings file elsewhere keeps being a link and the file it names is replaced. A chain
// that goes round, or no link at all, leaves the name as it is.
QByteArray followLinks(const QByteArray& path)
{
    QByteArray current = path;
    for (int depth = 0; depth < 40; ++depth) {
        char target[4096];
        const ssize_t length = ::readlink(current.constData(), target, sizeof target);
        if (length < 0)
            return current; // no link (or no file): the end of the chain
        if (length >= ssize_t(sizeof target))
            return path;
        QByteArray next(target, qsizetype(length));
        if (!next.startsWith('/')) {
            const qsizetype slash = current.lastIndexOf('/');
            next.prepend(slash >= 0 ? current.first(slash + 1) : QByteArray());
        }
        current = next;
    }
    return path;
}

} // namespace

FileReplacement::FileReplacement(const QString& path)
    : m_target(followLinks(QFile::encodeName(path)))
{
}

FileReplacement::~FileReplacement()
{
    discard();
}

void FileReplacement::discard()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    if (!m_temporary.isEmpty())
        ::unlink(std::exchange(m_temporary, {}).constData());
}

bool FileReplacement::fail(Failure failure, int error)
{
    discard();
    m_failure = failure;
    m_error = error;
    return false;
}

bool FileReplacement::open()
{
    discard();
    m_failure = Failure::None;
    struct stat existing{};
    const bool exists = ::stat(m_target.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return fail(Failure::Create, EISDIR);
    if (exists && ::access(m_target.constData(), W_OK) != 0)
        return fail(Failure::Create, errno);
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = m_target + '.';
        quint64 bits = QRandomGenerator::global()->generate64();
        for (int i = 0; i < 6; ++i, bits /= 62)
            name += kLetters[bits % 62];
        // A new file gets the usual permissions (0666 less the umask); a replacement is made
        // for the owner alone and then given the old file's.
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              exists ? 0600 : 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return fail(Failure::Create, errno);
        }
        m_fd = fd;
        m_temporary = name;
        const mode_t mode = existing.st_mode & 07777;
        if (exists && mode != 0600 && ::fchmod(fd, mode) != 0)
            return fail(Failure::Create, errno);
        return true;
    }
    return fail(Failure::Create, EEXIST);
}

int writeWhole(int fd, QByteArrayView bytes)
{
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : ENOSPC;
        data += written;
        left -= written;
    }
    return 0;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool FileReplacement::write(QByteArrayView bytes)
{
    if (m_fd < 0)
        return false;
    const int error = writeWhole(m_fd, bytes);
    return error == 0 || fail(Failure::Write, error);
}

bool FileReplacement::commit()
{
    if (m_fd < 0)
        return false;
    // On the disk before it takes the old file's place, so that a power cut leaves one of them
    // whole; an error the disk reports only at closing counts too.
    if (::fdatasync(m_fd) != 0)
        return fail(Failure::Write, errno);
    if (::close(std::exchange(m_fd, -1)) != 0)
        return fail(Failure::Write, errno);
    if (::rename(m_temporary.constData(), m_target.constData()) != 0)
        return fail(Failure::Replace, errno);
    m_temporary.clear();
    return true;
}

QString FileReplacement::errorString() const
{
    return m_error == 0 ? QString() : systemError(m_error);
}

void replaceFile(const QString& path, const QByteArray& content)
{
    FileReplacement file(path);
    const auto fail = [&](const QString& what) {
        throw FileError(QStringLiteral("Nem sikerült menteni a fájlt: ") + path +
                        QStringLiteral(" — ") + what + QStringLiteral(" (") +
                        file.errorString() + u')');
    };
    if (!file.open())
        fail(QStringLiteral("nem hozható létre"));
    if (!file.write(content))
        fail(QStringLiteral("írási hiba, talán megtelt a lemez"));
    if (!file.commit())
        fail(file.failure() == FileReplacement::Failure::Replace
                 ? QStringLiteral("a régi fájl nem cserélhető le")
                 : QStringLiteral("írási hiba, talán megtelt a lemez"));
}

QStringList removeLeftovers(const QString& folder, const QStringList& patterns)
{
    const auto temporarySuffix = [](QStringView name) {
        if (name.size() < 8 || name[name.size() - 7] != u'.')
            return false;
        return std::all_of(name.end() - 6, name.end(), [](QChar c) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
        });
    };
    QStringList filters;
    for (const QString& pattern : patterns)
        filters.append(pattern + QStringLiteral(".??????"));
    QStringList removed;
    const QDir dir(folder);
    for (const QFileInfo& info : dir.entryInfoList(filters, QDir::Files | QDir::Hidden | QDir::System |
                                                           QDir::CaseSensitive)) {
        if (info.isSymLink() || !info.isFile() || !temporarySuffix(info.fileName()))
            continue;
        if (QFile::remove(info.filePath()))
            removed.append(info.filePath());
    }
    return removed;
}

QString backupPath(const QString& path)
{
    return path + QStringLiteral(".bak");
}

bool keepBackupOnce(const QString& path, const QByteArray& content)
{
    const QString backup = backupPath(path);
    // Anything under the backup's name, a link to nowhere too, is kept.
    struct stat st{};
    if (::lstat(QFile::encodeName(backup).constData(), &st) == 0)
        return false;
    replaceFile(backup, content);
    return true;
}

std::optional<FileMemo::Stamp> FileMemo::stampOf(const QString& path)
{
    return stampOf(QFile::encodeName(path));
}

std::optional<FileMemo::Stamp> FileMemo::stampOf(const QByteArray& encodedPath)
{
    struct stat st{};
    if (::stat(encodedPath.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const auto nanoseconds = [](const timespec& t) {
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    return Stamp{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                 nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

bool FileMemo::unchangedOnDisk(const QString& path) const
{
    if (!m_known)
        return false;
    return (path == m_path ? stampOf(m_encodedPath) : stampOf(path)) == m_stamp;
}

bool FileMemo::unchangedOnDisk() const
{
    return m_known && stampOf(m_encodedPath) == m_stamp;
}

bool FileMemo::holds(const QString& path, const QByteArray& content) const
{
    return m_known && m_content.size() == content.size() && m_content == content &&
           unchangedOnDisk(path);
}

void FileMemo::remember(const QString& path, const QByteArray& content)
{
    m_content = content;
    if (path != m_path) {
        m_path = path;
        m_encodedPath = QFile::encodeName(path);
    }
    const std::optional<Stamp> stamp = stampOf(m_encodedPath);
    m_stamp = stamp.value_or(Stamp());
    m_known = stamp.has_value();
}

} // namespace vigilor::settings
