// Least-squares statistics of a fitted component. The residuals and their Jacobian come from the
// same model the fit minimises, so they describe exactly the problem that was solved; with a
// priori σ every row is divided by its σ (whitened), which makes them those of the weighted least
// squares. The test of each pair is in leave_one_out.cpp.
#include "estimation/fit_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <Eigen/Dense>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>

#include "estimation/fixed_shapes.h"
#include "estimation/leave_one_out.h"

namespace Quorvane {

namespace {

// J counts as regular while its column-scaled condition number stays below 1/√ε: beyond that the
// covariance, whose rounding error grows with the condition number, has fewer than eight digits.
const double kSmallestSingularValueRatio = std::sqrt(std::numeric_limits<double>::epsilon());

// The component's rows at the fit, whitened, and each pair's residual in metres into `stats`;
// D rows a pair and U parameters, each Eigen::Dynamic for any.
template <int D, int U>
WhitenedComponent Linearise(ComponentLayout layout, int parameters, const std::vector<bool>& fitted,
                            const LinearisePair& linearise,
                            const std::vector<Precision>* precision, FitStatistics& stats) {
  const std::size_t n = fitted.size();
  WhitenedComponent out;
  const int d = D != Eigen::Dynamic ? D : RowsOf(layout);
  const int u = U != Eigen::Dynamic ? U : parameters;
  out.d = d;
  for (std::size_t i = 0; i < n; ++i) {
    if (fitted[i]) out.rows.push_back(i);
  }
  const Eigen::Index m = static_cast<Eigen::Index>(out.rows.size());
  out.J.resize(d * m, u);
  out.values.resize(d * m);
  std::vector<double> jacobian(static_cast<std::size_t>(d * u));
  PairLinearisation pair;
  pair.jacobian = jacobian.data();
  Eigen::Index at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    linearise(i, pair);
    stats.residuals[i] = PointOf(pair.residual, d);
    if (!fitted[i]) continue;
    for (int r = 0; r < d; ++r) {
      for (int k = 0; k < u; ++k) out.J(at + r, k) = jacobian[r * u + k];
      out.values[at + r] = pair.residual[r];
    }
    at += d;
    out.largestCoordinate = std::max(out.largestCoordinate, pair.largestCoordinate);
    const Point3& v = stats.residuals[i];
    if (layout != ComponentLayout::Vertical) out.sumHorizontal += v.x * v.x + v.y * v.y;
    if (layout != ComponentLayout::Horizontal) out.sumVertical += v.z * v.z;
  }
  out.plainSum = out.sumHorizontal + out.sumVertical;
  stats.sumOfSquares = out.plainSum;
  out.weightedHorizontal = out.sumHorizontal;
  out.weightedVertical = out.sumVertical;
  if (precision == nullptr) return out;
  // Each row divided by its σ, and the sums of the rows so divided.
  out.whitening.resize(d * m);
  double horizontal = 0.0, vertical = 0.0;
  for (Eigen::Index row = 0; row < m; ++row) {
    double whitening[3];
    RowWhitening(layout, precision, out.rows[static_cast<std::size_t>(row)], whitening);
    for (int r = 0; r < d; ++r) {
      const Eigen::Index k = d * row + r;
      out.whitening[k] = whitening[r];
      out.J.row(k) *= whitening[r];
      out.values[k] *= whitening[r];
      out.largestWeight = std::max(out.largestWeight, whitening[r] * whitening[r]);
      const double w = out.values[k];
      (layout == ComponentLayout::Vertical || r == 2 ? vertical : horizontal) += w * w;
    }
  }
  stats.sumOfSquares = horizontal + vertical;
  out.weightedHorizontal = horizontal;
  out.weightedVertical = vertical;
  return out;
}

// The factors that scale each column of J to unit length; false for a column of length 0 or
// not finite.
bool UnitColumns(const Eigen::MatrixXd& J, Eigen::VectorXd& scaling) {
  scaling.resize(J.cols());
  for (Eigen::Index k = 0; k < J.cols(); ++k) {
    const double norm = J.col(k).norm();
    if (!(norm > 0.0) || !std::isfinite(norm)) return false;
    scaling[k] = 1.0 / norm;
  }
  return true;
}

// Linearise of a component of any shape, with fixed sizes for those of
// QUORVANE_FIXED_STATISTICS_SHAPES.
WhitenedComponent LineariseAny(ComponentLayout layout, int u, const std::vector<bool>& fitted,
                               const LinearisePair& linearise,
                               const std::vector<Precision>* precision, FitStatistics& stats) {
  [[maybe_unused]] const int d = RowsOf(layout);
#define QUORVANE_LINEARISE_WITH(rows, parameters)                                     \
  if (d == rows && u == parameters) {                                                 \
    return Linearise<rows, parameters>(layout, u, fitted, linearise, precision, stats); \
  }
  QUORVANE_FIXED_STATISTICS_SHAPES(QUORVANE_LINEARISE_WITH)
#undef QUORVANE_LINEARISE_WITH
  return Linearise<Eigen::Dynamic, Eigen::Dynamic>(layout, u, fitted, linearise, precision, stats);
}

}  // namespace

