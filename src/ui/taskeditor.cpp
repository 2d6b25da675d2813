#include "ui/taskeditor.h"

#include "ui/guard.h"
#include "ui/singleline.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

// The pages of the option panel stack: nothing chosen yet, then the three panels.
enum Page
{
    NoKind,
    MemoPage,
    EditPage,
    NoOptionsPage
};

QLabel* fieldLabel(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

TaskEditor::TaskEditor(Mode mode, const scheduler::EditorValues& values, ErrorSink* errors,
                       QWidget* parent)
    : QDialog(parent), m_date(new QDateEdit(this)), m_time(new QTimeEdit(this)),
      m_kind(new QComboBox(this)), m_everyDay(new QCheckBox(scheduler::kEveryDay, this)),
      m_everyStart(new QCheckBox(scheduler::kEveryStart, this)),
      m_optionLabel(new QLabel(scheduler::kColumnTitles.at(3) + u':', this)),
      m_panels(new QStackedWidget(this)), m_memo(new QPlainTextEdit(m_panels)),
      m_edit(new QLineEdit(m_panels)),
      m_confirm(new QPushButton(mode == Mode::Add ? u"Hozzáadás"_s : u"Változtat"_s, this)),
      m_oddDate(values.oddDate), m_oddTime(values.oddTime), m_oddNote(new QLabel(this))
{
    setObjectName(u"Form3"_s);
    setWindowTitle(u"Kalendo Scheduler"_s);
    setModal(true);

    m_date->setObjectName(u"DatePicker"_s);
    m_date->setDisplayFormat(u"yyyy.MM.dd."_s);
    m_date->setCalendarPopup(true);
    m_date->setDate(values.date);
    m_time->setObjectName(u"TimePicker"_s);
    m_time->setDisplayFormat(u"H:mm:ss"_s);
    m_time->setTime(values.time);
    m_kind->setObjectName(u"ComboBox1"_s);
    m_kind->addItems(scheduler::kKindTexts);
    m_kind->setCurrentIndex(-1);
    m_everyDay->setObjectName(u"CheckBox2"_s);
    m_everyDay->setChecked(values.everyDay);
    m_everyStart->setObjectName(u"CheckBox1"_s);
    m_everyStart->setChecked(values.everyStart);

    m_memo->setObjectName(u"Memo1"_s);
    m_memo->setPlainText(values.memo);
    m_edit->setObjectName(u"Edit1"_s);
    keepOnOneLine(m_edit);
    m_edit->setText(values.edit);
    auto* noOptions = new QLabel(u"No options"_s, m_panels);
    noOptions->setObjectName(u"Panel1"_s);
    noOptions->setAlignment(Qt::AlignCenter);
    noOptions->setFrameShape(QFrame::StyledPanel);
    auto* editPage = new QWidget(m_panels);
    auto* editLayout = new QVBoxLayout(editPage);
    editLayout->setContentsMargins(0, 0, 0, 0);
    editLayout->addWidget(m_edit);
    editLayout->addStretch();
    m_panels->insertWidget(NoKind, new QWidget(m_panels));
    m_panels->insertWidget(MemoPage, m_memo);
    m_panels->insertWidget(EditPage, editPage);
    m_panels->insertWidget(NoOptionsPage, noOptions);
    m_optionLabel->setObjectName(u"OptionLabel"_s);

    m_confirm->setObjectName(u"Button2"_s);
    m_confirm->setDefault(true);
    m_confirm->setEnabled(false);
    auto* cancel = new QPushButton(u"Mégsem"_s, this);
    cancel->setObjectName(u"Button3"_s);
    cancel->setAutoDefault(false);

    m_oddNote->setObjectName(u"OddTexts"_s);
    m_oddNote->setWordWrap(true);
    m_oddNote->setStyleSheet(u"color: #c00000;"_s);

    auto* form = new QFormLayout;
    form->addRow(m_oddNote);
    form->addRow(fieldLabel(scheduler::kColumnTitles.at(0) + u':', m_date, this), m_date);
    form->addRow(fieldLabel(scheduler::kColumnTitles.at(1) + u':', m_time, this), m_time);
    form->addRow(m_everyDay);
    form->addRow(m_everyStart);
    form->addRow(fieldLabel(scheduler::kColumnTitles.at(2) + u':', m_kind, this), m_kind);
    form->addRow(m_optionLabel, m_panels);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_confirm);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(m_kind, &QComboBox::currentIndexChanged, this,
            guard(errors, [this](int index) { kindChosen(index); }));
    connect(m_everyDay, &QCheckBox::toggled, this, guard(errors, [this] { updatePickers(); }));
    connect(m_everyStart, &QCheckBox::toggled, this, guard(errors, [this] { updatePickers(); }));
    connect(m_confirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // The operator who sets a picker means its value: the row's unreadable text goes.
    connect(m_date, &QDateEdit::dateChanged, this, guard(errors, [this] {
                m_oddDate = {};
                showOddTexts();
            }));
    connect(m_time, &QTimeEdit::timeChanged, this, guard(errors, [this] {
                m_oddTime = {};
                showOddTexts();
            }));

    m_kind->setCurrentIndex(values.kindIndex);
    kindChosen(m_kind->currentIndex());
    updatePickers();
    showOddTexts();
    // A fixed border: the panels share one place, so the size never changes.
    setFixedSize(sizeHint().expandedTo(QSize(360, 0)));
}

void TaskEditor::kindChosen(int index)
{
    using scheduler::Kind;
    m_confirm->setEnabled(index >= 0);
    switch (index) {
    case int(Kind::Message):
        m_panels->setCurrentIndex(MemoPage);
        m_optionLabel->setBuddy(m_memo);
        break;
    case int(Kind::LoadCfg):
    case int(Kind::Command):
        m_panels->setCurrentIndex(EditPage);
        m_optionLabel->setBuddy(m_edit);
        break;
    case int(Kind::Restart):
    case int(Kind::Shutdown):
        m_panels->setCurrentIndex(NoOptionsPage);
        m_optionLabel->setBuddy(nullptr);
        break;
    default:
        m_panels->setCurrentIndex(NoKind);
        m_optionLabel->setBuddy(nullptr);
        break;
    }
}

void TaskEditor::updatePickers()
{
    m_date->setEnabled(!m_everyStart->isChecked() && !m_everyDay->isChecked());
    m_time->setEnabled(!m_everyStart->isChecked());
}

void TaskEditor::showOddTexts()
{
    const auto note = [](const scheduler::OddText& odd, const QString& what,
                         const QString& field) -> QString {
        if (odd.text.isEmpty())
            return QString();
        if (odd.read)
            return u"A sor "_s + what + u" („"_s + odd.text +
                   u"”) nem a program alakjában állt: a(z) "_s + field +
                   u" mező így olvasta, és így írja vissza."_s;
        return u"A sor "_s + what + u" („"_s + odd.text + u"”) nem olvasható: ha a(z) "_s + field +
               u" mezőt nem állítod be, a sor megtartja (így a feladat soha nem fut le)."_s;
    };
    QStringList lines;
    for (const QString& line :
         {note(m_oddDate, u"dátuma"_s, u"Dátum"_s), note(m_oddTime, u"ideje"_s, u"Idő"_s)}) {
        if (!line.isEmpty())
            lines << line;
    }
    m_oddNote->setText(lines.join(u'\n'));
    m_oddNote->setVisible(!lines.isEmpty());
}

scheduler::EditorValues TaskEditor::values() const
{
    scheduler::EditorValues values;
    values.everyStart = m_everyStart->isChecked();
    values.everyDay = m_everyDay->isChecked();
    values.date = m_date->date();
    values.time = m_time->time();
    values.kindIndex = m_kind->currentIndex();
    values.memo = m_memo->toPlainText();
    values.edit = m_edit->text();
    values.oddDate = m_oddDate;
    values.oddTime = m_oddTime;
    return values;
}

} // namespace vigilor::ui
