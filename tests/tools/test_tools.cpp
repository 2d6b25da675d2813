// The server configuration tools: weapon switches, client configuration enforcement and the map
// rotation with the commands they queue, and the disconnect's last commands, over UDP against the
// practice server; the game launcher with a script standing in for the game client and wine.
#include "link/datagram.h"
#include "support/fakegame.h"
#include "support/robotfixture.h"
#include "tools/clientconfig.h"
#include "tools/launcher.h"
#include "tools/maprotation.h"
#include "tools/weapons.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using tools::ClientConfig;
using tools::Launcher;
using tools::MapRotation;
using tools::WeaponSwitches;
using Preset = WeaponSwitches::Preset;

namespace {

struct Harness : RobotFixture
{
    Harness() : RobotFixture(u"secret"_s)
    {
        robot.startUp();
        pointAtServer();
        robot.settings().setFlag(Key::EventNotify, false);
    }
    link::Link& link() { return robot.link(); }
    WeaponSwitches& weapons() { return robot.weapons(); }
    // Connected with the pacer held, so that the queue shows what was queued.
    void connectHeld()
    {
        link().connectAction();
        settle(link());
        QVERIFY(link().isConnected());
        link().pacer().stop();
    }
    void check(const QString& name, bool on)
    {
        weapons().setChecked(WeaponSwitches::indexOf(name), on);
    }
    bool checked(const QString& name) { return weapons().isChecked(WeaponSwitches::indexOf(name)); }
    QStringList stampless(qsizetype from)
    {
        QStringList lines;
        for (const QString& line : robot.console().lines().mid(from))
            lines << line.mid(line.indexOf(u" >> "_s) + 4);
        return lines;
    }
};

// The variables of the commands, without their bits, and the bits alone.
QStringList variables(const QStringList& commands)
{
    QStringList names;
    for (const QString& c : commands)
        names << c.chopped(2);
    return names;
}

QString bits(const QStringList& commands)
{
    QString result;
    for (const QString& c : commands)
        result += c.back();
    return result;
}

} // namespace

class TestTools final : public QObject
{
    Q_OBJECT

private slots:
    void weaponTable()
    {
        const QList<WeaponSwitches::Switch>& table = WeaponSwitches::table();
        QCOMPARE(table.size(), 32);
        QCOMPARE(WeaponSwitches::presets().size(), 6);
        QStringList off;
        int commands = 0;
        for (const WeaponSwitches::Switch& s : table) {
            if (!s.defaultOn)
                off << s.caption;
            for (const QString& variable : s.variables)
                QVERIFY2(variable.startsWith(u"scr_allow_"_s) && variable.endsWith(u' ') &&
                             !variable.chopped(1).contains(u' '),
                         qPrintable(variable));
            commands += int(s.variables.size());
        }
        QCOMPARE(off, QStringList({u"Kar98k sniper"_s, u"Nagant sniper"_s, u"Springfield"_s,
                                   u"Bombázás"_s, u"FG42"_s}));
        QCOMPARE(commands, 46);
        QCOMPARE(WeaponSwitches::indexOf(u"nope"_s), -1);
    }

    void sniperPresetQueuesTheChangedBoxesInOrder()
    {
        Harness h;
        h.connectHeld();
        h.weapons().applyPreset(Preset::SniperOnly);
        const QStringList queued = h.link().queue();
        QCOMPARE(variables(queued),
                 QStringList({u"scr_allow_kar98k"_s,       u"scr_allow_mp40"_s,
                              u"scr_allow_mp44"_s,         u"scr_allow_gewehr43"_s,
                              u"scr_allow_kar98ksniper"_s, u"scr_allow_mg34"_s,
                              u"scr_allow_nagant"_s,       u"scr_allow_svt40"_s,
                              u"scr_allow_ppsh"_s,         u"scr_allow_nagantsniper"_s,
                              u"scr_allow_dp28"_s,         u"scr_allow_m1carbine"_s,
                              u"scr_allow_m1garand"_s,     u"scr_allow_thompson"_s,
                              u"scr_allow_bar"_s,          u"scr_allow_springfield"_s,
                              u"scr_allow_enfield"_s,      u"scr_allow_bren"_s,
                              u"scr_allow_sten"_s,         u"scr_allow_sten_silenced"_s,
                              u"scr_allow_ft_axis"_s,      u"scr_allow_ft_allies"_s,
                              u"scr_allow_rl_axis"_s,      u"scr_allow_rl_allies"_s,
                              u"scr_allow_panzerfaust"_s,  u"scr_allow_panzerschreck"_s,
                              u"scr_allow_pistols"_s,      u"scr_allow_grenades"_s,
                              u"scr_allow_satchel"_s,      u"scr_allow_flak88"_s}));
        QCOMPARE(bits(queued), u"000010000100000100000000000000"_s);
        for (const QString& c : queued)
            QVERIFY(c.endsWith(u" 0"_s) || c.endsWith(u" 1"_s));

        // The same preset again changes no box and queues nothing.
        h.weapons().applyPreset(Preset::SniperOnly);
        QCOMPARE(h.link().queue().size(), queued.size());
    }

