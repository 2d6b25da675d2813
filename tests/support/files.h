#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace vigilor::test {

// A file's bytes as a test compares them; a file that cannot be read shows as "<unreadable>",
// which no expected content equals.
inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Writes the bytes over the file, as another program would; false when that failed.
inline bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace vigilor::test
