// Robust estimation in three steps, each through the model's interface only:
//
// 1. A high-breakdown start: the component is fitted (FitComponent) to minimal subsets of ⌈u/d⌉
//    pairs and each fit judged by the other pairs' residuals, by their least median of squares
//    (Rousseeuw, Least median of squares regression, JASA 79, 1984) or, with absolute σ, by
//    Fischler and Bolles' RANSAC with the cost of each pair capped (Torr and Zisserman's MSAC,
//    2000), so that up to half of the pairs may be wrong.
// 2. IGG III reweighting (Yang Yuanxi, Robust estimation for dependent observations, manuscripta
//    geodaetica 19, 1994): each round takes one Gauss–Newton step of the weighted least squares
//    and weighs each pair again by its standardised residual. A pair's d rows are standardised
//    together, T = v̄ᵀR⁻¹v̄ with R = I + (1 − 2w)·J̄ N⁻¹ J̄ᵀ (N = Σ w J̄ᵀJ̄): the covariance of
//    its residual, exactly I − J̄ N⁻¹ J̄ᵀ for a pair in the fit (w = 1) and I + J̄ N⁻¹ J̄ᵀ for one
//    out of it (w = 0). T, which follows χ²(d), is taken to the normal deviate z of the same
//    tail probability, so that k0 and k1 mean for a pair of three rows what they mean for one
//    row. Without absolute σ the variance is the median of T over the median of χ²(d).
// 3. Re-admission: the pairs kept whole are fitted by least squares, every other pair is tested
//    against that fit, and those that pass are given back; again, until none passes.
//    Reweighting cuts good pairs in its tails, which it cannot tell from small blunders; the test
//    against a fit without them gives them back.
#include "estimation/robust_estimation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include <Eigen/Dense>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>

namespace Quorvane {

namespace {

using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
// A pair's block, at most three rows: on the stack.
using Block = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, 3, 3>;
using BlockVector = Eigen::Matrix<double, Eigen::Dynamic, 1, 0, 3, 1>;

// As in the statistics: normal matrices whose column-scaled eigenvalues fall below ε of the
// largest are singular, and residuals below 1e-12 of the largest coordinate are rounding.
constexpr double kSingularRatio = std::numeric_limits<double>::epsilon();
constexpr double kRoundingResidualRatio = 1e-12;
// Reweighting stops when no weight moves by more than this and the step moves no residual by
// more than a thousandth of its σ, or after kMostIterations rounds: the re-admission test, not
// the last digits of the weights, decides which pairs stay out.
constexpr double kWeightsSettled = 1e-2;
constexpr double kStepSettled = 1e-3;
constexpr int kMostIterations = 20;
// Gauss–Newton steps the fit of the kept pairs takes at most: from the reweighted fit the models
// converge in two or three.
constexpr int kMostKeptSteps = 10;

// SplitMix64 (Steele, Lea and Flood 2014): the same draws on every platform, unlike <random>'s
// distributions.
class Draw {
 public:
  std::size_t Below(std::size_t n) {
    state_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<std::size_t>((z >> 11) * (static_cast<double>(n) * 0x1.0p-53));
  }

