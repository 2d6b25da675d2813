// The server configuration tools in the real main window under the offscreen platform, found by
// their captions: the tabs "Fegyverek" and "CFG eröltetés", the map rotation dialog, the game
// client's controls and GoPlay, with the practice server on 127.0.0.1 for the link and a script
// standing in for the game client and wine.
#include "support/fakegame.h"
#include "tools/clientconfig.h"
#include "ui/clientconfigtab.h"
#include "ui/maprotationdialog.h"
#include "ui/weaponstab.h"
#include "windowfixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using tools::WeaponSwitches;
using ui::MainWindow;

namespace {

// A click on the box's indicator: a box wider than its caption takes clicks on them only.
void click(QAbstractButton* button)
{
    if (qobject_cast<QCheckBox*>(button))
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    else
        QTest::mouseClick(button, Qt::LeftButton);
}

// Types any text, accented letters included, one key at a time.
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Runs `work` on the next modal dialog of type T once it is up, then closes the dialog whatever
// the work left undone, so that the test goes on. Returns whether the dialog came.
template <typename T>
bool whileModal(const std::function<void()>& open, const std::function<void(T*)>& work)
{
    bool came = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        came = true;
        const auto closeIt = qScopeGuard([dialog] {
            if (dialog->isVisible())
                dialog->reject();
        });
        work(dialog);
    });
    poll.start();
    open();
    return came;
}

struct Harness : WindowFixture
{
    Harness() : WindowFixture(u"secret"_s)
    {
        robot.startUp();
        robot.loadSettings();
        robot.settings().setFlag(Key::EventNotify, false);
    }
    // The button or box that reads `caption` on the page.
    template <typename T = QAbstractButton> T* byCaption(QWidget* page, const QString& caption)
    {
        T* found = nullptr;
        for (T* candidate : page->findChildren<T*>())
            if (candidate->text() == caption) {
                if (found)
                    return nullptr; // a caption must name one control only
                found = candidate;
            }
        return found;
    }
    void connectHeld()
    {
        pointAtServer();
        robot.link().connectAction();
        settle(robot.link());
        robot.link().pacer().stop();
    }
    QStringList queue() { return robot.link().queue(); }
};

} // namespace

class TestToolsTabs : public QObject
{
    Q_OBJECT

private slots:
    void weaponsTabLayout()
    {
        Harness h;
        h.window.showTab(MainWindow::Tab::Weapons);
        QVERIFY(h.showActive());
        QWidget* page = h.window.page(MainWindow::Tab::Weapons);
        QVERIFY(qobject_cast<ui::WeaponsTab*>(page));
        QCOMPARE(h.currentTab(), u"Fegyverek"_s);
        // Every box fits the window at its starting size, the GoPlay button in the top bar too.
        QCOMPARE(h.window.size(), QSize(784, 495));

        // Every box by its caption, named as the engine names it, in its group and order.
        QMap<QString, QList<QCheckBox*>> groups;
        for (const WeaponSwitches::Switch& s : WeaponSwitches::table()) {
            auto* box = h.byCaption<QCheckBox>(page, s.caption);
            QVERIFY2(box, qPrintable(s.caption));
            QCOMPARE(box->objectName(), s.name);
            QCOMPARE(box->isChecked(), s.defaultOn);
            auto* group = qobject_cast<QGroupBox*>(box->parentWidget());
            const QString title = WeaponSwitches::placeCaption(s.place);
            QCOMPARE(group ? group->title() : QString(), title);
            if (group) {
                QList<QCheckBox*>& members = groups[title];
                QVERIFY(members.isEmpty() || members.constLast()->y() < box->y());
                members.append(box);
            }
        }
        QCOMPARE(groups.keys(), QStringList({u"Amerikai"_s, u"Britt"_s, u"Német"_s, u"Orosz"_s}));

        // The right column: the six presets from the top, then the three vehicles.
        QList<QWidget*> right;
        for (const auto& preset : WeaponSwitches::presets()) {
            QAbstractButton* button = h.byCaption<QPushButton>(page, preset.caption);
            QVERIFY2(button, qPrintable(preset.caption));
            QCOMPARE(button->objectName(), preset.name);
            right << button;
        }
        right << h.byCaption(page, u"Tankok"_s) << h.byCaption(page, u"Dzsippek"_s)
              << h.byCaption(page, u"Flak88"_s);
        for (int i = 1; i < right.size(); ++i) {
            QVERIFY(right[i - 1]->y() < right[i]->y());
            QCOMPARE(right[i]->x(), right[0]->x());
        }
        // The left and middle columns stand left of it.
        QVERIFY(h.byCaption(page, u"Bombázás"_s)->x() < h.byCaption(page, u"Táska"_s)->x());
        QVERIFY(h.byCaption(page, u"Táska"_s)->mapTo(page, QPoint()).x() <
                right[0]->mapTo(page, QPoint()).x());
    }

