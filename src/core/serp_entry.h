#pragma once

#include "core/platform.h"
#include "core/stringlist.h"

#include <cstdint>
#include <map>
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

// The stored results of every search region: the same query asked for another region is another
// question, so each region has a store of its own (in ascending region order here).
class ResultStores {
public:
    explicit ResultStores(const Collation& collation = Collation::program())
        : collation_(&collation) {}

    // The store of a region, made empty when the region had none yet. It stays where it is
    // while the others come and go.
    ResultStore& of(int region) {
        auto it = byRegion_.find(region);
        if (it == byRegion_.end()) {
            it = byRegion_.emplace(region, ResultStore(*collation_)).first;
        }
        return it->second;
    }
    const ResultStore* find(int region) const {
        const auto it = byRegion_.find(region);
        return it == byRegion_.end() ? nullptr : &it->second;
    }
    auto begin() const { return byRegion_.begin(); }
    auto end() const { return byRegion_.end(); }
    // Entries of all regions.
    qsizetype entryCount() const {
        qsizetype n = 0;
        for (const auto& [region, store] : byRegion_) {
            n += store.size();
        }
        return n;
    }
    const Collation& collation() const { return *collation_; }

private:
    const Collation* collation_;
    std::map<int, ResultStore> byRegion_;
};

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
