#pragma once

#include "core/platform.h"
#include "core/stringlist.h"

#include <cstdint>
#include <memory>

namespace kelvara {

// The known result of one query: when it was obtained and its result URLs.
struct TSerpEntry {
    kelvara::Stamp Stamp = 0;
    SortedStrings Urls;            // alphabetical, each URL once (letter case ignored)
    std::int32_t GroupIndex = -1;  // scratch slot of the clustering engine

    TSerpEntry() = default;
    explicit TSerpEntry(kelvara::Stamp stamp) : Stamp(stamp) {}
};

// The result store: every known query, in collation order, each owning its entry.
using ResultStore = SortedStringList<std::unique_ptr<TSerpEntry>>;

// The queries of one run, in run order; each refers to an entry of the store (or, for a
// duplicate query fetched twice in one run, to an entry kept aside for the run).
struct WorkLine {
    QString text;
    TSerpEntry* entry = nullptr;
};
using WorkList = std::vector<WorkLine>;

// The entry of a query, or null when the store does not know it.
inline TSerpEntry* findEntry(const ResultStore& store, QStringView query) {
    const qsizetype i = store.indexOf(query);
    return i >= 0 ? store[i].object.get() : nullptr;
}

}  // namespace kelvara
