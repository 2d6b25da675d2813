#include "scheduler/task.h"

#include "text/timeformat.h"

namespace vigilor::scheduler {

using namespace Qt::StringLiterals;

std::optional<Kind> kindOf(const QString& kindText)
{
    const qsizetype index = kKindTexts.indexOf(kindText);
    if (index < 0)
        return std::nullopt;
    return static_cast<Kind>(index);
}

QString whyNeverDue(const Task& task)
{
    if (task.date == kEveryStart)
        return {};
    QStringList reasons;
    if (task.date != kEveryDay && !text::parseShortDate(task.date))
        reasons << u"a dátuma („"_s + task.date +
                       u"”) nem a program alakjában áll (év.hó.nap., például 2026.12.09.), és nem "
                       "is „Minden nap” vagy „Minden indításkor”"_s;
    if (!text::parseLongTime(task.time))
        reasons << u"az ideje („"_s + task.time +
                       u"”) nem a program alakjában áll (óra:perc:másodperc, az óra kezdő nulla "
                       "nélkül, például 9:05:00)"_s;
    return reasons.join(u", és "_s);
}

namespace {

// A date or time as a person may have written it by hand.
std::optional<QDate> readDate(const QString& text)
{
    const QString trimmed = text.trimmed();
    for (const QString& format :
         {u"yyyy.M.d."_s, u"yyyy.M.d"_s, u"yyyy. M. d."_s, u"yyyy-M-d"_s, u"yyyy/M/d"_s}) {
        const QDate date = QDate::fromString(trimmed, format);
        if (date.isValid())
            return date;
    }
    return std::nullopt;
}

std::optional<QTime> readTime(const QString& text)
{
    const QString trimmed = text.trimmed();
    for (const QString& format : {u"H:m:s"_s, u"H:m"_s, u"H.m.s"_s, u"H.m"_s}) {
        const QTime time = QTime::fromString(trimmed, format);
        if (time.isValid())
            return time;
    }
    return std::nullopt;
}

// Reads a row's text into a picker's value: in the program's form, as a person wrote it (noted),
// or not at all (the value stays, the text is kept).
template <typename T>
OddText readInto(const QString& text, std::optional<T> (*exact)(const QString&),
                 std::optional<T> (*lenient)(const QString&), T& value)
{
    if (const std::optional<T> read = exact(text)) {
        value = *read;
        return {};
    }
    if (const std::optional<T> read = lenient(text)) {
        value = *read;
        return {text, true};
    }
    return {text, false};
}

} // namespace

Task taskFromEditor(const EditorValues& values, int lastFileError)
{
    Task task;
    if (values.everyStart)
        task.date = kEveryStart;
    else if (values.everyDay)
        task.date = kEveryDay;
    else if (values.oddDate.kept())
        task.date = values.oddDate.text;
    else
        task.date = text::shortDate(values.date);
    if (values.everyStart)
        task.time = kAnyTime;
    else if (values.oddTime.kept())
        task.time = values.oddTime.text;
    else
        task.time = text::longTime(values.time);
    if (values.kindIndex >= 0 && values.kindIndex < kKindCount)
        task.kind = kKindTexts.at(values.kindIndex);
    switch (values.kindIndex) {
    case int(Kind::Message):
        task.option = QString(values.memo).replace(u"\r\n"_s, u"\n"_s).replace(u'\n', u"\r\n"_s);
        break;
    case int(Kind::LoadCfg):
    case int(Kind::Command):
        task.option = values.edit;
        break;
    case int(Kind::Restart):
    case int(Kind::Shutdown):
        task.option = kNoOptions;
        break;
    default:
        task.option = u"ProgramHIBA #"_s + QString::number(lastFileError);
        break;
    }
    return task;
}

EditorValues editorFromTask(const Task& task, const EditorValues& base)
{
    EditorValues values = base;
    values.oddDate = {};
    values.oddTime = {};
    const QString date = task.date.trimmed();
    values.everyDay = date.compare(kEveryDay, Qt::CaseInsensitive) == 0;
    values.everyStart = date.compare(kEveryStart, Qt::CaseInsensitive) == 0;
    if (values.everyDay || values.everyStart) {
        if (task.date != kEveryDay && task.date != kEveryStart)
            values.oddDate = {task.date, true};
    } else {
        values.oddDate = readInto(task.date, &text::parseShortDate, &readDate, values.date);
    }
    if (!values.everyStart)
        values.oddTime = readInto(task.time, &text::parseLongTime, &readTime, values.time);
    const std::optional<Kind> kind = kindOf(task.kind);
    values.kindIndex = kind ? int(*kind) : -1;
    if (kind == Kind::Message)
        values.memo = QString(task.option).replace(u"\r\n"_s, u"\n"_s);
    else if (kind == Kind::LoadCfg || kind == Kind::Command)
        values.edit = task.option;
    return values;
}

} // namespace vigilor::scheduler
