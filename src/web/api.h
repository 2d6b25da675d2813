#pragma once

#include "web/admission.h"
#include "web/sessions.h"
#include "web/users.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>

namespace vigilor::web {

class Binding;

// One request as the web page's handlers see it: what the HTTP library read, nothing of the
// socket.
struct WebRequest
{
    QByteArray method;                            // "GET", "POST", ...
    QByteArray target;                            // the path with its query, as sent
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
    QByteArray body;
    QString address; // the connection's peer as the console names it (WebApi puts the client's
                     // in its place, which a trusted proxy may name)

    QByteArray header(QByteArrayView name) const;
    bool wantsWebSocket() const;
};

// The answer to one request. `upgrade` accepts a WebSocket: the library then answers the
// handshake itself, and the socket becomes a live feed of the session `sessionId`.
struct WebResponse
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool upgrade = false;
    QByteArray sessionId;
};

// The web page's requests, handled without sockets: the login with the access key and its
// throttle, the session cookie and the anti-forgery token, the routes, the JSON of the acts and
// their dispatch to the engine. Only the login page is served without a session; every request
// that changes anything carries the session's token in the header "X-Vigilor-Token"; a request
// to a site the page does not answer to (Admission) is refused, and so is one whose Origin
// names another site than the one it was sent to.
class WebApi final
{
public:
    static constexpr qsizetype kMaxBody = 16 * 1024;
    static inline const QByteArray kCookieName = QByteArrayLiteral("vigilor_session");
    static inline const QByteArray kTokenHeader = QByteArrayLiteral("x-vigilor-token");

    // monotonicMs: the clock of the sessions and of the login throttle.
    WebApi(Binding& binding, QByteArray accessKey, std::function<qint64()> monotonicMs);

    // The personal keys besides the shared one; none when only the shared key lets in.
    void setUsers(WebUsers* users) { m_users = users; }
    static inline const QString kViewerRefusal =
        QStringLiteral("Figyelőként nem cselekedhetsz: a kulcsod csak nézésre szól.");

    // Under TLS the session cookie is Secure.
    void setSecure(bool secure) { m_secure = secure; }
    bool secure() const { return m_secure; }
    // The trusted proxies and the site names the page answers to.
    void setAdmission(Admission admission) { m_admission = std::move(admission); }
    const Admission& admission() const { return m_admission; }

    WebResponse handle(const WebRequest& request);
    // Whether the session of a live feed still stands (it may have ended or logged out).
    bool sessionLive(const QByteArray& id);

    // Says on the console the wrong keys whose minute is over (run now and then).
    void sweep();

    Sessions& sessions() { return m_sessions; }
    LoginThrottle& throttle() { return m_throttle; }

private:
    // Who holds a key: the shared key's holder (no name), an operator of a personal key, or
    // no one.
    struct Holder
    {
        QString user;
        QByteArray keyHash;
        bool viewer = false;
    };
    std::optional<Holder> keyHolder(const QByteArray& key);
    // A personal key's session still stands on the key the file holds now (a revoked one
    // ends), with the role the file gives now.
    bool stillHeld(Session& session);
    Session* sessionOf(const WebRequest& request);
    WebResponse route(const WebRequest& request, const QByteArray& site);
    WebResponse record(const WebRequest& request);
    WebResponse login(const WebRequest& request);
    WebResponse logout(const WebRequest& request, Session& session);
    WebResponse page(bool loggedIn, int status = 200, const QString& message = {});
    WebResponse asset(const QString& resource, const QByteArray& type);
    WebResponse state(Session& session);
    WebResponse console(const WebRequest& request);
    WebResponse liveFeed(const WebRequest& request, Session& session);
    WebResponse act(const WebRequest& request, const Session& session, const QByteArray& path);

    Binding& m_binding;
    QByteArray m_accessKey;
    std::function<qint64()> m_now;
    bool m_secure = false;
    Admission m_admission;
    WebUsers* m_users = nullptr;
    Sessions m_sessions;
    LoginThrottle m_throttle;
};

// The answer every route gives to a request without the login: 401 with a JSON error.
WebResponse jsonError(int status, const QString& message);

} // namespace vigilor::web
