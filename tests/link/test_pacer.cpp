// The pacer alone, in real time: the gap between sends, the holds and their due tick, the gate
// of an open pacer, a tick that throws.
#include "link/pacer.h"
#include "text/errors.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <functional>

using namespace vigilor;
using namespace Qt::StringLiterals;

namespace {

class Sink final : public ErrorSink
{
public:
    void reportError(const std::exception& error) override { errors << errorText(error); }
    QStringList errors;
};

// A pacer whose owner sends at every tick and notes when, on the monotonic clock.
struct Rig
{
    explicit Rig(int periodMs)
    {
        clock.start();
        pacer.setPeriod(periodMs);
        pacer.setOpen(true);
    }
    void tick()
    {
        sends.append(clock.elapsed());
        pacer.sent();
        if (duringTick)
            duringTick();
    }
    // The gap between the send `i` and the one before it.
    qint64 gap(qsizetype i) const { return sends[i] - sends[i - 1]; }

    QElapsedTimer clock;
    QList<qint64> sends;
    std::function<void()> duringTick;
    Sink sink;
    link::Pacer pacer{[this] { tick(); }, &sink};
};

// Timers never fire early, but the clock they are measured on rounds to the millisecond.
constexpr int kSlackMs = 3;

} // namespace

class TestPacer final : public QObject
{
    Q_OBJECT

private slots:
    // A tick that comes late (the process stalled) arms the next one a whole period after it,
    // not on the old schedule; and a send made between the ticks pushes the next tick back.
    void sendsAreNeverCloserThanThePeriod()
    {
        constexpr int period = 100;
        {
            Rig r(period);
            r.duringTick = [&r] {
                if (r.sends.size() == 1) // stall across the second tick
                    QTimer::singleShot(0, [] { QThread::msleep(period * 3 / 2); });
            };
            r.pacer.arm();
            QTRY_VERIFY_WITH_TIMEOUT(r.sends.size() >= 4, 3000);
            QVERIFY2(r.gap(1) >= period * 3 / 2 - kSlackMs, qPrintable(QString::number(r.gap(1))));
            for (qsizetype i = 2; i < r.sends.size(); ++i)
                QVERIFY2(r.gap(i) >= period - kSlackMs, qPrintable(QString::number(r.gap(i))));
        }
        {
            Rig r(period);
            r.pacer.arm();
            qint64 outside = -1;
            QTimer::singleShot(period / 2, [&] {
                outside = r.clock.elapsed();
                r.pacer.sent();
            });
            QTRY_VERIFY_WITH_TIMEOUT(r.sends.size() >= 1, 3000);
            QVERIFY(outside >= 0);
            QVERIFY2(r.sends[0] - outside >= period - kSlackMs,
                     qPrintable(QString::number(r.sends[0] - outside)));
        }
    }

    void untilTheNextSend()
    {
        Rig r(1000);
        QCOMPARE(r.pacer.msUntilNextSend(), 0); // nothing sent yet
        QCOMPARE(r.pacer.msUntilGap(2000), 0);
        r.pacer.sent();
        QVERIFY(r.pacer.msUntilNextSend() > 500 && r.pacer.msUntilNextSend() <= 1000);
        QVERIFY(r.pacer.msUntilGap(2000) > 1500 && r.pacer.msUntilGap(2000) <= 2000);
        QCOMPARE(r.pacer.msUntilGap(0), 0); // never below nothing
    }

    // A tick due while held is sent by the last of nested releases, at once, and the next one
    // is armed a period after it; without its due tick, a release sends nothing.
    void heldTickIsSentAtTheLastRelease()
    {
        Rig r(20);
        r.pacer.hold();
        r.pacer.hold();
        QVERIFY(r.pacer.isHeld());
        r.pacer.arm();
        QTest::qWait(80);
        QVERIFY(r.sends.isEmpty());
        QVERIFY(!r.pacer.isArmed()); // the due tick waits for the release, no other comes
        r.pacer.release();
        QVERIFY(r.pacer.isHeld());
        QVERIFY(r.sends.isEmpty());
        r.pacer.release();
        QVERIFY(!r.pacer.isHeld());
        QCOMPARE(r.sends.size(), 1); // inside the release
        QVERIFY(r.pacer.isArmed());
        QTRY_VERIFY(r.sends.size() >= 2);
        QVERIFY(r.gap(1) >= 20 - kSlackMs);

        // Held and let go before a tick came due: nothing is sent then, the schedule stays.
        Rig quiet(1000);
        quiet.pacer.arm();
        quiet.pacer.hold();
        quiet.pacer.release();
        QVERIFY(quiet.sends.isEmpty());
        QVERIFY(quiet.pacer.isArmed());
        // A release more than the holds is nothing: the next hold holds.
        quiet.pacer.release();
        quiet.pacer.hold();
        QVERIFY(quiet.pacer.isHeld());
        quiet.pacer.release();
        QVERIFY(!quiet.pacer.isHeld());
    }

