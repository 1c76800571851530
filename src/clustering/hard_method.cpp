// The hard method, fast: the same member sets, bucket order and groups as the line-by-line
// algorithm.
//
// The line-by-line algorithm records, for every pair of lines that share at least k URLs, both
// texts under every k-subset of their shared URLs. A k-subset S of URLs ends up with the texts of
// the lines whose entries hold all of S (its holders). So instead of meeting pairs, this engine
// enumerates the k-subsets of each entry's shared URLs once, keeps those held by enough lines to
// matter, and gathers each one's holders by sorting on a hash of the subset (checked exactly).
//
// The order inside a member set is the order of first recording. When every holder's text occurs
// on no other line, that is: the first holder i0, then the others in the order in which i0 meets
// them (by the position of the first URL they share with i0, then by text). Otherwise (repeated
// queries) the recording is replayed for that subset alone.
//
// The bucket pass needs the subsets in the collation order of their "|"-joined texts. For ASCII
// URLs that order is a tuple order: each URL but the last compares as its text followed by "|",
// the last as its plain text; other keys are compared through their joined texts.

#include "clustering/engine_methods.h"
#include "clustering/engine_order.h"
#include "clustering/engine_radix.h"
#include "clustering/sorted_intersection.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

namespace kelvara::engine_detail {

namespace {

using shares::kHard;

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

double binomial(int n, int k) {
    if (k < 0 || k > n) {
        return 0;
    }
    double r = 1;
    for (int i = 0; i < k; ++i) {
        r = r * double(n - i) / double(i + 1);
    }
    return r;
}

// One k-subset of one entry's shared URLs.
struct Incidence {
    std::uint64_t hash;
    std::int32_t entry;
    std::uint32_t ref;  // bit mask over the entry's sorted ids, or kSide | index into the side list
};
constexpr std::uint32_t kSide = 0x80000000u;
constexpr int kMaskUrls = 16;           // entries with more shared URLs go the careful way
constexpr double kPlainSubsets = 4096;  // as do entries with more subsets than this
static_assert(kMaskUrls < 32 && (((std::uint64_t(1) << kMaskUrls) - 1) & kSide) == 0,
              "a plain subset's bit mask over the entry's ids stays clear of the side flag");

struct Member {
    std::int32_t cls;
    std::int32_t line;  // whose text is stored
};

// A member set of size >= k under its key.
struct Candidate {
    std::int32_t size;
    std::int32_t keyAt;     // k URL ids in collation order, in keys
    std::int32_t memberAt;  // `size` members, in members
    std::int32_t part;      // which worker's arrays
};

class Hard {
public:
    Hard(const Prepared& p, int k, Monitor& monitor)
        : p_(p), k_(k), monitor_(monitor), threads_(engineThreads()) {}

    void run(TStringListDynArray& groups, double progressFrom) {
        const double span = 1.0 - progressFrom;
        buildNeighbourIndex();
        if (monitor_.stopRequested()) {
            return;
        }
        buildEntryInfo();
        if (monitor_.stopRequested()) {
            return;
        }
        if (k_ == 1) {
            // The keys are the URLs themselves: their ids group the holders exactly.
            if (!singleUrls(progressFrom, progressFrom + span * kHard.kept)) {
                return;
            }
        } else {
            setUp();
            if (monitor_.stopRequested()) {
                return;
            }
            if (!enumerate(true, progressFrom, progressFrom + span * kHard.counted)) {
                return;
            }
            if (!enumerate(false, progressFrom + span * kHard.counted,
                           progressFrom + span * kHard.kept)) {
                return;
            }
            Bulk<Counter>().swap(counters_);
            radixSort(
                incidences_, [](const Incidence& x) { return x.hash; }, 64,
                [this] { return monitor_.stopRequested(); });
        }
        monitor_.advance(progressFrom + span * kHard.sorted);
        if (monitor_.stopRequested()) {
            return;
        }
        monitor_.phase(progressFrom + span * kHard.sorted, progressFrom + span * kHard.candidates);
        collectCandidates();
        incidences_ = {};
        monitor_.advance(progressFrom + span * kHard.candidates);
        if (monitor_.stopRequested()) {
            return;
        }
        const Bulk<std::int32_t> order = keyOrder();
        monitor_.advance(1.0);
        if (monitor_.stopRequested()) {
            return;
        }
        bucketPass(order, groups);
        if (monitor_.stopRequested()) {
            return;
        }
        leftoverPass(groups);
    }

private:
    // ---- enumeration of subsets ----

