// The practice server is what the robot's network tests and the demo talk to, so these tests
// hold it to the real game servers' wire behaviour over real UDP sockets on 127.0.0.1.

#include "support/processend.h"
#include "testserver/demo.h"
#include "testserver/playerfile.h"
#include "testserver/rconserver.h"
#include "text/cp1250.h"
#include "text/textutil.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace {

// Ends the executable as the system asks it to: SIGTERM on Linux; on Windows the end of the
// session, since a program without a window takes no WM_CLOSE (QProcess::terminate).
void askToEnd(QProcess& process)
{
#ifdef Q_OS_WIN
    vigilor::test::askToEnd(process, vigilor::test::EndRequest::Terminate);
#else
    process.terminate();
#endif
}

} // namespace

using namespace Qt::StringLiterals;
using namespace vigilor::testserver;
using vigilor::text::fromCp1250;
using vigilor::text::stripColours;
using vigilor::text::toCp1250;

namespace {

const QByteArray kHeader = QByteArrayLiteral("\xFF\xFF\xFF\xFFprint\n");

QByteArray request(const QString& password, const QString& command)
{
    return QByteArrayLiteral("\xFF\xFF\xFF\xFFrcon \"") + toCp1250(password) + "\" " +
           toCp1250(command);
}

// The remote console's side: sends requests and gathers the answers while the event loop runs
// (the server lives in the same thread).
class Client final
{
public:
    explicit Client(quint16 serverPort) : m_serverPort(serverPort)
    {
        QVERIFY(m_socket.bind(QHostAddress::LocalHost, 0));
    }

    quint16 port() const { return m_socket.localPort(); }
    void send(const QByteArray& datagram)
    {
        m_socket.writeDatagram(datagram, QHostAddress::LocalHost, m_serverPort);
    }
    void ask(const QString& command, const QString& password = u"secret"_s)
    {
        send(request(password, command));
    }

    // Datagrams until done(all so far) holds or timeoutMs passes.
    QList<QByteArray> receive(const std::function<bool(const QList<QByteArray>&)>& done,
                              int timeoutMs = 3000)
    {
        QList<QByteArray> got;
        QElapsedTimer clock;
        clock.start();
        while (!done(got) && clock.elapsed() < timeoutMs) {
            QTest::qWait(5);
            while (m_socket.hasPendingDatagrams())
                got.append(m_socket.receiveDatagram().data());
        }
        return got;
    }
    QList<QByteArray> receive(int count, int timeoutMs = 3000)
    {
        return receive([count](const QList<QByteArray>& g) { return g.size() >= count; },
                       timeoutMs);
    }
    // Everything that arrives within a quiet while; used to show that nothing comes.
    QList<QByteArray> receiveFor(int ms)
    {
        return receive([](const QList<QByteArray>&) { return false; }, ms);
    }

    // The text of a one-datagram reply, or a marker when it is missing or malformed.
    QString answer(const QString& command, const QString& password = u"secret"_s)
    {
        ask(command, password);
        const QList<QByteArray> got = receive(1);
        if (got.size() != 1 || !got[0].startsWith(kHeader))
            return u"<no proper reply>"_s;
        return fromCp1250(QByteArrayView(got[0]).sliced(kHeader.size()));
    }

    // A whole status reply: the datagrams up to the one whose text ends in an empty line.
    QList<QByteArray> statusDatagrams()
    {
        ask(u"status"_s);
        return receive(
            [](const QList<QByteArray>& g) { return !g.isEmpty() && g.back().endsWith("\n\n"); });
    }

private:
    QUdpSocket m_socket;
    quint16 m_serverPort;
};

QString joinBodies(const QList<QByteArray>& datagrams)
{
    QByteArray all;
    for (const QByteArray& d : datagrams)
        all += d.mid(kHeader.size());
    return fromCp1250(all);
}

Player makePlayer(int slot, const QString& name, int score = 0, int ping = 50)
{
    Player p;
    p.slot = slot;
    p.name = name;
    p.score = score;
    p.ping = ping;
    p.address = u"192.0.2."_s % QString::number(slot % 250 + 1) % u":28960"_s;
    p.qport = 1000 + slot;
    p.guid = 500000 + slot;
    return p;
}

// Player lines of a status text, colour codes removed.
QStringList playerLines(const QString& status)
{
    const QStringList lines = vigilor::text::splitLines(status);
    QStringList players;
    for (qsizetype i = 3; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            players.append(stripColours(lines[i]));
    }
    return players;
}

} // namespace

class TestTestServer final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requestsAndPasswords_data();
    void requestsAndPasswords();
    void passwordWithBlanksAndAccents();
    void ignoredDatagramsAreLogged();

    void statusLayout();
    void statusReflectsScriptChanges();
    void longStatusIsChunked();
    void noGuidLayout();
    void layoutSelectsTheGame();
    void noGuidStatusCutBetweenPrints();

    void variableDescription_data();
    void variableDescription();
    void variableSetting();

    void sayAndAcknowledgedCommands();
    void clientKick();
    void dumpUserAndServerInfo_data();
    void dumpUserAndServerInfo();

    void floodGuard();
    void droppingAndHolding();
    void lastChunkDropped();
    void quitClosesThePortUntilRestarted();

    void playersFile();
    void demoEvolution();
    void executable_data();
    void executable();
    void executableLayouts();

private:
    std::unique_ptr<RconServer> m_server;
    std::unique_ptr<Client> m_client;
};

void TestTestServer::init()
{
    m_server = std::make_unique<RconServer>();
    m_server->setPassword(u"secret"_s);
    m_server->setFloodGuardMs(0);
    QVERIFY(m_server->start());
    QVERIFY(m_server->port() != 0);
    QVERIFY(m_server->isRunning());
    m_client = std::make_unique<Client>(m_server->port());
}

void TestTestServer::cleanup()
{
    m_client.reset();
    m_server.reset();
}