    void weaponsTabQueuesCommands()
    {
        Harness h;
        h.window.showTab(MainWindow::Tab::Weapons);
        QVERIFY(h.showActive());
        QWidget* page = h.window.page(MainWindow::Tab::Weapons);
        h.connectHeld();

        // A preset moves the boxes and queues the changes.
        click(h.byCaption(page, u"Csak pisztoly"_s));
        QCOMPARE(h.queue().size(), 26);
        QVERIFY(h.byCaption(page, u"Pisztoly"_s)->isChecked());
        QVERIFY(h.byCaption(page, u"Füst gránát"_s)->isChecked());
        QVERIFY(!h.byCaption(page, u"Kar98k"_s)->isChecked());
        QVERIFY(!h.byCaption(page, u"Flak88"_s)->isChecked());
        QVERIFY(h.byCaption(page, u"30cal"_s)->isChecked());
        click(h.byCaption(page, u"Csak pisztoly"_s));
        QCOMPARE(h.queue().size(), 26);

        // "Tankok" is disabled while its commands are queued.
        QAbstractButton* tanks = h.byCaption(page, u"Tankok"_s);
        QList<bool> enabledWhileQueued;
        connect(&h.robot.link(), &link::Link::queueChanged, this,
                [&] { enabledWhileQueued << tanks->isEnabled(); });
        click(tanks);
        QCOMPARE(enabledWhileQueued, QList<bool>(7, false));
        QVERIFY(tanks->isEnabled());
        QVERIFY(!tanks->isChecked());
        QCOMPARE(h.queue().constLast(), u"scr_allow_tanks 0"_s);

        // A box checked with the keyboard queues its commands like a click.
        QAbstractButton* fg42 = h.byCaption(page, u"FG42"_s);
        fg42->setFocus();
        QTest::keyClick(fg42, Qt::Key_Space);
        QCOMPARE(h.queue().mid(33),
                 QStringList({u"scr_allow_fg42 1"_s, u"scr_allow_fg42_allies 1"_s,
                              u"scr_allow_fg42_axis 1"_s}));

        // Released, the pacer delivers them to the server in that order.
        const QStringList expected = h.queue();
        h.server.setFloodGuardMs(0);
        h.robot.link().setPacerInterval(20);
        h.robot.link().pacer().arm();
        QTRY_COMPARE_WITH_TIMEOUT(h.server.receivedCommands(), expected, 10000);
    }

