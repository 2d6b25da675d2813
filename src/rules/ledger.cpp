#include "rules/ledger.h"

#include "link/link.h"

namespace vigilor::rules {

namespace {
const QString kStatus = QStringLiteral("status");
}

Ledger::Ledger(link::Link& link, QObject* parent) : QObject(parent), m_link(link)
{
    connect(&m_link, &link::Link::commandSent, this,
            [this](const QString& command, quint64 serial) noexcept { onSent(command, serial); });
}

void Ledger::onSent(const QString& command, quint64 serial)
{
    if (command == kStatus) {
        m_lastStatus = serial;
        if (!m_firstUnanswered)
            m_firstUnanswered = serial;
        return;
    }
    if (const std::optional<int> slot = punishedSlot(command))
        m_punished.insert(*slot, Sent{serial, command});
}

void Ledger::rosterReplaced()
{
    m_rosterSerial = m_firstUnanswered.value_or(m_lastStatus);
    m_firstUnanswered.reset();
}

QString Ledger::newerPunishment(int slot, quint64 rosterSerial) const
{
    for (const QString& queued : m_link.queue())
        if (punishedSlot(queued) == slot)
            return queued;
    const auto sent = m_punished.constFind(slot);
    if (sent != m_punished.cend() && sent->serial > rosterSerial)
        return sent->command;
    return {};
}

std::optional<int> Ledger::punishedSlot(QStringView command)
{
    static const QStringView verbs[] = {u"clientkick ", u"g_kicktospec ", u"g_smite ",
                                        u"g_killum "};
    for (QStringView verb : verbs) {
        if (!command.startsWith(verb))
            continue;
        const QStringView digits = command.sliced(verb.size());
        if (digits.isEmpty() || digits.size() > 3)
            return std::nullopt;
        int slot = 0;
        for (QChar c : digits) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
            slot = slot * 10 + (c.unicode() - u'0');
        }
        return slot;
    }
    return std::nullopt;
}

} // namespace vigilor::rules
