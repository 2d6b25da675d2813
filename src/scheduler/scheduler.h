#pragma once

#include "scheduler/task.h"
#include "scheduler/taskfile.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace vigilor {
class Clock;
class ErrorSink;
class Settings;
enum class Key : int;
} // namespace vigilor

namespace vigilor::scheduler {

// The task table, its files and the timer that fires the tasks. The table lives for the whole
// run; "Scheduling.ini" in the program folder keeps it between runs. While "Parancs ütemező
// engedélyezése" is on, the timer looks once a second for the tasks whose second has come on the
// wall clock since its previous look: a late tick still fires what fell due meanwhile, and each
// task fires at most once for each day it is due, whatever the clock does (the hour lived twice
// in autumn, a clock put back or forward). A fired task only queues commands or chat lines.
// A task named on one line, as the console names it: when, what, and the start of its option.
QString describeTask(const Task& task);

class Scheduler final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Scheduler)

public:
    static constexpr int kTickMs = 1000;
    // A tick that comes this much real time late (a suspended machine, a stopped program) fires
    // only what fell due in this last stretch: an hour-old restart is no longer what the operator
    // planned.
    static constexpr int kMaxCatchUpSeconds = 15 * 60;
    // The wall clock moved this much more or less than real time between two ticks: the clock
    // was changed (summer time, by hand, by a time server), which the console says.
    static constexpr int kClockChangeSeconds = 10;
    // Bad records and tasks that can never fire named one by one at a load; the rest counted.
    static constexpr int kNamedAtLoad = 5;
    static inline const QString kStandardFile = QStringLiteral("Scheduling.ini");

    // What firing a task does, wired by the robot.
    struct Actions
    {
        std::function<void(const QString&)> sayPublic;
        std::function<void(const QString&)> enqueueCommand;
        std::function<void()> restart; // the channel command restart, as the console button does
        std::function<void()> beep;
        std::function<void(const QString&)> consoleLine;
        // Why a task of this kind would reach nobody now (no connection, chat writing off), or
        // empty: such a task is said on the console instead of being run.
        std::function<QString(Kind)> whyNotSent;
    };

    // programFolder ends with a separator.
    Scheduler(Settings& settings, const Clock& clock, ErrorSink* errors,
              const QString& programFolder, QObject* parent = nullptr);
    ~Scheduler() override;

    void setActions(Actions actions) { m_actions = std::move(actions); }
    // The system's beep belongs to the front end (a window, a terminal).
    void setBeep(std::function<void()> beep) { m_actions.beep = std::move(beep); }

    // The tasks; index 0 is the first task row (the row under the column titles).
    const QList<Task>& tasks() const { return m_tasks; }
    int append(const Task& task); // returns the new task's index
    void replace(int index, const Task& task);
    void remove(int index); // later tasks move up by one
    // Indexes outside the table are ignored by replace() and remove().

    // Task files. Reading writes record k into task k - 1 where that exists and appends it
    // otherwise; tasks beyond the file's records stay. What the file held that could not be
    // used, and the tasks that can never fire, are said on the console (the first few by name,
    // the rest counted; a task only once in a run). Both throw FileError when the file cannot
    // be read or written.
    void loadFile(const QString& path);
    void saveFile(const QString& path);
    QString standardFile() const { return m_standardFile; }
    // At start: "Scheduling.ini" when it exists.
    void loadStandardFile();
    // Closing the scheduler window, the only time "Scheduling.ini" is written: the table is
    // written and read back, so the window shows what the file holds. A file that was not read
    // whole (or was replaced meanwhile while the table had changes of its own) is first kept once
    // as "Scheduling.ini.bak"; one replaced while the table had none is read, not overwritten.
    void windowClosed();
    // The table was changed (a task added, changed, deleted, a file loaded) since
    // "Scheduling.ini" was last read or written.
    bool hasUnsavedChanges() const { return m_unsaved; }
    // The code of the last failed task-file read or write (the system's error number), 0 when
    // there was none.
    int lastFileError() const { return m_lastFileError; }

    // The timer's tick: fires every task whose second has come since the previous tick.
    void tick();
    // A double click on a row: fires that task at once, whatever its date and time.
    void fire(int index);
    // After the first successful connection of the program's run: the "Minden indításkor"
    // tasks, in table order, while the scheduler is on. Later calls do nothing.
    void runStartTasksOnce();

    // The next task the timer fires after `now` while the switch is on, with its moment: none
    // when the switch is off or no dated or daily task lies ahead. Tasks due at the same second
    // fire in table order: the first of them.
    struct Upcoming
    {
        QDateTime at;
        Task task;
    };
    std::optional<Upcoming> nextDue(const QDateTime& now) const;

    QTimer& timer() { return m_timer; }
    // A second on the wall clock: date and time of day.
    using Stamp = std::pair<QDate, QTime>;
    // The timer runs exactly while the switch is on (its click, the settings load and every
    // showing of the scheduler window).
    void applySwitch();

signals:
    void tasksChanged();

private:
    void onChanged(Key key);
    void fireTask(const Task& task);
    void say(const QString& line);
    void sayCounted(const QStringList& lines, const QString& countLine);
    void applyReading(const TaskFileReading& reading, const QString& path);
    void reportNeverDue(const QString& path);
    std::optional<QByteArray> readTaskBytes(const QString& path);
    void changed();
    void rebuildTimings();
    void sayClockChange(const QDateTime& from, const QDateTime& to, qint64 seconds);

    struct Timing;

    Settings& m_settings;
    const Clock& m_clock;
    ErrorSink* m_errors;
    QString m_standardFile;
    Actions m_actions;
    QList<Task> m_tasks;
    std::vector<Timing> m_timings; // of m_tasks, remade at the tick after a change of the table
    bool m_timingsStale = true;
    QTimer m_timer;
    QDateTime m_lastTick;    // the whole second of the last tick, on the wall clock
    qint64 m_lastSteady = 0; // the steady clock at the last tick
    Stamp m_firedThrough;    // the wall-clock second up to which tasks have been looked at
    bool m_startTasksDone = false;
    int m_lastFileError = 0;
    // What "Scheduling.ini" holds as far as this program knows: the bytes last read from it or
    // written to it (empty for a missing file), and whether they were taken whole.
    QByteArray m_standardBytes;
    bool m_standardWhole = true;
    bool m_unsaved = false;
    QSet<QString> m_saidNeverDue; // the tasks already said to never fire, by their texts
};

} // namespace vigilor::scheduler
