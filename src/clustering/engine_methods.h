#pragma once

#include "clustering/cluster.h"
#include "clustering/engine_prepare.h"

namespace kelvara::engine_detail {

// The methods of the fast engine over prepared input. `progressFrom` is the share of the main
// pass that the preparation took; the methods move the counter on from there. Both return
// normally on a stop request, leaving what they built so far.
void runSoft(const Prepared& p, int k, TStringListDynArray& groups, Monitor& monitor,
             double progressFrom);
void runHard(const Prepared& p, int k, TStringListDynArray& groups, Monitor& monitor,
             double progressFrom);

}  // namespace kelvara::engine_detail
