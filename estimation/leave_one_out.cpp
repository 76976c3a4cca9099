// The leave-one-out test of each fitted pair of a component, for a block of d observations
// (Cook and Weisberg, Residuals and Influence in Regression, 1982, ch. 2 and 4; in geodesy the
// multivariate form of Pope's τ test), from the hat matrix U Uᵀ of the whitened Jacobian; with
// the variance known a priori, Baarda's w test in its multivariate form, Δ_i = v_iᵀ Q_ii⁻¹ v_i
// against χ²(d).
#include "estimation/leave_one_out.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <Eigen/Dense>

#include "estimation/fixed_shapes.h"

namespace Quorvane {

namespace {

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

// The sum of squares of the other pairs' residuals after a fit without the d rows from `cut` on,
// linearised at the fit: min over δ of |v_rest + J_rest δ|², solved by QR of the column-scaled
// J_rest, which does not go through the difference of two nearly equal sums.
double SumOfSquaresWithout(const Eigen::MatrixXd& J, const Eigen::VectorXd& v, Eigen::Index cut,
                           int d, const Eigen::VectorXd& scaling) {
  const Eigen::Index rows = J.rows() - d;
  Eigen::MatrixXd rest(rows, J.cols());
  Eigen::VectorXd values(rows);
  rest.topRows(cut) = J.topRows(cut);
  rest.bottomRows(rows - cut) = J.bottomRows(rows - cut);
  values.head(cut) = v.head(cut);
  values.tail(rows - cut) = v.tail(rows - cut);
  rest = rest * scaling.asDiagonal();
  const Eigen::VectorXd step = rest.colPivHouseholderQr().solve(-values);
  return (values + rest * step).squaredNorm();
}

// Σ_k a_k·b_k over `count` terms `stride` apart, halving the range until one term is left.
double SumByHalves(const double* a, const double* b, Eigen::Index count, Eigen::Index stride) {
  if (count == 1) return a[0] * b[0];
  const Eigen::Index half = count / 2;
  return SumByHalves(a, b, half, stride) +
         SumByHalves(a + half * stride, b + half * stride, count - half, stride);
}

// The same sum in two lanes, the even terms and the odd ones each by halves, then the lanes
// added and an odd last term after them.
double SumInLanes(const double* a, const double* b, Eigen::Index count, Eigen::Index stride) {
  const Eigen::Index pairs = count / 2;
  if (pairs == 0) return a[0] * b[0];
  double sum = SumByHalves(a, b, pairs, 2 * stride) +
               SumByHalves(a + stride, b + stride, pairs, 2 * stride);
  if (count % 2 != 0) sum += a[(count - 1) * stride] * b[(count - 1) * stride];
  return sum;
}

// w = Q_ii⁻¹ v for the D rows of U from `first` on, Q_ii = I − U_i U_iᵀ, and Δ = vᵀw; false when
// Q_ii is singular to working precision (the pair is not testable). The statistics of 0.2.0
// formed Q_ii by Eigen's fixed-size products, which sum over the u columns in an order that
// depends on the rows: a single row's as a vectorised inner product (SumInLanes), the first two
// rows' of more term by term, a third row's by halves. Summed the same way here, and solved by
// the same fixed-size eigensolver, every figure stays the same to the last bit.
template <int D, int Parameters>
bool DeletedResidual(const Eigen::MatrixXd& U, Eigen::Index first, const double* rows, double* w,
                     double& drop) {
  Eigen::Matrix<double, D, D> q;
  const Eigen::Index u = Parameters != Eigen::Dynamic ? Parameters : U.cols();
  const Eigen::Index stride = U.outerStride();
  for (int r = 0; r < D; ++r) {
    for (int s = 0; s < D; ++s) {
      const double* a = &U(first + r, 0);
      const double* b = &U(first + s, 0);
      double sum = 0.0;
      if (D == 1) {
        sum = SumInLanes(a, b, u, stride);
      } else if (r < 2) {
        sum = a[0] * b[0];
        for (Eigen::Index k = 1; k < u; ++k) sum += a[k * stride] * b[k * stride];
      } else {
        sum = SumByHalves(a, b, u, stride);
      }
      q(r, s) = (r == s ? 1.0 : 0.0) - sum;
    }
  }
  const Eigen::Map<const Eigen::Matrix<double, D, 1>> v(rows);
  Eigen::Map<Eigen::Matrix<double, D, 1>> solved(w);
  if constexpr (D == 1) {
    if (!(q(0, 0) > kSmallestRedundancyShare)) return false;
    solved[0] = v[0] / q(0, 0);
  } else {
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, D, D>> eigen(q);
    if (!(eigen.eigenvalues()[0] > kSmallestRedundancyShare)) return false;
    solved = eigen.eigenvectors() *
             (eigen.eigenvectors().transpose() * v).cwiseQuotient(eigen.eigenvalues());
  }
  drop = v.dot(solved);
  return true;
}

// The tests of a component of D rows a pair and U parameters, each Eigen::Dynamic for any.
template <int D, int U>
void TestPairsWith(const WhitenedComponent& at, const Eigen::MatrixXd& Umatrix,
                   const Eigen::VectorXd& scaling, FitStatistics& stats) {
  const int d = D != Eigen::Dynamic ? D : at.d;
  const std::size_t m = at.rows.size();
  // Leaving pair i out of the fit removes Δ_i = v_iᵀ Q_ii⁻¹ v_i from the sum of squares and leaves
  // it with the residual Q_ii⁻¹ v_i (the block form of the deleted-residual identities); the other
  // pairs then estimate the variance with r − d degrees of freedom, independently of pair i, and
  // T_i = Δ_i / (d σ̂²_(i)) follows F(d, r − d) when the pair holds no blunder.
  // With the variance known a priori, Δ_i / σ0² follows χ²(d) by itself, and the other pairs
  // need leave no redundancy of their own.
  const bool known = stats.varianceKnown;
  const int dfRest = stats.redundancy - d;
  if (dfRest < (known ? 0 : 1)) return;
  const double critical = known ? KnownVarianceTestCritical(d) : BlunderTestCritical(d, dfRest);
  const double roundingResidual = kRoundingResidualRatio * at.largestCoordinate;
  const bool exact =
      at.plainSum <= static_cast<double>(d) * m * roundingResidual * roundingResidual;
  for (std::size_t row = 0; row < m; ++row) {
    const std::size_t i = at.rows[row];
    const Eigen::Index first = static_cast<Eigen::Index>(d * row);
    double w[3];
    double drop = 0.0;
    const double* v = &at.values[first];
    bool testable = false;
    if constexpr (D != Eigen::Dynamic) {
      testable = DeletedResidual<D, U>(Umatrix, first, v, w, drop);
    } else {
      testable = d == 3   ? DeletedResidual<3, U>(Umatrix, first, v, w, drop)
                 : d == 2 ? DeletedResidual<2, U>(Umatrix, first, v, w, drop)
                          : DeletedResidual<1, U>(Umatrix, first, v, w, drop);
    }
    if (!testable) continue;
    PairTest& test = stats.tests[i];
    test.testable = true;
    if (at.whitening.size() != 0) {
      for (int r = 0; r < d; ++r) w[r] /= at.whitening[first + r];  // into metres
    }
    test.misclosure = PointOf(w, d);
    test.sumOfSquaresDrop = drop;
    test.critical = critical;
    if (known) {
      test.statistic = exact ? 0.0 : drop;
      test.suspect = test.statistic > critical;
      continue;
    }
    double rest = stats.sumOfSquares - drop;
    if (!exact && drop > 0.0 && rest < kCancellationRatio * stats.sumOfSquares) {
      rest = SumOfSquaresWithout(at.J, at.values, first, d, scaling);
      // What is left at the rounding level of the coordinates is no misfit: the others fit exactly.
      if (rest <= static_cast<double>(d) * (m - 1) * roundingResidual * roundingResidual *
                      at.largestWeight) {
        rest = 0.0;
      }
    }
    // When the other pairs fit exactly (the difference may even come out below zero) any
    // misclosure of this one is a blunder: the statistic is then infinite.
    test.statistic =
        exact || !(drop > 0.0) ? 0.0 : drop / (static_cast<double>(d) * std::max(rest, 0.0) / dfRest);
    test.suspect = test.statistic > critical;
  }
}

}  // namespace

void TestPairs(const WhitenedComponent& at, const Eigen::MatrixXd& U,
               const Eigen::VectorXd& scaling, FitStatistics& stats) {
  [[maybe_unused]] const Eigen::Index u = U.cols();
#define QUORVANE_TEST_PAIRS_WITH(rows, parameters)                 \
  if (at.d == rows && u == parameters) {                           \
    return TestPairsWith<rows, parameters>(at, U, scaling, stats); \
  }
  QUORVANE_FIXED_STATISTICS_SHAPES(QUORVANE_TEST_PAIRS_WITH)
#undef QUORVANE_TEST_PAIRS_WITH
  TestPairsWith<Eigen::Dynamic, Eigen::Dynamic>(at, U, scaling, stats);
}

Point3 PointOf(const double* rows, int d) {
  if (d == 3) return Point3(rows[0], rows[1], rows[2]);
  if (d == 2) return Point3(rows[0], rows[1], 0.0);
  return Point3(0.0, 0.0, rows[0]);
}

}  // namespace Quorvane
