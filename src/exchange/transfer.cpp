#include "exchange/transfer.h"

#include "text/cp1250.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QUrl>

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace vigilor::exchange {

namespace {

void initialiseCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

const char* const kUserAgent = "Vigilor/" VIGILOR_VERSION;

// One libcurl handle with what every transfer of the program sets: time-outs, cancellation,
// no signals (it runs on a thread of its own).
class Easy final
{
public:
    Easy(const TransferLimits& limits, const CancelFlag& cancel) : m_handle(curl_easy_init())
    {
        if (!m_handle)
            return;
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_CONNECTTIMEOUT_MS, long(limits.connectTimeoutMs));
        set(CURLOPT_USERAGENT, kUserAgent);
        set(CURLOPT_NOPROGRESS, 0L);
        set(CURLOPT_XFERINFOFUNCTION, &Easy::progress);
        set(CURLOPT_XFERINFODATA, &cancel);
        if (!limits.caFile.isEmpty()) {
            m_caFile = QFile::encodeName(limits.caFile);
            set(CURLOPT_CAINFO, m_caFile.constData());
        }
    }
    ~Easy()
    {
        if (m_handle)
            curl_easy_cleanup(m_handle);
    }
    Easy(const Easy&) = delete;
    Easy& operator=(const Easy&) = delete;

    explicit operator bool() const { return m_handle != nullptr; }
    CURL* handle() const { return m_handle; }

    template <typename T> void set(CURLoption option, T value)
    {
        curl_easy_setopt(m_handle, option, value);
    }
    // libcurl keeps the pointer, so the text is kept here as long as the handle lives.
    void setText(CURLoption option, const QByteArray& text)
    {
        m_texts.append(text);
        curl_easy_setopt(m_handle, option, m_texts.constLast().constData());
    }
    CURLcode perform() { return curl_easy_perform(m_handle); }

private:
    static int progress(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        return static_cast<const CancelFlag*>(cancel)->load() ? 1 : 0;
    }

    CURL* m_handle;
    QByteArray m_caFile;
    QList<QByteArray> m_texts;
};

struct Body
{
    QByteArray data;
    qsizetype limit = 0;
    bool tooLarge = false;
};

size_t receive(char* bytes, size_t size, size_t count, void* user)
{
    auto* body = static_cast<Body*>(user);
    const qsizetype length = qsizetype(size * count);
    if (body->data.size() + length > body->limit) {
        body->tooLarge = true;
        return 0; // ends the transfer
    }
    body->data.append(bytes, length);
    return size * count;
}

struct Outgoing
{
    const QByteArray* data;
    qsizetype sent = 0;
};

size_t send(char* buffer, size_t size, size_t count, void* user)
{
    auto* out = static_cast<Outgoing*>(user);
    const qsizetype length = std::min(qsizetype(size * count), out->data->size() - out->sent);
    std::memcpy(buffer, out->data->constData() + out->sent, size_t(length));
    out->sent += length;
    return size_t(length);
}

// What went wrong, in words for the console; libcurl's own error buffer may repeat the URL.
QString reason(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("a gép neve nem található");
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("a kapcsolódás nem sikerült");
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("időtúllépés, a szerver nem válaszolt időben");
    case CURLE_UNSUPPORTED_PROTOCOL:
        return QStringLiteral("nem támogatott címforma");
    case CURLE_URL_MALFORMAT:
        return QStringLiteral("hibás cím");
    case CURLE_LOGIN_DENIED:
        return QStringLiteral("a szerver nem fogadta el a felhasználónevet vagy a jelszót");
    case CURLE_REMOTE_ACCESS_DENIED:
        return QStringLiteral("a szerver megtagadta a hozzáférést");
    case CURLE_REMOTE_FILE_NOT_FOUND:
        return QStringLiteral("a fájl nem található a szerveren");
    case CURLE_TOO_MANY_REDIRECTS:
        return QStringLiteral("túl sok átirányítás");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_USE_SSL_FAILED:
        return QStringLiteral("a titkosított kapcsolat nem jött létre (tanúsítvány vagy TLS hiba)");
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return QStringLiteral("a kapcsolat megszakadt");
    default:
        return QString::fromLatin1(curl_easy_strerror(code));
    }
}

long responseCode(Easy& easy)
{
    long code = 0;
    curl_easy_getinfo(easy.handle(), CURLINFO_RESPONSE_CODE, &code);
    return code;
}

QString downloadError(const QString& url, const QString& why)
{
    return QStringLiteral("Letöltési hiba (") + withoutCredentials(url) + QStringLiteral("): ") +
           why;
}

} // namespace

