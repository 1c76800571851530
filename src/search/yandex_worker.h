#pragma once

#include "core/platform.h"
#include "core/serp_entry.h"
#include "core/textfile.h"
#include "search/deferred.h"
#include "search/http_transport.h"
#include "search/rest_form.h"
#include "search/yandex_answer.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace kelvara {

enum TYandexStatus : int { ysProcess, ysError, ysSuccess };
// yrConnect, yrDomXml and yrMessage end a line after its retries; the others end the run at once:
// yrDailyLimit (code 32), yrRefused (a request that can never succeed: a bad key, an unregistered
// folder or address, a malformed request; ErrorServiceCode() names the code) and yrThrottled (the
// service refused every request for too long for being over its rate).
enum TYandexError : int { yrConnect, yrDomXml, yrMessage, yrDailyLimit, yrRefused, yrThrottled };

// A query the service refused for itself (a syntax error, an empty or too long query): skipped,
// the run goes on.
struct SkippedQuery {
    QString query;
    int code = 0;
    QString text;  // the service's own words
};

// One query of the worker's list; the worker attaches the entry when the query is answered, with
// or without URLs.
struct FetchLine {
    QString text;
    std::unique_ptr<TSerpEntry> entry;
};
using FetchList = std::vector<FetchLine>;

using PauseFunction = std::function<void(int ms)>;
using ProgressFunction = std::function<void(int done, int total)>;
using AnsweredFunction = std::function<void(std::size_t index)>;

inline constexpr int kMinThreads = 1;
inline constexpr int kMaxThreads = 50;

// What the worker takes from its surroundings, so that tests can set each of them.
struct SearchContext {
    std::shared_ptr<HttpTransport> transport;
    StampClock clock = systemClock();
    QByteArray codePage = systemAnsiCodePage();  // the URL passes through it before the request
    PauseFunction pause;  // the pause before a retry; empty: the thread sleeps
    // After each answered or skipped query, on the slot's thread; optional. With several slots the
    // calls never overlap, and `answered` (the line's index in the list) comes right before
    // `progress` of an answered one.
    ProgressFunction progress;
    AnsweredFunction answered;
    int threads = 1;    // slots asking at once, kMinThreads to kMaxThreads
    double maxRps = 0;  // requests per second for all slots together; 0: no limit
    // The first slow-down when the service says "too many" without a Retry-After; it doubles with
    // each further refusal and starts again after an answer.
    int slowDownMs = 1000;
    // Refused for being over the rate, without a single answer, for this long: the run ends.
    qint64 throttleGiveUpMs = 10 * 60 * 1000;
    // The deferred mode (a REST URL only): every query becomes an operation, kept in
    // `operations` as it is created, and asked for at operationsUrl every operationPollMs until
    // it is done; one that is not done after operationGiveUpMs is created again, then reported.
    bool deferred = false;
    std::shared_ptr<OperationStore> operations;
    QString operationsUrl;
    int operationPollMs = 10'000;
    qint64 operationGiveUpMs = kOperationLifeMs;
};

// What one answer means for its line.
enum class AnswerVerdict {
    Answer,    // URLs or "nothing found"
    Retry,     // worth another try, within the line's retries
    SlowDown,  // the service is over its rate: pause the pool and ask again
    Skip,      // this query can never be answered: skip it, the run goes on
    EndRun,    // no request of this run can succeed
};

// The search worker's work, synchronous: asks the service for each line of the list, with up to
// three retries per line, and stops at the first line that still fails. With several slots
// (context.threads) that many requests are in flight at once, each slot taking the next line of
// the list; every answer goes to its own line, so the list reads the same for any number of
// slots. All slots keep one pace (context.maxRps), and a "too many" answer of the service (HTTP
// 429, codes 55 and 100) pauses all of them and asks the line again without using its retries.
// TYandexThread runs it on a thread of its own; tests and the batch tool call Execute() directly.
//
// Cross-thread reading: FSuccessQueries, FStatus and FErrorCode are atomic; the error kind and
// text are written before FStatus becomes ysError (release), so a reader that sees ysError
// (acquire) also sees them.
class YandexWorker {
public:
    // The list is not owned and must outlive the work; nothing else may touch it meanwhile.
    // stopRequested, when given, is asked as well as Terminate()'s own flag.
    YandexWorker(QString baseUrl, FetchList& list, SearchContext context,
                 AbortCheck stopRequested = {});
    YandexWorker(const YandexWorker&) = delete;
    YandexWorker& operator=(const YandexWorker&) = delete;

