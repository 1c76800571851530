#pragma once

#include "clustering/cluster.h"
#include "clustering/engine.h"
#include "clustering/link_rules.h"
#include "core/serp_entry.h"

#include <QThread>

#include <cstdint>

namespace kelvara {

// The clustering engine on a thread of its own. The run controller creates it once every query
// of the run has its results, polls its counters and status from the user-interface thread, and
// reads the groups only after the status has become gsSuccess (or after stopping and waiting).
//
// It starts at once, as the run controller expects; pass startNow = false to call start()
// yourself (tests). Destroying it asks it to stop and waits for it.
class TGroupingThread : public QThread {
    Q_OBJECT

public:
    TGroupingThread(const WorkList& workList, TStringListDynArray& groups, bool hardMethod,
                    std::int32_t threshold, bool startNow = true, QObject* parent = nullptr);
    // The same under link rules (see runGrouping).
    TGroupingThread(const WorkList& workList, TStringListDynArray& groups, bool hardMethod,
                    std::int32_t threshold, LinkRules rules, bool startNow = true,
                    QObject* parent = nullptr);
    ~TGroupingThread() override;

    void Terminate() { requestInterruption(); }
    bool Terminated() const { return isInterruptionRequested(); }
    void WaitFor() { wait(); }

    // Safe to read from any thread while the engine runs.
    std::int32_t FTotalIterations() const {
        return FProgress.FTotalIterations.load(std::memory_order_relaxed);
    }
    std::int32_t FSuccessIterations() const {
        return FProgress.FSuccessIterations.load(std::memory_order_relaxed);
    }
    TGroupingStatus FStatus() const { return FProgress.FStatus.load(std::memory_order_acquire); }
    const GroupingProgress& progress() const { return FProgress; }

protected:
    void run() override;  // the body (Execute)

private:
    const WorkList& FWorkList;
    TStringListDynArray& FGroups;
    const std::int32_t FThreshold;
    const bool FHardMethod;
    const LinkRules FRules;
    GroupingProgress FProgress;
};

}  // namespace kelvara
