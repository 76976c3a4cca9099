// The grid's spacing from the field's own curvature: linear interpolation across a cell errs by
// about h²/8 times the second derivative, so the error measured at the midpoints of a coarse
// grid, e₀ at spacing h₀, gives the spacing h = h₀·√(target / e₀) at which it is the target. The
// fine grid is then sampled and its error measured at every cell's centre (where the two
// triangles' interpolation is the mean of the diagonal's ends), and halved again should the
// measurement exceed the limit.
#include "estimation/distortion_grid.h"

#include <algorithm>
#include <cmath>

namespace Quorvane {

namespace {

// Aimed at half the limit, as PROJ interpolates the file.
constexpr double kGridTarget = 0.5 * kDistortionGridLimit;
// Cells across the longer side of the area, at least (the coarse grid); nodes at most, for a
// file of about 8 MiB (PROJ reads no triangulation over 10 MiB).
constexpr double kFewestCells = 32.0;
constexpr double kMostNodes = 90000.0;

struct Grid {
  PlanePoint origin;
  double spacing;
  std::size_t columns, rows;  // nodes
  std::vector<double> values;  // three per node, row by row from the south-west
  PlanePoint Node(std::size_t i, std::size_t j) const {
    return {origin.x + spacing * i, origin.y + spacing * j};
  }
  const double* At(std::size_t i, std::size_t j) const { return &values[3 * (j * columns + i)]; }
};

Grid Sample(const FieldAt& field, const ActiveAt& active, PlanePoint origin, double spacing,
            std::size_t columns, std::size_t rows) {
  Grid grid{origin, spacing, columns, rows, std::vector<double>(3 * columns * rows, 0.0)};
  for (std::size_t j = 0; j < rows; ++j) {
    for (std::size_t i = 0; i < columns; ++i) {
      const PlanePoint p = grid.Node(i, j);
      if (active(p)) field(p, &grid.values[3 * (j * columns + i)]);
    }
  }
  return grid;
}

// The larger of the horizontal and the vertical difference between `exact` and the mean of a
// and b, metres.
double Miss(const double* exact, const double* a, const double* b) {
  const double e = exact[0] - 0.5 * (a[0] + b[0]), n = exact[1] - 0.5 * (a[1] + b[1]);
  return std::max(std::hypot(e, n), std::fabs(exact[2] - 0.5 * (a[2] + b[2])));
}

// The error of the grid of every other node of `fine` at its midpoints and centres.
double CoarseError(const Grid& fine) {
  double worst = 0.0;
  for (std::size_t j = 0; j + 2 < fine.rows; j += 2) {
    for (std::size_t i = 0; i + 2 < fine.columns; i += 2) {
      worst = std::max({worst, Miss(fine.At(i + 1, j), fine.At(i, j), fine.At(i + 2, j)),
                        Miss(fine.At(i, j + 1), fine.At(i, j), fine.At(i, j + 2)),
                        Miss(fine.At(i + 1, j + 1), fine.At(i, j), fine.At(i + 2, j + 2))});
    }
  }
  return worst;
}

// The error of `grid` at its cells' centres.
double CentreError(const FieldAt& field, const ActiveAt& active, const Grid& grid) {
  double worst = 0.0, exact[3];
  for (std::size_t j = 0; j + 1 < grid.rows; ++j) {
    for (std::size_t i = 0; i + 1 < grid.columns; ++i) {
      const PlanePoint p = {grid.origin.x + grid.spacing * (i + 0.5),
                            grid.origin.y + grid.spacing * (j + 0.5)};
      if (!active(p)) continue;
      field(p, exact);
      worst = std::max(worst, Miss(exact, grid.At(i, j), grid.At(i + 1, j + 1)));
    }
  }
  return worst;
}

}  // namespace

void SampleOnGrid(const FieldAt& field, const ActiveAt& active, PlanePoint low, PlanePoint high,
                  DistortionField& out) {
  const double reach = std::max({high.x - low.x, high.y - low.y, 1.0});
  // Whole metres and nodes on their multiples keep the file's coordinates short and exact.
  const auto grid = [&](double spacing) {
    const PlanePoint origin = {(std::floor(low.x / spacing) - 2.0) * spacing,
                               (std::floor(low.y / spacing) - 2.0) * spacing};
    const auto nodes = [&](double from, double to) {
      return static_cast<std::size_t>(std::ceil((to - from) / spacing)) + 3;
    };
    return Sample(field, active, origin, spacing, nodes(origin.x, high.x),
                  nodes(origin.y, high.y));
  };
  const double finest = std::max(
      1.0, std::ceil(std::sqrt((high.x - low.x + 4.0) * (high.y - low.y + 4.0) / kMostNodes)));
  const double coarse = std::max(finest, std::floor(reach / kFewestCells));
  const double e0 = CoarseError(grid(0.5 * coarse));
  double spacing = e0 > 0.0 ? coarse * std::sqrt(kGridTarget / e0) : coarse;
  spacing = std::floor(std::clamp(spacing, finest, coarse));
  Grid fine = grid(spacing);
  double error = CentreError(field, active, fine);
  while (error > kDistortionGridLimit && spacing > finest) {
    spacing = std::max(std::floor(0.5 * spacing), finest);
    fine = grid(spacing);
    error = CentreError(field, active, fine);
  }
  out.spacing = spacing;
  out.gridError = error;
  for (std::size_t j = 0; j < fine.rows; ++j) {
    for (std::size_t i = 0; i < fine.columns; ++i) {
      const double* v = fine.At(i, j);
      out.vertices.push_back({fine.Node(i, j), Point3(v[0], v[1], v[2])});
    }
  }
  for (std::size_t j = 0; j + 1 < fine.rows; ++j) {
    for (std::size_t i = 0; i + 1 < fine.columns; ++i) {
      const auto a = static_cast<std::uint32_t>(j * fine.columns + i);
      const auto b = a + 1, c = a + 1 + static_cast<std::uint32_t>(fine.columns);
      const auto d = a + static_cast<std::uint32_t>(fine.columns);
      out.triangles.push_back({a, b, c});
      out.triangles.push_back({a, c, d});
    }
  }
}

}  // namespace Quorvane
