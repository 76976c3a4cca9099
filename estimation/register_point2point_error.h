// Residual of one pair of matching plane points under the seven-parameter similarity transform,
// for Ceres with automatic differentiation.
#pragma once

#include <Eigen/Core>
#include <ceres/autodiff_cost_function.h>
#include <ceres/cost_function.h>

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
  /// for values and ceres::Jet<double, 7> for values with derivatives.
  template <typename Scalar>
  bool operator()(const Scalar* const tx, const Scalar* const ty, const Scalar* const tz,
                  const Scalar* const /*rx*/, const Scalar* const /*ry*/, const Scalar* const rz,
                  const Scalar* const scale, Scalar* residual) const {
    using std::cos;
    using std::sin;
    using Matrix4 = Eigen::Matrix<Scalar, 4, 4>;
    const Scalar zero(0.0);
    const Scalar one(1.0);
    const Scalar c = cos(*rz);
    const Scalar s = sin(*rz);

    Matrix4 translation;
    translation << one, zero, zero, *tx,
                   zero, one, zero, *ty,
                   zero, zero, one, *tz,
                   zero, zero, zero, one;
    Matrix4 rotation;
    rotation << c, -s, zero, zero,
                s, c, zero, zero,
                zero, zero, one, zero,
                zero, zero, zero, one;
    Matrix4 scaling;
    scaling << *scale, zero, zero, zero,
               zero, *scale, zero, zero,
               zero, zero, *scale, zero,
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
};

}  // namespace Quorvane
