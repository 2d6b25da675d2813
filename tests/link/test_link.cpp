// The link, the reply intake and the console log, driven through a whole Robot over real UDP
// against the practice server on 127.0.0.1.
#include "link/datagram.h"
#include "support/fakenames.h"
#include "support/robotfixture.h"
#include "support/wine.h"
#include "text/cp1250.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using testserver::Player;
using testserver::RconServer;

namespace {

QByteArray reply(const QByteArray& body) { return QByteArray("\xff\xff\xff\xffprint\n") + body; }

QList<Player> players(int count)
{
    QList<Player> list;
    for (int i = 0; i < count; ++i) {
        Player p;
        p.slot = i;
        p.score = i * 3;
        p.ping = 40 + i;
        p.name = u"^1Player^7"_s + QString::number(i);
        p.address = u"10.0.%1.%2:28960"_s.arg(i / 200).arg(i % 200 + 1);
        p.rate = 25000;
        list.append(p);
    }
    return list;
}

// One robot in a temporary program folder, with a fake clock for its stamps.
struct Harness : RobotFixture
{
    Harness() : RobotFixture(u"secret"_s)
    {
        robot.startUp();
        pointAtServer();
        // The robot's own chat lines are tested where they belong; here they would only
        // interleave with the commands under test.
        robot.settings().setFlag(Key::EventNotify, false);
    }
    QStringList lines() { return robot.console().lines(); }
    QString lastLine() { return lines().isEmpty() ? QString() : lines().back(); }
    // Feeds a datagram as if it came from the server, errors dropped as the socket does.
    void feed(const QByteArray& datagram)
    {
        try {
            robot.intake().handleDatagram(datagram);
        } catch (...) {
        }
    }
    bool waitForCommands(int count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return server.receivedCommands().size() >= count; }, timeoutMs);
    }
    QString stampless(const QString& line) { return line.mid(line.indexOf(u" >> "_s) + 4); }
};

// A robot whose server is a host name that the test's own name server answers.
struct NamedHarness : Harness
{
    FakeNames names;
    bool named = false;

    NamedHarness(const QString& host, const QByteArray& hosts)
    {
        names.useHere();
        named = names.write(hosts);
        robot.settings().setHost(host);
    }
};

// The next try after a failed connect comes due now, as if its pause were over.
bool retryNow(link::Link& link)
{
    auto* retry = link.findChild<QTimer*>(u"ReconnectTimer"_s);
    return retry && retry->isActive() &&
           QMetaObject::invokeMethod(retry, "timeout", Qt::DirectConnection);
}

const char* const kNeedsNames = "needs the test's name server preloaded (ctest does that)";

} // namespace

class TestLink final : public QObject
{
    Q_OBJECT

private slots:
    void datagramBytes()
    {
        QCOMPARE(link::rconDatagram(u"pa\"ss"_s, u"status"_s),
                 QByteArray("\xff\xff\xff\xffrcon \"pa\"ss\" status"));
        QCOMPARE(link::rconDatagram(u"p"_s, QString()), QByteArray("\xff\xff\xff\xffrcon \"p\" "));
        QCOMPARE(link::rconDatagram(u"jó"_s, u"say ű"_s),
                 QByteArray("\xff\xff\xff\xffrcon \"j\xf3\" say \xfb"));
        QCOMPARE(link::commandEcho(QString()), u"Parancs küldés: \"\""_s);
        // A new rcon password never reaches the console in clear text.
        const QString echo = link::commandEcho(u"set RCONPASSWORD \"topsecret\""_s);
        QVERIFY(!echo.contains(u"topsecret"_s));
        QVERIFY(echo.startsWith(u"Parancs küldés: \"set RCONPASSWORD \""_s));
    }

    void queueOrderAndDrops()
    {
        Harness h;
        // Disconnected: dropped without a word, but the silence check still looks.
        h.robot.link().enqueueCommand(u"say hello"_s);
        QVERIFY(h.robot.link().queue().isEmpty());

        h.robot.link().connectAction();
        settle(h.robot.link());
        QVERIFY(h.robot.link().isConnected());
        h.robot.link().pacer().stop(); // hold the queue still
        for (int i = 0; i < 10; ++i)
            h.robot.link().enqueueCommand(u"cmd"_s + QString::number(i));
        h.robot.link().enqueueCommand(u"set RconPassword \"x\""_s);
        h.robot.link().enqueueCommand(u"say my rconpassword is long"_s);
        QCOMPARE(h.robot.link().queue().front(), u"say my rconpassword is long"_s);
        QCOMPARE(h.robot.link().queue().at(1), u"set RconPassword \"x\""_s);
        QCOMPARE(h.robot.link().queue().back(), u"cmd9"_s);
        // The command box overtakes everything; of two typed quickly the later goes first.
        h.robot.link().sendFromCommandBox(u"first"_s);
        h.robot.link().sendFromCommandBox(u"second"_s);
        QCOMPARE(h.robot.link().queue().mid(0, 2), (QStringList{u"second"_s, u"first"_s}));
    }

