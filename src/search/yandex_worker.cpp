#include "search/yandex_worker.h"

#include "search/deferred.h"
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
    deferred_ = context_.deferred && rest_ && context_.operations;
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

using Verdict = AnswerVerdict;

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
    if (deferred_) {
        runDeferred();
        context_.operations->compact(context_.clock());
    } else {
        runSlots([this] { runSlot(); });
    }
    if (!failed_.load() && FSuccessQueries.load(std::memory_order_relaxed) +
                                   FSkippedQueries.load(std::memory_order_relaxed) ==
                               FTotalQueries) {
        FStatus.store(ysSuccess, std::memory_order_release);
    }
}

template <typename F>
void YandexWorker::runSlots(const F& slot) {
    const int slots =
        int(std::min<std::size_t>(std::clamp(context_.threads, kMinThreads, kMaxThreads),
                                  std::max<std::size_t>(FList.size(), 1)));
    std::vector<std::thread> others;
    others.reserve(size_t(slots - 1));
    for (int k = 1; k < slots; ++k) {
        others.emplace_back(slot);
    }
    slot();
    for (std::thread& t : others) {
        t.join();
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

YandexWorker::Judgement YandexWorker::judge(const HttpResponse& response) const {
    Judgement j;
    if (response.status == 429) {
        j.verdict = Verdict::SlowDown;
    } else if (response.status == 400 || response.status == 401 || response.status == 403) {
        // A malformed request, a bad key or a missing role: the same for every query.
        j.verdict = Verdict::EndRun;
        j.kind = yrRefused;
    } else if (response.status != 200) {
        j.verdict = Verdict::Retry;
    } else {
        if (rest_) {
            const std::optional<QString> xml = restAnswerXml(response.body);
            j.answer = xml ? ReadYandexAnswer(*xml) : YandexAnswer{};
        } else {
            j.answer = ReadYandexAnswer(response.body);
        }
        switch (j.answer.kind) {
            case YandexAnswer::Kind::Urls:
            case YandexAnswer::Kind::NoResults:
                break;
            case YandexAnswer::Kind::ServiceError:
                j.verdict = verdictOfCode(j.answer.errorCode);
                j.kind = j.answer.errorCode == 32       ? yrDailyLimit
                         : j.verdict == Verdict::EndRun ? yrRefused
                                                        : yrMessage;
                j.text = j.answer.errorText;
                break;
            case YandexAnswer::Kind::NotXml:
            case YandexAnswer::Kind::Incomplete:
                j.verdict = Verdict::Retry;
                j.kind = yrDomXml;
                break;
        }
    }
    return j;
}

YandexWorker::Step YandexWorker::settle(std::size_t index, Judgement& j, int httpStatus,
                                        Clock::time_point sentAt, int& retries) {
    const QString& text = FList[index].text;
    switch (j.verdict) {
        case Verdict::Answer:
            takeAnswer(index, j.answer);
            return Step::Done;
        case Verdict::SlowDown: {
            if (j.answer.errorCode == 100) {
                const std::lock_guard lock(poolMutex_);
                if (++suspected_ >= kMaxSuspected) {
                    j.kind = yrRefused;
                }
            }
            if (j.kind == yrRefused) {
                finishWithError(yrRefused, j.text, text, httpStatus, 100);
                return Step::Done;
            }
            if (!slowDown(sentAt, 0)) {
                finishWithError(yrThrottled, QString(), text, httpStatus, j.answer.errorCode);
                return Step::Done;
            }
            return Step::Again;  // the same line again, its retries untouched
        }
        case Verdict::Skip:
            noteAnswer();
            {
                const std::lock_guard lock(poolMutex_);
                skipped_.emplace_back(index, SkippedQuery{text, j.answer.errorCode, j.text});
            }
            FSkippedQueries.fetch_add(1, std::memory_order_release);
            // A skip moves the count on too, and the last line to finish may be this one.
            if (context_.progress) {
                const std::lock_guard lock(callbackMutex_);
                context_.progress(FSuccessQueries.load(std::memory_order_relaxed), FTotalQueries);
            }
            return Step::Done;
        case Verdict::EndRun:
            finishWithError(j.kind, std::move(j.text), text, httpStatus, j.answer.errorCode);
            return Step::Done;
        case Verdict::Retry:
            // A termination request that came meanwhile ends the work at once: a pause and a
            // retry would lead nowhere.
            if (stopNow()) {
                return Step::Done;
            }
            if (WaitBeforeRetry(retries)) {
                FRetries.fetch_add(1, std::memory_order_relaxed);
                return Step::Again;
            }
            finishWithError(j.kind, std::move(j.text), text, httpStatus);
            return Step::Done;
    }
    return Step::Done;
}

void YandexWorker::takeAnswer(std::size_t index, YandexAnswer& answer) {
    // "Nothing found" is an answer too: an entry without URLs, kept like any other so the
    // query stays in the run (in the unsorted bucket) and is not paid for again.
    auto entry = std::make_unique<TSerpEntry>(context_.clock());
    for (QString& url : answer.urls) {
        entry->Urls.add(std::move(url));
    }
    noteAnswer();
    const std::lock_guard lock(callbackMutex_);
    FList[index].entry = std::move(entry);
    const std::int32_t done = FSuccessQueries.load(std::memory_order_relaxed) + 1;
    FSuccessQueries.store(done, std::memory_order_release);
    if (context_.answered) {
        context_.answered(index);
    }
    if (context_.progress) {
        context_.progress(done, FTotalQueries);
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
        Judgement j = judge(response);
        if (j.verdict == Verdict::SlowDown && response.status == 429) {
            // Only a 429 carries the pause the service wants.
            if (!slowDown(sentAt, response.retryAfterMs)) {
                finishWithError(yrThrottled, QString(), line.text, response.status);
                return;
            }
            continue;
        }
        if (settle(index, j, response.status, sentAt, retries) == Step::Done) {
            return;
        }
    }
}

// ---- The deferred mode ----------------------------------------------------------------------

bool YandexWorker::createOperation(std::size_t index, int& retries) {
    const FetchLine& line = FList[index];
    while (true) {
        Clock::time_point sentAt;
        if (!waitForTurn(&sentAt)) {
            return false;
        }
        const HttpResponse response =
            context_.transport->perform(deferredRequest(*rest_, line.text), abortCheck_);
        if (response.aborted) {
            return false;
        }
        Judgement j;
        OperationAnswer op;
        if (response.status == 200) {
            op = readOperationAnswer(response.body);
            if (op.kind == OperationAnswer::Kind::Malformed) {
                j.verdict = Verdict::Retry;
                j.kind = yrDomXml;
            }
        } else {
            j = judge(response);  // the status alone decides
        }
        if (j.verdict == Verdict::Answer) {
            const StoredOperation stored{context_.clock(), rest_->region, op.id, line.text};
            context_.operations->add(stored);
            {
                const std::lock_guard lock(poolMutex_);
                operationOf_[index] = {op.id, Clock::now()};
            }
            FSent.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
        if (j.verdict == Verdict::SlowDown) {
            if (!slowDown(sentAt, response.retryAfterMs)) {
                finishWithError(yrThrottled, QString(), line.text, response.status);
                return false;
            }
            continue;
        }
        if (settle(index, j, response.status, sentAt, retries) == Step::Done) {
            return false;
        }
    }
}

void YandexWorker::runDeferred() {
    // First every line gets its operation: one kept from an earlier run, or a new one.
    const Stamp now = context_.clock();
    std::vector<int> retries(FList.size(), 0);
    std::vector<std::size_t> toCreate;
    for (std::size_t i = 0; i < FList.size(); ++i) {
        if (const std::optional<QString> id =
                context_.operations->find(rest_->region, FList[i].text, now)) {
            const std::lock_guard lock(poolMutex_);
            operationOf_[i] = {*id, Clock::now()};
            FSent.fetch_add(1, std::memory_order_relaxed);
        } else {
            toCreate.push_back(i);
        }
    }
    std::atomic<std::size_t> next{0};
    runSlots([&] {
        while (!stopNow()) {
            const std::size_t k = next.fetch_add(1, std::memory_order_relaxed);
            if (k >= toCreate.size()) {
                return;
            }
            createOperation(toCreate[k], retries[toCreate[k]]);
        }
    });

    // Then the operations are asked for in turn until each is done and read.
    {
        const std::lock_guard lock(poolMutex_);
        for (const auto& [index, op] : operationOf_) {
            if (!FList[index].entry) {
                pending_.push_back({Clock::now(), index});
            }
        }
    }
    runSlots([&] {
        while (!stopNow()) {
            Pending item;
            {
                const std::lock_guard lock(poolMutex_);
                if (pending_.empty()) {
                    return;
                }
                item = pending_.front();
                pending_.pop_front();
            }
            if (item.due > Clock::now() && !sleepUntil(item.due, [this] { return stopNow(); })) {
                return;
            }
            if (pollOperation(item.index, retries[item.index])) {
                const std::lock_guard lock(poolMutex_);
                pending_.push_back(
                    {Clock::now() + std::chrono::milliseconds(context_.operationPollMs),
                     item.index});
            }
        }
    });
}

bool YandexWorker::pollOperation(std::size_t index, int& retries) {
    const FetchLine& line = FList[index];
    Operation op;
    {
        const std::lock_guard lock(poolMutex_);
        op = operationOf_[index];
    }
    Clock::time_point sentAt;
    if (!waitForTurn(&sentAt)) {
        return false;
    }
    const HttpResponse response = context_.transport->perform(
        operationRequest(context_.operationsUrl, op.id, *rest_), abortCheck_);
    if (response.aborted) {
        return false;
    }
    // Created again: the operation failed, was forgotten or never ends.
    auto again = [&]() {
        context_.operations->forget(op.id);
        if (!WaitBeforeRetry(retries)) {
            return false;
        }
        FRetries.fetch_add(1, std::memory_order_relaxed);
        return createOperation(index, retries);
    };
    if (response.status == 429) {
        if (!slowDown(sentAt, response.retryAfterMs)) {
            finishWithError(yrThrottled, QString(), line.text, response.status);
            return false;
        }
        return true;
    }
    if (response.status == 404) {
        if (again()) {
            return true;
        }
        if (!stopNow()) {
            finishWithError(yrConnect, QString(), line.text, response.status);
        }
        return false;
    }
    if (response.status != 200) {
        Judgement j = judge(response);
        const Step step = settle(index, j, response.status, sentAt, retries);
        return step == Step::Again;
    }
    const OperationAnswer answer = readOperationAnswer(response.body);
    switch (answer.kind) {
        case OperationAnswer::Kind::Pending:
            if (Clock::now() - op.since >= std::chrono::milliseconds(context_.operationGiveUpMs)) {
                if (again()) {
                    return true;
                }
                if (!stopNow()) {
                    finishWithError(yrConnect, QString(), line.text, 0);
                }
                return false;
            }
            return true;
        case OperationAnswer::Kind::Failed:
        case OperationAnswer::Kind::Malformed:
            if (again()) {
                return true;
            }
            if (!stopNow()) {
                finishWithError(answer.kind == OperationAnswer::Kind::Failed ? yrMessage : yrDomXml,
                                answer.errorText, line.text, response.status);
            }
            return false;
        case OperationAnswer::Kind::Done:
            break;
    }
    FReady.fetch_add(1, std::memory_order_relaxed);
    HttpResponse inner;
    inner.status = 200;
    inner.body = answer.body;
    Judgement j = judge(inner);
    if (j.verdict == Verdict::Retry) {
        // The operation's answer is unusable: asked again as a new operation.
        if (again()) {
            return true;
        }
        if (!stopNow()) {
            finishWithError(j.kind, j.text, line.text, 200);
        }
        return false;
    }
    if (j.verdict == Verdict::SlowDown) {
        j.verdict = Verdict::Retry;  // read: its query is asked again
    }
    const Step step = settle(index, j, 200, sentAt, retries);
    if (j.verdict == Verdict::Answer || j.verdict == Verdict::Skip) {
        context_.operations->forget(op.id);
        FRead.fetch_add(1, std::memory_order_relaxed);
    }
    if (step == Step::Again) {
        context_.operations->forget(op.id);
        return createOperation(index, retries);
    }
    return false;
}

}  // namespace kelvara
