#pragma once

#include "clustering/engine.h"
#include "clustering/engine_parallel.h"
#include "clustering/engine_progress.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>

namespace kelvara::engine_detail {

// Progress and stop requests of one run. The stop callback is asked on the engine's own thread
// only; other threads read the sticky flag.
class Monitor {
public:
    Monitor(GroupingProgress& progress, const std::function<bool()>& stop, std::int32_t total)
        : progress_(progress), stop_(stop), total_(total), outerHook_(waitHook) {
        waitHook = WaitHook{[](void* m) { static_cast<Monitor*>(m)->stopRequested(); }, this};
    }
    ~Monitor() { waitHook = outerHook_; }
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    bool stopRequested() {
        if (!stopped_.load(std::memory_order_relaxed) && stop_ && stop_()) {
            stopped_.store(true, std::memory_order_relaxed);
        }
        return stopped_.load(std::memory_order_relaxed);
    }
    // For threads other than the engine's own.
    bool stopSeen() const { return stopped_.load(std::memory_order_relaxed); }

    // The main pass's share of the run in [0, 1]; the counter never goes back.
    void advance(double fraction) {
        const auto v = std::int32_t(double(total_) * std::clamp(fraction, 0.0, 1.0));
        if (v > done_) {
            done_ = v;
            progress_.FSuccessIterations.store(v, std::memory_order_relaxed);
        }
    }
    std::int32_t total() const { return total_; }

    // A step of the run that takes the counter from `from` to `to` (shares of the main pass).
    void phase(double from, double to) {
        phaseFrom_ = from;
        phaseTo_ = to;
        advance(from);
    }
    // Called by worker w of a step now and then, with how far the step (or this worker's part
    // of it) has come: the engine's own thread (worker 0) moves the counter and asks for stop
    // requests. True when the work should end.
    bool tick(int w, double done) {
        if (w != 0) {
            return stopSeen();
        }
        advance(phaseFrom_ + (phaseTo_ - phaseFrom_) * std::clamp(done, 0.0, 1.0));
        return stopRequested();
    }

    // The polls of a loop, at every Stride-th item i (see pollDue): true when the work should
    // end. stopDue is for the engine's own thread; tickDue moves the counter to `done` of the
    // step; tickThrough to `share` times how far worker w's part of the step has come, at its
    // item `at` of `of`.
    template <std::int64_t Stride, class I>
    bool stopDue(I i) {
        return pollDue<Stride>(i) && stopRequested();
    }
    template <std::int64_t Stride, class I>
    bool tickDue(int w, I i, double done) {
        return pollDue<Stride>(i) && tick(w, done);
    }
    template <std::int64_t Stride>
    bool tickThrough(int w, std::int64_t at, std::int64_t of, double share = 1.0) {
        return pollDue<Stride>(at) && tick(w, share * double(at) / double(of));
    }

private:
    GroupingProgress& progress_;
    const std::function<bool()>& stop_;
    std::int32_t total_;
    std::int32_t done_ = 0;
    double phaseFrom_ = 0;
    double phaseTo_ = 0;
    std::atomic<bool> stopped_{false};
    WaitHook outerHook_;
};

}  // namespace kelvara::engine_detail