    void setUp() {
        const std::int32_t entries = std::int32_t(p_.entries.size());
        urlHash_.resize(size_t(p_.urls));
        const std::uint64_t seed = mix(std::uint64_t(p_.urls) * 31 + std::uint64_t(p_.lines));
        for (std::int32_t u = 0; u < p_.urls; ++u) {
            urlHash_[size_t(u)] = mix(seed ^ std::uint64_t(u));
        }
        // What one holder entry brings towards a member set of k: for k = 1 its lines (two lines
        // are a pair), otherwise its distinct texts.
        threshold_ = k_ == 1 ? 2 : k_;
        weight_.assign(size_t(entries), 0);
        careful_.assign(size_t(entries), 0);
        double plain = 0;
        for (std::int32_t e = 0; e < entries; ++e) {
            const std::int32_t b = p_.entryLineBegin[size_t(e)];
            const std::int32_t nl = p_.entryLineBegin[size_t(e) + 1] - b;
            std::int32_t w = nl;
            if (k_ > 1 && nl > 1) {
                std::unordered_set<std::int32_t> cls;
                for (std::int32_t j = b; j < b + nl; ++j) {
                    cls.insert(p_.lineClass[size_t(p_.entryLine[size_t(j)])]);
                }
                w = std::int32_t(cls.size());
            }
            weight_[size_t(e)] = std::uint8_t(std::min(w, 16));
            const int m = p_.entryUrlCount(e);
            if (m < k_) {
                continue;
            }
            if (m > kMaskUrls || binomial(m, k_) > kPlainSubsets) {
                careful_[size_t(e)] = 1;
            } else {
                plain += binomial(m, k_);
            }
        }
        int bits = 16;
        while (bits < 27 && double(1ULL << bits) < plain * 3) {
            ++bits;
        }
        counterBits_ = bits;
        // Up to 128 MB: cleared on both cores in pieces, with stop requests asked between them.
        counters_ = Bulk<Counter>(size_t(1) << bits);
        const std::int64_t pieces = std::int64_t(counters_.size() >> 16) + 1;
        parallelParts(pieces, threads_, [&](std::int64_t begin, std::int64_t end, int w) {
            for (std::int64_t q = begin; q < end; ++q) {
                if (monitor_.tick(w, 0)) {
                    return;
                }
                const size_t from = std::min(counters_.size(), size_t(q) << 16);
                const size_t to = std::min(counters_.size(), size_t(q + 1) << 16);
                std::memset(static_cast<void*>(counters_.data() + from), 0, to - from);
            }
        });
    }

    std::uint32_t slotOf(std::uint64_t h) const { return std::uint32_t(h >> (64 - counterBits_)); }

    void count(std::uint64_t h, std::uint8_t w) {
        std::atomic_ref<std::uint8_t> c(counters_[slotOf(h)].v);
        if (c.load(std::memory_order_relaxed) < threshold_) {
            c.fetch_add(w, std::memory_order_relaxed);
        }
    }
    bool kept(std::uint64_t h) const {
        return std::atomic_ref<std::uint8_t>(counters_[slotOf(h)].v)
                   .load(std::memory_order_relaxed) >= threshold_;
    }

    // Every k-subset of an entry with few shared URLs.
    template <class Emit>
    void plainSubsets(std::int32_t e, Emit&& emit) const {
        const std::int32_t* ids = p_.sortedId.data() + p_.urlBegin[size_t(e)];
        const int m = p_.entryUrlCount(e);
        std::uint32_t mask = 0;
        auto rec = [&](auto&& self, int from, int left, std::uint64_t h) -> void {
            if (left == 0) {
                emit(h, mask);
                return;
            }
            for (int j = from; j <= m - left; ++j) {
                mask |= 1u << j;
                self(self, j + 1, left - 1, h + urlHash_[size_t(ids[j])]);
                mask &= ~(1u << j);
            }
        };
        rec(rec, 0, k_, 0);
    }

    // ---- entries with many shared URLs: only subsets that another entry shares ----

    void buildEntryInfo() {
        const size_t entries = p_.entries.size();
        entryLine1_.assign(entries, -1);
        entryRank_.assign(entries, -1);
        entryPlain_.assign(entries, 0);
        for (size_t e = 0; e < entries; ++e) {
            const std::int32_t b = p_.entryLineBegin[e];
            if (p_.entryLineBegin[e + 1] - b != 1) {
                continue;
            }
            const std::int32_t line = p_.entryLine[size_t(b)];
            entryLine1_[e] = line;
            entryRank_[e] = p_.lineClass[size_t(line)];
            entryPlain_[e] = p_.classLines[size_t(entryRank_[e])] == 1 ? 1 : 0;
        }
    }

    void buildNeighbourIndex() {
        urlEntryBegin_.assign(size_t(p_.urls) + 1, 0);
        for (size_t j = 0; j < p_.urlId.size(); ++j) {
            if (monitor_.stopDue<(1 << 20)>(j)) {
                return;
            }
            ++urlEntryBegin_[size_t(p_.urlId[j]) + 1];
        }
        std::partial_sum(urlEntryBegin_.begin(), urlEntryBegin_.end(), urlEntryBegin_.begin());
        if (monitor_.stopRequested()) {
            return;
        }
        urlEntry_.resize(p_.urlId.size());
        Bulk<std::int32_t> fill(urlEntryBegin_.begin(), urlEntryBegin_.end() - 1);
        for (std::int32_t e = 0; e < std::int32_t(p_.entries.size()); ++e) {
            if (monitor_.stopDue<65536>(e)) {
                return;
            }
            for (std::int32_t j = p_.urlBegin[size_t(e)]; j < p_.urlBegin[size_t(e) + 1]; ++j) {
                urlEntry_[size_t(fill[size_t(p_.urlId[size_t(j)])]++)] = e;
            }
        }
    }

