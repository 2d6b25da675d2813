// The scheduler: the task files byte for byte and their damaged forms, the loading and editor
// rules, the firing against a staged clock, and the robot's tasks as the practice server
// receives them over UDP.
#include "scheduler/scheduler.h"
#include "scheduler/taskfile.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/robotfixture.h"
#include "text/errors.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <ctime>

using namespace vigilor;
using namespace vigilor::scheduler;
using namespace vigilor::test;
using namespace Qt::StringLiterals;

using vigilor::test::readAll;
using vigilor::test::writeAll;

namespace {

Task task(const QString& date, const QString& time, const QString& kind, const QString& option)
{
    return Task{date, time, kind, option};
}

Task message(const QString& date, const QString& time, const QString& text)
{
    return task(date, time, u"Üzenet"_s, text);
}

Task command(const QString& date, const QString& time, const QString& text)
{
    return task(date, time, u"Parancs végrehajtás"_s, text);
}

struct Errors final : ErrorSink
{
    QStringList messages;
    void reportError(const std::exception& error) override
    {
        messages << QString::fromUtf8(error.what());
    }
};

// A scheduler on its own: the actions are written down in the order they ran.
struct Bench
{
    QTemporaryDir dir;
    Settings settings;
    FakeClock clock{QDateTime(QDate(2026, 12, 8), QTime(19, 59, 58, 400))};
    Errors errors;
    Scheduler scheduler{settings, clock, &errors, dir.path() + u'/'};
    QStringList actions;
    QStringList console;

    Bench()
    {
        Scheduler::Actions a;
        a.sayPublic = [this](const QString& text) { actions << u"say "_s + text; };
        a.enqueueCommand = [this](const QString& text) { actions << text; };
        a.restart = [this] { actions << u"<restart>"_s; };
        a.beep = [this] { actions << u"<beep>"_s; };
        a.consoleLine = [this](const QString& line) { console << line; };
        scheduler.setActions(std::move(a));
    }
    QString path(const QString& name) const { return dir.path() + u'/' + name; }
    void switchOn() { settings.setFlag(Key::Scheduler, true); }
    // Moves the clock to the time and ticks once; returns what fired.
    QStringList tickAt(const QTime& time, const QDate& date = QDate(2026, 12, 8))
    {
        clock.set(QDateTime(date, time));
        actions.clear();
        scheduler.tick();
        return actions;
    }
    // Ticks `steps` times, each `stepMs` later; returns what fired.
    QStringList runFor(int steps, qint64 stepMs)
    {
        QStringList fired;
        for (int i = 0; i < steps; ++i) {
            clock.advance(stepMs);
            actions.clear();
            scheduler.tick();
            fired += actions;
        }
        return fired;
    }
    void setTasks(const QList<Task>& tasks)
    {
        while (!scheduler.tasks().isEmpty())
            scheduler.remove(0);
        for (const Task& t : tasks)
            scheduler.append(t);
    }
};

const QStringList kFired = {u"<beep>"_s, u"cmd"_s};

} // namespace

class TestScheduler final : public QObject
{
    Q_OBJECT

private slots:
    // The next task the header names: the earliest dated or daily one ahead of now, none while
    // the switch is off; tasks run at start, passed dates and unreadable times are not ahead.
    void nextDueTask()
    {
        Bench b; // 2026.12.08. 19:59:58
        b.setTasks({command(u"Minden indításkor"_s, u"Bármikor"_s, u"start"_s),
                    command(u"2026.12.07."_s, u"20:00:00"_s, u"past"_s),
                    command(u"Minden nap"_s, u"19:00:00"_s, u"daily"_s),
                    command(u"2026.12.08."_s, u"25:00:00"_s, u"bad"_s),
                    command(u"2026.12.09."_s, u"8:00:00"_s, u"dated"_s)});
        const QDateTime now = b.clock.now();
        QVERIFY(!b.scheduler.nextDue(now));
        b.switchOn();
        auto next = b.scheduler.nextDue(now);
        QVERIFY(next);
        QCOMPARE(next->task.option, u"dated"_s);
        QCOMPARE(next->at, QDateTime(QDate(2026, 12, 9), QTime(8, 0)));
        // Past 8:00 on the 9th the daily task of 19:00 comes next; after it, the next day's.
        next = b.scheduler.nextDue(QDateTime(QDate(2026, 12, 9), QTime(8, 0)));
        QVERIFY(next);
        QCOMPARE(next->task.option, u"daily"_s);
        QCOMPARE(next->at, QDateTime(QDate(2026, 12, 9), QTime(19, 0)));
        next = b.scheduler.nextDue(QDateTime(QDate(2026, 12, 9), QTime(19, 0, 0, 500)));
        QCOMPARE(next->at, QDateTime(QDate(2026, 12, 10), QTime(19, 0)));
    }

