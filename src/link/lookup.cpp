#include "link/lookup.h"

#include <QMetaObject>
#include <QThreadPool>

#include <atomic>

namespace vigilor::link {

namespace {

std::atomic<int> g_running{0};

// A pool of the lookups' own, so that a slow name server never holds up other work of the
// global pool, and the other way round.
QThreadPool& lookupPool()
{
    static QThreadPool pool;
    return pool;
}

} // namespace

NameLookup::NameLookup(QObject* receiver, Done done) : m_receiver(receiver), m_done(std::move(done))
{
}

NameLookup::~NameLookup() = default;

std::shared_ptr<NameLookup> NameLookup::start(const QString& name, QObject* receiver, Done done)
{
    auto lookup = std::make_shared<NameLookup>(receiver, std::move(done));
    ++g_running;
    // The task holds only the shared state: the receiver may be gone when the resolver answers.
    lookupPool().start([lookup, name] {
        const QHostInfo info = QHostInfo::fromName(name);
        deliver(lookup, info);
        --g_running;
    });
    return lookup;
}

void NameLookup::deliver(const std::shared_ptr<NameLookup>& lookup, const QHostInfo& info)
{
    // Under the lock, so that cancel() (the receiver's destructor among others) cannot return
    // while the answer is being posted to the receiver.
    const QMutexLocker locker(&lookup->m_mutex);
    if (!lookup->m_receiver)
        return;
    QMetaObject::invokeMethod(
        lookup->m_receiver,
        [lookup, info] {
            // Cancelled after the answer was posted: the receiver's thread did that, this one
            // runs there too, so the flag is read without a race.
            if (lookup->m_receiver && lookup->m_done)
                lookup->m_done(info);
        },
        Qt::QueuedConnection);
}

void NameLookup::cancel()
{
    const QMutexLocker locker(&m_mutex);
    m_receiver = nullptr;
}

int NameLookup::running()
{
    return g_running.load();
}

} // namespace vigilor::link