void TestTestServer::requestsAndPasswords_data()
{
    QTest::addColumn<RconServer::Variant>("variant");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QStringList>("commands");

    const auto uo = RconServer::Variant::UnitedOffensive;
    const auto cod2 = RconServer::Variant::CallOfDuty2;
    const QByteArray ff = QByteArrayLiteral("\xFF\xFF\xFF\xFF");
    QTest::newRow("quoted password")
        << uo << request(u"secret"_s, u"nosuch arg"_s) << u"Unknown command \"nosuch\"\n"_s
        << QStringList{u"nosuch arg"_s};
    QTest::newRow("command case kept")
        << cod2 << request(u"secret"_s, u"NoSuch"_s) << u"Unknown command \"NoSuch\"\n"_s
        << QStringList{u"NoSuch"_s};
    QTest::newRow("unquoted password")
        << uo << QByteArray(ff + "rcon secret nosuch") << u"Unknown command \"nosuch\"\n"_s
        << QStringList{u"nosuch"_s};
    QTest::newRow("empty command")
        << uo << QByteArray(ff + "rcon \"secret\"") << QString() << QStringList{QString()};
    QTest::newRow("wrong password uo")
        << uo << request(u"wrong"_s, u"status"_s) << u"Bad rconpassword.\n"_s << QStringList{};
    QTest::newRow("wrong password cod2")
        << cod2 << request(u"wrong"_s, u"status"_s) << u"Invalid password.\n"_s << QStringList{};
    QTest::newRow("password is case-sensitive")
        << uo << request(u"Secret"_s, u"status"_s) << u"Bad rconpassword.\n"_s << QStringList{};
    QTest::newRow("password is a whole word") << cod2 << QByteArray(ff + "rcon secretx status")
                                              << u"Invalid password.\n"_s << QStringList{};
    QTest::newRow("wrong password cod")
        << RconServer::Variant::CallOfDuty << request(u"wrong"_s, u"status"_s)
        << u"Bad rconpassword.\n"_s << QStringList{};
}

void TestTestServer::requestsAndPasswords()
{
    QFETCH(RconServer::Variant, variant);
    QFETCH(QByteArray, datagram);
    QFETCH(QString, reply);
    QFETCH(QStringList, commands);
    m_server->setVariant(variant);
    QSignalSpy spy(m_server.get(), &RconServer::commandReceived);

    m_client->send(datagram);
    const QList<QByteArray> got = m_client->receive(1);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0], kHeader + toCp1250(reply));
    QCOMPARE(m_server->receivedCommands(), commands);
    QCOMPARE(spy.size(), commands.size());
    QCOMPARE(m_server->badPasswordCount(), commands.isEmpty() ? 1 : 0);
    QVERIFY(m_client->receiveFor(100).isEmpty()); // exactly one datagram
}

void TestTestServer::passwordWithBlanksAndAccents()
{
    // A quoted password may hold blanks; the command starts after the one blank behind it.
    m_server->setPassword(u"two words"_s);
    QCOMPARE(m_client->answer(u"nosuch"_s, u"two words"_s), u"Unknown command \"nosuch\"\n"_s);
    QCOMPARE(m_client->answer(u"nosuch"_s, u"two"_s), u"Bad rconpassword.\n"_s);
    // Characters outside ASCII travel as code page 1250 in both directions.
    m_server->setPassword(u"heslo-ř"_s);
    QCOMPARE(m_client->answer(u"žluť"_s, u"heslo-ř"_s), u"Unknown command \"žluť\"\n"_s);
    QCOMPARE(m_server->receivedCommands(), (QStringList{u"nosuch"_s, u"žluť"_s}));
}

void TestTestServer::ignoredDatagramsAreLogged()
{
    m_client->send(QByteArrayLiteral("\xFF\xFF\xFF\xFFgetstatus"));
    m_client->send(QByteArrayLiteral("rcon \"secret\" status"));
    m_client->send(QByteArrayLiteral("\xFF\xFF\xFF\xFFrcon\"secret\" status"));
    QVERIFY(m_client->receiveFor(200).isEmpty());
    m_client->ask(u"nosuch"_s);
    QCOMPARE(m_client->receive(1).size(), 1);

    const QList<RconServer::Datagram> log = m_server->datagrams();
    QCOMPARE(log.size(), 4);
    QCOMPARE(log[1].data, QByteArrayLiteral("rcon \"secret\" status"));
    for (qsizetype i = 0; i < log.size(); ++i) {
        QCOMPARE(log[i].peerPort, m_client->port());
        QVERIFY(log[i].peer.isLoopback());
        if (i > 0)
            QVERIFY(log[i].atMs >= log[i - 1].atMs);
    }
    QCOMPARE(m_server->receivedCommands(), QStringList{u"nosuch"_s});

    m_server->clearLog();
    QVERIFY(m_server->datagrams().isEmpty());
    QVERIFY(m_server->receivedCommands().isEmpty());
}