    void presetsCheckTheirBoxes_data()
    {
        QTest::addColumn<int>("preset");
        QTest::addColumn<QStringList>("on");
        QTest::newRow("Csak sniper") << int(Preset::SniperOnly)
                                     << QStringList{u"kar98sniper"_s, u"nagant_sniper"_s,
                                                    u"Springfield"_s, u"SmokeGranade"_s};
        QTest::newRow("Csak puska")
            << int(Preset::RifleOnly)
            << QStringList{u"kar98"_s, u"mosin_nagant"_s, u"lee_enfield"_s, u"SmokeGranade"_s};
        QTest::newRow("Csak ismétlő") << int(Preset::SemiAutoOnly)
                                      << QStringList{u"gewehr43"_s, u"svt40"_s, u"m1carbine"_s,
                                                     u"m1garand"_s, u"SmokeGranade"_s};
        QTest::newRow("Csak gépfegyver")
            << int(Preset::MGsOnly)
            << QStringList{u"mp40"_s, u"mp44"_s, u"ppsh"_s,          u"Thompson"_s,    u"BAR"_s,
                           u"Bren"_s, u"Sten"_s, u"Silenced_Sten"_s, u"SmokeGranade"_s};
        QTest::newRow("Csak pisztoly")
            << int(Preset::PistolOnly) << QStringList{u"pistol"_s, u"SmokeGranade"_s};
    }

    void presetsCheckTheirBoxes()
    {
        QFETCH(int, preset);
        QFETCH(QStringList, on);
        Harness h;
        // "30cal", "Tankok" and "Dzsippek" belong to no preset: they keep what they hold.
        h.check(u"_30cal"_s, false);
        h.check(u"Jeeps"_s, false);
        h.weapons().applyPreset(Preset(preset));
        for (const WeaponSwitches::Switch& s : WeaponSwitches::table()) {
            if (s.name == u"_30cal"_s || s.name == u"Jeeps"_s)
                QVERIFY(!h.checked(s.name));
            else if (s.name == u"Tanks"_s)
                QVERIFY(h.checked(s.name));
            else
                QVERIFY2(h.checked(s.name) == on.contains(s.name), qPrintable(s.name));
        }
        // "Minden fegyver" checks all 29 again, but still none of the three.
        h.weapons().applyPreset(Preset::All);
        for (const WeaponSwitches::Switch& s : WeaponSwitches::table())
            QVERIFY2(h.checked(s.name) == (s.name != u"_30cal"_s && s.name != u"Jeeps"_s),
                     qPrintable(s.name));
    }

    void boxesQueueTheirCommands()
    {
        Harness h;
        h.connectHeld();
        WeaponSwitches& weapons = h.weapons();
        const int tanks = WeaponSwitches::indexOf(u"Tanks"_s);
        QSignalSpy checkedSpy(&weapons, &WeaponSwitches::checkedChanged);

        // "Tankok" is disabled while its seven commands are queued, and only then.
        QList<std::pair<bool, qsizetype>> enabledAt;
        connect(&weapons, &WeaponSwitches::enabledChanged, this, [&](int index, bool enabled) {
            QCOMPARE(index, tanks);
            enabledAt.append({enabled, h.link().queue().size()});
        });
        h.check(u"Tanks"_s, false);
        QCOMPARE(h.link().queue(), QStringList({u"scr_allow_horch 0"_s, u"scr_allow_t34 0"_s,
                                                u"scr_allow_sherman 0"_s, u"scr_allow_panzeriv 0"_s,
                                                u"scr_allow_elefant 0"_s, u"scr_allow_su152 0"_s,
                                                u"scr_allow_tanks 0"_s}));
        QCOMPARE(enabledAt, (QList<std::pair<bool, qsizetype>>{{false, 0}, {true, 7}}));
        QVERIFY(weapons.isEnabled(tanks));
        QCOMPARE(checkedSpy.size(), 1);

        h.link().enqueueCommand(u"--"_s);
        h.check(u"Flamethrower"_s, false);
        h.check(u"FG42"_s, true);
        h.check(u"FG42"_s, true); // unchanged: nothing
        QCOMPARE(h.link().queue().mid(8),
                 QStringList({u"scr_allow_ft_axis 0"_s, u"scr_allow_ft_allies 0"_s,
                              u"scr_allow_fg42 1"_s, u"scr_allow_fg42_allies 1"_s,
                              u"scr_allow_fg42_axis 1"_s}));
        QCOMPARE(weapons.commands(WeaponSwitches::indexOf(u"Panzerfaust"_s)),
                 QStringList({u"scr_allow_rl_axis 1"_s, u"scr_allow_rl_allies 1"_s,
                              u"scr_allow_panzerfaust 1"_s, u"scr_allow_panzerschreck 1"_s}));
        QCOMPARE(checkedSpy.size(), 3);
    }

