// A point list's coordinate system named the way the field names it: an EPSG code, a WKT text or a
// PROJ string, resolved by PROJ.
#pragma once

#include <string>

#include "geodesy/plane_setup.h"

namespace Quorvane {

/// Reads `definition`, anything PROJ's proj_create takes ("EPSG:27700", WKT 1 or 2, a PROJ
/// string; "+type=crs" is added to a PROJ string that lacks it), into the system of a point list:
/// - a geographic CRS (2D or 3D): longitude, latitude (degrees from Greenwich, whatever the
///   CRS's axis order) and height (metres) on its ellipsoid;
/// - a projected CRS: easting, northing and height in the unit of its axes, in that order
///   whatever the CRS's axis order, its projection PROJ's own: on the CRS's sphere where it names
///   one (Web Mercator), and with the directions of its axes (a south-oriented grid's westing and
///   southing);
/// - a geocentric CRS: X, Y, Z in metres on its ellipsoid;
/// - a compound CRS: its horizontal part, the heights in its vertical part's unit; a bound CRS
///   (+towgs84): the CRS it is bound from.
/// False with `problem` (a phrase without a line end) for a definition PROJ cannot resolve, with
/// its reason; for a CRS of any other kind (a vertical one alone, an engineering one); for a
/// geographic CRS in another unit than degrees or from another prime meridian than Greenwich
/// (NTF (Paris) in grads); and for a "projected" CRS whose conversion takes no longitudes and
/// latitudes to a plane (+proj=noop, +proj=affine).
/// The list's `datumCrs` becomes its datum's geographic 2D CRS (bound to the same +towgs84 where
/// the CRS is) and `area` its area of use where PROJ gives one.
bool ReadNamedCrs(const std::string& definition, ListSystem& list, std::string& problem);

/// The operation cs2cs would carry a point at `at` (longitude, latitude, degrees) with from the
/// datum of `from` to that of `to` (each a ListSystem::datumCrs): among the operations
/// proj_create_crs_to_crs finds, the one it uses there. False with `problem` (a phrase without
/// a line end) when PROJ finds none or cannot write it as PROJ steps.
bool FindDatumShift(const std::string& from, const std::string& to, const Point3& at,
                    DatumShift& shift, std::string& problem);

}  // namespace Quorvane
