#include "settings/settings.h"

#include <algorithm>

namespace vigilor {

Settings::Settings(QObject* parent) : QObject(parent) {}

void Settings::setHost(const QString& host)
{
    if (m_host == host)
        return;
    m_host = host;
    emit hostChanged(m_host);
}

void Settings::setPort(const QString& port)
{
    if (m_port == port)
        return;
    m_port = port;
    emit portChanged(m_port);
}

void Settings::setPassword(const QString& password)
{
    if (m_password == password)
        return;
    m_password = password;
    emit passwordChanged(m_password);
}

void Settings::setTimeInterval(int seconds)
{
    m_timeInterval = std::clamp(seconds, kTimeIntervalMin, kTimeIntervalMax);
    emit timeIntervalSet(m_timeInterval);
}

void Settings::setRequiredRate(int rate)
{
    rate = std::clamp(rate, kRequiredRateMin, kRequiredRateMax);
    if (m_requiredRate == rate)
        return;
    m_requiredRate = rate;
    emit requiredRateChanged(m_requiredRate);
}

} // namespace vigilor
