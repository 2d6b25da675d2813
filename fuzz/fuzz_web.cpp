// The web page's request handlers: the input is a run of requests, separated by NUL bytes, each
// a line "METHOD TARGET", header lines "name: value" up to an empty line, and the body. In the
// headers and the body "@cookie", "@token" and "@key" stand for the logged-in session's cookie,
// its anti-forgery token and the access key, so that every route is reachable. They reach the
// robot (its link queueing to a silent port; one per process, taken back to its known state after
// every input) as from the network, with two players in its table. A request without a Host
// line is sent to 127.0.0.1:8080, where the page listens; 192.0.2.7 is a trusted proxy, so that
// X-Forwarded-For and X-Forwarded-Host count. What must hold:
// - every answer has a status of 100-599 and never holds the access key or the rcon password,
//   unless an act's JSON gave its text (data is shown as it is);
// - a read (any method but POST) changes neither the ban list nor the command queue;
// - a POST without the session's token, or one refused (4xx), changes neither, and writes no
//   console line unless it is the login (a wrong key is on the record) or an act left undone
//   (409, on the record too);
// - what the acts changed is saved, the day's log holds the console, and the saved files read
//   back as the settings the robot holds.
#include "support/fuzzsupport.h"
#include "support/robotharness.h"
#include "web/admission.h"
#include "web/api.h"
#include "web/binding.h"
#include "web/listen.h"

#include <QJsonDocument>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    vigilor::fuzz::initialise(argc, argv);
    return 0;
}

namespace {

using namespace vigilor;
using namespace vigilor::fuzz;

const QByteArray kKey =
    QByteArrayLiteral("5f0c2b8e9a71d3c4e6f8a0b2c4d6e8f01357924680acebdf1122334455667788");

// Two players in the columns of a United Offensive server.
QStringList twoPlayers()
{
    QStringList lines = {QStringLiteral("map: mp_carentan"),
                         QStringLiteral("num score ping guid   name            lastmsg address "
                                        "              qport rate"),
                         QStringLiteral("--- ----- ---- ------ --------------- ------- "
                                        "--------------------- ----- -----")};
    const auto line = [](int slot, const char* name, const char* address) {
        return QString::asprintf("%3d %5d %4d %6d %-16s%7d %-22s%5d %5d", slot, 12, 48,
                                 100000 + slot, name, 0, address, 4000 + slot, 25000);
    };
    lines << line(3, "Kovacs", "10.0.0.3:28960") << line(5, "Nagy", "10.0.0.5:28960") << QString();
    return lines;
}

web::WebRequest parse(QByteArray raw, const QByteArray& cookie, const QByteArray& token)
{
    raw.replace("@cookie", cookie).replace("@token", token).replace("@key", kKey);
    web::WebRequest request;
    request.address = QStringLiteral("192.0.2.7");
    const qsizetype headEnd = raw.indexOf("\n\n");
    const QByteArray head = headEnd < 0 ? raw : raw.left(headEnd);
    request.body = headEnd < 0 ? QByteArray() : raw.mid(headEnd + 2);
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> first = lines.value(0).split(' ');
    request.method = first.value(0);
    request.target = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append(
                {lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed()});
    }
    if (request.header("host").isEmpty())
        request.headers.emplaceBack("host", "127.0.0.1:8080");
    return request;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    RobotHarness& harness = RobotHarness::instance();
    Robot& robot = harness.robot();
    const QByteArray password = RobotHarness::kPassword.toUtf8();
    robot.roster().setText(twoPlayers());
    robot.roster().refresh();
    {
        // A page served afresh: its sessions and login throttle begin empty.
        qint64 now = 0;
        web::Binding binding(web::Engine::of(robot));
        web::WebApi api(binding, kKey, [&now] { return now; });
        web::Admission admission;
        QString why;
        admission.setListenAddress(
            *web::parseListenAddress(QStringLiteral("127.0.0.1:8080"), &why));
        admission.setTrustedProxies(
            web::Admission::parseProxies(QStringLiteral("192.0.2.7"), nullptr));
        admission.setHosts({QStringLiteral("robot.example")});
        api.setAdmission(admission);

        // The session the input may use.
        web::WebRequest login;
        login.method = "POST";
        login.target = "/login";
        login.address = QStringLiteral("192.0.2.7");
        login.headers.emplaceBack("host", "127.0.0.1:8080");
        login.body = "key=" + kKey;
        const web::WebResponse in = api.handle(login);
        QByteArray cookie;
        for (const auto& [name, value] : in.headers)
            if (name == "Set-Cookie")
                cookie = value.left(value.indexOf(';'));
        const web::Session* session = api.sessions().find(cookie.mid(cookie.indexOf('=') + 1), now);
        FUZZ_CHECK(session, QStringLiteral("the login made no session"));
        const QByteArray sessionId = session->id;
        const QByteArray token = session->token;

        // Data is shown as it is: a secret an act's JSON gave (a ban entry, a chat line) may come
        // back; JSON may spell it with escapes, and written again its strings are plain.
        bool passwordGiven = false;
        bool keyGiven = false;
        for (const QByteArray& raw : bytesOf(data, size).split('\0')) {
            const web::WebRequest request = parse(raw, cookie, token);
            const QByteArray actData = QJsonDocument::fromJson(request.body).toJson();
            passwordGiven = passwordGiven || actData.contains(password);
            keyGiven = keyGiven || actData.contains(kKey);
            const QStringList bans = robot.settings().banList();
            const QStringList queue = robot.link().queue();
            const qsizetype lines = robot.console().size();
            const bool loginRoute = request.target.startsWith("/login");
            const bool withToken = request.header(web::WebApi::kTokenHeader) == token;

            const web::WebResponse answer = api.handle(request);
            now += 1000;

            const QString what = QString::fromLatin1(request.method + ' ' + request.target) +
                                 QStringLiteral(" -> ") + QString::number(answer.status);
            FUZZ_CHECK(answer.status >= 100 && answer.status <= 599, what);
            FUZZ_CHECK(keyGiven || !answer.body.contains(kKey), what);
            FUZZ_CHECK(passwordGiven || !answer.body.contains(password), what);
            for (const auto& [name, value] : answer.headers)
                FUZZ_CHECK(!value.contains(kKey) && !value.contains(password), what);

            const bool unchanged =
                robot.settings().banList() == bans && robot.link().queue() == queue;
            if (request.method != "POST" || (!withToken && !loginRoute) ||
                (answer.status >= 400 && answer.status < 500))
                FUZZ_CHECK(unchanged, what);
            if ((!withToken && !loginRoute) || (answer.status >= 400 && answer.status < 500 &&
                                                answer.status != 409 && !loginRoute))
                FUZZ_CHECK(robot.console().size() == lines, what);
            if (answer.upgrade)
                FUZZ_CHECK(request.wantsWebSocket() && answer.sessionId == sessionId, what);
        }
    }
    // What the acts changed is saved and reads back as the robot holds it; then the known state.
    harness.finish();
    return 0;
}