    void changesWhileDisconnectedAreNotSent()
    {
        Harness h;
        h.check(u"kar98"_s, false);
        h.weapons().applyPreset(Preset::PistolOnly);
        QVERIFY(!h.checked(u"kar98"_s)); // the box keeps its new state
        QVERIFY(h.checked(u"pistol"_s));
        ClientConfig(h.robot.settings(), h.link()).apply();
        h.connectHeld();
        QVERIFY(h.link().queue().isEmpty()); // nothing was kept for later
    }

    void clientConfigCommands()
    {
        Harness h;
        Settings& s = h.robot.settings();
        QCOMPARE(ClientConfig::commands(s), QStringList{u"set cfg_check 0"_s});
        s.setFlag(Key::CfgEnable, true);
        const QStringList defaults = {u"set cfg_time 10"_s,         u"set cfg_com_maxfps 0"_s,
                                      u"set cfg_cl_maxpackets 0"_s, u"set cfg_snaps 0"_s,
                                      u"set cfg_rate 0"_s,          u"set cfg_name \"\""_s,
                                      u"set cfg_check 1"_s};
        QCOMPARE(ClientConfig::commands(s), defaults);

        // "FPS limit:" changes the second command only; a forced empty name is no name.
        s.setFlag(Key::CkFps, true);
        s.setFlag(Key::CkName, true);
        QStringList expected = defaults;
        expected[1] = u"set cfg_com_maxfps 125"_s;
        QCOMPARE(ClientConfig::commands(s), expected);

        // Every value as it is set, the name as typed (quotes and all), cut to 255 characters.
        s.setFlag(Key::CkMaxpackets, true);
        s.setFlag(Key::CkSnaps, true);
        s.setFlag(Key::CkRate, true);
        s.setNumber(Key::SeInterval, 1000000000);
        s.setNumber(Key::SeMaxpackets, 5);
        s.setNumber(Key::SeSnaps, 999);
        s.setNumber(Key::SeRate, 10);
        const QString name = u"^1Ő \"x\" "_s + QString(300, u'n');
        s.setText(Key::EdName, name);
        QCOMPARE(
            ClientConfig::commands(s),
            QStringList({u"set cfg_time 1000000000"_s, u"set cfg_com_maxfps 125"_s,
                         u"set cfg_cl_maxpackets 5"_s, u"set cfg_snaps 999"_s, u"set cfg_rate 10"_s,
                         u"set cfg_name \""_s + name.left(255) + u'"', u"set cfg_check 1"_s}));

        // Switched off, only the switch goes, whatever the rest holds.
        s.setFlag(Key::CfgEnable, false);
        QCOMPARE(ClientConfig::commands(s), QStringList{u"set cfg_check 0"_s});
    }

    void commandsReachTheServerInOrder()
    {
        Harness h;
        h.server.setFloodGuardMs(0);
        h.link().setPacerInterval(20);
        h.link().connectAction();
        settle(h.link());
        h.weapons().applyPreset(Preset::RifleOnly);
        h.robot.settings().setFlag(Key::CfgEnable, true);
        h.robot.settings().setFlag(Key::CkRate, true);
        h.robot.clientConfig().apply();
        QStringList expected = h.link().queue();
        QCOMPARE(expected.size(), 24 + 7);
        QTRY_COMPARE_WITH_TIMEOUT(h.server.receivedCommands(), expected, 10000);
        QCOMPARE(h.server.variable(u"cfg_rate"_s), u"25000"_s);
        QCOMPARE(h.server.variable(u"cfg_check"_s), u"1"_s);
    }

