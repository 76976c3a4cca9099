// Bowyer–Watson insertion (Bowyer 1981, Watson 1981): each point removes the triangles whose
// circumcircle holds it and fills the cavity with triangles to it. The hull is closed by
// triangles to a vertex at infinity, so that a point outside the hull is inserted like one inside
// (the cavity then takes the hull sides that see it). Orientation and circle tests are exact on a
// lattice, in 128-bit integers: a regular pattern of control points, four on one circle, would
// otherwise let rounding give a cavity that is not star-shaped and a broken triangulation.
#include "estimation/delaunay.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Quorvane {

namespace {

__extension__ typedef __int128 Wide;

// Lattice coordinates within ±2^29 of the origin keep the circle test's sum of products of four
// differences (each below 2^30) under 2^124.
constexpr double kLatticeReach = 536870912.0;

struct Node {
  std::int64_t i;
  std::int64_t j;
  bool operator==(const Node& o) const { return i == o.i && j == o.j; }
};

int Orient(const Node& a, const Node& b, const Node& c) {
  const Wide d = Wide(b.i - a.i) * (c.j - a.j) - Wide(b.j - a.j) * (c.i - a.i);
  return d > 0 ? 1 : d < 0 ? -1 : 0;
}

// > 0 when d lies strictly inside the circle through the counter-clockwise a, b, c.
int InCircle(const Node& a, const Node& b, const Node& c, const Node& d) {
  const Wide adx = a.i - d.i, ady = a.j - d.j;
  const Wide bdx = b.i - d.i, bdy = b.j - d.j;
  const Wide cdx = c.i - d.i, cdy = c.j - d.j;
  const Wide det = (adx * adx + ady * ady) * (bdx * cdy - bdy * cdx) +
                   (bdx * bdx + bdy * bdy) * (cdx * ady - cdy * adx) +
                   (cdx * cdx + cdy * cdy) * (adx * bdy - ady * bdx);
  return det > 0 ? 1 : det < 0 ? -1 : 0;
}

// Whether p lies strictly between a and b on their line.
bool StrictlyBetween(const Node& a, const Node& b, const Node& p) {
  const Wide along = Wide(p.i - a.i) * (b.i - a.i) + Wide(p.j - a.j) * (b.j - a.j);
  const Wide back = Wide(p.i - b.i) * (a.i - b.i) + Wide(p.j - b.j) * (a.j - b.j);
  return along > 0 && back > 0;
}

constexpr std::uint32_t kInfinite = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// A triangle, counter-clockwise; n[k] lies across the side opposite v[k]. One vertex at infinity
// makes it a hull side's outer triangle.
struct Face {
  std::uint32_t v[3];
  std::uint32_t n[3];
  bool alive;
};

class Builder {
 public:
  Builder(const std::vector<Node>& nodes, std::size_t points) : nodes_(nodes) {
    faces_.reserve(8 * points);
    mark_.reserve(8 * points);
  }

  bool Start(std::uint32_t a, std::uint32_t b, std::uint32_t c);
  void Insert(std::uint32_t p);
  std::vector<Triangle> Triangles() const;

 private:
  bool Conflicts(std::uint32_t face, const Node& p) const;
  std::uint32_t Locate(const Node& p) const;
  void LinkAmong(const std::vector<std::uint32_t>& faces);
  std::uint32_t Add(std::uint32_t a, std::uint32_t b, std::uint32_t c);