    // Calls emit(hash, ids) for each k-subset of e's shared URLs that could gather enough
    // holders: a subset of what e shares with some other entry (or any subset when e's own
    // lines are enough).
    template <class Emit>
    void carefulSubsets(std::int32_t e, Emit&& emit) const {
        const std::int32_t b = p_.urlBegin[size_t(e)];
        const int m = p_.entryUrlCount(e);
        const std::int32_t* ids = p_.sortedId.data() + b;
        const size_t words = size_t(m + 63) / 64;
        Bulk<Bulk<std::uint64_t>> shared;  // per neighbour: which of e's URLs
        if (weight_[size_t(e)] < threshold_) {
            std::unordered_map<std::int32_t, std::int32_t> common;
            for (int j = 0; j < m; ++j) {
                const std::int32_t u = ids[j];
                for (std::int32_t x = urlEntryBegin_[size_t(u)]; x < urlEntryBegin_[size_t(u) + 1];
                     ++x) {
                    if (urlEntry_[size_t(x)] != e) {
                        ++common[urlEntry_[size_t(x)]];
                    }
                }
            }
            std::unordered_map<std::int32_t, size_t> index;
            for (const auto& [f, c] : common) {
                if (c >= k_) {
                    index.emplace(f, shared.size());
                    shared.emplace_back(words, 0);
                }
            }
            for (int j = 0; j < m; ++j) {
                const std::int32_t u = ids[j];
                for (std::int32_t x = urlEntryBegin_[size_t(u)]; x < urlEntryBegin_[size_t(u) + 1];
                     ++x) {
                    auto it = index.find(urlEntry_[size_t(x)]);
                    if (it != index.end()) {
                        shared[it->second][size_t(j) / 64] |= 1ULL << (j % 64);
                    }
                }
            }
            if (shared.empty()) {
                return;
            }
        }
        const bool any = shared.empty();  // every subset may count
        Bulk<std::int32_t> chosen;
        Bulk<Bulk<std::int32_t>> alive(size_t(k_) + 1);
        alive[0].resize(shared.size());
        std::iota(alive[0].begin(), alive[0].end(), 0);
        auto rec = [&](auto&& self, int from, int depth, std::uint64_t h) -> void {
            if (depth == k_) {
                emit(h, chosen);
                return;
            }
            for (int j = from; j <= m - (k_ - depth); ++j) {
                if (!any) {
                    Bulk<std::int32_t>& next = alive[size_t(depth) + 1];
                    next.clear();
                    for (std::int32_t f : alive[size_t(depth)]) {
                        if (shared[size_t(f)][size_t(j) / 64] >> (j % 64) & 1) {
                            next.push_back(f);
                        }
                    }
                    if (next.empty()) {
                        continue;
                    }
                }
                chosen.push_back(ids[j]);
                self(self, j + 1, depth + 1, h + urlHash_[size_t(ids[j])]);
                chosen.pop_back();
            }
        };
        rec(rec, 0, 0, 0);
    }

    // First pass counts each subset's holders into a table of small counters; the second keeps
    // the subsets whose counter reached the threshold (a few more through shared counters).
    bool enumerate(bool counting, double from, double to) {
        const std::int32_t entries = std::int32_t(p_.entries.size());
        Bulk<Bulk<Incidence>> parts(static_cast<size_t>(threads_));
        // Entries done, for the counter: each worker adds a stride's worth at a time.
        constexpr std::int32_t kDoneStride = 256;
        std::atomic<std::int32_t> done{0};
        parallelFor(entries, threads_, [&](std::int64_t begin, std::int64_t end, int w) {
            Bulk<Incidence>& out = parts[size_t(w)];
            std::vector<std::pair<std::uint64_t, std::uint32_t>> batch;
            for (std::int64_t e64 = begin; e64 < end; ++e64) {
                const std::int32_t e = std::int32_t(e64);
                // This thread asks for stop requests at every entry; the others look at what
                // it saw.
                if (w == 0) {
                    if (monitor_.stopRequested()) {
                        return;
                    }
                    if (pollDue<4096>(e)) {
                        monitor_.advance(from +
                                         (to - from) * double(done.load()) / double(entries));
                    }
                } else if (pollDue<256>(e) && monitor_.stopSeen()) {
                    return;
                }
                if (p_.entryUrlCount(e) < k_ || careful_[size_t(e)]) {
                    continue;
                }
                const std::uint8_t wgt = weight_[size_t(e)];
                // The counters lie anywhere in a large table: ask for all of the entry's first.
                batch.clear();
                plainSubsets(e, [&](std::uint64_t h, std::uint32_t mask) {
                    batch.emplace_back(h, mask);
                    __builtin_prefetch(&counters_[slotOf(h)]);
                });
                if (counting) {
                    for (const auto& [h, mask] : batch) {
                        count(h, wgt);
                    }
                } else {
                    for (const auto& [h, mask] : batch) {
                        if (kept(h)) {
                            out.push_back(Incidence{h, e, mask});
                        }
                    }
                }
                if (pollDue<kDoneStride>(e)) {
                    done.fetch_add(kDoneStride, std::memory_order_relaxed);
                }
            }
        });
        if (monitor_.stopRequested()) {
            return false;
        }
        // The careful entries, here on this thread (they are rare).
        Bulk<Incidence> careful;
        for (std::int32_t e = 0; e < entries; ++e) {
            if (!careful_[size_t(e)]) {
                continue;
            }
            if (monitor_.stopRequested()) {
                return false;
            }
            const std::uint8_t wgt = weight_[size_t(e)];
            carefulSubsets(e, [&](std::uint64_t h, const Bulk<std::int32_t>& ids) {
                if (counting) {
                    count(h, wgt);
                } else if (kept(h)) {
                    careful.push_back(Incidence{h, e, kSide | std::uint32_t(side_.size())});
                    side_.insert(side_.end(), ids.begin(), ids.end());
                }
            });
        }
        if (!counting) {
            size_t total = careful.size();
            for (const auto& part : parts) {
                total += part.size();
            }
            incidences_.reserve(total);
            for (auto& part : parts) {
                incidences_.insert(incidences_.end(), part.begin(), part.end());
                part = {};
            }
            incidences_.insert(incidences_.end(), careful.begin(), careful.end());
        }
        monitor_.advance(to);
        return !monitor_.stopRequested();
    }

