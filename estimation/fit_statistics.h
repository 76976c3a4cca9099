// What a fitted model says about its points: residuals, the standard deviation of unit weight,
// the parameters' precision and a statistical test of every pair for a blunder, for each part
// of a model that is fitted on its own (a component).
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include <Eigen/Core>

#include "common/point_list.h"
#include "estimation/fit_transform.h"

namespace Quorvane {

/// Probability that the blunder test flags a pair whose coordinates hold no blunder (normal,
/// independent errors of equal variance in every coordinate of the component).
constexpr double kBlunderTestLevel = 0.001;

/// The critical value of the blunder test of a pair of `rows` residual rows (1 to 3) whose
/// fit without it leaves `degreesOfFreedom` (at least 1): the F(rows, degreesOfFreedom) quantile
/// at 1 − kBlunderTestLevel.
double BlunderTestCritical(int rows, int degreesOfFreedom);

/// The same test when the variance is known a priori (the σ are absolute, σ0 = 1): the χ²(rows)
/// quantile at 1 − kBlunderTestLevel.
double KnownVarianceTestCritical(int rows);

/// Probability that the global test of the variance factor fails a fit whose a priori σ are
/// right (normal, independent errors), split equally between the two tails.
constexpr double kVarianceTestLevel = 0.05;

/// The global test of a fit whose a priori σ are absolute: the variance factor σ̂0²/σ0² (σ0 = 1)
/// against its distribution χ²(r)/r.
struct VarianceTest {
  bool tested = false;  // the σ are absolute and r ≥ 1 with Σ vᵀPv finite
  double factor = 0.0;  // σ̂0²/σ0², no unit
  double lower = 0.0;   // χ²(r)/r at kVarianceTestLevel / 2
  double upper = 0.0;   // χ²(r)/r at 1 − kVarianceTestLevel / 2
  bool passed = false;  // lower ≤ factor ≤ upper
};

/// The global test of the variance factor `factor` of a fit of redundancy r ≥ 1.
VarianceTest TestVarianceFactor(double factor, int redundancy);

/// The plane coordinates a component explains, in the order of its residual rows.
enum class ComponentLayout {
  Whole,       // easting, northing, height: three rows
  Horizontal,  // easting, northing: two rows
  Vertical,    // height: one row
};

/// Residual rows per pair of a layout.
constexpr int RowsOf(ComponentLayout layout) {
  return layout == ComponentLayout::Whole ? 3 : layout == ComponentLayout::Horizontal ? 2 : 1;
}

/// The leave-one-out test of one fitted pair, externally studentised; with absolute σ, the
/// pair's χ² test against the a priori variance.
struct PairTest {
  /// False for a pair that took no part in the fit, and for a fitted one when the other pairs
  /// leave no redundancy (r − d < 1, d the component's rows per pair; with absolute σ r < d),
  /// the parameters are not determined, or the pair alone determines some combination of them
  /// (Q_ii singular): then nothing below is meaningful.
  bool testable = false;
  /// T_i, no unit: Δ_i / (d σ̂²_(i)), +∞ when the other pairs fit exactly; with absolute σ
  /// Δ_i / σ0² = Δ_i.
  double statistic = 0.0;
  /// The F(d, r − d) quantile at 1 − kBlunderTestLevel; with absolute σ the χ²(d) quantile.
  double critical = 0.0;
  bool suspect = false;    // statistic > critical
  /// Q_ii⁻¹ v_i: the pair's residual when it is left out and the others are fitted alone,
  /// metres, in the coordinates of the component (zeros in the others).
  Point3 misclosure;
  /// v_iᵀ Q_ii⁻¹ v_i: what leaving the pair out takes off the sum of squares, square metres.
  double sumOfSquaresDrop = 0.0;
};

/// Statistics of one fitted component. Counts and sums are over its fitted pairs; residuals and
/// tests are given for every pair, in pair order.
///
/// With a priori precision (weights p = 1/σ² per residual row, FramePairs::precision) the least
/// squares are weighted: the sums of squares, σ̂0 and the tests are those of the rows divided by
/// their σ (no unit; σ̂0 is then the factor by which the a priori σ are too small or too large),
/// while residuals, misclosures and RMS stay in metres. Without (unit weights) both are in metres.
/// When the σ are absolute (varianceKnown: σ0 = 1 known a priori) the parameters' precision and
/// the pairs' tests take the a priori variance instead of σ̂0², and the variance factor is tested.
struct FitStatistics {
  std::size_t fittedPairs = 0;  // m
  int redundancy = 0;           // r = d·m − u; negative when the pairs cannot determine it

  /// v_i = T(p_i) − q_i for every pair, fitted or not (for one not fitted, its misclosure as a
  /// check point), metres, in the coordinates the component explains and 0 in the others.
  PointList residuals;
  /// Σ v_iᵀ P_i v_i over the fitted pairs: Σ|v_i|² in square metres for unit weights.
  double sumOfSquares = 0.0;

