#include "settings/xxcode.h"

#include "text/cp1250.h"
#include "text/errors.h"

namespace vigilor::settings {

namespace {

constexpr char kAlphabet[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
static_assert(sizeof(kAlphabet) == 65);

int valueOf(QChar c)
{
    const char16_t u = c.unicode();
    if (u == u'+')
        return 0;
    if (u == u'-')
        return 1;
    if (u >= u'0' && u <= u'9')
        return 2 + (u - u'0');
    if (u >= u'A' && u <= u'Z')
        return 12 + (u - u'A');
    if (u >= u'a' && u <= u'z')
        return 38 + (u - u'a');
    return -1;
}

} // namespace

QString xxencode(const QString& text)
{
    const QByteArray bytes = text::toCp1250(text);
    if (bytes.size() > kXxMaxBytes)
        throw Error(QStringLiteral("A cím túl hosszú (") + QString::number(bytes.size()) +
                    QStringLiteral(" bájt, legfeljebb ") + QString::number(kXxMaxBytes) +
                    QStringLiteral(" lehet), ezért nem menthető."));
    QString out;
    out.reserve(1 + (bytes.size() + 2) / 3 * 4);
    out += QLatin1Char(kAlphabet[bytes.size()]);
    for (qsizetype i = 0; i < bytes.size(); i += 3) {
        const qsizetype left = std::min<qsizetype>(3, bytes.size() - i);
        unsigned group = 0;
        for (qsizetype j = 0; j < 3; ++j)
            group = (group << 8) | (j < left ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        // One byte fills two characters, two bytes three; the rest of the group is padding.
        for (qsizetype j = 0; j < 4; ++j)
            out += QLatin1Char(j <= left ? kAlphabet[(group >> (18 - 6 * j)) & 63] : '+');
    }
    return out;
}

QString xxdecode(const QString& encoded)
{
    if (encoded.isEmpty())
        return {};
    const int length = valueOf(encoded[0]);
    if (length <= 0)
        return {};
    QByteArray bytes;
    for (qsizetype i = 1; i + 1 < encoded.size() && bytes.size() < length; i += 4) {
        unsigned group = 0;
        int have = 0;
        for (qsizetype j = 0; j < 4; ++j) {
            const int v = i + j < encoded.size() ? valueOf(encoded[i + j]) : -1;
            if (v < 0)
                break;
            group |= unsigned(v) << (18 - 6 * j);
            ++have;
        }
        // Every character after the first completes one more byte.
        for (int j = 0; j < have - 1 && bytes.size() < length; ++j)
            bytes += static_cast<char>((group >> (16 - 8 * j)) & 0xFF);
        if (have < 4)
            break;
    }
    return text::fromCp1250(bytes);
}

} // namespace vigilor::settings