    void disconnectSendsItsLastCommands()
    {
        Harness h;
        h.robot.settings().setFlag(Key::EventNotify, true);
        h.robot.settings().setFlag(Key::CfgEnable, true);
        h.link().connectAction();
        settle(h.link());
        QTRY_COMPARE(h.server.receivedCommands().size(), 1); // the hello in chat
        h.server.clearLog();
        h.link().enqueueCommand(u"serverinfo"_s);
        const qsizetype before = h.robot.console().lines().size();

        h.link().connectAction();
        settle(h.link());
        QVERIFY(!h.link().isConnected());
        QVERIFY(h.link().queue().isEmpty());
        // What waited was dropped; the goodbye and "Alkalmaz" went before the socket closed.
        QStringList expected = {u"say ^1vigilor^2> ^7Lecsatlakozva 2026.12.08. 12:34:56-kor"_s};
        expected << ClientConfig::commands(h.robot.settings());
        QCOMPARE(h.server.receivedCommands(), expected);
        QCOMPARE(h.server.floodDropCount(), 0);
        QCOMPARE(h.server.variable(u"cfg_check"_s), u"1"_s);
        // The disconnect's own lines stay together at the end.
        const QStringList lines = h.stampless(before);
        QCOMPARE(lines.first(), u"Lecsatlakozás: a sorban várakozó 1 parancs törölve"_s);
        QCOMPARE(lines.filter(u"Parancs küldés: "_s).size(), expected.size());
        QVERIFY(lines.at(lines.size() - 2).startsWith(u"Lecsatlakozás szerverről: "_s));
        QCOMPARE(lines.constLast(), u"Lecsatlakozva"_s);
    }

    // A preset stopped by "Szétkapcsol": nothing of it goes out after the click, the goodbye
    // and the client configuration do. Closing the window does the same.
    void disconnectStopsWhatIsQueued_data()
    {
        QTest::addColumn<bool>("byWindowClose");
        QTest::newRow("Szétkapcsol") << false;
        QTest::newRow("window closed") << true;
    }

    void disconnectStopsWhatIsQueued()
    {
        QFETCH(bool, byWindowClose);
        Harness h;
        h.robot.settings().setFlag(Key::EventNotify, true);
        h.link().setPacerInterval(100);
        h.server.setFloodGuardMs(0);
        h.link().connectAction();
        settle(h.link());
        QTRY_COMPARE(h.server.receivedCommands().size(), 1); // the hello in chat
        h.weapons().applyPreset(Preset::SniperOnly);
        QCOMPARE(h.link().queue().size(), 30);
        QTest::qWait(350);
        const qsizetype sentBefore = h.server.receivedCommands().size();
        QVERIFY(sentBefore < 31);
        if (byWindowClose)
            h.robot.close();
        else
            h.link().connectAction();
        settle(h.link());
        QVERIFY(!h.link().isConnected());
        const QStringList received = h.server.receivedCommands();
        QStringList expected = received.mid(0, sentBefore);
        expected << u"say ^1vigilor^2> ^7Lecsatlakozva 2026.12.08. 12:34:56-kor"_s
                 << u"set cfg_check 0"_s;
        QCOMPARE(received, expected);
        QTest::qWait(300);
        QCOMPARE(h.server.receivedCommands(), expected);
        QVERIFY(h.stampless(0).contains(u"Lecsatlakozás: a sorban várakozó "_s +
                                        QString::number(31 - sentBefore) + u" parancs törölve"_s));
    }