    // Threshold 1: one incidence per shared URL of each entry, grouped by URL id (counting sort).
    bool singleUrls(double from, double to) {
        const std::int32_t entries = std::int32_t(p_.entries.size());
        Bulk<std::int32_t> begin(size_t(p_.urls) + 1, 0);
        for (std::int32_t u : p_.urlId) {
            ++begin[size_t(u) + 1];
        }
        std::partial_sum(begin.begin(), begin.end(), begin.begin());
        incidences_.resize(p_.urlId.size());
        for (std::int32_t e = 0; e < entries; ++e) {
            if (pollDue<4096>(e)) {
                if (monitor_.stopRequested()) {
                    return false;
                }
                monitor_.advance(from + (to - from) * double(e) / double(std::max(1, entries)));
            }
            const std::int32_t b = p_.urlBegin[size_t(e)];
            for (std::int32_t j = b; j < p_.urlBegin[size_t(e) + 1]; ++j) {
                const std::int32_t u = p_.sortedId[size_t(j)];
                incidences_[size_t(begin[size_t(u)]++)] =
                    Incidence{std::uint64_t(u), e, std::uint32_t(j - b)};
            }
        }
        monitor_.advance(to);
        return !monitor_.stopRequested();
    }

    // The subset's URL ids, ascending.
    void idsOf(const Incidence& x, Bulk<std::int32_t>& out) const {
        out.clear();
        if (k_ == 1) {
            out.push_back(p_.sortedId[size_t(p_.urlBegin[size_t(x.entry)]) + x.ref]);
            return;
        }
        if (x.ref & kSide) {
            const std::uint32_t at = x.ref & ~kSide;
            out.assign(side_.begin() + at, side_.begin() + at + std::uint32_t(k_));
            return;
        }
        const std::int32_t* ids = p_.sortedId.data() + p_.urlBegin[size_t(x.entry)];
        for (std::uint32_t mask = x.ref; mask; mask &= mask - 1) {
            out.push_back(ids[__builtin_ctz(mask)]);
        }
    }

    // ---- member sets ----

    // Position, in entry ea's own order, of its first URL that the sorted id range holds;
    // kNoPos for none.
    std::int32_t firstShared(std::int32_t ea, const std::int32_t* b, std::int32_t nb) const {
        const std::int32_t* a = p_.sortedId.data() + p_.urlBegin[size_t(ea)];
        const std::int32_t* aPos = p_.sortedPos.data() + p_.urlBegin[size_t(ea)];
        return firstSharedPos(a, aPos, p_.entryUrlCount(ea), b, nb);
    }
    // URLs (sorted ids) through which a line can be met: all shared ones, or those it represents.
    std::pair<const std::int32_t*, std::int32_t> metThrough(std::int32_t line) const {
        if (p_.lineFull[size_t(line)]) {
            const std::int32_t e = p_.lineEntry[size_t(line)];
            return {p_.sortedId.data() + p_.urlBegin[size_t(e)], p_.entryUrlCount(e)};
        }
        return {p_.repIds.data() + p_.repBegin[size_t(line)],
                p_.repEnd[size_t(line)] - p_.repBegin[size_t(line)]};
    }

    struct Event {
        std::int32_t pos;   // of the URL in i's list
        std::int32_t rank;  // of o's text
        std::int32_t other;
        bool operator<(const Event& e) const { return pos != e.pos ? pos < e.pos : rank < e.rank; }
    };
    // The meetings of line i with the other holders, in the order of the line-by-line
    // algorithm; a pair met through several URLs is met once for each.
    void eventsOf(std::int32_t i, const Bulk<std::int32_t>& holders,
                  const Bulk<std::int32_t>& among, Bulk<Event>& out) const {
        out.clear();
        const std::int32_t ei = p_.lineEntry[size_t(i)];
        const std::int32_t* a = p_.sortedId.data() + p_.urlBegin[size_t(ei)];
        const std::int32_t* aPos = p_.sortedPos.data() + p_.urlBegin[size_t(ei)];
        const std::int32_t na = p_.entryUrlCount(ei);
        (void)holders;
        for (std::int32_t o : among) {
            if (o == i) {
                continue;
            }
            const auto [b, nb] = metThrough(o);
            forEachShared(a, na, b, nb, [&](std::int32_t x) {
                out.push_back(Event{aPos[x], p_.lineClass[size_t(o)], o});
            });
        }
        std::sort(out.begin(), out.end());
    }

    // For one thread: where the current first holder meets each entry, once worked out.
    struct MeetCache {
        Bulk<std::int32_t> first;
        Bulk<std::int32_t> owner;
    };

    // The member set of a subset whose holders (ascending) are entries of one line each, with
    // texts that occur on no other line: the first holder i0, then the others in the order in
    // which i0 meets them, by the earliest URL of i0 they hold, then by text.
    void plainMembers(const Bulk<std::int32_t>& he, Bulk<Member>& out,
                      Bulk<std::pair<std::uint64_t, std::int32_t>>& tmp, MeetCache& cache) const {
        out.clear();
        const std::int32_t e0 = he[0];
        tmp.clear();
        for (size_t y = 1; y < he.size(); ++y) {
            const std::int32_t e = he[y];
            if (cache.owner[size_t(e)] != e0) {
                cache.owner[size_t(e)] = e0;
                cache.first[size_t(e)] = firstShared(
                    e0, p_.sortedId.data() + p_.urlBegin[size_t(e)], p_.entryUrlCount(e));
            }
            tmp.emplace_back((std::uint64_t(std::uint32_t(cache.first[size_t(e)])) << 32) |
                                 std::uint32_t(entryRank_[size_t(e)]),
                             e);
        }
        std::sort(tmp.begin(), tmp.end());
        out.push_back(Member{entryRank_[size_t(e0)], entryLine1_[size_t(e0)]});
        for (const auto& [order, e] : tmp) {
            out.push_back(Member{entryRank_[size_t(e)], entryLine1_[size_t(e)]});
        }
    }

