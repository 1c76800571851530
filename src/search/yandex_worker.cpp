#include "search/yandex_worker.h"

#include "search/query_encoding.h"
#include "search/yandex_answer.h"

#include <algorithm>
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
      abortCheck_([this] { return stopNow(); }) {
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

int YandexWorker::ErrorServiceCode() const {
    return FStatus.load(std::memory_order_acquire) == ysError ? errorServiceCode_ : 0;
}

std::vector<SkippedQuery> YandexWorker::Skipped() const {
    std::vector<std::pair<std::size_t, SkippedQuery>> copy;
    {
        const std::lock_guard lock(poolMutex_);
        copy = skipped_;
    }
    std::sort(copy.begin(), copy.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<SkippedQuery> out;
    out.reserve(copy.size());
    for (auto& [index, query] : copy) {
        out.push_back(std::move(query));
    }
    return out;
}

void YandexWorker::finishWithError(TYandexError kind, QString text, QString query, int httpStatus,
                                   int serviceCode) {
    // The first slot's error is the run's; the others only stop.
    if (failed_.exchange(true)) {
        return;
    }
    FErrorCode.store(kind, std::memory_order_relaxed);
    FErrorText = std::move(text);
    errorQuery_ = std::move(query);
    errorHttpStatus_ = httpStatus;
    errorServiceCode_ = serviceCode;
    FStatus.store(ysError, std::memory_order_release);
}

bool YandexWorker::stopNow() const {
    return failed_.load(std::memory_order_relaxed) || Terminated();
}

namespace {

// What one answer means for its line.
enum class Verdict {
    Answer,    // URLs or "nothing found"
    Retry,     // worth another try, within the line's retries
    SlowDown,  // the service is over its rate: pause the pool and ask again
    Skip,      // this query can never be answered: skip it, the run goes on
    EndRun,    // no request of this run can succeed
};

Verdict verdictOfCode(int code) {
    switch (code) {
        case 1:   // a syntax error in the query
        case 2:   // an empty query
        case 18:  // invalid parameters of this request (a page past the end, too long a query)
            return Verdict::Skip;
        case 19:  // incompatible parameters: the request form is wrong
        case 31:  // folder not registered
        case 32:  // daily limit
        case 33:  // address not allowed
        case 37:  // parameter error
        case 42:  // bad key or missing role
        case 44:  // address no longer supported
        case 48:  // search type does not match the folder
            return Verdict::EndRun;
        case 55:   // requests per second exceeded
        case 100:  // suspected automated requests
            return Verdict::SlowDown;
        default:
            return Verdict::Retry;
    }
}

// Sleeps until `until`, in short steps so that a stop is noticed; false when stopped.
template <typename Stop>
bool sleepUntil(std::chrono::steady_clock::time_point until, const Stop& stop) {
    while (true) {
        if (stop()) {
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - now, std::chrono::milliseconds(20)));
    }
}

// Repeated code 100 answers without an answer in between end the run.
constexpr int kMaxSuspected = 5;

}  // namespace

bool YandexWorker::waitForTurn(Clock::time_point* sentAt) {
    Clock::time_point turn;
    {
        const std::lock_guard lock(poolMutex_);
        const Clock::time_point now = Clock::now();
        turn = std::max({now, nextSend_, pausedUntil_});
        if (intervalMs_ > 0) {
            nextSend_ = turn + std::chrono::microseconds(qint64(intervalMs_ * 1000));
        }
    }
    if (turn > Clock::now() && !sleepUntil(turn, [this] { return stopNow(); })) {
        return false;
    }
    *sentAt = Clock::now();
    return !stopNow();
}

bool YandexWorker::slowDown(Clock::time_point sentAt, qint64 retryAfterMs) {
    FSlowDowns.fetch_add(1, std::memory_order_relaxed);
    const std::lock_guard lock(poolMutex_);
    const Clock::time_point now = Clock::now();
    // Requests that left before the current pause began were refused for the same excess: only
    // the first refusal after a pause lengthens the next one and slows the pace.
    const bool fresh = sentAt >= pausedUntil_ || pausedUntil_ <= now;
    qint64 ms = retryAfterMs;
    if (ms <= 0) {
        ms = nextSlowDownMs_;
        if (fresh) {
            nextSlowDownMs_ = std::min(nextSlowDownMs_ * 2, 60'000);
        }
    }
    if (fresh && context_.maxRps > 0) {
        intervalMs_ = std::min(intervalMs_ * 1.25, 60'000.0);
    }
    pausedUntil_ = std::max(pausedUntil_, now + std::chrono::milliseconds(ms));
    return now - lastAnswer_ < std::chrono::milliseconds(context_.throttleGiveUpMs);
}

void YandexWorker::noteAnswer() {
    const std::lock_guard lock(poolMutex_);
    lastAnswer_ = Clock::now();
    nextSlowDownMs_ = std::max(1, context_.slowDownMs);
    suspected_ = 0;
    // The pace recovers slowly towards the one configured.
    if (context_.maxRps > 0) {
        intervalMs_ = std::max(1000.0 / context_.maxRps, intervalMs_ * 0.99);
    }
}

void YandexWorker::Execute() {
    const std::size_t lineCount = FList.size();
    if (context_.progress) {
        context_.progress(0, FTotalQueries);
    }
    {
        const std::lock_guard lock(poolMutex_);
        lastAnswer_ = Clock::now();
        nextSend_ = pausedUntil_ = lastAnswer_;
        nextSlowDownMs_ = std::max(1, context_.slowDownMs);
        intervalMs_ = context_.maxRps > 0 ? 1000.0 / context_.maxRps : 0;
    }
    const int slots =
        int(std::min<std::size_t>(std::clamp(context_.threads, kMinThreads, kMaxThreads),
                                  std::max<std::size_t>(lineCount, 1)));
    std::vector<std::thread> others;
    others.reserve(size_t(slots - 1));
    for (int k = 1; k < slots; ++k) {
        others.emplace_back([this] { runSlot(); });
    }
    runSlot();
    for (std::thread& t : others) {
        t.join();
    }
    if (!failed_.load() && FSuccessQueries.load(std::memory_order_relaxed) +
                                   FSkippedQueries.load(std::memory_order_relaxed) ==
                               FTotalQueries) {
        FStatus.store(ysSuccess, std::memory_order_release);
    }
}

void YandexWorker::runSlot() {
    while (!stopNow()) {
        const std::size_t i = nextLine_.fetch_add(1, std::memory_order_relaxed);
        if (i >= FList.size()) {
            break;
        }
        askLine(i);
    }
}

void YandexWorker::askLine(std::size_t index) {
    FetchLine& line = FList[index];
    int retries = 0;
    while (true) {
        Clock::time_point sentAt;
        if (!waitForTurn(&sentAt)) {
            return;
        }
        const HttpResponse response =
            context_.transport->perform(requestFor(line.text), abortCheck_);
        if (response.aborted) {
            return;  // cut short by the termination request: the line counts as not asked
        }

        Verdict verdict = Verdict::Answer;
        TYandexError kind = yrConnect;
        QString text;
        YandexAnswer answer;
        if (response.status == 429) {
            verdict = Verdict::SlowDown;
        } else if (response.status == 400 || response.status == 401 || response.status == 403) {
            // A malformed request, a bad key or a missing role: the same for every query.
            verdict = Verdict::EndRun;
            kind = yrRefused;
        } else if (response.status != 200) {
            verdict = Verdict::Retry;
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
                    verdict = verdictOfCode(answer.errorCode);
                    kind = answer.errorCode == 32       ? yrDailyLimit
                           : verdict == Verdict::EndRun ? yrRefused
                                                        : yrMessage;
                    text = answer.errorText;
                    break;
                case YandexAnswer::Kind::NotXml:
                case YandexAnswer::Kind::Incomplete:
                    verdict = Verdict::Retry;
                    kind = yrDomXml;
                    break;
            }
        }

        switch (verdict) {
            case Verdict::Answer:
                break;
            case Verdict::SlowDown: {
                if (answer.errorCode == 100) {
                    const std::lock_guard lock(poolMutex_);
                    if (++suspected_ >= kMaxSuspected) {
                        kind = yrRefused;
                    }
                }
                if (kind == yrRefused) {
                    finishWithError(yrRefused, text, line.text, response.status, 100);
                    return;
                }
                if (!slowDown(sentAt, response.retryAfterMs)) {
                    finishWithError(yrThrottled, QString(), line.text, response.status,
                                    answer.errorCode);
                    return;
                }
                continue;  // the same line again, its retries untouched
            }
            case Verdict::Skip: {
                {
                    const std::lock_guard lock(poolMutex_);
                    skipped_.emplace_back(index, SkippedQuery{line.text, answer.errorCode, text});
                }
                FSkippedQueries.fetch_add(1, std::memory_order_release);
                return;
            }
            case Verdict::EndRun:
                finishWithError(kind, std::move(text), line.text, response.status,
                                answer.errorCode);
                return;
            case Verdict::Retry:
                // A termination request that came meanwhile ends the work at once: a pause and a
                // retry would lead nowhere.
                if (stopNow()) {
                    return;
                }
                if (WaitBeforeRetry(retries)) {
                    FRetries.fetch_add(1, std::memory_order_relaxed);
                    continue;
                }
                finishWithError(kind, std::move(text), line.text, response.status);
                return;
        }

        // "Nothing found" is an answer too: an entry without URLs, kept like any other so the
        // query stays in the run (in the unsorted bucket) and is not paid for again.
        auto entry = std::make_unique<TSerpEntry>(context_.clock());
        for (QString& url : answer.urls) {
            entry->Urls.add(std::move(url));
        }
        noteAnswer();
        const std::lock_guard lock(callbackMutex_);
        line.entry = std::move(entry);
        const std::int32_t done = FSuccessQueries.load(std::memory_order_relaxed) + 1;
        FSuccessQueries.store(done, std::memory_order_release);
        if (context_.answered) {
            context_.answered(index);
        }
        if (context_.progress) {
            context_.progress(done, FTotalQueries);
        }
        return;
    }
}

}  // namespace kelvara
