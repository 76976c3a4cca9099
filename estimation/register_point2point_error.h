// Residual of one pair of matching plane points under the seven-parameter similarity transform,
// for Ceres with automatic differentiation.
#pragma once

#include <cmath>

#include <Eigen/Core>
#include <ceres/autodiff_cost_function.h>
#include <ceres/cost_function.h>
#include <ceres/jet.h>

namespace Quorvane {

/// One projected source point and its projected destination point (easting, northing, height, all
/// in metres), and the residual of the model
///
///   residual = S(scale) · Rz(rz) · T(tx, ty, tz) · (srcX, srcY, srcZ, 1)ᵀ − (desX, desY, desZ)
///
/// over seven one-scalar parameter blocks in the order tx, ty, tz (metres), rx, ry, rz (radians),
/// scale (no unit). The translation acts first, in the source frame, then the rotation about the
/// height axis (a positive rz turns easting towards northing), then the uniform scale, which
/// scales heights too. rx and ry are parameters but are never read: their derivatives are zero.
/// No input is validated; non-finite values give non-finite residuals.
struct RegisterPoint2PointError {
  RegisterPoint2PointError(double srcX_, double srcY_, double srcZ_, double desX_, double desY_,
                           double desZ_)
      : srcX(srcX_), srcY(srcY_), srcZ(srcZ_), desX(desX_), desY(desY_), desZ(desZ_) {}

  /// Three residuals in metres (easting, northing, height); always returns true. Scalar is double
  /// for values and ceres::Jet<double, 7> for values with derivatives. The numbers are those of
  /// the 4×4 product above, bit for bit but for the sign of a zero, for any input.
  template <typename Scalar>
  bool operator()(const Scalar* const tx, const Scalar* const ty, const Scalar* const tz,
                  const Scalar* const /*rx*/, const Scalar* const /*ry*/, const Scalar* const rz,
                  const Scalar* const scale, Scalar* residual) const {
    // Most entries of S·Rz·T are exact zeros and ones. With finite numbers a product with an
    // exact zero is a zero and adding it changes nothing (but the sign of a zero), so the product
    // reduces to these terms, grouped as Eigen's 4×4 products group their sums: a tenth of the Jet
    // arithmetic, which is most of the solver's time. M = S·Rz·T has the rows
    // (a, b, 0, a·tx + b·ty), (d, a, 0, d·tx + a·ty), (0, 0, scale, scale·tz).
    using std::cos;
    using std::sin;
    const Scalar c = cos(*rz);
    const Scalar s = sin(*rz);
    const Scalar a = *scale * c;
    const Scalar b = *scale * (-s);
    const Scalar d = *scale * s;
    residual[0] = ((a * srcX + b * srcY) + (a * *tx + b * *ty)) - desX;
    residual[1] = ((d * srcX + a * srcY) + (d * *tx + a * *ty)) - desY;
    residual[2] = (*scale * srcZ + *scale * *tz) - desZ;
    // Each value the full product multiplies by a zero also enters a residual above through
    // products and sums, so a non-finite one leaves a residual non-finite. Only then can a left-out
    // 0·∞ = NaN matter, and only then is the full product formed.
    if (AllFinite(residual[0]) && AllFinite(residual[1]) && AllFinite(residual[2])) return true;
    return ByMatrixProduct(*tx, *ty, *tz, c, s, *scale, residual);
  }

  /// A new cost function of three residuals over seven one-scalar blocks that owns a new functor
  /// for this pair. The caller hands it to a ceres::Problem, which then owns it.
  static ceres::CostFunction* Create(double srcX, double srcY, double srcZ, double desX,
                                     double desY, double desZ) {
    return new ceres::AutoDiffCostFunction<RegisterPoint2PointError, 3, 1, 1, 1, 1, 1, 1, 1>(
        new RegisterPoint2PointError(srcX, srcY, srcZ, desX, desY, desZ));
  }

  const double srcX;
  const double srcY;
  const double srcZ;
  const double desX;
  const double desY;
  const double desZ;

 private:
  static bool AllFinite(double x) { return std::isfinite(x); }
  template <int N>
  static bool AllFinite(const ceres::Jet<double, N>& x) {
    return std::isfinite(x.a) && x.v.allFinite();
  }

  // The residual as the matrix product (S·Rz)·T·(srcX, srcY, srcZ, 1)ᵀ, every entry included.
  template <typename Scalar>
  bool ByMatrixProduct(const Scalar& tx, const Scalar& ty, const Scalar& tz, const Scalar& c,
                       const Scalar& s, const Scalar& scale, Scalar* residual) const {
    using Matrix4 = Eigen::Matrix<Scalar, 4, 4>;
    const Scalar zero(0.0);
    const Scalar one(1.0);

    Matrix4 translation;
    translation << one, zero, zero, tx,
                   zero, one, zero, ty,
                   zero, zero, one, tz,
                   zero, zero, zero, one;
    Matrix4 rotation;
    rotation << c, -s, zero, zero,
                s, c, zero, zero,
                zero, zero, one, zero,
                zero, zero, zero, one;
    Matrix4 scaling;
    scaling << scale, zero, zero, zero,
               zero, scale, zero, zero,
               zero, zero, scale, zero,
               zero, zero, zero, one;
    const Matrix4 transform = (scaling * rotation) * translation;

    const Eigen::Vector4d source(srcX, srcY, srcZ, 1.0);
    const Eigen::Matrix<Scalar, 4, 1> mapped = transform * source;
    // mapped[3] is always 1 and takes no part.
    residual[0] = mapped[0] - desX;
    residual[1] = mapped[1] - desY;
    residual[2] = mapped[2] - desZ;
    return true;
  }
};

}  // namespace Quorvane
