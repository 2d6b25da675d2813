#include "tools/maprotation.h"

#include "link/link.h"
#include "text/textutil.h"

using namespace Qt::StringLiterals;

namespace vigilor::tools {

const QList<MapRotation::GameType>& MapRotation::gameTypes()
{
    static const QList<GameType> types = {
        {u"Team Deathmatch (TDM)"_s, u"tdm"_s},    {u"Search & Destroy (SD)"_s, u"sd"_s},
        {u"Headquarters (HQ)"_s, u"hq"_s},         {u"Capture The Flag (CTF)"_s, u"ctf"_s},
        {u"Behing Enemy Lines (BEL)"_s, u"bel"_s}, {u"Base Assault (BAS)"_s, u"bas"_s},
    };
    return types;
}

void MapRotation::add(int gameType, const QString& map)
{
    const QList<GameType>& types = gameTypes();
    const QString& code = types.at(qBound(0, gameType, int(types.size()) - 1)).code;
    // The map name comes from a one-line field: a pasted line break would cut the rotation's
    // command in two.
    m_entries.append(u"gametype "_s + code + u" map "_s + text::singleLine(map));
}

int MapRotation::remove(int index)
{
    if (index < 0 || index >= m_entries.size())
        return -1;
    m_entries.removeAt(index);
    return -1;
}

int MapRotation::moveUp(int index)
{
    if (index < 1 || index >= m_entries.size())
        return index;
    m_entries.swapItemsAt(index, index - 1);
    return index - 1;
}

int MapRotation::moveDown(int index)
{
    if (index < 0 || index >= m_entries.size() - 1)
        return index;
    m_entries.swapItemsAt(index, index + 1);
    return index + 1;
}

QStringList MapRotation::outputLines() const
{
    if (m_entries.isEmpty())
        return {};
    return {u"set sv_mapRotation \""_s + m_entries.join(u' ') + u'"',
            u"set sv_mapRotationCurrent \""_s + m_entries.front() + u"\" "_s};
}

void MapRotation::send(const QString& output, link::Link& link)
{
    const QStringList lines = output.split(u'\n');
    for (qsizetype i = 0; i < 2 && i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (!line.isEmpty())
            link.enqueueCommand(line);
    }
}

void MapRotation::startNow(link::Link& link)
{
    link.enqueueCommand(u"map_rotate"_s);
}

} // namespace vigilor::tools