    void clientConfigTab()
    {
        Harness h;
        h.window.showTab(MainWindow::Tab::ClientConfig);
        QVERIFY(h.showActive());
        QWidget* page = h.window.page(MainWindow::Tab::ClientConfig);
        QVERIFY(qobject_cast<ui::ClientConfigTab*>(page));
        QCOMPARE(page->objectName(), u"TabSheet7"_s);

        // The notices: the add-on first, at the top; the warning large, red and bold.
        auto* notice = h.byCaption<QLabel>(page, ui::ClientConfigTab::kAddOnNotice);
        auto* warning = h.byCaption<QLabel>(page, ui::ClientConfigTab::kWarning);
        QVERIFY(notice && warning);
        QVERIFY(notice->text().contains(u"PK3"_s) && notice->text().contains(u"IWD"_s));
        QVERIFY(warning->text().startsWith(u"FIGYELEM!! HÜLYESÉG VÉDELEM NINCS!!"_s));
        QCOMPARE(warning->palette().color(QPalette::WindowText), QColor(Qt::red));
        QVERIFY(warning->font().bold());
        QVERIFY(warning->font().pointSizeF() > notice->font().pointSizeF());
        QVERIFY(notice->y() < warning->y());

        // The frame holds every control with its range and default, bound to its key.
        auto* frame = page->findChild<QGroupBox*>(u"CfgFrame"_s);
        QVERIFY(frame);
        QCOMPARE(frame->title(), u"Beállítás"_s);
        struct Forced
        {
            QString caption;
            Key box;
            QString number;
            int minimum, maximum, initial;
        };
        const QList<Forced> forced = {
            {u"FPS limit:"_s, Key::CkFps, u"se_fps"_s, 5, 999, 125},
            {u"cl_maxpackets"_s, Key::CkMaxpackets, u"se_maxpackets"_s, 5, 999, 100},
            {u"snaps"_s, Key::CkSnaps, u"se_snaps"_s, 5, 999, 40},
            {u"Rate"_s, Key::CkRate, u"se_rate"_s, 10, 500000, 25000},
        };
        auto* enable = h.byCaption<QCheckBox>(frame, u"Engedélyezés"_s);
        QVERIFY(enable && !enable->isChecked());
        QCOMPARE(enable->objectName(), u"cfg_enable"_s);
        for (const Forced& f : forced) {
            auto* box = h.byCaption<QCheckBox>(frame, f.caption);
            auto* number = frame->findChild<QSpinBox*>(f.number);
            QVERIFY2(box && number, qPrintable(f.caption));
            QVERIFY(!box->isChecked());
            QCOMPARE(number->minimum(), f.minimum);
            QCOMPARE(number->maximum(), f.maximum);
            QCOMPARE(number->value(), f.initial);
            QCOMPARE(number->accessibleName(), f.caption);
            QVERIFY(qAbs(number->geometry().center().y() - box->geometry().center().y()) < 4);
            click(box);
            QVERIFY(h.robot.settings().flag(f.box));
        }
        auto* label = h.byCaption<QLabel>(frame, u"Állítási időköz (mp):"_s);
        QVERIFY(label);
        auto* interval = qobject_cast<QSpinBox*>(label->buddy());
        QVERIFY(interval);
        QCOMPARE(interval->objectName(), u"se_interval"_s);
        QCOMPARE(interval->minimum(), 1);
        QCOMPARE(interval->maximum(), 1000000000);
        QCOMPARE(interval->value(), 10);
        auto* forceName = h.byCaption<QCheckBox>(frame, u"Név eröltetés (Just4FUN)"_s);
        auto* name = frame->findChild<QLineEdit*>(u"ed_name"_s);
        QVERIFY(forceName && name);
        QVERIFY(name->y() > forceName->y());
        QCOMPARE(name->accessibleName(), forceName->text());

        // Typed values reach the settings.
        interval->setFocus();
        interval->selectAll();
        QTest::keyClicks(interval, u"30"_s);
        QCOMPARE(h.robot.settings().number(Key::SeInterval), 30);
        name->setFocus();
        typeText(name, u"^2Játékos"_s);
        QCOMPARE(h.robot.settings().text(Key::EdName), u"^2Játékos"_s);
        h.robot.settings().setText(Key::EdName, u"más"_s);
        QCOMPARE(name->text(), u"más"_s);
        click(forceName);

        // "Alkalmaz" with the two red arrows under it.
        auto* apply = h.byCaption<QPushButton>(frame, u"Alkalmaz"_s);
        QVERIFY(apply);
        QCOMPARE(apply->objectName(), u"cfg_apply"_s);
        auto* right = h.byCaption<QLabel>(frame, u"--->"_s);
        auto* left = h.byCaption<QLabel>(frame, u"<---"_s);
        QVERIFY(right && left);
        QVERIFY(right->y() > apply->y() && left->y() > apply->y());
        QVERIFY(right->x() < left->x());
        QCOMPARE(left->palette().color(QPalette::WindowText), QColor(Qt::red));

        // Disconnected, "Alkalmaz" sends nothing; connected it queues the commands in order.
        click(apply);
        h.connectHeld();
        QVERIFY(h.queue().isEmpty());
        click(apply);
        QCOMPARE(h.queue(), QStringList{u"set cfg_check 0"_s});
        click(enable);
        click(apply);
        QCOMPARE(h.queue().mid(1), QStringList({u"set cfg_time 30"_s, u"set cfg_com_maxfps 125"_s,
                                                u"set cfg_cl_maxpackets 100"_s,
                                                u"set cfg_snaps 40"_s, u"set cfg_rate 25000"_s,
                                                u"set cfg_name \"más\""_s, u"set cfg_check 1"_s}));

        // The disconnect drops what waits and applies them once more before the link closes.
        h.server.setFloodGuardMs(0);
        h.robot.link().setPacerInterval(20);
        const QStringList expected = tools::ClientConfig::commands(h.robot.settings());
        QTest::mouseClick(h.find(u"Button1"_s), Qt::LeftButton);
        settle(h.robot.link());
        QVERIFY(!h.robot.link().isConnected());
        QCOMPARE(h.server.receivedCommands(), expected);
        QCOMPARE(h.server.variable(u"cfg_name"_s), u"más"_s);
    }

