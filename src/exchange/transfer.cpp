#include "exchange/transfer.h"

#include "exchange/pins.h"
#include "text/cp1250.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThreadPool>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

namespace vigilor::exchange {

// ---- cancelling ----------------------------------------------------------------------------

void Cancel::request()
{
    m_requested.store(true);
    const std::lock_guard lock(m_lock);
    for (platform::SocketHandle socket : m_sockets)
        platform::shutDownSocket(socket);
}

void Cancel::adopt(platform::SocketHandle socket)
{
    const std::lock_guard lock(m_lock);
    m_sockets.push_back(socket);
    if (m_requested.load())
        platform::shutDownSocket(socket);
}

void Cancel::release(platform::SocketHandle socket)
{
    const std::lock_guard lock(m_lock);
    std::erase(m_sockets, socket);
}

namespace {

void initialiseCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

const char* const kUserAgent = "Vigilor/" VIGILOR_VERSION;

curl_socket_t openSocket(void* user, curlsocktype, struct curl_sockaddr* address)
{
    auto* cancel = static_cast<Cancel*>(user);
    if (cancel->requested())
        return CURL_SOCKET_BAD;
    const platform::SocketHandle socket =
        platform::openSocket(address->family, address->socktype, address->protocol);
    if (socket == platform::kNoSocket)
        return CURL_SOCKET_BAD;
    cancel->adopt(socket);
    return curl_socket_t(socket);
}

int closeSocket(void* user, curl_socket_t socket)
{
    // Forgotten before it is closed, so that a cancel never shuts down a number reused since.
    static_cast<Cancel*>(user)->release(platform::SocketHandle(socket));
    return platform::closeSocket(platform::SocketHandle(socket));
}

// One libcurl handle with what every transfer of the program sets: time-outs, cancellation,
// no signals (it runs on a pool thread), and no wait for a name lookup at its end.
class Easy final
{
public:
    Easy(const TransferLimits& limits, Cancel& cancel) : m_handle(curl_easy_init())
    {
        if (!m_handle)
            return;
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_CONNECTTIMEOUT_MS, long(limits.connectTimeoutMs));
        set(CURLOPT_USERAGENT, kUserAgent);
        set(CURLOPT_NOPROGRESS, 0L);
        set(CURLOPT_XFERINFOFUNCTION, &Easy::progress);
        set(CURLOPT_XFERINFODATA, &cancel);
        set(CURLOPT_OPENSOCKETFUNCTION, &openSocket);
        set(CURLOPT_OPENSOCKETDATA, &cancel);
        set(CURLOPT_CLOSESOCKETFUNCTION, &closeSocket);
        set(CURLOPT_CLOSESOCKETDATA, &cancel);
        // A name lookup still running when the transfer ends is left to finish by itself.
        set(CURLOPT_QUICK_EXIT, 1L);
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

