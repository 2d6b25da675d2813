#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace vigilor::app {

// One running program per data folder: two of them would overwrite each other's settings and
// lists, and the day's log would keep only one of them. The lock is a file in the folder
// (QLockFile); the lock of a program that was killed is taken over, since its process is gone.
class DataFolderLock final
{
public:
    static inline const QString kFileName = QStringLiteral("vigilor.lock");

    DataFolderLock();
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    // Takes the lock of `folder` (with a trailing '/'). False when another running program holds
    // it; `refusal` then says so, for the operator. A folder where no lock can be made at all (a
    // read-only folder) is not refused: the program runs there as before and reports what it
    // cannot write.
    bool acquire(const QString& folder, QString* refusal);
    // Gives the lock up before the process ends without its destructors.
    void release();

private:
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace vigilor::app
