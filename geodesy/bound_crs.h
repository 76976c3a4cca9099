// A list's coordinate system bound to WGS 84 by seven parameters: the CRS a +towgs84 set belongs
// on, written for GIS software (--export-crs).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "geodesy/plane_setup.h"

namespace Quorvane {

/// Seven parameters as +towgs84 takes them, from a CRS to WGS 84: the position-vector Helmert
/// transformation's tx, ty, tz (metres), rx, ry, rz (arc seconds) and ds (ppm).
using ToWgs84 = std::array<double, 7>;

/// Whether a list's datum is WGS 84: that of a CRS naming it (EPSG's datum 6326 or its
/// ensemble, not bound to another transformation), or the WGS 84 ellipsoid of a list of
/// longitudes and latitudes or of X, Y, Z that names no CRS (the tool's default). False where
/// PROJ cannot be had.
bool OnWgs84(const ListSystem& list);

/// Geocentric points (X, Y, Z, metres) carried by `set` as PROJ's helmert step takes a
/// +towgs84 set (position vector, the rotation matrix linearised). False with `problem` (a
/// phrase without a line end) where PROJ cannot be had.
bool CarryByToWgs84(const ToWgs84& set, std::vector<Point3>& points, std::string& problem);

/// The list's CRS bound to WGS 84 (EPSG:4326) by `set`, as WKT2 (2019), which projinfo and
/// cs2cs read: a named CRS as PROJ resolved it (a CRS the list named bound already is bound
/// anew), a list of longitudes and latitudes or of X, Y, Z on its ellipsoid alone as a CRS of
/// that ellipsoid; the transformation is EPSG's method 9606 (position vector, geographic 2D
/// domain), 1033 for a geocentric CRS. False with `problem` (a phrase without a line end) for a
/// grid of the tool's own series, which no CRS of PROJ's holds, or where PROJ fails.
bool BoundToWgs84(const ListSystem& list, const ToWgs84& set, std::string& wkt,
                  std::string& problem);

}  // namespace Quorvane
