#pragma once

#include <QObject>
#include <QTimer>

namespace vigilor::platform {

// Linux only. Tells a service manager (systemd, Type=notify) how the program is, through
// sd_notify, only when it asks for it (NOTIFY_SOCKET is set): ready once the settings are
// loaded, and a watchdog ping from the event loop at half the watchdog's time, so that a program
// whose event loop hangs stops pinging and is restarted.
class ServiceNotifier final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServiceNotifier)

public:
    explicit ServiceNotifier(QObject* parent = nullptr);

    void ready();
    void stopping();

private:
    bool m_enabled = false;
    QTimer m_watchdog;
};

} // namespace vigilor::platform
