#pragma once

// Fast, exact use of the program's collation for bulk work: order keys that memcmp compares, and
// ranking of many texts at once. Everything here gives the answers of Collation::compare; the
// shortcuts only decide where they are known to agree with it, and ask the collation otherwise.

#include "clustering/engine_memory.h"
#include "clustering/engine_monitor.h"
#include "clustering/engine_parallel.h"
#include "core/collation.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvara::engine_detail {

// A per-character table for the characters that clustering meets most (ASCII and basic
// Cyrillic), derived from the collation itself and checked against it when built. A text made of
// these characters gets a key: the classes of its characters, ignorable ones left out, after one
// marker byte for a non-empty text. Where the keys of two texts differ, memcmp on them orders the
// texts as the collation does. Where they are equal the texts may still differ at a finer level
// (such as "е" and "ё"), except for two all-ASCII texts: those are then equal.
class OrderKeys {
public:
    // The table of a collation, built once per locale and kept.
    static const OrderKeys& of(const Collation& collation);

    explicit OrderKeys(const Collation& collation);

    bool usable() const { return usable_; }
    // Whether equal keys of two all-ASCII texts mean equal texts.
    bool asciiExact() const { return asciiExact_; }

    // Appends the key to `out`. False (and nothing appended) when a character is outside the table.
    bool append(QStringView text, std::string& out) const;
    // The classes of the characters alone, without the marker: the weight sequence of the text.
    bool appendWeights(QStringView text, std::string& out) const;

    // Writes the classes of the characters (ignorable ones left out) to `out`, which has room for
    // text.size() bytes; the number written, or -1 for a character outside the table.
    int fold(QStringView text, std::uint8_t* out, bool* ascii = nullptr) const;
    // Two independent hashes of the key of an all-ASCII text; false when a character is 128 or
    // more. With asciiExact(), equal fingerprints mean equal texts but for a 128-bit collision
    // (the seeds are chosen per run, so no input can aim at one).
    bool fingerprintAscii(QStringView text, std::uint64_t seed, std::uint64_t* h1,
                          std::uint64_t* h2) const;

    // The class byte of a character, 0 if ignorable, kUnknown if outside the table.
    std::uint8_t classOf(char16_t c) const { return c < kTableSize ? class_[c] : kUnknown; }
    static constexpr std::uint8_t kUnknown = 0xFF;
    static constexpr char16_t kTableSize = 0x460;
    static_assert(kTableSize >= 0x460, "the table holds ASCII and basic Cyrillic (to U+045F)");

private:
    bool check(const Collation& collation);

    std::uint8_t class_[kTableSize];
    // For ASCII: one character standing for each class (0 if ignorable), and whether printable
    // characters stand for their class after case folding alone (then a fast path applies).
    std::uint8_t canon_[128] = {};
    bool foldSimple_ = false;
    bool usable_ = false;
    bool asciiExact_ = false;
};

// Collation::compare through keys where they decide. Keys are built on demand by the caller.
struct KeyedText {
    QStringView text;
    const char* key = nullptr;  // null: no key
    std::uint32_t keySize = 0;
    bool ascii = false;  // all-ASCII: equal keys mean equal texts
};
int compareKeyed(const KeyedText& a, const KeyedText& b, const Collation& collation);

// Dense ranks in collation order: equal texts (under the collation) share a rank, and rank order
// is the collation's order. Uses up to `threads` threads (each with its own collator).
struct Ranking {
    Bulk<std::int32_t> rank;
    std::int32_t classes = 0;
};
//
// With a monitor, the work moves its counter (as the current phase) and ends early on a stop
// request; the result is then of no use (the caller checks monitor->stopSeen()). `firstWorker`
// is the monitor's worker number of the calling thread: other than 0 when the ranking runs beside
// the engine's own thread, which then alone moves the counter and asks for stop requests.
Ranking rankTexts(std::span<const QStringView> texts, const Collation& collation, int threads = 2,
                  Monitor* monitor = nullptr, int firstWorker = 0);

// Ids for texts under collation equality (not in collation order), found by fingerprints of
// their keys. Not ok when some text has no key that decides equality (then rank the texts).
struct Interning {
    Bulk<std::int32_t> id;
    std::int32_t count = 0;
    bool ok = false;
};
Interning internTexts(std::span<const QStringView> texts, const Collation& collation,
                      int threads = 2, Monitor* monitor = nullptr);

// Equal fingerprints get one id: sets idOfIndex[item.index] for every item (in any order) and,
// per id, the item that comes first by index; returns the number of ids. Reorders `items`.
// Items whose index is Fingerprint::kSkip are passed over (they get no id).
struct Fingerprint {
    // Left unset when made in bulk: arrays of these are large and filled at once anyway.
    Fingerprint() {}
    Fingerprint(std::uint64_t a, std::uint64_t b, std::uint32_t i, std::uint32_t t)
        : h1(a), h2(b), index(i), tag(t) {}
    std::uint64_t h1;
    std::uint64_t h2;
    std::uint32_t index;
    std::uint32_t tag;  // the caller's (carried along)
    static constexpr std::uint32_t kSkip = 0xFFFFFFFFu;
};
std::int32_t idsFromFingerprints(Bulk<Fingerprint>& items, Bulk<std::int32_t>& idOfIndex,
                                 Bulk<Fingerprint>* firstOfId = nullptr, int threads = 1,
                                 Monitor* monitor = nullptr);
// Dense ranks of byte strings (none holding a 0 byte) in memcmp order, the shorter first on a
// common start; string j is arena[offset[j], offset[j] + size[j]).
Bulk<std::int32_t> rankBytes(const Bulk<char>& arena, const Bulk<std::uint32_t>& offset,
                             const Bulk<std::uint32_t>& size, Monitor* monitor = nullptr);

// A seed for fingerprints, different in every run.
std::uint64_t freshSeed();

// 64-bit hash of bytes (for keys and sets).
std::uint64_t hashBytes(const void* data, std::size_t size, std::uint64_t seed = 0);

}  // namespace kelvara::engine_detail
