// The ellipsoid table, the projection surface, and the frame a run's lists are taken into
// (PlaneSetup): reference figures of the tool's series, and each kind of list system against the
// PROJ pipeline the record gives for it, run by libproj.
#include "geodesy/plane_setup.h"

#include <proj.h>

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "geodesy/named_crs.h"

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

// A source point of a run of the tool's series on a grid of the tool's (zone 117° E, origin
// latitude 0, false easting 500 km) and the ellipsoid `name`, projected on that ellipsoid.
Point3 Zone117(const std::string& name, double projectionHeight, const Point3& geographic) {
  PlaneSetup frame;
  frame.source.ellipsoid = {name, EllipsoidByName(name)};
  frame.destination.kind = ListSystem::Kind::Grid;
  frame.destination.grid.ellipsoid = frame.source.ellipsoid;
  frame.destination.grid.meridian = 117.0;
  frame.destination.grid.height = projectionHeight;
  frame.destination.ellipsoid = frame.source.ellipsoid;
  std::string problem;
  EXPECT_TRUE(frame.Complete({}, problem)) << problem;
  const Point3 plane = frame.SourceToFrame(geographic);
  // The grid's own point goes back to where it came from.
  const Point3 back = frame.DestinationGeographic(plane);
  EXPECT_NEAR(back.x, geographic.x, kRoundTrip);
  EXPECT_NEAR(back.y, geographic.y, kRoundTrip);
  return plane;
}

struct ZoneCase {
  std::string name;
  std::string ellipsoidName;
  double projectionHeight;   // metres
  double easting, northing;  // metres, expected for (118°, 31°, 25 m)
};

void PrintTo(const ZoneCase& c, std::ostream* os) { *os << c.name; }

class Zone117Figures : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(Zone117Figures, MatchToTheMillimetreAndKeepHeight) {
  const ZoneCase& c = GetParam();
  const Point3 out = Zone117(c.ellipsoidName, c.projectionHeight, {118.0, 31.0, 25.0});
  EXPECT_NEAR(out.x, c.easting, kHalfMillimetre);
  EXPECT_NEAR(out.y, c.northing, kHalfMillimetre);
  EXPECT_EQ(out.z, 25.0);
}

INSTANTIATE_TEST_SUITE_P(
    Zone117, Zone117Figures,
    ::testing::Values(ZoneCase{"Wgs84", "WGS84", 0.0, 595506.556, 3431403.610},
                      ZoneCase{"Bj54", "BJ54", 0.0, 595508.161, 3431464.569},
                      ZoneCase{"Xian80", "XIAN80", 0.0, 595506.601, 3431405.209},
                      ZoneCase{"Cgcs2000", "CGCS2000", 0.0, 595506.556, 3431403.610},
                      ZoneCase{"Wgs84Raised100m", "WGS84", 100.0, 595508.059, 3431457.591}),
    QuorvaneTest::CaseName());

// A frame of each kind, completed on the destination points: a source point taken through the
// frame to the destination's coordinates is what the record's pipeline (its source steps, then
// its destination steps, with no model between) gives run by libproj.
struct FrameCase {
  std::string name;
  const char* sourceCrs;       // nullptr: geographic on WGS 84
  const char* destinationCrs;  // nullptr: geographic on Bessel 1841
  bool geocentric;
  const char* geoid;           // nullptr: none
  Point3 source;               // as given
  std::vector<Point3> destination;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class FrameThroughProj : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameThroughProj, EqualsTheRecordsPipeline) {
  const FrameCase& c = GetParam();
  PlaneSetup frame;
  std::string problem;
  if (c.sourceCrs != nullptr) {
    ASSERT_TRUE(ReadNamedCrs(c.sourceCrs, frame.source, problem)) << problem;
  }
  frame.destination.ellipsoid = {"BESSEL1841", {6377397.155, 1.0 / 299.1528128}};
  if (c.destinationCrs != nullptr) {
    ASSERT_TRUE(ReadNamedCrs(c.destinationCrs, frame.destination, problem)) << problem;
  }
  frame.frame = c.geocentric ? PlaneSetup::Frame::Geocentric : PlaneSetup::Frame::Plane;
  if (c.geoid != nullptr) frame.geoid = c.geoid;
  ASSERT_TRUE(frame.Complete(c.destination, problem)) << problem;
  const Point3 mine = frame.FrameToDestination(frame.SourceToFrame(c.source));

  const std::string pipeline = "+proj=pipeline" + frame.SourceSteps() + frame.DestinationSteps();
  PJ* proj = proj_create(PJ_DEFAULT_CTX, pipeline.c_str());
  ASSERT_NE(proj, nullptr) << pipeline;
  const PJ_COORD theirs =
      proj_trans(proj, PJ_FWD, proj_coord(c.source.x, c.source.y, c.source.z, 0));
  proj_destroy(proj);
  // Degrees or metres at the destination: a tenth of a millimetre either way (1e-9° is 0.1 mm).
  const double tolerance = frame.destination.kind == ListSystem::Kind::Geographic ? 1e-9 : 1e-4;
  EXPECT_NEAR(mine.x, theirs.xyz.x, tolerance) << pipeline;
  EXPECT_NEAR(mine.y, theirs.xyz.y, tolerance) << pipeline;
  EXPECT_NEAR(mine.z, theirs.xyz.z, 1e-4) << pipeline;
}

INSTANTIATE_TEST_SUITE_P(
    EachKind, FrameThroughProj,
    ::testing::Values(
        FrameCase{"CentredPlaneOnEachEllipsoid", nullptr, nullptr, false, nullptr,
                  {139.71, 35.66, 40.0}, {{139.7, 35.6, 0.0}, {139.8, 35.7, 0.0}}},
        FrameCase{"ProjectedCrsIsThePlane", nullptr, "EPSG:27700", false, nullptr,
                  {-1.51, 52.49, 100.0}, {{400000.0, 300000.0, 50.0}}},
        FrameCase{"FeetGridToFeetGrid", "EPSG:2229", "EPSG:2229", false, nullptr,
                  {6400000.0, 1800000.0, 300.0}, {{6400000.0, 1800000.0, 300.0}}},
        FrameCase{"GeocentricToGeographic", "EPSG:4978", nullptr, true, nullptr,
                  {-2694892.0, -4297418.0, 3854579.0}, {{-122.1, 37.4, 0.0}}},
        FrameCase{"GeoidReducesSourceHeights", nullptr, nullptr, false, "egm96_15.gtx",
                  {116.4, 39.9, 100.0}, {{116.39, 39.91, 0.0}}}),
    QuorvaneTest::CaseName());

}  // namespace
}  // namespace Quorvane
