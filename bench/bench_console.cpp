// Appending one 64-player status reply (the datagrams as the practice server cuts them) to the
// day's console of 1,000 or 250,000 lines, in the main window with the console tab in front:
// the reply's handling, the day log's save and the window's repaint. 60 replies a run, so the
// small console ends near 5,000 lines.
#include "benchsupport.h"
#include "consoledata.h"
#include "robot/robot.h"
#include "text/clock.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <benchmark/benchmark.h>

using namespace vigilor;
using namespace vigilor::bench;

namespace {

void BM_StatusReplyInWindow(benchmark::State& state)
{
    static const QList<QByteArray> datagrams = statusDatagrams(64);
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    writeDayLog(folder, int(state.range(0)));
    SystemClock clock;
    NoDialogs dialogs;
    Robot robot(folder, clock, dialogs);
    ui::MainWindow window(robot);
    robot.startUp();
    window.show();
    window.showTab(ui::MainWindow::Tab::Console);
    if (!QTest::qWaitForWindowExposed(&window))
        state.SkipWithError("window not exposed");
    // Whatever the start leaves to the idle event loop is done before the clock runs.
    QTest::qWait(3000);
    const qsizetype before = robot.console().size();
    for (auto _ : state) {
        for (const QByteArray& d : datagrams)
            robot.intake().handleDatagram(d);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    state.counters["datagrams"] = double(datagrams.size());
    state.counters["console_lines_start"] = double(before);
    state.counters["console_lines_end"] = double(robot.console().size());
}
BENCHMARK(BM_StatusReplyInWindow)
    ->Arg(1000)
    ->Arg(250000)
    ->Iterations(60)
    ->Repetitions(5)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
