#include "ui/banstab.h"

#include "record/actrecord.h"
#include "rules/banentry.h"
#include "rules/banlist.h"
#include "rules/learninglist.h"
#include "rules/rostermenu.h"
#include "settings/settings.h"
#include "ui/guard.h"
#include "ui/settingsbinding.h"
#include "ui/singleline.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSpinBox>
#include <QVBoxLayout>

#include <functional>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

// A list box with its grade selector. The operator's selection shows the entry's grade (no item
// for a line of another form), and a click that selects nothing empties the selector; a grade
// chosen while an entry is selected re-grades that entry through the engine.
class GradedList final : public QObject
{
public:
    using GradeOf = std::function<int(int row)>;
    using SetGrade = std::function<void(int row, int grade)>;

    GradedList(ErrorSink* errors, const QString& listName, const QString& selectorName,
               GradeOf gradeOf, SetGrade setGrade, QWidget* parent)
        : QObject(parent), m_errors(errors), m_list(new QListWidget(parent)),
          m_selector(new QComboBox(parent)), m_gradeOf(std::move(gradeOf)),
          m_setGrade(std::move(setGrade))
    {
        m_list->setObjectName(listName);
        m_list->viewport()->installEventFilter(this);
        m_selector->setObjectName(selectorName);
        m_selector->addItems(rules::gradeCaptions());
        connect(m_list, &QListWidget::itemSelectionChanged, this, guard(errors, [this] {
                    if (!m_quiet)
                        m_selector->setCurrentIndex(m_gradeOf(selectedRow()));
                }));
        connect(m_selector, &QComboBox::activated, this, guard(errors, [this](int grade) {
                    if (const int row = selectedRow(); row >= 0)
                        m_setGrade(row, grade);
                }));
    }

    QListWidget* list() const { return m_list; }
    QComboBox* selector() const { return m_selector; }

    int selectedRow() const
    {
        const QList<QListWidgetItem*> selected = m_list->selectedItems();
        return selected.isEmpty() ? -1 : m_list->row(selected.constFirst());
    }

    // The selector keeps what it shows.
    void clearSelection()
    {
        const QScopedValueRollback quiet(m_quiet, true);
        m_list->clearSelection();
    }

