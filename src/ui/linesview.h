#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QPoint>

#include <compare>

class QAction;

namespace vigilor {
class ErrorSink;
}

namespace vigilor::link {
class Lines;
}

namespace vigilor::ui {

// A read-only view of many lines (the console, the search results) that lays out only the lines
// in sight, so a day of a quarter of a million lines costs nothing until it is scrolled to. It
// reads the lines from their store and keeps no copy. It offers what a text console does: a
// caret, selection with the mouse (drag, shift+click, double and triple click) and the keyboard
// (shift with the arrows, Home/End, PgUp/PgDn, Ctrl+A), copying (Ctrl+C and the context menu),
// following the end while the lines grow and keeping the place while the operator reads further
// up. White monospace text on teal. Screen readers read it as a read-only multi-line text.
class LinesView final : public QAbstractScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinesView)

public:
    struct Position
    {
        qsizetype line = 0;
        qsizetype column = 0;
        auto operator<=>(const Position&) const = default;
    };

    // Errors in the view's event handlers go to errors.
    explicit LinesView(ErrorSink* errors, QWidget* parent = nullptr);
    ~LinesView() override;

    // The lines shown (nullptr: none). The store must outlive the view, or be replaced first.
    void setLines(const link::Lines* lines);
    // The store grew at its end: the view follows the end when it was there, and otherwise
    // keeps the lines in sight where they are.
    void linesAppended();
    // The store was emptied or replaced: the selection goes and the end comes into view.
    void linesReset();

    qsizetype lineCount() const;
    QString line(qsizetype i) const;
    // All the lines joined with line feeds (what a screen reader reads as the text).
    QString text() const;

    Position caret() const { return m_caret; }
    Position anchor() const { return m_anchor; }
    // Moves the caret (clamped to the lines) and brings it into view; keepAnchor extends the
    // selection instead of dropping it.
    void setCaret(Position position, bool keepAnchor = false);
    bool hasSelection() const { return m_caret != m_anchor; }
    QString selectedText() const;
    void selectAll();
    void copy() const;

    // The caret at the start of the last line, the end in view, scrolled fully left (the time
    // stamps show).
    void showLastLine();

    qsizetype firstVisibleLine() const;
    qsizetype visibleLineCount() const; // lines wholly in sight
    bool atEnd() const;                 // the last line is in sight
    // Where a position is drawn and which position a point falls on, in viewport coordinates.
    QRect cellRect(Position position) const;
    Position positionAt(QPoint viewportPoint) const;

    // Positions in text().
    qint64 offsetOf(Position position) const;
    Position positionOf(qint64 offset) const;

    QAction* copyAction() const { return m_copyAction; }
    QAction* selectAllAction() const { return m_selectAllAction; }

signals:
    void selectionChanged();

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    // Reached only through the two above, which guard them.
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void timerEvent(QTimerEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateMetrics();
    void updateScrollBars();
    void ensureCaretVisible();
    void selectionUpdated(Position oldCaret, Position oldAnchor);
    QString textBetween(Position from, Position to) const;
    qreal columnX(const QString& text, qsizetype column) const;
    qsizetype columnAt(const QString& text, qreal x) const;
    qsizetype lineLength(qsizetype line) const;
    Position clamped(Position position) const;
    Position wordStart(Position from) const;
    Position wordEnd(Position from) const;
    void selectWordAt(Position position);
    void selectLineAt(qsizetype line);
    bool moveByKey(QKeyEvent* event);
    void dragTo(QPoint viewportPoint);

    ErrorSink* m_errors;
    const link::Lines* m_lines = nullptr;
    qsizetype m_linesNotified = 0; // what screen readers were last told about
    Position m_caret;
    Position m_anchor;
    qsizetype m_wantedColumn = -1; // kept while moving up and down
    int m_lineHeight = 1;
    int m_ascent = 0;
    qreal m_charWidth = 1;
    QBasicTimer m_autoScroll;
    QPoint m_dragPoint;
    bool m_dragging = false;
    QBasicTimer m_tripleClick;
    QPoint m_tripleClickPoint;
    QAction* m_copyAction;
    QAction* m_selectAllAction;
};

} // namespace vigilor::ui
