// The soft method, fast: the same groups, slots and merges as the line-by-line algorithm.
//
// The line-by-line algorithm meets, for each line i, every line that shares a URL with it and
// joins those that share at least k. Only some of those meetings change anything: a candidate
// already in i's group is skipped. This engine finds, for each line in order, just the candidates
// that can still change something, and replays their joins in the order in which the line-by-line
// algorithm would have met them: by the position of the first shared URL in i's list, then by the
// candidate's text. That reproduces every slot, every merge (and so which slot survives) and the
// letter case kept in each group.
//
// Finding the candidates:
// - Two lines that share at least k URLs share a URL among the first m - k + 1 of each one's
//   shared URLs, taken rarest first (a prefix filter). So each line is listed under its prefix
//   URLs, and i looks only there.
// - A line that represents all its URLs (every line but some repeated ones) is met by every line
//   that shares a URL with it, so a pair of such lines is settled when the earlier one is
//   processed: such an i looks only at lines after it. A line that does not represent all its
//   URLs looks both ways.
// - After a line has scanned the lines listed under a URL, every later one it did not join is
//   noted. A later line of the same group only needs to look at those: the others are in its
//   group already.

#include "clustering/engine_methods.h"
#include "clustering/engine_parallel.h"

#include "clustering/sorted_intersection.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

namespace kelvara::engine_detail {

namespace {

using shares::kSoft;

class Soft {
public:
    Soft(const Prepared& p, int k, Monitor& monitor) : p_(p), k_(k), monitor_(monitor) {}

    void run(TStringListDynArray& groups, double progressFrom) {
        const double mainFrom = progressFrom + (1.0 - progressFrom) * kSoft.prefixIndex;
        monitor_.phase(progressFrom, mainFrom);
        if (!buildPrefixIndex()) {
            return;
        }
        hot_.assign(p_.entries.size(), Hot{});
        for (size_t e = 0; e < hot_.size(); ++e) {
            Hot& h = hot_[e];
            const std::int32_t b = p_.urlBegin[e];
            h.count = p_.urlBegin[e + 1] - b;
            if (h.count <= kInline) {
                std::copy(p_.sortedId.begin() + b, p_.sortedId.begin() + b + h.count, h.ids);
            }
            h.singleLine = p_.entryLineBegin[e + 1] - p_.entryLineBegin[e] == 1 ? 1 : 0;
        }
        classSlot_.assign(size_t(p_.classes), -1);
        seenIter_.assign(size_t(p_.lines), -1);
        seenValid_.assign(size_t(p_.lines), 0);
        const std::int32_t n = p_.lines;
        for (std::int32_t i = 0; i < n; ++i) {
            if (monitor_.stopRequested()) {
                break;
            }
            // Memory is the cost here: ask early for what the next lines will read.
            if (i + 2 < n) {
                prefetchTokens(i + 2);
            }
            if (i + 1 < n) {
                prefetchLists(i + 1);
            }
            line(i);
            if (pollDue<1024>(i + 1) || i + 1 == n) {
                monitor_.advance(mainFrom + (1.0 - mainFrom) * double(i + 1) / double(n));
            }
        }
        // A stopped run is not shown: writing out its groups would only delay the stop.
        if (monitor_.stopSeen()) {
            return;
        }
        output(groups);
    }

private:
    struct Group {
        Bulk<std::int32_t> lines;    // the line whose text stands for each class
        Bulk<std::int32_t> entries;  // every entry that has joined
    };
    struct Candidate {
        std::uint64_t order;  // first shared URL's position in i's list, then the text's rank
        std::int32_t line;
        bool operator<(const Candidate& o) const { return order < o.order; }
    };

