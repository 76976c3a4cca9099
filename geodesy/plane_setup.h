// The one Gauss–Krüger plane a run fits in, and how each point list gets into it and back.
#pragma once

#include "common/point_list.h"
#include "geodesy/ellipsoid.h"

namespace Quorvane {

/// A local grid as a survey table gives it: a transverse Mercator plane with scale 1 on its
/// central meridian, a false origin, and a projection surface raised above its ellipsoid.
struct GridSpec {
  NamedEllipsoid ellipsoid;        // of the grid
  double meridian = 0.0;           // central meridian, decimal degrees
  double falseEasting = 500000.0;  // metres; a zone number in front for a prefixed grid
  double falseNorthing = 0.0;      // metres
  double height = 0.0;             // projection surface above the ellipsoid, metres
};

/// The plane both lists are mapped into, as one value that every projection of a run goes
/// through: the forward series (GaussProjector::Forward) with the plane's central meridian,
/// origin latitude, false origin and projection height, on the ellipsoid of the list's own
/// coordinates; and the inverse series back onto the destination's.
struct PlaneSetup {
  NamedEllipsoid sourceEllipsoid = Wgs84();       // of the source longitudes and latitudes
  NamedEllipsoid destinationEllipsoid = Wgs84();  // of the destination's; for a grid, the grid's
  double centralMeridian = 0.0;                   // λ0, decimal degrees
  /// φ0, decimal degrees; within 1e-6° of 0 the northing counts from the equator.
  double originLatitude = 0.0;
  double falseEasting = 0.0;      // metres
  double falseNorthing = 0.0;     // metres
  double projectionHeight = 0.0;  // metres; the surface of both lists' projections
  /// The destination points are grid coordinates already (easting, northing, height, metres):
  /// they are taken as they are, and only the source points are projected.
  bool destinationOnGrid = false;

  /// A source point (longitude, latitude in degrees, height in metres) in the plane: easting,
  /// northing (metres, false origin included) and the height unchanged.
  Point3 SourceToPlane(const Point3& geographic) const;
  /// A destination point in the plane: projected like a source point but on the destination's
  /// ellipsoid, or as it is for a grid.
  Point3 DestinationToPlane(const Point3& given) const;
  /// A plane point back to longitude and latitude (degrees) on the destination's ellipsoid by the
  /// inverse series, the height unchanged.
  Point3 PlaneToDestination(const Point3& plane) const;
  /// How far a geographic point is from where the series hold their stated accuracy (within
  /// kDomainLongitude of the central meridian and kDomainLatitude of the equator): 0 inside,
  /// otherwise the larger of the two excesses, degrees; NaN for a point that is not finite.
  double OutsideDomain(const Point3& geographic) const;
};

/// The reach of the forward and inverse series that the accuracy figures cover: degrees of
/// longitude from the central meridian, and of latitude from the equator.
constexpr double kDomainLongitude = 6.0;
constexpr double kDomainLatitude = 80.0;

/// The plane of a run without a grid: centred on `centre` (longitude and latitude, degrees),
/// no false origin and no projection height, each list on its own ellipsoid.
PlaneSetup CentredPlane(const Point3& centre, const NamedEllipsoid& source,
                        const NamedEllipsoid& destination);

/// The plane of a grid: its meridian, false origin and projection height, origin latitude 0; the
/// source points are projected on their own ellipsoid `source`, the destination points are its
/// coordinates.
PlaneSetup GridPlane(const GridSpec& grid, const NamedEllipsoid& source);

}  // namespace Quorvane