    // The last commands stop after six seconds, or sooner where the program's end sets a limit
    // (a signal's hard stop): what did not go out is named on the console.
    void lastCommandsStopInTime()
    {
        Harness h;
        h.robot.settings().setFlag(Key::EventNotify, true);
        h.robot.settings().setFlag(Key::CfgEnable, true);
        h.link().setPacerInterval(2100);
        h.connectHeld();
        h.link().connectAction();
        settle(h.link());
        // At 2.1 s a command, three leave within the six seconds; the rest is named and dropped.
        const QStringList all =
            QStringList{u"say ^1vigilor^2> ^7Lecsatlakozva 2026.12.08. 12:34:56-kor"_s} +
            ClientConfig::commands(h.robot.settings());
        QCOMPARE(h.server.receivedCommands(), all.mid(0, 3));
        QVERIFY(h.link().queue().isEmpty());
        QVERIFY(!h.link().isConnected());
        QVERIFY(h.stampless(0).contains(u"Lecsatlakozás: idő híján nem ment ki 5 parancs: "_s +
                                        all.mid(3).join(u" | "_s)));

        h.server.clearLog();
        h.link().setPacerInterval(600);
        h.connectHeld();
        QTest::qWait(650);
        h.link().limitLastCommands(QDeadlineTimer(1000));
        QElapsedTimer took;
        took.start();
        h.link().connectAction();
        settle(h.link());
        QVERIFY(took.elapsed() < 1100);
        // Sent at once and 600 ms later; the third would leave after the limit.
        QCOMPARE(h.server.receivedCommands(), all.mid(0, 2));
        QVERIFY(h.stampless(0).constLast() == u"Lecsatlakozva"_s);
        QVERIFY(h.stampless(0).contains(u"Lecsatlakozás: idő híján nem ment ki 6 parancs: "_s +
                                        all.mid(2).join(u" | "_s)));
    }

    // No line break from a one-line field reaches a datagram: a pasted map name, a cfg name,
    // a typed command; a message of several lines goes out line by line.
    void noLineBreakReachesADatagram()
    {
        Harness h;
        h.server.setFloodGuardMs(0);
        h.link().setPacerInterval(5);
        h.robot.settings().setFlag(Key::EventNotify, true);
        h.connectHeld();
        h.link().queue();
        MapRotation rotation;
        rotation.add(0, u"mp_carentan\r\n"_s);
        rotation.add(1, u"\nmp_toujane\r\nmp_harbor"_s);
        QCOMPARE(rotation.entries(), QStringList({u"gametype tdm map mp_carentan"_s,
                                                  u"gametype sd map mp_toujane mp_harbor"_s}));
        MapRotation::send(rotation.output(), h.link());
        h.robot.settings().setFlag(Key::CfgEnable, true);
        h.robot.settings().setFlag(Key::CkName, true);
        h.robot.settings().setText(Key::EdName, u"Név\r\nmásik"_s);
        h.robot.clientConfig().apply();
        h.link().sendFromCommandBox(u"status\n"_s);
        h.link().enqueueCommand(u"kick\u2028x"_s);
        h.robot.broadcaster().sayPublic(u"első sor\r\n\r\nmásodik sor\n"_s);
        const QStringList expected = {
            u"status"_s,
            u"say ^1vigilor^2> ^7Csatlakozva 2026.12.08. 12:34:56-kor"_s,
            u"set sv_mapRotation \"gametype tdm map mp_carentan gametype sd map mp_toujane "
            "mp_harbor\""_s,
            u"set sv_mapRotationCurrent \"gametype tdm map mp_carentan\" "_s,
            u"set cfg_time 10"_s,
            u"set cfg_com_maxfps 0"_s,
            u"set cfg_cl_maxpackets 0"_s,
            u"set cfg_snaps 0"_s,
            u"set cfg_rate 0"_s,
            u"set cfg_name \"Név másik\""_s,
            u"set cfg_check 1"_s,
            u"kick x"_s,
            u"say ^1vigilor^2> ^7első sor"_s,
            u"say ^1vigilor^2> ^7második sor"_s};
        QCOMPARE(h.link().queue(), expected);
        h.link().pacer().arm();
        QTRY_COMPARE_WITH_TIMEOUT(h.server.receivedCommands(), expected, 5000);
        for (const testserver::RconServer::Datagram& d : h.server.datagrams())
            QVERIFY2(!d.data.contains('\n') && !d.data.contains('\r'), d.data.constData());
        // The password too.
        QCOMPARE(link::rconDatagram(u"pw\r\n"_s, u"a\nb"_s),
                 QByteArray("\xff\xff\xff\xffrcon \"pw\" a b"));
    }

