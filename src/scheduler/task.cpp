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

Task taskFromEditor(const EditorValues& values, int lastFileError)
{
    Task task;
    if (values.everyStart)
        task.date = kEveryStart;
    else if (values.everyDay)
        task.date = kEveryDay;
    else
        task.date = text::shortDate(values.date);
    task.time = values.everyStart ? kAnyTime : text::longTime(values.time);
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
    values.everyDay = task.date == kEveryDay;
    values.everyStart = task.date == kEveryStart;
    if (!values.everyDay && !values.everyStart) {
        if (const auto date = text::parseShortDate(task.date))
            values.date = *date;
    }
    if (!values.everyStart) {
        if (const auto time = text::parseLongTime(task.time))
            values.time = *time;
    }
    const std::optional<Kind> kind = kindOf(task.kind);
    values.kindIndex = kind ? int(*kind) : -1;
    if (kind == Kind::Message)
        values.memo = QString(task.option).replace(u"\r\n"_s, u"\n"_s);
    else if (kind == Kind::LoadCfg || kind == Kind::Command)
        values.edit = task.option;
    return values;
}

} // namespace vigilor::scheduler
