#pragma once

#include "core/serp_entry.h"
#include "core/textfile.h"

#include <QString>

#include <functional>
#include <future>
#include <optional>

namespace kelvara {

// Saves the store to cache.txt while a run goes on, so that a crash or a power cut loses at most
// what arrived since the last save. The text is put together on the caller's thread (the store
// is not shared); encoding and writing, the slow part for a large store, happen on a thread of
// their own, one save at a time, always replacing the file atomically.
class CacheSaver {
public:
    // Runs the save's outcome on the caller's thread the next time the saver is used or waited
    // for; an empty path saves nothing.
    CacheSaver(QString path, AnsiCodec codec);
    ~CacheSaver();
    CacheSaver(const CacheSaver&) = delete;
    CacheSaver& operator=(const CacheSaver&) = delete;

    // The store and, when given, results that have not joined it yet (the run's arrivals).
    // When a save is still being written, this one waits for it first.
    void saveInBackground(const ResultStore& store,
                          const std::vector<std::pair<QString, TSerpEntry>>& arrived = {});
    // The same, finished before it returns; the error of this save, or of an earlier background
    // save not reported yet.
    std::optional<FileError> save(const ResultStore& store,
                                  const std::vector<std::pair<QString, TSerpEntry>>& arrived = {});
    // Waits for a save still being written; its error, once.
    std::optional<FileError> wait();
    int saves() const { return saves_; }

private:
    QString text(const ResultStore& store,
                 const std::vector<std::pair<QString, TSerpEntry>>& arrived) const;

    QString path_;
    AnsiCodec codec_;
    std::future<std::optional<FileError>> pending_;
    int saves_ = 0;
};

}  // namespace kelvara
