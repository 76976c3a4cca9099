// The geocentric seven-parameter models against PROJ: a published EPSG transformation applied by
// libproj and fitted back, the optimum on a noisy network against Gauss-Newton iterations of
// the model's own formula, Molodensky–Badekas against Helmert, the coordinate-frame convention,
// and the leave-one-out test of a pair against a real refit without it.
#include <proj.h>

#include <cmath>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include "estimation/model.h"

namespace Quorvane {
namespace {

constexpr double kArcSecond = 3.141592653589793 / 648000;

// EPSG:1314, OSGB36 to WGS 84 (6), position vector: metres, arc seconds, parts per million.
constexpr double kEpsg1314[7] = {446.448, -125.157, 542.060, 0.150, 0.247, 0.842, -20.489};

// OSGB36 points over about 300 km of Britain, heights 0 to 300 m, as geocentric X, Y, Z on Airy
// 1830, and their images under `transformation` (PROJ's helmert step, +convention as given) plus
// `noise` metres of normal noise in each coordinate.
void Network(int pairs, const std::string& transformation, double noise, PointList& source,
             PointList& destination) {
  PJ* cart = proj_create(PJ_DEFAULT_CTX, "+proj=cart +ellps=airy");
  PJ* helmert = proj_create(PJ_DEFAULT_CTX, transformation.c_str());
  ASSERT_NE(cart, nullptr);
  ASSERT_NE(helmert, nullptr);
  std::mt19937_64 random(1314);
  std::uniform_real_distribution<double> lon(-3.5, 0.5), lat(51.0, 53.7), height(0, 300);
  std::normal_distribution<double> error(0, noise);
  for (int i = 0; i < pairs; ++i) {
    const PJ_COORD xyz = proj_trans(
        cart, PJ_FWD, proj_coord(proj_torad(lon(random)), proj_torad(lat(random)), height(random), 0));
    const PJ_COORD image = proj_trans(helmert, PJ_FWD, xyz);
    source.push_back({xyz.xyz.x, xyz.xyz.y, xyz.xyz.z});
    destination.push_back({image.xyz.x + error(random), image.xyz.y + error(random),
                           image.xyz.z + error(random)});
  }
  proj_destroy(helmert);
  proj_destroy(cart);
}

std::string Epsg1314Step(const char* convention, double sign) {
  char text[300];
  std::snprintf(text, sizeof text,
                "+proj=helmert +x=%.3f +y=%.3f +z=%.3f +rx=%.3f +ry=%.3f +rz=%.3f +s=%.3f "
                "+convention=%s",
                kEpsg1314[0], kEpsg1314[1], kEpsg1314[2], sign * kEpsg1314[3],
                sign * kEpsg1314[4], sign * kEpsg1314[5], kEpsg1314[6], convention);
  return text;
}

std::vector<std::vector<bool>> All(std::size_t pairs) { return {std::vector<bool>(pairs, true)}; }

// The seven as the model reports them: tx, ty, tz (m), rx, ry, rz (arc seconds), s (ppm).
std::vector<double> Reported(const TransformModel& model, const ModelParameters& params) {
  std::vector<double> seven;
  for (const ParameterInfo& info : model.Parameters()) seven.push_back(info.value(params));
  for (int k = 3; k < 6; ++k) seven[k] /= kArcSecond;
  seven[6] = (seven[6] - 1) * 1e6;
  return seven;
}

// Points PROJ made from EPSG:1314 without noise come back to the published values, in either
// convention (the coordinate frame's rotations with the opposite sign) and about either point.
TEST(HelmertModel, FitsEpsg1314BackFromPointsInEitherConventionAndAboutEitherPoint) {
  constexpr double kShift = 1e-3;     // metres, as asked of a datum's published shift
  constexpr double kRotation = 1e-5;  // arc seconds
  constexpr double kScale = 1e-5;     // ppm
  struct Case {
    Model::Kind kind;
    Model::Convention convention;
    const char* name;
    double sign;
  };
  const Case cases[] = {
      {Model::Kind::Helmert, Model::Convention::PositionVector, "position_vector", 1},
      {Model::Kind::Helmert, Model::Convention::CoordinateFrame, "coordinate_frame", -1},
      {Model::Kind::MolodenskyBadekas, Model::Convention::PositionVector, "position_vector", 1}};
  for (const Case& c : cases) {
    PointList source, destination;
    Network(40, Epsg1314Step(c.name, c.sign), 0.0, source, destination);
    Model choice;
    choice.kind = c.kind;
    choice.convention = c.convention;
    const auto model = MakeModel(choice);
    ModelParameters params;
    ASSERT_TRUE(model->Fit(FramePairs{source, destination}, All(40), params, 0).usable);
    // Molodensky–Badekas gives its seven about the centroid; its +towgs84 terms are Helmert's.
    std::vector<double> seven = Reported(*model, params);
    if (c.kind == Model::Kind::MolodenskyBadekas) {
      seven = model->RecordMembers(params)[1].numbers;
    }
    for (int k = 0; k < 7; ++k) {
      const double tolerance = k < 3 ? kShift : k < 6 ? kRotation : kScale;
      const double published = (k >= 3 && k < 6 ? c.sign : 1) * kEpsg1314[k];
      EXPECT_NEAR(seven[k], published, tolerance) << model->Name() << " " << c.name << " " << k;
    }
    EXPECT_NE(model->ProjSteps(params).find(std::string("+convention=") + c.name),
              std::string::npos);
  }
}

// On a noisy network the fit is the least-squares optimum of X' = T + (1 + s)·R·X, which
// Gauss-Newton iterations of that formula in long double reach independently; Molodensky–Badekas
// leaves the same residuals, with its shift that of the centroid.
TEST(HelmertModel, NoisyNetworkIsTheOptimumOfItsFormulaAndMolodenskyBadekasLeavesTheSame) {
  constexpr double kOptimum = 1e-5;  // metres, in the transformed points
  PointList source, destination;
  Network(25, Epsg1314Step("position_vector", 1), 0.05, source, destination);
  Model helmert{Model::Kind::Helmert};
  ModelParameters params;
  ASSERT_TRUE(FitModel(helmert, source, destination, All(25), params).usable);

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
  Model badekas{Model::Kind::MolodenskyBadekas};
  ModelParameters about;
  ASSERT_TRUE(FitModel(badekas, source, destination, All(25), about).usable);
  for (int i = 0; i < 25; ++i) {
    const Eigen::Matrix<Real, 3, 1> p(source[i].x, source[i].y, source[i].z);
    const Eigen::Matrix<Real, 3, 1> theirs =
        x.head<3>() + (1 + x[6]) * (p + Eigen::Matrix<Real, 3, 1>(x.segment<3>(3)).cross(p));
    const Point3 mine = ApplyModel(helmert, params, source[i]);
    const Point3 pivoted = ApplyModel(badekas, about, source[i]);
    EXPECT_NEAR(mine.x, static_cast<double>(theirs.x()), kOptimum) << i;
    EXPECT_NEAR(mine.y, static_cast<double>(theirs.y()), kOptimum) << i;
    EXPECT_NEAR(mine.z, static_cast<double>(theirs.z()), kOptimum) << i;
    EXPECT_NEAR(pivoted.x, mine.x, 1e-6) << i;
    EXPECT_NEAR(pivoted.y, mine.y, 1e-6) << i;
    EXPECT_NEAR(pivoted.z, mine.z, 1e-6) << i;
  }
  // About the centroid the shift is what the centroid moved by.
  const Point3 centroid = ApplyModel(badekas, about, about.reference);
  EXPECT_NEAR(about.transform.tx, centroid.x - about.reference.x, 1e-6);
  EXPECT_NEAR(about.transform.tz, centroid.z - about.reference.z, 1e-6);
}

// The blunder test's misclosure of a pair and the sum of squares it takes off are those of a fit
// without it (the model is linear in T, 1 + s and (1 + s)·Ω, so to rounding).
TEST(HelmertModel, LeavingAPairOutGivesWhatARefitGives) {
  PointList source, destination;
  Network(12, Epsg1314Step("position_vector", 1), 0.02, source, destination);
  destination[4].z += 0.3;
  const Model helmert{Model::Kind::Helmert};
  ModelParameters params;
  FitModel(helmert, source, destination, All(12), params);
  const FitStatistics stats = ComputeModelStatistics(helmert, 0, source, destination, All(12)[0], params);
  std::vector<bool> rest(12, true);
  rest[4] = false;
  ModelParameters refit;
  FitModel(helmert, source, destination, {rest}, refit);
  const FitStatistics without = ComputeModelStatistics(helmert, 0, source, destination, rest, refit);
  const PairTest& test = stats.tests[4];
  ASSERT_TRUE(test.testable);
  EXPECT_TRUE(test.suspect);
  EXPECT_NEAR(without.residuals[4].x, test.misclosure.x, 1e-7);
  EXPECT_NEAR(without.residuals[4].y, test.misclosure.y, 1e-7);
  EXPECT_NEAR(without.residuals[4].z, test.misclosure.z, 1e-7);
  EXPECT_NEAR(without.sumOfSquares, stats.sumOfSquares - test.sumOfSquaresDrop, 1e-9);
  EXPECT_EQ(stats.redundancy, 3 * 12 - 7);
}

}  // namespace
}  // namespace Quorvane
