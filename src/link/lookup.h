#pragma once

#include <QHostInfo>
#include <QMutex>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace vigilor::link {

// One name lookup off the event loop. The resolver may take as long as a name server that does
// not answer makes it (20 s and more), so it runs on a pool thread and its answer comes back
// through the receiver's event loop.
//
// QHostInfo::fromName, not lookupHost: lookupHost answers from QHostInfo's cache, which keeps a
// failed lookup for a minute as well, and a retry would then never see a name that has started
// to resolve meanwhile. fromName always asks the system's resolver.
class NameLookup final
{
    Q_DISABLE_COPY_MOVE(NameLookup)

public:
    using Done = std::function<void(const QHostInfo&)>;

    // Looks `name` up; `done` runs later on the receiver's thread, unless the lookup was
    // cancelled first. A receiver that goes away cancels its lookup first.
    static std::shared_ptr<NameLookup> start(const QString& name, QObject* receiver, Done done);

    // After this, `done` is never called. Call it on the receiver's thread. The resolver itself
    // cannot be stopped: its thread runs on until the resolver answers.
    void cancel();
    ~NameLookup();

    // Lookups whose resolver has not answered yet, in the whole process. The program's end must
    // not wait for them (the application's objects would wait for the pool's threads).
    static int running();

    NameLookup(QObject* receiver, Done done);

private:
    static void deliver(const std::shared_ptr<NameLookup>& lookup, const QHostInfo& info);

    QMutex m_mutex;
    QObject* m_receiver; // null once cancelled
    Done m_done;
};

} // namespace vigilor::link
