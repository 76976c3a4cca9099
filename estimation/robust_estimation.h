// Robust estimation of a model's component: the pairs that hold blunders found even where several
// of them inflate σ̂0 together and hide one another from the leave-one-out test (masking).
#pragma once

#include <cstddef>
#include <vector>

#include "estimation/model.h"

namespace Quorvane {

/// IGG III's weight function (Yang Yuanxi, 1994) on a pair's standardised residual z: weight 1
/// up to kIggK0, (k0/z)·((k1 − z)/(k1 − k0))² between, 0 from kIggK1 on. k1 = 3.0, the low end of
/// the usual 3.0 to 4.5: the pair test at α = 0.001 fails a single row from z = 3.29 on, so no
/// pair that the final test would fail keeps a weight that pulls the fit of a small network
/// towards it; the good pairs cut between 3.0 and 3.29 (about 0.2 % of them) the re-admission
/// test gives back.
constexpr double kIggK0 = 1.5;
constexpr double kIggK1 = 3.0;

/// Minimal subsets the start fits: every one while there are at most this many, else drawn at
/// random (with a fixed seed, so that a run repeats itself) until one holds no blunder with
/// probability kRobustConfidence at the share of pairs the best fit so far explains, and never
/// more than this many. 500 draws of two pairs out of pairs half of which are wrong all miss a
/// clean subset with probability 0.75⁵⁰⁰.
constexpr std::size_t kRobustSubsets = 500;
constexpr double kRobustConfidence = 0.999;

/// Pairs a subset is judged by: all the component's pairs up to this many, else this many drawn
/// at random. With kRobustSubsets this bounds the start's work whatever the number of pairs.
constexpr std::size_t kRobustScoringPairs = 1000;

/// A pair the robust estimation removed or re-admitted, and its test against the least-squares
/// fit of the pairs kept (without it): Δ = v̄ᵀ(I + J̄ N⁻¹ J̄ᵀ)⁻¹v̄, v̄ and J̄ its misclosure and
/// Jacobian divided by its σ (unit weights: 1 m), N = Σ J̄ᵀJ̄ over the kept pairs; the statistic
/// Δ / (d σ̂²) against the F(d, r) quantile at 1 − kBlunderTestLevel (σ̂² and r the kept pairs'),
/// or with absolute σ Δ against the χ²(d) quantile.
struct RobustTest {
  std::size_t pair = 0;  // index into the pair lists, from 0
  /// False when the kept pairs leave no redundancy to test it by: such a pair is given back,
  /// and nothing below is meaningful.
  bool testable = false;
  double statistic = 0.0;  // no unit
  double critical = 0.0;   // no unit
};

/// What the robust estimation of one component did.
struct RobustOutcome {
  /// False when the component's pairs are too few for it (not two more than a minimal subset)
  /// or no subset or reweighting determined it: then no pair was removed.
  bool started = false;
  /// The start: with absolute σ the subset of the largest consensus (RANSAC with each pair's
  /// cost capped where IGG III's weight reaches 0, MSAC), else the least median of squares.
  bool consensus = false;
  std::size_t subsetPairs = 0;  // pairs a minimal subset holds, ⌈u / d⌉
  std::size_t subsets = 0;      // minimal subsets fitted
  int iterations = 0;           // rounds of IGG III's reweighting
  std::vector<RobustTest> removed;     // in pair order, each tested against the final fit
  std::vector<RobustTest> readmitted;  // in the order they were given back
};

/// The robust estimation of component `c` of `model` over the pairs `used` marks, from `params`
/// (its reference point and the other components' values are kept and left unchanged): a start
/// from minimal subsets fitted by FitComponent; IGG III reweighting, one Gauss–Newton step of
/// the weighted least squares a round; then every pair it down-weighted or cut is tested against
/// the fit of the pairs kept whole and given back where it passes, until none passes. The pairs
/// still out are cleared in `used`. Weighted by pairs.precision where given; with
/// pairs.varianceKnown the scale is σ0 = 1, else it is estimated (the median of the standardised
/// residuals).
RobustOutcome RobustComponent(const TransformModel& model, std::size_t c, const FramePairs& pairs,
                              std::vector<bool>& used, const ModelParameters& params);

}  // namespace Quorvane
