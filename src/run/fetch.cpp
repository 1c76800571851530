#include "run/fetch.h"

namespace kelvara {

FetchOutcome fetchMissing(ResultStore& store, const QStringList& queries, const QString& baseUrl,
                          SearchContext context, const std::atomic<bool>* stop) {
    if (!context.clock) {
        context.clock = systemClock();
    }
    FetchOutcome outcome;
    FetchList list;
    const Stamp now = context.clock();
    for (const QString& query : queries) {
        const qsizetype at = store.indexOf(query);
        if (at >= 0 && youngerThan(now, store[at].object->Stamp, kFreshnessMs)) {
            outcome.workList.push_back({query, store[at].object.get()});
            continue;
        }
        if (at >= 0) {
            store.removeAt(at);
        }
        list.push_back({query, nullptr});
    }
    outcome.total = int(list.size());

    AbortCheck stopRequested;
    if (stop) {
        stopRequested = [stop] { return stop->load(std::memory_order_relaxed); };
    }
    YandexWorker worker(baseUrl, list, std::move(context), std::move(stopRequested));
    worker.Execute();

    outcome.fetched = worker.FSuccessQueries.load();
    switch (worker.FStatus.load()) {
        case ysSuccess:
            outcome.kind = FetchOutcome::Kind::Success;
            break;
        case ysError:
            outcome.kind = FetchOutcome::Kind::Error;
            outcome.error = worker.FErrorCode.load();
            outcome.errorText = worker.ErrorText();
            break;
        case ysProcess:
            outcome.kind = FetchOutcome::Kind::Stopped;
            break;
    }

    for (FetchLine& line : list) {
        if (!line.entry) {
            continue;
        }
        TSerpEntry* entry = line.entry.get();
        outcome.workList.push_back({line.text, entry});
        if (!store.add(line.text, std::move(line.entry)).inserted) {
            outcome.runEntries.push_back(std::move(line.entry));  // the store keeps its own
        }
    }
    return outcome;
}

}  // namespace kelvara