    // Three tasks make 927 bytes; each field is a length byte and its room, code page 1250,
    // texts longer than their field cut to it.
    void taskFileLayout()
    {
        const QList<Task> tasks = {
            message(u"2026.12.08."_s, u"20:00:00"_s, u"Jó játékot!"_s),
            task(u"Minden indításkor"_s, u"Bármikor"_s, u"Szerver újraindítás"_s,
                 u"Nincs beállítás"_s),
            command(u"Minden nap"_s, u"20:00:00 and more"_s, QString(300, u'x')),
        };
        const QByteArray bytes = writeTaskFile(tasks);
        QCOMPARE(bytes.size(), 927);
        QCOMPARE(kRecordSize, 309);
        QCOMPARE(bytes.mid(0, 12), QByteArray("\x0b"
                                              "2026.12.08."));
        QCOMPARE(bytes.mid(18, 9), QByteArray("\x08"
                                              "20:00:00"));
        QCOMPARE(bytes.mid(27, 7), QByteArray("\x06\xdczenet"));
        QCOMPARE(bytes.mid(53, 12), QByteArray("\x0bJ\xf3 j\xe1t\xe9kot!"));
        QCOMPARE(bytes.at(65), '\0');
        QCOMPARE(bytes.mid(309, 18), QByteArray("\x11Minden ind\xedt\xe1skor"));
        QCOMPARE(bytes.mid(618 + 18, 9), QByteArray("\x08"
                                                    "20:00:00"));
        QCOMPARE(quint8(bytes.at(618 + 53)), quint8(255));
        QCOMPARE(bytes.mid(618 + 54, 255), QByteArray(255, 'x'));

        // Read back: the cut texts are what the file holds.
        const TaskFileReading reading = readTaskFile(bytes);
        QVERIFY(reading.ignored.isEmpty());
        QCOMPARE(reading.tasks.size(), 3);
        QCOMPARE(reading.tasks[0].task, tasks[0]);
        QCOMPARE(reading.tasks[1].task, tasks[1]);
        QCOMPARE(reading.tasks[2].task,
                 command(u"Minden nap"_s, u"20:00:00"_s, QString(255, u'x')));
        QCOMPARE(reading.tasks[2].record, 3);
    }

    // Damaged files are read as far as they are sound, and what was left out is named.
    void damagedFiles()
    {
        const QList<Task> tasks = {command(u"Minden nap"_s, u"1:00:00"_s, u"a"_s),
                                   message(u"Minden nap"_s, u"2:00:00"_s, u""_s),
                                   command(u"Minden nap"_s, u"3:00:00"_s, u"c"_s)};
        const QByteArray good = writeTaskFile(tasks);

        TaskFileReading reading = readTaskFile(good);
        QCOMPARE(reading.tasks.size(), 2);
        QCOMPARE(reading.tasks[1].record, 3);
        QCOMPARE(reading.ignored, QStringList{u"a(z) 2. rekordnak üres mezője van"_s});

        QByteArray beyond = good;
        beyond[309 + 18] = char(40); // the time's length, with room for 8
        reading = readTaskFile(QByteArray(beyond + "tail"));
        QCOMPARE(reading.tasks.size(), 2);
        QCOMPARE(reading.ignored,
                 QStringList({u"a(z) 2. rekordban az idő hossza 40, holott legfeljebb 8 lehet"_s,
                              u"a fájl végén 4 bájt nem ad ki egész rekordot"_s}));

        // Every cut of the file, and every byte set to its highest value: no crash, every
        // whole sound record kept, the rest named.
        for (qsizetype length = 0; length <= good.size(); ++length) {
            reading = readTaskFile(QByteArrayView(good).first(length));
            const qsizetype whole = length / kRecordSize;
            QCOMPARE(reading.tasks.size(), whole - (whole >= 2 ? 1 : 0));
            QCOMPARE(reading.ignored.size(), (whole >= 2 ? 1 : 0) + (length % kRecordSize ? 1 : 0));
        }
        for (qsizetype at = 0; at < good.size(); ++at) {
            QByteArray flipped = good;
            flipped[at] = char(0xff);
            reading = readTaskFile(flipped);
            QVERIFY(reading.tasks.size() <= 3);
            for (const LoadedTask& t : reading.tasks) {
                QVERIFY(t.task.date.size() <= kDateField && t.task.time.size() <= kTimeField);
                QVERIFY(t.task.kind.size() <= kKindField && t.task.option.size() <= kOptionField);
            }
        }
    }

    // Loading writes record k into row k and keeps the rows beyond the file; a skipped record
    // leaves its row as it was, and no empty row is ever made.
    void loadingRules()
    {
        Bench b;
        const QString file = b.path(u"two.sch"_s);
        QVERIFY(writeAll(file, writeTaskFile({command(u"Minden nap"_s, u"1:00:00"_s, u"A"_s),
                                              command(u"Minden nap"_s, u"2:00:00"_s, u"B"_s)})));
        const QList<Task> four = {command(u"Minden nap"_s, u"5:00:00"_s, u"w"_s),
                                  command(u"Minden nap"_s, u"6:00:00"_s, u"x"_s),
                                  command(u"Minden nap"_s, u"7:00:00"_s, u"y"_s),
                                  command(u"Minden nap"_s, u"8:00:00"_s, u"z"_s)};
        b.setTasks(four);
        b.scheduler.loadFile(file);
        QCOMPARE(b.scheduler.tasks().size(), 4);
        QCOMPARE(b.scheduler.tasks()[0].option, u"A"_s);
        QCOMPARE(b.scheduler.tasks()[1].option, u"B"_s);
        QCOMPARE(b.scheduler.tasks()[2], four[2]);
        QCOMPARE(b.scheduler.tasks()[3], four[3]);

        const QString gap = b.path(u"gap.sch"_s);
        QVERIFY(writeAll(gap, writeTaskFile({command(u"Minden nap"_s, u"1:00:00"_s, u"A"_s),
                                             message(u"Minden nap"_s, u"2:00:00"_s, u""_s),
                                             command(u"Minden nap"_s, u"3:00:00"_s, u"C"_s)})));
        b.setTasks(four);
        b.scheduler.loadFile(gap);
        QCOMPARE(b.scheduler.tasks().size(), 4);
        QCOMPARE(b.scheduler.tasks()[1], four[1]);
        QCOMPARE(b.scheduler.tasks()[2].option, u"C"_s);
        QCOMPARE(b.console.last(),
                 u"Ütemező: gap.sch: a(z) 2. rekordnak üres mezője van, kihagyva"_s);

        b.setTasks({});
        b.scheduler.loadFile(gap);
        QCOMPARE(b.scheduler.tasks().size(), 2);
        QCOMPARE(b.scheduler.tasks()[1].option, u"C"_s);

        // A file that is not there changes nothing.
        b.scheduler.loadFile(b.path(u"missing.sch"_s));
        QCOMPARE(b.scheduler.tasks().size(), 2);
    }