    // The member set of one subset, given its holder lines (ascending).
    void memberSet(const Bulk<std::int32_t>& holders, Bulk<Member>& out, Bulk<Event>& events,
                   Bulk<std::pair<std::uint64_t, std::int32_t>>& tmp) const {
        out.clear();
        bool clean = true;
        for (std::int32_t line : holders) {
            if (p_.classLines[size_t(p_.lineClass[size_t(line)])] != 1) {
                clean = false;
                break;
            }
        }
        if (clean) {
            const std::int32_t i0 = holders[0];
            const std::int32_t e0 = p_.lineEntry[size_t(i0)];
            tmp.clear();
            for (size_t j = 1; j < holders.size(); ++j) {
                const std::int32_t o = holders[j];
                const std::int32_t eo = p_.lineEntry[size_t(o)];
                const std::int32_t first = firstShared(
                    e0, p_.sortedId.data() + p_.urlBegin[size_t(eo)], p_.entryUrlCount(eo));
                tmp.emplace_back((std::uint64_t(std::uint32_t(first)) << 32) |
                                     std::uint32_t(p_.lineClass[size_t(o)]),
                                 o);
            }
            std::sort(tmp.begin(), tmp.end());
            out.push_back(Member{p_.lineClass[size_t(i0)], i0});
            for (const auto& [order, o] : tmp) {
                out.push_back(Member{p_.lineClass[size_t(o)], o});
            }
            return;
        }
        // Replay the recordings. First the order of first recording, until every class of the
        // holders has appeared (usually after the first meeting line)...
        std::unordered_map<std::int32_t, size_t> at;
        std::unordered_map<std::int32_t, Bulk<std::int32_t>> linesOf;
        for (std::int32_t line : holders) {
            linesOf[p_.lineClass[size_t(line)]].push_back(line);
        }
        auto record = [&](std::int32_t line) {
            const std::int32_t c = p_.lineClass[size_t(line)];
            auto [it, inserted] = at.emplace(c, out.size());
            if (inserted) {
                out.push_back(Member{c, line});
            } else {
                out[it->second].line = line;
            }
        };
        for (std::int32_t i : holders) {
            if (out.size() == linesOf.size()) {
                break;
            }
            eventsOf(i, holders, holders, events);
            for (const Event& ev : events) {
                record(i);
                record(ev.other);
            }
        }
        // ...then the text each class keeps: the one recorded last, for classes whose lines
        // differ in spelling.
        for (Member& mem : out) {
            const Bulk<std::int32_t>& own = linesOf[mem.cls];
            bool alike = true;
            for (std::int32_t line : own) {
                alike = alike && p_.text(line) == p_.text(own[0]);
            }
            if (alike) {
                mem.line = own[0];
                continue;
            }
            for (auto it = holders.rbegin(); it != holders.rend(); ++it) {
                const std::int32_t i = *it;
                const bool mine = p_.lineClass[size_t(i)] == mem.cls;
                eventsOf(i, holders, mine ? holders : own, events);
                if (events.empty()) {
                    continue;
                }
                const std::int32_t o = events.back().other;
                mem.line = p_.lineClass[size_t(o)] == mem.cls ? o : i;
                break;
            }
        }
    }

    void collectCandidates() {
        // Runs of equal hash; split only where the ids differ.
        Bulk<size_t> runs;
        for (size_t a = 0; a < incidences_.size();) {
            runs.push_back(a);
            size_t b = a + 1;
            while (b < incidences_.size() && incidences_[b].hash == incidences_[a].hash) {
                ++b;
            }
            a = b;
        }
        runs.push_back(incidences_.size());
        const std::int64_t nruns = std::int64_t(runs.size()) - 1;
        // Subsets with the same first holder come one after another: what that holder meets
        // first in each other holder is then worked out once.
        Bulk<std::uint64_t> byOwner(static_cast<size_t>(nruns));
        for (std::int64_t r = 0; r < nruns; ++r) {
            std::int32_t owner = INT32_MAX;
            for (size_t x = runs[size_t(r)]; x < runs[size_t(r) + 1]; ++x) {
                owner = std::min(owner, incidences_[x].entry);
            }
            byOwner[size_t(r)] = (std::uint64_t(std::uint32_t(r)) << 32) | std::uint32_t(owner);
        }
        radixSort(
            byOwner, [](std::uint64_t v) { return v & 0xFFFFFFFFu; }, 32);
        candidates_.assign(size_t(threads_), {});
        keys_.assign(size_t(threads_), {});
        members_.assign(size_t(threads_), {});
        parallelFor(nruns, threads_, [&](std::int64_t begin, std::int64_t end, int w) {
            MeetCache cache;
            cache.first.assign(p_.entries.size(), 0);
            cache.owner.assign(p_.entries.size(), -1);
            Bulk<std::int32_t> ids;
            Bulk<std::int32_t> first;
            Bulk<std::int32_t> entries;
            Bulk<std::int32_t> holders;
            Bulk<Member> set;
            Bulk<Event> events;
            Bulk<std::pair<std::uint64_t, std::int32_t>> tmp;
            Bulk<std::pair<Bulk<std::int32_t>, Bulk<std::int32_t>>> keys;
            auto keep = [&](const Bulk<std::int32_t>& key) {
                candidates_[size_t(w)].push_back(
                    Candidate{std::int32_t(set.size()), std::int32_t(keys_[size_t(w)].size()),
                              std::int32_t(members_[size_t(w)].size()), w});
                keys_[size_t(w)].insert(keys_[size_t(w)].end(), key.begin(), key.end());
                members_[size_t(w)].insert(members_[size_t(w)].end(), set.begin(), set.end());
            };
            auto emit = [&](const Bulk<std::int32_t>& key, Bulk<std::int32_t>& holderEntries) {
                if (!std::is_sorted(holderEntries.begin(), holderEntries.end())) {
                    std::sort(holderEntries.begin(), holderEntries.end());
                }
                bool plain = true;
                for (size_t j = 0; plain && j < holderEntries.size(); ++j) {
                    plain = entryPlain_[size_t(holderEntries[j])] != 0;
                }
                if (plain) {
                    if (holderEntries.size() < 2 || std::int32_t(holderEntries.size()) < k_) {
                        return;
                    }
                    plainMembers(holderEntries, set, tmp, cache);
                    keep(key);
                    return;
                }
                holders.clear();
                for (std::int32_t e : holderEntries) {
                    const std::int32_t b = p_.entryLineBegin[size_t(e)];
                    const std::int32_t nl = p_.entryLineBegin[size_t(e) + 1] - b;
                    holders.insert(holders.end(), p_.entryLine.begin() + b,
                                   p_.entryLine.begin() + b + nl);
                }
                std::sort(holders.begin(), holders.end());
                if (holders.size() < 2 || std::int32_t(holders.size()) < k_) {
                    return;
                }
                memberSet(holders, set, events, tmp);
                if (std::int32_t(set.size()) < k_) {
                    return;
                }
                keep(key);
            };
            for (std::int64_t q = begin; q < end; ++q) {
                if (monitor_.tickThrough<1024>(w, q - begin, end - begin)) {
                    return;
                }
                const std::int64_t r = std::int64_t(byOwner[size_t(q)] >> 32);
                const size_t a = runs[size_t(r)];
                const size_t b = runs[size_t(r) + 1];
                // Almost always one subset per hash value: check that first, without sorting
                // anything out.
                idsOf(incidences_[a], first);
                bool uniform = true;
                if (k_ > 1) {
                    for (size_t x = a + 1; x < b && uniform; ++x) {
                        idsOf(incidences_[x], ids);
                        uniform = ids == first;
                    }
                }
                if (uniform) {
                    entries.clear();
                    for (size_t x = a; x < b; ++x) {
                        entries.push_back(incidences_[x].entry);
                    }
                    emit(first, entries);
                    continue;
                }
                keys.clear();
                for (size_t x = a; x < b; ++x) {
                    idsOf(incidences_[x], ids);
                    auto it = std::find_if(keys.begin(), keys.end(),
                                           [&](const auto& key) { return key.first == ids; });
                    if (it == keys.end()) {
                        keys.emplace_back(ids, Bulk<std::int32_t>{});
                        it = keys.end() - 1;
                    }
                    it->second.push_back(incidences_[x].entry);
                }
                for (auto& [key, holderEntries] : keys) {
                    emit(key, holderEntries);
                }
            }
        });
    }

