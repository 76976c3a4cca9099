// The point-pair residual, by value and through the automatic derivatives Ceres evaluates.
#include "estimation/register_point2point_error.h"

#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include <ceres/jet.h>
#include <gtest/gtest.h>
#include <Eigen/Core>

namespace Quorvane {
namespace {

constexpr double kPi = 3.141592653589793;
// Residuals are a few products of numbers of order 10 with cos/sin of pi/2 (6e-17, not 0).
constexpr double kRoundOff = 1e-12;

struct Params {
  double tx = 0, ty = 0, tz = 0, rx = 0, ry = 0, rz = 0, scale = 1;
};

struct Residual {
  double x, y, z;
};

Residual Evaluate(const RegisterPoint2PointError& f, const Params& p) {
  Residual r{};
  double out[3];
  EXPECT_TRUE(f(&p.tx, &p.ty, &p.tz, &p.rx, &p.ry, &p.rz, &p.scale, out));
  r.x = out[0];
  r.y = out[1];
  r.z = out[2];
  return r;
}

void ExpectResidual(const Residual& r, double x, double y, double z) {
  EXPECT_NEAR(r.x, x, kRoundOff);
  EXPECT_NEAR(r.y, y, kRoundOff);
  EXPECT_NEAR(r.z, z, kRoundOff);
}

TEST(ResidualValue, AtStartValuesIsSourceMinusDestination) {
  ExpectResidual(Evaluate({1, 2, 3, 0, 0, 0}, {}), 1, 2, 3);
  ExpectResidual(Evaluate({1, 2, 3, 1, 2, 3}, {}), 0, 0, 0);
  ExpectResidual(Evaluate({1, 2, 3, 4, 6, 8}, {}), -3, -4, -5);
}

TEST(ResidualValue, TranslatesThenRotatesThenScales) {
  Params p;
  p.tx = 1;
  p.tz = -1;
  p.rz = kPi / 2;
  p.scale = 2;
  // (1,2,3) + (1,0,-1) = (2,2,2); turned by 90 degrees: (-2,2,2); doubled: (-4,4,4). Scaling and
  // rotating before the translation would give (-3,2,5).
  ExpectResidual(Evaluate({1, 2, 3, 0, 0, 0}, p), -4, 4, 4);
}

TEST(ResidualValue, QuarterTurnMapsXYToMinusYX) {
  Params p;
  p.rz = kPi / 2;
  ExpectResidual(Evaluate({10, 20, 5, 0, 0, 0}, p), -20, 10, 5);
}

TEST(ResidualValue, ZeroScaleLeavesMinusDestination) {
  Params p{7, -8, 9, 0.3, 0.4, 1.1, 0};
  ExpectResidual(Evaluate({1, 2, 3, 4, 5, 6}, p), -4, -5, -6);
}

TEST(ResidualValue, RxAndRyHaveNoEffect) {
  const RegisterPoint2PointError f(1200.5, -340.25, 88.0, 1180.0, -300.0, 90.0);
  Params base{12, -3, 0.5, 0, 0, 0.01, 1.0001};
  Params tilted = base;
  tilted.rx = 0.7;
  tilted.ry = -2.5;
  const Residual a = Evaluate(f, base);
  const Residual b = Evaluate(f, tilted);
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.y, b.y);
  EXPECT_EQ(a.z, b.z);
}

TEST(ResidualValue, MatchesTheWrittenOutFormula) {
  const double src[3] = {2500.125, -1800.5, 640.0};
  const double des[3] = {2391.0, -1702.25, 655.5};
  const Params p{-90.5, 85.25, 14.0, 0, 0, 0.0123, 0.99987};
  const double u = src[0] + p.tx, v = src[1] + p.ty, w = src[2] + p.tz;
  const Residual r = Evaluate({src[0], src[1], src[2], des[0], des[1], des[2]}, p);
  constexpr double kNanometre = 1e-9;  // matrix route vs formula, coordinates of a few km
  EXPECT_NEAR(r.x, p.scale * (std::cos(p.rz) * u - std::sin(p.rz) * v) - des[0], kNanometre);
  EXPECT_NEAR(r.y, p.scale * (std::sin(p.rz) * u + std::cos(p.rz) * v) - des[1], kNanometre);
  EXPECT_NEAR(r.z, p.scale * w - des[2], kNanometre);
}

// The residual evaluated the reference way: the three 4×4 matrices T, Rz and S in full, then
// ((S·Rz)·T)·(src, 1). The functor's result must be these numbers exactly.
using Jet7 = ceres::Jet<double, 7>;

template <typename Scalar>
void ByFullProduct(const double (&obs)[6], const Scalar (&p)[7], Scalar (&residual)[3]) {
  using std::cos;
  using std::sin;
  using Matrix4 = Eigen::Matrix<Scalar, 4, 4>;
  const Scalar o(0.0), l(1.0), c = cos(p[5]), s = sin(p[5]);
  Matrix4 t, r, k;
  t << l, o, o, p[0], o, l, o, p[1], o, o, l, p[2], o, o, o, l;
  r << c, -s, o, o, s, c, o, o, o, o, l, o, o, o, o, l;
  k << p[6], o, o, o, o, p[6], o, o, o, o, p[6], o, o, o, o, l;
  const Matrix4 m = (k * r) * t;
  const Eigen::Matrix<Scalar, 4, 1> q = m * Eigen::Vector4d(obs[0], obs[1], obs[2], 1.0);
  for (int i = 0; i < 3; ++i) residual[i] = q[i] - obs[3 + i];
}

template <typename Scalar>
void ByFunctor(const double (&obs)[6], const Scalar (&p)[7], Scalar (&residual)[3]) {
  const RegisterPoint2PointError f(obs[0], obs[1], obs[2], obs[3], obs[4], obs[5]);
  ASSERT_TRUE(f(&p[0], &p[1], &p[2], &p[3], &p[4], &p[5], &p[6], residual));
}

// Equal numbers, or both NaN; the sign of a zero is not compared (nothing downstream divides by a
// residual or a derivative, so it cannot reach a result).
::testing::AssertionResult Same(double a, double b) {
  if (a == b || (std::isnan(a) && std::isnan(b))) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << a << " vs " << b;
}
::testing::AssertionResult Same(const Jet7& a, const Jet7& b) {
  if (!Same(a.a, b.a)) return Same(a.a, b.a) << " (value)";
  for (int k = 0; k < 7; ++k) {
    if (!Same(a.v[k], b.v[k])) return Same(a.v[k], b.v[k]) << " (derivative " << k << ")";
  }
  return ::testing::AssertionSuccess();
}

template <typename Scalar>
void ExpectSameAsFullProduct(const double (&obs)[6], const Scalar (&p)[7]) {
  Scalar expected[3], actual[3];
  ByFullProduct(obs, p, expected);
  ByFunctor(obs, p, actual);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Same(actual[i], expected[i])) << "residual " << i;
}

