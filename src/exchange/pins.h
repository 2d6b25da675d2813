#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QMap>
#include <QString>

#include <optional>

namespace vigilor::exchange {

struct Endpoint;

// What the upload knows of an FTP server's encryption, kept per server between uploads: the
// SHA-256 pin of the public key a server with an unverifiable certificate showed at its first
// upload ("sha256//" and the digest in base64, as libcurl takes it), or kVerifiedByAuthority for
// a server whose certificate verified. A server with an entry never gets the password without
// TLS again; an unverifiable one is trusted only with the key of its pin.
inline const QString kVerifiedByAuthority = QStringLiteral("ca");

// The settings file keeps the entries in one line: "host:port=pin" entries separated by ";".
// Reading skips what does not have that form.
using ServerPins = QMap<QString, QString>;
ServerPins readServerPins(const QString& text);
QString serverPinsText(const ServerPins& pins);
// The entry's name for a server: the host in small letters, ":" and the port.
QString pinName(const Endpoint& endpoint);

// The pin of the public key in a DER certificate: the SHA-256 digest of its SubjectPublicKeyInfo,
// "sha256//" and base64. No value for bytes that are no certificate.
std::optional<QString> publicKeyPin(QByteArrayView certificateDer);
// The DER bytes of the first certificate of a PEM text.
QByteArray derFromPem(QByteArrayView pem);

} // namespace vigilor::exchange