void TestTestServer::statusLayout()
{
    Player joe = makePlayer(3, u"Joe"_s, 12, 48);
    joe.guid = 123456;
    joe.address = u"10.0.0.7:28960"_s;
    joe.qport = 4321;
    Player coloured = makePlayer(12, u"^1Red^7Baron"_s, 345, 999);
    coloured.rate = 5000;
    Player connecting = makePlayer(7, u"Newbie"_s, -5);
    connecting.state = Player::Connecting;
    Player zombie = makePlayer(0, u"Gone"_s);
    zombie.state = Player::Zombie;
    const Player longName = makePlayer(99, u"^2Abcdefghijklmnopqrs"_s, 1);
    const Player accented = makePlayer(5, u"Jiří Žák"_s, 7, 5);
    m_server->setMap(u"mp_depot"_s);
    m_server->setPlayers({joe, coloured, connecting, zombie, longName, accented});

    const QList<QByteArray> got = m_client->statusDatagrams();
    QCOMPARE(got.size(), 1);
    QVERIFY(got[0].startsWith(kHeader));
    const QString status = joinBodies(got);
    QVERIFY(status.endsWith(u"25000\n\n"_s));
    const QStringList lines = status.split(u'\n');
    QCOMPARE(lines[0], u"map: mp_depot"_s);
    QCOMPARE(lines[1],
             u"num score ping guid   name            lastmsg address               qport rate"_s);
    QCOMPARE(lines[2],
             u"--- ----- ---- ------ --------------- ------- --------------------- ----- -----"_s);
    QCOMPARE(lines.size(), 3 + 6 + 2); // the empty line and what follows the last line feed
    // Players come in slot order; names keep their colour codes and get a closing ^7.
    QCOMPARE(
        lines[4],
        u"  3    12   48 123456 Joe^7                   0 10.0.0.7:28960         4321 25000"_s);
    QVERIFY(lines[7].contains(u" ^1Red^7Baron^7 "_s));

    struct Expected
    {
        QString slot, score, ping, name, address, rate;
    };
    const QList<Expected> expected = {
        {u" 0"_s, u"  0"_s, u"MBI"_s, u"Gone"_s, u"192.0.2.1:28960"_s, u"25000"_s},
        {u" 3"_s, u" 12"_s, u" 48"_s, u"Joe"_s, u"10.0.0.7:28960"_s, u"25000"_s},
        {u" 5"_s, u"  7"_s, u"  5"_s, u"Jiří Žák"_s, u"192.0.2.6:28960"_s, u"25000"_s},
        {u" 7"_s, u" -5"_s, u"NCT"_s, u"Newbie"_s, u"192.0.2.8:28960"_s, u"25000"_s},
        {u"12"_s, u"345"_s, u"999"_s, u"RedBaron"_s, u"192.0.2.13:28960"_s, u" 5000"_s},
        {u"99"_s, u"  1"_s, u" 50"_s, u"Abcdefghijklmnopqrs"_s, u"192.0.2.100:28960"_s, u"25000"_s},
    };
    const QStringList rows = playerLines(status);
    QCOMPARE(rows.size(), expected.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        // Read the way the robot reads: fixed columns from the start up to the name, the rest
        // from the end of the line.
        const QString& row = rows[i];
        const Expected& e = expected[i];
        QCOMPARE(row.mid(1, 2), e.slot);
        QCOMPARE(row.mid(6, 3), e.score);
        QCOMPARE(row.mid(11, 3), e.ping);
        QCOMPARE(row.right(5), e.rate);
        const qsizetype addressStart = row.size() - 33;
        QCOMPARE(row.mid(addressStart, 22).trimmed(), e.address);
        QCOMPARE(row.at(addressStart - 1), u' ');
        // The name starts at column 23 and fills at least 16 columns before the lastmsg field.
        QVERIFY(row.mid(22).startsWith(e.name));
        QCOMPARE(row.mid(22 + qMax(16, int(e.name.size())), 8), u"      0 "_s);
    }
    // Code page 1250 keeps one byte per character, so the columns hold on the wire as well.
    QCOMPARE(got[0].size() - kHeader.size(), status.size());
}

void TestTestServer::statusReflectsScriptChanges()
{
    m_server->setPlayers({makePlayer(1, u"Alpha"_s, 3), makePlayer(2, u"Bravo"_s, 4)});
    QCOMPARE(playerLines(joinBodies(m_client->statusDatagrams())).size(), 2);

    QVERIFY(m_server->updatePlayer(2, [](Player& p) {
        p.score = 40;
        p.state = Player::Zombie;
    }));
    QVERIFY(!m_server->updatePlayer(9, [](Player&) {}));
    m_server->addPlayer(makePlayer(0, u"Charlie"_s));
    m_server->addPlayer(makePlayer(1, u"Delta"_s)); // takes over slot 1
    QVERIFY(m_server->removePlayer(0));
    QVERIFY(!m_server->removePlayer(0));
    QStringList rows = playerLines(joinBodies(m_client->statusDatagrams()));
    QCOMPARE(rows.size(), 2);
    QVERIFY(rows[0].contains(u"Delta"_s));
    QVERIFY(rows[1].startsWith(u"  2    40 ZMBI "_s));

    // A test reacting to the command sees it before it is carried out.
    QObject context;
    connect(m_server.get(), &RconServer::commandReceived, &context, [this](const QString& c) {
        if (c == u"status")
            m_server->addPlayer(makePlayer(5, u"Echo"_s));
    });
    rows = playerLines(joinBodies(m_client->statusDatagrams()));
    QCOMPARE(rows.size(), 3);
    QVERIFY(rows[2].contains(u"Echo"_s));
}

void TestTestServer::longStatusIsChunked()
{
    QList<Player> full;
    for (int slot = 0; slot < 64; ++slot)
        full.append(makePlayer(slot, u"^3Player"_s % QString::number(slot), slot * 3, 40 + slot));
    m_server->setPlayers(full);
    m_server->setChunkSize(100000);
    const QList<QByteArray> whole = m_client->statusDatagrams();
    QCOMPARE(whole.size(), 1);
    const QString expected = joinBodies(whole);
    QVERIFY(expected.size() > 3 * 1300);

    for (const int chunk : {1300, 700}) {
        m_server->setChunkSize(chunk);
        const QList<QByteArray> got = m_client->statusDatagrams();
        QCOMPARE(got.size(), int((expected.size() + chunk - 1) / chunk));
        for (qsizetype i = 0; i < got.size(); ++i) {
            QVERIFY(got[i].startsWith(kHeader));
            const qsizetype body = got[i].size() - kHeader.size();
            if (i + 1 < got.size()) {
                QCOMPARE(body, chunk);
                QVERIFY(!got[i].endsWith("\n\n"));
            }
        }
        QVERIFY(got.back().endsWith("\n\n"));
        QCOMPARE(joinBodies(got), expected);
        QVERIFY(m_client->receiveFor(100).isEmpty());
    }
}

