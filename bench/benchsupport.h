#pragma once

// What the benchmarks share: a clock that stands still and never waits, no
// dialogs, and a main() with the application object the engine needs.
#include "link/dialogs.h"
#include "text/clock.h"

#include <QCoreApplication>
#include <QDateTime>

#include <benchmark/benchmark.h>

namespace vigilor::bench {

class StillClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime(QDate(2026, 12, 8), QTime(12, 0, 0)); }
    void wait(int) override {}
};

class NoDialogs final : public Dialogs
{
public:
    void message(const QString&) override {}
    void question(const QString&, Answered answered) override { answered(false); }
    void input(const QString&, const QString&, const QString&, Entered entered) override
    {
        entered(std::nullopt);
    }
};

template <typename App = QCoreApplication> int runBenchmarks(int argc, char** argv)
{
    App app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace vigilor::bench
