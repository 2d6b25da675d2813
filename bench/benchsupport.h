#pragma once

// What the benchmarks share: a clock that stands still and never waits, no event pump, no
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

class NoPump final : public EventPump
{
public:
    void processEvents() override {}
};

class NoDialogs final : public Dialogs
{
public:
    void message(const QString&) override {}
    bool question(const QString&) override { return false; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
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