void TestTestServer::noGuidLayout()
{
    m_server->setLayout(RconServer::Layout::NoGuid);
    Player joe = makePlayer(3, u"Joe"_s, 12, 48);
    joe.address = u"10.0.0.7:-28960"_s;
    joe.qport = 4321;
    Player coloured = makePlayer(12, u"^1Red^7Baron"_s, 345, 999);
    Player local = makePlayer(1, u"Big Bad Wolf"_s, 2, 5);
    local.address = u"loopback"_s;
    Player bot = makePlayer(2, u"Bot1"_s);
    bot.address = u"bot"_s;
    bot.state = Player::Connecting;
    m_server->setMap(u"mp_carentan"_s);
    m_server->setPlayers({joe, coloured, local, bot});

    const QString status = joinBodies(m_client->statusDatagrams());
    const QStringList lines = status.split(u'\n');
    QCOMPARE(lines[0], u"map: mp_carentan"_s);
    QCOMPARE(lines[1],
             u"num score ping name            lastmsg address               qport rate"_s);
    QCOMPARE(lines[2],
             u"--- ----- ---- --------------- ------- --------------------- ----- -----"_s);
    QCOMPARE(lines.size(), 3 + 4 + 2);
    // No guid column and no ^7 after the name: it starts at column 16.
    QCOMPARE(lines[3],
             u"  1     2    5 Big Bad Wolf          0 loopback               1001 25000"_s);
    QCOMPARE(lines[4],
             u"  2     0 CNCT Bot1                  0 bot                    1002 25000"_s);
    QCOMPARE(lines[5],
             u"  3    12   48 Joe                   0 10.0.0.7:-28960        4321 25000"_s);
    QCOMPARE(lines[6],
             u" 12   345  999 ^1Red^7Baron              0 192.0.2.13:28960       1012 25000"_s);
    QVERIFY(status.endsWith(u"25000\n\n"_s));
}

void TestTestServer::layoutSelectsTheGame()
{
    using Layout = RconServer::Layout;
    using Variant = RconServer::Variant;
    QCOMPARE(m_server->layout(), Layout::Guid);
    QCOMPARE(m_server->chunkSize(), RconServer::kGuidChunkSize);
    m_server->setLayout(Layout::NoGuid);
    QCOMPARE(m_server->variant(), Variant::CallOfDuty);
    QCOMPARE(m_server->chunkSize(), RconServer::kCallOfDutyChunkSize);
    m_server->setLayout(Layout::Guid);
    QCOMPARE(m_server->variant(), Variant::UnitedOffensive);
    QCOMPARE(m_server->chunkSize(), RconServer::kGuidChunkSize);
    m_server->setVariant(Variant::CallOfDuty2);
    m_server->setLayout(Layout::Guid);
    QCOMPARE(m_server->variant(), Variant::CallOfDuty2);
    QVERIFY(m_client->answer(u"status"_s).contains(u" guid "_s));
    m_server->setVariant(Variant::CallOfDuty);
    QCOMPARE(m_server->layout(), Layout::NoGuid);
    QVERIFY(!m_client->answer(u"status"_s).contains(u" guid "_s));
}

void TestTestServer::noGuidStatusCutBetweenPrints()
{
    m_server->setLayout(RconServer::Layout::NoGuid);
    QList<Player> full;
    for (int slot = 0; slot < 64; ++slot)
        full.append(makePlayer(slot, u"^3Player"_s % QString::number(slot), slot * 3, 40 + slot));
    m_server->setPlayers(full);
    const QList<QByteArray> got = m_client->statusDatagrams();
    QVERIFY(got.size() >= 5);
    QByteArray joined;
    bool cutInsideALine = false;
    for (qsizetype i = 0; i < got.size(); ++i) {
        QVERIFY(got[i].startsWith(kHeader));
        const QByteArray body = got[i].mid(kHeader.size());
        QVERIFY(body.size() <= RconServer::kCallOfDutyChunkSize);
        if (i + 1 < got.size()) {
            // Full up to the next print, which is never longer than a name and its colours.
            QVERIFY(body.size() > RconServer::kCallOfDutyChunkSize - 16);
            QVERIFY(!body.endsWith("\n\n"));
            cutInsideALine = cutInsideALine || !body.endsWith('\n');
            // The cut falls between two fields, never inside a number or a name.
            const char next = got[i + 1].at(kHeader.size());
            QVERIFY2(body.endsWith(' ') || body.endsWith('\n') || next == ' ' || next == '\n',
                     QByteArray(body.right(12) + " | " + got[i + 1].mid(kHeader.size(), 12))
                         .constData());
        }
        joined += body;
    }
    QVERIFY(cutInsideALine);
    QVERIFY(got.back().endsWith("\n\n"));
    QCOMPARE(playerLines(fromCp1250(joined)).size(), 64);
    QVERIFY(m_client->receiveFor(100).isEmpty());
}

void TestTestServer::variableDescription_data()
{
    QTest::addColumn<RconServer::Variant>("variant");
    QTest::addColumn<int>("colonBlank"); // -1: the variant's own form
    QTest::addColumn<QString>("hostname");

    const auto uo = RconServer::Variant::UnitedOffensive;
    const auto cod2 = RconServer::Variant::CallOfDuty2;
    QTest::newRow("uo") << uo << -1
                        << u"\"sv_hostname\" is:\"Night Ops^7\" default:\"Practice Server^7\"\n"_s;
    QTest::newRow("cod2")
        << cod2 << -1 << u"\"sv_hostname\" is: \"Night Ops^7\" default: \"Practice Server^7\"\n"_s;
    QTest::newRow("uo with blank")
        << uo << 1 << u"\"sv_hostname\" is: \"Night Ops^7\" default: \"Practice Server^7\"\n"_s;
    QTest::newRow("cod2 without blank")
        << cod2 << 0 << u"\"sv_hostname\" is:\"Night Ops^7\" default:\"Practice Server^7\"\n"_s;
    QTest::newRow("cod") << RconServer::Variant::CallOfDuty << -1
                         << u"\"sv_hostname\" is:\"Night Ops^7\" default:\"Practice Server^7\"\n"_s;
}

