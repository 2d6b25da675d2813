#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Every file the program reads, replaces or appends to goes through here, on Qt's own classes,
// so that the settings, the lists, the task files, the day's log and the web page's key are
// handled alike on every system.
namespace vigilor::io {

// The whole content of a regular file; no value when there is no such file. Anything else in its
// place (a file that cannot be read, a folder, a pipe) throws FileError naming the file, with
// the system's error code when there was one. A pipe is never opened, so it cannot block.
std::optional<QByteArray> readFileIfPresent(const QString& path);

// The file read from its start to its end in pieces of up to `pieceBytes`, through one buffer,
// each piece handed to `take` as it comes, so that a large file is never held twice. False when
// it cannot be opened or read, with the system's words in `error`.
bool readInPieces(const QString& path, qsizetype pieceBytes,
                  const std::function<void(QByteArrayView piece)>& take, QString* error);

// A file's content replaced at once (QSaveFile): the new content is written beside it under a
// temporary name (the file's name, a dot and six letters), put on the disk and renamed over it,
// so that an interrupted write leaves the previous content whole. A symbolic link in the file's
// place is followed and the file it names replaced; the replacement keeps the old file's
// permissions, and an existing file the program may not write is left alone. Unbuffered, so
// that a write the disk refuses (a full disk) fails at once and the old file stays.
class Replacement final
{
public:
    enum class Access
    {
        Usual,     // a new file gets the usual permissions
        OwnerOnly, // readable and writable by the owner alone, from the first byte on
    };

    explicit Replacement(const QString& path, Access access = Access::Usual);
    // A replacement not committed leaves the file as it was and removes its temporary file.
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    bool open();
    // All of it or false.
    bool write(QByteArrayView bytes);
    bool commit();

    // The open or the write failed (the temporary file), or the final rename did.
    bool renameFailed() const { return m_file.error() == QFileDevice::RenameError; }
    // What the system said of the failure ("No space left on device").
    QString errorString() const { return m_file.errorString(); }
    // The system's error code of the failure, 0 when it gave none.
    int errorCode() const { return m_errorCode; }

private:
    bool fail();

    QSaveFile m_file;
    Access m_access;
    int m_errorCode = 0;
};

// Replaces the file's content at once (Replacement). Throws FileError naming the file.
void replaceFile(const QString& path, QByteArrayView content,
                 Replacement::Access access = Replacement::Access::Usual);

// Bytes appended to the end of an existing file, unbuffered: what write() accepted is in the
// file when it returns.
class Appending final
{
public:
    explicit Appending(const QString& path) : m_file(path) {}

    // False when there is no file to append to, or it cannot be written.
    bool open();
    bool write(QByteArrayView bytes);
    // Closes the file; false when the system reported a failure only then.
    bool close();
    QString errorString() const { return m_file.errorString(); }

private:
    QFile m_file;
};

// The size of the regular file at `path`; -1 for anything else or no file.
qint64 regularFileSize(const QString& path);

// Renames the file `from` to `to`, removing what stood at `to` first (on Windows a rename does
// not replace a file). False with the system's words in `error` when either step fails.
bool moveOver(const QString& from, const QString& to, QString* error);

// Makes the folder (its parents must exist); returns 0, or the system's error code.
int makeFolder(const QString& path);

// A replacement cut short by a sudden end of the program (a kill, a power cut) can leave its new
// content beside the file under a temporary name: the file's name, a dot and six letters or
// digits. Removes such leftovers of the files matching `patterns` (bare names, `*` and `?`
// allowed) in `folder`: only regular files of exactly that form. Returns the removed paths.
QStringList removeLeftovers(const QString& folder, const QStringList& patterns);

// Keeps `content` as path + ".bak" before a file the program could not read as it stands is
// replaced. An existing backup is never overwritten: returns false then, true after writing one.
// Throws FileError when the backup cannot be written.
bool keepBackupOnce(const QString& path, const QByteArray& content);
QString backupPath(const QString& path);

// What this program last read from or wrote to a file, so that a save whose content is the same
// can skip the write. The file's size and time stamps tell whether someone else changed or
// replaced it since: one status call, made at every save.
class FileMemo
{
public:
    // True when the file still is what was last read or written and that was `content`.
    bool holds(const QString& path, const QByteArray& content) const;
    bool unchangedOnDisk(const QString& path) const;
    // The same for the file last read or written.
    bool unchangedOnDisk() const;
    void remember(const QString& path, const QByteArray& content);
    void forget() { m_known = false; }
    const QByteArray& content() const { return m_content; }

    struct Stamp
    {
        qint64 size = -1;
        qint64 modified = 0; // milliseconds since the epoch
        qint64 changed = 0;  // the last change of its metadata (a rename onto it, a chmod)
        qint64 born = 0;     // where the system keeps it (Windows does): a file put in its place
                             // by a rename was born at another time
        bool operator==(const Stamp&) const = default;
    };
    // The file's stamp; none when there is no file.
    static std::optional<Stamp> stampOf(const QString& path);

private:
    // Looked at through its name with one status call: the size asks afresh, the times come
    // from the same answer. QFile's times are kept in UTC, which costs no conversion.
    static std::optional<Stamp> stampOf(const QFile& file);

    // The file last read or written, looked at afresh at every question.
    QFile m_file;
    QString m_path;
    QByteArray m_content;
    Stamp m_stamp;
    bool m_known = false;
};

} // namespace vigilor::io