 private:
  std::uint64_t state_ = 20240611;
};

double IggWeight(double z) {
  if (z <= kIggK0) return 1.0;
  if (z >= kIggK1) return 0.0;
  const double t = (kIggK1 - z) / (kIggK1 - kIggK0);
  return kIggK0 / z * t * t;
}

// IGG III on χ²(d) statistics: T is taken to the normal deviate of the same two-sided tail. The
// deviate between the two cuts is tabulated at kIggNodes points and interpolated linearly, which
// is within 1e-5 of it there (it is smooth and its second derivative small), at a fraction of
// the cost of a χ² tail and a normal quantile for every pair in every round.
constexpr int kIggNodes = 512;

class IggOnChiSquare {
 public:
  explicit IggOnChiSquare(int rows) : chi_(rows) {
    const auto at = [&](double k) {
      return boost::math::quantile(boost::math::complement(chi_, std::erfc(k / std::sqrt(2.0))));
    };
    t0_ = at(kIggK0);
    t1_ = at(kIggK1);
    median_ = boost::math::median(chi_);
    step_ = (t1_ - t0_) / (kIggNodes - 1);
    deviate_.resize(kIggNodes);
    for (int k = 0; k < kIggNodes; ++k) {
      const double t = t0_ + k * step_;
      const double tail = boost::math::cdf(boost::math::complement(chi_, t));
      deviate_[k] =
          rows == 1 ? std::sqrt(t)
                    : boost::math::quantile(boost::math::complement(boost::math::normal(), tail / 2));
    }
  }
  double Weight(double t) const {
    if (!(t > t0_)) return 1.0;
    if (!(t < t1_)) return 0.0;
    const double at = (t - t0_) / step_;
    const int k = std::min(static_cast<int>(at), kIggNodes - 2);
    const double f = at - k;
    return IggWeight((1.0 - f) * deviate_[k] + f * deviate_[k + 1]);
  }
  double Cut() const { return t1_; }        // T from which the weight is 0
  double Median() const { return median_; }  // of χ²(d)

