#include "web/listen.h"

namespace vigilor::web {

QString ListenAddress::text() const
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + address.toString() + u']'
                             : address.toString();
    return host + u':' + QString::number(port);
}

std::optional<ListenAddress> parseListenAddress(const QString& text, QString* why)
{
    const QString given = text.trimmed();
    const auto fail = [&] {
        if (why)
            *why = QStringLiteral("hibás cím: \"") + given +
                   QStringLiteral("\" (CÍM:PORT alakban kell megadni, például 127.0.0.1:8080)");
        return std::nullopt;
    };
    const qsizetype colon = given.lastIndexOf(u':');
    if (colon <= 0)
        return fail();
    QString host = given.left(colon);
    const QString portText = given.mid(colon + 1);
    if (portText.isEmpty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(),
                     [](QChar c) { return c.isDigit() && c.unicode() < 128; }))
        return fail();
    const uint port = portText.toUInt();
    if (port > 65535)
        return fail();
    ListenAddress result;
    result.port = quint16(port);
    if (host.startsWith(u'[') && host.endsWith(u']')) {
        host = host.mid(1, host.size() - 2);
        if (!result.address.setAddress(host) ||
            result.address.protocol() != QAbstractSocket::IPv6Protocol)
            return fail();
        return result;
    }
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) {
        result.address = QHostAddress(QHostAddress::LocalHost);
        return result;
    }
    // A dotted IPv4 address only: an IPv6 address needs its brackets, a host name is not looked
    // up (the robot's event loop never waits for a name server).
    if (!result.address.setAddress(host) ||
        result.address.protocol() != QAbstractSocket::IPv4Protocol || host.count(u'.') != 3)
        return fail();
    return result;
}

} // namespace vigilor::web
