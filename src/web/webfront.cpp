#include "web/webfront.h"

#include "link/console.h"
#include "link/intake.h"
#include "link/link.h"
#include "settings/settings.h"
#include "text/errors.h"

#include "web/api.h"
#include "web/secrets.h"
#include "web/server.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

namespace vigilor::web {

namespace {

const QString kNotStarted = QStringLiteral("A webes felület nem indult el: ");

// The certificate chain and the private key of PEM files; the error text when they do not read.
std::optional<QSslConfiguration> tlsConfiguration(const QString& certFile, const QString& keyFile,
                                                  QString* why)
{
    if (!QSslSocket::supportsSsl()) {
        *why = QStringLiteral("a TLS nem érhető el ezen a gépen");
        return std::nullopt;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certFile, QSsl::Pem);
    if (chain.isEmpty()) {
        *why = QStringLiteral("nem olvasható PEM tanúsítvány: ") + certFile;
        return std::nullopt;
    }
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("nem olvasható a kulcsfájl: ") + keyFile;
        return std::nullopt;
    }
    const QByteArray pem = file.read(1024 * 1024);
    QSslKey key;
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        *why = QStringLiteral("nem olvasható PEM titkos kulcs: ") + keyFile;
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(chain.front());
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setProtocol(QSsl::SecureProtocols);
    return configuration;
}

} // namespace

WebFront::WebFront(const Engine& engine, std::optional<WebConfig> commandLine, QObject* parent)
    : QObject(parent), m_engine(engine), m_commandLine(std::move(commandLine)),
      m_binding(engine), m_users(engine.programFolder)
{
    m_clock.start();
    m_restart.setSingleShot(true);
    m_restart.setInterval(kRestartDelayMs);
    connect(&m_restart, &QTimer::timeout, this, [this] { guarded(&m_engine.errors, [this] { apply(); }); });
    connect(&m_engine.settings, &Settings::changed, this, [this](Key key) noexcept {
        if (!m_commandLine && (key == Key::WebListen || key == Key::WebCert || key == Key::WebKey))
            m_restart.start();
        if (key == Key::WebTrustedProxies || key == Key::WebHosts)
            guarded(&m_engine.errors, [this] { applyAdmission(); });
    });
    // Wrong keys are said at most once a minute per address; what waits is said from here.
    m_sweep.setInterval(5000);
    connect(&m_sweep, &QTimer::timeout, this, [this] {
        guarded(&m_engine.errors, [this] {
            if (m_api)
                m_api->sweep();
        });
    });
}

WebFront::~WebFront()
{
    // The server goes first: its feeds read the binding until they close.
    m_server.reset();
}

void WebFront::setLimits(const Limits& limits, const LiveFeed::Limits& feedLimits)
{
    m_limits = limits;
    m_feedLimits = feedLimits;
}

quint16 WebFront::port() const
{
    return m_server ? m_server->port() : 0;
}

WebConfig WebFront::wanted() const
{
    if (m_commandLine)
        return *m_commandLine;
    const Settings& settings = m_engine.settings;
    return {settings.text(Key::WebListen).trimmed(), settings.text(Key::WebCert).trimmed(),
            settings.text(Key::WebKey).trimmed()};
}

void WebFront::apply()
{
    m_restart.stop();
    const WebConfig config = wanted();
    if (m_applied && *m_applied == config)
        return;
    m_applied = config;
    stop(true);
    if (!config.listen.isEmpty())
        start(config);
}

void WebFront::applyAdmission()
{
    if (!m_api || !m_server || !m_listening)
        return;
    const Settings& settings = m_engine.settings;
    QStringList badProxies;
    QStringList badHosts;
    Admission admission;
    admission.setListenAddress(*m_listening);
    admission.setTrustedProxies(
        Admission::parseProxies(settings.text(Key::WebTrustedProxies), &badProxies));
    admission.setHosts(Admission::parseHosts(settings.text(Key::WebHosts), &badHosts));
    for (const QString& bad : std::as_const(badProxies))
        m_engine.console.consoleLine(
            QStringLiteral("A [Web] TrustedProxies kulcsában nem cím (CÍM vagy CÍM/HOSSZ kell), "
                           "kimarad: ") +
            bad);
    for (const QString& bad : std::as_const(badHosts))
        m_engine.console.consoleLine(
            QStringLiteral("A [Web] Hosts kulcsában nem gépnév (NÉV vagy NÉV:PORT kell), "
                           "kimarad: ") +
            bad);
    m_api->setAdmission(std::move(admission));
}

