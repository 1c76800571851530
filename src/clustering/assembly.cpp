#include "clustering/assembly.h"

#include <algorithm>
#include <numeric>

namespace kelvara {

ClusterList assembleClusters(TStringListDynArray& groups) {
    return assembleClusters(groups, nullptr);
}

ClusterList assembleClusters(TStringListDynArray& groups, QStringList* groupNames) {
    groups.erase(std::remove(groups.begin(), groups.end(), nullptr), groups.end());

    const size_t n = groups.size();
    std::vector<QString> captions(n);
    for (size_t g = 0; g < n; ++g) {
        const QStringList& lines = *groups[g];
        qsizetype best = -1;
        for (qsizetype j = 0; j < lines.size(); ++j) {
            if (best < 0 || lines[j].size() < lines[best].size()) {
                best = j;
            }
        }
        if (best >= 0) {
            captions[g] = lines[best];
        }
    }

    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return groups[a]->size() > groups[b]->size(); });
    TStringListDynArray sorted(n);
    std::vector<QString> sortedCaptions(n);
    for (size_t j = 0; j < n; ++j) {
        sorted[j] = std::move(groups[order[j]]);
        sortedCaptions[j] = std::move(captions[order[j]]);
    }
    groups = std::move(sorted);
    if (groupNames) {
        groupNames->clear();
        groupNames->reserve(qsizetype(n));
        for (const QString& c : sortedCaptions) {
            groupNames->append(c);
        }
    }

    ClusterList clusters;
    qsizetype singles = 0;
    for (size_t j = 0; j < n; ++j) {
        if (groups[j]->size() == 1) {
            ++singles;
        } else {
            clusters.push_back(Cluster{sortedCaptions[j], *groups[j]});
        }
    }
    if (singles > 0) {
        Cluster bucket{unsortedCaption(), {}};
        bucket.phrases.reserve(singles);
        for (size_t j = 0; j < n; ++j) {
            if (groups[j]->size() == 1) {
                bucket.phrases.append(groups[j]->first());
            }
        }
        clusters.push_back(std::move(bucket));
    }
    return clusters;
}

}  // namespace kelvara
