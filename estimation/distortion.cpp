// The distortion field: the control points merged where they share a place, their hull and the
// margin beyond it, the triangulation (tin) or the spline's grid (smooth, distortion_grid.cpp),
// the ring of zero corrections that closes the field, and the leave-one-out predictions.
#include "estimation/distortion.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_map>

#include "estimation/distortion_grid.h"
#include "estimation/thin_plate.h"

namespace Quorvane {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The margin over which corrections fall to zero beyond the hull, in mean spacings of the control
// points (√(hull area / points)): about the distance over which the residuals of a network's
// neighbours still resemble each other.
constexpr double kMarginSpacings = 2.0;
// The largest turn between the ring's points around a corner of the hull.
constexpr double kRingArcStep = kPi / 12.0;
// Corrections are kept to the hundredth of a millimetre, so that the file's numbers are short
// (PROJ reads no triangulation over 10 MiB) and what it says is what the tool applies.
constexpr double kCorrectionSteps = 1e5;  // a metre

// The most control points smooth takes: its spline's decomposition grows as the cube of their
// number, about 1 s at 1,000 and half a minute at 3,000.
constexpr std::size_t kMostSmoothPairs = 3000;

// How far beyond the hull a point still counts as within it, metres.
constexpr double kHullTolerance = 1e-3;

// A point is in a triangle when its barycentric weights are all above this: a point on a shared
// side then finds one of its two triangles, which give it the same correction.
constexpr double kInTriangle = -1e-12;

struct Control {
  std::vector<PlanePoint> at;
  std::vector<Point3> correction;
  std::size_t merged = 0;
};

// Points on one lattice point are one control point with their mean correction.
Control Merge(const std::vector<PlanePoint>& at, const std::vector<Point3>& corrections,
              const PlaneLattice& lattice) {
  Control control;
  std::unordered_map<std::int64_t, std::unordered_map<std::int64_t, std::size_t>> seen;
  std::vector<double> count;
  for (std::size_t k = 0; k < at.size(); ++k) {
    const auto found = seen[lattice.I(at[k].x)].emplace(lattice.J(at[k].y), control.at.size());
    const Point3& c = corrections[k];
    if (found.second) {
      control.at.push_back(lattice.Snap(at[k]));
      control.correction.push_back(c);
      count.push_back(1.0);
      continue;
    }
    const std::size_t j = found.first->second;
    Point3& mean = control.correction[j];
    count[j] += 1.0;
    mean = Point3(mean.x + (c.x - mean.x) / count[j], mean.y + (c.y - mean.y) / count[j],
                  mean.z + (c.z - mean.z) / count[j]);
    ++control.merged;
  }
  return control;
}

double Cross(PlanePoint o, PlanePoint a, PlanePoint b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

double HullArea(const std::vector<PlanePoint>& hull) {
  double twice = 0.0;
  for (std::size_t k = 0; k + 2 < hull.size(); ++k) twice += Cross(hull[0], hull[k + 1], hull[k + 2]);
  return 0.5 * twice;
}

PlanePoint OutwardNormal(PlanePoint a, PlanePoint b) {
  const double dx = b.x - a.x, dy = b.y - a.y, length = std::hypot(dx, dy);
  return {dy / length, -dx / length};
}

// The boundary of the hull grown by `margin`: at each corner an arc from the normal of the side
// before to that of the side after; `arcs` receives the index of each corner's first arc point,
// and the ring's size last.
std::vector<PlanePoint> Ring(const std::vector<PlanePoint>& hull, double margin,
                             std::vector<std::size_t>& arcs) {
  std::vector<PlanePoint> ring;
  const std::size_t h = hull.size();
  for (std::size_t k = 0; k < h; ++k) {
    arcs.push_back(ring.size());
    const PlanePoint before = OutwardNormal(hull[(k + h - 1) % h], hull[k]);
    const PlanePoint after = OutwardNormal(hull[k], hull[(k + 1) % h]);
    double from = std::atan2(before.y, before.x), to = std::atan2(after.y, after.x);
    if (to < from) to += 2.0 * kPi;
    const int steps = std::max(1, static_cast<int>(std::ceil((to - from) / kRingArcStep)));
    for (int s = 0; s <= steps; ++s) {
      const double angle = from + (to - from) * s / steps;
      ring.push_back({hull[k].x + margin * std::cos(angle), hull[k].y + margin * std::sin(angle)});
    }
  }
  arcs.push_back(ring.size());
  return ring;
}

// Closes the field with a band of zero corrections `width` wide around its hull, so that PROJ's
// nearest-side rule beyond the triangles (format 1.1) takes a triangle whose corrections are all
// zero, as CorrectionAt does.
void AddZeroBand(DistortionField& field, const PlaneLattice& lattice, double width) {
  std::vector<PlanePoint> places;
  for (const DistortionVertex& v : field.vertices) places.push_back(v.at);
  const std::vector<std::size_t> hull = ConvexHull(places, lattice);
  const std::size_t h = hull.size(), first = field.vertices.size();
  for (std::size_t k = 0; k < h; ++k) {
    const PlanePoint& p = places[hull[k]];
    const PlanePoint before = OutwardNormal(places[hull[(k + h - 1) % h]], p);
    const PlanePoint after = OutwardNormal(p, places[hull[(k + 1) % h]]);
    const double nx = before.x + after.x, ny = before.y + after.y, length = std::hypot(nx, ny);
    field.vertices.push_back({{p.x + width * nx / length, p.y + width * ny / length}, Point3()});
  }
  for (std::size_t k = 0; k < h; ++k) {
    const auto a = static_cast<std::uint32_t>(hull[k]), b = static_cast<std::uint32_t>(hull[(k + 1) % h]);
    const auto outA = static_cast<std::uint32_t>(first + k);
    const auto outB = static_cast<std::uint32_t>(first + (k + 1) % h);
    field.triangles.push_back({a, outB, b});
    field.triangles.push_back({a, outA, outB});
  }
}

double Rms(double sum, std::size_t count) { return count > 0 ? std::sqrt(sum / count) : 0.0; }

// Adds one point's leave-one-out residual to the sums of its kind.
struct LooSums {
  double horizontal = 0.0, vertical = 0.0;
  std::size_t count = 0;
  void Add(const Point3& e) {
    horizontal += e.x * e.x + e.y * e.y;
    vertical += e.z * e.z;
    ++count;
  }
  LeaveOneOut Result() const { return {count, Rms(horizontal, count), Rms(vertical, count)}; }
};

std::vector<bool> OnHull(const std::vector<PlanePoint>& at, const PlaneLattice& lattice) {
  std::vector<bool> on(at.size(), false);
  for (std::size_t k : ConvexHull(at, lattice)) on[k] = true;
  return on;
}

// Each control point's correction predicted by the triangulation without it: the Delaunay
// triangulation of its neighbours fills the hole its removal leaves, and the triangle of that
// fill that holds it interpolates their corrections (a hull point's neighbours include the zero
// ring: the outside rule).
void TinLeaveOneOut(DistortionField& field, std::size_t count, const PlaneLattice& lattice) {
  std::vector<std::vector<std::uint32_t>> around(count);
  for (const Triangle& t : field.triangles) {
    for (int k = 0; k < 3; ++k) {
      if (t[k] < count) {
        around[t[k]].push_back(t[(k + 1) % 3]);
        around[t[k]].push_back(t[(k + 2) % 3]);
      }
    }
  }
  std::vector<PlanePoint> at;
  for (std::size_t k = 0; k < count; ++k) at.push_back(field.vertices[k].at);
  const std::vector<bool> onHull = OnHull(at, lattice);
  LooSums inside, hull;
  for (std::size_t v = 0; v < count; ++v) {
    std::vector<std::uint32_t>& ring = around[v];
    std::sort(ring.begin(), ring.end());
    ring.erase(std::unique(ring.begin(), ring.end()), ring.end());
    std::vector<PlanePoint> places;
    for (std::uint32_t k : ring) places.push_back(field.vertices[k].at);
    for (const Triangle& t : DelaunayTriangles(places, lattice)) {
      const auto w = Barycentric(at[v], places[t[0]], places[t[1]], places[t[2]]);
      if (w[0] < kInTriangle || w[1] < kInTriangle || w[2] < kInTriangle) continue;
      Point3 e = field.vertices[v].correction;
      for (int k = 0; k < 3; ++k) {
        const Point3& c = field.vertices[ring[t[k]]].correction;
        e = Point3(e.x - w[k] * c.x, e.y - w[k] * c.y, e.z - w[k] * c.z);
      }
      (onHull[v] ? hull : inside).Add(e);
      break;
    }
  }
  field.inside = inside.Result();
  field.onHull = hull.Result();
}

// The Delaunay triangulation of the control points alone, so that within their hull the
// correction is theirs; then the band between the hull and the ring of zero corrections, a fan
// about each corner to its arc and two triangles along each side (a triangulation of control
// points and ring together would let a ring point reach inside the hull across a long side).
// `hull` indexes the control points of field.hull, and `arcs` the first ring point of each of
// its corners in field.reach (then the ring's size).
void BuildTin(const Control& control, const PlaneLattice& lattice,
              const std::vector<std::size_t>& hull, const std::vector<std::size_t>& arcs,
              DistortionField& field) {
  const std::size_t n = control.at.size();
  for (std::size_t k = 0; k < n; ++k) field.vertices.push_back({control.at[k], control.correction[k]});
  for (const PlanePoint& p : field.reach) field.vertices.push_back({lattice.Snap(p), Point3()});
  field.triangles = DelaunayTriangles(control.at, lattice);
  const auto add = [&](std::size_t a, std::size_t b, std::size_t c) {
    // A triangle that snapping to the lattice flattened covers nothing.
    if (Cross(field.vertices[a].at, field.vertices[b].at, field.vertices[c].at) > 0.0) {
      field.triangles.push_back({static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b),
                                 static_cast<std::uint32_t>(c)});
    }
  };
  const std::size_t h = hull.size();
  for (std::size_t k = 0; k < h; ++k) {
    const std::size_t next = (k + 1) % h;
    for (std::size_t a = arcs[k]; a + 1 < arcs[k + 1]; ++a) add(hull[k], n + a, n + a + 1);
    add(hull[k], n + arcs[k + 1] - 1, n + arcs[next]);
    add(hull[k], n + arcs[next], hull[next]);
  }
  field.controlVertices = n;
  TinLeaveOneOut(field, n, lattice);
}

// The spline fitted to the corrections, east and north with one smoothing and heights with
// their own, tapered beyond the hull and sampled on the grid.
bool BuildSmooth(const Control& control, const PlaneLattice& lattice, DistortionField& field,
                 std::string& problem) {
  if (control.at.size() > kMostSmoothPairs) {
    problem = "takes at most " + std::to_string(kMostSmoothPairs) +
              " control points (its cost grows as the cube of their number; tin takes any)";
    return false;
  }
  const ThinPlateSmoother spline(control.at);
  if (!spline.Usable()) {
    problem = "needs at least four control points spread across an area, not within a "
              "thousandth of their extent of one line (tin takes them)";
    return false;
  }
  std::vector<double> east, north, height;
  for (const Point3& c : control.correction) {
    east.push_back(c.x), north.push_back(c.y), height.push_back(c.z);
  }
  std::vector<ThinPlateFit> fits = spline.Fit({east, north});
  fits.push_back(spline.Fit({height})[0]);
  field.smoothingHorizontal = fits[0].smoothing;
  field.smoothingVertical = fits[2].smoothing;
  const std::vector<bool> onHull = OnHull(control.at, lattice);
  LooSums inside, hull;
  for (std::size_t k = 0; k < control.at.size(); ++k) {
    (onHull[k] ? hull : inside)
        .Add(Point3(fits[0].leaveOneOut[k], fits[1].leaveOneOut[k], fits[2].leaveOneOut[k]));
  }
  field.inside = inside.Result();
  field.onHull = hull.Result();
  const FieldAt at = [&](PlanePoint p, double* values) {
    const double t = field.DistanceOutside(p) / field.margin;
    if (t >= 1.0) {
      values[0] = values[1] = values[2] = 0.0;
      return;
    }
    spline.Evaluate(fits, p, values);
    const double taper = 1.0 - t * t * (3.0 - 2.0 * t);
    for (int k = 0; k < 3; ++k) values[k] *= taper;
  };
  const ActiveAt active = [&](PlanePoint p) { return field.DistanceOutside(p) < field.margin; };
  PlanePoint low = field.hull[0], high = low;
  for (const PlanePoint& p : field.hull) {
    low = {std::min(low.x, p.x), std::min(low.y, p.y)};
    high = {std::max(high.x, p.x), std::max(high.y, p.y)};
  }
  SampleOnGrid(at, active, {low.x - field.margin, low.y - field.margin},
               {high.x + field.margin, high.y + field.margin}, field);
  return true;
}

}  // namespace

