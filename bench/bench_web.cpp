// What the web page's live feeds cost the robot: one 64-player status reply handled (the intake,
// the table, the checks, the console and its day log, the settings save) and the feeds' share of
// it on the robot's thread (the copies handed to the feeds' writer), with no page and with 50
// pages open. The pages are WebSocket clients on a thread of their own that read and throw away
// what they are sent, as browsers in other processes would; each reply reaches every page before
// the next is handled (outside the timing), as replies come seconds apart. The CPU column is the
// robot's thread alone; the writer's work is on its own thread.
#include "benchsupport.h"
#include "consoledata.h"
#include "robot/robot.h"
#include "web/api.h"
#include "web/server.h"
#include "web/webfront.h"

#include <QTemporaryDir>
#include <QThread>
#include <QWebSocket>

#include <atomic>
#include <ctime>

using namespace vigilor;
using namespace vigilor::bench;

namespace {

qint64 threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The pages: each opens the live feed with the session's cookie and token, and counts what it
// is sent.
class Pages final : public QObject
{
public:
    std::atomic<qint64> received = 0;
    std::atomic<qint64> messages = 0;

    void start(int count, const QUrl& url, const QByteArray& cookie)
    {
        for (int i = 0; i < count; ++i) {
            auto* page = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
            connect(page, &QWebSocket::binaryMessageReceived, this, [this](const QByteArray& m) {
                received += m.size();
                ++messages;
            });
            QNetworkRequest request(url);
            request.setRawHeader("Cookie", cookie);
            page->open(request);
        }
    }
};

void BM_StatusReplyWithPages(benchmark::State& state)
{
    static const QList<QByteArray> datagrams = statusDatagrams(64);
    const int pages = int(state.range(0));
    QTemporaryDir dir;
    StillClock clock;
    NoDialogs dialogs;
    Robot robot(dir.path() + QStringLiteral("/"), clock, dialogs);
    robot.startUp();
    fillConsole(robot, 1000);

    web::WebFront front(web::Engine::of(robot),
                        web::WebConfig{QStringLiteral("127.0.0.1:0"), {}, {}});
    front.apply();
    if (!front.running()) {
        state.SkipWithError("the web page did not start");
        return;
    }
    const web::Session& session = front.api()->sessions().create(QStringLiteral("127.0.0.1"), 0);
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/live?token=%2")
                       .arg(front.port())
                       .arg(QString::fromLatin1(session.token)));
    const QByteArray cookie = web::WebApi::kCookieName + '=' + session.id;

    QThread thread;
    auto* browsers = new Pages;
    browsers->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, browsers, &QObject::deleteLater);
    thread.start();
    QMetaObject::invokeMethod(browsers, [=] { browsers->start(pages, url, cookie); });
    web::LiveFeed& feeds = front.server()->feeds();
    QElapsedTimer wait;
    wait.start();
    // Every page has its greeting: its feed is open.
    while (browsers->messages < pages && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (browsers->messages < pages) {
        state.SkipWithError("the pages did not all connect");
        thread.quit();
        thread.wait();
        return;
    }

    // Every reply brings each page two messages: the console's new lines, and the table.
    qint64 expected = pages; // the greetings
    qint64 handleNs = 0;
    qint64 feedNs = 0;
    for (auto _ : state) {
        const qint64 start = threadCpuNs();
        for (const QByteArray& d : datagrams)
            robot.intake().handleDatagram(d);
        const qint64 handled = threadCpuNs();
        // What the gathering timer would do a moment later, and what it leaves to the loop.
        feeds.flush();
        QCoreApplication::processEvents();
        handleNs += handled - start;
        feedNs += threadCpuNs() - handled;
        // Replies come seconds apart: each reaches every page, and the loop idles a moment,
        // before the next (alike with no page, so that both start as cold).
        state.PauseTiming();
        expected += 2 * pages;
        wait.restart();
        while ((browsers->messages < expected || wait.elapsed() < 2) && wait.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        state.ResumeTiming();
        if (browsers->messages < expected) {
            state.SkipWithError("the pages did not get every message");
            break;
        }
    }
    state.counters["pages"] = double(feeds.size());
    // The robot's thread: the reply's handling, and the flush with the loop's turn after it.
    state.counters["handle_us"] = double(handleNs) / 1000.0 / double(state.iterations());
    state.counters["flush_us"] = double(feedNs) / 1000.0 / double(state.iterations());
    // Let the pages take the rest, then end them.
    wait.restart();
    while (wait.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    state.counters["bytes_per_page_per_reply"] =
        pages ? double(browsers->received.load()) / pages / double(state.iterations()) : 0.0;
    thread.quit();
    thread.wait();
}
BENCHMARK(BM_StatusReplyWithPages)->Arg(0)->Arg(50)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    return vigilor::bench::runBenchmarks(argc, argv);
}
