// The scheduler window "Parancs ütemező" and its editor "Kalendo Scheduler", driven through the
// real main window under the offscreen platform: the menu item, the bar's buttons, the modal
// editor and the file dialogs as an operator meets them, and a double click that reaches the
// practice server.
#include "scheduler/taskfile.h"
#include "ui/schedulerwindow.h"
#include "windowfixture.h"
#include "support/files.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include <memory>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using scheduler::Task;

using vigilor::test::readAll;

namespace {

QPushButton* button(QWidget* parent, const QString& caption)
{
    for (QPushButton* b : parent->findChildren<QPushButton*>()) {
        if (b->text() == caption)
            return b;
    }
    return nullptr;
}

QCheckBox* checkBox(QWidget* parent, const QString& caption)
{
    for (QCheckBox* b : parent->findChildren<QCheckBox*>()) {
        if (b->text() == caption)
            return b;
    }
    return nullptr;
}

// The field a label names, as a screen reader finds it.
template <typename T> T* labelled(QWidget* parent, const QString& caption)
{
    for (QLabel* label : parent->findChildren<QLabel*>()) {
        if (label->text() == caption)
            return qobject_cast<T*>(label->buddy());
    }
    return nullptr;
}

void click(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(6, widget->height() / 2));
}

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        if (c == u'\n')
            QTest::keyClick(widget, Qt::Key_Return);
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// Chooses a kind the way a keyboard user does: the list opened and walked with the arrows.
void chooseKind(QComboBox* kinds, int index)
{
    kinds->setFocus();
    if (kinds->currentIndex() < 0)
        QTest::keyClick(kinds, Qt::Key_Down);
    while (kinds->currentIndex() != index)
        QTest::keyClick(kinds, kinds->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
}

// Runs `work` on the next modal dialog of type T once it is on the screen; the caller then
// does what opens it. A dialog the work leaves open is cancelled, so a failed check never
// leaves the test waiting. The watch ends with the object.
struct ModalWatch
{
    QTimer poll;
    bool came = false;
};

template <typename T, typename Work> std::unique_ptr<ModalWatch> whenModal(Work work)
{
    auto watch = std::make_unique<ModalWatch>();
    ModalWatch* w = watch.get();
    w->poll.setInterval(10);
    QObject::connect(&w->poll, &QTimer::timeout, &w->poll, [w, work] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        w->poll.stop();
        w->came = true;
        work(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    w->poll.start();
    return watch;
}

// A file name typed into the dialog's name field, then Enter.
void typeName(QFileDialog* dialog, const QString& name)
{
    auto* field = dialog->findChild<QLineEdit*>(u"fileNameEdit"_s);
    QVERIFY(field);
    field->clear();
    QTest::keyClicks(field, name);
    QTest::keyClick(field, Qt::Key_Return);
    // A completion list that took the first Enter takes no second one.
    if (dialog->isVisible())
        QTest::keyClick(field, Qt::Key_Return);
}

QStringList rowTexts(const QTableWidget* table, int row)
{
    QStringList texts;
    for (int column = 0; column < table->columnCount(); ++column)
        texts << (table->item(row, column) ? table->item(row, column)->text() : u"<none>"_s);
    return texts;
}

struct Harness : WindowFixture
{
    QPointer<ui::SchedulerWindow> scheduler = window.schedulerWindow();

    Harness() : WindowFixture(u"pw"_s)
    {
        robot.startUp();
        robot.loadSettings();
    }
    QTableWidget* table() const { return scheduler->findChild<QTableWidget*>(); }
    // Daily command tasks, one for each command.
    void addCommands(const QStringList& commands)
    {
        for (const QString& command : commands)
            robot.scheduler().append(
                Task{u"Minden nap"_s, u"20:00:00"_s, u"Parancs végrehajtás"_s, command});
    }
    // "[Ütemező]" in the main menu.
    bool open()
    {
        for (QAction* item : window.menuBar()->actions()) {
            if (item->text() == u"[Ütemező]"_s)
                item->trigger();
        }
        return QTest::qWaitForWindowExposed(scheduler);
    }
    void selectRow(int row)
    {
        const QRect cell = table()->visualRect(table()->model()->index(row, 0));
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cell.center());
    }
};

} // namespace

class TestSchedulerWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowLivesForTheWholeRun();
    void editorAddsAndChanges();
    void editorPanelsAndPickers();
    void deleteAndRowsWithoutTasks();
    void unknownKindInTheEditor();
    void fileDialogs();
    void doubleClickFires();
    void tasksThatCanNeverFire();
    void programEndWritesOnlyAnOpenWindow();

private:
    QTemporaryDir m_config;
};

