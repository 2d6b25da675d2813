// What the web page's live feeds cost the robot: one 64-player status reply handled (the intake,
// the table, the checks, the console and its day log, the settings save), then the feeds' message
// built and written to every page, with no page and with 50 pages open. The pages are WebSocket
// clients on a thread of their own that read and throw away what they are sent, as browsers in
// other processes would; only the robot's thread is measured.
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

using namespace vigilor;
using namespace vigilor::bench;

namespace {

// The pages: each opens the live feed with the session's cookie and token, and counts what it
// is sent.
class Pages final : public QObject
{
public:
    std::atomic<qint64> received = 0;

    void start(int count, const QUrl& url, const QByteArray& cookie)
    {
        for (int i = 0; i < count; ++i) {
            auto* page = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
            connect(page, &QWebSocket::binaryMessageReceived, this,
                    [this](const QByteArray& m) { received += m.size(); });
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
    NoPump pump;
    NoDialogs dialogs;
    Robot robot(dir.path() + QStringLiteral("/"), clock, pump, dialogs);
    robot.startUp();
    QStringList filler;
    for (int i = 0; i < 1000; ++i)
        filler
            << QStringLiteral("[2026.12.08.] 11:00:00 >> filler line number %1 of the day").arg(i);
    robot.console().replace(filler);
    robot.consoleLog().save(robot.intake().logFileName());

    web::WebFront front(robot, web::WebConfig{QStringLiteral("127.0.0.1:0"), {}, {}});
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
    while (feeds.size() < pages && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (feeds.size() < pages) {
        state.SkipWithError("the pages did not all connect");
        thread.quit();
        thread.wait();
        return;
    }

    for (auto _ : state) {
        for (const QByteArray& d : datagrams)
            robot.intake().handleDatagram(d);
        // What the gathering timer would do a moment later, and the writes it leaves to the loop.
        feeds.flush();
        QCoreApplication::processEvents();
    }
    state.counters["pages"] = double(feeds.size());
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
