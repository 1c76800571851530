#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace kelvara::test {

// An XML answer of the search service with one group per URL (the first document of each).
QByteArray xmlWithUrls(const QStringList& urls);
// An answer that holds an error element.
QByteArray xmlWithError(int code, const QString& text);
// What a captcha page or a proxy's notice looks like: HTML, not XML.
QByteArray htmlPage();

// One scripted answer of the double.
struct ServiceAnswer {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "text/xml; charset=utf-8";
    int delayMs = 0;           // before the answer starts
    bool neverFinish = false;  // sends the head and part of the body, then nothing more
    // For a REST request an answer of status 200 is sent as {"rawData": Base64 of body}; raw
    // sends the body as it is instead.
    bool raw = false;
    QByteArray location;         // with a 3xx status: where it redirects
    QByteArray contentEncoding;  // sent as Content-Encoding when set ("deflate", "gzip")
    // A streamed body: `body`, then `streamChunk` again and again, streamBytes in all (-1: without
    // end), with a pause between chunks (a trickle). Off while streamBytes is 0.
    qint64 streamBytes = 0;
    QByteArray streamChunk = QByteArray(64 * 1024, 'x');
    int streamPauseMs = 0;

    static ServiceAnswer redirect(const QByteArray& location, int code = 302);
    static ServiceAnswer urls(const QStringList& urls);
    static ServiceAnswer error(int code, const QString& text);
    static ServiceAnswer withStatus(int code);
    static ServiceAnswer html();
    // `prefix` followed by chunks, `bytes` in all (-1: a body without end).
    static ServiceAnswer stream(qint64 bytes, QByteArray prefix = {}, int pauseMs = 0);
};

// A request as the double received it.
struct RecordedRequest {
    QString method;
    QString path;
    QByteArray target;                      // path and query part, as sent
    QList<QPair<QString, QString>> params;  // query parameters, decoded, in order
    std::multimap<std::string, std::string> headers;
    QByteArray body;
    QString query;  // the query text: parameter "query", or the REST body's query.queryText
    std::chrono::steady_clock::time_point at;

    QString param(const QString& name) const;
    QByteArray header(const std::string& name) const;  // name in any letter case
};

// A loopback stand-in for the search service (HTTP, or HTTPS with the test certificates): it
// answers each query text with its script, records every request, and understands both forms of
// the service: GET with a "query" parameter, and POST of a JSON body to /v2/web/search.
class ServiceDouble {
public:
    enum class Tls { None, Trusted, Untrusted };
    explicit ServiceDouble(Tls tls = Tls::None);
    ~ServiceDouble();
    ServiceDouble(const ServiceDouble&) = delete;
    ServiceDouble& operator=(const ServiceDouble&) = delete;

    int port() const { return port_; }
    QString origin() const;  // "http://127.0.0.1:PORT" (https with TLS)
    // A GET-form URL with credentials in its query part, as users configure it.
    QString searchUrl() const;
    // A REST-form URL: folder id and key as query parameters.
    QString restUrl() const;

    // The answers for one query text, in turn; the last one repeats.
    void script(const QString& query, std::vector<ServiceAnswer> answers);
    // The answer for queries without a script; without it they get status 500.
    void setResponder(std::function<ServiceAnswer(const QString& query)> responder);

    // A latency added to every answer, as a distant service has.
    void setLatency(int ms) { latencyMs_.store(ms); }
    // A quota of requests per second (a bucket of `perSecond` that refills continuously): a
    // request over it is refused with status 429 (and Retry-After when retryAfterS > 0), or with
    // an answer of code 55. 0 turns it off.
    enum class Refusal { Http429, Code55 };
    void setQuota(double perSecond, Refusal refusal = Refusal::Http429, int retryAfterS = 0);
    int refusedCount() const { return refused_.load(); }

    // Deferred requests (POST /v2/web/searchAsync) create operations, served at
    // origin()/operations/ID: not done until delayMs (as set at the time of asking) after their
    // creation, then done with the query's answer. forgetOperations() drops every operation
    // (asked for again: 404).
    void setOperationDelay(int ms) { operationDelayMs_.store(ms); }
    void forgetOperations();
    int operationsCreated() const { return operationsCreated_.load(); }

    std::vector<RecordedRequest> requests() const;
    int requestCount() const;
    // The requests that were not refused by the quota, per query text.
    std::map<QString, int> servedPerQuery() const;
    // The most bytes of one streamed body that got out before the client hung up.
    qint64 largestStreamSent() const { return largestStreamSent_.load(); }

    // The test CA that signed the trusted certificate.
    static QString caFile();
    static QString certDir();

private:
    ServiceAnswer answerFor(const QString& query);
    void handle(const httplib::Request& request, httplib::Response& response);
    void stream(const ServiceAnswer& a, const QByteArray& prefix, const std::string& contentType,
                httplib::Response& response);

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    bool tls_ = false;
    std::atomic<bool> stopping_{false};
    std::atomic<qint64> largestStreamSent_{0};
    std::atomic<int> latencyMs_{0};
    std::atomic<int> refused_{0};
    bool overQuota();

    // The quota's bucket, under mutex_.
    double quotaPerSecond_ = 0;
    Refusal refusal_ = Refusal::Http429;
    int retryAfterS_ = 0;
    double tokens_ = 0;
    std::chrono::steady_clock::time_point refilled_;
    std::map<QString, int> served_;
    struct Operation {
        QString query;
        std::chrono::steady_clock::time_point created;
    };
    std::map<QString, Operation> operations_;
    std::atomic<int> operationDelayMs_{0};
    std::atomic<int> operationsCreated_{0};
    void serveOperation(const QString& id, httplib::Response& res);

    mutable std::mutex mutex_;
    std::map<QString, std::pair<std::vector<ServiceAnswer>, size_t>> scripts_;
    std::function<ServiceAnswer(const QString&)> responder_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace kelvara::test
