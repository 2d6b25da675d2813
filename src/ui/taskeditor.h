#pragma once

#include "scheduler/task.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTimeEdit;

namespace vigilor {
class ErrorSink;
}

namespace vigilor::ui {

// "Kalendo Scheduler": the modal editor of one task. The pickers give the date and time, the
// kind list chooses the option panel (a message, a file name or command, or none), and the two
// boxes make the task daily or one run at every start. A row whose date or time is not in the
// program's form says so above the pickers; a text it cannot read is kept unless the operator
// sets the picker.
class TaskEditor final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskEditor)

public:
    enum class Mode
    {
        Add,   // "Hozzáadás"
        Change // "Változtat"
    };

    TaskEditor(Mode mode, const scheduler::EditorValues& values, ErrorSink* errors,
               QWidget* parent = nullptr);

    scheduler::EditorValues values() const;

private:
    void kindChosen(int index);
    void updatePickers();
    void showOddTexts();

    QDateEdit* m_date;
    QTimeEdit* m_time;
    QComboBox* m_kind;
    QCheckBox* m_everyDay;
    QCheckBox* m_everyStart;
    QLabel* m_optionLabel;
    QStackedWidget* m_panels;
    QPlainTextEdit* m_memo;
    QLineEdit* m_edit;
    QPushButton* m_confirm;
    // The row's date and time texts that were not in the program's form, and what says so.
    scheduler::OddText m_oddDate;
    scheduler::OddText m_oddTime;
    QLabel* m_oddNote;
};

} // namespace vigilor::ui
