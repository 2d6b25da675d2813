// vigilor-testserver: a practice game server for trying the robot against without a real game.
// It answers the remote console on 127.0.0.1 and prints every command it is given.

#include "platform/endwatcher.h"
#include "testserver/demo.h"
#include "testserver/playerfile.h"
#include "testserver/rconserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;
using vigilor::testserver::RconServer;

namespace {

void printError(const QString& message)
{
    std::fprintf(stderr, "vigilor-testserver: %s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"vigilor-testserver"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Practice game server answering the remote console "
                                     u"(rcon over UDP) on 127.0.0.1."_s);
    parser.addHelpOption();
    const QCommandLineOption port(u"port"_s, u"UDP port (default 28960)."_s, u"N"_s, u"28960"_s);
    const QCommandLineOption password(u"password"_s, u"Rcon password (default practice)."_s, u"P"_s,
                                      u"practice"_s);
    const QCommandLineOption players(u"players"_s,
                                     u"Players file: one 'slot;score;ping;name;address;rate' a "
                                     u"line, ping may be CNCT or ZMBI, '#' starts a comment."_s,
                                     u"FILE"_s);
    const QCommandLineOption map(u"map"_s, u"Map name."_s, u"NAME"_s);
    const QCommandLineOption hostname(
        u"hostname"_s, u"Server name (sv_hostname), colour codes allowed."_s, u"NAME"_s);
    const QCommandLineOption gametype(u"gametype"_s, u"Game type (g_gametype, default tdm)."_s,
                                      u"TYPE"_s);
    const QCommandLineOption maxclients(u"maxclients"_s,
                                        u"Most players (sv_maxclients, default 20)."_s, u"N"_s);
    const QCommandLineOption variant(u"variant"_s,
                                     u"Game version of the guid layout: uo or cod2 (default uo)."_s,
                                     u"uo|cod2"_s, u"uo"_s);
    const QCommandLineOption layout(
        u"layout"_s,
        u"Columns of the status reply: guid (United Offensive and Call of Duty 2, the default) or "
        u"noguid (early Call of Duty: no guid column, and its chunks and answers)."_s,
        u"guid|noguid"_s, u"guid"_s);
    const QCommandLineOption flood(u"flood-ms"_s,
                                   u"Drop rcon packets closer than N ms (default 500, 0 off)."_s,
                                   u"N"_s, u"500"_s);
    const QCommandLineOption demo(u"demo"_s, u"Demo players whose game goes on."_s);
    const QCommandLineOption restartAfter(
        u"restart-after"_s,
        u"On `quit`, close the port and open it again on the same port after N ms, as a "
        u"supervised server restarts (default: the process ends)."_s,
        u"N"_s);
    parser.addOptions({port, password, players, map, hostname, gametype, maxclients, variant,
                       layout, flood, demo, restartAfter});
    parser.process(app);

    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    bool floodOk = false;
    const int floodMs = parser.value(flood).toInt(&floodOk);
    const QString variantName = parser.value(variant).toLower();
    const QString layoutName = parser.value(layout).toLower();
    bool maxOk = true;
    const int maxPlayers = parser.isSet(maxclients) ? parser.value(maxclients).toInt(&maxOk) : 20;
    bool restartOk = true;
    const int restartMs =
        parser.isSet(restartAfter) ? parser.value(restartAfter).toInt(&restartOk) : -1;
    if (!portOk || portNumber > 65535 || !floodOk || floodMs < 0 || !maxOk || maxPlayers < 1 ||
        maxPlayers > 64 || (variantName != u"uo" && variantName != u"cod2") || !restartOk ||
        (parser.isSet(restartAfter) && restartMs < 0) ||
        (layoutName != u"guid" && layoutName != u"noguid")) {
        printError(u"bad --port, --flood-ms, --maxclients, --variant, --layout or --restart-after; "
                   u"see --help"_s);
        return 2;
    }
    const bool noGuid = layoutName == u"noguid";
    if (noGuid && parser.isSet(variant)) {
        printError(u"--variant chooses between the games of the guid layout; the noguid layout is "
                   u"Call of Duty's"_s);
        return 2;
    }

    RconServer server;
    server.setVariant(variantName == u"cod2" ? RconServer::Variant::CallOfDuty2
                                             : RconServer::Variant::UnitedOffensive);
    if (noGuid)
        server.setLayout(RconServer::Layout::NoGuid);
    server.setPassword(parser.value(password));
    server.setFloodGuardMs(floodMs);
    std::unique_ptr<vigilor::testserver::DemoEvolver> evolver;
    if (parser.isSet(demo)) {
        vigilor::testserver::populateDemo(server);
        evolver = std::make_unique<vigilor::testserver::DemoEvolver>(server);
    }
    if (parser.isSet(players)) {
        QString error;
        const auto list = vigilor::testserver::loadPlayers(parser.value(players), &error);
        if (!list) {
            printError(error);
            return 2;
        }
        server.setPlayers(*list);
    }
    if (parser.isSet(map))
        server.setMap(parser.value(map));
    if (parser.isSet(hostname))
        server.setVariable(u"sv_hostname"_s, parser.value(hostname));
    if (parser.isSet(gametype))
        server.setVariable(u"g_gametype"_s, parser.value(gametype));
    if (parser.isSet(maxclients))
        server.setVariable(u"sv_maxclients"_s, QString::number(maxPlayers));

    // SIGTERM and SIGINT (Ctrl+C and the console's close on Windows) end the event loop.
    const vigilor::platform::EndWatcher endWatcher(nullptr);

    if (!server.start(quint16(portNumber))) {
        printError(u"cannot listen on 127.0.0.1:"_s % QString::number(portNumber));
        return 1;
    }
    QObject::connect(&server, &RconServer::commandReceived, &app, [&server](const QString& cmd) {
        const QString line = server.lastClientAddress().toString() % u':' %
                             QString::number(server.lastClientPort()) % u' ' % cmd;
        std::printf("%s\n", line.toUtf8().constData());
        std::fflush(stdout);
    });
    if (restartMs >= 0) {
        server.setRestartAfterQuitMs(restartMs);
        QObject::connect(&server, &RconServer::quitRequested, &app,
                         [] { printError(u"quit: port closed"_s); });
        QObject::connect(&server, &RconServer::restarted, &app, [&server] {
            printError(u"restarted on 127.0.0.1:"_s % QString::number(server.port()));
        });
    } else {
        // Like a game server process, it ends; started again, it can take the same port.
        QObject::connect(&server, &RconServer::quitRequested, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
    }
    printError(u"listening on 127.0.0.1:"_s % QString::number(server.port()));
    return QCoreApplication::exec();
}