  /// r ≥ 1 and Σ|v_i|² finite (it overflows only for residuals beyond about 1e154 m; then nothing
  /// below is determined, RMS included).
  bool sigma0Determined = false;
  double sigma0 = 0.0;         // σ̂0 = √(Σ v_iᵀ P_i v_i / r): metres for unit weights
  bool rmsDetermined = false;  // m ≥ 1 and Σ|v_i|² finite
  double rmsHorizontal = 0.0;  // √(Σ(vE² + vN²) / m), metres; 0 for a vertical component
  double rmsVertical = 0.0;    // √(Σ vH² / m), metres; 0 for a horizontal component

  /// The a priori σ are absolute: σ0 = 1 is known, and the tests and C below take it.
  bool varianceKnown = false;
  /// With varianceKnown, the global test of σ̂0²; not tested otherwise.
  VarianceTest varianceTest;

  /// r ≥ 1 and JᵀPJ regular to working precision; otherwise sigma and covariance are zeros.
  bool precisionDetermined = false;
  /// C = σ̂0² (JᵀPJ)⁻¹, J the d·m × u Jacobian of the residuals at the fit, over the component's
  /// parameters in its order (u × u; for the similarity tx, ty, tz in metres, rz in radians,
  /// scale), entries in the products of the parameters' units; with varianceKnown
  /// C = σ0² (JᵀPJ)⁻¹.
  Eigen::MatrixXd covariance;
  std::vector<double> sigma;  // √ of C's diagonal
  /// With varianceKnown, σ scaled by the estimated factor, σ · σ̂0; empty otherwise.
  std::vector<double> sigmaScaled;

  std::vector<PairTest> tests;  // one per pair
};

/// One pair's part in a component, linearised at the fit: its residual rows (metres) and their
/// derivatives by the component's parameters, and the magnitude of the largest coordinate or
/// term that went into the residual (metres), which sets the size of its rounding.
struct PairLinearisation {
  double residual[3] = {0.0, 0.0, 0.0};  // a pair has at most three coordinates
  /// rows × the component's parameters, row-major, in storage the caller provides.
  double* jacobian = nullptr;
  double largestCoordinate = 0.0;
};

/// A component's linearisation of pair i, i below the pair count.
using LinearisePair = std::function<void(std::size_t i, PairLinearisation& out)>;

/// The statistics of one component with `parameters` parameters (at least 1) and the given
/// layout, at a fit to the pairs i with fitted[i] true, i below fitted.size(); `linearise` gives
/// each pair's residual and Jacobian at that fit. `precision`, when not null, holds each pair's a
/// priori σ (every one above 0), which weight its rows as FitStatistics says; `varianceKnown`
/// says they are absolute (and is ignored without them). Finite input is assumed; nothing is
/// reported.
///
/// Numerically singular means that the columns of J (with weights, of P^½·J), each scaled to
/// unit length, have a condition number above 1/√ε (about 6.7e7): the covariance would then carry
/// fewer than about eight correct digits. All coincident source points, a single pair, or points
/// spread along a few millimetres far from the origin come out so.
FitStatistics ComputeComponentStatistics(ComponentLayout layout, int parameters,
                                         const std::vector<bool>& fitted,
                                         const LinearisePair& linearise,
                                         const std::vector<Precision>* precision = nullptr,
                                         bool varianceKnown = false);

/// A component's fitted rows at a fit in two groups, [0] the horizontal (easting, northing) and
/// [1] the vertical (height or up), for an estimate of each group's variance.
struct RowGroups {
  double rows[2] = {0.0, 0.0};
  double squares[2] = {0.0, 0.0};  // Σ v² of the rows divided by their σ (FitStatistics)
  /// The sums of the rows' redundancy numbers (Q_vv P)_jj: r_H + r_V = r.
  double redundancy[2] = {0.0, 0.0};
};

/// The row groups of a component, with the arguments of ComputeComponentStatistics; false (and
/// `groups` not all filled) where that would leave the precision not determined, or the sums
/// not finite.
bool ComputeRowGroups(ComponentLayout layout, int parameters, const std::vector<bool>& fitted,
                      const LinearisePair& linearise, const std::vector<Precision>* precision,
                      RowGroups& groups);

/// The factors that whiten pair i's residual rows in a component of `layout`, in its row order:
/// 1/σ of each row (the horizontal σ of easting and northing, the vertical σ of the height or
/// up) from `precision`, or 1 each when `precision` is null.
inline void RowWhitening(ComponentLayout layout, const std::vector<Precision>* precision,
                         std::size_t i, double whitening[3]) {
  const double horizontal = precision != nullptr ? 1.0 / (*precision)[i].horizontal : 1.0;
  const double vertical = precision != nullptr ? 1.0 / (*precision)[i].vertical : 1.0;
  whitening[0] = layout == ComponentLayout::Vertical ? vertical : horizontal;
  whitening[1] = horizontal;
  whitening[2] = vertical;
}

/// Largest horizontal distance, metres, at which source points still count as one position:
/// control points closer than that cannot fix a rotation or a scale.
constexpr double kCoincidenceDistance = 0.001;

/// Whether the pairs i with fitted[i] true (i below both sizes) can determine the transform at
/// all: some fitted source point lies more than kCoincidenceDistance from the first one in easting
/// and northing.
/// When not (fewer than two pairs included), rotation and scale are free or nearly so and many
/// transforms fit the points equally well. Takes one pass over the points.
bool DeterminesTransform(const PointList& source, const std::vector<bool>& fitted);

}  // namespace Quorvane
