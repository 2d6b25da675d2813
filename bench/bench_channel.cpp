// The console search over a day-long console, and RunChannelCommand over the made-up answer of
// every row of the command table.
#include "benchsupport.h"
#include "channel/broadcaster.h"
#include "channel/interpreter.h"
#include "link/console.h"
#include "link/dialogs.h"
#include "link/link.h"
#include "link/search.h"
#include "settings/settings.h"
#include "text/clock.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

using namespace vigilor;
using namespace vigilor::bench;

namespace {

class StagedClock final : public Clock
{
public:
    QDateTime now() const override { return m_now; }
    void wait(int) override {}
    void advance(qint64 ms) { m_now = m_now.addMSecs(ms); }

private:
    QDateTime m_now{QDate(2026, 12, 8), QTime(0, 0, 0)};
};

// 250,000 lines stamped through the day, in the mix a console holds: echoes, notices and
// unstamped status dumps.
void fillConsole(link::Console& console, StagedClock& clock, int lines)
{
    for (int i = 0; i < lines; ++i) {
        clock.advance(345);
        switch (i % 4) {
        case 0:
            console.consoleLine(QStringLiteral("Parancs küldés: \"status\""));
            break;
        case 1:
            console.consoleLine(QStringLiteral("..:: 12 játékos a szerveren ::.."));
            break;
        case 2:
            console.appendText(
                QStringLiteral(" %1   %2  48 0 ^1Player^7%1       0 10.0.0.%1:28960  %1 25000")
                    .arg(i % 64)
                    .arg(i % 97));
            break;
        default:
            console.consoleLine(
                QStringLiteral("Player%1 kirug: rossz rate (%2)").arg(i % 64).arg(i % 97));
            break;
        }
    }
}

void BM_SearchHourPrefix(benchmark::State& state)
{
    StagedClock clock;
    link::Console console(clock);
    fillConsole(console, clock, int(state.range(0)));
    const bool caseSensitive = state.range(1) != 0;
    qsizetype found = 0;
    for (auto _ : state) {
        const link::Lines results =
            link::ConsoleSearch::search(console.content(), u" 12:", false, caseSensitive);
        found = results.size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["lines"] = double(console.size());
    state.counters["found"] = double(found);
}
BENCHMARK(BM_SearchHourPrefix)
    ->Args({250000, 0})
    ->Args({250000, 1})
    ->ArgNames({"lines", "case_sensitive"})
    ->Unit(benchmark::kMillisecond);

void BM_RunChannelCommand(benchmark::State& state)
{
    StagedClock clock;
    NoDialogs dialogs;
    Settings settings;
    link::Console console(clock);
    link::Link link(settings, console, clock, dialogs, nullptr);
    channel::Broadcaster broadcaster(settings, link, clock, nullptr);
    channel::Interpreter interpreter(settings, link, console, broadcaster, nullptr);
    interpreter.setHooks({[](const QString&, int) {}, [] {}, [] {}});
    settings.setBanList(
        {QStringLiteral("0 joe"), QStringLiteral("1 10.0.0."), QStringLiteral("2 onion")});
    settings.setMessages({QStringLiteral("one"), QStringLiteral("two")});
    // The link stays down, so everything the interpreter queues is dropped and the queue
    // does not grow.
    const QStringList commands{QStringLiteral("randomize:"),
                               QStringLiteral("status:"),
                               QStringLiteral("rsay Hello World"),
                               QStringLiteral("unban 0 JOE"),
                               QStringLiteral("lban off"),
                               QStringLiteral("ban jonathan"),
                               QStringLiteral("time"),
                               QStringLiteral("anounce welcome"),
                               QStringLiteral("antifreeze"),
                               QStringLiteral("ratecheck on"),
                               QStringLiteral("save"),
                               QStringLiteral("load"),
                               QStringLiteral("interval 60"),
                               QStringLiteral("restart warn"),
                               QStringLiteral("restart"),
                               QStringLiteral("NIL")};
    QStringList answers;
    for (const QString& c : commands)
        answers << channel::Interpreter::madeUpAnswer(c);
    qsizetype next = 0;
    for (auto _ : state) {
        interpreter.runChannelCommand(answers[next]);
        if (++next == answers.size())
            next = 0;
    }
    state.counters["rows"] = double(answers.size());
    state.counters["console_lines"] = double(console.size());
}
BENCHMARK(BM_RunChannelCommand)->Unit(benchmark::kNanosecond);

} // namespace

int main(int argc, char** argv)
{
    return vigilor::bench::runBenchmarks(argc, argv);
}
