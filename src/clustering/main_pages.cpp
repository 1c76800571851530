#include "clustering/main_pages.h"

namespace kelvara {

bool isMainPage(QStringView url) {
    const qsizetype scheme = url.indexOf(u"//");
    const qsizetype from = scheme >= 0 ? scheme + 2 : 1;
    const qsizetype slash = url.indexOf(u'/', from);
    return slash >= 0 && slash == url.size() - 1;
}

std::optional<int> CountMainPages(const ResultStore& store, QStringView query) {
    const TSerpEntry* e = findEntry(store, query);
    if (!e) {
        return std::nullopt;
    }
    int n = 0;
    for (const auto& u : e->Urls) {
        n += isMainPage(u.text) ? 1 : 0;
    }
    return n;
}

}  // namespace kelvara
