// Handling one 64-player status reply, cut into datagrams by the practice server, while the
// console already holds 1,000 or 250,000 lines. The day's log is saved after every reply, so
// this measures whether that save costs the new lines only. 60 replies a run (the small console
// ends near 5,000 lines, the large near 254,000), five runs of each, so every run does the same
// work and writes the same bytes, the runs of both in a random order; the last line is the ratio
// of the two medians (wall clock, and processor time, which other work on the machine disturbs
// less), which stays near 1 while a reply costs the same whatever the console holds.
#include "benchsupport.h"
#include "consoledata.h"
#include "link/dialogs.h"
#include "robot/robot.h"
#include "text/clock.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <vector>
#include <unistd.h>

using namespace vigilor;
using namespace vigilor::bench;

namespace {

constexpr qsizetype kSmall = 1000;
constexpr qsizetype kLarge = 250000;

void BM_StatusReply(benchmark::State& state)
{
    static const QList<QByteArray> datagrams = statusDatagrams(64);
    QTemporaryDir dir;
    StillClock clock;
    NoDialogs dialogs;
    Robot robot(dir.path() + QStringLiteral("/"), clock, dialogs);
    robot.startUp();
    fillConsole(robot, state.range(0));
    const qsizetype before = robot.console().size();
    for (auto _ : state) {
        for (const QByteArray& d : datagrams)
            robot.intake().handleDatagram(d);
    }
    state.counters["datagrams"] = double(datagrams.size());
    state.counters["console_lines_start"] = double(before);
    state.counters["console_lines_end"] = double(robot.console().size());
}
BENCHMARK(BM_StatusReply)
    ->Arg(kSmall)
    ->Arg(kLarge)
    ->Iterations(60)
    ->Repetitions(15)
    ->Unit(benchmark::kMicrosecond);

// The console's report, then the ratio of the medians (large console / small console).
class RatioReporter final : public benchmark::ConsoleReporter
{
public:
    // Colours only on a terminal, as the library's own reporter does by default.
    RatioReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
                !run.error_occurred)
                m_medians[run.per_family_instance_index] = {run.GetAdjustedRealTime(),
                                                            run.GetAdjustedCPUTime()};
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        if (!m_medians.count(0) || !m_medians.count(1) || m_medians[0].real <= 0 ||
            m_medians[0].cpu <= 0)
            return;
        std::printf("BM_StatusReply median ratio, %lld / %lld lines: %.2f (processor time %.2f)\n",
                    static_cast<long long>(kLarge), static_cast<long long>(kSmall),
                    m_medians[1].real / m_medians[0].real, m_medians[1].cpu / m_medians[0].cpu);
    }

private:
    struct Times
    {
        double real = 0;
        double cpu = 0;
    };
    std::map<int64_t, Times> m_medians; // by argument: 0 the small console, 1 the large
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The runs of both consoles in a random order, so that other work on the machine slows
    // down both alike rather than the one that happened to run then.
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = int(arguments.size());
    arguments.push_back(nullptr);
    benchmark::Initialize(&count, arguments.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
