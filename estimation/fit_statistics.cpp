// Least-squares statistics of the similarity fit. The residuals and their Jacobian come from the
// same functor the solver minimises, so they describe exactly the problem that was solved. The
// test of each pair is the leave-one-out (externally studentised) outlier test of regression
// diagnostics, for a block of three observations (Cook and Weisberg, Residuals and Influence in
// Regression, 1982, ch. 2 and 4; in geodesy the multivariate form of Pope's τ test).
#include "estimation/fit_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <ceres/jet.h>
#include <Eigen/Dense>
#include <boost/math/distributions/fisher_f.hpp>

#include "estimation/register_point2point_error.h"

namespace Quorvane {

namespace {

using Jet = ceres::Jet<double, 7>;
// Positions of the model's parameters among the functor's seven blocks (rx and ry are 3 and 4).
constexpr int kParameterBlock[kModelParameters] = {0, 1, 2, 5, 6};

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

double LargestCoordinate(const Point3& p) {
  return std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
}

// Residual of one pair and its derivatives over tx, ty, tz, rz, scale.
void Linearise(const Point3& p, const Point3& q, const TransformParams& params, Point3& residual,
               Eigen::Matrix<double, 3, kModelParameters>& jacobian) {
  const double values[7] = {params.tx, params.ty, params.tz,   params.rx,
                            params.ry, params.rz, params.scale};
  Jet blocks[7];
  for (int k = 0; k < 7; ++k) blocks[k] = Jet(values[k], k);
  Jet r[3];
  const RegisterPoint2PointError functor(p.x, p.y, p.z, q.x, q.y, q.z);
  functor(&blocks[0], &blocks[1], &blocks[2], &blocks[3], &blocks[4], &blocks[5], &blocks[6], r);
  residual = Point3(r[0].a, r[1].a, r[2].a);
  for (int row = 0; row < 3; ++row) {
    for (int k = 0; k < kModelParameters; ++k) jacobian(row, k) = r[row].v[kParameterBlock[k]];
  }
}

}  // namespace

FitStatistics ComputeFitStatistics(const PointList& source, const PointList& destination,
                                   const std::vector<bool>& fitted, const TransformParams& params) {
  const std::size_t n = source.size();
  FitStatistics stats;
  stats.residuals.resize(n);
  stats.tests.resize(n);

  std::vector<std::size_t> rows;  // the fitted pairs, in pair order
  for (std::size_t i = 0; i < n; ++i) {
    if (fitted[i]) rows.push_back(i);
  }
  const std::size_t m = rows.size();
  stats.fittedPairs = m;
  stats.redundancy = 3 * static_cast<int>(m) - kModelParameters;

  Eigen::MatrixXd J(3 * m, kModelParameters);
  Eigen::Matrix<double, 3, kModelParameters> block;
  double sumHorizontal = 0.0;
  double sumVertical = 0.0;
  double largestCoordinate = 0.0;
  for (std::size_t i = 0, row = 0; i < n; ++i) {
    Point3& v = stats.residuals[i];
    Linearise(source[i], destination[i], params, v, block);
    if (!fitted[i]) continue;
    J.middleRows<3>(3 * row++) = block;
    largestCoordinate = std::max(
        {largestCoordinate, LargestCoordinate(source[i]), LargestCoordinate(destination[i])});
    sumHorizontal += v.x * v.x + v.y * v.y;
    sumVertical += v.z * v.z;
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
  Eigen::Matrix<double, kModelParameters, 1> scaling;
  for (int k = 0; k < kModelParameters; ++k) {
    const double norm = J.col(k).norm();
    if (!(norm > 0.0) || !std::isfinite(norm)) return stats;
    scaling[k] = 1.0 / norm;
  }
  const Eigen::MatrixXd scaled = J * scaling.asDiagonal();
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled, Eigen::ComputeThinU | Eigen::ComputeThinV);
  const auto& singular = svd.singularValues();
  if (!(singular[kModelParameters - 1] > kSmallestSingularValueRatio * singular[0])) return stats;

  const Eigen::Matrix<double, kModelParameters, kModelParameters> normalInverse =
      scaling.asDiagonal() *
      (svd.matrixV() * singular.array().square().inverse().matrix().asDiagonal() *
       svd.matrixV().transpose()) *
      scaling.asDiagonal();
  // Column norms far from 1 (coordinates of 1e-200 m or 1e200 m) can overflow the product even
  // when J is well conditioned: such a covariance is not determined either.
  if (!(sigma0Squared * normalInverse).allFinite()) return stats;
  stats.precisionDetermined = true;
  for (int a = 0; a < kModelParameters; ++a) {
    for (int b = 0; b < kModelParameters; ++b) {
      stats.covariance[a][b] = sigma0Squared * normalInverse(a, b);
    }
    stats.sigma[a] = std::sqrt(std::max(0.0, stats.covariance[a][a]));
  }

  // Leaving pair i out of the fit removes Δ_i = v_iᵀ Q_ii⁻¹ v_i from the sum of squares and leaves
  // it with the residual Q_ii⁻¹ v_i (the block form of the deleted-residual identities); the other
  // pairs then estimate the variance with r − 3 degrees of freedom, independently of pair i, and
  // T_i = Δ_i / (3 σ̂²_(i)) follows F(3, r − 3) when the pair holds no blunder.
  const int dfRest = r - 3;
  if (dfRest < 1) return stats;
  const boost::math::fisher_f_distribution<double> distribution(3.0, dfRest);
  const double critical =
      boost::math::quantile(boost::math::complement(distribution, kBlunderTestLevel));
  const double roundingResidual = kRoundingResidualRatio * largestCoordinate;
  const bool exact = stats.sumOfSquares <= 3.0 * m * roundingResidual * roundingResidual;
  const Eigen::MatrixXd& U = svd.matrixU();
  for (std::size_t row = 0; row < m; ++row) {
    const std::size_t i = rows[row];
    const Eigen::Matrix<double, 3, kModelParameters> Ui = U.middleRows<3>(3 * row);
    const Eigen::Matrix3d Qii = Eigen::Matrix3d::Identity() - Ui * Ui.transpose();
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(Qii);
    if (!(eigen.eigenvalues()[0] > kSmallestRedundancyShare)) continue;
    const Point3& vi = stats.residuals[i];
    const Eigen::Vector3d v(vi.x, vi.y, vi.z);
    const Eigen::Vector3d w =
        eigen.eigenvectors() *
        (eigen.eigenvectors().transpose() * v).cwiseQuotient(eigen.eigenvalues());
    const double drop = v.dot(w);
    PairTest& test = stats.tests[i];
    test.testable = true;
    test.misclosure = Point3(w[0], w[1], w[2]);
    test.sumOfSquaresDrop = drop;
    test.critical = critical;
    // When the other pairs fit exactly (the difference may even come out below zero) any
    // misclosure of this one is a blunder: the statistic is then infinite.
    const double rest = stats.sumOfSquares - drop;
    test.statistic = exact || !(drop > 0.0) ? 0.0 : drop / (3.0 * std::max(rest, 0.0) / dfRest);
    test.suspect = test.statistic > critical;
  }
  return stats;
}

bool DeterminesTransform(const PointList& source, const std::vector<bool>& fitted) {
  const Point3* first = nullptr;
  for (std::size_t i = 0; i < source.size(); ++i) {
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
