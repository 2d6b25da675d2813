// The tabs "Banlista" and "Keresés" and the player table's pop-up menu, on the main window of a
// whole Robot driven through its widgets under the offscreen platform; the practice server on
// 127.0.0.1 answers the link.
#include "ui/linesview.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <tuple>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using testserver::Player;
using testserver::RconServer;
using ui::MainWindow;
using Tab = MainWindow::Tab;

namespace {

const QString kPassword = u"secret"_s;

QStringList texts(const QListWidget* list)
{
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

QStringList lines(const ui::LinesView* box)
{
    const QString text = box->text();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

void click(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}

void clickRow(QListWidget* list, int row)
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}

// Below the last item: a click that selects nothing.
void clickBelowItems(QListWidget* list)
{
    const QRect last = list->visualItemRect(list->item(list->count() - 1));
    const QPoint below(last.center().x(), last.bottom() + 20);
    QVERIFY(list->viewport()->rect().contains(below));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
}

// The operator steps to a grade with the arrow keys; every step is a choice of its own.
void choose(QComboBox* box, int index)
{
    while (box->currentIndex() != index)
        QTest::keyClick(box, box->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
}

void retype(QLineEdit* field, const QString& text)
{
    field->selectAll();
    QTest::keyClicks(field, text);
    QCOMPARE(field->text(), text);
}

QList<Player> players(int count)
{
    QList<Player> list;
    for (int i = 0; i < count; ++i) {
        Player p;
        p.slot = i + 1;
        p.score = i;
        p.name = u"^1Player^7"_s + QString::number(i);
        p.address = u"10.0.0.%1:28960"_s.arg(i + 1);
        list.append(p);
    }
    return list;
}

struct Harness : WindowFixture
{
    Harness() : WindowFixture(kPassword) { robot.startUp(); }
    using WindowFixture::find;
    template <typename T = QWidget> T* find(Tab tab, const QString& name) const
    {
        T* widget = window.page(tab)->findChild<T*>(name);
        if (!widget)
            qWarning("no %s on the tab", qPrintable(name));
        return widget;
    }
    bool showTab(Tab tab)
    {
        window.showTab(tab);
        return showActive();
    }
    void connectToServer()
    {
        pointAtServer();
        robot.link().connectAction();
        settle(robot.link());
    }
    bool received(const QString& command) const
    {
        return server.receivedCommands().contains(command);
    }
};

} // namespace

class TestBansTab : public QObject
{
    Q_OBJECT

private slots:
    void banListEditing();
    void banListFollowsTheEngine();
    void switchesAndInterval();
    void labelsAndButtonSizes();
    void learningList();
    void listMenuItems();
    void listMenuActsOnTheSelectedPlayer();
    void listMenuActsOnThePlayerItOpenedOn();
    void searchTab();
    void longSearchKeepsTheWindowResponsive();
};

void TestBansTab::banListEditing()
{
    Harness h;
    QVERIFY(h.showTab(Tab::Bans));
    auto* list = h.find<QListWidget>(Tab::Bans, u"banlistbox"_s);
    auto* grade = h.find<QComboBox>(Tab::Bans, u"ComboBox1"_s);
    auto* text = h.find<QLineEdit>(Tab::Bans, u"Edit5"_s);
    auto* add = h.find(Tab::Bans, u"Button3"_s);
    auto* remove = h.find(Tab::Bans, u"Button4"_s);
    QVERIFY(list && grade && text && add && remove);
    QStringList captions;
    for (int i = 0; i < grade->count(); ++i)
        captions << grade->itemText(i);
    QCOMPARE(captions, QStringList({u"(0) Mindíg kirúg (Ban)"_s, u"(1) Ha van pontja, kirúg"_s,
                                    u"(2) Mindíg SPECTATOR (AWE 2.x)"_s,
                                    u"(3) Mindíg felrobban (-1 frag, AWE 2.x)"_s,
                                    u"(4) Mindíg Admin-Kill (nincs fragcsökkentés, AWE 2.x)"_s}));
    QCOMPARE(grade->currentIndex(), 0);
    const QStringList& entries = h.robot.settings().banList();
    const auto shows = [&](const QStringList& expected) {
        return entries == expected && texts(list) == expected;
    };

    // "+" adds the text with the chosen grade and empties the field; the list sorts ignoring
    // case (alice before Bob) and Enter in the field is "+".
    click(text);
    choose(grade, 3);
    QTest::keyClicks(text, u"Bob"_s);
    click(add);
    QVERIFY(text->text().isEmpty());
    QTest::keyClicks(text, u"alice"_s);
    click(add);
    choose(grade, 0);
    QTest::keyClicks(text, u"Zed"_s);
    QTest::keyClick(text, Qt::Key_Return);
    QVERIFY(text->text().isEmpty());
    QVERIFY(shows({u"0 Zed"_s, u"3 alice"_s, u"3 Bob"_s}));

    // Selecting shows the grade; a new grade re-grades the entry in its place.
    clickRow(list, 2);
    QCOMPARE(grade->currentIndex(), 3);
    QVERIFY(text->text().isEmpty());
    choose(grade, 1);
    QVERIFY(shows({u"0 Zed"_s, u"3 alice"_s, u"1 Bob"_s}));
    QCOMPARE(list->selectedItems(), QList<QListWidgetItem*>{list->item(2)});

    // The field taking the focus ends the selection: a grade chosen for a new entry touches no
    // entry. "+" on an equal text (case folded) re-grades instead of adding.
    click(text);
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(grade->currentIndex(), 1);
    choose(grade, 4);
    QVERIFY(shows({u"0 Zed"_s, u"3 alice"_s, u"1 Bob"_s}));
    QTest::keyClicks(text, u"BOB"_s);
    click(add);
    QVERIFY(shows({u"0 Zed"_s, u"3 alice"_s, u"4 Bob"_s}));

    // "-" deletes the selected entry and leaves nothing selected; then it does nothing.
    clickRow(list, 1);
    click(remove);
    QVERIFY(shows({u"0 Zed"_s, u"4 Bob"_s}));
    QVERIFY(list->selectedItems().isEmpty());
    click(remove);
    QVERIFY(shows({u"0 Zed"_s, u"4 Bob"_s}));

    // A click on no entry empties the selector; "+" then adds with code 0.
    clickRow(list, 1);
    clickBelowItems(list);
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(grade->currentIndex(), -1);
    click(text);
    QTest::keyClicks(text, u"dave"_s);
    click(add);
    QVERIFY(shows({u"0 dave"_s, u"0 Zed"_s, u"4 Bob"_s}));
}

void TestBansTab::banListFollowsTheEngine()
{
    Harness h;
    QVERIFY(h.showTab(Tab::Bans));
    auto* list = h.find<QListWidget>(Tab::Bans, u"banlistbox"_s);
    auto* grade = h.find<QComboBox>(Tab::Bans, u"ComboBox1"_s);
    auto* text = h.find<QLineEdit>(Tab::Bans, u"Edit5"_s);
    Settings& settings = h.robot.settings();
    settings.setBanList({u"2 Bob"_s, u"4 Eve"_s, u"no code"_s});
    QCOMPARE(texts(list), settings.banList());

    // A line of another form shows no grade.
    clickRow(list, 2);
    QCOMPARE(grade->currentIndex(), -1);

    // An entry added elsewhere moves the selected one; it stays selected.
    clickRow(list, 0);
    h.robot.rules().banList().add(u"carl"_s, 0);
    QCOMPARE(texts(list), QStringList({u"0 carl"_s, u"2 Bob"_s, u"4 Eve"_s, u"no code"_s}));
    QCOMPARE(list->selectedItems(), QList<QListWidgetItem*>{list->item(1)});
    QCOMPARE(grade->currentIndex(), 2);

    // A ban from the game resets the form: no selection, item 0, an empty field.
    text->setText(u"félig gépelt"_s);
    h.robot.interpreter().runChannelCommand(u"\"vigilor\" is:\"ban Joe\" default:\"nil\""_s);
    QVERIFY(settings.banList().contains(u"0 joe"_s));
    QCOMPARE(texts(list), settings.banList());
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(grade->currentIndex(), 0);
    QVERIFY(text->text().isEmpty());
}

void TestBansTab::switchesAndInterval()
{
    Harness h;
    Settings& settings = h.robot.settings();
    const QList<std::tuple<QString, Key, QString, bool>> switches = {
        {u"CheckBox11"_s, Key::TestBans, u"Banlista ellenőrzés"_s, true},
        {u"CheckBox12"_s, Key::LearningBan, u"IP figyelő"_s, true},
        {u"CheckBox17"_s, Key::WarnOnLBhit, u"Figyelmeztető"_s, false},
        {u"CheckBox13"_s, Key::ClearAtMidnight, u"Éjjfélkor törlés"_s, true},
        {u"CheckBox16"_s, Key::RememberBanned, u"Kitiltottak megjegyzése"_s, true},
        {u"CheckBox18"_s, Key::RememberSpectators, u"SPECTATOR-ok megjegyzése"_s, true},
        {u"CheckBox19"_s, Key::RememberExploded, u"Felrobbantandók megjegyzése"_s, true},
        {u"CheckBox20"_s, Key::RememberKilled, u"Megölendők megjegyzése"_s, true},
    };
    for (const auto& [name, key, caption, on] : switches) {
        auto* box = h.find<QCheckBox>(Tab::Bans, name);
        QVERIFY2(box, qPrintable(name));
        QCOMPARE(box->text(), caption);
        QCOMPARE(box->isChecked(), on);
        box->click();
        QCOMPARE(settings.flag(key), !on);
        settings.setFlag(key, on);
        QCOMPARE(box->isChecked(), on);
    }

    // The check interval sets the roster poll at once, both from the field and from the model.
    auto* interval = h.find<QSpinBox>(Tab::Bans, u"SpinEdit1"_s);
    QVERIFY(interval);
    QCOMPARE(interval->minimum(), 30);
    QCOMPARE(interval->maximum(), 999999);
    QCOMPARE(interval->value(), 60);
    interval->selectAll();
    QTest::keyClicks(interval, u"45"_s);
    QCOMPARE(settings.timeInterval(), 45);
    QCOMPARE(h.robot.link().rosterPoll().interval(), 45000);
    settings.setTimeInterval(120);
    QCOMPARE(interval->value(), 120);
    QCOMPARE(h.robot.link().rosterPoll().interval(), 120000);

    // A typed value outside the range is limited to the nearest bound when the operator leaves
    // the field, as a settings load limits it.
    QVERIFY(h.showTab(Tab::Bans));
    interval->setFocus();
    interval->selectAll();
    QTest::keyClicks(interval, u"5"_s);
    QVERIFY(interval->hasFocus());
    QTest::keyClick(interval, Qt::Key_Tab);
    QVERIFY(!interval->hasFocus());
    QCOMPARE(interval->value(), 30);
    QCOMPARE(settings.timeInterval(), 30);
    QCOMPARE(h.robot.link().rosterPoll().interval(), 30000);
    interval->setFocus();
    interval->selectAll();
    QTest::keyClicks(interval, u"12345678"_s);
    QTest::keyClick(interval, Qt::Key_Return);
    QCOMPARE(interval->value(), 999999);
    QCOMPARE(settings.timeInterval(), 999999);
}

// Every field has a label a screen reader announces; the one-sign buttons take little room.
void TestBansTab::labelsAndButtonSizes()
{
    Harness h;
    QVERIFY(h.showTab(Tab::Bans));
    const auto labelOf = [&](const QString& name) -> QString {
        QWidget* field = h.find(Tab::Bans, name);
        for (const QLabel* label : h.window.page(Tab::Bans)->findChildren<QLabel*>())
            if (label->buddy() == field && label->isVisible())
                return label->text();
        return {};
    };
    QCOMPARE(labelOf(u"learningbanlist"_s), u"Megjegyzett IP címek:"_s);
    QCOMPARE(labelOf(u"Edit5"_s), u"Név vagy IP cím:"_s);
    QCOMPARE(labelOf(u"SpinEdit1"_s), u"Ellenőrzési időköz (mp):"_s);

    // The captions and their order stay: the list, the selector, the field, "+", "-".
    auto* text = h.find<QLineEdit>(Tab::Bans, u"Edit5"_s);
    auto* add = h.find<QPushButton>(Tab::Bans, u"Button3"_s);
    auto* remove = h.find<QPushButton>(Tab::Bans, u"Button4"_s);
    QCOMPARE(add->text(), u"+"_s);
    QCOMPARE(remove->text(), u"-"_s);
    const auto top = [&](QWidget* w) { return w->mapTo(&h.window, QPoint()).y(); };
    const auto left = [&](QWidget* w) { return w->mapTo(&h.window, QPoint()).x(); };
    QVERIFY(top(h.find(Tab::Bans, u"banlistbox"_s)) < top(h.find(Tab::Bans, u"ComboBox1"_s)));
    QVERIFY(top(h.find(Tab::Bans, u"ComboBox1"_s)) < top(text));
    QVERIFY(left(text) < left(add) && left(add) < left(remove));
    for (QPushButton* sign : {add, remove}) {
        QVERIFY(sign->width() * 3 < text->width());
        QVERIFY(sign->width() >= sign->fontMetrics().horizontalAdvance(sign->text()));
        QCOMPARE(sign->height(), text->sizeHint().height());
    }
}

void TestBansTab::learningList()
{
    Harness h;
    QVERIFY(h.showTab(Tab::Bans));
    auto* list = h.find<QListWidget>(Tab::Bans, u"learningbanlist"_s);
    auto* grade = h.find<QComboBox>(Tab::Bans, u"ComboBox2"_s);
    auto* remove = h.find<QPushButton>(Tab::Bans, u"Button11"_s);
    QVERIFY(list && grade && remove);
    QCOMPARE(remove->text(), u"Eltávolítás"_s);
    QCOMPARE(grade->count(), 5);
    QCOMPARE(grade->currentIndex(), 0);
    rules::LearningList& learning = h.robot.rules().learning();
    const auto shows = [&](const QStringList& expected) {
        return learning.entries() == expected && texts(list) == expected;
    };

    // Unsorted, in the order remembered.
    learning.remember(4, u"10.0.0.5"_s);
    learning.remember(0, u"10.0.0.6"_s);
    QVERIFY(shows({u"4 10.0.0.5"_s, u"0 10.0.0.6"_s}));

    clickRow(list, 0);
    QCOMPARE(grade->currentIndex(), 4);
    choose(grade, 2);
    QVERIFY(shows({u"2 10.0.0.5"_s, u"0 10.0.0.6"_s}));

    // The engine's changes keep the selection; a new grade of the selected entry shows.
    learning.remember(3, u"10.0.0.7"_s);
    learning.remember(1, u"10.0.0.5"_s);
    QVERIFY(shows({u"1 10.0.0.5"_s, u"0 10.0.0.6"_s, u"3 10.0.0.7"_s}));
    QCOMPARE(list->selectedItems(), QList<QListWidgetItem*>{list->item(0)});
    QCOMPARE(grade->currentIndex(), 1);

    // Nothing selected: the selector empties, "Eltávolítás" and a grade change do nothing.
    clickBelowItems(list);
    QCOMPARE(grade->currentIndex(), -1);
    click(remove);
    choose(grade, 4);
    QVERIFY(shows({u"1 10.0.0.5"_s, u"0 10.0.0.6"_s, u"3 10.0.0.7"_s}));

    clickRow(list, 1);
    click(remove);
    QVERIFY(shows({u"1 10.0.0.5"_s, u"3 10.0.0.7"_s}));
    QVERIFY(list->selectedItems().isEmpty());

    // Emptied at the change of day.
    learning.clear();
    QCOMPARE(list->count(), 0);
}

void TestBansTab::listMenuItems()
{
    Harness h;
    auto* menu = h.find<QMenu>(Tab::Roster, u"ListMenu"_s);
    QVERIFY(menu);
    QStringList captions;
    QStringList names;
    QStringList shortcuts;
    for (const QAction* item : menu->actions()) {
        captions << (item->isSeparator() ? u"-"_s : item->text());
        if (!item->isSeparator() && item->isEnabled())
            names << item->objectName();
        if (!item->shortcut().isEmpty())
            shortcuts << item->objectName() + u' ' + item->shortcut().toString();
    }
    QCOMPARE(captions,
             QStringList({u"Frissítés"_s, u"-"_s, u"Részletes infók"_s, u"-"_s, u"Kirúgás"_s,
                          u"Kitiltás (név alapján)"_s, u"Kitiltás (IP alapján)"_s,
                          u"----- AWE szükséges -----"_s, u"Kill (min AWE 2.1x)"_s,
                          u"Felrobbant (min AWE 2.1x)"_s, u"Csapat váltás (min AWE 2.1x)"_s,
                          u"Nézelődő (min AWE 2.1x)"_s}));
    QCOMPARE(names, QStringList({u"RefreshItem"_s, u"Dump"_s, u"KickItem"_s, u"BanNameItem"_s,
                                 u"BanIPItem"_s, u"KillPlayerAWE21x1"_s, u"Smite1"_s,
                                 u"SwitchTeam1"_s, u"SpectatePlayerminAWE21x1"_s}));
    QVERIFY(!menu->actions().at(7)->isEnabled()); // the heading
    QCOMPARE(shortcuts, QStringList{u"RefreshItem F5"_s});
    QCOMPARE(h.window.findChildren<QAction*>(u"RefreshItem"_s).size(), 1);
}

void TestBansTab::listMenuActsOnTheSelectedPlayer()
{
    Harness h;
    h.server.setPlayers(players(3));
    h.connectToServer();
    QVERIFY(h.robot.link().isConnected());
    auto* table = h.find<QTableWidget>(Tab::Roster, u"Table"_s);
    QVERIFY(h.showTab(Tab::Roster));
    h.action(u"RefreshItem"_s)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 3, 10000);
    const auto select = [&](int row) {
        h.window.showTab(Tab::Roster);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualItemRect(table->item(row, 3)).center());
        QCOMPARE(table->selectionModel()->selectedRows().value(0).row(), row);
    };
    const auto sentAfter = [&](const QString& first, const QString& second) {
        const QStringList sent = h.server.receivedCommands();
        const qsizetype at = sent.lastIndexOf(first);
        return at >= 0 && sent.indexOf(second, at + 1) > at;
    };

