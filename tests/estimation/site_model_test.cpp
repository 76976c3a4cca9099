// The site model against least squares solved independently (QR of the linear problems), its
// per-component leave-one-out identities against real refits, a planted height blunder, and
// snooping by downdates against refitting after every removal.
#include <algorithm>
#include <cmath>
#include <random>

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include "estimation/blunder_removal.h"
#include "estimation/model.h"

namespace Quorvane {
namespace {

// Noise-free fits come within rounding of coordinates of 5 km; the solvers' paths differ.
constexpr double kClosedFormAgreement = 1e-6;  // metres, in the transformed points

const Model kSite{Model::Kind::Site, false, Model::Vertical::Plane};

// Pairs over 10 km with a horizontal similarity (scale 1 + 20 ppm, 6″), a height shift and a
// geoid tilt of 3 and -2 ppm; `horizontal` and `vertical` metres of noise; `blunder` metres added
// to the destination height of pair 5 (index 4).
void Network(int pairs, double horizontal, double vertical, double blunder, PointList& source,
             PointList& destination) {
  std::mt19937_64 random(19);
  std::uniform_real_distribution<double> plane(-5000, 5000), height(100, 300);
  std::normal_distribution<double> h(0, horizontal), v(0, vertical);
  const double s = 1.00002, c = std::cos(3e-5), sn = std::sin(3e-5);
  for (int i = 0; i < pairs; ++i) {
    const Point3 p{plane(random), plane(random), height(random)};
    source.push_back(p);
    destination.push_back({s * (c * (p.x + 152.3) - sn * (p.y - 88.1)) + h(random),
                           s * (sn * (p.x + 152.3) + c * (p.y - 88.1)) + h(random),
                           p.z - 36.7 + 3e-6 * p.y - 2e-6 * p.x + v(random)});
  }
  destination[4].z += blunder;
}

std::vector<std::vector<bool>> All(std::size_t pairs) {
  return {std::vector<bool>(pairs, true), std::vector<bool>(pairs, true)};
}

TEST(SiteModel, FitIsTheLeastSquaresOptimumOfBothParts) {
  PointList source, destination;
  Network(12, 0.02, 0.003, 0.0, source, destination);
  ModelParameters params;
  ASSERT_TRUE(FitModel(kSite, source, destination, All(12), params).usable);
  // The same problems, linear in (a, b, c, d) = (scale·cos, scale·sin, and the shift after the
  // turn) and in (tz, slopeNorth, slopeEast), solved by Householder QR.
  Eigen::MatrixXd A(24, 4), V(12, 3);
  Eigen::VectorXd b(24), d(12);
  for (int i = 0; i < 12; ++i) {
    const Point3& p = source[i];
    A.row(2 * i) << p.x, -p.y, 1, 0;
    A.row(2 * i + 1) << p.y, p.x, 0, 1;
    b.segment<2>(2 * i) << destination[i].x, destination[i].y;
    V.row(i) << 1, p.y, p.x;
    d[i] = destination[i].z - p.z;
  }
  const Eigen::Vector4d h = A.householderQr().solve(b);
  const Eigen::Vector3d z = V.householderQr().solve(d);
  for (int i = 0; i < 12; ++i) {
    const Point3 mine = ApplyModel(kSite, params, source[i]);
    EXPECT_NEAR(mine.x, h[0] * source[i].x - h[1] * source[i].y + h[2], kClosedFormAgreement);
    EXPECT_NEAR(mine.y, h[1] * source[i].x + h[0] * source[i].y + h[3], kClosedFormAgreement);
    EXPECT_NEAR(mine.z - source[i].z, z[0] + z[1] * source[i].y + z[2] * source[i].x,
                kClosedFormAgreement);
  }
  // The planted tilt comes back within the height noise over 10 km (0.3 ppm per 3 mm).
  EXPECT_NEAR(params.slopeNorth, 3e-6, 1e-6);
  EXPECT_NEAR(params.slopeEast, -2e-6, 1e-6);
}

TEST(SiteModel, LeavingAPairOutOfEachPartGivesWhatARefitGives) {
  PointList source, destination;
  Network(12, 0.02, 0.003, 0.05, source, destination);
  ModelParameters params;
  FitModel(kSite, source, destination, All(12), params);
  for (std::size_t c = 0; c < 2; ++c) {
    const FitStatistics stats =
        ComputeModelStatistics(kSite, c, source, destination, All(12)[c], params);
    std::vector<bool> rest(12, true);
    rest[4] = false;
    ModelParameters refit = params;
    FitOutcome outcome;
    ASSERT_TRUE(FitComponent(kSite, c, source, destination, rest, refit, outcome));
    const FitStatistics without = ComputeModelStatistics(kSite, c, source, destination, rest, refit);
    const PairTest& test = stats.tests[4];
    ASSERT_TRUE(test.testable) << "part " << c;
    // Both parts are linear problems: the identities are exact to rounding.
    EXPECT_NEAR(without.residuals[4].x, test.misclosure.x, 1e-9) << "part " << c;
    EXPECT_NEAR(without.residuals[4].y, test.misclosure.y, 1e-9) << "part " << c;
    EXPECT_NEAR(without.residuals[4].z, test.misclosure.z, 1e-9) << "part " << c;
    EXPECT_NEAR(without.sumOfSquares, stats.sumOfSquares - test.sumOfSquaresDrop, 1e-12)
        << "part " << c;
  }
}

TEST(SiteModel, HeightBlunderIsFlaggedVerticallyAndNothingWithoutIt) {
  for (const double blunder : {0.0, 0.05}) {
    PointList source, destination;
    Network(12, 0.02, 0.003, blunder, source, destination);
    ModelParameters params;
    FitModel(kSite, source, destination, All(12), params);
    for (std::size_t c = 0; c < 2; ++c) {
      const FitStatistics stats =
          ComputeModelStatistics(kSite, c, source, destination, All(12)[c], params);
      for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(stats.tests[i].suspect, blunder > 0 && c == 1 && i == 4)
            << "blunder " << blunder << ", part " << c << ", pair " << i;
      }
    }
  }
}

// On networks with blunders of many sizes, judging removals by downdates removes the same pairs
// in the same order as refitting after each one: the similarity (first order) and the site
// model's horizontal part (exact).
TEST(Snooping, DowndatesRemoveWhatRefitsRemove) {
  PointList source, destination;
  Network(400, 0.02, 0.003, 0.0, source, destination);
  for (std::size_t i = 7; i < 400; i += 31) destination[i].y += 0.3 + 0.01 * static_cast<double>(i);
  for (const Model& model : {Model{}, kSite}) {
    std::vector<std::size_t> order[2];
    std::vector<double> statistic[2];
    for (const std::size_t budget : {kSnoopRefitBudget, std::size_t{0}}) {
      ModelParameters params;
      FitOutcome outcome = FitModel(model, source, destination, All(400), params);
      std::vector<bool> used(400, true);
      FitStatistics stats = ComputeModelStatistics(model, 0, source, destination, used, params);
      SnoopedComponent snooped;
      snooped.layout = ComponentsOf(model)[0].layout;
      snooped.parameters = static_cast<int>(ComponentsOf(model)[0].parameters.size());
      snooped.linearise = [&](std::size_t i, PairLinearisation& out) {
        LineariseComponent(model, 0, params, source[i], destination[i], out);
      };
      snooped.refit = [&](const std::vector<bool>& mask) {
        return FitComponent(model, 0, source, destination, mask, params, outcome);
      };
      snooped.statistics = [&](const std::vector<bool>& mask) {
        return ComputeModelStatistics(model, 0, source, destination, mask, params);
      };
      snooped.refitBudget = budget;
      std::vector<BlunderRemoval> removals;
      SnoopComponent(snooped, 0, used, stats, removals);
      for (const BlunderRemoval& removal : removals) {
        order[budget == 0].push_back(removal.pair);
        statistic[budget == 0].push_back(removal.statistic);
      }
    }
    // The thirteen planted blunders at least (the similarity also takes out pairs that its one
    // scale for heights and its missing tilt leave off).
    EXPECT_GE(order[0].size(), 13u) << ModelName(model);
    EXPECT_EQ(order[1], order[0]) << ModelName(model);
    // The similarity's linearisation moves with each blunder's removal: first order is enough to
    // rank and to test, and its statistics agree to a part in a thousand.
    for (std::size_t k = 0; k < std::min(statistic[0].size(), statistic[1].size()); ++k) {
      EXPECT_NEAR(statistic[1][k], statistic[0][k], 1e-3 * statistic[0][k])
          << ModelName(model) << ", removal " << k + 1;
    }
  }
}

}  // namespace
}  // namespace Quorvane

