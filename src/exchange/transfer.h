#pragma once

#include "exchange/address.h"
#include "platform/socket.h"
#include "text/errors.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QScopeGuard>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QThreadPool;

namespace vigilor::exchange {

// Bounds of every transfer. A stalled server costs at most the whole-transfer time, whichever
// step it stalls in, the closing QUIT included.
struct TransferLimits
{
    int connectTimeoutMs = 10'000;
    int totalTimeoutMs = 60'000; // the whole download, or the whole FTP exchange
    // The longest wait for one answer of an FTP server (within the whole-transfer time).
    int responseTimeoutMs = 20'000;
    qsizetype maxBodyBytes = 4 * 1024 * 1024;
    QString caFile; // certificates to trust instead of the system's (tests)
};

// Stops one transfer from any thread: libcurl's progress callback sees the request within a
// second, and every socket of the transfer is shut down at once, so that no wait for a server
// outlasts it.
class Cancel final
{
public:
    Cancel() = default;
    Cancel(const Cancel&) = delete;
    Cancel& operator=(const Cancel&) = delete;

    void request();
    bool requested() const { return m_requested.load(); }

    // The transfer's sockets, as libcurl opens and closes them. adopt() shuts a socket opened
    // after the request down at once.
    void adopt(platform::SocketHandle socket);
    void release(platform::SocketHandle socket);

private:
    std::atomic_bool m_requested{false};
    std::mutex m_lock;
    std::vector<platform::SocketHandle> m_sockets;
};

// One GET of a URL (http, https or ftp); redirections are followed within http and https. Only a
// whole file counts: a body that ends with the connection, with neither a length nor a chunked
// end to tell it from a cut, must end with a line break. Error texts are Hungarian sentences
// built here and never hold the user name or password of the URL.
struct DownloadResult
{
    enum class Status
    {
        Ok,
        Failed,
        Cancelled
    };
    Status status = Status::Failed;
    QByteArray body;
    QString contentType; // as the server named it, empty when it did not
    QString error;
};
DownloadResult download(const QString& url, const TransferLimits& limits, Cancel& cancel);

// The upload of the public list file over FTP, one step after the other on one connection:
// connect and log in, change to the folder when there is one, list it, store the file under a
// temporary name beside "rconpb.ban" in binary mode, rename it onto "rconpb.ban" (where the
// server refuses to rename onto an existing file, "rconpb.ban" is deleted just before the
// rename; where it renames nothing at all, the file is stored under "rconpb.ban" itself), list
// again. Data connections are passive. Only the exact name "rconpb.ban" is ever deleted, and
// never before the new content is stored.
//
// Encryption: a server that offers TLS gets it on the control and data connections. With no pin
// known (`pin` empty) a certificate that verifies is taken (`newPin` says kVerifiedByAuthority);
// one that does not is trusted on this first upload, and `newPin` holds its public key's pin.
// With a pin known, TLS is required (never clear text) and only a certificate that verifies
// (kVerifiedByAuthority) or one with the pinned key is taken. The password only ever goes over
// TLS then, and never over a connection that switched TLS off.
struct UploadJob
{
    Endpoint endpoint;
    QString user;
    QString password;
    QString folder;
    QByteArray content;
    QString pin; // what an earlier upload learnt of the server (pins.h)
};
struct UploadResult
{
    enum class Status
    {
        Listed,       // stored, and the listing afterwards shows the file
        NotListed,    // stored, but the listing afterwards does not show it
        NoConnection, // the connection was gone right after the login
        Failed,
        Cancelled
    };
    Status status = Status::Failed;
    QString error;   // never holds the password
    QString newPin;  // the server's encryption, learnt by this upload (see above)
    QString warning; // a console line about a stored file
};
UploadResult upload(const UploadJob& job, const TransferLimits& limits, Cancel& cancel);

// Why a transfer failed, as the console says it: a Hungarian text for each libcurl result code
// (libcurl's own texts are English and may repeat the URL).
QString failureReason(int curlCode);

// The name the upload stores the file under before renaming it onto "rconpb.ban".
inline const QString kTemporaryListName = QStringLiteral("rconpb.ban.tmp");

// Runs transfers on a thread pool of its own and hands each result back to the thread of the
// object that asked for it. Destroying the runner cancels what still runs and waits for it a
// short while, never longer.
class TransferRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferRunner)

public:
    // How long the destructor waits for cancelled transfers to end.
    static constexpr int kEndWaitMs = 1500;

    // Errors of the done callbacks go to errors.
    explicit TransferRunner(ErrorSink* errors, QObject* parent = nullptr);
    ~TransferRunner() override;

    const TransferLimits& limits() const { return m_limits; }
    void setLimits(const TransferLimits& limits) { m_limits = limits; }

    // work(limits, cancel) runs on the pool; done(result) runs afterwards from the receiver's
    // event loop (never before run() has returned), and not at all when the receiver is gone by
    // then. The returned object cancels the work.
    template <typename Result>
    std::shared_ptr<Cancel> run(QObject* receiver,
                                std::function<Result(const TransferLimits&, Cancel&)> work,
                                std::function<void(Result)> done)
    {
        auto cancel = std::make_shared<Cancel>();
        track(cancel);
        ++s_working;
        QtConcurrent::run(m_pool, [work = std::move(work), limits = m_limits, cancel] {
            const auto done = qScopeGuard([] { --s_working; });
            return work(limits, *cancel);
        }).then(receiver, [receiver, errors = m_errors, done = std::move(done)](Result result) {
            // A transfer over before then() was attached comes here at once: the caller
            // gets its result from the event loop all the same.
            QMetaObject::invokeMethod(
                receiver,
                [errors, done, result = std::move(result)]() mutable {
                    guarded(errors, [&] { done(std::move(result)); });
                },
                Qt::QueuedConnection);
        });
        return cancel;
    }

    // How many transfers are running.
    int running() const;
    // How many transfers of any runner are still at work, also those a destroyed runner left
    // to run out: the program's end must not wait for them.
    static int stillWorking() { return s_working; }

private:
    void track(const std::shared_ptr<Cancel>& cancel);

    TransferLimits m_limits;
    ErrorSink* m_errors;
    QThreadPool* m_pool; // left to run out when a transfer outlives the wait at the end
    std::vector<std::weak_ptr<Cancel>> m_cancels;
    static inline std::atomic<int> s_working{0};
};

} // namespace vigilor::exchange
