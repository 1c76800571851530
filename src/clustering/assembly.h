#pragma once

#include "clustering/cluster.h"

namespace kelvara {

// Turns the engine's groups into the tree's clusters: drops null slots (compacting `groups`),
// captions each group with its shortest line (UTF-16 units; the first among equals), orders the
// groups by line count, largest first, keeping the order of equals (`groups` is left in that
// order), and returns one cluster per group of other than one line followed, when there are
// one-line groups, by the unsorted bucket holding their queries in group order.
ClusterList assembleClusters(TStringListDynArray& groups);

}  // namespace kelvara