TEST(ResidualExactness, FiniteValuesGiveTheFullProductBitForBit) {
  std::mt19937_64 random(20261208);  // fixed seed: the same draws on every run
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-60, 60);
  // Numbers from 1e-18 to 1e18 in magnitude, with exact zeros and ones among them.
  const auto draw = [&] {
    const int kind = exponent(random);
    if (kind < -55) return 0.0;
    if (kind > 55) return 1.0;
    return std::ldexp(unit(random), exponent(random));
  };
  for (int n = 0; n < 20000; ++n) {
    double obs[6];
    for (double& x : obs) x = draw();
    double values[7];
    Jet7 jets[7];
    for (int k = 0; k < 7; ++k) {
      values[k] = draw();
      jets[k] = Jet7(values[k], k);  // the seeds Ceres uses
      if (n % 2 == 1) {
        for (int j = 0; j < 7; ++j) jets[k].v[j] = draw();  // and arbitrary ones
      }
    }
    ExpectSameAsFullProduct(obs, values);
    ExpectSameAsFullProduct(obs, jets);
    if (HasFailure()) FAIL() << "draw " << n;
  }
}

TEST(ResidualExactness, NonFiniteValuesGiveTheFullProductsResult) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    double obs[6];
    double p[7];
  };
  // The full product multiplies tz by zeros in the first two rows, so an infinite tz makes every
  // residual NaN or infinite there, although the written-out formula leaves the first two finite.
  const Case cases[] = {
      {"infinite tz", {1, 2, 3, 4, 5, 6}, {0.5, -0.5, kInf, 0, 0, 0.1, 2}},
      {"infinite tx", {1, 2, 3, 4, 5, 6}, {kInf, 0, 0, 0, 0, 0.1, 2}},
      {"infinite scale", {1, 2, 3, 4, 5, 6}, {0, 0, 0, 0, 0, 0, kInf}},
      {"NaN rz", {1, 2, 3, 4, 5, 6}, {0, 0, 0, 0, 0, kNaN, 1}},
      {"infinite source height", {1, 2, kInf, 4, 5, 6}, {0, 0, 0, 0, 0, 0, 1}},
      {"NaN source easting", {kNaN, 2, 3, 4, 5, 6}, {0, 0, 0, 0, 0, 0, 1}},
      {"overflowing product", {1e300, 2, 3, 4, 5, 6}, {1e300, 0, 0, 0, 0, 0, 1e10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectSameAsFullProduct(c.obs, c.p);
    Jet7 jets[7];
    for (int k = 0; k < 7; ++k) jets[k] = Jet7(c.p[k], k);
    ExpectSameAsFullProduct(c.obs, jets);
  }
  // An infinite derivative seed alone, with finite values.
  const double obs[6] = {1, 2, 3, 4, 5, 6};
  Jet7 jets[7];
  for (int k = 0; k < 7; ++k) jets[k] = Jet7(k == 6 ? 1.0 : 0.0, k);
  jets[2].v[4] = kInf;
  ExpectSameAsFullProduct(obs, jets);
}

// Jacobians through the cost function Ceres builds, as the solver sees them.
TEST(ResidualJacobian, AtStartValues) {
  const double src[3] = {3.5, -7.25, 12.0};
  std::unique_ptr<ceres::CostFunction> cost(
      RegisterPoint2PointError::Create(src[0], src[1], src[2], 1, 2, 3));
  ASSERT_EQ(cost->num_residuals(), 3);
  ASSERT_EQ(cost->parameter_block_sizes().size(), 7u);

  const double values[7] = {0, 0, 0, 0, 0, 0, 1};
  const double* parameters[7];
  for (int k = 0; k < 7; ++k) parameters[k] = &values[k];
  double residuals[3];
  double jacobianStorage[7][3];
  double* jacobians[7];
  for (int k = 0; k < 7; ++k) jacobians[k] = jacobianStorage[k];
  ASSERT_TRUE(cost->Evaluate(parameters, residuals, jacobians));

  EXPECT_DOUBLE_EQ(residuals[0], src[0] - 1);
  EXPECT_DOUBLE_EQ(residuals[1], src[1] - 2);
  EXPECT_DOUBLE_EQ(residuals[2], src[2] - 3);

  // Columns d(residual)/d(block): tx, ty, tz unit vectors; rx, ry zero; rz (-srcY, srcX, 0);
  // scale (srcX, srcY, srcZ).
  const double expected[7][3] = {{1, 0, 0},        {0, 1, 0},         {0, 0, 1},
                                 {0, 0, 0},        {0, 0, 0},         {-src[1], src[0], 0},
                                 {src[0], src[1], src[2]}};
  for (int k = 0; k < 7; ++k) {
    for (int row = 0; row < 3; ++row) {
      EXPECT_NEAR(jacobianStorage[k][row], expected[k][row], kRoundOff)
          << "block " << k << ", row " << row;
    }
  }
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(jacobianStorage[3][row], 0.0);
    EXPECT_EQ(jacobianStorage[4][row], 0.0);
  }
}

