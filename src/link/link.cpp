#include "link/link.h"

#include "link/console.h"
#include "link/datagram.h"
#include "link/dialogs.h"
#include "link/lookup.h"
#include "platform/system.h"
#include "settings/settings.h"
#include "text/clock.h"
#include "text/errors.h"
#include "text/textutil.h"
#include "text/timeformat.h"

#include <QHostInfo>
#include <QLoggingCategory>
#include <QNetworkDatagram>
#include <QScopeGuard>
#include <QUdpSocket>

#include <chrono>
#include <thread>

namespace vigilor::link {

Q_LOGGING_CATEGORY(lcLink, "vigilor.link", QtInfoMsg)

void dropSilently(const std::exception& error)
{
    qCDebug(lcLink) << "datagram handling ended:" << errorText(error);
}

namespace {
const QString kChannelVariable = QStringLiteral("vigilor");
const QString kStatusEcho = QStringLiteral("\"status\"");
constexpr int kMaxDialogAnswer = 255;
constexpr qint64 kMaxDatagramSize = 65536; // more than any UDP payload
} // namespace

Link::Link(Settings& settings, Console& console, Clock& clock, Dialogs& dialogs, ErrorSink* errors,
           QObject* parent)
    : QObject(parent), m_settings(settings), m_console(console), m_clock(clock), m_dialogs(dialogs),
      m_errors(errors), m_pacer([this] { pacerTick(); }, errors, this),
      // Until the settings give the check interval, the roster poll runs every 30 s.
      m_rosterPoll(Settings::kTimeIntervalMin * 1000, errors, this), m_retry(this),
      m_flushWake(this)
{
    connect(&m_rosterPoll, &RosterPoll::due, this, [this] {
        guarded(m_errors, [this] {
            if (m_connected)
                enqueueCommand(QStringLiteral("status"));
        });
    });
    // The next try after a failed connect, while the connection is still wanted.
    m_retry.setObjectName(QStringLiteral("ReconnectTimer"));
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        guarded(m_errors, [this] {
            if (!m_connecting || m_connected)
                return;
            attempt();
            if (!m_connecting && !m_connected)
                updateLinkControls();
        });
    });
    m_flushWake.setObjectName(QStringLiteral("FlushTimer"));
    m_flushWake.setSingleShot(true);
    m_flushWake.setTimerType(Qt::PreciseTimer);
    connect(&m_flushWake, &QTimer::timeout, this,
            [this] { guarded(m_errors, [this] { flushWoke(); }); });
    connect(&m_settings, &Settings::timeIntervalSet, this,
            [this](int seconds) noexcept { m_rosterPoll.setInterval(seconds * 1000); });
}

Link::~Link()
{
    if (m_lookup)
        m_lookup->cancel();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket;
    }
}

// A line break inside a command would reach the server as the end of it, the rest as a command
// of its own: every command is one line in the queue (a text meant as several lines, a message,
// is split by its sender).
void Link::enqueueCommand(const QString& command)
{
    if (m_connected && !m_flushing) {
        const QString line = text::singleLine(command);
        if (mentionsRconPassword(line))
            m_queue.prepend(line);
        else
            m_queue.append(line);
        emit queueChanged();
    }
    if (!m_disconnecting)
        checkSilence();
}

void Link::sendFromCommandBox(const QString& command)
{
    if (!m_connected || m_flushing)
        return;
    m_queue.prepend(text::singleLine(command));
    emit queueChanged();
}

void Link::checkSilence()
{
    const qsizetype size = m_console.size();
    if (size < 2)
        return;
    if (!m_console.line(size - 1).contains(kStatusEcho) ||
        !m_console.line(size - 2).contains(kStatusEcho))
        return;
    // Two status polls went out and nothing at all was written in between: the server is
    // gone. The line written first keeps the check from firing again inside the reconnect.
    m_console.consoleLine(
        QStringLiteral("A kapcsolat a szerverrel megszakadt! Újrakapcsolódás..."));
    {
        m_reconnecting = true;
        const auto reconnected = qScopeGuard([this] { m_reconnecting = false; });
        connectAction();
    }
    // The link stays down until the event loop's next turn: nothing is sent or read, a timer's
    // command is dropped, and the line written above keeps this check from firing again before
    // the connect. A connection made or begun meanwhile is left as it is.
    QMetaObject::invokeMethod(
        this,
        [this] {
            guarded(m_errors, [this] {
                if (!m_connected && !m_connecting && !m_disconnecting)
                    connectAction();
            });
        },
        Qt::QueuedConnection);
}

