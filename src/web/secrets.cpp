#include "web/secrets.h"

#include "text/errors.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vigilor::web {

namespace {

bool hexKey(const QByteArray& text)
{
    if (text.size() < AccessKey::kMinimumDigits)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Writes the key beside the file under a temporary name created for the owner alone, then puts
// it in place, so the key is never readable by others, not even for a moment, and a kill leaves
// the old file or the new one.
void writeKeyFile(const QString& path, const QByteArray& key)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw FileError(QStringLiteral("Nem írható a webes hozzáférési kulcs: ") + path +
                        QStringLiteral(" (") + systemError(errno) + u')');
    const QByteArray content = key + '\n';
    const bool written =
        ::write(fd, content.constData(), size_t(content.size())) == ssize_t(content.size()) &&
        ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written || ::rename(temporary.constData(), target.constData()) != 0) {
        const int failure = written ? errno : error;
        ::unlink(temporary.constData());
        throw FileError(QStringLiteral("Nem írható a webes hozzáférési kulcs: ") + path +
                        QStringLiteral(" (") + systemError(failure) + u')');
    }
}

} // namespace

QByteArray randomHex(int bytes)
{
    QByteArray raw;
    raw.reserve(bytes);
    while (raw.size() < bytes) {
        const quint32 value = QRandomGenerator::system()->generate();
        raw.append(reinterpret_cast<const char*>(&value), qMin<qsizetype>(4, bytes - raw.size()));
    }
    return raw.toHex();
}

bool sameSecret(QByteArrayView a, QByteArrayView b)
{
    // The length of a secret is no secret; the content is compared byte by byte to the end.
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

AccessKey AccessKey::loadOrCreate(const QString& folder)
{
    AccessKey result;
    result.path = folder + kFileName;
    QFile file(result.path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            throw FileError(QStringLiteral("Nem olvasható a webes hozzáférési kulcs: ") +
                            result.path + QStringLiteral(" (") + file.errorString() + u')');
        const QByteArray key = file.read(4096).split('\n').value(0).trimmed();
        file.close();
        if (hexKey(key)) {
            const QFileDevice::Permissions others =
                QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
            if (file.permissions() & others)
                ::chmod(QFile::encodeName(result.path).constData(), 0600);
            result.key = key.toLower();
            return result;
        }
        result.replaced = true;
    }
    result.key = randomHex(32);
    writeKeyFile(result.path, result.key);
    result.created = true;
    return result;
}

} // namespace vigilor::web
