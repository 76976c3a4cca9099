#include "geodesy/geo_converter.h"

#include <utility>

namespace Quorvane {

GeoConverter::GeoConverter() : projector_(std::make_unique<GaussProjector>()) {}

void GeoConverter::SetProjectionSetup(std::unique_ptr<ProjectionSetup> setup) {
  setup_ = std::move(setup);
}

bool GeoConverter::Convert(Point3 in, Point3& out) const {
  if (!setup_) {
    return false;
  }
  const Ellipsoid surface =
      ProjectionSurface(EllipsoidByName(setup_->ellipsoidName), setup_->projectionHeight);
  const PlaneCoordinates plane =
      projector_->Forward(in, setup_->centralMeridian, setup_->falseEasting, setup_->falseNorthing,
                          surface.a, surface.f, setup_->originLatitude);
  out = Point3(plane.x, plane.y, in.z);
  return true;
}

bool GeoConverter::ConvertBack(Point3 in, Point3& out) const {
  if (!setup_) {
    return false;
  }
  const Ellipsoid surface =
      ProjectionSurface(EllipsoidByName(setup_->ellipsoidName), setup_->projectionHeight);
  const Point3 geographic = projector_->Inverse(
      PlaneCoordinates{in.x, in.y}, setup_->centralMeridian, setup_->falseEasting,
      setup_->falseNorthing, surface.a, surface.f, setup_->originLatitude);
  out = Point3(geographic.x, geographic.y, in.z);
  return true;
}

}  // namespace Quorvane
