// The transverse Mercator series in Snyder's form, to the sixth power of A (Snyder, Map
// Projections — A Working Manual, USGS PP 1395, 1987: eqs. 8-9 and 8-10 with k0 = 1, and the
// meridian arc of eq. 3-21).
#include "geodesy/gauss_projector.h"

#include <cmath>

namespace Quorvane {

namespace {

// Degrees to radians, as quoted to 15 decimals in the classical Gauss–Krüger tables. Kept as
// this decimal rather than computed from π so results reproduce earlier ones bit for bit; as a
// double it is one unit in the last place above the double nearest π/180.
constexpr double kRadiansPerDegree = 0.0174532925199433;

// |φ0| at or below this many degrees counts as the equator: no origin arc is subtracted, so an
// origin latitude that is zero up to rounding leaves the northing measured from the equator.
constexpr double kOriginLatitudeBound = 1e-6;

// Meridian arc from the equator to latitude `beta` (radians), metres; Snyder eq. 3-21,
// truncated after e⁶.
double MeridianArc(double beta, double a, double e2) {
  const double e4 = e2 * e2;
  const double e6 = e2 * e2 * e2;
  const double m0 = 1 - e2 / 4 - 3 * e4 / 64 - 5 * e6 / 256;
  const double m2 = 3 * e2 / 8 + 3 * e4 / 32 + 45 * e6 / 1024;
  const double m4 = 15 * e4 / 256 + 45 * e6 / 1024;
  const double m6 = 35 * e6 / 3072;
  return a *
         (m0 * beta - m2 * std::sin(2 * beta) + m4 * std::sin(4 * beta) - m6 * std::sin(6 * beta));
}

}  // namespace

PlaneCoordinates GaussProjector::Forward(const Point3& point, double centralMeridian,
                                         double falseEasting, double falseNorthing, double a,
                                         double f, double originLatitude) const {
  const double L = point.x * kRadiansPerDegree;
  const double L0 = centralMeridian * kRadiansPerDegree;
  const double B = point.y * kRadiansPerDegree;
  // Formed from the two converted longitudes and deliberately not reduced to ±π.
  const double dL = L - L0;

  const double e2 = 2 * f - f * f;
  const double ep2 = e2 / (1 - e2);  // second eccentricity squared

  const double sinB = std::sin(B);
  const double cosB = std::cos(B);
  const double tanB = std::tan(B);
  const double N = a / std::sqrt(1 - e2 * sinB * sinB);  // prime-vertical radius, metres
  const double T = tanB * tanB;
  const double C = ep2 * cosB * cosB;
  const double A = dL * cosB;

  const double A2 = A * A;
  const double A3 = A2 * A;
  const double A4 = A3 * A;
  const double A5 = A4 * A;
  const double A6 = A5 * A;

  const double E =
      N * (A + (1 - T + C) * A3 / 6 + (5 - 18 * T + T * T + 72 * C - 58 * ep2) * A5 / 120);
  double Y = MeridianArc(B, a, e2) + N * tanB *
                                         (A2 / 2 + (5 - T + 9 * C + 4 * C * C) * A4 / 24 +
                                          (61 - 58 * T + T * T + 600 * C - 330 * ep2) * A6 / 720);

  // Compared in degrees before conversion; a NaN origin fails the test and subtracts nothing.
  if (std::fabs(originLatitude) > kOriginLatitudeBound) {
    Y -= MeridianArc(originLatitude * kRadiansPerDegree, a, e2);
  }

  return PlaneCoordinates{E + falseEasting, Y + falseNorthing};
}

}  // namespace Quorvane
