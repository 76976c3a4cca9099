// Least-squares statistics of a fitted component. The residuals and their Jacobian come from the
// same model the fit minimises, so they describe exactly the problem that was solved. The test
// of each pair is the leave-one-out (externally studentised) outlier test of regression
// diagnostics, for a block of d observations (Cook and Weisberg, Residuals and Influence in
// Regression, 1982, ch. 2 and 4; in geodesy the multivariate form of Pope's τ test).
#include "estimation/fit_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <ceres/jet.h>
#include <Eigen/Dense>
#include <boost/math/distributions/fisher_f.hpp>

#include "estimation/component_shapes.h"
#include "estimation/register_point2point_error.h"

namespace Quorvane {

namespace {

using Jet = ceres::Jet<double, 7>;
// The similarity's parameters that enter it, tx, ty, tz, rz, scale, at their positions among the
// functor's seven blocks (rx and ry, 3 and 4, never enter).
constexpr int kSimilarityParameters = 5;
constexpr int kParameterBlock[kSimilarityParameters] = {0, 1, 2, 5, 6};

// J counts as regular while its column-scaled condition number stays below 1/√ε: beyond that the
// covariance, whose rounding error grows with the condition number, has fewer than eight digits.
const double kSmallestSingularValueRatio = std::sqrt(std::numeric_limits<double>::epsilon());
// Q_ii has its eigenvalues in [0, 1]; below this one the pair alone fixes some combination of the
// parameters, its residual there is zero by construction and nothing can be tested.
const double kSmallestRedundancyShare = std::sqrt(std::numeric_limits<double>::epsilon());
// Residuals below this fraction of the largest coordinate are rounding (exact data ends the solve
// with residuals of a few ulps of the coordinates, 1e-15 of them): a sum of squares at that level
// says nothing about any pair, and every pair's statistic is 0.
constexpr double kRoundingResidualRatio = 1e-12;
// Σ|v|² − Δ_i loses the digits Δ_i shares with Σ|v|², and Δ_i carries the rounding of Q_ii⁻¹:
// when the difference is below this fraction of Σ|v|² (a pair that holds nearly all of the misfit,
// as on three pairs spread over a continent) it is computed again from the other pairs alone.
constexpr double kCancellationRatio = 1e-6;

double LargestCoordinate(const Point3& p) {
  return std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
}

// The sum of squares of the other pairs' residuals after a fit without pair `left` (row block
// `leftRow`), linearised at the fit: min over δ of |v_rest + J_rest δ|², solved by QR of the
// column-scaled J_rest, which does not go through the difference of two nearly equal sums.
template <int D>
double SumOfSquaresWithout(const Eigen::MatrixXd& J, const Eigen::VectorXd& v, std::size_t leftRow,
                           const Eigen::VectorXd& scaling) {
  const Eigen::Index rows = J.rows() - D;
  Eigen::MatrixXd rest(rows, J.cols());
  Eigen::VectorXd values(rows);
  const Eigen::Index cut = static_cast<Eigen::Index>(D * leftRow);
  rest.topRows(cut) = J.topRows(cut);
  rest.bottomRows(rows - cut) = J.bottomRows(rows - cut);
  values.head(cut) = v.head(cut);
  values.tail(rows - cut) = v.tail(rows - cut);
  rest = rest * scaling.asDiagonal();
  const Eigen::VectorXd step = rest.colPivHouseholderQr().solve(-values);
  return (values + rest * step).squaredNorm();
}

template <ComponentLayout L, int U>
FitStatistics ComputeStatistics(const std::vector<bool>& fitted, const LinearisePair& linearise) {
  constexpr int D = RowsOf(L);
  const std::size_t n = fitted.size();
  FitStatistics stats;
  stats.residuals.resize(n);
  stats.tests.resize(n);
  stats.covariance = Eigen::MatrixXd::Zero(U, U);
  stats.sigma.assign(U, 0.0);

  std::vector<std::size_t> rows;  // the fitted pairs, in pair order
  for (std::size_t i = 0; i < n; ++i) {
    if (fitted[i]) rows.push_back(i);
  }
  const std::size_t m = rows.size();
  stats.fittedPairs = m;
  stats.redundancy = D * static_cast<int>(m) - U;

  // Each pair's residual rows, in the coordinates of its layout.
  const auto toPoint = [](const double* r) {
    if constexpr (L == ComponentLayout::Whole) return Point3(r[0], r[1], r[2]);
    if constexpr (L == ComponentLayout::Horizontal) return Point3(r[0], r[1], 0.0);
    return Point3(0.0, 0.0, r[0]);
  };
  Eigen::MatrixXd J(D * m, U);
  Eigen::VectorXd values(D * m);
  Eigen::Matrix<double, D, U> block;
  double jacobian[D * U];
  PairLinearisation pair;
  pair.jacobian = jacobian;
  double sumHorizontal = 0.0;
  double sumVertical = 0.0;
  double largestCoordinate = 0.0;
  for (std::size_t i = 0, row = 0; i < n; ++i) {
    linearise(i, pair);
    stats.residuals[i] = toPoint(pair.residual);
    if (!fitted[i]) continue;
    for (int r = 0; r < D; ++r) {
      for (int k = 0; k < U; ++k) block(r, k) = jacobian[r * U + k];
      values[D * row + r] = pair.residual[r];
    }
    J.middleRows<D>(D * row++) = block;
    largestCoordinate = std::max(largestCoordinate, pair.largestCoordinate);
    const Point3& v = stats.residuals[i];
    if constexpr (L != ComponentLayout::Vertical) sumHorizontal += v.x * v.x + v.y * v.y;
    if constexpr (L != ComponentLayout::Horizontal) sumVertical += v.z * v.z;
  }
  stats.sumOfSquares = sumHorizontal + sumVertical;
  // Residuals beyond about 1e154 m (heights near the double's limit) overflow their squares:
  // nothing is determined then, rather than a statistic that is infinite or NaN.
  if (!std::isfinite(stats.sumOfSquares)) return stats;
  if (m >= 1) {
    stats.rmsDetermined = true;
    stats.rmsHorizontal = std::sqrt(sumHorizontal / static_cast<double>(m));
    stats.rmsVertical = std::sqrt(sumVertical / static_cast<double>(m));
  }
  const int r = stats.redundancy;
  if (r < 1) return stats;
  stats.sigma0Determined = true;
  const double sigma0Squared = stats.sumOfSquares / r;
  stats.sigma0 = std::sqrt(sigma0Squared);

  // Scaling every column to unit length makes the condition number independent of units (metres
  // against radians) and of the network's distance from the origin; then J·D = U Σ Vᵀ gives
  // (JᵀJ)⁻¹ = D V Σ⁻² Vᵀ D and the hat matrix J(JᵀJ)⁻¹Jᵀ = U Uᵀ without forming JᵀJ, whose
  // condition number would be the square.
  Eigen::Matrix<double, U, 1> scaling;
  for (int k = 0; k < U; ++k) {
    const double norm = J.col(k).norm();
    if (!(norm > 0.0) || !std::isfinite(norm)) return stats;
    scaling[k] = 1.0 / norm;
  }
  const Eigen::MatrixXd scaled = J * scaling.asDiagonal();
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled, Eigen::ComputeThinU | Eigen::ComputeThinV);
  const auto& singular = svd.singularValues();
  if (!(singular[U - 1] > kSmallestSingularValueRatio * singular[0])) return stats;