    void Execute();

    // The termination request: noticed before each request, and it aborts a request in flight
    // (that line then counts as not asked). Any thread may call it.
    void Terminate() { terminated_.store(true, std::memory_order_relaxed); }
    bool Terminated() const;

    // The service's error text when FStatus is ysError with yrMessage; empty otherwise.
    QString ErrorText() const;
    // With ysError: the query that failed, and the HTTP status of its last answer (0 when none
    // came: no connection).
    QString ErrorQuery() const;
    int ErrorHttpStatus() const;
    // With ysError: the code of the service's error element, 0 when there was none.
    int ErrorServiceCode() const;
    // The queries skipped so far, in list order.
    std::vector<SkippedQuery> Skipped() const;

    FetchList& FList;
    const QString FUrl;
    const std::int32_t FTotalQueries;
    std::atomic<std::int32_t> FSuccessQueries{0};
    std::atomic<TYandexStatus> FStatus{ysProcess};
    std::atomic<TYandexError> FErrorCode{yrConnect};
    std::atomic<std::int32_t> FSkippedQueries{0};
    std::atomic<std::int32_t> FRetries{0};    // requests asked again after a failure
    std::atomic<std::int32_t> FSlowDowns{0};  // "too many" answers of the service
    // The deferred mode: operations created (or found from an earlier run), done, and read.
    std::atomic<std::int32_t> FSent{0};
    std::atomic<std::int32_t> FReady{0};
    std::atomic<std::int32_t> FRead{0};
    bool Deferred() const { return deferred_; }

private:
    using Clock = std::chrono::steady_clock;
    HttpRequest requestFor(const QString& query) const;
    bool WaitBeforeRetry(int& retries);
    void finishWithError(TYandexError kind, QString text, QString query, int httpStatus,
                         int serviceCode = 0);
    void runSlot();
    void askLine(std::size_t index);
    bool stopNow() const;
    // Waits for the slot's turn under the pool's pace; false when the work ends meanwhile.
    bool waitForTurn(Clock::time_point* sentAt);
    // A "too many" answer to a request sent at sentAt: false when the pool gives up.
    bool slowDown(Clock::time_point sentAt, qint64 retryAfterMs);
    void noteAnswer();

    enum class Step { Done, Again };
    struct Judgement {
        AnswerVerdict verdict = AnswerVerdict::Answer;
        TYandexError kind = yrConnect;
        QString text;
        YandexAnswer answer;
    };
    Judgement judge(const HttpResponse& response) const;
    // Acts on a judgement of line `index`: Again when the line is to be asked again.
    Step settle(std::size_t index, Judgement& j, int httpStatus, Clock::time_point sentAt,
                int& retries);
    void takeAnswer(std::size_t index, YandexAnswer& answer);
    template <typename F>
    void runSlots(const F& slot);
    void runDeferred();
    bool createOperation(std::size_t index, int& retries);
    // Asks for the line's operation once: true when it is to be asked for again later.
    bool pollOperation(std::size_t index, int& retries);

    SearchContext context_;
    AnsiCodec codec_;
    std::optional<RestTarget> rest_;  // set when the URL asks for the REST form
    AbortCheck stopRequested_;
    AbortCheck abortCheck_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> failed_{false};       // a slot has ended the run with an error
    std::atomic<std::size_t> nextLine_{0};  // the next line a slot takes
    // Written once, before FStatus := ysError.
    QString FErrorText;
    QString errorQuery_;
    int errorHttpStatus_ = 0;
    int errorServiceCode_ = 0;

    // The pool's pace, its slow-downs, the serialized callbacks and the skipped list.
    mutable std::mutex poolMutex_;
    Clock::time_point nextSend_;
    Clock::time_point pausedUntil_;
    Clock::time_point lastAnswer_;
    double intervalMs_ = 0;  // the current gap between two requests; grows with slow-downs
    int nextSlowDownMs_ = 0;
    int suspected_ = 0;  // code 100 answers since the last answer
    std::mutex callbackMutex_;
    std::vector<std::pair<std::size_t, SkippedQuery>> skipped_;

    // The deferred mode's operations, under poolMutex_.
    bool deferred_ = false;
    struct Operation {
        QString id;
        Clock::time_point since;
    };
    struct Pending {
        Clock::time_point due;
        std::size_t index = 0;
    };
    std::map<std::size_t, Operation> operationOf_;
    std::deque<Pending> pending_;
};

}  // namespace kelvara
