#include "scheduler/taskfile.h"

#include "text/cp1250.h"

#include <array>

namespace vigilor::scheduler {

using namespace Qt::StringLiterals;

namespace {

struct Field
{
    int size;
    QString Task::*text;
    const char16_t* name; // with its article, for the console's messages
};

const std::array<Field, 4> kFields = {{
    {kDateField, &Task::date, u"a dátum"},
    {kTimeField, &Task::time, u"az idő"},
    {kKindField, &Task::kind, u"a feladat"},
    {kOptionField, &Task::option, u"a beállítás"},
}};

} // namespace

QByteArray writeTaskFile(const QList<Task>& tasks)
{
    QByteArray bytes(tasks.size() * kRecordSize, '\0');
    char* record = bytes.data();
    for (const Task& task : tasks) {
        char* at = record;
        for (const Field& field : kFields) {
            const QByteArray text = text::toCp1250(task.*field.text).left(field.size);
            *at = static_cast<char>(text.size());
            std::copy(text.begin(), text.end(), at + 1);
            at += 1 + field.size;
        }
        record += kRecordSize;
    }
    return bytes;
}

TaskFileReading readTaskFile(QByteArrayView bytes)
{
    TaskFileReading reading;
    const qsizetype whole = bytes.size() / kRecordSize;
    for (qsizetype k = 0; k < whole; ++k) {
        const QByteArrayView record = bytes.sliced(k * kRecordSize, kRecordSize);
        const QString number = QString::number(k + 1);
        Task task;
        QString fault;
        qsizetype at = 0;
        for (const Field& field : kFields) {
            const int length = static_cast<unsigned char>(record[at]);
            if (length > field.size) {
                fault = u"a(z) "_s + number + u". rekordban "_s + QString::fromUtf16(field.name) +
                        u" hossza "_s + QString::number(length) + u", holott legfeljebb "_s +
                        QString::number(field.size) + u" lehet"_s;
                break;
            }
            task.*field.text = text::fromCp1250(record.sliced(at + 1, length));
            at += 1 + field.size;
        }
        if (fault.isEmpty() && (task.date.isEmpty() || task.time.isEmpty() || task.kind.isEmpty() ||
                                task.option.isEmpty()))
            fault = u"a(z) "_s + number + u". rekordnak üres mezője van"_s;
        if (!fault.isEmpty()) {
            reading.ignored << fault;
            continue;
        }
        reading.tasks.append({int(k + 1), std::move(task)});
    }
    if (const qsizetype rest = bytes.size() - whole * kRecordSize; rest > 0)
        reading.ignored << u"a fájl végén "_s + QString::number(rest) +
                               u" bájt nem ad ki egész rekordot"_s;
    return reading;
}

} // namespace vigilor::scheduler