    // ---- the order of keys ----

    Bulk<std::int32_t> keyOrder() {
        for (auto& part : candidates_) {
            all_.insert(all_.end(), part.begin(), part.end());
            part = {};
        }
        const Collation& c = *p_.collation;
        const OrderKeys& table = OrderKeys::of(c);
        // URL ranks for the URLs of candidate keys.
        Bulk<std::int32_t> used;
        {
            Bulk<std::uint8_t> mark(size_t(p_.urls), 0);
            for (const auto& part : keys_) {
                for (std::int32_t u : part) {
                    if (!mark[size_t(u)]) {
                        mark[size_t(u)] = 1;
                        used.push_back(u);
                    }
                }
            }
        }
        urlRank_.assign(size_t(p_.urls), -1);
        sepRank_.assign(size_t(p_.urls), -1);
        const std::uint8_t sep = table.usable() ? table.classOf(u'|') : OrderKeys::kUnknown;
        const bool canSplit =
            table.usable() && table.asciiExact() && sep != 0 && sep != OrderKeys::kUnknown;
        // The weights of each used URL (ASCII ones with keys), one after the other. The texts lie
        // scattered over the heap, so both cores read them, asking for the next ones early.
        Bulk<char> arena;
        Bulk<std::uint32_t> offset(used.size(), 0);
        Bulk<std::uint32_t> length(used.size(), 0);
        Bulk<std::uint8_t> simple(used.size(), 0);
        {
            Bulk<QStringView> texts(used.size());
            const std::int64_t nu = std::int64_t(used.size());
            parallelFor(nu, threads_, [&](std::int64_t begin, std::int64_t end, int w) {
                for (std::int64_t j = begin; j < end; ++j) {
                    if (monitor_.tickDue<65536>(w, j - begin, 0)) {
                        return;
                    }
                    if (j + 8 < end) {
                        const auto [e, pos] = p_.urlWhere[size_t(used[size_t(j + 8)])];
                        __builtin_prefetch(p_.entries[size_t(e)]);
                    }
                    texts[size_t(j)] = p_.urlText(used[size_t(j)]);
                }
            });
            if (monitor_.stopRequested()) {
                return {};
            }
            size_t room = 0;
            for (size_t j = 0; j < used.size(); ++j) {
                offset[j] = std::uint32_t(room);
                room += size_t(texts[j].size()) + 1;
            }
            arena.resize(room);
            parallelFor(nu, threads_, [&](std::int64_t begin, std::int64_t end, int w) {
                for (std::int64_t j = begin; j < end; ++j) {
                    if (monitor_.tickDue<65536>(w, j - begin, 0)) {
                        return;
                    }
                    if (j + 8 < end) {
                        __builtin_prefetch(texts[size_t(j + 8)].utf16());
                    }
                    const size_t at = offset[size_t(j)];
                    bool ascii = false;
                    const int n =
                        table.usable()
                            ? table.fold(texts[size_t(j)],
                                         reinterpret_cast<std::uint8_t*>(arena.data() + at), &ascii)
                            : -1;
                    if (n < 0 || !ascii) {
                        continue;
                    }
                    length[size_t(j)] = std::uint32_t(n);
                    simple[size_t(j)] =
                        canSplit && std::memchr(arena.data() + at, char(sep), size_t(n)) == nullptr;
                }
            });
            if (monitor_.stopRequested()) {
                return {};
            }
        }
        if (p_.urlIdsInOrder) {
            for (std::int32_t u : used) {
                urlRank_[size_t(u)] = u;
            }
        } else {
            // Hashed ids: every URL is ASCII with an exact key; rank them by their weights.
            const Bulk<std::int32_t> r = rankBytes(arena, offset, length, &monitor_);
            for (size_t j = 0; j < used.size(); ++j) {
                urlRank_[size_t(used[j])] = r[j];
            }
        }
        if (k_ > 1 && canSplit) {
            // Each URL followed by "|": the order of all but the last URL of a key.
            Bulk<std::uint32_t> off2;
            Bulk<std::uint32_t> len2;
            Bulk<std::int32_t> which;
            for (size_t j = 0; j < used.size(); ++j) {
                if (simple[j]) {
                    arena[offset[j] + length[j]] = char(sep);
                    off2.push_back(offset[j]);
                    len2.push_back(length[j] + 1);
                    which.push_back(used[j]);
                }
            }
            const Bulk<std::int32_t> r = rankBytes(arena, off2, len2, &monitor_);
            for (size_t j = 0; j < which.size(); ++j) {
                sepRank_[size_t(which[j])] = r[j];
            }
        } else if (canSplit) {
            for (size_t j = 0; j < used.size(); ++j) {
                sepRank_[size_t(used[j])] = simple[j] ? 0 : -1;
            }
        }
        // Each key: its URLs in collation order, and whether the tuple order holds for it.
        const size_t nc = all_.size();
        tuple_.assign(nc * size_t(k_), 0);
        plainKey_.assign(nc, 1);
        if (monitor_.stopRequested()) {
            return {};
        }
        for (size_t j = 0; j < nc; ++j) {
            if (monitor_.stopDue<65536>(j)) {
                return {};
            }
            std::int32_t* key = keys_[size_t(all_[j].part)].data() + all_[j].keyAt;
            std::sort(key, key + k_, [&](std::int32_t a, std::int32_t b) {
                return urlRank_[size_t(a)] < urlRank_[size_t(b)];
            });
            for (int x = 0; x < k_; ++x) {
                const std::int32_t u = key[x];
                if (sepRank_[size_t(u)] < 0) {
                    plainKey_[j] = 0;
                }
                tuple_[j * size_t(k_) + size_t(x)] =
                    x + 1 < k_ ? sepRank_[size_t(u)] : urlRank_[size_t(u)];
            }
        }
        Bulk<std::int32_t> order(nc);
        std::iota(order.begin(), order.end(), 0);
        bool anyJoined = false;
        for (std::uint8_t pk : plainKey_) {
            anyJoined = anyJoined || !pk;
        }
        if (anyJoined) {
            joined_.resize(nc);
            for (size_t j = 0; j < nc; ++j) {
                if (!plainKey_[j]) {
                    joined_[j] = joinedText(j);
                }
            }
        }
        if (!anyJoined) {
            // Tuple order, component by component from the last (each pass keeps the order of
            // equals).
            Bulk<std::uint64_t> items(nc);
            for (int x = k_ - 1; x >= 0; --x) {
                for (size_t j = 0; j < nc; ++j) {
                    const std::uint32_t idx = std::uint32_t(order[j]);
                    items[j] = (std::uint64_t(idx) << 32) |
                               std::uint32_t(tuple_[size_t(idx) * size_t(k_) + size_t(x)]);
                }
                radixSort(
                    items, [](std::uint64_t v) { return v & 0xFFFFFFFFu; }, 32);
                for (size_t j = 0; j < nc; ++j) {
                    order[j] = std::int32_t(items[j] >> 32);
                }
            }
            return order;
        }
        const int parts = nc >= 100'000 ? threads_ : 1;
        Bulk<std::unique_ptr<Collation>> extra;
        for (int w = 1; w < parts && anyJoined; ++w) {
            extra.push_back(std::make_unique<Collation>(c.locale()));
        }
        auto less = [&](const Collation& coll) {
            return
                [&, this](std::int32_t a, std::int32_t b) { return compareKeys(a, b, coll) < 0; };
        };
        Bulk<size_t> bounds;
        for (int q = 0; q <= parts; ++q) {
            bounds.push_back(nc * size_t(q) / size_t(parts));
        }
        parallelParts(parts, parts, [&](std::int64_t begin, std::int64_t end, int w) {
            const Collation& coll = w == 0 || !anyJoined ? c : *extra[size_t(w - 1)];
            for (std::int64_t q = begin; q < end; ++q) {
                std::sort(order.begin() + std::ptrdiff_t(bounds[size_t(q)]),
                          order.begin() + std::ptrdiff_t(bounds[size_t(q) + 1]), less(coll));
            }
        });
        for (int q = 1; q < parts; ++q) {
            std::inplace_merge(order.begin(), order.begin() + std::ptrdiff_t(bounds[size_t(q)]),
                               order.begin() + std::ptrdiff_t(bounds[size_t(q) + 1]), less(c));
        }
        return order;
    }

