// What the models' own files share: counts and centroids of the pairs a component fits, and the
// parameters' common conversions. Not for use outside estimation/.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/point_list.h"
#include "estimation/model.h"

namespace Quorvane {
namespace ModelSupport {

constexpr double kArcSecondsPerRadian = 206264.80624709636;  // 648000 / π
constexpr double kPartsPerMillion = 1e6;
// π as the double quorvane.json's degrees have always been computed with.
constexpr double kPi = 3.141592653589793;

inline double Degrees(double radians) { return radians * 180.0 / kPi; }

inline std::size_t CountOf(const std::vector<bool>& used) {
  std::size_t count = 0;
  for (const bool u : used) count += u ? 1 : 0;
  return count;
}

inline bool AllFinite(const ModelParameters& params) {
  bool finite = true;
  for (const double value : params.values) finite = finite && std::isfinite(value);
  return finite;
}

// The five parameters of a similarity in the plane, tx, ty, tz (m), rz (arcsec) and scale (ppm),
// in the order of the plane models' parameter lists.
inline std::vector<ParameterInfo> PlaneSimilarityParameters() {
  return {
      {"tx", "m", 1.0, 4},
      {"ty", "m", 1.0, 4},
      {"tz", "m", 1.0, 4},
      {"rz", "arcsec", kArcSecondsPerRadian, 3},
      {"scale", "ppm", kPartsPerMillion, 3},
  };
}

inline double Largest(std::initializer_list<double> values) {
  double largest = 0.0;
  for (const double v : values) largest = std::max(largest, std::fabs(v));
  return largest;
}

inline bool IsOrigin(const Point3& p) { return p.x == 0.0 && p.y == 0.0 && p.z == 0.0; }

/// The one component of a model fitted as a whole: each pair's three residual rows and all
/// `parameters` of the model, in their order.
inline Component WholeComponent(std::size_t parameters) {
  Component whole{"", ComponentLayout::Whole, {}};
  for (std::size_t k = 0; k < parameters; ++k) whole.parameters.push_back(k);
  return whole;
}

/// The centroid of the source points that some mask of `used` marks, metres; the origin when
/// none is marked. Summed in long double about the first such point, so that coordinates of
/// millions of metres lose nothing.
Point3 CentroidOf(const PointList& source, const std::vector<std::vector<bool>>& used);

/// "1 pair is fitted", "2 pairs are fitted".
std::string PairsFitted(std::size_t m);

/// Why a similarity in the plane fitted to `m` pairs is not determined and what the fit gives
/// instead, for the warning: `what` is "transform" or "horizontal transform".
std::string PlaneSimilarityNotDetermined(const char* what, std::size_t m);

/// Text formatted as printf formats it, whole whatever its length (a number near the double's
/// limit has hundreds of digits in "%.8f").
std::string Printed(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ModelSupport
}  // namespace Quorvane
