#include "web/secrets.h"

#include "io/files.h"
#include "text/errors.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>

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
    std::optional<QByteArray> content;
    try {
        content = io::readFileIfPresent(result.path);
    } catch (const FileError& e) {
        throw FileError(QStringLiteral("Nem olvasható a webes hozzáférési kulcs: ") + result.path +
                        QStringLiteral(" (") + e.reason() + u')');
    }
    if (content) {
        const QByteArray key = content->left(4096).split('\n').value(0).trimmed();
        if (hexKey(key)) {
            const QFileDevice::Permissions others =
                QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
            if (QFile::permissions(result.path) & others)
                QFile::setPermissions(result.path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            result.key = key.toLower();
            return result;
        }
        result.replaced = true;
    }
    result.key = randomHex(32);
    // Made for the owner alone before the key is written into it, and put in place at once, so
    // that the key is never readable by others and a kill leaves the old file or the new one.
    try {
        io::replaceFile(result.path, QByteArray(result.key + '\n'),
                        io::Replacement::Access::OwnerOnly);
    } catch (const FileError& e) {
        throw FileError(QStringLiteral("Nem írható a webes hozzáférési kulcs: ") + result.path +
                        QStringLiteral(" (") + e.reason() + u')');
    }
    result.created = true;
    return result;
}

} // namespace vigilor::web