  const Eigen::Matrix<double, U, U> normalInverse =
      scaling.asDiagonal() *
      (svd.matrixV() * singular.array().square().inverse().matrix().asDiagonal() *
       svd.matrixV().transpose()) *
      scaling.asDiagonal();
  // Column norms far from 1 (coordinates of 1e-200 m or 1e200 m) can overflow the product even
  // when J is well conditioned: such a covariance is not determined either.
  if (!(sigma0Squared * normalInverse).allFinite()) return stats;
  stats.precisionDetermined = true;
  for (int a = 0; a < U; ++a) {
    for (int b = 0; b < U; ++b) {
      stats.covariance(a, b) = sigma0Squared * normalInverse(a, b);
    }
    stats.sigma[a] = std::sqrt(std::max(0.0, stats.covariance(a, a)));
  }

  // Leaving pair i out of the fit removes Δ_i = v_iᵀ Q_ii⁻¹ v_i from the sum of squares and leaves
  // it with the residual Q_ii⁻¹ v_i (the block form of the deleted-residual identities); the other
  // pairs then estimate the variance with r − d degrees of freedom, independently of pair i, and
  // T_i = Δ_i / (d σ̂²_(i)) follows F(d, r − d) when the pair holds no blunder.
  const int dfRest = r - D;
  if (dfRest < 1) return stats;
  const boost::math::fisher_f_distribution<double> distribution(static_cast<double>(D), dfRest);
  const double critical =
      boost::math::quantile(boost::math::complement(distribution, kBlunderTestLevel));
  const double roundingResidual = kRoundingResidualRatio * largestCoordinate;
  const bool exact =
      stats.sumOfSquares <= static_cast<double>(D) * m * roundingResidual * roundingResidual;
  const Eigen::MatrixXd& Umatrix = svd.matrixU();
  const Eigen::VectorXd columnScaling = scaling;
  for (std::size_t row = 0; row < m; ++row) {
    const std::size_t i = rows[row];
    const Eigen::Matrix<double, D, U> Ui = Umatrix.middleRows<D>(D * row);
    const Eigen::Matrix<double, D, D> Qii = Eigen::Matrix<double, D, D>::Identity() - Ui * Ui.transpose();
    const Eigen::Matrix<double, D, 1> v = values.segment<D>(D * row);
    Eigen::Matrix<double, D, 1> w;
    if constexpr (D == 1) {
      if (!(Qii(0, 0) > kSmallestRedundancyShare)) continue;
      w[0] = v[0] / Qii(0, 0);
    } else {
      const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, D, D>> eigen(Qii);
      if (!(eigen.eigenvalues()[0] > kSmallestRedundancyShare)) continue;
      w = eigen.eigenvectors() *
          (eigen.eigenvectors().transpose() * v).cwiseQuotient(eigen.eigenvalues());
    }
    const double drop = v.dot(w);
    PairTest& test = stats.tests[i];
    test.testable = true;
    test.misclosure = toPoint(w.data());
    test.sumOfSquaresDrop = drop;
    test.critical = critical;
    double rest = stats.sumOfSquares - drop;
    if (!exact && drop > 0.0 && rest < kCancellationRatio * stats.sumOfSquares) {
      rest = SumOfSquaresWithout<D>(J, values, row, columnScaling);
      // What is left at the rounding level of the coordinates is no misfit: the others fit exactly.
      if (rest <= static_cast<double>(D) * (m - 1) * roundingResidual * roundingResidual) rest = 0.0;
    }
    // When the other pairs fit exactly (the difference may even come out below zero) any
    // misclosure of this one is a blunder: the statistic is then infinite.
    test.statistic =
        exact || !(drop > 0.0) ? 0.0 : drop / (static_cast<double>(D) * std::max(rest, 0.0) / dfRest);
    test.suspect = test.statistic > critical;
  }
  return stats;
}

}  // namespace

