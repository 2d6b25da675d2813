// Handling one 64-player status reply, cut into datagrams by the practice server, while the
// console already holds 1,000 or 250,000 lines. The day's log is saved after every reply, so
// this measures whether that save costs the new lines only.
#include "benchsupport.h"
#include "consoledata.h"
#include "link/dialogs.h"
#include "robot/robot.h"
#include "text/clock.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace vigilor;
using namespace vigilor::bench;

namespace {

void BM_StatusReply(benchmark::State& state)
{
    static const QList<QByteArray> datagrams = statusDatagrams(64);
    QTemporaryDir dir;
    StillClock clock;
    NoPump pump;
    NoDialogs dialogs;
    Robot robot(dir.path() + QStringLiteral("/"), clock, pump, dialogs);
    robot.startUp();
    QStringList filler;
    filler.reserve(state.range(0));
    for (qsizetype i = 0; i < state.range(0); ++i)
        filler << QStringLiteral("[2026.12.08.] 11:%1:00 >> filler line number %2 of the day")
                      .arg(i % 60, 2, 10, QChar(u'0'))
                      .arg(i);
    robot.console().replace(filler);
    robot.consoleLog().save(robot.intake().logFileName());
    for (auto _ : state) {
        for (const QByteArray& d : datagrams)
            robot.intake().handleDatagram(d);
    }
    state.counters["datagrams"] = double(datagrams.size());
    state.counters["console_lines_end"] = double(robot.console().size());
}
BENCHMARK(BM_StatusReply)->Arg(1000)->Arg(250000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) { return vigilor::bench::runBenchmarks(argc, argv); }
