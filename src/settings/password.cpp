#include "settings/password.h"

#include "text/cp1250.h"

namespace vigilor::settings {

namespace {

constexpr char16_t kEscape = u'~';

QByteArray scrambledBytes(QByteArray bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) ^ ((i + 1) % 256));
    return bytes;
}

// Bytes that a text editor, an INI reader and the code page all keep as they are.
bool printable(unsigned char b)
{
    return b >= 0x20 && b != 0x7F && b != 0x81 && b != 0x83 && b != 0x88 && b != 0x90 && b != 0x98;
}

bool blank(unsigned char b)
{
    return b == 0x20 || b == 0xA0;
}

bool plainForm(const QByteArray& s)
{
    if (s.isEmpty())
        return true;
    if (s.front() == kEscape || blank(s.front()) || blank(s.back()))
        return false;
    for (const char c : s)
        if (!printable(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

QString scramblePassword(const QString& text)
{
    return text::fromCp1250(scrambledBytes(text::toCp1250(text)));
}

QString storedPassword(const QString& password)
{
    const QByteArray scrambled = scrambledBytes(text::toCp1250(password));
    if (plainForm(scrambled))
        return text::fromCp1250(scrambled);
    return QChar(kEscape) + QString::fromLatin1(scrambled.toHex().toUpper());
}

QString passwordFromStored(const QString& value)
{
    if (value.startsWith(kEscape) && value.size() >= 3 && value.size() % 2 == 1) {
        const QByteArray hex = value.sliced(1).toLatin1();
        bool valid = true;
        for (const char c : hex)
            valid = valid && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
        if (valid)
            return text::fromCp1250(scrambledBytes(QByteArray::fromHex(hex)));
    }
    return scramblePassword(value);
}

} // namespace vigilor::settings