    void nothingInterruptsTheLastCommands()
    {
        Harness h;
        h.robot.settings().setFlag(Key::EventNotify, true); // the goodbye: the second one waits
        h.link().connectAction();
        settle(h.link());
        // While the last commands leave, window events run: a second click on the button, a
        // poll, a silence check or a command typed in the console change nothing.
        int events = 0;
        connect(&h.server, &testserver::RconServer::commandReceived, this, [&] {
            if (!h.link().isDisconnecting())
                return;
            ++events;
            h.link().connectAction();
            h.link().enqueueCommand(u"status"_s);
            h.link().enqueueCommand(u"status"_s);
            h.link().sendFromCommandBox(u"typed"_s);
        });
        h.link().enqueueCommand(u"one"_s);
        h.link().enqueueCommand(u"two"_s);
        h.link().connectAction();
        settle(h.link());
        QCOMPARE(h.server.receivedCommands(),
                 QStringList({u"say ^1vigilor^2> ^7Lecsatlakozva 2026.12.08. 12:34:56-kor"_s,
                              u"set cfg_check 0"_s}));
        QCOMPARE(events, 1);
        QVERIFY(!h.link().isConnected());
        const QStringList lines = h.stampless(0);
        QCOMPARE(lines.count(u"Lecsatlakozva"_s), 1);
        QCOMPARE(lines.filter(u"megszakadt"_s).size(), 0);
    }

    void silentServerIsReconnectedWithoutGoodbye()
    {
        Harness h;
        h.robot.settings().setFlag(Key::EventNotify, true);
        h.server.setDropReplies(true);
        h.link().connectAction();
        settle(h.link());
        h.link().enqueueCommand(u"status"_s);
        h.link().enqueueCommand(u"status"_s);
        QTRY_COMPARE(h.server.receivedCommands().size(), 3);
        QTRY_VERIFY(h.link().queue().isEmpty());
        h.server.clearLog();
        h.link().enqueueCommand(u"status"_s);
        settle(h.link());
        QVERIFY(h.link().isConnected());
        // Only the hello of the new connection is queued; no goodbye left.
        QCOMPARE(h.link().queue().size(), 1);
        QVERIFY(h.link().queue().front().contains(u"Csatlakozva"_s));
        QTest::qWait(100);
        QVERIFY(h.server.receivedCommands().filter(u"Lecsatlakozva"_s).isEmpty());
    }

    void rotationLines()
    {
        MapRotation rotation;
        QVERIFY(rotation.isEmpty());
        QVERIFY(rotation.outputLines().isEmpty());
        QCOMPARE(MapRotation::gameTypes().size(), 6);
        QCOMPARE(MapRotation::gameTypes().at(4).caption, u"Behing Enemy Lines (BEL)"_s);

        rotation.add(0, u"mp_carentan"_s);
        QCOMPARE(rotation.outputLines(),
                 QStringList({u"set sv_mapRotation \"gametype tdm map mp_carentan\""_s,
                              u"set sv_mapRotationCurrent \"gametype tdm map mp_carentan\" "_s}));
        rotation.add(1, u"mp_toujane"_s);
        rotation.add(5, QString()); // an empty name is taken as it is
        QCOMPARE(rotation.entries(),
                 QStringList({u"gametype tdm map mp_carentan"_s, u"gametype sd map mp_toujane"_s,
                              u"gametype bas map "_s}));
        QCOMPARE(
            rotation.output(),
            u"set sv_mapRotation \"gametype tdm map mp_carentan gametype sd map mp_toujane "
            "gametype bas map \"\nset sv_mapRotationCurrent \"gametype tdm map mp_carentan\" "_s);

        // The first entry moved down: the former second is the current one.
        QCOMPARE(rotation.moveDown(0), 1);
        QCOMPARE(rotation.outputLines().at(1),
                 u"set sv_mapRotationCurrent \"gametype sd map mp_toujane\" "_s);
        // At the ends, or with nothing selected, nothing moves.
        QCOMPARE(rotation.moveUp(0), 0);
        QCOMPARE(rotation.moveDown(2), 2);
        QCOMPARE(rotation.moveUp(-1), -1);
        QCOMPARE(rotation.moveDown(-1), -1);
        QCOMPARE(rotation.moveUp(2), 1);
        QCOMPARE(rotation.entries(),
                 QStringList({u"gametype sd map mp_toujane"_s, u"gametype bas map "_s,
                              u"gametype tdm map mp_carentan"_s}));
        QCOMPARE(rotation.remove(7), -1);
        QCOMPARE(rotation.entries().size(), 3);
        rotation.remove(0);
        rotation.remove(0);
        rotation.remove(0);
        QVERIFY(rotation.isEmpty());
        QVERIFY(rotation.output().isEmpty());
    }

