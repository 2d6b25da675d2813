// Transfers that hang in the system's name lookup, as they do when a name server never answers:
// a cancel and the robot's end still take well under a second. This program has a name lookup
// of its own that libcurl's resolver thread calls: names under "stall.invalid" take 30 s.
#include "exchange/importer.h"
#include "exchange/publicbanlist.h"
#include "exchange/transfer.h"
#include "support/robotfixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

#include <dlfcn.h>
#include <netdb.h>

using namespace vigilor;
using namespace vigilor::exchange;
using namespace vigilor::test;
using namespace Qt::StringLiterals;

namespace {

std::atomic_int g_stalledLookups{0};

} // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** result)
{
    if (node && QByteArrayView(node).endsWith(".stall.invalid")) {
        ++g_stalledLookups;
        std::this_thread::sleep_for(std::chrono::seconds(30));
        return EAI_AGAIN;
    }
    using Lookup = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static const auto system = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return system(node, service, hints, result);
}

class TestExchangeEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    void cancelDuringTheNameLookup()
    {
        RobotFixture f(u"pw"_s);
        PublicBanList list(f.robot.exchangeServices());
        list.open();
        const int before = g_stalledLookups;
        QSignalSpy done(&list, &PublicBanList::downloadFinished);
        list.setDownloadAddress(u"lists.stall.invalid/x"_s);
        list.download();
        QTRY_VERIFY_WITH_TIMEOUT(g_stalledLookups > before, 5000);
        QTest::qWait(200);
        QCOMPARE(f.robot.transfers().running(), 1);
        QElapsedTimer clock;
        clock.start();
        list.cancelTransfer();
        QCOMPARE(done.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(f.robot.transfers().running(), 0, 1000);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    // A timed import stuck in its name lookup holds up the robot's end for no more than a
    // moment, also when no cancel of its own comes first.
    void endDuringTheNameLookup()
    {
        auto f = std::make_unique<RobotFixture>(u"pw"_s);
        Settings& settings = f->robot.settings();
        settings.setImportList({u"http://bans.stall.invalid/"_s});
        const int before = g_stalledLookups;
        f->robot.importer().runNow();
        QTRY_VERIFY_WITH_TIMEOUT(g_stalledLookups > before, 5000);
        QTest::qWait(200);
        QVERIFY(f->robot.importer().running());
        QElapsedTimer clock;
        clock.start();
        f.reset();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    // The runner's own bound: a transfer that ignores its cancel is left behind after a short
    // wait.
    void endNeverWaitsLong()
    {
        std::atomic_bool release{false};
        QElapsedTimer clock;
        {
            TransferRunner runner(nullptr);
            QObject receiver;
            runner.run<int>(
                &receiver,
                [&release](const TransferLimits&, Cancel&) {
                    while (!release)
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    return 0;
                },
                [](int) {});
            QTRY_COMPARE(runner.running(), 1);
            clock.start();
        }
        QVERIFY(clock.elapsed() >= TransferRunner::kEndWaitMs - 100);
        QVERIFY(clock.elapsed() < TransferRunner::kEndWaitMs + 500);
        release = true;
    }
};

QTEST_MAIN(TestExchangeEnd)
#include "test_exchange_end.moc"