  const std::vector<Node>& nodes_;
  std::vector<Face> faces_;
  std::uint32_t last_ = 0;  // a live finite face, where the next walk starts
  std::vector<std::uint32_t> mark_;
  std::uint32_t stamp_ = 0;
  // Each insertion's working lists, kept from one to the next.
  struct Side {
    std::uint32_t u, w, outside, from;
  };
  std::vector<std::uint32_t> stack_, cavity_, made_;
  std::vector<Side> sides_;
};

std::uint32_t Builder::Add(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  faces_.push_back(Face{{a, b, c}, {kNone, kNone, kNone}, true});
  mark_.push_back(0);
  return static_cast<std::uint32_t>(faces_.size() - 1);
}

// Links the faces of `faces` that share a side.
void Builder::LinkAmong(const std::vector<std::uint32_t>& faces) {
  for (std::uint32_t f : faces) {
    for (int k = 0; k < 3; ++k) {
      if (faces_[f].n[k] != kNone) continue;
      const std::uint32_t u = faces_[f].v[(k + 1) % 3], w = faces_[f].v[(k + 2) % 3];
      for (std::uint32_t g : faces) {
        if (g == f) continue;
        for (int m = 0; m < 3; ++m) {
          if (faces_[g].v[(m + 1) % 3] == w && faces_[g].v[(m + 2) % 3] == u) {
            faces_[f].n[k] = g;
            faces_[g].n[m] = f;
          }
        }
      }
    }
  }
}

bool Builder::Start(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  if (Orient(nodes_[a], nodes_[b], nodes_[c]) < 0) std::swap(b, c);
  const std::vector<std::uint32_t> start = {Add(a, b, c), Add(c, b, kInfinite),
                                            Add(a, c, kInfinite), Add(b, a, kInfinite)};
  LinkAmong(start);
  last_ = start[0];
  return true;
}

// A finite face conflicts with p when its circumcircle holds p; a hull side's outer face when p
// lies beyond the side, or on it between its ends.
bool Builder::Conflicts(std::uint32_t face, const Node& p) const {
  const Face& f = faces_[face];
  for (int k = 0; k < 3; ++k) {
    if (f.v[k] != kInfinite) continue;
    const Node& x = nodes_[f.v[(k + 1) % 3]];
    const Node& y = nodes_[f.v[(k + 2) % 3]];
    const int side = Orient(x, y, p);
    return side > 0 || (side == 0 && StrictlyBetween(x, y, p));
  }
  return InCircle(nodes_[f.v[0]], nodes_[f.v[1]], nodes_[f.v[2]], p) > 0;
}

// A face in conflict with p, by a straight walk from the last face made (it ends in a Delaunay
// triangulation); a search of every face should it not.
std::uint32_t Builder::Locate(const Node& p) const {
  std::uint32_t t = last_;
  for (std::size_t step = 0; step < faces_.size() + 8; ++step) {
    const Face& f = faces_[t];
    if (f.v[0] == kInfinite || f.v[1] == kInfinite || f.v[2] == kInfinite) return t;
    std::uint32_t next = kNone;
    for (int k = 0; k < 3 && next == kNone; ++k) {
      if (Orient(nodes_[f.v[(k + 1) % 3]], nodes_[f.v[(k + 2) % 3]], p) < 0) next = f.n[k];
    }
    if (next == kNone) return t;
    t = next;
  }
  for (std::uint32_t face = 0; face < faces_.size(); ++face) {
    if (faces_[face].alive && Conflicts(face, p)) return face;
  }
  return kNone;
}

void Builder::Insert(std::uint32_t p) {
  const Node& point = nodes_[p];
  const std::uint32_t first = Locate(point);
  if (first == kNone || !Conflicts(first, point)) return;
  // The cavity, grown from the first face over the faces in conflict; each side it leaves by
  // becomes a new face to p.
  ++stamp_;
  const std::uint32_t in = 2 * stamp_, out = 2 * stamp_ + 1;
  stack_.assign(1, first);
  cavity_.clear();
  sides_.clear();
  made_.clear();
  mark_[first] = in;
  while (!stack_.empty()) {
    const std::uint32_t t = stack_.back();
    stack_.pop_back();
    cavity_.push_back(t);
    for (int k = 0; k < 3; ++k) {
      const std::uint32_t nb = faces_[t].n[k];
      if (mark_[nb] != in && mark_[nb] != out) {
        mark_[nb] = Conflicts(nb, point) ? in : out;
        if (mark_[nb] == in) stack_.push_back(nb);
      }
      if (mark_[nb] == out) {
        sides_.push_back({faces_[t].v[(k + 1) % 3], faces_[t].v[(k + 2) % 3], nb, t});
      }
    }
  }
  for (std::uint32_t t : cavity_) faces_[t].alive = false;
  for (const Side& side : sides_) {
    const std::uint32_t face = Add(side.u, side.w, p);
    faces_[face].n[2] = side.outside;
    for (std::uint32_t& back : faces_[side.outside].n) {
      if (back == side.from) back = face;
    }
    if (side.u != kInfinite && side.w != kInfinite) last_ = face;
    made_.push_back(face);
  }
  LinkAmong(made_);
}

std::vector<Triangle> Builder::Triangles() const {
  std::vector<Triangle> triangles;
  for (const Face& f : faces_) {
    if (!f.alive || f.v[0] == kInfinite || f.v[1] == kInfinite || f.v[2] == kInfinite) continue;
    triangles.push_back({f.v[0], f.v[1], f.v[2]});
  }
  return triangles;
}

// A Morton (Z-order) key of a lattice point, so that points inserted one after another lie near
// each other and each walk is short.
std::uint64_t MortonKey(const Node& n, const Node& low, int shift) {
  const auto spread = [](std::uint64_t v) {
    v &= 0xFFFFFFFFu;
    v = (v | (v << 16)) & 0x0000FFFF0000FFFFull;
    v = (v | (v << 8)) & 0x00FF00FF00FF00FFull;
    v = (v | (v << 4)) & 0x0F0F0F0F0F0F0F0Full;
    v = (v | (v << 2)) & 0x3333333333333333ull;
    v = (v | (v << 1)) & 0x5555555555555555ull;
    return v;
  };
  return spread(static_cast<std::uint64_t>(n.i - low.i) >> shift) |
         (spread(static_cast<std::uint64_t>(n.j - low.j) >> shift) << 1);
}

std::vector<Node> Nodes(const std::vector<PlanePoint>& points, const PlaneLattice& lattice) {
  std::vector<Node> nodes;
  nodes.reserve(points.size());
  for (const PlanePoint& p : points) nodes.push_back({lattice.I(p.x), lattice.J(p.y)});
  return nodes;
}

}  // namespace

