#include "web/admission.h"

#include "web/api.h"

#include <QNetworkInterface>

#include <algorithm>

namespace vigilor::web {

namespace {

// An IPv4 address mapped into IPv6 is the IPv4 address.
QHostAddress plain(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4)
                                                                         : address;
}

QStringList entriesOf(const QString& text)
{
    QString spaced = text;
    spaced.replace(u',', u' ');
    return spaced.split(u' ', Qt::SkipEmptyParts);
}

// An address literal as it stands in a host name: IPv4 dotted, IPv6 in brackets.
std::optional<QHostAddress> literal(QByteArrayView name)
{
    QHostAddress address;
    if (name.startsWith('[') && name.endsWith(']')) {
        if (address.setAddress(QString::fromLatin1(name.sliced(1, name.size() - 2))) &&
            address.protocol() == QAbstractSocket::IPv6Protocol)
            return address;
        return std::nullopt;
    }
    if (std::count(name.begin(), name.end(), '.') == 3 &&
        address.setAddress(QString::fromLatin1(name)) &&
        address.protocol() == QAbstractSocket::IPv4Protocol)
        return address;
    return std::nullopt;
}

// "name", "name:port", "[v6]", "[v6]:port" in lower case; the port -1 when none is given.
std::optional<QPair<QByteArray, int>> splitHost(QByteArray text)
{
    text = text.trimmed().toLower();
    QByteArray name = text;
    QByteArray port;
    bool hasPort = false;
    if (text.startsWith('[')) {
        const qsizetype close = text.indexOf(']');
        if (close < 0)
            return std::nullopt;
        name = text.left(close + 1);
        const QByteArray rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':'))
                return std::nullopt;
            hasPort = true;
            port = rest.mid(1);
        }
        if (!literal(name))
            return std::nullopt;
    } else {
        const qsizetype colon = text.indexOf(':');
        if (colon >= 0) {
            if (text.indexOf(':', colon + 1) >= 0)
                return std::nullopt;
            hasPort = true;
            name = text.left(colon);
            port = text.mid(colon + 1);
        }
        if (name.isEmpty() || !std::all_of(name.begin(), name.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
                       c == '_';
            }))
            return std::nullopt;
    }
    int number = -1;
    if (hasPort) {
        if (port.isEmpty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        number = port.toInt();
        if (number > 65535)
            return std::nullopt;
    }
    return QPair<QByteArray, int>{name, number};
}

bool wildcard(const QHostAddress& address)
{
    return address.isEqual(QHostAddress(QHostAddress::AnyIPv4)) ||
           address.isEqual(QHostAddress(QHostAddress::AnyIPv6)) ||
           address.isEqual(QHostAddress(QHostAddress::Any));
}

} // namespace

QList<QPair<QHostAddress, int>> Admission::parseProxies(const QString& text, QStringList* bad)
{
    QList<QPair<QHostAddress, int>> proxies;
    for (const QString& entry : entriesOf(text)) {
        QPair<QHostAddress, int> subnet;
        if (entry.contains(u'/')) {
            subnet = QHostAddress::parseSubnet(entry);
        } else if (QHostAddress address; address.setAddress(entry)) {
            address = plain(address);
            subnet = {address, address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
        }
        if (subnet.first.isNull()) {
            if (bad)
                bad->append(entry);
            continue;
        }
        proxies.append(subnet);
    }
    return proxies;
}

QStringList Admission::parseHosts(const QString& text, QStringList* bad)
{
    QStringList hosts;
    for (const QString& entry : entriesOf(text)) {
        if (splitHost(entry.toLatin1()) && entry.toLatin1() == entry.toUtf8())
            hosts.append(entry.toLower());
        else if (bad)
            bad->append(entry);
    }
    return hosts;
}

void Admission::setHosts(const QStringList& hosts)
{
    m_hosts.clear();
    for (const QString& host : hosts)
        if (const auto split = splitHost(host.toLatin1()))
            m_hosts.append(*split);
}

bool Admission::trusted(const QHostAddress& address) const
{
    const QHostAddress peer = plain(address);
    return std::any_of(m_proxies.begin(), m_proxies.end(), [&](const auto& subnet) {
        return peer.isInSubnet(subnet.first, subnet.second);
    });
}

QString Admission::client(const WebRequest& request) const
{
    const QHostAddress peer(request.address);
    if (peer.isNull() || !trusted(peer))
        return request.address;
    QList<QByteArray> hops;
    for (const auto& [name, value] : request.headers)
        if (name == "x-forwarded-for")
            hops += value.split(',');
    // From the right: each trusted proxy passes on what the one before it said; the first
    // address that is not a trusted proxy is the client. What does not read as an address ends
    // the walk: the last trusted hop is the client then.
    QString client = request.address;
    for (auto it = hops.crbegin(); it != hops.crend(); ++it) {
        QByteArray hop = it->trimmed();
        if (hop.startsWith('[')) {
            hop = hop.mid(1, hop.indexOf(']') - 1);
        } else if (hop.count(':') == 1) {
            hop = hop.left(hop.indexOf(':')); // an IPv4 address with its port
        }
        QHostAddress address;
        if (!address.setAddress(QString::fromLatin1(hop)))
            break;
        address = plain(address);
        client = address.toString();
        if (!trusted(address))
            break;
    }
    return client;
}

std::optional<QByteArray> Admission::site(const WebRequest& request) const
{
    QByteArray host = request.header("host");
    const QHostAddress peer(request.address);
    if (!peer.isNull() && trusted(peer)) {
        const QByteArray forwarded = request.header("x-forwarded-host");
        if (!forwarded.trimmed().isEmpty())
            host = forwarded.mid(forwarded.lastIndexOf(',') + 1); // the nearest proxy's
    }
    host = host.trimmed().toLower();
    if (host.isEmpty() || !accepted(host))
        return std::nullopt;
    return host;
}

bool Admission::accepted(const QByteArray& host) const
{
    const auto split = splitHost(host);
    if (!split)
        return false;
    const auto& [name, port] = *split;
    for (const auto& [entry, entryPort] : m_hosts)
        if (entry == name && (entryPort < 0 || entryPort == port))
            return true;
    if (!m_listen || (port >= 0 && port != m_listen->port))
        return false;
    const QHostAddress& listened = m_listen->address;
    const bool everywhere = wildcard(listened);
    if (name == "localhost")
        return everywhere || listened.isLoopback();
    const std::optional<QHostAddress> address = literal(name);
    if (!address)
        return false;
    if (!everywhere)
        return address->isEqual(listened, QHostAddress::TolerantConversion);
    if (address->isLoopback())
        return true;
    // Looked at only for an address literal, never for a name: no lookup, no wait.
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    return std::any_of(own.begin(), own.end(), [&](const QHostAddress& a) {
        return a.isEqual(*address, QHostAddress::TolerantConversion);
    });
}

QString Admission::throttleGroup(const QString& text)
{
    QHostAddress address(text);
    if (address.isNull())
        return text;
    address = plain(address);
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        return address.isLoopback() ? QStringLiteral("127.0.0.0/8") : address.toString();
    if (address.isLoopback())
        return address.toString();
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(std::begin(bytes.c) + 8, std::end(bytes.c), quint8(0));
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

} // namespace vigilor::web
