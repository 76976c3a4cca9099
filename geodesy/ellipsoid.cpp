#include "geodesy/ellipsoid.h"

#include <cmath>

namespace Quorvane {

namespace {

// China Geodetic Coordinate System 2000, as defined by the national surveying authority (2008).
constexpr double kCgcs2000SemiMajorAxis = 6378137.0;
constexpr double kCgcs2000InverseFlattening = 298.257222101;
// Xi'an 1980 geodetic system, on the IAG 1975 ellipsoid.
constexpr double kXian80SemiMajorAxis = 6378140.0;
constexpr double kXian80InverseFlattening = 298.257;
// Beijing 1954 geodetic system, on the Krassovsky 1940 ellipsoid.
constexpr double kBj54SemiMajorAxis = 6378245.0;
constexpr double kBj54InverseFlattening = 298.3;
// World Geodetic System 1984 (NIMA TR8350.2).
constexpr double kWgs84SemiMajorAxis = 6378137.0;
constexpr double kWgs84InverseFlattening = 298.257223563;

// A projection height of at most this many metres in magnitude counts as none.
constexpr double kProjectionHeightBound = 1e-6;

struct NamedEllipsoid {
  const char* name;
  Ellipsoid ellipsoid;
};

// In the order of comparison.
const NamedEllipsoid kEllipsoidTable[] = {
    {"CGCS2000", {kCgcs2000SemiMajorAxis, 1.0 / kCgcs2000InverseFlattening}},
    {"cgcs2000", {kCgcs2000SemiMajorAxis, 1.0 / kCgcs2000InverseFlattening}},
    {"XIAN80", {kXian80SemiMajorAxis, 1.0 / kXian80InverseFlattening}},
    {"BJ54", {kBj54SemiMajorAxis, 1.0 / kBj54InverseFlattening}},
    {"wgs84", {kWgs84SemiMajorAxis, 1.0 / kWgs84InverseFlattening}},
    {"WGS84", {kWgs84SemiMajorAxis, 1.0 / kWgs84InverseFlattening}},
};

}  // namespace

Ellipsoid EllipsoidByName(const std::string& name) {
  for (const NamedEllipsoid& row : kEllipsoidTable) {
    // std::string equality covers the whole length, so "BJ54\0..." or "BJ54 " do not match.
    if (name == row.name) {
      return row.ellipsoid;
    }
  }
  return Ellipsoid{kWgs84SemiMajorAxis, 1.0 / kWgs84InverseFlattening};
}

Ellipsoid ProjectionSurface(const Ellipsoid& ellipsoid, double projectionHeight) {
  // False for NaN as well, which therefore leaves the ellipsoid as it is.
  if (!(std::fabs(projectionHeight) > kProjectionHeightBound)) {
    return ellipsoid;
  }
  const double a = ellipsoid.a;
  const double b = a * (1 - ellipsoid.f);
  const double e2 = (a * a - b * b) / (a * a);
  // The general enlargement is h · (1 − e² sin²φr) / √(1 − e²); the reference latitude φr is the
  // equator for every set-up, which leaves h / √(1 − e²).
  return Ellipsoid{a + projectionHeight / std::sqrt(1 - e2), ellipsoid.f};
}

}  // namespace Quorvane