const char* DistortionName(DistortionMethod method) {
  return method == DistortionMethod::Tin ? "tin" : "smooth";
}

double DistortionField::DistanceOutside(PlanePoint p) const {
  const std::size_t h = hull.size();
  bool within = true;
  double nearest = std::numeric_limits<double>::infinity();
  for (std::size_t k = 0; k < h; ++k) {
    const PlanePoint a = hull[k], b = hull[(k + 1) % h];
    if (Cross(a, b, p) < 0.0) within = false;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    nearest = std::min(nearest, std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy));
  }
  return within ? 0.0 : nearest;
}

// The hull's corners lie on the millimetre lattice: a control point itself is within.
bool DistortionField::Inside(PlanePoint p) const { return DistanceOutside(p) <= kHullTolerance; }

void DistortionField::Index() {
  low_ = vertices.empty() ? PlanePoint() : vertices[0].at;
  PlanePoint high = low_;
  for (const DistortionVertex& v : vertices) {
    low_ = {std::min(low_.x, v.at.x), std::min(low_.y, v.at.y)};
    high = {std::max(high.x, v.at.x), std::max(high.y, v.at.y)};
  }
  // About two triangles to a cell.
  const double side = std::max(1.0, std::sqrt(triangles.size() / 2.0));
  columns_ = rows_ = static_cast<std::size_t>(side);
  cell_ = {std::max((high.x - low_.x) / columns_, 1e-9), std::max((high.y - low_.y) / rows_, 1e-9)};
  const auto range = [&](const Triangle& t, std::size_t (&c)[2], std::size_t (&r)[2]) {
    PlanePoint a = vertices[t[0]].at, b = a;
    for (int k = 1; k < 3; ++k) {
      a = {std::min(a.x, vertices[t[k]].at.x), std::min(a.y, vertices[t[k]].at.y)};
      b = {std::max(b.x, vertices[t[k]].at.x), std::max(b.y, vertices[t[k]].at.y)};
    }
    const auto clampTo = [](double v, std::size_t n) {
      return static_cast<std::size_t>(std::clamp(v, 0.0, double(n - 1)));
    };
    c[0] = clampTo((a.x - low_.x) / cell_.x, columns_), c[1] = clampTo((b.x - low_.x) / cell_.x, columns_);
    r[0] = clampTo((a.y - low_.y) / cell_.y, rows_), r[1] = clampTo((b.y - low_.y) / cell_.y, rows_);
  };
  std::vector<std::uint32_t> counts(columns_ * rows_ + 1, 0);
  std::size_t c[2], r[2];
  for (const Triangle& t : triangles) {
    range(t, c, r);
    for (std::size_t j = r[0]; j <= r[1]; ++j) {
      for (std::size_t i = c[0]; i <= c[1]; ++i) ++counts[j * columns_ + i + 1];
    }
  }
  std::partial_sum(counts.begin(), counts.end(), counts.begin());
  start_ = counts;
  members_.assign(counts.back(), 0);
  for (std::uint32_t k = 0; k < triangles.size(); ++k) {
    range(triangles[k], c, r);
    for (std::size_t j = r[0]; j <= r[1]; ++j) {
      for (std::size_t i = c[0]; i <= c[1]; ++i) members_[counts[j * columns_ + i]++] = k;
    }
  }
}

