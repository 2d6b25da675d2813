#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringView>

#include <optional>

namespace vigilor::link {
class Link;
}

namespace vigilor::rules {

// What the pacer sent when, as far as the checks need it: which `status` a complete roster
// answers, and when each slot was last punished. A roster whose `status` left before a slot's
// latest punishment still shows that slot as it was before the punishment, so the checks leave
// the slot alone on it: the player is not punished twice for one sighting, and a newcomer who
// has taken the freed slot is not punished in his place.
class Ledger final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Ledger)

public:
    explicit Ledger(link::Link& link, QObject* parent = nullptr);

    // A complete `status` reply has replaced the roster. It answers the first `status` sent
    // since the previous reply; when none was sent since, the last one sent. Replies come back
    // in order, and a lost one only makes the next roster count as older than it is.
    void rosterReplaced();
    // The send serial of the `status` the present roster answers; none before the first reply.
    std::optional<quint64> rosterSerial() const { return m_rosterSerial; }

    // The punishment of the slot that was sent after the `status` of serial rosterSerial left,
    // or that still waits in the queue; empty when there is none.
    QString newerPunishment(int slot, quint64 rosterSerial) const;

    // The slot a punishment command is aimed at ("clientkick 4", "g_killum 4"), if it is one.
    static std::optional<int> punishedSlot(QStringView command);

private:
    struct Sent
    {
        quint64 serial = 0;
        QString command;
    };

    void onSent(const QString& command, quint64 serial);

    link::Link& m_link;
    quint64 m_lastStatus = 0;
    std::optional<quint64> m_firstUnanswered;
    std::optional<quint64> m_rosterSerial;
    QHash<int, Sent> m_punished; // by slot, the latest one sent
};

} // namespace vigilor::rules