TEST(ResidualJacobian, AwayFromStartMatchesAnalyticDerivatives) {
  const double src[3] = {1500.0, 2200.0, 350.0};
  std::unique_ptr<ceres::CostFunction> cost(
      RegisterPoint2PointError::Create(src[0], src[1], src[2], 0, 0, 0));
  const double values[7] = {10.0, -20.0, 5.0, 0.2, -0.3, 0.05, 1.0002};
  const double* parameters[7];
  for (int k = 0; k < 7; ++k) parameters[k] = &values[k];
  double residuals[3];
  double j[7][3];
  double* jacobians[7];
  for (int k = 0; k < 7; ++k) jacobians[k] = j[k];
  ASSERT_TRUE(cost->Evaluate(parameters, residuals, jacobians));

  const double s = values[6], c = std::cos(values[5]), n = std::sin(values[5]);
  const double u = src[0] + values[0], v = src[1] + values[1], w = src[2] + values[2];
  const double expected[7][3] = {{s * c, s * n, 0},
                                 {-s * n, s * c, 0},
                                 {0, 0, s},
                                 {0, 0, 0},
                                 {0, 0, 0},
                                 {s * (-n * u - c * v), s * (c * u - n * v), 0},
                                 {c * u - n * v, n * u + c * v, w}};
  constexpr double kRelative = 1e-12;  // autodiff is exact up to rounding
  for (int k = 0; k < 7; ++k) {
    for (int row = 0; row < 3; ++row) {
      EXPECT_NEAR(j[k][row], expected[k][row], kRelative * (1 + std::abs(expected[k][row])))
          << "block " << k << ", row " << row;
    }
  }
}

}  // namespace
}  // namespace Quorvane
