// Transfers that hang in the system's name lookup, as they do when a name server never answers:
// a cancel and the robot's end still take well under a second. This program has a name lookup
// of its own that libcurl's resolver thread calls: names under "stall.invalid" take 30 s. On
// Linux it stands before the C library's, on Windows it takes the place of ws2_32's in
// libcurl.dll's import table.
#include "exchange/importer.h"
#include "exchange/publicbanlist.h"
#include "exchange/transfer.h"
#include "support/robotfixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#ifdef Q_OS_WIN
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on
#else
#include <dlfcn.h>
#include <netdb.h>
#endif

using namespace vigilor;
using namespace vigilor::exchange;
using namespace vigilor::test;
using namespace Qt::StringLiterals;

namespace {

std::atomic_int g_stalledLookups{0};

} // namespace

#ifdef Q_OS_WIN
namespace {

using Lookup = int(WSAAPI*)(const char*, const char*, const addrinfo*, addrinfo**);
Lookup g_systemLookup = nullptr;

int WSAAPI stallingLookup(const char* node, const char* service, const addrinfo* hints,
                          addrinfo** result)
{
    if (node && QByteArrayView(node).endsWith(".stall.invalid")) {
        ++g_stalledLookups;
        std::this_thread::sleep_for(std::chrono::seconds(30));
        return WSATRY_AGAIN;
    }
    return g_systemLookup(node, service, hints, result);
}

// Points libcurl.dll's import of ws2_32's getaddrinfo at stallingLookup; false when the DLL has
// no such import.
bool replaceLibcurlLookup()
{
    auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleW(L"libcurl.dll"));
    if (!base)
        return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* dll =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         dll->Name; ++dll) {
        if (_stricmp(reinterpret_cast<const char*>(base + dll->Name), "ws2_32.dll") != 0)
            continue;
        const auto* names =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(name->Name), "getaddrinfo") != 0)
                continue;
            DWORD protection = 0;
            if (!VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function,
                                PAGE_READWRITE, &protection))
                return false;
            g_systemLookup = reinterpret_cast<Lookup>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(&stallingLookup);
            VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, protection,
                           &protection);
            return true;
        }
    }
    return false;
}

} // namespace
#else
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
#endif

class TestExchangeEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
#ifdef Q_OS_WIN
        QVERIFY2(replaceLibcurlLookup(), "libcurl.dll imports no getaddrinfo from ws2_32.dll");
#endif
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
