#include "platform/servicenotifier.h"

#include <systemd/sd-daemon.h>

namespace vigilor::platform {

ServiceNotifier::ServiceNotifier(QObject* parent)
    : QObject(parent), m_enabled(!qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")), m_watchdog(this)
{
    m_watchdog.setObjectName(QStringLiteral("WatchdogTimer"));
    connect(&m_watchdog, &QTimer::timeout, this, []() noexcept { sd_notify(0, "WATCHDOG=1"); });
}

void ServiceNotifier::ready()
{
    if (!m_enabled)
        return;
    sd_notify(0, "READY=1");
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        sd_notify(0, "WATCHDOG=1");
        m_watchdog.start(int(qBound<uint64_t>(1, usec / 2000, 24ULL * 3600 * 1000)));
    }
}

void ServiceNotifier::stopping()
{
    if (!m_enabled)
        return;
    m_watchdog.stop();
    sd_notify(0, "STOPPING=1");
}

} // namespace vigilor::platform