    void mapRotationDialog()
    {
        Harness h;
        QVERIFY(h.showActive());
        h.connectHeld();
        // The first item of the menu bar, whatever else the bar holds.
        QAction* item = h.window.menuBar()->actions().constFirst();
        QCOMPARE(item->text(), u"[mapRotation Generátor]"_s);
        QVERIFY(!item->menu());

        const bool came = whileModal<QDialog>(
            [item] { item->trigger(); },
            [&](QDialog* dialog) {
                QCOMPARE(dialog->windowTitle(), u"mapRotation Generátor"_s);
                QVERIFY(dialog->isModal());
                QVERIFY(dialog->windowFlags() & Qt::WindowCloseButtonHint);
                QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinMaxButtonsHint)));
                auto* send = h.byCaption<QPushButton>(dialog, u"mapRotation küldés"_s);
                auto* start = h.byCaption<QPushButton>(dialog, u"Indítás most"_s);
                auto* add = h.byCaption<QPushButton>(dialog, u">>"_s);
                auto* remove = h.byCaption<QPushButton>(dialog, u"<<"_s);
                auto* up = h.byCaption<QToolButton>(dialog, u"Fel"_s);
                auto* down = h.byCaption<QToolButton>(dialog, u"Le"_s);
                auto* mapLabel = h.byCaption<QLabel>(dialog, u"pálya:"_s);
                auto* types = dialog->findChild<QComboBox*>();
                auto* list = dialog->findChild<QListWidget*>();
                auto* output = dialog->findChild<QPlainTextEdit*>(u"Output"_s);
                QVERIFY(send && start && add && remove && up && down && mapLabel && types && list &&
                        output);
                auto* map = qobject_cast<QLineEdit*>(mapLabel->buddy());
                QVERIFY(map);

