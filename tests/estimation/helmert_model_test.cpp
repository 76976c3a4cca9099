// The geocentric seven-parameter models against PROJ: a published EPSG transformation applied by
// libproj and fitted back, the optimum on a noisy network against Gauss-Newton iterations of
// the model's own formula, Molodensky–Badekas against Helmert and the coordinate-frame
// convention (the leave-one-out test against a real refit is the models' contract test's); with
// rates, published time-dependent sets fitted back from points libproj made at their epochs, and
// the optimum of the fourteen-parameter formula on a noisy network.
#include <proj.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include "estimation/model.h"
#include "estimation/variance_components.h"
#include "tests/estimation/networks.h"
#include "tests/support/published_terms.h"

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

// 40 stations over a box of longitudes and latitudes, each at 1 to 3 epochs in 2011 to 2025, as
// geocentric X, Y, Z on GRS 80 and their images under `step` at the epoch (libproj), plus normal
// noise in east, north and up (metres).
struct KinematicNetwork {
  PointList source, destination;
  std::vector<LocalAxes> axes;
  std::vector<double> epochs;

  KinematicNetwork(const std::string& step, const double box[4], const double noise[3]) {
    PJ* cart = proj_create(PJ_DEFAULT_CTX, "+proj=cart +ellps=GRS80");
    PJ* helmert = proj_create(PJ_DEFAULT_CTX, step.c_str());
    EXPECT_NE(helmert, nullptr) << step;
    std::mt19937_64 random(8970);
    std::uniform_real_distribution<double> lon(box[0], box[1]), lat(box[2], box[3]),
        height(0, 2000), year(2011, 2025);
    std::uniform_int_distribution<int> visits(1, 3);
    std::normal_distribution<double> error(0, 1);
    for (int k = 0; k < 40 && helmert != nullptr; ++k) {
      const double lambda = proj_torad(lon(random)), phi = proj_torad(lat(random));
      const PJ_COORD xyz = proj_trans(cart, PJ_FWD, proj_coord(lambda, phi, height(random), 0));
      const Eigen::Vector3d east(-std::sin(lambda), std::cos(lambda), 0),
          north(-std::sin(phi) * std::cos(lambda), -std::sin(phi) * std::sin(lambda),
                std::cos(phi)),
          up(std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi));
      for (int v = visits(random); v > 0; --v) {
        const double t = year(random);
        const PJ_COORD image =
            proj_trans(helmert, PJ_FWD, proj_coord(xyz.xyz.x, xyz.xyz.y, xyz.xyz.z, t));
        const Eigen::Vector3d moved = Eigen::Vector3d(image.xyz.x, image.xyz.y, image.xyz.z) +
                                      noise[0] * error(random) * east +
                                      noise[1] * error(random) * north +
                                      noise[2] * error(random) * up;
        source.push_back({xyz.xyz.x, xyz.xyz.y, xyz.xyz.z});
        destination.push_back({moved.x(), moved.y(), moved.z()});
        epochs.push_back(t);
        LocalAxes local;
        for (int i = 0; i < 3; ++i) {
          local.east[i] = east[i], local.north[i] = north[i], local.up[i] = up[i];
        }
        axes.push_back(local);
      }
    }
    proj_destroy(helmert);
    proj_destroy(cart);
  }
  FramePairs Pairs() const { return {source, destination, &axes, nullptr, &epochs}; }
};

constexpr double kUnitedStates[4] = {-124, -70, 26, 48};
constexpr double kEurope[4] = {-9, 28, 36, 70};

