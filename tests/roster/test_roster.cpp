#include "roster/playerline.h"
#include "roster/roster.h"
#include "roster/serverinfo.h"
#include "settings/settings.h"
#include "text/errors.h"
#include "text/textutil.h"

#include <QSignalSpy>
#include <QTest>

using namespace vigilor;
using namespace vigilor::roster;
using namespace Qt::StringLiterals;

namespace {

const QString kGuidHeader =
    u"num score ping guid   name            lastmsg address               qport rate"_s;
const QString kNoGuidHeader =
    u"num score ping name            lastmsg address               qport rate"_s;

// A player line as the servers print it: %3i %5i %4i, with the guid layout %6i, the name padded
// to 16, %7i lastmsg, the address padded to 22, %5i qport, " %5i" rate.
QString line(int slot, int score, const QString& ping, const QString& name, const QString& address,
             int rate, bool guid = true)
{
    QString l = QString::asprintf("%3d %5d ", slot, score);
    l += ping.rightJustified(4) + u' ';
    if (guid)
        l += QString::asprintf("%6d ", 123456);
    l += name.leftJustified(16);
    l += QString::asprintf("%7d ", 50);
    l += address.leftJustified(22);
    l += QString::asprintf("%5d %5d", 4321, rate);
    return l;
}

QStringList reply(const QStringList& players, const QString& header = kGuidHeader)
{
    QStringList lines{
        u"map: mp_toujane"_s, header,
        u"--- ----- ---- ------ --------------- ------- --------------------- ----- -----"_s};
    lines += players;
    lines += QString();
    return lines;
}

class Sink final : public ErrorSink
{
public:
    void reportError(const std::exception& e) override
    {
        messages.append(QString::fromUtf8(e.what()));
    }
    QStringList messages;
};

} // namespace

class TestRoster final : public QObject
{
    Q_OBJECT

private slots:
    void readsTheFixedColumns()
    {
        const QString l = line(3, 12, u"48"_s, u"Joe"_s, u"10.0.0.7:28960"_s, 25000);
        QVERIFY(isPlayerLine(l));
        QCOMPARE(playerSlot(l), 3);
        QCOMPARE(playerScore(l), 12);
        QCOMPARE(playerPing(l), 48);
        QCOMPARE(playerName(l), u"Joe"_s);
        QCOMPARE(playerAddress(l), u"10.0.0.7"_s);
        QCOMPARE(playerRate(l, 9999), 25000);

        // The columns as the readers see them: two blanks, 3, four blanks, 12, three blanks, 48.
        const QString exact = u"  3    12   48"_s + l.mid(14);
        QCOMPARE(playerSlot(exact), 3);
        QCOMPARE(playerScore(exact), 12);
        QCOMPARE(playerPing(exact), 48);
    }

    void scoresAndPings()
    {
        QCOMPARE(playerScore(line(0, -5, u"10"_s, u"a"_s, u"1.2.3.4:1"_s, 1)), -5);
        QCOMPARE(playerScore(line(0, 1234, u"10"_s, u"a"_s, u"1.2.3.4:1"_s, 1)), 234);
        QCOMPARE(playerScore(line(0, -123, u"10"_s, u"a"_s, u"1.2.3.4:1"_s, 1)), 123);
        QCOMPARE(playerPing(line(0, 7, u"1999"_s, u"a"_s, u"1.2.3.4:1"_s, 1)), 999);
        const QString connecting = line(4, 7, u"CNCT"_s, u"a"_s, u"1.2.3.4:1"_s, 1);
        QCOMPARE(playerPing(connecting), 999);
        QCOMPARE(playerScore(connecting), 7);
        QCOMPARE(playerPing(line(4, 7, u"ZMBI"_s, u"a"_s, u"1.2.3.4:1"_s, 1)), 999);
    }

    void names_data()
    {
        QTest::addColumn<bool>("guid");
        QTest::newRow("guid") << true;
        QTest::newRow("no guid") << false;
    }