void TestTestServer::variableDescription()
{
    QFETCH(RconServer::Variant, variant);
    QFETCH(int, colonBlank);
    QFETCH(QString, hostname);
    m_server->setVariant(variant);
    if (colonBlank >= 0)
        m_server->setColonBlank(colonBlank == 1);
    const QString gap = hostname.contains(u"is: "_s) ? u" "_s : QString();

    QCOMPARE(m_client->answer(u"sv_hostname Night Ops"_s), QString());
    QCOMPARE(m_client->answer(u"sv_hostname"_s), hostname);
    // A name is matched in any case and shown as the server spells it.
    QCOMPARE(m_client->answer(u"SV_HOSTNAME"_s), hostname);
    // `set` creates a variable whose default is empty.
    QCOMPARE(m_client->answer(u"set vigilor \"ban onion\""_s), QString());
    QCOMPARE(m_client->answer(u"vigilor"_s),
             u"\"vigilor\" is:"_s % gap % u"\"ban onion^7\" default:"_s % gap % u"\"^7\"\n"_s);
}

void TestTestServer::variableSetting()
{
    const auto ask = [this](const QString& command) { return m_client->answer(command); };
    QCOMPARE(ask(u"set vigilor \"ban onion\""_s), QString());
    QCOMPARE(m_server->variable(u"VIGILOR"_s), u"ban onion"_s);
    // The value is the remaining words, joined by single blanks and without quotes.
    QCOMPARE(ask(u"sv_hostname   My  \"Big\"   Server"_s), QString());
    QCOMPARE(m_server->variable(u"sv_hostname"_s), u"My Big Server"_s);
    m_server->setVariable(u"g_password"_s, u"join"_s);
    QCOMPARE(ask(u"g_password \"\""_s), QString());
    QCOMPARE(m_server->variable(u"g_password"_s), QString());
    QVERIFY(m_server->hasVariable(u"g_password"_s));
    QCOMPARE(ask(u"Set MAPNAME mp_depot"_s), QString());
    QCOMPARE(m_server->variable(u"mapname"_s), u"mp_depot"_s);
    QVERIFY(ask(u"status"_s).startsWith(u"map: mp_depot\n"_s));
    // Only known variables can be set by their bare name.
    QCOMPARE(ask(u"nosuchvar 1"_s), u"Unknown command \"nosuchvar\"\n"_s);
    QVERIFY(!m_server->hasVariable(u"nosuchvar"_s));
    QVERIFY(ask(u"set lonely"_s).startsWith(u"usage"_s));

    // What a test sets (an admin typing in the game) is what rcon reads.
    m_server->setVariable(u"vigilor"_s, u"kick joe"_s);
    QCOMPARE(ask(u"vigilor"_s), u"\"vigilor\" is:\"kick joe^7\" default:\"^7\"\n"_s);

    // A new rconpassword holds from the very next request.
    QCOMPARE(ask(u"rconpassword fresh"_s), QString());
    QCOMPARE(m_server->password(), u"fresh"_s);
    QCOMPARE(m_client->answer(u"status"_s), u"Bad rconpassword.\n"_s);
    QCOMPARE(m_client->answer(u"nosuch"_s, u"fresh"_s), u"Unknown command \"nosuch\"\n"_s);
}

void TestTestServer::sayAndAcknowledgedCommands()
{
    m_client->ask(u"say \"^1Server restarts\" in 5 minutes"_s);
    const QList<QByteArray> got = m_client->receive(1);
    QCOMPARE(got, QList<QByteArray>{kHeader});
    QCOMPARE(m_client->answer(u"SAY hello"_s), QString());
    QCOMPARE(m_server->sayLines(), (QStringList{u"^1Server restarts in 5 minutes"_s, u"hello"_s}));

    QCOMPARE(m_client->answer(u"exec server.cfg"_s), u"execing server.cfg\n"_s);
    QVERIFY(!m_client->answer(u"Map_Rotate"_s).isEmpty());
    QVERIFY(!m_client->answer(u"killserver"_s).isEmpty());
    QCOMPARE(m_server->actions(),
             (QStringList{u"exec server.cfg"_s, u"map_rotate"_s, u"killserver"_s}));
    QVERIFY(m_server->isRunning());
}

void TestTestServer::clientKick()
{
    m_server->setPlayers(
        {makePlayer(0, u"Alpha"_s), makePlayer(3, u"^1Jo^7e"_s), makePlayer(4, u"Bravo"_s)});
    QCOMPARE(m_client->answer(u"clientkick 3"_s), u"3:Joe EXE_PLAYERKICKED\n"_s);
    const QStringList rows = playerLines(joinBodies(m_client->statusDatagrams()));
    QCOMPARE(rows.size(), 2);
    QVERIFY(rows[0].startsWith(u"  0 "_s));
    QVERIFY(rows[1].startsWith(u"  4 "_s));

    QCOMPARE(m_client->answer(u"clientkick 3"_s), u"Bad client slot: 3\n"_s);
    QCOMPARE(m_client->answer(u"clientkick Alpha"_s), u"Bad client slot: Alpha\n"_s);
    QCOMPARE(m_client->answer(u"clientkick -4"_s), u"Bad client slot: -4\n"_s);
    QCOMPARE(m_server->players().size(), 2);
}

void TestTestServer::dumpUserAndServerInfo_data()
{
    QTest::addColumn<RconServer::Variant>("variant");
    QTest::addColumn<QString>("shortversion");
    QTest::newRow("uo") << RconServer::Variant::UnitedOffensive << u"1.51"_s;
    QTest::newRow("cod2") << RconServer::Variant::CallOfDuty2 << u"1.3"_s;
    QTest::newRow("cod") << RconServer::Variant::CallOfDuty << u"1.5"_s;
}

