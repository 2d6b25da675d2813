// The record of acts: its lines in code page 1250 and CR LF, read back across a restart, the
// rotation by size that keeps one previous file, and a file that cannot be written.
#include "record/actrecord.h"
#include "support/fakes.h"
#include "text/cp1250.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/resource.h>
#endif

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using record::Act;
using record::ActRecord;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Act kick(const QString& who, const QString& name, const QString& why = {})
{
    return {{}, who, u"127.0.0.1"_s, u"Kirúgás"_s, u"3"_s, name, u"10.0.0.7"_s, why};
}

} // namespace

class TestRecord final : public QObject
{
    Q_OBJECT

private slots:
    // Hungarian letters go to the file as code page 1250 bytes and come back as they were; a
    // tab or a line break inside a field cannot split the line.
    void linesInCodePage1250RoundTrip()
    {
        QTemporaryDir dir;
        FakeClock clock;
        QStringList said;
        ActRecord acts(dir.path() + u'/', clock, [&](const QString& t) { said << t; });
        acts.load();
        acts.add(kick(u"Ödön"_s, u"^1Árvíztűrő\ttükörfúrógép"_s, u"csalás\r\nmásodik sor"_s));
        const QByteArray bytes = readAll(acts.path());
        QVERIFY(bytes.endsWith("\r\n"));
        QCOMPARE(bytes.count("\r\n"), 1);
        QVERIFY(bytes.contains(text::toCp1250(u"Árvíztűrő tükörfúrógép")));
        QVERIFY(!bytes.contains("\xc3")); // no UTF-8
        QVERIFY(bytes.startsWith("2026.12.08. 12:34:56\t"));

        ActRecord again(dir.path() + u'/', clock, {});
        again.load();
        const auto answer = again.find({});
        QCOMPARE(answer.acts.size(), 1);
        QCOMPARE(answer.acts[0].who, u"Ödön"_s);
        QCOMPARE(answer.acts[0].name, u"^1Árvíztűrő tükörfúrógép"_s);
        QCOMPARE(answer.acts[0].why, u"csalás  második sor"_s);
        QCOMPARE(answer.acts[0].when, u"2026.12.08. 12:34:56"_s);
        QVERIFY(said.isEmpty());
        QVERIFY(!record::decodeLine("csak\tnégy\tmező\tvan"));
    }

    // Newest first, filtered by a part of the player's name or address and by the operator,
    // counted whole but answered within the limit.
    void findsNewestFirstByPlayerAndOperator()
    {
        QTemporaryDir dir;
        FakeClock clock;
        ActRecord acts(dir.path() + u'/', clock, {});
        acts.load();
        for (int i = 0; i < 700; ++i)
            acts.add(kick(i % 2 ? u"Anna"_s : u"Béla"_s, u"Player"_s + QString::number(i)));
        acts.add(
            {{}, u"banlista"_s, {}, u"Kirúgás"_s, u"5"_s, u"Csaló"_s, u"10.9.9.9"_s, u"0 csal"_s});

        auto all = acts.find({});
        QCOMPARE(all.matched, 701);
        QCOMPARE(all.acts.size(), 100);
        QCOMPARE(all.acts[0].name, u"Csaló"_s);
        QCOMPARE(all.acts[1].name, u"Player699"_s);
        QCOMPARE(acts.find({{}, {}, 10000, 0}).acts.size(), ActRecord::kMaxAnswer);

        auto anna = acts.find({u"player69"_s, u"ANNA"_s, 100, 0});
        QStringList names;
        for (const Act& act : anna.acts)
            names << act.name;
        QCOMPARE(names, (QStringList{u"Player699"_s, u"Player697"_s, u"Player695"_s, u"Player693"_s,
                                     u"Player691"_s, u"Player69"_s}));
        QCOMPARE(acts.find({u"10.9.9"_s, {}, 100, 0}).matched, 1);
        QCOMPARE(acts.find({{}, u"127.0.0.1"_s, 100, 0}).matched, 700);
        QCOMPARE(acts.find({{}, u"bélа"_s, 100, 0}).matched, 0); // a Cyrillic a
        auto paged = acts.find({{}, u"béla"_s, 2, 3});
        QCOMPARE(paged.matched, 350);
        QCOMPARE(paged.acts.size(), 2);
        QCOMPARE(paged.acts[0].name, u"Player692"_s);
    }

