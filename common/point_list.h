// Point types shared by every part of the program.
#pragma once

#include <string>
#include <vector>

namespace Quorvane {

/// One point, in whichever frame the list it sits in is in:
/// - geographic: x = longitude, y = latitude (decimal degrees, east and north positive),
///   z = height (metres);
/// - plane: x = easting, y = northing (metres), z = the height carried over unchanged.
struct Point3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;

  Point3() = default;
  Point3(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
};

/// Points in command-line order. Pair i is source point i with destination point i.
using PointList = std::vector<Point3>;

/// The local east, north and up unit vectors at a point on an ellipsoid, each in geocentric X, Y,
/// Z components: the rows of the rotation that takes a geocentric difference into the point's
/// horizon (up along the ellipsoid's normal).
struct LocalAxes {
  double east[3] = {1.0, 0.0, 0.0};
  double north[3] = {0.0, 1.0, 0.0};
  double up[3] = {0.0, 0.0, 1.0};
};

/// A point list as it was read, with the name of each point when its input gave names: `names`
/// is then exactly as long as `points` (UTF-8 text), and empty otherwise.
struct NamedPointList {
  PointList points;
  std::vector<std::string> names;

  bool HasNames() const { return !names.empty(); }
};

}  // namespace Quorvane
