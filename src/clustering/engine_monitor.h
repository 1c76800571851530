#pragma once

#include "clustering/engine.h"
#include "clustering/engine_parallel.h"

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
