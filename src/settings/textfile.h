#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace vigilor::settings {

// Stored text is code page 1250. A file that an editor saved as UTF-8 with a byte-order mark
// is read as UTF-8 instead, so its accented letters survive.
QString decodeStoredText(QByteArrayView bytes);

// List files: one entry per line, CR LF after every line, code page 1250. Reading accepts LF,
// CR and CR LF; a final line end adds no empty entry.
QStringList linesFromBytes(QByteArrayView bytes);
QByteArray linesToBytes(const QStringList& lines);

// The whole content of a regular file; no value when there is no such file. A file that exists
// but cannot be read throws FileError.
std::optional<QByteArray> readFileIfPresent(const QString& path);

// Replaces the file's content at once: a new file is written beside it and renamed over it, so
// an interrupted write leaves the previous content. Throws FileError naming the file.
void replaceFile(const QString& path, const QByteArray& content);

// What this program last read from or wrote to a file, so that a save whose content is the same
// can skip the write. The file's size and time stamp tell whether someone else changed it since.
class FileMemo
{
public:
    // True when the file still is what was last read or written and that was `content`.
    bool holds(const QString& path, const QByteArray& content) const;
    bool unchangedOnDisk(const QString& path) const;
    void remember(const QString& path, const QByteArray& content);
    void forget() { m_known = false; }
    const QByteArray& content() const { return m_content; }

private:
    QByteArray m_content;
    qint64 m_size = -1;
    QDateTime m_modified;
    bool m_known = false;
};

} // namespace vigilor::settings