    // Past the size limit the file becomes the previous one (an older previous one goes), and
    // what both hold is read back after a restart.
    void rotatesBySizeKeepingOnePreviousFile()
    {
        QTemporaryDir dir;
        FakeClock clock;
        const QString folder = dir.path() + u'/';
        ActRecord acts(folder, clock, {});
        acts.setRotateBytes(1000);
        acts.load();
        const qsizetype line = record::encodeLine(kick(u"x"_s, u"Player000"_s)).size();
        const int perFile = int(1000 / line);
        for (int i = 0; i < 3 * perFile + 2; ++i)
            acts.add(kick(u"x"_s, u"Player%1"_s.arg(i, 3, 10, QChar(u'0'))));
        QVERIFY(QFile::exists(acts.previousPath()));
        QVERIFY(readAll(acts.path()).size() <= 1000);
        QVERIFY(readAll(acts.previousPath()).size() <= 1000);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
        const qsizetype kept =
            readAll(acts.path()).count('\n') + readAll(acts.previousPath()).count('\n');
        QCOMPARE(acts.size(), kept);
        QCOMPARE(acts.find({}).acts[0].name,
                 u"Player%1"_s.arg(3 * perFile + 1, 3, 10, QChar(u'0')));

        ActRecord again(folder, clock, {});
        again.setRotateBytes(1000);
        again.load();
        QCOMPARE(again.size(), kept);
        QCOMPARE(again.find({{}, {}, 500, 0}).acts, acts.find({{}, {}, 500, 0}).acts);
    }

    // A line cut short by a kill in the middle of an append is skipped, and the next act starts
    // on a line of its own.
    void cutLastLineIsLeftBehind()
    {
        QTemporaryDir dir;
        FakeClock clock;
        const QString folder = dir.path() + u'/';
        {
            QFile file(folder + ActRecord::kFileName);
            QVERIFY(file.open(QIODevice::WriteOnly));
            Act one = kick(u"a"_s, u"One"_s);
            one.when = u"2026.12.08. 0:59:00"_s;
            file.write(record::encodeLine(one) + "2026.12.08. 1:00:00\tb\t");
        }
        ActRecord acts(folder, clock, {});
        acts.load();
        QCOMPARE(acts.size(), 1);
        acts.add(kick(u"c"_s, u"Two"_s));
        ActRecord again(folder, clock, {});
        again.load();
        QCOMPARE(again.size(), 2);
        QCOMPARE(again.find({}).acts[0].name, u"Two"_s);
    }

    // A file that may not be written, a folder in its place and a full disk: one console line
    // until a write succeeds again, the acts kept in memory, and no exception.
    void unwritableFileAndFullDiskAreSaidOnce()
    {
        QTemporaryDir dir;
        FakeClock clock;
        const QString folder = dir.path() + u'/';
        QStringList said;
        ActRecord acts(folder, clock, [&](const QString& t) { said << t; });
        acts.load();
        QVERIFY(QDir(folder).mkdir(ActRecord::kFileName)); // a folder where the file should be
        acts.add(kick(u"a"_s, u"One"_s));
        acts.add(kick(u"a"_s, u"Two"_s));
        QCOMPARE(said.size(), 1);
        QVERIFY(said[0].startsWith(u"A napló nem írható: "_s));
        QCOMPARE(acts.size(), 2);
        QVERIFY(QDir(folder).rmdir(ActRecord::kFileName));
        acts.add(kick(u"a"_s, u"Three"_s));
        QCOMPARE(said.size(), 1);
        QCOMPARE(readAll(acts.path()).count('\n'), 1);

#ifndef Q_OS_WIN
        QFile::setPermissions(acts.path(), QFileDevice::ReadOwner);
        qsizetype expectedActs = 7;
        if (!QFileInfo(acts.path()).isWritable()) { // root writes anyway
            acts.add(kick(u"a"_s, u"Four"_s));
            QCOMPARE(said.size(), 2);
            ++expectedActs;
        }
        QFile::setPermissions(acts.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        acts.add(kick(u"a"_s, u"Five"_s));
        const qsizetype saidBefore = said.size();

        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = rlim_t(readAll(acts.path()).size() + 10);
        setrlimit(RLIMIT_FSIZE, &small);
        const auto lift = qScopeGuard([&] {
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, previous);
        });
        acts.add(kick(u"a"_s, u"Six"_s));
        acts.add(kick(u"a"_s, u"Seven"_s));
        QCOMPARE(said.size(), saidBefore + 1);
        QVERIFY(said.back().startsWith(u"A napló nem írható: "_s));
        setrlimit(RLIMIT_FSIZE, &saved);
        acts.add(kick(u"a"_s, u"Eight"_s));
        QCOMPARE(said.size(), saidBefore + 1);
        ActRecord again(folder, clock, {});
        again.load();
        const auto names = [](const ActRecord::Answer& answer) {
            QStringList list;
            for (const Act& act : answer.acts)
                list << act.name;
            return list;
        };
        // The cut line of the full disk is left behind; what came before and after is there.
        const QStringList back = names(again.find({}));
        QCOMPARE(back.first(), u"Eight"_s);
        QVERIFY(back.contains(u"Five"_s));
        QVERIFY(back.contains(u"Three"_s));
        QCOMPARE(acts.size(), expectedActs);
#endif
    }
};

QTEST_GUILESS_MAIN(TestRecord)
#include "test_record.moc"
