// The scheduler's timer looks at every task once a second, so its tick with a full table (255
// tasks, none due) is what it costs the program all day; reading and writing a full task file
// for comparison.
#include "benchsupport.h"
#include "scheduler/scheduler.h"
#include "scheduler/taskfile.h"
#include "settings/settings.h"

#include <QTemporaryDir>

using namespace vigilor;
using namespace vigilor::scheduler;

namespace {

// A clock that moves on by one second at every look, as the timer's ticks see it.
class SecondClock final : public Clock
{
public:
    QDateTime now() const override
    {
        m_now = m_now.addSecs(1);
        return m_now;
    }
    void wait(int) override {}

private:
    mutable QDateTime m_now{QDate(2026, 12, 8), QTime(12, 0, 0)};
};

QList<Task> fullTable()
{
    QList<Task> tasks;
    for (int i = 0; i < 255; ++i) {
        const QString time = QStringLiteral("%1:%2:00").arg(i % 24).arg(i % 60, 2, 10, QChar(u'0'));
        if (i % 3 == 0)
            tasks.append(
                {QStringLiteral("Minden nap"), time, QStringLiteral("Üzenet"),
                 QStringLiteral("^3Üdvözöl a szerver! ^7Szabályok: ne csalj. #%1").arg(i)});
        else if (i % 3 == 1)
            tasks.append({QStringLiteral("2027.%1.%2.")
                              .arg(1 + i % 12, 2, 10, QChar(u'0'))
                              .arg(1 + i % 28, 2, 10, QChar(u'0')),
                          time, QStringLiteral("CFG betöltés"),
                          QStringLiteral("server%1.cfg").arg(i)});
        else
            tasks.append({QStringLiteral("Minden indításkor"), QStringLiteral("Bármikor"),
                          QStringLiteral("Parancs végrehajtás"), QStringLiteral("map_rotate")});
    }
    return tasks;
}

void tickOverFullTable(benchmark::State& state)
{
    QTemporaryDir dir;
    Settings settings;
    SecondClock clock;
    Scheduler scheduler(settings, clock, nullptr, dir.path() + u'/');
    for (const Task& task : fullTable())
        scheduler.append(task);
    settings.setFlag(Key::Scheduler, true);
    scheduler.timer().stop();
    for (auto _ : state)
        scheduler.tick();
}
BENCHMARK(tickOverFullTable);

void readFullFile(benchmark::State& state)
{
    const QByteArray bytes = writeTaskFile(fullTable());
    for (auto _ : state)
        benchmark::DoNotOptimize(readTaskFile(bytes));
}
BENCHMARK(readFullFile);

void writeFullFile(benchmark::State& state)
{
    const QList<Task> tasks = fullTable();
    for (auto _ : state)
        benchmark::DoNotOptimize(writeTaskFile(tasks));
}
BENCHMARK(writeFullFile);

} // namespace

int main(int argc, char** argv)
{
    return bench::runBenchmarks(argc, argv);
}