    void rotationReachesTheServer()
    {
        Harness h;
        h.server.setFloodGuardMs(0);
        h.link().setPacerInterval(20);
        h.connectHeld();
        MapRotation rotation;
        rotation.add(0, u"mp_dawnville"_s);
        rotation.add(3, u"mp_harbor"_s);
        // The output as the operator edited it: the first line by hand, a third line ignored.
        QString output = rotation.output();
        output.replace(u"mp_harbor"_s, u"mp_rhine"_s);
        MapRotation::send(output + u"\nset g_gametype dm"_s, h.link());
        MapRotation::startNow(h.link());
        // A missing or empty line is no command.
        MapRotation::send(u"\n"_s, h.link());
        MapRotation::send(u"map_restart"_s, h.link());
        const QStringList expected = {
            u"set sv_mapRotation \"gametype tdm map mp_dawnville gametype ctf map mp_rhine\""_s,
            u"set sv_mapRotationCurrent \"gametype tdm map mp_dawnville\" "_s, u"map_rotate"_s,
            u"map_restart"_s};
        QCOMPARE(h.link().queue(), expected);
        h.link().pacer().arm();
        QTRY_COMPARE_WITH_TIMEOUT(h.server.receivedCommands(), expected, 5000);
        QCOMPARE(h.server.variable(u"sv_mapRotation"_s),
                 u"gametype tdm map mp_dawnville gametype ctf map mp_rhine"_s);
        QCOMPARE(h.server.variable(u"sv_mapRotationCurrent"_s), u"gametype tdm map mp_dawnville"_s);
        QCOMPARE(h.server.actions(), QStringList{u"map_rotate"_s});
    }

    void launcherCommandLine()
    {
        const QString path = u"C:/Games/CoD2/CoD2MP_s.exe"_s;
        QCOMPARE(Launcher::commandLine(path, u"10.0.0.5"_s, u"28960"_s, u"titok"_s, false),
                 u"C:/Games/CoD2/CoD2MP_s.exe +connect 10.0.0.5:28960"_s);
        QCOMPARE(Launcher::commandLine(path, u"h"_s, QString(), u"titok"_s, false),
                 u"C:/Games/CoD2/CoD2MP_s.exe +connect h:"_s);
        QCOMPARE(Launcher::commandLine(path, u"h"_s, u"1"_s, u" ti\"tok"_s, true),
                 u"C:/Games/CoD2/CoD2MP_s.exe +connect h:1 +set rconpassword  ti\"tok"_s);
        // The rcon part, from its leading blank to the end of the password, is cut to 255.
        const QString line = Launcher::commandLine(path, u"h"_s, u"1"_s, QString(300, u'p'), true);
        QCOMPARE(line.size(), path.size() + 13 + 255);
        QVERIFY(line.endsWith(u" +set rconpassword "_s + QString(255 - 19, u'p')));
    }

    void launcherStartsOnlyExecutables()
    {
        QTemporaryDir dir;
        for (const QString& name : {u"a.exe"_s, u"b.EXE"_s, u"c.com"_s, u"d.dll"_s, u"e.exe.txt"_s})
            QVERIFY(writeRecorder(dir.filePath(name)));
        QVERIFY(QDir(dir.path()).mkdir(u"f.exe"_s));
        QVERIFY(Launcher::isStartable(dir.filePath(u"a.exe"_s)));
        QVERIFY(Launcher::isStartable(dir.filePath(u"b.EXE"_s)));
        QVERIFY(!Launcher::isStartable(dir.filePath(u"c.com"_s)));
        QVERIFY(!Launcher::isStartable(dir.filePath(u"d.dll"_s)));
        QVERIFY(!Launcher::isStartable(dir.filePath(u"e.exe.txt"_s)));
        QVERIFY(!Launcher::isStartable(dir.filePath(u"f.exe"_s))); // a folder
        QVERIFY(!Launcher::isStartable(dir.filePath(u"missing.exe"_s)));
        QVERIFY(!Launcher::isStartable(QString()));
    }

    void goPlayStartsTheClientThroughWine()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows starts the game client itself, without wine (test_windows covers it)");
#endif
        FakeGame game;
        Harness h;
        Settings& s = h.robot.settings();
        s.setText(Key::CoDexe, game.client);
        s.setPort(QString());
        QDir::setCurrent(QDir::tempPath());

