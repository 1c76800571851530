#include "support/service_double.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace kelvara::test {

namespace {

QByteArray escaped(const QString& text) {
    return text.toHtmlEscaped().toUtf8();
}

QByteArray hostOf(const QString& url) {
    const qsizetype start = url.indexOf(u"://");
    qsizetype from = start < 0 ? 0 : start + 3;
    qsizetype end = url.indexOf(u'/', from);
    return url.mid(from, end < 0 ? -1 : end - from).toUtf8();
}

}  // namespace

QByteArray xmlWithUrls(const QStringList& urls) {
    QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<yandexsearch version=\"1.0\">\n"
        "<request><query>q</query><page>0</page><sortby order=\"descending\" "
        "priority=\"no\">rlv</sortby><maxpassages/><groupings><groupby attr=\"d\" mode=\"deep\" "
        "groups-on-page=\"10\" docs-in-group=\"1\" curcateg=\"-1\"/></groupings></request>\n"
        "<response date=\"20240301T120000\">\n"
        "<reqid>1709294400000000-1234567890-test</reqid>\n"
        "<found priority=\"all\">" +
        QByteArray::number(urls.size()) +
        "</found>\n"
        "<results>\n"
        "<grouping attr=\"d\" mode=\"deep\" groups-on-page=\"10\" docs-in-group=\"1\" "
        "curcateg=\"-1\">\n"
        "<found priority=\"all\">" +
        QByteArray::number(urls.size()) + "</found>\n<page first=\"1\" last=\"" +
        QByteArray::number(urls.size()) + "\">0</page>\n";
    int n = 0;
    for (const QString& url : urls) {
        ++n;
        const QByteArray host = escaped(QString::fromUtf8(hostOf(url)));
        xml += "<group>\n<categ attr=\"d\" name=\"" + host +
               "\"/>\n<doccount>1</doccount>\n<relevance/>\n<doc id=\"Z" + QByteArray::number(n) +
               "\">\n<relevance/>\n<url>" + escaped(url) + "</url>\n<domain>" + host +
               "</domain>\n<title>Page <hlword>" + QByteArray::number(n) +
               "</hlword></title>\n<modtime>20240101T000000</modtime>\n<size>12345</size>\n"
               "<charset>utf-8</charset>\n<passages><passage>Some text of the page that "
               "matches the query.</passage></passages>\n<properties><_PassagesType>0"
               "</_PassagesType></properties>\n<mime-type>text/html</mime-type>\n</doc>\n"
               "</group>\n";
    }
    xml += "</grouping>\n</results>\n</response>\n</yandexsearch>\n";
    return xml;
}

QByteArray xmlWithError(int code, const QString& text) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<yandexsearch version=\"1.0\">"
           "<request><query>q</query></request><response date=\"20240301T120000\">"
           "<error code=\"" +
           QByteArray::number(code) + "\">" + escaped(text) +
           "</error><reqid>1</reqid></response></yandexsearch>\n";
}

QByteArray htmlPage() {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Checking</title>"
           "</head><body><p>Please confirm that you are not a robot.<br><img src=x></p>"
           "</body></html>\n";
}

ServiceAnswer ServiceAnswer::urls(const QStringList& urls) {
    ServiceAnswer a;
    a.body = xmlWithUrls(urls);
    return a;
}

ServiceAnswer ServiceAnswer::error(int code, const QString& text) {
    ServiceAnswer a;
    a.body = xmlWithError(code, text);
    return a;
}

ServiceAnswer ServiceAnswer::withStatus(int code) {
    ServiceAnswer a;
    a.status = code;
    a.body = "<html><body>Service unavailable</body></html>";
    a.contentType = "text/html";
    return a;
}

ServiceAnswer ServiceAnswer::redirect(const QByteArray& location, int code) {
    ServiceAnswer a;
    a.status = code;
    a.location = location;
    a.contentType = "text/plain";
    return a;
}

