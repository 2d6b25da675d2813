// The web page's handlers without sockets: the access key file, the listen address, sessions and
// the login throttle, and every route through WebApi with the assembled robot connected to the
// practice server.
#include "link/datagram.h"
#include "link/intake.h"
#include "scheduler/scheduler.h"
#include "settings/settings.h"
#include "support/robotfixture.h"
#include "text/timeformat.h"
#include "web/admission.h"
#include "web/api.h"
#include "web/binding.h"
#include "web/listen.h"
#include "web/secrets.h"
#include "web/sessions.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>

using namespace vigilor;
using namespace vigilor::test;
using namespace vigilor::web;
using namespace Qt::StringLiterals;
using testserver::Player;

namespace {

const QByteArray kKey =
    QByteArrayLiteral("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
const QString kFrom = u"192.0.2.7"_s;

int fileMode(const QString& path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

Player player(int slot, const QString& name, const QString& address)
{
    Player p;
    p.slot = slot;
    p.name = name;
    p.address = address;
    return p;
}

QByteArray cookieOf(const WebResponse& response)
{
    for (const auto& [name, value] : response.headers)
        if (name == "Set-Cookie")
            return value.left(value.indexOf(';'));
    return {};
}

QByteArray headerOf(const WebResponse& response, const QByteArray& wanted)
{
    for (const auto& [name, value] : response.headers)
        if (name == wanted)
            return value;
    return {};
}

QJsonObject jsonOf(const WebResponse& response)
{
    return QJsonDocument::fromJson(response.body).object();
}

// The robot connected to the practice server with two players, and the web page's handlers on
// it with a clock the test moves.
struct Web : RobotFixture
{
    qint64 now = 1000;
    Binding binding{Engine::of(robot)};
    WebApi api{binding, kKey, [this] { return now; }};
    QByteArray cookie;
    QByteArray token;

    Web() : RobotFixture(u"rcon-secret"_s)
    {
        server.setFloodGuardMs(0);
        server.setPlayers({player(3, u"Kovacs"_s, u"10.0.0.3:28960"_s),
                           player(5, u"Nagy"_s, u"10.0.0.5:28960"_s)});
        pointAtServer();
        robot.link().setPacerInterval(20);
        robot.link().connectAction();
        settle(robot.link());
        Admission admission;
        QString why;
        admission.setListenAddress(*parseListenAddress(u"127.0.0.1:8080"_s, &why));
        api.setAdmission(admission);
    }

    WebResponse request(const QByteArray& method, const QByteArray& target,
                        const QByteArray& body = {}, const QByteArray& type = {},
                        QList<QPair<QByteArray, QByteArray>> headers = {},
                        const QString& from = kFrom)
    {
        WebRequest r;
        r.method = method;
        r.target = target;
        r.body = body;
        r.address = from;
        r.headers = std::move(headers);
        r.headers.emplaceBack("host", "127.0.0.1:8080");
        if (!type.isEmpty())
            r.headers.emplaceBack("content-type", type);
        return api.handle(r);
    }
    WebResponse login(const QByteArray& key, const QString& from = kFrom)
    {
        return request("POST", "/login", "key=" + key, "application/x-www-form-urlencoded", {},
                       from);
    }
    // Logs in and keeps the cookie and the token.
    bool logIn()
    {
        const WebResponse answer = login(kKey);
        cookie = cookieOf(answer);
        const WebResponse state = request("GET", "/api/state", {}, {}, {{"cookie", cookie}});
        token = jsonOf(state).value(u"token"_s).toString().toLatin1();
        return answer.status == 303 && !token.isEmpty();
    }
    WebResponse act(const QByteArray& path, const QJsonObject& body)
    {
        return request("POST", path, QJsonDocument(body).toJson(), "application/json",
                       {{"cookie", cookie}, {"x-vigilor-token", token}});
    }
    // Asks for a roster and waits until the table shows it.
    bool roster(const QString& name)
    {
        robot.link().enqueueCommand(u"status"_s);
        return QTest::qWaitFor(
            [&] {
                for (const QStringList& row : robot.roster().rows())
                    if (row.value(3) == name)
                        return true;
                return false;
            },
            5000);
    }
    bool received(const QString& command)
    {
        return QTest::qWaitFor([&] { return server.receivedCommands().contains(command); }, 5000);
    }
    QString consoleText() { return robot.console().lines().join(u'\n'); }
};

} // namespace

class TestWeb final : public QObject
{
    Q_OBJECT

private slots:
    // ---- secrets and addresses ---------------------------------------------------------------

    void accessKeyFileIsTheOwnersAlone()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        const AccessKey first = AccessKey::loadOrCreate(folder);
        QVERIFY(first.created);
        QCOMPARE(first.path, folder + u"web-token"_s);
        QCOMPARE(first.key.size(), 64); // 256 bits
        QVERIFY(QByteArray::fromHex(first.key).toHex() == first.key);
        QCOMPARE(fileMode(first.path), 0600);
        QFile file(first.path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), first.key + '\n');
        file.close();

        const AccessKey again = AccessKey::loadOrCreate(folder);
        QVERIFY(!again.created);
        QCOMPARE(again.key, first.key);

        // A file others may read is made the owner's again; the key stays.
        QVERIFY(::chmod(QFile::encodeName(first.path).constData(), 0644) == 0);
        QCOMPARE(AccessKey::loadOrCreate(folder).key, first.key);
        QCOMPARE(fileMode(first.path), 0600);

        // A key too short to keep anyone out is replaced.
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("abc123\n");
        file.close();
        const AccessKey replaced = AccessKey::loadOrCreate(folder);
        QVERIFY(replaced.replaced && replaced.created);
        QCOMPARE(replaced.key.size(), 64);
        QVERIFY(replaced.key != first.key);
        QCOMPARE(fileMode(first.path), 0600);

        QVERIFY_THROWS_EXCEPTION(FileError, AccessKey::loadOrCreate(folder + u"missing/"_s));
    }

    // Errors are written without QJsonDocument, and must come out as it writes them: every
    // UTF-16 unit between two letters, every surrogate pair's form, a surrogate alone at either
    // end, the escapes, an empty text.
    void errorsAreWrittenAsJsonWritesThem()
    {
        const auto viaQt = [](const QString& text) {
            return QJsonDocument(QJsonObject{{u"error"_s, text}}).toJson(QJsonDocument::Compact);
        };
        QList<QString> texts = {QString(), u"\"\\/\b\f\n\r\t"_s, u"Nincs ilyen oldal."_s,
                                u"Túl nagy kérés. Ő ű €"_s};
        for (char32_t c = 0; c <= 0xffff; ++c)
            texts.append(u'a' + QString(QChar(char16_t(c))) + u'b');
        for (char32_t c : {0x10000u, 0x1f600u, 0x10ffffu})
            texts.append(QString::fromUcs4(&c, 1) + u'x');
        texts.append(QString(QChar(char16_t(0xd800))));
        texts.append(u'x' + QString(QChar(char16_t(0xdfff))));
        texts.append(QString(QChar(char16_t(0xdc00))) + QString(QChar(char16_t(0xd800))));
        for (const QString& text : texts) {
            const QByteArray expected = viaQt(text);
            if (jsonError(400, text).body != expected)
                QFAIL(qPrintable(u"differs for "_s + QString::fromLatin1(text.toUtf8().toHex()) +
                                 u": "_s + QString::fromLatin1(jsonError(400, text).body.toHex()) +
                                 u" / "_s + QString::fromLatin1(expected.toHex())));
        }
        const WebResponse error = jsonError(404, u"Nincs ilyen oldal."_s);
        QCOMPARE(error.status, 404);
        QCOMPARE(error.contentType, QByteArrayLiteral("application/json"));
    }

