#include "io/files.h"

#include "platform/system.h"
#include "text/errors.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace vigilor::io {

namespace {

// Writes all of `bytes`, through short writes: a device that takes part of a piece is asked for
// the rest, so that a refusal (a full disk) shows as a failed write with the system's words.
bool writeWhole(QFileDevice& file, QByteArrayView bytes)
{
    const char* data = bytes.data();
    qint64 left = bytes.size();
    while (left > 0) {
        const qint64 written = file.write(data, left);
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

qint64 msecs(const QDateTime& time)
{
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

} // namespace

std::optional<QByteArray> readFileIfPresent(const QString& path)
{
    const auto fail = [&](const QString& reason, int code) {
        throw FileError(QStringLiteral("Nem olvasható a fájl: ") + path + QStringLiteral(" (") +
                            reason + u')',
                        code, reason);
    };
    // Looked at before it is opened: a folder or a pipe in a file's place is no file to read,
    // and opening a pipe would wait for a writer.
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    if (info.isDir())
        fail(QStringLiteral("mappa van a helyén"), 0);
    if (!info.isFile())
        fail(QStringLiteral("nem közönséges fájl"), 0);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        const int code = platform::lastErrorCode();
        if (!QFileInfo::exists(path))
            return std::nullopt; // removed meanwhile
        fail(file.errorString(), code);
    }
    // Read whole, as large as the status said plus one byte to notice a file that grew
    // meanwhile; one that did is read on to its end.
    QByteArray bytes(qsizetype(info.size()) + 1, Qt::Uninitialized);
    qsizetype size = 0;
    for (;;) {
        const qint64 got = file.read(bytes.data() + size, bytes.size() - size);
        if (got < 0)
            fail(file.errorString(), platform::lastErrorCode());
        size += qsizetype(got);
        if (got == 0 || size < bytes.size())
            break;
        bytes.resize(bytes.size() * 2);
    }
    bytes.resize(size);
    return bytes;
}

bool readInPieces(const QString& path, qsizetype pieceBytes,
                  const std::function<void(QByteArrayView piece)>& take, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    QByteArray buffer(pieceBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got < 0) {
            *error = file.errorString();
            return false;
        }
        if (got == 0)
            return true;
        take(QByteArrayView(buffer.constData(), qsizetype(got)));
    }
}

// ---- replacing ------------------------------------------------------------------------------

Replacement::Replacement(const QString& path, Access access) : m_file(path), m_access(access) {}

Replacement::~Replacement()
{
    // QSaveFile removes the temporary file of a replacement that was not committed.
    if (m_file.isOpen())
        m_file.cancelWriting();
}

bool Replacement::fail()
{
    m_errorCode = platform::lastErrorCode();
    return false;
}

bool Replacement::open()
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail();
    // Before a byte is written: the key file is never readable by others, not for a moment.
    if (m_access == Access::OwnerOnly &&
        !m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        fail();
        m_file.cancelWriting();
        return false;
    }
    return true;
}

bool Replacement::write(QByteArrayView bytes)
{
    return writeWhole(m_file, bytes) || fail();
}

bool Replacement::commit()
{
    return m_file.commit() || fail();
}

void replaceFile(const QString& path, QByteArrayView content, Replacement::Access access)
{
    Replacement file(path, access);
    const auto fail = [&](const QString& what) {
        const QString reason = file.errorString();
        throw FileError(QStringLiteral("Nem sikerült menteni a fájlt: ") + path +
                            QStringLiteral(" — ") + what + QStringLiteral(" (") + reason + u')',
                        file.errorCode(), reason);
    };
    if (!file.open())
        fail(QStringLiteral("nem hozható létre"));
    if (!file.write(content))
        fail(QStringLiteral("írási hiba, talán megtelt a lemez"));
    if (!file.commit())
        fail(file.renameFailed() ? QStringLiteral("a régi fájl nem cserélhető le")
                                 : QStringLiteral("írási hiba, talán megtelt a lemez"));
}

// ---- appending ------------------------------------------------------------------------------

bool Appending::open()
{
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly |
                       QIODevice::Unbuffered);
}

bool Appending::write(QByteArrayView bytes)
{
    return writeWhole(m_file, bytes);
}

bool Appending::close()
{
    m_file.close();
    return m_file.error() == QFileDevice::NoError;
}

// ---- looking at files -----------------------------------------------------------------------

qint64 regularFileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() ? info.size() : -1;
}

bool moveOver(const QString& from, const QString& to, QString* error)
{
    QFile target(to);
    if (target.exists() && !target.remove()) {
        if (error)
            *error = target.errorString();
        return false;
    }
    QFile source(from);
    if (source.rename(to))
        return true;
    if (error)
        *error = source.errorString();
    return false;
}

int makeFolder(const QString& path)
{
    if (QDir().mkdir(path))
        return 0;
    const int code = platform::lastErrorCode();
    return code != 0 ? code : -1;
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
    for (const QFileInfo& info : dir.entryInfoList(
             filters, QDir::Files | QDir::Hidden | QDir::System | QDir::CaseSensitive)) {
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
    const QFileInfo existing(backup);
    if (existing.exists() || existing.isSymLink())
        return false;
    replaceFile(backup, content);
    return true;
}

// ---- what was last written ------------------------------------------------------------------

std::optional<FileMemo::Stamp> FileMemo::stampOf(const QFile& file)
{
    const qint64 size = file.size();
    const QDateTime modified = file.fileTime(QFileDevice::FileModificationTime);
    if (!modified.isValid())
        return std::nullopt;
    return Stamp{size, modified.toMSecsSinceEpoch(),
                 msecs(file.fileTime(QFileDevice::FileMetadataChangeTime)),
                 msecs(file.fileTime(QFileDevice::FileBirthTime))};
}

std::optional<FileMemo::Stamp> FileMemo::stampOf(const QString& path)
{
    return stampOf(QFile(path));
}

bool FileMemo::unchangedOnDisk(const QString& path) const
{
    if (!m_known)
        return false;
    return path == m_path ? unchangedOnDisk() : stampOf(path) == m_stamp;
}

bool FileMemo::unchangedOnDisk() const
{
    return m_known && stampOf(m_file) == m_stamp;
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
        m_file.setFileName(path);
    }
    const std::optional<Stamp> stamp = stampOf(m_file);
    m_stamp = stamp.value_or(Stamp());
    m_known = stamp.has_value();
}

} // namespace vigilor::io
