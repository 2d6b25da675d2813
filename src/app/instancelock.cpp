#include "app/instancelock.h"

#include <QDir>
#include <QLockFile>

namespace vigilor::app {

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
    // A lock that no running program holds any more is taken over: the file of a program
    // that was killed (perhaps before it wrote its process number into it), or whose number
    // the system has since given to another program, or to this one. A running holder keeps
    // the file locked (flock on Linux, open without sharing on Windows), so it cannot go.
    if (lock->removeStaleLockFile() && lock->tryLock(0)) {
        m_lock = std::move(lock);
        return true;
    }
    qint64 pid = 0;
    QString host;
    QString application;
    lock->getLockInfo(&pid, &host, &application);
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
