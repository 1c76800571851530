#include "search/http_transport.h"

#include "kelvara_version.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

namespace kelvara {

void httpGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

struct Transfer {
    QByteArray body;
    qsizetype maxBodyBytes = 0;
    bool overCap = false;
    const AbortCheck* abort = nullptr;
    bool aborted = false;
};

size_t collectBody(char* data, size_t size, size_t count, void* userData) {
    auto* t = static_cast<Transfer*>(userData);
    const size_t n = size * count;
    if (qsizetype(n) > t->maxBodyBytes - t->body.size()) {
        t->overCap = true;
        return 0;  // anything but n fails the transfer
    }
    t->body.append(data, qsizetype(n));
    return n;
}

int checkAbort(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(userData);
    if (*t->abort && (*t->abort)()) {
        t->aborted = true;
        return 1;
    }
    return 0;
}

struct EasyHandle {
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    ~EasyHandle() {
        curl_slist_free_all(headers);
        if (curl) {
            curl_easy_cleanup(curl);
        }
    }
};

QString failureText(CURLcode code) {
    return QString::fromUtf8(curl_easy_strerror(code));
}

// How often a transfer that may be cancelled looks at its abort check while it waits on the
// network. libcurl's progress callback runs about once a second on an idle connection, too
// seldom for a cancel that must end every slot within a second.
constexpr int kAbortPollMs = 100;

// One transfer on a multi handle of its own, waking at least every kAbortPollMs to ask the
// abort check. A failure of the multi interface itself comes back in multiFailure.
CURLcode performCancellable(CURL* c, Transfer& transfer, QString& multiFailure) {
    CURLM* multi = curl_multi_init();
    if (!multi) {
        return CURLE_OUT_OF_MEMORY;
    }
    CURLcode result = CURLE_OK;
    CURLMcode mc = curl_multi_add_handle(multi, c);
    for (bool finished = false; mc == CURLM_OK && !finished;) {
        int running = 0;
        mc = curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
                finished = true;
            }
        }
        if (finished || mc != CURLM_OK) {
            break;
        }
        if ((*transfer.abort)()) {
            transfer.aborted = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        mc = curl_multi_poll(multi, nullptr, 0, kAbortPollMs, nullptr);
    }
    if (mc != CURLM_OK) {
        multiFailure = QString::fromUtf8(curl_multi_strerror(mc));
        result = CURLE_FAILED_INIT;
    }
    curl_multi_remove_handle(multi, c);
    curl_multi_cleanup(multi);
    return result;
}

}  // namespace

// The share handle and a lock per kind of data it shares: libcurl calls these from the threads
// that use it.
struct CurlTransport::Shared {
    CURLSH* share = curl_share_init();
    std::mutex locks[CURL_LOCK_DATA_LAST];

    Shared() {
        if (!share) {
            return;
        }
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lock);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlock);
        curl_share_setopt(share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    }
    ~Shared() {
        if (share) {
            curl_share_cleanup(share);
        }
    }
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<Shared*>(self)->locks[data].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<Shared*>(self)->locks[data].unlock();
    }
};

CurlTransport::CurlTransport(CurlTransportOptions options)
    : options_(std::move(options)), shared_(std::make_unique<Shared>()) {}

CurlTransport::~CurlTransport() = default;

HttpResponse CurlTransport::perform(const HttpRequest& request, const AbortCheck& abort) {
    HttpResponse response;
    EasyHandle h;
    if (!h.curl) {
        response.failure = failureText(CURLE_OUT_OF_MEMORY);
        return response;
    }
    Transfer transfer;
    transfer.maxBodyBytes = options_.maxBodyBytes;
    transfer.abort = &abort;

    CURL* c = h.curl;
    // The URL goes in as the bytes given; libcurl copies option strings.
    const QByteArray url = request.url;
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, options_.maxRedirects);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, options_.lowSpeedTimeS);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, options_.totalTimeoutMs);
    // A proxy from the environment is honoured, but never for the machine itself.
    curl_easy_setopt(c, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    static const QByteArray userAgent = "Kelvara/" + QByteArray::number(KELVARA_VERSION_MAJOR) +
                                        '.' + QByteArray::number(KELVARA_VERSION_MINOR);
    curl_easy_setopt(c, CURLOPT_USERAGENT, userAgent.constData());
    // Verification is libcurl's default; stated here so that no later edit loses it.
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    const QByteArray caFile = options_.caFile.toLocal8Bit();
    if (!caFile.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_CAINFO, caFile.constData());
    }
    if (shared_->share) {
        curl_easy_setopt(c, CURLOPT_SHARE, shared_->share);
    }
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    if (abort) {
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, checkAbort);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    }

    for (const QByteArray& header : request.headers) {
        h.headers = curl_slist_append(h.headers, header.constData());
    }
    if (request.method == HttpRequest::Method::Post) {
        curl_easy_setopt(c, CURLOPT_POST, 1L);
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.constData());
        h.headers = curl_slist_append(h.headers, "Expect:");
    }
    if (h.headers) {
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, h.headers);
    }

    if (abort && abort()) {
        response.aborted = true;
        response.failure = failureText(CURLE_ABORTED_BY_CALLBACK);
        return response;
    }
    QString multiFailure;
    const CURLcode rc =
        abort ? performCancellable(c, transfer, multiFailure) : curl_easy_perform(c);
    if (rc != CURLE_OK) {
        response.aborted = transfer.aborted;
        response.failure = !multiFailure.isEmpty()
                               ? multiFailure
                               : failureText(transfer.overCap ? CURLE_FILESIZE_EXCEEDED : rc);
        return response;
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    response.status = int(status);
    curl_off_t retryAfter = 0;
    if (curl_easy_getinfo(c, CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK && retryAfter > 0) {
        // A day at most: a wild value must not park the run for ever.
        response.retryAfterMs = qint64(std::min<curl_off_t>(retryAfter, 86'400)) * 1000;
    }
    if (response.status == 200) {
        response.body = QString::fromUtf8(transfer.body);
    }
    return response;
}

}  // namespace kelvara