double BlunderTestCritical(int rows, int degreesOfFreedom) {
  const boost::math::fisher_f_distribution<double> distribution(static_cast<double>(rows),
                                                                degreesOfFreedom);
  return boost::math::quantile(boost::math::complement(distribution, kBlunderTestLevel));
}

double KnownVarianceTestCritical(int rows) {
  const boost::math::chi_squared_distribution<double> distribution(static_cast<double>(rows));
  return boost::math::quantile(boost::math::complement(distribution, kBlunderTestLevel));
}

VarianceTest TestVarianceFactor(double factor, int redundancy) {
  // σ̂0²/σ0² = vᵀPv / r, and vᵀPv / σ0² follows χ²(r) when the a priori σ are right.
  const boost::math::chi_squared_distribution<double> distribution(redundancy);
  const double r = static_cast<double>(redundancy);
  VarianceTest test;
  test.tested = true;
  test.factor = factor;
  test.lower = boost::math::quantile(distribution, kVarianceTestLevel / 2) / r;
  test.upper =
      boost::math::quantile(boost::math::complement(distribution, kVarianceTestLevel / 2)) / r;
  test.passed = factor >= test.lower && factor <= test.upper;
  return test;
}

FitStatistics ComputeComponentStatistics(ComponentLayout layout, int parameters,
                                         const std::vector<bool>& fitted,
                                         const LinearisePair& linearise,
                                         const std::vector<Precision>* precision,
                                         bool varianceKnown) {
  const int u = parameters;
  const std::size_t n = fitted.size();
  FitStatistics stats;
  stats.residuals.resize(n);
  stats.tests.resize(n);
  stats.covariance = Eigen::MatrixXd::Zero(u, u);
  stats.sigma.assign(static_cast<std::size_t>(u), 0.0);
  stats.varianceKnown = varianceKnown && precision != nullptr;
  if (stats.varianceKnown) stats.sigmaScaled.assign(static_cast<std::size_t>(u), 0.0);
  const WhitenedComponent at = LineariseAny(layout, u, fitted, linearise, precision, stats);
  const std::size_t m = at.rows.size();
  stats.fittedPairs = m;
  stats.redundancy = at.d * static_cast<int>(m) - u;
  // Residuals beyond about 1e154 m (heights near the double's limit) overflow their squares:
  // nothing is determined then, rather than a statistic that is infinite or NaN.
  if (!std::isfinite(at.plainSum) || !std::isfinite(stats.sumOfSquares)) return stats;
  if (m >= 1) {
    stats.rmsDetermined = true;
    stats.rmsHorizontal = std::sqrt(at.sumHorizontal / static_cast<double>(m));
    stats.rmsVertical = std::sqrt(at.sumVertical / static_cast<double>(m));
  }
  const int r = stats.redundancy;
  if (r < 1 || u < 1) return stats;
  stats.sigma0Determined = true;
  const double sigma0Squared = stats.sumOfSquares / r;
  stats.sigma0 = std::sqrt(sigma0Squared);
  if (stats.varianceKnown) stats.varianceTest = TestVarianceFactor(sigma0Squared, r);
  // The variance the parameters' precision is scaled by: σ0² = 1 when known, else its estimate.
  const double variance = stats.varianceKnown ? 1.0 : sigma0Squared;

  // Scaling every column to unit length makes the condition number independent of units (metres
  // against radians) and of the network's distance from the origin; then J·D = U Σ Vᵀ gives
  // (JᵀJ)⁻¹ = D V Σ⁻² Vᵀ D and the hat matrix J(JᵀJ)⁻¹Jᵀ = U Uᵀ without forming JᵀJ, whose
  // condition number would be the square.
  Eigen::VectorXd scaling;
  if (!UnitColumns(at.J, scaling)) return stats;
  const Eigen::MatrixXd scaled = at.J * scaling.asDiagonal();
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled, Eigen::ComputeThinU | Eigen::ComputeThinV);
  const auto& singular = svd.singularValues();
  if (!(singular[u - 1] > kSmallestSingularValueRatio * singular[0])) return stats;

  const Eigen::MatrixXd normalInverse =
      scaling.asDiagonal() *
      (svd.matrixV() * singular.array().square().inverse().matrix().asDiagonal() *
       svd.matrixV().transpose()) *
      scaling.asDiagonal();
  // Column norms far from 1 (coordinates of 1e-200 m or 1e200 m) can overflow the product even
  // when J is well conditioned: such a covariance is not determined either.
  if (!(variance * normalInverse).allFinite() || !(sigma0Squared * normalInverse).allFinite()) {
    return stats;
  }
  stats.precisionDetermined = true;
  for (int a = 0; a < u; ++a) {
    for (int b = 0; b < u; ++b) {
      stats.covariance(a, b) = variance * normalInverse(a, b);
    }
    stats.sigma[a] = std::sqrt(std::max(0.0, stats.covariance(a, a)));
    if (stats.varianceKnown) stats.sigmaScaled[a] = stats.sigma[a] * stats.sigma0;
  }
  TestPairs(at, svd.matrixU(), scaling, stats);
  return stats;
}

