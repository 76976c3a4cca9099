// Gauss–Krüger (ellipsoidal transverse Mercator) projection, forward and inverse.
#pragma once

#include "common/point_list.h"

namespace Quorvane {

/// A point in the projection plane, metres.
struct PlaneCoordinates {
  double x;  // easting, false easting included
  double y;  // northing, false northing included
};

/// Evaluates the transverse Mercator series in Snyder's form (Map Projections — A Working
/// Manual, USGS Professional Paper 1395, 1987, eqs. 8-9 and 8-10, meridian arc eq. 3-21): the
/// easting to the fifth and the northing to the sixth power of A = (λ − λ0) · cos φ, with the
/// meridian arc truncated after e⁶; and their inverse. Holds no state; every call reads only its
/// arguments.
class GaussProjector {
 public:
  /// Projects one geographic point.
  ///
  /// - `point`: x = longitude λ, y = latitude φ, decimal degrees, east and north positive;
  ///   z is not read (the height never enters the projection).
  /// - `centralMeridian`: λ0, decimal degrees. The longitude difference λ − λ0 is not wrapped:
  ///   a difference beyond ±180° is used as it stands.
  /// - `falseEasting`, `falseNorthing`: metres, added to the easting and northing last.
  /// - `a`: semi-major axis, metres, already enlarged where a projection surface above the
  ///   ellipsoid is wanted; no projection height is applied here. `f`: flattening.
  /// - `originLatitude`: φ0, decimal degrees. When |φ0| > 1e-6° the northing counts from the
  ///   meridian arc at φ0; otherwise (φ0 NaN included) it counts from the equator.
  ///
  /// No scale factor: the central meridian is true to scale (k0 = 1). No input is checked and
  /// nothing fails; non-finite input gives non-finite output.
  ///
  /// Accuracy, against the exact transverse Mercator (Poder/Engsager, as in PROJ 9.1) on WGS 84
  /// over latitudes −80°..80°: the easting is within 0.0001 mm at 1° from the central meridian,
  /// 0.1 mm at 3° and 11.5 mm at 6°. The northing carries the truncation of the meridian arc
  /// after e⁶: up to 0.96 mm near ±70° latitude, 0.25 mm at 45°, under 0.03 mm within ±30°;
  /// away from the meridian add 0.003 mm at 3° and 0.61 mm at 6°. With an origin latitude the
  /// arc errors at the point and at the origin combine (up to twice 0.96 mm).
  /// Meant for zones of a few degrees either side of the central meridian, away from the poles.
  PlaneCoordinates Forward(const Point3& point, double centralMeridian, double falseEasting,
                           double falseNorthing, double a, double f, double originLatitude) const;

  /// The inverse of Forward: the geographic point of one plane point, on the same ellipsoid,
  /// central meridian, origin latitude and false origin.
  ///
  /// - `plane`: x = easting, y = northing, metres, false easting and false northing included.
  /// - `centralMeridian`, `falseEasting`, `falseNorthing`, `a`, `f`, `originLatitude`: as for
  ///   Forward, the 1e-6° rule for the origin latitude included.
  /// - Returns x = longitude λ, y = latitude φ, decimal degrees, and z = 0. The longitude is
  ///   λ0 plus the series' difference, not wrapped to ±180°; on the central meridian
  ///   (easting = false easting) it is λ0 exactly.
  ///
  /// Evaluates Snyder's inverse series (USGS PP 1395, eqs. 8-17 to 8-25 with k0 = 1): latitude
  /// to the sixth power of D = (x − false easting) / N1, longitude to the fifth and the next
  /// (D⁷) term of the same expansion, about the footpoint latitude φ1 whose meridian arc,
  /// truncated after e⁶ as Forward's is, equals the northing less the false northing plus the arc
  /// at the origin latitude. No input is checked and nothing fails; non-finite input gives
  /// non-finite output (NaN, except that a non-finite central meridian shows in the longitude
  /// alone).
  ///
  /// Accuracy, measured over latitudes −80°..80°:
  /// - Against Forward, on the four ellipsoids of the table: within 3° of the central meridian
  ///   Inverse(Forward(p)) returns p to 8.8e-10° (under 0.1 mm on the ground).
  /// - Against the exact transverse Mercator (Poder/Engsager, as in PROJ 9.1) on WGS 84: a plane
  ///   point comes back within 0.016 mm of the exact geographic point in the easting direction
  ///   at 1° from the central meridian, 0.048 mm at 3° and 0.43 mm at 6°. In the northing
  ///   direction it carries Forward's meridian-arc error (up to 0.96 mm near ±70°; with an origin
  ///   latitude the errors at the footpoint and at the origin combine), plus 0.0001 mm at 1°,
  ///   0.013 mm at 3° and 2.1 mm at 6°.
  /// Meant for zones of a few degrees either side of the central meridian, away from the poles,
  /// where tan φ1 and 1 / cos φ1 in the series grow without bound.
  Point3 Inverse(const PlaneCoordinates& plane, double centralMeridian, double falseEasting,
                 double falseNorthing, double a, double f, double originLatitude) const;
};

}  // namespace Quorvane
