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
#include <numeric>

#include <Eigen/Dense>
#include <boost/math/distributions/fisher_f.hpp>

#include "estimation/component_shapes.h"

namespace Quorvane {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// As in the statistics: a pair whose share of the redundancy is below this cannot be tested, and
// residuals below this fraction of the largest coordinate are rounding.
const double kSmallestRedundancyShare = std::sqrt(std::numeric_limits<double>::epsilon());
constexpr double kRoundingResidualRatio = 1e-12;

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

// The linearised component after a number of removals, kept up to date by rank-d downdates.
// Parameters are scaled so that every column of J has unit length at the start, which keeps N
// near a correlation matrix whatever the units.
template <int D, int U>
class Downdated {
 public:
  using Block = Eigen::Matrix<double, D, U>;
  using Rows = Eigen::Matrix<double, D, 1>;
  using Square = Eigen::Matrix<double, U, U>;
  using Vector = Eigen::Matrix<double, U, 1>;

  // Linearises every pair at the current fit; false when N is singular (nothing to test).
  bool Start(const SnoopedComponent& component, const std::vector<bool>& fitted) {
    const std::size_t n = fitted.size();
    blocks_.resize(n);
    start_.resize(n);
    double jacobian[D * U];
    PairLinearisation pair;
    pair.jacobian = jacobian;
    Vector norms = Vector::Zero();
    largest_ = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      if (!fitted[i]) continue;
      component.linearise(i, pair);
      for (int r = 0; r < D; ++r) {
        start_[i][r] = pair.residual[r];
        for (int k = 0; k < U; ++k) blocks_[i](r, k) = jacobian[r * U + k];
      }
      norms += blocks_[i].colwise().squaredNorm().transpose();
      largest_ = std::max(largest_, pair.largestCoordinate);
    }
    for (int k = 0; k < U; ++k) {
      if (!(norms[k] > 0.0) || !std::isfinite(norms[k])) return false;
    }
    const Vector scaling = norms.cwiseSqrt().cwiseInverse();
    for (std::size_t i = 0; i < n; ++i) {
      if (fitted[i]) blocks_[i] = blocks_[i] * scaling.asDiagonal();
    }
    shift_ = Vector::Zero();
    return NewEpoch(fitted);
  }

  // The residual of pair i at the current state.
  Rows Residual(std::size_t i) const { return start_[i] + blocks_[i] * shift_; }

  // Δ_i = v_iᵀ Q_ii⁻¹ v_i at the current state; false when pair i is not testable.
  bool Drop(std::size_t i, double& drop, Rows* misclosure = nullptr) const {
    const Block a = blocks_[i] * inverse_;
    const Eigen::Matrix<double, D, D> q =
        Eigen::Matrix<double, D, D>::Identity() - a * blocks_[i].transpose();
    const Rows v = Residual(i);
    Rows w;
    if constexpr (D == 1) {
      if (!(q(0, 0) > kSmallestRedundancyShare)) return false;
      w[0] = v[0] / q(0, 0);
    } else {
      const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, D, D>> eigen(q);
      if (!(eigen.eigenvalues()[0] > kSmallestRedundancyShare)) return false;
      w = eigen.eigenvectors() *
          (eigen.eigenvectors().transpose() * v).cwiseQuotient(eigen.eigenvalues());
    }
    drop = v.dot(w);
    if (misclosure != nullptr) *misclosure = w;
    return std::isfinite(drop);
  }

  // Leaves pair k out.
  void Remove(std::size_t k, std::vector<bool>& fitted) {
    const Block a = blocks_[k] * inverse_;  // J_k N⁻¹
    const Eigen::Matrix<double, D, D> q =
        Eigen::Matrix<double, D, D>::Identity() - a * blocks_[k].transpose();
    const Rows v = Residual(k);
    Rows w;
    Block qa;  // Q_kk⁻¹ J_k N⁻¹
    if constexpr (D == 1) {
      // A single row: Q_kk is a number (and LDLT's pivoting of a 1 × 1 matrix only misleads
      // the compiler's bounds checks).
      w[0] = v[0] / q(0, 0);
      qa = a / q(0, 0);
    } else {
      const Eigen::LDLT<Eigen::Matrix<double, D, D>> qInverse(q);
      w = qInverse.solve(v);
      qa = qInverse.solve(a);
    }
    shift_ += a.transpose() * w;
    inverse_ += a.transpose() * qa;
    sumOfSquares_ -= v.dot(w);
    fitted[k] = false;
    --pairs_;
  }