void Link::pacerTick()
{
    if (m_queue.isEmpty() || !m_connected || !m_socket)
        return;
    const QString head = m_queue.front();
    const QByteArray datagram = rconDatagram(m_settings.password(), head);
    if (head != kChannelVariable)
        m_console.consoleLine(commandEcho(head));
    if (m_socket->write(datagram) != datagram.size()) {
        const int reason = platform::lastErrorCode();
        // A send refused by the kernel (an earlier datagram met a closed port) leaves the
        // socket's own error unset; the system's word says more than "Unknown error".
        const QString text = m_socket->error() == QAbstractSocket::UnknownSocketError && reason != 0
                                 ? qt_error_string(reason)
                                 : m_socket->errorString();
        throw SocketError(QStringLiteral("Socket Error: ") + text);
    }
    m_pacer.sent();
    // The head may have been taken meanwhile only by another tick, never by this one.
    if (!m_queue.isEmpty() && m_queue.front() == head)
        m_queue.removeFirst();
    emit commandSent(head, ++m_sentCount);
    emit queueChanged();
    // From now on the server has the new password: every later command carries it.
    for (qsizetype i = 0; i < m_pendingPasswords.size(); ++i) {
        if (m_pendingPasswords[i].command == head) {
            m_settings.setPassword(m_pendingPasswords.takeAt(i).password);
            break;
        }
    }
}

void Link::updateLinkControls()
{
    if (m_connected) {
        m_pacer.arm();
        m_rosterPoll.start();
    } else {
        m_pacer.reset();
        m_rosterPoll.stop();
    }
    emit linkControlsUpdated(m_connected);
}

QString Link::serverName() const
{
    return m_settings.host() + u':' + m_settings.port();
}

void Link::attempt()
{
    m_retry.stop();
    // A field emptied while the next try waited: there is nothing to connect to any more.
    if (m_settings.host().isEmpty() || m_settings.port().isEmpty() ||
        m_settings.password().isEmpty()) {
        stopConnecting(true);
        return;
    }
    bool portOk = false;
    const uint port = m_settings.port().trimmed().toUInt(&portOk);
    if (!portOk || port == 0 || port > 65535) {
        attemptFailed(QStringLiteral("érvénytelen port: ") + m_settings.port(), false);
        return;
    }
    const QString host = m_settings.host().trimmed();
    const QHostAddress address(host);
    if (!address.isNull()) {
        if (const QString failure = openSocket(address, quint16(port)); !failure.isEmpty())
            attemptFailed(failure, true);
        return;
    }
    m_lookup = NameLookup::start(host, this, [this, port](const QHostInfo& info) {
        guarded(m_errors, [&] { lookedUp(info, quint16(port)); });
    });
}

void Link::lookedUp(const QHostInfo& info, quint16 port)
{
    m_lookup.reset();
    if (!m_connecting || m_connected)
        return;
    const QList<QHostAddress> addresses = info.addresses();
    QString failure;
    if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
        failure = QStringLiteral("a gépnév nem található: ") + info.hostName() +
                  QStringLiteral(" (") + info.errorString() + u')';
    } else {
        QHostAddress address = addresses.front();
        for (const QHostAddress& candidate : addresses) {
            if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
                address = candidate;
                break;
            }
        }
        failure = openSocket(address, port);
    }
    if (!failure.isEmpty())
        attemptFailed(failure, true);
    if (!m_connecting && !m_connected)
        updateLinkControls();
}