namespace Quorvane {
namespace {

// Heights on a curved surface over 60 km (or on its tangent plane), 3 mm of noise: the quadric is
// the least-squares optimum of its six terms (QR of the design, kilometres for the squares), and
// auto takes the plane on the plane and the quadric on the curve.
TEST(SiteModel, QuadricIsItsOptimumAndAutoChoosesByPredictionError) {
  constexpr double kOptimum = 1e-6;  // metres, in the transformed heights
  for (const bool curved : {false, true}) {
    std::mt19937_64 random(28);
    std::uniform_real_distribution<double> plane(-30000, 30000);
    std::normal_distribution<double> noise(0, 0.003);
    PointList source, destination;
    for (int i = 0; i < 15; ++i) {
      const Point3 p{plane(random), plane(random), 200};
      const double n = p.y / 1000, e = p.x / 1000;
      const double bend = curved ? 0.05e-3 * n * n - 0.02e-3 * n * e + 0.03e-3 * e * e : 0.0;
      source.push_back(p);
      destination.push_back({p.x + 10, p.y - 5, p.z - 20 + 3e-6 * p.y + bend + noise(random)});
    }
    const std::vector<std::vector<bool>> all(2, std::vector<bool>(15, true));
    Model quadric{Model::Kind::Site, false, Model::Vertical::Quadric};
    ModelParameters params;
    ASSERT_TRUE(FitModel(quadric, source, destination, all, params).usable);
    Eigen::MatrixXd A(15, 6);
    Eigen::VectorXd d(15);
    for (int i = 0; i < 15; ++i) {
      const double n = source[i].y / 1000, e = source[i].x / 1000;
      A.row(i) << 1, n, e, n * n, n * e, e * e;
      d[i] = destination[i].z - source[i].z;
    }
    const Eigen::VectorXd x = A.colPivHouseholderQr().solve(d);
    for (int i = 0; i < 15; ++i) {
      EXPECT_NEAR(ApplyModel(quadric, params, source[i]).z - source[i].z, A.row(i).dot(x),
                  kOptimum);
    }
    Model automatic{Model::Kind::Site, false, Model::Vertical::Auto};
    const auto settled =
        MakeModel(automatic)->Settled(FramePairs{source, destination}, all);
    ASSERT_NE(settled, nullptr);
    EXPECT_EQ(settled->Components()[1].parameters.size(), curved ? 6u : 3u) << curved;
  }
}

}  // namespace
}  // namespace Quorvane
