// Iterated leave-one-out testing with removal of one pair at a time, as in Baarda's data
// snooping: a blunder inflates the residuals of its neighbours too, so only the worst pair is
// trusted to be the culprit, and the rest are judged again by the fit without it.
#include "estimation/blunder_removal.h"

#include <cmath>

namespace Quorvane {

void RemoveBlunders(const PointList& source, const PointList& destination,
                    std::vector<bool>& fitted, TransformParams& params,
                    ceres::Solver::Summary& summary, FitStatistics& stats,
                    std::vector<BlunderRemoval>& removals) {
  for (;;) {
    if (summary.termination_type == ceres::FAILURE || !std::isfinite(summary.final_cost)) return;
    std::size_t worst = stats.tests.size();
    for (std::size_t i = 0; i < stats.tests.size(); ++i) {
      const PairTest& test = stats.tests[i];
      if (fitted[i] && test.testable && test.suspect &&
          (worst == stats.tests.size() || test.statistic > stats.tests[worst].statistic)) {
        worst = i;
      }
    }
    if (worst == stats.tests.size()) return;
    removals.push_back({worst, stats.tests[worst].statistic, stats.tests[worst].critical});
    fitted[worst] = false;
    FitTransform(source, destination, fitted, params, summary);
    stats = ComputeFitStatistics(source, destination, fitted, params);
  }
}

}  // namespace Quorvane
