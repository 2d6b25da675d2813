#include "ui/linesview.h"

#include "link/linestore.h"
#include "ui/guard.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

constexpr int kMargin = 4;
// Lines longer than this are laid out as the monospace font has it (column times the width of
// a character) instead of being measured, so a huge line costs no more than the part in sight.
constexpr qsizetype kMeasuredLength = 1024;
constexpr int kAutoScrollMs = 50;
// Screen readers are told the text of a reset only while it is short; beyond that they read it
// when they ask for it.
constexpr qint64 kResetTextToldChars = 1 << 16;

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// A screen reader sees the view as a read-only multi-line text, as it sees a text box: the text,
// the caret and the selection, read through the view without a copy of the lines.
class LinesViewAccessible final : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit LinesViewAccessible(LinesView* view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return view()->text();
        return QAccessibleWidget::text(t);
    }

    void selection(int index, int* start, int* end) const override
    {
        *start = *end = 0;
        if (index != 0 || !view()->hasSelection())
            return;
        const LinesView::Position caret = view()->caret();
        const LinesView::Position anchor = view()->anchor();
        const auto [from, to] = std::minmax(caret, anchor);
        *start = int(view()->offsetOf(from));
        *end = int(view()->offsetOf(to));
    }
    int selectionCount() const override { return view()->hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { view()->setCaret(view()->caret()); }
    void setSelection(int, int start, int end) override
    {
        view()->setCaret(view()->positionOf(start));
        view()->setCaret(view()->positionOf(end), true);
    }
    int cursorPosition() const override { return int(view()->offsetOf(view()->caret())); }
    void setCursorPosition(int position) override
    {
        view()->setCaret(view()->positionOf(position));
    }

    QString text(int start, int end) const override
    {
        const LinesView* v = view();
        const qsizetype first = v->positionOf(start).line;
        const qsizetype last = v->positionOf(end).line;
        QString joined;
        for (qsizetype i = first; i <= last && i < v->lineCount(); ++i) {
            if (i > first)
                joined += u'\n';
            joined += v->line(i);
        }
        const qint64 base = v->offsetOf({first, 0});
        return joined.mid(qsizetype(start - base), qsizetype(end - start));
    }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                             int* end) const override
    {
        int s = 0;
        int e = 0;
        textAtOffset(offset, boundary, &s, &e);
        if (s <= 0) {
            *start = *end = 0;
            return {};
        }
        return textAtOffset(s - 1, boundary, start, end);
    }

    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                            int* end) const override
    {
        int s = 0;
        int e = 0;
        textAtOffset(offset, boundary, &s, &e);
        if (e >= characterCount()) {
            *start = *end = characterCount();
            return {};
        }
        // Past the line feed that ends a line.
        const int next =
            boundary == QAccessible::CharBoundary || boundary == QAccessible::WordBoundary ? e
                                                                                           : e + 1;
        return textAtOffset(next, boundary, start, end);
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                         int* end) const override
    {
        const LinesView* v = view();
        const int count = characterCount();
        offset = std::clamp(offset, 0, count);
        *start = *end = offset;
        if (v->lineCount() == 0)
            return {};
        if (boundary == QAccessible::NoBoundary) {
            *start = 0;
            *end = count;
            return v->text();
        }
        const LinesView::Position at = v->positionOf(offset);
        const QString line = v->line(at.line);
        const int lineStart = int(v->offsetOf({at.line, 0}));
        qsizetype from = 0;
        qsizetype to = line.size();
        if (boundary == QAccessible::CharBoundary) {
            if (at.column == line.size()) { // the line feed after the line
                *end = std::min(offset + 1, count);
                return *end > offset ? u"\n"_s : QString();
            }
            from = at.column;
            to = at.column + 1;
        } else if (boundary == QAccessible::WordBoundary) {
            from = at.column;
            to = at.column;
            const bool word = at.column < line.size() && isWordChar(line[at.column]);
            while (from > 0 && isWordChar(line[from - 1]) == word)
                --from;
            while (to < line.size() && isWordChar(line[to]) == word)
                ++to;
        }
        *start = lineStart + int(from);
        *end = lineStart + int(to);
        return line.mid(from, to - from);
    }

    int characterCount() const override { return int(view()->offsetOf({view()->lineCount(), 0})); }

    QRect characterRect(int offset) const override
    {
        const LinesView* v = view();
        const QRect cell = v->cellRect(v->positionOf(offset));
        if (!v->viewport()->rect().intersects(cell))
            return {};
        return QRect(v->viewport()->mapToGlobal(cell.topLeft()), cell.size());
    }

    int offsetAtPoint(const QPoint& point) const override
    {
        const LinesView* v = view();
        const QPoint local = v->viewport()->mapFromGlobal(point);
        if (!v->viewport()->rect().contains(local))
            return -1;
        return int(v->offsetOf(v->positionAt(local)));
    }

    void scrollToSubstring(int start, int end) override
    {
        LinesView* v = view();
        v->setCaret(v->positionOf(end));
        v->setCaret(v->positionOf(start), true);
    }

    QString attributes(int offset, int* start, int* end) const override
    {
        *start = 0;
        *end = std::max(offset, characterCount());
        return {};
    }

