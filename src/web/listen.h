#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

namespace vigilor::web {

// Where the web page listens: "ADDRESS:PORT", the address an IPv4 address, an IPv6 address in
// brackets, or "localhost"; the port 0 to 65535 (0 lets the system choose a free one).
struct ListenAddress
{
    QHostAddress address;
    quint16 port = 0;

    // What the console shows: "127.0.0.1:8080", "[::1]:8080".
    QString text() const;
    // Only the machine itself can reach it: no TLS needed.
    bool isLoopback() const { return address.isLoopback(); }
};

// Returns no value and says why in `why` (a Hungarian sentence) for text of another form.
std::optional<ListenAddress> parseListenAddress(const QString& text, QString* why);

// What the web page is started with: the command line's values, else the settings' [Web] keys.
struct WebConfig
{
    QString listen; // empty: the web page is off
    QString certFile;
    QString keyFile;

    bool operator==(const WebConfig&) const = default;
};

} // namespace vigilor::web
