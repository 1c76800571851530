#pragma once

// LSD radix sort on a 64-bit key, for the large arrays of the clustering engine.

#include "clustering/engine_progress.h"

#include <array>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace kelvara::engine_detail {

// Sorts v by key(v[i]) (stable), 16 bits a pass; passes whose digit is the same everywhere are
// skipped. `bits` is how many low bits of the key take part (multiple of 16, at most 64).
// `stop`, when given, is asked every million items; when it says yes the sort ends at once and
// leaves v in no useful order.
template <class V, class Key, class Stop = bool (*)()>
void radixSort(V& v, Key key, int bits = 64, Stop stop = nullptr) {
    using T = typename V::value_type;
    if (v.size() < 2) {
        return;
    }
    auto stopped = [&](size_t i) {
        if constexpr (std::is_pointer_v<Stop>) {
            return pollDue<(1 << 20)>(i) && stop != nullptr && stop();
        } else {
            return pollDue<(1 << 20)>(i) && stop();
        }
    };
    V tmp(v.size());
    std::vector<std::uint32_t> count(65536);
    for (int shift = 0; shift < bits; shift += 16) {
        std::fill(count.begin(), count.end(), 0u);
        for (size_t i = 0; i < v.size(); ++i) {
            if (stopped(i)) {
                return;
            }
            ++count[(key(v[i]) >> shift) & 0xFFFF];
        }
        if (count[(key(v[0]) >> shift) & 0xFFFF] == v.size()) {
            continue;
        }
        std::uint32_t sum = 0;
        for (std::uint32_t& c : count) {
            const std::uint32_t n = c;
            c = sum;
            sum += n;
        }
        for (size_t i = 0; i < v.size(); ++i) {
            if (stopped(i)) {
                return;
            }
            const T& x = v[i];
            tmp[count[(key(x) >> shift) & 0xFFFF]++] = x;
        }
        v.swap(tmp);
    }
}

}  // namespace kelvara::engine_detail