    void names()
    {
        QFETCH(bool, guid);
        const QString header = guid ? kGuidHeader : kNoGuidHeader;
        const StatusLayout layout = statusLayout(reply({}, header));
        QCOMPARE(layout.nameColumn, guid ? 23 : 16);
        // The record reads the name as the reader does; the other fields do not move.
        const auto name = [&](const QString& printed) {
            const PlayerRecord r =
                readPlayer(line(1, 0, u"5"_s, printed, u"1.2.3.4:5"_s, 1, guid), 0, layout);
            return r.slot == 1 && r.address == u"1.2.3.4" && r.rate == 1 ? r.name : u"<moved>"_s;
        };
        QCOMPARE(name(u"ABCDEFGHIJKLMNOPQRSTUVWXY"_s), u"ABCDEFGHIJKLMNOPQRST"_s);
        QCOMPARE(name(u"Big Bad Wolf"_s), u"Big Bad Wolf"_s);
        QCOMPARE(name(u"  Lead"_s), u"  Lead"_s);
        QCOMPARE(name(u"x"_s), u"x"_s);
        QCOMPARE(name(u"Sixteen chars ok"_s), u"Sixteen chars ok"_s);
        const QString shortLine =
            guid ? u"  1     0    5 123456 Trailing    "_s : u"  1     0    5 Trailing    "_s;
        QCOMPARE(playerName(shortLine, layout), u"Trailing"_s);
    }

    void layoutFromTheHeader()
    {
        QCOMPARE(statusLayout(reply({}, kGuidHeader)), StatusLayout{});
        QCOMPARE(statusLayout(reply({}, kNoGuidHeader)).nameColumn, 16);
        // A longer guid column moves the name as far as the header says.
        QCOMPARE(statusLayout(reply({}, u"num score ping guid                             name   "
                                        u"         lastmsg address               qport rate"_s))
                     .nameColumn,
                 49);
        // Missing or unknown headers keep the guid layout's columns.
        QCOMPARE(statusLayout({}), StatusLayout{});
        QCOMPARE(statusLayout(QStringList{u"map: x"_s, QString()}), StatusLayout{});
        QCOMPARE(
            statusLayout(reply({}, u"num score ping player          lastmsg address qport rate"_s)),
            StatusLayout{});
        QCOMPARE(statusLayout(reply({}, u"num name score ping lastmsg address qport rate"_s)),
                 StatusLayout{});
        QCOMPARE(statusLayout(reply({}, u"num score ping guid   names           qport rate"_s)),
                 StatusLayout{});
        // A player whose name holds the header's words is no header.
        const QString tricky = line(2, 1, u"40"_s, u"a qport name"_s, u"1.2.3.4:5"_s, 1, false);
        QCOMPARE(statusLayout(QStringList{u"map: x"_s, tricky, QString()}), StatusLayout{});
        QCOMPARE(statusLayout(QStringList{u"map: x"_s, tricky, kNoGuidHeader}).nameColumn, 16);
    }

    void addresses()
    {
        QCOMPARE(playerAddress(line(1, 0, u"5"_s, u"x"_s, u"192.168.100.200:28960"_s, 1)),
                 u"192.168.100.200"_s);
        QCOMPARE(playerAddress(u" 1 short"_s), QString());
        // A stretch without a colon is no address, unless it is a word servers print there.
        QCOMPARE(playerAddress(line(1, 0, u"5"_s, u"x"_s, u"192.168.100.200"_s, 1)), QString());
        QCOMPARE(playerAddress(line(1, 0, u"5"_s, u"x"_s, u"loopbacks"_s, 1)), QString());
        QCOMPARE(playerAddress(line(1, 0, u"5"_s, u"x"_s, u"robot"_s, 1)), QString());
    }

    void addressesAsServersPrintThem_data()
    {
        QTest::addColumn<QString>("printed");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("remembered");
        QTest::newRow("negative port") << u"203.0.113.7:-27960"_s << u"203.0.113.7"_s << true;
        QTest::newRow("negative port, field full")
            << u"203.100.113.255:-3276"_s << u"203.100.113.255"_s << true;
        QTest::newRow("loopback") << u"loopback"_s << u"loopback"_s << false;
        QTest::newRow("bot") << u"bot"_s << u"bot"_s << false;
    }

    void addressesAsServersPrintThem()
    {
        QFETCH(QString, printed);
        QFETCH(QString, address);
        QFETCH(bool, remembered);
        for (const bool guid : {true, false}) {
            const QString l = line(4, 2, u"40"_s, u"Some One"_s, printed, 25000, guid);
            QCOMPARE(playerAddress(l), address);
            QCOMPARE(playerRate(l, 1), 25000);
            QCOMPARE(playerSlot(l), 4);
        }
        QCOMPARE(isRememberableAddress(address), remembered);
    }

