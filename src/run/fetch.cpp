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
        c.progress = request.progress;
        AbortCheck stopRequested;
        if (const std::atomic<bool>* stop = request.stop) {
            stopRequested = [stop] { return stop->load(std::memory_order_relaxed); };
        }
        YandexWorker worker(request.baseUrl, list, std::move(c), std::move(stopRequested));
        worker.Execute();

        FetchStatus status;
        status.answered = worker.FSuccessQueries.load();
        switch (worker.FStatus.load()) {
            case ysSuccess:
                status.kind = FetchStatus::Kind::Success;
                break;
            case ysError:
                status.kind = FetchStatus::Kind::Error;
                status.error = worker.FErrorCode.load();
                status.errorText = worker.ErrorText();
                status.detail = {worker.ErrorQuery(), worker.ErrorHttpStatus()};
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
    static_cast<FetchStatus&>(outcome) = serviceFetcher(std::move(context))(plan.toFetch, request);
    takeFetched(store, plan, outcome.work);
    return outcome;
}

}  // namespace kelvara