private:
    LinesView* view() const { return static_cast<LinesView*>(widget()); }
};

QAccessibleInterface* accessibleFactory(const QString&, QObject* object)
{
    if (auto* view = qobject_cast<LinesView*>(object))
        return new LinesViewAccessible(view);
    return nullptr;
}

} // namespace

LinesView::LinesView(ErrorSink* errors, QWidget* parent)
    : QAbstractScrollArea(parent), m_errors(errors), m_copyAction(new QAction(u"Másolás"_s, this)),
      m_selectAllAction(new QAction(u"Az összes kijelölése"_s, this))
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);

    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamilies({u"Lucida Console"_s, font.family()});
    setFont(font);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(0x00, 0x80, 0x80));
    colours.setColor(QPalette::Text, Qt::white);
    setPalette(colours);

    m_copyAction->setObjectName(u"copyLines"_s);
    m_copyAction->setShortcuts(QKeySequence::Copy);
    m_copyAction->setShortcutContext(Qt::WidgetShortcut);
    m_copyAction->setEnabled(false);
    connect(m_copyAction, &QAction::triggered, this, guard(m_errors, [this] { copy(); }));
    m_selectAllAction->setObjectName(u"selectAllLines"_s);
    m_selectAllAction->setShortcuts(QKeySequence::SelectAll);
    m_selectAllAction->setShortcutContext(Qt::WidgetShortcut);
    connect(m_selectAllAction, &QAction::triggered, this, guard(m_errors, [this] { selectAll(); }));
    addAction(m_copyAction);
    addAction(m_selectAllAction);
    updateMetrics();
}

LinesView::~LinesView() = default;

void LinesView::setLines(const link::Lines* lines)
{
    m_lines = lines;
    linesReset();
}

qsizetype LinesView::lineCount() const
{
    return m_lines ? m_lines->size() : 0;
}

QString LinesView::line(qsizetype i) const
{
    return m_lines && i >= 0 && i < m_lines->size() ? m_lines->line(i) : QString();
}

qsizetype LinesView::lineLength(qsizetype i) const
{
    return m_lines && i >= 0 && i < m_lines->size() ? m_lines->length(i) : 0;
}

QString LinesView::text() const
{
    return m_lines ? m_lines->text() : QString();
}

void LinesView::linesAppended()
{
    const bool follow = atEnd();
    updateScrollBars();
    if (follow)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
    const qsizetype count = lineCount();
    if (QAccessible::isActive() && count > m_linesNotified) {
        QString added = m_lines->toStringList(m_linesNotified).join(u'\n');
        if (m_linesNotified > 0)
            added.prepend(u'\n');
        const qint64 at = m_linesNotified > 0 ? m_lines->textOffset(m_linesNotified) - 1 : 0;
        QAccessibleTextInsertEvent event(this, int(at), added);
        QAccessible::updateAccessibility(&event);
    }
    m_linesNotified = count;
}

void LinesView::linesReset()
{
    m_caret = m_anchor = {std::max<qsizetype>(lineCount() - 1, 0), 0};
    m_wantedColumn = -1;
    m_dragging = false;
    m_autoScroll.stop();
    updateScrollBars();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    horizontalScrollBar()->setValue(0);
    m_copyAction->setEnabled(false);
    viewport()->update();
    m_linesNotified = lineCount();
    if (QAccessible::isActive()) {
        const bool tell = m_lines && m_lines->textLength() <= kResetTextToldChars;
        QAccessibleTextUpdateEvent event(this, 0, QString(), tell ? text() : QString());
        QAccessible::updateAccessibility(&event);
    }
    emit selectionChanged();
}

