// One complete check pass over a 64-player roster in which nobody breaks a rule: the ban list
// of 255 entries, the learning list of 64, the freeze, rate and ping checks; and each check
// alone, to see which one dominates. No check reaches a blocking wait.
#include "benchsupport.h"
#include "link/dialogs.h"
#include "robot/robot.h"
#include "rules/rules.h"
#include "testserver/rconserver.h"
#include "text/clock.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace vigilor;
using namespace vigilor::bench;

namespace {

QStringList roster(int players)
{
    QStringList lines{
        QStringLiteral("map: mp_toujane"),
        QStringLiteral(
            "num score ping guid   name            lastmsg address               qport rate"),
        QStringLiteral(
            "--- ----- ---- ------ --------------- ------- --------------------- ----- -----")};
    for (int i = 0; i < players; ++i)
        lines << QString::asprintf("%3d %5d %4d %6d ", i, 1 + i, 30 + i % 50, 100000 + i) +
                     QStringLiteral("Player%1").arg(i).leftJustified(16) +
                     QString::asprintf("%7d ", 0) +
                     QStringLiteral("10.1.%1.%2:28960")
                         .arg(i / 250)
                         .arg(i % 250 + 1)
                         .leftJustified(22) +
                     QString::asprintf("%5d %5d", 1000 + i, 25000);
    lines << QString();
    return lines;
}

// A robot connected to a practice server on 127.0.0.1 with its pacer held, and the rules.
struct Setup
{
    QTemporaryDir dir;
    StillClock clock;
    NoDialogs dialogs;
    Robot robot{dir.path() + QStringLiteral("/"), clock, dialogs};
    testserver::RconServer server;
    rules::Rules rules{robot.settings(), robot.link(), robot.console(), clock, dialogs, {}};
    QStringList lines = roster(64);

    Setup()
    {
        server.setPassword(QStringLiteral("bench"));
        server.start();
        Settings& s = robot.settings();
        s.setHost(QStringLiteral("127.0.0.1"));
        s.setPort(QString::number(server.port()));
        s.setPassword(QStringLiteral("bench"));
        s.setFlag(Key::RateCheck, true);
        s.setFlag(Key::EventNotify, false); // no connect notice in the queue
        robot.link().connectAction();
        robot.link().pacer().stop();
        QStringList bans;
        for (int i = 0; i < 255; ++i)
            bans << QStringLiteral("%1 Banned%2").arg(i % 5).arg(i);
        s.setBanList(bans);
        for (int i = 0; i < 64; ++i)
            rules.learning().remember(i % 5,
                                      QStringLiteral("172.16.%1.%2").arg(i / 16).arg(i % 16));
    }
};

template <typename Check> void run(benchmark::State& state, Check check)
{
    Setup s;
    std::uint64_t n = 0;
    for (auto _ : state) {
        check(s);
        // The console is never trimmed; keep the benchmark's memory flat.
        if (++n % 4096 == 0) {
            state.PauseTiming();
            s.robot.console().clear();
            state.ResumeTiming();
        }
    }
    if (!s.robot.link().queue().isEmpty())
        state.SkipWithError("a check queued a command");
}

void BM_FullPass(benchmark::State& state)
{
    run(state, [](Setup& s) { s.rules.runChecks(s.lines); });
}
void BM_CheckBans(benchmark::State& state)
{
    run(state,
        [](Setup& s) { benchmark::DoNotOptimize(s.rules.banCheck().checkBans(s.lines).result()); });
}
void BM_CheckLearningBans(benchmark::State& state)
{
    run(state, [](Setup& s) { s.rules.banCheck().checkLearningBans(s.lines).result(); });
}
void BM_CheckFreeze(benchmark::State& state)
{
    run(state, [](Setup& s) { s.rules.watch().checkFreeze(s.lines); });
}
void BM_CheckRate(benchmark::State& state)
{
    run(state, [](Setup& s) { s.rules.watch().checkRate(s.lines).result(); });
}
void BM_CheckPing(benchmark::State& state)
{
    run(state, [](Setup& s) { s.rules.watch().checkPing(s.lines); });
}

BENCHMARK(BM_FullPass)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckBans)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckLearningBans)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckFreeze)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckRate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckPing)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) { return vigilor::bench::runBenchmarks(argc, argv); }
