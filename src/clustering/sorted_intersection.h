#pragma once

// Intersections of two ascending id lists without repeats (an entry's shared URLs), the inner
// loop of both methods. The lists are short (ten ids or so) and which side steps next is a coin
// toss, so the counting loops step both sides without branches.

#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvara::engine_detail {

// No position: what firstSharedPos gives when the lists share nothing.
inline constexpr std::int32_t kNoPos = INT32_MAX;

// Walks a and b side by side without branches, calling step(x, same) for each step at index
// x of a: same when a[x] is also in b.
template <class Step>
inline void walkShared(const std::int32_t* a, std::int32_t na, const std::int32_t* b,
                       std::int32_t nb, Step&& step) {
    for (std::int32_t x = 0, y = 0; x < na && y < nb;) {
        const std::int32_t av = a[x];
        const std::int32_t bv = b[y];
        step(x, av == bv);
        x += av <= bv ? 1 : 0;
        y += bv <= av ? 1 : 0;
    }
}

// How many ids a and b share.
inline std::int32_t sharedCount(const std::int32_t* a, std::int32_t na, const std::int32_t* b,
                                std::int32_t nb) {
    std::int32_t count = 0;
    walkShared(a, na, b, nb, [&](std::int32_t, bool same) { count += same ? 1 : 0; });
    return count;
}

// The same for a b of at most kMaxB ids (ids are never negative): each id of a is compared
// with all of b at once.
template <int kMaxB>
inline std::int32_t sharedCountShort(const std::int32_t* a, std::int32_t na, const std::int32_t* b,
                                     std::int32_t nb) {
#if defined(__SSE2__)
    static_assert(kMaxB == 12, "b is held in exactly three vectors of four ids");
    alignas(16) std::int32_t pad[kMaxB];
    for (std::int32_t y = 0; y < kMaxB; ++y) {
        pad[y] = y < nb ? b[y] : -1;
    }
    const __m128i b0 = _mm_load_si128(reinterpret_cast<const __m128i*>(pad));
    const __m128i b1 = _mm_load_si128(reinterpret_cast<const __m128i*>(pad + 4));
    const __m128i b2 = _mm_load_si128(reinterpret_cast<const __m128i*>(pad + 8));
    std::int32_t count = 0;
    for (std::int32_t x = 0; x < na; ++x) {
        const __m128i v = _mm_set1_epi32(a[x]);
        const __m128i hit = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi32(v, b0), _mm_cmpeq_epi32(v, b1)), _mm_cmpeq_epi32(v, b2));
        count += _mm_movemask_epi8(hit) != 0 ? 1 : 0;
    }
    return count;
#else
    return sharedCount(a, na, b, nb);
#endif
}

// The least aPos[x] over the ids a[x] that b holds (aPos: where each id of a stands in a's own
// order); kNoPos when there is none.
inline std::int32_t firstSharedPos(const std::int32_t* a, const std::int32_t* aPos, std::int32_t na,
                                   const std::int32_t* b, std::int32_t nb) {
    std::int32_t f = kNoPos;
    walkShared(a, na, b, nb, [&](std::int32_t x, bool same) {
        const std::int32_t pos = aPos[x];
        f = same && pos < f ? pos : f;
    });
    return f;
}

// Calls f(x) for the index x in a of each id that b holds, in ascending order.
template <class F>
inline void forEachShared(const std::int32_t* a, std::int32_t na, const std::int32_t* b,
                          std::int32_t nb, F&& f) {
    std::int32_t x = 0;
    std::int32_t y = 0;
    while (x < na && y < nb) {
        if (a[x] < b[y]) {
            ++x;
        } else if (b[y] < a[x]) {
            ++y;
        } else {
            f(x);
            ++x;
            ++y;
        }
    }
}

}  // namespace kelvara::engine_detail