    // Kick: the slot's kick, then a fresh list without him.
    select(1);
    QCOMPARE(table->item(1, 3)->text(), u"Player1"_s);
    h.action(u"KickItem"_s)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(sentAfter(u"clientkick 2"_s, u"status"_s), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 2, 10000);
    // On the record of acts as the window's.
    const auto lastAct = [&] { return h.robot.record().find({}).acts.value(0); };
    QCOMPARE(lastAct().who, u"ablak"_s);
    QCOMPARE(lastAct().what, u"Kirúgás"_s);
    QCOMPARE(lastAct().slot, u"2"_s);
    QCOMPARE(lastAct().name, u"Player1"_s);
    const qsizetype actsBefore = h.robot.record().size();

    // The details of the name shortened by its last character, read on the console tab.
    select(1);
    h.action(u"Dump"_s)->trigger();
    QCOMPARE(h.currentTab(), u"Konzol"_s);
    QTRY_VERIFY_WITH_TIMEOUT(h.received(u"dumpuser \"Player\""_s), 10000);
    QCOMPARE(h.robot.record().size(), actsBefore); // the details are no act on the player

    select(1);
    h.server.clearLog();
    for (const QString& name :
         {u"KillPlayerAWE21x1"_s, u"Smite1"_s, u"SwitchTeam1"_s, u"SpectatePlayerminAWE21x1"_s})
        h.action(name)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(h.server.receivedCommands().size(), 4, 15000);
    QCOMPARE(h.server.receivedCommands(), QStringList({u"g_killum 3"_s, u"g_smite 3"_s,
                                                       u"g_switchteam 3"_s, u"g_kicktospec 3"_s}));
    QCOMPARE(h.robot.record().size(), actsBefore + 4);
    QCOMPARE(lastAct().what, u"Nézelődő (min AWE 2.1x)"_s);

