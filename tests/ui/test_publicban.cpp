// The window "Nyilvános banlista" and the settings tab's import group, driven through their
// widgets under the offscreen platform: what a person reads on them, the enabling rule (also
// through the accessibility interface), what the window shows selected, the download from an
// HTTP server on 127.0.0.1, closing with OK, "Mégse" and Escape, also during a transfer.
#include "exchange/importer.h"
#include "exchange/publicbanlist.h"
#include "support/pyservers.h"
#include "ui/publicbandialog.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStringListModel>
#include <QTest>
#include <QTimer>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using ui::PublicBanDialog;

namespace {

template <typename T = QWidget> T* byCaption(const QWidget* parent, const QString& caption)
{
    for (QAbstractButton* button : parent->findChildren<QAbstractButton*>())
        if (button->text() == caption)
            return qobject_cast<T*>(button);
    for (QGroupBox* box : parent->findChildren<QGroupBox*>())
        if (box->title() == caption)
            return qobject_cast<T*>(box);
    for (QLabel* label : parent->findChildren<QLabel*>())
        if (label->text() == caption)
            return qobject_cast<T*>(label->buddy());
    return nullptr;
}

QListView* byName(const QWidget* parent, const QString& accessibleName)
{
    for (QListView* view : parent->findChildren<QListView*>())
        if (view->accessibleName() == accessibleName)
            return view;
    return nullptr;
}

QStringList rows(const QListView* view)
{
    QStringList result;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        result.append(view->model()->index(row, 0).data().toString());
    return result;
}

void click(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}

void clickRow(QListView* view, int row)
{
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(row, 0)).center());
}

// The window as the menu opens it (modal), with work done inside it while it is open.
void whileOpen(WindowFixture& f, const std::function<void(PublicBanDialog*)>& work)
{
    QTimer::singleShot(0, &f.window, [&] {
        auto* dialog = qobject_cast<PublicBanDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        // Whatever the work leaves undone, the window closes, so the test goes on.
        const auto closeIt = qScopeGuard([dialog] {
            if (dialog->isVisible())
                dialog->done(QDialog::Rejected);
        });
        work(dialog);
    });
    f.action(u"PublicBan"_s)->trigger();
}

// How many pixels of a row look selected in what the window shows now (the offscreen platform's
// picture of the window, not a fresh painting).
int highlighted(QListView* view, int row)
{
    QWidget* window = view->window();
    const QImage shown = window->screen()->grabWindow(window->winId()).toImage();
    const QRect rect = view->visualRect(view->model()->index(row, 0))
                           .translated(view->viewport()->mapTo(window, QPoint()));
    const QPalette& palette = view->palette();
    const QList<QRgb> colours{palette.color(QPalette::Active, QPalette::Highlight).rgb(),
                              palette.color(QPalette::Inactive, QPalette::Highlight).rgb()};
    const qreal scale = shown.devicePixelRatio();
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (colours.contains(shown.pixel(QPoint(int(x * scale), int(y * scale)))))
                ++count;
    return count;
}

} // namespace