void TestTestServer::dumpUserAndServerInfo()
{
    QFETCH(RconServer::Variant, variant);
    QFETCH(QString, shortversion);
    m_server->setVariant(variant);
    Player joe = makePlayer(3, u"^1Jo^7e"_s);
    joe.address = u"192.0.2.77:28960"_s;
    joe.rate = 8000;
    m_server->setPlayers({makePlayer(0, u"Alpha"_s), joe});
    m_server->setMap(u"mp_depot"_s);

    // Info lines: the key in 20 columns, then the value.
    const auto parse = [](const QString& text, qsizetype skip) {
        QMap<QString, QString> values;
        const QStringList lines = vigilor::text::splitLines(text);
        for (qsizetype i = skip; i < lines.size(); ++i)
            values.insert(lines[i].left(20).trimmed(), lines[i].mid(20));
        return values;
    };
    const QString user = m_client->answer(u"dumpuser JOE"_s);
    QVERIFY2(user.startsWith(u"userinfo\n--------\n"_s), qPrintable(user));
    const QMap<QString, QString> info = parse(user, 2);
    QCOMPARE(info.value(u"name"_s), u"^1Jo^7e"_s);
    QCOMPARE(info.value(u"ip"_s), u"192.0.2.77:28960"_s);
    QCOMPARE(info.value(u"rate"_s), u"8000"_s);
    QVERIFY(info.contains(u"snaps"_s));
    QVERIFY(info.contains(u"cl_punkbuster"_s));
    QCOMPARE(m_client->answer(u"dumpuser Nobody"_s), u"User Nobody is not on the server\n"_s);

    const QString server = m_client->answer(u"serverinfo"_s);
    QVERIFY(server.startsWith(u"Server info settings:\n"_s));
    const QMap<QString, QString> settings = parse(server, 1);
    QCOMPARE(settings.value(u"mapname"_s), u"mp_depot"_s);
    QCOMPARE(settings.value(u"sv_hostname"_s), m_server->variable(u"sv_hostname"_s));
    QCOMPARE(settings.value(u"g_gametype"_s), m_server->variable(u"g_gametype"_s));
    QCOMPARE(settings.value(u"sv_maxclients"_s), m_server->variable(u"sv_maxclients"_s));
    QCOMPARE(settings.value(u"shortversion"_s), shortversion);
}

void TestTestServer::floodGuard()
{
    // A second's guard and sends half of it apart: a machine busy with other tests may stall a
    // send by a few hundred milliseconds without changing which packets the guard drops.
    m_server->setFloodGuardMs(1000);
    QElapsedTimer clock;
    const auto sendAt = [&](qint64 ms, const QString& command, const QString& password) {
        QTest::qWait(int(qMax(qint64(0), ms - clock.elapsed())));
        m_client->ask(command, password);
    };

    clock.start();
    sendAt(0, u"first"_s, u"secret"_s);
    QCOMPARE(m_client->receive(1).size(), 1);
    // The guard's wait began between the send and the answer.
    const qint64 answered = clock.elapsed();
    sendAt(0, u"too soon"_s, u"secret"_s);
    sendAt(500, u"still too soon"_s, u"secret"_s);
    QVERIFY(m_client->receiveFor(150).isEmpty());
    // Dropped packets do not restart the wait: 1,100 ms after the accepted one is fine, though
    // it is well within a second of the last dropped one.
    sendAt(answered + 1100, u"later"_s, u"secret"_s);
    QCOMPARE(m_client->receive(1).size(), 1);
    QCOMPARE(m_server->floodDropCount(), 2);

    // A packet with a wrong password is accepted by the guard too, and so holds off the next.
    clock.start();
    sendAt(1100, u"guess"_s, u"wrong"_s);
    QCOMPARE(m_client->receive(1).size(), 1);
    sendAt(1200, u"right after"_s, u"secret"_s);
    QVERIFY(m_client->receiveFor(200).isEmpty());
    QCOMPARE(m_server->floodDropCount(), 3);
    QCOMPARE(m_server->receivedCommands(), (QStringList{u"first"_s, u"later"_s}));

    // With the guard off, back-to-back requests are all answered.
    m_server->setFloodGuardMs(0);
    for (int i = 0; i < 3; ++i)
        m_client->ask(u"nosuch"_s);
    QCOMPARE(m_client->receive(3).size(), 3);
    QCOMPARE(m_server->floodDropCount(), 3);
}

void TestTestServer::droppingAndHolding()
{
    // Replies lost: the command still runs.
    m_server->setDropReplies(true);
    m_client->ask(u"say lost"_s);
    QVERIFY(m_client->receiveFor(200).isEmpty());
    QCOMPARE(m_server->sayLines(), QStringList{u"lost"_s});
    m_server->setDropReplies(false);

    // Requests lost: as if they never came.
    m_server->dropNextRequests(2);
    m_client->ask(u"say one"_s);
    m_client->ask(u"say two"_s);
    QVERIFY(m_client->receiveFor(200).isEmpty());
    QCOMPARE(m_client->answer(u"say three"_s), QString());
    QCOMPARE(m_server->sayLines(), (QStringList{u"lost"_s, u"three"_s}));

    // Held replies go out in order on release.
    m_server->setHoldReplies(true);
    m_client->ask(u"nosuch1"_s);
    m_client->ask(u"nosuch2"_s);
    QVERIFY(m_client->receiveFor(200).isEmpty());
    QCOMPARE(m_server->heldReplyCount(), 2);
    m_server->setHoldReplies(false);
    QCOMPARE(m_server->releaseHeldReplies(), 2);
    QCOMPARE(m_server->heldReplyCount(), 0);
    QCOMPARE(m_client->receive(2), (QList<QByteArray>{kHeader + "Unknown command \"nosuch1\"\n",
                                                      kHeader + "Unknown command \"nosuch2\"\n"}));

    // Forged datagrams reach the client that spoke last.
    QVERIFY(m_server->sendRawToLastClient(QByteArrayLiteral("\xFF\xFF\xFF\xFFgarbage")));
    QCOMPARE(m_client->receive(1), QList<QByteArray>{QByteArrayLiteral("\xFF\xFF\xFF\xFFgarbage")});
    QVERIFY(m_server->sendRaw("x", QHostAddress::LocalHost, m_client->port()));
    QCOMPARE(m_client->receive(1), QList<QByteArray>{"x"});
}

