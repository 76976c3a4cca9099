// The variances of a model's horizontal and vertical residual rows estimated from the pairs
// themselves, for pairs whose σ nobody gave: GNSS heights are commonly two to three times less
// precise than the positions, and unit weights would then misstate the parameters' precision.
#pragma once

#include <cstddef>
#include <vector>

#include "common/point_list.h"
#include "estimation/model.h"

namespace Quorvane {

/// Helmert's variance components of a fit: σ̂_k² = Ω_k / r_k for the horizontal rows (easting and
/// northing, k = H) and the vertical rows (height or up, k = V), Ω_k their weighted sum of
/// squares and r_k the sum of their redundancy numbers, iterated with the weights they give
/// until they no longer change.
struct VarianceComponents {
  /// Both groups have rows, a redundancy of at least 1 and a sum of squares above 0 at every
  /// round, and the fit stayed usable; otherwise the pairs keep unit weights.
  bool estimated = false;
  double horizontal = 0.0;  // σ̂_H, metres: of one coordinate, east or north
  double vertical = 0.0;    // σ̂_V, metres
  /// σ̄ = √((n_H σ̂_H² + n_V σ̂_V²) / (n_H + n_V)), metres, over the n_k rows of each group: the
  /// σ̂0 of the weighted fit, comparable with that of unit weights (one coordinate's σ).
  double pooled = 0.0;
  int rounds = 0;  // fits made
  /// Each pair's σ relative to σ̄ (σ̂_H/σ̄, σ̂_V/σ̄, no unit), as FramePairs::precision with
  /// relative weights; empty unless estimated.
  std::vector<Precision> weights;
};

/// From the fit of `model` with unit weights in `params` and `outcome` to the pairs `fitted`
/// marks (per component), fits it again with the weights the variance components give until
/// their ratio changes by less than a tenth of its own standard error (at most 30 fits), leaving
/// the last fit in
/// `params` and `outcome`. pairs.precision is ignored. When the components cannot be estimated,
/// `params` and `outcome` hold the fit with unit weights.
VarianceComponents EstimateVarianceComponents(const TransformModel& model,
                                              const FramePairs& pairs,
                                              const std::vector<std::vector<bool>>& fitted,
                                              ModelParameters& params, FitOutcome& outcome);

}  // namespace Quorvane