    // False when a stop was requested meanwhile.
    bool buildPrefixIndex() {
        const std::int32_t entries = std::int32_t(p_.entries.size());
        const int threads = engineThreads();
        // Each entry's prefix: its first m - k + 1 shared URLs, rarest first.
        prefixBegin_.assign(size_t(entries) + 1, 0);
        for (std::int32_t e = 0; e < entries; ++e) {
            const std::int32_t m = p_.urlBegin[size_t(e) + 1] - p_.urlBegin[size_t(e)];
            prefixBegin_[size_t(e) + 1] = prefixBegin_[size_t(e)] + (m >= k_ ? m - k_ + 1 : 0);
        }
        prefix_.resize(size_t(prefixBegin_.back()));
        const auto rarer = [&](std::int32_t a, std::int32_t c) {
            const std::int32_t fa = p_.urlLines[size_t(a)];
            const std::int32_t fc = p_.urlLines[size_t(c)];
            return fa != fc ? fa < fc : a < c;
        };
        parallelFor(entries, threads, [&](std::int64_t begin, std::int64_t end, int w) {
            for (std::int64_t e = begin; e < end; ++e) {
                if (monitor_.tickThrough<16384>(w, e - begin, end - begin, kSoft.prefixes)) {
                    return;
                }
                const std::int32_t b = p_.urlBegin[size_t(e)];
                const std::int32_t m = p_.urlBegin[size_t(e) + 1] - b;
                if (m >= k_) {
                    std::partial_sort_copy(p_.sortedId.begin() + b, p_.sortedId.begin() + b + m,
                                           prefix_.begin() + prefixBegin_[size_t(e)],
                                           prefix_.begin() + prefixBegin_[size_t(e) + 1], rarer);
                }
            }
        });
        if (monitor_.tick(0, kSoft.prefixes)) {
            return false;
        }
        // The lines listed under each URL, in work order: counted and placed per range of lines,
        // each range's part of a URL's list following the earlier ranges' parts.
        const std::int32_t n = p_.lines;
        const int chunks = std::max(1, threads);
        auto chunkBegin = [&](int c) { return std::int32_t(std::int64_t(n) * c / chunks); };
        auto prefixOf = [&](std::int32_t i, auto&& f) {
            const std::int32_t e = p_.lineEntry[size_t(i)];
            if (e >= 0) {
                for (std::int32_t j = prefixBegin_[size_t(e)]; j < prefixBegin_[size_t(e) + 1];
                     ++j) {
                    f(prefix_[size_t(j)]);
                }
            }
        };
        Bulk<Bulk<std::int32_t>> at(static_cast<size_t>(chunks));
        parallelParts(chunks, threads, [&](std::int64_t begin, std::int64_t end, int w) {
            for (std::int64_t c = begin; c < end; ++c) {
                Bulk<std::int32_t>& count = at[size_t(c)];
                count.assign(size_t(p_.urls), 0);
                for (std::int32_t i = chunkBegin(int(c)); i < chunkBegin(int(c) + 1); ++i) {
                    if (monitor_.tickDue<16384>(w, i, kSoft.prefixes)) {
                        return;
                    }
                    prefixOf(i, [&](std::int32_t u) { ++count[size_t(u)]; });
                }
            }
        });
        if (monitor_.tick(0, kSoft.counted)) {
            return false;
        }
        listBegin_.assign(size_t(p_.urls) + 1, 0);
        for (std::int32_t u = 0; u < p_.urls; ++u) {
            if (monitor_.tickDue<65536>(0, u, kSoft.counted)) {
                return false;
            }
            std::int32_t sum = listBegin_[size_t(u)];
            for (int c = 0; c < chunks; ++c) {
                const std::int32_t cnt = at[size_t(c)][size_t(u)];
                at[size_t(c)][size_t(u)] = sum;
                sum += cnt;
            }
            listBegin_[size_t(u) + 1] = sum;
        }
        if (monitor_.tick(0, kSoft.offsets)) {
            return false;
        }
        list_.resize(size_t(listBegin_.back()));
        listEntry_.resize(list_.size());
        parallelParts(chunks, threads, [&](std::int64_t begin, std::int64_t end, int w) {
            for (std::int64_t c = begin; c < end; ++c) {
                Bulk<std::int32_t>& next = at[size_t(c)];
                for (std::int32_t i = chunkBegin(int(c)); i < chunkBegin(int(c) + 1); ++i) {
                    if (monitor_.tickDue<16384>(w, i, kSoft.offsets)) {
                        return;
                    }
                    const std::int32_t e = p_.lineEntry[size_t(i)];
                    prefixOf(i, [&](std::int32_t u) {
                        const std::int32_t x = next[size_t(u)]++;
                        list_[size_t(x)] = i;
                        listEntry_[size_t(x)] = e;
                    });
                }
            }
        });
        at = {};
        if (monitor_.tick(0, kSoft.placed)) {
            return false;
        }
        cursor_.assign(listBegin_.begin(), listBegin_.end() - 1);
        rep_.assign(size_t(p_.urls), -1);
        exceptionBegin_.assign(size_t(p_.urls), 0);
        exceptionCount_.assign(size_t(p_.urls), 0);
        return !monitor_.tick(0, 1.0);
    }

