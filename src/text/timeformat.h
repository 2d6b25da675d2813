#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

namespace vigilor::text {

// The short date and long time formats of the desktop the program was made for. Console
// stamps, log file names, chat lines and every later date field use them.
inline QString shortDate(const QDate& date) { return date.toString(QStringLiteral("yyyy.MM.dd.")); }
inline QString longTime(const QTime& time) { return time.toString(QStringLiteral("H:mm:ss")); }
inline QString dateTime(const QDateTime& when)
{
    return shortDate(when.date()) + u' ' + longTime(when.time());
}

} // namespace vigilor::text
