#include "web/sessions.h"

#include "web/secrets.h"

#include <algorithm>

namespace vigilor::web {

const Session& Sessions::create(const QString& address, qint64 nowMs, const QString& user,
                                const QByteArray& keyHash, bool viewer)
{
    if (m_sessions.size() >= kMaxSessions)
        m_sessions.erase(std::min_element(
            m_sessions.begin(), m_sessions.end(),
            [](const Session& a, const Session& b) { return a.lastUsedMs < b.lastUsedMs; }));
    Session session;
    session.id = randomHex(32);
    session.token = randomHex(32);
    session.address = address;
    session.lastUsedMs = nowMs;
    session.user = user;
    session.keyHash = keyHash;
    session.viewer = viewer;
    return *m_sessions.insert(session.id, session);
}

Session* Sessions::find(QByteArrayView id, qint64 nowMs)
{
    if (id.isEmpty())
        return nullptr;
    const auto it = m_sessions.find(id.toByteArray());
    if (it == m_sessions.end())
        return nullptr;
    if (nowMs - it->lastUsedMs >= kIdleMs) {
        m_sessions.erase(it);
        return nullptr;
    }
    return &*it;
}

void Sessions::remove(QByteArrayView id)
{
    m_sessions.remove(id.toByteArray());
}

qint64 LoginThrottle::waitLeft(const QString& address, qint64 nowMs) const
{
    const auto it = m_addresses.constFind(address);
    return it == m_addresses.cend() ? 0 : std::max<qint64>(0, it->waitUntilMs - nowMs);
}

LoginThrottle::Verdict LoginThrottle::failed(const QString& address, qint64 nowMs)
{
    if (!m_addresses.contains(address))
        makeRoom(nowMs);
    Record& record = m_addresses[address];
    if (record.waitUntilMs <= nowMs) {
        if (record.waitUntilMs != 0) {
            // The wait is over: the count starts again.
            record.waitUntilMs = 0;
            record.failures = 0;
        }
        if (++record.failures >= kMaxFailures) {
            record.failures = 0;
            record.waitUntilMs = nowMs + kWaitMs;
        }
    }
    Verdict verdict;
    verdict.waitMs = std::max<qint64>(0, record.waitUntilMs - nowMs);
    if (!record.said || nowMs - record.saidMs >= kReportMs) {
        verdict.say = record.unsaid + 1;
        record.unsaid = 0;
        record.said = true;
        record.saidMs = nowMs;
    } else {
        ++record.unsaid;
    }
    return verdict;
}

void LoginThrottle::succeeded(const QString& address)
{
    const auto it = m_addresses.find(address);
    if (it == m_addresses.end())
        return;
    it->failures = 0;
    it->waitUntilMs = 0;
}

QList<QPair<QString, int>> LoginThrottle::due(qint64 nowMs)
{
    QList<QPair<QString, int>> out;
    for (auto it = m_addresses.begin(); it != m_addresses.end();) {
        Record& record = *it;
        const bool minuteOver = !record.said || nowMs - record.saidMs >= kReportMs;
        if (minuteOver && record.unsaid > 0) {
            out.append({it.key(), record.unsaid});
            record.unsaid = 0;
            record.saidMs = nowMs;
            ++it;
        } else if (minuteOver && record.unsaid == 0 && record.waitUntilMs <= nowMs) {
            it = m_addresses.erase(it);
        } else {
            ++it;
        }
    }
    return out;
}

void LoginThrottle::makeRoom(qint64 nowMs)
{
    if (m_addresses.size() < kMaxAddresses)
        return;
    m_addresses.removeIf([nowMs](const auto& entry) {
        return entry.value().waitUntilMs <= nowMs && entry.value().unsaid == 0;
    });
    // Every address is waiting or has wrong keys to say: the one whose wait ends first goes.
    while (m_addresses.size() >= kMaxAddresses)
        m_addresses.erase(std::min_element(
            m_addresses.begin(), m_addresses.end(),
            [](const Record& a, const Record& b) { return a.waitUntilMs < b.waitUntilMs; }));
}

} // namespace vigilor::web
