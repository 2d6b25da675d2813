#pragma once

#include "scheduler/task.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringList>

namespace vigilor::scheduler {

// A task file ("Scheduling.ini" beside the program, or a "*.sch" the operator chose) is a row
// of fixed records of 309 bytes, one per task in table order, with no header. A record holds
// four fields, each a length byte followed by room for that many code page 1250 characters:
// the date (17), the time (8), the kind (25) and the option (255). Bytes of a field beyond its
// length mean nothing.
constexpr int kDateField = 17;
constexpr int kTimeField = 8;
constexpr int kKindField = 25;
constexpr int kOptionField = 255;
constexpr int kRecordSize = 4 + kDateField + kTimeField + kKindField + kOptionField; // 309

// The records of the tasks, texts longer than their field cut to it.
QByteArray writeTaskFile(const QList<Task>& tasks);

struct LoadedTask
{
    int record = 0; // counted from 1; the row the task belongs in
    Task task;
};

struct TaskFileReading
{
    QList<LoadedTask> tasks; // the sound records whose four texts are all given, in order
    QStringList ignored;     // one Hungarian phrase for each part of the file left out
};

// Reads as much of a task file as is sound. A record with an empty text is left out (its row
// number stays unused), so is a record whose length byte claims more than its field holds, and
// so are bytes at the end that make no whole record. Never throws.
TaskFileReading readTaskFile(QByteArrayView bytes);

} // namespace vigilor::scheduler
