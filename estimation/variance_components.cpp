// Helmert's estimate of variance components (Helmert 1924; in the simplified form of Förstner
// 1979, σ̂_k² = v_kᵀ P_k v_k / r_k with r_k = tr((Q_vv P)_k), which the iteration makes the same
// at convergence; Koch, Parameter Estimation and Hypothesis Testing in Linear Models, §3.6).
#include "estimation/variance_components.h"

#include <cmath>

namespace Quorvane {

namespace {

constexpr int kMostFits = 30;
// The weights stand once their ratio σ̂_H/σ̂_V changes by less than this part of its own
// relative standard error, √(1/(2 r_H) + 1/(2 r_V)) for normal errors: closer than that the
// components cannot tell them apart (two or three fits).
constexpr double kSettled = 0.1;

// The row groups of one round, summed over the components: false where a component's are not
// determined or a group has no redundancy or no misclosure to estimate its variance from.
bool SumGroups(const TransformModel& model, const FramePairs& pairs,
               const std::vector<std::vector<bool>>& fitted, const ModelParameters& params,
               RowGroups& sums) {
  const std::vector<Component>& components = model.Components();
  for (std::size_t c = 0; c < components.size(); ++c) {
    RowGroups groups;
    const bool determined = ComputeRowGroups(
        components[c].layout, static_cast<int>(components[c].parameters.size()), fitted[c],
        [&](std::size_t i, PairLinearisation& out) { model.Linearise(c, params, pairs, i, out); },
        pairs.precision, groups);
    if (!determined) return false;
    for (int k = 0; k < 2; ++k) {
      sums.rows[k] += groups.rows[k];
      sums.squares[k] += groups.squares[k];
      sums.redundancy[k] += groups.redundancy[k];
    }
  }
  for (int k = 0; k < 2; ++k) {
    if (!(sums.redundancy[k] >= 1.0) || !(sums.squares[k] > 0.0)) return false;
  }
  return true;
}

}  // namespace

VarianceComponents EstimateVarianceComponents(const TransformModel& model,
                                              const FramePairs& pairs,
                                              const std::vector<std::vector<bool>>& fitted,
                                              ModelParameters& params, FitOutcome& outcome) {
  VarianceComponents result;
  std::vector<Precision> weights(pairs.source.size(), Precision{1.0, 1.0});
  const FramePairs weighted{pairs.source, pairs.destination, pairs.axes, &weights, pairs.epochs,
                            false};
  double relative[2] = {1.0, 1.0};  // the σ the rows were weighted with, relative to σ̄
  for (int round = 1; round <= kMostFits; ++round) {
    // The first round is the fit with unit weights the caller made.
    if (round > 1) outcome = model.Fit(weighted, fitted, params, 0);
    result.rounds = round;
    RowGroups sums;
    if (!outcome.usable || !SumGroups(model, weighted, fitted, params, sums)) break;
    // Whitened by the σ of the round, Ω_k / r_k estimates σ_k² in those units.
    double variance[2];
    for (int k = 0; k < 2; ++k) {
      variance[k] = relative[k] * relative[k] * sums.squares[k] / sums.redundancy[k];
    }
    const double pooled = (sums.rows[0] * variance[0] + sums.rows[1] * variance[1]) /
                          (sums.rows[0] + sums.rows[1]);
    const double next[2] = {std::sqrt(variance[0] / pooled), std::sqrt(variance[1] / pooled)};
    const double spread = std::sqrt(0.5 / sums.redundancy[0] + 0.5 / sums.redundancy[1]);
    if (std::fabs((next[0] / next[1]) / (relative[0] / relative[1]) - 1.0) < kSettled * spread) {
      // The weights of this round are those the components give: its fit is the answer, and
      // its σ̂0 is σ̄.
      result.estimated = true;
      result.horizontal = std::sqrt(variance[0]);
      result.vertical = std::sqrt(variance[1]);
      result.pooled = std::sqrt(pooled);
      result.weights = std::move(weights);
      return result;
    }
    // Relative to σ̄, so that the weighted σ̂0 stays one coordinate's σ in metres.
    relative[0] = next[0];
    relative[1] = next[1];
    for (Precision& p : weights) p = Precision{relative[0], relative[1]};
  }
  if (result.rounds > 1) {
    const FramePairs unweighted{pairs.source, pairs.destination, pairs.axes, nullptr,
                                pairs.epochs, false};
    outcome = model.Fit(unweighted, fitted, params, 0);
  }
  return result;
}

}  // namespace Quorvane