void LinesView::showLastLine()
{
    const Position last{std::max<qsizetype>(lineCount() - 1, 0), 0};
    const Position oldCaret = m_caret;
    const Position oldAnchor = m_anchor;
    m_caret = m_anchor = last;
    m_wantedColumn = -1;
    updateScrollBars();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    horizontalScrollBar()->setValue(0);
    selectionUpdated(oldCaret, oldAnchor);
}

qsizetype LinesView::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

qsizetype LinesView::visibleLineCount() const
{
    return std::max(1, (viewport()->height() - kMargin) / m_lineHeight);
}

bool LinesView::atEnd() const
{
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void LinesView::updateMetrics()
{
    const QFontMetricsF metrics(font());
    m_lineHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    m_ascent = int(std::ceil(metrics.ascent()));
    m_charWidth = std::max<qreal>(1, metrics.horizontalAdvance(u'x'));
    updateScrollBars();
    viewport()->update();
}

void LinesView::updateScrollBars()
{
    const qsizetype lines = lineCount();
    const int visible = int(visibleLineCount());
    QScrollBar* down = verticalScrollBar();
    down->setRange(0, int(std::max<qsizetype>(0, lines - visible)));
    down->setPageStep(visible);
    down->setSingleStep(1);
    const qsizetype longest = m_lines ? m_lines->maxLength() : 0;
    const int width = int(std::ceil(2 * kMargin + (longest + 1) * m_charWidth));
    QScrollBar* across = horizontalScrollBar();
    across->setRange(0, std::max(0, width - viewport()->width()));
    across->setPageStep(viewport()->width());
    across->setSingleStep(int(std::ceil(m_charWidth)));
}

qreal LinesView::columnX(const QString& text, qsizetype column) const
{
    column = std::clamp<qsizetype>(column, 0, text.size());
    if (text.size() > kMeasuredLength)
        return column * m_charWidth;
    return QFontMetricsF(font()).horizontalAdvance(QStringView(text).left(column).toString());
}

qsizetype LinesView::columnAt(const QString& text, qreal x) const
{
    if (x <= 0)
        return 0;
    if (text.size() > kMeasuredLength)
        return std::clamp<qsizetype>(qsizetype(std::lround(x / m_charWidth)), 0, text.size());
    // The first column whose left edge lies past x, then the nearer of it and the one before.
    qsizetype low = 0;
    qsizetype high = text.size();
    while (low < high) {
        const qsizetype mid = (low + high) / 2;
        if (columnX(text, mid) < x)
            low = mid + 1;
        else
            high = mid;
    }
    if (low > 0 && x - columnX(text, low - 1) < columnX(text, low) - x)
        --low;
    return low;
}

QRect LinesView::cellRect(Position position) const
{
    const QString text = line(position.line);
    const qreal left = kMargin - horizontalScrollBar()->value() + columnX(text, position.column);
    const qreal right =
        position.column < text.size()
            ? left + (columnX(text, position.column + 1) - columnX(text, position.column))
            : left + m_charWidth;
    const int top = kMargin + int(position.line - firstVisibleLine()) * m_lineHeight;
    return QRect(QPoint(int(std::floor(left)), top),
                 QPoint(int(std::ceil(right)) - 1, top + m_lineHeight - 1));
}

LinesView::Position LinesView::positionAt(QPoint point) const
{
    const qsizetype lines = lineCount();
    if (lines == 0)
        return {};
    const int row = int(std::floor(qreal(point.y() - kMargin) / m_lineHeight));
    const qsizetype at = std::clamp<qsizetype>(firstVisibleLine() + row, 0, lines - 1);
    const qreal x = point.x() - kMargin + horizontalScrollBar()->value();
    return {at, columnAt(line(at), x)};
}

qint64 LinesView::offsetOf(Position position) const
{
    if (!m_lines || m_lines->isEmpty())
        return 0;
    if (position.line >= m_lines->size())
        return m_lines->textLength();
    return m_lines->textOffset(position.line) +
           std::clamp<qsizetype>(position.column, 0, m_lines->length(position.line));
}

LinesView::Position LinesView::positionOf(qint64 offset) const
{
    if (!m_lines || m_lines->isEmpty())
        return {};
    const qsizetype at = m_lines->lineAt(offset);
    return clamped({at, qsizetype(offset - m_lines->textOffset(at))});
}

LinesView::Position LinesView::clamped(Position position) const
{
    const qsizetype lines = lineCount();
    if (lines == 0)
        return {};
    position.line = std::clamp<qsizetype>(position.line, 0, lines - 1);
    position.column = std::clamp<qsizetype>(position.column, 0, lineLength(position.line));
    return position;
}

void LinesView::setCaret(Position position, bool keepAnchor)
{
    const Position oldCaret = m_caret;
    const Position oldAnchor = m_anchor;
    m_caret = clamped(position);
    if (!keepAnchor)
        m_anchor = m_caret;
    ensureCaretVisible();
    selectionUpdated(oldCaret, oldAnchor);
}

void LinesView::selectionUpdated(Position oldCaret, Position oldAnchor)
{
    if (m_caret == oldCaret && m_anchor == oldAnchor)
        return;
    m_copyAction->setEnabled(hasSelection());
    viewport()->update();
    if (QAccessible::isActive()) {
        if (hasSelection() || oldCaret != oldAnchor) {
            const auto [from, to] = std::minmax(m_caret, m_anchor);
            QAccessibleTextSelectionEvent event(this, int(offsetOf(from)), int(offsetOf(to)));
            event.setCursorPosition(int(offsetOf(m_caret)));
            QAccessible::updateAccessibility(&event);
        } else {
            QAccessibleTextCursorEvent event(this, int(offsetOf(m_caret)));
            QAccessible::updateAccessibility(&event);
        }
    }
    emit selectionChanged();
}

void LinesView::ensureCaretVisible()
{
    QScrollBar* down = verticalScrollBar();
    const qsizetype visible = visibleLineCount();
    if (m_caret.line < down->value())
        down->setValue(int(m_caret.line));
    else if (m_caret.line >= down->value() + visible)
        down->setValue(int(m_caret.line - visible + 1));
    QScrollBar* across = horizontalScrollBar();
    const int x = int(std::round(columnX(line(m_caret.line), m_caret.column)));
    const int width = viewport()->width() - 2 * kMargin;
    if (x < across->value())
        across->setValue(x);
    else if (x + int(std::ceil(m_charWidth)) > across->value() + width)
        across->setValue(x + int(std::ceil(m_charWidth)) - width);
}

QString LinesView::textBetween(Position from, Position to) const
{
    QString text;
    text.reserve(qsizetype(offsetOf(to) - offsetOf(from)));
    for (qsizetype i = from.line; i <= to.line && i < lineCount(); ++i) {
        const QString whole = line(i);
        const qsizetype start = i == from.line ? from.column : 0;
        const qsizetype end = i == to.line ? to.column : whole.size();
        text += QStringView(whole).mid(start, std::max<qsizetype>(0, end - start));
        if (i < to.line)
            text += u'\n';
    }
    return text;
}

QString LinesView::selectedText() const
{
    const auto [from, to] = std::minmax(m_caret, m_anchor);
    return textBetween(from, to);
}

void LinesView::selectAll()
{
    const qsizetype lines = lineCount();
    if (lines == 0)
        return;
    const Position oldCaret = m_caret;
    const Position oldAnchor = m_anchor;
    m_anchor = {0, 0};
    m_caret = {lines - 1, lineLength(lines - 1)};
    selectionUpdated(oldCaret, oldAnchor);
}

void LinesView::copy() const
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

LinesView::Position LinesView::wordStart(Position from) const
{
    const QString text = line(from.line);
    qsizetype c = std::min(from.column, text.size());
    while (c > 0 && !isWordChar(text[c - 1]))
        --c;
    while (c > 0 && isWordChar(text[c - 1]))
        --c;
    return {from.line, c};
}

LinesView::Position LinesView::wordEnd(Position from) const
{
    const QString text = line(from.line);
    qsizetype c = from.column;
    while (c < text.size() && isWordChar(text[c]))
        ++c;
    while (c < text.size() && !isWordChar(text[c]))
        ++c;
    return {from.line, c};
}

void LinesView::selectWordAt(Position position)
{
    const QString text = line(position.line);
    if (text.isEmpty())
        return;
    const qsizetype at = std::min(position.column, text.size() - 1);
    const bool word = isWordChar(text[at]);
    qsizetype from = at;
    qsizetype to = at + 1;
    while (from > 0 && isWordChar(text[from - 1]) == word && (word || !text[from - 1].isSpace()))
        --from;
    while (to < text.size() && isWordChar(text[to]) == word && (word || !text[to].isSpace()))
        ++to;
    setCaret({position.line, from});
    setCaret({position.line, to}, true);
}

void LinesView::selectLineAt(qsizetype at)
{
    setCaret({at, 0});
    // Through the line feed, so that lines picked one after the other copy as whole lines.
    if (at + 1 < lineCount())
        setCaret({at + 1, 0}, true);
    else
        setCaret({at, lineLength(at)}, true);
}

bool LinesView::moveByKey(QKeyEvent* event)
{
    struct Move
    {
        QKeySequence::StandardKey move;
        QKeySequence::StandardKey select;
    };
    enum class Where
    {
        Right,
        Left,
        WordRight,
        WordLeft,
        Down,
        Up,
        PageDown,
        PageUp,
        Home,
        End,
        Top,
        Bottom
    };
    static const std::pair<Move, Where> keys[] = {
        {{QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar}, Where::Right},
        {{QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar}, Where::Left},
        {{QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord}, Where::WordRight},
        {{QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord}, Where::WordLeft},
        {{QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine}, Where::Down},
        {{QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine}, Where::Up},
        {{QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage}, Where::PageDown},
        {{QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage}, Where::PageUp},
        {{QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine}, Where::Home},
        {{QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine}, Where::End},
        {{QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument}, Where::Top},
        {{QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument}, Where::Bottom},
    };
    for (const auto& [sequence, where] : keys) {
        const bool select = event->matches(sequence.select);
        if (!select && !event->matches(sequence.move))
            continue;
        if (lineCount() == 0)
            return true;
        Position to = m_caret;
        const qsizetype lines = lineCount();
        const qsizetype wanted = m_wantedColumn >= 0 ? m_wantedColumn : m_caret.column;
        const auto vertical = [&](qsizetype by) {
            to.line = std::clamp<qsizetype>(m_caret.line + by, 0, lines - 1);
            to.column = std::min(wanted, lineLength(to.line));
        };
        switch (where) {
        case Where::Right:
            if (to.column < lineLength(to.line))
                ++to.column;
            else if (to.line + 1 < lines)
                to = {to.line + 1, 0};
            break;
        case Where::Left:
            if (to.column > 0)
                --to.column;
            else if (to.line > 0)
                to = {to.line - 1, lineLength(to.line - 1)};
            break;
        case Where::WordRight:
            to = to.column >= lineLength(to.line) && to.line + 1 < lines ? Position{to.line + 1, 0}
                                                                         : wordEnd(to);
            break;
        case Where::WordLeft:
            to = to.column == 0 && to.line > 0 ? Position{to.line - 1, lineLength(to.line - 1)}
                                               : wordStart(to);
            break;
        case Where::Down:
            vertical(1);
            break;
        case Where::Up:
            vertical(-1);
            break;
        case Where::PageDown:
            vertical(visibleLineCount());
            break;
        case Where::PageUp:
            vertical(-visibleLineCount());
            break;
        case Where::Home:
            to.column = 0;
            break;
        case Where::End:
            to.column = lineLength(to.line);
            break;
        case Where::Top:
            to = {0, 0};
            break;
        case Where::Bottom:
            to = {lines - 1, lineLength(lines - 1)};
            break;
        }
        const bool keepsColumn = where == Where::Down || where == Where::Up ||
                                 where == Where::PageDown || where == Where::PageUp;
        if (where == Where::PageDown || where == Where::PageUp) {
            QScrollBar* down = verticalScrollBar();
            down->setValue(int(down->value() + (to.line - m_caret.line)));
        }
        setCaret(to, select);
        m_wantedColumn = keepsColumn ? wanted : -1;
        return true;
    }
    return false;
}

// The event loop's two ways in: whatever goes wrong in a handler below goes to the error
// handler. The viewport's events (paint, resize, the mouse, the context menu) arrive through
// viewportEvent(), the view's own (keys, focus, timers, changes) through event().
bool LinesView::event(QEvent* event)
{
    bool handled = true;
    guarded(m_errors, [&] { handled = QAbstractScrollArea::event(event); });
    return handled;
}

bool LinesView::viewportEvent(QEvent* event)
{
    bool handled = true;
    guarded(m_errors, [&] { handled = QAbstractScrollArea::viewportEvent(event); });
    return handled;
}

void LinesView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        event->accept();
        return;
    }
    if (moveByKey(event)) {
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void LinesView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const QPoint point = event->position().toPoint();
    const Position at = positionAt(point);
    if (m_tripleClick.isActive() &&
        (point - m_tripleClickPoint).manhattanLength() < QApplication::startDragDistance()) {
        m_tripleClick.stop();
        selectLineAt(at.line);
        return;
    }
    m_wantedColumn = -1;
    setCaret(at, event->modifiers() & Qt::ShiftModifier);
    m_dragging = true;
}