    QString joinedText(size_t j) const {
        const std::int32_t* key = keys_[size_t(all_[j].part)].data() + all_[j].keyAt;
        QString s;
        for (int x = 0; x < k_; ++x) {
            if (x) {
                s += u'|';
            }
            s += p_.urlText(key[x]);
        }
        return s;
    }

    int compareKeys(std::int32_t a, std::int32_t b, const Collation& c) const {
        if (plainKey_[size_t(a)] && plainKey_[size_t(b)]) {
            const std::int32_t* ta = tuple_.data() + size_t(a) * size_t(k_);
            const std::int32_t* tb = tuple_.data() + size_t(b) * size_t(k_);
            for (int x = 0; x < k_; ++x) {
                if (ta[x] != tb[x]) {
                    return ta[x] < tb[x] ? -1 : 1;
                }
            }
            return 0;
        }
        const QString ja = plainKey_[size_t(a)] ? joinedText(size_t(a)) : joined_[size_t(a)];
        const QString jb = plainKey_[size_t(b)] ? joinedText(size_t(b)) : joined_[size_t(b)];
        const int r = c.compare(ja, jb);
        if (r != 0) {
            return r;
        }
        // Different URL sets whose joined texts read alike (a URL holding "|") stay apart,
        // ordered URL by URL.
        const std::int32_t* ka = keys_[size_t(all_[size_t(a)].part)].data() + all_[size_t(a)].keyAt;
        const std::int32_t* kb = keys_[size_t(all_[size_t(b)].part)].data() + all_[size_t(b)].keyAt;
        for (int x = 0; x < k_; ++x) {
            if (ka[x] != kb[x]) {
                return urlRank_[size_t(ka[x])] < urlRank_[size_t(kb[x])] ? -1 : 1;
            }
        }
        return 0;
    }

