#include "channel/broadcaster.h"
#include "support/robotfixture.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;

namespace {

// A robot connected to the practice server with its pacer held, so the queue can be read.
struct Harness : RobotFixture
{
    Harness() : RobotFixture(u"pw"_s)
    {
        pointAtServer();
        robot.settings().setFlag(Key::Notification, false);
        robot.link().connectAction();
        settle(robot.link());
        robot.link().pacer().stop();
        clear();
    }
    // Commands queued before this point (the connect notice) are not the test's.
    void clear() { base = robot.link().queue().size(); }
    qsizetype base = 0;
    QStringList queued() { return robot.link().queue().mid(base); }
    QStringList said()
    {
        QStringList lines;
        for (const QString& c : queued())
            lines << c.mid(u"say ^1vigilor^2> ^7"_s.size());
        return lines;
    }
    channel::Broadcaster& b() { return robot.broadcaster(); }
};

} // namespace

class TestChannel final : public QObject
{
    Q_OBJECT

private slots:
    void sayPublicAndItsSwitch()
    {
        Harness h;
        h.b().sayPublic(u"hello"_s);
        QCOMPARE(h.queued(), QStringList{u"say ^1vigilor^2> ^7hello"_s});
        h.b().sayPublic(QString());
        QCOMPARE(h.queued().back(), u"say ^1vigilor^2> ^7"_s);
        h.robot.settings().setFlag(Key::EventNotify, false);
        h.b().sayPublic(u"quiet"_s);
        QCOMPARE(h.queued().size(), 2);
    }

    void announcerWalksTheList()
    {
        Harness h;
        h.robot.settings().setMessages({u"one"_s, u"two"_s, u"three"_s});
        h.robot.settings().setFlag(Key::Notification, true); // says the first at once
        QVERIFY(h.b().announcer().isActive());
        h.b().announceNext();
        h.b().announceNext();
        h.b().announceNext();
        QCOMPARE(h.said(), (QStringList{u"one"_s, u"two"_s, u"three"_s, u"one"_s}));
        // Off and on again: the next line at once, and the timer keeps its count when running.
        h.robot.settings().setFlag(Key::Notification, false);
        QVERIFY(!h.b().announcer().isActive());
        h.robot.settings().setFlag(Key::Notification, true);
        QCOMPARE(h.said().back(), u"two"_s);
        // With the chat off the position still moves on.
        h.robot.settings().setFlag(Key::EventNotify, false);
        h.b().announceNext();
        QCOMPARE(h.b().position(), quint8(0));
    }

    void announcerPeriodAndWrap()
    {
        Harness h;
        h.robot.settings().apply(Key::AnounceInterval, 1);
        QCOMPARE(h.b().announcer().interval(), 60000);
        h.robot.settings().apply(Key::AnounceInterval, 60);
        QCOMPARE(h.b().announcer().interval(), 3600000);
        QStringList many;
        for (int i = 1; i <= 300; ++i)
            many << QString::number(i);
        h.robot.settings().setMessages(many);
        h.robot.settings().setFlag(Key::Notification, true);
        for (int i = 0; i < 256; ++i)
            h.b().announceNext();
        const QStringList said = h.said();
        QCOMPARE(said.at(255), u"256"_s);
        QCOMPARE(said.at(256), u"1"_s); // the 8-bit position wraps
        // An empty list says the bare prefix and stays at 0.
        h.robot.settings().setMessages({});
        h.b().announceNext();
        QCOMPARE(h.said().back(), QString());
        QCOMPARE(h.b().position(), quint8(0));
    }

    void timeSignal()
    {
        Harness h;
        h.clock.set(QDateTime(QDate(2026, 12, 8), QTime(7, 5, 9)));
        h.robot.settings().setFlag(Key::AnounceTime, true);
        QVERIFY(h.b().timeSignal().isActive());
        QCOMPARE(h.b().timeSignal().interval(), 600000);
        QCOMPARE(h.said(), QStringList{u"Time is: 7:05:09"_s});
        h.robot.settings().setFlag(Key::AnounceTime, false);
        QVERIFY(!h.b().timeSignal().isActive());
        h.robot.settings().setFlag(Key::AnounceTime, true);
        QCOMPARE(h.said().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestChannel)
#include "test_channel.moc"
