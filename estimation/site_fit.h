// The site calibration's two least-squares problems, each solved in closed form: a horizontal
// similarity in the plane and a vertical shift or inclined plane.
#pragma once

#include <vector>

#include "common/point_list.h"

namespace Quorvane {

/// The horizontal part about a reference point (E0, N0): (E', N') = (E0, N0) + (tx, ty) + scale ·
/// R(rz) · ((E, N) − (E0, N0)), R(rz) = [[cos, −sin], [sin, cos]] (a positive rz turns easting
/// towards northing).
struct HorizontalFit {
  double tx = 0.0;     // metres: where the reference point goes, less itself
  double ty = 0.0;     // metres
  double rz = 0.0;     // radians
  double scale = 1.0;  // no unit
  /// False when the used source points do not spread beyond kCoincidenceDistance: then rz = 0,
  /// scale = 1 and the translation carries their mean onto the destination's.
  bool determined = false;
};

/// The vertical part about a reference point (E0, N0): H' = H + tz + slopeNorth · (N − N0) +
/// slopeEast · (E − E0), with (E, N) the source point's own plane coordinates.
struct VerticalFit {
  double tz = 0.0;          // metres
  double slopeNorth = 0.0;  // no unit (metres per metre)
  double slopeEast = 0.0;
  /// For an inclined plane: false when the used points do not span one (fewer than three, or
  /// all within about a millimetre of one line); then the slopes are the smallest that fit best
  /// (none across the line).
  bool determined = false;
};

/// The least-squares optimum of the horizontal part over the pairs i with used[i] true: the
/// four-parameter (Helmert) similarity, linear in a = scale·cos rz, b = scale·sin rz and the
/// shift, or with `fixScale` the scale held at exactly 1 (the orthogonal Procrustes rotation).
/// Sums are taken about the first used point in long double, so coordinates of tens of
/// millions of metres (a prefixed grid easting) lose nothing to the centring. With no used pair
/// the start values stay.
HorizontalFit FitHorizontal(const PointList& source, const PointList& destination,
                            const std::vector<bool>& used, bool fixScale, const Point3& reference);

/// The least-squares optimum of the vertical part over the pairs i with used[i] true: the shift
/// alone (`plane` false: the mean height difference), or shift and slopes (`plane` true), from
/// the normal equations about the mean position.
VerticalFit FitVertical(const PointList& source, const PointList& destination,
                        const std::vector<bool>& used, bool plane, const Point3& reference);

}  // namespace Quorvane
