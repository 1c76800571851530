#pragma once

#include "core/serp_entry.h"
#include "run/run_rules.h"
#include "search/yandex_worker.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace kelvara {

// How a fetch of a run's missing lines ended.
struct FetchStatus {
    enum class Kind { Success, Error, Stopped };
    Kind kind = Kind::Success;
    TYandexError error = yrConnect;     // with Error
    QString errorText;                  // with Error and yrMessage: the service's own text only
    FetchErrorDetail detail;            // with Error
    int answered = 0;                   // lines answered (with or without URLs)
    std::vector<SkippedQuery> skipped;  // lines the service refused for themselves, in list order
    int retries = 0;
    int slowDowns = 0;
};

// The fetch's running figures besides the answered count, for a progress display.
struct FetchCounters {
    std::atomic<int> retries{0};
    std::atomic<int> slowDowns{0};
    std::atomic<int> skipped{0};
    std::atomic<int> sent{0};  // the deferred mode: operations created, done, and read
    std::atomic<int> ready{0};
    std::atomic<int> read{0};
};

// What a synchronous fetch is given besides its list.
struct FetchRequest {
    QString baseUrl;      // the service URL + "&lr=" + region code
    QByteArray codePage;  // the queries pass through it on their way into the request
    StampClock clock;
    // After each answered or skipped line, on the fetching thread: (answered, total).
    ProgressFunction progress;
    // When given and set, the work ends before the next request and aborts the one in flight.
    const std::atomic<bool>* stop = nullptr;
    // Right before progress, on the same thread: the index of the line just answered.
    AnsweredFunction answered;
    int threads = 1;                    // slots asking at once
    double maxRps = 0;                  // 0: no limit
    qint64 throttleGiveUpMs = 0;        // 0: the worker's own bound
    FetchCounters* counters = nullptr;  // updated before each progress call when given
    // The deferred mode (a REST URL only): the operations file's store and the operations
    // service's address.
    bool deferred = false;
    std::shared_ptr<OperationStore> operations;
    QString operationsUrl;
};

// Asks the service for each line of the list, attaching an entry to every line answered with
// URLs, and says how it ended. Whatever it attached before an error or a stop is the caller's.
using Fetcher = std::function<FetchStatus(FetchList& list, const FetchRequest& request)>;

// The search worker on the calling thread: the same requests, retries and errors as the
// window's run. The context's transport is used; code page, clock and progress are the request's.
Fetcher serviceFetcher(SearchContext context);

// A whole fetch of what is missing, for the batch tool and tests: plans the run's lines, fetches
// the missing ones with the search worker and takes in what it returned (also after an error or
// a stop).
struct FetchOutcome : FetchStatus {
    int total = 0;  // lines that had to be asked
    RunWork work;   // meaningful after Success
};
FetchOutcome fetchMissing(ResultStore& store, const QStringList& queries, const QString& baseUrl,
                          SearchContext context, const std::atomic<bool>* stop = nullptr);

}  // namespace kelvara