    void pacerSendsOnePerTickAndEchoes()
    {
        Harness h;
        QCOMPARE(h.robot.link().pacer().period(), 600);
        h.robot.link().connectAction();
        settle(h.robot.link());
        QVERIFY(h.robot.link().pacer().isArmed());
        QVERIFY(h.robot.link().rosterPoll().isRunning());
        h.robot.link().enqueueCommand(u"serverinfo"_s);
        h.robot.link().enqueueCommand(u"vigilor"_s);
        h.robot.link().enqueueCommand(u"Vigilor"_s);
        h.robot.link().enqueueCommand(u"vigilor x"_s);
        h.robot.link().sendFromCommandBox(QString());
        QVERIFY(h.waitForCommands(5, 8000));
        // The 600 ms pace keeps every command clear of the server's 500 ms flood guard.
        QCOMPARE(h.server.floodDropCount(), 0);
        QCOMPARE(h.server.receivedCommands(),
                 (QStringList{QString(), u"serverinfo"_s, u"vigilor"_s, u"Vigilor"_s, u"vigilor x"_s}));
        QStringList echoes;
        for (const QString& l : h.lines())
            if (l.contains(u"Parancs küldés"_s))
                echoes << h.stampless(l);
        // The bare channel variable is never echoed; an empty command ends in two quotes.
        QCOMPARE(echoes, (QStringList{u"Parancs küldés: \"\""_s, u"Parancs küldés: \"serverinfo\""_s,
                                      u"Parancs küldés: \"Vigilor\""_s,
                                      u"Parancs küldés: \"vigilor x\""_s}));
        const QList<RconServer::Datagram> grams = h.server.datagrams();
        QCOMPARE(grams.front().data, QByteArray("\xff\xff\xff\xffrcon \"secret\" "));
    }

    void pacingMenuIntervals()
    {
        Harness h;
        h.robot.link().setPacerInterval(2100);
        h.robot.link().connectAction();
        settle(h.robot.link());
        QCOMPARE(h.robot.link().pacer().period(), 2100);
        QVERIFY(h.robot.link().pacer().isArmed());
        h.robot.link().setPacerInterval(700);
        QCOMPARE(h.robot.link().pacer().period(), 700);
        QVERIFY(h.robot.link().pacer().isArmed());
    }

    void connectAndDisconnectLines()
    {
        Harness h;
        QSignalSpy controls(&h.robot.link(), &link::Link::linkControlsUpdated);
        h.robot.settings().setPassword(QString());
        h.robot.link().connectAction(); // an empty field: nothing at all
        settle(h.robot.link());
        QVERIFY(!h.robot.link().isConnected());
        QCOMPARE(controls.count(), 0);
        h.robot.settings().setPassword(u"secret"_s);

        h.robot.link().connectAction();
        settle(h.robot.link());
        const QString where = u"127.0.0.1:"_s + QString::number(h.server.port());
        QCOMPARE(h.stampless(h.lastLine()), u"Csatlakozás szerverhez: "_s + where);
        QCOMPARE(h.robot.link().trayHint(), u"Vigilor - "_s + where);
        QCOMPARE(controls.count(), 1);
        QCOMPARE(controls.last().at(0).toBool(), true);

        h.robot.link().pacer().stop();
        h.robot.link().enqueueCommand(u"status"_s);
        h.robot.link().connectAction();
        settle(h.robot.link());
        QVERIFY(!h.robot.link().isConnected());
        QVERIFY(h.robot.link().queue().isEmpty());
        QVERIFY(!h.robot.link().pacer().isArmed());
        QVERIFY(!h.robot.link().rosterPoll().isRunning());
        const qsizetype n = h.lines().size();
        QCOMPARE(h.stampless(h.lines()[n - 2]), u"Lecsatlakozás szerverről: "_s + where);
        QCOMPARE(h.stampless(h.lines()[n - 1]), u"Lecsatlakozva"_s);
        QCOMPARE(h.robot.link().trayHint(), u"Vigilor - "_s + where); // kept on disconnect
        QCOMPARE(controls.last().at(0).toBool(), false);
    }

    void connectSaysSoInChat()
    {
        Harness h;
        h.robot.settings().setFlag(Key::EventNotify, true);
        h.robot.link().connectAction();
        settle(h.robot.link());
        QVERIFY(h.waitForCommands(1));
        QCOMPARE(h.server.receivedCommands().front(),
                 u"say ^1vigilor^2> ^7Csatlakozva 2026.12.08. 12:34:56-kor"_s);
    }

    // A port that is no port cannot come right by waiting: said once, and not tried again.
    void portThatIsNoPortIsSaidOnce()
    {
        Harness h;
        h.robot.settings().setPort(u"notaport"_s);
        h.robot.link().connectAction();
        settle(h.robot.link());
        QVERIFY(!h.robot.link().isConnected());
        QVERIFY(!h.robot.link().isConnecting());
        QVERIFY(!h.robot.link().retryPending());
        QCOMPARE(h.stampless(h.lastLine()),
                 u"Nem sikerült csatlakozni a szerverhez: 127.0.0.1:notaport (érvénytelen port: "
                 "notaport)."_s);
    }

