// Gauss–Krüger (ellipsoidal transverse Mercator) forward projection.
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
/// meridian arc truncated after e⁶. Holds no state; every call reads only its arguments.
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
};

}  // namespace Quorvane
