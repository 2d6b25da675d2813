// The replies read from their bytes: the cleaning, the channel's marker and the status reply's
// assembly, without a robot.
#include "link/reply.h"
#include "text/cp1250.h"

#include <QTest>

using namespace vigilor;
using namespace Qt::StringLiterals;
using link::StatusAssembly;

namespace {

QByteArray reply(const QByteArray& body)
{
    return QByteArray("\xff\xff\xff\xffprint\n") + body;
}

const QByteArray kHead = "map: mp_x\nnum score ping guid name lastmsg address qport rate\n---\n";
const QByteArray kPlayer = "  0 5 40 1 Joe 0 1.2.3.4:28960 1234 25000\n";

} // namespace

class TestReply final : public QObject
{
    Q_OBJECT

private slots:
    void cleaning_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("text");
        QTest::newRow("header and line break kept") << reply("hello\n") << u"\nhello\n"_s;
        QTest::newRow("colour codes out") << reply("^1Red^7 and ^^22x") << u"\nRed and 2x"_s;
        QTest::newRow("code page 1250") << reply("\x8a\xe1rk\xe1ny") << u"\nŠárkány"_s;
        // A header only counts whole; the first one goes, a later one stays.
        QTest::newRow("header twice")
            << reply(reply("x")) << u'\n' + text::fromCp1250("\xff\xff\xff\xffprint\nx");
        QTest::newRow("no header") << QByteArray("plain") << u"plain"_s;
        QTest::newRow("broken header")
            << QByteArray("\xff\xff\xffprint") << text::fromCp1250("\xff\xff\xffprint");
        // A colour code splitting the header joins it together again.
        QTest::newRow("header split by a colour code")
            << QByteArray("\xff\xff^1\xff\xffprint!") << u"!"_s;
        QTest::newRow("empty") << QByteArray() << QString();
    }
    void cleaning()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, text);
        QCOMPARE(link::cleanedReply(datagram), text);
    }

    void channelMarker()
    {
        QVERIFY(link::isChannelReply(u"\"vigilor\" is:\"!help^7\" default:\"\""_s));
        QVERIFY(link::isChannelReply(u"x \"vigilor\" is: \"ban 3\""_s));
        QVERIFY(!link::isChannelReply(u"\"vigilor\" is \"x\""_s));
        QVERIFY(!link::isChannelReply(u"\"Vigilor\" is:\"x\""_s));
        // Colour codes inside the marker are gone before the test.
        QVERIFY(link::isChannelReply(link::cleanedReply(reply("\"vig^3ilor\" is:\"x\""))));
    }

    // The fragment count as the console reports it: the first reply after the start counts its
    // datagram, a later one-datagram reply counts none, a reply in three datagrams counts two.
    void assemblyCountsAsTheConsoleReports()
    {
        StatusAssembly status;
        const auto feed = [&status](const QByteArray& body) {
            const QString text = link::cleanedReply(reply(body));
            if (!status.takes(text))
                return false;
            return status.join(text);
        };
        QVERIFY(feed(kHead + kPlayer + "\n"));
        QCOMPARE(status.fragments(), 1);
        QCOMPARE(status.take(), QString::fromLatin1(kHead + kPlayer + "\n"));
        QCOMPARE(status.fragments(), 0);
        QVERIFY(status.buffer().isEmpty());

        QVERIFY(feed(kHead + "\n"));
        QCOMPARE(status.fragments(), 0);
        status.take();

        QVERIFY(!feed(kHead));
        QVERIFY(!status.complete());
        // A fragment without the column word belongs to the open reply ...
        QVERIFY(!feed(kPlayer));
        QVERIFY(feed(kPlayer + "\n"));
        QCOMPARE(status.fragments(), 2);
        QCOMPARE(status.take(), QString::fromLatin1(kHead + kPlayer + kPlayer + "\n"));
        // ... and once it is complete, a text without the word is not the status reply's.
        QVERIFY(!status.takes(u"\nsomething else\n"_s));
        QVERIFY(status.takes(u"\nnum score ping guid name lastmsg address qport rate\n"_s));
    }
};

QTEST_GUILESS_MAIN(TestReply)
#include "test_reply.moc"
