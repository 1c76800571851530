#pragma once

#include "clustering/cluster.h"

#include <QStringList>

namespace kelvara {

// Turns the engine's groups into the tree's clusters: drops null slots (compacting `groups`),
// captions each group with its shortest line (UTF-16 units; the first among equals), orders the
// groups by line count, largest first, keeping the order of equals (`groups` is left in that
// order), and returns one cluster per group of other than one line followed, when there are
// one-line groups, by the unsorted bucket holding their queries in group order.
ClusterList assembleClusters(TStringListDynArray& groups);
// The same, also giving the captions of `groups` in their new order (one per group).
ClusterList assembleClusters(TStringListDynArray& groups, QStringList* groupNames);

}  // namespace kelvara