void TestTestServer::lastChunkDropped()
{
    QList<Player> full;
    for (int slot = 0; slot < 64; ++slot)
        full.append(makePlayer(slot, u"Player"_s % QString::number(slot)));
    m_server->setPlayers(full);
    const int count = int(m_client->statusDatagrams().size());
    QVERIFY(count > 2);

    m_server->setChunkFilter([](int index, int n) { return index + 1 < n; });
    m_client->ask(u"status"_s);
    const QList<QByteArray> got = m_client->receiveFor(300);
    QCOMPARE(got.size(), count - 1);
    for (const QByteArray& d : got) {
        QVERIFY(d.startsWith(kHeader));
        QVERIFY(!d.endsWith("\n\n"));
    }
    // A one-datagram reply is its own last chunk.
    m_client->ask(u"nosuch"_s);
    QVERIFY(m_client->receiveFor(150).isEmpty());
    m_server->setChunkFilter({});
    QCOMPARE(m_client->statusDatagrams().size(), count);
}

void TestTestServer::quitClosesThePortUntilRestarted()
{
    const quint16 port = m_server->port();
    QSignalSpy quit(m_server.get(), &RconServer::quitRequested);
    m_client->ask(u"quit"_s);
    QVERIFY(m_client->receiveFor(200).isEmpty());
    QCOMPARE(quit.size(), 1);
    QVERIFY(!m_server->isRunning());
    QCOMPARE(m_server->port(), port);
    {
        // The port is really closed: anyone may take it now.
        QUdpSocket taker;
        QVERIFY(taker.bind(QHostAddress::LocalHost, port));
    }
#ifndef Q_OS_WIN // Qt has Windows ignore the ICMP port unreachable on UDP sockets.
    // A client that sends meanwhile is told so by its kernel (ICMP port unreachable).
    QUdpSocket connected;
    connected.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(connected.waitForConnected(1000));
    connected.write(request(u"secret"_s, u"status"_s));
    QTRY_VERIFY_WITH_TIMEOUT(!connected.receiveDatagram(2048).isValid() &&
                                 connected.error() == QAbstractSocket::ConnectionRefusedError,
                             3000);
#endif
    QCOMPARE(m_server->receivedCommands(), QStringList{u"quit"_s});

    // Started again on the same port, it answers the same clients.
    QVERIFY(m_server->restart());
    QCOMPARE(m_server->port(), port);
    QVERIFY(m_client->answer(u"status"_s).startsWith(u"map: "_s));

    // A supervised server comes back by itself.
    QSignalSpy restarted(m_server.get(), &RconServer::restarted);
    m_server->setRestartAfterQuitMs(50);
    m_client->ask(u"quit"_s);
    QVERIFY(restarted.wait(3000));
    QVERIFY(m_server->isRunning());
    QCOMPARE(m_server->port(), port);
    QVERIFY(m_client->answer(u"serverinfo"_s).startsWith(u"Server info settings:"_s));
}

void TestTestServer::playersFile()
{
    QString error;
    const auto players = parsePlayers(u"# slot;score;ping;name;address;rate\n"
                                      u"\n"
                                      u"2;15;48;^1Jiří Novák ;192.0.2.5:28960;25000\n"
                                      u" 0 ; -3 ; cnct ;Newbie;192.0.2.6:28960; 5000 ;777\n"
                                      u"7;0;ZMBI;Gone;192.0.2.7:1234;1000;55;424242\r\n"_s,
                                      &error);
    QVERIFY2(players.has_value(), qPrintable(error));
    QCOMPARE(players->size(), 3);
    const Player& a = players->at(0);
    QCOMPARE(a.slot, 2);
    QCOMPARE(a.score, 15);
    QCOMPARE(a.ping, 48);
    QCOMPARE(a.state, Player::Active);
    QCOMPARE(a.name, u"^1Jiří Novák "_s);
    QCOMPARE(a.address, u"192.0.2.5:28960"_s);
    QCOMPARE(a.rate, 25000);
    const Player& b = players->at(1);
    QCOMPARE(b.slot, 0);
    QCOMPARE(b.score, -3);
    QCOMPARE(b.state, Player::Connecting);
    QCOMPARE(b.rate, 5000);
    QCOMPARE(b.qport, 777);
    const Player& c = players->at(2);
    QCOMPARE(c.state, Player::Zombie);
    QCOMPARE(c.qport, 55);
    QCOMPARE(c.guid, 424242);

    for (const QString& bad : {u"1;2;3;Joe;192.0.2.5:1"_s, u"x;2;3;Joe;192.0.2.5:1;25000"_s,
                               u"1;2;FAST;Joe;192.0.2.5:1;25000"_s, u"1;2;3;Joe;;25000"_s}) {
        error.clear();
        QVERIFY2(!parsePlayers(QString(u"# ok\n"_s % bad), &error).has_value(), qPrintable(bad));
        QVERIFY2(error.startsWith(u"line 2:"_s), qPrintable(error));
    }
}

