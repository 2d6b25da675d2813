// The ban-list exchange against real servers on 127.0.0.1, started and stopped by this program:
// an HTTP server that records request headers and misbehaves on request, an FTP server
// (pyftpdlib) with accounts that misbehave, and vsftpd for TLS. Download, upload and whole import
// runs, their failures, cancelling, and the robot working on while a transfer runs.
#include "exchange/importer.h"
#include "exchange/pins.h"
#include "exchange/publicbanlist.h"
#include "exchange/transfer.h"
#include "settings/settingsstore.h"
#include "support/pyservers.h"
#include "support/robotfixture.h"
#include "support/vsftpd.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <curl/curl.h>

#include <memory>

using namespace vigilor;
using namespace vigilor::exchange;
using namespace vigilor::test;
using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 15'000;

// A robot with one public ban list instance, opened.
struct Window : RobotFixture
{
    std::unique_ptr<PublicBanList> list;

    explicit Window(const QStringList& bans = {}) : RobotFixture(u"pw"_s)
    {
        robot.settings().setBanList(bans);
        list = std::make_unique<PublicBanList>(robot.exchangeServices());
        list->open();
    }
    QString console() { return robot.console().lines().join(u'\n'); }
    QByteArray settingsFile() const
    {
        QFile file(path(u"vigilor.ini"_s));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool download(const QString& field)
    {
        list->setDownloadAddress(field);
        QSignalSpy done(list.get(), &PublicBanList::downloadFinished);
        list->download();
        return (!done.isEmpty() || done.wait(kWaitMs)) && done.first().first().toBool();
    }
    bool upload(const QString& field)
    {
        list->setUploadAddress(field);
        QSignalSpy done(list.get(), &PublicBanList::uploadFinished);
        list->upload();
        return (!done.isEmpty() || done.wait(kWaitMs)) && done.first().first().toBool();
    }
    bool importNow()
    {
        QSignalSpy done(&robot.importer(), &Importer::runFinished);
        robot.importer().runNow();
        return !done.isEmpty() || done.wait(kWaitMs);
    }
};

// The FTP commands that carry the exchange's steps, without the ones libcurl adds around them.
QStringList steps(const QStringList& commands)
{
    QStringList result;
    for (const QString& line : commands) {
        const QString verb = line.section(u' ', 0, 0);
        if (QStringList{u"USER"_s, u"PASS"_s, u"CWD"_s, u"LIST"_s, u"DELE"_s, u"STOR"_s, u"RNFR"_s,
                        u"RNTO"_s}
                .contains(verb))
            result.append(line);
    }
    return result;
}

// No libcurl text on the console: its messages are English and may repeat a URL.
bool noLibcurlText(const QString& console)
{
    for (int code = 1; code < 100; ++code) {
        const QString english = QString::fromLatin1(curl_easy_strerror(CURLcode(code)));
        if (console.contains(english)) {
            qWarning() << "libcurl's text on the console:" << english;
            return false;
        }
    }
    return true;
}

// The pin of a certificate's public key as the openssl command computes it.
QString opensslPin(const QString& certificate)
{
    QProcess shell;
    shell.start(u"/bin/sh"_s, {u"-c"_s,
                               u"openssl x509 -in \"$1\" -pubkey -noout | openssl pkey -pubin "
                               u"-outform der | openssl dgst -sha256 -binary | base64"_s,
                               u"sh"_s, certificate});
    shell.waitForFinished(20'000);
    return u"sha256//"_s + QString::fromLatin1(shell.readAllStandardOutput().trimmed());
}

// A public list of many lines, so that a store takes more than one packet.
QStringList manyLines(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.append(u"0 player"_s + QString::number(i).rightJustified(5, u'0'));
    return lines;
}

} // namespace

class TestExchangeNet : public QObject
{
    Q_OBJECT

    std::unique_ptr<PythonServer> m_http;
    std::unique_ptr<PythonServer> m_ftp;

    QString http(const QString& path = QString()) const
    {
        return u"127.0.0.1:"_s + QString::number(m_http->port()) + path;
    }
    QString ftp(const QString& user, const QString& folder = QString()) const
    {
        return user + u":secret@127.0.0.1:"_s + QString::number(m_ftp->port()) + folder;
    }

private slots:
    void initTestCase()
    {
        // Every address of these tests is 127.0.0.1, never a proxy.
        for (const char* name : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy",
                                 "HTTP_PROXY", "HTTPS_PROXY", "FTP_PROXY", "ALL_PROXY"})
            qunsetenv(name);
        m_http = std::make_unique<PythonServer>(PythonServer::Kind::Http);
        m_ftp = std::make_unique<PythonServer>(PythonServer::Kind::Ftp);
        QVERIFY2(m_http->running(), qPrintable(m_http->errors()));
        QVERIFY2(m_ftp->running(), qPrintable(m_ftp->errors()));
        m_http->write(u"lists/rconpb.ban"_s, "0 Bob\r\n2 alice\r\n\r\n1 1.2.3.\n");
        m_ftp->write(u"dir/keep"_s, "");
    }
    void cleanupTestCase()
    {
        m_http.reset();
        m_ftp.reset();
    }
    void init()
    {
        m_http->clearLines();
        m_ftp->clearLines();
        QFile::remove(m_ftp->path(u"rconpb.ban"_s));
        QFile::remove(m_ftp->path(u"dir/rconpb.ban"_s));
    }

    // ---- download ------------------------------------------------------------------------