void TestSchedulerWindow::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

// Made hidden at start, shown by "[Ütemező]" (which stands before the public ban list and the
// robot's menu), captioned by the switch, its columns sized on resize; closing writes
// "Scheduling.ini" and only hides it.
void TestSchedulerWindow::windowLivesForTheWholeRun()
{
    Harness h;
    QVERIFY(h.scheduler);
    QVERIFY(!h.scheduler->isVisible());
    QStringList menu;
    for (const QAction* item : h.window.menuBar()->actions())
        menu << item->text();
    const qsizetype at = menu.indexOf(u"[Ütemező]"_s);
    QVERIFY2(at >= 0, qPrintable(menu.join(u'|')));
    QVERIFY(menu.at(at + 1) == u"[Nyilvános banlista]"_s ||
            menu.at(at + 1) == u"[ !! Vigilor !! ]"_s);

    QVERIFY(h.open());
    QCOMPARE(h.scheduler->windowTitle(), u"Parancs ütemező - [KIKAPCSOLVA]"_s);
    QTableWidget* table = h.table();
    QCOMPARE(table->columnCount(), 4);
    for (int column = 0; column < 4; ++column)
        QCOMPARE(table->horizontalHeaderItem(column)->text(), scheduler::kColumnTitles.at(column));
    QVERIFY(table->horizontalHeader()->font().bold());
    // At the default size and any other that holds them, the columns fit the table: no
    // horizontal scroll bar hides "Dátum", also with the last column clicked.
    for (const QSize& size : {h.scheduler->size(), QSize(800, 320), QSize(600, 300)}) {
        h.addCommands({u"a"_s});
        h.scheduler->resize(size);
        QTest::qWait(10);
        QCOMPARE(table->columnWidth(0), 120);
        QCOMPARE(table->columnWidth(1), 100);
        QCOMPARE(table->columnWidth(2), 150);
        const int inside = table->viewport()->width();
        QVERIFY2(120 + 100 + 150 + table->columnWidth(3) <= inside,
                 qPrintable(QString::number(table->columnWidth(3))));
        QVERIFY(table->columnWidth(3) >= inside - 370 - 1);
        const QRect last = table->visualRect(table->model()->index(0, 3));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, last.center());
        QVERIFY(!table->horizontalScrollBar()->isVisible());
        QCOMPARE(table->horizontalScrollBar()->value(), 0);
    }
    h.robot.scheduler().remove(0);
    h.robot.scheduler().remove(0);
    h.robot.scheduler().remove(0);

    // The switch on the settings tab: the timer runs, the caption follows.
    h.window.showTab(ui::MainWindow::Tab::Settings);
    QVERIFY(h.showActive());
    QCheckBox* enable =
        checkBox(h.window.page(ui::MainWindow::Tab::Settings), u"Parancs ütemező engedélyezése"_s);
    QVERIFY(enable);
    QCOMPARE(enable->objectName(), u"CheckBox15"_s);
    QVERIFY(!h.robot.scheduler().timer().isActive());
    click(enable);
    QVERIFY(h.robot.settings().flag(Key::Scheduler));
    QVERIFY(h.robot.scheduler().timer().isActive());
    QCOMPARE(h.scheduler->windowTitle(), u"Parancs ütemező"_s);

    h.robot.scheduler().append(
        Task{u"Minden nap"_s, u"20:00:00"_s, u"Szerver leállítás"_s, u"Nincs beállítás"_s});
    QVERIFY(!QFile::exists(h.path(u"Scheduling.ini"_s)));
    h.scheduler->close();
    QVERIFY(h.scheduler); // never destroyed
    QVERIFY(!h.scheduler->isVisible());
    QCOMPARE(readAll(h.path(u"Scheduling.ini"_s)).size(), 309);
    h.robot.settings().setFlag(Key::Scheduler, false);
    QVERIFY(h.open());
    QCOMPARE(h.scheduler->windowTitle(), u"Parancs ütemező - [KIKAPCSOLVA]"_s);
    QCOMPARE(h.table()->rowCount(), 1);
}

