#include "settings/textfile.h"

#include "text/cp1250.h"
#include "text/textutil.h"

#include <QStringDecoder>

#include <algorithm>
#include <utility>

namespace vigilor::settings {

namespace {

// Bytes without a mark are read as UTF-8 only when they plainly are: they decode without error,
// hold at least one multi-byte sequence and give no C1 control character. Code page 1250 text
// passes that test only by accident, since each of its accented letters (0xC0-0xFF) would have
// to be followed directly by one to three of the symbol bytes 0x80-0xBF, and Hungarian words
// put ASCII letters, blanks or line ends after their accented letters.
std::optional<QString> plainUtf8(QByteArrayView bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;
    if (std::any_of(text.cbegin(), text.cend(),
                    [](QChar c) { return c.unicode() >= 0x80 && c.unicode() <= 0x9F; }))
        return std::nullopt;
    return text;
}

// A character that code page 1250 cannot hold, with its code point, for the console.
QString characterName(QStringView text, qsizetype at)
{
    const char32_t code = QStringView(text).sliced(at).toUcs4().value(0);
    return u'"' + QString::fromUcs4(&code, 1) + u'"' + QStringLiteral(" (U+") +
           QString::number(code, 16).toUpper().rightJustified(4, u'0') + u')';
}

} // namespace

StoredText decodeStoredText(QByteArrayView bytes)
{
    StoredText stored;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        const QByteArrayView body = bytes.sliced(2);
        QStringDecoder utf16(bytes[0] == '\xFF' ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                             QStringDecoder::Flag::Stateless);
        stored.text = utf16.decode(body);
        if (utf16.hasError() || body.size() % 2 != 0) {
            stored.broken = true;
            stored.problem = QStringLiteral("hibás UTF-16 kódolás");
            return stored;
        }
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        const QByteArrayView body = bytes.sliced(3);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        stored.text = utf8.decode(body);
        // Some editors put the mark before code page 1250 text: every byte is kept that way.
        if (utf8.hasError())
            stored.text = text::fromCp1250(body);
    } else if (std::optional<QString> utf8 = plainUtf8(bytes)) {
        stored.text = *std::move(utf8);
    } else {
        stored.text = text::fromCp1250(bytes);
    }

    if (stored.text.contains(QChar(0))) {
        stored.broken = true;
        stored.problem = QStringLiteral("NUL bájtokat tartalmaz, nem szöveg");
        return stored;
    }
    for (qsizetype i = 0; i < stored.text.size(); ++i) {
        if (text::cp1250Byte(stored.text[i]) < 0) {
            stored.problem = QStringLiteral("az 1250-es kódlap nem tudja tárolni ezt a betűjét: ") +
                             characterName(stored.text, i);
            break;
        }
    }
    return stored;
}

QByteArray storedBytes(QStringView text)
{
    return storedBytes(text::toCp1250(text));
}

QByteArray storedBytes(const QByteArray& cp1250)
{
    const bool marked = cp1250.startsWith("\xFF\xFE") || cp1250.startsWith("\xFE\xFF") ||
                        cp1250.startsWith("\xEF\xBB\xBF");
    if (!marked && !plainUtf8(cp1250))
        return cp1250;
    return QByteArrayLiteral("\xEF\xBB\xBF") + text::fromCp1250(cp1250).toUtf8();
}

QStringList linesFromBytes(QByteArrayView bytes)
{
    return text::splitLines(decodeStoredText(bytes).text);
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
    return storedBytes(bytes);
}

} // namespace vigilor::settings
