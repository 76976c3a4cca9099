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

/// The a priori precision of a point, or of a pair's misclosure: the standard deviation of one
/// horizontal coordinate (east or north) and of the height, metres; 0 where it is not known.
struct Precision {
  double horizontal = 0.0;
  double vertical = 0.0;
};

/// The epochs a point may carry, decimal years: GNSS coordinates of any survey that can be tied to
/// a frame; a number outside them is a date in another form (20180701) or another column.
constexpr double kEarliestEpoch = 1900.0;
constexpr double kLatestEpoch = 2100.0;

/// A point list as it was read: the points, and what its input gave beside the coordinates. Each
/// of `names`, `precision` and `epochs` is either empty (the input gave none) or exactly as long
/// as `points`.
struct ObservationList {
  PointList points;
  std::vector<std::string> names;     // UTF-8
  std::vector<Precision> precision;   // a point's own σ, 0 where its line leaves it empty
  std::vector<double> epochs;         // decimal years (2018.7); NaN where a line leaves it empty

  bool HasNames() const { return !names.empty(); }
  bool HasPrecision() const { return !precision.empty(); }
  bool HasEpochs() const { return !epochs.empty(); }
};

}  // namespace Quorvane
