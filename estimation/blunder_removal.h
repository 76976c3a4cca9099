// Automatic removal of blunders: test, leave out the worst pair, fit again, until all pass.
#pragma once

#include <cstddef>
#include <vector>

#include <ceres/solver.h>

#include "common/point_list.h"
#include "estimation/fit_statistics.h"
#include "estimation/fit_transform.h"

namespace Quorvane {

/// One pair left out by RemoveBlunders, with the test that decided it.
struct BlunderRemoval {
  std::size_t pair = 0;    // index into the pair lists, from 0
  double statistic = 0.0;  // its T_i in the fit it was removed from (may be +∞)
  double critical = 0.0;   // the F quantile it exceeded
};

/// Data snooping: while some fitted pair fails the blunder test of `stats`, leaves out the one
/// with the largest statistic (the first of equals in pair order), fits the rest again from the
/// start values and recomputes the statistics. Stops when no pair fails, which includes every
/// fit with fewer than three pairs (r − 3 < 1: nothing is testable), or when a fit gives no
/// usable result (termination FAILURE or a cost that is not finite; that fit is left in
/// `params` and `summary` for the caller to judge).
///
/// On entry `params`, `summary` and `stats` are the fit and statistics of the pairs `fitted`
/// marks; on return they are those of the last fit, `fitted` has the removed pairs cleared, and
/// `removals` has them appended in the order of removal. Each removal costs one fit and one
/// evaluation of the statistics.
void RemoveBlunders(const PointList& source, const PointList& destination,
                    std::vector<bool>& fitted, TransformParams& params,
                    ceres::Solver::Summary& summary, FitStatistics& stats,
                    std::vector<BlunderRemoval>& removals);

}  // namespace Quorvane