    // Updates the items in place, so the view keeps its scroll position. The selected entry
    // stays selected where it went, and so does one that changed in place (a new grade).
    void show(const QStringList& entries)
    {
        const int row = selectedRow();
        const QString line = row >= 0 ? m_list->item(row)->text() : QString();
        const bool sameSize = entries.size() == m_list->count();
        const QScopedValueRollback quiet(m_quiet, true);
        while (m_list->count() > entries.size())
            delete m_list->takeItem(m_list->count() - 1);
        for (int i = 0; i < entries.size(); ++i) {
            if (i == m_list->count())
                m_list->addItem(entries[i]);
            else if (m_list->item(i)->text() != entries[i])
                m_list->item(i)->setText(entries[i]);
        }
        int keep = -1;
        if (row >= 0) {
            keep = row < entries.size() && entries[row] == line ? row : int(entries.indexOf(line));
            if (keep < 0 && sameSize)
                keep = row;
        }
        if (keep < 0) {
            m_list->clearSelection();
            return;
        }
        m_list->setCurrentRow(keep);
        m_selector->setCurrentIndex(m_gradeOf(keep));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonPress &&
            !m_list->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).isValid()) {
            guarded(m_errors, [this] {
                clearSelection();
                m_selector->setCurrentIndex(-1);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    ErrorSink* m_errors;
    QListWidget* m_list;
    QComboBox* m_selector;
    GradeOf m_gradeOf;
    SetGrade m_setGrade;
    bool m_quiet = false; // selection changes of the program's own leave the selector alone
};

namespace {

QPushButton* button(ErrorSink* errors, const QString& name, const QString& caption, QWidget* parent,
                    std::function<void()> click)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    QObject::connect(button, &QPushButton::clicked, button,
                     guard(errors, [click = std::move(click)] { click(); }));
    return button;
}

} // namespace

BansTab::BansTab(const SettingsBinding& bound, rules::BanList& banList,
                 rules::LearningList& learning, rules::RosterMenu& menu, record::ActRecord& record,
                 QWidget* parent)
    : QWidget(parent), m_bound(bound), m_banList(banList), m_learningList(learning),
      m_record(record)
{
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(buildBanSide(), 1);
    layout->addWidget(buildLearningSide(), 1);

    // A ban from the player table's menu or from the game starts from a clean form.
    connect(&menu, &rules::RosterMenu::banFormReset, this, guard(m_bound.errors, [this] {
        m_bans->clearSelection();
        m_bans->selector()->setCurrentIndex(0);
        m_text->clear();
    }));
}

QWidget* BansTab::buildBanSide()
{
    auto* side = new QWidget(this);
    Settings& settings = m_bound.settings;
    rules::BanList& banList = m_banList;
    m_bans = new GradedList(
        m_bound.errors, u"banlistbox"_s, u"ComboBox1"_s,
        [&banList](int row) { return banList.gradeOf(row); },
        [this, &banList](int row, int grade) {
            const QString line = banList.entries().value(row);
            banList.setGrade(row, grade);
            if (!line.isEmpty() && rules::entryGrade(line) != grade)
                recordBanAct(QStringLiteral("Banlista fokozat"), rules::entryText(line),
                             rules::gradeCaptions().value(grade));
        },
        side);
    m_bans->show(settings.banList());
    connect(&settings, &Settings::banListChanged, this,
            guard(m_bound.errors, [this, &settings] { m_bans->show(settings.banList()); }));

    m_text = new QLineEdit(side);
    m_text->setObjectName(u"Edit5"_s);
    keepOnOneLine(m_text);
    m_text->installEventFilter(this);
    connect(m_text, &QLineEdit::returnPressed, this, guard(m_bound.errors, [this] { addClick(); }));
    auto* textLabel = new QLabel(u"Név vagy IP cím:"_s, side);
    textLabel->setObjectName(u"Edit5Label"_s);
    textLabel->setBuddy(m_text);
    QPushButton* add = button(m_bound.errors, u"Button3"_s, u"+"_s, side, [this] { addClick(); });
    QPushButton* remove = button(m_bound.errors, u"Button4"_s, u"-"_s, side, [this, &banList] {
        const QString line = banList.entries().value(m_bans->selectedRow());
        banList.remove(m_bans->selectedRow());
        if (!line.isEmpty())
            recordBanAct(QStringLiteral("Banlista -"), rules::entryText(line),
                         rules::gradeCaptions().value(rules::entryGrade(line)));
    });
    // One sign each: square buttons as high as the field, which keeps the room.
    const int height = m_text->sizeHint().height();
    for (QPushButton* sign : {add, remove}) {
        sign->setFixedSize(height, height);
        sign->setToolTip(sign == add ? u"Bejegyzés hozzáadása"_s : u"Kijelölt bejegyzés törlése"_s);
    }
    auto* edit = new QHBoxLayout;
    edit->addWidget(textLabel);
    edit->addWidget(m_text, 1);
    edit->addWidget(add);
    edit->addWidget(remove);

    const KeyInfo& info = keyInfo(Key::TimeInterval);
    QSpinBox* interval = numberField(u"SpinEdit1"_s, info.minimum, info.maximum, side);
    interval->setValue(settings.timeInterval());
    // Only the operator's changes go back: the model's own setting has run its reaction.
    connect(interval, &QSpinBox::valueChanged, this,
            guard(m_bound.errors, [&settings](int seconds) {
                if (seconds != settings.timeInterval())
                    settings.setTimeInterval(seconds);
            }));
    connect(&settings, &Settings::timeIntervalSet, interval,
            guard(m_bound.errors, [interval](int seconds) { interval->setValue(seconds); }));
    auto* label = new QLabel(QString::fromUtf16(info.caption), side);
    label->setBuddy(interval);
    auto* period = new QHBoxLayout;
    period->addWidget(label);
    period->addWidget(interval);
    period->addStretch();

    auto* column = new QVBoxLayout(side);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(switchBox(m_bound, Key::TestBans, u"CheckBox11"_s, side));
    column->addWidget(m_bans->list(), 1);
    column->addWidget(m_bans->selector());
    column->addLayout(edit);
    column->addLayout(period);
    return side;
}

QWidget* BansTab::buildLearningSide()
{
    auto* side = new QWidget(this);
    rules::LearningList& learning = m_learningList;
    m_learning = new GradedList(
        m_bound.errors, u"learningbanlist"_s, u"ComboBox2"_s,
        [&learning](int row) { return learning.gradeOf(row); },
        [&learning](int row, int grade) { learning.setGrade(row, grade); }, side);
    m_learning->show(learning.entries());
    connect(&learning, &rules::LearningList::changed, this,
            guard(m_bound.errors, [this, &learning] { m_learning->show(learning.entries()); }));

    auto* listLabel = new QLabel(u"Megjegyzett IP címek:"_s, side);
    listLabel->setObjectName(u"learningbanlistLabel"_s);
    listLabel->setBuddy(m_learning->list());

    auto* column = new QVBoxLayout(side);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(listLabel);
    column->addWidget(m_learning->list(), 1);
    column->addWidget(m_learning->selector());
    auto* remove = new QHBoxLayout;
    remove->addWidget(button(m_bound.errors, u"Button11"_s, u"Eltávolítás"_s, side,
                             [this, &learning] { learning.remove(m_learning->selectedRow()); }));
    remove->addStretch();
    column->addLayout(remove);
    const std::pair<Key, QString> switches[] = {
        {Key::LearningBan, u"CheckBox12"_s},        {Key::WarnOnLBhit, u"CheckBox17"_s},
        {Key::ClearAtMidnight, u"CheckBox13"_s},    {Key::RememberBanned, u"CheckBox16"_s},
        {Key::RememberSpectators, u"CheckBox18"_s}, {Key::RememberExploded, u"CheckBox19"_s},
        {Key::RememberKilled, u"CheckBox20"_s},
    };
    for (const auto& [key, name] : switches)
        column->addWidget(switchBox(m_bound, key, name, side));
    return side;
}

// "+", and Enter in the text field.
void BansTab::addClick()
{
    const QString text = m_text->text();
    const int grade = m_bans->selector()->currentIndex();
    m_banList.add(text, grade);
    m_text->clear();
    if (!text.isEmpty())
        recordBanAct(QStringLiteral("Banlista +"), text, rules::gradeCaptions().value(grade));
}

void BansTab::recordBanAct(const QString& what, const QString& entry, const QString& grade)
{
    m_record.add({{}, record::kWindow, {}, what, {}, entry, {}, grade});
}

// The text field taking the focus ends the ban list's selection, so that a grade chosen for the
// new entry re-grades nothing.
bool BansTab::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_text && event->type() == QEvent::FocusIn)
        guarded(m_bound.errors, [this] { m_bans->clearSelection(); });
    return QWidget::eventFilter(watched, event);
}

} // namespace vigilor::ui
