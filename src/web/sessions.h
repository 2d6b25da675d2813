#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace vigilor::web {

// One logged-in browser: the session's id (its cookie) and the anti-forgery token every
// request that changes something must carry. Times are milliseconds of a monotonic clock.
struct Session
{
    QByteArray id;
    QByteArray token;
    QString address; // where the login came from
    qint64 lastUsedMs = 0;
    // The operator of a personal key (empty for the shared key), his key's hash, and whether
    // he may only look.
    QString user;
    QByteArray keyHash;
    bool viewer = false;
};

// The sessions of the web page. A session ends after 12 hours without a request; the oldest
// gives way when too many are open at once.
class Sessions final
{
public:
    static constexpr qint64 kIdleMs = 12LL * 60 * 60 * 1000;
    static constexpr int kMaxSessions = 64;

    const Session& create(const QString& address, qint64 nowMs, const QString& user = {},
                          const QByteArray& keyHash = {}, bool viewer = false);
    // The live session of the id, or none (an ended one is dropped here). Does not count as use.
    Session* find(QByteArrayView id, qint64 nowMs);
    bool isLive(QByteArrayView id, qint64 nowMs) { return find(id, nowMs) != nullptr; }
    void touch(Session& session, qint64 nowMs) { session.lastUsedMs = nowMs; }
    void remove(QByteArrayView id);
    qsizetype size() const { return m_sessions.size(); }

private:
    QHash<QByteArray, Session> m_sessions;
};

// Wrong access keys by address: after kMaxFailures in a row, the address waits kWaitMs before
// it may try again (the right key included).
class LoginThrottle final
{
public:
    static constexpr int kMaxFailures = 5;
    static constexpr qint64 kWaitMs = 60 * 1000;
    // Addresses remembered at most; beyond that the ones not waiting are forgotten first.
    static constexpr int kMaxAddresses = 4096;

    // Milliseconds the address must still wait; 0 when it may try.
    qint64 waitLeft(const QString& address, qint64 nowMs);
    // Counts a wrong key; returns true when this one starts the wait.
    bool failed(const QString& address, qint64 nowMs);
    void succeeded(const QString& address) { m_addresses.remove(address); }

private:
    struct Record
    {
        int failures = 0;
        qint64 waitUntilMs = 0;
    };
    void makeRoom(qint64 nowMs);

    QHash<QString, Record> m_addresses;
};

} // namespace vigilor::web