    void rememberableAddresses()
    {
        for (const QString& a : {u"1.2.3.4"_s, u"255.255.255.255"_s, u"10.0.0.1"_s})
            QVERIFY2(isRememberableAddress(a), qPrintable(a));
        for (const QString& a :
             {QString(), u"loopback"_s, u"bot"_s, u"1.2.3"_s, u"1.2.3.4.5"_s, u"256.1.1.1"_s,
              u"1.2.3.x"_s, u"1..3.4"_s, u"1234.1.1.1"_s, u" 1.2.3.4"_s})
            QVERIFY2(!isRememberableAddress(a), qPrintable(a));
    }

    void nonPlayerLines()
    {
        const QStringList notPlayers = {u"map: mp_x"_s,     u" num score ping qport"_s,
                                        u" --- -----"_s,    u"x print y"_s,
                                        u"Joe 1 2 3 4 5"_s, u" 12345"_s,
                                        u"  1 x print"_s,   u"  1 -----x"_s,
                                        u"  1 map: abc"_s,  u"  3 12 qport"_s};
        for (const QString& l : notPlayers) {
            QVERIFY2(!isPlayerLine(l), qPrintable(l));
            QCOMPARE(playerSlot(l), 255);
            QCOMPARE(playerScore(l), 0);
            QCOMPARE(playerPing(l), 0);
            QCOMPARE(playerName(l), QString());
            QCOMPARE(playerAddress(l), QString());
            QCOMPARE(playerRate(l, 25000), 25000);
        }
    }

    // The name with the codes it was sent with, found by the columns counted without them, in
    // both layouts; the table shows it beside the name it reads, for the lines it was told.
    void colouredNames()
    {
        for (const bool guid : {true, false}) {
            const QString plain =
                line(3, 12, u"48"_s, u"Jo e"_s, u"10.0.0.7:28960"_s, 25000, guid);
            QString coloured = plain;
            coloured.replace(u"Jo e"_s, u"^1J^^9o^2 e^7"_s);
            coloured.prepend(u"^7"_s); // a code before the slot column moves every column
            const StatusLayout layout = statusLayout(reply({plain}, guid ? kGuidHeader
                                                                          : kNoGuidHeader));
            QCOMPARE(text::stripColours(coloured), plain);
            QCOMPARE(colouredPlayerName(coloured, layout), u"^1J^^9o^2 e"_s);
            QCOMPARE(colouredPlayerName(plain, layout), u"Jo e"_s);
        }
        QCOMPARE(colouredPlayerName(u"map: ^1mp_toujane"_s), QString());

        Settings settings;
        Roster roster(settings, nullptr);
        const QString joe = line(3, 12, u"48"_s, u"Joe"_s, u"10.0.0.7:28960"_s, 25000);
        const QString ann = line(4, 2, u"50"_s, u"Ann"_s, u"10.0.0.8:28960"_s, 25000);
        QString colouredJoe = joe;
        colouredJoe.replace(u"Joe"_s, u"^3Joe^7"_s);
        roster.setText(reply({joe, ann}), {{joe, colouredJoe}});
        roster.refresh();
        QCOMPARE(roster.rows().at(0).at(3), u"Joe"_s);
        QCOMPARE(roster.shownName(0), u"^3Joe"_s);
        QCOMPARE(roster.shownName(1), u"Ann"_s);
        // A reply without colours told shows the names as read.
        roster.setText(reply({joe, ann}));
        roster.refresh();
        QCOMPARE(roster.shownName(0), u"Joe"_s);
        QCOMPARE(roster.shownName(5), QString());
    }

    void namesThatLookLikeHeaderWords()
    {
        // A name may hold the words that mark header lines; the line is still a player's.
        for (const QString& name : {u"print"_s, u"xqportx"_s, u"map:"_s, u"-----"_s,
                                    u"a print b qport c map: d ----- e"_s}) {
            const QString l = line(6, 3, u"40"_s, name, u"10.0.0.6:28960"_s, 25000);
            QVERIFY2(isPlayerLine(l), qPrintable(l));
            QCOMPARE(playerSlot(l), 6);
            QCOMPARE(playerName(l), name.left(20));
            QCOMPARE(playerAddress(l), u"10.0.0.6"_s);
        }
        // Outside the name the words still mark a line that is no player's.
        QVERIFY(!isPlayerLine(line(6, 3, u"40"_s, u"Joe"_s, u"print:28960"_s, 25000)));
        const QString mapInPing = u"  6 map:    40 123456 "_s + u"Joe"_s.leftJustified(16) +
                                  u"     50 10.0.0.6:28960          4321 25000"_s;
        QVERIFY(!isPlayerLine(mapInPing));
    }