ServiceAnswer ServiceAnswer::html() {
    ServiceAnswer a;
    a.body = htmlPage();
    a.contentType = "text/html; charset=utf-8";
    a.raw = true;
    return a;
}

ServiceAnswer ServiceAnswer::stream(qint64 bytes, QByteArray prefix, int pauseMs) {
    ServiceAnswer a;
    a.body = std::move(prefix);
    a.streamBytes = bytes;
    a.streamPauseMs = pauseMs;
    return a;
}

QString RecordedRequest::param(const QString& name) const {
    for (const auto& [key, value] : params) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

QByteArray RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (QByteArray::fromStdString(key).compare(QByteArray::fromStdString(name),
                                                   Qt::CaseInsensitive) == 0) {
            return QByteArray::fromStdString(value);
        }
    }
    return {};
}

QString ServiceDouble::certDir() {
    return QStringLiteral(KELVARA_TEST_CERTS);
}
QString ServiceDouble::caFile() {
    return certDir() + u"/ca.pem"_qs;
}

ServiceDouble::ServiceDouble(Tls tls) : tls_(tls != Tls::None) {
    if (tls == Tls::None) {
        server_ = std::make_unique<httplib::Server>();
    } else {
        const QString base = certDir() + (tls == Tls::Trusted ? u"/server"_qs : u"/untrusted"_qs);
        const QByteArray cert = (base + u".pem"_qs).toLocal8Bit();
        const QByteArray key = (base + u".key"_qs).toLocal8Bit();
        auto server = std::make_unique<httplib::SSLServer>(cert.constData(), key.constData());
        if (!server->is_valid()) {
            throw std::runtime_error("the test certificate cannot be loaded");
        }
        server_ = std::move(server);
    }
    // Enough workers for a client of 50 parallel slots.
    server_->new_task_queue = [] { return new httplib::ThreadPool(64); };
    // Short keep-alive: each request of the transport comes on a connection of its own.
    server_->set_keep_alive_timeout(1);
    const auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        handle(req, res);
    };
    server_->Get(".*", handler);
    server_->Post(".*", handler);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("the double cannot bind a loopback port");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() does nothing to a loop that has not started yet: wait for it.
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

ServiceDouble::~ServiceDouble() {
    stopping_ = true;
    server_->stop();
    thread_.join();
}

QString ServiceDouble::origin() const {
    return (tls_ ? u"https://127.0.0.1:"_qs : u"http://127.0.0.1:"_qs) + QString::number(port_);
}

QString ServiceDouble::searchUrl() const {
    return origin() + u"/search/xml?user=tester&key=SECRET-KEY-123"_qs;
}

QString ServiceDouble::restUrl() const {
    return origin() + u"/v2/web/search?folderid=folder-7&apikey=SECRET-KEY-123"_qs;
}

void ServiceDouble::script(const QString& query, std::vector<ServiceAnswer> answers) {
    std::lock_guard lock(mutex_);
    scripts_[query] = {std::move(answers), 0};
}

void ServiceDouble::setResponder(std::function<ServiceAnswer(const QString&)> responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

std::vector<RecordedRequest> ServiceDouble::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int ServiceDouble::requestCount() const {
    std::lock_guard lock(mutex_);
    return int(requests_.size());
}

void ServiceDouble::setQuota(double perSecond, Refusal refusal, int retryAfterS) {
    std::lock_guard lock(mutex_);
    quotaPerSecond_ = perSecond;
    refusal_ = refusal;
    retryAfterS_ = retryAfterS;
    tokens_ = perSecond;
    refilled_ = std::chrono::steady_clock::now();
}

bool ServiceDouble::overQuota() {
    std::lock_guard lock(mutex_);
    if (quotaPerSecond_ <= 0) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - refilled_).count();
    refilled_ = now;
    tokens_ = std::min(quotaPerSecond_, tokens_ + seconds * quotaPerSecond_);
    if (tokens_ < 1) {
        return true;
    }
    tokens_ -= 1;
    return false;
}

