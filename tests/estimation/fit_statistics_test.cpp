// The similarity's statistics against an independent evaluation at the closed-form optimum, the
// leave-one-out identities against real refits, the blunder test and snooping on planted
// blunders, the tests with σ known against a dense evaluation, and the robust estimation's
// re-admission, through the model the table makes.
#include "estimation/fit_statistics.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>
#include <Eigen/Dense>
#include <boost/math/distributions/chi_squared.hpp>

#include "estimation/blunder_removal.h"
#include "estimation/model.h"
#include "estimation/robust_estimation.h"
#include "tests/estimation/closed_form_fit.h"
#include "tests/estimation/networks.h"

namespace Quorvane {
namespace {

// The solver stops within about 1e-5 m of the optimum on networks of this size (see the fit's
// own tests), which bounds every residual-derived figure's distance from the exact one.
constexpr double kSolverTolerance = 1e-5;  // metres
// The parameters' σ scale with σ̂0 and depend on the fit only through J, which hardly moves.
constexpr double kSigmaTolerance = 1e-4;  // relative

// Twelve pairs (or `pairs`) over 10 km, a datum shift, 2 cm of noise per coordinate; `blunder`
// metres added to the northing of pair 5 (index 4).
void Network(double noise, double blunder, PointList& source, PointList& destination,
             int pairs = 12) {
  std::mt19937_64 random(12);
  std::uniform_real_distribution<double> plane(-5000, 5000), height(0, 300);
  std::normal_distribution<double> error(0, noise);
  const double s = 1.00002, c = std::cos(3e-5), sn = std::sin(3e-5);
  for (int i = 0; i < pairs; ++i) {
    const Point3 p{plane(random), plane(random), height(random)};
    source.push_back(p);
    destination.push_back({s * (c * p.x - sn * p.y) + 152.3 + error(random),
                           s * (sn * p.x + c * p.y) - 88.1 + error(random),
                           s * p.z - 36.7 + error(random)});
  }
  destination[4].y += blunder;
}

// The similarity fitted to the pairs `fitted` marks and its statistics; the fit's outcome into
// `outcome` where given.
FitStatistics FitAndTest(const PointList& source, const PointList& destination,
                         const std::vector<bool>& fitted, FitOutcome* outcome = nullptr) {
  const auto similarity = QuorvaneTest::Made("similarity");
  const FramePairs pairs{source, destination};
  ModelParameters fit;
  const FitOutcome made = similarity->Fit(pairs, {fitted}, fit, 0);
  if (outcome != nullptr) *outcome = made;
  return ComputeModelStatistics(*similarity, 0, pairs, fitted, fit);
}

// Snooping on the similarity from the fit and statistics of the pairs `fitted` marks.
std::vector<BlunderRemoval> Snoop(const PointList& source, const PointList& destination,
                                  std::vector<bool>& fitted, FitStatistics& stats) {
  const auto similarity = QuorvaneTest::Made("similarity");
  const FramePairs pairs{source, destination};
  ModelParameters params;
  FitOutcome outcome = similarity->Fit(pairs, {fitted}, params, 0);
  stats = ComputeModelStatistics(*similarity, 0, pairs, fitted, params);
  std::vector<BlunderRemoval> removals;
  SnoopModel(*similarity, 0, pairs, fitted, params, outcome, stats, removals, {});
  return removals;
}

TEST(FitStatistics, AgreeWithAnIndependentEvaluationAtTheOptimum) {
  PointList source, destination;
  Network(0.02, 0.0, source, destination);
  FitOutcome outcome;
  const FitStatistics stats =
      FitAndTest(source, destination, std::vector<bool>(12, true), &outcome);
  EXPECT_NEAR(stats.sumOfSquares, 2 * outcome.summary.final_cost, 1e-12 * stats.sumOfSquares);

  // Residuals at the exact optimum in long double, and J by central differences of them.
  using Real = long double;
  const QuorvaneTest::ClosedFormFit o = QuorvaneTest::SolveClosedForm(source, destination);
  auto residuals = [&](const Real x[5]) {
    Eigen::Matrix<Real, 36, 1> v;
    for (int i = 0; i < 12; ++i) {
      const Real ux = source[i].x + x[0], uy = source[i].y + x[1], uz = source[i].z + x[2];
      v[3 * i] = x[4] * (std::cos(x[3]) * ux - std::sin(x[3]) * uy) - destination[i].x;
      v[3 * i + 1] = x[4] * (std::sin(x[3]) * ux + std::cos(x[3]) * uy) - destination[i].y;
      v[3 * i + 2] = x[4] * uz - destination[i].z;
    }
    return v;
  };
  const Real x[5] = {o.tx, o.ty, o.tz, o.rz, o.scale};
  const Eigen::Matrix<Real, 36, 1> v = residuals(x);
  Eigen::Matrix<Real, 36, 5> J;
  for (int k = 0; k < 5; ++k) {
    Real plus[5], minus[5];
    const Real h = k == 3 ? 1e-7L : 1e-3L;  // radians for rz, metres or unitless otherwise
    for (int j = 0; j < 5; ++j) plus[j] = minus[j] = x[j];
    plus[k] += h, minus[k] -= h;
    J.col(k) = (residuals(plus) - residuals(minus)) / (2 * h);
  }
  const Real sigma0 = std::sqrt(v.squaredNorm() / 31);
  Real horizontal = 0, vertical = 0;
  for (int i = 0; i < 12; ++i) {
    horizontal += v[3 * i] * v[3 * i] + v[3 * i + 1] * v[3 * i + 1];
    vertical += v[3 * i + 2] * v[3 * i + 2];
  }
  const Eigen::Matrix<Real, 5, 5> covariance = sigma0 * sigma0 * (J.transpose() * J).inverse();

  EXPECT_EQ(stats.redundancy, 31);
  EXPECT_NEAR(stats.sigma0, static_cast<double>(sigma0), kSolverTolerance);
  EXPECT_NEAR(stats.rmsHorizontal, static_cast<double>(std::sqrt(horizontal / 12)),
              kSolverTolerance);
  EXPECT_NEAR(stats.rmsVertical, static_cast<double>(std::sqrt(vertical / 12)), kSolverTolerance);
  ASSERT_TRUE(stats.precisionDetermined);
  for (int k = 0; k < 5; ++k) {
    const double expected = static_cast<double>(std::sqrt(covariance(k, k)));
    EXPECT_NEAR(stats.sigma[k], expected, kSigmaTolerance * expected) << "parameter " << k;
  }
  for (const PairTest& test : stats.tests) EXPECT_FALSE(test.suspect);
}

TEST(FitStatistics, LeavingAPairOutGivesWhatARefitGives) {
  PointList source, destination;
  Network(0.02, 0.5, source, destination);
  const std::vector<bool> all(12, true);
  const FitStatistics stats = FitAndTest(source, destination, all);
  for (const std::size_t pair : {4u, 0u}) {
    std::vector<bool> rest = all;
    rest[pair] = false;
    const FitStatistics refit = FitAndTest(source, destination, rest);
    const PairTest& test = stats.tests[pair];
    ASSERT_TRUE(test.testable);
    EXPECT_NEAR(refit.residuals[pair].x, test.misclosure.x, kSolverTolerance);
    EXPECT_NEAR(refit.residuals[pair].y, test.misclosure.y, kSolverTolerance);
    EXPECT_NEAR(refit.residuals[pair].z, test.misclosure.z, kSolverTolerance);
    // A fit off its optimum by the solver's tolerance moves a squared misclosure w² by 2·w·that.
    const double w = std::hypot(test.misclosure.x, test.misclosure.y, test.misclosure.z);
    EXPECT_NEAR(refit.sumOfSquares, stats.sumOfSquares - test.sumOfSquaresDrop,
                2 * w * kSolverTolerance);
  }
  // The planted 0.5 m is the one pair flagged, and snooping removes it alone.
  for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(stats.tests[i].suspect, i == 4) << "pair " << i;
  std::vector<bool> fitted = all;
  FitStatistics snooped;
  const std::vector<BlunderRemoval> removals = Snoop(source, destination, fitted, snooped);
  ASSERT_EQ(removals.size(), 1u);
  EXPECT_EQ(removals[0].pair, 4u);
  EXPECT_EQ(removals[0].statistic, stats.tests[4].statistic);
  EXPECT_EQ(snooped.fittedPairs, 11u);
}

// Two blunders that both fail: the pair with the larger statistic goes first, since a blunder's
// spread can push a sound pair over the line but not above the blunder that causes it. Each
// blunder inflates the other's σ̂_(i), so both fail by a clear margin only on 24 pairs.
TEST(FitStatistics, SnoopingRemovesTheLargestFailingStatisticFirst) {
  PointList source, destination;
  Network(0.02, 1.0, source, destination, 24);
  destination[9].x += 1.1;  // metres, a second blunder on pair 10
  std::vector<bool> fitted(24, true);
  const FitStatistics stats = FitAndTest(source, destination, fitted);
  ASSERT_TRUE(stats.tests[4].suspect && stats.tests[9].suspect);
  const std::size_t worse = stats.tests[9].statistic > stats.tests[4].statistic ? 9 : 4;
  const double largest = stats.tests[worse].statistic;
  FitStatistics snooped;
  const std::vector<BlunderRemoval> removals = Snoop(source, destination, fitted, snooped);
  ASSERT_GE(removals.size(), 1u);
  EXPECT_EQ(removals[0].pair, worse);
  EXPECT_EQ(removals[0].statistic, largest);
}

// Fits the points cannot test or determine give zeros and flags, never NaN.
TEST(FitStatistics, EdgesOfDetermination) {
  PointList source, destination;
  Network(0.0, 0.0, source, destination);
  const FitStatistics exact = FitAndTest(source, destination, std::vector<bool>(12, true));
  EXPECT_LT(exact.sigma0, 1e-9);  // metres: rounding of coordinates of a few km
  for (const PairTest& test : exact.tests) {
    EXPECT_TRUE(test.testable);
    EXPECT_EQ(test.statistic, 0.0);
  }

  const PointList coincident(4, source[0]);
  const FitStatistics same = FitAndTest(coincident, destination, std::vector<bool>(4, true));
  EXPECT_TRUE(same.sigma0Determined);
  EXPECT_FALSE(same.precisionDetermined);
  EXPECT_FALSE(same.tests[0].testable);
  EXPECT_FALSE(DeterminesTransform(coincident, std::vector<bool>(4, true)));

  std::vector<bool> first(12, false);
  first[0] = true;
  const FitStatistics one = FitAndTest(source, destination, first);
  EXPECT_EQ(one.redundancy, -2);
  EXPECT_FALSE(one.sigma0Determined || one.precisionDetermined || one.tests[0].testable);
  EXPECT_TRUE(one.rmsDetermined);
  EXPECT_FALSE(DeterminesTransform(source, first));

  // Three pairs spread over a continent: leaving one out leaves the others tens of metres of
  // height residuals, so no statistic is infinite however little of Σ|v|² is left.
  const PointList wide = {{362675.05688, 16182235.20023, 740.152},
                          {-16608114.03942, 2170189.41235, 394.44},
                          {3997763.74017, 9231069.44896, 3.246}};
  const PointList far = {{16942062.71910, 17072252.57296, 376.044},
                         {1139166.46477, -7490927.40686, 389.926},
                         {5921089.25188, -6318808.33727, 939.798}};
  for (const PairTest& test : FitAndTest(wide, far, std::vector<bool>(3, true)).tests) {
    EXPECT_TRUE(std::isfinite(test.statistic));
  }

  // A height near the double's limit overflows Σ|v|²: nothing is determined, nothing infinite.
  PointList high = destination;
  high[0].z = 1e200;
  const FitStatistics overflow = FitAndTest(source, high, std::vector<bool>(12, true));
  EXPECT_FALSE(overflow.sigma0Determined || overflow.rmsDetermined ||
               overflow.precisionDetermined || overflow.tests[0].testable);
}

// The whitened Jacobian (d·n × 5) and residuals of the similarity at `params`, every row divided
// by `sigma`, in pair order.
void Whitened(const TransformModel& model, const FramePairs& pairs, const ModelParameters& params,
              double sigma, Eigen::MatrixXd& J, Eigen::VectorXd& v) {
  const std::size_t n = pairs.source.size();
  J.resize(3 * n, 5);
  v.resize(3 * n);
  double jacobian[15];
  PairLinearisation out;
  out.jacobian = jacobian;
  for (std::size_t i = 0; i < n; ++i) {
    model.Linearise(0, params, pairs, i, out);
    for (int r = 0; r < 3; ++r) {
      v[3 * i + r] = out.residual[r] / sigma;
      for (int p = 0; p < 5; ++p) J(3 * i + r, p) = jacobian[r * 5 + p] / sigma;
    }
  }
}

// With σ known a priori (1 cm), the variance factor and each pair's T_i = v_iᵀ Q_vv,ii⁻¹ v_i
// against a dense Q_vv = I − J N⁻¹ Jᵀ at the same fit, and the critical values against printed
// χ² tables (r = 31, d = 3).
TEST(FitStatistics, KnownVarianceTestsAgreeWithADenseEvaluation) {
  constexpr double kSigma = 0.01;      // metres, every row
  constexpr double kTable = 5e-4;      // the tables' three decimals
  constexpr double kRounding = 1e-9;   // relative: the same fit, two ways of rounding
  PointList source, destination;
  Network(0.01, 0.08, source, destination);
  const std::vector<Precision> precision(12, Precision{kSigma, kSigma});
  const FramePairs pairs{source, destination, nullptr, &precision, nullptr, true};
  const auto similarity = QuorvaneTest::Made("similarity");
  ModelParameters fit;
  ASSERT_TRUE(similarity->Fit(pairs, {std::vector<bool>(12, true)}, fit, 0).usable);
  const FitStatistics stats =
      ComputeModelStatistics(*similarity, 0, pairs, std::vector<bool>(12, true), fit);

  Eigen::MatrixXd J;
  Eigen::VectorXd v;
  Whitened(*similarity, pairs, fit, kSigma, J, v);
  const Eigen::MatrixXd Q = Eigen::MatrixXd::Identity(36, 36) -
                            J * (J.transpose() * J).inverse() * J.transpose();
  ASSERT_TRUE(stats.varianceTest.tested);
  EXPECT_NEAR(stats.varianceTest.factor, v.squaredNorm() / 31, kRounding * v.squaredNorm());
  EXPECT_NEAR(stats.varianceTest.lower, 17.539 / 31, kTable / 31);
  EXPECT_NEAR(stats.varianceTest.upper, 48.232 / 31, kTable / 31);
  EXPECT_FALSE(stats.varianceTest.passed);  // the 8 cm blunder of pair 5
  for (int i = 0; i < 12; ++i) {
    const Eigen::Vector3d vi = v.segment<3>(3 * i);
    const double T = vi.dot(Q.block<3, 3>(3 * i, 3 * i).inverse() * vi);
    ASSERT_TRUE(stats.tests[i].testable) << i;
    EXPECT_NEAR(stats.tests[i].statistic, T, kRounding * T + 1e-9) << i;
    EXPECT_NEAR(stats.tests[i].critical, 16.266, kTable);
    EXPECT_EQ(stats.tests[i].suspect, i == 4) << i;
  }
  // σ from σ0 = 1, and beside them scaled by σ̂0.
  const Eigen::MatrixXd C = (J.transpose() * J).inverse();
  for (int p = 0; p < 5; ++p) {
    EXPECT_NEAR(stats.sigma[p], std::sqrt(C(p, p)), kSigmaTolerance * std::sqrt(C(p, p)));
    EXPECT_NEAR(stats.sigmaScaled[p], stats.sigma[p] * stats.sigma0, 1e-12);
  }
}

// --robust on an exact network with a 30 cm blunder on pair 8 and pair 3 moved east so that, out
// of the fit, its Δ lies half-way between IGG III's cut (z = 3) and the χ²(3) test at 0.999: the
// reweighting cuts it, the re-admission test against the fit of the ten good pairs gives it back
// with that Δ, and only the blunder stays out.
TEST(FitStatistics, RobustEstimationGivesBackAGoodPairThatReweightingCut) {
  constexpr double kSigma = 0.01;     // metres, every row
  constexpr double kConverged = 1e-6;  // relative: the kept pairs' fit by Gauss–Newton steps
  PointList source, destination;
  Network(0.0, 0.0, source, destination);
  destination[7].y += 0.30;
  const std::vector<Precision> precision(12, Precision{kSigma, kSigma});
  const FramePairs pairs{source, destination, nullptr, &precision, nullptr, true};
  const auto similarity = QuorvaneTest::Made("similarity");
  std::vector<bool> good(12, true);
  good[2] = good[7] = false;
  ModelParameters exact;
  ASSERT_TRUE(similarity->Fit(pairs, {good}, exact, 0).usable);

  // Δ of a 1 m move east of pair 3 against the ten good pairs, then the move that puts it
  // half-way.
  Eigen::MatrixXd J;
  Eigen::VectorXd v;
  Whitened(*similarity, pairs, exact, kSigma, J, v);
  Eigen::MatrixXd N = Eigen::MatrixXd::Zero(5, 5);
  for (int i = 0; i < 12; ++i) {
    if (good[i]) N += J.middleRows<3>(3 * i).transpose() * J.middleRows<3>(3 * i);
  }
  const Eigen::MatrixXd Ji = J.middleRows<3>(6);
  const Eigen::Matrix3d R = Eigen::Matrix3d::Identity() + Ji * N.inverse() * Ji.transpose();
  const Eigen::Vector3d east(1.0 / kSigma, 0.0, 0.0);
  const double perMetre = east.dot(R.inverse() * east);
  const boost::math::chi_squared_distribution<double> chi(3);
  const double cut = boost::math::quantile(boost::math::complement(chi, std::erfc(3.0 / std::sqrt(2.0))));
  const double test = boost::math::quantile(boost::math::complement(chi, 0.001));
  const double delta = (cut + test) / 2;
  destination[2].x += std::sqrt(delta / perMetre);

  ModelParameters params;
  std::vector<bool> used(12, true);
  ASSERT_TRUE(similarity->Fit(pairs, {used}, params, 0).usable);
  const RobustOutcome robust = RobustComponent(*similarity, 0, pairs, used, params);
  ASSERT_TRUE(robust.started);
  EXPECT_TRUE(robust.consensus);
  ASSERT_EQ(robust.removed.size(), 1u);
  EXPECT_EQ(robust.removed[0].pair, 7u);
  bool given = false;
  for (const RobustTest& back : robust.readmitted) {
    if (back.pair != 2) continue;
    given = true;
    EXPECT_NEAR(back.statistic, delta, kConverged * delta);
    EXPECT_NEAR(back.critical, test, 1e-9);
  }
  EXPECT_TRUE(given);
  EXPECT_EQ(used, std::vector<bool>({true, true, true, true, true, true, true, false, true, true,
                                     true, true}));
}

}  // namespace
}  // namespace Quorvane
