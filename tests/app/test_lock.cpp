// One program per data folder: a folder another running program holds is refused with a word
// for the operator; the lock of a program that is gone is taken over, also when the system has
// given its process number to this very program (a program ended by the system at log-off
// leaves its lock behind, and the next start may get the same number), and when it was killed
// before it wrote its number into the lock.
#include "app/instancelock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace vigilor;
using namespace Qt::StringLiterals;

namespace {
const char kHolderVariable[] = "VIGILOR_LOCK_HOLDER";
}

class TestLock final : public QObject
{
    Q_OBJECT

private slots:
    void anotherRunningProgramIsRefusedAndAGoneOneTakenOver()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        QProcess holder;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kHolderVariable), folder);
        holder.setProcessEnvironment(env);
        holder.start(QCoreApplication::applicationFilePath(), {u"holdTheLock"_s});
        QByteArray said;
        QVERIFY(QTest::qWaitFor(
            [&] {
                said += holder.readAllStandardOutput();
                return said.contains("held") || holder.state() == QProcess::NotRunning;
            },
            20000));
        QVERIFY2(said.contains("held"), said.constData());

        app::DataFolderLock lock;
        QString refusal;
        QVERIFY(!lock.acquire(folder, &refusal));
        QVERIFY2(refusal.contains(u"Ezt az adatmappát már egy másik futó Vigilor használja "
                                  u"(folyamat: "_s +
                                  QString::number(holder.processId()) + u')'),
                 qPrintable(refusal));
        QVERIFY(refusal.contains(QDir::toNativeSeparators(folder)));

        // Killed, it leaves its lock: the next program takes it over.
        holder.kill();
        QVERIFY(holder.waitForFinished(10000));
        QVERIFY(QFile::exists(folder + app::DataFolderLock::kFileName));
        QVERIFY(lock.acquire(folder, &refusal));
    }

    void aLockNamingThisProgramIsTakenOver()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        // A lock file as a program left it that had this process's number: the file a lock of
        // this process writes, with nothing holding it.
        const QString path = folder + app::DataFolderLock::kFileName;
        QByteArray content;
        {
            QLockFile own(path);
            QVERIFY(own.tryLock(0));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            content = file.readAll();
        }
        QVERIFY(!QFile::exists(path));
        QFile left(path);
        QVERIFY(left.open(QIODevice::WriteOnly) && left.write(content) == content.size());
        left.close();
        app::DataFolderLock lock;
        QString refusal;
        QVERIFY2(lock.acquire(folder, &refusal), qPrintable(refusal));
    }

    void anEmptyLockIsTakenOver()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + u'/';
        QFile left(folder + app::DataFolderLock::kFileName);
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.close();
        app::DataFolderLock lock;
        QString refusal;
        QVERIFY2(lock.acquire(folder, &refusal), qPrintable(refusal));
    }

    // The child of the first test: holds the folder until it is killed.
    void holdTheLock()
    {
        const QString folder = qEnvironmentVariable(kHolderVariable);
        if (folder.isEmpty())
            QSKIP("only run as the other program of the first test");
        app::DataFolderLock lock;
        QString refusal;
        QVERIFY(lock.acquire(folder, &refusal));
        std::puts("held");
        std::fflush(stdout);
        QTest::qWait(60000);
    }
};

QTEST_GUILESS_MAIN(TestLock)
#include "test_lock.moc"