void ServiceDouble::forgetOperations() {
    std::lock_guard lock(mutex_);
    operations_.clear();
}

void ServiceDouble::serveOperation(const QString& id, httplib::Response& res) {
    Operation op;
    {
        std::lock_guard lock(mutex_);
        const auto it = operations_.find(id);
        if (it == operations_.end()) {
            res.status = 404;
            res.set_content("{\"code\": 5, \"message\": \"Operation not found\"}",
                            "application/json");
            return;
        }
        op = it->second;
    }
    QJsonObject answer{{u"id"_qs, id}, {u"description"_qs, u"WEB search async"_qs}};
    // Done once the delay set now has passed since its creation.
    if (std::chrono::steady_clock::now() <
        op.created + std::chrono::milliseconds(operationDelayMs_.load())) {
        answer.insert(u"done"_qs, false);
    } else {
        const ServiceAnswer a = answerFor(op.query);
        answer.insert(u"done"_qs, true);
        answer.insert(u"response"_qs,
                      QJsonObject{{u"@type"_qs, u"type.googleapis.com/WebSearchResponse"_qs},
                                  {u"rawData"_qs, QString::fromLatin1(a.body.toBase64())}});
    }
    res.set_content(QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString(),
                    "application/json");
}

std::map<QString, int> ServiceDouble::servedPerQuery() const {
    std::lock_guard lock(mutex_);
    return served_;
}

ServiceAnswer ServiceDouble::answerFor(const QString& query) {
    std::lock_guard lock(mutex_);
    const auto it = scripts_.find(query);
    if (it != scripts_.end() && !it->second.first.empty()) {
        auto& [answers, next] = it->second;
        const ServiceAnswer a = answers[std::min(next, answers.size() - 1)];
        ++next;
        return a;
    }
    if (responder_) {
        return responder_(query);
    }
    ServiceAnswer a = ServiceAnswer::withStatus(500);
    a.body = "no script for this query";
    return a;
}

