#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace vigilor::web {

// A fresh secret: `bytes` bytes from the system's cryptographic random source, as lower-case hex.
QByteArray randomHex(int bytes);

// Whether two secrets are equal, in a time that does not depend on where they differ.
bool sameSecret(QByteArrayView a, QByteArrayView b);

// The access key file in the data folder: its name, and the key it holds. On the first start
// with the web page on, a key of 256 random bits is written there, readable by the owner only.
struct AccessKey
{
    static inline const QString kFileName = QStringLiteral("web-token");
    // The fewest hex digits a key read from the file may have: 128 bits.
    static constexpr int kMinimumDigits = 32;

    QByteArray key;
    QString path;
    bool created = false;  // written by this call
    bool replaced = false; // the file held no usable key and was written anew

    // Reads the key from folder + kFileName, writing a new one when the file is missing or holds
    // no key of at least 128 bits. A file others may read is made the owner's alone. Throws
    // FileError when the file can be neither read nor written.
    static AccessKey loadOrCreate(const QString& folder);
};

} // namespace vigilor::web
