#include "search/yandex_worker.h"

#include "search/query_encoding.h"
#include "search/yandex_answer.h"

#include <chrono>
#include <thread>

namespace kelvara {

YandexWorker::YandexWorker(QString baseUrl, FetchList& list, SearchContext context,
                           AbortCheck stopRequested)
    : FList(list),
      FUrl(std::move(baseUrl)),
      FTotalQueries(std::int32_t(list.size())),
      context_(std::move(context)),
      codec_(context_.codePage),
      stopRequested_(std::move(stopRequested)),
      abortCheck_([this] { return Terminated(); }) {
    if (!context_.clock) {
        context_.clock = systemClock();
    }
    const QString ansiUrl = codec_.roundTrip(FUrl);
    if (isRestSearchUrl(ansiUrl)) {
        rest_ = restTarget(ansiUrl);
    }
}

bool YandexWorker::Terminated() const {
    return terminated_.load(std::memory_order_relaxed) || (stopRequested_ && stopRequested_());
}

QString YandexWorker::ErrorText() const {
    return FStatus.load(std::memory_order_acquire) == ysError ? FErrorText : QString();
}

HttpRequest YandexWorker::requestFor(const QString& query) const {
    if (rest_) {
        return restRequest(*rest_, query);
    }
    HttpRequest request;
    request.url = codec_.encode(RequestUrl(FUrl, query));
    return request;
}

bool YandexWorker::WaitBeforeRetry(int& retries) {
    if (retries > 2) {
        return false;
    }
    const int ms = retries == 0 ? 200 : 1000;
    if (context_.pause) {
        context_.pause(ms);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    ++retries;
    return true;
}

QString YandexWorker::ErrorQuery() const {
    return FStatus.load(std::memory_order_acquire) == ysError ? errorQuery_ : QString();
}

int YandexWorker::ErrorHttpStatus() const {
    return FStatus.load(std::memory_order_acquire) == ysError ? errorHttpStatus_ : 0;
}

void YandexWorker::finishWithError(TYandexError kind, QString text, QString query, int httpStatus) {
    FErrorCode.store(kind, std::memory_order_relaxed);
    FErrorText = std::move(text);
    errorQuery_ = std::move(query);
    errorHttpStatus_ = httpStatus;
    FStatus.store(ysError, std::memory_order_release);
}

void YandexWorker::Execute() {
    const auto lineCount = qsizetype(FList.size());
    qsizetype i = 0;
    int retries = 0;
    if (context_.progress) {
        context_.progress(0, FTotalQueries);
    }
    while (!Terminated() && i < lineCount) {
        FetchLine& line = FList[size_t(i)];
        const HttpResponse response =
            context_.transport->perform(requestFor(line.text), abortCheck_);
        if (response.aborted) {
            break;  // cut short by the termination request: the line counts as not asked
        }

        // The attempt's failure, if any: its error kind and text.
        std::optional<std::pair<TYandexError, QString>> failure;
        YandexAnswer answer;
        if (response.status != 200) {
            failure.emplace(yrConnect, QString());
        } else {
            if (rest_) {
                const std::optional<QString> xml = restAnswerXml(response.body);
                answer = xml ? ReadYandexAnswer(*xml) : YandexAnswer{};
            } else {
                answer = ReadYandexAnswer(response.body);
            }
            switch (answer.kind) {
                case YandexAnswer::Kind::Urls:
                case YandexAnswer::Kind::NoResults:
                    break;
                case YandexAnswer::Kind::ServiceError:
                    failure.emplace(yrMessage, std::move(answer.errorText));
                    break;
                case YandexAnswer::Kind::NotXml:
                case YandexAnswer::Kind::Incomplete:
                    failure.emplace(yrDomXml, QString());
                    break;
            }
        }
        if (failure) {
            // A termination request that came meanwhile ends the work at once: a pause and a
            // retry would lead nowhere.
            if (Terminated()) {
                break;
            }
            if (WaitBeforeRetry(retries)) {
                continue;
            }
            finishWithError(failure->first, std::move(failure->second), line.text, response.status);
            break;
        }

        // "Nothing found" is an answer too: an entry without URLs, kept like any other so the
        // query stays in the run (in the unsorted bucket) and is not paid for again.
        line.entry = std::make_unique<TSerpEntry>(context_.clock());
        for (QString& url : answer.urls) {
            line.entry->Urls.add(std::move(url));
        }
        const std::int32_t done = FSuccessQueries.load(std::memory_order_relaxed) + 1;
        FSuccessQueries.store(done, std::memory_order_release);
        ++i;
        retries = 0;
        if (context_.progress) {
            context_.progress(done, FTotalQueries);
        }
    }
    if (FSuccessQueries.load(std::memory_order_relaxed) == FTotalQueries) {
        FStatus.store(ysSuccess, std::memory_order_release);
    }
}

}  // namespace kelvara
