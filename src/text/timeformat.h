#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <optional>

namespace vigilor::text {

// The short date and long time formats of the desktop the program was made for. Console
// stamps, log file names, chat lines and every later date field use them.
inline QString shortDate(const QDate& date) { return date.toString(QStringLiteral("yyyy.MM.dd.")); }
inline QString longTime(const QTime& time) { return time.toString(QStringLiteral("H:mm:ss")); }
inline QString dateTime(const QDateTime& when)
{
    return shortDate(when.date()) + u' ' + longTime(when.time());
}

// The date or time a text in those formats stands for; no value for any other text, also for
// one that reads as a date or time but is not written exactly as the format writes it.
inline std::optional<QDate> parseShortDate(const QString& text)
{
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy.MM.dd."));
    if (!date.isValid() || shortDate(date) != text)
        return std::nullopt;
    return date;
}
inline std::optional<QTime> parseLongTime(const QString& text)
{
    const QTime time = QTime::fromString(text, QStringLiteral("H:mm:ss"));
    if (!time.isValid() || longTime(time) != text)
        return std::nullopt;
    return time;
}

} // namespace vigilor::text
