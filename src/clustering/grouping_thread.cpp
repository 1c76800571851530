#include "clustering/grouping_thread.h"

namespace kelvara {

TGroupingThread::TGroupingThread(const WorkList& workList, TStringListDynArray& groups,
                                 bool hardMethod, std::int32_t threshold, bool startNow,
                                 QObject* parent)
    : TGroupingThread(workList, groups, hardMethod, threshold, LinkRules{}, startNow, parent) {}

TGroupingThread::TGroupingThread(const WorkList& workList, TStringListDynArray& groups,
                                 bool hardMethod, std::int32_t threshold, LinkRules rules,
                                 bool startNow, QObject* parent)
    : QThread(parent),
      FWorkList(workList),
      FGroups(groups),
      FThreshold(threshold),
      FHardMethod(hardMethod),
      FRules(std::move(rules)) {
    FProgress.FTotalIterations.store(std::int32_t(workList.size()));
    FProgress.FSuccessIterations.store(0);
    FProgress.FStatus.store(gsProcess);
    if (startNow) {
        start();
    }
}

TGroupingThread::~TGroupingThread() {
    requestInterruption();
    wait();
}

void TGroupingThread::run() {
    try {
        runGrouping(
            FWorkList, FGroups, FHardMethod, FThreshold, FProgress,
            [this] { return isInterruptionRequested(); }, Collation::program(), FRules);
    } catch (...) {
        // An unexpected failure leaves the status at gsProcess; the run waits to be cancelled.
    }
}

}  // namespace kelvara
