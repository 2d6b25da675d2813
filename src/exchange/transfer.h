#pragma once

#include "exchange/address.h"
#include "text/errors.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

namespace vigilor::exchange {

// Bounds of every transfer. A stalled server costs at most the whole-transfer time.
struct TransferLimits
{
    int connectTimeoutMs = 10'000;
    int totalTimeoutMs = 60'000; // the whole download, or the whole FTP exchange
    qsizetype maxBodyBytes = 4 * 1024 * 1024;
    QString caFile; // certificates to trust instead of the system's (tests)
};

using CancelFlag = std::atomic_bool;

// One GET of a URL (http, https or ftp); redirections are followed within http and https.
// Error texts are built here and never hold the user name or password of the URL.
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
    QString error;
};
DownloadResult download(const QString& url, const TransferLimits& limits, const CancelFlag& cancel);

// The upload of the public list file over FTP, one step after the other on one connection:
// connect and log in (TLS when the server offers it), change to the folder when there is one,
// list it, delete "rconpb.ban" when the listing shows it, store the file in binary mode, list
// again. Data connections are passive.
struct UploadJob
{
    Endpoint endpoint;
    QString user;
    QString password;
    QString folder;
    QByteArray content;
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
    QString error; // never holds the password
};
UploadResult upload(const UploadJob& job, const TransferLimits& limits, const CancelFlag& cancel);

// Runs transfers off the window's thread and hands each result back to the thread of the object
// that asked for it. Destroying the runner cancels what still runs and waits for it.
class TransferRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferRunner)

public:
    // Errors of the done callbacks go to errors.
    explicit TransferRunner(ErrorSink* errors, QObject* parent = nullptr);
    ~TransferRunner() override;

    const TransferLimits& limits() const { return m_limits; }
    void setLimits(const TransferLimits& limits) { m_limits = limits; }

    // work(limits, cancel) runs on a thread of its own; done(result) runs afterwards on the
    // receiver's thread, and not at all when the receiver is gone by then. Setting the returned
    // flag asks the work to stop.
    template <typename Result>
    std::shared_ptr<CancelFlag>
    run(QObject* receiver, std::function<Result(const TransferLimits&, const CancelFlag&)> work,
        std::function<void(Result)> done)
    {
        auto cancel = std::make_shared<CancelFlag>(false);
        auto result = std::make_shared<Result>();
        QThread* thread = QThread::create([work = std::move(work), limits = m_limits, cancel,
                                           result] { *result = work(limits, *cancel); });
        track(thread, cancel);
        connect(thread, &QThread::finished, receiver,
                [errors = m_errors, result, done = std::move(done)] {
                    guarded(errors, [&] { done(std::move(*result)); });
                });
        thread->start();
        return cancel;
    }

    // How many transfers are running.
    int running() const;

private:
    struct Job
    {
        QPointer<QThread> thread;
        std::shared_ptr<CancelFlag> cancel;
    };
    void track(QThread* thread, std::shared_ptr<CancelFlag> cancel);

    TransferLimits m_limits;
    ErrorSink* m_errors;
    QList<Job> m_jobs;
};

} // namespace vigilor::exchange