void ServiceDouble::handle(const httplib::Request& req, httplib::Response& res) {
    RecordedRequest r;
    r.at = std::chrono::steady_clock::now();
    r.method = QString::fromStdString(req.method);
    r.path = QString::fromStdString(req.path);
    r.target = QByteArray::fromStdString(req.target);
    const qsizetype q = r.target.indexOf('?');
    if (q >= 0) {
        const QUrlQuery query(QString::fromLatin1(r.target.mid(q + 1)));
        r.params = query.queryItems(QUrl::FullyDecoded);
    }
    for (const auto& [key, value] : req.headers) {
        r.headers.emplace(key, value);
    }
    r.body = QByteArray::fromStdString(req.body);
    const bool deferred = req.method == "POST" && req.path == "/v2/web/searchAsync";
    const bool rest = (req.method == "POST" && req.path == "/v2/web/search") || deferred;
    if (rest) {
        r.query = QJsonDocument::fromJson(r.body)
                      .object()
                      .value(u"query")
                      .toObject()
                      .value(u"queryText")
                      .toString();
    } else {
        r.query = r.param(u"query"_qs);
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(r);
    }
    const bool operation = req.method == "GET" && req.path.rfind("/operations/", 0) == 0;

    // The quota counts requests as they arrive; every answer, a refusal too, takes the latency.
    const bool over = overQuota();
    const int latency = latencyMs_.load();
    for (int waited = 0; waited < latency && !stopping_; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, latency - waited)));
    }
    if (over) {
        ++refused_;
        Refusal refusal;
        int retryAfter;
        {
            std::lock_guard lock(mutex_);
            refusal = refusal_;
            retryAfter = retryAfterS_;
        }
        if (refusal == Refusal::Http429) {
            res.status = 429;
            if (retryAfter > 0) {
                res.set_header("Retry-After", std::to_string(retryAfter));
            }
            res.set_content("Too Many Requests", "text/plain");
            return;
        }
        QByteArray body = xmlWithError(55, u"Requests per second exceeded"_qs);
        if (rest) {
            body = QJsonDocument(QJsonObject{{u"rawData"_qs, QString::fromLatin1(body.toBase64())}})
                       .toJson(QJsonDocument::Compact);
        }
        res.set_content(body.toStdString(), rest ? "application/json" : "text/xml");
        return;
    }
    if (operation) {
        serveOperation(r.path.mid(int(std::strlen("/operations/"))), res);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        ++served_[r.query];
    }
    if (deferred) {
        const QString id = u"op-"_qs + QString::number(++operationsCreated_);
        {
            std::lock_guard lock(mutex_);
            operations_[id] = {r.query, std::chrono::steady_clock::now()};
        }
        res.set_content(QJsonDocument(QJsonObject{{u"id"_qs, id}, {u"done"_qs, false}})
                            .toJson(QJsonDocument::Compact)
                            .toStdString(),
                        "application/json");
        return;
    }
    const ServiceAnswer a = answerFor(r.query);
    for (int waited = 0; waited < a.delayMs && !stopping_; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    res.status = a.status;
    if (!a.location.isEmpty()) {
        res.set_header("Location", a.location.toStdString());
    }
    if (!a.contentEncoding.isEmpty()) {
        res.set_header("Content-Encoding", a.contentEncoding.toStdString());
    }
    QByteArray body = a.body;
    std::string contentType = a.contentType.toStdString();
    if (rest && a.status == 200 && !a.raw) {
        body = QJsonDocument(QJsonObject{{u"rawData"_qs, QString::fromLatin1(body.toBase64())}})
                   .toJson(QJsonDocument::Compact);
        contentType = "application/json";
    }
    if (a.neverFinish) {
        const std::string part = body.left(body.size() / 2).toStdString();
        res.set_chunked_content_provider(
            contentType, [this, part](size_t, httplib::DataSink& sink) {
                sink.write(part.data(), part.size());
                while (!stopping_) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                return false;  // drops the connection without ending the body
            });
        return;
    }
    if (a.streamBytes != 0) {
        stream(a, body, contentType, res);
        return;
    }
    res.set_content(body.toStdString(), contentType);
}

void ServiceDouble::stream(const ServiceAnswer& a, const QByteArray& prefix,
                           const std::string& contentType, httplib::Response& res) {
    // The provider may run after this call has returned: it keeps copies of what it sends.
    auto sent = std::make_shared<qint64>(0);
    const auto head = std::make_shared<std::string>(prefix.toStdString());
    const auto chunk = std::make_shared<std::string>(a.streamChunk.toStdString());
    const qint64 total = a.streamBytes;
    const int pauseMs = a.streamPauseMs;
    auto provide = [this, sent, head, chunk, total, pauseMs](size_t, httplib::DataSink& sink) {
        while (!stopping_ && (total < 0 || *sent < total)) {
            const std::string& piece = *sent < qint64(head->size()) ? *head : *chunk;
            const qint64 from = *sent < qint64(head->size()) ? *sent : 0;
            qint64 n = qint64(piece.size()) - from;
            if (total >= 0) {
                n = std::min(n, total - *sent);
            }
            if (!sink.write(piece.data() + from, size_t(n))) {
                break;  // the client hung up
            }
            *sent += n;
            qint64 largest = largestStreamSent_.load();
            while (*sent > largest && !largestStreamSent_.compare_exchange_weak(largest, *sent)) {
            }
            if (pauseMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
        }
        // A sized body is complete at its length; an endless one never is.
        return total >= 0 && *sent == total;
    };
    if (total < 0) {
        res.set_chunked_content_provider(contentType, provide);
    } else {
        res.set_content_provider(size_t(total), contentType,
                                 [provide](size_t offset, size_t, httplib::DataSink& sink) mutable {
                                     return provide(offset, sink);
                                 });
    }
}

}  // namespace kelvara::test
