// Start-up with a 250,000-line day log: from the robot's creation until the main window is on
// the screen with the whole console in it, and the peak memory of the process afterwards.
#include "robot/robot.h"
#include "text/clock.h"
#include "text/timeformat.h"
#include "ui/mainwindow.h"
#include "ui/widgetdialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QWindow>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

using namespace vigilor;

namespace {

void writeDayLog(const QString& folder, int lines)
{
    QDir().mkpath(folder + QStringLiteral("logs"));
    QFile file(folder + QStringLiteral("logs/console (") + text::shortDate(QDate::currentDate()) +
               QStringLiteral(").log"));
    file.open(QIODevice::WriteOnly);
    QByteArray chunk;
    for (int i = 0; i < lines; ++i) {
        chunk += "[2026.12.08.] 11:" + QByteArray::number(i % 60).rightJustified(2, '0') +
                 ":00 >> Parancs k\xfc" "ld\xe9s: \"status\" line " + QByteArray::number(i) + "\r\n";
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
}

void BM_StartUp(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    writeDayLog(folder, static_cast<int>(state.range(0)));
    QFile(folder + QStringLiteral("vigilor.ini")).open(QIODevice::WriteOnly); // not a first start
    for (auto _ : state) {
        SystemClock clock;
        SystemPump pump;
        ui::WidgetDialogs dialogs;
        Robot robot(folder, clock, pump, dialogs);
        ui::MainWindow window(robot);
        robot.startUp();
        window.presentAtStart(false);
        QElapsedTimer waited;
        waited.start();
        while (!(window.windowHandle() && window.windowHandle()->isExposed()) && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!window.windowHandle() || !window.windowHandle()->isExposed())
            state.SkipWithError("window not exposed");
        QCoreApplication::processEvents();
        state.PauseTiming();
        auto* console = window.findChild<QPlainTextEdit*>(QStringLiteral("console"));
        if (!console || console->blockCount() < state.range(0))
            state.SkipWithError("console not filled");
        state.ResumeTiming();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_StartUp)->Arg(250000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
