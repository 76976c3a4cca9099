// Reference ellipsoids by name, and their enlargement for a projection surface.
#pragma once

#include <string>

namespace Quorvane {

/// A reference ellipsoid: semi-major axis `a` in metres and flattening `f` (no unit).
struct Ellipsoid {
  double a;
  double f;
};

/// The ellipsoid a name selects. Names are compared byte for byte over their whole length (case
/// matters, nothing is trimmed), in this order, first match wins:
///   "CGCS2000", "cgcs2000" → CGCS2000;  "XIAN80" → Xi'an 1980 (IAG 1975);
///   "BJ54" → Beijing 1954 (Krassovsky 1940);  "wgs84", "WGS84" → WGS 84.
/// Any other text, the empty one included, selects WGS 84 without a message.
/// Each f is 1.0 divided by the ellipsoid's defining inverse flattening, in double precision.
Ellipsoid EllipsoidByName(const std::string& name);

/// The ellipsoid whose surface lies `projectionHeight` metres above `ellipsoid` at the equator:
/// a grows by projectionHeight / √(1 − e²), f stays as it is. A negative height shrinks it the
/// same way. When |projectionHeight| ≤ 1e-6 m, or it is NaN, `ellipsoid` comes back unchanged.
Ellipsoid ProjectionSurface(const Ellipsoid& ellipsoid, double projectionHeight);

}  // namespace Quorvane