  // Evaluates pairs until the one with the largest Δ among the testable fitted pairs is certain;
  // kNone when there is none. `drop` is its Δ.
  std::size_t Worst(const std::vector<bool>& fitted, double& drop) {
    // How far the state has moved since the epoch began, in the metric of the epoch's N, and by
    // how much N⁻¹ has grown against the epoch's (the largest eigenvalue of L_eᵀ N⁻¹ L_e).
    const Vector moved = shift_ - epochShift_;
    const double distance = std::sqrt(std::max(0.0, moved.dot(epochNormal_ * moved)));
    const Square grown = epochFactor_.transpose() * inverse_ * epochFactor_;
    const double growth =
        Eigen::SelfAdjointEigenSolver<Square>(grown, Eigen::EigenvaluesOnly).eigenvalues()[U - 1];
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
    for (const std::size_t i : byResidual_) {
      if (!fitted[i]) continue;
      if (shrink > 0.0) {
        const double reach = length_[i] + capRoot * distance;
        if (reach * reach / shrink < bestDrop) break;
      }
      consider(i);
    }
    // A long walk means the bounds have grown loose: the next search starts a new epoch.
    if (evaluated > std::max<std::size_t>(64, pairs_ / 16)) stale_ = true;
    drop = bestDrop;
    return best;
  }

  bool Stale() const { return stale_; }
  double SumOfSquares() const { return sumOfSquares_; }
  std::size_t Pairs() const { return pairs_; }
  double LargestCoordinate() const { return largest_; }

  // Starts a new epoch at the current state: N⁻¹ and the sum of squares formed afresh, which
  // also clears the rounding that the downdates accumulate, and the pairs sorted by the length
  // of their residuals.
  bool NewEpoch(const std::vector<bool>& fitted) {
    const std::size_t n = fitted.size();
    Square normal = Square::Zero();
    sumOfSquares_ = 0.0;
    pairs_ = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (!fitted[i]) continue;
      normal.noalias() += blocks_[i].transpose() * blocks_[i];
      sumOfSquares_ += Residual(i).squaredNorm();
      ++pairs_;
    }
    const Eigen::LLT<Square> factor(normal);
    if (factor.info() != Eigen::Success) return false;
    inverse_ = factor.solve(Square::Identity());
    if (!inverse_.allFinite()) return false;
    epochNormal_ = normal;
    epochFactor_ = factor.matrixL();
    epochShift_ = shift_;
    stale_ = false;

    // Pairs of high leverage are evaluated every time; the bound serves the others.
    leverageCap_ = std::min(0.25, 8.0 * U / std::max<double>(1.0, static_cast<double>(pairs_)));
    length_.assign(n, 0.0);
    levered_.clear();
    byResidual_.clear();
    for (std::size_t i = 0; i < n; ++i) {
      if (!fitted[i]) continue;
      const double leverage = (blocks_[i] * inverse_ * blocks_[i].transpose()).trace();
      length_[i] = Residual(i).norm();
      if (leverage > leverageCap_) {
        levered_.push_back(i);
      } else {
        byResidual_.push_back(i);
      }
    }
    std::sort(byResidual_.begin(), byResidual_.end(), [this](std::size_t a, std::size_t b) {
      return length_[a] > length_[b] || (length_[a] == length_[b] && a < b);
    });
    return true;
  }

 private:
  std::vector<Block, Eigen::aligned_allocator<Block>> blocks_;  // J_i, columns scaled
  std::vector<Rows, Eigen::aligned_allocator<Rows>> start_;     // v_i at the linearisation
  Vector shift_ = Vector::Zero();                               // δ since the linearisation
  Square inverse_ = Square::Zero();                             // N⁻¹ at the current state
  double sumOfSquares_ = 0.0;
  std::size_t pairs_ = 0;
  double largest_ = 0.0;
  // The epoch: N at its start and its Cholesky factor, the shift then, and the bound's data.
  Square epochNormal_ = Square::Zero();
  Square epochFactor_ = Square::Zero();
  Vector epochShift_ = Vector::Zero();
  double leverageCap_ = 0.0;
  std::vector<double> length_;
  std::vector<std::size_t> levered_;
  std::vector<std::size_t> byResidual_;
  bool stale_ = false;
};