    // How many ids two shared lists hold in common; the one of `b` is usually short enough to
    // be held in vectors.
    static std::int32_t commonCount(const std::int32_t* a, std::int32_t na, const std::int32_t* b,
                                    std::int32_t nb) {
        return nb <= kInline ? sharedCountShort<kInline>(a, na, b, nb) : sharedCount(a, na, b, nb);
    }

    // The shared ids of an entry, sorted: inline in its record when they fit.
    const std::int32_t* idsOf(std::int32_t e) const {
        const Hot& h = hot_[size_t(e)];
        return h.count <= kInline ? h.ids : p_.sortedId.data() + p_.urlBegin[size_t(e)];
    }

    // Whether o is settled for line i: in i's group already, or a valid candidate (recorded).
    bool consider(std::int32_t i, std::int32_t e, std::int32_t gi, std::int32_t o,
                  std::int32_t eo) {
        Hot& h = hot_[size_t(eo)];
        if (h.gi >= 0 && h.gi == gi) {
            return true;
        }
        // Met already in this iteration? (Kept in the record for an entry of one line.)
        std::int32_t& seen = h.singleLine ? h.seenIter : seenIter_[size_t(o)];
        std::uint8_t& seenValid = h.singleLine ? h.seenValid : seenValid_[size_t(o)];
        if (seen == i) {
            return seenValid != 0;
        }
        seen = i;
        const std::int32_t* a = idsOf(e);
        const std::int32_t na = hot_[size_t(e)].count;
        const std::int32_t* b = idsOf(eo);
        const std::int32_t nb = h.count;
        const std::int32_t count = commonCount(a, na, b, nb);
        bool valid = count >= k_;
        std::int32_t first = 0;
        if (valid) {
            // Where the first URL of i that o can be met through stands in i's own order.
            const std::int32_t* aPos = p_.sortedPos.data() + p_.urlBegin[size_t(e)];
            if (p_.lineFull[size_t(o)]) {
                first = firstSharedPos(a, aPos, na, b, nb);
            } else {
                first = firstSharedPos(a, aPos, na, p_.repIds.data() + p_.repBegin[size_t(o)],
                                       p_.repEnd[size_t(o)] - p_.repBegin[size_t(o)]);
                valid = first != kNoPos;
            }
        }
        seenValid = valid ? 1 : 0;
        if (valid) {
            candidates_.push_back(Candidate{(std::uint64_t(std::uint32_t(first)) << 32) |
                                                std::uint32_t(p_.lineClass[size_t(o)]),
                                            o});
        }
        return valid;
    }