DownloadResult download(const QString& url, const TransferLimits& limits, const CancelFlag& cancel)
{
    initialiseCurl();
    DownloadResult result;
    const QUrl parsed(url);
    if (!parsed.isValid() || parsed.host().isEmpty()) {
        result.error = downloadError(url, QStringLiteral("hiányos vagy hibás cím"));
        return result;
    }
    Easy easy(limits, cancel);
    if (!easy) {
        result.error = downloadError(url, QStringLiteral("a letöltés nem indítható"));
        return result;
    }
    Body body;
    body.limit = limits.maxBodyBytes;
    struct curl_slist* headers = curl_slist_append(nullptr, "Accept: text/html, */*");
    easy.setText(CURLOPT_URL, parsed.toEncoded());
    easy.set(CURLOPT_PROTOCOLS_STR, "http,https,ftp,ftps");
    easy.set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    easy.set(CURLOPT_FOLLOWLOCATION, 1L);
    easy.set(CURLOPT_MAXREDIRS, 5L);
    easy.set(CURLOPT_FAILONERROR, 1L);
    easy.set(CURLOPT_HTTPHEADER, headers);
    easy.set(CURLOPT_TIMEOUT_MS, long(limits.totalTimeoutMs));
    easy.set(CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
    easy.set(CURLOPT_WRITEFUNCTION, &receive);
    easy.set(CURLOPT_WRITEDATA, &body);
    const CURLcode code = easy.perform();
    curl_slist_free_all(headers);

    if (code == CURLE_ABORTED_BY_CALLBACK) {
        result.status = DownloadResult::Status::Cancelled;
    } else if (body.tooLarge) {
        result.error = downloadError(url, QStringLiteral("a fájl nagyobb ") +
                                              QString::number(limits.maxBodyBytes / 1024) +
                                              QStringLiteral(" KiB-nál, nem banlista"));
    } else if (code == CURLE_HTTP_RETURNED_ERROR) {
        result.error = downloadError(url, QStringLiteral("a szerver válasza: HTTP ") +
                                              QString::number(responseCode(easy)));
    } else if (code != CURLE_OK) {
        result.error = downloadError(url, reason(code));
    } else {
        result.status = DownloadResult::Status::Ok;
        result.body = std::move(body.data);
    }
    return result;
}

namespace {

// The steps of one upload on one libcurl handle, which keeps the connection between them.
class FtpSession final
{
public:
    FtpSession(const UploadJob& job, const TransferLimits& limits, const CancelFlag& cancel)
        : m_easy(limits, cancel), m_deadline(limits.totalTimeoutMs)
    {
        const QString host = hostForUrl(job);
        m_root = "ftp://" + host.toUtf8() + ':' + QByteArray::number(job.endpoint.port) + '/';
        m_folder = job.folder.isEmpty()
                       ? m_root
                       : m_root + text::toCp1250(job.folder).toPercentEncoding() + '/';
        m_where = QStringLiteral("ftp://") + host + u':' + QString::number(job.endpoint.port) +
                  job.folder;
        if (!m_easy)
            return;
        m_easy.setText(CURLOPT_USERNAME, text::toCp1250(job.user));
        m_easy.setText(CURLOPT_PASSWORD, text::toCp1250(job.password));
        m_easy.set(CURLOPT_PROTOCOLS_STR, "ftp");
        m_easy.set(CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
        // One "CWD /folder" as the address names it, not one per path element.
        m_easy.set(CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_SINGLECWD));
        m_easy.set(CURLOPT_WRITEFUNCTION, &receive);
        m_easy.set(CURLOPT_WRITEDATA, &m_listing);
    }

    bool valid() const { return bool(m_easy); }
    const QString& where() const { return m_where; }

    // Connect and log in; nothing else.
    CURLcode login()
    {
        m_easy.setText(CURLOPT_URL, m_root);
        m_easy.set(CURLOPT_NOBODY, 1L);
        return perform();
    }
    // Change to the folder (when there is one) and list it.
    CURLcode list()
    {
        m_listing = Body{};
        m_listing.limit = 16 * 1024 * 1024;
        m_easy.setText(CURLOPT_URL, m_folder);
        m_easy.set(CURLOPT_NOBODY, 0L);
        return perform();
    }
    bool listingShowsFile() const { return m_listing.data.contains(kListFileName.toLatin1()); }
    CURLcode remove()
    {
        const QByteArray dele = "DELE " + kListFileName.toLatin1();
        struct curl_slist* command = curl_slist_append(nullptr, dele.constData());
        m_easy.setText(CURLOPT_URL, m_folder);
        m_easy.set(CURLOPT_NOBODY, 1L);
        m_easy.set(CURLOPT_POSTQUOTE, command);
        const CURLcode code = perform();
        m_easy.set(CURLOPT_POSTQUOTE, static_cast<curl_slist*>(nullptr));
        curl_slist_free_all(command);
        return code;
    }
    CURLcode store(const QByteArray& content)
    {
        Outgoing out{&content};
        m_easy.setText(CURLOPT_URL, m_folder + kListFileName.toLatin1());
        m_easy.set(CURLOPT_NOBODY, 0L);
        m_easy.set(CURLOPT_UPLOAD, 1L);
        m_easy.set(CURLOPT_READFUNCTION, &send);
        m_easy.set(CURLOPT_READDATA, &out);
        m_easy.set(CURLOPT_INFILESIZE_LARGE, curl_off_t(content.size()));
        const CURLcode code = perform();
        m_easy.set(CURLOPT_UPLOAD, 0L);
        return code;
    }

private:
    static QString hostForUrl(const UploadJob& job)
    {
        return job.endpoint.host.contains(u':') ? u'[' + job.endpoint.host + u']'
                                                : job.endpoint.host;
    }
    CURLcode perform()
    {
        const qint64 left = m_deadline.remainingTime();
        if (left <= 0)
            return CURLE_OPERATION_TIMEDOUT;
        m_easy.set(CURLOPT_TIMEOUT_MS, long(left));
        return m_easy.perform();
    }

    Easy m_easy;
    QDeadlineTimer m_deadline;
    QByteArray m_root;
    QByteArray m_folder;
    QString m_where;
    Body m_listing;
};

bool connectionLost(CURLcode code)
{
    switch (code) {
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_FTP_WEIRD_PASS_REPLY:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
        return true;
    default:
        return false;
    }
}

} // namespace

UploadResult upload(const UploadJob& job, const TransferLimits& limits, const CancelFlag& cancel)
{
    initialiseCurl();
    UploadResult result;
    FtpSession session(job, limits, cancel);
    const auto failed = [&](CURLcode code, const QString& step) {
        if (code == CURLE_ABORTED_BY_CALLBACK) {
            result.status = UploadResult::Status::Cancelled;
            return result;
        }
        result.status = UploadResult::Status::Failed;
        result.error = QStringLiteral("Feltöltési hiba (") + session.where() +
                       QStringLiteral("): ") + step + QStringLiteral(": ") + reason(code);
        return result;
    };
    if (!session.valid())
        return failed(CURLE_FAILED_INIT, QStringLiteral("indítás"));

    CURLcode code = session.login();
    if (connectionLost(code)) {
        result.status = UploadResult::Status::NoConnection;
        return result;
    }
    if (code != CURLE_OK)
        return failed(code, QStringLiteral("bejelentkezés"));
    if ((code = session.list()) != CURLE_OK)
        return failed(code, job.folder.isEmpty() ? QStringLiteral("listázás")
                                                 : QStringLiteral("belépés a mappába"));
    if (session.listingShowsFile() && (code = session.remove()) != CURLE_OK)
        return failed(code, QStringLiteral("a régi fájl törlése"));
    if ((code = session.store(job.content)) != CURLE_OK)
        return failed(code, QStringLiteral("a fájl tárolása"));
    if ((code = session.list()) != CURLE_OK)
        return failed(code, QStringLiteral("listázás"));
    result.status =
        session.listingShowsFile() ? UploadResult::Status::Listed : UploadResult::Status::NotListed;
    return result;
}

// ---- the runner ----------------------------------------------------------------------------

TransferRunner::TransferRunner(ErrorSink* errors, QObject* parent)
    : QObject(parent), m_errors(errors)
{
    initialiseCurl();
}

TransferRunner::~TransferRunner()
{
    for (const Job& job : std::as_const(m_jobs))
        job.cancel->store(true);
    for (const Job& job : std::as_const(m_jobs))
        if (job.thread)
            job.thread->wait();
}

void TransferRunner::track(QThread* thread, std::shared_ptr<CancelFlag> cancel)
{
    thread->setParent(this);
    m_jobs.append({thread, std::move(cancel)});
    connect(thread, &QThread::finished, this, [this, thread] {
        guarded(m_errors, [this, thread] {
            m_jobs.removeIf(
                [thread](const Job& job) { return job.thread == thread || !job.thread; });
            thread->deleteLater();
        });
    });
}

int TransferRunner::running() const
{
    return int(m_jobs.size());
}

} // namespace vigilor::exchange
