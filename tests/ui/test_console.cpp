// The console and the search results on the main window, under the offscreen platform: what an
// operator does with a day's console (select and copy lines, read further up while it grows),
// the change of day, the search over a long day, and what a screen reader reads.
#include "link/console.h"
#include "link/intake.h"
#include "link/search.h"
#include "ui/linesview.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using namespace vigilor;
using namespace vigilor::test;
using namespace Qt::StringLiterals;
using ui::LinesView;
using ui::MainWindow;
using Position = LinesView::Position;

namespace {

QString dayLine(int i)
{
    return u"[2026.12.08.] %1:%2:00 >> sor %3"_s.arg(i % 24).arg(i % 60, 2, 10, QChar(u'0')).arg(i);
}

struct Harness : WindowFixture
{
    Harness() : WindowFixture(u"secret"_s) { robot.startUp(); }

    LinesView* console() const { return find<LinesView>(u"console"_s); }
    bool showConsole()
    {
        window.showTab(MainWindow::Tab::Console);
        return showActive();
    }
    void fill(int count)
    {
        QStringList day;
        day.reserve(count);
        for (int i = 0; i < count; ++i)
            day << dayLine(i);
        robot.console().replace(day);
    }
    QString lines(qsizetype first, qsizetype count)
    {
        QString text;
        for (qsizetype i = first; i < first + count; ++i)
            text += robot.console().line(i) + u'\n';
        return text;
    }
};

// Just right of where a column begins, so that a click lands on that column's left edge.
QPoint at(const LinesView* view, qsizetype line, qsizetype column = 0)
{
    const QRect cell = view->cellRect({line, column});
    return QPoint(cell.left() + 1, cell.center().y());
}

QString clipboard()
{
    return QGuiApplication::clipboard()->text();
}

} // namespace

class TestConsole : public QObject
{
    Q_OBJECT

private slots:
    void viewShowsTheConsoleLines();
    void selectAndCopySeveralLines();
    void followsTheEndAndKeepsThePlace();
    void changeOfDayEmptiesTheView();
    void searchTabOnALargeConsole();
    void screenReaderReadsTheConsole();
};

void TestConsole::viewShowsTheConsoleLines()
{
    Harness h;
    link::Console& console = h.robot.console();
    LinesView* view = h.console();
    QVERIFY(view);
    QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(view->palette().color(QPalette::Text), QColor(Qt::white));
    QCOMPARE(view->palette().color(QPalette::Base), QColor(0x00, 0x80, 0x80));
    QCOMPARE(view->font().families().value(0), u"Lucida Console"_s);

    console.consoleLine(u"egy"_s);
    console.appendText(u"kettő\nhárom\n"_s);
    QCOMPARE(view->text(), console.lines().join(u'\n'));
    QCOMPARE(view->line(view->lineCount() - 1), u"három"_s);

    // A day's long log is taken whole and then grows line by line; the view reaches it all.
    h.fill(250000);
    QCOMPARE(view->lineCount(), 250000);
    console.consoleLine(u"utolsó"_s);
    QCOMPARE(view->lineCount(), 250001);
    QCOMPARE(view->line(0), dayLine(0));
    QCOMPARE(view->line(250000), console.line(250000));
    QVERIFY(view->line(250000).endsWith(u" >> utolsó"_s));
    QVERIFY(h.showConsole());
    QVERIFY(view->atEnd());
    QCOMPARE(view->firstVisibleLine() + view->visibleLineCount(), view->lineCount());
    // Wide enough for the longest line.
    QVERIFY(view->horizontalScrollBar()->maximum() + view->viewport()->width() >=
            QFontMetrics(view->font()).horizontalAdvance(dayLine(249999)));

    // Emptied; then a console of one empty line grows below it.
    console.clear();
    QCOMPARE(view->lineCount(), 0);
    QCOMPARE(view->text(), QString());
    console.replace({QString()});
    console.appendText(u"első"_s);
    console.appendText(u"második"_s);
    QCOMPARE(view->text(), u"\nelső\nmásodik"_s);
}

