// The ellipsoid table, the projection surface and GeoConverter::Convert and ConvertBack end to
// end.
#include "geodesy/geo_converter.h"

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/point_printing.h"

namespace Quorvane {
namespace {

// a and f of the ellipsoid table; each f is the listed double for 1.0 / (inverse flattening).
constexpr Ellipsoid kCgcs2000{6378137.0, 0.003352810681182319};
constexpr Ellipsoid kXian80{6378140.0, 0.0033528131778969143};
constexpr Ellipsoid kBj54{6378245.0, 0.003352329869259135};
constexpr Ellipsoid kWgs84{6378137.0, 0.0033528106647474805};

constexpr double kHalfMillimetre = 0.5e-3;  // metres; the figures are rounded to the mm
constexpr double kHalfMicrometre = 0.5e-6;  // metres; the ±100 m enlargement is given to the µm
// The enlarged a is given to 1e-9 m, about one unit in the last place of a double near 6.4e6 m.
constexpr double kNanometre = 1e-9;  // metres
// GaussProjector::Inverse undoes Forward to 8.8e-10° within 3° of the central meridian.
constexpr double kRoundTrip = 1e-9;  // degrees

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct NameCase {
  std::string name;  // test name
  std::string ellipsoidName;
  Ellipsoid expected;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class EllipsoidTable : public ::testing::TestWithParam<NameCase> {};

TEST_P(EllipsoidTable, SelectsExactValues) {
  const NameCase& c = GetParam();
  const Ellipsoid e = EllipsoidByName(c.ellipsoidName);
  EXPECT_EQ(e.a, c.expected.a);
  EXPECT_EQ(e.f, c.expected.f);
}

INSTANTIATE_TEST_SUITE_P(ListedNames, EllipsoidTable,
                         ::testing::Values(NameCase{"CGCS2000", "CGCS2000", kCgcs2000},
                                           NameCase{"cgcs2000", "cgcs2000", kCgcs2000},
                                           NameCase{"XIAN80", "XIAN80", kXian80},
                                           NameCase{"BJ54", "BJ54", kBj54},
                                           NameCase{"wgs84", "wgs84", kWgs84},
                                           NameCase{"WGS84", "WGS84", kWgs84}),
                         QuorvaneTest::CaseName());

// Byte-for-byte over the whole length: other cases, padding, a trailing NUL and the empty name
// fall back to WGS 84.
INSTANTIATE_TEST_SUITE_P(
    OtherNamesGiveWgs84, EllipsoidTable,
    ::testing::Values(NameCase{"Cgcs2000", "Cgcs2000", kWgs84},
                      NameCase{"xian80", "xian80", kWgs84}, NameCase{"Xian80", "Xian80", kWgs84},
                      NameCase{"bj54", "bj54", kWgs84}, NameCase{"Wgs84", "Wgs84", kWgs84},
                      NameCase{"BJ54TrailingSpace", "BJ54 ", kWgs84},
                      NameCase{"BJ54LeadingSpace", " BJ54", kWgs84},
                      NameCase{"BJ54TrailingNul", std::string("BJ54\0", 5), kWgs84},
                      NameCase{"Empty", "", kWgs84}),
    QuorvaneTest::CaseName());

TEST(ProjectionSurface, HundredMetresEnlargeWgs84ToReferenceAxis) {
  const Ellipsoid raised = ProjectionSurface(kWgs84, 100.0);
  EXPECT_NEAR(raised.a, 6378237.336408982, kNanometre);
  EXPECT_EQ(raised.f, kWgs84.f);
}

TEST(ProjectionSurface, NegativeHeightShrinksBySameAmount) {
  EXPECT_NEAR(ProjectionSurface(kWgs84, 100.0).a - kWgs84.a, 100.336409, kHalfMicrometre);
  EXPECT_NEAR(kWgs84.a - ProjectionSurface(kWgs84, -100.0).a, 100.336409, kHalfMicrometre);
}

TEST(ProjectionSurface, HeightsAtOrBelowOneMicrometreAndNaNLeaveAxis) {
  for (double height : {0.0, 1e-6, -1e-6, kNaN}) {
    EXPECT_EQ(ProjectionSurface(kWgs84, height).a, kWgs84.a) << height;
  }
  EXPECT_GT(ProjectionSurface(kWgs84, 1.1e-6).a, kWgs84.a);
}

std::unique_ptr<ProjectionSetup> Zone117(const std::string& ellipsoidName,
                                         double projectionHeight = 0.0) {
  return std::make_unique<ProjectionSetup>(117.0, 0.0, ellipsoidName, projectionHeight, 500000.0,
                                           0.0);
}

// Converts `in` under `setup`, and checks on the way that ConvertBack on the same record returns
// it, height included: every converting test below covers the inverse as well.
Point3 ConvertWith(std::unique_ptr<ProjectionSetup> setup, Point3 in) {
  GeoConverter converter;
  converter.SetProjectionSetup(std::move(setup));
  Point3 out;
  EXPECT_TRUE(converter.Convert(in, out));
  Point3 back;
  EXPECT_TRUE(converter.ConvertBack(out, back));
  EXPECT_NEAR(back.x, in.x, kRoundTrip);
  EXPECT_NEAR(back.y, in.y, kRoundTrip);
  EXPECT_EQ(back.z, in.z);
  return out;
}

struct ConvertCase {
  std::string name;
  std::string ellipsoidName;
  double projectionHeight;   // metres
  double easting, northing;  // metres, expected for (118°, 31°, 25 m)
};

void PrintTo(const ConvertCase& c, std::ostream* os) { *os << c.name; }

class ConvertFigures : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertFigures, MatchToTheMillimetreAndKeepHeight) {
  const ConvertCase& c = GetParam();
  const Point3 out = ConvertWith(Zone117(c.ellipsoidName, c.projectionHeight), {118.0, 31.0, 25.0});
  EXPECT_NEAR(out.x, c.easting, kHalfMillimetre);
  EXPECT_NEAR(out.y, c.northing, kHalfMillimetre);
  EXPECT_EQ(out.z, 25.0);
}

// Reference figures: zone 117° E, origin latitude 0, false easting 500 km.
INSTANTIATE_TEST_SUITE_P(
    Zone117, ConvertFigures,
    ::testing::Values(ConvertCase{"Wgs84", "WGS84", 0.0, 595506.556, 3431403.610},
                      ConvertCase{"Bj54", "BJ54", 0.0, 595508.161, 3431464.569},
                      ConvertCase{"Xian80", "XIAN80", 0.0, 595506.601, 3431405.209},
                      ConvertCase{"Cgcs2000", "CGCS2000", 0.0, 595506.556, 3431403.610},
                      ConvertCase{"Wgs84Raised100m", "WGS84", 100.0, 595508.059, 3431457.591}),
    QuorvaneTest::CaseName());

// The two differ in f alone; they must not be mixed up, yet agree here to under a millimetre.
TEST(Convert, Cgcs2000AndWgs84DifferByLessThanAMillimetre) {
  const Point3 cgcs = ConvertWith(Zone117("CGCS2000"), {118.0, 31.0, 25.0});
  const Point3 wgs = ConvertWith(Zone117("WGS84"), {118.0, 31.0, 25.0});
  EXPECT_NE(cgcs.y, wgs.y);
  constexpr double kMillimetre = 1e-3;  // metres
  EXPECT_LT(std::hypot(cgcs.x - wgs.x, cgcs.y - wgs.y), kMillimetre);
}

TEST(Convert, OutputHeightIsInputHeightWhateverTheRecord) {
  for (double height : {-431.0, 0.0, 8848.86}) {
    auto setup = std::make_unique<ProjectionSetup>(105.0, 35.0, "BJ54", 500.0, 0.0, 1e6);
    EXPECT_EQ(ConvertWith(std::move(setup), {106.0, 36.0, height}).z, height);
  }
}

TEST(Convert, NewRecordAppliesFromTheNextConversionOn) {
  GeoConverter converter;
  converter.SetProjectionSetup(Zone117("WGS84"));
  Point3 first;
  ASSERT_TRUE(converter.Convert({118.0, 31.0, 25.0}, first));
  converter.SetProjectionSetup(Zone117("BJ54"));
  Point3 second;
  ASSERT_TRUE(converter.Convert({118.0, 31.0, 25.0}, second));

  EXPECT_NEAR(first.x, 595506.556, kHalfMillimetre);
  EXPECT_NEAR(first.y, 3431403.610, kHalfMillimetre);
  EXPECT_NEAR(second.x, 595508.161, kHalfMillimetre);
  EXPECT_NEAR(second.y, 3431464.569, kHalfMillimetre);
}

TEST(Convert, WithoutRecordFailsAndLeavesOutput) {
  const GeoConverter converter;
  Point3 out(1.0, 2.0, 3.0);
  EXPECT_FALSE(converter.Convert({118.0, 31.0, 25.0}, out));
  EXPECT_FALSE(converter.ConvertBack({595506.556, 3431403.610, 25.0}, out));
  EXPECT_EQ(out, Point3(1.0, 2.0, 3.0));
}

}  // namespace
}  // namespace Quorvane
