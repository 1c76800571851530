#pragma once

// What both methods of the fast engine start from: the work list turned into integers.
//
// Texts become class ranks (equal texts under the collation share a rank; rank order is collation
// order), entries become entry ids, URLs become ids (equal URLs under the collation share one).
// URLs that only one line holds can never be shared and are left out of the lists.
//
// A line "represents" a URL when it is the first line of its text class whose entry holds the URL:
// that is the line a query list of the URL index names. A line that represents all its URLs is
// "full". Lines of a class with a single line are always full; the others (repeated queries) are
// rare and handled with care.

#include "clustering/engine.h"
#include "clustering/engine_memory.h"
#include "clustering/engine_monitor.h"
#include "clustering/link_rules.h"
#include "core/collation.h"
#include "core/serp_entry.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kelvara::engine_detail {

struct Prepared {
    const WorkList* work = nullptr;
    const Collation* collation = nullptr;

    std::int32_t lines = 0;
    Bulk<std::int32_t> lineEntry;  // entry id, -1 for a line without entry
    Bulk<std::int32_t> lineClass;  // rank of the line's text class
    std::int32_t classes = 0;
    Bulk<std::int32_t> classLines;  // lines per class

    Bulk<TSerpEntry*> entries;
    Bulk<std::int32_t> entryLineBegin;  // lines of each entry, in work order (CSR)
    Bulk<std::int32_t> entryLine;

    // Per entry, the shared URLs: ids in the entry's own order (the collation's), and the same
    // ids sorted by value with each one's position in that order.
    Bulk<std::int32_t> urlBegin;
    Bulk<std::int32_t> urlId;
    Bulk<std::int32_t> sortedId;
    Bulk<std::int32_t> sortedPos;

    std::int32_t urls = 0;        // distinct URLs (shared or not)
    Bulk<std::int32_t> urlLines;  // how many lines hold each URL
    // Where each URL is first spelled: entry and position in its list.
    Bulk<std::pair<std::int32_t, std::int32_t>> urlWhere;
    bool urlIdsInOrder = false;  // ids follow the collation's order
    // Matching by host: the key each shared id stands for (urlWhere then names the URL it was
    // first taken from). Empty otherwise.
    std::vector<QString> urlKeys;
    // Reduced copies of entries, when the link rules could not be applied on the way (see
    // prepare); `entries` then points to them.
    std::vector<std::unique_ptr<TSerpEntry>> ownEntries;

    // Fullness; for a line that is not full, the shared URLs it represents (sorted ids).
    Bulk<std::uint8_t> lineFull;
    Bulk<std::int32_t> repBegin;  // per line, -1 when full; else into repIds
    Bulk<std::int32_t> repEnd;
    Bulk<std::int32_t> repIds;

    std::int32_t entryUrlCount(std::int32_t e) const { return urlBegin[e + 1] - urlBegin[e]; }
    const QString& text(std::int32_t line) const { return (*work)[size_t(line)].text; }
    const QString& urlText(std::int32_t url) const {
        if (!urlKeys.empty()) {
            return urlKeys[size_t(url)];
        }
        const auto [e, pos] = urlWhere[size_t(url)];
        return entries[size_t(e)]->Urls.text(pos);
    }
};

// Builds the integer form. Returns false when a stop was requested meanwhile. The monitor's
// counter is moved up to `progressShare` of the way.
//
// With active link rules the lists are those of LinkWork: each URL is judged (left out, or
// turned into its host key) where the URL ids are made, so its text is read once. Where the
// ids come from ranking instead of fingerprints, the entries are first reduced into copies.
bool prepare(const WorkList& work, const Collation& collation, Monitor& monitor,
             double progressShare, Prepared& out, const LinkRules* rules = nullptr);

}  // namespace kelvara::engine_detail
