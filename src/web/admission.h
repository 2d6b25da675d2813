#pragma once

#include "web/listen.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace vigilor::web {

struct WebRequest;

// Whom a request is from and which site it was sent to, and whether the page answers it.
//
// A reverse proxy in front of the page is every client's address: only a proxy named in
// [Web] TrustedProxies may pass on the client's address (X-Forwarded-For: the right-most address
// that is not itself a trusted proxy) and the site's name (X-Forwarded-Host). The page answers
// only to the names of its listening address and to those of [Web] Hosts, so that a page of
// another site whose name was made to point at the robot (DNS rebinding) gets no answer.
//
// The names of the listening address: its literal ("127.0.0.1", "[::1]"), "localhost" for a
// loopback address, and for a wildcard address ("0.0.0.0", "[::]") "localhost" and every
// address of the machine's own; each without a port or with the port listened on. A name of
// Hosts is taken with any port, or with the one it gives ("robot.example:8443").
class Admission final
{
public:
    // Entries of a key's text, separated by commas or blanks. An entry that does not read as an
    // address (TrustedProxies: an address or ADDRESS/PREFIX) or a host name (Hosts: a name, an
    // IPv4 address or an IPv6 address in brackets, optionally with ":PORT") goes to `bad`.
    static QList<QPair<QHostAddress, int>> parseProxies(const QString& text, QStringList* bad);
    static QStringList parseHosts(const QString& text, QStringList* bad);

    void setListenAddress(const ListenAddress& address) { m_listen = address; }
    void setTrustedProxies(QList<QPair<QHostAddress, int>> proxies)
    {
        m_proxies = std::move(proxies);
    }
    void setHosts(const QStringList& hosts);

    bool trusted(const QHostAddress& address) const;
    // The client's address as the console names it. `request.address` is the connection's peer.
    QString client(const WebRequest& request) const;
    // The site the request was sent to ("host" or "host:port", in lower case) when the page
    // answers to it; none when it does not (or the request names none).
    std::optional<QByteArray> site(const WebRequest& request) const;

    // Wrong keys are counted by this: loopback IPv4 addresses are one machine, an IPv6 address
    // is counted with its /64 network, any other address alone.
    static QString throttleGroup(const QString& address);

private:
    bool accepted(const QByteArray& host) const;

    std::optional<ListenAddress> m_listen;
    QList<QPair<QHostAddress, int>> m_proxies;
    QList<QPair<QByteArray, int>> m_hosts; // name in lower case, port or -1 for any
};

} // namespace vigilor::web
