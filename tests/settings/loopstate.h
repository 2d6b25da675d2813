#pragma once

// The states that the save loop helper writes, one per round, and the check that a set of files
// holds one complete state per file.

#include "settings/settings.h"

#include <QString>
#include <QStringList>

namespace vigilor::test {

inline QStringList loopLines(const QString& pattern, int round, int count)
{
    QStringList lines;
    for (int k = 0; k < count; ++k)
        lines.append(pattern.arg(round).arg(k));
    return lines;
}

inline QStringList loopBans(int round)
{
    return loopLines(QStringLiteral("ban ő %1 %2"), round, 255);
}
inline QStringList loopMessages(int round)
{
    return loopLines(QStringLiteral("Üzenet %1 sor %2"), round, 256);
}
inline QStringList loopImports(int round)
{
    return loopLines(QStringLiteral("http://lista%1.example/%2"), round, 50);
}
inline QString loopName(int round)
{
    return QStringLiteral("név %1").arg(round);
}
inline QString loopPath(int round)
{
    return QStringLiteral("C:\\játék\\%1\\mp.exe").arg(round);
}
inline int loopInterval(int round)
{
    return 30 + round % 1000;
}
// Long enough that some rounds need the escaped password form.
inline QString loopPassword(int round)
{
    return QStringLiteral("jelszó%1").arg(round).leftJustified(40, QChar(u'A' + round % 26));
}

inline void fillLoopState(Settings& s, int round)
{
    s.setBanList(loopBans(round));
    s.setMessages(loopMessages(round));
    s.setImportList(loopImports(round));
    s.setText(Key::EdName, loopName(round));
    s.setText(Key::CoDexe, loopPath(round));
    s.setNumber(Key::TimeInterval, loopInterval(round));
    s.setPassword(loopPassword(round));
}

} // namespace vigilor::test