void TestTestServer::demoEvolution()
{
    populateDemo(*m_server);
    const QList<Player> start = m_server->players();
    QVERIFY(start.size() >= 4 && start.size() <= 5);
    const auto frozenOf = [](const QList<Player>& list) {
        return *std::find_if(list.begin(), list.end(),
                             [](const Player& p) { return p.slot == kDemoFrozenSlot; });
    };
    const Player frozen = frozenOf(start);
    QVERIFY(frozen.ping >= 800);
    QVERIFY(frozen.rate <= 1000);

    DemoEvolver evolver(*m_server, 60000);
    for (int i = 0; i < 5; ++i)
        evolver.step();
    const QList<Player> later = m_server->players();
    QCOMPARE(later.size(), start.size());
    const Player still = frozenOf(later);
    QCOMPARE(still.score, frozen.score);
    QCOMPARE(still.ping, frozen.ping);
    QCOMPARE(still.rate, frozen.rate);
    QCOMPARE(still.lastmsg, frozen.lastmsg);
    bool scored = false;
    for (qsizetype i = 0; i < later.size(); ++i) {
        QCOMPARE(later[i].slot, start[i].slot);
        QVERIFY(later[i].score >= start[i].score);
        scored = scored || later[i].score > start[i].score;
        if (later[i].slot != kDemoFrozenSlot)
            QVERIFY(later[i].ping > 0 && later[i].ping < 400);
    }
    QVERIFY(scored);
    // The demo game reads back correctly through the wire.
    QCOMPARE(playerLines(joinBodies(m_client->statusDatagrams())).size(), later.size());
}

void TestTestServer::executable_data()
{
    QTest::addColumn<QString>("end");
    QTest::newRow("SIGTERM") << u"SIGTERM"_s;
    QTest::newRow("quit") << u"quit"_s;
    QTest::newRow("quit with --restart-after") << u"restart"_s;
}

void TestTestServer::executable()
{
    QFETCH(QString, end);
    quint16 port = 0;
    {
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        port = probe.localPort();
    }
    QTemporaryFile players;
    QVERIFY(players.open());
    players.write("# slot;score;ping;name;address;rate\n4;9;33;Filed;192.0.2.44:28960;25000\n");
    players.close();

    QStringList arguments{u"--port"_s,    QString::number(port), u"--password"_s,
                          u"pw"_s,        u"--flood-ms"_s,       u"0"_s,
                          u"--players"_s, players.fileName()};
    if (end == u"restart")
        arguments << u"--restart-after"_s << u"100"_s;
    const auto launch = [&](QProcess& process) {
        process.start(QStringLiteral(VIGILOR_TESTSERVER_EXE), arguments);
        QVERIFY(process.waitForStarted());
        QByteArray errors;
        QTRY_VERIFY_WITH_TIMEOUT((errors += process.readAllStandardError()).contains("listening"),
                                 5000);
    };
    QProcess process;
    launch(process);

    Client client(port);
    QCOMPARE(client.answer(u"status"_s, u"pw"_s).count(u"Filed^7"_s), 1);
    QByteArray printed;
#ifdef Q_OS_WIN
    const QByteArray lineEnd = "\r\n"; // the console's text mode
#else
    const QByteArray lineEnd = "\n";
#endif
    const QByteArray expected = "127.0.0.1:" + QByteArray::number(client.port()) + " status" +
                                lineEnd;
    QTRY_COMPARE_WITH_TIMEOUT(printed += process.readAllStandardOutput(), expected, 5000);

    if (end == u"SIGTERM") {
        askToEnd(process);
    } else if (end == u"restart") {
        // The process stays; its port closes and opens again.
        client.ask(u"quit"_s, u"pw"_s);
        QByteArray errors;
        QTRY_VERIFY_WITH_TIMEOUT((errors += process.readAllStandardError()).contains("restarted"),
                                 5000);
        QVERIFY(errors.contains("port closed"));
        QCOMPARE(client.answer(u"status"_s, u"pw"_s).count(u"Filed^7"_s), 1);
        askToEnd(process);
    } else {
        client.ask(u"quit"_s, u"pw"_s);
    }
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    if (end == u"quit") {
        // Started again, it takes the same port and answers the same client.
        QProcess again;
        launch(again);
        QCOMPARE(client.answer(u"status"_s, u"pw"_s).count(u"Filed^7"_s), 1);
        askToEnd(again);
        QVERIFY(again.waitForFinished(5000));
    }
}

void TestTestServer::executableLayouts()
{
    for (const QStringList& wrong :
         {QStringList{u"--layout"_s, u"sideways"_s},
          QStringList{u"--layout"_s, u"noguid"_s, u"--variant"_s, u"cod2"_s}}) {
        QProcess refused;
        refused.start(QStringLiteral(VIGILOR_TESTSERVER_EXE),
                      wrong + QStringList{u"--port"_s, u"0"_s});
        QVERIFY(refused.waitForFinished(5000));
        QCOMPARE(refused.exitCode(), 2);
    }

    quint16 port = 0;
    {
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        port = probe.localPort();
    }
    QProcess process;
    process.start(QStringLiteral(VIGILOR_TESTSERVER_EXE),
                  {u"--port"_s, QString::number(port), u"--password"_s, u"pw"_s, u"--flood-ms"_s,
                   u"0"_s, u"--layout"_s, u"noguid"_s, u"--demo"_s});
    QVERIFY(process.waitForStarted());
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += process.readAllStandardError()).contains("listening"),
                             5000);
    Client client(port);
    const QString status = client.answer(u"status"_s, u"pw"_s);
    QVERIFY2(status.contains(
                 u"\nnum score ping name            lastmsg address               qport rate\n"_s),
             qPrintable(status));
    QVERIFY(status.contains(u" Marek "_s));
    QVERIFY(!status.contains(u"Marek^7"_s));
    QCOMPARE(client.answer(u"sv_hostname"_s, u"pw"_s),
             u"\"sv_hostname\" is:\"^2Practice ^7Server^7\" default:\"Practice Server^7\"\n"_s);
    askToEnd(process);
    QVERIFY(process.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestTestServer)
#include "test_testserver.moc"