// Points libproj made at their epochs from ITRF2014 to NAD83(2011) (EPSG:8970, coordinate frame)
// and ITRF2014 to ETRF2014 (EPSG:8366, position vector, rotation rates only) come back to the
// fourteen published values at the published epoch.
TEST(HelmertWithRates, FitsPublishedTimeDependentSetsBack) {
  constexpr double kShift = 1e-5;           // m and m/yr: 0.01 mm
  constexpr double kRotation = 1e-7;        // arc seconds and arc seconds a year: 1e-4 mas
  constexpr double kScale = 1e-4;           // ppb and ppb a year
  constexpr double kNoNoise[3] = {0, 0, 0};
  const std::pair<const char*, const double*> cases[] = {{"8970", kUnitedStates},
                                                         {"8366", kEurope}};
  const char* const terms[14] = {"x",  "y",  "z",  "rx",  "ry",  "rz",  "s",
                                 "dx", "dy", "dz", "drx", "dry", "drz", "ds"};
  for (const auto& [code, box] : cases) {
    std::map<std::string, std::string> published = QuorvaneTest::PublishedTerms(code);
    EXPECT_FALSE(published.empty()) << code;
    std::string step = "+proj=helmert";
    for (const auto& [name, value] : published) {
      if (name != "proj") step += " +" + name + "=" + value;
    }
    const KinematicNetwork net(step, box, kNoNoise);
    Model settings;
    settings.rates = true;
    settings.referenceEpoch = std::stod(published["t_epoch"]);
    settings.convention = published["convention"] == "coordinate_frame"
                              ? Model::Convention::CoordinateFrame
                              : Model::Convention::PositionVector;
    const auto model = Made("helmert", settings);
    ModelParameters params;
    ASSERT_TRUE(model->Fit(net.Pairs(), All(net.source.size()), params, 0).usable);
    for (int k = 0; k < 14; ++k) {
      const int kind = k % 7;
      const double value = kind < 3   ? params.values[k]
                           : kind < 6 ? params.values[k] / kArcSecond
                                      : (params.values[k] - (k == 6 ? 1 : 0)) * 1e9;
      const double expected = std::stod(published[terms[k]]) * (kind == 6 ? 1e3 : 1);
      EXPECT_NEAR(value, expected, kind < 3 ? kShift : kind < 6 ? kRotation : kScale)
          << "EPSG:" << code << " " << terms[k];
    }
  }
}

using Real = long double;
using RealVector = Eigen::Matrix<Real, 3, 1>;
using Fourteen = Eigen::Matrix<Real, 14, 1>;

// The least-squares optimum of X' = T(t) + (1 + s(t))·R(t)·X over `net` (position vector,
// about t0), by Gauss-Newton iterations of that formula in long double, each pair's residual
// in its east, north and up divided by sigmaH, sigmaH, sigmaV; with the sums Helmert's variance
// components take: the whitened squares and the redundancy numbers (hat matrix) of the
// horizontal [0] and vertical [1] rows.
struct Optimum {
  Fourteen x = Fourteen::Zero();  // T, Ω, s, their rates
  Real squares[2] = {0, 0}, redundancy[2] = {0, 0};
};
RealVector ImageOf(const KinematicNetwork& net, double t0, int i, const Fourteen& p) {
  const Real tau = net.epochs[i] - t0;
  const Eigen::Matrix<Real, 7, 1> at = p.head<7>() + tau * p.tail<7>();
  const RealVector q(net.source[i].x, net.source[i].y, net.source[i].z);
  return at.head<3>() + (1 + at[6]) * (q + RealVector(at.segment<3>(3)).cross(q));
}
Optimum IndependentOptimum(const KinematicNetwork& net, double t0, Real sigmaH, Real sigmaV) {
  const int m = static_cast<int>(net.source.size());
  Optimum o;
  Eigen::Matrix<Real, Eigen::Dynamic, 14> J(3 * m, 14);
  Eigen::Matrix<Real, Eigen::Dynamic, 1> r(3 * m);
  for (int iteration = 0; iteration < 8; ++iteration) {
    for (int i = 0; i < m; ++i) {
      const Real tau = net.epochs[i] - t0;
      const RealVector q(net.source[i].x, net.source[i].y, net.source[i].z);
      const Fourteen& x = o.x;
      Eigen::Matrix<Real, 3, 3> whiten;
      for (int k = 0; k < 3; ++k) {
        whiten(0, k) = net.axes[i].east[k] / sigmaH;
        whiten(1, k) = net.axes[i].north[k] / sigmaH;
        whiten(2, k) = net.axes[i].up[k] / sigmaV;
      }
      r.segment<3>(3 * i) = whiten * (ImageOf(net, t0, i, x) - RealVector(net.destination[i].x,
                                                                          net.destination[i].y,
                                                                          net.destination[i].z));
      Eigen::Matrix<Real, 3, 7> columns;
      columns.leftCols<3>().setIdentity();
      columns.block<3, 3>(0, 3) << 0, q.z(), -q.y(), -q.z(), 0, q.x(), q.y(), -q.x(), 0;
      columns.block<3, 3>(0, 3) *= 1 + x[6] + tau * x[13];
      columns.col(6) = q + RealVector(x.segment<3>(3) + tau * x.segment<3>(10)).cross(q);
      J.block<3, 7>(3 * i, 0) = whiten * columns;
      J.block<3, 7>(3 * i, 7) = tau * whiten * columns;
    }
    if (iteration < 7) o.x -= J.colPivHouseholderQr().solve(r);
  }
  const Eigen::Matrix<Real, 14, 14> inverse = (J.transpose() * J).inverse();
  for (int j = 0; j < 3 * m; ++j) {
    o.squares[j % 3 == 2] += r[j] * r[j];
    o.redundancy[j % 3 == 2] += 1 - J.row(j) * inverse * J.row(j).transpose();
  }
  return o;
}