                // At opening: both send buttons flat and disabled, the first game type chosen.
                QVERIFY(send->isFlat() && start->isFlat());
                QVERIFY(!send->isEnabled() && !start->isEnabled());
                QStringList items;
                for (int i = 0; i < types->count(); ++i)
                    items << types->itemText(i);
                QCOMPARE(items,
                         QStringList({u"Team Deathmatch (TDM)"_s, u"Search & Destroy (SD)"_s,
                                      u"Headquarters (HQ)"_s, u"Capture The Flag (CTF)"_s,
                                      u"Behing Enemy Lines (BEL)"_s, u"Base Assault (BAS)"_s}));
                QCOMPARE(types->currentIndex(), 0);
                QVERIFY(!types->isEditable());
                QCOMPARE(output->lineWrapMode(), QPlainTextEdit::NoWrap);
                QCOMPARE(output->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
                QVERIFY(!output->isReadOnly());
                QVERIFY(send->y() < list->y() && list->y() < output->y());
                QVERIFY(up->y() < add->y() && up->x() < down->x());
                QVERIFY(add->x() < list->x());

                // Enter in "pálya:" performs ">>"; ">>" adds even with an empty name.
                QTest::keyClicks(map, u"mp_carentan"_s);
                QTest::keyClick(map, Qt::Key_Return);
                QVERIFY(dialog->isVisible()); // Enter closed nothing
                QVERIFY(send->isEnabled() && start->isEnabled());
                types->setCurrentIndex(1);
                map->setText(u"mp_toujane"_s);
                QTest::mouseClick(add, Qt::LeftButton);
                map->clear();
                types->setCurrentIndex(5);
                QTest::mouseClick(add, Qt::LeftButton);
                const auto rows = [list] {
                    QStringList r;
                    for (int i = 0; i < list->count(); ++i)
                        r << list->item(i)->text();
                    return r;
                };
                QCOMPARE(rows(),
                         QStringList({u"gametype tdm map mp_carentan"_s,
                                      u"gametype sd map mp_toujane"_s, u"gametype bas map "_s}));
                QCOMPARE(output->toPlainText(),
                         u"set sv_mapRotation \"gametype tdm map mp_carentan gametype sd map "
                         "mp_toujane gametype bas map \"\nset sv_mapRotationCurrent \"gametype tdm "
                         "map mp_carentan\" "_s);

                // The first entry moved down stays selected; the former second is the current one.
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  list->visualItemRect(list->item(0)).center());
                QTest::mouseClick(down, Qt::LeftButton);
                QCOMPARE(list->currentRow(), 1);
                QVERIFY(output->toPlainText().endsWith(
                    u"\nset sv_mapRotationCurrent \"gametype sd map mp_toujane\" "_s));
                // At the top, up changes nothing, not even the output's hand edits.
                QTest::mouseClick(up, Qt::LeftButton);
                QTest::mouseClick(up, Qt::LeftButton);
                QCOMPARE(list->currentRow(), 0);
                output->setPlainText(output->toPlainText().replace(u"mp_toujane"_s, u"mp_rhine"_s));
                QTest::mouseClick(up, Qt::LeftButton);
                QVERIFY(output->toPlainText().contains(u"mp_rhine"_s));

                // The two lines leave as they stand in the output; "Indítás most" sends map_rotate.
                const qsizetype before = h.queue().size();
                QTest::mouseClick(send, Qt::LeftButton);
                QTest::mouseClick(start, Qt::LeftButton);
                const QStringList lines = output->toPlainText().split(u'\n');
                QCOMPARE(h.queue().mid(before), QStringList({lines[0], lines[1], u"map_rotate"_s}));

