#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace kelvara {

// One HTTP request as the search worker sends it: a GET of a URL, or (for the REST form of the
// service) a POST of a body with headers of its own.
struct HttpRequest {
    enum class Method { Get, Post };
    Method method = Method::Get;
    QByteArray url;
    QList<QByteArray> headers;  // "Name: value"
    QByteArray body;            // sent with Post only
};

// The outcome of one request. Any failure of the transport (no connection, name resolution, TLS,
// time-out, a body over the cap, an abort) gives status 0; the body is empty unless the final
// status is 200.
struct HttpResponse {
    int status = 0;
    QString body;          // the body's bytes as UTF-8; invalid sequences become U+FFFD
    bool aborted = false;  // ended by the abort check, not by the server or the network
    // The transport's own words for a failure (a fixed library text: never the URL, so never the
    // credentials in its query part); empty when the server answered.
    QString failure;
    // The server's Retry-After (seconds or a date), in milliseconds from now; 0 when none.
    qint64 retryAfterMs = 0;
};

// Asked now and then while a request runs; true ends the request at once.
using AbortCheck = std::function<bool()>;

// The HTTP client under the search worker. Implementations are used from one thread at a time
// per request, but one transport may serve several threads in turn.
class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    virtual HttpResponse perform(const HttpRequest& request, const AbortCheck& abort) = 0;

    // One synchronous GET.
    HttpResponse get(const QByteArray& url, const AbortCheck& abort = {}) {
        HttpRequest request;
        request.url = url;
        return perform(request, abort);
    }
};

// libcurl's one-time set-up. Call it from main() before any thread starts; later calls do nothing.
void httpGlobalInit();

struct CurlTransportOptions {
    // A CA bundle to trust instead of the system's certificate store. Only tests set it (they
    // bring their own throw-away CA); the programs leave it empty.
    QString caFile;
    long connectTimeoutMs = 15'000;
    // A request that receives no byte for this long fails.
    long lowSpeedTimeS = 60;
    // A request that has not ended after this long fails, however slowly bytes still trickle in:
    // a server that sends a byte now and then must not hold the run for ever.
    long totalTimeoutMs = 120'000;
    // A body larger than this fails the request instead of filling the memory.
    qsizetype maxBodyBytes = 16 * 1024 * 1024;
    long maxRedirects = 5;
};

// The real transport: a new libcurl easy handle per request (no connection is kept between
// requests), http and https only (redirects too), peer and host name verified against the
// system's certificate store. The requests of one transport, from any number of threads at once,
// share one TLS session cache and one name cache (a libcurl share handle), so parallel slots
// resume the TLS session instead of a full handshake each.
class CurlTransport final : public HttpTransport {
public:
    explicit CurlTransport(CurlTransportOptions options = {});
    ~CurlTransport() override;
    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;
    HttpResponse perform(const HttpRequest& request, const AbortCheck& abort) override;
    const CurlTransportOptions& options() const { return options_; }

    struct Shared;

private:
    CurlTransportOptions options_;
    std::unique_ptr<Shared> shared_;
};

}  // namespace kelvara
