#include "clustering/engine_prepare.h"

#include "clustering/engine_order.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

namespace kelvara::engine_detail {

bool prepare(const WorkList& work, const Collation& collation, Monitor& monitor,
             double progressShare, Prepared& out) {
    const int threads = engineThreads();
    out.work = &work;
    out.collation = &collation;
    out.lines = std::int32_t(work.size());
    const std::int32_t n = out.lines;

    // Entries, in order of first use.
    out.lineEntry.assign(size_t(n), -1);
    {
        std::unordered_map<const TSerpEntry*, std::int32_t> ids;
        ids.reserve(size_t(n) * 2);
        for (std::int32_t i = 0; i < n; ++i) {
            TSerpEntry* e = work[size_t(i)].entry;
            if (!e) {
                continue;
            }
            auto [it, inserted] = ids.emplace(e, std::int32_t(out.entries.size()));
            if (inserted) {
                out.entries.push_back(e);
            }
            out.lineEntry[size_t(i)] = it->second;
        }
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
        std::vector<std::int32_t> fill(out.entryLineBegin.begin(), out.entryLineBegin.end() - 1);
        for (std::int32_t i = 0; i < n; ++i) {
            if (const std::int32_t e = out.lineEntry[size_t(i)]; e >= 0) {
                out.entryLine[size_t(fill[size_t(e)]++)] = i;
            }
        }
    }
    if (monitor.stopRequested()) {
        return false;
    }

    // Text classes.
    {
        std::vector<QStringView> texts(static_cast<size_t>(n));
        for (std::int32_t i = 0; i < n; ++i) {
            texts[size_t(i)] = work[size_t(i)].text;
        }
        Ranking r = rankTexts(texts, collation, threads);
        out.lineClass = std::move(r.rank);
        out.classes = r.classes;
        out.classLines.assign(size_t(out.classes), 0);
        for (std::int32_t c : out.lineClass) {
            ++out.classLines[size_t(c)];
        }
    }
    monitor.advance(progressShare * 0.35);
    if (monitor.stopRequested()) {
        return false;
    }

    // URL ids: by hashing where keys decide equality, else by ranking (which also orders them).
    std::vector<std::int32_t> allBegin(size_t(entries) + 1, 0);
    for (std::int32_t e = 0; e < entries; ++e) {
        allBegin[size_t(e) + 1] =
            allBegin[size_t(e)] + std::int32_t(out.entries[size_t(e)]->Urls.size());
    }
    std::vector<std::int32_t> allIds;
    {
        std::vector<QStringView> urlTexts(size_t(allBegin.back()));
        for (std::int32_t e = 0; e < entries; ++e) {
            const auto& urls = out.entries[size_t(e)]->Urls;
            for (qsizetype j = 0; j < urls.size(); ++j) {
                urlTexts[size_t(allBegin[size_t(e)] + j)] = urls.text(j);
            }
        }
        Interning in = internTexts(urlTexts, collation, threads);
        if (in.ok) {
            allIds = std::move(in.id);
            out.urls = in.count;
        } else {
            Ranking r = rankTexts(urlTexts, collation, threads);
            allIds = std::move(r.rank);
            out.urls = r.classes;
            out.urlIdsInOrder = true;
        }
        out.urlText.assign(size_t(out.urls), QStringView());
        std::vector<std::uint8_t> has(size_t(out.urls), 0);
        for (size_t j = 0; j < allIds.size(); ++j) {
            if (!has[size_t(allIds[j])]) {
                has[size_t(allIds[j])] = 1;
                out.urlText[size_t(allIds[j])] = urlTexts[j];
            }
        }
    }
    monitor.advance(progressShare * 0.75);
    if (monitor.stopRequested()) {
        return false;
    }

    out.urlLines.assign(size_t(out.urls), 0);
    for (std::int32_t i = 0; i < n; ++i) {
        if (const std::int32_t e = out.lineEntry[size_t(i)]; e >= 0) {
            for (std::int32_t j = allBegin[size_t(e)]; j < allBegin[size_t(e) + 1]; ++j) {
                ++out.urlLines[size_t(allIds[size_t(j)])];
            }
        }
    }
    out.urlBegin.assign(size_t(entries) + 1, 0);
    out.urlId.clear();
    out.urlId.reserve(allIds.size());
    for (std::int32_t e = 0; e < entries; ++e) {
        for (std::int32_t j = allBegin[size_t(e)]; j < allBegin[size_t(e) + 1]; ++j) {
            const std::int32_t u = allIds[size_t(j)];
            if (out.urlLines[size_t(u)] >= 2) {
                out.urlId.push_back(u);
            }
        }
        out.urlBegin[size_t(e) + 1] = std::int32_t(out.urlId.size());
    }
    out.sortedId.resize(out.urlId.size());
    out.sortedPos.resize(out.urlId.size());
    {
        std::vector<std::pair<std::int32_t, std::int32_t>> tmp;
        for (std::int32_t e = 0; e < entries; ++e) {
            const std::int32_t b = out.urlBegin[size_t(e)];
            const std::int32_t m = out.urlBegin[size_t(e) + 1] - b;
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
    }

    // Which URLs each line represents: only lines of repeated texts can miss some.
    out.lineFull.assign(size_t(n), 1);
    out.repBegin.assign(size_t(n), -1);
    out.repEnd.assign(size_t(n), -1);
    std::vector<std::pair<std::int32_t, std::int32_t>> repeated;  // (class, line)
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
