// The task-file reader: the input is "Scheduling.ini" (or a chosen "*.sch") as another program,
// an editor or a damaged disk left it. Every record is either taken whole or said on the console
// and left out; what is taken writes and reads back as the same tasks; the editor opens every
// task; and a program that starts with the file, runs a day of ticks and fires every task by
// hand, then closes the scheduler window, holds and stores exactly the tasks it read.
#include "scheduler/scheduler.h"
#include "scheduler/taskfile.h"
#include "support/fuzzsupport.h"
#include "support/robotharness.h"
#include "text/cp1250.h"

using namespace vigilor;
using namespace vigilor::scheduler;
using namespace vigilor::fuzz;

namespace {

QString describe(const Task& task)
{
    return describeLines({task.date, task.time, task.kind, task.option});
}

bool fits(const QString& text, int field)
{
    return !text.isEmpty() && text::toCp1250(text).size() <= field;
}

QList<Task> checkReading(const QByteArray& input)
{
    const TaskFileReading reading = readTaskFile(input);
    const qsizetype whole = input.size() / kRecordSize;
    const qsizetype rest = input.size() % kRecordSize;
    FUZZ_CHECK(reading.tasks.size() + reading.ignored.size() == whole + (rest > 0 ? 1 : 0),
               describeLines(reading.ignored));
    QList<Task> tasks;
    int previous = 0;
    for (const LoadedTask& loaded : reading.tasks) {
        FUZZ_CHECK(loaded.record > previous && loaded.record <= whole,
                   QString::number(loaded.record));
        previous = loaded.record;
        const Task& t = loaded.task;
        FUZZ_CHECK(fits(t.date, kDateField) && fits(t.time, kTimeField) &&
                       fits(t.kind, kKindField) && fits(t.option, kOptionField),
                   describe(t));
        tasks.append(t);
    }
    for (const QString& line : reading.ignored)
        FUZZ_CHECK(!line.contains(u'\n') && !line.contains(u'\r'), line);

    const TaskFileReading again = readTaskFile(writeTaskFile(tasks));
    FUZZ_CHECK(again.ignored.isEmpty(), describeLines(again.ignored));
    FUZZ_CHECK(again.tasks.size() == tasks.size(), QString::number(again.tasks.size()));
    for (qsizetype i = 0; i < tasks.size(); ++i)
        FUZZ_CHECK(again.tasks[i].record == i + 1 && again.tasks[i].task == tasks[i],
                   describe(again.tasks[i].task));
    return tasks;
}

void checkEditor(const Task& task)
{
    const EditorValues values = editorFromTask(task, EditorValues{});
    FUZZ_CHECK(values.kindIndex == (kindOf(task.kind) ? int(*kindOf(task.kind)) : -1), task.kind);
    const Task made = taskFromEditor(values, 0);
    if (values.kindIndex >= 0)
        FUZZ_CHECK(made.kind == task.kind, describe(made));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = bytesOf(data, size);
    const QList<Task> tasks = checkReading(input);
    for (const Task& task : tasks)
        checkEditor(task);

    RobotHarness& harness = RobotHarness::instance();
    Robot& robot = harness.robot();
    writeFile(harness.folder() + Scheduler::kStandardFile, input);
    {
        // Started as the program starts its own, with the file there.
        const std::unique_ptr<Scheduler> started = harness.newScheduler();
        Scheduler& scheduler = *started;
        guarded(&robot, [&] { scheduler.loadStandardFile(); });
        FUZZ_CHECK(scheduler.tasks() == tasks, QString::number(scheduler.tasks().size()));
        scheduler.runStartTasksOnce();
        // A day in steps of the longest stall the scheduler catches up on.
        for (int step = 0; step <= 24 * 4; ++step) {
            harness.clock().advance(Scheduler::kMaxCatchUpSeconds * 1000);
            scheduler.tick();
        }
        for (int i = 0; i < tasks.size(); ++i)
            scheduler.fire(i);
        FUZZ_CHECK(scheduler.tasks() == tasks, QString::number(scheduler.tasks().size()));

        scheduler.windowClosed();
        FUZZ_CHECK(scheduler.tasks() == tasks, QString::number(scheduler.tasks().size()));
        FUZZ_CHECK(readFile(scheduler.standardFile()) == writeTaskFile(tasks),
                   QString::number(readFile(scheduler.standardFile()).size()));
    }
    harness.finish();
    return 0;
}
