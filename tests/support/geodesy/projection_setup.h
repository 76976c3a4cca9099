// The settings of one Gauss–Krüger projection.
#pragma once

#include <string>

namespace Quorvane {

/// Plain record of projection settings; a `GeoConverter` owns the one it uses. The member
/// defaults are what a record holds before its constructor overwrites every field.
struct ProjectionSetup {
  double centralMeridian = 0.0;            // λ0, decimal degrees
  double originLatitude = 0.0;             // φ0, decimal degrees; its meridian arc is northing 0
  std::string ellipsoidName = "CGCS2000";  // looked up with EllipsoidByName
  double projectionHeight = 0.0;           // projection surface above the ellipsoid, metres
  double falseEasting = 500000.0;          // metres, added to every easting
  double falseNorthing = 0.0;              // metres, added to every northing

  /// Sets all six fields, in field order; the name is copied into the record.
  ProjectionSetup(double centralMeridian, double originLatitude, std::string ellipsoidName,
                  double projectionHeight, double falseEasting, double falseNorthing);
};

}  // namespace Quorvane
