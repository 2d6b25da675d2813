#pragma once

#include "roster/playerline.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

namespace vigilor {
class ErrorSink;
class Settings;
} // namespace vigilor

namespace vigilor::roster {

// The roster text (the lines of the last complete `status` reply) and the player table drawn
// from it. The table is kept here as plain rows so that the window only mirrors it.
class Roster final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Roster)

public:
    static constexpr int kColumns = 6;
    static const QStringList& headerRow();

    Roster(const Settings& settings, ErrorSink* errors, QObject* parent = nullptr);

    const QStringList& text() const { return m_text; }
    QString joinedText() const { return m_text.join(u'\n'); }
    // Also takes the layout from the text's column header. coloured: the lines as the server
    // sent them, with their colour codes, by the line they became once the codes were removed
    // (only those that had codes; empty while no front end shows colours).
    void setText(QStringList lines, QHash<QString, QString> coloured = {});
    // Where the roster text's names stand, as its header says.
    StatusLayout layout() const { return m_layout; }

    // Player rows of the table: row 1 of the grid is rows()[0]. Cells of rows that a refresh
    // did not reach keep what they held, as a grid does.
    const QList<QStringList>& rows() const { return m_rows; }
    // The name of rows()[row] with the colour codes it was sent with, as far as setText was
    // told them; otherwise the name as the row holds it.
    QString shownName(qsizetype row) const;
    // Cuts the table to its title row.
    void clearRows();

    // Refills the table from the roster text. Throws ConversionError from the line readers;
    // rows filled before the failing line stay filled.
    void refresh();

    // ListTimer: redraws the table every second while the window is showing.
    QTimer& listTimer() { return m_listTimer; }
    // The window says whether it is on the screen (shown and not minimised) whenever that may
    // have changed; the next refresh starts or stops ListTimer by it.
    void setWindowShowing(bool showing) { m_windowShowing = showing; }
    // ">> Lista frissítése MOST <<": switch the redraw on and redraw now, errors to the sink.
    void refreshNow();

signals:
    void rowsChanged();

private:
    void setRowCount(int players);

    const Settings& m_settings;
    ErrorSink* m_errors;
    QStringList m_text;
    StatusLayout m_layout;
    QList<QStringList> m_rows;
    QHash<QString, QString> m_coloured;
    QStringList m_shownNames; // beside m_rows while m_coloured holds lines
    QTimer m_listTimer;
    bool m_windowShowing = false;
};

} // namespace vigilor::roster