class TestPublicBan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
    }

    void menuItemBeforeTheRobotMenu()
    {
        WindowFixture f(u"pw"_s);
        const QList<QAction*> items = f.window.menuBar()->actions();
        const auto at = [&](const QString& text) {
            for (qsizetype i = 0; i < items.size(); ++i)
                if (items[i]->text() == text)
                    return i;
            return qsizetype(-1);
        };
        QVERIFY(at(u"[Nyilvános banlista]"_s) >= 0);
        QCOMPARE(at(u"[Nyilvános banlista]"_s) + 1, at(u"[ !! Vigilor !! ]"_s));
    }

    void windowAsRead()
    {
        WindowFixture f(u"pw"_s);
        f.robot.settings().setBanList({u"1 carl"_s, u"0 Bob"_s});
        QVERIFY(f.showActive());
        PublicBanDialog dialog(f.robot.exchangeServices(), f.robot, &f.window);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(dialog.windowTitle(), u"Nyilvános banlista"_s);
        QVERIFY(dialog.isModal());
        QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowMinMaxButtonsHint));

        auto* group = byCaption<QGroupBox>(&dialog, u"Lista helye"_s);
        QVERIFY(group);
        auto* link = byCaption<QLineEdit>(group, u"Banlista Link:"_s);
        auto* upload = byCaption<QLineEdit>(group, u"Feltöltési cím (user:pass@host):"_s);
        QVERIFY(link && upload);
        QVERIFY(byCaption(group, u"Letöltés"_s) && byCaption(group, u"Feltölt"_s));
        QVERIFY(byCaption<QPushButton>(&dialog, u"Letöltés"_s)->isDefault());
        QTRY_COMPARE(dialog.focusWidget(), link);

        // The own list in list box order; the buttons between the lists from top to bottom.
        QCOMPARE(rows(byName(&dialog, u"Saját lista"_s)), (QStringList{u"0 Bob"_s, u"1 carl"_s}));
        QVERIFY(rows(byName(&dialog, u"Nyilvános lista"_s)).isEmpty());
        int y = -1;
        for (const QString& caption : {u"<<"_s, u"<"_s, u">"_s, u">>"_s}) {
            QWidget* button = byCaption(&dialog, caption);
            QVERIFY2(button, qPrintable(caption));
            QVERIFY(button->mapTo(&dialog, QPoint()).y() > y);
            y = button->mapTo(&dialog, QPoint()).y();
        }
        QVERIFY(byCaption(&dialog, u"OK"_s) && byCaption(&dialog, u"Mégse"_s));
    }

    void enablingRule()
    {
        WindowFixture f(u"pw"_s);
        f.robot.settings().setBanList({u"0 Bob"_s, u"1 carl"_s});
        QVERIFY(f.showActive());
        PublicBanDialog dialog(f.robot.exchangeServices(), f.robot, &f.window);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto* link = byCaption<QLineEdit>(&dialog, u"Banlista Link:"_s);
        auto* address = byCaption<QLineEdit>(&dialog, u"Feltöltési cím (user:pass@host):"_s);
        QWidget* download = byCaption(&dialog, u"Letöltés"_s);
        QWidget* upload = byCaption(&dialog, u"Feltölt"_s);
        QListView* own = byName(&dialog, u"Saját lista"_s);
        QListView* theirs = byName(&dialog, u"Nyilvános lista"_s);

        QVERIFY(!download->isEnabled());
        QVERIFY(!upload->isEnabled());
        QTest::keyClicks(link, u"bans.example"_s);
        QVERIFY(download->isEnabled());
        link->selectAll();
        QTest::keyClick(link, Qt::Key_Backspace);
        QVERIFY(!download->isEnabled());

        // One line over to the public list: "Feltölt" waits for an address as well.
        clickRow(own, 1);
        click(byCaption(&dialog, u">"_s));
        QCOMPARE(rows(theirs), QStringList{u"1 carl"_s});
        QCOMPARE(rows(own).size(), 2);
        QVERIFY(!upload->isEnabled());
        QTest::keyClicks(address, u"ab:cde@h"_s);
        QVERIFY(upload->isEnabled());

        // The Delete key leaves the rule alone: "Feltölt" stays enabled over an empty list.
        clickRow(theirs, 0);
        QTest::keyClick(theirs, Qt::Key_Delete);
        QVERIFY(rows(theirs).isEmpty());
        QVERIFY(upload->isEnabled());
        QTest::keyClick(address, Qt::Key_X); // a field change evaluates it again
        QVERIFY(!upload->isEnabled());
        click(byCaption(&dialog, u">>"_s));
        QCOMPARE(rows(theirs), (QStringList{u"0 Bob"_s, u"1 carl"_s}));
        QVERIFY(upload->isEnabled());
        // The last line of the source list ends selected.
        QCOMPARE(own->currentIndex().row(), 1);
    }

    // Every change of "Banlista Link:" evaluates the rule: set through the accessibility
    // interface as dictation and on-screen keyboards do, pasted, or set by the program.
    void enablingRuleOnEveryChange()
    {
        WindowFixture f(u"pw"_s);
        QVERIFY(f.showActive());
        PublicBanDialog dialog(f.robot.exchangeServices(), f.robot, &f.window);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto* link = byCaption<QLineEdit>(&dialog, u"Banlista Link:"_s);
        QWidget* download = byCaption(&dialog, u"Letöltés"_s);
        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(link);
        QVERIFY(field);
        QVERIFY(!download->isEnabled());
        field->setText(QAccessible::Value, u"bans.example"_s);
        QCOMPARE(link->text(), u"bans.example"_s);
        QVERIFY(download->isEnabled());
        QCOMPARE(dialog.model().downloadAddress(), u"bans.example"_s);
        field->setText(QAccessible::Value, QString());
        QVERIFY(!download->isEnabled());
        QVERIFY(field->editableTextInterface());
        field->editableTextInterface()->insertText(0, u"x.example"_s);
        QVERIFY(download->isEnabled());
        link->clear();
        QVERIFY(!download->isEnabled());
        QApplication::clipboard()->setText(u"y.example"_s);
        link->paste();
        QVERIFY(download->isEnabled());

        // "Feltölt" the same way, once the public list has a line.
        dialog.model().selectOwn(-1);
        auto* address = byCaption<QLineEdit>(&dialog, u"Feltöltési cím (user:pass@host):"_s);
        QWidget* upload = byCaption(&dialog, u"Feltölt"_s);
        f.robot.settings().setBanList({u"0 Bob"_s});
        dialog.model().open();
        dialog.model().copyAllToPublic();
        QAccessible::queryAccessibleInterface(address)->setText(QAccessible::Value, QString());
        QVERIFY(!upload->isEnabled());
        QAccessible::queryAccessibleInterface(address)->setText(QAccessible::Value, u"ab:cde@h"_s);
        QVERIFY(upload->isEnabled());
    }

    // After "<<" and ">>" the last line of the source list is the one line that looks
    // selected: a line clicked before loses its highlight, in either list.
    void oneSelectionAfterCopyingAll()
    {
        WindowFixture f(u"pw"_s);
        f.robot.settings().setBanList({u"0 Bob"_s, u"1 Carl"_s, u"2 Dave"_s});
        QVERIFY(f.showActive());
        PublicBanDialog dialog(f.robot.exchangeServices(), f.robot, &f.window);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QListView* own = byName(&dialog, u"Saját lista"_s);
        QListView* theirs = byName(&dialog, u"Nyilvános lista"_s);
        const auto settle = [] {
            QTest::qWait(50);
            QCoreApplication::processEvents();
        };

        clickRow(own, 0);
        settle();
        QVERIFY(highlighted(own, 0) > 0);
        // Pressed without taking the focus, as the keyboard's shortcut would.
        qobject_cast<QPushButton*>(byCaption(&dialog, u">>"_s))->click();
        settle();
        QCOMPARE(rows(theirs), (QStringList{u"0 Bob"_s, u"1 Carl"_s, u"2 Dave"_s}));
        QCOMPARE(highlighted(own, 0), 0);
        QCOMPARE(highlighted(own, 1), 0);
        QVERIFY(highlighted(own, 2) > 0);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(highlighted(theirs, row), 0);
        QCOMPARE(own->selectionModel()->selectedIndexes().size(), 1);

        // The other way: a public line clicked, then "<<"; the own list keeps none.
        clickRow(theirs, 1);
        settle();
        QVERIFY(highlighted(theirs, 1) > 0);
        qobject_cast<QPushButton*>(byCaption(&dialog, u"<<"_s))->click();
        settle();
        QCOMPARE(highlighted(theirs, 1), 0);
        QVERIFY(highlighted(theirs, 2) > 0);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(highlighted(own, row), 0);
        QCOMPARE(dialog.model().ownRow(), -1);
        QCOMPARE(dialog.model().publicRow(), 2);
        // ">" has nothing to copy now: no own line is selected.
        click(byCaption(&dialog, u">"_s));
        QCOMPARE(rows(theirs).size(), 3);
    }

    // "Mégse", Escape and the window's close during a transfer stop it within a second and
    // close the window; the ban list stays as it was. OK waits while a transfer runs.
    void cancelDuringATransfer()
    {
        PythonServer http(PythonServer::Kind::Http);
        QVERIFY2(http.running(), qPrintable(http.errors()));
        http.write(u"x/rconpb.ban"_s, "2 Bob\r\n0 eve\r\n");
        WindowFixture f(u"pw"_s);
        f.robot.settings().setBanList({u"0 Bob"_s});
        QVERIFY(f.showActive());
        const QString held = u"127.0.0.1:"_s + QString::number(http.port()) + u"/hold/x"_s;

        enum class Way
        {
            Button,
            Escape,
            Close
        };
        for (Way way : {Way::Button, Way::Escape, Way::Close}) {
            PublicBanDialog dialog(f.robot.exchangeServices(), f.robot, &f.window);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowActive(&dialog));
            auto* link = byCaption<QLineEdit>(&dialog, u"Banlista Link:"_s);
            QTest::keyClicks(link, held);
            click(byCaption(&dialog, u"Letöltés"_s));
            QTRY_VERIFY_WITH_TIMEOUT(!http.requests().isEmpty(), 5000);
            http.clearLines();
            QCOMPARE(dialog.windowTitle(), u"Nyilvános banlista - Letöltés folyamatban..."_s);
            QVERIFY(!byCaption(&dialog, u"OK"_s)->isEnabled());
            QWidget* cancel = byCaption(&dialog, u"Mégse"_s);
            QVERIFY(cancel->isEnabled());
            click(byCaption(&dialog, u"OK"_s)); // disabled: nothing
            QVERIFY(dialog.isVisible());

            QElapsedTimer clock;
            clock.start();
            if (way == Way::Button)
                click(cancel);
            else if (way == Way::Escape)
                QTest::keyClick(&dialog, Qt::Key_Escape);
            else
                dialog.close();
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QTRY_COMPARE_WITH_TIMEOUT(f.robot.transfers().running(), 0, 1000);
            QVERIFY(clock.elapsed() < 1000);
            QCOMPARE(f.robot.settings().banList(), QStringList{u"0 Bob"_s});
        }
        QVERIFY(f.robot.console().lines().join(u'\n').contains(u"A letöltés megszakítva"_s));
    }

    void downloadInTheWindow()
    {
        PythonServer http(PythonServer::Kind::Http);
        QVERIFY2(http.running(), qPrintable(http.errors()));
        http.write(u"x/rconpb.ban"_s, "2 Bob\r\n0 eve\r\n");
        WindowFixture f(u"pw"_s);
        f.robot.settings().setBanList({u"0 Bob"_s});
        QVERIFY(f.showActive());
        PublicBanDialog dialog(f.robot.exchangeServices(), f.robot, &f.window);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto* link = byCaption<QLineEdit>(&dialog, u"Banlista Link:"_s);
        QTest::keyClicks(link, u"127.0.0.1:"_s + QString::number(http.port()) + u"/x"_s);
        QTest::keyClick(link, Qt::Key_Return); // "Letöltés" is the default button
        QCOMPARE(dialog.windowTitle(), u"Nyilvános banlista - Letöltés folyamatban..."_s);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.windowTitle(), u"Nyilvános banlista - Kész"_s, 10'000);
        QCOMPARE(link->text(), u"http://127.0.0.1:"_s + QString::number(http.port()) + u"/x/"_s);
        QListView* theirs = byName(&dialog, u"Nyilvános lista"_s);
        QCOMPARE(rows(theirs), (QStringList{u"0 eve"_s, u"2 Bob"_s}));
        click(byCaption(&dialog, u"<<"_s));
        QCOMPARE(rows(byName(&dialog, u"Saját lista"_s)), (QStringList{u"2 Bob"_s, u"0 eve"_s}));
        QCOMPARE(theirs->currentIndex().row(), 1);
        click(byCaption(&dialog, u"OK"_s));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(f.robot.settings().banList(), (QStringList{u"2 Bob"_s, u"0 eve"_s}));
        QCOMPARE(f.robot.settings().text(Key::PublicBanURL), link->text());
    }

    void closingFromTheMenu()
    {
        WindowFixture f(u"pw"_s);
        Settings& settings = f.robot.settings();
        settings.setBanList({u"0 Bob"_s});
        QVERIFY(f.showActive());

        // OK: the ban list takes the own list, then "Banlista frissítve!".
        whileOpen(f, [](PublicBanDialog* dialog) {
            QTest::keyClicks(byCaption<QLineEdit>(dialog, u"Banlista Link:"_s), u"x.example"_s);
            dialog->model().setUploadAddress(u"ab:cde@h/f"_s);
            click(byCaption(dialog, u"OK"_s));
        });
        QCOMPARE(f.dialogs.messages(), QStringList{u"Banlista frissítve!"_s});
        QCOMPARE(settings.text(Key::PublicBanURL), u"x.example"_s);
        QCOMPARE(settings.text(Key::PublicUploadURL), u"ab:cde@h/f"_s);

        // Escape is "Mégse": nothing handed over, no message, the addresses stored.
        whileOpen(f, [](PublicBanDialog* dialog) {
            QCOMPARE(byCaption<QLineEdit>(dialog, u"Banlista Link:"_s)->text(), u"x.example"_s);
            QCOMPARE(byCaption<QLineEdit>(dialog, u"Feltöltési cím (user:pass@host):"_s)->text(),
                     u"ab:cde@h/f"_s);
            dialog->model().setDownloadAddress(u"y.example"_s);
            dialog->model().selectOwn(0);
            dialog->model().mergeToPublic();
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QCOMPARE(f.dialogs.messages().size(), 1);
        QCOMPARE(settings.text(Key::PublicBanURL), u"y.example"_s);

        // An upload address too long to be stored keeps the window open.
        bool stayed = false;
        whileOpen(f, [&](PublicBanDialog* dialog) {
            auto* address = byCaption<QLineEdit>(dialog, u"Feltöltési cím (user:pass@host):"_s);
            address->clear();
            QTest::keyClicks(address, u"user:password@"_s + QString(50, u'h'));
            click(byCaption(dialog, u"Mégse"_s));
            stayed = dialog->isVisible();
            address->setText(u"ab:cde@h"_s);
            QTest::keyClick(address, Qt::Key_Backspace); // typed: the engine hears it
            click(byCaption(dialog, u"Mégse"_s));
            QVERIFY(!dialog->isVisible());
        });
        QVERIFY(stayed);
        QVERIFY(f.robot.console().lines().join(u'\n').contains(u"túl hosszú"_s));
        QCOMPARE(settings.text(Key::PublicUploadURL), u"ab:cde@"_s);
    }

    void importGroupOnTheSettingsTab()
    {
        WindowFixture f(u"pw"_s);
        Settings& settings = f.robot.settings();
        QWidget* tab = f.window.page(ui::MainWindow::Tab::Settings);
        auto* timed = f.find<QCheckBox>(u"TimedImport"_s);
        auto* interval = f.find<QSpinBox>(u"ImportInterval"_s);
        auto* list = f.find<QComboBox>(u"ImportAd"_s);
        auto* exportAlso = f.find<QCheckBox>(u"ExportAlso"_s);
        auto* exportAddress = f.find<QLineEdit>(u"ExpAd"_s);
        QVERIFY(timed && interval && list && exportAlso && exportAddress);
        QVERIFY(tab->isAncestorOf(timed) && tab->isAncestorOf(exportAddress));
        QCOMPARE(timed->text(), u"Időzített lista import (perc)"_s);
        QCOMPARE(exportAlso->text(), u"Import után feltöltés ide:"_s);
        QCOMPARE(interval->minimum(), 1);
        QCOMPARE(interval->maximum(), 1440);
        QCOMPARE(interval->value(), 5);
        QVERIFY(!list->isEditable());
        QCOMPARE(exportAddress->text(), u"user:pass@host/folder"_s);

        QVERIFY(f.showActive());
        f.window.showTab(ui::MainWindow::Tab::Settings);
        QCOMPARE(f.window.width(), 784); // the group fits the window's width
        click(timed);
        QVERIFY(f.robot.importer().timer().isActive());
        interval->setValue(30);
        QCOMPARE(f.robot.importer().timer().interval(), 30 * 60'000);

        f.dialogs.answerInput(u"bans.example/a"_s);
        click(byCaption(tab, u"+"_s));
        f.dialogs.answerInput(u"http://other.example/"_s);
        click(byCaption(tab, u"+"_s));
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->itemText(0), u"http://bans.example/a"_s);
        // The first address added became the selection; the second did not move it.
        QCOMPARE(list->currentIndex(), 0);
        QCOMPARE(settings.importSelection(), 0);
        list->setCurrentIndex(-1); // a list with entries keeps one selected
        QCOMPARE(list->currentIndex(), 0);
        click(byCaption(tab, u"-"_s));
        QCOMPARE(settings.importList(), QStringList{u"http://other.example/"_s});
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->currentIndex(), 0);
        QCOMPARE(list->currentText(), u"http://other.example/"_s);

        exportAddress->clear();
        QTest::keyClicks(exportAddress, u"me:secret@ftp.example"_s);
        QCOMPARE(settings.uploadAddress(), u"me:secret@ftp.example"_s);

        // "Import most" with no address: said on the console, nothing asked for.
        click(byCaption(tab, u"-"_s));
        QCOMPARE(list->count(), 0);
        QSignalSpy done(&f.robot.importer(), &exchange::Importer::runFinished);
        click(byCaption(tab, u"Import most"_s));
        QVERIFY(!done.isEmpty() || done.wait(10'000));
        QVERIFY(f.robot.console().lines().join(u'\n').contains(
            u"Import: az import listában nincs letöltési cím, az import elmaradt"_s));
    }
};

QTEST_MAIN(TestPublicBan)
#include "test_publicban.moc"