    void malformedLinesAreLeftOut()
    {
        const QString good = line(1, 9, u"40"_s, u"Good"_s, u"1.2.3.4:5"_s, 25000);
        const QString bad = u"  2   xyz   40 bad line with letters in the score column"_s;
        const QString late = line(3, 4, u"41"_s, u"Later"_s, u"1.2.3.5:5"_s, 25000);
        QStringList skipped;
        const QStringList readable = readableLines(reply({good, bad, late}), &skipped);
        QCOMPARE(readable, reply({good, late}));
        QCOMPARE(skipped, QStringList{bad});
    }

    void markersOnlyWhole()
    {
        // Parts of the marker words do not make a line a header line.
        for (const QString& l : {u"  1 qpor prin ---- map"_s, u"  2 mapx prin-t"_s, u"  3 ----"_s})
            QVERIFY2(isPlayerLine(l), qPrintable(l));
    }

    void lettersInNumberColumnsThrow()
    {
        QVERIFY_THROWS_EXCEPTION(ConversionError, playerScore(u" 1   abc   12 rest"_s));
        QVERIFY_THROWS_EXCEPTION(ConversionError, playerPing(u" 1     5 xx  rest"_s));
        // A line that ends before the score's last column.
        QVERIFY_THROWS_EXCEPTION(ConversionError, playerScore(u" 1     "_s));
        QVERIFY_THROWS_EXCEPTION(ConversionError, playerRate(u" 1 2 3 4 x5000"_s, 1));
    }

    void counts()
    {
        const QString p = line(0, 1, u"40"_s, u"a"_s, u"1.2.3.4:5"_s, 25000);
        QCOMPARE(playerCount(reply({p})), 1);
        QCOMPARE(playerCount(reply({p, p, p})), 3);
        QCOMPARE(playerCount(reply({})), 0);
        QCOMPARE(playerCount(QStringList{u"map: x"_s, u"h qport x"_s, u"---"_s, QString()}), 0);
        QCOMPARE(playerCount(reply({u"junk"_s, u"more junk"_s})), 0);
        // Everything between the first and the last player line counts.
        QCOMPARE(playerCount(reply({p, u"junk"_s, p})), 3);
        QCOMPARE(playerCount(QString(u"map: x\nh qport \n---\n" + p + u"\n\n")), 1);
    }

    void tableFromRoster()
    {
        Settings settings;
        Sink sink;
        Roster roster(settings, &sink);
        QSignalSpy changed(&roster, &Roster::rowsChanged);
        roster.setText(reply({line(0, 5, u"40"_s, u"Alpha"_s, u"1.2.3.4:5"_s, 25000),
                              line(7, -2, u"CNCT"_s, u"Beta Two"_s, u"5.6.7.8:9"_s, 3000)}));
        roster.refresh();
        QCOMPARE(roster.rows().size(), 2);
        QCOMPARE(roster.rows()[0],
                 (QStringList{u"0"_s, u"5"_s, u"40"_s, u"Alpha"_s, u"1.2.3.4"_s, u"25000"_s}));
        QCOMPARE(roster.rows()[1],
                 (QStringList{u"7"_s, u"-2"_s, u"999"_s, u"Beta Two"_s, u"5.6.7.8"_s, u"3000"_s}));
        QVERIFY(changed.count() >= 1);

        // A bad line ends the refresh there; rows filled before it stay, the error is thrown.
        roster.setText(reply({line(1, 9, u"40"_s, u"Gamma"_s, u"1.2.3.4:5"_s, 25000),
                              u"  2   xyz   40 bad line with letters in the score column"_s}));
        QVERIFY_THROWS_EXCEPTION(ConversionError, roster.refresh());
        QCOMPARE(roster.rows()[0][3], u"Gamma"_s);
        QCOMPARE(roster.rows()[1][0], u"2"_s); // the slot was read before the score failed

        // The timer path and the menu path report the error instead of throwing.
        roster.refreshNow();
        QCOMPARE(sink.messages.size(), 1);

        roster.clearRows();
        QVERIFY(roster.rows().isEmpty());
    }