// Removes pairs by downdates, starting with `first` (already judged by exact statistics), until
// no testable pair fails in the linearised problem.
template <int D, int U>
void DowndateWhileFailing(const SnoopedComponent& component, std::size_t componentIndex,
                          std::size_t first, double firstStatistic, double firstCritical,
                          std::vector<bool>& fitted, std::vector<BlunderRemoval>& removals) {
  Downdated<D, U> state;
  const bool started = state.Start(component, fitted);
  removals.push_back({first, firstStatistic, firstCritical, componentIndex});
  if (!started) {
    fitted[first] = false;
    return;
  }
  state.Remove(first, fitted);
  if (component.progress) component.progress(removals.size());
  for (;;) {
    const int dfRest = D * static_cast<int>(state.Pairs()) - U - D;
    if (dfRest < 1) return;
    const double rounding = kRoundingResidualRatio * state.LargestCoordinate();
    const double sum = state.SumOfSquares();
    if (!(sum > static_cast<double>(D) * state.Pairs() * rounding * rounding)) return;
    if (state.Stale() && !state.NewEpoch(fitted)) return;
    double drop = 0.0;
    const std::size_t worst = state.Worst(fitted, drop);
    if (worst == kNone || !(drop > 0.0)) return;
    const boost::math::fisher_f_distribution<double> distribution(static_cast<double>(D), dfRest);
    const double critical =
        boost::math::quantile(boost::math::complement(distribution, kBlunderTestLevel));
    const double rest = state.SumOfSquares() - drop;
    const double statistic = drop / (static_cast<double>(D) * std::max(rest, 0.0) / dfRest);
    if (!(statistic > critical)) return;
    removals.push_back({worst, statistic, critical, componentIndex});
    state.Remove(worst, fitted);
    if (component.progress) component.progress(removals.size());
  }
}

void Downdate(const SnoopedComponent& component, std::size_t componentIndex, std::size_t first,
              const PairTest& test, std::vector<bool>& fitted,
              std::vector<BlunderRemoval>& removals) {
#define QUORVANE_DOWNDATE_OF(shapeLayout, shapeParameters)                                   \
  if (component.layout == shapeLayout && component.parameters == shapeParameters) {          \
    return DowndateWhileFailing<RowsOf(shapeLayout), shapeParameters>(                        \
        component, componentIndex, first, test.statistic, test.critical, fitted, removals); \
  }
  QUORVANE_COMPONENT_SHAPES(QUORVANE_DOWNDATE_OF)
#undef QUORVANE_DOWNDATE_OF
  // A shape the list lacks: the pair is removed alone and the refit judges the rest.
  removals.push_back({first, test.statistic, test.critical, componentIndex});
  fitted[first] = false;
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

void RemoveBlunders(const PointList& source, const PointList& destination,
                    std::vector<bool>& fitted, TransformParams& params,
                    ceres::Solver::Summary& summary, FitStatistics& stats,
                    std::vector<BlunderRemoval>& removals) {
  if (summary.termination_type == ceres::FAILURE || !std::isfinite(summary.final_cost)) return;
  SnoopedComponent component;
  component.layout = ComponentLayout::Whole;
  component.parameters = 5;  // tx, ty, tz, rz, scale
  component.linearise = [&](std::size_t i, PairLinearisation& out) {
    LineariseSimilarity(source[i], destination[i], params, out);
  };
  component.refit = [&](const std::vector<bool>& mask) {
    FitTransform(source, destination, mask, params, summary);
    return summary.termination_type != ceres::FAILURE && std::isfinite(summary.final_cost);
  };
  component.statistics = [&](const std::vector<bool>& mask) {
    return ComputeFitStatistics(source, destination, mask, params);
  };
  SnoopComponent(component, 0, fitted, stats, removals);
}

}  // namespace Quorvane