    long number(CURLINFO info) const
    {
        long value = 0;
        curl_easy_getinfo(m_handle, info, &value);
        return value;
    }

private:
    static int progress(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        return static_cast<const Cancel*>(cancel)->requested() ? 1 : 0;
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

// What the server said besides the body: for HTTP, how the last response's body is delimited;
// for FTP, the code of every final response line of one step.
struct Responses
{
    bool framed = false;  // HTTP/2 or later: the stream's end tells a whole body
    bool chunked = false; // Transfer-Encoding: chunked
    QList<int> codes;
};

size_t header(char* bytes, size_t size, size_t count, void* user)
{
    auto* responses = static_cast<Responses*>(user);
    const QByteArrayView line(bytes, qsizetype(size * count));
    if (line.startsWith("HTTP/")) {
        // A new response (after a redirection, or a "100 Continue"): forget the last one's.
        responses->framed = !line.startsWith("HTTP/1") && !line.startsWith("HTTP/0");
        responses->chunked = false;
    } else if (line.size() > 18 &&
               line.first(18).compare("transfer-encoding:", Qt::CaseInsensitive) == 0) {
        responses->chunked = line.sliced(18).toByteArray().toLower().contains("chunked");
    } else if (line.size() >= 4 && line[3] == ' ') {
        bool ok = false;
        const int code = line.first(3).toInt(&ok);
        if (ok)
            responses->codes.append(code);
    }
    return size * count;
}

// What went wrong, in words for the console; libcurl's own texts are English and may repeat the
// URL.
} // namespace

QString failureReason(int curlCode)
{
    const auto code = CURLcode(curlCode);
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
        return QStringLiteral("nem támogatott címforma");
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
        return QStringLiteral("az átvitel nem indítható (kevés a memória)");
    case CURLE_URL_MALFORMAT:
        return QStringLiteral("hibás cím");
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QStringLiteral("a proxy gép neve nem található");
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("a gép neve nem található");
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("a kapcsolódás nem sikerült");
    case CURLE_WEIRD_SERVER_REPLY:
        return QStringLiteral("a szerver érthetetlen választ adott");
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("időtúllépés, a szerver nem válaszolt időben");
    case CURLE_LOGIN_DENIED:
        return QStringLiteral("a szerver nem fogadta el a felhasználónevet vagy a jelszót");
    case CURLE_REMOTE_ACCESS_DENIED:
        return QStringLiteral("a szerver megtagadta a hozzáférést");
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
        return QStringLiteral("a fájl nem található a szerveren");
    case CURLE_TOO_MANY_REDIRECTS:
        return QStringLiteral("túl sok átirányítás");
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_PRET_FAILED:
        return QStringLiteral("az adatkapcsolat nem jött létre");
    case CURLE_FTP_WEIRD_PASS_REPLY:
        return QStringLiteral("a szerver érthetetlen választ adott a jelszóra");
    case CURLE_FTP_COULDNT_SET_TYPE:
        return QStringLiteral("a szerver nem váltott bináris átvitelre");
    case CURLE_PARTIAL_FILE:
        return QStringLiteral("a fájl csonkán érkezett, a kapcsolat a vége előtt megszakadt");
    case CURLE_QUOTE_ERROR:
        return QStringLiteral("a szerver visszautasította a parancsot");
    case CURLE_UPLOAD_FAILED:
        return QStringLiteral("a szerver nem fogadta a fájlt");
    case CURLE_WRITE_ERROR:
    case CURLE_READ_ERROR:
        return QStringLiteral("az átvitt adat nem kezelhető");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CLIENTCERT:
        return QStringLiteral("a titkosított kapcsolat nem jött létre (tanúsítvány vagy TLS hiba)");
    case CURLE_USE_SSL_FAILED:
        return QStringLiteral("a szerver nem ajánl titkosított kapcsolatot");
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return QStringLiteral("a szerver nyilvános kulcsa nem a korábban elfogadott kulcs");
    case CURLE_GOT_NOTHING:
        return QStringLiteral("a szerver válasz nélkül bontotta a kapcsolatot");
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_SEND_FAIL_REWIND:
        return QStringLiteral("a kapcsolat megszakadt");
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_QUIC_CONNECT_ERROR:
        return QStringLiteral("a HTTP kapcsolat hibával szakadt meg");
    case CURLE_BAD_CONTENT_ENCODING:
        return QStringLiteral("a szerver válaszának kódolása hibás");
    case CURLE_FILESIZE_EXCEEDED:
        return QStringLiteral("a fájl túl nagy");
    case CURLE_REMOTE_DISK_FULL:
        return QStringLiteral("betelt a szerver tárhelye");
    case CURLE_AUTH_ERROR:
        return QStringLiteral("a szerver nem fogadta el a belépést");
    case CURLE_PROXY:
        return QStringLiteral("a proxy nem továbbította a kérést");
    case CURLE_ABORTED_BY_CALLBACK:
        return QStringLiteral("az átvitel megszakítva");
    default:
        return QStringLiteral("átviteli hiba (libcurl hibakód: ") + QString::number(int(code)) +
               u')';
    }
}

namespace {

QString reason(CURLcode code)
{
    return failureReason(int(code));
}

QString downloadError(const QString& url, const QString& why)
{
    return QStringLiteral("Letöltési hiba (") + withoutCredentials(url) + QStringLiteral("): ") +
           why;
}

bool endsWithLineBreak(const QByteArray& body)
{
    return body.endsWith('\n') || body.endsWith('\r');
}

} // namespace

DownloadResult download(const QString& url, const TransferLimits& limits, Cancel& cancel)
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
        result.error = downloadError(url, reason(CURLE_FAILED_INIT));
        return result;
    }
    Body body;
    body.limit = limits.maxBodyBytes;
    Responses responses;
    struct curl_slist* headers = curl_slist_append(nullptr, "Accept: text/html, */*");
    easy.setText(CURLOPT_URL, parsed.toEncoded());
    easy.set(CURLOPT_PROTOCOLS_STR, "http,https,ftp,ftps");
    easy.set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    easy.set(CURLOPT_FOLLOWLOCATION, 1L);
    easy.set(CURLOPT_MAXREDIRS, 5L);
    easy.set(CURLOPT_FAILONERROR, 1L);
    easy.set(CURLOPT_HTTPHEADER, headers);
    easy.set(CURLOPT_TIMEOUT_MS, long(limits.totalTimeoutMs));
    easy.set(CURLOPT_SERVER_RESPONSE_TIMEOUT,
             long(std::max(1, std::min(limits.responseTimeoutMs, limits.totalTimeoutMs) / 1000)));
    easy.set(CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
    easy.set(CURLOPT_WRITEFUNCTION, &receive);
    easy.set(CURLOPT_WRITEDATA, &body);
    easy.set(CURLOPT_HEADERFUNCTION, &header);
    easy.set(CURLOPT_HEADERDATA, &responses);
    const CURLcode code = easy.perform();
    curl_slist_free_all(headers);

    if (cancel.requested() || code == CURLE_ABORTED_BY_CALLBACK) {
        result.status = DownloadResult::Status::Cancelled;
    } else if (body.tooLarge) {
        result.error = downloadError(url, QStringLiteral("a fájl nagyobb ") +
                                              QString::number(limits.maxBodyBytes / 1024) +
                                              QStringLiteral(" KiB-nál, nem banlista"));
    } else if (code == CURLE_HTTP_RETURNED_ERROR) {
        result.error = downloadError(url, QStringLiteral("a szerver válasza: HTTP ") +
                                              QString::number(easy.number(CURLINFO_RESPONSE_CODE)));
    } else if (code != CURLE_OK) {
        result.error = downloadError(url, reason(code));
    } else {
        curl_off_t length = -1;
        curl_easy_getinfo(easy.handle(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        // libcurl catches a body cut short of its length or its chunked end; one that simply
        // ended with the connection is whole only if its last line is (every line of the file
        // ends with a line break).
        const bool delimited = length >= 0 || responses.chunked || responses.framed;
        if (!delimited && !endsWithLineBreak(body.data)) {
            result.error = downloadError(
                url, QStringLiteral("a fájl csonkán érkezett: a szerver nem adta meg a hosszát, "
                                    "és a kapcsolat az utolsó sor közepén zárult; a lista nem "
                                    "változott"));
            return result;
        }
        const char* type = nullptr;
        curl_easy_getinfo(easy.handle(), CURLINFO_CONTENT_TYPE, &type);
        result.contentType = type ? QString::fromLatin1(type) : QString();
        result.status = DownloadResult::Status::Ok;
        result.body = std::move(body.data);
    }
    return result;
}

namespace {

// Whether a listing names the file itself (a "rconpb.ban.old" beside it does not count): the
// name alone on a line, or at the end of a line after a blank (ls -l, DOS and MLSD forms).
bool listingNames(const QByteArray& listing, const QByteArray& name)
{
    for (const QByteArray& raw : listing.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line == name || (line.endsWith(name) && line.size() > name.size() &&
                             (line[line.size() - name.size() - 1] == ' ' ||
                              line[line.size() - name.size() - 1] == '\t')))
            return true;
    }
    return false;
}

// The steps of one upload on one libcurl handle, which keeps the connection between them.
class FtpSession final
{
public:
    FtpSession(const UploadJob& job, const TransferLimits& limits, Cancel& cancel)
        : m_easy(limits, cancel), m_deadline(limits.totalTimeoutMs),
          m_responseTimeoutMs(limits.responseTimeoutMs), m_pin(job.pin)
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
        // Once on, TLS stays on: the control connection is never switched back to clear text.
        m_easy.set(CURLOPT_FTP_SSL_CCC, long(CURLFTPSSL_CCC_NONE));
        m_easy.set(CURLOPT_CERTINFO, 1L);
        // One "CWD /folder" as the address names it, not one per path element.
        m_easy.set(CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_SINGLECWD));
        m_easy.set(CURLOPT_WRITEFUNCTION, &receive);
        m_easy.set(CURLOPT_WRITEDATA, &m_listing);
        m_easy.set(CURLOPT_HEADERFUNCTION, &header);
        m_easy.set(CURLOPT_HEADERDATA, &m_responses);
    }

    bool valid() const { return bool(m_easy); }
    const QString& where() const { return m_where; }
    // What this session learnt of the server's encryption (see UploadJob).
    const QString& newPin() const { return m_newPin; }
    // The code of the server's last answer.
    int lastResponse() const { return m_responses.codes.isEmpty() ? 0 : m_responses.codes.last(); }

    // Connect and log in, with TLS as the server and what is known of it allow.
    CURLcode login()
    {
        m_easy.setText(CURLOPT_URL, m_root);
        m_easy.set(CURLOPT_NOBODY, 1L);
        if (m_pin.startsWith(u"sha256//")) {
            requireTls(false);
            m_easy.setText(CURLOPT_PINNEDPUBLICKEY, m_pin.toLatin1());
            return perform();
        }
        if (m_pin == kVerifiedByAuthority) {
            requireTls(true);
            return perform();
        }
        m_easy.set(CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
        CURLcode code = perform();
        if (code == CURLE_OK) {
            if (usedTls())
                m_newPin = kVerifiedByAuthority;
            return code;
        }
        if (code != CURLE_PEER_FAILED_VERIFICATION)
            return code;
        // The first upload to a server whose certificate does not verify (self-signed, or
        // naming another host): it is trusted now, and only its key from now on.
        requireTls(false);
        if ((code = perform()) != CURLE_OK)
            return code;
        const std::optional<QString> pin = serverKeyPin();
        if (!pin)
            return CURLE_SSL_CERTPROBLEM;
        m_newPin = *pin;
        // The data connections of this session show the same key.
        m_easy.setText(CURLOPT_PINNEDPUBLICKEY, pin->toLatin1());
        return code;
    }
    // Change to the folder (when there is one) and list it.
    CURLcode list()
    {
        const auto listing = [this] {
            m_listing = Body{};
            m_listing.limit = 16 * 1024 * 1024;
            m_easy.setText(CURLOPT_URL, m_folder);
            m_easy.set(CURLOPT_NOBODY, 0L);
            return perform();
        };
        return withSessionReuse(listing);
    }
    bool listingShowsFile() const { return listingNames(m_listing.data, kListFileName.toLatin1()); }
    // The named file of the folder deleted.
    CURLcode remove(const QString& name) { return commands({"DELE " + name.toLatin1()}); }
    // The temporary file renamed onto the list file. renameFromAccepted() tells afterwards
    // whether the server took the RNFR (so that only the RNTO was refused).
    CURLcode rename()
    {
        return commands(
            {"RNFR " + kTemporaryListName.toLatin1(), "RNTO " + kListFileName.toLatin1()});
    }
    bool renameFromAccepted() const { return m_responses.codes.contains(350); }
    // The content stored under the name (the temporary one, unless renaming is impossible).
    CURLcode store(const QByteArray& content, const QString& name = kTemporaryListName)
    {
        Outgoing out{&content};
        m_easy.setText(CURLOPT_URL, m_folder + name.toLatin1());
        m_easy.set(CURLOPT_NOBODY, 0L);
        m_easy.set(CURLOPT_UPLOAD, 1L);
        m_easy.set(CURLOPT_READFUNCTION, &send);
        m_easy.set(CURLOPT_READDATA, &out);
        m_easy.set(CURLOPT_INFILESIZE_LARGE, curl_off_t(content.size()));
        const CURLcode code = withSessionReuse([&] {
            out.sent = 0;
            return perform();
        });
        m_easy.set(CURLOPT_UPLOAD, 0L);
        return code;
    }

private:
    static QString hostForUrl(const UploadJob& job)
    {
        return job.endpoint.host.contains(u':') ? u'[' + job.endpoint.host + u']'
                                                : job.endpoint.host;
    }
    // TLS or nothing; with verify false, the certificate is checked by its key (the pin).
    void requireTls(bool verify)
    {
        m_easy.set(CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        m_easy.set(CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
        m_easy.set(CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    }
    bool usedTls() const
    {
        struct curl_certinfo* info = nullptr;
        curl_easy_getinfo(m_easy.handle(), CURLINFO_CERTINFO, &info);
        return info && info->num_of_certs > 0;
    }
    std::optional<QString> serverKeyPin() const
    {
        struct curl_certinfo* info = nullptr;
        curl_easy_getinfo(m_easy.handle(), CURLINFO_CERTINFO, &info);
        if (!info || info->num_of_certs < 1)
            return std::nullopt;
        for (const curl_slist* item = info->certinfo[0]; item; item = item->next)
            if (std::strncmp(item->data, "Cert:", 5) == 0)
                return publicKeyPin(derFromPem(QByteArrayView(item->data + 5)));
        return std::nullopt;
    }
    // A server that wants every TLS data connection to resume the control connection's session
    // (vsftpd's "require_ssl_reuse") refuses one with "522" when libcurl offers a TLS 1.3 ticket
    // the server already took: one a data connection got but libcurl never read (after a
    // store). A new control connection brings new tickets; the step is tried once more on it,
    // before any data went (the 522 comes instead of the transfer).
    template <typename Step> CURLcode withSessionReuse(Step step)
    {
        CURLcode code = step();
        if (code == CURLE_OK || lastResponse() != kSessionReuseRequired)
            return code;
        m_easy.set(CURLOPT_FRESH_CONNECT, 1L);
        code = step();
        m_easy.set(CURLOPT_FRESH_CONNECT, 0L);
        return code;
    }
    static constexpr int kSessionReuseRequired = 522;
    // Commands sent one after the other in the folder, with nothing between them.
    CURLcode commands(const QList<QByteArray>& lines)
    {
        struct curl_slist* list = nullptr;
        for (const QByteArray& line : lines)
            list = curl_slist_append(list, line.constData());
        m_easy.setText(CURLOPT_URL, m_folder);
        m_easy.set(CURLOPT_NOBODY, 1L);
        m_easy.set(CURLOPT_POSTQUOTE, list);
        const CURLcode code = perform();
        m_easy.set(CURLOPT_POSTQUOTE, static_cast<curl_slist*>(nullptr));
        curl_slist_free_all(list);
        return code;
    }
    CURLcode perform()
    {
        const qint64 left = m_deadline.remainingTime();
        if (left <= 0)
            return CURLE_OPERATION_TIMEDOUT;
        m_responses.codes.clear();
        m_easy.set(CURLOPT_TIMEOUT_MS, long(left));
        // Also bounds the QUIT that libcurl sends when the handle is cleaned up: it waits with
        // the response time-out of the last step.
        const qint64 response = std::min<qint64>(left, m_responseTimeoutMs);
        m_easy.set(CURLOPT_SERVER_RESPONSE_TIMEOUT,
                   long(std::max<qint64>(1, (response + 999) / 1000)));
        return m_easy.perform();
    }

    Easy m_easy;
    QDeadlineTimer m_deadline;
    int m_responseTimeoutMs;
    QString m_pin;
    QString m_newPin;
    QByteArray m_root;
    QByteArray m_folder;
    QString m_where;
    Body m_listing;
    Responses m_responses;
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

// A refusal by the server: its answer's code helps whoever reads the console.
bool refusedByServer(CURLcode code)
{
    switch (code) {
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_LOGIN_DENIED:
    case CURLE_USE_SSL_FAILED:
        return true;
    default:
        return false;
    }
}

} // namespace

UploadResult upload(const UploadJob& job, const TransferLimits& limits, Cancel& cancel)
{
    initialiseCurl();
    UploadResult result;
    FtpSession session(job, limits, cancel);
    const auto failed = [&](CURLcode code, const QString& step) {
        result.newPin = session.newPin();
        if (cancel.requested() || code == CURLE_ABORTED_BY_CALLBACK) {
            result.status = UploadResult::Status::Cancelled;
            return result;
        }
        QString why = reason(code);
        if (code == CURLE_SSL_PINNEDPUBKEYNOTMATCH)
            why = QStringLiteral("a szerver nyilvános kulcsa megváltozott, nem egyezik az első "
                                 "feltöltéskor elfogadott kulccsal (") +
                  job.pin +
                  QStringLiteral("); ha a szerver kulcsát valóban lecserélték, töröld a "
                                 "bejegyzését a vigilor.ini PublicUploadPins sorából");
        else if (code == CURLE_USE_SSL_FAILED && !job.pin.isEmpty())
            why = QStringLiteral("a szerver most nem ajánl titkosított kapcsolatot, pedig "
                                 "korábban titkosítva fogadta a feltöltést; a jelszó titkosítás "
                                 "nélkül nem megy el");
        else if (code == CURLE_PEER_FAILED_VERIFICATION && job.pin == kVerifiedByAuthority)
            why = QStringLiteral("a szerver tanúsítványa nem hiteles, pedig korábban az volt; a "
                                 "jelszó nem megy el");
        else if (refusedByServer(code) && session.lastResponse() != 0)
            why += QStringLiteral(" (a szerver válaszkódja: ") +
                   QString::number(session.lastResponse()) + u')';
        result.status = UploadResult::Status::Failed;
        result.error = QStringLiteral("Feltöltési hiba (") + session.where() +
                       QStringLiteral("): ") + step + QStringLiteral(": ") + why;
        return result;
    };
    if (!session.valid())
        return failed(CURLE_FAILED_INIT, QStringLiteral("indítás"));

    CURLcode code = session.login();
    result.newPin = session.newPin();
    if (connectionLost(code) && !cancel.requested()) {
        result.status = UploadResult::Status::NoConnection;
        return result;
    }
    if (code != CURLE_OK)
        return failed(code, QStringLiteral("bejelentkezés"));
    if ((code = session.list()) != CURLE_OK)
        return failed(code, job.folder.isEmpty() ? QStringLiteral("listázás")
                                                 : QStringLiteral("belépés a mappába"));
    const bool hadFile = session.listingShowsFile();
    // Stored beside the old file first: a transfer that breaks off leaves the old one whole.
    if ((code = session.store(job.content)) != CURLE_OK)
        return failed(code, QStringLiteral("a fájl tárolása ideiglenes néven (") +
                                kTemporaryListName + u')');
    const QString renameStep =
        QStringLiteral("átnevezés ") + kListFileName + QStringLiteral(" névre");
    if ((code = session.rename()) != CURLE_OK) {
        if (code != CURLE_QUOTE_ERROR)
            return failed(code, renameStep);
        // Some servers rename onto no existing file: the old one goes just before the rename.
        // A refused delete (of a file that is not there, say) does not end the upload.
        if (session.renameFromAccepted()) {
            if ((code = session.remove(kListFileName)) != CURLE_OK && code != CURLE_QUOTE_ERROR)
                return failed(code, QStringLiteral("a régi fájl törlése"));
            code = session.rename();
        }
        if (code == CURLE_QUOTE_ERROR) {
            // A server that renames nothing: the file goes under its own name, as the store
            // always went before, so that the folder is never left without a list.
            if ((code = session.store(job.content, kListFileName)) != CURLE_OK)
                return failed(code, QStringLiteral("a fájl tárolása ") + kListFileName +
                                        QStringLiteral(" néven (a szerver nem nevezte át az "
                                                       "ideiglenes fájlt)"));
            session.remove(kTemporaryListName);
            result.warning =
                QStringLiteral("Feltöltés (") + session.where() +
                QStringLiteral("): a szerver nem nevezte át az ideiglenes fájlt, ezért a lista "
                               "közvetlenül ") +
                kListFileName +
                QStringLiteral(" néven tárolódott; ott egy megszakadó átvitel csonka listát "
                               "hagyhat.");
        } else if (code != CURLE_OK) {
            return failed(code, hadFile ? renameStep + QStringLiteral(" a régi fájl törlése után")
                                        : renameStep);
        }
    }
    if ((code = session.list()) != CURLE_OK)
        return failed(code, QStringLiteral("listázás a tárolás után"));
    result.status =
        session.listingShowsFile() ? UploadResult::Status::Listed : UploadResult::Status::NotListed;
    return result;
}

// ---- the runner ----------------------------------------------------------------------------

TransferRunner::TransferRunner(ErrorSink* errors, QObject* parent)
    : QObject(parent), m_errors(errors), m_pool(new QThreadPool)
{
    initialiseCurl();
    // A download of the window and an import run may wait on slow servers at the same time.
    m_pool->setMaxThreadCount(8);
}

TransferRunner::~TransferRunner()
{
    for (const std::weak_ptr<Cancel>& weak : m_cancels)
        if (const std::shared_ptr<Cancel> cancel = weak.lock())
            cancel->request();
    // A cancelled transfer ends within a second; one that does not (a name lookup of the
    // system that hangs) is left to run out: its pool is not waited for.
    if (m_pool->waitForDone(kEndWaitMs))
        delete m_pool;
}

void TransferRunner::track(const std::shared_ptr<Cancel>& cancel)
{
    std::erase_if(m_cancels, [](const std::weak_ptr<Cancel>& weak) { return weak.expired(); });
    m_cancels.push_back(cancel);
}

int TransferRunner::running() const
{
    return m_pool->activeThreadCount();
}

} // namespace vigilor::exchange
