#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace kelvara {

// The groups the clustering engine writes: group lists of query texts in creation order. A null
// slot is a group merged away by the soft method.
using TStringListDynArray = std::vector<std::unique_ptr<QStringList>>;

// The caption of the cluster that gathers the queries left alone. It is the bucket's only mark.
inline QString unsortedCaption() {
    return QStringLiteral("[ неотсортированные ]");
}

// One top-level node of the cluster tree with its phrases, in tree order.
struct Cluster {
    QString caption;
    QStringList phrases;
    bool operator==(const Cluster&) const = default;
};
using ClusterList = std::vector<Cluster>;

}  // namespace kelvara
