// The geocentric seven-parameter models against PROJ: a published EPSG transformation applied by
// libproj and fitted back, the optimum on a noisy network against Gauss-Newton iterations of
// the model's own formula, Molodensky–Badekas against Helmert and the coordinate-frame
// convention (the leave-one-out test against a real refit is the models' contract test's).
#include <proj.h>

#include <cmath>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include "estimation/model.h"
#include "tests/estimation/networks.h"

namespace Quorvane {
namespace {

using QuorvaneTest::All;
using QuorvaneTest::Epsg1314Step;
using QuorvaneTest::GeocentricNetwork;
using QuorvaneTest::kEpsg1314;
using QuorvaneTest::Made;

constexpr double kArcSecond = 3.141592653589793 / 648000;

// The seven as the model reports them in quorvane.json's offset, rotate and scale: tx, ty, tz (m),
// rx, ry, rz (arc seconds), s (ppm).
std::vector<double> Reported(const TransformModel& model, const ModelParameters& params) {
  const ContractFigures f = model.Figures(params);
  return {f.offset[0],
          f.offset[1],
          f.offset[2],
          f.rotate[0] / kArcSecond,
          f.rotate[1] / kArcSecond,
          f.rotate[2] / kArcSecond,
          (f.scale - 1) * 1e6};
}

// Points PROJ made from EPSG:1314 without noise come back to the published values, in either
// convention (the coordinate frame's rotations with the opposite sign) and about either point;
// the affine transformation fitted to them states the same shift, rotations and scale.
TEST(HelmertModel, FitsEpsg1314BackFromPointsInEitherConventionAndAboutEitherPoint) {
  constexpr double kShift = 1e-3;     // metres, as asked of a datum's published shift
  constexpr double kRotation = 1e-5;  // arc seconds
  constexpr double kScale = 1e-5;     // ppm
  struct Case {
    const char* model;
    Model::Convention convention;
    const char* name;
    double sign;
  };
  const Case cases[] = {
      {"helmert", Model::Convention::PositionVector, "position_vector", 1},
      {"helmert", Model::Convention::CoordinateFrame, "coordinate_frame", -1},
      {"molodensky-badekas", Model::Convention::PositionVector, "position_vector", 1},
      {"affine", Model::Convention::PositionVector, "position_vector", 1}};
  for (const Case& c : cases) {
    const GeocentricNetwork net(40, Epsg1314Step(c.name, c.sign), 0.0);
    Model choice;
    choice.convention = c.convention;
    const auto model = Made(c.model, choice);
    ModelParameters params;
    ASSERT_TRUE(model->Fit(net.Pairs(), All(40), params, 0).usable);
    // Molodensky–Badekas gives its seven about the centroid; its +towgs84 terms are Helmert's.
    std::vector<double> seven = Reported(*model, params);
    if (std::string(c.model) == "molodensky-badekas") {
      seven = model->RecordMembers(params)[1].numbers;
    }
    for (int k = 0; k < 7; ++k) {
      const double tolerance = k < 3 ? kShift : k < 6 ? kRotation : kScale;
      const double published = (k >= 3 && k < 6 ? c.sign : 1) * kEpsg1314[k];
      EXPECT_NEAR(seven[k], published, tolerance) << model->Name() << " " << c.name << " " << k;
    }
    if (FindModel(c.model)->Takes(kTakesConvention)) {
      EXPECT_NE(model->ProjSteps(params).find(std::string("+convention=") + c.name),
                std::string::npos);
    }
  }
}

// On a noisy network the fit is the least-squares optimum of X' = T + (1 + s)·R·X, which
// Gauss-Newton iterations of that formula in long double reach independently; Molodensky–Badekas
// leaves the same residuals, with its shift that of the centroid.
TEST(HelmertModel, NoisyNetworkIsTheOptimumOfItsFormulaAndMolodenskyBadekasLeavesTheSame) {
  constexpr double kOptimum = 1e-5;  // metres, in the transformed points
  const GeocentricNetwork net(25, Epsg1314Step(), 0.05);
  const PointList& source = net.source;
  const PointList& destination = net.destination;
  const auto helmert = Made("helmert");
  ModelParameters params;
  ASSERT_TRUE(helmert->Fit(net.Pairs(), All(25), params, 0).usable);

  using Real = long double;
  Eigen::Matrix<Real, 7, 1> x = Eigen::Matrix<Real, 7, 1>::Zero();  // T, Ω, s
  for (int iteration = 0; iteration < 8; ++iteration) {
    Eigen::Matrix<Real, Eigen::Dynamic, 7> J(75, 7);
    Eigen::Matrix<Real, Eigen::Dynamic, 1> r(75);
    for (int i = 0; i < 25; ++i) {
      const Eigen::Matrix<Real, 3, 1> p(source[i].x, source[i].y, source[i].z);
      const Eigen::Matrix<Real, 3, 1> omega = x.segment<3>(3);
      const Eigen::Matrix<Real, 3, 1> turned = p + omega.cross(p);
      r.segment<3>(3 * i) = x.head<3>() + (1 + x[6]) * turned -
                            Eigen::Matrix<Real, 3, 1>(destination[i].x, destination[i].y,
                                                      destination[i].z);
      J.block<3, 3>(3 * i, 0).setIdentity();
      Eigen::Matrix<Real, 3, 3> cross;
      cross << 0, p.z(), -p.y(), -p.z(), 0, p.x(), p.y(), -p.x(), 0;
      J.block<3, 3>(3 * i, 3) = (1 + x[6]) * cross;
      J.block<3, 1>(3 * i, 6) = turned;
    }
    x -= J.colPivHouseholderQr().solve(r);
  }
  const auto badekas = Made("molodensky-badekas");
  ModelParameters about;
  ASSERT_TRUE(badekas->Fit(net.Pairs(), All(25), about, 0).usable);
  for (int i = 0; i < 25; ++i) {
    const Eigen::Matrix<Real, 3, 1> p(source[i].x, source[i].y, source[i].z);
    const Eigen::Matrix<Real, 3, 1> theirs =
        x.head<3>() + (1 + x[6]) * (p + Eigen::Matrix<Real, 3, 1>(x.segment<3>(3)).cross(p));
    const Point3 mine = helmert->Apply(params, source[i]);
    const Point3 pivoted = badekas->Apply(about, source[i]);
    EXPECT_NEAR(mine.x, static_cast<double>(theirs.x()), kOptimum) << i;
    EXPECT_NEAR(mine.y, static_cast<double>(theirs.y()), kOptimum) << i;
    EXPECT_NEAR(mine.z, static_cast<double>(theirs.z()), kOptimum) << i;
    EXPECT_NEAR(pivoted.x, mine.x, 1e-6) << i;
    EXPECT_NEAR(pivoted.y, mine.y, 1e-6) << i;
    EXPECT_NEAR(pivoted.z, mine.z, 1e-6) << i;
  }
  // The pivot is the centroid of the source points (EPSG method 1061), and the shift is what it
  // moved by.
  const Eigen::Vector3d mean = [&] {
    Eigen::Vector3d sum = Eigen::Vector3d::Zero();
    for (const Point3& p : source) sum += Eigen::Vector3d(p.x, p.y, p.z);
    return Eigen::Vector3d(sum / 25);
  }();
  EXPECT_NEAR(about.reference.x, mean.x(), 1e-6);
  EXPECT_NEAR(about.reference.z, mean.z(), 1e-6);
  const Point3 centroid = badekas->Apply(about, about.reference);
  EXPECT_NEAR(about.values[0], centroid.x - about.reference.x, 1e-6);  // tx
  EXPECT_NEAR(about.values[2], centroid.z - about.reference.z, 1e-6);  // tz
}

// Two pairs fix every rotation but the one about their line: the fit meets both, says it is not
// determined, and holds that rotation at 0 (the minimum-norm rotation, at right angles to the
// line), so that beyond the line nothing turns about it.
TEST(HelmertModel, TwoPairsHoldTheRotationAboutTheirLine) {
  constexpr double kMet = 1e-6;   // metres: six equations of six free unknowns, solved exactly
  constexpr double kHeld = 1e-6;  // arc seconds: the rounding of rotations of some arc seconds
  const GeocentricNetwork net(2, Epsg1314Step(), 0.05);
  const auto helmert = Made("helmert");
  ModelParameters params;
  const FitOutcome outcome = helmert->Fit(net.Pairs(), All(2), params, 0);
  ASSERT_TRUE(outcome.usable);
  EXPECT_FALSE(outcome.determined[0]);
  for (int i = 0; i < 2; ++i) {
    const Point3 w = helmert->Apply(params, net.source[i]);
    EXPECT_NEAR(w.x, net.destination[i].x, kMet);
    EXPECT_NEAR(w.z, net.destination[i].z, kMet);
  }
  const Point3 &a = net.source[0], &b = net.source[1];
  const Eigen::Vector3d line = Eigen::Vector3d(b.x - a.x, b.y - a.y, b.z - a.z).normalized();
  const Eigen::Vector3d omega(params.values[3], params.values[4], params.values[5]);
  EXPECT_NEAR(omega.dot(line) / kArcSecond, 0.0, kHeld);
}

}  // namespace
}  // namespace Quorvane