    // The per-URL state a line will read.
    void prefetchTokens(std::int32_t i) const {
        const std::int32_t e = p_.lineEntry[size_t(i)];
        if (e < 0) {
            return;
        }
        __builtin_prefetch(&hot_[size_t(e)]);
        for (std::int32_t j = prefixBegin_[size_t(e)]; j < prefixBegin_[size_t(e) + 1]; ++j) {
            const std::int32_t t = prefix_[size_t(j)];
            __builtin_prefetch(&rep_[size_t(t)]);
            __builtin_prefetch(&exceptionBegin_[size_t(t)]);
            __builtin_prefetch(&exceptionCount_[size_t(t)]);
            __builtin_prefetch(&cursor_[size_t(t)]);
        }
    }
    // The lines listed under those URLs, and their records.
    void prefetchLists(std::int32_t i) const {
        const std::int32_t e = p_.lineEntry[size_t(i)];
        if (e < 0) {
            return;
        }
        for (std::int32_t j = prefixBegin_[size_t(e)]; j < prefixBegin_[size_t(e) + 1]; ++j) {
            const std::int32_t t = prefix_[size_t(j)];
            const std::int32_t b = exceptionBegin_[size_t(t)];
            const std::int32_t n = std::min<std::int32_t>(exceptionCount_[size_t(t)], 8);
            for (std::int32_t q = 0; q < n; ++q) {
                __builtin_prefetch(&hot_[size_t(exceptions_[size_t(b + q)].entry)]);
            }
            const std::int32_t at = cursor_[size_t(t)];
            const std::int32_t end = std::min(listBegin_[size_t(t) + 1], at + 9);
            for (std::int32_t x = at + 1; x < end; ++x) {
                __builtin_prefetch(&hot_[size_t(listEntry_[size_t(x)])]);
            }
        }
    }

    void line(std::int32_t i) {
        const std::int32_t e = p_.lineEntry[size_t(i)];
        if (e >= 0 && p_.entryUrlCount(e) >= k_) {
            candidates_.clear();
            const std::int32_t gi = hot_[size_t(e)].gi;
            const bool full = p_.lineFull[size_t(i)] != 0;
            for (std::int32_t j = prefixBegin_[size_t(e)]; j < prefixBegin_[size_t(e) + 1]; ++j) {
                const std::int32_t t = prefix_[size_t(j)];
                const std::int32_t at = cursor_[size_t(t)]++;
                const std::int32_t end = listBegin_[size_t(t) + 1];
                if (full) {
                    // What the last scan of this URL left: the lines it could not join. If i
                    // belongs to that scan's group, only those can matter to i.
                    const std::int32_t rep = rep_[size_t(t)];
                    const bool known =
                        rep >= 0 && gi >= 0 && hot_[size_t(p_.lineEntry[size_t(rep)])].gi == gi;
                    const std::int32_t fresh = std::int32_t(exceptions_.size());
                    if (known) {
                        const std::int32_t b = exceptionBegin_[size_t(t)];
                        const std::int32_t n = exceptionCount_[size_t(t)];
                        for (std::int32_t q = 0; q < n; ++q) {
                            if (q + 8 < n) {
                                __builtin_prefetch(
                                    &hot_[size_t(exceptions_[size_t(b + q + 8)].entry)]);
                            }
                            const Exception x = exceptions_[size_t(b + q)];
                            if (x.at > at && !consider(i, e, gi, x.line, x.entry)) {
                                exceptions_.push_back(x);
                            }
                        }
                    } else {
                        for (std::int32_t x = at + 1; x < end; ++x) {
                            if (x + 12 < end) {
                                __builtin_prefetch(&hot_[size_t(listEntry_[size_t(x + 12)])]);
                            }
                            if (!consider(i, e, gi, list_[size_t(x)], listEntry_[size_t(x)])) {
                                exceptions_.push_back(
                                    Exception{x, list_[size_t(x)], listEntry_[size_t(x)]});
                            }
                        }
                    }
                    rep_[size_t(t)] = i;
                    exceptionBegin_[size_t(t)] = fresh;
                    exceptionCount_[size_t(t)] = std::int32_t(exceptions_.size()) - fresh;
                } else {
                    for (std::int32_t x = listBegin_[size_t(t)]; x < end; ++x) {
                        if (x != at) {
                            consider(i, e, gi, list_[size_t(x)], listEntry_[size_t(x)]);
                        }
                    }
                }
            }
            std::sort(candidates_.begin(), candidates_.end());
            for (const Candidate& c : candidates_) {
                const std::int32_t go = hot_[size_t(p_.lineEntry[size_t(c.line)])].gi;
                const std::int32_t now = hot_[size_t(e)].gi;
                if (go >= 0 && go == now) {
                    continue;
                }
                join(i, c.line);
            }
        }
        if (e < 0 || hot_[size_t(e)].gi < 0) {
            slots_.push_back(-2 - i);  // a group of this line alone
        }
    }

