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

qint64 LoginThrottle::waitLeft(const QString& address, qint64 nowMs)
{
    const auto it = m_addresses.find(address);
    if (it == m_addresses.end() || it->waitUntilMs == 0)
        return 0;
    if (nowMs < it->waitUntilMs)
        return it->waitUntilMs - nowMs;
    // The wait is over: the address starts again with a clean count.
    m_addresses.erase(it);
    return 0;
}

bool LoginThrottle::failed(const QString& address, qint64 nowMs)
{
    if (!m_addresses.contains(address))
        makeRoom(nowMs);
    Record& record = m_addresses[address];
    if (++record.failures < kMaxFailures)
        return false;
    record.failures = 0;
    record.waitUntilMs = nowMs + kWaitMs;
    return true;
}

void LoginThrottle::makeRoom(qint64 nowMs)
{
    if (m_addresses.size() < kMaxAddresses)
        return;
    m_addresses.removeIf([nowMs](const auto& entry) { return entry.value().waitUntilMs <= nowMs; });
    // Every address is waiting: the one whose wait ends first goes.
    while (m_addresses.size() >= kMaxAddresses)
        m_addresses.erase(std::min_element(
            m_addresses.begin(), m_addresses.end(),
            [](const Record& a, const Record& b) { return a.waitUntilMs < b.waitUntilMs; }));
}

} // namespace vigilor::web
