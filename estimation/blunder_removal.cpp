// Iterated leave-one-out testing with removal of one pair at a time, as in Baarda's data
// snooping: a blunder inflates the residuals of its neighbours too, so only the worst pair is
// trusted to be the culprit, and the rest are judged again without it.
//
// Judging the rest again does not need a refit. For the linearised problem J δ ≈ −v with
// N = JᵀJ, leaving pair k out moves the parameters by δ = N⁻¹J_kᵀ Q_kk⁻¹ v_k, every residual by
// J_i δ, the inverse normal matrix by N⁻¹J_kᵀ Q_kk⁻¹ J_k N⁻¹ (Sherman–Morrison–Woodbury) and the
// sum of squares by −v_kᵀ Q_kk⁻¹ v_k, with Q_kk = I − J_k N⁻¹ J_kᵀ (the rank-d downdate of
// Chatterjee and Hadi, Sensitivity Analysis in Linear Regression, 1988, ch. 2). The next worst
// pair is found without evaluating every pair: Cauchy–Schwarz in the metric of N bounds how far
// any residual can have moved since the last full pass, and a pair whose bound stays below the
// worst statistic found so far cannot be the worst.
#include "estimation/blunder_removal.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include <Eigen/Dense>

#include "estimation/fixed_shapes.h"

namespace Quorvane {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// As in the statistics: residuals below this fraction of the largest coordinate are rounding, and
// a pair whose block of the redundancy matrix has an eigenvalue below kSmallestRedundancyShare
// alone fixes some combination of the parameters and cannot be tested.
constexpr double kRoundingResidualRatio = 1e-12;
const double kSmallestRedundancyShare = std::sqrt(std::numeric_limits<double>::epsilon());

// The inverse of a pair's D × D block Q of the redundancy matrix (in the corner of `q`, D from 1
// to 3) into the corner of `inverse`, zero beyond it; false when Q's smallest eigenvalue is below
// kSmallestRedundancyShare. Closed forms, the direct eigenvalues of a small symmetric matrix and
// its cofactor inverse, as the search for the worst pair takes many of them.
template <int D, class Square>
bool InvertSmall(const Square& q, Square& inverse) {
  const Eigen::Matrix<double, D, D> block = q.template topLeftCorner<D, D>();
  inverse.setZero();
  if constexpr (D == 1) {
    if (!(block(0, 0) > kSmallestRedundancyShare)) return false;
  } else {
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, D, D>> eigen;
    eigen.computeDirect(block, Eigen::EigenvaluesOnly);
    if (!(eigen.eigenvalues()[0] > kSmallestRedundancyShare)) return false;
  }
  inverse.template topLeftCorner<D, D>() = block.inverse();
  return true;
}

// The fitted, testable pair with the largest failing statistic in `stats`, or kNone.
std::size_t WorstFailing(const FitStatistics& stats, const std::vector<bool>& fitted) {
  std::size_t worst = kNone;
  for (std::size_t i = 0; i < stats.tests.size(); ++i) {
    const PairTest& test = stats.tests[i];
    if (fitted[i] && test.testable && test.suspect &&
        (worst == kNone || test.statistic > stats.tests[worst].statistic)) {
      worst = i;
    }
  }
  return worst;
}

// The linearised component after a number of removals, kept up to date by rank-d downdates, for
// any number of rows a pair (up to three) and of parameters. Rows are whitened by their a priori
// σ, and parameters are scaled so that every column of J has unit length at the start, which
// keeps N near a correlation matrix whatever the units. A pair's products are of its few rows and
// of N's few columns: written out as loops over the parameters, which cost what they compute,
// where a general matrix product's set-up would cost more than its arithmetic.
template <int D, int U>  // rows a pair and parameters, each Eigen::Dynamic for any
class Downdated {
  // A pair's rows and its block of the redundancy matrix: D of them, or for a shape of run-time
  // size three, those beyond its d rows zero.
  static constexpr int kRows = D != Eigen::Dynamic ? D : 3;
  using PairRows = Eigen::Matrix<double, kRows, 1>;
  using PairSquare = Eigen::Matrix<double, kRows, kRows>;

