#include "testserver/playerfile.h"

#include "text/textutil.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace vigilor::testserver {

std::optional<QList<Player>> parsePlayers(QStringView text, QString* error)
{
    QList<Player> players;
    const QStringList lines = text::splitLines(text);
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines[n];
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(u'#'))
            continue;
        const auto fail = [&](const QString& why) {
            if (error)
                *error = u"line "_s % QString::number(n + 1) % u": "_s % why;
            return std::nullopt;
        };
        const QStringList f = line.split(u';');
        if (f.size() < 6 || f.size() > 8)
            return fail(u"expected slot;score;ping;name;address;rate[;qport[;guid]]"_s);
        const auto number = [&](qsizetype i, int* out) {
            bool ok = false;
            *out = f[i].trimmed().toInt(&ok);
            return ok;
        };
        Player p;
        p.name = f[3];
        p.address = f[4].trimmed();
        const QString ping = f[2].trimmed().toUpper();
        if (ping == u"CNCT")
            p.state = Player::Connecting;
        else if (ping == u"ZMBI")
            p.state = Player::Zombie;
        else if (!number(2, &p.ping))
            return fail(u"ping is neither a number nor CNCT or ZMBI"_s);
        if (!number(0, &p.slot) || p.slot < 0 || !number(1, &p.score) || !number(5, &p.rate) ||
            (f.size() > 6 && !number(6, &p.qport)) || (f.size() > 7 && !number(7, &p.guid)))
            return fail(u"slot, score, rate, qport and guid must be numbers"_s);
        if (p.address.isEmpty())
            return fail(u"the address is empty"_s);
        players.append(p);
    }
    return players;
}

std::optional<QList<Player>> loadPlayers(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path % u": "_s % file.errorString();
        return std::nullopt;
    }
    return parsePlayers(QString::fromUtf8(file.readAll()), error);
}

} // namespace vigilor::testserver
