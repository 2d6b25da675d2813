#pragma once

#include "web/binding.h"
#include "web/guard.h"
#include "web/listen.h"
#include "web/livefeed.h"
#include "web/users.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

namespace vigilor::web {

class WebApi;
class WebServer;

// The web page as a front end of the robot, beside the window or the terminal: it runs the web
// server by the command line's --web options, or else by the [Web] keys of the settings (started
// again a moment after they change), and says on the console where it listens, where its access
// key is, and why it does not start. The robot runs on whatever happens here.
class WebFront final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebFront)

public:
    // How long after the last change of a [Web] key the server starts again.
    static constexpr int kRestartDelayMs = 1000;

    // commandLine: the --web, --web-cert and --web-key values, which take the place of the
    // settings for this run; none when --web was not given.
    WebFront(const Engine& engine, std::optional<WebConfig> commandLine, QObject* parent = nullptr);
    ~WebFront() override;

    // Starts the server when the configuration asks for it (and stops or restarts it when the
    // configuration changed since). Errors go to the console.
    void apply();

    bool running() const { return m_server != nullptr; }
    // The port listened on (the chosen one when the address asked for port 0); 0 when stopped.
    quint16 port() const;
    WebServer* server() { return m_server.get(); }
    WebApi* api() { return m_api.get(); }
    Binding& binding() { return m_binding; }

    // For tests: the limits of the connections and of the live feeds.
    void setLimits(const Limits& limits, const LiveFeed::Limits& feedLimits);

private:
    WebConfig wanted() const;
    void stop(bool say);
    void start(const WebConfig& config);
    void fail(const QString& why);
    // [Web] TrustedProxies and Hosts to the running page, at its start and whenever they change
    // (no restart: they only change what is answered).
    void applyAdmission();

    Engine m_engine;
    std::optional<WebConfig> m_commandLine;
    Binding m_binding;
    Limits m_limits;
    LiveFeed::Limits m_feedLimits;
    QElapsedTimer m_clock;
    QByteArray m_key;
    WebUsers m_users;
    std::unique_ptr<WebApi> m_api;
    std::unique_ptr<WebServer> m_server;
    std::optional<WebConfig> m_applied; // what apply() last acted on
    std::optional<ListenAddress> m_listening;
    QTimer m_restart;
    QTimer m_sweep;
};

} // namespace vigilor::web
