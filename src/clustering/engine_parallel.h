#pragma once

// Splitting bulk work of the clustering engine over the machine's cores.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

namespace kelvara::engine_detail {

// Worker threads the engine uses for bulk steps (the engine's own thread included).
int engineThreads();

// What the calling thread of parallelFor does while it waits for the other workers, every few
// milliseconds: a run's monitor sets it on the engine's own thread, so that stop requests are
// still asked when that thread's part of a step is done before the others'.
struct WaitHook {
    void (*call)(void*) = nullptr;
    void* arg = nullptr;
};
inline thread_local WaitHook waitHook;

// Runs f(begin, end, worker) over [0, n) split into contiguous ranges, one per thread; a thread
// gets `grain` items at least (small jobs are not worth a thread). The calling thread is worker 0.
template <class F>
void parallelFor(std::int64_t n, int threads, F&& f, std::int64_t grain = 4096) {
    const std::int64_t maxUseful = std::max<std::int64_t>(1, n / std::max<std::int64_t>(1, grain));
    threads = int(std::max<std::int64_t>(1, std::min<std::int64_t>(threads, maxUseful)));
    if (threads <= 1) {
        f(std::int64_t(0), n, 0);
        return;
    }
    std::vector<std::exception_ptr> errors(static_cast<size_t>(threads));
    std::vector<std::thread> pool;
    pool.reserve(size_t(threads - 1));
    std::atomic<int> finished{0};
    auto body = [&](int t) {
        try {
            f(n * t / threads, n * (t + 1) / threads, t);
        } catch (...) {
            errors[size_t(t)] = std::current_exception();
        }
        finished.fetch_add(1, std::memory_order_release);
    };
    for (int t = 1; t < threads; ++t) {
        pool.emplace_back(body, t);
    }
    body(0);
    if (const WaitHook hook = waitHook; hook.call) {
        while (finished.load(std::memory_order_acquire) < threads) {
            hook.call(hook.arg);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    for (std::thread& th : pool) {
        th.join();
    }
    for (const std::exception_ptr& e : errors) {
        if (e) {
            std::rethrow_exception(e);
        }
    }
}

// The same for a few large parts of work: each part may have a thread of its own.
template <class F>
void parallelParts(std::int64_t parts, int threads, F&& f) {
    parallelFor(parts, threads, std::forward<F>(f), 1);
}

}  // namespace kelvara::engine_detail