    // A name that does not resolve yet: the robot tries again by itself, 5 s after the first
    // failure, then twice as long each time up to a minute, and says only the first failure and
    // every tenth. Each try asks the resolver afresh, so the name is connected to at the first
    // try after it starts to resolve.
    void connectRetriesWithAGrowingPause()
    {
        if (!FakeNames::activeHere())
            QSKIP(kNeedsNames);
        NamedHarness h(u"later.teszt"_s, "later.teszt -\n");
        QVERIFY(h.named);
        link::Link& link = h.robot.link();
        const QString where = u"later.teszt:"_s + QString::number(h.server.port());
        const auto failureLines = [&] {
            return h.lines().filter(u"Nem sikerült csatlakozni a szerverhez: "_s + where);
        };

        link.connectAction();
        settle(link);
        QVERIFY(link.isConnecting());
        QVERIFY(!link.isConnected());
        QTRY_COMPARE(link.failedAttempts(), 1);
        QVERIFY(link.retryPending());
        QCOMPARE(link.retryPauseMs(), 5000);
        QCOMPARE(failureLines().size(), 1);
        QVERIFY2(h.stampless(h.lastLine())
                     .startsWith(u"Nem sikerült csatlakozni a szerverhez: "_s + where +
                                 u" (a gépnév nem található: later.teszt ("_s),
                 qPrintable(h.lastLine()));
        QVERIFY(h.lastLine().endsWith(
            u"). Újrapróbálkozás 5 mp múlva; a \"Csatlakozás\" gomb leállítja."_s));

        const int pauses[] = {10000, 20000, 40000, 60000, 60000, 60000, 60000, 60000, 60000, 60000};
        for (int failures = 2; failures <= 11; ++failures) {
            QVERIFY(retryNow(link));
            QTRY_COMPARE(link.failedAttempts(), failures);
            QCOMPARE(link.retryPauseMs(), pauses[failures - 2]);
            QVERIFY(link.isConnecting());
            QCOMPARE(failureLines().size(), failures < 10 ? 1 : 2);
        }
        QVERIFY2(failureLines().last().endsWith(
                     u"), 10. sikertelen kísérlet. Újrapróbálkozás 60 mp múlva; a "
                     "\"Csatlakozás\" gomb leállítja."_s),
                 qPrintable(failureLines().last()));
        QVERIFY(h.server.receivedCommands().isEmpty());

        QVERIFY(h.names.write("later.teszt 127.0.0.1\n"));
        QSignalSpy controls(&link, &link::Link::linkControlsUpdated);
        QVERIFY(retryNow(link));
        QTRY_VERIFY(link.isConnected());
        QVERIFY(!link.isConnecting());
        QVERIFY(!link.retryPending());
        QCOMPARE(link.failedAttempts(), 0);
        QCOMPARE(h.stampless(h.lastLine()), u"Csatlakozás szerverhez: "_s + where);
        QCOMPARE(controls.count(), 1);
        QVERIFY(link.pacer().isArmed());
        link.enqueueCommand(u"status"_s);
        QVERIFY(h.waitForCommands(1));
    }

    // The lookup never holds the event loop, and the button gives up a connection still being
    // made: during the lookup and while the next try waits.
    void connectButtonGivesUpAConnectionBeingMade()
    {
        if (!FakeNames::activeHere())
            QSKIP(kNeedsNames);
        NamedHarness h(u"slow.teszt"_s, "slow.teszt 127.0.0.1 1500\nnever.teszt -\n");
        QVERIFY(h.named);
        link::Link& link = h.robot.link();
        QElapsedTimer took;
        took.start();
        link.connectAction();
        settle(link);
        QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
        QVERIFY(link.isConnecting());
        QTimer ticks;
        int ticked = 0;
        connect(&ticks, &QTimer::timeout, this, [&ticked]() noexcept { ++ticked; });
        ticks.start(50);
        QTRY_VERIFY(ticked >= 5); // the event loop runs while the resolver thinks

        link.connectAction();
        settle(link);
        QVERIFY(!link.isConnecting());
        QCOMPARE(h.stampless(h.lastLine()),
                 u"Csatlakozás leállítva: slow.teszt:"_s + QString::number(h.server.port()));
        QTest::qWait(2000); // the resolver answers meanwhile: nobody takes the answer
        QVERIFY(!link.isConnected());
        QVERIFY(!link.retryPending());

        h.robot.settings().setHost(u"never.teszt"_s);
        link.connectAction();
        settle(link);
        QTRY_VERIFY(link.retryPending());
        link.connectAction();
        settle(link);
        QVERIFY(!link.isConnecting());
        QVERIFY(!link.retryPending());
        QVERIFY(h.stampless(h.lastLine()).startsWith(u"Csatlakozás leállítva: never.teszt:"_s));
        // Pressed again, the button connects anew: a fresh series of tries.
        link.connectAction();
        settle(link);
        QVERIFY(link.isConnecting());
        QTRY_COMPARE(link.failedAttempts(), 1);
        // A field emptied meanwhile ends the tries at the next one.
        h.robot.settings().setPassword(QString());
        QVERIFY(retryNow(link));
        QVERIFY(!link.isConnecting());
        QVERIFY(h.server.receivedCommands().isEmpty());
    }

    // The silence check's reconnect falls back on the same tries when the server's name is gone.
    void silenceCheckReconnectFallsBackOnRetries()
    {
        if (!FakeNames::activeHere())
            QSKIP(kNeedsNames);
        NamedHarness h(u"srv.teszt"_s, "srv.teszt 127.0.0.1\n");
        QVERIFY(h.named);
        link::Link& link = h.robot.link();
        h.server.setDropReplies(true);
        link.connectAction();
        settle(link);
        QTRY_VERIFY(link.isConnected());
        link.enqueueCommand(u"status"_s);
        link.enqueueCommand(u"status"_s);
        QVERIFY(h.waitForCommands(2, 5000));
        QVERIFY(QTest::qWaitFor([&] { return link.queue().isEmpty(); }, 3000));
        QVERIFY(h.names.write("srv.teszt -\n"));
        const qsizetype before = h.lines().size();
        link.enqueueCommand(u"status"_s);
        QVERIFY(!link.isConnected());
        QCoreApplication::sendPostedEvents(); // the reconnect's step
        QVERIFY(link.isConnecting());
        QTRY_COMPARE(link.failedAttempts(), 1);
        QStringList after;
        for (qsizetype i = before; i < h.lines().size(); ++i)
            after << h.stampless(h.lines()[i]);
        QCOMPARE(after.size(), 4);
        QCOMPARE(after[0], u"A kapcsolat a szerverrel megszakadt! Újrakapcsolódás..."_s);
        QCOMPARE(after[2], u"Lecsatlakozva"_s);
        QVERIFY(after[3].startsWith(u"Nem sikerült csatlakozni a szerverhez: srv.teszt:"_s));

        QVERIFY(h.names.write("srv.teszt 127.0.0.1\n"));
        QVERIFY(retryNow(link));
        QTRY_VERIFY(link.isConnected());
        QVERIFY(h.lastLine().contains(u"Csatlakozás szerverhez: srv.teszt:"_s));
    }