    // A ban by address starts from a clean form, adds the address with code 0 and asks for a
    // list, whose check then kicks the player with the reason.
    auto* bans = h.find<QListWidget>(Tab::Bans, u"banlistbox"_s);
    auto* grade = h.find<QComboBox>(Tab::Bans, u"ComboBox1"_s);
    auto* text = h.find<QLineEdit>(Tab::Bans, u"Edit5"_s);
    h.robot.settings().setBanList({u"3 nobody"_s});
    bans->setCurrentRow(0);
    grade->setCurrentIndex(3);
    text->setText(u"félig"_s);
    select(0);
    QCOMPARE(table->item(0, 4)->text(), u"10.0.0.1"_s);
    h.server.clearLog();
    h.action(u"BanIPItem"_s)->trigger();
    QCOMPARE(h.robot.settings().banList(), QStringList({u"0 10.0.0.1"_s, u"3 nobody"_s}));
    QCOMPARE(texts(bans), h.robot.settings().banList());
    QVERIFY(bans->selectedItems().isEmpty());
    QCOMPARE(grade->currentIndex(), 0);
    QVERIFY(text->text().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(sentAfter(u"status"_s, u"clientkick 1"_s), 15000);
    QCOMPARE(h.server.receivedCommands().value(0), u"status"_s);
    h.action(u"RefreshItem"_s)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, 10000);

