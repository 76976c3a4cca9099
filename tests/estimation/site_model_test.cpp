// The site model against least squares solved independently (QR of the linear problems), a
// planted height blunder, and snooping by downdates against refitting after every removal (its
// leave-one-out identities are the models' contract test's).
#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include "estimation/blunder_removal.h"
#include "estimation/model.h"
#include "tests/estimation/networks.h"

namespace Quorvane {
namespace {

using QuorvaneTest::All;
using QuorvaneTest::Made;
using QuorvaneTest::PlaneNetwork;

// Noise-free fits come within rounding of coordinates of 5 km; the solvers' paths differ.
constexpr double kClosedFormAgreement = 1e-6;  // metres, in the transformed points

// The site network of 12 pairs (2 cm, 3 mm of noise) with `blunder` metres added to the
// destination height of pair 5 (index 4).
PlaneNetwork Site12(double blunder) {
  PlaneNetwork net(12, 0.02, 0.003);
  net.destination[4].z += blunder;
  return net;
}

// With equal weights and with each pair's own σ (the rows of the independent solve divided by it).
TEST(SiteModel, FitIsTheLeastSquaresOptimumOfBothParts) {
  const PlaneNetwork net = Site12(0.0);
  const PointList& source = net.source;
  const PointList& destination = net.destination;
  std::vector<Precision> precision;
  for (int i = 0; i < 12; ++i) precision.push_back({0.005 * (1 + i % 4), 0.002 * (1 + i % 3)});
  const auto site = Made("site");
  for (const bool weighted : {false, true}) {
    const std::vector<Precision>* sigma = weighted ? &precision : nullptr;
    FramePairs pairs = net.Pairs();
    pairs.precision = sigma;
    ModelParameters params;
    ASSERT_TRUE(site->Fit(pairs, All(12, 2), params, 0).usable);
    // The same problems, linear in (a, b, c, d) = (scale·cos, scale·sin, and the shift after the
    // turn) and in (tz, slopeNorth, slopeEast), solved by Householder QR.
    Eigen::MatrixXd A(24, 4), V(12, 3);
    Eigen::VectorXd b(24), d(12);
    for (int i = 0; i < 12; ++i) {
      const Point3& p = source[i];
      const double h = weighted ? 1 / precision[i].horizontal : 1;
      const double v = weighted ? 1 / precision[i].vertical : 1;
      A.row(2 * i) << h * p.x, -h * p.y, h, 0;
      A.row(2 * i + 1) << h * p.y, h * p.x, 0, h;
      b.segment<2>(2 * i) << h * destination[i].x, h * destination[i].y;
      V.row(i) << v, v * p.y, v * p.x;
      d[i] = v * (destination[i].z - p.z);
    }
    const Eigen::Vector4d h = A.householderQr().solve(b);
    const Eigen::Vector3d z = V.householderQr().solve(d);
    for (int i = 0; i < 12; ++i) {
      const Point3 mine = site->Apply(params, source[i]);
      EXPECT_NEAR(mine.x, h[0] * source[i].x - h[1] * source[i].y + h[2], kClosedFormAgreement);
      EXPECT_NEAR(mine.y, h[1] * source[i].x + h[0] * source[i].y + h[3], kClosedFormAgreement);
      EXPECT_NEAR(mine.z - source[i].z, z[0] + z[1] * source[i].y + z[2] * source[i].x,
                  kClosedFormAgreement);
    }
    // The planted tilt comes back within the height noise over 10 km (0.3 ppm per 3 mm).
    EXPECT_NEAR(params.values[5], 3e-6, 1e-6);   // slopeNorth
    EXPECT_NEAR(params.values[6], -2e-6, 1e-6);  // slopeEast
  }
}

TEST(SiteModel, HeightBlunderIsFlaggedVerticallyAndNothingWithoutIt) {
  const auto site = Made("site");
  for (const double blunder : {0.0, 0.05}) {
    const PlaneNetwork net = Site12(blunder);
    ModelParameters params;
    site->Fit(net.Pairs(), All(12, 2), params, 0);
    for (std::size_t c = 0; c < 2; ++c) {
      const FitStatistics stats =
          ComputeModelStatistics(*site, c, net.Pairs(), All(12)[0], params);
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
  PlaneNetwork net(400, 0.02, 0.003);
  for (std::size_t i = 7; i < 400; i += 31) {
    net.destination[i].y += 0.3 + 0.01 * static_cast<double>(i);
  }
  const FramePairs pairs = net.Pairs();
  for (const char* name : {"similarity", "site"}) {
    const auto model = Made(name);
    std::vector<std::size_t> order[2];
    std::vector<double> statistic[2];
    for (const std::size_t budget : {kSnoopRefitBudget, std::size_t{0}}) {
      ModelParameters params;
      FitOutcome outcome = model->Fit(pairs, All(400, model->Components().size()), params, 0);
      std::vector<bool> used(400, true);
      FitStatistics stats = ComputeModelStatistics(*model, 0, pairs, used, params);
      SnoopedComponent snooped;
      snooped.layout = model->Components()[0].layout;
      snooped.parameters = static_cast<int>(model->Components()[0].parameters.size());
      snooped.linearise = [&](std::size_t i, PairLinearisation& out) {
        model->Linearise(0, params, pairs, i, out);
      };
      snooped.refit = [&](const std::vector<bool>& mask) {
        return model->FitComponent(0, pairs, mask, params, outcome);
      };
      snooped.statistics = [&](const std::vector<bool>& mask) {
        return ComputeModelStatistics(*model, 0, pairs, mask, params);
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
    EXPECT_GE(order[0].size(), 13u) << name;
    EXPECT_EQ(order[1], order[0]) << name;
    // The similarity's linearisation moves with each blunder's removal: first order is enough to
    // rank and to test, and its statistics agree to a part in a thousand.
    for (std::size_t k = 0; k < std::min(statistic[0].size(), statistic[1].size()); ++k) {
      EXPECT_NEAR(statistic[1][k], statistic[0][k], 1e-3 * statistic[0][k])
          << name << ", removal " << k + 1;
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
    const std::vector<std::vector<bool>> all = All(15, 2);
    Model settings;
    settings.vertical = Model::Vertical::Quadric;
    const auto quadric = Made("site", settings);
    ModelParameters params;
    ASSERT_TRUE(quadric->Fit(FramePairs{source, destination}, all, params, 0).usable);
    Eigen::MatrixXd A(15, 6);
    Eigen::VectorXd d(15);
    for (int i = 0; i < 15; ++i) {
      const double n = source[i].y / 1000, e = source[i].x / 1000;
      A.row(i) << 1, n, e, n * n, n * e, e * e;
      d[i] = destination[i].z - source[i].z;
    }
    const Eigen::VectorXd x = A.colPivHouseholderQr().solve(d);
    for (int i = 0; i < 15; ++i) {
      EXPECT_NEAR(quadric->Apply(params, source[i]).z - source[i].z, A.row(i).dot(x), kOptimum);
    }
    settings.vertical = Model::Vertical::Auto;
    const auto settled = Made("site", settings)->Settled(FramePairs{source, destination}, all);
    ASSERT_NE(settled, nullptr);
    EXPECT_EQ(settled->Components()[1].parameters.size(), curved ? 6u : 3u) << curved;
  }
}

// Pair 8 (E0 + 1000, N0 + 2000) left out of the vertical part of a 3 × 4 grid: the heights' centroid
// keeps the easting of the horizontal one and moves 45.5 m south. Apply is the plane that QR of the
// vertically fitted pairs gives; the files' members, read by their documented formula, give the
// same heights; H0 is the vertical pairs' mean source height.
TEST(SiteModel, HeightsActAboutTheirOwnCentroidAsTheFilesSay) {
  PointList source, destination;
  for (int k = 0; k < 12; ++k) {
    const Point3 p{500000.0 + 1000 * (k % 3), 3800000.0 + 1000 * (k / 3), 100.0 + 7 * k};
    source.push_back(p);
    destination.push_back({p.x + 0.2, p.y - 0.1,
                           p.z - 36.7 + 3e-6 * (p.y - 3801500) + 1e-3 * (k % 4) - 1.5e-3});
  }
  std::vector<std::vector<bool>> used = All(12, 2);
  used[1][7] = false;
  const auto site = Made("site");
  ModelParameters params;
  ASSERT_TRUE(site->Fit(FramePairs{source, destination}, used, params, 0).usable);
  Eigen::MatrixXd V(11, 3);
  Eigen::VectorXd d(11), z(11);
  for (int i = 0, row = 0; i < 12; ++i) {
    if (!used[1][i]) continue;
    V.row(row) << 1, source[i].y, source[i].x;
    d[row] = destination[i].z - source[i].z, z[row++] = source[i].z;
  }
  const Eigen::Vector3d plane = V.householderQr().solve(d);
  EXPECT_NEAR(params.reference.z, z.mean(), kClosedFormAgreement);  // H0
  std::map<std::string, std::vector<double>> member;
  for (const ResultMember& m : site->ResultMembers(params)) member[m.name] = m.numbers;
  const std::vector<double>& about =
      member.count("heightReference") ? member["heightReference"] : member["reference"];
  const Point3 p{502500, 3797000, 50};  // outside the grid, where the 45.5 m tell
  const double filed = p.z + member["offset"][2] + member["slope"][0] * (p.y - about[1]) +
                       member["slope"][1] * (p.x - about[0]);
  EXPECT_NEAR(site->Apply(params, p).z, p.z + plane[0] + plane[1] * p.y + plane[2] * p.x,
              kClosedFormAgreement);
  EXPECT_NEAR(filed, site->Apply(params, p).z, kClosedFormAgreement);
}

// Points that do not fix the quadric's six terms: along one grid line, two lines crossing at their
// centroid, and a ring; across the lines they stray by the nanometres of a projection's rounding,
// which a column scaled to unit length takes for a direction of its own. Their heights lie on a
// plane, 3 mm of noise added: the fit says it is not determined and holds what the points do not
// fix at 0, so that near them it stays on that plane (across the line, its slope along it); auto
// takes a model the points determine.
TEST(SiteModel, QuadricOnPointsThatDoNotFixItStaysOnTheirPlane) {
  constexpr double kNearThePlane = 0.05;  // metres: the noise carried up to 2 km off the points
  const double e0 = 502000.13, n0 = 3801000.37, noise[8] = {3, -2, 1, -4, 2, 0, -1, 3};
  const auto rounding = [](int k) { return 1e-9 * (k % 3 - 1); };  // metres
  const auto plane = [&](double e, double n) { return -5 + 3e-6 * (n - n0) - 2e-6 * (e - e0); };
  struct Geometry {
    const char* name;
    std::vector<Point3> points;
    Point3 near;
  };
  std::vector<Geometry> rows = {{"line", {}, {e0 + 500, n0 + 2000, 100}},
                                {"cross", {}, {e0 + 300, n0 + 200, 100}},
                                {"ring", {}, {e0, n0, 100}}};
  for (int k = 0; k < 6; ++k) {
    rows[0].points.push_back({e0 - 2500 + 1000 * k, n0 + rounding(k), 100});
  }
  for (const int d : {-1000, -300, 300, 1000}) {
    rows[1].points.push_back({e0 + d, n0 + rounding(d), 100});
    rows[1].points.push_back({e0 + rounding(d + 1), n0 + d, 100});
  }
  for (int k = 0; k < 6; ++k) {
    rows[2].points.push_back({e0 + 1000 * std::cos(0.2 + k * M_PI / 3),
                              n0 + 1000 * std::sin(0.2 + k * M_PI / 3), 100});
  }
  for (const Geometry& row : rows) {
    PointList source = row.points, destination;
    for (std::size_t i = 0; i < source.size(); ++i) {
      const Point3& p = source[i];
      destination.push_back({p.x + 0.1, p.y, p.z + plane(p.x, p.y) + 1e-3 * noise[i]});
    }
    const FramePairs pairs{source, destination};
    const std::vector<std::vector<bool>> all = All(source.size(), 2);
    Model settings;
    settings.vertical = Model::Vertical::Quadric;
    const auto quadric = Made("site", settings);
    ModelParameters params;
    const FitOutcome outcome = quadric->Fit(pairs, all, params, 0);
    ASSERT_TRUE(outcome.usable) << row.name;
    EXPECT_FALSE(outcome.determined[1]) << row.name;
    EXPECT_NEAR(quadric->Apply(params, row.near).z, 100 + plane(row.near.x, row.near.y),
                kNearThePlane)
        << row.name;
    settings.vertical = Model::Vertical::Auto;
    const auto settled = Made("site", settings)->Settled(pairs, all);
    EXPECT_TRUE(settled->Fit(pairs, all, params, 0).determined[1]) << row.name;
  }
}

}  // namespace
}  // namespace Quorvane
