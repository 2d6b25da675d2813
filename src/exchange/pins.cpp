#include "exchange/pins.h"

#include "exchange/address.h"

#include <QCryptographicHash>
#include <QStringList>

namespace vigilor::exchange {

namespace {

// One DER element: where its content starts and how long it is.
struct Element
{
    unsigned char tag = 0;
    qsizetype start = 0;  // of the whole element
    qsizetype header = 0; // tag and length bytes
    qsizetype length = 0; // of the content
    qsizetype end() const { return start + header + length; }
};

std::optional<Element> elementAt(QByteArrayView der, qsizetype at, qsizetype limit)
{
    if (at + 2 > limit)
        return std::nullopt;
    Element e;
    e.tag = static_cast<unsigned char>(der[at]);
    e.start = at;
    const auto first = static_cast<unsigned char>(der[at + 1]);
    if (first < 0x80) {
        e.header = 2;
        e.length = first;
    } else {
        // Long form: up to four length bytes, as any certificate needs.
        const int count = first & 0x7f;
        if (count == 0 || count > 4 || at + 2 + count > limit)
            return std::nullopt;
        qsizetype length = 0;
        for (int i = 0; i < count; ++i)
            length = (length << 8) | static_cast<unsigned char>(der[at + 2 + i]);
        e.header = 2 + count;
        e.length = length;
    }
    if (e.length < 0 || e.end() > limit)
        return std::nullopt;
    return e;
}

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kVersionTag = 0xa0; // [0] EXPLICIT

} // namespace

ServerPins readServerPins(const QString& text)
{
    ServerPins pins;
    for (const QString& entry : text.split(u';', Qt::SkipEmptyParts)) {
        const qsizetype equals = entry.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString name = entry.first(equals).trimmed().toLower();
        const QString pin = entry.sliced(equals + 1).trimmed();
        if (!name.isEmpty() && (pin == kVerifiedByAuthority || pin.startsWith(u"sha256//")))
            pins.insert(name, pin);
    }
    return pins;
}

QString serverPinsText(const ServerPins& pins)
{
    QStringList entries;
    for (auto it = pins.cbegin(); it != pins.cend(); ++it)
        entries.append(it.key() + u'=' + it.value());
    return entries.join(u';');
}

QString pinName(const Endpoint& endpoint)
{
    const QString host = endpoint.host.toLower();
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' +
           QString::number(endpoint.port);
}

// Certificate ::= SEQUENCE { tbsCertificate, ... }; tbsCertificate ::= SEQUENCE { [0] version
// OPTIONAL, serialNumber, signature, issuer, validity, subject, subjectPublicKeyInfo, ... }.
// Read here rather than through QSslCertificate::publicKey(): the certificate comes from a server
// that may be hostile, and Qt 6.4's OpenSSL backend dereferences a null key when the certificate
// parses but its key does not (a changed byte in the key is enough), which would end the robot.
std::optional<QString> publicKeyPin(QByteArrayView der)
{
    const auto certificate = elementAt(der, 0, der.size());
    if (!certificate || certificate->tag != kSequence)
        return std::nullopt;
    const auto tbs = elementAt(der, certificate->start + certificate->header, certificate->end());
    if (!tbs || tbs->tag != kSequence)
        return std::nullopt;
    qsizetype at = tbs->start + tbs->header;
    auto field = elementAt(der, at, tbs->end());
    if (field && field->tag == kVersionTag) {
        at = field->end();
        field = elementAt(der, at, tbs->end());
    }
    // serialNumber, signature, issuer, validity, subject, then the key.
    for (int skip = 0; skip < 5 && field; ++skip) {
        at = field->end();
        field = elementAt(der, at, tbs->end());
    }
    if (!field || field->tag != kSequence)
        return std::nullopt;
    const QByteArray digest = QCryptographicHash::hash(
        der.sliced(field->start, field->end() - field->start), QCryptographicHash::Sha256);
    return QStringLiteral("sha256//") + QString::fromLatin1(digest.toBase64());
}

QByteArray derFromPem(QByteArrayView pem)
{
    static constexpr QByteArrayView begin = "-----BEGIN CERTIFICATE-----";
    static constexpr QByteArrayView end = "-----END CERTIFICATE-----";
    const qsizetype from = pem.indexOf(begin);
    if (from < 0)
        return {};
    const qsizetype to = pem.indexOf(end, from + begin.size());
    if (to < 0)
        return {};
    const QByteArray base64 =
        pem.sliced(from + begin.size(), to - from - begin.size()).toByteArray();
    const auto decoded = QByteArray::fromBase64Encoding(
        QByteArray(base64).replace('\r', "").replace('\n', "").replace(' ', ""),
        QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? decoded.decoded : QByteArray();
}

} // namespace vigilor::exchange