Point3 DistortionField::CorrectionAt(PlanePoint p) const {
  const double ci = std::floor((p.x - low_.x) / cell_.x), ri = std::floor((p.y - low_.y) / cell_.y);
  if (!(ci >= 0.0 && ri >= 0.0 && ci <= double(columns_) && ri <= double(rows_))) return Point3();
  const std::size_t cell = std::min(static_cast<std::size_t>(ri), rows_ - 1) * columns_ +
                           std::min(static_cast<std::size_t>(ci), columns_ - 1);
  for (std::uint32_t m = start_[cell]; m < start_[cell + 1]; ++m) {
    const Triangle& t = triangles[members_[m]];
    const auto w = Barycentric(p, vertices[t[0]].at, vertices[t[1]].at, vertices[t[2]].at);
    if (w[0] < kInTriangle || w[1] < kInTriangle || w[2] < kInTriangle) continue;
    Point3 sum;
    for (int k = 0; k < 3; ++k) {
      const Point3& c = vertices[t[k]].correction;
      sum = Point3(sum.x + w[k] * c.x, sum.y + w[k] * c.y, sum.z + w[k] * c.z);
    }
    return sum;
  }
  return Point3();
}

bool ModelDistortion(const std::vector<PlanePoint>& at, const std::vector<Point3>& corrections,
                     DistortionMethod method, DistortionField& field, std::string& problem) {
  field = DistortionField();
  field.method = method;
  field.pairs = at.size();
  PlanePoint low = at.empty() ? PlanePoint() : at[0], high = low;
  for (const PlanePoint& p : at) {
    low = {std::min(low.x, p.x), std::min(low.y, p.y)};
    high = {std::max(high.x, p.x), std::max(high.y, p.y)};
  }
  const double reach = std::max(high.x - low.x, high.y - low.y);
  // The points lie within half the reach of the middle, and the ring a margin beyond: a margin of
  // kMarginSpacings·√(area / points) is at most kMarginSpacings / √3 reaches, the hull's area
  // being at most reach² and its points three or more.
  const PlaneLattice lattice =
      PlaneLattice::Around({0.5 * (low.x + high.x), 0.5 * (low.y + high.y)},
                           (0.5 + kMarginSpacings / std::sqrt(3.0)) * reach + 1.0);
  const Control control = Merge(at, corrections, lattice);
  field.merged = control.merged;
  const std::vector<std::size_t> hull = ConvexHull(control.at, lattice);
  for (std::size_t k : hull) field.hull.push_back(control.at[k]);
  const double area = field.hull.size() >= 3 ? HullArea(field.hull) : 0.0;
  if (!(area > 0.0)) {
    problem = "needs at least three control points not all on one line";
    return false;
  }
  field.margin = kMarginSpacings * std::sqrt(area / control.at.size());
  std::vector<std::size_t> arcs;
  field.reach = Ring(field.hull, field.margin, arcs);
  if (method == DistortionMethod::Tin) {
    BuildTin(control, lattice, hull, arcs, field);
  } else if (!BuildSmooth(control, lattice, field, problem)) {
    return false;
  }
  AddZeroBand(field, lattice, field.margin);
  // Each vertex's place plus its correction, rounded, is the target the file gives.
  const auto rounded = [](double v) { return std::round(v * kCorrectionSteps) / kCorrectionSteps; };
  for (DistortionVertex& v : field.vertices) {
    v.correction = Point3(rounded(v.at.x + v.correction.x) - v.at.x,
                          rounded(v.at.y + v.correction.y) - v.at.y, rounded(v.correction.z));
  }
  field.Index();
  return true;
}

}  // namespace Quorvane
