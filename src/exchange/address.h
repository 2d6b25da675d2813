#pragma once

#include <QString>

#include <optional>

namespace vigilor::exchange {

// The public list file: its name on every server and in the program folder.
inline const QString kListFileName = QStringLiteral("rconpb.ban");

// Whether the address names its scheme ("http://", "https://", "ftp://"), in any letter case.
bool hasScheme(QStringView address);
// "http://" in front of an address that names no scheme; one that does keeps its own.
QString withScheme(const QString& address);
// The download field as "Letöltés" leaves it: a folder address ending in "/" with a scheme.
QString downloadFolder(const QString& field);

// An upload address, "user:password@host[:port][/folder]".
struct UploadTarget
{
    QString user;
    QString password;
    QString host;   // as typed, with ":port" when one was given
    QString folder; // from its first "/" on, or empty for the login directory
    // The upload field afterwards: the address without the prefixes it was typed with.
    QString fieldText() const { return user + u':' + password + u'@' + host + folder; }
};

// Removes what people type in front of an FTP address: everything up to and including the
// first "http://", then the same for "ftp://", then a leading "www.".
QString stripUploadPrefixes(QString text);
// The login of an upload field (prefixes removed here): the first ":" ends the user name (at
// least two characters), the first "@" ends the password (at least three). No value for an
// address that breaks the rule or holds control characters.
std::optional<UploadTarget> parseUploadAddress(const QString& field);

// The host and port to connect to: the host's ":port" or 21. No value for a host that is empty,
// holds characters no host name has, or names a port outside 1-65535.
struct Endpoint
{
    QString host;
    int port = 21;
};
std::optional<Endpoint> ftpEndpoint(const QString& host);

// An address fit for a message: the user name and password of a URL left out.
QString withoutCredentials(const QString& url);

} // namespace vigilor::exchange
