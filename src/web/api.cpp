#include "web/api.h"

#include "web/binding.h"
#include "web/secrets.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>

namespace vigilor::web {

namespace {

using Header = QPair<QByteArray, QByteArray>;

const QByteArray kHtml = QByteArrayLiteral("text/html; charset=utf-8");
const QByteArray kJson = QByteArrayLiteral("application/json");

enum class Access
{
    Open,    // the login page and the login
    Session, // a logged-in browser
    Token,   // a logged-in browser, with the session's anti-forgery token
};

struct RouteInfo
{
    QByteArrayView path;
    QByteArrayView method;
    Access access;
};

constexpr RouteInfo kRoutes[] = {
    {"/", "GET", Access::Open},
    {"/login", "POST", Access::Open},
    {"/logout", "POST", Access::Token},
    {"/app.js", "GET", Access::Session},
    {"/app.css", "GET", Access::Session},
    {"/record.js", "GET", Access::Session},
    {"/api/record", "GET", Access::Session},
    {"/api/state", "GET", Access::Session},
    {"/api/console", "GET", Access::Session},
    {"/live", "GET", Access::Session},
    {"/api/roster", "POST", Access::Token},
    {"/api/command", "POST", Access::Token},
    {"/api/say", "POST", Access::Token},
    {"/api/bans/add", "POST", Access::Token},
    {"/api/bans/grade", "POST", Access::Token},
    {"/api/bans/remove", "POST", Access::Token},
};

QByteArray resource(const QString& name)
{
    QFile file(QStringLiteral(":/web/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray escapeHtml(const QString& text)
{
    return text.toHtmlEscaped().toUtf8();
}

// Headers every answer carries: nothing is cached, framed or sniffed, and no other site is told
// where a link came from (the page's own requests keep their Origin, which the check below reads).
void addCommonHeaders(WebResponse& response)
{
    static const QList<std::pair<QByteArray, QByteArray>> common = {
        {QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store")},
        {QByteArrayLiteral("X-Content-Type-Options"), QByteArrayLiteral("nosniff")},
        {QByteArrayLiteral("X-Frame-Options"), QByteArrayLiteral("DENY")},
        {QByteArrayLiteral("Referrer-Policy"), QByteArrayLiteral("same-origin")}};
    response.headers.append(common);
}

WebResponse json(int status, const QJsonObject& object)
{
    WebResponse response;
    response.status = status;
    response.contentType = kJson;
    response.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return response;
}

QByteArray cookieValue(const QByteArray& cookies, const QByteArray& name)
{
    for (const QByteArray& part : cookies.split(';')) {
        const QByteArray pair = part.trimmed();
        const qsizetype equals = pair.indexOf('=');
        if (equals > 0 && pair.left(equals).trimmed() == name)
            return pair.mid(equals + 1).trimmed();
    }
    return {};
}

// An Origin header (browsers send it with every POST and WebSocket) must name the site the
// request was sent to, as the page answers to it (Admission::site): a page of another site
// cannot act through the operator's browser.
bool sameOrigin(const WebRequest& request, const QByteArray& site)
{
    const QByteArray origin = request.header("origin").trimmed().toLower();
    return origin.isEmpty() || origin == "http://" + site || origin == "https://" + site;
}

// JSON, with or without parameters ("application/json; charset=utf-8"); nothing else that
// merely begins the same way.
bool isJson(const QByteArray& contentType)
{
    return contentType.split(';').constFirst().trimmed().toLower() == kJson;
}

std::optional<QString> stringField(const QJsonObject& object, const QString& name)
{
    const QJsonValue value = object.value(name);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<int> intField(const QJsonObject& object, const QString& name, int minimum,
                            int maximum)
{
    const QJsonValue value = object.value(name);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::floor(number) != number || number < minimum ||
        number > maximum)
        return std::nullopt;
    return int(number);
}

// The console's word for wrong keys: one, or how many since the address was last named.
QString wrongKeysText(int count)
{
    return count == 1 ? QStringLiteral("hibás hozzáférési kulcs")
                      : QStringLiteral("%1 hibás hozzáférési kulcs").arg(count);
}

WebResponse result(const ActResult& act)
{
    if (act.done())
        return json(200, {{QStringLiteral("ok"), true}});
    return jsonError(act.status, act.why);
}

} // namespace

QByteArray WebRequest::header(QByteArrayView name) const
{
    for (const auto& [key, value] : headers)
        if (key == name)
            return value;
    return {};
}

bool WebRequest::wantsWebSocket() const
{
    return header("upgrade").trimmed().compare("websocket", Qt::CaseInsensitive) == 0;
}

WebResponse jsonError(int status, const QString& message)
{
    return json(status, {{QStringLiteral("error"), message}});
}

WebApi::WebApi(Binding& binding, QByteArray accessKey, std::function<qint64()> monotonicMs)
    : m_binding(binding), m_accessKey(std::move(accessKey)), m_now(std::move(monotonicMs))
{
}

std::optional<WebApi::Holder> WebApi::keyHolder(const QByteArray& key)
{
    // Both are looked at whatever the first says, so the time tells nothing of which it was.
    const bool shared = !m_accessKey.isEmpty() && sameSecret(key, m_accessKey);
    const std::optional<WebUser> user = m_users ? m_users->holderOf(key) : std::nullopt;
    if (shared)
        return Holder{};
    if (user)
        return Holder{user->name, user->keyHash, user->viewer()};
    return std::nullopt;
}

bool WebApi::stillHeld(Session& session)
{
    if (session.user.isEmpty())
        return true;
    const std::optional<WebUser> user =
        m_users ? m_users->current(session.user, session.keyHash) : std::nullopt;
    if (!user)
        return false;
    session.viewer = user->viewer();
    return true;
}

Session* WebApi::sessionOf(const WebRequest& request)
{
    const QByteArray id = cookieValue(request.header("cookie"), kCookieName);
    Session* session = m_sessions.find(id, m_now());
    if (session && !stillHeld(*session)) {
        m_binding.note(Actor(request.address, session->user),
                       QStringLiteral("a kulcsát visszavonták, a munkamenete véget ért"));
        m_sessions.remove(id);
        return nullptr;
    }
    return session;
}

bool WebApi::sessionLive(const QByteArray& id)
{
    Session* session = m_sessions.find(id, m_now());
    if (session && !stillHeld(*session)) {
        m_sessions.remove(id);
        return false;
    }
    return session != nullptr;
}

WebResponse WebApi::handle(const WebRequest& incoming)
{
    WebResponse response;
    if (const std::optional<QByteArray> site = m_admission.site(incoming)) {
        WebRequest request = incoming;
        request.address = m_admission.client(incoming);
        response = route(request, *site);
    } else {
        response = jsonError(421, QStringLiteral("A robot ezen a néven nem válaszol."));
    }
    addCommonHeaders(response);
    return response;
}

WebResponse WebApi::route(const WebRequest& request, const QByteArray& site)
{
    const qsizetype question = request.target.indexOf('?');
    const QByteArray path = question < 0 ? request.target : request.target.left(question);
    // HEAD is answered as GET; the server leaves out the body.
    const QByteArray method = request.method == "HEAD" ? QByteArray("GET") : request.method;
    const auto found = std::find_if(std::begin(kRoutes), std::end(kRoutes),
                                    [&](const RouteInfo& r) { return r.path == path; });
    if (found == std::end(kRoutes))
        return jsonError(404, QStringLiteral("Nincs ilyen oldal."));
    const RouteInfo& route = *found;
    // Without the login nothing but the login says more than that.
    Session* session = route.access == Access::Open ? nullptr : sessionOf(request);
    if (route.access != Access::Open && !session)
        return jsonError(401, QStringLiteral("Be kell lépni."));
    if (route.method != method) {
        WebResponse wrong = jsonError(405, QStringLiteral("Nem megengedett kérés."));
        wrong.headers.emplaceBack("Allow", route.method == "GET" ? QByteArray("GET, HEAD")
                                                                 : route.method.toByteArray());
        return wrong;
    }
    if (!sameOrigin(request, site))
        return jsonError(403, QStringLiteral("Más webhelyről jött kérés."));
    if (request.body.size() > kMaxBody)
        return jsonError(413, QStringLiteral("Túl nagy kérés."));
    if (route.access == Access::Open)
        return path == "/login" ? login(request) : page(sessionOf(request) != nullptr);

    m_sessions.touch(*session, m_now());
    if (route.access == Access::Token && !sameSecret(request.header(kTokenHeader), session->token))
        return jsonError(403, QStringLiteral("Hiányzik vagy hibás a kérés biztonsági kódja."));
    if (route.access == Access::Token && session->viewer && path != "/logout") {
        m_binding.note(Actor(request.address, session->user),
                       QStringLiteral("figyelő, a művelet elmarad: ") + QString::fromLatin1(path));
        return jsonError(403, kViewerRefusal);
    }

    if (path == "/app.js")
        return asset(QStringLiteral("app.js"), "application/javascript; charset=utf-8");
    if (path == "/app.css")
        return asset(QStringLiteral("app.css"), "text/css; charset=utf-8");
    if (path == "/record.js")
        return asset(QStringLiteral("record.js"), "application/javascript; charset=utf-8");
    if (path == "/api/record")
        return record(request);
    if (path == "/api/state")
        return state(*session);
    if (path == "/api/console")
        return console(request);
    if (path == "/live")
        return liveFeed(request, *session);
    if (path == "/logout")
        return logout(request, *session);
    return act(request, *session, path);
}

void WebApi::sweep()
{
    for (const auto& [address, count] : m_throttle.due(m_now()))
        m_binding.note(address, wrongKeysText(count));
}

WebResponse WebApi::page(bool loggedIn, int status, const QString& message)
{
    static const QByteArray loginPage = resource(QStringLiteral("login.html"));
    static const QByteArray appPage = resource(QStringLiteral("index.html"));
    WebResponse response;
    response.status = status;
    response.contentType = kHtml;
    if (loggedIn) {
        response.body = appPage;
        response.headers.emplaceBack(
            "Content-Security-Policy",
            "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
            "img-src 'self' data:; form-action 'self'; base-uri 'none'; frame-ancestors 'none'");
        return response;
    }
    // The login page has no script; its few styles stand in the page itself.
    QByteArray body = loginPage;
    const QByteArray notice =
        message.isEmpty() ? QByteArray()
                          : "<p class=\"error\" role=\"alert\">" + escapeHtml(message) + "</p>";
    body.replace("<!--message-->", notice);
    response.body = body;
    response.headers.emplaceBack(
        "Content-Security-Policy",
        "default-src 'none'; style-src 'unsafe-inline'; img-src data:; form-action 'self'; "
        "base-uri 'none'; frame-ancestors 'none'");
    return response;
}

WebResponse WebApi::asset(const QString& name, const QByteArray& type)
{
    WebResponse response;
    response.contentType = type;
    response.body = resource(name);
    return response;
}

WebResponse WebApi::login(const WebRequest& request)
{
    const qint64 now = m_now();
    QByteArray given;
    if (isJson(request.header("content-type"))) {
        const QJsonDocument document = QJsonDocument::fromJson(request.body);
        given = document.object().value(QStringLiteral("key")).toString().toUtf8();
    } else {
        QByteArray form = request.body;
        form.replace('+', ' ');
        given = QUrlQuery(QString::fromUtf8(form))
                    .queryItemValue(QStringLiteral("key"), QUrl::FullyDecoded)
                    .toUtf8();
    }
    given = given.trimmed().toLower();
    // The right key gets in whatever others tried from the same address.
    const QString group = Admission::throttleGroup(request.address);
    const std::optional<Holder> holder = keyHolder(given);
    if (!holder) {
        const LoginThrottle::Verdict verdict = m_throttle.failed(group, now);
        if (verdict.say > 0)
            m_binding.note(request.address, wrongKeysText(verdict.say));
        if (verdict.waitMs > 0)
            return page(false, 429,
                        QStringLiteral("Túl sok hibás kulcs: várj még %1 másodpercet.")
                            .arg((verdict.waitMs + 999) / 1000));
        return page(false, 401, QStringLiteral("Hibás hozzáférési kulcs."));
    }
    m_throttle.succeeded(group);
    // A browser that logs in again leaves its former session.
    m_sessions.remove(cookieValue(request.header("cookie"), kCookieName));
    const Session& session =
        m_sessions.create(request.address, now, holder->user, holder->keyHash, holder->viewer);
    m_binding.note(Actor(request.address, holder->user), holder->viewer
                                                             ? QStringLiteral("belépés (figyelő)")
                                                             : QStringLiteral("belépés"));
    WebResponse response;
    response.status = 303;
    response.contentType = kHtml;
    response.headers.emplaceBack("Location", "/");
    response.headers.emplaceBack("Set-Cookie", kCookieName + '=' + session.id +
                                                   "; Path=/; HttpOnly; SameSite=Strict" +
                                                   (m_secure ? "; Secure" : ""));
    return response;
}

WebResponse WebApi::logout(const WebRequest& request, Session& session)
{
    const QByteArray id = session.id;
    const Actor by(request.address, session.user);
    m_sessions.remove(id);
    m_binding.note(by, QStringLiteral("kilépés"));
    WebResponse response = json(200, {{QStringLiteral("ok"), true}});
    response.headers.emplaceBack("Set-Cookie",
                                 kCookieName + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict" +
                                     (m_secure ? "; Secure" : ""));
    return response;
}

WebResponse WebApi::state(Session& session)
{
    QJsonObject object = m_binding.state();
    object[QStringLiteral("token")] = QString::fromLatin1(session.token);
    object[QStringLiteral("captions")] = Binding::captions();
    object[QStringLiteral("consoleSize")] = double(m_binding.consoleSize());
    QJsonObject who;
    who[QStringLiteral("name")] = session.user;
    who[QStringLiteral("role")] = session.viewer ? WebUsers::kViewer : WebUsers::kAdmin;
    object[QStringLiteral("operator")] = who;
    return json(200, object);
}

WebResponse WebApi::record(const WebRequest& request)
{
    const qsizetype question = request.target.indexOf('?');
    const QUrlQuery query(question < 0 ? QString()
                                       : QString::fromUtf8(request.target.mid(question + 1)));
    const auto number = [&query](const QString& name, int fallback, int maximum) {
        bool ok = false;
        const int value = query.queryItemValue(name, QUrl::FullyDecoded).toInt(&ok);
        return ok && value >= 0 ? std::min(value, maximum) : fallback;
    };
    record::ActRecord::Query find;
    find.player =
        query.queryItemValue(QStringLiteral("player"), QUrl::FullyDecoded).left(Binding::kMaxText);
    find.by =
        query.queryItemValue(QStringLiteral("by"), QUrl::FullyDecoded).left(Binding::kMaxText);
    find.limit = number(QStringLiteral("limit"), 100, record::ActRecord::kMaxAnswer);
    find.skip = number(QStringLiteral("skip"), 0, 1 << 30);
    const record::ActRecord::Answer answer = m_binding.record().find(find);
    QJsonArray acts;
    for (const record::Act& act : answer.acts) {
        QJsonObject entry;
        entry[QStringLiteral("when")] = act.when;
        entry[QStringLiteral("who")] = act.who;
        entry[QStringLiteral("where")] = act.where;
        entry[QStringLiteral("what")] = act.what;
        entry[QStringLiteral("slot")] = act.slot;
        entry[QStringLiteral("name")] = act.name;
        entry[QStringLiteral("address")] = act.address;
        entry[QStringLiteral("why")] = act.why;
        acts.append(entry);
    }
    QJsonObject object;
    object[QStringLiteral("acts")] = acts;
    object[QStringLiteral("matched")] = double(answer.matched);
    return json(200, object);
}

WebResponse WebApi::console(const WebRequest& request)
{
    const qsizetype question = request.target.indexOf('?');
    const QUrlQuery query(question < 0 ? QString()
                                       : QString::fromUtf8(request.target.mid(question + 1)));
    bool ok = false;
    qsizetype from = query.queryItemValue(QStringLiteral("from")).toLongLong(&ok);
    if (!ok || from < 0)
        from = 0;
    qsizetype first = 0;
    QJsonObject object;
    object[QStringLiteral("lines")] = m_binding.consoleLines(from, &first);
    object[QStringLiteral("first")] = double(first);
    object[QStringLiteral("size")] = double(m_binding.consoleSize());
    return json(200, object);
}

WebResponse WebApi::liveFeed(const WebRequest& request, Session& session)
{
    if (!request.wantsWebSocket())
        return jsonError(400, QStringLiteral("Az élő adatfolyam WebSocket-kapcsolat."));
    const qsizetype question = request.target.indexOf('?');
    const QUrlQuery query(question < 0 ? QString()
                                       : QString::fromUtf8(request.target.mid(question + 1)));
    if (!sameSecret(query.queryItemValue(QStringLiteral("token")).toLatin1(), session.token))
        return jsonError(403, QStringLiteral("Hiányzik vagy hibás a kérés biztonsági kódja."));
    WebResponse response;
    response.status = 101;
    response.upgrade = true;
    response.sessionId = session.id;
    return response;
}

WebResponse WebApi::act(const WebRequest& request, const Session& session, const QByteArray& path)
{
    if (!isJson(request.header("content-type")))
        return jsonError(415, QStringLiteral("JSON kérés kell."));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return jsonError(400, QStringLiteral("Hibás JSON."));
    const QJsonObject body = document.object();
    const Actor from(request.address, session.user);
    const auto bad = [] { return jsonError(400, QStringLiteral("Hiányzó vagy hibás mező.")); };
    constexpr int kMaxRow = 1 << 20;

    if (path == "/api/roster") {
        const auto item = stringField(body, QStringLiteral("item"));
        const auto slot = stringField(body, QStringLiteral("slot"));
        const auto name = stringField(body, QStringLiteral("name"));
        const auto address = stringField(body, QStringLiteral("address"));
        // The reason is optional: absent, null or a text.
        const QJsonValue reason = body.value(QStringLiteral("reason"));
        if (!item || !slot || !name || !address ||
            !(reason.isUndefined() || reason.isNull() || reason.isString()))
            return bad();
        return result(m_binding.rosterAction(from, *item, {*slot, *name, *address},
                                             reason.toString().trimmed()));
    }
    if (path == "/api/command") {
        const auto command = stringField(body, QStringLiteral("command"));
        return command ? result(m_binding.sendCommand(from, *command)) : bad();
    }
    if (path == "/api/say") {
        const auto text = stringField(body, QStringLiteral("text"));
        return text ? result(m_binding.say(from, *text)) : bad();
    }
    if (path == "/api/bans/add") {
        const auto text = stringField(body, QStringLiteral("text"));
        const auto grade = intField(body, QStringLiteral("grade"), 0, 4);
        return text && grade ? result(m_binding.addBan(from, *text, *grade)) : bad();
    }
    const auto row = intField(body, QStringLiteral("row"), 0, kMaxRow);
    const auto line = stringField(body, QStringLiteral("line"));
    if (!row || !line)
        return bad();
    if (path == "/api/bans/grade") {
        const auto grade = intField(body, QStringLiteral("grade"), 0, 4);
        return grade ? result(m_binding.setBanGrade(from, *row, *line, *grade)) : bad();
    }
    return result(m_binding.removeBan(from, *row, *line));
}

} // namespace vigilor::web
