#include "geodesy/plane_setup.h"

#include <algorithm>
#include <cmath>

#include "geodesy/gauss_projector.h"

namespace Quorvane {

namespace {

Point3 Forward(const PlaneSetup& plane, const Ellipsoid& ellipsoid, const Point3& geographic) {
  const Ellipsoid surface = ProjectionSurface(ellipsoid, plane.projectionHeight);
  const PlaneCoordinates projected = GaussProjector().Forward(
      geographic, plane.centralMeridian, plane.falseEasting, plane.falseNorthing, surface.a,
      surface.f, plane.originLatitude);
  return Point3(projected.x, projected.y, geographic.z);
}

}  // namespace

Point3 PlaneSetup::SourceToPlane(const Point3& geographic) const {
  return Forward(*this, sourceEllipsoid.ellipsoid, geographic);
}

Point3 PlaneSetup::DestinationToPlane(const Point3& given) const {
  if (destinationOnGrid) return given;
  return Forward(*this, destinationEllipsoid.ellipsoid, given);
}

Point3 PlaneSetup::PlaneToDestination(const Point3& plane) const {
  const Ellipsoid surface = ProjectionSurface(destinationEllipsoid.ellipsoid, projectionHeight);
  const Point3 geographic =
      GaussProjector().Inverse(PlaneCoordinates{plane.x, plane.y}, centralMeridian, falseEasting,
                               falseNorthing, surface.a, surface.f, originLatitude);
  return Point3(geographic.x, geographic.y, plane.z);
}

double PlaneSetup::OutsideDomain(const Point3& geographic) const {
  const double longitude = std::fabs(geographic.x - centralMeridian) - kDomainLongitude;
  const double latitude = std::fabs(geographic.y) - kDomainLatitude;
  if (!std::isfinite(longitude) || !std::isfinite(latitude)) return NAN;
  return std::max({0.0, longitude, latitude});
}

PlaneSetup CentredPlane(const Point3& centre, const NamedEllipsoid& source,
                        const NamedEllipsoid& destination) {
  PlaneSetup plane;
  plane.sourceEllipsoid = source;
  plane.destinationEllipsoid = destination;
  plane.centralMeridian = centre.x;
  plane.originLatitude = centre.y;
  return plane;
}

PlaneSetup GridPlane(const GridSpec& grid, const NamedEllipsoid& source) {
  PlaneSetup plane;
  plane.sourceEllipsoid = source;
  plane.destinationEllipsoid = grid.ellipsoid;
  plane.centralMeridian = grid.meridian;
  plane.falseEasting = grid.falseEasting;
  plane.falseNorthing = grid.falseNorthing;
  plane.projectionHeight = grid.height;
  plane.destinationOnGrid = true;
  return plane;
}

}  // namespace Quorvane
