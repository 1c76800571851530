#include "clustering/engine.h"

#include "clustering/engine_methods.h"
#include "clustering/engine_prepare.h"

#include <new>

namespace kelvara {

void runGrouping(const WorkList& work, TStringListDynArray& groups, bool hardMethod,
                 std::int32_t threshold, GroupingProgress& progress,
                 const std::function<bool()>& stopRequested) {
    runGrouping(work, groups, hardMethod, threshold, progress, stopRequested, Collation::program());
}

void runGrouping(const WorkList& work, TStringListDynArray& groups, bool hardMethod,
                 std::int32_t threshold, GroupingProgress& progress,
                 const std::function<bool()>& stopRequested, const Collation& collation) {
    runGrouping(work, groups, hardMethod, threshold, progress, stopRequested, collation,
                LinkRules{});
}

void runGrouping(const WorkList& work, TStringListDynArray& groups, bool hardMethod,
                 std::int32_t threshold, GroupingProgress& progress,
                 const std::function<bool()>& stopRequested, const Collation& collation,
                 const LinkRules& rules) {
    const auto total = std::int32_t(work.size());
    progress.FTotalIterations.store(total, std::memory_order_relaxed);
    progress.FSuccessIterations.store(0, std::memory_order_relaxed);
    progress.FStatus.store(gsProcess, std::memory_order_relaxed);
    for (const WorkLine& line : work) {
        if (line.entry) {
            line.entry->GroupIndex = -1;
        }
    }
    groups.clear();
    const int k = std::max<std::int32_t>(1, threshold);
    engine_detail::Monitor monitor(progress, stopRequested, total);
    try {
        engine_detail::Prepared prepared;
        const double share =
            hardMethod ? engine_detail::shares::kPrepareHard : engine_detail::shares::kPrepareSoft;
        if (!engine_detail::prepare(work, collation, monitor, share, prepared,
                                    rules.active() ? &rules : nullptr)) {
            return;
        }
        if (hardMethod) {
            engine_detail::runHard(prepared, k, groups, monitor, share);
        } else {
            engine_detail::runSoft(prepared, k, groups, monitor, share);
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    if (!monitor.stopRequested()) {
        monitor.advance(1.0);
        progress.FStatus.store(gsSuccess, std::memory_order_release);
    }
}

}  // namespace kelvara
