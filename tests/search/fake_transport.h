#pragma once

#include "search/http_transport.h"

#include <QUrlQuery>

#include <deque>
#include <mutex>
#include <vector>

namespace kelvara::test {

// An in-memory transport: answers the requests with a queue of responses, in turn (the last
// one repeats), and keeps every request it was given.
class QueueTransport final : public HttpTransport {
public:
    explicit QueueTransport(std::vector<HttpResponse> responses = {})
        : responses_(responses.begin(), responses.end()) {}

    HttpResponse perform(const HttpRequest& request, const AbortCheck&) override {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        if (responses_.empty()) {
            return {};
        }
        HttpResponse r = responses_.front();
        if (responses_.size() > 1) {
            responses_.pop_front();
        }
        return r;
    }

    std::vector<HttpRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<HttpResponse> responses_;
    std::vector<HttpRequest> requests_;
};

inline HttpResponse answered(const QByteArray& body) {
    HttpResponse r;
    r.status = 200;
    r.body = QString::fromUtf8(body);
    return r;
}

inline HttpResponse failedWith(int status) {
    HttpResponse r;
    r.status = status;
    return r;
}

// The decoded "query" parameter of a GET request's URL.
inline QString queryParam(const HttpRequest& request) {
    const QByteArray url = request.url;
    const qsizetype q = url.indexOf('?');
    return QUrlQuery(QString::fromLatin1(url.mid(q + 1)))
        .queryItemValue(u"query"_qs, QUrl::FullyDecoded);
}

}  // namespace kelvara::test
