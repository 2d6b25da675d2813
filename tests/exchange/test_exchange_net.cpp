// The ban-list exchange against real servers on 127.0.0.1, started and stopped by this program:
// an HTTP server that records request headers and an FTP server (pyftpdlib). Download, upload
// and whole import runs, their failures, and the robot working on while a transfer runs.
#include "exchange/importer.h"
#include "exchange/publicbanlist.h"
#include "exchange/transfer.h"
#include "support/pyservers.h"
#include "support/robotfixture.h"

#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

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
        if (QStringList{u"USER"_s, u"PASS"_s, u"CWD"_s, u"LIST"_s, u"DELE"_s, u"STOR"_s}.contains(
                verb))
            result.append(line);
    }
    return result;
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

    // The transfer runs off the window's thread: the event loop turns meanwhile, so the robot
    // keeps polling its server, and a second click starts nothing.
    void robotWorksDuringTransfer()
    {
        Window w;
        w.pointAtServer();
        w.robot.link().connectAction();
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
        const QByteArray expected("0 Bob\r\n3 \xe1rv\xedz\r\n");
        QVERIFY(w.upload(u"ftp://"_s + ftp(u"user"_s, u"/dir"_s)));
        QCOMPARE(w.dialogs.messages(), QStringList{u"Frissítés sikeres!"_s});
        QCOMPARE(w.list->uploadAddress(), ftp(u"user"_s, u"/dir"_s)); // without "ftp://"
        QCOMPARE(w.list->caption(), u"Nyilvános banlista - Kész"_s);
        QCOMPARE(m_ftp->read(u"dir/rconpb.ban"_s), expected);
        QFile local(w.path(u"rconpb.ban"_s));
        QVERIFY(local.open(QIODevice::ReadOnly));
        QCOMPARE(local.readAll(), expected);
        QCOMPARE(steps(m_ftp->lines()),
                 (QStringList{u"USER user"_s, u"PASS secret"_s, u"CWD /dir"_s, u"LIST"_s,
                              u"STOR rconpb.ban"_s, u"LIST"_s}));

        // The file is there now: the next upload deletes it first and stores a new one.
        m_ftp->clearLines();
        w.list->selectPublic(0);
        w.list->removePublicLine();
        QVERIFY(w.upload(ftp(u"user"_s, u"/dir"_s)));
        QCOMPARE(steps(m_ftp->lines()),
                 (QStringList{u"USER user"_s, u"PASS secret"_s, u"CWD /dir"_s, u"LIST"_s,
                              u"DELE rconpb.ban"_s, u"STOR rconpb.ban"_s, u"LIST"_s}));
        QCOMPARE(m_ftp->read(u"dir/rconpb.ban"_s), QByteArray("3 \xe1rv\xedz\r\n"));
        QVERIFY(!w.console().contains(u"secret"_s));
    }

    void uploadWithoutFolder()
    {
        Window w({u"0 Bob"_s});
        w.list->copyAllToPublic();
        w.list->setUploadAddress(ftp(u"user"_s));
        w.list->selectPublic(0);
        w.list->removePublicLine(); // the last line: "Feltölt" stays enabled, the file is empty
        QVERIFY(w.list->uploadEnabled());
        QVERIFY(w.upload(ftp(u"user"_s)));
        QCOMPARE(w.dialogs.messages(), QStringList{u"Frissítés sikeres!"_s});
        QVERIFY(QFile::exists(m_ftp->path(u"rconpb.ban"_s)));
        QCOMPARE(m_ftp->read(u"rconpb.ban"_s), QByteArray());
        QCOMPARE(steps(m_ftp->lines()), (QStringList{u"USER user"_s, u"PASS secret"_s, u"LIST"_s,
                                                     u"STOR rconpb.ban"_s, u"LIST"_s}));
    }

    void uploadFailures()
    {
        Window w({u"0 Bob"_s});
        w.list->copyAllToPublic();

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
    }

    // A server that offers TLS gets the login over TLS, with the certificate checked. (The test
    // server's own TLS data connections fail with this libcurl, so the test ends there.)
    void loginOverTls()
    {
        QTemporaryDir keys;
        const QString cert = keys.filePath(u"server.pem"_s);
        QProcess openssl;
        openssl.start(u"openssl"_s,
                      {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                       u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"2"_s,
                       u"-subj"_s, u"/CN=127.0.0.1"_s, u"-addext"_s,
                       u"subjectAltName=IP:127.0.0.1"_s, u"-keyout"_s, cert, u"-out"_s, cert});
        if (!openssl.waitForFinished(20'000) || openssl.exitCode() != 0)
            QSKIP("openssl cannot make a test certificate here");
        PythonServer server(PythonServer::Kind::Ftp, {u"--tls"_s, cert});
        QVERIFY2(server.running(), qPrintable(server.errors()));
        const QString address = u"user:secret@127.0.0.1:"_s + QString::number(server.port());

        // Not trusted: no login at all.
        Window w({u"0 Bob"_s});
        w.list->copyAllToPublic();
        QVERIFY(!w.upload(address));
        QVERIFY(w.console().contains(u"titkosított kapcsolat"_s));
        QVERIFY(!server.lines().contains(u"PASS secret"_s));

        TransferLimits limits = w.robot.transfers().limits();
        limits.caFile = cert;
        w.robot.transfers().setLimits(limits);
        server.clearLines();
        w.upload(address);
        const QStringList commands = server.lines();
        QCOMPARE(commands.first().left(4), u"AUTH"_s);
        QVERIFY(commands.indexOf(u"USER user"_s) > 0);
        QVERIFY(commands.contains(u"PROT P"_s));
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
        // Nothing selected: "http://" alone, which fails; the ban list stays.
        settings.setImportList({});
        QVERIFY(w.importNow());
        QCOMPARE(settings.banList(), QStringList{u"0 Bob"_s});
        QVERIFY(w.console().contains(u"Letöltési hiba"_s));
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