FitStatistics ComputeComponentStatistics(ComponentLayout layout, int parameters,
                                         const std::vector<bool>& fitted,
                                         const LinearisePair& linearise) {
  // Each shape is the same arithmetic with fixed-size blocks.
#define QUORVANE_STATISTICS_OF(shapeLayout, shapeParameters)                       \
  if (layout == shapeLayout && parameters == shapeParameters) {                      \
    return ComputeStatistics<shapeLayout, shapeParameters>(fitted, linearise);      \
  }
  QUORVANE_COMPONENT_SHAPES(QUORVANE_STATISTICS_OF)
#undef QUORVANE_STATISTICS_OF
  return {};
}

void LineariseSimilarity(const Point3& p, const Point3& q, const TransformParams& params,
                         PairLinearisation& out) {
  const double values[7] = {params.tx, params.ty, params.tz,   params.rx,
                            params.ry, params.rz, params.scale};
  Jet blocks[7];
  for (int k = 0; k < 7; ++k) blocks[k] = Jet(values[k], k);
  Jet r[3];
  const RegisterPoint2PointError functor(p.x, p.y, p.z, q.x, q.y, q.z);
  functor(&blocks[0], &blocks[1], &blocks[2], &blocks[3], &blocks[4], &blocks[5], &blocks[6], r);
  for (int row = 0; row < 3; ++row) {
    out.residual[row] = r[row].a;
    for (int k = 0; k < kSimilarityParameters; ++k) {
      out.jacobian[row * kSimilarityParameters + k] = r[row].v[kParameterBlock[k]];
    }
  }
  out.largestCoordinate = std::max(LargestCoordinate(p), LargestCoordinate(q));
}

FitStatistics ComputeFitStatistics(const PointList& source, const PointList& destination,
                                   const std::vector<bool>& fitted, const TransformParams& params) {
  const LinearisePair linearise = [&](std::size_t i, PairLinearisation& out) {
    LineariseSimilarity(source[i], destination[i], params, out);
  };
  const std::vector<bool> mask(fitted.begin(),
                               fitted.begin() + static_cast<std::ptrdiff_t>(source.size()));
  return ComputeComponentStatistics(ComponentLayout::Whole, kSimilarityParameters, mask, linearise);
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
