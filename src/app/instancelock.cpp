#include "app/instancelock.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QSysInfo>

namespace vigilor::app {

namespace {

// The machine's name as QLockFile writes it into the lock.
QString lockHostName()
{
#ifdef Q_OS_WIN
    return qEnvironmentVariable("COMPUTERNAME");
#else
    return QSysInfo::machineHostName();
#endif
}

} // namespace

DataFolderLock::DataFolderLock() = default;

DataFolderLock::~DataFolderLock() = default;

bool DataFolderLock::acquire(const QString& folder, QString* refusal)
{
    auto lock = std::make_unique<QLockFile>(folder + kFileName);
    // Never stale by age: a program runs for months. A lock whose process is gone is stale.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return true;
    }
    if (lock->error() != QLockFile::LockFailedError)
        return true;
    qint64 pid = 0;
    QString host;
    QString application;
    lock->getLockInfo(&pid, &host, &application);
    // A lock naming this very process was left by an earlier program whose number the system
    // has given to this one (a program ended by the system at log-off leaves its lock): no
    // other program holds it.
    if (pid == QCoreApplication::applicationPid() && host == lockHostName() &&
        lock->removeStaleLockFile() && lock->tryLock(0)) {
        m_lock = std::move(lock);
        return true;
    }
    if (refusal)
        *refusal =
            QStringLiteral("Ezt az adatmappát már egy másik futó Vigilor használja") +
            (pid > 0 ? QStringLiteral(" (folyamat: ") + QString::number(pid) + u')' : QString()) +
            QStringLiteral(": ") + QDir::toNativeSeparators(folder) +
            QStringLiteral("\nEgy adatmappán egyszerre csak egy Vigilor futhat, ez most "
                           "kilép, és semmihez nem nyúl.");
    return false;
}

void DataFolderLock::release()
{
    if (m_lock)
        m_lock->unlock();
}

} // namespace vigilor::app
