#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <optional>

namespace vigilor::text {

// The short date and long time formats of the desktop the program was made for. Console
// stamps, log file names, chat lines and every later date field use them. Every console line
// is stamped with both, so they are written digit by digit rather than through a format
// string; what a four-digit year does not cover goes the long way, to the same text.
constexpr qsizetype kShortDateMax = 11; // "yyyy.MM.dd."
constexpr qsizetype kLongTimeMax = 8;   // "HH:mm:ss"

namespace detail {
inline char16_t* twoDigits(char16_t* at, int value)
{
    *at++ = char16_t(u'0' + value / 10);
    *at++ = char16_t(u'0' + value % 10);
    return at;
}
} // namespace detail

// Writes the date at `at` and returns the end; null for a date without a four-digit year.
inline char16_t* writeShortDate(char16_t* at, const QDate& date)
{
    int year = 0, month = 0, day = 0;
    if (date.isValid())
        date.getDate(&year, &month, &day);
    if (year < 1 || year > 9999)
        return nullptr;
    at = detail::twoDigits(at, year / 100);
    at = detail::twoDigits(at, year % 100);
    *at++ = u'.';
    at = detail::twoDigits(at, month);
    *at++ = u'.';
    at = detail::twoDigits(at, day);
    *at++ = u'.';
    return at;
}
// Writes the time at `at` and returns the end; null for an invalid time.
inline char16_t* writeLongTime(char16_t* at, const QTime& time)
{
    if (!time.isValid())
        return nullptr;
    if (time.hour() >= 10)
        *at++ = char16_t(u'0' + time.hour() / 10);
    *at++ = char16_t(u'0' + time.hour() % 10);
    *at++ = u':';
    at = detail::twoDigits(at, time.minute());
    *at++ = u':';
    return detail::twoDigits(at, time.second());
}

inline QString shortDate(const QDate& date)
{
    char16_t text[kShortDateMax];
    if (const char16_t* end = writeShortDate(text, date))
        return QString(reinterpret_cast<const QChar*>(text), end - text);
    return date.toString(QStringLiteral("yyyy.MM.dd."));
}
inline QString longTime(const QTime& time)
{
    char16_t text[kLongTimeMax];
    if (const char16_t* end = writeLongTime(text, time))
        return QString(reinterpret_cast<const QChar*>(text), end - text);
    return QString();
}
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
