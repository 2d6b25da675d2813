#include "testserver/rconserver.h"

#include "text/cp1250.h"
#include "text/textutil.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace vigilor::testserver {

namespace {

const QByteArray kRequestPrefix = QByteArrayLiteral("\xFF\xFF\xFF\xFFrcon ");
const QByteArray kReplyHeader = QByteArrayLiteral("\xFF\xFF\xFF\xFFprint\n");

bool isBlank(QChar c)
{
    return c.unicode() <= u' ';
}

// The text after the first word and the one blank that follows it, as the game hands it to
// commands that take the rest of the line.
QString afterFirstWord(QStringView line)
{
    qsizetype i = 0;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    while (i < line.size() && !isBlank(line[i]))
        ++i;
    if (i < line.size())
        ++i;
    return line.mid(i).toString();
}

// "key" padded to 20 columns, then the value, as the game prints info strings.
QString infoLine(const QString& key, const QString& value)
{
    return key.leftJustified(20) % value % u'\n';
}

} // namespace

QStringList tokenize(QStringView line)
{
    QStringList words;
    qsizetype i = 0;
    while (true) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i >= line.size())
            return words;
        qsizetype end = i;
        if (line[i] == u'"') {
            end = line.indexOf(u'"', i + 1);
            if (end < 0)
                end = line.size();
            words.append(line.mid(i + 1, end - i - 1).toString());
            i = end + 1;
            continue;
        }
        while (end < line.size() && !isBlank(line[end]))
            ++end;
        words.append(line.mid(i, end - i).toString());
        i = end;
    }
}

RconServer::RconServer(QObject* parent) : QObject(parent)
{
    m_clock.start();
    defineVariable(u"sv_hostname"_s, u"Practice Server"_s);
    defineVariable(u"g_gametype"_s, u"tdm"_s);
    defineVariable(u"mapname"_s, u"mp_harbor"_s);
    defineVariable(u"sv_maxclients"_s, u"20"_s);
    defineVariable(u"g_password"_s, QString());
    defineVariable(u"sv_password"_s, QString());
    defineVariable(u"rconpassword"_s, QString());
    defineVariable(u"sv_mapRotation"_s,
                   u"gametype tdm map mp_harbor gametype tdm map mp_village"_s);
    defineVariable(u"sv_mapRotationCurrent"_s, QString());
}

RconServer::~RconServer() = default;

bool RconServer::start(quint16 port)
{
    stop();
    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(QHostAddress::LocalHost, port)) {
        delete m_socket;
        m_socket = nullptr;
        return false;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &RconServer::readPending);
    m_port = m_socket->localPort();
    return true;
}

void RconServer::stop()
{
    if (!m_socket)
        return;
    // The port closes at once; the object may be the sender of the signal being handled.
    QUdpSocket* socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->close();
    socket->deleteLater();
}

void RconServer::setVariant(Variant variant)
{
    m_variant = variant;
    m_colonBlank = variant == Variant::CallOfDuty2;
    const bool callOfDuty = variant == Variant::CallOfDuty;
    m_layout = callOfDuty ? Layout::NoGuid : Layout::Guid;
    m_cutBetweenPrints = callOfDuty;
    m_chunkSize = callOfDuty ? kCallOfDutyChunkSize : kGuidChunkSize;
}

void RconServer::setLayout(Layout layout)
{
    if (layout == Layout::NoGuid)
        setVariant(Variant::CallOfDuty);
    else
        setVariant(m_variant == Variant::CallOfDuty ? Variant::UnitedOffensive : m_variant);
}

QString RconServer::variable(const QString& name) const
{
    return m_variables.value(text::asciiLower(name)).value;
}

bool RconServer::hasVariable(const QString& name) const
{
    return m_variables.contains(text::asciiLower(name));
}

void RconServer::setVariable(const QString& name, const QString& value)
{
    Variable& v = m_variables[text::asciiLower(name)];
    if (v.name.isEmpty())
        v.name = name;
    v.value = value;
}