 public:
  // Linearises every pair at the current fit; false when N is singular (nothing to test).
  bool Start(const SnoopedComponent& component, const std::vector<bool>& fitted) {
    const std::size_t n = fitted.size();
    u_ = component.parameters;
    d_ = RowsOf(component.layout);
    blocks_.resize(At(n), Cols());
    start_.resize(At(n));
    PairLinearisation pair;
    largest_ = 0.0;
    largestWeight_ = 1.0;
    Eigen::VectorXd norms = Eigen::VectorXd::Zero(Cols());
    for (std::size_t i = 0; i < n; ++i) {
      if (!fitted[i]) continue;
      pair.jacobian = Row(i, 0);
      component.linearise(i, pair);
      double whitening[3];
      RowWhitening(component.layout, component.precision, i, whitening);
      for (int r = 0; r < Rows(); ++r) {
        start_[At(i) + r] = whitening[r] * pair.residual[r];
        double* row = Row(i, r);
        for (Eigen::Index k = 0; k < Cols(); ++k) {
          row[k] *= whitening[r];
          norms[k] += row[k] * row[k];
        }
        largestWeight_ = std::max(largestWeight_, whitening[r] * whitening[r]);
      }
      largest_ = std::max(largest_, pair.largestCoordinate);
    }
    for (Eigen::Index k = 0; k < Cols(); ++k) {
      if (!(norms[k] > 0.0) || !std::isfinite(norms[k])) return false;
    }
    blocks_.array().rowwise() *= norms.cwiseSqrt().cwiseInverse().transpose().array();
    shift_ = Eigen::VectorXd::Zero(Cols());
    a_.resize(Rows(), Cols());
    grown_.resize(Cols(), Cols());
    growth_ = Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(Cols());
    return NewEpoch(fitted);
  }

  // The residual of pair i at the current state, in its first d rows (the others 0).
  PairRows Residual(std::size_t i) const {
    PairRows v = PairRows::Zero();
    for (int r = 0; r < Rows(); ++r) v[r] = start_[At(i) + r] + Dot(Row(i, r), shift_.data());
    return v;
  }

  // Δ_i = v_iᵀ Q_ii⁻¹ v_i at the current state; false when pair i is not testable.
  bool Drop(std::size_t i, double& drop) {
    PairSquare inverse;
    if (!RedundancyInverse(i, inverse)) return false;
    const PairRows v = Residual(i);
    drop = v.dot(inverse * v);
    return std::isfinite(drop);
  }

  // Leaves pair k out.
  void Remove(std::size_t k, std::vector<bool>& fitted) {
    // A pair removed was testable, so Q_kk is regular.
    PairSquare inverse = PairSquare::Zero();
    RedundancyInverse(k, inverse);
    const PairRows v = Residual(k);
    const PairRows w = inverse * v;
    // δ += (J_k N⁻¹)ᵀ w and N⁻¹ += (J_k N⁻¹)ᵀ Q_kk⁻¹ (J_k N⁻¹).
    const Eigen::MatrixXd weighted = inverse.topLeftCorner(Rows(), Rows()) * a_;
    for (int r = 0; r < Rows(); ++r) shift_ += w[r] * a_.row(r).transpose();
    for (Eigen::Index col = 0; col < Cols(); ++col) {
      for (Eigen::Index row = 0; row < Cols(); ++row) {
        double sum = 0.0;
        for (int r = 0; r < Rows(); ++r) sum += a_(r, row) * weighted(r, col);
        inverse_(row, col) += sum;
      }
    }
    sumOfSquares_ -= v.dot(w);
    fitted[k] = false;
    --pairs_;
  }