    void download()
    {
        Window w;
        QSignalSpy captions(w.list.get(), &PublicBanList::captionChanged);
        QVERIFY(w.download(http(u"/lists"_s)));
        // The field keeps the scheme and the final "/" it was given.
        QCOMPARE(w.list->downloadAddress(), u"http://"_s + http(u"/lists/"_s));
        QCOMPARE(w.list->publicLines(),
                 (QStringList{QString(), u"0 Bob"_s, u"1 1.2.3."_s, u"2 alice"_s}));
        QCOMPARE(captions.size(), 2);
        QCOMPARE(captions[0][0].toString(), u"Nyilvános banlista - Letöltés folyamatban..."_s);
        QCOMPARE(w.list->caption(), u"Nyilvános banlista - Kész"_s);

        const QList<QJsonObject> requests = m_http->requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0][u"path"_s].toString(), u"/lists/rconpb.ban"_s);
        QStringList accept;
        for (const QJsonValue& header : requests[0][u"headers"_s].toArray()) {
            const QString name = header[0].toString().toLower();
            QVERIFY2(name != u"cookie"_s, "no cookies");
            if (name == u"accept"_s)
                accept.append(header[1].toString());
        }
        QCOMPARE(accept, QStringList{u"text/html, */*"_s});

        // A redirection is followed; the field keeps what it was given.
        QVERIFY(w.download(u"http://"_s + http(u"/moved/lists/"_s)));
        QCOMPARE(w.list->publicLines().size(), 4);
        QVERIFY(!w.console().contains(u"hiba"_s));
    }

    void downloadFailures()
    {
        Window w;
        QVERIFY(w.download(http(u"/lists"_s)));
        const QStringList before = w.list->publicLines();
        const auto failsWith = [&](const QString& field, const QString& why) {
            w.robot.console().clear();
            if (w.download(field))
                return false;
            const bool reported = w.console().contains(why);
            if (!reported)
                qWarning() << "console:" << w.console();
            return reported && w.list->publicLines() == before &&
                   w.list->caption() == u"Nyilvános banlista - Letöltés folyamatban..."_s;
        };
        QVERIFY(failsWith(http(u"/missing/"_s), u"HTTP 404"_s));
        QVERIFY(failsWith(u"127.0.0.1:"_s + QString::number(PythonServer::closedPort()),
                          u"a kapcsolódás nem sikerült"_s));
        // Nothing to download from: no request at all.
        QVERIFY(failsWith(QString(), u"nincs megadva a letöltés helye"_s));
        QCOMPARE(w.list->downloadAddress(), u"http://"_s);

        m_http->write(u"binary/rconpb.ban"_s, QByteArray("0 a\r\n\0\0\0\r\n", 10));
        QVERIFY(failsWith(http(u"/binary"_s), u"nem szöveg"_s));

        TransferLimits limits = w.robot.transfers().limits();
        limits.maxBodyBytes = 1024;
        w.robot.transfers().setLimits(limits);
        m_http->write(u"big/rconpb.ban"_s, QByteArray(4096, 'x'));
        QVERIFY(failsWith(http(u"/big"_s), u"nagyobb 1 KiB-nál"_s));
        limits.totalTimeoutMs = 300;
        w.robot.transfers().setLimits(limits);
        QVERIFY(failsWith(http(u"/slow3000/lists"_s), u"időtúllépés"_s));

        // The user name and password of an address stay out of the console.
        QVERIFY(failsWith(u"http://someone:Pw0rd-x@"_s + http(u"/nothing"_s), u"hiba"_s));
        QVERIFY(!w.console().contains(u"Pw0rd-x"_s));
        QVERIFY(!w.console().contains(u"someone"_s));
    }

    // Only a whole ban list is merged: a body that ended with the connection, with neither a
    // length nor a chunked end, and in the middle of its last line, is a cut; a web page
    // answered with 200 is no ban list.
    void onlyWholeBanListsAreTaken()
    {
        Window w;
        QVERIFY(w.download(http(u"/lists"_s)));
        const QStringList before = w.list->publicLines();
        m_http->write(u"cut/rconpb.ban"_s, "0 Good\r\n0 81.12.34.56\r\n");
        const auto refused = [&](const QString& path, const QString& why) {
            w.robot.console().clear();
            const bool ok = !w.download(http(path)) && w.list->publicLines() == before &&
                            w.console().contains(u"Letöltési hiba (http://"_s + http(path)) &&
                            w.console().contains(why) && noLibcurlText(w.console());
            if (!ok)
                qWarning() << path << "console:" << w.console();
            return ok;
        };
        // Cut inside its last line: "0 81.1" would match innocent addresses.
        QVERIFY(refused(u"/cut14/cut/"_s, u"a fájl csonkán érkezett"_s));
        QVERIFY(refused(u"/cut9/cut/"_s, u"a fájl csonkán érkezett"_s));
        QVERIFY(refused(u"/cut0/cut/"_s, u"a fájl csonkán érkezett"_s));
        // Cuts a length or the chunked coding tells.
        QVERIFY(refused(u"/lengthcut14/cut/"_s, u"a fájl csonkán érkezett"_s));
        QVERIFY(refused(u"/chunkcut14/cut/"_s, u"a fájl csonkán érkezett"_s));
        // Whole, whichever way its end is told.
        // A cut right after a line end cannot be told from the file's end: its lines are whole.
        for (const QString& path :
             {u"/close/cut/"_s, u"/chunked/cut/"_s, u"/cut8/cut/"_s, u"/cut7/cut/"_s}) {
            QVERIFY2(w.download(http(path)), qPrintable(path + w.console()));
            QVERIFY(w.list->publicLines().contains(u"0 Good"_s));
        }
        QVERIFY(w.download(http(u"/lists"_s)));

        // Web pages.
        m_http->write(u"parked/rconpb.ban"_s,
                      "\r\n  <!DOCTYPE html>\r\n<html><head><title>Parked domain</title></head>\r\n"
                      "<body>0 This domain is for sale</body></html>\r\n");
        QVERIFY(refused(u"/parked/"_s, u"a szerver weblapot küldött (HTML), nem banlista; a "
                                       u"lista nem változott"_s));
        QVERIFY(refused(u"/html/lists/"_s, u"weblapot"_s));
        // Served as HTML with a length and all, the same.
        QVERIFY(refused(u"/html/cut/"_s, u"weblapot"_s));
    }

    // An import of a cut list or a web page leaves the ban list and bans.txt alone, and nobody is
    // kicked by a fragment; the whole list bans whom it names.
    void nobodyIsKickedByAFragment()
    {
        Window w({u"1 Carl"_s});
        w.server.setFloodGuardMs(0);
        testserver::Player innocent;
        innocent.slot = 2;
        innocent.name = u"Innocent"_s;
        innocent.address = u"81.15.2.3:28960"_s;
        innocent.score = 3;
        testserver::Player banned = innocent;
        banned.slot = 3;
        banned.name = u"Banned"_s;
        banned.address = u"81.12.34.56:28960"_s;
        w.server.setPlayers({innocent, banned});
        w.pointAtServer();
        w.robot.link().connectAction();
        settle(w.robot.link());
        QVERIFY(w.robot.link().isConnected());
        Settings& settings = w.robot.settings();
        m_http->write(u"frag/rconpb.ban"_s, "0 Good\r\n0 81.12.34.56\r\n");
        m_http->write(u"page/rconpb.ban"_s, "<html><body>0 81.1</body></html>\r\n");
        const auto importFrom = [&](const QString& path) {
            settings.setImportList({u"http://"_s + http(path)});
            return w.importNow();
        };
        const auto roster = [&] {
            w.server.clearLog();
            w.robot.link().enqueueCommand(u"status"_s);
            QTRY_VERIFY_WITH_TIMEOUT(w.server.receivedCommands().contains(u"status"_s), 5000);
            QTest::qWait(300);
        };

        QVERIFY(importFrom(u"/cut14/frag/"_s));
        QVERIFY(importFrom(u"/page/"_s));
        QCOMPARE(settings.banList(), QStringList{u"1 Carl"_s});
        w.robot.store().save();
        QFile bans(w.path(u"bans.txt"_s));
        QVERIFY(bans.open(QIODevice::ReadOnly));
        QCOMPARE(bans.readAll(), QByteArray("1 Carl\r\n"));
        roster();
        QVERIFY(!w.server.receivedCommands().join(u'|').contains(u"clientkick"_s));
        QVERIFY(!w.robot.link().queue().join(u'|').contains(u"clientkick"_s));

        QVERIFY(importFrom(u"/close/frag/"_s));
        QVERIFY(settings.banList().contains(u"0 81.12.34.56"_s));
        roster();
        QTRY_VERIFY_WITH_TIMEOUT(w.server.receivedCommands().contains(u"clientkick 3"_s), 10'000);
        QVERIFY(!w.server.receivedCommands().contains(u"clientkick 2"_s));
    }

    // The transfer runs off the window's thread: the event loop turns meanwhile, so the robot
    // keeps polling its server, and a second click starts nothing.
    void robotWorksDuringTransfer()
    {
        Window w;
        w.pointAtServer();
        w.robot.link().connectAction();
        settle(w.robot.link());
        QVERIFY(w.robot.link().isConnected());
        w.server.clearLog();
        QSignalSpy done(w.list.get(), &PublicBanList::downloadFinished);
        QFile::remove(m_http->path(u"release"_s));
        w.list->setDownloadAddress(http(u"/hold/lists/"_s));
        w.list->download();
        QVERIFY(w.list->busy());
        w.list->download();
        w.robot.link().enqueueCommand(u"status"_s);
        QTRY_VERIFY_WITH_TIMEOUT(w.server.receivedCommands().contains(u"status"_s), 5000);
        QVERIFY(done.isEmpty());
        m_http->write(u"release"_s, "");
        QVERIFY(done.wait(kWaitMs));
        QCOMPARE(done.first().first().toBool(), true);
        QCOMPARE(m_http->requests().size(), 1);
        QVERIFY(!w.list->busy());
    }

    // ---- upload --------------------------------------------------------------------------

    void uploadWithFolder()
    {
        Window w({u"0 Bob"_s, u"3 árvíz"_s});
        w.list->copyAllToPublic();
        QTRY_VERIFY(!w.list->busy()); // a long copy ends from the event loop
        const QByteArray expected("0 Bob\r\n3 \xe1rv\xedz\r\n");
        QVERIFY(w.upload(u"ftp://"_s + ftp(u"user"_s, u"/dir"_s)));
        QCOMPARE(w.dialogs.messages(), QStringList{u"Frissítés sikeres!"_s});
        QCOMPARE(w.list->uploadAddress(), ftp(u"user"_s, u"/dir"_s)); // without "ftp://"
        QCOMPARE(w.list->caption(), u"Nyilvános banlista - Kész"_s);
        QCOMPARE(m_ftp->read(u"dir/rconpb.ban"_s), expected);
        QFile local(w.path(u"rconpb.ban"_s));
        QVERIFY(local.open(QIODevice::ReadOnly));
        QCOMPARE(local.readAll(), expected);
        local.close(); // Windows replaces no file that is open
        // Stored beside it under a temporary name, then renamed onto it.
        const QStringList replaced{
            u"USER user"_s,           u"PASS secret"_s,         u"CWD /dir"_s,        u"LIST"_s,
            u"STOR rconpb.ban.tmp"_s, u"RNFR rconpb.ban.tmp"_s, u"RNTO rconpb.ban"_s, u"LIST"_s};
        QCOMPARE(steps(m_ftp->lines()), replaced);
        QVERIFY(!QFile::exists(m_ftp->path(u"dir/rconpb.ban.tmp"_s)));

        // The file is there now: the next upload replaces it the same way, deleting nothing.
        m_ftp->clearLines();
        w.list->selectPublic(0);
        w.list->removePublicLine();
        QVERIFY2(w.upload(ftp(u"user"_s, u"/dir"_s)), qPrintable(w.console()));
        QCOMPARE(steps(m_ftp->lines()), replaced);
        QCOMPARE(m_ftp->read(u"dir/rconpb.ban"_s), QByteArray("3 \xe1rv\xedz\r\n"));
        QVERIFY(!w.console().contains(u"secret"_s));
        // A plain server: nothing learnt of its encryption.
        QVERIFY(!w.settingsFile().contains("PublicUploadPins"));
    }

    // Only the exact name "rconpb.ban" counts and is ever deleted; the old file stays until the
    // new one is whole.
    void uploadReplacesTheFileSafely()
    {
        Window w(manyLines(20'000));
        w.list->copyAllToPublic();
        QTRY_VERIFY(!w.list->busy()); // a long copy ends from the event loop
        const QByteArray old("0 old\r\n");

        // A folder with an older copy beside it, but no list: no delete, no failure.
        m_ftp->write(u"old/rconpb.ban.old"_s, old);
        QVERIFY(w.upload(ftp(u"user"_s, u"/old"_s)));
        QCOMPARE(w.dialogs.messages().last(), u"Frissítés sikeres!"_s);
        QCOMPARE(m_ftp->read(u"old/rconpb.ban.old"_s), old);
        QCOMPARE(m_ftp->read(u"old/rconpb.ban"_s).size(), 20'000 * 15);
        QVERIFY(!steps(m_ftp->lines()).join(u'|').contains(u"DELE"_s));
        // ... and the listing afterwards looks for the file itself, not the older copy.
        m_ftp->clearLines();
        m_ftp->write(u"hidden/rconpb.ban.old"_s, old);
        QVERIFY(w.upload(ftp(u"hider"_s, u"/hidden"_s)));
        QCOMPARE(w.dialogs.messages().last(), u"Frissítési hiba: Átviteli hiba"_s);

        // A server that renames onto no existing file: the old one goes just before the rename.
        m_ftp->clearLines();
        m_ftp->write(u"rconpb.ban"_s, old);
        QVERIFY(w.upload(ftp(u"noreplace"_s)));
        QCOMPARE(w.dialogs.messages().last(), u"Frissítés sikeres!"_s);
        QCOMPARE(steps(m_ftp->lines()).mid(2),
                 (QStringList{u"LIST"_s, u"STOR rconpb.ban.tmp"_s, u"RNFR rconpb.ban.tmp"_s,
                              u"RNTO rconpb.ban"_s, u"DELE rconpb.ban"_s, u"RNFR rconpb.ban.tmp"_s,
                              u"RNTO rconpb.ban"_s, u"LIST"_s}));
        QCOMPARE(m_ftp->read(u"rconpb.ban"_s).size(), 20'000 * 15);

        // A server that renames nothing: the old file is deleted nevertheless only when the new
        // one is stored, and then the file is stored under its own name; never no list.
        w.robot.console().clear();
        m_ftp->clearLines();
        m_ftp->write(u"rconpb.ban"_s, old);
        QVERIFY(w.upload(ftp(u"norename"_s)));
        QCOMPARE(m_ftp->read(u"rconpb.ban"_s).size(), 20'000 * 15);
        QCOMPARE(steps(m_ftp->lines()).mid(2),
                 (QStringList{u"LIST"_s, u"STOR rconpb.ban.tmp"_s, u"RNFR rconpb.ban.tmp"_s,
                              u"RNTO rconpb.ban"_s, u"DELE rconpb.ban"_s, u"RNFR rconpb.ban.tmp"_s,
                              u"RNTO rconpb.ban"_s, u"STOR rconpb.ban"_s, u"DELE rconpb.ban.tmp"_s,
                              u"LIST"_s}));
        QVERIFY2(w.console().contains(u"a szerver nem nevezte át az ideiglenes fájlt, ezért a "
                                      u"lista közvetlenül rconpb.ban néven tárolódott"_s),
                 qPrintable(w.console()));

        // A server that dies in the middle of the store: the old list is still there.
        PythonServer dying(PythonServer::Kind::Ftp);
        QVERIFY2(dying.running(), qPrintable(dying.errors()));
        dying.write(u"rconpb.ban"_s, old);
        w.robot.console().clear();
        QVERIFY2(
            !w.upload(u"dier:secret@127.0.0.1:"_s + QString::number(dying.port())),
            qPrintable(w.console() + dying.lines().join(u'|') + w.dialogs.messages().join(u'|')));
        QCOMPARE(dying.read(u"rconpb.ban"_s), old);
        QVERIFY2(w.console().contains(u"Feltöltési hiba (ftp://127.0.0.1:"_s),
                 qPrintable(w.console()));
        QVERIFY(w.console().contains(u"a fájl tárolása ideiglenes néven (rconpb.ban.tmp)"_s));
        QVERIFY(noLibcurlText(w.console()));
        QVERIFY(!w.console().contains(u"secret"_s));
    }

    void uploadWithoutFolder()
    {
        Window w({u"0 Bob"_s});
        w.list->copyAllToPublic();
        QTRY_VERIFY(!w.list->busy()); // a long copy ends from the event loop
        w.list->setUploadAddress(ftp(u"user"_s));
        w.list->selectPublic(0);
        w.list->removePublicLine(); // the last line: "Feltölt" stays enabled, the file is empty
        QVERIFY(w.list->uploadEnabled());
        QVERIFY(w.upload(ftp(u"user"_s)));
        QCOMPARE(w.dialogs.messages(), QStringList{u"Frissítés sikeres!"_s});
        QVERIFY(QFile::exists(m_ftp->path(u"rconpb.ban"_s)));
        QCOMPARE(m_ftp->read(u"rconpb.ban"_s), QByteArray());
        QCOMPARE(steps(m_ftp->lines()),
                 (QStringList{u"USER user"_s, u"PASS secret"_s, u"LIST"_s, u"STOR rconpb.ban.tmp"_s,
                              u"RNFR rconpb.ban.tmp"_s, u"RNTO rconpb.ban"_s, u"LIST"_s}));
    }

    void uploadFailures()
    {
        Window w({u"0 Bob"_s});
        w.list->copyAllToPublic();
        QTRY_VERIFY(!w.list->busy()); // a long copy ends from the event loop

        // Malformed: the message, no connection, the local file written all the same.
        QVERIFY(!w.upload(u"a:bcd@127.0.0.1:"_s + QString::number(m_ftp->port())));
        QCOMPARE(w.dialogs.messages(),
                 QStringList{u"Belépési információ helytelen! Próbáld újra!"_s});
        QVERIFY(QFile::exists(w.path(u"rconpb.ban"_s)));
        QVERIFY(m_ftp->lines().isEmpty());
        QCOMPARE(w.list->caption(), u"Nyilvános banlista"_s);

        // A refused login: the error on the console, never the password.
        QVERIFY(!w.upload(u"user:Wr0ng-Pw@127.0.0.1:"_s + QString::number(m_ftp->port())));
        QVERIFY(w.console().contains(u"bejelentkezés"_s));
        QVERIFY(!w.console().contains(u"Wr0ng-Pw"_s));
        QCOMPARE(w.list->caption(), u"Nyilvános banlista - Feltöltés folyamatban..."_s);
        QCOMPARE(w.dialogs.messages().size(), 1);

        // A folder that is not there.
        QVERIFY(!w.upload(ftp(u"user"_s, u"/nowhere"_s)));
        QVERIFY(w.console().contains(u"belépés a mappába"_s));
        // Nothing listens.
        QVERIFY(
            !w.upload(u"user:secret@127.0.0.1:"_s + QString::number(PythonServer::closedPort())));
        QVERIFY(w.console().contains(u"a kapcsolódás nem sikerült"_s));
        QVERIFY(!w.console().contains(u"secret"_s));

        // Stored, but the listing does not show it.
        QVERIFY(w.upload(ftp(u"hider"_s)));
        QCOMPARE(w.dialogs.messages().last(), u"Frissítési hiba: Átviteli hiba"_s);
        // The connection is gone right after the login.
        QVERIFY(!w.upload(ftp(u"dropper"_s)));
        QCOMPARE(w.dialogs.messages().last(), u"Frissítési hiba: Nincs kapcsolat"_s);
        QVERIFY(noLibcurlText(w.console()));
    }

    // A server that offers TLS with a certificate that does not verify (self-signed, naming
    // another host): the first upload trusts it and keeps its key's pin; later uploads take only
    // that key, and never go without TLS again.
    void tlsTrustedOnFirstUse()
    {
        if (const QString why = Vsftpd::unavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        Vsftpd server;
        QVERIFY(server.ready());
        const QString first = server.makeCertificate(u"first"_s);
        QVERIFY(!first.isEmpty());
        QVERIFY2(server.start(first), qPrintable(server.output()));
        const QString address = server.user() + u':' + server.password() + u"@127.0.0.1:"_s +
                                QString::number(server.port());
        const QString pin = opensslPin(first);
        QVERIFY(pin.size() > 20);

        Window w({u"0 Bob"_s, u"1 Carl"_s});
        w.list->copyAllToPublic();
        QTRY_VERIFY(!w.list->busy()); // a long copy ends from the event loop
        server.write(u"rconpb.ban"_s, "0 old\r\n");
        QVERIFY2(w.upload(address), qPrintable(w.console()));
        QCOMPARE(w.dialogs.messages(), QStringList{u"Frissítés sikeres!"_s});
        QCOMPARE(server.read(u"rconpb.ban"_s), QByteArray("0 Bob\r\n1 Carl\r\n"));
        // TLS before the login, and on the data connections.
        QStringList commands = server.commands();
        QVERIFY2(commands.first().startsWith(u"AUTH"_s), qPrintable(commands.join(u'|')));
        QVERIFY(commands.indexOf(u"USER "_s + server.user()) > 0);
        QVERIFY(commands.contains(u"PROT P"_s));
        QVERIFY(!commands.contains(u"CCC"_s));
        // Said on the console with the pin, which the settings file keeps.
        QVERIFY2(w.console().contains(u"megjegyezte a nyilvános kulcsát: "_s + pin),
                 qPrintable(w.console() + u" / "_s + pin));
        const QString entry = u"127.0.0.1:"_s + QString::number(server.port()) + u'=' + pin;
        QVERIFY2(w.settingsFile().contains(QByteArray("PublicUploadPins=" + entry.toLatin1())),
                 w.settingsFile().constData());
        QVERIFY(!w.console().contains(server.password()));

        // The same key again: accepted without a word.
        w.robot.console().clear();
        w.list->selectPublic(0);
        w.list->removePublicLine();
        QVERIFY(w.upload(address));
        QCOMPARE(server.read(u"rconpb.ban"_s), QByteArray("1 Carl\r\n"));
        QVERIFY(!w.console().contains(u"kulcs"_s));

        // Another key on the same server: refused before the login, the file untouched.
        const QString second = server.makeCertificate(u"second"_s);
        QVERIFY(server.start(second));
        QVERIFY(!w.upload(address));
        QVERIFY2(w.console().contains(u"a szerver nyilvános kulcsa megváltozott"_s),
                 qPrintable(w.console()));
        QVERIFY(w.console().contains(pin));
        commands = server.commands();
        QVERIFY2(!commands.join(u'|').contains(u"USER"_s), qPrintable(commands.join(u'|')));
        QCOMPARE(server.read(u"rconpb.ban"_s), QByteArray("1 Carl\r\n"));
        QVERIFY(w.settingsFile().contains(entry.toLatin1())); // the pin stays

        // The same server without TLS: the password does not go in clear text.
        QVERIFY(server.start(QString()));
        w.robot.console().clear();
        QVERIFY(!w.upload(address));
        QVERIFY2(w.console().contains(u"nem ajánl titkosított kapcsolatot"_s),
                 qPrintable(w.console()));
        commands = server.commands();
        QVERIFY2(!commands.join(u'|').contains(u"USER"_s), qPrintable(commands.join(u'|')));
        QVERIFY(!commands.join(u'|').contains(u"PASS"_s));
        QVERIFY(noLibcurlText(w.console()));

        // The key comes back: uploads work again.
        QVERIFY(server.start(first));
        QVERIFY(w.upload(address));
    }

    // A certificate that verifies is taken without a pin; the server never gets the password
    // without TLS, nor with a certificate that does not verify, afterwards.
    void tlsVerifiedServer()
    {
        if (const QString why = Vsftpd::unavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        Vsftpd server;
        QVERIFY(server.ready());
        const QString trusted = server.makeCertificate(u"trusted"_s, u"IP:127.0.0.1"_s);
        QVERIFY(server.start(trusted));
        const QString address = server.user() + u':' + server.password() + u"@127.0.0.1:"_s +
                                QString::number(server.port());
        Window w({u"0 Bob"_s});
        w.list->copyAllToPublic();
        QTRY_VERIFY(!w.list->busy()); // a long copy ends from the event loop
        TransferLimits limits = w.robot.transfers().limits();
        limits.caFile = trusted;
        w.robot.transfers().setLimits(limits);
        QVERIFY2(w.upload(address), qPrintable(w.console()));
        QVERIFY(!w.console().contains(u"kulcs"_s));
        QVERIFY(w.settingsFile().contains(
            QByteArray("PublicUploadPins=127.0.0.1:" + QByteArray::number(server.port()) + "=ca")));

        // Someone else's self-signed certificate on that address: not trusted on sight.
        QVERIFY(server.start(server.makeCertificate(u"impostor"_s, u"IP:127.0.0.1"_s)));
        QVERIFY(!w.upload(address));
        QVERIFY2(w.console().contains(u"nem hiteles, pedig korábban az volt"_s),
                 qPrintable(w.console()));
        QVERIFY(!server.commands().join(u'|').contains(u"USER"_s));
    }

    // pyftpdlib offers TLS too (its TLS data connections fail with this libcurl): the login goes
    // over TLS only, and the password never in clear text. Runs without root as well.
    void loginOverTlsOnly()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no openssl program to make the test certificate and its pin");
#endif
        QTemporaryDir keys;
        const QString cert = keys.filePath(u"server.pem"_s);
        QProcess openssl;
        openssl.start(u"openssl"_s,
                      {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                       u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"2"_s,
                       u"-subj"_s, u"/CN=elsewhere.test"_s, u"-keyout"_s, cert, u"-out"_s, cert});
        if (!openssl.waitForFinished(20'000) || openssl.exitCode() != 0)
            QSKIP("openssl cannot make a test certificate here");
        PythonServer server(PythonServer::Kind::Ftp, {u"--tls"_s, cert});
        QVERIFY2(server.running(), qPrintable(server.errors()));
        Window w({u"0 Bob"_s});
        w.list->copyAllToPublic();
        QTRY_VERIFY(!w.list->busy()); // a long copy ends from the event loop
        w.upload(u"user:secret@127.0.0.1:"_s + QString::number(server.port()));
        const QStringList commands = server.lines();
        QCOMPARE(commands.first().left(4), u"AUTH"_s);
        QVERIFY(commands.indexOf(u"USER user"_s) > 0);
        QVERIFY(commands.contains(u"PROT P"_s));
        QVERIFY(w.console().contains(u"megjegyezte a nyilvános kulcsát: "_s + opensslPin(cert)));
    }

    // ---- bounded waits and cancelling ----------------------------------------------------

    // A server that stops answering costs at most the transfer's time-out, the closing QUIT
    // included.
    void everyWaitIsBounded()
    {
        Window w({u"0 Bob"_s});
        w.list->copyAllToPublic();
        QTRY_VERIFY(!w.list->busy()); // a long copy ends from the event loop
        TransferLimits limits = w.robot.transfers().limits();
        limits.totalTimeoutMs = 2500;
        w.robot.transfers().setLimits(limits);

        // QUIT unanswered: the result comes all the same.
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(w.upload(ftp(u"mute"_s)), qPrintable(w.console()));
        QVERIFY2(clock.elapsed() < 4500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(w.dialogs.messages().last(), u"Frissítés sikeres!"_s);

        // A listing never answered.
        clock.restart();
        QVERIFY(!w.upload(ftp(u"staller"_s)));
        QVERIFY2(clock.elapsed() < 4500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(w.console().contains(u"listázás: időtúllépés"_s));
        QVERIFY(noLibcurlText(w.console()));
    }

    // A transfer stops within a second of its cancel, its finished signal fires, and the lists
    // stay as they were.
    void transfersCanBeCancelled()
    {
        Window w({u"0 Bob"_s});
        QVERIFY(w.download(http(u"/lists"_s)));
        const QStringList before = w.list->publicLines();
        QFile::remove(m_http->path(u"release"_s));
        QSignalSpy downloaded(w.list.get(), &PublicBanList::downloadFinished);
        w.list->setDownloadAddress(http(u"/hold/lists/"_s));
        w.list->download();
        QTRY_COMPARE_WITH_TIMEOUT(m_http->requests().size(), 2, 5000);
        QVERIFY(w.list->busy());
        QElapsedTimer clock;
        clock.start();
        w.list->cancelTransfer();
        QCOMPARE(downloaded.size(), 1);
        QCOMPARE(downloaded.first().first().toBool(), false);
        QVERIFY(!w.list->busy());
        QCOMPARE(w.list->publicLines(), before);
        QTRY_COMPARE_WITH_TIMEOUT(w.robot.transfers().running(), 0, 1000);
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(w.console().contains(u"A letöltés megszakítva"_s));
        m_http->write(u"release"_s, "");
        QTest::qWait(200);
        QCOMPARE(downloaded.size(), 1); // nothing more comes of it

        // An upload that waits for a listing.
        QSignalSpy uploaded(w.list.get(), &PublicBanList::uploadFinished);
        w.list->setUploadAddress(ftp(u"staller"_s));
        w.list->upload();
        QTRY_VERIFY_WITH_TIMEOUT(m_ftp->lines().contains(u"LIST"_s), 5000);
        clock.restart();
        w.list->cancelTransfer();
        QCOMPARE(uploaded.size(), 1);
        QCOMPARE(uploaded.first().first().toBool(), false);
        QTRY_COMPARE_WITH_TIMEOUT(w.robot.transfers().running(), 0, 1000);
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(w.dialogs.messages().isEmpty());
    }

    // The robot's end never waits long for a transfer.
    void endingDuringATransfer()
    {
        QFile::remove(m_http->path(u"release"_s));
        auto w = std::make_unique<Window>(QStringList{u"0 Bob"_s});
        w->list->setDownloadAddress(http(u"/hold/lists/"_s));
        w->list->download();
        QTRY_COMPARE_WITH_TIMEOUT(m_http->requests().size(), 1, 5000);
        QElapsedTimer clock;
        clock.start();
        w.reset();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        m_http->write(u"release"_s, "");
    }

    // ---- the import run ------------------------------------------------------------------

    void importRunWithExport()
    {
        Window w({u"0 Bob"_s, u"1 Carl"_s, u"0 Dave"_s});
        Settings& settings = w.robot.settings();
        m_http->write(u"theirs/rconpb.ban"_s, "2 Bob\r\n1 CARL\r\n0 Eve\r\n3 dave\r\n");
        settings.setImportList(
            {u"http://"_s + http(u"/lists/"_s), u"http://"_s + http(u"/theirs"_s)});
        settings.setImportSelection(1);
        settings.setFlag(Key::ExportAlso, true);
        settings.setUploadAddress(ftp(u"user"_s, u"/dir"_s));
        QVERIFY(w.importNow());

        // "2 Bob" took the place of "0 Bob"; "1 CARL" equals "1 Carl"; "0 Eve" and "3 dave"
        // (another entry text, letter case counts) are new.
        QCOMPARE(settings.banList(),
                 (QStringList{u"2 Bob"_s, u"0 Dave"_s, u"0 Eve"_s, u"1 Carl"_s, u"3 dave"_s}));
        // The uploaded file: the downloaded lines with the operator's merged in.
        QCOMPARE(m_ftp->read(u"dir/rconpb.ban"_s),
                 QByteArray("0 Dave\r\n0 Eve\r\n1 CARL\r\n2 Bob\r\n3 dave\r\n"));
        QCOMPARE(w.dialogs.messages(), QStringList{u"Frissítés sikeres!"_s});
        QCOMPARE(m_http->requests().first()[u"path"_s].toString(), u"/theirs/rconpb.ban"_s);
        QVERIFY(!w.robot.importer().running());
        // A run stores nothing of its window: the addresses stay as they were.
        QCOMPARE(settings.text(Key::PublicBanURL), QString());

        // Without the export, the same run only merges.
        m_ftp->clearLines();
        settings.setFlag(Key::ExportAlso, false);
        m_http->write(u"theirs/rconpb.ban"_s, "4 Bob\r\n");
        QVERIFY(w.importNow());
        QVERIFY(settings.banList().contains(u"4 Bob"_s));
        QVERIFY(!settings.banList().contains(u"2 Bob"_s));
        QVERIFY(m_ftp->lines().isEmpty());
    }

    void importRunFailures()
    {
        Window w({u"0 Bob"_s});
        Settings& settings = w.robot.settings();
        // No address: said on the console, nothing asked for; the ban list stays.
        settings.setImportList({});
        QVERIFY(w.importNow());
        QCOMPARE(settings.banList(), QStringList{u"0 Bob"_s});
        QVERIFY(w.console().contains(u"Import: az import listában nincs letöltési cím, az import "
                                     u"elmaradt"_s));
        QVERIFY(m_http->requests().isEmpty());

        settings.setImportList({u"http://"_s + http(u"/missing/"_s)});
        settings.setImportSelection(0);
        QVERIFY(w.importNow());
        QVERIFY(w.console().contains(u"HTTP 404"_s));
        QCOMPARE(settings.banList(), QStringList{u"0 Bob"_s});

        // Download fine, export address malformed: merged and handed over, then the message.
        settings.setImportList({u"http://"_s + http(u"/lists/"_s)});
        settings.setImportSelection(0);
        settings.setFlag(Key::ExportAlso, true);
        settings.setUploadAddress(u"x:y@z"_s);
        QVERIFY(w.importNow());
        QCOMPARE(settings.banList().size(), 4);
        QCOMPARE(w.dialogs.messages(),
                 QStringList{u"Belépési információ helytelen! Próbáld újra!"_s});
    }

    // The only address of the import list came from `PublicBanURL`, or was added with "+" to
    // an empty list: the runs download from it.
    void importRunsOnTheOnlyAddress()
    {
        Window w({u"0 Bob"_s});
        QFile ini(w.path(u"vigilor.ini"_s));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[System]\r\nPublicBanURL=" + http(u"/lists/"_s).toLatin1() +
                  "\r\n[Service]\r\nTimedImport=1\r\n");
        ini.close();
        w.robot.loadSettings();
        QCOMPARE(w.robot.settings().importList(), QStringList{u"http://"_s + http(u"/lists/"_s)});
        QVERIFY(w.robot.importer().timer().isActive());
        QVERIFY(w.importNow());
        QCOMPARE(m_http->requests().size(), 1);
        QCOMPARE(m_http->requests().first()[u"path"_s].toString(), u"/lists/rconpb.ban"_s);
        QVERIFY(w.robot.settings().banList().contains(u"2 alice"_s));

        m_http->clearLines();
        w.robot.settings().setImportList({});
        w.dialogs.answerInput(http(u"/theirs/"_s));
        w.robot.importer().addAddress();
        m_http->write(u"theirs/rconpb.ban"_s, "4 Zed\r\n");
        QVERIFY(w.importNow());
        QCOMPARE(m_http->requests().size(), 1);
        QVERIFY(w.robot.settings().banList().contains(u"4 Zed"_s));
    }

    // One run at a time; a tick during a run is skipped with one console line. What the ban
    // list gains meanwhile stays.
    void importRunMeetsTheRobot()
    {
        Window w({u"0 Bob"_s});
        Settings& settings = w.robot.settings();
        settings.setImportList({u"http://"_s + http(u"/lists/"_s)});
        settings.setImportSelection(0);
        QSignalSpy done(&w.robot.importer(), &Importer::runFinished);
        w.robot.importer().runNow();
        QVERIFY(w.robot.importer().running());
        w.robot.importer().runNow();
        QCOMPARE(w.console().count(u"Az import kimarad: az előző import még nem ért véget."_s), 1);
        settings.setBanList(QStringList(settings.banList())
                            << u"0 Zed"_s); // an in-game "ban" meanwhile
        QVERIFY(done.wait(kWaitMs));
        QCOMPARE(done.size(), 1);
        QCOMPARE(m_http->requests().size(), 1);
        QVERIFY(settings.banList().contains(u"0 Zed"_s));
        QVERIFY(settings.banList().contains(u"2 alice"_s));
    }

    // An import never grows the ban list past the 256 entries its lookup examines.
    void importKeepsTheListWithinItsLookup()
    {
        QStringList own;
        for (int i = 0; i < 250; ++i)
            own.append(u"0 name"_s + QString::number(i).rightJustified(3, u'0'));
        Window w(own);
        QByteArray list = "1 name000\r\n"; // a replacement still happens
        for (int i = 0; i < 20; ++i)
            list += "0 new" + QByteArray::number(i).rightJustified(2, '0') + "\r\n";
        m_http->write(u"many/rconpb.ban"_s, list);
        Settings& settings = w.robot.settings();
        settings.setImportList({u"http://"_s + http(u"/many/"_s)});
        settings.setImportSelection(0);
        QVERIFY(w.importNow());
        QCOMPARE(settings.banList().size(), 256);
        QVERIFY(settings.banList().contains(u"1 name000"_s));
        QVERIFY(w.console().contains(u"Import: 14 új bejegyzés nem került a banlistába"_s));
    }
};

QTEST_MAIN(TestExchangeNet)
#include "test_exchange_net.moc"
