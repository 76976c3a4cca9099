// The transverse Mercator series in Snyder's form, to the sixth power of A (Snyder, Map
// Projections — A Working Manual, USGS PP 1395, 1987: eqs. 8-9 and 8-10 with k0 = 1, and the
// meridian arc of eq. 3-21), and its inverse to the sixth power of D (eqs. 8-17 to 8-25, the
// footpoint latitude from eqs. 3-24, 3-26 and 7-19).
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

// Latitude (radians) whose meridian arc, as MeridianArc gives it, is `arc` metres. Snyder's
// footpoint series in e1 of the rectifying latitude μ (eqs. 7-19, 3-24, 3-26) inverts the full
// arc; MeridianArc stops at e⁶, and the two differ by up to 0.8 mm (7e-9°) near ±70°, too much
// for the inverse to undo Forward. One Newton step on MeridianArc from the series' value closes
// that gap to rounding. Its derivative, the meridian radius of curvature (R1 of eq. 8-24),
// differs from the truncated arc's own derivative only in e⁸, so one step is enough.
double FootpointLatitude(double arc, double a, double e2) {
  const double e4 = e2 * e2;
  const double e6 = e2 * e2 * e2;
  const double mu = arc / (a * (1 - e2 / 4 - 3 * e4 / 64 - 5 * e6 / 256));
  const double root = std::sqrt(1 - e2);
  const double e1 = (1 - root) / (1 + root);
  const double e1p2 = e1 * e1;
  const double e1p3 = e1p2 * e1;
  const double e1p4 = e1p3 * e1;
  const double series = mu + (3 * e1 / 2 - 27 * e1p3 / 32) * std::sin(2 * mu) +
                        (21 * e1p2 / 16 - 55 * e1p4 / 32) * std::sin(4 * mu) +
                        151 * e1p3 / 96 * std::sin(6 * mu) + 1097 * e1p4 / 512 * std::sin(8 * mu);
  const double sinB = std::sin(series);
  const double w = 1 - e2 * sinB * sinB;
  const double meridianRadius = a * (1 - e2) / (w * std::sqrt(w));
  return series - (MeridianArc(series, a, e2) - arc) / meridianRadius;
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

Point3 GaussProjector::Inverse(const PlaneCoordinates& plane, double centralMeridian,
                               double falseEasting, double falseNorthing, double a, double f,
                               double originLatitude) const {
  const double e2 = 2 * f - f * f;
  const double ep2 = e2 / (1 - e2);

  // Meridian arc from the equator to the footpoint, metres (eq. 8-20 with k0 = 1); the origin's
  // arc under the same rule as in Forward.
  double M = plane.y - falseNorthing;
  if (std::fabs(originLatitude) > kOriginLatitudeBound) {
    M += MeridianArc(originLatitude * kRadiansPerDegree, a, e2);
  }
  const double B1 = FootpointLatitude(M, a, e2);

  const double sinB1 = std::sin(B1);
  const double cosB1 = std::cos(B1);
  const double tanB1 = std::tan(B1);
  const double w = 1 - e2 * sinB1 * sinB1;
  const double N1 = a / std::sqrt(w);                   // prime-vertical radius, metres
  const double R1 = a * (1 - e2) / (w * std::sqrt(w));  // meridian radius, metres
  const double T1 = tanB1 * tanB1;
  const double C1 = ep2 * cosB1 * cosB1;
  const double D = (plane.x - falseEasting) / N1;

  const double D2 = D * D;
  const double D3 = D2 * D;
  const double D4 = D3 * D;
  const double D5 = D4 * D;
  const double D6 = D5 * D;
  const double D7 = D6 * D;

  const double B =
      B1 - N1 * tanB1 / R1 *
               (D2 / 2 - (5 + 3 * T1 + 10 * C1 - 4 * C1 * C1 - 9 * ep2) * D4 / 24 +
                (61 + 90 * T1 + 298 * C1 + 45 * T1 * T1 - 252 * ep2 - 3 * C1 * C1) * D6 / 720);
  // Snyder's longitude series ends at D⁵; the next term of the same expansion (Redfearn, Survey
  // Review 9, 1948, in its spherical form) keeps the round trip within 1e-9° out to 3° from the
  // central meridian, where the D⁵ series alone leaves 8.5e-9° (0.37 mm) near ±50°.
  const double dL = (D - (1 + 2 * T1 + C1) * D3 / 6 +
                     (5 - 2 * C1 + 28 * T1 - 3 * C1 * C1 + 8 * ep2 + 24 * T1 * T1) * D5 / 120 -
                     (61 + 662 * T1 + 1320 * T1 * T1 + 720 * T1 * T1 * T1) * D7 / 5040) /
                    cosB1;

  // Radians back to degrees with the same constant Forward converts by, so that the round trip
  // loses nothing to two different values of π/180. λ0 is added in degrees, as given, so the
  // central meridian comes back exactly.
  return Point3(centralMeridian + dL / kRadiansPerDegree, B / kRadiansPerDegree, 0.0);
}

}  // namespace Quorvane