    void silenceCheckReconnects()
    {
        Harness h;
        h.server.setDropReplies(true);
        h.robot.link().connectAction();
        settle(h.robot.link());
        h.robot.link().enqueueCommand(u"status"_s);
        h.robot.link().enqueueCommand(u"status"_s);
        QVERIFY(h.waitForCommands(2, 5000));
        QVERIFY(QTest::qWaitFor([&] { return h.robot.link().queue().isEmpty(); }, 3000));
        const qsizetype before = h.lines().size();
        h.robot.link().enqueueCommand(u"status"_s);
        settle(h.robot.link());
        QStringList after;
        for (qsizetype i = before; i < h.lines().size(); ++i)
            after << h.stampless(h.lines()[i]);
        QCOMPARE(after.size(), 4);
        QCOMPARE(after[0], u"A kapcsolat a szerverrel megszakadt! Újrakapcsolódás..."_s);
        QVERIFY(after[1].startsWith(u"Lecsatlakozás szerverről: "_s));
        QCOMPARE(after[2], u"Lecsatlakozva"_s);
        QVERIFY(after[3].startsWith(u"Csatlakozás szerverhez: "_s));
        QVERIFY(h.robot.link().queue().isEmpty());
        QVERIFY(h.robot.link().isConnected());
    }

    void passwordChangeGoesOutUnderTheOldPassword()
    {
        Harness h;
        h.clock.setRealWaits(true);
        h.robot.link().connectAction();
        settle(h.robot.link());
        h.robot.link().enqueueCommand(u"serverinfo"_s);
        QVERIFY(h.waitForCommands(1));
        h.robot.link().pacer().stop();
        for (int i = 0; i < 3; ++i)
            h.robot.link().enqueueCommand(u"say wait"_s + QString::number(i));

        // The same password: no warning, nothing sent.
        h.dialogs.answerInput(u"secret"_s);
        h.robot.link().changePassword();
        QVERIFY(h.dialogs.messages().isEmpty());

        h.dialogs.answerInput(u"fresh"_s);
        h.robot.link().changePassword();
        QCoreApplication::sendPostedEvents(); // the send's step
        QCOMPARE(h.dialogs.messages().size(), 1);
        QVERIFY(h.dialogs.messages().front().startsWith(u"!!! FIGYELEM !!!\n\r\n\r"_s));
        QCOMPARE(h.robot.settings().password(), u"fresh"_s);
        QVERIFY(h.waitForCommands(2));
        // Sent at once, before the three waiting commands, and authenticated by the old one
        // (the server only counts commands that carried its password).
        QCOMPARE(h.server.receivedCommands().at(1), u"set rconpassword \"fresh\""_s);
        QCOMPARE(h.server.floodDropCount(), 0);
        QCOMPARE(h.server.password(), u"fresh"_s);
        QCOMPARE(h.robot.link().queue().size(), 3);
        QVERIFY(!h.lines().join(u'\n').contains(u"fresh"_s));
        h.robot.link().pacer().arm();
        QVERIFY(h.waitForCommands(5, 5000));
        QCOMPARE(h.server.badPasswordCount(), 0);
    }

    // A send that fails during "Jelszó váltás" leaves the password as it was; the command
    // stays queued under the old password, and the field changes once it was really sent.
    void passwordChangesOnlyOnceSent()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows fails no send after a datagram met a closed port: Qt has it ignore the "
              "ICMP port unreachable on UDP sockets");
