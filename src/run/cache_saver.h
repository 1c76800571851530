#pragma once

#include "core/serp_entry.h"
#include "core/textfile.h"

#include <QString>

#include <functional>
#include <future>
#include <optional>

namespace kelvara {

// Results of one region that have not joined its store yet (a run's arrivals).
struct CacheArrivals {
    int region = 0;
    std::vector<std::pair<QString, TSerpEntry>> entries;
};

// Saves the stores to cache.txt while a run goes on, so that a crash or a power cut loses at
// most what arrived since the last save. The text is put together on the caller's thread (the
// stores are not shared); encoding and writing, the slow part for a large store, happen on a
// thread of their own, one save at a time, always replacing the file atomically.
class CacheSaver {
public:
    using Arrivals = CacheArrivals;

    // An empty path saves nothing.
    explicit CacheSaver(QString path);
    ~CacheSaver();
    CacheSaver(const CacheSaver&) = delete;
    CacheSaver& operator=(const CacheSaver&) = delete;

    // Every region's store and, when given, arrivals. When a save is still being written, this
    // one waits for it first.
    void saveInBackground(const ResultStores& stores, const Arrivals& arrived = Arrivals());
    // The same, finished before it returns; the error of this save.
    std::optional<FileError> save(const ResultStores& stores, const Arrivals& arrived = Arrivals());
    // Waits for a save still being written; its error, once.
    std::optional<FileError> wait();
    int saves() const { return saves_; }

private:
    QString text(const ResultStores& stores, const Arrivals& arrived) const;

    QString path_;
    std::future<std::optional<FileError>> pending_;
    int saves_ = 0;
};

}  // namespace kelvara
