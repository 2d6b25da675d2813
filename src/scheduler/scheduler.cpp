#include "scheduler/scheduler.h"

#include "settings/settings.h"
#include "settings/textfile.h"
#include "text/clock.h"
#include "text/errors.h"
#include "text/timeformat.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>

namespace vigilor::scheduler {

using namespace Qt::StringLiterals;

namespace {

QDateTime wholeSecond(const QDateTime& when)
{
    return when.addMSecs(-when.time().msec());
}

// The second in (from, to] at which the task falls due, if any. Tasks compare by their texts:
// a time or date not written exactly as the program writes them never falls due.
std::optional<QDateTime> dueWithin(const Task& task, const QDateTime& from, const QDateTime& to)
{
    const std::optional<QTime> time = text::parseLongTime(task.time);
    if (!time)
        return std::nullopt;
    const auto inWindow = [&](const QDate& date) -> std::optional<QDateTime> {
        const QDateTime at(date, *time);
        if (at.isValid() && from < at && at <= to)
            return at;
        return std::nullopt;
    };
    if (task.date == everyDay()) {
        for (QDate day = from.date(); day <= to.date(); day = day.addDays(1)) {
            if (const auto at = inWindow(day))
                return at;
        }
        return std::nullopt;
    }
    const std::optional<QDate> date = text::parseShortDate(task.date);
    return date ? inWindow(*date) : std::nullopt;
}

} // namespace

Scheduler::Scheduler(Settings& settings, const Clock& clock, ErrorSink* errors,
                     const QString& programFolder, QObject* parent)
    : QObject(parent), m_settings(settings), m_clock(clock), m_errors(errors),
      m_standardFile(programFolder + kStandardFile)
{
    m_timer.setObjectName(u"SchedulerTimer"_s);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { guarded(m_errors, [this] { tick(); }); });
    connect(&m_settings, &Settings::changed, this, &Scheduler::onChanged);
}

int Scheduler::append(const Task& task)
{
    m_tasks.append(task);
    changed();
    return int(m_tasks.size() - 1);
}

void Scheduler::replace(int index, const Task& task)
{
    if (index < 0 || index >= m_tasks.size())
        return;
    m_tasks[index] = task;
    changed();
}

void Scheduler::remove(int index)
{
    if (index < 0 || index >= m_tasks.size())
        return;
    m_tasks.removeAt(index);
    changed();
}

void Scheduler::changed()
{
    emit tasksChanged();
}

std::optional<QByteArray> Scheduler::readTaskBytes(const QString& path)
{
    errno = 0;
    try {
        return settings::readFileIfPresent(path);
    } catch (const FileError&) {
        m_lastFileError = errno != 0 ? errno : EIO;
        throw;
    }
}

void Scheduler::applyReading(const TaskFileReading& reading, const QString& path)
{
    for (const LoadedTask& loaded : reading.tasks) {
        const int index = loaded.record - 1;
        if (index < m_tasks.size())
            m_tasks[index] = loaded.task;
        else
            m_tasks.append(loaded.task);
    }
    const QString name = QFileInfo(path).fileName();
    for (const QString& what : reading.ignored)
        say(u"Ütemező: "_s + name + u": "_s + what + u", kihagyva"_s);
    changed();
}

void Scheduler::loadFile(const QString& path)
{
    const std::optional<QByteArray> bytes = readTaskBytes(path);
    if (!bytes)
        return;
    applyReading(readTaskFile(*bytes), path);
}

void Scheduler::saveFile(const QString& path)
{
    const QByteArray bytes = writeTaskFile(m_tasks);
    errno = 0;
    try {
        settings::replaceFile(path, bytes);
    } catch (const FileError&) {
        m_lastFileError = errno != 0 ? errno : EIO;
        throw;
    }
    if (path == m_standardFile) {
        m_standardBytes = bytes;
        m_standardUnreadable = false;
    }
}

void Scheduler::loadStandardFile()
{
    std::optional<QByteArray> bytes;
    try {
        bytes = readTaskBytes(m_standardFile);
    } catch (const FileError&) {
        m_standardUnreadable = true;
        throw;
    }
    m_standardUnreadable = false;
    m_standardBytes = bytes.value_or(QByteArray());
    if (bytes)
        applyReading(readTaskFile(*bytes), m_standardFile);
}