        h.robot.launcher().goPlay();
        QTRY_VERIFY(QFile::exists(game.recordFile()));
        // Started in the client's folder, the path one argument blanks and all, no password.
        const QString folder = QFileInfo(game.client).absolutePath();
        QCOMPARE(game.record(), QStringList({folder, game.client, u"+connect"_s, u"127.0.0.1:"_s}));
        // Afterwards the program folder is the working folder, so its files are found as before.
        QCOMPARE(QDir::currentPath(), QDir(h.dir.path()).absolutePath());

        // With the rcon switch: the password exactly as typed, runs of blanks and all, as one
        // argument.
        QFile::remove(game.recordFile());
        s.setFlag(Key::CkRcon, true);
        s.setPort(u"28961"_s);
        s.setPassword(u" my  pass   word "_s);
        h.robot.launcher().goPlay();
        QTRY_VERIFY(QFile::exists(game.recordFile()));
        QCOMPARE(game.record().mid(1),
                 QStringList({game.client, u"+connect"_s, u"127.0.0.1:28961"_s, u"+set"_s,
                              u"rconpassword"_s, u" my  pass   word "_s}));
        // Cut where the command line cuts it.
        QCOMPARE(Launcher::arguments(u"h"_s, u"1"_s, QString(300, u'p'), true).constLast(),
                 QString(255 - 19, u'p'));
        // Nothing of it reached the console.
        QVERIFY(h.robot.console().lines().filter(u"GoPlay"_s).isEmpty());
    }

    void goPlayStopsSilentlyOrSaysWhy()
    {
        FakeGame game;
        Harness h;
        Settings& s = h.robot.settings();
        QTemporaryDir other;
        QDir::setCurrent(other.path());
        const qsizetype lines = h.robot.console().lines().size();

        // Empty, missing or not an ".exe": nothing happens at all, not even a folder change.
        const QString com = game.games.filePath(u"client.com"_s);
        QVERIFY(writeRecorder(com));
        for (const QString& path : QStringList{QString(), game.client + u"x"_s, com}) {
            s.setText(Key::CoDexe, path);
            h.robot.launcher().goPlay();
        }
        QCOMPARE(QDir::currentPath(), QDir(other.path()).absolutePath());
        QCOMPARE(h.robot.console().lines().size(), lines);

#ifdef Q_OS_WIN
        // Windows starts the client itself: one that is no program (a damaged file) fails to
        // start, which is said on the console without the password; the program folder is the
        // working folder again.
        const QString broken = game.games.filePath(u"broken.exe"_s);
        QFile damaged(broken);
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("MZ, and nothing of a program after it");
        damaged.close();
        s.setText(Key::CoDexe, broken);
        s.setFlag(Key::CkRcon, true);
        h.robot.launcher().goPlay();
        QCOMPARE(h.robot.console().lines().size(), lines + 1);
        const QString said = h.robot.console().lines().constLast();
        QVERIFY2(said.contains(u" >> GoPlay: a játékkliens nem indítható: "_s +
                               QDir::toNativeSeparators(broken)),
                 qPrintable(said));
        QVERIFY(!said.contains(h.password));
        QCOMPARE(QDir::currentPath(), QDir(h.dir.path()).absolutePath());
#else
        // No wine on the PATH: one line says so, and nothing else happens.
        s.setText(Key::CoDexe, game.client);
        QVERIFY(QFile::remove(game.bin.filePath(u"wine"_s)));
        h.robot.launcher().goPlay();
        QCOMPARE(h.robot.console().lines().size(), lines + 1);
        QVERIFY(h.robot.console().lines().constLast().endsWith(
            u" >> GoPlay: a Windows-os játékkliens indításához wine kell, de a PATH-ban nincs "
            "wine."_s));
        QCOMPARE(QDir::currentPath(), QDir(other.path()).absolutePath());

        // A wine that cannot start: said on the console without the password; the program folder
        // is the working folder again.
        QVERIFY(writeRecorder(game.bin.filePath(u"wine"_s), u"#!/nonexistent/shell"_s));
        s.setFlag(Key::CkRcon, true);
        h.robot.launcher().goPlay();
        QCOMPARE(h.robot.console().lines().size(), lines + 2);
        const QString said = h.robot.console().lines().constLast();
        QVERIFY2(said.contains(u" >> GoPlay: a játékkliens nem indítható: "_s + game.client),
                 qPrintable(said));
        QVERIFY(!said.contains(h.password));
        QCOMPARE(QDir::currentPath(), QDir(h.dir.path()).absolutePath());
        QVERIFY(!QFile::exists(game.recordFile()));
#endif
    }
};

QTEST_MAIN(TestTools)
#include "test_tools.moc"