    void editorRules()
    {
        EditorValues v;
        v.date = QDate(2027, 1, 2);
        v.time = QTime(8, 5, 0);
        v.kindIndex = 0;
        v.memo = u"első\nmásodik"_s;
        QCOMPARE(taskFromEditor(v, 0),
                 message(u"2027.01.02."_s, u"8:05:00"_s, u"első\r\nmásodik"_s));
        v.everyDay = true;
        v.kindIndex = 1;
        v.edit = u"server.cfg"_s;
        QCOMPARE(taskFromEditor(v, 0),
                 task(u"Minden nap"_s, u"8:05:00"_s, u"CFG betöltés"_s, u"server.cfg"_s));
        // "Minden indításkor" wins over "Minden nap".
        v.everyStart = true;
        v.kindIndex = 4;
        QCOMPARE(taskFromEditor(v, 0), task(u"Minden indításkor"_s, u"Bármikor"_s,
                                            u"Szerver leállítás"_s, u"Nincs beállítás"_s));
        v.kindIndex = 7;
        QCOMPARE(taskFromEditor(v, 13).option, u"ProgramHIBA #13"_s);

        // Back into the editor: what is no date or time keeps the editor's own.
        EditorValues base;
        base.date = QDate(2026, 12, 8);
        base.time = QTime(12, 0, 0);
        EditorValues back =
            editorFromTask(message(u"2027.01.02."_s, u"8:05:00"_s, u"a\r\nb"_s), base);
        QCOMPARE(back.date, QDate(2027, 1, 2));
        QCOMPARE(back.time, QTime(8, 5, 0));
        QCOMPARE(back.kindIndex, 0);
        QCOMPARE(back.memo, u"a\nb"_s);
        back = editorFromTask(
            task(u"Minden indításkor"_s, u"Bármikor"_s, u"CFG betöltés"_s, u"x.cfg"_s), base);
        QVERIFY(back.everyStart && !back.everyDay);
        QCOMPARE(back.time, base.time);
        QCOMPARE(back.edit, u"x.cfg"_s);
        back = editorFromTask(task(u"2027.13.45."_s, u"20:00:0"_s, u"Valami más"_s, u"?"_s), base);
        QCOMPARE(back.date, base.date);
        QVERIFY(back.oddDate.kept());
        QCOMPARE(back.time, QTime(20, 0, 0)); // read as a person reads it
        QVERIFY(back.oddTime.read);
        QCOMPARE(back.kindIndex, -1);
    }

    // A daily task at 20:00:00 fires once a day, at its second; with the scheduler off it
    // never fires.
    void dailyTaskFiresOncePerDay()
    {
        Bench b;
        b.setTasks({command(u"Minden nap"_s, u"20:00:00"_s, u"cmd"_s)});
        QCOMPARE(b.tickAt(QTime(19, 59, 59, 500)), QStringList{});
        QVERIFY(!b.scheduler.timer().isActive());
        QCOMPARE(b.tickAt(QTime(20, 0, 0, 400)), QStringList{});

        b.clock.set(QDateTime(QDate(2026, 12, 8), QTime(19, 59, 59, 100)));
        b.switchOn();
        QVERIFY(b.scheduler.timer().isActive());
        QCOMPARE(b.scheduler.timer().interval(), 1000);
        QCOMPARE(b.tickAt(QTime(19, 59, 59, 900)), QStringList{});
        QCOMPARE(b.tickAt(QTime(20, 0, 0, 50)), kFired);
        // A second tick within the same second fires nothing more.
        QCOMPARE(b.tickAt(QTime(20, 0, 0, 990)), QStringList{});
        QCOMPARE(b.tickAt(QTime(20, 0, 1, 990)), QStringList{});
        // Next day, a tick that comes late still fires it.
        QCOMPARE(b.tickAt(QTime(19, 59, 59, 800), QDate(2026, 12, 9)), QStringList{});
        QCOMPARE(b.tickAt(QTime(20, 0, 2, 300), QDate(2026, 12, 9)), kFired);
        QCOMPARE(b.scheduler.tasks().size(), 1);

        b.settings.setFlag(Key::Scheduler, false);
        QVERIFY(!b.scheduler.timer().isActive());
        QCOMPARE(b.tickAt(QTime(20, 0, 0, 300), QDate(2026, 12, 10)), QStringList{});
    }

    // Dated tasks fire on their date only and stay in the table; tasks fire by their texts, so
    // a time not written as the program writes it never fires; tasks run at every start never
    // fire by the timer; a kind the program does not know only beeps.
    void whatFiresWhen()
    {
        Bench b;
        b.setTasks({command(u"2026.12.09."_s, u"8:00:00"_s, u"dated"_s),
                    command(u"Minden nap"_s, u"08:00:00"_s, u"padded"_s),
                    command(u"Minden indításkor"_s, u"8:00:00"_s, u"start"_s),
                    task(u"Minden nap"_s, u"8:00:00"_s, u"Kávéfőzés"_s, u"x"_s),
                    message(u"Minden nap"_s, u"8:00:00"_s, u"hello"_s)});
        b.clock.set(QDateTime(QDate(2026, 12, 8), QTime(7, 59, 59, 500)));
        b.switchOn();
        QCOMPARE(b.tickAt(QTime(8, 0, 0, 500)),
                 QStringList({u"<beep>"_s, u"<beep>"_s, u"say hello"_s}));
        b.tickAt(QTime(7, 59, 59, 500), QDate(2026, 12, 9));
        QCOMPARE(b.tickAt(QTime(8, 0, 0, 500), QDate(2026, 12, 9)),
                 QStringList({u"<beep>"_s, u"dated"_s, u"<beep>"_s, u"<beep>"_s, u"say hello"_s}));
        QCOMPARE(b.scheduler.tasks().size(), 5);
    }