void Scheduler::windowClosed()
{
    if (m_standardUnreadable && writeTaskFile(m_tasks) == m_standardBytes)
        return;
    saveFile(m_standardFile);
    loadStandardFile();
}

void Scheduler::programEnds()
{
    if (writeTaskFile(m_tasks) != m_standardBytes)
        saveFile(m_standardFile);
}

void Scheduler::onChanged(Key key)
{
    if (key == Key::Scheduler)
        applySwitch();
}

void Scheduler::applySwitch()
{
    if (!m_settings.flag(Key::Scheduler)) {
        m_timer.stop();
        return;
    }
    if (m_timer.isActive())
        return;
    // Counting starts now: what fell due while the scheduler was off stays undone.
    m_lastTick = wholeSecond(m_clock.now());
    m_timer.start();
}

void Scheduler::tick()
{
    if (!m_settings.flag(Key::Scheduler))
        return;
    const QDateTime now = wholeSecond(m_clock.now());
    if (!m_lastTick.isValid())
        m_lastTick = now.addSecs(-1);
    const qint64 elapsed = m_lastTick.secsTo(now);
    if (elapsed <= 0) {
        if (elapsed < -kMaxSetBackSeconds)
            m_lastTick = now;
        return;
    }
    QDateTime from = m_lastTick;
    if (elapsed > kMaxCatchUpSeconds) {
        from = now.addSecs(-kMaxCatchUpSeconds);
        say(u"Ütemező: az időzítő "_s + QString::number(elapsed) +
            u" másodpercig nem futott; csak az utolsó "_s +
            QString::number(kMaxCatchUpSeconds / 60) + u" perc feladatai futnak le"_s);
    }
    // Moved on before anything fires: an action may let events run, and a tick inside it must
    // not fire the same seconds again.
    m_lastTick = now;

    struct Due
    {
        QDateTime at;
        Task task;
    };
    QList<Due> due;
    for (const Task& task : std::as_const(m_tasks)) {
        if (const auto at = dueWithin(task, from, now))
            due.append({*at, task});
    }
    std::stable_sort(due.begin(), due.end(),
                     [](const Due& a, const Due& b) { return a.at < b.at; });
    for (const Due& d : std::as_const(due))
        guarded(m_errors, [&] { fireTask(d.task); });
}

void Scheduler::fire(int index)
{
    if (index < 0 || index >= m_tasks.size())
        return;
    fireTask(Task(m_tasks[index]));
}

void Scheduler::runStartTasksOnce()
{
    if (m_startTasksDone)
        return;
    m_startTasksDone = true;
    if (!m_settings.flag(Key::Scheduler))
        return;
    QList<Task> tasks;
    for (const Task& task : std::as_const(m_tasks)) {
        if (task.date == everyStart())
            tasks.append(task);
    }
    if (tasks.isEmpty())
        return;
    say(u"Ütemező: "_s + QString::number(tasks.size()) + u" \""_s + everyStart() +
        u"\" feladat fut"_s);
    for (const Task& task : std::as_const(tasks))
        guarded(m_errors, [&] { fireTask(task); });
}

void Scheduler::fireTask(const Task& task)
{
    if (m_actions.beep)
        m_actions.beep();
    const std::optional<Kind> kind = kindOf(task.kind);
    if (!kind)
        return;
    const auto enqueue = [this](const QString& command) {
        if (m_actions.enqueueCommand)
            m_actions.enqueueCommand(command);
    };
    switch (*kind) {
    case Kind::Message:
        if (m_actions.sayPublic)
            m_actions.sayPublic(task.option);
        break;
    case Kind::LoadCfg:
        enqueue(u"exec "_s + task.option);
        break;
    case Kind::Command:
        enqueue(task.option);
        break;
    case Kind::Restart:
        if (m_actions.restart)
            m_actions.restart();
        break;
    case Kind::Shutdown:
        enqueue(u"killserver"_s);
        break;
    }
}

void Scheduler::say(const QString& line)
{
    if (m_actions.consoleLine)
        m_actions.consoleLine(line);
}

} // namespace vigilor::scheduler