void LinesView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    m_dragPoint = event->position().toPoint();
    dragTo(m_dragPoint);
    const bool outside = m_dragPoint.y() < 0 || m_dragPoint.y() >= viewport()->height();
    if (outside && !m_autoScroll.isActive())
        m_autoScroll.start(kAutoScrollMs, this);
    else if (!outside)
        m_autoScroll.stop();
}

void LinesView::dragTo(QPoint point)
{
    m_wantedColumn = -1;
    setCaret(positionAt(point), true);
}

void LinesView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    m_autoScroll.stop();
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void LinesView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    selectWordAt(positionAt(event->position().toPoint()));
    m_tripleClickPoint = event->position().toPoint();
    m_tripleClick.start(QApplication::doubleClickInterval(), this);
}

void LinesView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_autoScroll.timerId()) {
        // Scrolls a line a tick towards the pointer held above or below the view.
        QScrollBar* down = verticalScrollBar();
        down->setValue(down->value() + (m_dragPoint.y() < 0 ? -1 : 1));
        dragTo(m_dragPoint);
    } else if (event->timerId() == m_tripleClick.timerId()) {
        m_tripleClick.stop();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

void LinesView::contextMenuEvent(QContextMenuEvent* event)
{
    auto* menu = new QMenu(this);
    menu->setObjectName(u"linesMenu"_s);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(m_copyAction);
    menu->addAction(m_selectAllAction);
    menu->popup(event->globalPos());
}

void LinesView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void LinesView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    const bool follow = atEnd();
    updateScrollBars();
    if (follow)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LinesView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LinesView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void LinesView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateMetrics();
}

