// The web page over real sockets on 127.0.0.1: where it starts and why it does not, the live
// feed, TLS, and hostile clients (hundreds of idle connections, a request sent a byte at a time,
// a 10 MB body, clients that stop reading) while the robot paces its commands to the practice
// server. The hostile clients run on a thread of their own, as they would in other processes.
#include "support/robotfixture.h"
#include "web/api.h"
#include "web/server.h"
#include "web/webfront.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include <atomic>

using namespace vigilor;
using namespace vigilor::test;
using namespace vigilor::web;
using namespace Qt::StringLiterals;

namespace {

const QString kData = QStringLiteral(VIGILOR_WEB_TEST_DATA);

// Reads an HTTP answer until its head and the body its Content-Length announces are in, or the
// server closes; the event loop runs meanwhile.
QByteArray readAnswer(QTcpSocket& socket, int timeoutMs = 5000)
{
    QByteArray answer;
    (void)QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            const qsizetype end = answer.indexOf("\r\n\r\n");
            if (end >= 0) {
                const qsizetype at = answer.toLower().indexOf("content-length:");
                if (at >= 0 && at < end) {
                    const qsizetype lineEnd = answer.indexOf("\r\n", at);
                    const qsizetype length =
                        answer.mid(at + 15, lineEnd - at - 15).trimmed().toLongLong();
                    if (answer.size() >= end + 4 + length)
                        return true;
                }
            }
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
    return answer;
}

QByteArray exchange(quint16 port, const QByteArray& request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000))
        return {};
    socket.write(request);
    return readAnswer(socket);
}

QByteArray headerValue(const QByteArray& answer, const QByteArray& name)
{
    for (const QByteArray& line : answer.left(answer.indexOf("\r\n\r\n")).split('\n'))
        if (line.toLower().startsWith(QByteArray(name.toLower() + ':')))
            return line.mid(name.size() + 1).trimmed();
    return {};
}

