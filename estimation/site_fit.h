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
  int fixed = 0;  // the parameters held at those values then (rz and scale, or rz alone)
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
  int fixed = 0;  // the slopes' directions held at 0 then: across the line, or both
};

/// The least-squares optimum of the horizontal part over the pairs i with used[i] true: the
/// four-parameter (Helmert) similarity, linear in a = scale·cos rz, b = scale·sin rz and the
/// shift, or with `fixScale` the scale held at exactly 1 (the orthogonal Procrustes rotation).
/// Sums are taken about the first used point in long double, so coordinates of tens of
/// millions of metres (a prefixed grid easting) lose nothing to the centring. With no used pair
/// the start values stay.
///
/// With `precision` (each pair's a priori σ, above 0) every pair counts with the weight 1/σ² of
/// its horizontal σ here, of its vertical σ in the height models below: the weighted least
/// squares, about the weighted centroid. Null gives equal weights.
HorizontalFit FitHorizontal(const PointList& source, const PointList& destination,
                            const std::vector<bool>& used, bool fixScale, const Point3& reference,
                            const std::vector<Precision>* precision = nullptr);

/// The least-squares optimum of the vertical part over the pairs i with used[i] true: the shift
/// alone (`plane` false: the mean height difference), or shift and slopes (`plane` true), from
/// the normal equations about the mean position.
VerticalFit FitVertical(const PointList& source, const PointList& destination,
                        const std::vector<bool>& used, bool plane, const Point3& reference,
                        const std::vector<Precision>* precision = nullptr);

/// The horizontal RMS, metres, that the least-squares four-parameter similarity leaves between
/// source[i] and destination[i] over all pairs (√(Σ(vE² + vN²) / m)); for telling which of
/// several pairings of the same points fits.
double SimilarityRms(const PointList& source, const PointList& destination);

/// The height quadric about (E0, N0): H' = H + tz + slopeNorth · dN + slopeEast · dE + qNN · n² +
/// qNE · n · e + qEE · e², dN = N − N0 and dE = E − E0 in metres, n and e the same in kilometres.
struct QuadricFit {
  double tz = 0.0, slopeNorth = 0.0, slopeEast = 0.0;  // metres, metres per metre
  double qNN = 0.0, qNE = 0.0, qEE = 0.0;              // metres per square kilometre
  /// False when the used points do not determine the six (fewer than six, or all within about a
  /// millimetre of one conic: a line, two lines, a ring). Then each term that the points do not
  /// tell from those before it, in the order tz, slopeNorth, slopeEast, qNN, qNE, qEE, is held at
  /// exactly 0, and the others are the least squares of the rest.
  bool determined = false;
  int fixed = 0;  // the combinations of the terms held at 0 then: six less the rank
};

/// The kilometres the quadratic terms count in, per metre.
constexpr double kQuadricKilometresPerMetre = 1e-3;

/// The least-squares optimum of the height quadric over the pairs i with used[i] true, by
/// complete orthogonal decomposition of the design about `reference` with its columns scaled to
/// unit length; which terms the points fix is judged from their geometry alone (QuadricFit).
QuadricFit FitQuadric(const PointList& source, const PointList& destination,
                      const std::vector<bool>& used, const Point3& reference,
                      const std::vector<Precision>* precision = nullptr);

/// How well a height model of `terms` terms (1 a shift, 3 a plane, 6 a quadric) predicts the
/// pairs it did not see: √(Σ (v_i / (1 − h_ii))² / m) over the m pairs `used` marks, metres (the
/// root mean square of the leave-one-out prediction errors, PRESS), v_i the pair's residual and
/// h_ii its leverage, about `reference`; with `precision` the weighted mean square with the
/// relative weights of the fit. Infinity when some pair alone fixes a term (h_ii = 1), there
/// are not more pairs than terms, or the points do not fix every term (as FitQuadric judges it).
double PredictionError(const PointList& source, const PointList& destination,
                       const std::vector<bool>& used, int terms, const Point3& reference,
                       const std::vector<Precision>* precision = nullptr);

}  // namespace Quorvane