    // release(false) drops the tick that came due and arms the next a whole period ahead.
    void releaseWithoutTheDueTick()
    {
        Rig r(50);
        r.pacer.hold();
        r.pacer.arm();
        QTest::qWait(120);
        QVERIFY(!r.pacer.isArmed());
        const qint64 released = r.clock.elapsed();
        r.pacer.release(false);
        QVERIFY(r.sends.isEmpty());
        QVERIFY(r.pacer.isArmed());
        QTRY_VERIFY(r.sends.size() >= 1);
        QVERIFY(r.sends[0] - released >= 50 - kSlackMs);

        // The owner's reset forgets the due tick: the release then sends nothing.
        Rig lost(20);
        lost.pacer.hold();
        lost.pacer.arm();
        QTest::qWait(60);
        lost.pacer.reset();
        lost.pacer.release();
        QVERIFY(lost.sends.isEmpty());
        QVERIFY(!lost.pacer.isArmed());
    }

    // Closed, a tick does nothing: it sends nothing, keeps nothing due, arms nothing.
    void closedPacerSendsNothing()
    {
        Rig r(20);
        r.pacer.setOpen(false);
        r.pacer.arm();
        QTest::qWait(60);
        QVERIFY(r.sends.isEmpty());
        QVERIFY(!r.pacer.isArmed());
        r.pacer.hold();
        r.pacer.arm();
        QTest::qWait(60);
        r.pacer.setOpen(true);
        r.pacer.release(); // no tick came due while closed
        QVERIFY(r.sends.isEmpty());

        // Closed inside its tick (the link went down while sending): no next tick.
        Rig closing(20);
        closing.duringTick = [&closing] { closing.pacer.setOpen(false); };
        closing.pacer.arm();
        QTRY_COMPARE(closing.sends.size(), 1);
        QVERIFY(!closing.pacer.isArmed());
    }

    // A stopped pacer sends nothing until armed again; a new period restarts an armed pacer
    // from now and leaves a stopped one stopped.
    void stopArmAndPeriod()
    {
        Rig r(20);
        r.pacer.arm();
        r.pacer.stop();
        QTest::qWait(60);
        QVERIFY(r.sends.isEmpty());
        r.pacer.setPeriod(30);
        QVERIFY(!r.pacer.isArmed());
        QCOMPARE(r.pacer.period(), 30);
        r.pacer.arm();
        QTRY_VERIFY(r.sends.size() >= 1);

        Rig slow(5000);
        slow.pacer.arm();
        const qint64 changed = slow.clock.elapsed();
        slow.pacer.setPeriod(40);
        QTRY_VERIFY_WITH_TIMEOUT(slow.sends.size() >= 1, 2000);
        QVERIFY(slow.sends[0] - changed >= 40 - kSlackMs);
    }

    // A tick that throws hands the error to the sink and arms the next tick all the same.
    void tickThatThrows()
    {
        Rig r(20);
        r.duringTick = [&r] {
            if (r.sends.size() == 1)
                throw SocketError(u"Socket Error: refused"_s);
        };
        r.pacer.arm();
        QTRY_VERIFY(r.sends.size() >= 2);
        QCOMPARE(r.sink.errors, QStringList{u"Socket Error: refused"_s});

        // The same from the release that sends the due tick.
        Rig held(20);
        held.duringTick = [] { throw SocketError(u"Socket Error: gone"_s); };
        held.pacer.hold();
        held.pacer.arm();
        QTest::qWait(60);
        held.pacer.release();
        QCOMPARE(held.sends.size(), 1);
        QCOMPARE(held.sink.errors, QStringList{u"Socket Error: gone"_s});
        QVERIFY(held.pacer.isArmed());
    }
};

QTEST_GUILESS_MAIN(TestPacer)
#include "test_pacer.moc"