#endif
        Harness h;
        h.robot.link().connectAction();
        settle(h.robot.link());
        h.robot.link().pacer().stop();
        h.server.stop();
        h.robot.link().enqueueCommand(u"say anyone there?"_s);
        h.robot.link().pacerTick(); // meets the closed port: the kernel fails the next send
        QThread::msleep(20);
        h.dialogs.answerInput(u"fresh"_s);
        guarded(&h.robot, [&] { h.robot.link().changePassword(); });
        QCoreApplication::sendPostedEvents(); // the send's step
        QVERIFY(h.lines().join(u'\n').contains(u"Socket Error: "_s));
        QCOMPARE(h.robot.settings().password(), u"secret"_s);
        QCOMPARE(h.robot.link().queue(), QStringList{u"set rconpassword \"fresh\""_s});

        // The server is back: the pacer sends it, and from then on the new password goes out.
        QVERIFY(h.server.restart());
        h.robot.link().enqueueCommand(u"serverinfo"_s);
        h.robot.link().pacer().arm();
        QVERIFY(h.waitForCommands(2));
        QCOMPARE(h.server.receivedCommands(),
                 (QStringList{u"set rconpassword \"fresh\""_s, u"serverinfo"_s}));
        QCOMPARE(h.server.badPasswordCount(), 0);
        QCOMPARE(h.robot.settings().password(), u"fresh"_s);
    }

    // A tick that comes late (a stalled process) is not followed by one on the old schedule:
    // two sends are never closer than the pacer's period, so the server's flood guard drops
    // nothing.
    void pacerKeepsItsPeriodAfterAStall()
    {
        Harness h;
        h.robot.link().connectAction();
        settle(h.robot.link());
        bool stalled = false;
        connect(&h.server, &RconServer::commandReceived, &h.server, [&](const QString& command) {
            if (command != u"say one"_s || stalled)
                return;
            stalled = true;
            // The whole process stops across the next tick, which then comes late by about
            // half a period.
            QTimer::singleShot(0, &h.server, [] { QThread::msleep(900); });
        });
        const QStringList says{u"say one"_s, u"say two"_s, u"say three"_s, u"say four"_s};
        for (const QString& say : says)
            h.robot.link().enqueueCommand(say);
        QVERIFY(h.waitForCommands(4, 6000));
        QVERIFY(stalled);
        QCOMPARE(h.server.floodDropCount(), 0);
        QCOMPARE(h.server.receivedCommands(), says);
    }

    void lockAndOpen()
    {
        Harness h;
        h.robot.link().connectAction();
        settle(h.robot.link());
        h.robot.link().pacer().stop();
        h.dialogs.answerInput(QString());
        h.robot.link().lockServer();
        QVERIFY(h.robot.link().queue().isEmpty());
        h.dialogs.answerInput(u"clan only"_s);
        h.robot.link().lockServer();
        QCOMPARE(h.robot.link().queue(),
                 (QStringList{u"g_password \"clan only\""_s, u"sv_password \"clan only\""_s}));
        QCOMPARE(h.stampless(h.lastLine()), u"Szerver lezárás..."_s);
        h.robot.link().openServer();
        QCOMPARE(h.robot.link().queue().mid(2),
                 (QStringList{u"g_password \"\""_s, u"sv_password \"\""_s}));
        QCOMPARE(h.stampless(h.lastLine()), u"Szerver nyitás..."_s);
    }

    void statusJoinedFromSeveralDatagrams()
    {
        Harness h;
        h.server.setPlayers(players(40));
        h.robot.link().connectAction();
        settle(h.robot.link());
        h.robot.link().enqueueCommand(u"status"_s);
        QVERIFY(QTest::qWaitFor([&] { return h.robot.roster().rows().size() == 40; }, 5000));
        QCOMPARE(h.robot.roster().rows()[0][3], u"Player0"_s);
        QCOMPARE(h.robot.roster().rows()[39][4], u"10.0.0.40"_s);
        const QString all = h.lines().join(u'\n');
        QVERIFY(all.contains(u"..:: 40 játékos a szerveren ::.."_s));
        // The very first reply counts all its datagrams, as the flag starts unset.
        QVERIFY(!all.contains(u" 0 csomagrészlet érkezett"_s));
        QVERIFY(all.contains(u"A túl magas csomagtöredezés"_s));
        // The log file holds the console.
        QFile log(h.robot.intake().logFileName());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), text::toCp1250(QString(h.lines().join(u"\r\n"_s) + u"\r\n"_s)));
    }

    void fragmentCounter()
    {
        Harness h;
        auto countLine = [&](int expected) {
            for (const QString& l : h.lines())
                if (h.stampless(l) == QString::number(expected) + u" csomagrészlet érkezett"_s)
                    return true;
            return false;
        };
        const QByteArray head = "map: mp_x\nnum score ping guid   name            lastmsg address               qport rate\n-----\n";
        const QByteArray player = "  0     5   40 123456 Joe                    0 1.2.3.4:28960          1234 25000\n";
        h.feed(reply(head + player + "\n")); // first after start: 1
        QVERIFY(countLine(1));
        h.feed(reply(head + player + "\n")); // single datagram: 0
        QVERIFY(countLine(0));
        QVERIFY(!h.lines().join(u'\n').contains(u"FIGYELEM"_s));
        h.feed(reply(head));
        h.feed(reply(player));
        h.feed(reply(player + "\n")); // three datagrams: 2 and the warning
        QVERIFY(countLine(2));
        QCOMPARE(h.stampless(h.lines()[h.lines().indexOf(h.lines().filter(u"2 csomag"_s).front()) + 1]),
                 u" !! FIGYELEM !! A túl magas csomagtöredezés hibaüzenetekhez vezethet a konzolon!"_s);
        QCOMPARE(h.robot.roster().rows().size(), 2);
    }

    void emptyServerAndChannelReplyBetweenFragments()
    {
        Harness h;
        QString channel;
        link::ReplyIntake::Hooks hooks;
        hooks.channelReply = [&](const QString& t) { channel = t; };
        h.robot.intake().setHooks(hooks);
        const QString logName = h.robot.intake().logFileName();
        QFile::remove(logName);
        h.feed(reply("map: mp_empty\nnum score ping guid   name  lastmsg address qport rate\n---\n\n"));
        QCOMPARE(h.stampless(h.lines().at(h.lines().size() - 3)), u"map: mp_empty"_s);
        QCOMPARE(h.stampless(h.lines().at(h.lines().size() - 2)), u"..:: Nincs játékos ::.."_s);
        QVERIFY(h.lastLine().endsWith(u" >> "_s));
        QVERIFY(!QFile::exists(logName)); // no save for an empty server
        QVERIFY(h.robot.roster().rows().isEmpty());

        const QByteArray head = "map: mp_x\nnum score ping guid   name            lastmsg address               qport rate\n-----\n";
        h.feed(reply(head));
        h.feed(reply("\"vigilor\" is:\"ban onion^7\" default:\"nil^7\"\n"));
        QVERIFY(channel.contains(u"\"vigilor\" is:\"ban onion\""_s));
        QVERIFY(!h.robot.intake().assemblyBuffer().contains(u"vigilor"_s));
        channel.clear();
        h.feed(reply("\"vigilor\" is: \"rsay hi^7\" default: \"nil^7\"\n")); // the blank form
        QVERIFY(channel.contains(u"\"vigilor\" is: \"rsay hi\""_s));
        h.feed(reply("  3     1   40 123456 Onion                  0 1.2.3.4:28960          1234 25000\n\n"));
        QCOMPARE(h.robot.roster().rows().size(), 1);
        QCOMPARE(h.robot.roster().rows()[0][3], u"Onion"_s);
    }

    void otherRepliesGoToTheConsole()
    {
        Harness h;
        const qsizetype before = h.lines().size();
        h.feed(reply(""));       // nothing left: nothing at all
        h.feed(QByteArray());
        h.feed(reply("\n"));
        QCOMPARE(h.lines().size(), before);
        h.feed(reply("Bad rconpassword.\n"));
        QCOMPARE(h.lines().mid(before), (QStringList{QString(), u"Bad rconpassword."_s}));
        h.feed("no header here\n"); // handled like any reply, nothing removed
        QCOMPARE(h.lastLine(), u"no header here"_s);
        h.feed(reply("\"sv_maprotationcurrent\" is:\"gametype sd\" default:\"\"\n"));
        QVERIFY(h.lastLine().startsWith(u"\"sv_maprotationcurrent\""_s));
    }

    void logBreakAtMidnight()
    {
        Harness h;
        bool cleared = false;
        link::ReplyIntake::Hooks hooks;
        hooks.midnight = [&] { cleared = true; };
        h.robot.intake().setHooks(hooks);
        h.clock.set(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 58)));
        h.feed(reply("last of the old day\n"));
        QVERIFY(!cleared); // the first datagram after start never breaks the log
        const QString oldLog = h.robot.intake().logFileName();
        h.clock.set(QDateTime(QDate(2026, 12, 9), QTime(0, 0, 3)));
        h.feed(reply("first of the new day\n"));
        QVERIFY(cleared);
        const QString newLog = h.robot.intake().logFileName();
        QVERIFY(newLog.endsWith(u"logs/console (2026.12.09.).log"_s));
        QFile oldFile(oldLog), newFile(newLog);
        QVERIFY(oldFile.open(QIODevice::ReadOnly) && newFile.open(QIODevice::ReadOnly));
        QVERIFY(oldFile.readAll().endsWith("last of the old day\r\n"));
        const QList<QByteArray> newLines = newFile.readAll().split('\n');
        QVERIFY(newLines[0].contains("*** Log break at 2026.12.09. 0:00:03 ***"));
        QVERIFY(newLines[0].startsWith("[2026.12.09.] 0:00:03 >> "));
        QCOMPARE(h.lines().back(), u"first of the new day"_s);
    }

    void badDatagramsAreSurvived()
    {
        Harness h;
        QRandomGenerator rng(7);
        h.feed(QByteArray(1, '\xff'));
        h.feed(QByteArray(65507, 'x'));
        h.feed(reply(QByteArray(65507 - 10, '^')));
        for (int i = 0; i < 300; ++i) {
            QByteArray junk(rng.bounded(1, 1400), Qt::Uninitialized);
            for (char& c : junk)
                c = static_cast<char>(rng.bounded(256));
            h.feed(i % 2 ? reply(junk) : junk);
        }
        // Letters in the number columns and lines that end early: the datagram is dropped.
        h.feed(reply("map: x\nnum score ping qport rate\n---\n  1   abc  xx 12 Bad\n  2 \n\n"));
        // A status reply whose last fragment never comes keeps absorbing until one ends it.
        h.feed(reply("map: y\nnum score ping guid name lastmsg address qport rate\n---\n"));
        h.feed(reply("  0     5   40 123456 Late                   0 1.2.3.4:28960          1234 25000\n"));
        h.feed(reply("Bad rconpassword.\n"));
        QVERIFY(!h.robot.intake().replyComplete());
        h.feed(reply("\n"));  // too short to count
        h.feed(reply("\n\n\n")); // ends the reply
        QVERIFY(h.robot.intake().replyComplete());
        QCOMPARE(h.robot.roster().rows().size(), 1);
    }

    // A failure while a received datagram is handled says nothing on the console; it leaves a
    // debug line under "vigilor.link", which is off unless the logging rules turn it on.
    void failedDatagramLeavesOnlyADebugLine()
    {
        Harness h;
        QVERIFY(!link::lcLink().isDebugEnabled());
        static QStringList debugLines;
        debugLines.clear();
        QLoggingCategory::setFilterRules(u"vigilor.link.debug=true"_s);
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (type == QtDebugMsg && QByteArray(context.category) == "vigilor.link")
                    debugLines << message;
            });
        const auto restore = qScopeGuard([previous] {
            qInstallMessageHandler(previous);
            QLoggingCategory::setFilterRules(QString());
        });
        h.robot.link().connectAction();
        settle(h.robot.link());
        h.robot.link().setDatagramHandler(
            [](const QByteArray&) { throw FileError(u"a lemez megtelt"_s); });
        const qsizetype mark = h.lines().size();
        h.robot.link().enqueueCommand(u"say hello"_s); // the server answers with an empty print
        QVERIFY(QTest::qWaitFor([] { return !debugLines.isEmpty(); }, 5000));
        QVERIFY(debugLines.front().contains(u"a lemez megtelt"_s));
        QVERIFY(!h.lines().mid(mark).join(u'\n').contains(u"lemez"_s));
        QVERIFY(h.robot.link().isConnected());
    }

    void malformedPlayerLineSkippedOnce()
    {
        Harness h;
        h.robot.link().connectAction();
        settle(h.robot.link());
        h.robot.link().pacer().stop();
        h.robot.settings().setBanList({u"1 Cheat"_s});
        const qsizetype mark = h.lines().size();
        h.feed(reply(
            "map: mp_x\n"
            "num score ping guid   name            lastmsg address               qport rate\n"
            "--- ----- ---- ------ --------------- ------- --------------------- ----- -----\n"
            "  1     5   40 123456 Honest              50 10.0.0.1:28960         4321 25000\n"
            "  2   abc   40 123456 Garbled             50 10.0.0.2:28960         4321 25000\n"
            "  3     7   40 123456 Cheat               50 10.0.0.3:28960         4321 25000\n"
            "\n"));
        // The other players are shown and checked; the bad line is said once.
        QCOMPARE(h.robot.roster().rows().size(), 2);
        QCOMPARE(h.robot.roster().rows()[1][3], u"Cheat"_s);
        QCOMPARE(h.robot.link().queue(), QStringList{u"clientkick 3"_s});
        const auto said = [&] {
            QStringList out;
            for (qsizetype i = mark; i < h.lines().size(); ++i)
                out << h.stampless(h.lines()[i]);
            return out;
        };
        QVERIFY(said().contains(u"..:: 2 játékos a szerveren ::.."_s));
        QCOMPARE(said().filter(u"Hibás játékos sor kihagyva: "_s),
                 QStringList{u"Hibás játékos sor kihagyva:   2   abc   40 123456 Garbled         "
                             u"    50 10.0.0.2:28960         4321 25000"_s});
        // The table's timer redraws without writing anything.
        const qsizetype after = h.lines().size();
        h.robot.roster().refreshNow();
        QCOMPARE(h.lines().size(), after);
    }

    void unwritableLogsFolder()
    {
        Harness h;
        // A "logs" that is a file cannot take the day's log, whoever runs the test.
        const QString logs = h.dir.path() + u"/logs"_s;
        QVERIFY(QDir(logs).removeRecursively());
        QFile blocker(logs);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        h.feed(reply("some reply\n"));
        h.feed(reply("another reply\n"));
        // The console is kept and the failure said once, not at every datagram.
        QVERIFY(h.lines().contains(u"another reply"_s));
        QCOMPARE(h.lines().filter(u"A fájl nem írható"_s).size(), 1);
        h.robot.saveNow(); // the menu path reports the error every time
        QCOMPARE(h.lines().filter(u"A fájl nem írható"_s).size(), 2);
        QVERIFY(QFile::remove(logs));
        QVERIFY(QDir().mkpath(logs));
        h.feed(reply("after\n"));
        QFile log(h.robot.intake().logFileName());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray saved = log.readAll();
        QVERIFY(saved.contains("some reply\r\n"));
        QVERIFY(saved.endsWith("after\r\n"));
    }

    // The new day's log cannot be made (the logs folder is gone at midnight): every datagram is
    // handled and dispatched all the same, the failure is said once, and once the folder is back
    // no line of either day is missing.
    void midnightWithoutALogsFolder()
    {
        Harness h;
        h.clock.set(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 58)));
        h.feed(reply("last of the old day\n"));
        const QStringList oldDay = h.lines();
        const QString oldLog = h.robot.intake().logFileName();
        const QString logs = h.dir.path() + u"/logs"_s;
        QVERIFY(QDir(logs).removeRecursively());

        h.clock.set(QDateTime(QDate(2026, 12, 9), QTime(0, 0, 3)));
        const QByteArray head = "map: mp_x\nnum score ping guid   name            lastmsg "
                                "address               qport rate\n-----\n";
        h.feed(reply(head + "  4     5   40 123456 Night                  0 1.2.3.4:28960  "
                            "        1234 25000\n\n"));
        QCOMPARE(h.robot.roster().rows().size(), 1); // the roster and the checks had it
        QCOMPARE(h.robot.roster().rows()[0][3], u"Night"_s);
        for (int i = 0; i < 5; ++i)
            h.feed(reply("more of the new day " + QByteArray::number(i) + "\n"));
        QCOMPARE(h.lines().filter(u"A fájl nem írható"_s).size(), 1);
        QVERIFY(h.lines().front().contains(u"*** Log break at 2026.12.09. 0:00:03 ***"_s));

        QVERIFY(QDir().mkpath(logs));
        h.feed(reply("the folder is back\n"));
        QFile oldFile(oldLog), newFile(h.robot.intake().logFileName());
        QVERIFY(oldFile.open(QIODevice::ReadOnly) && newFile.open(QIODevice::ReadOnly));
        QCOMPARE(oldFile.readAll(), text::toCp1250(QString(oldDay.join(u"\r\n"_s) + u"\r\n"_s)));
        QCOMPARE(newFile.readAll(), text::toCp1250(QString(h.lines().join(u"\r\n"_s) + u"\r\n"_s)));
        QVERIFY(h.lines().back() == u"the folder is back"_s);
        // Windows removes no folder that holds an open file.
        oldFile.close();
        newFile.close();

        // Failing again later is said again.
        QVERIFY(QDir(logs).removeRecursively());
        h.feed(reply("gone again\n"));
        QCOMPARE(h.lines().filter(u"A fájl nem írható"_s).size(), 2);
    }

    void logSavedIncrementallyEqualsRewrite()
    {
        Harness h;
        const QString name = h.robot.intake().logFileName();
        h.robot.consoleLog().save(name);
        for (int i = 0; i < 50; ++i) {
            h.robot.console().consoleLine(u"line "_s + QString::number(i));
            h.robot.consoleLog().save(name);
        }
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), text::toCp1250(QString(h.lines().join(u"\r\n"_s) + u"\r\n"_s)));
        file.close();
        // A file changed behind our back is rewritten whole.
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("garbage");
        file.close();
        h.robot.console().consoleLine(u"more"_s);
        h.robot.consoleLog().save(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), text::toCp1250(QString(h.lines().join(u"\r\n"_s) + u"\r\n"_s)));
    }

    void dayLogWithEveryByteLoadsAndContinues()
    {
        QTemporaryDir dir;
        FakeClock clock;
        ScriptedDialogs dialogs;
        QDir().mkpath(dir.path() + u"/logs"_s);
        QByteArray bytes;
        for (int b = 0; b < 256; ++b)
            bytes.append(static_cast<char>(b));
        const QString name = dir.path() + u"/logs/console (2026.12.08.).log"_s;
        {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[2026.12.08.] 1:00:00 >> earlier line\r\n");
            f.write(bytes);
            f.write("\r\n");
        }
        Robot robot(dir.path() + u'/', clock, dialogs);
        QVERIFY(robot.startUp()); // no settings file: a first start
        const QStringList& lines = robot.console().lines();
        QCOMPARE(lines.front(), u"[2026.12.08.] 1:00:00 >> earlier line"_s);
        QVERIFY(lines.at(lines.size() - 2).endsWith(u"vigilor sikeresen elindult"_s));
        QCOMPARE(lines.back().mid(lines.back().indexOf(u" >> "_s) + 4),
                 u"Program verzió: Vigilor CoD/UO/CoD2  1.8 release 1"_s);
        robot.saveNow();
        QFile f(name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray saved = f.readAll();
        // Every byte but the line breaks survives the round trip.
        QByteArray expected = bytes;
        expected.replace('\r', "").replace('\n', "");
        QVERIFY(saved.contains(expected.mid(0, 10)));
        QVERIFY(saved.contains(expected.mid(14)));
    }

    void errorHandlerWritesAndRecovers()
    {
        Harness h;
        h.robot.link().connectAction();
        settle(h.robot.link());
        h.robot.link().pacer().stop();
        qsizetype before = h.lines().size();
        h.robot.reportError(SocketError(u"Socket Error: refused"_s));
        QCOMPARE(h.lines().mid(before).size(), 2); // the message and the break after it
        QCOMPARE(h.stampless(h.lines()[before]), u"Socket Error: refused"_s);
        QVERIFY(h.robot.link().queue().isEmpty()); // socket errors never reconnect

        before = h.lines().size();
        h.robot.reportError(IndexError(u"List index out of bounds (7)"_s));
        settle(h.robot.link());
        QStringList after;
        for (qsizetype i = before; i < h.lines().size(); ++i)
            after << h.stampless(h.lines()[i]);
        QCOMPARE(after.front(), u"List index out of bounds (7)"_s);
        QVERIFY(after.filter(u"Lecsatlakozva"_s).size() == 1);
        QVERIFY(after.back().startsWith(u"Csatlakozás szerverhez: "_s));
        QVERIFY(h.robot.link().isConnected());
        QCOMPARE(h.robot.link().queue(), QStringList{u"status"_s});
    }

    // A restarting server closes its port for a while: what the robot sends meanwhile meets an
    // ICMP port unreachable, and the first reply after the server is back is read all the same.
    void readsOnAcrossServerRestarts()
    {
        if (underWine())
            QSKIP(kWineIcmp);
        Harness h;
        h.server.setFloodGuardMs(0);
        h.robot.link().setPacerInterval(50);
        h.robot.link().connectAction();
        settle(h.robot.link());
        const auto answered = [&](const QString& command, const QString& answer) {
            const qsizetype from = h.lines().size();
            h.robot.link().enqueueCommand(command);
            return QTest::qWaitFor([&] { return h.lines().mid(from).contains(answer); }, 3000);
        };
        // Sent into the closed port, the ICMP answer handled before the server comes back.
        const auto sendWhileDown = [&](const QString& command) {
            const int before = h.server.datagrams().size();
            h.robot.link().enqueueCommand(command);
            QVERIFY(QTest::qWaitFor([&] { return h.robot.link().queue().isEmpty(); }, 3000));
            QTest::qWait(100);
            QCOMPARE(h.server.datagrams().size(), before);
        };
        QVERIFY(answered(u"serverinfo"_s, u"Server info settings:"_s));

        // The operator's quit; the server is started again by hand.
        h.robot.link().enqueueCommand(u"quit"_s);
        QVERIFY(QTest::qWaitFor([&] { return !h.server.isRunning(); }, 3000));
        sendWhileDown(u"say anyone there?"_s);
        QVERIFY(h.server.restart());
        QVERIFY(answered(u"serverinfo"_s, u"Server info settings:"_s));

        // The robot's own restart: quit, then the reset, which meets the closed port; the
        // server's supervisor brings it back.
        QSignalSpy restarted(&h.server, &RconServer::restarted);
        h.server.setRestartAfterQuitMs(300);
        h.robot.interpreter().runChannelCommand(channel::Interpreter::madeUpAnswer(u"restart"_s));
        QVERIFY(restarted.wait(3000));
        QVERIFY(h.server.receivedCommands().endsWith(u"quit"_s));
        QVERIFY(answered(u"mapname"_s, u"\"mapname\" is:\"mp_harbor\" default:\"mp_harbor\""_s));
        QVERIFY(h.robot.link().isConnected());
    }

    void robotStartedBeforeItsServer()
    {
        if (underWine())
            QSKIP(kWineIcmp);
        Harness h;
        h.server.setFloodGuardMs(0);
        h.robot.link().setPacerInterval(50);
        h.server.stop();
        h.robot.link().connectAction();
        settle(h.robot.link());
        h.robot.link().enqueueCommand(u"serverinfo"_s);
        QVERIFY(QTest::qWaitFor([&] { return h.robot.link().queue().isEmpty(); }, 3000));
        QTest::qWait(100);
        QVERIFY(h.server.restart());
        h.robot.link().enqueueCommand(u"serverinfo"_s);
        QVERIFY(
            QTest::qWaitFor([&] { return h.lines().contains(u"Server info settings:"_s); }, 3000));
    }

    void foreignDatagramsNeverReachTheHandler()
    {
        Harness h;
        h.robot.link().connectAction();
        settle(h.robot.link());
        QUdpSocket forger;
        QVERIFY(forger.bind(QHostAddress::LocalHost, 0));
        const qsizetype before = h.lines().size();
        // Find the robot's local port from what reached the server.
        h.robot.link().enqueueCommand(u"serverinfo"_s);
        QVERIFY(h.waitForCommands(1));
        const quint16 robotPort = h.server.lastClientPort();
        forger.writeDatagram(reply("forged line\n"), QHostAddress::LocalHost, robotPort);
        QTest::qWait(300);
        QVERIFY(!h.lines().mid(before).join(u'\n').contains(u"forged"_s));
        h.server.sendRawToLastClient(reply("genuine line\n"));
        QVERIFY(QTest::qWaitFor([&] { return h.lastLine() == u"genuine line"_s; }, 3000));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