  // Evaluates pairs until the one with the largest Δ among the testable fitted pairs is certain;
  // kNone when there is none. `drop` is its Δ.
  std::size_t Worst(const std::vector<bool>& fitted, double& drop) {
    // How far the state has moved since the epoch began, in the metric of the epoch's N, and by
    // how much N⁻¹ has grown against the epoch's (the largest eigenvalue of L_eᵀ N⁻¹ L_e).
    const Eigen::VectorXd moved = shift_ - epochShift_;
    const double distance = std::sqrt(std::max(0.0, moved.dot(epochNormal_.lazyProduct(moved))));
    grown_.noalias() = epochFactor_.transpose().lazyProduct(inverse_).lazyProduct(epochFactor_);
    const double growth = LargestEigenvalue(grown_);
    std::size_t best = kNone;
    double bestDrop = -1.0;
    std::size_t evaluated = 0;
    const auto consider = [&](std::size_t i) {
      double d = 0.0;
      ++evaluated;
      if (!Drop(i, d)) return;
      if (d > bestDrop || (d == bestDrop && i < best)) {
        best = i;
        bestDrop = d;
      }
    };
    for (const std::size_t i : levered_) {
      if (fitted[i]) consider(i);
    }
    const double capRoot = std::sqrt(leverageCap_);
    const double shrink = 1.0 - growth * leverageCap_;
    for (const auto& [length, i] : byResidual_) {
      if (!fitted[i]) continue;
      if (shrink > 0.0) {
        const double reach = length + capRoot * distance;
        if (reach * reach / shrink < bestDrop) break;
      }
      consider(i);
    }
    // A long walk means the bounds have grown loose: the next search starts a new epoch.
    if (evaluated > std::max<std::size_t>(64, pairs_ / 16)) stale_ = true;
    drop = bestDrop;
    return best;
  }

  int RowsPerPair() const { return Rows(); }
  bool Stale() const { return stale_; }
  double SumOfSquares() const { return sumOfSquares_; }
  std::size_t Pairs() const { return pairs_; }
  // The sum of squares that is rounding of the coordinates, in the whitened rows' units.
  double Rounding() const {
    const double rounding = kRoundingResidualRatio * largest_;
    return static_cast<double>(Rows()) * pairs_ * rounding * rounding * largestWeight_;
  }

  // Starts a new epoch at the current state: N⁻¹ and the sum of squares formed afresh, which
  // also clears the rounding that the downdates accumulate, and the pairs sorted by the length
  // of their residuals.
  bool NewEpoch(const std::vector<bool>& fitted) {
    const std::size_t n = fitted.size();
    // Its lower triangle summed, held apart from J (in place, for a fixed shape).
    Eigen::Matrix<double, U, U> normal = Eigen::Matrix<double, U, U>::Zero(Cols(), Cols());
    sumOfSquares_ = 0.0;
    pairs_ = 0;
    length_.assign(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      if (!fitted[i]) continue;
      for (int r = 0; r < Rows(); ++r) {
        const double* row = Row(i, r);
        for (Eigen::Index col = 0; col < Cols(); ++col) {
          for (Eigen::Index k = col; k < Cols(); ++k) normal(k, col) += row[k] * row[col];
        }
      }
      const double square = Residual(i).squaredNorm();
      sumOfSquares_ += square;
      length_[i] = std::sqrt(square);
      ++pairs_;
    }
    normal.template triangularView<Eigen::StrictlyUpper>() = normal.transpose();
    const Eigen::LLT<Eigen::MatrixXd> factor(normal);
    if (factor.info() != Eigen::Success) return false;
    inverse_ = factor.solve(Eigen::MatrixXd::Identity(Cols(), Cols()));
    if (!inverse_.allFinite()) return false;
    epochNormal_ = normal;
    epochFactor_ = factor.matrixL();
    epochShift_ = shift_;
    stale_ = false;

    // Pairs of high leverage are evaluated every time; the bound serves the others.
    leverageCap_ = std::min(0.25, 8.0 * static_cast<double>(Cols()) /
                                      std::max<double>(1.0, static_cast<double>(pairs_)));
    levered_.clear();
    byResidual_.clear();
    for (std::size_t i = 0; i < n; ++i) {
      if (!fitted[i]) continue;
      double leverage = 0.0;  // trace of J_i N⁻¹ J_iᵀ
      for (int r = 0; r < Rows(); ++r) {
        const double* row = Row(i, r);
        for (Eigen::Index k = 0; k < Cols(); ++k) leverage += row[k] * Dot(row, &inverse_(0, k));
      }
      if (leverage > leverageCap_) {
        levered_.push_back(i);
      } else {
        byResidual_.emplace_back(length_[i], i);
      }
    }
    // Longest first, and of equal lengths the first pair first.
    std::sort(byResidual_.begin(), byResidual_.end(), [](const auto& a, const auto& b) {
      return a.first > b.first || (a.first == b.first && a.second < b.second);
    });
    return true;
  }