// "Új" opens the empty editor at the window's place and appends the row; "Szerkeszt" opens it
// filled, with "Változtat", and writes the row back; "Mégsem" changes nothing.
void TestSchedulerWindow::editorAddsAndChanges()
{
    Harness h;
    QVERIFY(h.open());
    h.scheduler->move(140, 90);
    QTableWidget* table = h.table();

    QPoint editorAt;
    auto added = whenModal<QDialog>([&](QDialog* editor) {
        editorAt = editor->pos();
        QCOMPARE(editor->windowTitle(), u"Kalendo Scheduler"_s);
        auto* kinds = labelled<QComboBox>(editor, u"Feladat:"_s);
        QVERIFY(kinds);
        QCOMPARE(kinds->objectName(), u"ComboBox1"_s);
        QCOMPARE(kinds->currentIndex(), -1);
        QStringList items;
        for (int i = 0; i < kinds->count(); ++i)
            items << kinds->itemText(i);
        QCOMPARE(items, scheduler::kKindTexts);
        QPushButton* add = button(editor, u"Hozzáadás"_s);
        QVERIFY(add && !add->isEnabled() && add->isDefault());
        auto* date = labelled<QDateEdit>(editor, u"Dátum:"_s);
        auto* time = labelled<QTimeEdit>(editor, u"Idő:"_s);
        QVERIFY(date && time);
        QCOMPARE(date->objectName(), u"DatePicker"_s);
        QCOMPARE(time->objectName(), u"TimePicker"_s);
        QCOMPARE(date->date(), QDate(2026, 12, 8));
        QCOMPARE(time->time(), QTime(12, 34, 56));
        chooseKind(kinds, 1);
        QVERIFY(add->isEnabled());
        auto* file = labelled<QLineEdit>(editor, u"Egyéb beállítás:"_s);
        QVERIFY(file && file->isVisible());
        QCOMPARE(file->objectName(), u"Edit1"_s);
        typeText(file, u"server.cfg"_s);
        click(add);
    });
    click(button(h.scheduler, u"Új"_s));
    QVERIFY(added->came);
    QCOMPARE(editorAt, h.scheduler->pos());
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(rowTexts(table, 0),
             QStringList({u"2026.12.08."_s, u"12:34:56"_s, u"CFG betöltés"_s, u"server.cfg"_s}));
    QCOMPARE(table->selectedItems().size(), 4);

    auto changed = whenModal<QDialog>([&](QDialog* editor) {
        QVERIFY(!button(editor, u"Hozzáadás"_s));
        QPushButton* change = button(editor, u"Változtat"_s);
        QVERIFY(change && change->isEnabled());
        auto* kinds = labelled<QComboBox>(editor, u"Feladat:"_s);
        QCOMPARE(kinds->currentIndex(), 1);
        QCOMPARE(labelled<QLineEdit>(editor, u"Egyéb beállítás:"_s)->text(), u"server.cfg"_s);
        chooseKind(kinds, 0);
        auto* memo = labelled<QPlainTextEdit>(editor, u"Egyéb beállítás:"_s);
        QVERIFY(memo && memo->isVisible());
        QCOMPARE(memo->objectName(), u"Memo1"_s);
        QVERIFY(!editor->findChild<QLineEdit*>(u"Edit1"_s)->isVisible());
        typeText(memo, u"Jó estét!\nKövetkező pálya"_s);
        click(checkBox(editor, u"Minden nap"_s));
        auto* time = labelled<QTimeEdit>(editor, u"Idő:"_s);
        time->setTime(QTime(20, 0, 0));
        click(change);
    });
    click(button(h.scheduler, u"Szerkeszt"_s));
    QVERIFY(changed->came);
    QCOMPARE(rowTexts(table, 0), QStringList({u"Minden nap"_s, u"20:00:00"_s, u"Üzenet"_s,
                                              u"Jó estét!\r\nKövetkező pálya"_s}));

    auto cancelled = whenModal<QDialog>([&](QDialog* editor) {
        chooseKind(labelled<QComboBox>(editor, u"Feladat:"_s), 4);
        click(button(editor, u"Mégsem"_s));
    });
    click(button(h.scheduler, u"Szerkeszt"_s));
    QVERIFY(cancelled->came);
    QCOMPARE(rowTexts(table, 0).at(2), u"Üzenet"_s);
    QCOMPARE(h.robot.scheduler().tasks().size(), 1);
}