                // "<<" removes the selected entry; with the last one gone nothing can be sent.
                for (int i = 0; i < 3; ++i) {
                    list->setCurrentRow(0);
                    QTest::mouseClick(remove, Qt::LeftButton);
                }
                QCOMPARE(list->count(), 0);
                QVERIFY(!send->isEnabled() && !start->isEnabled());
                QVERIFY(output->toPlainText().isEmpty());
                dialog->close(); // the title bar's close button
                QVERIFY(!dialog->isVisible());
            });
        QVERIFY(came);
        // Discarded when closed: a new opening starts empty.
        QVERIFY(!h.window.findChild<ui::MapRotationDialog*>());
        QVERIFY(whileModal<QDialog>(
            [item] { item->trigger(); },
            [](QDialog* dialog) { QCOMPARE(dialog->findChild<QListWidget*>()->count(), 0); }));

        h.server.setFloodGuardMs(0);
        h.robot.link().setPacerInterval(20);
        const QStringList expected = h.queue();
        h.robot.link().pacer().arm();
        QTRY_COMPARE_WITH_TIMEOUT(h.server.receivedCommands(), expected, 5000);
        QCOMPARE(h.server.actions(), QStringList{u"map_rotate"_s});
        QCOMPARE(h.server.variable(u"sv_mapRotationCurrent"_s), u"gametype tdm map mp_carentan"_s);
    }

    // A map name pasted with a line break stays one line, in the field and in the commands;
    // Escape discards nothing: the dialog stays with its rotation, its close box closes it.
    void mapRotationPasteAndEscape()
    {
        Harness h;
        QVERIFY(h.showActive());
        h.connectHeld();
        QAction* item = h.window.menuBar()->actions().constFirst();
        const bool came = whileModal<QDialog>(
            [item] { item->trigger(); },
            [&](QDialog* dialog) {
                auto* map =
                    qobject_cast<QLineEdit*>(h.byCaption<QLabel>(dialog, u"pálya:"_s)->buddy());
                auto* list = dialog->findChild<QListWidget*>();
                auto* output = dialog->findChild<QPlainTextEdit*>(u"Output"_s);
                auto* send = h.byCaption<QPushButton>(dialog, u"mapRotation küldés"_s);
                QGuiApplication::clipboard()->setText(u"mp_harbor\r\n"_s);
                map->setFocus();
                QTest::keyClick(map, Qt::Key_V, Qt::ControlModifier);
                QCOMPARE(map->text(), u"mp_harbor"_s);
                QTest::keyClick(map, Qt::Key_Return);
                map->clear();
                QGuiApplication::clipboard()->setText(u"mp_rhine\nmp_dawnville"_s);
                QTest::keyClick(map, Qt::Key_V, Qt::ControlModifier);
                QCOMPARE(map->text(), u"mp_rhine mp_dawnville"_s);
                QTest::keyClick(map, Qt::Key_Return);
                QCOMPARE(list->count(), 2);
                QCOMPARE(output->toPlainText().count(u'\n'), 1);

                for (QWidget* focus : {static_cast<QWidget*>(map), static_cast<QWidget*>(list),
                                       static_cast<QWidget*>(output)}) {
                    focus->setFocus();
                    QTest::keyClick(focus, Qt::Key_Escape);
                    QVERIFY(dialog->isVisible());
                }
                QCOMPARE(list->count(), 2);
                QTest::mouseClick(send, Qt::LeftButton);
                dialog->close();
                QVERIFY(!dialog->isVisible());
            });
        QVERIFY(came);
        QCOMPARE(h.queue().mid(h.queue().size() - 2),
                 QStringList({u"set sv_mapRotation \"gametype tdm map mp_harbor gametype tdm map "
                              "mp_rhine mp_dawnville\""_s,
                              u"set sv_mapRotationCurrent \"gametype tdm map mp_harbor\" "_s}));
    }

    void gameClientControls()
    {
        Harness h;
        h.window.showTab(MainWindow::Tab::Settings);
        QVERIFY(h.showActive());
        QWidget* page = h.window.page(MainWindow::Tab::Settings);
        auto* label = h.byCaption<QLabel>(page, u"CoDMP.exe / CoDUOMP.exe / CoD2MP.exe:"_s);
        QVERIFY(label);
        auto* path = qobject_cast<QLineEdit*>(label->buddy());
        QVERIFY(path);
        QCOMPARE(path->objectName(), u"ed_CoDMP"_s);
        QVERIFY(path->text().isEmpty());
        auto* rcon = h.byCaption<QCheckBox>(page, u"Belépés RCON joggal"_s);
        QVERIFY(rcon && !rcon->isChecked());
        QCOMPARE(rcon->objectName(), u"ck_rcon"_s);
        click(rcon);
        QVERIFY(h.robot.settings().flag(Key::CkRcon));
        auto* browse = h.byCaption<QToolButton>(page, u"..."_s);
        QVERIFY(browse);
        QVERIFY(browse->x() > path->x());

        QTemporaryDir games;
        const QString first = games.filePath(u"CoDUOMP.exe"_s);
        const QString second = games.filePath(u"CoD2MP_s.com"_s);
        QVERIFY(writeRecorder(first) && writeRecorder(second));
        QTest::keyClicks(path, first);
        QCOMPARE(h.robot.settings().text(Key::CoDexe), first);

        // The dialog starts at the current file, with the one filter; a confirmed file replaces
        // the path (a ".com" too, though GoPlay will not start it).
        QVERIFY(whileModal<QFileDialog>(
            [browse] { QTest::mouseClick(browse, Qt::LeftButton); },
            [&](QFileDialog* dialog) {
                QCOMPARE(dialog->nameFilters(),
                         QStringList{u"Végrehajthatók (*.exe *.dll *.com)"_s});
                QCOMPARE(dialog->selectedFiles(), QStringList{first});
                // The file's row chosen, as a person would click it: what selectFile() and the
                // name box do depends on which widget has the focus.
                auto* view = dialog->findChild<QListView*>(u"listView"_s);
                QVERIFY(view);
                auto* files = qobject_cast<QFileSystemModel*>(view->model());
                QVERIFY(files);
                const QModelIndex row = files->index(second);
                QVERIFY(row.isValid());
                view->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
                QCOMPARE(dialog->selectedFiles(), QStringList{second});
                static_cast<QDialog*>(dialog)->accept();
            }));
        // The path as the system writes it (with backslashes on Windows).
        const QString chosen = QDir::toNativeSeparators(second);
        QCOMPARE(path->text(), chosen);
        QCOMPARE(h.robot.settings().text(Key::CoDexe), chosen);
        // Cancelled, nothing changes.
        QVERIFY(whileModal<QFileDialog>([browse] { QTest::mouseClick(browse, Qt::LeftButton); },
                                        [](QFileDialog* dialog) { dialog->reject(); }));
        QCOMPARE(path->text(), chosen);
        h.robot.settings().setText(Key::CoDexe, first);
        QCOMPARE(path->text(), first);
    }

    void goPlayFromTrayAndBar()
    {
        FakeGame game;
        Harness h;
        QVERIFY(h.showActive());
        h.pointAtServer();
        h.robot.settings().setText(Key::CoDexe, game.client);

        // "GoPlay!" in the icon's menu, between "Megnyitás" and "Weblap".
        QMenu* menu = h.window.findChild<QSystemTrayIcon*>()->contextMenu();
        QStringList titles;
        for (const QAction* a : menu->actions())
            titles << (a->isSeparator() ? u"-"_s : a->text());
        QCOMPARE(titles,
                 QStringList({u"Megnyitás"_s, u"GoPlay!"_s, u"Weblap"_s, u"-"_s, u"Kilépés"_s}));
#ifdef Q_OS_WIN
        QSKIP("the stand-in game client is a script that wine starts, and Windows starts the "
              "client without wine (test_windows covers the start)");
#endif
        menu->actions().at(1)->trigger();
        QTRY_VERIFY(QFile::exists(game.recordFile()));
        const QStringList expected = {QFileInfo(game.client).absolutePath(), game.client,
                                      u"+connect"_s,
                                      u"127.0.0.1:"_s + QString::number(h.server.port())};
        QCOMPARE(game.record(), expected);

        // The picture button at the right end of the connection bar does the same.
        QFile::remove(game.recordFile());
        QWidget* bar = h.find(u"TopBar"_s);
        auto* play = h.byCaption<QToolButton>(bar, u"GoPlay!"_s);
        QVERIFY(play);
        QCOMPARE(play->objectName(), u"SpeedButton1"_s);
        QVERIFY(!play->icon().isNull());
        for (const QWidget* other : bar->findChildren<QWidget*>())
            QVERIFY(other == play || other->x() < play->x());
        QTest::mouseClick(play, Qt::LeftButton);
        QTRY_VERIFY(QFile::exists(game.recordFile()));
        QCOMPARE(game.record(), expected);
        QCOMPARE(QDir::currentPath(), QDir(h.dir.path()).absolutePath());
    }
};

QTEST_MAIN(TestToolsTabs)
#include "test_toolstabs.moc"
