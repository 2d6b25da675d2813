#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace vigilor::link {
class Link;
}

namespace vigilor::tools {

// The rotation of "[mapRotation Generátor]": an ordered list of game type and map pairs and the
// two server commands it gives. It lives as long as its dialog; nothing of it is stored.
class MapRotation final
{
public:
    struct GameType
    {
        QString caption;
        QString code;
    };
    static const QList<GameType>& gameTypes();

    const QStringList& entries() const { return m_entries; }
    bool isEmpty() const { return m_entries.isEmpty(); }

    // ">>": "gametype CODE map NAME" at the end, whatever the name (an empty one too), its line
    // breaks taken out as text::singleLine does.
    void add(int gameType, const QString& map);
    // "<<", the arrows: each returns the row selected afterwards (-1 for none). An index out of
    // range changes nothing.
    int remove(int index);
    int moveUp(int index);
    int moveDown(int index);

    // The two lines of the output, or no line for an empty rotation.
    QStringList outputLines() const;
    QString output() const { return outputLines().join(u'\n'); }

    // "mapRotation küldés": the first two lines of the output as they stand (hand edits and
    // all) as two commands; a missing or empty line is not sent.
    static void send(const QString& output, link::Link& link);
    // "Indítás most".
    static void startNow(link::Link& link);

private:
    QStringList m_entries;
};

} // namespace vigilor::tools