    // By name: the table's name goes on the list.
    select(0);
    h.action(u"BanNameItem"_s)->trigger();
    QCOMPARE(h.robot.settings().banList(),
             QStringList({u"0 10.0.0.1"_s, u"0 Player2"_s, u"3 nobody"_s}));
}

void TestBansTab::listMenuActsOnThePlayerItOpenedOn()
{
    Harness h;
    h.server.setPlayers(players(3)); // slots 1, 2, 3: Player0, Player1, Player2
    h.server.setFloodGuardMs(0);
    h.connectToServer();
    h.robot.link().setPacerInterval(50);
    auto* table = h.find<QTableWidget>(Tab::Roster, u"Table"_s);
    auto* menu = h.find<QMenu>(Tab::Roster, u"ListMenu"_s);
    QVERIFY(h.showTab(Tab::Roster));
    h.robot.link().enqueueCommand(u"status"_s);
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 3, 10000);
    // The operator opens the menu on a row with the right mouse button.
    const auto openMenuOn = [&](int row) {
        const QPoint at = table->visualItemRect(table->item(row, 3)).center();
        QTest::mouseClick(table->viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
        QApplication::sendEvent(table->viewport(), &event);
        QTRY_VERIFY(menu->isVisible());
    };
    const auto choose = [&](const QString& name) {
        QAction* item = h.action(name);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        QTRY_VERIFY(!menu->isVisible());
    };
    const auto rosterWithout = [&](int slot) {
        h.server.removePlayer(slot);
        h.robot.link().enqueueCommand(u"status"_s);
    };

    // Opened on Player1 (slot 2); Player0 leaves meanwhile and the table moves up a row.
    openMenuOn(1);
    QCOMPARE(table->item(1, 3)->text(), u"Player1"_s);
    rosterWithout(1);
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 2, 10000);
    QCOMPARE(table->item(1, 3)->text(), u"Player2"_s);
    choose(u"KickItem"_s);
    QCOMPARE(h.robot.link().queue().filter(u"clientkick"_s), QStringList{u"clientkick 2"_s});
    QTRY_VERIFY_WITH_TIMEOUT(h.received(u"clientkick 2"_s), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, 10000);

    // Opened on Player2 (slot 3), who leaves and whose slot a newcomer takes: nobody is hit.
    openMenuOn(0);
    Player newcomer = players(3)[2];
    newcomer.name = u"Newcomer"_s;
    rosterWithout(3);
    h.server.addPlayer(newcomer);
    QTRY_COMPARE_WITH_TIMEOUT(table->item(0, 3)->text(), u"Newcomer"_s, 10000);
    const qsizetype sent = h.server.receivedCommands().size();
    choose(u"SwitchTeam1"_s);
    QVERIFY(h.robot.link().queue().isEmpty());
    QVERIFY(h.robot.console().lines().back().endsWith(
        u"A művelet elmarad: a 3. slotban már nem Player2 van"_s));
    QTest::qWait(200);
    QCOMPARE(h.server.receivedCommands().size(), sent);
}