void RconServer::defineVariable(const QString& name, const QString& value)
{
    m_variables.insert(text::asciiLower(name), Variable{name, value, value});
}

void RconServer::setPlayers(const QList<Player>& players)
{
    m_players.clear();
    for (const Player& p : players)
        addPlayer(p);
}

void RconServer::addPlayer(const Player& player)
{
    removePlayer(player.slot);
    const auto at = std::find_if(m_players.begin(), m_players.end(),
                                 [&](const Player& p) { return p.slot > player.slot; });
    m_players.insert(at, player);
}

bool RconServer::removePlayer(int slot)
{
    return m_players.removeIf([slot](const Player& p) { return p.slot == slot; }) > 0;
}

bool RconServer::updatePlayer(int slot, const std::function<void(Player&)>& change)
{
    for (qsizetype i = 0; i < m_players.size(); ++i) {
        if (m_players[i].slot != slot)
            continue;
        Player p = m_players[i];
        change(p);
        if (p.slot == slot) {
            m_players[i] = p;
        } else {
            m_players.removeAt(i);
            addPlayer(p);
        }
        return true;
    }
    return false;
}

int RconServer::releaseHeldReplies()
{
    const QList<HeldReply> held = std::exchange(m_held, {});
    for (const HeldReply& r : held)
        sendRaw(r.datagram, r.peer, r.peerPort);
    return int(held.size());
}

bool RconServer::sendRaw(const QByteArray& datagram, const QHostAddress& peer, quint16 peerPort)
{
    // This server only ever talks to clients on this machine.
    if (!m_socket || !peer.isLoopback() || peerPort == 0)
        return false;
    return m_socket->writeDatagram(datagram, peer, peerPort) == datagram.size();
}

bool RconServer::sendRawToLastClient(const QByteArray& datagram)
{
    return sendRaw(datagram, m_lastPeer, m_lastPeerPort);
}

void RconServer::clearLog()
{
    m_commands.clear();
    m_sayLines.clear();
    m_actions.clear();
    m_datagrams.clear();
    m_floodDrops = 0;
    m_badPasswords = 0;
}

void RconServer::readPending()
{
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket->receiveDatagram();
        handle(d.data(), d.senderAddress(), quint16(d.senderPort()));
    }
}

void RconServer::handle(const QByteArray& data, const QHostAddress& peer, quint16 peerPort)
{
    m_datagrams.append(Datagram{m_clock.elapsed(), data, peer, peerPort});
    m_lastPeer = peer;
    m_lastPeerPort = peerPort;
    if (!data.startsWith(kRequestPrefix))
        return;
    if (m_requestsToDrop > 0) {
        --m_requestsToDrop;
        return;
    }
    // The guard is server-wide and counts every packet it lets through, right password or not.
    const qint64 now = m_clock.elapsed();
    if (m_floodGuardMs > 0 && m_lastAcceptedMs >= 0 && now - m_lastAcceptedMs < m_floodGuardMs) {
        ++m_floodDrops;
        return;
    }
    m_lastAcceptedMs = now;

    // The password is the first word; the command is everything after the blank behind it.
    QString line = text::fromCp1250(QByteArrayView(data).sliced(kRequestPrefix.size()));
    while (!line.isEmpty() &&
           (line.back() == u'\n' || line.back() == u'\r' || line.back() == u'\0'))
        line.chop(1);
    qsizetype i = 0;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    QString token;
    if (i < line.size() && line[i] == u'"') {
        qsizetype end = line.indexOf(u'"', i + 1);
        if (end < 0)
            end = line.size();
        token = line.mid(i + 1, end - i - 1);
        i = end + 1;
    } else {
        const qsizetype start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        token = line.mid(start, i - start);
    }
    if (i < line.size() && isBlank(line[i]))
        ++i;
    const QString command = line.mid(i);

    if (token != password()) {
        ++m_badPasswords;
        reply(m_variant == Variant::CallOfDuty2 ? u"Invalid password.\n"_s
                                                : u"Bad rconpassword.\n"_s,
              peer, peerPort);
        return;
    }
    m_commands.append(command);
    emit commandReceived(command);
    const Output output = execute(command);
    if (m_socket)
        reply(output, peer, peerPort);
}