    void tableInTheNoGuidLayout()
    {
        Settings settings;
        Roster roster(settings, nullptr);
        roster.setText(reply({line(0, 5, u"40"_s, u"Big Bad Wolf"_s, u"loopback"_s, 25000, false),
                              line(9, 1, u"ZMBI"_s, u"ABCDEFGHIJKLMNOPQRSTUVWXY"_s,
                                   u"198.51.100.9:-1234"_s, 5000, false)},
                             kNoGuidHeader));
        QCOMPARE(roster.layout().nameColumn, 16);
        roster.refresh();
        QCOMPARE(roster.rows().size(), 2);
        QCOMPARE(roster.rows()[0], (QStringList{u"0"_s, u"5"_s, u"40"_s, u"Big Bad Wolf"_s,
                                                u"loopback"_s, u"25000"_s}));
        QCOMPARE(roster.rows()[1], (QStringList{u"9"_s, u"1"_s, u"999"_s, u"ABCDEFGHIJKLMNOPQRST"_s,
                                                u"198.51.100.9"_s, u"5000"_s}));
        // The next roster brings its own header.
        roster.setText(reply({line(0, 5, u"40"_s, u"Alpha"_s, u"bot"_s, 25000)}));
        QCOMPARE(roster.layout(), StatusLayout{});
        roster.refresh();
        QCOMPARE(roster.rows()[0][3], u"Alpha"_s);
        QCOMPARE(roster.rows()[0][4], u"bot"_s);
    }

    void listTimerFollowsTheWindow()
    {
        Settings settings;
        Roster roster(settings, nullptr);
        roster.setWindowShowing(true);
        roster.refresh();
        QVERIFY(roster.listTimer().isActive());
        roster.setWindowShowing(false);
        roster.refresh();
        QVERIFY(!roster.listTimer().isActive());
    }

    // A serverinfo reply as the game prints it (its datagram header kept, the name's colour
    // codes kept, keys padded to 20); other replies are none.
    void readsServerInfo()
    {
        const QString reply = u"\xff\xff\xff\xffprint\nServer info settings:\n"
                              u"g_gametype          sd\n"
                              u"mapname             mp_toujane\n"
                              u"sv_hostname         ^2Gyakorló ^7Szerver\n"
                              u"sv_maxclients       24\n"
                              u"shortversion        1.51\n"_s;
        const auto facts = parseServerInfo(reply);
        QVERIFY(facts);
        QCOMPARE(facts->name, u"^2Gyakorló ^7Szerver"_s);
        QCOMPARE(facts->gameType, u"sd"_s);
        QCOMPARE(facts->map, u"mp_toujane"_s);
        QCOMPARE(facts->maxPlayers, 24);
        QVERIFY(!parseServerInfo(u"\"sv_hostname\" is:\"x^7\" default:\"y^7\"\n"_s));
        QVERIFY(!parseServerInfo(u"Server info settings:\n"_s));
        QVERIFY(!parseServerInfo(u"Unknown command \"serverinfo\"\n"_s));
        QCOMPARE(statusMap(u"map: mp_harbor"_s), u"mp_harbor"_s);
        QCOMPARE(statusMap(u"num score ping"_s), QString());
    }

    // One question after each connect and one per new map a status reply names, only while
    // watched; a lost answer is not asked again for the same map.
    void asksForServerInfoSparingly()
    {
        QStringList sent;
        ServerInfo info([&sent](const QString& command) { sent << command; });
        QSignalSpy changed(&info, &ServerInfo::changed);
        info.connectedChanged(true);
        info.statusReply(u"map: mp_harbor"_s);
        QVERIFY(sent.isEmpty()); // nobody watches
        info.setWatching(true, true);
        QCOMPARE(sent, QStringList{u"serverinfo"_s});
        info.statusReply(u"map: mp_harbor"_s); // the question is about this map
        QCOMPARE(sent.size(), 1);
        info.consoleReply(u"Server info settings:\nmapname             mp_harbor\n"
                          u"sv_hostname         Egy\n"_s);
        QCOMPARE(info.facts().name, u"Egy"_s);
        info.statusReply(u"map: mp_harbor"_s);
        QCOMPARE(sent.size(), 1);
        const qsizetype changes = changed.size();
        info.statusReply(u"map: mp_depot"_s);
        QCOMPARE(sent.size(), 2);
        QCOMPARE(info.map(), u"mp_depot"_s);
        QCOMPARE(changed.size(), changes + 1);
        info.statusReply(u"map: mp_depot"_s); // its answer was lost: not asked again
        QCOMPARE(sent.size(), 2);
        info.connectedChanged(false);
        info.statusReply(u"map: mp_carentan"_s);
        QCOMPARE(sent.size(), 2); // not while disconnected
        info.connectedChanged(true);
        QCOMPARE(sent.size(), 3);
        info.setWatching(false, true);
        info.connectedChanged(false);
        info.connectedChanged(true);
        QCOMPARE(sent.size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestRoster)
#include "test_roster.moc"