 private:
  boost::math::chi_squared_distribution<double> chi_;
  double t0_ = 0.0, t1_ = 0.0, median_ = 1.0, step_ = 1.0;
  std::vector<double> deviate_;  // the normal deviate at t0 + k·step
};

double MedianOf(std::vector<double> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// The component's working state over the pairs it may fit.
class Estimator {
 public:
  Estimator(const TransformModel& model, std::size_t c, const FramePairs& pairs,
            const std::vector<bool>& used, const ModelParameters& params)
      : model_(model), c_(c), pairs_(pairs), component_(model.Components()[c]),
        d_(RowsOf(component_.layout)), u_(static_cast<int>(component_.parameters.size())),
        params_(params), known_(pairs.varianceKnown && pairs.precision != nullptr), igg_(d_) {
    for (std::size_t i = 0; i < used.size(); ++i) {
      if (used[i]) eligible_.push_back(i);
    }
    jacobian_.resize(static_cast<std::size_t>(3 * u_));
  }

  RobustOutcome Run(std::vector<bool>& used);

 private:
  std::size_t Count() const { return eligible_.size(); }
  Eigen::Index At(std::size_t k) const { return static_cast<Eigen::Index>(k) * d_; }

  double Cost(const ModelParameters& values, std::size_t i);
  void Linearise();
  bool Solve(const std::vector<double>& w, Eigen::MatrixXd& inverse, Eigen::VectorXd* step);
  double Standardised(std::size_t k, const RowMajor& jn, double w) const;
  double Floor() const;
  bool Start(RobustOutcome& outcome, std::vector<double>& w);
  double InlierShare(std::vector<double>& costs) const;
  double Score(const ModelParameters& trial, const std::vector<std::size_t>& scoring,
               std::vector<double>& costs);
  int Reweighting(std::vector<double>& w);
  bool FitKept(const std::vector<double>& w, Eigen::MatrixXd& inverse);
  bool Readmit(std::vector<bool>& kept, RobustOutcome& outcome);
  RobustTest TestAgainstKept(std::size_t k, const RowMajor& jn, double variance,
                             int redundancy, double critical) const;

  const TransformModel& model_;
  std::size_t c_;
  const FramePairs& pairs_;
  const Component& component_;
  int d_, u_;
  ModelParameters params_;
  bool known_;
  IggOnChiSquare igg_;
  double variance_ = 1.0;              // the scale, σ0² (1 with absolute σ)
  std::vector<std::size_t> eligible_;  // the pairs `used` marks, in pair order
  RowMajor J_;                         // d rows a pair of eligible_, u columns, whitened
  Eigen::VectorXd v_;                  // the residuals, whitened
  double largest_ = 0.0;               // coordinate magnitude × whitening, for rounding
  std::vector<double> jacobian_;
};

// Pair i's residual at `values`, its rows divided by their σ, squared and summed.
double Estimator::Cost(const ModelParameters& values, std::size_t i) {
  PairLinearisation out;
  out.jacobian = jacobian_.data();
  model_.Linearise(c_, values, pairs_, i, out);
  double whitening[3];
  RowWhitening(component_.layout, pairs_.precision, i, whitening);
  double sum = 0.0;
  for (int r = 0; r < d_; ++r) sum += (whitening[r] * out.residual[r]) * (whitening[r] * out.residual[r]);
  return sum;
}

void Estimator::Linearise() {
  J_.resize(At(Count()), u_);
  v_.resize(At(Count()));
  largest_ = 0.0;
  PairLinearisation out;
  out.jacobian = jacobian_.data();
  for (std::size_t k = 0; k < Count(); ++k) {
    const std::size_t i = eligible_[k];
    model_.Linearise(c_, params_, pairs_, i, out);
    double whitening[3];
    RowWhitening(component_.layout, pairs_.precision, i, whitening);
    for (int r = 0; r < d_; ++r) {
      v_[At(k) + r] = whitening[r] * out.residual[r];
      for (int p = 0; p < u_; ++p) J_(At(k) + r, p) = whitening[r] * jacobian_[r * u_ + p];
      largest_ = std::max(largest_, whitening[r] * out.largestCoordinate);
    }
  }
}

// N⁻¹ of N = Σ w J̄ᵀJ̄, scaled to a unit diagonal so that metres and radians do not set its
// condition; and, where asked, the Gauss–Newton step δ = −N⁻¹ Σ w J̄ᵀv̄. False when N is
// singular.
bool Estimator::Solve(const std::vector<double>& w, Eigen::MatrixXd& inverse,
                      Eigen::VectorXd* step) {
  Eigen::VectorXd rowWeights(At(Count()));
  for (std::size_t k = 0; k < Count(); ++k) rowWeights.segment(At(k), d_).setConstant(w[k]);
  const Eigen::MatrixXd weighted = rowWeights.asDiagonal() * J_;
  const Eigen::MatrixXd normal = weighted.transpose() * J_;
  const Eigen::VectorXd gradient = weighted.transpose() * v_;
  const Eigen::VectorXd diagonal = normal.diagonal();
  if (!(diagonal.array() > 0.0).all() || !diagonal.allFinite()) return false;
  const Eigen::VectorXd scaling = diagonal.cwiseSqrt().cwiseInverse();
  const Eigen::MatrixXd scaled = scaling.asDiagonal() * normal * scaling.asDiagonal();
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(scaled, Eigen::EigenvaluesOnly);
  if (!(eigen.eigenvalues()[0] > kSingularRatio * eigen.eigenvalues()[u_ - 1])) return false;
  inverse = scaling.asDiagonal() * scaled.llt().solve(Eigen::MatrixXd::Identity(u_, u_)) *
            scaling.asDiagonal();
  if (step != nullptr) *step = -inverse * gradient;
  return inverse.allFinite();
}

// T = v̄ᵀR⁻¹v̄ of the k-th eligible pair, R = I + (1 − 2w)·J̄ N⁻¹ J̄ᵀ, `jn` = J̄ N⁻¹; 0 where R is
// (nearly) singular (the pair alone fixes some combination of the values, and its residual says
// nothing).
double Estimator::Standardised(std::size_t k, const RowMajor& jn, double w) const {
  const Block hat = jn.middleRows(At(k), d_) * J_.middleRows(At(k), d_).transpose();
  const Block r = Block::Identity(d_, d_) + (1.0 - 2.0 * w) * hat;
  const Eigen::LDLT<Block> ldlt(r);
  if (ldlt.info() != Eigen::Success || !(ldlt.vectorD().minCoeff() > std::sqrt(kSingularRatio))) {
    return 0.0;
  }
  const BlockVector v = v_.segment(At(k), d_);
  return v.dot(ldlt.solve(v));
}

// Σ v̄ᵀv̄ of a pair at the rounding of the coordinates: a variance below it is no variance.
double Estimator::Floor() const {
  const double rounding = kRoundingResidualRatio * std::max(largest_, 1.0);
  return static_cast<double>(d_) * rounding * rounding;
}

// What the subset's fit `trial` costs over the scoring pairs: the ⌊(m + s + 1)/2⌋-th smallest
// cost (LMS), or with absolute σ the sum of costs capped at IGG III's cut (MSAC).
double Estimator::Score(const ModelParameters& trial, const std::vector<std::size_t>& scoring,
                        std::vector<double>& costs) {
  costs.resize(scoring.size());
  for (std::size_t j = 0; j < scoring.size(); ++j) costs[j] = Cost(trial, eligible_[scoring[j]]);
  if (known_) {
    double sum = 0.0;
    for (const double cost : costs) sum += std::min(cost, igg_.Cut());
    return sum;
  }
  const std::size_t s = (static_cast<std::size_t>(u_) + d_ - 1) / d_;
  const std::size_t h = std::min(costs.size(), (costs.size() + s + 1) / 2) - 1;
  std::nth_element(costs.begin(), costs.begin() + static_cast<std::ptrdiff_t>(h), costs.end());
  return costs[h];
}

// Subsets to draw so that one of them holds no blunder with probability kRobustConfidence, when a
// share `inliers` of the pairs holds none (Fischler and Bolles 1981).
std::size_t SubsetsNeeded(double inliers, std::size_t s) {
  const double clean = std::pow(inliers, static_cast<double>(s));
  if (!(clean > 0.0)) return kRobustSubsets;
  if (!(clean < 1.0)) return 1;
  const double needed = std::log(1.0 - kRobustConfidence) / std::log1p(-clean);
  return needed >= kRobustSubsets ? kRobustSubsets : static_cast<std::size_t>(std::ceil(needed));
}

// The share of the scoring pairs within IGG III's cut of a subset's fit, at σ0 = 1 or, without
// absolute σ, at the scale of the median cost.
double Estimator::InlierShare(std::vector<double>& costs) const {
  if (costs.empty()) return 0.0;
  const double scale = known_ ? 1.0 : std::max(MedianOf(costs) / igg_.Median(), Floor());
  std::size_t inliers = 0;
  for (const double cost : costs) inliers += cost / scale < igg_.Cut() ? 1 : 0;
  return static_cast<double>(inliers) / static_cast<double>(costs.size());
}

// The start: the best of the minimal subsets by Score, every one while they are at most
// kRobustSubsets, else as many drawn as SubsetsNeeded says for the best fit so far (at most
// kRobustSubsets); then weight 1 for the pairs within IGG III's cut of its
// fit and 0 for the others. The scale without absolute σ is the LMS scale, the median cost over
// the median of χ²(d) with Rousseeuw's small-sample factor (1 + 5/(n − s))².
bool Estimator::Start(RobustOutcome& outcome, std::vector<double>& w) {
  const std::size_t n = Count(), s = outcome.subsetPairs;
  Draw draw;
  std::vector<std::size_t> scoring(n);
  for (std::size_t k = 0; k < n; ++k) scoring[k] = k;
  if (n > kRobustScoringPairs) {
    for (std::size_t j = 0; j < kRobustScoringPairs; ++j) {
      std::swap(scoring[j], scoring[j + draw.Below(n - j)]);
    }
    scoring.resize(kRobustScoringPairs);
  }
  // C(n, s), stopping once it passes the budget.
  double combinations = 1.0;
  for (std::size_t j = 0; j < s; ++j) combinations = combinations * (n - j) / (j + 1);
  const bool every = combinations <= static_cast<double>(kRobustSubsets) + 0.5;
  const std::size_t count = every ? static_cast<std::size_t>(combinations + 0.5) : kRobustSubsets;
  std::vector<std::size_t> subset(s);
  for (std::size_t j = 0; j < s; ++j) subset[j] = j;
  std::vector<bool> mask(pairs_.source.size(), false);
  std::vector<double> costs;
  double best = std::numeric_limits<double>::infinity();
  ModelParameters bestValues;
  std::size_t needed = count;
  for (std::size_t t = 0; t < count; ++t) {
    if (!every) {
      for (std::size_t j = 0; j < s; ++j) {
        do subset[j] = draw.Below(n);
        while (std::find(subset.begin(), subset.begin() + static_cast<std::ptrdiff_t>(j),
                         subset[j]) != subset.begin() + static_cast<std::ptrdiff_t>(j));
      }
    } else if (t > 0) {  // the next combination in lexicographic order
      std::size_t j = s;
      while (j > 0 && subset[j - 1] == n - s + j - 1) --j;
      ++subset[j - 1];
      for (std::size_t k = j; k < s; ++k) subset[k] = subset[k - 1] + 1;
    }
    for (const std::size_t k : subset) mask[eligible_[k]] = true;
    ModelParameters trial = params_;
    FitOutcome fitted;
    const bool usable = model_.FitComponent(c_, pairs_, mask, trial, fitted) &&
                        (c_ >= fitted.determined.size() || fitted.determined[c_]);
    for (const std::size_t k : subset) mask[eligible_[k]] = false;
    if (!usable) continue;
    ++outcome.subsets;
    const double score = Score(trial, scoring, costs);
    if (!(score < best)) continue;
    best = score;
    bestValues = std::move(trial);
    if (!every) needed = std::min(needed, SubsetsNeeded(InlierShare(costs), s));
    if (t + 1 >= needed) break;
  }
  if (!std::isfinite(best)) return false;
  params_ = std::move(bestValues);
  Linearise();
  std::vector<double> all(n);
  for (std::size_t k = 0; k < n; ++k) all[k] = v_.segment(At(k), d_).squaredNorm();
  if (!known_) {
    const double small = 1.0 + 5.0 / static_cast<double>(n - s);
    variance_ = std::max(small * small * MedianOf(all) / igg_.Median(), Floor());
  }
  w.resize(n);
  for (std::size_t k = 0; k < n; ++k) w[k] = all[k] / variance_ < igg_.Cut() ? 1.0 : 0.0;
  return true;
}

// IGG III's rounds from the start's weights; the rounds taken. Stops early where the weights
// leave the values undetermined, with the weights of the round before.
int Estimator::Reweighting(std::vector<double>& w) {
  Eigen::MatrixXd inverse;
  Eigen::VectorXd step;
  std::vector<double> t(Count());
  Linearise();
  for (int round = 1; round <= kMostIterations; ++round) {
    if (!Solve(w, inverse, &step)) return round - 1;
    for (int p = 0; p < u_; ++p) params_.values[component_.parameters[p]] += step[p];
    const double moved = (J_ * step).cwiseAbs().maxCoeff();
    Linearise();
    if (!Solve(w, inverse, nullptr)) return round - 1;
    const RowMajor jn = J_ * inverse;
    for (std::size_t k = 0; k < Count(); ++k) t[k] = Standardised(k, jn, w[k]);
    if (!known_) variance_ = std::max(MedianOf(t) / igg_.Median(), Floor());
    double change = 0.0;
    for (std::size_t k = 0; k < Count(); ++k) {
      const double next = igg_.Weight(t[k] / variance_);
      change = std::max(change, std::fabs(next - w[k]));
      w[k] = next;
    }
    if (change < kWeightsSettled && moved < kStepSettled * std::sqrt(variance_)) return round;
  }
  return kMostIterations;
}

// The k-th eligible pair, out of the fit, against the kept pairs' fit (`jn` = J̄ N⁻¹ of it, its
// variance σ̂² and redundancy r), and the test's critical value.
RobustTest Estimator::TestAgainstKept(std::size_t k, const RowMajor& jn, double variance,
                                      int redundancy, double critical) const {
  RobustTest test;
  test.pair = eligible_[k];
  const double delta = Standardised(k, jn, 0.0);
  if (known_) {
    test.testable = true;
    test.statistic = delta;
    test.critical = critical;
    return test;
  }
  if (redundancy < 1) return test;
  test.testable = true;
  test.critical = critical;
  test.statistic = variance > Floor() ? delta / (d_ * variance)
                   : delta > Floor() ? std::numeric_limits<double>::infinity()
                                     : 0.0;
  return test;
}

// The least squares of the pairs w marks (w = 1) by Gauss–Newton steps from the values at hand,
// a reweighted fit close to it, until a step moves no residual by more than a thousandth of its
// σ; linearised at that fit, with its N⁻¹. False when they do not determine the values.
bool Estimator::FitKept(const std::vector<double>& w, Eigen::MatrixXd& inverse) {
  Eigen::VectorXd step;
  for (int round = 0; round < kMostKeptSteps; ++round) {
    Linearise();
    if (!Solve(w, inverse, &step)) return false;
    for (int p = 0; p < u_; ++p) params_.values[component_.parameters[p]] += step[p];
    if ((J_ * step).cwiseAbs().maxCoeff() < kStepSettled * std::sqrt(variance_)) break;
  }
  Linearise();
  return Solve(w, inverse, nullptr);
}

// Fits the kept pairs by least squares and gives back every other pair that passes its test
// against that fit, until none passes; the pairs still out get their test against the last
// fit. False when the kept pairs do not determine the component.
bool Estimator::Readmit(std::vector<bool>& kept, RobustOutcome& outcome) {
  std::vector<double> w(Count());
  Eigen::MatrixXd inverse;
  for (;;) {
    std::size_t m = 0;
    for (std::size_t k = 0; k < Count(); ++k) {
      w[k] = kept[k] ? 1.0 : 0.0;
      m += kept[k] ? 1 : 0;
    }
    if (!FitKept(w, inverse)) return false;
    double sum = 0.0;
    for (std::size_t k = 0; k < Count(); ++k) {
      if (kept[k]) sum += v_.segment(At(k), d_).squaredNorm();
    }
    const int redundancy = d_ * static_cast<int>(m) - u_;
    const double variance = redundancy >= 1 ? sum / redundancy : 0.0;
    const RowMajor jn = J_ * inverse;
    const double critical = known_ ? KnownVarianceTestCritical(d_)
                            : redundancy >= 1 ? BlunderTestCritical(d_, redundancy)
                                              : 0.0;
    std::vector<RobustTest> out, back;
    for (std::size_t k = 0; k < Count(); ++k) {
      if (kept[k]) continue;
      const RobustTest test = TestAgainstKept(k, jn, variance, redundancy, critical);
      (test.testable && test.statistic > test.critical ? out : back).push_back(test);
    }
    if (back.empty()) {
      outcome.removed = std::move(out);
      return true;
    }
    for (const RobustTest& test : back) {
      outcome.readmitted.push_back(test);
      kept[static_cast<std::size_t>(
          std::lower_bound(eligible_.begin(), eligible_.end(), test.pair) - eligible_.begin())] =
          true;
    }
  }
}

RobustOutcome Estimator::Run(std::vector<bool>& used) {
  RobustOutcome outcome;
  outcome.consensus = known_;
  outcome.subsetPairs = static_cast<std::size_t>((u_ + d_ - 1) / d_);
  if (Count() < outcome.subsetPairs + 2) return outcome;
  std::vector<double> w;
  if (!Start(outcome, w)) return outcome;
  outcome.iterations = Reweighting(w);
  std::vector<bool> kept(Count());
  for (std::size_t k = 0; k < Count(); ++k) kept[k] = w[k] >= 1.0;
  RobustOutcome judged = outcome;
  if (!Readmit(kept, judged)) return outcome;
  judged.started = true;
  for (const RobustTest& test : judged.removed) used[test.pair] = false;
  return judged;
}

}  // namespace

RobustOutcome RobustComponent(const TransformModel& model, std::size_t c, const FramePairs& pairs,
                              std::vector<bool>& used, const ModelParameters& params) {
  Estimator estimator(model, c, pairs, used, params);
  return estimator.Run(used);
}

}  // namespace Quorvane
