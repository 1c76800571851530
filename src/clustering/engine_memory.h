#pragma once

// Memory for the engine's large arrays. Fresh memory costs a fault per page on first touch, and
// arrays read in random order cost an address-translation miss per access; both are dear on some
// machines (virtual ones especially). Large arrays are therefore mapped with huge pages where the
// system allows it. Their pages come as the work touches them, not all at once when they are
// mapped: on a virtual machine whose host hands out memory lazily, filling a few hundred
// megabytes can take half a second, which no stop request could interrupt.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#ifdef _WIN32
#include <malloc.h>
#endif
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kelvara::engine_detail {

#if defined(__linux__) && defined(MAP_POPULATE)
namespace bulk {

constexpr std::size_t kLarge = std::size_t(1) << 20;
constexpr std::size_t kHuge = std::size_t(2) << 20;
static_assert((kHuge & (kHuge - 1)) == 0, "sizes are rounded up to huge pages with a mask");

inline std::size_t hugeSize(std::size_t bytes) {
    return (bytes + kHuge - 1) & ~(kHuge - 1);
}

inline void* map(std::size_t bytes) {
    if (bytes < kHuge) {
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        return p == MAP_FAILED ? nullptr : p;
    }
    // A region aligned to the huge page size: map more, then give back the ends.
    const std::size_t size = hugeSize(bytes);
    void* raw =
        mmap(nullptr, size + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    const auto base = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (base + kHuge - 1) & ~std::uintptr_t(kHuge - 1);
    if (aligned > base) {
        munmap(raw, aligned - base);
    }
    const std::uintptr_t end = aligned + size;
    if (base + size + kHuge > end) {
        munmap(reinterpret_cast<void*>(end), base + size + kHuge - end);
    }
    void* p = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    madvise(p, size, MADV_HUGEPAGE);
#endif
    return p;
}

inline void unmap(void* p, std::size_t bytes) {
    munmap(p, bytes < kHuge ? bytes : hugeSize(bytes));
}

}  // namespace bulk
#endif

template <class T>
struct BulkAllocator {
    using value_type = T;

    BulkAllocator() = default;
    template <class U>
    BulkAllocator(const BulkAllocator<U>&) {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
#if defined(__linux__) && defined(MAP_POPULATE)
        if (bytes >= bulk::kLarge) {
            void* p = bulk::map(bytes);
            if (!p) {
                throw std::bad_alloc();
            }
            return static_cast<T*>(p);
        }
#endif
        void* p = nullptr;
        if constexpr (alignof(T) > alignof(std::max_align_t)) {
            const std::size_t a = alignof(T);
#ifdef _WIN32  // Windows' C library has no aligned_alloc, and frees such blocks apart
            p = _aligned_malloc(std::max<std::size_t>(bytes, 1), a);
#else
            p = std::aligned_alloc(a, (std::max<std::size_t>(bytes, 1) + a - 1) / a * a);
#endif
        } else {
            p = std::malloc(bytes == 0 ? 1 : bytes);
        }
        if (!p) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) {
#if defined(__linux__) && defined(MAP_POPULATE)
        if (n * sizeof(T) >= bulk::kLarge) {
            bulk::unmap(p, n * sizeof(T));
            return;
        }
#endif
        (void)n;
#ifdef _WIN32
        if constexpr (alignof(T) > alignof(std::max_align_t)) {
            _aligned_free(p);
            return;
        }
#endif
        std::free(p);
    }
    template <class U>
    bool operator==(const BulkAllocator<U>&) const {
        return true;
    }
};

template <class T>
using Bulk = std::vector<T, BulkAllocator<T>>;

}  // namespace kelvara::engine_detail
