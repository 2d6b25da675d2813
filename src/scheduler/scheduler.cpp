#include "scheduler/scheduler.h"

#include "io/files.h"
#include "settings/settings.h"
#include "settings/textfile.h"
#include "text/clock.h"
#include "text/errors.h"
#include "text/textutil.h"
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

// Seconds between two readings of the wall clock as its face shows them: a change of summer
// time counts, unlike in QDateTime::secsTo.
qint64 faceSeconds(const QDateTime& from, const QDateTime& to)
{
    return qint64(from.date().daysTo(to.date())) * 86400 + from.time().secsTo(to.time());
}

// "2 órával", "1 óra 30 perccel": how far the clock moved, the last unit with its ending.
QString shiftBy(qint64 seconds)
{
    struct Unit
    {
        qint64 value;
        const char16_t* name;
        const char16_t* byIt;
    };
    const Unit units[] = {{seconds / 86400, u"nap", u"nappal"},
                          {seconds / 3600 % 24, u"óra", u"órával"},
                          {seconds / 60 % 60, u"perc", u"perccel"},
                          {seconds % 60, u"másodperc", u"másodperccel"}};
    int last = 3;
    while (last > 0 && units[last].value == 0)
        --last;
    QStringList parts;
    for (int i = 0; i <= last; ++i) {
        if (units[i].value > 0 || i == last)
            parts << QString::number(units[i].value) + u' ' +
                         QString::fromUtf16(i == last ? units[i].byIt : units[i].name);
    }
    return parts.join(u' ');
}

} // namespace

QString describeTask(const Task& task)
{
    constexpr int kOptionShown = 60;
    QString text = task.date + u' ' + task.time + QStringLiteral(", ") + task.kind;
    if (task.option != kNoOptions && !task.option.isEmpty()) {
        const QString option = text::singleLine(task.option);
        text += QStringLiteral(": ") + option.left(kOptionShown);
        if (option.size() > kOptionShown)
            text += u'…';
    }
    return text::singleLine(text);
}

namespace {

QString taskKey(const Task& task)
{
    return task.date + u'\x1f' + task.time + u'\x1f' + task.kind + u'\x1f' + task.option;
}

} // namespace

// When a task falls due, read once from its texts, and the days it has fired for. Tasks compare
// by their texts: a time or date not written exactly as the program writes them never falls due.
struct Scheduler::Timing
{
    static constexpr int kDaysRemembered = 8;

    Task task;
    std::optional<QTime> time;
    std::optional<QDate> date; // no value for a daily task
    bool daily = false;
    QList<QDate> firedDays; // the latest last

    explicit Timing(const Task& t)
        : task(t), time(text::parseLongTime(t.time)), date(text::parseShortDate(t.date)),
          daily(t.date == kEveryDay)
    {
    }

    // The latest second in (from, to] at which the task falls due, unless it fired for that
    // day already. A window of several days (the clock put forward) fires a daily task once.
    std::optional<Stamp> dueWithin(const Stamp& from, const Stamp& to) const
    {
        if (!time || (!daily && !date))
            return std::nullopt;
        QDate day = daily ? to.first : *date;
        if (daily && *time > to.second)
            day = day.addDays(-1);
        const Stamp at{day, *time};
        if (!(from < at && at <= to) || firedDays.contains(day))
            return std::nullopt;
        return at;
    }