    // ---- the bucket and leftover passes ----

    void bucketPass(const Bulk<std::int32_t>& order, TStringListDynArray& groups) {
        placed_.assign(size_t(p_.classes), 0);
        std::int32_t maxSize = 0;
        for (const Candidate& cand : all_) {
            maxSize = std::max(maxSize, cand.size);
        }
        // A bucket entry: members in the arrays of a part, or (part -1) in the queue arena.
        struct Entry {
            std::int32_t part;
            std::int32_t at;
        };
        Bulk<Bulk<Entry>> buckets(static_cast<size_t>(maxSize));
        for (std::int32_t j : order) {
            const Candidate& cand = all_[size_t(j)];
            buckets[size_t(cand.size) - 1].push_back(Entry{cand.part, cand.memberAt});
        }
        Bulk<Member> queued;
        std::uint64_t examined = 0;
        Bulk<Member> fresh;
        for (std::int32_t s = maxSize; s >= k_; --s) {
            for (size_t x = 0; x < buckets[size_t(s) - 1].size(); ++x) {
                // Asked here too, so that a stop is obeyed soon; a stopped run is not shown.
                if (monitor_.stopDue<4096>(++examined)) {
                    return;
                }
                const Entry en = buckets[size_t(s) - 1][x];
                const Member* m =
                    en.part >= 0 ? members_[size_t(en.part)].data() + en.at : queued.data() + en.at;
                fresh.clear();
                for (std::int32_t y = 0; y < s; ++y) {
                    if (!placed_[size_t(m[y].cls)]) {
                        fresh.push_back(m[y]);
                    }
                }
                const std::int32_t f = std::int32_t(fresh.size());
                if (f < k_) {
                    continue;
                }
                if (f == s) {
                    auto list = std::make_unique<QStringList>();
                    list->reserve(f);
                    for (const Member& mem : fresh) {
                        placed_[size_t(mem.cls)] = 1;
                        list->append(p_.text(mem.line));
                    }
                    groups.push_back(std::move(list));
                } else {
                    buckets[size_t(f) - 1].push_back(Entry{-1, std::int32_t(queued.size())});
                    queued.insert(queued.end(), fresh.begin(), fresh.end());
                }
            }
        }
    }

    void leftoverPass(TStringListDynArray& groups) {
        if (placed_.empty()) {
            placed_.assign(size_t(p_.classes), 0);
        }
        for (std::int32_t i = 0; i < p_.lines; ++i) {
            if (monitor_.stopDue<65536>(i)) {
                return;
            }
            if (!placed_[size_t(p_.lineClass[size_t(i)])]) {
                groups.push_back(std::make_unique<QStringList>(QStringList{p_.text(i)}));
            }
        }
    }

    const Prepared& p_;
    const int k_;
    Monitor& monitor_;
    const int threads_;

    Bulk<std::uint64_t> urlHash_;
    std::uint8_t threshold_ = 2;
    Bulk<std::uint8_t> weight_;
    Bulk<std::uint8_t> careful_;
    int counterBits_ = 16;
    // Counters of subsets by hash slot, used through atomic_ref by both cores. Left unset when
    // made and cleared in pieces (see setUp).
    struct Counter {
        Counter() {}
        std::uint8_t v;
    };
    static_assert(sizeof(Counter) == 1, "cleared with memset by count of counters");
    static_assert(std::atomic_ref<std::uint8_t>::required_alignment <= alignof(Counter));
    mutable Bulk<Counter> counters_;
    // Per entry: its line if it has one, that line's text rank, and whether that text occurs on
    // no other line (the common case, with its quick member order).
    Bulk<std::int32_t> entryLine1_;
    Bulk<std::int32_t> entryRank_;
    Bulk<std::uint8_t> entryPlain_;
    Bulk<std::int32_t> urlEntryBegin_;
    Bulk<std::int32_t> urlEntry_;

    Bulk<Incidence> incidences_;
    Bulk<std::int32_t> side_;

    Bulk<Bulk<Candidate>> candidates_;
    Bulk<Bulk<std::int32_t>> keys_;
    Bulk<Bulk<Member>> members_;
    Bulk<Candidate> all_;
    Bulk<std::int32_t> urlRank_;
    Bulk<std::int32_t> sepRank_;
    Bulk<std::int32_t> tuple_;
    Bulk<std::uint8_t> plainKey_;
    Bulk<QString> joined_;
    Bulk<std::uint8_t> placed_;
};

}  // namespace

void runHard(const Prepared& p, int k, TStringListDynArray& groups, Monitor& monitor,
             double progressFrom) {
    Hard(p, k, monitor).run(groups, progressFrom);
}

}  // namespace kelvara::engine_detail