RconServer::Output RconServer::execute(const QString& command)
{
    const QStringList args = tokenize(command);
    if (args.isEmpty())
        return {};
    const QString verb = text::asciiLower(args.first());
    const QString arg = args.value(1);

    if (verb == u"status")
        return statusPrints();
    if (verb == u"serverinfo")
        return serverInfoText();
    if (verb == u"map") {
        // The map changes at once; a real server prints its loading, which nobody reads.
        if (arg.isEmpty())
            return u"usage: map <mapname>\n"_s;
        setMap(arg);
        return {};
    }
    if (verb == u"dumpuser")
        return dumpUserText(arg);
    if (verb == u"clientkick")
        return kick(arg);
    if (verb == u"say") {
        m_sayLines.append(afterFirstWord(command).remove(u'"'));
        return {};
    }
    if (verb == u"set") {
        if (args.size() < 3)
            return u"usage: set <variable> <value>\n"_s;
        setVariable(arg, args.mid(2).join(u' '));
        return {};
    }
    if (verb == u"quit") {
        // The server process ends: its port closes, with whatever was still queued for it.
        stop();
        emit quitRequested();
        if (m_restartAfterQuitMs >= 0) {
            QTimer::singleShot(m_restartAfterQuitMs, this, [this] {
                if (!m_socket && restart())
                    emit restarted();
            });
        }
        return {};
    }
    static const QMap<QString, QString> acknowledged = {
        {u"exec"_s, u"execing %1\n"_s},
        {u"map_rotate"_s, u"Rotating to the next map\n"_s},
        {u"killserver"_s, u"Server killed\n"_s},
    };
    if (acknowledged.contains(verb)) {
        m_actions.append((QStringList{verb} + args.mid(1)).join(u' '));
        return verb == u"exec" ? acknowledged[verb].arg(arg) : acknowledged[verb];
    }

    const auto var = m_variables.find(verb);
    if (var == m_variables.end())
        return u"Unknown command \""_s % args.first() % u"\"\n"_s;
    if (args.size() > 1) {
        var->value = args.mid(1).join(u' ');
        return {};
    }
    const QString gap = m_colonBlank ? u" "_s : QString();
    return u"\""_s % var->name % u"\" is:"_s % gap % u'"' % var->value % u"^7\" default:"_s % gap %
           u'"' % var->reset % u"^7\"\n"_s;
}

QStringList RconServer::statusPrints() const
{
    const bool guid = m_layout == Layout::Guid;
    QStringList out{
        u"map: "_s % variable(u"mapname"_s) % u'\n',
        guid ? u"num score ping guid   name            lastmsg address               qport rate\n"_s
             : u"num score ping name            lastmsg address               qport rate\n"_s,
        guid
            ? u"--- ----- ---- ------ --------------- ------- --------------------- ----- -----\n"_s
            : u"--- ----- ---- --------------- ------- --------------------- ----- -----\n"_s};
    const auto padding = [](qsizetype used, qsizetype width) {
        return QString(qMax(qsizetype(0), width - used), u' ');
    };
    for (const Player& p : m_players) {
        out << QString::asprintf("%3i ", p.slot) << QString::asprintf("%5i ", p.score);
        if (p.state == Player::Connecting)
            out << u"CNCT "_s;
        else if (p.state == Player::Zombie)
            out << u"ZMBI "_s;
        else
            out << QString::asprintf("%4i ", p.ping);
        if (guid)
            out << QString::asprintf("%6i ", p.guid);
        const QString shown = guid ? QString(p.name % u"^7"_s) : p.name;
        out << shown << padding(text::stripColours(shown).size(), 16)
            << QString::asprintf("%7i ", p.lastmsg) << p.address << padding(p.address.size(), 22)
            << QString::asprintf("%5i", p.qport) << QString::asprintf(" %5i", p.rate) << u"\n"_s;
    }
    out << u"\n"_s;
    out.removeAll(QString());
    return out;
}