// Only one option panel at a time; the pickers follow the two boxes, and "Minden indításkor"
// wins over "Minden nap".
void TestSchedulerWindow::editorPanelsAndPickers()
{
    Harness h;
    QVERIFY(h.open());
    auto done = whenModal<QDialog>([&](QDialog* editor) {
        auto* memo = editor->findChild<QPlainTextEdit*>(u"Memo1"_s);
        auto* edit = editor->findChild<QLineEdit*>(u"Edit1"_s);
        auto* none = editor->findChild<QLabel*>(u"Panel1"_s);
        QVERIFY(memo && edit && none);
        QCOMPARE(none->text(), u"No options"_s);
        auto* kinds = editor->findChild<QComboBox*>(u"ComboBox1"_s);
        const auto shown = [&] {
            return QList<bool>{memo->isVisible(), edit->isVisible(), none->isVisible()};
        };
        QCOMPARE(shown(), QList<bool>({false, false, false}));
        const QList<QList<bool>> panels = {{true, false, false},
                                           {false, true, false},
                                           {false, true, false},
                                           {false, false, true},
                                           {false, false, true}};
        for (int kind = 0; kind < 5; ++kind) {
            chooseKind(kinds, kind);
            QCOMPARE(shown(), panels[kind]);
        }
        auto* date = editor->findChild<QDateEdit*>(u"DatePicker"_s);
        auto* time = editor->findChild<QTimeEdit*>(u"TimePicker"_s);
        QCheckBox* everyDay = checkBox(editor, u"Minden nap"_s);
        QCheckBox* everyStart = checkBox(editor, u"Minden indításkor"_s);
        QCOMPARE(everyDay->objectName(), u"CheckBox2"_s);
        QCOMPARE(everyStart->objectName(), u"CheckBox1"_s);
        click(everyDay);
        QVERIFY(!date->isEnabled() && time->isEnabled());
        click(everyStart);
        QVERIFY(!date->isEnabled() && !time->isEnabled());
        click(everyDay);
        QVERIFY(!date->isEnabled() && !time->isEnabled());
        QTest::keyClick(editor, Qt::Key_Return); // the default button
    });
    click(button(h.scheduler, u"Új"_s));
    QVERIFY(done->came);
    QCOMPARE(rowTexts(h.table(), 0), QStringList({u"Minden indításkor"_s, u"Bármikor"_s,
                                                  u"Szerver leállítás"_s, u"Nincs beállítás"_s}));
}

// "Szerkeszt" and "Töröl" do nothing without a selected task; deleting the middle of three
// tasks moves the third up.
void TestSchedulerWindow::deleteAndRowsWithoutTasks()
{
    Harness h;
    h.addCommands({u"a"_s, u"b"_s, u"c"_s});
    QVERIFY(h.open());
    QTableWidget* table = h.table();
    QCOMPARE(table->rowCount(), 3);
    table->clearSelection();
    auto opened = whenModal<QDialog>([](QDialog* editor) { editor->reject(); });
    click(button(h.scheduler, u"Szerkeszt"_s));
    click(button(h.scheduler, u"Töröl"_s));
    QTest::qWait(50);
    QVERIFY(!opened->came);
    QCOMPARE(table->rowCount(), 3);

    h.selectRow(1);
    click(button(h.scheduler, u"Töröl"_s));
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(rowTexts(table, 1).at(3), u"c"_s);
    QCOMPARE(h.robot.scheduler().tasks().at(1).option, u"c"_s);
}

// A row whose kind the program does not know: the message, then the editor without a kind.
void TestSchedulerWindow::unknownKindInTheEditor()
{
    Harness h;
    h.robot.scheduler().append(Task{u"Minden nap"_s, u"20:00:00"_s, u"Kávéfőzés"_s, u"x"_s});
    QVERIFY(h.open());
    h.selectRow(0);
    int kindShown = 99;
    auto opened = whenModal<QDialog>([&](QDialog* editor) {
        kindShown = editor->findChild<QComboBox*>(u"ComboBox1"_s)->currentIndex();
        QVERIFY(!button(editor, u"Változtat"_s)->isEnabled());
        editor->reject();
    });
    click(button(h.scheduler, u"Szerkeszt"_s));
    QVERIFY(opened->came);
    QCOMPARE(kindShown, -1);
    QCOMPARE(h.dialogs.messages(), QStringList{u"ProgramHIBA #0"_s});
}

