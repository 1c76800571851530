#pragma once

#include "core/platform.h"
#include "core/serp_entry.h"
#include "core/textfile.h"
#include "search/http_transport.h"
#include "search/rest_form.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kelvara {

enum TYandexStatus : int { ysProcess, ysError, ysSuccess };
enum TYandexError : int { yrConnect, yrDomXml, yrMessage };

// One query of the worker's list; the worker attaches the entry when the query is answered, with
// or without URLs.
struct FetchLine {
    QString text;
    std::unique_ptr<TSerpEntry> entry;
};
using FetchList = std::vector<FetchLine>;

using PauseFunction = std::function<void(int ms)>;
using ProgressFunction = std::function<void(int done, int total)>;

// What the worker takes from its surroundings, so that tests can set each of them.
struct SearchContext {
    std::shared_ptr<HttpTransport> transport;
    StampClock clock = systemClock();
    QByteArray codePage = systemAnsiCodePage();  // the URL passes through it before the request
    PauseFunction pause;        // the pause before a retry; empty: the thread sleeps
    ProgressFunction progress;  // after each answered query, on the worker's thread; optional
};

// The search worker's work, synchronous: asks the service for each line of the list in turn,
// with up to three retries per line, and stops at the first line that still fails. TYandexThread
// runs it on a thread of its own; tests and the batch tool call Execute() directly.
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

    FetchList& FList;
    const QString FUrl;
    const std::int32_t FTotalQueries;
    std::atomic<std::int32_t> FSuccessQueries{0};
    std::atomic<TYandexStatus> FStatus{ysProcess};
    std::atomic<TYandexError> FErrorCode{yrConnect};

private:
    HttpRequest requestFor(const QString& query) const;
    bool WaitBeforeRetry(int& retries);
    void finishWithError(TYandexError kind, QString text, QString query, int httpStatus);

    SearchContext context_;
    AnsiCodec codec_;
    std::optional<RestTarget> rest_;  // set when the URL asks for the REST form
    AbortCheck stopRequested_;
    AbortCheck abortCheck_;
    std::atomic<bool> terminated_{false};
    // Written once, before FStatus := ysError.
    QString FErrorText;
    QString errorQuery_;
    int errorHttpStatus_ = 0;
};

}  // namespace kelvara