bool ComputeRowGroups(ComponentLayout layout, int parameters, const std::vector<bool>& fitted,
                      const LinearisePair& linearise, const std::vector<Precision>* precision,
                      RowGroups& groups) {
  const int u = parameters;
  FitStatistics stats;
  stats.residuals.resize(fitted.size());
  const WhitenedComponent at = LineariseAny(layout, u, fitted, linearise, precision, stats);
  const Eigen::Index rows = at.J.rows();
  // The vertical rows: all of a vertical component's, every third of a whole one's.
  const auto vertical = [&](Eigen::Index j) {
    return layout == ComponentLayout::Vertical || (at.d == 3 && j % 3 == 2);
  };
  // The redundancy numbers sum to n_k − tr(N⁻¹ N_k) over group k, N = JᵀJ of the whitened rows
  // and N_k that of the group's, on columns scaled to unit length as the statistics scale them.
  Eigen::VectorXd scaling;
  if (!UnitColumns(at.J, scaling)) return false;
  const Eigen::MatrixXd scaled = at.J * scaling.asDiagonal();
  Eigen::VectorXd inVertical(rows);
  for (Eigen::Index j = 0; j < rows; ++j) inVertical[j] = vertical(j) ? 1.0 : 0.0;
  const Eigen::MatrixXd normal = scaled.transpose() * scaled;
  const Eigen::MatrixXd normalVertical = scaled.transpose() * inVertical.asDiagonal() * scaled;
  // Regular as the statistics require: a condition number of N below 1/ε is one of J below 1/√ε.
  const Eigen::LDLT<Eigen::MatrixXd> solve(normal);
  if (solve.info() != Eigen::Success ||
      !(solve.rcond() > std::numeric_limits<double>::epsilon())) {
    return false;
  }
  groups.rows[1] = static_cast<double>(at.d == 2 ? 0 : rows / at.d);
  groups.rows[0] = static_cast<double>(rows) - groups.rows[1];
  groups.squares[0] = at.weightedHorizontal;
  groups.squares[1] = at.weightedVertical;
  groups.redundancy[1] = groups.rows[1] - solve.solve(normalVertical).trace();
  groups.redundancy[0] = static_cast<double>(rows - u) - groups.redundancy[1];
  return std::isfinite(at.weightedHorizontal + at.weightedVertical) &&
         std::isfinite(groups.redundancy[1]);
}

bool DeterminesTransform(const PointList& source, const std::vector<bool>& fitted) {
  const Point3* first = nullptr;
  for (std::size_t i = 0; i < source.size() && i < fitted.size(); ++i) {
    if (!fitted[i]) continue;
    if (first == nullptr) {
      first = &source[i];
    } else if (std::hypot(source[i].x - first->x, source[i].y - first->y) > kCoincidenceDistance) {
      return true;
    }
  }
  return false;
}

}  // namespace Quorvane
