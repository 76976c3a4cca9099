// GaussProjector::Forward: reference figures, the false origin, the origin-latitude bound and
// the symmetries of the series; Inverse at the origin-latitude bound.
#include "geodesy/gauss_projector.h"

#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/point_printing.h"

namespace Quorvane {
namespace {

// WGS 84 as the ellipsoid table gives it (f is the double nearest 1 / 298.257223563).
constexpr double kWgs84A = 6378137.0;
constexpr double kWgs84F = 0.0033528106647474805;

constexpr double kHalfMillimetre = 0.5e-3;  // metres; the figures are rounded to the mm
constexpr double kHalfMicrometre = 0.5e-6;  // metres; the origin-bound figure is given to the µm
// ±d about the central meridian rounds to two slightly different radian differences; at
// N ≈ 6.4e6 m that is nanometres, so a micrometre is safe and still tight.
constexpr double kSymmetry = 1e-6;  // metres
// Rounding in a footpoint latitude at the equator, far below the 1e-6° of the bound.
constexpr double kFootpointRounding = 1e-12;  // degrees

const double kNaN = std::numeric_limits<double>::quiet_NaN();

PlaneCoordinates Wgs84(double longitude, double latitude, double centralMeridian,
                       double originLatitude, double falseEasting, double falseNorthing) {
  return GaussProjector().Forward(Point3(longitude, latitude, 0.0), centralMeridian, falseEasting,
                                  falseNorthing, kWgs84A, kWgs84F, originLatitude);
}

struct FigureCase {
  std::string name;
  double longitude, latitude;              // degrees
  double centralMeridian, originLatitude;  // degrees
  double falseEasting, falseNorthing;      // metres
  double easting, northing;                // metres, expected
};

void PrintTo(const FigureCase& c, std::ostream* os) { *os << c.name; }

class ForwardFigures : public ::testing::TestWithParam<FigureCase> {};

TEST_P(ForwardFigures, MatchToTheMillimetre) {
  const FigureCase& c = GetParam();
  const PlaneCoordinates p = Wgs84(c.longitude, c.latitude, c.centralMeridian, c.originLatitude,
                                   c.falseEasting, c.falseNorthing);
  EXPECT_NEAR(p.x, c.easting, kHalfMillimetre);
  EXPECT_NEAR(p.y, c.northing, kHalfMillimetre);
}

// Reference figures of the projection on WGS 84, zone centred on 117° E.
INSTANTIATE_TEST_SUITE_P(Wgs84Zone117, ForwardFigures,
                         ::testing::Values(FigureCase{"EastOfMeridian", 118.0, 31.0, 117.0, 0.0,
                                                      500000.0, 0.0, 595506.556, 3431403.610},
                                           FigureCase{"WestOfMeridian", 116.0, 31.0, 117.0, 0.0,
                                                      500000.0, 0.0, 404493.444, 3431403.610},
                                           FigureCase{"OnMeridian", 117.0, 31.0, 117.0, 0.0,
                                                      500000.0, 0.0, 500000.000, 3430974.324},
                                           FigureCase{"SouthOfOriginLatitude", 117.5, 31.0, 117.0,
                                                      31.2, 0.0, 0.0, 47752.418, -22066.922}),
                         QuorvaneTest::CaseName());

TEST(ForwardSymmetry, EastingsMirrorAboutFalseEastingNorthingsAgree) {
  for (double latitude : {-75.0, -31.0, 0.0, 31.0, 75.0}) {
    for (double offset : {0.1, 1.0, 3.0}) {
      const PlaneCoordinates east = Wgs84(117.0 + offset, latitude, 117.0, 20.0, 500000.0, 0.0);
      const PlaneCoordinates west = Wgs84(117.0 - offset, latitude, 117.0, 20.0, 500000.0, 0.0);
      EXPECT_NEAR(east.x - 500000.0, 500000.0 - west.x, kSymmetry) << latitude << " " << offset;
      EXPECT_NEAR(east.y, west.y, kSymmetry) << latitude << " " << offset;
    }
  }
}

// On the central meridian the series vanishes term by term, so the false origin comes out
// exactly, not just to rounding.
TEST(ForwardFalseOrigin, CentralMeridianHasExactlyTheFalseEasting) {
  for (double latitude : {-80.0, -12.5, 0.0, 31.0, 89.0}) {
    EXPECT_EQ(Wgs84(117.0, latitude, 117.0, 0.0, 500000.0, 0.0).x, 500000.0) << latitude;
    EXPECT_EQ(Wgs84(-3.0, latitude, -3.0, 45.0, 0.0, 0.0).x, 0.0) << latitude;
  }
}

TEST(ForwardFalseOrigin, ProjectionOriginLandsExactlyOnFalseOrigin) {
  for (double originLatitude : {31.2, -45.0, 1.1e-6, 80.0}) {
    const PlaneCoordinates p =
        Wgs84(117.0, originLatitude, 117.0, originLatitude, 500000.0, 1000000.0);
    EXPECT_EQ(p.x, 500000.0) << originLatitude;
    EXPECT_EQ(p.y, 1000000.0) << originLatitude;
  }
  const PlaneCoordinates equator = Wgs84(117.0, 0.0, 117.0, 0.0, 500000.0, 1000000.0);
  EXPECT_EQ(equator.x, 500000.0);
  EXPECT_EQ(equator.y, 1000000.0);
}

// |φ0| ≤ 1e-6° (and NaN) subtracts no arc; just above it the arc of that tiny latitude is
// subtracted. −0.121632 m is the reference figure for φ0 = 1.1e-6°.
TEST(ForwardOriginBound, ArcSubtractedOnlyAboveOneMicrodegree) {
  EXPECT_EQ(Wgs84(117.0, 0.0, 117.0, 1e-6, 0.0, 0.0).y, 0.0);
  EXPECT_EQ(Wgs84(117.0, 0.0, 117.0, -1e-6, 0.0, 0.0).y, 0.0);
  EXPECT_EQ(Wgs84(117.0, 0.0, 117.0, kNaN, 0.0, 0.0).y, 0.0);
  EXPECT_NEAR(Wgs84(117.0, 0.0, 117.0, 1.1e-6, 0.0, 0.0).y, -0.121632, kHalfMicrometre);
  EXPECT_NEAR(Wgs84(117.0, 0.0, 117.0, -1.1e-6, 0.0, 0.0).y, 0.121632, kHalfMicrometre);
  // The inverse adds the arc back under the same rule; the central meridian comes back exactly.
  const GaussProjector projector;
  EXPECT_EQ(projector.Inverse({0.0, 0.0}, 117.0, 0.0, 0.0, kWgs84A, kWgs84F, 1e-6),
            Point3(117.0, 0.0, 0.0));
  EXPECT_NEAR(projector.Inverse({0.0, 0.0}, 117.0, 0.0, 0.0, kWgs84A, kWgs84F, 1.1e-6).y, 1.1e-6,
              kFootpointRounding);
}

// A wrap to ±180° would fold a full turn back onto the central meridian (easting 0).
TEST(ForwardLongitude, DifferenceBeyondHalfTurnIsNotFolded) {
  EXPECT_GT(Wgs84(117.0 + 360.0, 0.0, 117.0, 0.0, 0.0, 0.0).x, 1e6);
  EXPECT_LT(Wgs84(117.0 - 360.0, 0.0, 117.0, 0.0, 0.0, 0.0).x, -1e6);
  EXPECT_NE(Wgs84(117.0 + 190.0, 31.0, 117.0, 0.0, 0.0, 0.0).x,
            Wgs84(117.0 - 170.0, 31.0, 117.0, 0.0, 0.0, 0.0).x);
}

}  // namespace
}  // namespace Quorvane