    // Each kind's action, also through a double click on its row.
    void kinds()
    {
        Bench b;
        b.setTasks(
            {message(u"Minden nap"_s, u"1:00:00"_s, u"Hi"_s),
             task(u"Minden nap"_s, u"1:00:00"_s, u"CFG betöltés"_s, u"server.cfg"_s),
             command(u"Minden nap"_s, u"1:00:00"_s, u"map_rotate"_s),
             task(u"Minden nap"_s, u"1:00:00"_s, u"Szerver újraindítás"_s, u"Nincs beállítás"_s),
             task(u"Minden nap"_s, u"1:00:00"_s, u"Szerver leállítás"_s, u"Nincs beállítás"_s)});
        const QStringList expected = {u"say Hi"_s, u"exec server.cfg"_s, u"map_rotate"_s,
                                      u"<restart>"_s, u"killserver"_s};
        for (int row = 0; row < 5; ++row) {
            b.actions.clear();
            b.scheduler.fire(row);
            QCOMPARE(b.actions, QStringList({u"<beep>"_s, expected[row]}));
        }
        b.actions.clear();
        b.scheduler.fire(5);
        b.scheduler.fire(-1);
        QVERIFY(b.actions.isEmpty());
    }

    // Real time stood still (a suspended machine, a stopped program): what fell due in the last
    // quarter of an hour still fires, older is left, and the console says the timer stood.
    void stalls()
    {
        Bench b;
        b.setTasks({command(u"Minden nap"_s, u"2:30:00"_s, u"cmd"_s)});
        b.clock.set(QDateTime(QDate(2026, 12, 8), QTime(2, 14, 0)));
        b.switchOn();
        QCOMPARE(b.tickAt(QTime(2, 30, 10)), kFired);
        QCOMPARE(b.tickAt(QTime(2, 10, 0), QDate(2026, 12, 9)), QStringList{});
        QCOMPARE(b.tickAt(QTime(2, 46, 0), QDate(2026, 12, 9)), QStringList{});
        QCOMPARE(b.console.size(), 3);
        QVERIFY(b.console.last().startsWith(u"Ütemező: az időzítő 2160 másodpercig nem futott"_s));
    }

    // The clock changed by hand while real time ran on: each task fires once for each day it is
    // due, whatever the clock does, and the console calls it a clock change, not a stall.
    void clockChangedByHand()
    {
        Bench b;
        b.setTasks({command(u"Minden nap"_s, u"14:10:00"_s, u"a"_s)});
        b.clock.set(QDateTime(QDate(2026, 12, 8), QTime(14, 0, 0)));
        b.switchOn();
        QCOMPARE(b.tickAt(QTime(14, 10, 0)), QStringList({u"<beep>"_s, u"a"_s}));
        // Added after its second had passed today: not yet fired today.
        b.scheduler.append(command(u"Minden nap"_s, u"13:30:00"_s, u"b"_s));
        b.tickAt(QTime(14, 30, 0));
        b.console.clear();

        // Put back an hour and a half: "b" fires when 13:30 comes round, "a" not a second time.
        b.clock.changeClock(QDateTime(QDate(2026, 12, 8), QTime(13, 0, 0)));
        b.actions.clear();
        b.scheduler.tick();
        QCOMPARE(b.console,
                 QStringList{u"Ütemező: a gép órája átállt, 1 óra 30 perccel vissza (2026.12.08. "
                             "14:30:00 → 2026.12.08. 13:00:00); ami aznapra már lefutott, nem fut "
                             "le újra"_s});
        QCOMPARE(b.runFor(90, 60000), QStringList({u"<beep>"_s, u"b"_s}));

        // Forward two hours: the skipped tasks fire once, at the change.
        b.console.clear();
        b.clock.changeClock(QDateTime(QDate(2026, 12, 8), QTime(16, 30, 0)));
        b.setTasks({command(u"Minden nap"_s, u"15:00:00"_s, u"c"_s),
                    command(u"2026.12.08."_s, u"16:00:00"_s, u"d"_s)});
        b.actions.clear();
        b.scheduler.tick();
        QCOMPARE(b.actions, QStringList({u"<beep>"_s, u"c"_s, u"<beep>"_s, u"d"_s}));
        QCOMPARE(b.console.size(), 1);
        QVERIFY2(b.console.first().startsWith(u"Ütemező: a gép órája átállt, 2 órával előre "_s),
                 qPrintable(b.console.first()));
        QVERIFY(b.console.filter(u"nem futott"_s).isEmpty());
        // Back and forth again the same day: nothing fires twice.
        for (const QTime& at : {QTime(14, 59, 0), QTime(16, 30, 0), QTime(14, 59, 30)}) {
            b.clock.changeClock(QDateTime(QDate(2026, 12, 8), at));
            b.actions.clear();
            b.scheduler.tick();
            QVERIFY(b.actions.isEmpty());
            QCOMPARE(b.runFor(120, 30000), QStringList{});
        }
        // The next day it is due again.
        b.clock.changeClock(QDateTime(QDate(2026, 12, 9), QTime(14, 59, 59)));
        b.scheduler.tick();
        b.actions.clear();
        b.clock.advance(1000);
        b.scheduler.tick();
        QCOMPARE(b.actions, QStringList({u"<beep>"_s, u"c"_s}));
    }

