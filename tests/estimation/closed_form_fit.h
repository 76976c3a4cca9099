// The exact least-squares optimum of the model q ≈ scale · Rz(rz) · (p + t), computed in closed
// form: an oracle independent of the iterative solver.
#pragma once

#include <cmath>
#include <cstddef>

#include "common/point_list.h"

namespace QuorvaneTest {

struct ClosedFormFit {
  double tx, ty, tz, rz, scale;
};

/// With centred coordinates p' = p − p̄, q' = q − q̄ over the pairs,
///   A = Σ(q'x·p'x + q'y·p'y), B = Σ(q'y·p'x − q'x·p'y), C = Σ q'z·p'z, P = Σ|p'|²,
/// the optimum is rz = atan2(B, A), scale = (√(A²+B²) + C) / P (valid when that is positive, as
/// on any realistic network), and t = (scale·Rz)⁻¹·q̄ − p̄. Sums are formed in long double so the
/// oracle is more exact than the solver it checks.
inline ClosedFormFit SolveClosedForm(const Quorvane::PointList& source,
                                     const Quorvane::PointList& destination) {
  using Real = long double;
  const std::size_t n = source.size();
  Real pm[3] = {0, 0, 0}, qm[3] = {0, 0, 0};
  for (std::size_t i = 0; i < n; ++i) {
    pm[0] += source[i].x, pm[1] += source[i].y, pm[2] += source[i].z;
    qm[0] += destination[i].x, qm[1] += destination[i].y, qm[2] += destination[i].z;
  }
  for (int k = 0; k < 3; ++k) pm[k] /= n, qm[k] /= n;

  Real a = 0, b = 0, c = 0, p = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const Real px = source[i].x - pm[0], py = source[i].y - pm[1], pz = source[i].z - pm[2];
    const Real qx = destination[i].x - qm[0], qy = destination[i].y - qm[1],
               qz = destination[i].z - qm[2];
    a += qx * px + qy * py;
    b += qy * px - qx * py;
    c += qz * pz;
    p += px * px + py * py + pz * pz;
  }
  const Real rz = std::atan2(b, a);
  const Real scale = (std::sqrt(a * a + b * b) + c) / p;
  // (scale·Rz)⁻¹ = Rz(−rz) / scale.
  const Real cs = std::cos(rz), sn = std::sin(rz);
  ClosedFormFit fit;
  fit.rz = static_cast<double>(rz);
  fit.scale = static_cast<double>(scale);
  fit.tx = static_cast<double>((cs * qm[0] + sn * qm[1]) / scale - pm[0]);
  fit.ty = static_cast<double>((-sn * qm[0] + cs * qm[1]) / scale - pm[1]);
  fit.tz = static_cast<double>(qm[2] / scale - pm[2]);
  return fit;
}

}  // namespace QuorvaneTest
