#include "run/fetch.h"

namespace kelvara {

Fetcher serviceFetcher(SearchContext context) {
    return [context](FetchList& list, const FetchRequest& request) {
        SearchContext c = context;
        if (!request.codePage.isEmpty()) {
            c.codePage = request.codePage;
        }
        if (request.clock) {
            c.clock = request.clock;
        }
        if (!c.clock) {
            c.clock = systemClock();
        }
        c.threads = request.threads;
        c.maxRps = request.maxRps;
        if (request.throttleGiveUpMs > 0) {
            c.throttleGiveUpMs = request.throttleGiveUpMs;
        }
        c.answered = request.answered;
        if (request.deferred && request.operations) {
            c.deferred = true;
            c.operations = request.operations;
            c.operationsUrl = request.operationsUrl;
        }
        // The worker's counters reach the caller with each progress call.
        std::atomic<YandexWorker*> running{nullptr};
        c.progress = [&running, &request](int done, int total) {
            const YandexWorker* w = running.load(std::memory_order_acquire);
            if (request.counters && w) {
                request.counters->retries.store(w->FRetries.load());
                request.counters->slowDowns.store(w->FSlowDowns.load());
                request.counters->skipped.store(w->FSkippedQueries.load());
                request.counters->sent.store(w->FSent.load());
                request.counters->ready.store(w->FReady.load());
                request.counters->read.store(w->FRead.load());
            }
            if (request.progress) {
                request.progress(done, total);
            }
        };
        AbortCheck stopRequested;
        if (const std::atomic<bool>* stop = request.stop) {
            stopRequested = [stop] { return stop->load(std::memory_order_relaxed); };
        }
        const qint64 giveUpMs = c.throttleGiveUpMs;
        YandexWorker worker(request.baseUrl, list, std::move(c), std::move(stopRequested));
        running.store(&worker, std::memory_order_release);
        worker.Execute();

        FetchStatus status;
        status.answered = worker.FSuccessQueries.load();
        status.skipped = worker.Skipped();
        status.retries = worker.FRetries.load();
        status.slowDowns = worker.FSlowDowns.load();
        switch (worker.FStatus.load()) {
            case ysSuccess:
                status.kind = FetchStatus::Kind::Success;
                break;
            case ysError:
                status.kind = FetchStatus::Kind::Error;
                status.error = worker.FErrorCode.load();
                status.errorText = worker.ErrorText();
                status.detail = {worker.ErrorQuery(), worker.ErrorHttpStatus(),
                                 worker.ErrorServiceCode(), giveUpMs};
                break;
            case ysProcess:
                status.kind = FetchStatus::Kind::Stopped;
                break;
        }
        return status;
    };
}

FetchOutcome fetchMissing(ResultStore& store, const QStringList& queries, const QString& baseUrl,
                          SearchContext context, const std::atomic<bool>* stop) {
    if (!context.clock) {
        context.clock = systemClock();
    }
    FetchOutcome outcome;
    RunPlan plan = planRun(store, queries, context.clock(), outcome.work);
    outcome.total = int(plan.toFetch.size());
    FetchRequest request;
    request.baseUrl = baseUrl;
    request.clock = context.clock;
    request.codePage = context.codePage;
    request.progress = context.progress;
    request.stop = stop;
    request.threads = context.threads;
    request.maxRps = context.maxRps;
    request.answered = context.answered;
    static_cast<FetchStatus&>(outcome) = serviceFetcher(std::move(context))(plan.toFetch, request);
    takeFetched(store, plan, outcome.work);
    return outcome;
}

}  // namespace kelvara
