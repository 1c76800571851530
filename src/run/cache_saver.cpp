#include "run/cache_saver.h"

#include "search/cache.h"

namespace kelvara {

CacheSaver::CacheSaver(QString path) : path_(std::move(path)) {}

CacheSaver::~CacheSaver() {
    wait();
}

QString CacheSaver::text(const ResultStores& stores, const Arrivals& arrived) const {
    QString t = cacheText(stores);
    if (!arrived.entries.empty()) {
        // A second block of the region: its queries are new to the store.
        t += QStringLiteral("#region %1\r\n").arg(arrived.region);
        for (const auto& [query, entry] : arrived.entries) {
            appendCacheLine(t, query, entry);
        }
    }
    return t;
}

void CacheSaver::saveInBackground(const ResultStores& stores, const Arrivals& arrived) {
    if (path_.isEmpty()) {
        return;
    }
    std::optional<FileError> earlier = wait();
    Q_UNUSED(earlier);  // a later save is under way; a lasting fault shows at the final save
    ++saves_;
    pending_ = std::async(std::launch::async, [path = path_, text = text(stores, arrived)] {
        return writeCacheText(path, text);
    });
}

std::optional<FileError> CacheSaver::save(const ResultStores& stores, const Arrivals& arrived) {
    if (path_.isEmpty()) {
        return std::nullopt;
    }
    wait();
    ++saves_;
    return writeCacheText(path_, text(stores, arrived));
}

std::optional<FileError> CacheSaver::wait() {
    if (!pending_.valid()) {
        return std::nullopt;
    }
    return pending_.get();
}

}  // namespace kelvara