void LinesView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette& colours = palette();
    const qsizetype lines = lineCount();
    const qsizetype first = firstVisibleLine();
    const int left = kMargin - horizontalScrollBar()->value();
    const auto [selFrom, selTo] = std::minmax(m_caret, m_anchor);
    const QRect area = event->rect();
    for (qsizetype i = first; i < lines; ++i) {
        const int top = kMargin + int(i - first) * m_lineHeight;
        if (top > area.bottom())
            break;
        if (top + m_lineHeight < area.top())
            continue;
        const QString text = line(i);
        // A long line is drawn from a little before the first column in sight.
        qsizetype from = 0;
        qsizetype count = text.size();
        if (text.size() > kMeasuredLength) {
            from =
                std::max<qsizetype>(0, qsizetype(horizontalScrollBar()->value() / m_charWidth) - 2);
            count = qsizetype(viewport()->width() / m_charWidth) + 4;
        }
        const QString shown = text.mid(from, count);
        const QPointF origin(left + from * m_charWidth, top + m_ascent);
        painter.setPen(colours.color(QPalette::Text));
        painter.drawText(origin, shown);
        if (hasSelection() && i >= selFrom.line && i <= selTo.line) {
            const qsizetype start = i == selFrom.line ? selFrom.column : 0;
            const qsizetype end = i == selTo.line ? selTo.column : text.size();
            const qreal x1 = left + columnX(text, start);
            // A selected line feed shows as a little room after the line.
            const qreal x2 = left + columnX(text, end) + (i < selTo.line ? m_charWidth / 2 : 0);
            const QRectF band(QPointF(x1, top), QPointF(x2, top + m_lineHeight));
            painter.fillRect(band, colours.color(QPalette::Highlight));
            painter.save();
            painter.setClipRect(band);
            painter.setPen(colours.color(QPalette::HighlightedText));
            painter.drawText(origin, shown);
            painter.restore();
        }
        if (hasFocus() && i == m_caret.line) {
            const qreal x = left + columnX(text, m_caret.column);
            painter.fillRect(QRectF(x, top, 1, m_lineHeight), colours.color(QPalette::Text));
        }
    }
}

} // namespace vigilor::ui
