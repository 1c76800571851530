#pragma once

// How the engine's loops poll for stop requests and move the progress counter, and how the
// counter's range (the main pass) is shared among the phases of a run.

#include <cstdint>

namespace kelvara::engine_detail {

// True at item 0 and every Stride-th item after it. Loops poll at such strides rather than at
// every item: a stop request is asked through a std::function and the counter is an atomic that
// another thread reads. A loop's stride goes by how heavy its items are.
template <std::int64_t Stride, class I>
constexpr bool pollDue(I i) {
    static_assert(Stride > 0 && (Stride & (Stride - 1)) == 0, "a stride is tested as a mask");
    return (i & I(Stride - 1)) == 0;
}

// Where each phase ends on the counter. The shares follow how long each phase takes on typical
// data (generated topical work lists); they must rise, since the counter never goes back.
namespace shares {

// The preparation's part of the main pass, by how much of each method's work it is.
inline constexpr double kPrepareSoft = 0.3;
inline constexpr double kPrepareHard = 0.15;

// Steps of the preparation, as shares of its part.
struct Prepare {
    double entries = 0.02;      // entries numbered, their URLs counted
    double fingerprints = 0.5;  // URL fingerprints (when keys decide URL equality)
    double urlIds = 0.75;       // URL ids (by fingerprints or by ranking), the text classes
    double urlLines = 0.85;     // lines per URL
    double sharedLists = 0.98;  // each entry's shared URLs, sorted; then which lines are full
};
inline constexpr Prepare kPrepare{};
static_assert(0 < kPrepare.entries && kPrepare.entries < kPrepare.fingerprints &&
              kPrepare.fingerprints < kPrepare.urlIds && kPrepare.urlIds < kPrepare.urlLines &&
              kPrepare.urlLines < kPrepare.sharedLists && kPrepare.sharedLists < 1);

// The soft method, as shares of what the preparation leaves.
struct Soft {
    double prefixIndex = 0.08;  // the prefix lists; the pass over the lines takes the rest
    // Steps of the prefix lists, as shares of their part.
    double prefixes = 0.5;  // each entry's rarest URLs
    double counted = 0.65;  // lines per URL and range of lines
    double offsets = 0.75;  // where each range's part of a URL's list begins
    double placed = 0.9;    // the lines placed; then the per-URL state
};
inline constexpr Soft kSoft{};
static_assert(0 < kSoft.prefixIndex && kSoft.prefixIndex < 1);
static_assert(0 < kSoft.prefixes && kSoft.prefixes < kSoft.counted &&
              kSoft.counted < kSoft.offsets && kSoft.offsets < kSoft.placed && kSoft.placed < 1);

// The hard method, as shares of what the preparation leaves. Its bucket and leftover passes
// come after the main pass.
struct Hard {
    double counted = 0.35;    // subsets counted (thresholds above 1)
    double kept = 0.7;        // subsets kept (at threshold 1: each URL's holders)
    double sorted = 0.8;      // the kept ones sorted by hash
    double candidates = 0.9;  // member sets gathered; the order of their keys takes the rest
};
inline constexpr Hard kHard{};
static_assert(0 < kHard.counted && kHard.counted < kHard.kept && kHard.kept < kHard.sorted &&
              kHard.sorted < kHard.candidates && kHard.candidates < 1);

}  // namespace shares

}  // namespace kelvara::engine_detail