 private:
  // The rows a pair and the parameters, fixed at compile time for a specialised shape.
  int Rows() const { return D != Eigen::Dynamic ? D : d_; }
  Eigen::Index Cols() const { return U != Eigen::Dynamic ? U : u_; }
  Eigen::Index At(std::size_t i) const { return static_cast<Eigen::Index>(i) * Rows(); }
  // Row r of J_i, u entries.
  double* Row(std::size_t i, int r) { return &blocks_(At(i) + r, 0); }
  const double* Row(std::size_t i, int r) const { return &blocks_(At(i) + r, 0); }
  double Dot(const double* a, const double* b) const {
    double sum = 0.0;
    for (Eigen::Index k = 0; k < Cols(); ++k) sum += a[k] * b[k];
    return sum;
  }

  // The largest eigenvalue of the symmetric u × u `matrix`; of three parameters in closed form.
  double LargestEigenvalue(const Eigen::MatrixXd& matrix) {
    if constexpr (U == 3) {
      Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> direct;
      direct.computeDirect(Eigen::Matrix3d(matrix), Eigen::EigenvaluesOnly);
      return direct.eigenvalues()[2];
    }
    return growth_.compute(matrix, Eigen::EigenvaluesOnly).eigenvalues().maxCoeff();
  }

  // Q_ii⁻¹, Q_ii = I − J_i N⁻¹ J_iᵀ of pair i, in the d × d corner of `inverse` (0 beyond it),
  // with J_i N⁻¹ left in a_ (N⁻¹ is symmetric: its columns are its rows); false when Q_ii is
  // singular to working precision.
  bool RedundancyInverse(std::size_t i, PairSquare& inverse) {
    PairSquare q = PairSquare::Identity();
    for (int r = 0; r < Rows(); ++r) {
      for (Eigen::Index k = 0; k < Cols(); ++k) a_(r, k) = Dot(Row(i, r), &inverse_(0, k));
    }
    for (int r = 0; r < Rows(); ++r) {
      for (int s = 0; s < Rows(); ++s) {
        double sum = 0.0;
        for (Eigen::Index k = 0; k < Cols(); ++k) sum += a_(r, k) * Row(i, s)[k];
        q(r, s) -= sum;
      }
    }
    if constexpr (D != Eigen::Dynamic) return InvertSmall<D>(q, inverse);
    return Rows() == 3 ? InvertSmall<3>(q, inverse)
           : Rows() == 2 ? InvertSmall<2>(q, inverse)
                         : InvertSmall<1>(q, inverse);
  }

