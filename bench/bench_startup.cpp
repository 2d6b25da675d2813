// Start-up with a 250,000-line day log (16 MB), in two ways:
// - BM_StartUp: in this process, from the robot's creation until the main window is exposed
//   with the whole console in its console view (read as a screen reader reads it);
// - BM_ProgramMemory: the program itself (bin/vigilor beside this benchmark), with its window on
//   the offscreen platform and headless, until it idles after its start; the resident memory
//   it then holds is the figure (rss_MiB), beside its peak (peak_MiB).
#include "consoledata.h"
#include "robot/robot.h"
#include "text/clock.h"
#include "ui/mainwindow.h"
#include "ui/widgetdialogs.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QWindow>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

using namespace vigilor;

namespace {

constexpr int kDayLines = 250000;

// Characters of the day log's lines, line feeds between them: what the console view must hold.
qint64 dayLogCharacters(const QString& folder)
{
    QFile file(folder + QStringLiteral("logs/console (") + text::shortDate(QDate::currentDate()) +
               QStringLiteral(").log"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = file.readAll();
    return bytes.size() - bytes.count('\r') - 1;
}

// The console view as a screen reader reads it: all of the day's lines are in it.
bool consoleHolds(QWidget* console, qint64 characters)
{
    QAccessibleInterface* reader =
        console ? QAccessible::queryAccessibleInterface(console) : nullptr;
    QAccessibleTextInterface* text = reader ? reader->textInterface() : nullptr;
    return text && text->characterCount() > characters &&
           text->text(0, 4) == QStringLiteral("[202");
}

void BM_StartUp(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    bench::writeDayLog(folder, int(state.range(0)));
    const qint64 characters = dayLogCharacters(folder);
    for (auto _ : state) {
        SystemClock clock;
        ui::WidgetDialogs dialogs;
        Robot robot(folder, clock, dialogs);
        ui::MainWindow window(robot);
        robot.startUp();
        window.presentAtStart(false);
        QElapsedTimer waited;
        waited.start();
        while (!(window.windowHandle() && window.windowHandle()->isExposed()) &&
               waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!window.windowHandle() || !window.windowHandle()->isExposed())
            state.SkipWithError("window not exposed");
        QCoreApplication::processEvents();
        state.PauseTiming();
        if (!consoleHolds(window.findChild<QWidget*>(QStringLiteral("console")), characters))
            state.SkipWithError("console not filled");
        state.ResumeTiming();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_StartUp)->Arg(kDayLines)->Unit(benchmark::kMillisecond)->Iterations(3);

// One field of /proc/PID/status in kibibytes (VmRSS, VmHWM).
double statusKiB(qint64 pid, const QByteArray& field)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(QByteArray(field + ':')))
            return line.mid(field.size() + 1).trimmed().split(' ').front().toDouble();
    return -1;
}

// User and system time the process has used, in clock ticks.
qint64 cpuTicks(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    // Fields after the command name, which is in parentheses: utime and stime are 14 and 15.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

void BM_ProgramMemory(benchmark::State& state)
{
    const bool headless = state.range(0) != 0;
    state.SetLabel(headless ? "headless" : "window");
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    bench::writeDayLog(folder, kDayLines);
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/vigilor");
    double rss = 0;
    double peak = 0;
    for (auto _ : state) {
        QProcess process;
        process.setProgram(program);
        QStringList arguments{QStringLiteral("--data-dir"), folder};
        if (headless)
            arguments << QStringLiteral("--headless");
        process.setArguments(arguments);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        QElapsedTimer timer;
        timer.start();
        process.start();
        if (!process.waitForStarted(5000)) {
            state.SkipWithError("program did not start");
            break;
        }
        // Started once its processor time stands still for half a second.
        const qint64 pid = process.processId();
        qint64 last = -1;
        int still = 0;
        while (still < 5 && timer.elapsed() < 30000 && process.state() == QProcess::Running) {
            QThread::msleep(100);
            const qint64 ticks = cpuTicks(pid);
            still = ticks == last ? still + 1 : 0;
            last = ticks;
        }
        state.SetIterationTime(double(timer.elapsed() - 500) / 1000.0);
        const double resident = statusKiB(pid, "VmRSS") / 1024.0;
        rss += resident;
        peak += statusKiB(pid, "VmHWM") / 1024.0;
        process.kill();
        process.waitForFinished(5000);
        if (resident <= 0)
            state.SkipWithError("program ended before it idled");
    }
    state.counters["rss_MiB"] = benchmark::Counter(rss, benchmark::Counter::kAvgIterations);
    state.counters["peak_MiB"] = benchmark::Counter(peak, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ProgramMemory)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("headless")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
