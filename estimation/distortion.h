// What a plane model leaves: the distortion of a network, modelled from the corrections its
// control points need after the fit (destination − model(source)), as a field of corrections
// over the plane that PROJ's tinshift applies: linear over triangles whose vertices carry a
// correction each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/point_list.h"
#include "estimation/delaunay.h"

namespace Quorvane {

/// How the corrections are spread over the plane.
enum class DistortionMethod {
  Tin,     // linear over the Delaunay triangulation of the control points: each lands exactly
  Smooth,  // a smoothing thin-plate spline, sampled on a regular grid of nodes
};

/// The name --distortion takes: "tin", "smooth".
const char* DistortionName(DistortionMethod method);

/// A vertex of the field: a point of the plane (metres) and the correction there, east, north
/// and height (metres), added to a point the model carried there.
struct DistortionVertex {
  PlanePoint at;
  Point3 correction;
};

/// The leave-one-out prediction of the control points' corrections: each predicted by the field
/// made from the others, RMS over the points of one kind, metres.
struct LeaveOneOut {
  std::size_t points = 0;
  double rmsHorizontal = 0.0;  // of √(dE² + dN²)
  double rmsVertical = 0.0;    // of |dH|
};

/// The largest difference, metres, between PROJ's linear interpolation of the smooth field's
/// grid and the field itself that the grid's spacing allows: it is halved until the grid keeps
/// within it or reaches the most nodes a file PROJ reads can hold (90,000).
constexpr double kDistortionGridLimit = 0.001;

/// The field. Within the control points' convex hull it is the method's; beyond it the
/// correction falls to zero over `margin` metres (linearly over the triangles to a ring of zero
/// vertices for tin, by 1 − 3t² + 2t³ of the distance t·margin for smooth), and beyond that it
/// is zero.
struct DistortionField {
  DistortionMethod method = DistortionMethod::Tin;
  std::vector<DistortionVertex> vertices;  // as the file lists them
  std::vector<Triangle> triangles;         // counter-clockwise indices into `vertices`
  /// tin: the first vertices are the control points, this many (then the ring and the band of
  /// zero corrections); smooth: 0, all are the grid's nodes and the band's.
  std::size_t controlVertices = 0;
  std::size_t pairs = 0;    // control points that shaped it
  std::size_t merged = 0;   // of them, points within a millimetre of an earlier one: one vertex
                            // carries their mean correction
  std::vector<PlanePoint> hull;  // the control points' convex hull, counter-clockwise
  double margin = 0.0;           // metres
  std::vector<PlanePoint> reach;  // the hull grown by the margin, where the correction is zero
  LeaveOneOut inside;  // the points inside the hull, predicted by the others' field
  LeaveOneOut onHull;  // the hull's vertices, predicted by the outside rule
  double spacing = 0.0;    // smooth: the grid's node spacing, metres
  double gridError = 0.0;  // smooth: the largest difference between the grid's linear
                           // interpolation and the spline, measured at the cells' centres, metres:
                           // within kDistortionGridLimit unless the grid's node limit binds
  double smoothingHorizontal = 0.0;  // smooth: the spline's μ, east and north
  double smoothingVertical = 0.0;    // smooth: the spline's μ, heights

  /// The correction at p, as PROJ's tinshift gives it: linear over the triangle that holds p,
  /// zero beyond every triangle.
  Point3 CorrectionAt(PlanePoint p) const;
  /// Whether p lies within the control points' hull (on it, or within a millimetre of it,
  /// counts as within).
  bool Inside(PlanePoint p) const;

  /// Builds the search of the triangles that CorrectionAt uses; ModelDistortion calls it.
  void Index();
  /// The distance from p to the control points' hull, metres; 0 within it.
  double DistanceOutside(PlanePoint p) const;

 private:
  PlanePoint low_, cell_;
  std::size_t columns_ = 0, rows_ = 0;
  std::vector<std::uint32_t> start_, members_;  // each cell's triangles
};

/// The field of `method` from the control points at `at` (the model's images of the fitted
/// source points, metres) and their corrections (destination − model(source), east, north and
/// height, metres). Needs three points not on one line for tin, four to 3000 spread across an
/// area (ThinPlateSmoother) for smooth; false with `problem` (a clause: "needs at least …",
/// "takes at most …") otherwise.
bool ModelDistortion(const std::vector<PlanePoint>& at, const std::vector<Point3>& corrections,
                     DistortionMethod method, DistortionField& field, std::string& problem);

}  // namespace Quorvane
