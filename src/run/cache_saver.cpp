#include "run/cache_saver.h"

#include "search/cache.h"

namespace kelvara {

CacheSaver::CacheSaver(QString path, AnsiCodec codec)
    : path_(std::move(path)), codec_(std::move(codec)) {}

CacheSaver::~CacheSaver() {
    wait();
}

QString CacheSaver::text(const ResultStore& store,
                         const std::vector<std::pair<QString, TSerpEntry>>& arrived) const {
    QString t = cacheText(store);
    for (const auto& [query, entry] : arrived) {
        appendCacheLine(t, query, entry);
    }
    return t;
}

void CacheSaver::saveInBackground(const ResultStore& store,
                                  const std::vector<std::pair<QString, TSerpEntry>>& arrived) {
    if (path_.isEmpty()) {
        return;
    }
    std::optional<FileError> earlier = wait();
    Q_UNUSED(earlier);  // a later save is under way; a lasting fault shows at the final save
    ++saves_;
    pending_ =
        std::async(std::launch::async, [path = path_, codec = codec_, text = text(store, arrived)] {
            return writeCacheText(path, text, codec);
        });
}

std::optional<FileError> CacheSaver::save(
    const ResultStore& store, const std::vector<std::pair<QString, TSerpEntry>>& arrived) {
    if (path_.isEmpty()) {
        return std::nullopt;
    }
    wait();
    ++saves_;
    return writeCacheText(path_, text(store, arrived), codec_);
}

std::optional<FileError> CacheSaver::wait() {
    if (!pending_.valid()) {
        return std::nullopt;
    }
    return pending_.get();
}

}  // namespace kelvara
