#include "settings/textfile.h"

#include "text/cp1250.h"
#include "text/errors.h"
#include "text/textutil.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace vigilor::settings {

QString decodeStoredText(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString decoded = utf8.decode(bytes);
        if (!utf8.hasError())
            return decoded;
    }
    return text::fromCp1250(bytes);
}

QStringList linesFromBytes(QByteArrayView bytes)
{
    return text::splitLines(decodeStoredText(bytes));
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
    return bytes;
}

std::optional<QByteArray> readFileIfPresent(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Nem olvasható a fájl: ") + path + QStringLiteral(" (") +
                        file.errorString() + u')');
    return file.readAll();
}

void replaceFile(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    const auto fail = [&](const QString& what) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw FileError(QStringLiteral("Nem sikerült menteni a fájlt: ") + path +
                        QStringLiteral(" — ") + what + QStringLiteral(" (") + reason + u')');
    };
    // Unbuffered, so that a short write (a full disk) shows in write()'s result: a buffered
    // QSaveFile drops the error of its final flush and commits the truncated file.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        fail(QStringLiteral("nem hozható létre"));
    if (file.write(content) != content.size())
        fail(QStringLiteral("írási hiba, talán megtelt a lemez"));
    if (!file.commit())
        fail(file.error() == QFileDevice::RenameError
                 ? QStringLiteral("a régi fájl nem cserélhető le")
                 : QStringLiteral("írási hiba, talán megtelt a lemez"));
}

bool FileMemo::unchangedOnDisk(const QString& path) const
{
    if (!m_known)
        return false;
    const QFileInfo info(path);
    return info.isFile() && info.size() == m_size && info.lastModified() == m_modified;
}

bool FileMemo::holds(const QString& path, const QByteArray& content) const
{
    return m_known && m_content.size() == content.size() && m_content == content &&
           unchangedOnDisk(path);
}

void FileMemo::remember(const QString& path, const QByteArray& content)
{
    const QFileInfo info(path);
    m_content = content;
    m_size = info.size();
    m_modified = info.lastModified();
    m_known = info.isFile();
}

} // namespace vigilor::settings