void TestBansTab::searchTab()
{
    Harness h;
    QVERIFY(h.showTab(Tab::Search));
    auto* needle = h.find<QLineEdit>(Tab::Search, u"Edit7"_s);
    auto* reverse = h.find<QCheckBox>(Tab::Search, u"CheckBox21"_s);
    auto* caseSensitive = h.find<QCheckBox>(Tab::Search, u"CheckBox22"_s);
    auto* within = h.find<QCheckBox>(Tab::Search, u"CheckBox23"_s);
    auto* search = h.find<QPushButton>(Tab::Search, u"SearchBtn"_s);
    auto* clear = h.find<QPushButton>(Tab::Search, u"Button7"_s);
    auto* results = h.find<ui::LinesView>(Tab::Search, u"Search"_s);
    QVERIFY(needle && reverse && caseSensitive && within && search && clear && results);

    QVERIFY(needle->font().bold());
    QCOMPARE(needle->palette().color(QPalette::Text), QColor(Qt::white));
    QCOMPARE(needle->palette().color(QPalette::Base), QColor(0x00, 0x80, 0x80));
    QCOMPARE(reverse->text(), u"Fordított keresés"_s);
    QCOMPARE(caseSensitive->text(), u"Kis- / nagybetű megkülönböztetés"_s);
    QCOMPARE(within->text(), u"Keresés az eredmények között"_s);
    QVERIFY(!reverse->isChecked() && !caseSensitive->isChecked() && !within->isChecked());
    QCOMPARE(search->text(), u"Keresés"_s);
    QVERIFY(search->isDefault());
    QCOMPARE(clear->text(), u"Törlés"_s);
    QCOMPARE(results->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(results->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(results->palette().color(QPalette::Text), QColor(Qt::white));
    QCOMPARE(results->palette().color(QPalette::Base), QColor(0x00, 0x80, 0x80));
    QCOMPARE(results->font().families().value(0), u"Lucida Console"_s);

    const QStringList fixture = {
        u"[2026.12.08.] 12:00:01 >> Parancs küldés: \"clientkick 3\""_s,
        u"3:Bob EXE_PLAYERKICKED"_s,
        u"[2026.12.08.] 12:05:00 >> Bob-t az vigilor kirugja"_s,
        u"[2026.12.08.] 13:12:00 >> Clientkick 4"_s,
        u"*** Log break at 2026.12.08. ***"_s,
    };
    h.robot.console().appendLines(fixture);
    QSignalSpy searches(&h.robot.search(), &link::ConsoleSearch::resultsChanged);

    // Enter in the field searches the console once, letter case folded; the narrowing switch
    // turns itself on, and the next search looks in the results only.
    QTest::keyClicks(needle, u"KICK"_s);
    QTest::keyClick(needle, Qt::Key_Return);
    QCOMPARE(searches.size(), 1);
    QCOMPARE(lines(results), QStringList({fixture[0], fixture[1], fixture[3]}));
    QVERIFY(within->isChecked());
    retype(needle, u"bob"_s);
    click(search);
    QCOMPARE(lines(results), QStringList{fixture[1]});

    // "Törlés" empties the box and the field and switches narrowing off.
    click(clear);
    QCOMPARE(results->lineCount(), 0);
    QVERIFY(needle->text().isEmpty());
    QVERIFY(!within->isChecked());

    // Letter case counting, then the lines that do not hold the text.
    click(caseSensitive);
    QTest::keyClicks(needle, u"bob"_s);
    QTest::keyClick(needle, Qt::Key_Return);
    QVERIFY(lines(results).isEmpty());
    click(clear);
    QTest::keyClicks(needle, u"Bob"_s);
    QTest::keyClick(needle, Qt::Key_Return);
    QCOMPARE(lines(results), QStringList({fixture[1], fixture[2]}));
    click(clear);
    click(reverse);
    QTest::keyClicks(needle, u"Bob"_s);
    click(search);
    QStringList others = h.robot.console().lines();
    others.removeAll(fixture[1]);
    others.removeAll(fixture[2]);
    QCOMPARE(lines(results), others);

    // With narrowing switched on by hand before the first search, the empty results stay empty.
    click(clear);
    click(reverse);
    click(within);
    QTest::keyClicks(needle, u"Bob"_s);
    click(search);
    QVERIFY(lines(results).isEmpty());
}

void TestBansTab::longSearchKeepsTheWindowResponsive()
{
    Harness h;
    QVERIFY(h.showTab(Tab::Search));
    auto* needle = h.find<QLineEdit>(Tab::Search, u"Edit7"_s);
    auto* search = h.find<QPushButton>(Tab::Search, u"SearchBtn"_s);
    auto* clear = h.find<QPushButton>(Tab::Search, u"Button7"_s);
    auto* within = h.find<QCheckBox>(Tab::Search, u"CheckBox23"_s);
    auto* results = h.find<ui::LinesView>(Tab::Search, u"Search"_s);
    QStringList day;
    for (int i = 0; i < 50000; ++i)
        day << u"[2026.12.08.] %1:%2:00 >> sor %3"_s.arg(i % 24)
                   .arg(i % 60, 2, 10, QChar(u'0'))
                   .arg(i);
    h.robot.console().replace(day);

    // While it runs, "Keresés" is disabled and a click on "Törlés" is handled: it ends the search
    // without results.
    QList<bool> enabledWhileSearching;
    bool clicked = false;
    connect(&h.robot.search(), &link::ConsoleSearch::searchingChanged, clear, [&](bool searching) {
        if (!searching)
            return;
        enabledWhileSearching << search->isEnabled();
        if (!clicked) {
            clicked = true;
            QTimer::singleShot(0, clear, [clear] { click(clear); });
        }
    });
    QTest::keyClicks(needle, u" 12:"_s);
    click(search);
    QCOMPARE(enabledWhileSearching, QList<bool>{false});
    QTRY_VERIFY(search->isEnabled());
    QCOMPARE(results->lineCount(), 0);
    QVERIFY(needle->text().isEmpty());
    QVERIFY(!within->isChecked());

    // Left alone, the same search lists the stamped lines of that hour.
    QTest::keyClicks(needle, u" 12:"_s);
    click(search);
    QTRY_VERIFY(search->isEnabled());
    const QStringList found = lines(results);
    QCOMPARE(found.size(), 2083); // every 24th line
    QVERIFY(found.constFirst().startsWith(u"[2026.12.08.] 12:12:00 >> sor 12"_s));
    QVERIFY(within->isChecked());
}

QTEST_MAIN(TestBansTab)
#include "test_banstab.moc"