void TestConsole::selectAndCopySeveralLines()
{
    Harness h;
    h.fill(200);
    QVERIFY(h.showConsole());
    LinesView* view = h.console();
    QVERIFY(!view->copyAction()->isEnabled());

    // A click puts the caret on a line; shift with the arrows takes whole lines from there.
    const qsizetype first = view->firstVisibleLine() + 2;
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at(view, first));
    QCOMPARE(view->caret(), (Position{first, 0}));
    QVERIFY(!view->hasSelection());
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(view->selectedText(), h.lines(first, 3));
    QVERIFY(view->copyAction()->isEnabled());
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard(), h.lines(first, 3));
    // Shift+End and Shift+Left work on characters of the last line.
    QTest::keyClick(view, Qt::Key_End, Qt::ShiftModifier);
    QTest::keyClick(view, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(view->selectedText(),
             h.lines(first, 3) + h.robot.console().line(first + 3).chopped(1));

    // Shift+click extends the selection to the clicked place.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, at(view, first + 5, 4));
    QCOMPARE(view->anchor(), (Position{first, 0}));
    QCOMPARE(view->caret(), (Position{first + 5, 4}));
    QCOMPARE(view->selectedText(), h.lines(first, 5) + h.robot.console().line(first + 5).left(4));

    // Dragging with the mouse, upwards.
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(view, first + 4, 2));
    QTest::mouseMove(view->viewport(), at(view, first + 1, 0));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(view, first + 1, 0));
    QCOMPARE(view->anchor(), (Position{first + 4, 2}));
    QCOMPARE(view->caret(), (Position{first + 1, 0}));
    QCOMPARE(view->selectedText(),
             h.lines(first + 1, 3) + h.robot.console().line(first + 4).left(2));

    // A double click takes a word, a third click the whole line.
    const qsizetype word = h.robot.console().line(first).indexOf(u"sor"_s) + 1;
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at(view, first, word));
    QCOMPARE(view->selectedText(), u"sor"_s);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at(view, first, word));
    QCOMPARE(view->selectedText(), h.lines(first, 1));

    // Ctrl+A takes everything; the context menu copies it.
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view->selectedText(), view->text());
    const QPoint point = at(view, first);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, point,
                                view->viewport()->mapToGlobal(point));
    QApplication::sendEvent(view->viewport(), &menuEvent);
    auto* menu = view->findChild<QMenu*>(u"linesMenu"_s);
    QVERIFY(menu);
    QStringList items;
    for (const QAction* item : menu->actions())
        items << item->text();
    QCOMPARE(items, (QStringList{u"Másolás"_s, u"Az összes kijelölése"_s}));
    QGuiApplication::clipboard()->clear();
    menu->actions().front()->trigger();
    menu->close();
    QCOMPARE(clipboard(), h.robot.console().lines().join(u'\n'));

    // A click without shift drops the selection.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at(view, first + 1));
    QVERIFY(!view->hasSelection());
    QVERIFY(!view->copyAction()->isEnabled());
}

void TestConsole::followsTheEndAndKeepsThePlace()
{
    Harness h;
    h.fill(1000);
    QVERIFY(h.showConsole());
    LinesView* view = h.console();
    link::Console& console = h.robot.console();
    QVERIFY(view->atEnd());

    // At the end, the view follows what is written.
    for (int i = 0; i < 50; ++i)
        console.consoleLine(u"új sor %1"_s.arg(i));
    QVERIFY(view->atEnd());
    QCOMPARE(view->firstVisibleLine() + view->visibleLineCount(), console.size());

    // Reading further up, with a few lines selected: the place and the selection stay while a
    // status reply of many lines arrives.
    QTest::keyClick(view, Qt::Key_PageUp);
    QTest::keyClick(view, Qt::Key_PageUp);
    QTest::keyClick(view, Qt::Key_Up, Qt::ShiftModifier);
    QVERIFY(!view->atEnd());
    const qsizetype top = view->firstVisibleLine();
    const QString topLine = view->line(top);
    const QString selected = view->selectedText();
    QVERIFY(!selected.isEmpty());
    QStringList reply;
    for (int i = 0; i < 70; ++i)
        reply << u"%1     0   48 Player%1          0 10.0.0.%1:28960  %1 25000"_s.arg(i);
    console.appendLines(reply);
    QCOMPARE(view->firstVisibleLine(), top);
    QCOMPARE(view->line(top), topLine);
    QCOMPARE(view->selectedText(), selected);
    QVERIFY(!view->atEnd());

    // Back at the end, it follows again.
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(view->atEnd());
    console.appendLines(reply);
    QVERIFY(view->atEnd());
    QCOMPARE(view->firstVisibleLine() + view->visibleLineCount(), console.size());

    // The tab shown again opens at the last line, from its start.
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
    h.window.showTab(MainWindow::Tab::Roster);
    h.window.showTab(MainWindow::Tab::Console);
    QVERIFY(view->atEnd());
    QCOMPARE(view->horizontalScrollBar()->value(), 0);
    QCOMPARE(view->caret(), (Position{console.size() - 1, 0}));
}

void TestConsole::changeOfDayEmptiesTheView()
{
    Harness h;
    h.fill(5000);
    QVERIFY(h.showConsole());
    LinesView* view = h.console();
    link::ReplyIntake& intake = h.robot.intake();
    intake.handleDatagram("\xff\xff\xff\xffprint\nAz elso nap valasza\n"_ba);
    QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
    QVERIFY(view->hasSelection());
    QVERIFY(!view->atEnd());

    // The first answer after midnight: the old day leaves the view, selection and all.
    h.clock.set(QDateTime(QDate(2026, 12, 9), QTime(0, 0, 5)));
    intake.handleDatagram("\xff\xff\xff\xffprint\nA masodik nap valasza\n"_ba);
    QVERIFY(h.robot.console().size() < 5);
    QCOMPARE(view->lineCount(), h.robot.console().size());
    QCOMPARE(view->text(), h.robot.console().lines().join(u'\n'));
    QVERIFY(view->line(0).contains(u"*** Log break at "_s));
    QVERIFY(view->text().endsWith(u"A masodik nap valasza"_s));
    QVERIFY(!view->text().contains(u"sor 4999"_s));
    QVERIFY(!view->hasSelection());
    QVERIFY(view->atEnd());
    QCOMPARE(view->firstVisibleLine(), 0);
}

