// The Delaunay triangulation of points in a plane, for the distortion's triangulated irregular
// network and the leave-one-out predictions made from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Quorvane {

/// A point of a plane, metres.
struct PlanePoint {
  double x = 0.0;
  double y = 0.0;
};

/// The lattice the triangulation decides its geometry on: every point is taken as the nearest
/// multiple of `quantum` in each coordinate, counted from the lattice point nearest the middle, so
/// that every orientation and circle test is exact. The quantum is a millimetre unless the points
/// spread over more than about 500 km from their middle, when it grows tenfold until the tests fit
/// in 128-bit integers; a snapped point is the double nearest the decimal it is.
struct PlaneLattice {
  double perMetre = 1000.0;  // lattice steps in a metre: 1000, a tenth of it for each tenfold
  std::int64_t baseI = 0, baseJ = 0;  // the middle, in steps from the plane's origin

  /// The lattice that holds every point within `halfExtent` metres of `middle`.
  static PlaneLattice Around(PlanePoint middle, double halfExtent);
  std::int64_t I(double x) const;
  std::int64_t J(double y) const;
  /// The lattice point nearest p.
  PlanePoint Snap(PlanePoint p) const;
};

/// Triangles over points, each three indices into the points counter-clockwise.
using Triangle = std::array<std::uint32_t, 3>;

/// The Delaunay triangulation of `points` (Bowyer–Watson insertion with a vertex at infinity,
/// the tests exact on `lattice`); a point on the same lattice point as an earlier one is not a
/// vertex of any triangle. No triangle when the points lie on one line.
std::vector<Triangle> DelaunayTriangles(const std::vector<PlanePoint>& points,
                                        const PlaneLattice& lattice);

/// The convex hull of `points` on `lattice`, counter-clockwise, without points inside its sides
/// (Andrew's monotone chain): indices into `points`.
std::vector<std::size_t> ConvexHull(const std::vector<PlanePoint>& points,
                                    const PlaneLattice& lattice);

/// The barycentric weights of p in triangle (a, b, c), summing to 1: all three at least 0 when p
/// lies in it.
std::array<double, 3> Barycentric(PlanePoint p, PlanePoint a, PlanePoint b, PlanePoint c);

}  // namespace Quorvane
