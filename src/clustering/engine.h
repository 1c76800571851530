#pragma once

#include "clustering/cluster.h"
#include "core/collation.h"
#include "core/serp_entry.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace kelvara {

struct LinkRules;

enum TGroupingStatus : std::uint8_t { gsProcess = 0, gsSuccess = 1 };

// What the engine publishes while it runs; read from another thread without locks.
struct GroupingProgress {
    std::atomic<std::int32_t> FTotalIterations{0};
    std::atomic<std::int32_t> FSuccessIterations{0};
    std::atomic<TGroupingStatus> FStatus{gsProcess};
};

// Groups the work list's queries by the overlap of their result URLs (soft: single linkage over
// pairs sharing at least `threshold` URLs; hard: sets of queries sharing the same `threshold`
// URLs). Empties `groups` and refills it; sets each entry's GroupIndex (an entry that joined a
// group follows it into any group it is merged into). `stopRequested` is asked at least once per
// query of the main pass and, in the hard method, before each later pass; when it says yes the
// run ends with FStatus still gsProcess.
void runGrouping(const WorkList& work, TStringListDynArray& groups, bool hardMethod,
                 std::int32_t threshold, GroupingProgress& progress,
                 const std::function<bool()>& stopRequested = {});

// The same with a collation of one's choosing (the one the entries' URL lists are sorted by).
//
// The answer is that of the line-by-line algorithm exactly; the work is organised differently,
// so the progress counter is spread over that work: FSuccessIterations rises steadily and reaches
// FTotalIterations when the main pass (the part that meets the queries) is done; the hard
// method's bucket and leftover passes follow. Stop requests are asked often (at least once per
// query of the main pass); a stopped run leaves FStatus at gsProcess and `groups` with what was
// built so far. A threshold below 1 counts as 1. An out-of-memory failure ends the run with
// FStatus still gsProcess.
void runGrouping(const WorkList& work, TStringListDynArray& groups, bool hardMethod,
                 std::int32_t threshold, GroupingProgress& progress,
                 const std::function<bool()>& stopRequested, const Collation& collation);

// The same on the lists the link rules leave: the groups of runGrouping on
// LinkWork(work, rules).lines(). Each URL is judged where the engine reads it anyway, so the
// rules cost little beside the run.
void runGrouping(const WorkList& work, TStringListDynArray& groups, bool hardMethod,
                 std::int32_t threshold, GroupingProgress& progress,
                 const std::function<bool()>& stopRequested, const Collation& collation,
                 const LinkRules& rules);

}  // namespace kelvara
