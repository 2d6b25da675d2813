#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>

namespace vigilor::scheduler {

// One row of the task table: four texts, as the table shows them and the task files keep them.
struct Task
{
    QString date;   // "Dátum": a short date, "Minden nap" or "Minden indításkor"
    QString time;   // "Idő": a long time, or "Bármikor" for a task run at every start
    QString kind;   // "Feladat": one of the kind texts below (others are kept, never run)
    QString option; // "Egyéb beállítás": the kind's option, or "Nincs beállítás"

    friend bool operator==(const Task&, const Task&) = default;
};

// The kinds in the order of the editor's list.
enum class Kind : int
{
    Message,  // SayPublic(option)
    LoadCfg,  // "exec " + option
    Command,  // the option as a command
    Restart,  // the channel command restart
    Shutdown, // killserver
};
constexpr int kKindCount = 5;

// The kinds' texts, in the order of Kind.
inline const QStringList kKindTexts = {
    QStringLiteral("Üzenet"), QStringLiteral("CFG betöltés"), QStringLiteral("Parancs végrehajtás"),
    QStringLiteral("Szerver újraindítás"), QStringLiteral("Szerver leállítás")};
// The index of a kind text, or no value for a text that is none of the five.
std::optional<Kind> kindOf(const QString& kindText);

// The task table's column titles, and the fixed texts of its cells.
inline const QStringList kColumnTitles = {QStringLiteral("Dátum"), QStringLiteral("Idő"),
                                          QStringLiteral("Feladat"),
                                          QStringLiteral("Egyéb beállítás")};
inline const QString kEveryDay = QStringLiteral("Minden nap");
inline const QString kEveryStart = QStringLiteral("Minden indításkor");
inline const QString kAnyTime = QStringLiteral("Bármikor");
inline const QString kNoOptions = QStringLiteral("Nincs beállítás");

// Why the task's date or time can never make the timer fire it: a date that is no short date
// (yyyy.MM.dd.), "Minden nap" or "Minden indításkor", or a time that is no long time (H:mm:ss)
// of a task that is not run at every start. Empty when the timer can fire it. Such a task stays
// in the table and its file as it is; a double click still fires it.
QString whyNeverDue(const Task& task);

// A row's date or time text that is not in the program's form, as the editor met it.
struct OddText
{
    QString text;      // the row's text; empty when the text was in the program's form
    bool read = false; // it could be read all the same, and the picker holds what it says
    bool kept() const { return !text.isEmpty() && !read; }
};

// What the task editor holds. The memo's line breaks are plain line feeds here; a task keeps
// them as CR LF, as the task files of the program have always held them.
struct EditorValues
{
    bool everyStart = false; // "Minden indításkor"
    bool everyDay = false;   // "Minden nap"
    QDate date;
    QTime time;
    int kindIndex = -1; // -1: nothing chosen
    QString memo;       // the message of kind 0
    QString edit;       // the file name or command of kinds 1 and 2
    // The row's date and time texts that were not in the program's form. One that could not be
    // read at all is written back unchanged unless the operator sets the picker (the editor
    // clears it then): "Változtat" never puts today's date or the current time in its place.
    OddText oddDate;
    OddText oddTime;
};

// Fills a row from the editor ("Hozzáadás", "Változtat"). An index that is no kind gives the
// option "ProgramHIBA #" and lastFileError.
Task taskFromEditor(const EditorValues& values, int lastFileError);

// Fills the editor from a row ("Szerkeszt"): the date and time texts read back, the kind chosen
// by its text. A date or time not in the program's form is read as a person would read it
// ("2026-12-09", "09:00:01", "9:00", "minden nap") and noted in oddDate / oddTime; one that
// cannot be read leaves `base`'s in the picker and is kept. A kind text that is none of the five
// leaves kindIndex at -1.
EditorValues editorFromTask(const Task& task, const EditorValues& base);

} // namespace vigilor::scheduler
