#pragma once

#include "core/serp_entry.h"
#include "search/yandex_worker.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

namespace kelvara {

// The outcome of one fetch of what is missing.
struct FetchOutcome {
    enum class Kind { Success, Error, Stopped };
    Kind kind = Kind::Success;
    TYandexError error = yrConnect;  // with Error
    QString errorText;               // with Error and yrMessage: the service's own text only
    int total = 0;                   // queries that had to be asked
    int fetched = 0;                 // of these, answered (with or without URLs)
    // The run's lines as the window builds them: first the queries with a fresh stored result,
    // in the given order, then the answered queries that got URLs, in the given order. Each
    // refers to an entry of the store, or, for a second spelling of a query fetched twice, to one
    // of runEntries. Meaningful after Success.
    WorkList workList;
    std::vector<std::unique_ptr<TSerpEntry>> runEntries;
};

// For the batch tool, synchronously on the calling thread: every query without a fresh stored
// result (age < 7 days) is asked, in the given order, duplicates included; a stale entry is
// released from the store first. Answered queries with URLs join the store (for a query already
// there the store keeps its own entry), also after an error or a stop. progress(done, total)
// is called at the start and after each answered query; *stop (when given) ends the work before
// the next request and aborts the one in flight.
//
// baseUrl is the configured URL + "&lr=" + region code.
FetchOutcome fetchMissing(ResultStore& store, const QStringList& queries, const QString& baseUrl,
                          SearchContext context, const std::atomic<bool>* stop = nullptr);

}  // namespace kelvara
