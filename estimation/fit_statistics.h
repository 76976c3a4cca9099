// What a fitted similarity transform says about its points: residuals, the standard deviation of
// unit weight, the parameters' precision and a statistical test of every pair for a blunder.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "common/point_list.h"
#include "estimation/fit_transform.h"

namespace Quorvane {

/// Parameters that enter the model: tx, ty, tz, rz, scale (rx and ry never do).
constexpr int kModelParameters = 5;

/// Probability that the blunder test flags a pair whose coordinates hold no blunder (normal,
/// independent errors of equal variance in every coordinate).
constexpr double kBlunderTestLevel = 0.001;

/// The leave-one-out test of one fitted pair, externally studentised.
struct PairTest {
  /// False for a pair that took no part in the fit, and for a fitted one when fewer than three
  /// pairs are fitted (r − 3 < 1), the parameters are not determined, or the pair alone
  /// determines some combination of them (Q_ii singular): then nothing below is meaningful.
  bool testable = false;
  double statistic = 0.0;  // T_i, no unit; +∞ when the other pairs fit exactly
  double critical = 0.0;   // the F(3, r − 3) quantile at 1 − kBlunderTestLevel
  bool suspect = false;    // statistic > critical
  /// Q_ii⁻¹ v_i: the pair's residual when it is left out and the others are fitted alone, metres.
  Point3 misclosure;
  /// v_iᵀ Q_ii⁻¹ v_i: what leaving the pair out takes off the sum of squares, square metres.
  double sumOfSquaresDrop = 0.0;
};

/// Statistics of one fit. Counts and sums are over the fitted pairs; residuals and tests are
/// given for every pair, in pair order.
struct FitStatistics {
  std::size_t fittedPairs = 0;  // m
  int redundancy = 0;           // r = 3m − 5; negative for fewer than two pairs

  /// v_i = T(p_i) − q_i for every pair, fitted or not (for one not fitted, its misclosure as a
  /// check point): easting, northing, height, metres, with T the fitted S·Rz·T.
  PointList residuals;
  double sumOfSquares = 0.0;  // Σ|v_i|² over the fitted pairs, square metres

  /// r ≥ 1 and Σ|v_i|² finite (it overflows only for residuals beyond about 1e154 m; then nothing
  /// below is determined, RMS included).
  bool sigma0Determined = false;
  double sigma0 = 0.0;            // σ̂0 = √(Σ|v_i|² / r), metres
  bool rmsDetermined = false;     // m ≥ 1 and Σ|v_i|² finite
  double rmsHorizontal = 0.0;     // √(Σ(vE² + vN²) / m), metres
  double rmsVertical = 0.0;       // √(Σ vH² / m), metres

  /// r ≥ 1 and JᵀJ regular to working precision; otherwise sigma and covariance are zeros.
  bool precisionDetermined = false;
  /// C = σ̂0² (JᵀJ)⁻¹, J the 3m × 5 Jacobian of the residuals at the fit, in the order tx, ty, tz
  /// (metres), rz (radians), scale (no unit); entries in the products of those units.
  std::array<std::array<double, kModelParameters>, kModelParameters> covariance{};
  std::array<double, kModelParameters> sigma{};  // √ of C's diagonal

  std::vector<PairTest> tests;  // one per pair
};

/// The statistics of `params` fitted to the pairs (source[i], destination[i]) for which
/// fitted[i] is true, i below source.size() (destination and fitted have at least as many
/// entries). Plane coordinates in metres. Finite input is assumed; nothing is reported.
///
/// Numerically singular means that the columns of J, each scaled to unit length, have a
/// condition number above 1/√ε (about 6.7e7): the covariance would then carry fewer than about
/// eight correct digits. All coincident source points, a single pair, or points spread along a
/// few millimetres far from the origin come out so.
FitStatistics ComputeFitStatistics(const PointList& source, const PointList& destination,
                                   const std::vector<bool>& fitted, const TransformParams& params);

/// Largest horizontal distance, metres, at which source points still count as one position:
/// control points closer than that cannot fix a rotation or a scale.
constexpr double kCoincidenceDistance = 0.001;

/// Whether the pairs i with fitted[i] true can determine the transform at all: some fitted
/// source point lies more than kCoincidenceDistance from the first one in easting and northing.
/// When not (fewer than two pairs included), rotation and scale are free or nearly so and many
/// transforms fit the points equally well. Takes one pass over the points.
bool DeterminesTransform(const PointList& source, const std::vector<bool>& fitted);

}  // namespace Quorvane
