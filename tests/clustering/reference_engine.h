#pragma once

// The clustering algorithm written out step by step with sorted string lists, as slowly as it
// reads: the oracle that the fast engine is compared with.

#include "clustering/cluster.h"
#include "clustering/engine.h"
#include "core/collation.h"
#include "core/serp_entry.h"

#include <QStringList>

#include <functional>
#include <vector>

namespace kelvara::test {

// Every combination of K lines of `list` from position `start` on, each joined with "|", in
// lexicographic order of positions.
QStringList GetCombinations(const QStringList& list, int K, int start);
// The positions of the same combinations of n lines, in the same order.
std::vector<std::vector<int>> combinationPositions(int n, int k, int start = 0);

void referenceGrouping(const WorkList& work, TStringListDynArray& groups, bool hardMethod,
                       int threshold, GroupingProgress& progress,
                       const std::function<bool()>& stopRequested = {},
                       const Collation& collation = Collation::program());

}  // namespace kelvara::test
