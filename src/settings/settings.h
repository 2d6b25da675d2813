#pragma once

#include <QObject>
#include <QString>

namespace vigilor {

// The live settings. Widgets bind to these values both ways and the engine reacts to their
// change signals; a setter that does not change its value emits nothing.
class Settings final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTimeIntervalMin = 30;
    static constexpr int kTimeIntervalMax = 999999;
    static constexpr int kRequiredRateMin = 1000;
    static constexpr int kRequiredRateMax = 50000;

    explicit Settings(QObject* parent = nullptr);

    // Server fields of the top bar.
    QString host() const { return m_host; }
    QString port() const { return m_port; }
    QString password() const { return m_password; }
    void setHost(const QString& host);
    void setPort(const QString& port);
    void setPassword(const QString& password);

    // Check interval in seconds: the roster poll period and the base of the channel poll.
    int timeInterval() const { return m_timeInterval; }
    // Applies the value (limited to its range) and always re-runs the reaction, also when the
    // value is unchanged: the poll periods follow every setting of the interval.
    void setTimeInterval(int seconds);

    int requiredRate() const { return m_requiredRate; }
    void setRequiredRate(int rate);

signals:
    void hostChanged(const QString& host);
    void portChanged(const QString& port);
    void passwordChanged(const QString& password);
    void timeIntervalSet(int seconds);
    void requiredRateChanged(int rate);

private:
    QString m_host;
    QString m_port;
    QString m_password;
    int m_timeInterval = 60;
    int m_requiredRate = 25000;
};

} // namespace vigilor
