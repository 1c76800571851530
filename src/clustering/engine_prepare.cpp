#include "clustering/engine_prepare.h"

#include "clustering/engine_order.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <numeric>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace kelvara::engine_detail {

bool prepare(const WorkList& work, const Collation& collation, Monitor& monitor,
             double progressShare, Prepared& out, const LinkRules* rules) {
    using shares::kPrepare;
    const int threads = engineThreads();
    out.work = &work;
    out.collation = &collation;
    out.lines = std::int32_t(work.size());
    const std::int32_t n = out.lines;

    // Entries, numbered in order of first use. Their GroupIndex (which the engine owns during
    // the run, all -1 now) holds the number meanwhile.
    out.lineEntry.assign(size_t(n), -1);
    bool stopped = false;
    for (std::int32_t i = 0; i < n; ++i) {
        if (monitor.stopDue<65536>(i)) {
            stopped = true;  // the numbers are taken back below all the same
            break;
        }
        TSerpEntry* e = work[size_t(i)].entry;
        if (!e) {
            continue;
        }
        if (e->GroupIndex < 0) {
            e->GroupIndex = std::int32_t(out.entries.size());
            out.entries.push_back(e);
        }
        out.lineEntry[size_t(i)] = e->GroupIndex;
    }
    for (TSerpEntry* e : out.entries) {
        e->GroupIndex = -1;
    }
    if (stopped) {
        return false;
    }
    const std::int32_t entries = std::int32_t(out.entries.size());
    out.entryLineBegin.assign(size_t(entries) + 1, 0);
    for (std::int32_t i = 0; i < n; ++i) {
        if (out.lineEntry[size_t(i)] >= 0) {
            ++out.entryLineBegin[size_t(out.lineEntry[size_t(i)]) + 1];
        }
    }
    std::partial_sum(out.entryLineBegin.begin(), out.entryLineBegin.end(),
                     out.entryLineBegin.begin());
    out.entryLine.resize(size_t(out.entryLineBegin.back()));
    {
        Bulk<std::int32_t> fill(out.entryLineBegin.begin(), out.entryLineBegin.end() - 1);
        for (std::int32_t i = 0; i < n; ++i) {
            if (const std::int32_t e = out.lineEntry[size_t(i)]; e >= 0) {
                out.entryLine[size_t(fill[size_t(e)]++)] = i;
            }
        }
    }
    if (monitor.stopRequested()) {
        return false;
    }

    // Text classes, beside the URL ids: the ranking is mostly serial work, so it takes one core
    // while the URL steps run on the others (and on the engine's own thread, which alone moves
    // the counter and asks for stop requests).
    Bulk<QStringView> texts(static_cast<size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        texts[size_t(i)] = work[size_t(i)].text;
    }
    Ranking textRanking;
    std::exception_ptr textError;
    std::atomic<bool> textDone{false};
    std::jthread textSide([&] {
        try {
            textRanking = rankTexts(texts, collation, 1, &monitor, threads);
        } catch (...) {
            textError = std::current_exception();
        }
        textDone.store(true, std::memory_order_release);
    });

    // URL ids: by fingerprints of their keys where keys decide equality, else by ranking (which
    // also orders them).
    // With link rules, an occurrence the rules leave out gets no id (-1): the URL counts for no
    // line, as if its list did not hold it.
    const bool reducing = rules && rules->active();
    const bool byHost = reducing && rules->byHost;
    const HostList* ignored =
        reducing && rules->ignored && !rules->ignored->empty() ? rules->ignored.get() : nullptr;
    Bulk<std::int32_t> allBegin(size_t(entries) + 1, 0);
    auto countOccurrences = [&] {
        for (std::int32_t e = 0; e < entries; ++e) {
            if (monitor.stopDue<65536>(e)) {
                return false;
            }
            allBegin[size_t(e) + 1] =
                allBegin[size_t(e)] + std::int32_t(out.entries[size_t(e)]->Urls.size());
        }
        return !monitor.stopRequested();
    };
    if (!countOccurrences()) {
        return false;
    }
    size_t occurrences = size_t(allBegin.back());
    Bulk<std::int32_t> allIds(occurrences, -1);
    if (monitor.stopRequested()) {
        return false;
    }
    bool hostKeysMade = false;  // the ids are those of host keys, made on the way
    bool idsToJudge = false;    // ignored URLs are still among the ids
    {
        const OrderKeys& keys = OrderKeys::of(collation);
        bool hashed = keys.usable() && keys.asciiExact();
        // By host: where each kept key was taken from in its entry's list. An entry's keys fill
        // the first of its slots in the collation's order, each once; the rest are skipped.
        Bulk<std::int32_t> slotSource;
        if (hashed && byHost) {
            slotSource.resize(occurrences);
        }
        if (hashed) {
            Bulk<Fingerprint> items(occurrences);
            std::atomic<bool> failed{false};
            const std::uint64_t seed = freshSeed();
            monitor.phase(progressShare * kPrepare.entries, progressShare * kPrepare.fingerprints);
            parallelFor(entries, threads, [&](std::int64_t begin, std::int64_t end, int w) {
                struct HostSlot {
                    QStringView key;
                    std::int32_t pos;
                };
                std::vector<HostSlot> hostSlots;
                std::vector<QString> scratch;
                // The texts lie scattered over the heap: ask for the next ones early.
                for (std::int64_t e = begin; e < end; ++e) {
                    if (monitor.tickThrough<1024>(w, e - begin, end - begin)) {
                        return;
                    }
                    const SortedStrings& urls = out.entries[size_t(e)]->Urls;
                    if (e + 2 < end) {
                        const SortedStrings& ahead = out.entries[size_t(e + 2)]->Urls;
                        for (qsizetype j = 0; j < ahead.size(); ++j) {
                            __builtin_prefetch(ahead.text(j).utf16());
                            __builtin_prefetch(ahead.text(j).utf16() + 32);
                        }
                    }
                    const std::int32_t base = allBegin[size_t(e)];
                    if (byHost) {
                        // The keys of the list as UrlReducer makes them, while its texts are at
                        // hand: sorted, equal ones once.
                        hostSlots.clear();
                        scratch.resize(size_t(urls.size()));
                        for (qsizetype j = 0; j < urls.size(); ++j) {
                            const QStringView url = urls.text(j);
                            QStringView key = urlHostKeyView(url, scratch[size_t(j)]);
                            if (ignored && ignored->matchesKey(key)) {
                                continue;
                            }
                            if (key.isEmpty()) {
                                key = url;  // no host: the URL stands for itself
                            }
                            hostSlots.push_back({key, std::int32_t(j)});
                        }
                        std::sort(hostSlots.begin(), hostSlots.end(),
                                  [&urls](const HostSlot& a, const HostSlot& b) {
                                      return urls.collation().less(a.key, b.key);
                                  });
                        qsizetype m = 0;
                        for (size_t x = 0; x < hostSlots.size(); ++x) {
                            if (m > 0 &&
                                urls.collation().equal(hostSlots[x - 1].key, hostSlots[x].key)) {
                                continue;
                            }
                            Fingerprint& f = items[size_t(base + m)];
                            f.index = std::uint32_t(base + m);
                            f.tag = std::uint32_t(e);
                            slotSource[size_t(base + m)] = hostSlots[x].pos;
                            ++m;
                            if (!keys.fingerprintAscii(hostSlots[x].key, seed, &f.h1, &f.h2)) {
                                failed.store(true, std::memory_order_relaxed);
                                return;
                            }
                        }
                        for (qsizetype j = m; j < urls.size(); ++j) {
                            items[size_t(base + j)].index = Fingerprint::kSkip;
                        }
                        continue;
                    }
                    for (qsizetype j = 0; j < urls.size(); ++j) {
                        Fingerprint& f = items[size_t(base + j)];
                        f.index = std::uint32_t(base + j);
                        f.tag = std::uint32_t(e);
                        if (!keys.fingerprintAscii(urls.text(j), seed, &f.h1, &f.h2)) {
                            failed.store(true, std::memory_order_relaxed);
                            return;
                        }
                    }
                    if (failed.load(std::memory_order_relaxed)) {
                        return;
                    }
                }
            });
            if (monitor.stopRequested()) {
                return false;
            }
            hashed = !failed;
            if (hashed) {
                Bulk<Fingerprint> first;
                monitor.phase(progressShare * kPrepare.fingerprints,
                              progressShare * kPrepare.urlIds);
                out.urls = idsFromFingerprints(items, allIds, &first, threads, &monitor);
                if (monitor.stopSeen()) {
                    return false;
                }
                hostKeysMade = byHost;
                idsToJudge = ignored && !byHost;
                out.urlWhere.resize(size_t(out.urls));
                for (std::int32_t u = 0; u < out.urls; ++u) {
                    if (monitor.stopDue<65536>(u)) {
                        return false;
                    }
                    const std::int32_t e = std::int32_t(first[size_t(u)].tag);
                    const std::uint32_t slot = first[size_t(u)].index;
                    out.urlWhere[size_t(u)] = {e, byHost
                                                      ? slotSource[size_t(slot)]
                                                      : std::int32_t(slot) - allBegin[size_t(e)]};
                }
            }
        }
        if (!hashed && reducing) {
            // Ranking compares the texts themselves: give it the reduced lists.
            UrlReducer reducer(*rules);
            out.ownEntries.reserve(size_t(entries));
            for (std::int32_t e = 0; e < entries; ++e) {
                if (monitor.stopDue<4096>(e)) {
                    return false;
                }
                const TSerpEntry* source = out.entries[size_t(e)];
                SortedStrings urls(source->Urls.collation());
                if (reducer.reduce(source->Urls, urls)) {
                    auto copy = std::make_unique<TSerpEntry>(source->Stamp);
                    copy->Urls = std::move(urls);
                    out.entries[size_t(e)] = copy.get();
                    out.ownEntries.push_back(std::move(copy));
                }
            }
            if (!countOccurrences()) {
                return false;
            }
            occurrences = size_t(allBegin.back());
            allIds.assign(occurrences, -1);
        }
        if (!hashed) {
            Bulk<QStringView> urlTexts(occurrences);
            for (std::int32_t e = 0; e < entries; ++e) {
                const SortedStrings& urls = out.entries[size_t(e)]->Urls;
                for (qsizetype j = 0; j < urls.size(); ++j) {
                    urlTexts[size_t(allBegin[size_t(e)] + j)] = urls.text(j);
                }
            }
            monitor.phase(progressShare * kPrepare.entries, progressShare * kPrepare.urlIds);
            Ranking r = rankTexts(urlTexts, collation, threads, &monitor);
            if (monitor.stopSeen()) {
                return false;
            }
            allIds = std::move(r.rank);
            out.urls = r.classes;
            out.urlIdsInOrder = true;
        }
    }
    // The ranking sees a stop request only when this thread asks for one: ask while waiting.
    while (!textDone.load(std::memory_order_acquire) && !monitor.stopRequested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    textSide.join();
    if (textError) {
        std::rethrow_exception(textError);
    }
    if (monitor.stopRequested()) {
        return false;
    }
    out.lineClass = std::move(textRanking.rank);
    out.classes = textRanking.classes;
    out.classLines.assign(size_t(out.classes), 0);
    for (std::int32_t c : out.lineClass) {
        ++out.classLines[size_t(c)];
    }
    monitor.advance(progressShare * kPrepare.urlIds);

    if (out.urlIdsInOrder) {
        out.urlWhere.assign(size_t(out.urls), {-1, -1});
        for (std::int32_t e = 0; e < entries; ++e) {
            for (std::int32_t j = allBegin[size_t(e)]; j < allBegin[size_t(e) + 1]; ++j) {
                if (allIds[size_t(j)] < 0) {
                    continue;
                }
                auto& where = out.urlWhere[size_t(allIds[size_t(j)])];
                if (where.first < 0) {
                    where = {e, j - allBegin[size_t(e)]};
                }
            }
        }
    }
    {
        Bulk<std::atomic<std::int32_t>> lines(static_cast<size_t>(out.urls));
        monitor.phase(progressShare * kPrepare.urlIds, progressShare * kPrepare.urlLines);
        parallelFor(entries, threads, [&](std::int64_t begin, std::int64_t end, int w) {
            for (std::int64_t e = begin; e < end; ++e) {
                if (monitor.tickThrough<4096>(w, e - begin, end - begin)) {
                    return;
                }
                const std::int32_t nl =
                    out.entryLineBegin[size_t(e) + 1] - out.entryLineBegin[size_t(e)];
                for (std::int32_t j = allBegin[size_t(e)]; j < allBegin[size_t(e) + 1]; ++j) {
                    if (const std::int32_t u = allIds[size_t(j)]; u >= 0) {
                        lines[size_t(u)].fetch_add(nl, std::memory_order_relaxed);
                    }
                }
            }
        });
        out.urlLines.resize(size_t(out.urls));
        for (std::int32_t u = 0; u < out.urls; ++u) {
            out.urlLines[size_t(u)] = lines[size_t(u)].load(std::memory_order_relaxed);
        }
    }
    if (idsToJudge) {
        // The ids of fingerprints are classes of ASCII texts equal but for letter case, which
        // have one host: judged once per id, and only where it could matter (an id that fewer
        // than two lines hold links nothing). An ignored id is held by no line.
        parallelFor(out.urls, threads, [&](std::int64_t begin, std::int64_t end, int w) {
            for (std::int64_t u = begin; u < end; ++u) {
                if (monitor.tickDue<16384>(w, u - begin, 1.0)) {
                    return;
                }
                if (out.urlLines[size_t(u)] >= 2 &&
                    ignored->matchesUrl(out.urlText(std::int32_t(u)))) {
                    out.urlLines[size_t(u)] = 0;
                }
            }
        });
        if (monitor.stopRequested()) {
            return false;
        }
    }
    if (hostKeysMade) {
        // The texts the methods compare: the host keys of the shared ids.
        out.urlKeys.resize(size_t(out.urls));
        parallelFor(out.urls, threads, [&](std::int64_t begin, std::int64_t end, int w) {
            for (std::int64_t u = begin; u < end; ++u) {
                if (monitor.tickDue<16384>(w, u - begin, 1.0)) {
                    return;
                }
                if (out.urlLines[size_t(u)] < 2) {
                    continue;
                }
                const auto [e, pos] = out.urlWhere[size_t(u)];
                const QString& url = out.entries[size_t(e)]->Urls.text(pos);
                QString key = urlHostKey(url);
                out.urlKeys[size_t(u)] = key.isEmpty() ? url : std::move(key);
            }
        });
        if (monitor.stopRequested()) {
            return false;
        }
    }
    out.urlBegin.assign(size_t(entries) + 1, 0);
    parallelFor(entries, threads, [&](std::int64_t begin, std::int64_t end, int w) {
        for (std::int64_t e = begin; e < end; ++e) {
            if (monitor.tickDue<16384>(w, e - begin, 1.0)) {
                return;
            }
            std::int32_t m = 0;
            for (std::int32_t j = allBegin[size_t(e)]; j < allBegin[size_t(e) + 1]; ++j) {
                const std::int32_t u = allIds[size_t(j)];
                m += u >= 0 && out.urlLines[size_t(u)] >= 2 ? 1 : 0;
            }
            out.urlBegin[size_t(e) + 1] = m;
        }
    });
    if (monitor.stopRequested()) {
        return false;
    }
    std::partial_sum(out.urlBegin.begin(), out.urlBegin.end(), out.urlBegin.begin());
    out.urlId.resize(size_t(out.urlBegin.back()));
    out.sortedId.resize(out.urlId.size());
    out.sortedPos.resize(out.urlId.size());
    monitor.phase(progressShare * kPrepare.urlLines, progressShare * kPrepare.sharedLists);
    parallelFor(entries, threads, [&](std::int64_t begin, std::int64_t end, int w) {
        Bulk<std::pair<std::int32_t, std::int32_t>> tmp;
        for (std::int64_t e = begin; e < end; ++e) {
            if (monitor.tickThrough<4096>(w, e - begin, end - begin)) {
                return;
            }
            std::int32_t at = out.urlBegin[size_t(e)];
            for (std::int32_t j = allBegin[size_t(e)]; j < allBegin[size_t(e) + 1]; ++j) {
                const std::int32_t u = allIds[size_t(j)];
                if (u >= 0 && out.urlLines[size_t(u)] >= 2) {
                    out.urlId[size_t(at++)] = u;
                }
            }
            const std::int32_t b = out.urlBegin[size_t(e)];
            const std::int32_t m = at - b;
            tmp.resize(size_t(m));
            for (std::int32_t j = 0; j < m; ++j) {
                tmp[size_t(j)] = {out.urlId[size_t(b + j)], j};
            }
            std::sort(tmp.begin(), tmp.end());
            for (std::int32_t j = 0; j < m; ++j) {
                out.sortedId[size_t(b + j)] = tmp[size_t(j)].first;
                out.sortedPos[size_t(b + j)] = tmp[size_t(j)].second;
            }
        }
    });

    if (monitor.stopRequested()) {
        return false;
    }
    // Which URLs each line represents: only lines of repeated texts can miss some.
    out.lineFull.assign(size_t(n), 1);
    out.repBegin.assign(size_t(n), -1);
    out.repEnd.assign(size_t(n), -1);
    Bulk<std::pair<std::int32_t, std::int32_t>> repeated;  // (class, line)
    for (std::int32_t i = 0; i < n; ++i) {
        if (out.classLines[size_t(out.lineClass[size_t(i)])] > 1) {
            repeated.emplace_back(out.lineClass[size_t(i)], i);
        }
    }
    std::sort(repeated.begin(), repeated.end());
    std::unordered_set<std::int32_t> seen;
    for (size_t a = 0; a < repeated.size();) {
        size_t b = a;
        seen.clear();
        for (; b < repeated.size() && repeated[b].first == repeated[a].first; ++b) {
            const std::int32_t line = repeated[b].second;
            const std::int32_t e = out.lineEntry[size_t(line)];
            if (e < 0) {
                continue;
            }
            const std::int32_t begin = std::int32_t(out.repIds.size());
            bool all = true;
            for (std::int32_t j = out.urlBegin[size_t(e)]; j < out.urlBegin[size_t(e) + 1]; ++j) {
                const std::int32_t u = out.sortedId[size_t(j)];
                if (seen.insert(u).second) {
                    out.repIds.push_back(u);
                } else {
                    all = false;
                }
            }
            if (!all) {
                out.lineFull[size_t(line)] = 0;
                out.repBegin[size_t(line)] = begin;
                out.repEnd[size_t(line)] = std::int32_t(out.repIds.size());
            } else {
                out.repIds.resize(size_t(begin));
            }
        }
        a = b;
    }
    monitor.advance(progressShare);
    return !monitor.stopRequested();
}

}  // namespace kelvara::engine_detail