    void secretsCompareWhole()
    {
        const QByteArray a = randomHex(16);
        QCOMPARE(a.size(), 32);
        QVERIFY(a != randomHex(16));
        QVERIFY(sameSecret(a, QByteArray(a)));
        QVERIFY(!sameSecret(a, a.left(31)));
        QByteArray b = a;
        b[31] = b[31] == 'a' ? 'b' : 'a';
        QVERIFY(!sameSecret(a, b));
        QVERIFY(!sameSecret(a, {}));
    }

    void listenAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address"); // empty: refused
        QTest::addColumn<bool>("loopback");
        QTest::newRow("usual") << u"127.0.0.1:8080"_s << u"127.0.0.1:8080"_s << true;
        QTest::newRow("blanks") << u" 127.0.0.1:80 "_s << u"127.0.0.1:80"_s << true;
        QTest::newRow("localhost") << u"localhost:0"_s << u"127.0.0.1:0"_s << true;
        QTest::newRow("ipv6 loopback") << u"[::1]:8443"_s << u"[::1]:8443"_s << true;
        QTest::newRow("everywhere") << u"0.0.0.0:443"_s << u"0.0.0.0:443"_s << false;
        QTest::newRow("public") << u"203.0.113.5:8080"_s << u"203.0.113.5:8080"_s << false;
        for (const QString& bad :
             {u""_s, u"8080"_s, u"127.0.0.1"_s, u"127.0.0.1:"_s, u"127.0.0.1:65536"_s,
              u"127.0.0.1:-1"_s, u"127.0.0.1:8o8"_s, u"example.com:80"_s, u"::1:80"_s,
              u"[127.0.0.1]:80"_s, u"1.2.3:80"_s, u":80"_s, u"127.0.0.1:123456"_s})
            QTest::newRow(qPrintable(u"bad "_s + bad)) << bad << QString() << false;
    }
    void listenAddresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        QFETCH(bool, loopback);
        QString why;
        const auto parsed = parseListenAddress(text, &why);
        QCOMPARE(parsed.has_value(), !address.isEmpty());
        if (parsed) {
            QCOMPARE(parsed->text(), address);
            QCOMPARE(parsed->isLoopback(), loopback);
        } else {
            QVERIFY(why.contains(u"CÍM:PORT"_s));
        }
    }

    // ---- sessions and the throttle -------------------------------------------------------------

    void sessionsEndAfterTwelveIdleHours()
    {
        Sessions sessions;
        const QByteArray id = sessions.create(kFrom, 0).id;
        QCOMPARE(id.size(), 64);
        QVERIFY(sessions.find(id, Sessions::kIdleMs - 1));
        // Use starts the twelve hours again.
        sessions.touch(*sessions.find(id, Sessions::kIdleMs - 1), Sessions::kIdleMs - 1);
        QVERIFY(sessions.find(id, 2 * Sessions::kIdleMs - 2));
        QVERIFY(!sessions.find(id, 2 * Sessions::kIdleMs - 1));
        QVERIFY(!sessions.find(id, 0)); // gone for good
        QVERIFY(!sessions.find({}, 0));

        // The least recently used gives way when too many are open.
        Sessions many;
        QList<QByteArray> ids;
        for (int i = 0; i < Sessions::kMaxSessions; ++i)
            ids << many.create(kFrom, i).id;
        many.touch(*many.find(ids[0], 100), 100); // the first is used again
        many.create(kFrom, 101);
        QCOMPARE(many.size(), Sessions::kMaxSessions);
        QVERIFY(many.find(ids[0], 101));
        QVERIFY(!many.find(ids[1], 101));
    }

    void fiveWrongKeysMakeTheAddressWait()
    {
        LoginThrottle throttle;
        for (int i = 0; i < LoginThrottle::kMaxFailures - 1; ++i)
            QCOMPARE(throttle.failed(kFrom, i).waitMs, 0);
        QCOMPARE(throttle.waitLeft(kFrom, 10), 0);
        QCOMPARE(throttle.failed(kFrom, 10).waitMs, LoginThrottle::kWaitMs);
        QCOMPARE(throttle.waitLeft(kFrom, 10), LoginThrottle::kWaitMs);
        QCOMPARE(throttle.waitLeft(u"192.0.2.8"_s, 10), 0); // others are not held up
        QCOMPARE(throttle.waitLeft(kFrom, 10 + LoginThrottle::kWaitMs - 1), 1);
        QCOMPARE(throttle.waitLeft(kFrom, 10 + LoginThrottle::kWaitMs), 0);
        // After the wait the count starts again; a right key ends a count and a wait too.
        for (int i = 0; i < LoginThrottle::kMaxFailures - 1; ++i)
            QCOMPARE(throttle.failed(kFrom, 100000).waitMs, 0);
        throttle.succeeded(kFrom);
        for (int i = 0; i < LoginThrottle::kMaxFailures - 1; ++i)
            QCOMPARE(throttle.failed(kFrom, 100000).waitMs, 0);
        QVERIFY(throttle.failed(kFrom, 100000).waitMs > 0);
        throttle.succeeded(kFrom);
        QCOMPARE(throttle.waitLeft(kFrom, 100000), 0);

        // The console hears of an address at most once a minute, with the count since.
        LoginThrottle said;
        QCOMPARE(said.failed(kFrom, 0).say, 1);
        for (int i = 1; i <= 30; ++i)
            QCOMPARE(said.failed(kFrom, i * 100).say, 0);
        QVERIFY(said.due(LoginThrottle::kReportMs - 1).isEmpty());
        QCOMPARE(said.due(LoginThrottle::kReportMs), (QList<QPair<QString, int>>{{kFrom, 30}}));
        QVERIFY(said.due(2 * LoginThrottle::kReportMs - 1).isEmpty());
        QCOMPARE(said.failed(kFrom, 2 * LoginThrottle::kReportMs - 1).say, 0);
        QCOMPARE(said.failed(kFrom, 2 * LoginThrottle::kReportMs).say, 2);
        // Said and done: the address is forgotten after its minute.
        QVERIFY(said.due(10 * LoginThrottle::kReportMs).isEmpty());
        QCOMPARE(said.failed(kFrom, 10 * LoginThrottle::kReportMs).say, 1);

        // A table full of waiting addresses lets go of the one whose wait ends first.
        LoginThrottle full;
        const auto address = [](int i) { return u"10.%1.%2.1"_s.arg(i / 256).arg(i % 256); };
        for (int i = 0; i < LoginThrottle::kMaxAddresses; ++i)
            for (int n = 0; n < LoginThrottle::kMaxFailures; ++n)
                full.failed(address(i), i);
        QVERIFY(full.waitLeft(address(0), 10) > 0);
        full.failed(u"192.0.2.99"_s, 5000);
        QCOMPARE(full.waitLeft(address(0), 10), 0);
        QVERIFY(full.waitLeft(address(1), 10) > 0);
    }

    // Behind a trusted proxy the client is the right-most forwarded address that is not itself a
    // trusted proxy; nobody else can name a client or a site. Wrong keys are counted by machine.
    void clientsAndSites()
    {
        QStringList bad;
        const auto proxies =
            Admission::parseProxies(u"127.0.0.1, 10.0.0.0/8 ::1 nincs 1.2.3.4/40"_s, &bad);
        QCOMPARE(proxies.size(), 3);
        QCOMPARE(bad, (QStringList{u"nincs"_s, u"1.2.3.4/40"_s}));
        bad.clear();
        const QStringList hosts = Admission::parseHosts(
            u"Robot.Example, panel.example:8443 [::1] rossz/név a:b:c bárhol"_s, &bad);
        QCOMPARE(hosts, (QStringList{u"robot.example"_s, u"panel.example:8443"_s, u"[::1]"_s}));
        QCOMPARE(bad, (QStringList{u"rossz/név"_s, u"a:b:c"_s, u"bárhol"_s}));

        Admission admission;
        QString why;
        admission.setListenAddress(*parseListenAddress(u"127.0.0.1:8080"_s, &why));
        admission.setTrustedProxies(proxies);
        admission.setHosts(hosts);
        const auto request = [](const QString& peer, QList<QPair<QByteArray, QByteArray>> h) {
            WebRequest r;
            r.address = peer;
            r.headers = std::move(h);
            return r;
        };
        // The client.
        QCOMPARE(admission.client(request(u"192.0.2.1"_s, {{"x-forwarded-for", "203.0.113.9"}})),
                 u"192.0.2.1"_s); // no trusted proxy: the header is nobody's word
        QCOMPARE(admission.client(request(u"127.0.0.1"_s, {})), u"127.0.0.1"_s);
        QCOMPARE(admission.client(
                     request(u"127.0.0.1"_s, {{"x-forwarded-for", "1.1.1.1, 203.0.113.9"}})),
                 u"203.0.113.9"_s); // what the client itself wrote in front is not believed
        QCOMPARE(admission.client(
                     request(u"127.0.0.1"_s, {{"x-forwarded-for", "203.0.113.9, 10.1.2.3"}})),
                 u"203.0.113.9"_s); // a chain of trusted proxies
        QCOMPARE(admission.client(request(u"127.0.0.1"_s, {{"x-forwarded-for", "1.1.1.1"},
                                                           {"x-forwarded-for", "[2001:db8::5]"}})),
                 u"2001:db8::5"_s);
        QCOMPARE(
            admission.client(request(u"127.0.0.1"_s, {{"x-forwarded-for", "203.0.113.9:4444"}})),
            u"203.0.113.9"_s);
        QCOMPARE(admission.client(request(u"127.0.0.1"_s,
                                          {{"x-forwarded-for", "203.0.113.9, garbage, 10.0.0.1"}})),
                 u"10.0.0.1"_s);

        // The site.
        const auto site = [&](const QString& peer, QList<QPair<QByteArray, QByteArray>> h) {
            return admission.site(request(peer, std::move(h))).value_or("-");
        };
        for (const QByteArray& host :
             {QByteArray("127.0.0.1"), QByteArray("127.0.0.1:8080"), QByteArray("LOCALHOST:8080"),
              QByteArray("localhost"), QByteArray("robot.example:1234"),
              QByteArray("panel.example:8443"), QByteArray("[::1]")})
            QCOMPARE(site(u"192.0.2.1"_s, {{"host", host}}), host.toLower());
        for (const QByteArray& host :
             {QByteArray(), QByteArray("evil.example"), QByteArray("127.0.0.1:9999"),
              QByteArray("127.0.0.2"), QByteArray("panel.example"), QByteArray("127.0.0.1:"),
              QByteArray("127.0.0.1:x"), QByteArray("[::1"), QByteArray("robot.example.evil"),
              QByteArray("::1")})
            QCOMPARE(site(u"192.0.2.1"_s, {{"host", host}}), QByteArray("-"));
        // X-Forwarded-Host from a trusted proxy only, and only a name the page answers to.
        QCOMPARE(
            site(u"192.0.2.1"_s, {{"host", "127.0.0.1"}, {"x-forwarded-host", "robot.example"}}),
            QByteArray("127.0.0.1"));
        QCOMPARE(
            site(u"192.0.2.1"_s, {{"host", "evil.example"}, {"x-forwarded-host", "127.0.0.1"}}),
            QByteArray("-"));
        QCOMPARE(site(u"127.0.0.1"_s,
                      {{"host", "127.0.0.1:8080"}, {"x-forwarded-host", "Robot.Example"}}),
                 QByteArray("robot.example"));
        QCOMPARE(site(u"127.0.0.1"_s,
                      {{"host", "127.0.0.1:8080"}, {"x-forwarded-host", "evil.example"}}),
                 QByteArray("-"));

        // A wildcard address answers to the machine's own addresses and localhost.
        Admission everywhere;
        everywhere.setListenAddress(*parseListenAddress(u"0.0.0.0:8443"_s, &why));
        QVERIFY(everywhere.site(request(u"192.0.2.1"_s, {{"host", "localhost:8443"}})));
        QVERIFY(everywhere.site(request(u"192.0.2.1"_s, {{"host", "127.0.0.1"}})));
        QVERIFY(!everywhere.site(request(u"192.0.2.1"_s, {{"host", "192.0.2.200:8443"}})));
        QVERIFY(!everywhere.site(request(u"192.0.2.1"_s, {{"host", "evil.example:8443"}})));

        QCOMPARE(Admission::throttleGroup(u"127.0.0.1"_s), u"127.0.0.0/8"_s);
        QCOMPARE(Admission::throttleGroup(u"127.45.6.7"_s), u"127.0.0.0/8"_s);
        QCOMPARE(Admission::throttleGroup(u"192.0.2.7"_s), u"192.0.2.7"_s);
        QCOMPARE(Admission::throttleGroup(u"2001:db8:1:2:3:4:5:6"_s), u"2001:db8:1:2::/64"_s);
        QCOMPARE(Admission::throttleGroup(u"::1"_s), u"::1"_s);
    }

    // ---- the routes ----------------------------------------------------------------------------

    void loginWithTheKey()
    {
        Web w;
        const WebResponse page = w.request("GET", "/");
        QCOMPARE(page.status, 200);
        QVERIFY(page.contentType.startsWith("text/html"));
        const QString html = QString::fromUtf8(page.body);
        QVERIFY(html.contains(u"Hozzáférési kulcs:"_s));
        QVERIFY(html.contains(u"Belépés"_s));
        QVERIFY(!page.body.contains(kKey));
        QVERIFY(headerOf(page, "X-Frame-Options") == "DENY");

        const WebResponse wrong = w.login("0123");
        QCOMPARE(wrong.status, 401);
        QVERIFY(cookieOf(wrong).isEmpty());
        QVERIFY(QString::fromUtf8(wrong.body).contains(u"Hibás hozzáférési kulcs."_s));
        QVERIFY(w.consoleText().contains(u">> Web (192.0.2.7): hibás hozzáférési kulcs"_s));

        // The key as typed: blanks around it and capitals do not matter.
        const WebResponse right = w.login(" " + kKey.toUpper() + " ");
        QCOMPARE(right.status, 303);
        QCOMPARE(headerOf(right, "Location"), QByteArray("/"));
        const QByteArray setCookie = headerOf(right, "Set-Cookie");
        QVERIFY(setCookie.startsWith("vigilor_session="));
        QVERIFY(setCookie.contains("; HttpOnly"));
        QVERIFY(setCookie.contains("; SameSite=Strict"));
        QVERIFY(!setCookie.contains("Secure"));
        QVERIFY(w.consoleText().contains(u">> Web (192.0.2.7): belépés"_s));

        const WebResponse app = w.request("GET", "/", {}, {}, {{"cookie", cookieOf(right)}});
        QCOMPARE(app.status, 200);
        QVERIFY(app.body.contains("/app.js"));
        QVERIFY(QString::fromUtf8(app.body).contains(u"Banlista"_s));

        // JSON works as well as a form; under TLS the cookie is Secure.
        w.api.setSecure(true);
        const WebResponse json =
            w.request("POST", "/login", R"({"key":")" + kKey + R"("})", "application/json");
        QCOMPARE(json.status, 303);
        QVERIFY(headerOf(json, "Set-Cookie").contains("; Secure"));
    }

    // The wait answers an address's wrong keys at once; the right key is never held up by it,
    // and the console hears of an address's wrong keys once a minute.
    void wrongKeysMakeTheLoginWait()
    {
        Web w;
        const qsizetype before = w.robot.console().size();
        for (int i = 1; i < LoginThrottle::kMaxFailures; ++i)
            QCOMPARE(w.login("bad").status, 401);
        const WebResponse fifth = w.login("bad");
        QCOMPARE(fifth.status, 429);
        QVERIFY(QString::fromUtf8(fifth.body).contains(u"várj még 60 másodpercet"_s));
        for (int i = 0; i < 20; ++i)
            QCOMPARE(w.login("bad").status, 429);
        QCOMPARE(w.robot.console().size(), before + 1);
        QVERIFY(w.consoleText().endsWith(u">> Web (192.0.2.7): hibás hozzáférési kulcs"_s));
        // The right key gets in meanwhile, from that address too.
        w.now += 30000;
        const WebResponse waiting = w.login(kKey);
        QCOMPARE(waiting.status, 303);
        QVERIFY(!cookieOf(waiting).isEmpty());
        QCOMPARE(w.login(kKey, u"192.0.2.9"_s).status, 303);
        // The minute over, the rest is said with its count.
        w.api.sweep();
        QVERIFY(!w.consoleText().contains(u"24 hibás"_s));
        w.now += 30000;
        w.api.sweep();
        QVERIFY(w.consoleText().contains(u">> Web (192.0.2.7): 24 hibás hozzáférési kulcs"_s));
        const qsizetype said = w.robot.console().size();
        w.now += 120000;
        w.api.sweep();
        QCOMPARE(w.robot.console().size(), said);
        // Addresses of one machine are counted together: changing the address does not dodge it.
        for (int i = 0; i < LoginThrottle::kMaxFailures; ++i)
            w.login("bad", u"127.0.0.%1"_s.arg(i + 2));
        QCOMPARE(w.login("bad", u"127.9.9.9"_s).status, 429);
        QCOMPARE(w.login(kKey, u"127.9.9.9"_s).status, 303);
    }

    // Only the login page answers without a session; nothing that changes anything works without
    // the session's token, and a refused request changes nothing.
    void nothingWithoutSessionOrToken()
    {
        Web w;
        QVERIFY(w.roster(u"Kovacs"_s));
        const QStringList bans = w.robot.settings().banList();
        const qsizetype lines = w.robot.console().size();
        const QStringList commands = w.server.receivedCommands();

        for (const char* path : {"/app.js", "/app.css", "/api/state", "/api/console", "/live"})
            QCOMPARE(w.request("GET", path).status, 401);
        const QList<std::pair<QByteArray, QJsonObject>> acts = {
            {"/api/roster",
             {{u"item"_s, u"KickItem"_s},
              {u"slot"_s, u"3"_s},
              {u"name"_s, u"Kovacs"_s},
              {u"address"_s, u"10.0.0.3"_s}}},
            {"/api/command", {{u"command"_s, u"quit"_s}}},
            {"/api/say", {{u"text"_s, u"hello"_s}}},
            {"/api/bans/add", {{u"text"_s, u"Kovacs"_s}, {u"grade"_s, 0}}},
            {"/api/bans/grade", {{u"row"_s, 0}, {u"line"_s, u"0 x"_s}, {u"grade"_s, 1}}},
            {"/api/bans/remove", {{u"row"_s, 0}, {u"line"_s, u"0 x"_s}}},
            {"/logout", {}},
        };
        for (const auto& [path, body] : acts)
            QCOMPARE(
                w.request("POST", path, QJsonDocument(body).toJson(), "application/json").status,
                401);
        QCOMPARE(w.robot.console().size(), lines); // no act, so no console line

        QVERIFY(w.logIn());
        const qsizetype loggedIn = w.robot.console().size();
        for (const QByteArray& token : {QByteArray(), QByteArray("wrong"), w.token.left(63)}) {
            for (const auto& [path, body] : acts) {
                QList<QPair<QByteArray, QByteArray>> headers = {{"cookie", w.cookie}};
                if (!token.isEmpty())
                    headers.emplaceBack("x-vigilor-token", token);
                QCOMPARE(w.request("POST", path, QJsonDocument(body).toJson(), "application/json",
                                   headers)
                             .status,
                         403);
            }
        }
        // A page of another site cannot act through the browser, even with the token.
        QCOMPARE(w.request("POST", "/api/say", R"({"text":"x"})", "application/json",
                           {{"cookie", w.cookie},
                            {"x-vigilor-token", w.token},
                            {"origin", "http://evil.example"}})
                     .status,
                 403);
        // The live feed wants the token too, and a WebSocket.
        const QList<QPair<QByteArray, QByteArray>> upgrade = {{"cookie", w.cookie},
                                                              {"upgrade", "websocket"}};
        QCOMPARE(w.request("GET", "/live", {}, {}, upgrade).status, 403);
        QCOMPARE(w.request("GET", "/live?token=bad", {}, {}, upgrade).status, 403);
        QCOMPARE(w.request("GET", "/live?token=" + w.token, {}, {}, {{"cookie", w.cookie}}).status,
                 400);
        const WebResponse live = w.request("GET", "/live?token=" + w.token, {}, {}, upgrade);
        QVERIFY(live.upgrade);
        QCOMPARE(live.sessionId, w.cookie.mid(w.cookie.indexOf('=') + 1));

        QTest::qWait(100);
        QCOMPARE(w.robot.settings().banList(), bans);
        QCOMPARE(w.robot.console().size(), loggedIn);
        QCOMPARE(w.server.receivedCommands().filter(u"clientkick"_s),
                 commands.filter(u"clientkick"_s));
        QVERIFY(!w.server.receivedCommands().contains(u"quit"_s));
    }

    void badRequestsAreRefusedAndChangeNothing()
    {
        Web w;
        QVERIFY(w.logIn());
        const QStringList bans = w.robot.settings().banList();
        const qsizetype lines = w.robot.console().size();
        const QList<QPair<QByteArray, QByteArray>> auth = {{"cookie", w.cookie},
                                                           {"x-vigilor-token", w.token}};
        const auto post = [&](const QByteArray& path, const QByteArray& body,
                              const QByteArray& type = "application/json") {
            return w.request("POST", path, body, type, auth).status;
        };
        QCOMPARE(post("/api/bans/add", R"({"text":"x","grade":0)"), 400); // broken JSON
        QCOMPARE(post("/api/bans/add", R"(["x",0])"), 400);               // not an object
        QCOMPARE(post("/api/bans/add", R"({"text":"x"})"), 400);          // a field missing
        QCOMPARE(post("/api/bans/add", R"({"text":"x","grade":7})"), 400);
        QCOMPARE(post("/api/bans/add", R"({"text":"x","grade":1.5})"), 400);
        QCOMPARE(post("/api/bans/add", R"({"text":5,"grade":0})"), 400);
        QCOMPARE(post("/api/bans/add", R"({"text":"","grade":0})"), 400);
        QCOMPARE(post("/api/bans/add", "{\"text\":\"a\\nb\",\"grade\":0}"), 400);
        QCOMPARE(post("/api/bans/remove", R"({"row":-1,"line":"0 x"})"), 400);
        QCOMPARE(post("/api/command", "{\"command\":\"say a\\nquit\"}"), 400);
        QCOMPARE(
            post("/api/roster", R"({"item":"KickItem","slot":"3; quit","name":"K","address":""})"),
            400);
        QCOMPARE(post("/api/roster", R"({"item":"Nothing","slot":"3","name":"K","address":""})"),
                 400);
        QCOMPARE(post("/api/bans/add", "text=x&grade=0", "application/x-www-form-urlencoded"), 415);
        QCOMPARE(post("/api/bans/add", QByteArray(WebApi::kMaxBody + 1, ' ')), 413);
        QCOMPARE(post("/api/nothing", "{}"), 404);
        QCOMPARE(w.request("GET", "/etc/passwd", {}, {}, auth).status, 404);
        const WebResponse wrongMethod = w.request("GET", "/api/command", {}, {}, auth);
        QCOMPARE(wrongMethod.status, 405);
        QCOMPARE(headerOf(wrongMethod, "Allow"), QByteArray("POST"));
        QCOMPARE(w.request("DELETE", "/api/bans/add", {}, {}, auth).status, 405);
        QCOMPARE(w.request("PUT", "/", {}, {}, auth).status, 405);
        QCOMPARE(w.robot.settings().banList(), bans);
        QCOMPARE(w.robot.console().size(), lines);
    }

    // The table's menu acts on the player it was offered for, and on no one who took his slot
    // since.
    void rosterActsOnTheOfferedPlayer()
    {
        Web w;
        QVERIFY(w.logIn());
        QVERIFY(w.roster(u"Kovacs"_s));
        const QJsonObject state =
            jsonOf(w.request("GET", "/api/state", {}, {}, {{"cookie", w.cookie}}));
        QCOMPARE(state.value(u"players"_s).toInt(), 2);
        QCOMPARE(state.value(u"link"_s).toObject().value(u"text"_s).toString(), u"Csatlakozva"_s);
        QCOMPARE(state.value(u"link"_s).toObject().value(u"address"_s).toString(),
                 u"127.0.0.1:"_s + QString::number(w.server.port()));
        const QJsonArray kovacs = state.value(u"rows"_s).toArray().at(0).toArray();
        QCOMPARE(kovacs.at(0).toString(), u"3"_s);
        QCOMPARE(kovacs.at(3).toString(), u"Kovacs"_s);
        QCOMPARE(kovacs.at(4).toString(), u"10.0.0.3"_s);
        const QJsonObject captions = state.value(u"captions"_s).toObject();
        QCOMPARE(captions.value(u"columns"_s).toArray().at(3).toString(), u"Név"_s);
        QStringList menu;
        for (const QJsonValue item : captions.value(u"menu"_s).toArray())
            menu << item.toObject().value(u"caption"_s).toString();
        for (const QString& caption :
             {u"Kirúgás"_s, u"Kitiltás (név alapján)"_s, u"Kitiltás (IP alapján)"_s,
              u"----- AWE szükséges -----"_s, u"Kill (min AWE 2.1x)"_s,
              u"Felrobbant (min AWE 2.1x)"_s, u"Csapat váltás (min AWE 2.1x)"_s,
              u"Nézelődő (min AWE 2.1x)"_s})
            QVERIFY2(menu.contains(caption), qPrintable(caption));

        const QJsonObject offered = {{u"item"_s, u"KickItem"_s},
                                     {u"slot"_s, u"3"_s},
                                     {u"name"_s, u"Kovacs"_s},
                                     {u"address"_s, u"10.0.0.3"_s}};
        QCOMPARE(w.act("/api/roster", offered).status, 200);
        QVERIFY(w.consoleText().contains(
            u">> Web (192.0.2.7): Kirúgás – 3. slot: Kovacs (10.0.0.3)"_s));
        QVERIFY(w.received(u"clientkick 3"_s));
        const qsizetype kicks = w.server.receivedCommands().count(u"clientkick 3"_s);

        // Slot 3 is someone else's by now: the act offered for Kovacs is left undone.
        w.server.setPlayers({player(3, u"Masik"_s, u"10.0.0.33:28960"_s)});
        QVERIFY(w.roster(u"Masik"_s));
        QJsonObject smite = offered;
        smite[u"item"_s] = u"Smite1"_s;
        for (const QJsonObject& body : {offered, smite}) {
            const WebResponse stale = w.act("/api/roster", body);
            QCOMPARE(stale.status, 409);
            QCOMPARE(jsonOf(stale).value(u"error"_s).toString(),
                     u"A művelet elmarad: a 3. slotban már nem Kovacs van"_s);
        }
        QTest::qWait(200);
        QCOMPARE(w.server.receivedCommands().count(u"clientkick 3"_s), kicks);
        QVERIFY(!w.server.receivedCommands().contains(u"g_smite 3"_s));

        // A ban acts on the text offered, as the window's menu does.
        QJsonObject ban = offered;
        ban[u"item"_s] = u"BanIPItem"_s;
        QCOMPARE(w.act("/api/roster", ban).status, 200);
        QVERIFY(w.robot.settings().banList().contains(u"0 10.0.0.3"_s));
    }

    void consoleAndChat()
    {
        Web w;
        QVERIFY(w.logIn());
        QCOMPARE(w.act("/api/command", {{u"command"_s, u"serverinfo"_s}}).status, 200);
        QVERIFY(w.consoleText().contains(u">> Web (192.0.2.7): Küldés: serverinfo"_s));
        QVERIFY(w.received(u"serverinfo"_s));
        // A new rcon password never reaches the console in clear text.
        QCOMPARE(w.act("/api/command", {{u"command"_s, u"say rconpassword newpw"_s}}).status, 200);
        QVERIFY(w.consoleText().contains(u"Web (192.0.2.7): Küldés: say rconpassword *****"_s));
        QVERIFY(!w.consoleText().contains(u"newpw"_s));

        QCOMPARE(w.act("/api/say", {{u"text"_s, u"szia"_s}}).status, 200);
        QVERIFY(w.consoleText().contains(u">> Web (192.0.2.7): Mondd: szia"_s));
        QVERIFY(QTest::qWaitFor(
            [&] { return w.server.sayLines().contains(u"^1vigilor^2> ^7szia"_s); }, 5000));
        QCOMPARE(w.act("/api/say", {{u"text"_s, QString()}}).status, 400);
        // Behind a trusted reverse proxy the page's own site comes as X-Forwarded-Host, and the
        // client's address as X-Forwarded-For; from anyone else neither counts.
        const QList<QPair<QByteArray, QByteArray>> proxied = {{"cookie", w.cookie},
                                                              {"x-vigilor-token", w.token},
                                                              {"origin", "https://robot.example"},
                                                              {"x-forwarded-host", "robot.example"},
                                                              {"x-forwarded-for", "203.0.113.9"}};
        QCOMPARE(w.request("POST", "/api/say", R"({"text":"proxy"})", "application/json", proxied)
                     .status,
                 403);
        Admission behind = w.api.admission();
        behind.setTrustedProxies(Admission::parseProxies(kFrom, nullptr));
        behind.setHosts({u"robot.example"_s});
        w.api.setAdmission(behind);
        QCOMPARE(w.request("POST", "/api/say", R"({"text":"proxy"})", "application/json", proxied)
                     .status,
                 200);
        QVERIFY(w.consoleText().contains(u">> Web (203.0.113.9): Mondd: proxy"_s));
        behind.setTrustedProxies({});
        w.api.setAdmission(behind);

        // As the window's boxes, they act only while the link is up.
        w.robot.link().connectAction();
        settle(w.robot.link());
        QVERIFY(QTest::qWaitFor([&] { return !w.robot.link().isConnected(); }, 8000));
        const WebResponse down = w.act("/api/command", {{u"command"_s, u"status"_s}});
        QCOMPARE(down.status, 409);
        QCOMPARE(jsonOf(down).value(u"error"_s).toString(),
                 u"A művelet elmarad: a robot nincs csatlakozva a szerverhez"_s);
        QVERIFY(w.robot.console().lines().constLast().endsWith(
            u">> A művelet elmarad: a robot nincs csatlakozva a szerverhez"_s));
        const QJsonObject state =
            jsonOf(w.request("GET", "/api/state", {}, {}, {{"cookie", w.cookie}}));
        QCOMPARE(state.value(u"link"_s).toObject().value(u"text"_s).toString(), u"Lecsatlakozva"_s);

        // The console's last lines, from where the page asks.
        const QJsonObject console =
            jsonOf(w.request("GET", "/api/console?from=2", {}, {}, {{"cookie", w.cookie}}));
        QCOMPARE(console.value(u"first"_s).toInteger(), 2);
        QCOMPARE(console.value(u"size"_s).toInteger(), w.robot.console().size());
        QCOMPARE(console.value(u"lines"_s).toArray().size(), w.robot.console().size() - 2);
        QCOMPARE(console.value(u"lines"_s).toArray().last().toString(),
                 w.robot.console().lines().constLast());
    }

    // While a front end draws colours, the page gets the names and the console lines as the
    // server sent them; the table's name column, the acts, the window and the day's log keep
    // the text without codes.
    void namesAndLinesInTheirColours()
    {
        Web w;
        w.server.setPlayers({player(3, u"^1Ko^7vacs"_s, u"10.0.0.3:28960"_s),
                             player(5, u"Nagy"_s, u"10.0.0.5:28960"_s)});
        w.robot.intake().setKeepColours(true);
        QVERIFY(w.logIn());
        QVERIFY(w.roster(u"Kovacs"_s));
        const auto rows = [&] {
            return jsonOf(w.request("GET", "/api/state", {}, {}, {{"cookie", w.cookie}}))
                .value(u"rows"_s)
                .toArray();
        };
        QCOMPARE(rows().at(0).toArray().at(3).toString(), u"Kovacs"_s);
        QCOMPARE(rows().at(0).toArray().at(6).toString(), u"^1Ko^7vacs"_s);
        QCOMPARE(rows().at(1).toArray().at(6).toString(), u"Nagy"_s);

        const auto pageLines = [&] {
            QStringList lines;
            for (const QJsonValue line :
                 jsonOf(w.request("GET", "/api/console", {}, {}, {{"cookie", w.cookie}}))
                     .value(u"lines"_s)
                     .toArray())
                lines << line.toString();
            return lines.join(u'\n');
        };
        QVERIFY(pageLines().contains(u"^1Ko^7vacs"_s));
        QVERIFY(!w.consoleText().contains(u"^7vacs"_s));
        // A reply that is not the roster keeps its colours on the page too.
        w.server.setVariable(u"sv_hostname"_s, u"^2Gyakorlo ^7Szerver"_s);
        w.robot.link().enqueueCommand(u"sv_hostname"_s);
        QVERIFY(QTest::qWaitFor([&] { return w.consoleText().contains(u"Gyakorlo Szerver"_s); },
                                5000));
        QVERIFY(pageLines().contains(u"^2Gyakorlo ^7Szerver^7"_s));
        QVERIFY(!w.consoleText().contains(u"^7Szerver"_s));

        QCOMPARE(w.act("/api/roster", {{u"item"_s, u"KickItem"_s},
                                       {u"slot"_s, u"3"_s},
                                       {u"name"_s, u"Kovacs"_s},
                                       {u"address"_s, u"10.0.0.3"_s}})
                     .status,
                 200);
        QVERIFY(w.received(u"clientkick 3"_s));

        // Off again: the names as read, nothing more kept.
        w.robot.intake().setKeepColours(false);
        w.server.setPlayers({player(5, u"^2Nagy"_s, u"10.0.0.5:28960"_s)});
        const qsizetype before = w.robot.console().size();
        w.robot.link().enqueueCommand(u"status"_s);
        QVERIFY(QTest::qWaitFor([&] { return rows().size() == 1; }, 5000));
        QCOMPARE(rows().at(0).toArray().at(6).toString(), u"Nagy"_s);
        for (qsizetype i = before; i < w.robot.console().size(); ++i)
            QVERIFY(!w.robot.console().hasColours(i));
    }

    // The header's next task: none while the scheduler is off; then the earliest ahead, a
    // command's secret masked as the console masks it.
    void headerNamesTheNextTask()
    {
        Web w;
        QVERIFY(w.logIn());
        const auto next = [&] {
            return jsonOf(w.request("GET", "/api/state", {}, {}, {{"cookie", w.cookie}}))
                .value(u"nextTask"_s)
                .toObject();
        };
        w.clock.set(QDateTime(QDate(2026, 12, 9), QTime(10, 0)));
        w.robot.scheduler().append({u"Minden nap"_s, u"20:00:00"_s, u"Parancs végrehajtás"_s,
                                    u"rcon_password titok"_s});
        w.robot.scheduler().append(
            {u"2026.12.09."_s, u"12:30:00"_s, u"Parancs végrehajtás"_s, u"say ebed"_s});
        QVERIFY(next().isEmpty());
        w.robot.settings().setFlag(Key::Scheduler, true);
        QCOMPARE(next().value(u"at"_s).toString(),
                 text::dateTime(QDateTime(QDate(2026, 12, 9), QTime(12, 30))));
        QCOMPARE(next().value(u"text"_s).toString(), u"Parancs végrehajtás: say ebed"_s);
        w.clock.set(QDateTime(QDate(2026, 12, 9), QTime(13, 0)));
        QCOMPARE(next().value(u"at"_s).toString(),
                 text::dateTime(QDateTime(QDate(2026, 12, 9), QTime(20, 0))));
        QCOMPARE(next().value(u"text"_s).toString(),
                 u"Parancs végrehajtás: rcon_password ********"_s);
    }

    void consoleGivesItsLastThousandLines()
    {
        Web w;
        QVERIFY(w.logIn());
        for (int i = 0; i < 1500; ++i)
            w.robot.console().consoleLine(u"sor "_s + QString::number(i));
        const QJsonObject console =
            jsonOf(w.request("GET", "/api/console", {}, {}, {{"cookie", w.cookie}}));
        const QJsonArray lines = console.value(u"lines"_s).toArray();
        QCOMPARE(lines.size(), Binding::kConsoleTail);
        QVERIFY(lines.last().toString().endsWith(u">> sor 1499"_s));
        QCOMPARE(console.value(u"first"_s).toInteger(), w.robot.console().size() - 1000);
    }

    void banListEdits()
    {
        Web w;
        QVERIFY(w.logIn());
        w.robot.settings().setBanList({u"0 Alma"_s});
        QCOMPARE(w.act("/api/bans/add", {{u"text"_s, u"Rossz"_s}, {u"grade"_s, 2}}).status, 200);
        QCOMPARE(w.robot.settings().banList(), (QStringList{u"0 Alma"_s, u"2 Rossz"_s}));
        QVERIFY(w.consoleText().contains(u">> Web (192.0.2.7): Banlista +: 2 Rossz"_s));

        const QJsonArray shown =
            jsonOf(w.request("GET", "/api/state", {}, {}, {{"cookie", w.cookie}}))
                .value(u"bans"_s)
                .toArray();
        QCOMPARE(shown.at(1).toObject().value(u"line"_s).toString(), u"2 Rossz"_s);
        QCOMPARE(shown.at(1).toObject().value(u"grade"_s).toInt(), 2);

        // Named by row and line; a row that holds another line by now is found by its line.
        w.robot.settings().setBanList({u"0 Aaa"_s, u"0 Alma"_s, u"2 Rossz"_s});
        QCOMPARE(
            w.act("/api/bans/grade", {{u"row"_s, 1}, {u"line"_s, u"2 Rossz"_s}, {u"grade"_s, 4}})
                .status,
            200);
        QCOMPARE(w.robot.settings().banList(),
                 (QStringList{u"0 Aaa"_s, u"0 Alma"_s, u"4 Rossz"_s}));
        QVERIFY(w.consoleText().contains(u">> Web (192.0.2.7): Banlista fokozat: 2 Rossz -> 4"_s));
        const WebResponse gone =
            w.act("/api/bans/remove", {{u"row"_s, 2}, {u"line"_s, u"2 Rossz"_s}});
        QCOMPARE(gone.status, 409);
        QCOMPARE(jsonOf(gone).value(u"error"_s).toString(),
                 u"A művelet elmarad: a bejegyzés már nincs a banlistán: 2 Rossz"_s);
        QCOMPARE(w.robot.settings().banList().size(), 3);
        QCOMPARE(w.act("/api/bans/remove", {{u"row"_s, 0}, {u"line"_s, u"0 Alma"_s}}).status, 200);
        QCOMPARE(w.robot.settings().banList(), (QStringList{u"0 Aaa"_s, u"4 Rossz"_s}));
        QVERIFY(w.consoleText().contains(u">> Web (192.0.2.7): Banlista -: 0 Alma"_s));
    }

    // Data is shown as it is, even where it holds the rcon password's text; the secret is kept
    // out where it would appear: in the command that sets it and in the server's answer to
    // reading it, each shown with one fixed mark whatever its length.
    void secretsAreKeptOutNotSearchedFor()
    {
        Web w;
        w.robot.settings().setPassword(u"demo"_s);
        QVERIFY(w.logIn());
        w.robot.settings().setBanList({u"0 demolition crew"_s, u"0 Alma"_s});
        w.robot.console().appendText(u"\"rconpassword\" is:\"demo^7\" default:\"\"^7"_s);
        w.robot.console().consoleLine(u"this is a demo"_s);
        const QList<QPair<QByteArray, QByteArray>> auth = {{"cookie", w.cookie}};
        const QJsonObject state = jsonOf(w.request("GET", "/api/state", {}, {}, auth));
        const QJsonArray bans = state.value(u"bans"_s).toArray();
        QCOMPARE(bans.at(0).toObject().value(u"line"_s).toString(), u"0 demolition crew"_s);
        QCOMPARE(bans.at(0).toObject().value(u"text"_s).toString(), u"demolition crew"_s);
        const QStringList lines = [&] {
            QStringList out;
            for (const QJsonValue line :
                 jsonOf(w.request("GET", "/api/console", {}, {}, auth)).value(u"lines"_s).toArray())
                out << line.toString();
            return out;
        }();
        QVERIFY(lines.contains(u"\"rconpassword\" is:\"********\""_s));
        QVERIFY(lines.constLast().endsWith(u">> this is a demo"_s));
        // The entry as shown is the entry: it can be removed.
        QCOMPARE(
            w.act("/api/bans/remove", {{u"row"_s, 0}, {u"line"_s, u"0 demolition crew"_s}}).status,
            200);
        QCOMPARE(w.robot.settings().banList(), QStringList{u"0 Alma"_s});
        QVERIFY(w.consoleText().contains(u">> Web (192.0.2.7): Banlista -: 0 demolition crew"_s));

        // A password change from the page: the mark, whatever the length.
        for (const QString& fresh : {u"x"_s, u"egy nagyon hosszú jelszó"_s}) {
            const QString command = u"set rconpassword \""_s + fresh + u'"';
            QCOMPARE(w.act("/api/command", {{u"command"_s, command}}).status, 200);
            QVERIFY(w.consoleText().endsWith(
                u">> Web (192.0.2.7): Küldés: set rconpassword \"********\""_s));
        }
        QCOMPARE(link::maskedCommand(u"rcon_password  hunter2 x"_s), u"rcon_password  ********"_s);
        QCOMPARE(link::maskedCommand(u"RconPassword"_s), u"RconPassword"_s); // reads it
        QCOMPARE(link::maskedCommand(u"say demo"_s), u"say demo"_s);
        QCOMPARE(shownConsoleLine(u"\"RCON_PASSWORD\" is: \"abc^7\" default: \"^7\""_s),
                 u"\"RCON_PASSWORD\" is: \"********\""_s);

        // The access key is in no answer.
        QByteArray everything;
        for (const char* path : {"/", "/app.js", "/app.css", "/api/state", "/api/console"})
            everything += w.request("GET", path, {}, {}, auth).body;
        everything += w.request("GET", "/").body + w.login("bad", u"192.0.2.10"_s).body;
        QVERIFY(!everything.contains(kKey));
    }

    // HEAD is GET without the body; an act is 401 to a stranger, whatever the method; a foreign
    // site, named in Host or in Origin, gets nothing.
    void requestForms()
    {
        Web w;
        const WebResponse head = w.request("HEAD", "/");
        const WebResponse get = w.request("GET", "/");
        QCOMPARE(head.status, 200);
        QCOMPARE(head.body, get.body); // the server leaves it out, the length stays
        QCOMPARE(w.request("HEAD", "/api/state").status, 401);
        for (const char* method : {"GET", "PUT", "DELETE", "HEAD"})
            QCOMPARE(w.request(method, "/api/bans/add").status, 401);
        QVERIFY(w.logIn());
        const QList<QPair<QByteArray, QByteArray>> auth = {{"cookie", w.cookie},
                                                           {"x-vigilor-token", w.token}};
        const WebResponse wrong = w.request("GET", "/api/command", {}, {}, auth);
        QCOMPARE(wrong.status, 405);
        QCOMPARE(headerOf(wrong, "Allow"), QByteArray("POST"));
        QCOMPARE(headerOf(w.request("POST", "/", {}, {}, auth), "Allow"), QByteArray("GET, HEAD"));
        QCOMPARE(w.request("HEAD", "/api/state", {}, {}, auth).status, 200);

        const QByteArray body = R"({"text":"x","grade":0})";
        const QStringList bans = w.robot.settings().banList();
        for (const QByteArray& type :
             {QByteArray("application/jsonx"), QByteArray("application/json-patch+json"),
              QByteArray("text/plain"), QByteArray()})
            QCOMPARE(w.request("POST", "/api/bans/add", body, type, auth).status, 415);
        QCOMPARE(w.robot.settings().banList(), bans);
        QCOMPARE(w.request("POST", "/api/bans/add", body, "Application/JSON; charset=utf-8", auth)
                     .status,
                 200);

        // A foreign Host: 421 and nothing else, not even the login page or a console line.
        const qsizetype lines = w.robot.console().size();
        WebRequest rebound;
        rebound.method = "POST";
        rebound.target = "/login";
        rebound.address = kFrom;
        rebound.body = "key=" + kKey;
        rebound.headers = {{"host", "evil.example:8080"},
                           {"content-type", "application/x-www-form-urlencoded"}};
        const WebResponse refused = w.api.handle(rebound);
        QCOMPARE(refused.status, 421);
        QVERIFY(cookieOf(refused).isEmpty());
        QVERIFY(!refused.body.contains("Belépés"));
        rebound.headers = {{"host", "evil.example:8080"}, {"cookie", w.cookie}};
        rebound.method = "GET";
        rebound.target = "/api/state";
        QCOMPARE(w.api.handle(rebound).status, 421);
        QCOMPARE(w.robot.console().size(), lines);
        // The Origin must be the accepted site itself.
        QList<QPair<QByteArray, QByteArray>> origin = auth;
        origin.emplaceBack("origin", "http://127.0.0.1:8080");
        QCOMPARE(
            w.request("POST", "/api/say", R"({"text":"a"})", "application/json", origin).status,
            200);
        origin.last().second = "http://127.0.0.1:9090";
        QCOMPARE(
            w.request("POST", "/api/say", R"({"text":"a"})", "application/json", origin).status,
            403);
    }

    void logoutEndsTheSession()
    {
        Web w;
        QVERIFY(w.logIn());
        const WebResponse out = w.request("POST", "/logout", {}, {},
                                          {{"cookie", w.cookie}, {"x-vigilor-token", w.token}});
        QCOMPARE(out.status, 200);
        QVERIFY(headerOf(out, "Set-Cookie").contains("Max-Age=0"));
        QVERIFY(w.consoleText().contains(u">> Web (192.0.2.7): kilépés"_s));
        QCOMPARE(w.request("GET", "/api/state", {}, {}, {{"cookie", w.cookie}}).status, 401);
        QVERIFY(!w.api.sessionLive(w.cookie.mid(w.cookie.indexOf('=') + 1)));
        // Twelve idle hours end a session too.
        QVERIFY(w.logIn());
        w.now += Sessions::kIdleMs;
        QCOMPARE(w.request("GET", "/api/state", {}, {}, {{"cookie", w.cookie}}).status, 401);
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "test_web.moc"
