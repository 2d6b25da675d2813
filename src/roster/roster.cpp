#include "roster/roster.h"

#include "roster/playerline.h"
#include "settings/settings.h"
#include "text/errors.h"

#include <QScopeGuard>

namespace vigilor::roster {

const QStringList& Roster::headerRow()
{
    static const QStringList header = {QStringLiteral("Slot"), QStringLiteral("Pont"),
                                       QStringLiteral("Ping"), QStringLiteral("Név"),
                                       QStringLiteral("IP"),   QStringLiteral("Rate")};
    return header;
}

Roster::Roster(const Settings& settings, ErrorSink* errors, QObject* parent)
    : QObject(parent), m_settings(settings), m_errors(errors), m_listTimer(this)
{
    m_listTimer.setObjectName(QStringLiteral("ListTimer"));
    m_listTimer.setInterval(1000);
    connect(&m_listTimer, &QTimer::timeout, this,
            [this] { guarded(m_errors, [this] { refresh(); }); });
}

void Roster::setText(QStringList lines, QHash<QString, QString> coloured)
{
    m_text = std::move(lines);
    m_layout = statusLayout(m_text);
    m_coloured = std::move(coloured);
}

QString Roster::shownName(qsizetype row) const
{
    if (row < m_shownNames.size() && !m_shownNames[row].isEmpty())
        return m_shownNames[row];
    return m_rows.value(row).value(3);
}

void Roster::clearRows()
{
    setRowCount(0);
    emit rowsChanged();
}

void Roster::setRowCount(int players)
{
    m_rows.resize(players);
    m_shownNames.resize(m_coloured.isEmpty() ? 0 : players);
    for (QStringList& row : m_rows) {
        if (row.size() != kColumns)
            row.resize(kColumns);
    }
}

void Roster::refresh()
{
    const bool showing = m_windowShowing;
    if (showing && !m_listTimer.isActive())
        m_listTimer.start();
    else if (!showing)
        m_listTimer.stop();
    if (m_text.isEmpty())
        return;
    const int n = playerCount(m_text) % 256;
    setRowCount(n);
    if (n == 0) {
        emit rowsChanged();
        return;
    }
    // Line index c fills grid row c - 2, so with the reply's three header lines the first
    // player line (index 3) fills row 1.
    const auto notify = qScopeGuard([this] { emit rowsChanged(); });
    const int requiredRate = m_settings.requiredRate();
    const qsizetype lastIndex = std::min<qsizetype>(n + 3, m_text.size() - 1);
    for (qsizetype c = 1; c <= lastIndex; ++c) {
        const QString& line = m_text[c];
        if (!isPlayerLine(line))
            continue;
        const qsizetype row = c - 2;
        if (row < 1 || row > n)
            continue;
        QStringList& cells = m_rows[row - 1];
        cells[0] = QString::number(playerSlot(line));
        cells[1] = QString::number(playerScore(line));
        cells[2] = QString::number(playerPing(line));
        cells[3] = playerName(line, m_layout);
        if (!m_coloured.isEmpty()) {
            const auto sent = m_coloured.constFind(line);
            m_shownNames[row - 1] =
                sent == m_coloured.constEnd()
                    ? QString()
                    : colouredField(*sent, m_layout.nameColumn, cells[3].size());
        }
        cells[4] = playerAddress(line);
        cells[5] = QString::number(playerRate(line, requiredRate));
    }
}

void Roster::refreshNow()
{
    m_listTimer.start();
    guarded(m_errors, [this] { refresh(); });
}

} // namespace vigilor::roster