void TestConsole::searchTabOnALargeConsole()
{
    Harness h;
    const int count = 240000;
    h.fill(count);
    h.window.showTab(MainWindow::Tab::Search);
    QVERIFY(h.showActive());
    auto* needle = h.find<QLineEdit>(u"Edit7"_s);
    auto* search = h.find<QPushButton>(u"SearchBtn"_s);
    auto* clear = h.find<QPushButton>(u"Button7"_s);
    auto* results = h.find<LinesView>(u"Search"_s);
    QVERIFY(needle && search && clear && results);

    // Every line of the hour, in the console's order, the box opened at the first.
    QTest::keyClicks(needle, u" 12:"_s);
    QTest::mouseClick(search, Qt::LeftButton);
    QTRY_VERIFY(search->isEnabled()); // a long search ends from the event loop
    QCOMPARE(results->lineCount(), count / 24);
    QCOMPARE(results->line(0), dayLine(12));
    QCOMPARE(results->line(results->lineCount() - 1), dayLine(count - 12));
    QCOMPARE(results->firstVisibleLine(), 0);
    QCOMPARE(results->caret(), Position{});

    // Narrowed to minutes 12:00 to 12:09 of the results; then copied whole.
    needle->setText(u" 12:0"_s);
    QTest::mouseClick(search, Qt::LeftButton);
    QTRY_VERIFY(search->isEnabled()); // a long search ends from the event loop
    QStringList expected;
    for (int i = 12; i < count; i += 24)
        if (i % 60 < 10)
            expected << dayLine(i);
    QCOMPARE(results->lineCount(), expected.size());
    QCOMPARE(results->text(), expected.join(u'\n'));
    results->setFocus();
    QTest::keyClick(results, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(results, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard(), expected.join(u'\n'));

    // "Törlés" empties the box; then the lines that lack a text, the console's latest ones.
    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(results->lineCount(), 0);
    h.robot.console().consoleLine(u"Joe kirugva"_s);
    h.robot.console().consoleLine(u"Bob kirugva"_s);
    QTest::mouseClick(h.find<QWidget>(u"CheckBox21"_s), Qt::LeftButton);
    QTest::keyClicks(needle, u"sor"_s);
    QTest::mouseClick(search, Qt::LeftButton);
    QTRY_VERIFY(search->isEnabled()); // a long search ends from the event loop
    QCOMPARE(results->text(), h.robot.console().lines(count).join(u'\n'));
    QCOMPARE(results->lineCount(), 2);
}

void TestConsole::screenReaderReadsTheConsole()
{
    Harness h;
    h.fill(30);
    QVERIFY(h.showConsole());
    LinesView* view = h.console();
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(view);
    QVERIFY(reader);
    QCOMPARE(reader->role(), QAccessible::EditableText);
    QVERIFY(reader->state().readOnly);
    QVERIFY(reader->state().multiLine);
    QCOMPARE(reader->text(QAccessible::Name), u"Konzol"_s);
    QCOMPARE(reader->text(QAccessible::Value), h.robot.console().lines().join(u'\n'));

    QAccessibleTextInterface* text = reader->textInterface();
    QVERIFY(text);
    const QString all = view->text();
    QCOMPARE(text->characterCount(), all.size());
    QCOMPARE(text->text(0, text->characterCount()), all);
    const int third = int(all.indexOf(dayLine(3)));
    QCOMPARE(text->text(third, third + 5), dayLine(3).left(5));
    int start = 0;
    int end = 0;
    QCOMPARE(text->textAtOffset(third + 7, QAccessible::LineBoundary, &start, &end), dayLine(3));
    QCOMPARE(start, third);
    QCOMPARE(end, third + dayLine(3).size());
    QCOMPARE(text->textAfterOffset(third + 7, QAccessible::LineBoundary, &start, &end), dayLine(4));
    QCOMPARE(text->textBeforeOffset(third + 7, QAccessible::LineBoundary, &start, &end),
             dayLine(2));

    // The reader selects two lines; the view shows them selected, and the reader reads it back.
    const int fifth = int(all.indexOf(dayLine(5)));
    text->setSelection(0, third, fifth);
    QCOMPARE(view->selectedText(), dayLine(3) + u'\n' + dayLine(4) + u'\n');
    QCOMPARE(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    QCOMPARE(start, third);
    QCOMPARE(end, fifth);
    QCOMPARE(text->cursorPosition(), fifth);

    // What is written later is read too.
    h.robot.console().consoleLine(u"később"_s);
    QCOMPARE(text->characterCount(), view->text().size());
    QVERIFY(reader->text(QAccessible::Value).endsWith(u" >> később"_s));
}

QTEST_MAIN(TestConsole)
#include "test_console.moc"