    // The wall clock where summer time begins and ends: the hour that is lived twice in autumn
    // fires each task once, also one whose first pass came before the scheduler was on; the hour
    // skipped in spring fires its tasks when it is skipped. Both are said as clock changes.
    void summerTime()
    {
#ifdef Q_OS_WIN
        // Windows takes the local time zone from its own settings, not from TZ.
        const QByteArray system = QTimeZone::systemTimeZoneId();
        if (system != "Europe/Budapest" && system != "Central Europe Standard Time")
            QSKIP("Windows takes its local time zone from its own settings, not from TZ, and "
                  "here it is not Budapest's");
#endif
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "Europe/Budapest");
        ::tzset();
        const auto restore = qScopeGuard([&] {
            if (zone.isNull())
                qunsetenv("TZ");
            else
                qputenv("TZ", zone);
            ::tzset();
        });
        Bench b;
        b.setTasks({command(u"Minden nap"_s, u"2:30:00"_s, u"early"_s),
                    command(u"Minden nap"_s, u"2:50:00"_s, u"late"_s)});
        const auto stepTo = [&](const QDateTime& end, qint64 stepMs) {
            QStringList fired = b.runFor(int(b.clock.now().msecsTo(end) / stepMs), stepMs);
            fired.removeAll(u"<beep>"_s);
            return fired;
        };
        // 25 October 2026, 3:00 summer time becomes 2:00. Switched on at 2:40 summer time:
        // "late" fires in the first pass, "early" in the second.
        const QDateTime autumn = QDateTime(QDate(2026, 10, 25), QTime(1, 40, 0)).addSecs(3600);
        QCOMPARE(autumn.time(), QTime(2, 40, 0));
        QCOMPARE(autumn.addSecs(3600).time(), QTime(2, 40, 0));
        b.clock.set(autumn);
        b.switchOn();
        QCOMPARE(stepTo(autumn.addSecs(2 * 3600), 1000), QStringList({u"late"_s, u"early"_s}));
        QCOMPARE(b.console.filter(u"átállt, 1 órával vissza"_s).size(), 1);
        QVERIFY(b.console.filter(u"nem futott"_s).isEmpty());
        // Switched on before it, in steps of several minutes: each once.
        b.settings.setFlag(Key::Scheduler, false);
        const QDateTime before(QDate(2026, 10, 25), QTime(1, 50, 0));
        b.setTasks({command(u"Minden nap"_s, u"2:30:00"_s, u"early2"_s),
                    command(u"Minden nap"_s, u"2:50:00"_s, u"late2"_s)});
        b.clock.set(before);
        b.switchOn();
        QCOMPARE(stepTo(before.addSecs(3 * 3600), 600000 / 7),
                 QStringList({u"early2"_s, u"late2"_s}));
        // 28 March 2027, 2:00 becomes 3:00 summer time.
        b.settings.setFlag(Key::Scheduler, false);
        b.console.clear();
        const QDateTime spring(QDate(2027, 3, 28), QTime(1, 50, 0));
        QCOMPARE(spring.addSecs(3600).time(), QTime(3, 50, 0));
        b.clock.set(spring);
        b.switchOn();
        QCOMPARE(stepTo(spring.addSecs(3600), 1000), QStringList({u"early2"_s, u"late2"_s}));
        QCOMPARE(b.console.filter(u"átállt, 1 órával előre"_s).size(), 1);
        QVERIFY(b.console.filter(u"nem futott"_s).isEmpty());
    }

    // A failing action is reported and the other tasks of the tick still fire.
    void failingActionDoesNotStopTheOthers()
    {
        Bench b;
        b.setTasks({command(u"Minden nap"_s, u"20:00:00"_s, u"boom"_s),
                    command(u"Minden nap"_s, u"20:00:00"_s, u"cmd"_s)});
        Scheduler::Actions a;
        a.enqueueCommand = [&b](const QString& text) {
            if (text == u"boom"_s)
                throw SocketError(u"Socket Error: boom"_s);
            b.actions << text;
        };
        b.scheduler.setActions(std::move(a));
        b.clock.set(QDateTime(QDate(2026, 12, 8), QTime(19, 59, 59, 500)));
        b.switchOn();
        QCOMPARE(b.tickAt(QTime(20, 0, 0, 500)), QStringList{u"cmd"_s});
        QCOMPARE(b.errors.messages, QStringList{u"Socket Error: boom"_s});
    }

    void startTasksRunOnce()
    {
        Bench b;
        b.setTasks({command(u"Minden indításkor"_s, u"Bármikor"_s, u"first"_s),
                    command(u"Minden nap"_s, u"20:00:00"_s, u"daily"_s),
                    message(u"Minden indításkor"_s, u"Bármikor"_s, u"second"_s)});
        b.switchOn();
        b.scheduler.runStartTasksOnce();
        QCOMPARE(b.actions, QStringList({u"<beep>"_s, u"first"_s, u"<beep>"_s, u"say second"_s}));
        QCOMPARE(b.console, QStringList{u"Ütemező: 2 \"Minden indításkor\" feladat fut"_s});
        b.actions.clear();
        b.scheduler.runStartTasksOnce();
        QVERIFY(b.actions.isEmpty());

        Bench off;
        off.setTasks({command(u"Minden indításkor"_s, u"Bármikor"_s, u"first"_s)});
        off.scheduler.runStartTasksOnce();
        QVERIFY(off.actions.isEmpty() && off.console.isEmpty());
    }

    // "Scheduling.ini": written only when the window closes, and read back; a failed write
    // keeps the table as it is and the file as it was.
    void standardFile()
    {
        Bench b;
        const QString file = b.path(u"Scheduling.ini"_s);
        QCOMPARE(b.scheduler.standardFile(), file);
        b.scheduler.loadStandardFile();
        QVERIFY(b.scheduler.tasks().isEmpty());

        b.scheduler.append(command(u"Minden nap"_s, u"20:00:00"_s, QString(300, u'y')));
        QVERIFY(b.scheduler.hasUnsavedChanges());
        QVERIFY(!QFile::exists(file));
        b.scheduler.windowClosed();
        QCOMPARE(readAll(file).size(), 309);
        QCOMPARE(b.scheduler.tasks().at(0).option.size(), 255);
        QVERIFY(!b.scheduler.hasUnsavedChanges());

        // The file's place taken by a folder: the write fails, the table stays.
        QVERIFY(QFile::remove(file));
        QVERIFY(QDir(b.dir.path()).mkdir(u"Scheduling.ini"_s));
        b.scheduler.append(command(u"Minden nap"_s, u"22:00:00"_s, u"w"_s));
        QVERIFY_THROWS_EXCEPTION(FileError, b.scheduler.windowClosed());
        QCOMPARE(b.scheduler.tasks().size(), 2);
        QVERIFY(b.scheduler.lastFileError() != 0);
        QVERIFY(QDir(b.dir.path()).rmdir(u"Scheduling.ini"_s));
        b.scheduler.windowClosed();
        QCOMPARE(readAll(file).size(), 618);
        QCOMPARE(QDir(b.dir.path()).entryList(QDir::Files), QStringList{u"Scheduling.ini"_s});
    }

    // A damaged "Scheduling.ini" (records of another size, a cut-off copy, garbage) keeps its
    // bytes through any number of starts and ends; the first close of the scheduler window keeps
    // it once as "Scheduling.ini.bak" before writing the table, and a later one never
    // overwrites that copy.
    void damagedStandardFileIsKept_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray short308;
        for (int i = 0; i < 4; ++i)
            short308 += writeTaskFile({command(u"Minden nap"_s, u"1:00:0"_s + QString::number(i),
                                               u"c"_s + QString::number(i))})
                            .left(308);
        QTest::newRow("records of 308 bytes") << short308;
        const QByteArray whole = writeTaskFile({command(u"Minden nap"_s, u"1:00:00"_s, u"a"_s),
                                                command(u"Minden nap"_s, u"2:00:00"_s, u"b"_s)});
        QTest::newRow("cut off") << whole.left(whole.size() - 100);
        QByteArray garbage(5000, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 7919 + 13) % 251);
        QTest::newRow("garbage") << garbage;
    }

    void damagedStandardFileIsKept()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"Scheduling.ini"_s);
        const QString backup = file + u".bak"_s;
        QVERIFY(writeAll(file, bytes));
        for (int run = 0; run < 3; ++run) {
            FakeClock clock;
            ScriptedDialogs dialogs;
            Robot robot(dir.path() + u'/', clock, dialogs);
            robot.startUp();
            robot.close();
            QCOMPARE(readAll(file), bytes);
            QVERIFY(!QFile::exists(backup));
        }

        FakeClock clock;
        ScriptedDialogs dialogs;
        Robot robot(dir.path() + u'/', clock, dialogs);
        robot.startUp();
        const QList<Task> read = robot.scheduler().tasks();
        robot.scheduler().windowClosed();
        QCOMPARE(readAll(backup), bytes);
        QCOMPARE(readAll(file), writeTaskFile(read));
        QVERIFY(robot.console().lines().constLast().endsWith(
            u" >> Ütemező: felülírás előtt az eredeti fájl megmaradt: "_s + backup));
        robot.scheduler().append(command(u"Minden nap"_s, u"3:00:00"_s, u"new"_s));
        robot.scheduler().windowClosed();
        QCOMPARE(readAll(backup), bytes);
        QCOMPARE(robot.scheduler().tasks().size(), read.size() + 1);
        robot.close();
    }

    // A file put in place of "Scheduling.ini" while the program runs (a corrected copy) is read
    // at the close of the window, not overwritten; with changes of the table's own it is kept
    // aside first.
    void fileReplacedWhileRunning()
    {
        Bench b;
        const QString file = b.path(u"Scheduling.ini"_s);
        QVERIFY(writeAll(file, writeTaskFile({command(u"Minden nap"_s, u"1:00:00"_s, u"old"_s)})));
        b.scheduler.loadStandardFile();
        const QByteArray corrected =
            writeTaskFile({command(u"Minden nap"_s, u"1:00:00"_s, u"fixed"_s),
                           command(u"Minden nap"_s, u"2:00:00"_s, u"more"_s)});
        QVERIFY(writeAll(file, corrected));
        b.scheduler.windowClosed();
        QCOMPARE(readAll(file), corrected);
        QCOMPARE(b.scheduler.tasks().at(0).option, u"fixed"_s);
        QCOMPARE(b.scheduler.tasks().size(), 2);
        QVERIFY(b.console.last().contains(u"megváltozott"_s));

        const QByteArray third = writeTaskFile({command(u"Minden nap"_s, u"5:00:00"_s, u"x"_s)});
        QVERIFY(writeAll(file, third));
        b.scheduler.remove(1);
        b.scheduler.windowClosed();
        QCOMPARE(readAll(file + u".bak"_s), third);
        QCOMPARE(readAll(file),
                 writeTaskFile({command(u"Minden nap"_s, u"1:00:00"_s, u"fixed"_s)}));
    }

    // A large damaged file: the first few bad parts named, then one line with the count.
    void badRecordsDoNotFloodTheConsole()
    {
        Bench b;
        QByteArray bytes = writeTaskFile({command(u"Minden nap"_s, u"1:00:00"_s, u"a"_s)});
        QByteArray bad(kRecordSize, '\xff');
        for (int i = 0; i < 2000; ++i)
            bytes += bad;
        bytes += "tail";
        QVERIFY(writeAll(b.path(u"Scheduling.ini"_s), bytes));
        b.scheduler.loadStandardFile();
        QCOMPARE(b.scheduler.tasks().size(), 1);
        QCOMPARE(b.console.size(), Scheduler::kNamedAtLoad + 1);
        QCOMPARE(b.console.first(),
                 u"Ütemező: Scheduling.ini: a(z) 2. rekordban a dátum hossza 255, "
                 "holott legfeljebb 17 lehet, kihagyva"_s);
        QCOMPARE(b.console.last(), u"Ütemező: Scheduling.ini: további 1996 hibás rész kihagyva "
                                   "(összesen 2001)"_s);
    }

    // Tasks whose date or time is not in the program's form never fire: said once at load with
    // the task named, still fired by a double click; "Szerkeszt" reads what it can and keeps
    // what it cannot, never putting today's date in its place.
    void tasksThatCanNeverFire()
    {
        Bench b;
        const QList<Task> odd = {command(u"Minden nap"_s, u"09:00:01"_s, u"padded"_s),
                                 command(u"2026-12-09"_s, u"9:00:01"_s, u"dashes"_s),
                                 command(u"Minden nap"_s, u"9:00"_s, u"short"_s),
                                 command(u"minden nap"_s, u"9:00:01"_s, u"lower"_s),
                                 command(u"Minden nap"_s, u"9:00:01"_s, u"good"_s)};
        QVERIFY(writeAll(b.path(u"Scheduling.ini"_s), writeTaskFile(odd)));
        b.scheduler.loadStandardFile();
        QCOMPARE(b.console.size(), 4);
        QCOMPARE(
            b.console.at(0),
            u"Ütemező: Scheduling.ini: a(z) 1. feladat (Minden nap 09:00:01, Parancs "
            "végrehajtás: padded) soha nem fut le: az ideje („09:00:01”) nem a program "
            "alakjában áll (óra:perc:másodperc, az óra kezdő nulla nélkül, például 9:05:00)"_s);
        QVERIFY(b.console.at(1).contains(u"a(z) 2. feladat (2026-12-09 9:00:01"_s));
        QVERIFY(b.console.at(1).contains(u"a dátuma („2026-12-09”)"_s));
        QVERIFY(b.console.at(3).contains(u"a(z) 4. feladat (minden nap"_s));
        QCOMPARE(whyNeverDue(odd[4]), QString());
        QCOMPARE(whyNeverDue(task(u"Minden indításkor"_s, u"bármi"_s, u"x"_s, u"y"_s)), QString());

        // Said once: a reload says nothing more.
        b.console.clear();
        b.scheduler.loadStandardFile();
        QVERIFY(b.console.isEmpty());
        b.clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 59, 0)));
        b.switchOn();
        QCOMPARE(b.runFor(120, 1000), QStringList({u"<beep>"_s, u"good"_s}));
        b.actions.clear();
        b.scheduler.fire(0);
        QCOMPARE(b.actions, QStringList({u"<beep>"_s, u"padded"_s}));

        // Back into the editor: read as a person reads it, and written back in the program's form.
        EditorValues base;
        base.date = QDate(2026, 12, 8);
        base.time = QTime(12, 0, 0);
        EditorValues v = editorFromTask(odd[1], base);
        QCOMPARE(v.date, QDate(2026, 12, 9));
        QVERIFY(v.oddDate.read && v.oddDate.text == u"2026-12-09"_s);
        QCOMPARE(taskFromEditor(v, 0).date, u"2026.12.09."_s);
        v = editorFromTask(odd[0], base);
        QCOMPARE(v.time, QTime(9, 0, 1));
        QCOMPARE(taskFromEditor(v, 0).time, u"9:00:01"_s);
        QCOMPARE(editorFromTask(odd[2], base).time, QTime(9, 0, 0));
        v = editorFromTask(odd[3], base);
        QVERIFY(v.everyDay && v.oddDate.read);
        QCOMPARE(taskFromEditor(v, 0).date, u"Minden nap"_s);
        // What cannot be read stays as it was, not today's date or the current time.
        const Task unreadable = command(u"holnap"_s, u"délben"_s, u"x"_s);
        v = editorFromTask(unreadable, base);
        QVERIFY(v.oddDate.kept() && v.oddTime.kept());
        QCOMPARE(v.date, base.date);
        const Task back = taskFromEditor(v, 0);
        QCOMPARE(back.date, u"holnap"_s);
        QCOMPARE(back.time, u"délben"_s);
        // The operator who sets the pickers means them.
        v.oddDate = {};
        v.oddTime = {};
        QCOMPARE(taskFromEditor(v, 0).date, u"2026.12.08."_s);
    }

    // A task due while no connection is up, or a message while the robot may not write to the
    // chat, is not run: the console says which task and why.
    void taskDueWhileDisconnected()
    {
        RobotFixture f(u"pw"_s);
        f.robot.startUp();
        f.pointAtServer();
        Scheduler& s = f.robot.scheduler();
        s.append(
            task(u"Minden nap"_s, u"20:00:00"_s, u"Szerver újraindítás"_s, u"Nincs beállítás"_s));
        f.clock.set(QDateTime(QDate(2026, 12, 8), QTime(19, 59, 59, 700)));
        f.robot.settings().setFlag(Key::Scheduler, true);
        f.clock.set(QDateTime(QDate(2026, 12, 8), QTime(20, 0, 0, 200)));
        s.tick();
        QVERIFY(f.clock.waits().isEmpty()); // no countdown held the window
        QVERIFY(f.robot.console().lines().constLast().endsWith(
            u" >> Ütemező: a feladat nem ment ki (Minden nap 20:00:00, Szerver újraindítás): "
            "nincs kapcsolat a szerverrel"_s));

        f.server.setFloodGuardMs(0);
        f.robot.link().setPacerInterval(5);
        f.robot.settings().setFlag(Key::EventNotify, false);
        f.robot.link().connectAction();
        settle(f.robot.link());
        s.append(message(u"Minden nap"_s, u"20:00:01"_s, u"Hello"_s));
        f.clock.set(QDateTime(QDate(2026, 12, 8), QTime(20, 0, 1, 200)));
        s.tick();
        QVERIFY(f.robot.console().lines().constLast().endsWith(
            u"Ütemező: a feladat nem ment ki (Minden nap 20:00:01, Üzenet: Hello): a \"Vigilor "
            "beírhat közösbe\" ki van kapcsolva"_s));
    }

    // The robot's wiring, over UDP: each kind as the practice server receives it.
    void kindsAtThePracticeServer()
    {
        RobotFixture f(u"pw"_s);
        f.server.setFloodGuardMs(0);
        f.robot.startUp();
        f.pointAtServer();
        f.robot.settings().setFlag(Key::Notification, false);
        f.robot.link().setPacerInterval(5);
        f.robot.link().connectAction();
        settle(f.robot.link());
        QVERIFY(QTest::qWaitFor([&] { return f.robot.link().queue().isEmpty(); }, 5000));
        QTest::qWait(20);
        f.server.clearLog();

        Scheduler& s = f.robot.scheduler();
        for (const Task& t :
             {message(u"Minden nap"_s, u"20:00:00"_s, u"Jó estét\r\n\r\nKövetkező: mp_toujane"_s),
              task(u"Minden nap"_s, u"20:00:00"_s, u"CFG betöltés"_s, u"server.cfg"_s),
              command(u"Minden nap"_s, u"20:00:00"_s, u"g_gametype tdm"_s),
              task(u"Minden nap"_s, u"20:00:00"_s, u"Szerver leállítás"_s, u"Nincs beállítás"_s),
              task(u"2026.12.08."_s, u"20:00:00"_s, u"Szerver újraindítás"_s,
                   u"Nincs beállítás"_s)})
            s.append(t);
        f.clock.set(QDateTime(QDate(2026, 12, 8), QTime(19, 59, 59, 700)));
        f.robot.settings().setFlag(Key::Scheduler, true);
        f.clock.set(QDateTime(QDate(2026, 12, 8), QTime(20, 0, 0, 200)));
        s.tick();
        // A message of several lines goes out as one say per line.
        const QStringList expected = {
            u"say ^1vigilor^2> ^7Jó estét"_s,
            u"say ^1vigilor^2> ^7Következő: mp_toujane"_s,
            u"exec server.cfg"_s,
            u"g_gametype tdm"_s,
            u"killserver"_s,
            u"say ^1vigilor^2> ^7parancs erkezett"_s,
            u"say ^1vigilor^2> ^7^1 !!! FIGYELEM !!! ^3A szerver most ujraindul!"_s,
            u"say ^1vigilor^2> ^73"_s,
            u"say ^1vigilor^2> ^72"_s,
            u"say ^1vigilor^2> ^71"_s,
            u"quit"_s};
        QVERIFY(QTest::qWaitFor([&] { return f.server.receivedCommands().size() >= 11; }, 5000));
        QCOMPARE(f.server.receivedCommands(), expected);
        for (const testserver::RconServer::Datagram& d : f.server.datagrams())
            QVERIFY(!d.data.contains('\n') && !d.data.contains('\r'));
        QVERIFY(!f.server.isRunning());
    }

    // The tasks run at every start go out after the first connection of the run, once; the
    // task file beside the program is read at start, and the end of the program leaves it.
    void startTasksAtTheFirstConnection()
    {
        RobotFixture f(u"pw"_s);
        f.server.setFloodGuardMs(0);
        QVERIFY(writeAll(
            f.path(u"Scheduling.ini"_s),
            writeTaskFile({command(u"Minden indításkor"_s, u"Bármikor"_s, u"sv_hostname Reggel"_s),
                           command(u"Minden nap"_s, u"20:00:00"_s, u"x"_s)})));
        f.robot.startUp();
        QCOMPARE(f.robot.scheduler().tasks().size(), 2);
        f.pointAtServer();
        f.robot.settings().setFlag(Key::Notification, false);
        f.robot.settings().setFlag(Key::EventNotify, false);
        f.robot.settings().setFlag(Key::Scheduler, true);
        f.robot.link().setPacerInterval(5);
        f.robot.link().connectAction();
        settle(f.robot.link());
        QVERIFY(QTest::qWaitFor([&] { return !f.server.receivedCommands().isEmpty(); }, 5000));
        QCOMPARE(f.server.receivedCommands(), QStringList{u"sv_hostname Reggel"_s});
        const QStringList& lines = f.robot.console().lines();
        QVERIFY(std::any_of(lines.begin(), lines.end(), [](const QString& line) {
            return line.endsWith(u" >> Ütemező: 1 \"Minden indításkor\" feladat fut"_s);
        }));

        // A reconnect sends the disconnect's own last commands, and no start task again.
        f.robot.link().connectAction();
        settle(f.robot.link());
        f.robot.link().connectAction();
        settle(f.robot.link());
        QVERIFY(f.robot.link().isConnected());
        QTest::qWait(50);
        QCOMPARE(f.server.receivedCommands().count(u"sv_hostname Reggel"_s), 1);

        f.robot.scheduler().remove(1);
        f.robot.close();
        QCOMPARE(readAll(f.path(u"Scheduling.ini"_s)).size(), 618);
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "test_scheduler.moc"
