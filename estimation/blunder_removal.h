// Automatic removal of blunders: test, leave out the worst pair, judge the rest again, until all
// pass.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "common/point_list.h"
#include "estimation/fit_statistics.h"

namespace Quorvane {

/// One pair left out by snooping, with the test that decided it.
struct BlunderRemoval {
  std::size_t pair = 0;    // index into the pair lists, from 0
  double statistic = 0.0;  // its T_i in the fit it was removed from (may be +∞)
  double critical = 0.0;   // the F quantile it exceeded
  std::size_t component = 0;  // the model component it was removed from (0 for the similarity)
};

/// Refits after single removals, counted in pairs fitted, that snooping spends before it judges
/// removals by downdates: about half a second of fitting. Survey networks of some hundred pairs
/// are refitted after every removal, so each removal's statistic is that of a real fit; large
/// ones are judged to first order between refits.
constexpr std::size_t kSnoopRefitBudget = 200000;

/// What snooping needs of one component of a model, all at its current fit.
struct SnoopedComponent {
  ComponentLayout layout = ComponentLayout::Whole;
  int parameters = 0;  // any number, at least 1
  /// Each pair's a priori σ, which weight its rows (ComputeComponentStatistics); null for unit
  /// weights.
  const std::vector<Precision>* precision = nullptr;
  /// The σ of `precision` are absolute (σ0 = 1 known): pairs are tested by χ²(d), not by F.
  bool varianceKnown = false;
  /// The pair's residual and Jacobian at the current fit.
  LinearisePair linearise;
  /// Fits the component again to the pairs `fitted` marks; false when that gives no usable
  /// result (which then stays for the caller to judge).
  std::function<bool(const std::vector<bool>& fitted)> refit;
  /// The statistics of the current fit to the pairs `fitted` marks.
  std::function<FitStatistics(const std::vector<bool>& fitted)> statistics;
  /// Called after each removal with the number made so far (progress for long runs); may be
  /// empty.
  std::function<void(std::size_t removals)> progress;
  /// Pairs that may be refitted after single removals before the downdates take over.
  std::size_t refitBudget = kSnoopRefitBudget;
};

/// Data snooping on one component: while some fitted pair fails the blunder test, leaves out the
/// one with the largest statistic (the first of equals in pair order). Stops when no pair fails,
/// which includes every fit whose other pairs leave no redundancy (r − d < 1: nothing is
/// testable), or when a fit gives no usable result.
///
/// While the refits cost little (at most `refitBudget` pairs fitted in all), each removal is
/// followed by a refit and exact statistics. Beyond that, removals are judged by the
/// leave-one-out identities instead: removing a pair changes the linearised fit by a rank-d
/// update, which gives every other pair's residual, redundancy and statistic exactly as a refit
/// of the linearised problem would (exactly for a model linear in its parameters, to first order
/// otherwise), and costs the evaluation of the few pairs whose statistic could be the largest,
/// not a pass over all of them. When none fails any more the component is fitted once, and if
/// that fit still has a failing pair the same continues from it; so the reported fit has none.
///
/// On entry `stats` holds the statistics of the current fit to the pairs `fitted` marks; on
/// return they are those of the last fit, `fitted` has the removed pairs cleared, and `removals`
/// has them appended in the order of removal, each with `componentIndex`.
void SnoopComponent(const SnoopedComponent& component, std::size_t componentIndex,
                    std::vector<bool>& fitted, FitStatistics& stats,
                    std::vector<BlunderRemoval>& removals);

}  // namespace Quorvane
