#include "geodesy/ellipsoid.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

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
// The ellipsoids of other datums a surveyor meets, with their defining a and 1/f as EPSG gives
// them (EPSG:7022, 7004, 7001, 7008, 7012, 7019, 7036).
constexpr double kIntl1924SemiMajorAxis = 6378388.0;
constexpr double kIntl1924InverseFlattening = 297.0;
constexpr double kBessel1841SemiMajorAxis = 6377397.155;
constexpr double kBessel1841InverseFlattening = 299.1528128;
constexpr double kAiry1830SemiMajorAxis = 6377563.396;
constexpr double kAiry1830InverseFlattening = 299.3249646;
constexpr double kClarke1866SemiMajorAxis = 6378206.4;
constexpr double kClarke1866InverseFlattening = 294.9786982;
constexpr double kClarke1880SemiMajorAxis = 6378249.145;
constexpr double kClarke1880InverseFlattening = 293.4663077;
constexpr double kGrs80SemiMajorAxis = 6378137.0;
constexpr double kGrs80InverseFlattening = 298.257222101;
constexpr double kGrs67SemiMajorAxis = 6378160.0;
constexpr double kGrs67InverseFlattening = 298.25;

// The Earth's reference ellipsoids lie well inside these bounds; a value outside is a typing
// error (or a unit other than metres).
constexpr double kLeastSemiMajorAxis = 6300000.0;
constexpr double kGreatestSemiMajorAxis = 6400000.0;
constexpr double kLeastInverseFlattening = 250.0;
constexpr double kGreatestInverseFlattening = 350.0;

// A projection height of at most this many metres in magnitude counts as none.
constexpr double kProjectionHeightBound = 1e-6;

struct TableRow {
  const char* name;
  Ellipsoid ellipsoid;
};

// In the order of comparison.
const TableRow kEllipsoidTable[] = {
    {"CGCS2000", {kCgcs2000SemiMajorAxis, 1.0 / kCgcs2000InverseFlattening}},
    {"cgcs2000", {kCgcs2000SemiMajorAxis, 1.0 / kCgcs2000InverseFlattening}},
    {"XIAN80", {kXian80SemiMajorAxis, 1.0 / kXian80InverseFlattening}},
    {"BJ54", {kBj54SemiMajorAxis, 1.0 / kBj54InverseFlattening}},
    {"wgs84", {kWgs84SemiMajorAxis, 1.0 / kWgs84InverseFlattening}},
    {"WGS84", {kWgs84SemiMajorAxis, 1.0 / kWgs84InverseFlattening}},
    {"INTL1924", {kIntl1924SemiMajorAxis, 1.0 / kIntl1924InverseFlattening}},
    {"BESSEL1841", {kBessel1841SemiMajorAxis, 1.0 / kBessel1841InverseFlattening}},
    {"AIRY1830", {kAiry1830SemiMajorAxis, 1.0 / kAiry1830InverseFlattening}},
    {"CLARKE1866", {kClarke1866SemiMajorAxis, 1.0 / kClarke1866InverseFlattening}},
    {"CLARKE1880", {kClarke1880SemiMajorAxis, 1.0 / kClarke1880InverseFlattening}},
    {"GRS80", {kGrs80SemiMajorAxis, 1.0 / kGrs80InverseFlattening}},
    {"GRS67", {kGrs67SemiMajorAxis, 1.0 / kGrs67InverseFlattening}},
};

bool SameIgnoringCase(const std::string& text, const char* name) {
  std::size_t k = 0;
  for (; k < text.size() && name[k] != '\0'; ++k) {
    if (std::toupper(static_cast<unsigned char>(text[k])) !=
        std::toupper(static_cast<unsigned char>(name[k]))) {
      return false;
    }
  }
  return k == text.size() && name[k] == '\0';
}

// A whole field as a plain decimal number (digits, one optional point; no sign, exponent or
// blank), or false.
bool ReadPlainNumber(const std::string& field, double& value) {
  if (field.empty() || field.find_first_not_of("0123456789.") != std::string::npos ||
      field.find('.') != field.rfind('.') || field == ".") {
    return false;
  }
  value = std::strtod(field.c_str(), nullptr);
  return std::isfinite(value);
}

}  // namespace

Ellipsoid EllipsoidByName(const std::string& name) {
  for (const TableRow& row : kEllipsoidTable) {
    // std::string equality covers the whole length, so "BJ54\0..." or "BJ54 " do not match.
    if (name == row.name) {
      return row.ellipsoid;
    }
  }
  return Ellipsoid{kWgs84SemiMajorAxis, 1.0 / kWgs84InverseFlattening};
}

NamedEllipsoid Wgs84() { return {"WGS84", EllipsoidByName("WGS84")}; }

bool ParseEllipsoid(const std::string& text, NamedEllipsoid& ellipsoid, std::string& problem) {
  for (const TableRow& row : kEllipsoidTable) {
    if (SameIgnoringCase(text, row.name)) {
      // The table's own spelling, upper case where it has both.
      ellipsoid = {row.name, row.ellipsoid};
      for (char& c : ellipsoid.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return true;
    }
  }
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) {
    problem = "is not an ellipsoid of the table (CGCS2000, XIAN80, BJ54, WGS84, INTL1924, "
              "BESSEL1841, AIRY1830, CLARKE1866, CLARKE1880, GRS80, GRS67) nor A/RF";
    return false;
  }
  double a = 0.0;
  double rf = 0.0;
  if (!ReadPlainNumber(text.substr(0, slash), a) || !ReadPlainNumber(text.substr(slash + 1), rf)) {
    problem = "is not A/RF: the semi-major axis in metres and the inverse flattening as plain "
              "decimal numbers, such as 6377397.155/299.1528128";
    return false;
  }
  if (a < kLeastSemiMajorAxis || a > kGreatestSemiMajorAxis || rf < kLeastInverseFlattening ||
      rf > kGreatestInverseFlattening) {
    problem = "is no Earth ellipsoid: A must lie between 6300000 and 6400000 m and RF between 250 "
              "and 350";
    return false;
  }
  ellipsoid = {text, {a, 1.0 / rf}};
  return true;
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