    // Class membership of groups. A class is in one group at most, unless its lines have
    // different entries; the rare extra memberships are kept aside.
    bool inGroup(std::int32_t c, std::int32_t slot) const {
        if (classSlot_[size_t(c)] == slot) {
            return true;
        }
        auto range = extraSlots_.equal_range(c);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second == slot) {
                return true;
            }
        }
        return false;
    }
    void addMembership(std::int32_t c, std::int32_t slot) {
        if (classSlot_[size_t(c)] < 0) {
            classSlot_[size_t(c)] = slot;
        } else {
            extraSlots_.emplace(c, slot);
        }
    }
    void removeMembership(std::int32_t c, std::int32_t slot) {
        if (classSlot_[size_t(c)] == slot) {
            classSlot_[size_t(c)] = -1;
            auto it = extraSlots_.find(c);
            if (it != extraSlots_.end()) {
                classSlot_[size_t(c)] = it->second;
                extraSlots_.erase(it);
            }
            return;
        }
        auto range = extraSlots_.equal_range(c);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second == slot) {
                extraSlots_.erase(it);
                return;
            }
        }
    }

    Group& group(std::int32_t slot) { return pool_[size_t(slots_[size_t(slot)])]; }

    void addLine(std::int32_t slot, std::int32_t line) {
        const std::int32_t c = p_.lineClass[size_t(line)];
        if (!inGroup(c, slot)) {
            group(slot).lines.push_back(line);
            addMembership(c, slot);
        }
    }

    void join(std::int32_t i, std::int32_t o) {
        const std::int32_t ei = p_.lineEntry[size_t(i)];
        const std::int32_t eo = p_.lineEntry[size_t(o)];
        const std::int32_t gi = hot_[size_t(ei)].gi;
        const std::int32_t go = hot_[size_t(eo)].gi;
        if (gi < 0 && go < 0) {
            const std::int32_t slot = std::int32_t(slots_.size());
            slots_.push_back(std::int32_t(pool_.size()));
            pool_.emplace_back();
            addLine(slot, i);
            addLine(slot, o);
            group(slot).entries.push_back(ei);
            if (eo != ei) {
                group(slot).entries.push_back(eo);
            }
            hot_[size_t(ei)].gi = hot_[size_t(eo)].gi = slot;
        } else if (go < 0) {
            addLine(gi, o);
            group(gi).entries.push_back(eo);
            hot_[size_t(eo)].gi = gi;
        } else if (gi < 0) {
            addLine(go, i);
            group(go).entries.push_back(ei);
            hot_[size_t(ei)].gi = go;
        } else if (group(gi).lines.size() > group(go).lines.size()) {
            merge(go, gi);
        } else {
            merge(gi, go);
        }
    }

    void merge(std::int32_t from, std::int32_t into) {
        Group a = std::move(group(from));
        slots_[size_t(from)] = -1;
        Group& b = group(into);
        for (std::int32_t line : a.lines) {
            const std::int32_t c = p_.lineClass[size_t(line)];
            if (inGroup(c, into)) {
                removeMembership(c, from);
            } else {
                b.lines.push_back(line);
                removeMembership(c, from);
                addMembership(c, into);
            }
        }
        for (std::int32_t e : a.entries) {
            hot_[size_t(e)].gi = into;
            b.entries.push_back(e);
        }
    }

    void output(TStringListDynArray& groups) {
        for (size_t e = 0; e < p_.entries.size(); ++e) {
            p_.entries[e]->GroupIndex = hot_[e].gi;
        }
        groups.resize(slots_.size());
        parallelFor(
            std::int64_t(slots_.size()), engineThreads(),
            [&](std::int64_t begin, std::int64_t end, int w) {
                Bulk<std::int32_t> order;
                for (std::int64_t s = begin; s < end; ++s) {
                    if (monitor_.tickDue<4096>(w, s - begin, 1.0)) {
                        return;
                    }
                    const std::int32_t ref = slots_[size_t(s)];
                    if (ref == -1) {
                        groups[size_t(s)] = nullptr;
                        continue;
                    }
                    auto list = std::make_unique<QStringList>();
                    if (ref <= -2) {
                        list->append(p_.text(-2 - ref));
                    } else {
                        order = pool_[size_t(ref)].lines;
                        std::sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
                            return p_.lineClass[size_t(a)] < p_.lineClass[size_t(b)];
                        });
                        list->reserve(qsizetype(order.size()));
                        for (std::int32_t line : order) {
                            list->append(p_.text(line));
                        }
                    }
                    groups[size_t(s)] = std::move(list);
                }
            });
        // Stopped meanwhile: as if stopped before, no groups and no group numbers.
        if (monitor_.stopRequested()) {
            groups.clear();
            for (TSerpEntry* e : p_.entries) {
                e->GroupIndex = -1;
            }
        }
    }

    const Prepared& p_;
    const int k_;
    Monitor& monitor_;

    Bulk<std::int32_t> prefixBegin_;  // per entry, into prefix_
    Bulk<std::int32_t> prefix_;
    Bulk<std::int32_t> listBegin_;  // per URL, into list_
    Bulk<std::int32_t> list_;
    Bulk<std::int32_t> listEntry_;  // the entries of list_'s lines
    Bulk<std::int32_t> cursor_;     // per URL: where the line being processed stands
    // Per URL: the last full line that scanned it, and the later lines listed there that it
    // could not join (positions in list_, in exceptions_).
    Bulk<std::int32_t> rep_;
    Bulk<std::int32_t> exceptionBegin_;
    Bulk<std::int32_t> exceptionCount_;
    struct Exception {
        std::int32_t at;  // position in list_
        std::int32_t line;
        std::int32_t entry;
    };
    Bulk<Exception> exceptions_;

    // What a candidate's check needs of its entry, in one cache line.
    static constexpr int kInline = 12;
    struct alignas(64) Hot {
        std::int32_t gi = -1;  // the group's slot, -1 for none
        std::int32_t seenIter = -1;
        std::uint8_t seenValid = 0;
        std::uint8_t singleLine = 0;
        std::int32_t count = 0;  // shared URLs
        std::int32_t ids[kInline] = {};
    };
    static_assert(sizeof(Hot) == 64, "one entry's record is one cache line");
    Bulk<Hot> hot_;  // per entry
    // Per slot: index into pool_, -1 for a slot merged away, -2 - line for a one-line group.
    Bulk<std::int32_t> slots_;
    Bulk<Group> pool_;
    Bulk<std::int32_t> classSlot_;
    std::unordered_multimap<std::int32_t, std::int32_t> extraSlots_;

    Bulk<std::int32_t> seenIter_;
    Bulk<std::uint8_t> seenValid_;
    Bulk<Candidate> candidates_;
};

}  // namespace

void runSoft(const Prepared& p, int k, TStringListDynArray& groups, Monitor& monitor,
             double progressFrom) {
    Soft(p, k, monitor).run(groups, progressFrom);
}

}  // namespace kelvara::engine_detail
