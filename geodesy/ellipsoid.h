// Reference ellipsoids by name, and their enlargement for a projection surface.
#pragma once

#include <string>

namespace Quorvane {

/// A reference ellipsoid: semi-major axis `a` in metres and flattening `f` (no unit).
struct Ellipsoid {
  double a = 0.0;
  double f = 0.0;
};

/// The ellipsoid a name selects. Names are compared byte for byte over their whole length (case
/// matters, nothing is trimmed), in this order, first match wins:
///   "CGCS2000", "cgcs2000" → CGCS2000;  "XIAN80" → Xi'an 1980 (IAG 1975);
///   "BJ54" → Beijing 1954 (Krassovsky 1940);  "wgs84", "WGS84" → WGS 84.
///   "INTL1924" → International 1924 (Hayford; ED50);  "BESSEL1841" → Bessel 1841 (Tokyo);
///   "AIRY1830" → Airy 1830 (OSGB36);  "CLARKE1866" → Clarke 1866 (NAD27);
///   "CLARKE1880" → Clarke 1880 (RGS; Cape);  "GRS80" → GRS 80;  "GRS67" → GRS 67.
/// Any other text, the empty one included, selects WGS 84 without a message.
/// Each f is 1.0 divided by the ellipsoid's defining inverse flattening, in double precision.
Ellipsoid EllipsoidByName(const std::string& name);

/// An ellipsoid with the name it was given by, for the files that describe a projection.
struct NamedEllipsoid {
  std::string name{};  // as the table spells it, or the "A/RF" text it was given as
  Ellipsoid ellipsoid{};
};

/// WGS 84, the ellipsoid of both lists unless the command line names another.
NamedEllipsoid Wgs84();

/// Reads an ellipsoid strictly: a name of the table above, compared without regard to ASCII
/// case ("bj54" is BJ54), or "A/RF", the semi-major axis in metres and the inverse flattening as
/// decimal numbers (e.g. "6377397.155/299.1528128"; A from 6,300,000 to 6,400,000 m and RF from
/// 250 to 350, the range of the Earth's reference ellipsoids). Unlike EllipsoidByName nothing
/// falls back: any other text returns false with `problem` saying why, in a phrase without a
/// line end.
bool ParseEllipsoid(const std::string& text, NamedEllipsoid& ellipsoid, std::string& problem);

/// The ellipsoid whose surface lies `projectionHeight` metres above `ellipsoid` at the equator:
/// a grows by projectionHeight / √(1 − e²), f stays as it is. A negative height shrinks it the
/// same way. When |projectionHeight| ≤ 1e-6 m, or it is NaN, `ellipsoid` comes back unchanged.
Ellipsoid ProjectionSurface(const Ellipsoid& ellipsoid, double projectionHeight);

}  // namespace Quorvane