// "Mentés..." and "Betöltés..." through the file dialogs: the filter, the default extension,
// three tasks in 927 bytes, and a file of two records loaded over four rows.
void TestSchedulerWindow::fileDialogs()
{
    Harness h;
    h.addCommands({u"a"_s, u"b"_s, u"c"_s});
    QVERIFY(h.open());

    auto saved = whenModal<QFileDialog>([](QFileDialog* dialog) {
        QCOMPARE(dialog->nameFilters(), QStringList{u"Schedules (*.sch)"_s});
        QCOMPARE(dialog->defaultSuffix(), u"sch"_s);
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
        typeName(dialog, u"este"_s);
    });
    click(button(h.scheduler, u"Mentés..."_s));
    QVERIFY(saved->came);
    const QString file = h.path(u"este.sch"_s);
    QCOMPARE(readAll(file).size(), 927);
    QVERIFY(!QFile::exists(h.path(u"Scheduling.ini"_s))); // "Mentés..." writes only its file

    QFile two(h.path(u"ketto.sch"_s));
    QVERIFY(two.open(QIODevice::WriteOnly));
    two.write(scheduler::writeTaskFile(
        {Task{u"Minden nap"_s, u"6:00:00"_s, u"CFG betöltés"_s, u"reggel.cfg"_s},
         Task{u"Minden nap"_s, u"7:00:00"_s, u"CFG betöltés"_s, u"nappal.cfg"_s}}));
    two.close();
    h.robot.scheduler().append(
        Task{u"Minden nap"_s, u"23:00:00"_s, u"Szerver leállítás"_s, u"Nincs beállítás"_s});
    auto loaded = whenModal<QFileDialog>([&](QFileDialog* dialog) {
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(QDir(dialog->directory()).canonicalPath(), QDir(h.dir.path()).canonicalPath());
        typeName(dialog, u"ketto.sch"_s);
    });
    click(button(h.scheduler, u"Betöltés..."_s));
    QVERIFY(loaded->came);
    QTableWidget* table = h.table();
    QCOMPARE(table->rowCount(), 4);
    QCOMPARE(rowTexts(table, 0).at(3), u"reggel.cfg"_s);
    QCOMPARE(rowTexts(table, 1).at(3), u"nappal.cfg"_s);
    QCOMPARE(rowTexts(table, 2).at(3), u"c"_s);
    QCOMPARE(rowTexts(table, 3).at(2), u"Szerver leállítás"_s);
}

