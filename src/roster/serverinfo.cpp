#include "roster/serverinfo.h"

#include "text/textutil.h"

#include <utility>

namespace vigilor::roster {

namespace {
const QString kInfoHeader = QStringLiteral("Server info settings:");
const QString kMapPrefix = QStringLiteral("map: ");
} // namespace

std::optional<ServerFacts> parseServerInfo(QStringView text)
{
    const qsizetype header = text.indexOf(kInfoHeader);
    if (header < 0)
        return std::nullopt;
    ServerFacts facts;
    bool any = false;
    for (const QString& line : text::splitLines(text.mid(header + kInfoHeader.size()))) {
        // "sv_hostname         ^2Practice ^7Server": the key, blanks, the value (which may hold
        // blanks of its own).
        const qsizetype gap = line.indexOf(u' ');
        if (gap <= 0)
            continue;
        const QString key = line.left(gap).toLower();
        qsizetype start = gap;
        while (start < line.size() && line[start] == u' ')
            ++start;
        const QString value = line.mid(start);
        if (key == u"sv_hostname")
            facts.name = value;
        else if (key == u"g_gametype")
            facts.gameType = value;
        else if (key == u"mapname")
            facts.map = value;
        else if (key == u"sv_maxclients")
            facts.maxPlayers = qMax(0, value.trimmed().toInt());
        else
            continue;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return facts;
}

QString statusMap(QStringView firstLine)
{
    if (!firstLine.startsWith(kMapPrefix))
        return {};
    return firstLine.mid(kMapPrefix.size()).trimmed().toString();
}

ServerInfo::ServerInfo(std::function<void(const QString&)> enqueue, QObject* parent)
    : QObject(parent), m_enqueue(std::move(enqueue))
{
}

void ServerInfo::setWatching(bool watching, bool connected)
{
    if (watching == m_watching)
        return;
    m_watching = watching;
    m_connected = connected;
    m_askedFor.clear();
    m_connectQuestion = m_watching && m_connected;
    if (m_connectQuestion)
        ask();
}

void ServerInfo::connectedChanged(bool connected)
{
    m_connected = connected;
    m_askedFor.clear();
    m_connectQuestion = false;
    if (connected && m_watching) {
        m_connectQuestion = true;
        ask();
    }
}

void ServerInfo::consoleReply(QStringView text)
{
    std::optional<ServerFacts> facts = parseServerInfo(text);
    if (!facts)
        return;
    // The reply's map is the server's now: the status map heard before it was older.
    m_statusMap.clear();
    m_connectQuestion = false;
    if (*facts == m_facts)
        return;
    m_facts = std::move(*facts);
    emit changed();
}

void ServerInfo::statusReply(QStringView firstLine)
{
    const QString map = statusMap(firstLine);
    // The question of the connect, still unanswered, is about the map this reply names.
    if (std::exchange(m_connectQuestion, false) && !map.isEmpty())
        m_askedFor = map;
    if (map.isEmpty() || map == this->map())
        return;
    m_statusMap = map;
    emit changed();
    // A new map may bring a new game type or name: asked once per map the status replies name.
    if (m_watching && m_connected && map != m_askedFor && map != m_facts.map) {
        m_askedFor = map;
        ask();
    }
}

void ServerInfo::ask()
{
    if (m_enqueue)
        m_enqueue(kCommand);
}

} // namespace vigilor::roster