    void firedFor(const QDate& day)
    {
        firedDays.append(day);
        if (firedDays.size() > kDaysRemembered)
            firedDays.removeFirst();
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
    m_unsaved = true;
    changed();
    return int(m_tasks.size() - 1);
}

void Scheduler::replace(int index, const Task& task)
{
    if (index < 0 || index >= m_tasks.size())
        return;
    m_tasks[index] = task;
    m_unsaved = true;
    changed();
}

void Scheduler::remove(int index)
{
    if (index < 0 || index >= m_tasks.size())
        return;
    m_tasks.removeAt(index);
    m_unsaved = true;
    changed();
}

void Scheduler::changed()
{
    m_timingsStale = true;
    emit tasksChanged();
}

// The timings follow the table; a task that is still there, by its texts, keeps the days it
// fired for, so an edit of another row never fires it twice.
void Scheduler::rebuildTimings()
{
    std::vector<Timing> old = std::move(m_timings);
    std::vector<bool> taken(old.size(), false);
    m_timings.clear();
    m_timings.reserve(m_tasks.size());
    for (const Task& task : std::as_const(m_tasks)) {
        Timing& timing = m_timings.emplace_back(task);
        for (std::size_t i = 0; i < old.size(); ++i) {
            if (!taken[i] && old[i].task == task) {
                taken[i] = true;
                timing.firedDays = old[i].firedDays;
                break;
            }
        }
    }
    m_timingsStale = false;
}

std::optional<QByteArray> Scheduler::readTaskBytes(const QString& path)
{
    try {
        return io::readFileIfPresent(path);
    } catch (const FileError& e) {
        m_lastFileError = e.systemCode() != 0 ? e.systemCode() : EIO;
        throw;
    }
}

// The first few lines as they are, then one line for the rest: a large damaged file must not
// flood the console and its day log.
void Scheduler::sayCounted(const QStringList& lines, const QString& countLine)
{
    for (qsizetype i = 0; i < lines.size() && i < kNamedAtLoad; ++i)
        say(lines[i]);
    if (lines.size() > kNamedAtLoad)
        say(countLine.arg(lines.size() - kNamedAtLoad).arg(lines.size()));
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
    QStringList lines;
    for (const QString& what : reading.ignored)
        lines << u"Ütemező: "_s + name + u": "_s + what + u", kihagyva"_s;
    sayCounted(lines, u"Ütemező: "_s + name + u": további %1 hibás rész kihagyva (összesen %2)"_s);
    changed();
    reportNeverDue(path);
}

// Tasks whose date or time the timer can never match are said once in a run, at the load that
// brought them; the window marks them.
void Scheduler::reportNeverDue(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    QStringList lines;
    for (qsizetype i = 0; i < m_tasks.size(); ++i) {
        const QString why = whyNeverDue(m_tasks[i]);
        if (why.isEmpty())
            continue;
        const QString key = taskKey(m_tasks[i]);
        if (m_saidNeverDue.contains(key))
            continue;
        m_saidNeverDue.insert(key);
        lines << u"Ütemező: "_s + name + u": a(z) "_s + QString::number(i + 1) + u". feladat ("_s +
                     describeTask(m_tasks[i]) + u") soha nem fut le: "_s + text::singleLine(why);
    }
    sayCounted(lines, u"Ütemező: "_s + name +
                          u": további %1 feladat soha nem fut le hibás dátum vagy idő miatt "
                          "(összesen %2); a táblázat jelöli őket"_s);
}

void Scheduler::loadFile(const QString& path)
{
    const std::optional<QByteArray> bytes = readTaskBytes(path);
    if (!bytes)
        return;
    m_unsaved = true;
    applyReading(readTaskFile(*bytes), path);
}

void Scheduler::saveFile(const QString& path)
{
    const QByteArray bytes = writeTaskFile(m_tasks);
    try {
        io::replaceFile(path, bytes);
    } catch (const FileError& e) {
        m_lastFileError = e.systemCode() != 0 ? e.systemCode() : EIO;
        throw;
    }
    if (path == m_standardFile) {
        m_standardBytes = bytes;
        m_standardWhole = true;
        m_unsaved = false;
    }
}

void Scheduler::loadStandardFile()
{
    std::optional<QByteArray> bytes;
    try {
        bytes = readTaskBytes(m_standardFile);
    } catch (const FileError&) {
        // Unread: kept aside before the first rewrite, should it become readable.
        m_standardWhole = false;
        throw;
    }
    m_standardBytes = bytes.value_or(QByteArray());
    m_unsaved = false;
    if (!bytes) {
        m_standardWhole = true;
        return;
    }
    const TaskFileReading reading = readTaskFile(*bytes);
    m_standardWhole = reading.ignored.isEmpty();
    applyReading(reading, m_standardFile);
}

void Scheduler::windowClosed()
{
    // Unreadable: the error ends the close's write, and the file stays as it is.
    const std::optional<QByteArray> onDisk = readTaskBytes(m_standardFile);
    const bool replaced = onDisk && *onDisk != m_standardBytes;
    if (replaced && !m_unsaved) {
        // Someone put another file in its place (a corrected copy) while the table kept what
        // was read: that file is what the operator wants, so it is read, not overwritten.
        say(u"Ütemező: a(z) "_s + kStandardFile +
            u" a program futása közben megváltozott: újra beolvasva, nem íródott felül"_s);
        loadStandardFile();
        return;
    }
    const QByteArray bytes = writeTaskFile(m_tasks);
    if (!onDisk || *onDisk != bytes) {
        if (onDisk && !onDisk->isEmpty() && (!m_standardWhole || replaced)) {
            if (io::keepBackupOnce(m_standardFile, *onDisk))
                say(u"Ütemező: felülírás előtt az eredeti fájl megmaradt: "_s +
                    io::backupPath(m_standardFile));
            else
                say(u"Ütemező: felülírva: "_s + m_standardFile +
                    u"; a korábbi biztonsági másolata ("_s + io::backupPath(m_standardFile) +
                    u") nem íródott felül"_s);
        }
        saveFile(m_standardFile);
    }
    loadStandardFile();
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
    m_lastSteady = m_clock.steadyMs();
    m_firedThrough = stampOf(m_lastTick);
    m_timer.start();
}

void Scheduler::sayClockChange(const QDateTime& from, const QDateTime& to, qint64 seconds)
{
    say(u"Ütemező: a gép órája átállt, "_s + shiftBy(qAbs(seconds)) +
        (seconds > 0 ? u" előre ("_s : u" vissza ("_s) + text::dateTime(from) + u" → "_s +
        text::dateTime(to) +
        (seconds > 0 ? u"); ami a kimaradt időre esett, most fut le"_s
                     : u"); ami aznapra már lefutott, nem fut le újra"_s));
}

void Scheduler::tick()
{
    if (!m_settings.flag(Key::Scheduler))
        return;
    const QDateTime now = wholeSecond(m_clock.now());
    const qint64 steady = m_clock.steadyMs();
    if (!m_lastTick.isValid()) {
        m_lastTick = now.addSecs(-1);
        m_lastSteady = steady - 1000;
        m_firedThrough = stampOf(m_lastTick);
    }
    // Real time (suspended time included) against the wall clock's face: where they part, the
    // clock was changed, and the tasks follow the face; where real time ran long, the program
    // or the machine stood still.
    const qint64 passed = (steady - m_lastSteady) / 1000;
    const qint64 change = faceSeconds(m_lastTick, now) - passed;
    const QDateTime previous = m_lastTick;
    m_lastTick = now;
    m_lastSteady = steady;
    if (qAbs(change) >= kClockChangeSeconds)
        sayClockChange(previous, now, change);
    Stamp from = m_firedThrough;
    const Stamp to = stampOf(now);
    if (passed > kMaxCatchUpSeconds) {
        from = std::max(from, stampOf(now.addSecs(-kMaxCatchUpSeconds)));
        say(u"Ütemező: az időzítő "_s + QString::number(passed) +
            u" másodpercig nem futott; csak az utolsó "_s +
            QString::number(kMaxCatchUpSeconds / 60) + u" perc feladatai futnak le"_s);
    }
    // Moved on before anything fires, also when the clock went back: an action may let events
    // run, and a tick inside it must not look at the same seconds again.
    m_firedThrough = to;
    if (!(from < to))
        return;

    struct Due
    {
        Stamp at;
        Task task;
    };
    if (m_timingsStale || qsizetype(m_timings.size()) != m_tasks.size())
        rebuildTimings();
    QList<Due> due;
    for (Timing& timing : m_timings) {
        if (const auto at = timing.dueWithin(from, to)) {
            timing.firedFor(at->first);
            due.append({*at, timing.task});
        }
    }
    std::stable_sort(due.begin(), due.end(),
                     [](const Due& a, const Due& b) { return a.at < b.at; });
    for (const Due& d : std::as_const(due))
        guarded(m_errors, [&] { fireTask(d.task); });
}

std::optional<Scheduler::Upcoming> Scheduler::nextDue(const QDateTime& now) const
{
    if (!m_settings.flag(Key::Scheduler))
        return std::nullopt;
    const QDateTime after = wholeSecond(now);
    std::optional<Upcoming> next;
    for (const Task& task : m_tasks) {
        const std::optional<QTime> time = text::parseLongTime(task.time);
        if (!time)
            continue;
        QDateTime at;
        if (task.date == kEveryDay) {
            at = QDateTime(after.date(), *time);
            if (at <= after)
                at = QDateTime(after.date().addDays(1), *time);
        } else if (const std::optional<QDate> date = text::parseShortDate(task.date)) {
            at = QDateTime(*date, *time);
        }
        if (!at.isValid() || at <= after)
            continue;
        if (!next || at < next->at)
            next = Upcoming{at, task};
    }
    return next;
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
    // A task that would reach nobody is not run (a restart's countdown would hold the window
    // for nothing): the console says which and why.
    if (m_actions.whyNotSent) {
        if (const QString why = m_actions.whyNotSent(*kind); !why.isEmpty()) {
            say(u"Ütemező: a feladat nem ment ki ("_s + describeTask(task) + u"): "_s + why);
            return;
        }
    }
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