QString Link::openSocket(const QHostAddress& address, quint16 port)
{
    auto* socket = new QUdpSocket(this);
    const QHostAddress local = address.protocol() == QAbstractSocket::IPv6Protocol
                                   ? QHostAddress(QHostAddress::AnyIPv6)
                                   : QHostAddress(QHostAddress::AnyIPv4);
    if (!socket->bind(local, 0,
                      QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        const QString reason = socket->errorString();
        delete socket;
        return reason;
    }
    socket->connectToHost(address, port);
    if (socket->state() != QAbstractSocket::ConnectedState && !socket->waitForConnected(1000)) {
        const QString reason = socket->errorString();
        delete socket;
        return reason;
    }
    m_socket = socket;
    m_peerAddress = address;
    m_peerPort = port;
    connect(socket, &QUdpSocket::readyRead, this,
            [this] { guarded(m_errors, [this] { readDatagrams(); }); });
    connect(socket, &QAbstractSocket::stateChanged, this,
            [this, socket](QAbstractSocket::SocketState s) {
                guarded(m_errors, [&] {
                    if (s == QAbstractSocket::UnconnectedState && socket == m_socket && m_connected)
                        sessionClosed();
                });
            });
    becomeConnected();
    return {};
}

void Link::becomeConnected()
{
    setConnecting(false);
    m_failures = 0;
    m_connected = true;
    m_pacer.setOpen(true);
    const quint64 session = ++m_session;
    m_stateSince = m_clock.now();
    emit connectedChanged(true);
    m_trayHint = QStringLiteral("Vigilor - ") + serverName();
    emit trayHintChanged(m_trayHint);
    // The window shows the new state before the greeting goes into the queue.
    QMetaObject::invokeMethod(
        this, [this, session] { guarded(m_errors, [this, session] { greet(session); }); },
        Qt::QueuedConnection);
}

void Link::greet(quint64 session)
{
    // A disconnect meanwhile, also one still sending its last commands, leaves no greeting and
    // no connect line after its own lines.
    if (!m_connected || m_disconnecting || session != m_session)
        return;
    if (m_sayPublic)
        m_sayPublic(QStringLiteral("Csatlakozva ") + text::dateTime(m_clock.now()) +
                    QStringLiteral("-kor"));
    m_console.consoleLine(QStringLiteral("Csatlakozás szerverhez: ") + serverName());
    emit consoleTabRequested();
    updateLinkControls();
}

// A name that does not resolve, no route, no network yet: all of them may pass (a server
// started at boot comes up before its name server), so the robot tries again by itself. The
// console tells the first failure and then every tenth, which keeps a day's log readable while
// a server is away for hours.
void Link::attemptFailed(const QString& reason, bool tryAgain)
{
    ++m_failures;
    QString line = QStringLiteral("Nem sikerült csatlakozni a szerverhez: ") + serverName() +
                   QStringLiteral(" (") + reason + u')';
    if (!tryAgain) {
        setConnecting(false);
        m_console.consoleLine(line + u'.');
        return;
    }
    const int shift = qMin(m_failures - 1, 16);
    const int pause = int(qMin<qint64>(qint64(kFirstRetryMs) << shift, kLongestRetryMs));
    m_retry.start(pause);
    if (m_failures != 1 && m_failures % kFailuresPerLine != 0)
        return;
    if (m_failures > 1)
        line += QStringLiteral(", ") + QString::number(m_failures) +
                QStringLiteral(". sikertelen kísérlet");
    m_console.consoleLine(line + QStringLiteral(". Újrapróbálkozás ") +
                          QString::number(pause / 1000) +
                          QStringLiteral(" mp múlva; a \"Csatlakozás\" gomb leállítja."));
}

void Link::setConnecting(bool connecting)
{
    if (m_connecting == connecting)
        return;
    m_connecting = connecting;
    emit connectingChanged(connecting);
}

void Link::stopConnecting(bool say)
{
    if (!m_connecting)
        return;
    setConnecting(false);
    m_retry.stop();
    if (m_lookup) {
        m_lookup->cancel();
        m_lookup.reset();
    }
    if (say)
        m_console.consoleLine(QStringLiteral("Csatlakozás leállítva: ") + serverName());
}

void Link::connectAction()
{
    // A disconnect that is sending its last commands is not started again meanwhile.
    if (m_disconnecting)
        return;
    // A connection still being made (its name looked up, its next try waiting) is given up.
    if (m_connecting) {
        stopConnecting(true);
        updateLinkControls();
        return;
    }
    if (m_settings.host().isEmpty() || m_settings.port().isEmpty() ||
        m_settings.password().isEmpty())
        return;
    if (!m_connected) {
        setConnecting(true);
        m_failures = 0;
        attempt();
        // A connection made sets its controls with its greeting (greet).
        if (!m_connected)
            updateLinkControls();
        return;
    }
    m_disconnecting = true;
    // A server gone silent is reconnected at once: there is nobody to say goodbye to.
    if (!m_reconnecting) {
        sendLastCommands();
        if (!flushLastCommands())
            return; // goes on from m_flushWake
    }
    closeLink();
}

void Link::finishDisconnectNow()
{
    if (!m_disconnecting || !m_flushWake.isActive())
        return;
    m_flushWake.stop();
    m_blockingFlush = true;
    const auto done = qScopeGuard([this] { m_blockingFlush = false; });
    flushWoke();
}

// What waits in the queue is dropped first: an operator who disconnects to stop a wrong preset
// stops it. Then the goodbye in chat and the other last commands leave at the pacer's pace
// (flushLastCommands), the event loop running between them, for at most kLastCommandsMs and
// never past the limit the program's end set; what is left then is named on the console and
// emptied with the queue as the link closes.
void Link::sendLastCommands()
{
    m_rosterPoll.stop();
    if (const qsizetype waiting = m_queue.size(); waiting > 0) {
        clearQueue();
        m_console.consoleLine(QStringLiteral("Lecsatlakozás: a sorban várakozó ") +
                              QString::number(waiting) + QStringLiteral(" parancs törölve"));
    }
    if (m_sayPublic)
        m_sayPublic(QStringLiteral("Lecsatlakozva ") + text::dateTime(m_clock.now()) +
                    QStringLiteral("-kor"));
    if (m_lastCommands)
        m_lastCommands();
    // While they leave, m_flushing refuses new commands and m_disconnecting a second connect
    // action, so only what was queued goes out.
    m_flushing = true;
    m_pacer.stop();
    m_flushSpent.start();
}

bool Link::flushLastCommands()
{
    const auto remaining = [this] {
        const qint64 left = kLastCommandsMs - m_flushSpent.elapsed();
        return m_lastCommandsLimit.isForever() ? left
                                               : qMin(left, m_lastCommandsLimit.remainingTime());
    };
    bool waiting = false;
    guarded(m_errors, [&] {
        while (!m_queue.isEmpty() && m_connected && m_socket) {
            const qint64 due = m_pacer.msUntilNextSend();
            if (due > remaining())
                break;
            if (due <= 0) {
                pacerTick();
                continue;
            }
            if (m_blockingFlush) {
                std::this_thread::sleep_for(std::chrono::milliseconds(due));
                continue;
            }
            m_flushWake.start(int(due));
            waiting = true;
            return;
        }
    });
    if (waiting)
        return false;
    if (m_connected && !m_queue.isEmpty())
        m_console.consoleLine(QStringLiteral("Lecsatlakozás: idő híján nem ment ki ") +
                              QString::number(m_queue.size()) + QStringLiteral(" parancs: ") +
                              m_queue.join(QStringLiteral(" | ")));
    m_flushing = false;
    return true;
}

void Link::flushWoke()
{
    if (m_disconnecting && flushLastCommands())
        closeLink();
}

void Link::closeLink()
{
    // Whatever fails on the way, the disconnect ends and says so: the program's end waits for it.
    guarded(m_errors, [this] {
        m_console.consoleLine(QStringLiteral("Lecsatlakozás szerverről: ") + serverName());
        QUdpSocket* socket = m_socket;
        m_socket = nullptr;
        if (socket) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
        if (m_connected)
            sessionClosed();
        clearQueue();
    });
    m_flushing = false;
    m_disconnecting = false;
    guarded(m_errors, [this] { updateLinkControls(); });
    emit disconnectFinished();
}

void Link::sessionClosed()
{
    m_connected = false;
    m_pacer.setOpen(false);
    m_stateSince = m_clock.now();
    emit connectedChanged(false);
    m_console.consoleLine(QStringLiteral("Lecsatlakozva"));
    updateLinkControls();
}

void Link::clearQueue()
{
    m_pendingPasswords.clear();
    if (m_queue.isEmpty())
        return;
    m_queue.clear();
    emit queueChanged();
}

void Link::readDatagrams()
{
    QUdpSocket* socket = m_socket;
    // Every pass ends with a read that finds nothing, never with a mere look: the socket's read
    // notifier stays off until a read is tried, and a look (hasPendingDatagrams) swallows a
    // pending receive error without trying one. Such an error (an ICMP port unreachable, after
    // a datagram met the closed port of a restarting server) yields no datagram; the notifier
    // is on again then, and what arrives later is read as usual.
    while (socket && socket == m_socket) {
        const QNetworkDatagram datagram = socket->receiveDatagram(kMaxDatagramSize);
        if (!datagram.isValid())
            return;
        if (datagram.senderPort() != m_peerPort ||
            !datagram.senderAddress().isEqual(m_peerAddress, QHostAddress::TolerantConversion))
            continue;
        if (!m_datagramHandler)
            continue;
        handleSilently([&] { m_datagramHandler(datagram.data()); });
    }
}

void Link::changePassword()
{
    if (m_askingPassword)
        return;
    m_askingPassword = true;
    const QString current = m_settings.password();
    m_dialogs.input(QStringLiteral("RCON jelszó váltás"),
                    QStringLiteral("Írd be az új RCON jelszót:"), current,
                    [this, current](std::optional<QString> answer) {
                        m_askingPassword = false;
                        guarded(m_errors, [&] { passwordEntered(current, answer); });
                    });
}

void Link::passwordEntered(const QString& current, const std::optional<QString>& answer)
{
    if (!answer)
        return;
    const QString fresh = text::singleLine(answer->left(kMaxDialogAnswer));
    if (fresh.isEmpty() || fresh == current)
        return;
    m_dialogs.message(QStringLiteral(
        "!!! FIGYELEM !!!\n\r\n\rAz új RCON jelszó NEM lesz elmentve a szerver beállításai közé! "
        "Újraindulás után visszaáll az eredeti jelszó, az Vigilor viszont az új jelszót fogja "
        "megtartani!"));
    // The field, and with it every later datagram, takes the new password only once the
    // command that carries it was really sent (see pacerTick): a send that fails leaves it
    // queued under the old password, and the pacer tries it again.
    const QString command = QStringLiteral("set rconpassword \"") + fresh + u'"';
    m_pendingPasswords.append({command, fresh});
    enqueueCommand(command);
    if (!m_queue.contains(command)) {
        m_pendingPasswords.removeIf([&](const PendingPassword& p) { return p.command == command; });
        return;
    }
    // Until the event loop's next turn a pacer tick may send it, under the old password, and
    // take the new one then.
    QMetaObject::invokeMethod(
        this,
        [this, command] { guarded(m_errors, [this, &command] { sendPasswordNow(command); }); },
        Qt::QueuedConnection);
}

void Link::sendPasswordNow(const QString& command)
{
    if (!m_queue.contains(command))
        return; // a pacer tick sent it meanwhile, or the link closed
    // Send it at once, still under the old password, held back only until the pacer's period
    // (and the server's flood window) since the last send has passed, with the pacer stopped
    // so that nothing else leaves first.
    m_pacer.stop();
    const int rest = qMax(m_pacer.msUntilNextSend(), m_pacer.msUntilGap(kServerFloodWindowMs + 20));
    if (rest > 0)
        m_clock.wait(rest);
    const auto resumePacer = qScopeGuard([this] {
        if (m_connected)
            m_pacer.arm();
    });
    pacerTick();
}

void Link::lockServer()
{
    if (m_askingLock)
        return;
    m_askingLock = true;
    m_dialogs.input(
        QStringLiteral("Szerver lezárása jelszóval"), QStringLiteral("Írd be a szerver jelszót:"),
        {}, [this](std::optional<QString> answer) {
            m_askingLock = false;
            guarded(m_errors, [&] {
                if (!answer)
                    return;
                const QString password = text::singleLine(answer->left(kMaxDialogAnswer));
                if (password.isEmpty())
                    return;
                enqueueCommand(QStringLiteral("g_password \"") + password + u'"');
                enqueueCommand(QStringLiteral("sv_password \"") + password + u'"');
                m_console.consoleLine(QStringLiteral("Szerver lezárás..."));
            });
        });
}

void Link::openServer()
{
    enqueueCommand(QStringLiteral("g_password \"\""));
    enqueueCommand(QStringLiteral("sv_password \"\""));
    m_console.consoleLine(QStringLiteral("Szerver nyitás..."));
}

} // namespace vigilor::link
