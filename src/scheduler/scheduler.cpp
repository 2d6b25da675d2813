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

Scheduler::Stamp stampOf(const QDateTime& when)
{
    return {when.date(), when.time()};
}

} // namespace

// When a task falls due, read once from its texts. Tasks compare by their texts: a time or
// date not written exactly as the program writes them never falls due.
struct Scheduler::Timing
{
    std::optional<QTime> time;
    std::optional<QDate> date; // no value for a daily task
    bool daily = false;

    explicit Timing(const Task& task)
        : time(text::parseLongTime(task.time)), date(text::parseShortDate(task.date)),
          daily(task.date == kEveryDay)
    {
    }

    // The second in (from, to] at which the task falls due, if any.
    std::optional<Stamp> dueWithin(const Stamp& from, const Stamp& to) const
    {
        if (!time || (!daily && !date))
            return std::nullopt;
        const auto inWindow = [&](const QDate& day) -> std::optional<Stamp> {
            const Stamp at{day, *time};
            if (from < at && at <= to)
                return at;
            return std::nullopt;
        };
        if (!daily)
            return inWindow(*date);
        for (QDate day = from.first; day <= to.first; day = day.addDays(1)) {
            if (const auto at = inWindow(day))
                return at;
        }
        return std::nullopt;
    }
};

Scheduler::~Scheduler() = default;

Scheduler::Scheduler(Settings& settings, const Clock& clock, ErrorSink* errors,
                     const QString& programFolder, QObject* parent)
    : QObject(parent), m_settings(settings), m_clock(clock), m_errors(errors),
      m_standardFile(programFolder + kStandardFile), m_timer(this)
{
    m_timer.setObjectName(u"SchedulerTimer"_s);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { guarded(m_errors, [this] { tick(); }); });
    connect(&m_settings, &Settings::changed, this,
            [this](Key key) { guarded(m_errors, [this, key] { onChanged(key); }); });
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
    m_timings.clear();
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
    m_firedThrough = stampOf(m_lastTick);
    m_timer.start();
}

void Scheduler::tick()
{
    if (!m_settings.flag(Key::Scheduler))
        return;
    const QDateTime now = wholeSecond(m_clock.now());
    if (!m_lastTick.isValid()) {
        m_lastTick = now.addSecs(-1);
        m_firedThrough = stampOf(m_lastTick);
    }
    // Stalls and jumps are judged in real seconds; what falls due is judged on the wall clock,
    // which at the end of summer time goes back an hour: the tasks of that hour are not fired
    // a second time, and those of the hour skipped in spring fire when it is skipped.
    const qint64 elapsed = m_lastTick.secsTo(now);
    if (elapsed <= 0) {
        if (elapsed < -kMaxSetBackSeconds) {
            m_lastTick = now;
            m_firedThrough = stampOf(now);
        }
        return;
    }
    m_lastTick = now;
    Stamp from = m_firedThrough;
    const Stamp to = stampOf(now);
    if (elapsed > kMaxCatchUpSeconds) {
        from = std::max(from, stampOf(now.addSecs(-kMaxCatchUpSeconds)));
        say(u"Ütemező: az időzítő "_s + QString::number(elapsed) +
            u" másodpercig nem futott; csak az utolsó "_s +
            QString::number(kMaxCatchUpSeconds / 60) + u" perc feladatai futnak le"_s);
    }
    if (!(from < to))
        return;
    // Moved on before anything fires: an action may let events run, and a tick inside it must
    // not fire the same seconds again.
    m_firedThrough = to;

    struct Due
    {
        Stamp at;
        Task task;
    };
    if (qsizetype(m_timings.size()) != m_tasks.size()) {
        m_timings.clear();
        m_timings.reserve(m_tasks.size());
        for (const Task& task : std::as_const(m_tasks))
            m_timings.emplace_back(task);
    }
    QList<Due> due;
    for (qsizetype i = 0; i < m_tasks.size(); ++i) {
        if (const auto at = m_timings[i].dueWithin(from, to))
            due.append({*at, m_tasks[i]});
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
        if (task.date == kEveryStart)
            tasks.append(task);
    }
    if (tasks.isEmpty())
        return;
    say(u"Ütemező: "_s + QString::number(tasks.size()) + u" \""_s + kEveryStart +
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