PlaneLattice PlaneLattice::Around(PlanePoint middle, double halfExtent) {
  PlaneLattice lattice;
  while (halfExtent * lattice.perMetre >= kLatticeReach && lattice.perMetre > 1e-6) {
    lattice.perMetre /= 10.0;
  }
  lattice.baseI = std::llround(middle.x * lattice.perMetre);
  lattice.baseJ = std::llround(middle.y * lattice.perMetre);
  return lattice;
}

std::int64_t PlaneLattice::I(double x) const { return std::llround(x * perMetre) - baseI; }

std::int64_t PlaneLattice::J(double y) const { return std::llround(y * perMetre) - baseJ; }

PlanePoint PlaneLattice::Snap(PlanePoint p) const {
  // A division by the whole number of steps rounds once, to the double nearest the decimal.
  return {static_cast<double>(std::llround(p.x * perMetre)) / perMetre,
          static_cast<double>(std::llround(p.y * perMetre)) / perMetre};
}

std::vector<Triangle> DelaunayTriangles(const std::vector<PlanePoint>& points,
                                        const PlaneLattice& lattice) {
  const std::vector<Node> nodes = Nodes(points, lattice);
  // The first of the points on each lattice point, in the order of a Morton key, so that points
  // inserted one after another lie near each other.
  std::vector<std::uint32_t> order(nodes.size());
  for (std::uint32_t k = 0; k < order.size(); ++k) order[k] = k;
  const auto byPlace = [&](std::uint32_t a, std::uint32_t b) {
    const Node &p = nodes[a], &q = nodes[b];
    return p.i != q.i ? p.i < q.i : p.j != q.j ? p.j < q.j : a < b;
  };
  std::sort(order.begin(), order.end(), byPlace);
  order.erase(std::unique(order.begin(), order.end(),
                          [&](std::uint32_t a, std::uint32_t b) { return nodes[a] == nodes[b]; }),
              order.end());
  if (order.size() < 3) return {};
  Node low = nodes[order[0]], high = low;
  for (std::uint32_t k : order) {
    low = {std::min(low.i, nodes[k].i), std::min(low.j, nodes[k].j)};
    high = {std::max(high.i, nodes[k].i), std::max(high.j, nodes[k].j)};
  }
  int shift = 0;
  while (((high.i - low.i) >> shift) > 0xFFFF || ((high.j - low.j) >> shift) > 0xFFFF) ++shift;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed;
  keyed.reserve(order.size());
  for (std::uint32_t k : order) keyed.emplace_back(MortonKey(nodes[k], low, shift), k);
  std::sort(keyed.begin(), keyed.end());
  for (std::size_t k = 0; k < keyed.size(); ++k) order[k] = keyed[k].second;
  // The first three points not on one line start the triangulation.
  const Node& a = nodes[order[0]];
  const Node& b = nodes[order[1]];
  std::size_t third = 2;
  while (third < order.size() && Orient(a, b, nodes[order[third]]) == 0) ++third;
  if (third == order.size()) return {};
  Builder builder(nodes, order.size());
  builder.Start(order[0], order[1], order[third]);
  for (std::size_t k = 2; k < order.size(); ++k) {
    if (k != third) builder.Insert(order[k]);
  }
  return builder.Triangles();
}

std::vector<std::size_t> ConvexHull(const std::vector<PlanePoint>& points,
                                    const PlaneLattice& lattice) {
  const std::vector<Node> nodes = Nodes(points, lattice);
  std::vector<std::size_t> order(points.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return nodes[a].i != nodes[b].i ? nodes[a].i < nodes[b].i : nodes[a].j < nodes[b].j;
  });
  order.erase(std::unique(order.begin(), order.end(),
                          [&](std::size_t a, std::size_t b) { return nodes[a] == nodes[b]; }),
              order.end());
  if (order.size() < 3) return order;
  std::vector<std::size_t> hull(2 * order.size());
  std::size_t k = 0;
  const auto add = [&](std::size_t p, std::size_t floor) {
    while (k >= floor && Orient(nodes[hull[k - 2]], nodes[hull[k - 1]], nodes[p]) <= 0) --k;
    hull[k++] = p;
  };
  for (std::size_t p : order) add(p, 2);
  const std::size_t lower = k + 1;
  for (std::size_t m = order.size() - 1; m-- > 0;) add(order[m], lower);
  hull.resize(k - 1);
  return hull;
}

std::array<double, 3> Barycentric(PlanePoint p, PlanePoint a, PlanePoint b, PlanePoint c) {
  const double det = (b.y - c.y) * (a.x - c.x) + (c.x - b.x) * (a.y - c.y);
  const double la = ((b.y - c.y) * (p.x - c.x) + (c.x - b.x) * (p.y - c.y)) / det;
  const double lb = ((c.y - a.y) * (p.x - c.x) + (a.x - c.x) * (p.y - c.y)) / det;
  return {la, lb, 1.0 - la - lb};
}

}  // namespace Quorvane
