#pragma once

#include "scheduler/task.h"
#include "scheduler/taskfile.h"

#include <QDateTime>
#include <QList>
#include <QObject>
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
// engedélyezése" is on, the timer looks once a second for the tasks whose second has come since
// its previous look: a late tick still fires what fell due meanwhile, and two ticks within one
// second fire nothing twice. A fired task only queues commands or chat lines.
class Scheduler final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Scheduler)

public:
    static constexpr int kTickMs = 1000;
    // A tick later than this (a suspended machine, the clock put forward) fires only what fell
    // due in this last stretch: an hour-old restart is no longer what the operator planned.
    static constexpr int kMaxCatchUpSeconds = 15 * 60;
    // The clock put back by up to this much (the end of summer time) fires nothing a second
    // time; put back further, the schedule starts afresh from the new time.
    static constexpr int kMaxSetBackSeconds = 2 * 3600;
    static inline const QString kStandardFile = QStringLiteral("Scheduling.ini");

    // What firing a task does, wired by the robot.
    struct Actions
    {
        std::function<void(const QString&)> sayPublic;
        std::function<void(const QString&)> enqueueCommand;
        std::function<void()> restart; // the channel command restart, as the console button does
        std::function<void()> beep;
        std::function<void(const QString&)> consoleLine;
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
    // used is said on the console. Both throw FileError when the file cannot be read or written.
    void loadFile(const QString& path);
    void saveFile(const QString& path);
    QString standardFile() const { return m_standardFile; }
    // At start: "Scheduling.ini" when it exists.
    void loadStandardFile();
    // Closing the scheduler window: "Scheduling.ini" written and read back, so the table shows
    // what the file holds. A file that could not be read is not overwritten while the table
    // still is what was read of it.
    void windowClosed();
    // The program ends: "Scheduling.ini" written when the table differs from it.
    void programEnds();
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
    void applyReading(const TaskFileReading& reading, const QString& path);
    std::optional<QByteArray> readTaskBytes(const QString& path);
    void changed();

    struct Timing;

    Settings& m_settings;
    const Clock& m_clock;
    ErrorSink* m_errors;
    QString m_standardFile;
    Actions m_actions;
    QList<Task> m_tasks;
    std::vector<Timing> m_timings; // of m_tasks, remade after every change of the table
    QTimer m_timer;
    QDateTime m_lastTick; // the whole second of the last tick
    Stamp m_firedThrough; // the wall-clock second up to which tasks have been looked at
    bool m_startTasksDone = false;
    int m_lastFileError = 0;
    // What "Scheduling.ini" holds as far as this program knows: the bytes last read from it or
    // written to it (empty for a missing file).
    QByteArray m_standardBytes;
    bool m_standardUnreadable = false;
};

} // namespace vigilor::scheduler