QString RconServer::serverInfoText() const
{
    QString out = u"Server info settings:\n"_s;
    for (const QString& key : {u"g_gametype"_s, u"mapname"_s, u"sv_hostname"_s, u"sv_maxclients"_s})
        out += infoLine(key, variable(key));
    out += infoLine(u"pswrd"_s, variable(u"g_password"_s).isEmpty() ? u"0"_s : u"1"_s);
    const QString version = m_variant == Variant::CallOfDuty2       ? u"1.3"_s
                            : m_variant == Variant::UnitedOffensive ? u"1.51"_s
                                                                    : u"1.5"_s;
    out += infoLine(u"shortversion"_s, version);
    return out;
}

QString RconServer::dumpUserText(const QString& name) const
{
    const QString wanted = text::asciiLower(name);
    for (const Player& p : m_players) {
        if (text::asciiLower(text::stripColours(p.name)) != wanted)
            continue;
        return u"userinfo\n--------\n"_s % infoLine(u"name"_s, p.name) %
               infoLine(u"ip"_s, p.address) % infoLine(u"rate"_s, QString::number(p.rate)) %
               infoLine(u"snaps"_s, u"20"_s) % infoLine(u"cl_punkbuster"_s, u"0"_s);
    }
    return u"User "_s % name % u" is not on the server\n"_s;
}

QString RconServer::kick(const QString& slotText)
{
    // The game takes only a plain decimal number as a slot.
    const bool digits = std::all_of(slotText.begin(), slotText.end(),
                                    [](QChar c) { return c >= u'0' && c <= u'9'; });
    bool ok = false;
    const int slot = slotText.toInt(&ok);
    if (!digits || !ok)
        return u"Bad client slot: "_s % slotText % u'\n';
    const auto it = std::find_if(m_players.cbegin(), m_players.cend(),
                                 [slot](const Player& p) { return p.slot == slot; });
    if (it != m_players.cend()) {
        const QString line =
            QString::number(slot) % u':' % text::stripColours(it->name) % u" EXE_PLAYERKICKED\n"_s;
        removePlayer(slot);
        return line;
    }
    return u"Bad client slot: "_s % slotText % u'\n';
}

QList<QByteArray> RconServer::chunks(const QStringList& prints) const
{
    const auto cut = [this](const QByteArray& bytes, QList<QByteArray>& into) {
        for (qsizetype at = 0; at < bytes.size(); at += m_chunkSize)
            into.append(bytes.mid(at, m_chunkSize));
    };
    QList<QByteArray> parts;
    if (!m_cutBetweenPrints) {
        // Each chunk gets its own header; the cut does not care about line ends.
        cut(text::toCp1250(prints.join(QString())), parts);
    } else {
        // The buffer goes out before a print that would overflow it; only a print longer than
        // the whole buffer is cut inside.
        QByteArray buffer;
        for (const QString& print : prints) {
            const QByteArray bytes = text::toCp1250(print);
            if (!buffer.isEmpty() && buffer.size() + bytes.size() > m_chunkSize)
                parts.append(std::exchange(buffer, {}));
            if (bytes.size() > m_chunkSize) {
                cut(bytes, parts);
                buffer = parts.takeLast();
            } else {
                buffer += bytes;
            }
        }
        if (!buffer.isEmpty())
            parts.append(buffer);
    }
    if (parts.isEmpty())
        parts.append(QByteArray());
    return parts;
}

void RconServer::reply(const Output& output, const QHostAddress& peer, quint16 peerPort)
{
    if (m_dropReplies)
        return;
    const QList<QByteArray> parts = chunks(output.prints);
    const int count = int(parts.size());
    for (int index = 0; index < count; ++index) {
        if (m_chunkFilter && !m_chunkFilter(index, count))
            continue;
        const QByteArray datagram = kReplyHeader + parts[index];
        if (m_holdReplies)
            m_held.append(HeldReply{datagram, peer, peerPort});
        else
            sendRaw(datagram, peer, peerPort);
    }
}

} // namespace vigilor::testserver