QByteArray bodyOf(const QByteArray& answer)
{
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

QByteArray readKey(const QString& folder)
{
    QFile file(folder + u"web-token"_s);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// The robot connected to the practice server, with its web page on a free port of 127.0.0.1.
struct Served : RobotFixture
{
    WebFront front;
    QByteArray cookie; // "vigilor_session=..."
    QByteArray token;

    explicit Served(const Limits& limits = {}, const LiveFeed::Limits& feeds = {},
                    std::optional<WebConfig> config = WebConfig{u"127.0.0.1:0"_s, {}, {}})
        : RobotFixture(u"rcon"_s), front(Engine::of(robot), std::move(config))
    {
        front.setLimits(limits, feeds);
        front.apply();
    }

    quint16 port() const { return front.port(); }
    QString consoleText() { return robot.console().lines().join(u'\n'); }

    QByteArray request(const QByteArray& method, const QByteArray& target,
                       const QByteArray& body = {}, const QByteArray& extra = {})
    {
        QByteArray r = method + ' ' + target +
                       " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port()) + "\r\n" +
                       extra;
        if (!cookie.isEmpty())
            r += "Cookie: " + cookie + "\r\n";
        if (!body.isEmpty() || method == "POST")
            r += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        return exchange(port(), r + "\r\n" + body);
    }

    bool logIn()
    {
        const QByteArray answer = request("POST", "/login", "key=" + readKey(dir.path() + u'/'),
                                          "Content-Type: application/x-www-form-urlencoded\r\n");
        const QByteArray set = headerValue(answer, "Set-Cookie");
        cookie = set.left(set.indexOf(';'));
        token = QJsonDocument::fromJson(bodyOf(request("GET", "/api/state")))
                    .object()
                    .value(u"token"_s)
                    .toString()
                    .toLatin1();
        return answer.startsWith("HTTP/1.1 303") && !token.isEmpty();
    }

    QNetworkRequest liveRequest(bool withCookie, const QByteArray& withToken) const
    {
        QNetworkRequest r(QUrl(u"ws://127.0.0.1:"_s + QString::number(port()) + u"/live?token="_s +
                               QString::fromLatin1(withToken)));
        if (withCookie)
            r.setRawHeader("Cookie", cookie);
        return r;
    }
};

// A WebSocket page: the messages it has been sent.
struct Page
{
    QWebSocket socket;
    QList<QJsonObject> messages;
    bool closed = false;

    explicit Page(const QNetworkRequest& request)
    {
        QObject::connect(
            &socket, &QWebSocket::binaryMessageReceived, &socket,
            [this](const QByteArray& data) { messages << QJsonDocument::fromJson(data).object(); });
        QObject::connect(&socket, &QWebSocket::disconnected, &socket, [this] { closed = true; });
        socket.open(request);
    }
    bool waitFor(const std::function<bool(const QJsonObject&)>& wanted, int timeoutMs = 5000)
    {
        return QTest::qWaitFor(
            [&] { return std::any_of(messages.begin(), messages.end(), wanted); }, timeoutMs);
    }
};

bool holdsLine(const QJsonObject& message, const QString& text)
{
    for (const QJsonValue line : message.value(u"lines"_s).toArray())
        if (line.toString().endsWith(text))
            return true;
    for (const QJsonValue line : message.value(u"console"_s).toObject().value(u"lines"_s).toArray())
        if (line.toString().endsWith(text))
            return true;
    return false;
}

// Hostile clients on a thread of their own. Results are read once the thread has stopped.
class Attackers final : public QObject
{
public:
    quint16 port = 0;
    QByteArray cookie;
    // Results.
    std::atomic<int> idleConnected = 0;
    std::atomic<int> idleClosed = 0;
    std::atomic<bool> lorisClosed = false;
    std::atomic<qint64> lorisSent = 0;
    std::atomic<bool> bigAnswered = false;
    std::atomic<bool> readerClosed = false;
    QByteArray bigAnswer;

    void start()
    {
        for (int i = 0; i < 200; ++i) {
            auto* idle = new QTcpSocket(this);
            connect(idle, &QTcpSocket::connected, this, [this] { ++idleConnected; });
            connect(idle, &QTcpSocket::disconnected, this, [this] { ++idleClosed; });
            idle->connectToHost(QHostAddress::LocalHost, port);
        }

        // A request's head, one byte every 100 ms.
        auto* loris = new QTcpSocket(this);
        connect(loris, &QTcpSocket::disconnected, this, [this] { lorisClosed = true; });
        auto* drip = new QTimer(this);
        const QByteArray head =
            "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + QByteArray(500, 'a');
        connect(drip, &QTimer::timeout, this, [this, loris, head] {
            if (loris->state() == QAbstractSocket::ConnectedState && lorisSent < head.size()) {
                loris->write(head.mid(lorisSent, 1));
                ++lorisSent;
            }
        });
        loris->connectToHost(QHostAddress::LocalHost, port);
        drip->start(100);

        // A 10 MB body, sent as fast as the server takes it.
        auto* big = new QTcpSocket(this);
        connect(big, &QTcpSocket::connected, this, [big] {
            const qint64 size = 10 * 1024 * 1024;
            big->write("POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                       "application/x-www-form-urlencoded\r\nContent-Length: " +
                       QByteArray::number(size) + "\r\n\r\n");
            big->write(QByteArray(size, 'k'));
        });
        connect(big, &QTcpSocket::readyRead, this, [this, big] {
            bigAnswer += big->readAll();
            if (bigAnswer.contains("\r\n\r\n"))
                bigAnswered = true;
        });
        big->connectToHost(QHostAddress::LocalHost, port);

        // Asks for the console again and again and never reads an answer.
        auto* reader = new QTcpSocket(this);
        reader->setReadBufferSize(1);
        connect(reader, &QTcpSocket::disconnected, this, [this] { readerClosed = true; });
        auto* ask = new QTimer(this);
        connect(ask, &QTimer::timeout, this, [this, reader] {
            if (reader->state() == QAbstractSocket::ConnectedState)
                reader->write("GET /api/console HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie +
                              "\r\n\r\n");
        });
        reader->connectToHost(QHostAddress::LocalHost, port);
        ask->start(50);
    }
};

} // namespace

class TestWebServer final : public QObject
{
    Q_OBJECT

private slots:
    void startsOnlyWhereItMay()
    {
        const auto refused = [](const WebConfig& config, const QString& why) {
            Served s({}, {}, config);
            if (s.front.running())
                return false;
            return s.consoleText().contains(u">> A webes felület nem indult el: "_s + why);
        };
        QVERIFY(refused({u"0.0.0.0:0"_s, {}, {}},
                        u"0.0.0.0:0 nem a gép saját címe, ott csak TLS-sel"_s));
        QVERIFY(refused({u"192.0.2.1:8080"_s, {}, {}}, u"192.0.2.1:8080 nem a gép saját címe"_s));
        QVERIFY(refused({u"sehol"_s, {}, {}}, u"hibás cím: \"sehol\""_s));
        QVERIFY(refused({u"127.0.0.1:0"_s, kData + u"/cert.pem"_s, {}},
                        u"a TLS-hez a tanúsítvány és a kulcs is kell"_s));
        QVERIFY(refused({u"127.0.0.1:0"_s, kData + u"/missing.pem"_s, kData + u"/key.pem"_s},
                        u"nem olvasható PEM tanúsítvány: "_s));
        QVERIFY(refused({u"127.0.0.1:0"_s, kData + u"/cert.pem"_s, kData + u"/cert.pem"_s},
                        u"nem olvasható PEM titkos kulcs: "_s));

        // A port already taken: the console says so, and the robot goes on as ever.
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        const QString where = u"127.0.0.1:"_s + QString::number(taken.serverPort());
        Served s({}, {}, WebConfig{where, {}, {}});
        QVERIFY(!s.front.running());
        QVERIFY(
            s.consoleText().contains(u">> A webes felület nem indult el: "_s + where + u": "_s));
        QVERIFY(!QFile::exists(s.path(u"web-token"_s))); // no key without a web page
        s.pointAtServer();
        s.robot.link().connectAction();
        settle(s.robot.link());
        s.robot.link().enqueueCommand(u"status"_s);
        QVERIFY(QTest::qWaitFor([&] { return s.server.receivedCommands().contains(u"status"_s); },
                                5000));
    }

    // The settings' [Web] keys start and stop it; the console names the address and the key's
    // file, never the key.
    void settingsTurnItOnAndOff()
    {
        Served s({}, {}, std::nullopt);
        QVERIFY(!s.front.running());
        s.robot.settings().setText(Key::WebListen, u"127.0.0.1:0"_s);
        QVERIFY(QTest::qWaitFor([&] { return s.front.running(); }, 3000));
        const QString path = s.path(u"web-token"_s);
        QVERIFY(s.consoleText().contains(u">> Webes felület: http://127.0.0.1:"_s +
                                         QString::number(s.port()) + u"/"_s));
        QVERIFY(s.consoleText().contains(
            u">> Új webes hozzáférési kulcs készült (csak a tulajdonos olvashatja): "_s + path));
        const QByteArray key = readKey(s.dir.path() + u'/');
        QCOMPARE(key.size(), 64);
        QVERIFY(!s.consoleText().contains(QString::fromLatin1(key)));
        QVERIFY(s.request("GET", "/").startsWith("HTTP/1.1 200"));

        s.robot.settings().setText(Key::WebListen, QString());
        QVERIFY(QTest::qWaitFor([&] { return !s.front.running(); }, 3000));
        QVERIFY(s.consoleText().contains(u">> A webes felület leállt."_s));

        // The command line's address holds for the run, whatever the settings say.
        Served fixed({}, {}, WebConfig{u"127.0.0.1:0"_s, {}, {}});
        const quint16 port = fixed.port();
        QVERIFY(port != 0);
        fixed.robot.settings().setText(Key::WebListen, u"sehol"_s);
        QTest::qWait(WebFront::kRestartDelayMs + 300);
        QCOMPARE(fixed.port(), port);
        QVERIFY(fixed.consoleText().contains(u">> Webes hozzáférési kulcs: "_s) ||
                fixed.consoleText().contains(u"Új webes hozzáférési kulcs"_s));
    }

    void liveFeedNeedsTheSessionAndComesAtOnce()
    {
        Served s;
        QVERIFY(s.logIn());
        s.robot.console().consoleLine(u"a sor a belépés előtt"_s);
        Page page(s.liveRequest(true, s.token));
        QVERIFY(page.waitFor([](const QJsonObject& m) {
            return m.value(u"type"_s) == u"hello"_s &&
                   m.value(u"state"_s).toObject().value(u"link"_s).toObject().value(u"text"_s) ==
                       u"Lecsatlakozva"_s &&
                   holdsLine(m, u"a sor a belépés előtt"_s);
        }));

        QElapsedTimer sent;
        sent.start();
        s.robot.console().consoleLine(u"élő sor"_s);
        QVERIFY(page.waitFor(
            [](const QJsonObject& m) {
                return m.value(u"type"_s) == u"console"_s && holdsLine(m, u"élő sor"_s);
            },
            1000));
        QVERIFY(sent.elapsed() < 1000);
        s.robot.settings().setBanList({u"0 Valaki"_s});
        QVERIFY(page.waitFor([](const QJsonObject& m) {
            return m.value(u"type"_s) == u"state"_s &&
                   m.value(u"state"_s).toObject().value(u"bans"_s).toArray().size() == 1;
        }));

        // No feed without the session's cookie or without its token.
        for (const auto& [withCookie, token] :
             {std::pair{false, s.token}, std::pair{true, QByteArray("bad")},
              std::pair{true, QByteArray()}}) {
            Page stranger(s.liveRequest(withCookie, token));
            QTest::qWait(300);
            QVERIFY(stranger.messages.isEmpty());
            QVERIFY(stranger.socket.state() != QAbstractSocket::ConnectedState);
        }
        QCOMPARE(s.front.server()->feeds().size(), 1);

        // Logging out ends the session's feed at once.
        QVERIFY(s.request("POST", "/logout", {}, "X-Vigilor-Token: " + s.token + "\r\n")
                    .startsWith("HTTP/1.1 200"));
        QVERIFY(QTest::qWaitFor([&] { return page.closed; }, 3000));
        QCOMPARE(s.front.server()->feeds().size(), 0);
    }

    // A page that does not take what it is sent loses its feed; the others keep theirs.
    void slowPageLosesItsFeed()
    {
        LiveFeed::Limits feeds;
        feeds.maxBacklog = 256 * 1024;
        feeds.gatherMs = 5;
        Served s({}, feeds);
        QVERIFY(s.logIn());
        Page reading(s.liveRequest(true, s.token));

        QTcpSocket stalled;
        stalled.connectToHost(QHostAddress::LocalHost, s.port());
        QVERIFY(QTest::qWaitFor([&] { return stalled.state() == QAbstractSocket::ConnectedState; },
                                5000));
        stalled.write("GET /live?token=" + s.token + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                      QByteArray::number(s.port()) + "\r\nCookie: " + s.cookie +
                      "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                      "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QByteArray handshake;
        QVERIFY(QTest::qWaitFor(
            [&] {
                handshake += stalled.readAll();
                return handshake.contains("\r\n\r\n");
            },
            5000));
        QVERIFY(handshake.startsWith("HTTP/1.1 101"));
        stalled.setReadBufferSize(1); // from now on it takes nothing
        QVERIFY(QTest::qWaitFor([&] { return s.front.server()->feeds().size() == 2; }, 5000));

        const QString filler(300, u'x');
        for (int round = 0; round < 400 && s.front.server()->feeds().size() == 2; ++round) {
            for (int i = 0; i < 100; ++i)
                s.robot.console().consoleLine(filler);
            QTest::qWait(5);
        }
        QVERIFY(QTest::qWaitFor([&] { return s.front.server()->feeds().size() == 1; }, 5000));
        QVERIFY(s.consoleText().contains(
            u">> Web (127.0.0.1): élő adatfolyam lezárva: nem győzi fogadni az adatokat"_s));
        QVERIFY(!reading.closed);
        s.robot.console().consoleLine(u"utolsó"_s);
        QVERIFY(reading.waitFor([](const QJsonObject& m) { return holdsLine(m, u"utolsó"_s); }));
    }

    void hostileClientsDoNotHoldTheRobot()
    {
        Limits limits;
        limits.requestDeadlineMs = 1500;
        limits.sweepMs = 100;
        limits.maxUnsentBytes = 64 * 1024;
        Served s(limits);
        s.server.setFloodGuardMs(0);
        s.pointAtServer();
        s.robot.link().connectAction();
        settle(s.robot.link());
        QVERIFY(s.logIn());
        for (int i = 0; i < 1000; ++i)
            s.robot.console().consoleLine(QString(200, u'c'));

        QList<qint64> sends;
        QElapsedTimer clock;
        clock.start();
        connect(&s.robot.link(), &link::Link::commandSent, this,
                [&](const QString&) { sends << clock.elapsed(); });

        // The attackers live and die on their thread, whatever the test's outcome.
        QThread thread;
        auto* attackers = new Attackers;
        attackers->port = s.port();
        attackers->cookie = s.cookie;
        attackers->moveToThread(&thread);
        connect(&thread, &QThread::finished, attackers, &QObject::deleteLater);
        thread.start();
        const auto stopThread = qScopeGuard([&thread] {
            thread.quit();
            thread.wait();
        });
        QMetaObject::invokeMethod(attackers, [attackers] { attackers->start(); });

        // The robot's own work meanwhile: ten commands at the pacer's 600 ms, each answered.
        for (int i = 0; i < 10; ++i)
            s.robot.link().enqueueCommand(u"serverinfo"_s);
        QVERIFY(QTest::qWaitFor([&] { return sends.size() >= 10; }, 15000));
        QVERIFY(QTest::qWaitFor(
            [&] { return s.server.receivedCommands().count(u"serverinfo"_s) == 10; }, 5000));
        qint64 widest = 0;
        for (qsizetype i = 1; i < sends.size(); ++i)
            widest = std::max(widest, sends[i] - sends[i - 1]);
        qInfo("the widest gap between two sends: %lld ms (the pacer's period: %d ms)",
              static_cast<long long>(widest), link::Link::kStartPacerMs);
        QVERIFY2(widest < link::Link::kStartPacerMs + 400, qPrintable(QString::number(widest)));

        // What became of the attackers.
        QVERIFY(QTest::qWaitFor([&] { return attackers->bigAnswered.load(); }, 10000));
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return attackers->lorisClosed && attackers->readerClosed &&
                                attackers->idleClosed == 200;
                     },
                     10000),
                 qPrintable(u"loris %1 reader %2 idle %3"_s.arg(attackers->lorisClosed.load())
                                .arg(attackers->readerClosed.load())
                                .arg(attackers->idleClosed.load())));
        QCOMPARE(attackers->idleConnected.load(), 200);
        QVERIFY(attackers->lorisSent < 600); // cut off long before its head was whole
        QMetaObject::invokeMethod(
            attackers, [&] { QVERIFY(attackers->bigAnswer.startsWith("HTTP/1.1 413")); },
            Qt::BlockingQueuedConnection);
        QVERIFY(QTest::qWaitFor([&] { return s.front.server()->guard().connectionCount() == 0; },
                                5000));

        // And the page still answers.
        QVERIFY(s.request("GET", "/api/state").startsWith("HTTP/1.1 200"));
    }

    // A client that asks for it, or speaks HTTP/1.0, has its connection closed after the answer
    // (the deadline here is far beyond the wait); others keep theirs. HEAD is GET without the
    // body; a foreign Host gets 421.
    void connectionsCloseWhenAsked()
    {
        Limits limits;
        limits.requestDeadlineMs = 600000;
        Served s(limits);
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(s.port()) + "\r\n";
        const auto open = [&](QTcpSocket& socket) {
            socket.connectToHost(QHostAddress::LocalHost, s.port());
            return QTest::qWaitFor(
                [&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000);
        };
        for (const QByteArray& request : QList<QByteArray>{
                 "GET / HTTP/1.0\r\n\r\n", "GET / HTTP/1.0\r\n" + host + "\r\n",
                 "GET / HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n",
                 "GET / HTTP/1.1\r\n" + host + "Connection: Upgrade, Close\r\n\r\n"}) {
            QTcpSocket socket;
            QVERIFY(open(socket));
            socket.write(request);
            const QByteArray answer = readAnswer(socket);
            QVERIFY2(answer.startsWith("HTTP/1.1 200") || answer.startsWith("HTTP/1.1 421"),
                     answer.left(40).constData());
            if (answer.startsWith("HTTP/1.1 200"))
                QCOMPARE(headerValue(answer, "Connection"), QByteArray("close"));
            QVERIFY2(QTest::qWaitFor(
                         [&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000),
                     request.constData());
        }
        // Kept: HTTP/1.1, and HTTP/1.0 that asks for it; each answers a second request.
        for (const QByteArray& request :
             QList<QByteArray>{"GET / HTTP/1.1\r\n" + host + "\r\n",
                               "GET / HTTP/1.0\r\n" + host + "Connection: keep-alive\r\n\r\n"}) {
            QTcpSocket socket;
            QVERIFY(open(socket));
            socket.write(request);
            QVERIFY(readAnswer(socket).startsWith("HTTP/1.1 200"));
            QTest::qWait(300);
            QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
            socket.write(request);
            QVERIFY(readAnswer(socket).startsWith("HTTP/1.1 200"));
        }
        QVERIFY(QTest::qWaitFor([&] { return s.front.server()->guard().connectionCount() == 0; },
                                5000));

        const QByteArray get = s.request("GET", "/");
        QTcpSocket socket;
        QVERIFY(open(socket));
        socket.write("HEAD / HTTP/1.1\r\n" + host + "\r\n");
        QByteArray head;
        QVERIFY(QTest::qWaitFor(
            [&] {
                head += socket.readAll();
                return head.contains("\r\n\r\n");
            },
            5000));
        QTest::qWait(200);
        head += socket.readAll();
        QVERIFY(head.startsWith("HTTP/1.1 200"));
        QCOMPARE(headerValue(head, "Content-Length"), QByteArray::number(bodyOf(get).size()));
        QVERIFY(bodyOf(head).isEmpty());

        QTcpSocket rebound;
        QVERIFY(open(rebound));
        rebound.write("GET / HTTP/1.1\r\nHost: evil.example:" + QByteArray::number(s.port()) +
                      "\r\n\r\n");
        const QByteArray foreign = readAnswer(rebound);
        QVERIFY(foreign.startsWith("HTTP/1.1 421"));
        QVERIFY(!bodyOf(foreign).contains("Belépés"));
    }

    void tlsServesThePage()
    {
        if (!QSslSocket::supportsSsl())
            QSKIP("no TLS library");
        Limits limits;
        limits.requestDeadlineMs = 1000;
        limits.sweepMs = 100;
        Served s(limits, {},
                 WebConfig{u"127.0.0.1:0"_s, kData + u"/cert.pem"_s, kData + u"/key.pem"_s});
        QVERIFY(s.front.running());
        QVERIFY(s.consoleText().contains(u">> Webes felület: https://127.0.0.1:"_s));

        const auto tlsExchange = [&](const QByteArray& request) {
            QSslSocket socket;
            socket.setPeerVerifyMode(QSslSocket::VerifyNone);
            socket.connectToHostEncrypted(u"127.0.0.1"_s, s.port());
            if (!QTest::qWaitFor([&] { return socket.isEncrypted(); }, 5000))
                return QByteArray();
            socket.write(request);
            return readAnswer(socket);
        };
        const QByteArray page = tlsExchange("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QVERIFY(page.startsWith("HTTP/1.1 200"));
        QVERIFY(bodyOf(page).contains("Belépés"));
        const QByteArray key = "key=" + readKey(s.dir.path() + u'/');
        const QByteArray login =
            tlsExchange("POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                        "application/x-www-form-urlencoded\r\nContent-Length: " +
                        QByteArray::number(key.size()) + "\r\n\r\n" + key);
        QVERIFY(login.startsWith("HTTP/1.1 303"));
        QVERIFY(headerValue(login, "Set-Cookie").endsWith("; Secure"));

        // Plain HTTP on the TLS port, or no handshake at all, gets nothing and is let go.
        QTcpSocket plain;
        plain.connectToHost(QHostAddress::LocalHost, s.port());
        QVERIFY(QTest::qWaitFor([&] { return plain.state() == QAbstractSocket::ConnectedState; },
                                5000));
        QVERIFY(QTest::qWaitFor([&] { return plain.state() == QAbstractSocket::UnconnectedState; },
                                5000));

        // With TLS, an address other than the machine's own may be listened on.
        Served everywhere({}, {},
                          WebConfig{u"0.0.0.0:0"_s, kData + u"/cert.pem"_s, kData + u"/key.pem"_s});
        QVERIFY(everywhere.front.running());
    }
};

QTEST_GUILESS_MAIN(TestWebServer)
#include "test_webserver.moc"