// On a noisy network the fit with rates is the least-squares optimum of its formula.
TEST(HelmertWithRates, NoisyNetworkIsTheOptimumOfItsFormula) {
  constexpr double kOptimum = 1e-6;  // metres, in the transformed points
  constexpr double kNoise[3] = {0.005, 0.005, 0.010};
  const KinematicNetwork net(
      "+proj=helmert +x=0.5 +y=-0.3 +z=0.2 +rx=0.01 +ry=-0.02 +rz=0.03 +s=0.01 +dx=0.001 "
      "+dy=0.002 +dz=-0.003 +drx=0.0001 +dry=0.0005 +drz=-0.0008 +ds=0.0002 +t_epoch=2015 "
      "+convention=position_vector",
      kEurope, kNoise);
  Model settings;
  settings.rates = true;
  const auto model = Made("helmert", settings);
  ModelParameters params;
  ASSERT_TRUE(model->Fit(net.Pairs(), All(net.source.size()), params, 0).usable);
  const Optimum theirs = IndependentOptimum(net, params.referenceEpoch, 1, 1);
  for (int i = 0; i < static_cast<int>(net.source.size()); ++i) {
    const RealVector image = ImageOf(net, params.referenceEpoch, i, theirs.x);
    const Point3 mine = model->Apply(params, net.source[i], net.epochs[i]);
    EXPECT_NEAR(mine.x, static_cast<double>(image.x()), kOptimum) << i;
    EXPECT_NEAR(mine.y, static_cast<double>(image.y()), kOptimum) << i;
    EXPECT_NEAR(mine.z, static_cast<double>(image.z()), kOptimum) << i;
  }

  // Helmert's variance components: the σ given are Ω_k / r_k of the weighted optimum at the
  // weights the estimate ends with, and that ratio is the fixed point of the iteration to
  // within the tenth of its standard error at which the estimate stops.
  constexpr double kSums = 1e-7;  // relative: rounding of sums over 240 rows
  std::vector<std::vector<bool>> used = {All(net.source.size())};
  FitOutcome outcome = model->Fit(net.Pairs(), used, params, 0);
  const VarianceComponents components =
      EstimateVarianceComponents(*model, net.Pairs(), used, params, outcome);
  ASSERT_TRUE(components.estimated);
  const Precision w = components.weights[0];
  const Optimum at = IndependentOptimum(net, params.referenceEpoch, w.horizontal, w.vertical);
  const double sigma[2] = {w.horizontal * std::sqrt(double(at.squares[0] / at.redundancy[0])),
                           w.vertical * std::sqrt(double(at.squares[1] / at.redundancy[1]))};
  EXPECT_NEAR(components.horizontal / sigma[0], 1, kSums);
  EXPECT_NEAR(components.vertical / sigma[1], 1, kSums);
  const Point3 mine = model->Apply(params, net.source[0], net.epochs[0]);
  EXPECT_NEAR(mine.z, double(ImageOf(net, params.referenceEpoch, 0, at.x).z()), kOptimum);
  Real ratio = sigma[0] / sigma[1];
  Optimum fixed = at;
  for (int round = 0; round < 10; ++round) {
    fixed = IndependentOptimum(net, params.referenceEpoch, ratio, 1);
    ratio *= std::sqrt(fixed.squares[0] / fixed.redundancy[0] /
                       (fixed.squares[1] / fixed.redundancy[1]));
  }
  const double spread = std::sqrt(double(0.5 / fixed.redundancy[0] + 0.5 / fixed.redundancy[1]));
  EXPECT_NEAR(components.horizontal / components.vertical / double(ratio), 1, 0.1 * spread);
}

}  // namespace
}  // namespace Quorvane