// A row whose task can never fire is marked, to the eye and to a screen reader; "Szerkeszt" on
// it shows what it found, reads what it can and keeps what it cannot: today's date never takes
// the place of the row's own.
void TestSchedulerWindow::tasksThatCanNeverFire()
{
    Harness h;
    scheduler::Scheduler& tasks = h.robot.scheduler();
    tasks.append(Task{u"holnap"_s, u"09:00:01"_s, u"Parancs végrehajtás"_s, u"a"_s});
    tasks.append(Task{u"Minden nap"_s, u"9:00:01"_s, u"Parancs végrehajtás"_s, u"b"_s});
    QVERIFY(h.open());
    QTableWidget* table = h.table();
    for (int column = 0; column < 4; ++column) {
        const QTableWidgetItem* bad = table->item(0, column);
        QCOMPARE(bad->foreground().color(), QColor(Qt::red));
        QVERIFY(bad->data(Qt::AccessibleDescriptionRole)
                    .toString()
                    .startsWith(u"Soha nem fut le: a dátuma („holnap”)"_s));
        QVERIFY(bad->toolTip().contains(u"az ideje („09:00:01”)"_s));
        QVERIFY(table->item(1, column)->data(Qt::AccessibleDescriptionRole).isNull());
    }

    QString note;
    auto changed = whenModal<QDialog>([&](QDialog* editor) {
        auto* odd = editor->findChild<QLabel*>(u"OddTexts"_s);
        QVERIFY(odd && odd->isVisible());
        note = odd->text();
        QCOMPARE(labelled<QTimeEdit>(editor, u"Idő:"_s)->time(), QTime(9, 0, 1));
        auto* option = labelled<QLineEdit>(editor, u"Egyéb beállítás:"_s);
        option->setText(u"changed"_s);
        click(button(editor, u"Változtat"_s));
    });
    h.selectRow(0);
    click(button(h.scheduler, u"Szerkeszt"_s));
    QVERIFY(changed->came);
    QVERIFY2(note.contains(u"A sor dátuma („holnap”) nem olvasható"_s), qPrintable(note));
    QVERIFY(note.contains(u"A sor ideje („09:00:01”) nem a program alakjában állt"_s));
    QCOMPARE(rowTexts(table, 0),
             QStringList({u"holnap"_s, u"9:00:01"_s, u"Parancs végrehajtás"_s, u"changed"_s}));

    // The operator who sets the date picker puts that date in.
    auto dated = whenModal<QDialog>([&](QDialog* editor) {
        labelled<QDateEdit>(editor, u"Dátum:"_s)->setDate(QDate(2027, 1, 2));
        QVERIFY(editor->findChild<QLabel*>(u"OddTexts"_s)->isHidden());
        click(button(editor, u"Változtat"_s));
    });
    h.selectRow(0);
    click(button(h.scheduler, u"Szerkeszt"_s));
    QVERIFY(dated->came);
    QCOMPARE(rowTexts(table, 0).at(0), u"2027.01.02."_s);
    QVERIFY(table->item(0, 0)->data(Qt::AccessibleDescriptionRole).isNull());
}

// The end of the program leaves "Scheduling.ini" alone, damaged or not, unless the scheduler
// window is open: that closes with the program, as its close box would, and writes what it
// shows, keeping a damaged file aside first.
void TestSchedulerWindow::programEndWritesOnlyAnOpenWindow()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    const QByteArray damaged =
        scheduler::writeTaskFile(
            {Task{u"Minden nap"_s, u"6:00:00"_s, u"CFG betöltés"_s, u"reggel.cfg"_s}}) +
        QByteArray(100, '\x7f');
    QFile file(folder + u"Scheduling.ini"_s);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(damaged) == damaged.size());
    file.close();
    FakeClock clock;
    ScriptedDialogs dialogs;
    for (int run = 0; run < 2; ++run) {
        Robot robot(folder, clock, dialogs);
        ui::MainWindow window(robot);
        robot.startUp();
        window.close();
        QCOMPARE(readAll(file.fileName()), damaged);
    }
    Robot robot(folder, clock, dialogs);
    ui::MainWindow window(robot);
    robot.startUp();
    window.schedulerWindow()->present();
    QVERIFY(QTest::qWaitForWindowExposed(window.schedulerWindow()));
    robot.scheduler().append(
        Task{u"Minden nap"_s, u"7:00:00"_s, u"CFG betöltés"_s, u"nappal.cfg"_s});
    window.close();
    QCOMPARE(readAll(file.fileName() + u".bak"_s), damaged);
    QCOMPARE(readAll(file.fileName()).size(), 2 * scheduler::kRecordSize);
}

// A double click fires the row at once, whatever its date and time.
void TestSchedulerWindow::doubleClickFires()
{
    Harness h;
    h.server.setFloodGuardMs(0);
    h.robot.settings().setFlag(Key::EventNotify, false);
    h.pointAtServer();
    h.robot.link().setPacerInterval(5);
    h.robot.link().connectAction();
    settle(h.robot.link());
    h.robot.scheduler().append(
        Task{u"2031.01.01."_s, u"3:00:00"_s, u"Parancs végrehajtás"_s, u"map_rotate"_s});
    QVERIFY(h.open());
    const QRect cell = h.table()->visualRect(h.table()->model()->index(0, 2));
    // A widget's double click, as the window system delivers it: a click, then the second press
    // as a double click.
    QTest::mouseClick(h.table()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(h.table()->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(QTest::qWaitFor([&] { return !h.server.receivedCommands().isEmpty(); }, 5000));
    QCOMPARE(h.server.receivedCommands(), QStringList{u"map_rotate"_s});
    QCOMPARE(h.robot.scheduler().tasks().size(), 1);
}

QTEST_MAIN(TestSchedulerWindow)
#include "test_schedulerwindow.moc"
