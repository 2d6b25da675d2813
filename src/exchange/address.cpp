#include "exchange/address.h"

namespace vigilor::exchange {

namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Drops everything up to and including the first occurrence of marker.
void dropThrough(QString& text, QStringView marker)
{
    const qsizetype at = text.indexOf(marker);
    if (at >= 0)
        text.remove(0, at + marker.size());
}

bool hasControlCharacter(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

} // namespace

bool hasScheme(QStringView address)
{
    if (address.isEmpty() || !isAsciiLetter(address[0]))
        return false;
    for (qsizetype i = 1; i < address.size(); ++i) {
        const QChar c = address[i];
        if (c == u':')
            return address.sliced(i).startsWith(u"://");
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != u'+' && c != u'-' && c != u'.')
            return false;
    }
    return false;
}

QString withScheme(const QString& address)
{
    return hasScheme(address) ? address : QStringLiteral("http://") + address;
}

QString downloadFolder(const QString& field)
{
    QString folder = field;
    if (!folder.isEmpty() && !folder.endsWith(u'/'))
        folder += u'/';
    return withScheme(folder);
}

QString stripUploadPrefixes(QString text)
{
    dropThrough(text, u"http://");
    dropThrough(text, u"ftp://");
    // Only in front: "www." inside the address belongs to a host name.
    if (text.startsWith(u"www."))
        text.remove(0, 4);
    return text;
}

std::optional<UploadTarget> parseUploadAddress(const QString& field)
{
    const QString text = stripUploadPrefixes(field);
    const qsizetype colon = text.indexOf(u':');
    const qsizetype at = text.indexOf(u'@');
    // Zero-based here: the user name holds at least two characters, the password three.
    if (colon < 2 || at < 0 || at - colon < 4 || hasControlCharacter(text))
        return std::nullopt;
    UploadTarget target;
    target.user = text.first(colon);
    target.password = text.sliced(colon + 1, at - colon - 1);
    const QString rest = text.sliced(at + 1);
    const qsizetype slash = rest.indexOf(u'/');
    target.host = slash < 0 ? rest : rest.first(slash);
    target.folder = slash < 0 ? QString() : rest.sliced(slash);
    return target;
}

std::optional<Endpoint> ftpEndpoint(const QString& host)
{
    Endpoint endpoint;
    QString name = host;
    const qsizetype colon = name.lastIndexOf(u':');
    // One colon is a port; an IPv6 address stands in brackets, with its port after them.
    if (colon >= 0 && (name.count(u':') == 1 || name.sliced(0, colon).endsWith(u']'))) {
        bool ok = false;
        endpoint.port = name.sliced(colon + 1).toInt(&ok);
        if (!ok || endpoint.port < 1 || endpoint.port > 65535)
            return std::nullopt;
        name.truncate(colon);
    }
    if (name.startsWith(u'[') && name.endsWith(u']'))
        name = name.sliced(1, name.size() - 2);
    if (name.isEmpty())
        return std::nullopt;
    for (QChar c : name)
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != u'.' && c != u'-' && c != u':' &&
            c != u'_')
            return std::nullopt;
    endpoint.host = name;
    return endpoint;
}

QString withoutCredentials(const QString& url)
{
    const qsizetype scheme = url.indexOf(u"://");
    const qsizetype start = scheme < 0 ? 0 : scheme + 3;
    qsizetype end = url.indexOf(u'/', start);
    if (end < 0)
        end = url.size();
    const qsizetype at = QStringView(url).sliced(start, end - start).lastIndexOf(u'@');
    if (at < 0)
        return url;
    return url.first(start) + url.sliced(start + at + 1);
}

} // namespace vigilor::exchange
