// The ban-list exchange's own work, without the network: reading a downloaded list and merging
// it. "<<" merges every public line into the own list by the merge rule; the rule as written
// walks the whole target for each line, the engine's list keeps what the rule asks at hand.
#include "benchsupport.h"
#include "exchange/banfile.h"
#include "exchange/merge.h"
#include "rules/banentry.h"
#include "text/textutil.h"

using namespace vigilor;
using namespace vigilor::bench;

namespace {

QStringList banLines(int count, const char* prefix, int code)
{
    QStringList lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i)
        lines.append(QString::number((code + i) % 5) + u' ' + QString::fromLatin1(prefix) +
                     QString::number(i));
    return lines;
}

// The merge rule as it reads, walking the target for every line.
void ruleAsWritten(QStringList& target, const QString& line)
{
    const QString folded = text::asciiLower(line);
    const auto holdsEqual = [&] {
        for (const QString& t : std::as_const(target))
            if (text::asciiLower(t) == folded)
                return true;
        return false;
    };
    if (holdsEqual())
        return;
    bool replaced = false;
    const QString key = exchange::mergeKey(line);
    for (QString& t : target)
        if (exchange::mergeKey(t) == key) {
            t = line;
            replaced = true;
        }
    if (!replaced)
        target.insert(rules::sortedPosition(target, line), line);
}

// "<<" of a downloaded list of range(0) lines (half of them new, half replacing) into a
// 255-line ban list.
void BM_CopyAllToOwn(benchmark::State& state)
{
    const QStringList own = banLines(255, "player", 0);
    QStringList theirs = banLines(int(state.range(0)) / 2, "player", 1);
    theirs += banLines(int(state.range(0)) / 2, "stranger", 0);
    theirs = rules::sortedEntries(theirs);
    for (auto _ : state) {
        exchange::MergeList target(own);
        for (const QString& line : std::as_const(theirs))
            target.merge(line);
        benchmark::DoNotOptimize(target.size());
    }
}
BENCHMARK(BM_CopyAllToOwn)->Arg(256)->Arg(4096)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_CopyAllToOwnRuleAsWritten(benchmark::State& state)
{
    const QStringList own = rules::sortedEntries(banLines(255, "player", 0));
    QStringList theirs = banLines(int(state.range(0)) / 2, "player", 1);
    theirs += banLines(int(state.range(0)) / 2, "stranger", 0);
    theirs = rules::sortedEntries(theirs);
    for (auto _ : state) {
        QStringList target = own;
        for (const QString& line : std::as_const(theirs))
            ruleAsWritten(target, line);
        benchmark::DoNotOptimize(target.size());
    }
}
BENCHMARK(BM_CopyAllToOwnRuleAsWritten)->Arg(256)->Arg(4096)->Unit(benchmark::kMillisecond);

// Reading the largest list a download takes: 4 MiB in its longest lines.
void BM_ReadDownloadedList(benchmark::State& state)
{
    const QByteArray line =
        "0 " + QByteArray(exchange::kMaxListBytes / exchange::kMaxListLines - 4, 'n') + "\r\n";
    QByteArray body;
    while (body.size() + line.size() <= exchange::kMaxListBytes)
        body += line;
    for (auto _ : state)
        benchmark::DoNotOptimize(exchange::readDownloadedList(body).lines.size());
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_ReadDownloadedList)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runBenchmarks(argc, argv);
}
