#pragma once

#include "clustering/cluster.h"
#include "search/serp_entry.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace kelvara {

enum TGroupingStatus : std::uint8_t { gsProcess = 0, gsSuccess = 1 };

// What the engine publishes while it runs; read from another thread without locks.
struct GroupingProgress {
    std::atomic<std::int32_t> FTotalIterations{0};
    std::atomic<std::int32_t> FSuccessIterations{0};
    std::atomic<TGroupingStatus> FStatus{gsProcess};
};

// Groups the work list's queries by the overlap of their result URLs (soft: single linkage over
// pairs sharing at least `threshold` URLs; hard: sets of queries sharing the same `threshold`
// URLs). Empties `groups` and refills it; sets each entry's GroupIndex. `stopRequested` is asked
// once per query of the main pass and, in the hard method, before each later pass; when it says
// yes the run ends with FStatus still gsProcess.
void runGrouping(const WorkList& work, TStringListDynArray& groups, bool hardMethod,
                 std::int32_t threshold, GroupingProgress& progress,
                 const std::function<bool()>& stopRequested = {});

}  // namespace kelvara