  int d_ = 3;           // rows a pair
  Eigen::Index u_ = 0;  // parameters
  // J, d rows a pair (those of the pairs not fitted never read), columns scaled; row-major, so
  // that a pair's rows lie together.
  Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> blocks_;
  Eigen::VectorXd start_;    // v at the linearisation, d rows a pair
  Eigen::VectorXd shift_;    // δ since the linearisation
  Eigen::MatrixXd inverse_;  // N⁻¹ at the current state
  Eigen::MatrixXd a_;        // J_k N⁻¹ of the pair at hand
  // L_eᵀ N⁻¹ L_e and the solver of its largest eigenvalue, kept from one search to the next.
  Eigen::MatrixXd grown_;
  Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> growth_;
  double sumOfSquares_ = 0.0;
  std::size_t pairs_ = 0;
  double largest_ = 0.0;
  double largestWeight_ = 1.0;  // of the rows' 1/σ²
  // The epoch: N at its start and its Cholesky factor, the shift then, and the bound's data.
  Eigen::MatrixXd epochNormal_;
  Eigen::MatrixXd epochFactor_;
  Eigen::VectorXd epochShift_;
  double leverageCap_ = 0.0;
  std::vector<double> length_;
  std::vector<std::size_t> levered_;
  std::vector<std::pair<double, std::size_t>> byResidual_;  // the others' |v_i| and i
  bool stale_ = false;
};

// Removes pairs by downdates, starting with `first` (already judged by exact statistics), until
// no testable pair fails in the linearised problem.
template <int D, int U>
void DowndateWith(const SnoopedComponent& component, std::size_t componentIndex,
                  std::size_t first, const PairTest& test, std::vector<bool>& fitted,
                  std::vector<BlunderRemoval>& removals) {
  Downdated<D, U> state;
  const bool started = state.Start(component, fitted);
  removals.push_back({first, test.statistic, test.critical, componentIndex});
  if (!started) {
    fitted[first] = false;
    return;
  }
  state.Remove(first, fitted);
  if (component.progress) component.progress(removals.size());
  const int d = state.RowsPerPair();
  const bool known = component.varianceKnown && component.precision != nullptr;
  for (;;) {
    const int dfRest = d * static_cast<int>(state.Pairs()) - component.parameters - d;
    if (dfRest < (known ? 0 : 1)) return;
    if (!(state.SumOfSquares() > state.Rounding())) return;
    if (state.Stale() && !state.NewEpoch(fitted)) return;
    double drop = 0.0;
    const std::size_t worst = state.Worst(fitted, drop);
    if (worst == kNone || !(drop > 0.0)) return;
    const double critical =
        known ? KnownVarianceTestCritical(d) : BlunderTestCritical(d, dfRest);
    const double rest = state.SumOfSquares() - drop;
    const double statistic =
        known ? drop : drop / (static_cast<double>(d) * std::max(rest, 0.0) / dfRest);
    if (!(statistic > critical)) return;
    removals.push_back({worst, statistic, critical, componentIndex});
    state.Remove(worst, fitted);
    if (component.progress) component.progress(removals.size());
  }
}

// The same for a component of any shape, with fixed sizes for those of
// QUORVANE_FIXED_DOWNDATE_SHAPES.
void Downdate(const SnoopedComponent& component, std::size_t componentIndex, std::size_t first,
              const PairTest& test, std::vector<bool>& fitted,
              std::vector<BlunderRemoval>& removals) {
  [[maybe_unused]] const int d = RowsOf(component.layout), u = component.parameters;
#define QUORVANE_DOWNDATE_WITH(rows, parameters)                                              \
  if (d == rows && u == parameters) {                                                         \
    return DowndateWith<rows, parameters>(component, componentIndex, first, test, fitted,     \
                                          removals);                                          \
  }
  QUORVANE_FIXED_DOWNDATE_SHAPES(QUORVANE_DOWNDATE_WITH)
#undef QUORVANE_DOWNDATE_WITH
  DowndateWith<Eigen::Dynamic, Eigen::Dynamic>(component, componentIndex, first, test, fitted,
                                                removals);
}

}  // namespace

void SnoopComponent(const SnoopedComponent& component, std::size_t componentIndex,
                    std::vector<bool>& fitted, FitStatistics& stats,
                    std::vector<BlunderRemoval>& removals) {
  std::size_t refitted = 0;  // pairs fitted again so far
  for (;;) {
    const std::size_t worst = WorstFailing(stats, fitted);
    if (worst == kNone) return;
    if (refitted + stats.fittedPairs <= component.refitBudget) {
      // Cheap enough: the next pair is judged by an exact refit, not by the first-order update.
      removals.push_back({worst, stats.tests[worst].statistic, stats.tests[worst].critical,
                          componentIndex});
      fitted[worst] = false;
      if (component.progress) component.progress(removals.size());
      refitted += stats.fittedPairs;
    } else {
      Downdate(component, componentIndex, worst, stats.tests[worst], fitted, removals);
    }
    if (!component.refit(fitted)) return;
    stats = component.statistics(fitted);
  }
}

}  // namespace Quorvane