void WebFront::stop(bool say)
{
    if (!m_server)
        return;
    m_sweep.stop();
    m_listening.reset();
    m_server.reset();
    m_engine.serverInfo.setWatching(false, m_engine.link.isConnected());
    m_engine.intake.setKeepColours(false);
    if (say)
        m_engine.console.consoleLine(QStringLiteral("A webes felület leállt."));
}

void WebFront::fail(const QString& why)
{
    m_engine.console.consoleLine(kNotStarted + why);
}

void WebFront::start(const WebConfig& config)
{
    QString why;
    const std::optional<ListenAddress> where = parseListenAddress(config.listen, &why);
    if (!where)
        return fail(why);
    const bool tlsAsked = !config.certFile.isEmpty() || !config.keyFile.isEmpty();
    if (tlsAsked && (config.certFile.isEmpty() || config.keyFile.isEmpty()))
        return fail(QStringLiteral("a TLS-hez a tanúsítvány és a kulcs is kell"));
    if (!where->isLoopback() && !tlsAsked)
        return fail(where->text() +
                    QStringLiteral(" nem a gép saját címe, ott csak TLS-sel (--web-cert és "
                                   "--web-key, vagy a [Web] Cert és Key kulcsa) indulhat"));
    std::optional<QSslConfiguration> tls;
    if (tlsAsked) {
        tls = tlsConfiguration(config.certFile, config.keyFile, &why);
        if (!tls)
            return fail(why);
    }

    auto server = std::make_unique<WebServer>(m_binding, m_limits, m_feedLimits, &m_engine.errors);
    if (const std::optional<QString> error = server->start(where->address, where->port, tls))
        return fail(where->text() + QStringLiteral(": ") + *error);
    // The key comes once the address is taken: a web page that cannot start needs none. No
    // request is read before the event loop runs again.
    AccessKey key;
    try {
        key = AccessKey::loadOrCreate(m_engine.programFolder);
    } catch (const Error& error) {
        return fail(error.message());
    }
    // A new key ends every session made with the old one.
    if (!m_api || key.key != m_key) {
        m_key = key.key;
        m_api = std::make_unique<WebApi>(m_binding, key.key, [this] { return m_clock.elapsed(); });
        m_api->setUsers(&m_users);
    }
    m_api->setSecure(tls.has_value());
    server->setApi(m_api.get());
    m_server = std::move(server);
    // The page's header shows the server's name, game type and size: asked for while it runs.
    m_engine.serverInfo.setWatching(true, m_engine.link.isConnected());
    // The page draws names and console lines in their colours.
    m_engine.intake.setKeepColours(true);
    connect(&m_server->feeds(), &LiveFeed::dropped, this,
            [this](const QString& address, const QString& reason) {
                guarded(&m_engine.errors, [&] {
                    m_binding.note(address, QStringLiteral("élő adatfolyam lezárva: ") + reason);
                });
            });

    ListenAddress bound = *where;
    bound.port = m_server->port();
    m_listening = bound;
    applyAdmission();
    m_sweep.start();
    m_engine.console.consoleLine(QStringLiteral("Webes felület: ") +
                                  (tls ? QStringLiteral("https://") : QStringLiteral("http://")) +
                                  bound.text() + u'/');
    if (key.replaced)
        m_engine.console.consoleLine(
            QStringLiteral("A webes hozzáférési kulcs fájljában nem volt használható kulcs, új "
                           "kulcs készült: ") +
            key.path);
    else if (key.created)
        m_engine.console.consoleLine(
            QStringLiteral("Új webes hozzáférési kulcs készült (csak a tulajdonos olvashatja): ") +
            key.path);
    else
        m_engine.console.consoleLine(QStringLiteral("Webes hozzáférési kulcs: ") + key.path);
}

} // namespace vigilor::web
