#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
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

// Wrong access keys by address (by Admission::throttleGroup). After kMaxFailures in a row the
// address waits kWaitMs: its wrong keys are answered at once and without a console line of
// their own. The wait never holds up the right key, from whatever address: the access key is
// far too long to be guessed, and the wait is there only to keep the console and the loop calm.
// Wrong keys are said on the console at most once per kReportMs and address, with their count.
class LoginThrottle final
{
public:
    static constexpr int kMaxFailures = 5;
    static constexpr qint64 kWaitMs = 60 * 1000;
    static constexpr qint64 kReportMs = 60 * 1000;
    // Addresses remembered at most; beyond that the ones not waiting are forgotten first.
    static constexpr int kMaxAddresses = 4096;

    // What became of a wrong key.
    struct Verdict
    {
        qint64 waitMs = 0; // the address waits this long from now (0: it does not)
        int say = 0;       // the wrong keys to say on the console now with this one (0: none)
    };

    // Milliseconds the address must still wait; 0 when it does not.
    qint64 waitLeft(const QString& address, qint64 nowMs) const;
    // Counts a wrong key.
    Verdict failed(const QString& address, qint64 nowMs);
    // The right key: the count and the wait end (what is still to be said is kept).
    void succeeded(const QString& address);
    // The wrong keys not said yet whose address was last said kReportMs ago or more: each
    // address with its count, from now on said. Addresses with nothing more to say are forgotten.
    QList<QPair<QString, int>> due(qint64 nowMs);

private:
    struct Record
    {
        int failures = 0;
        qint64 waitUntilMs = 0;
        qint64 saidMs = 0;
        bool said = false;
        int unsaid = 0;
    };
    void makeRoom(qint64 nowMs);

    QHash<QString, Record> m_addresses;
};

} // namespace vigilor::web
