#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace vigilor::settings {

// Stored text as read. The program writes code page 1250, but a file edited by hand may come
// back as UTF-16 (with its byte-order mark, either byte order) or UTF-8 (with or without one).
struct StoredText
{
    QString text;
    // Why writing the text back in code page 1250 would not keep what the file holds (not text,
    // a broken encoding, letters the code page lacks); empty when it would.
    QString problem;
    // The content is not text at all: NUL bytes, or a broken UTF-16 or UTF-8 after its mark.
    bool broken = false;
};
StoredText decodeStoredText(QByteArrayView bytes);

// Text as the program stores it: code page 1250, a character it lacks written as '?'. Those
// bytes are written as they are unless the reader above would take them for another encoding
// (a text whose only non-ASCII letters pair up like UTF-8, "ßŠ" or "Ă©", or one that starts like
// a byte-order mark): such a text is written as UTF-8 with its mark, so that every file the
// program writes reads back as it was written.
QByteArray storedBytes(QStringView text);
QByteArray storedBytes(const QByteArray& cp1250);

// List files: one entry per line, CR LF after every line, code page 1250. Reading accepts LF,
// CR and CR LF and the encodings above; a final line end adds no empty entry.
QStringList linesFromBytes(QByteArrayView bytes);
QByteArray linesToBytes(const QStringList& lines);

// The whole content of a regular file; no value when there is no such file. Anything else in its
// place (a file that cannot be read, a folder, a pipe) throws FileError.
std::optional<QByteArray> readFileIfPresent(const QString& path);

// A file's content replaced at once: the new content is written beside it under a temporary
// name (the file's name, a dot and six letters or digits), put on the disk and renamed over it,
// so that an interrupted write leaves the previous content. A symbolic link in the file's place
// is followed and the file it names replaced; the replacement keeps the old file's permissions,
// and an existing file the program may not write is left alone. Plain system calls: the day's
// log and the settings are saved at every datagram.
class FileReplacement final
{
public:
    enum class Failure { None, Create, Write, Replace };

    explicit FileReplacement(const QString& path);
    // A replacement not committed leaves the file as it was and removes its temporary file.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    bool open();
    // All of it or false (a full disk, a size limit).
    bool write(QByteArrayView bytes);
    bool commit();

    Failure failure() const { return m_failure; }
    // What the system said of the failure ("No space left on device").
    QString errorString() const;

private:
    bool fail(Failure failure, int error);
    void discard();

    QByteArray m_target; // encoded, links followed
    QByteArray m_temporary;
    int m_fd = -1;
    int m_error = 0;
    Failure m_failure = Failure::None;
};

// Writes all of `bytes` to an open file, through short writes and interruptions; returns 0,
// or the system's error number (ENOSPC for a write that took nothing).
int writeWhole(int fd, QByteArrayView bytes);
// The system's words for an error number ("No space left on device").
QString systemError(int error);

// Replaces the file's content at once (FileReplacement). Throws FileError naming the file.
void replaceFile(const QString& path, const QByteArray& content);

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
// can skip the write. The file's identity, size and time stamps tell whether someone else
// changed or replaced it since: one status call, made at every save.
class FileMemo
{
public:
    // True when the file still is what was last read or written and that was `content`.
    bool holds(const QString& path, const QByteArray& content) const;
    bool unchangedOnDisk(const QString& path) const;
    // The same for the file last read or written, whose path is kept encoded.
    bool unchangedOnDisk() const;
    void remember(const QString& path, const QByteArray& content);
    void forget() { m_known = false; }
    const QByteArray& content() const { return m_content; }

    struct Stamp
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modified = 0; // nanoseconds
        qint64 changed = 0;
        bool operator==(const Stamp&) const = default;
    };
    // A regular file's stamp; none for anything else or no file.
    static std::optional<Stamp> stampOf(const QString& path);
    static std::optional<Stamp> stampOf(const QByteArray& encodedPath);

private:
    QString m_path; // and as the system has it
    QByteArray m_encodedPath;
    QByteArray m_content;
    Stamp m_stamp;
    bool m_known = false;
};

} // namespace vigilor::settings
