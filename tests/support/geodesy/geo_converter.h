// Geographic points to Gauss–Krüger plane points and back under one projection set-up.
#pragma once

#include <memory>

#include "common/point_list.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/gauss_projector.h"
#include "geodesy/projection_setup.h"

namespace Quorvane {

/// Owns the current `ProjectionSetup` (none at first) and one `GaussProjector` for its lifetime.
/// Not copyable. Used from one thread.
class GeoConverter {
 public:
  GeoConverter();
  GeoConverter(const GeoConverter&) = delete;
  GeoConverter& operator=(const GeoConverter&) = delete;

  /// Takes ownership of `setup`, releases the one held before, and uses the new one for every
  /// later conversion. The record is never changed.
  void SetProjectionSetup(std::unique_ptr<ProjectionSetup> setup);

  /// `in`: x = longitude, y = latitude (decimal degrees), z = height (metres).
  /// `out`: x = easting, y = northing (metres, false origin included), z = `in.z` unchanged.
  ///
  /// The ellipsoid is chosen by the held record's name on every call (EllipsoidByName), enlarged
  /// for its projection height (ProjectionSurface; the point's own height plays no part) and
  /// handed to GaussProjector::Forward with the record's central meridian, origin latitude and
  /// false origin. No input is checked. Returns true; returns false and leaves `out` untouched
  /// only when no record has been handed over yet.
  bool Convert(Point3 in, Point3& out) const;

  /// The inverse of Convert. `in`: x = easting, y = northing (metres, false origin included),
  /// z = height (metres). `out`: x = longitude, y = latitude (decimal degrees), z = `in.z`
  /// unchanged.
  ///
  /// The same ellipsoid and projection surface as Convert, handed to GaussProjector::Inverse with
  /// the record's central meridian, origin latitude and false origin. No input is checked.
  /// Returns true; returns false and leaves `out` untouched only when no record has been handed
  /// over yet.
  bool ConvertBack(Point3 in, Point3& out) const;

 private:
  std::unique_ptr<ProjectionSetup> setup_;
  std::unique_ptr<GaussProjector> projector_;
};

}  // namespace Quorvane
