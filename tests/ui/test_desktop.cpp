// The window as an operator meets it on a desktop: the application's set-up (title, Qt's
// Hungarian dialog texts), an unreadable settings file at start, and the console tab's first
// view; under the offscreen platform.
#include "text/version.h"
#include "ui/application.h"
#include "ui/linesview.h"
#include "ui/widgetdialogs.h"
#include "windowfixture.h"

#include <QApplication>
#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using ui::MainWindow;

namespace {

// Answers the next modal dialog once it is up.
void whenModal(std::function<void(QWidget*)> answer)
{
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, qApp, [poll, answer] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            poll->deleteLater();
            poll->stop();
            answer(dialog);
        }
    });
    poll->start();
}

QString buttonText(QMessageBox* box, QMessageBox::StandardButton which)
{
    return box->button(which) ? box->button(which)->text().remove(u'&') : QString();
}

// The texts of an input dialog's buttons, left to right.
QStringList buttonTexts(QWidget* dialog)
{
    QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
    std::sort(buttons.begin(), buttons.end(),
              [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
    QStringList texts;
    for (QPushButton* b : buttons)
        texts << b->text().remove(u'&');
    return texts;
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    // Runs first: Qt's translation is not installed yet.
    void dialogsWorkWithoutTheTranslation();
    void applicationSetUp();
    void dialogsReadHungarian();
    void resetAsksUnderAWarningSign();
    void unreadableSettingsShowTheWindowAndTheError();
    void consoleOpensAtTheLastLineFromTheLeft();
};

void TestDesktop::dialogsWorkWithoutTheTranslation()
{
    QTemporaryDir empty;
    QVERIFY(!ui::loadQtTranslation(*qApp, empty.path()));
    ui::WidgetDialogs dialogs;
    QString yes;
    whenModal([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        yes = buttonText(box, QMessageBox::Yes);
        box->button(QMessageBox::Yes)->click();
    });
    std::optional<bool> answer;
    dialogs.question(u"Biztos?"_s, [&](bool given) { answer = given; });
    QTRY_VERIFY(answer);
    QVERIFY(*answer);
    QCOMPARE(yes, u"Yes"_s);
}

// The title bar shows the window's caption alone: with no display name set, the window system
// appends none, and dialogs are titled with the application's name.
void TestDesktop::applicationSetUp()
{
    ui::setUpApplication(*qApp);
    QCOMPARE(QCoreApplication::applicationName(), u"vigilor"_s);
    QVERIFY(!QApplication::quitOnLastWindowClosed());
    QCOMPARE(QGuiApplication::applicationDisplayName(), u"vigilor"_s);
    QCoreApplication::setApplicationName(u"other"_s);
    QCOMPARE(QGuiApplication::applicationDisplayName(), u"other"_s); // none of its own
    QCoreApplication::setApplicationName(u"vigilor"_s);

    WindowFixture h(u"x"_s);
    QCOMPARE(h.window.windowTitle(), kProgramCaption);
    QVERIFY(h.showActive());
    QCOMPARE(h.window.windowHandle()->title(), kProgramCaption);
}

void TestDesktop::dialogsReadHungarian()
{
    QWidget owner;
    ui::WidgetDialogs dialogs(&owner);
    QStringList buttons;
    whenModal([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        QCOMPARE(box->icon(), QMessageBox::Question);
        buttons = {buttonText(box, QMessageBox::Yes), buttonText(box, QMessageBox::No)};
        box->button(QMessageBox::No)->click();
    });
    std::optional<bool> answer;
    dialogs.question(u"IP címeket is takarítod?"_s, [&](bool given) { answer = given; });
    QTRY_VERIFY(answer);
    QVERIFY(!*answer);
    QCOMPARE(buttons, QStringList({u"Igen"_s, u"Nem"_s}));

    // The input dialog is wide enough for its whole caption, and reads Hungarian as well.
    const QString title = u"Új távoli banlista hozzáadása"_s;
    int width = 0;
    int needed = 0;
    whenModal([&](QWidget* dialog) {
        auto* input = qobject_cast<QInputDialog*>(dialog);
        QVERIFY(input);
        width = input->width();
        needed = ui::WidgetDialogs::titleWidth(*input, title);
        buttons = buttonTexts(input);
        input->reject();
    });
    bool entered = false;
    dialogs.input(title, u"Add meg az URL-t:"_s, u"http://"_s, [&](std::optional<QString> text) {
        entered = true;
        QVERIFY(!text);
    });
    QTRY_VERIFY(entered);
    QVERIFY2(width >= needed, qPrintable(u"%1 < %2"_s.arg(width).arg(needed)));
    QVERIFY(needed > QFontMetrics(owner.font()).horizontalAdvance(title));
    QCOMPARE(buttons, QStringList({u"OK"_s, u"Mégse"_s}));
}

// ">> ALAPBEÁLLÍTÁSOK <<" asks under a warning sign; No leaves the settings file.
void TestDesktop::resetAsksUnderAWarningSign()
{
    QTemporaryDir dir;
    FakeClock clock;
    ui::WidgetDialogs dialogs;
    Robot robot(dir.path() + u'/', clock, dialogs);
    MainWindow window(robot);
    dialogs.setWindow(&window);
    robot.startUp();
    robot.loadSettingsAtStart();
    robot.settings().setHost(u"szerver.hu"_s);
    robot.saveSettings();

    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    whenModal([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        icon = box->icon();
        text = box->text();
        box->button(QMessageBox::No)->click();
    });
    window.findChild<QAction*>(u"DefaultSettings1"_s)->trigger();
    QTRY_COMPARE(icon, QMessageBox::Warning);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QVERIFY(text.startsWith(u"!!! FIGYELEM !!!\n\n"_s));
    QCOMPARE(robot.settings().host(), u"szerver.hu"_s);
}

// A settings file that cannot be read: the start shows the window, not only the icon, and says
// why in a message as well as on the console.
void TestDesktop::unreadableSettingsShowTheWindowAndTheError()
{
    WindowFixture h(u"x"_s);
    QVERIFY(QDir(h.dir.path()).mkdir(u"vigilor.ini"_s));
    h.robot.settings().setFlag(Key::StartMinimized, true);
    // As the program starts: the load shows the window unless it starts in the icon area.
    QObject::connect(&h.robot, &Robot::showWindowRequested, &h.window,
                     [&h] { h.window.presentAtStart(false); });
    QVERIFY(!h.robot.startUp());
    h.robot.loadSettingsAtStart();
    QVERIFY(h.window.isVisible());

    const QString error =
        u"Nem olvasható a fájl: "_s + h.path(u"vigilor.ini"_s) + u" (mappa van a helyén)"_s;
    QCOMPARE(h.dialogs.messages().size(), 1);
    QVERIFY2(h.dialogs.messages()[0].startsWith(u"A beállítások betöltése nem sikerült:\n\r"_s +
                                                error + u"\n\r"_s),
             qPrintable(h.dialogs.messages()[0]));
    const QStringList& lines = h.robot.console().lines();
    QVERIFY(std::any_of(lines.cbegin(), lines.cend(),
                        [&](const QString& line) { return line.endsWith(u" >> "_s + error); }));

    // A later load from the menu reports to the console only.
    h.window.findChild<QAction*>(u"LoadSettingsnow1"_s)->trigger();
    QCOMPARE(h.dialogs.messages().size(), 1);
}

void TestDesktop::consoleOpensAtTheLastLineFromTheLeft()
{
    WindowFixture h(u"x"_s);
    h.robot.startUp();
    for (int i = 0; i < 300; ++i)
        h.robot.console().consoleLine(u"sor %1 "_s.arg(i) + QString(300, u'x'));
    QVERIFY(h.showActive());
    auto* console = h.find<ui::LinesView>(u"console"_s);
    QScrollBar* across = console->horizontalScrollBar();
    QScrollBar* down = console->verticalScrollBar();

    const auto opensAtTheLastLine = [&] {
        QTRY_VERIFY(down->value() == down->maximum() && across->value() == 0 &&
                    console->viewport()->rect().contains(console->cellRect(console->caret())));
        QVERIFY(down->maximum() > 0);
        QVERIFY(across->maximum() > 0); // the lines are wider than the view
        QCOMPARE(console->caret(), (ui::LinesView::Position{console->lineCount() - 1, 0}));
    };
    h.window.showTab(MainWindow::Tab::Console);
    opensAtTheLastLine();
    if (QTest::currentTestFailed())
        return;

    // Scrolled elsewhere, another tab, and back: the same view again, with the new lines.
    down->setValue(0);
    across->setValue(across->maximum());
    h.window.showTab(MainWindow::Tab::Settings);
    h.robot.console().consoleLine(QString(400, u'y'));
    h.window.showTab(MainWindow::Tab::Console);
    opensAtTheLastLine();
}

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
