// Least-squares fit of the seven-parameter similarity transform to projected point pairs.
#pragma once

#include <vector>

#include <ceres/solver.h>

#include "common/point_list.h"

namespace Quorvane {

/// The fitted transform p ↦ scale · Rz(rz) · (p + t), t = (tx, ty, tz), on plane points (easting,
/// northing, height). Each member is a parameter block of its own for the solver, which writes
/// the fit into them in place; keep an object at one address while a fit runs.
struct TransformParams {
  double tx = 0.0;     // metres, in the source frame
  double ty = 0.0;     // metres
  double tz = 0.0;     // metres
  double rx = 0.0;     // radians; carried but not part of the model, so it stays 0
  double ry = 0.0;     // radians; likewise
  double rz = 0.0;     // radians, about the height axis, easting towards northing; not reduced
  double scale = 1.0;  // no unit
};

/// The solver's iteration limit of a fit (at most).
constexpr int kSolverIterations = 10000;

/// The fitted transform applied to one plane point (easting, northing, height, metres) as the
/// homogeneous 4×4 product (S·Rz)·T · (x, y, z, 1)ᵀ, in that order of multiplication; the
/// residual functor gives the same numbers but for the sign of a zero.
Point3 TransformPoint(const TransformParams& params, const Point3& point);

/// Fits `params` by non-linear least squares (Ceres, Levenberg–Marquardt with dense QR, at most
/// kSolverIterations iterations, parameter tolerance 1e-9) to the pairs (source[i],
/// destination[i]) for i below the smaller of the two sizes; destination points beyond the source list are ignored.
/// Starts from 0, 0, 0, 0, 0, 0, 1 and minimises the plain sum of squared residuals of
/// RegisterPoint2PointError (no loss function). With no pairs the start values stay.
///
/// The outcome is not judged here: `summary` tells whether the solve converged and what the final
/// cost is, and `params` holds whatever the solver left.
void FitTransform(const PointList& source, const PointList& destination, TransformParams& params,
                  ceres::Solver::Summary& summary);

/// The same fit to the pairs i below source.size() with fitted[i] true, and no others: exactly
/// what FitTransform gives for lists that hold only those pairs, in pair order (`destination` and
/// `fitted` have at least source.size() entries).
void FitTransform(const PointList& source, const PointList& destination,
                  const std::vector<bool>& fitted, TransformParams& params,
                  ceres::Solver::Summary& summary);

/// The same with the solver's iterations capped at `maxIterations` instead of kSolverIterations,
/// for inputs that have no optimum for the solver to reach.
void FitTransform(const PointList& source, const PointList& destination,
                  const std::vector<bool>& fitted, TransformParams& params,
                  ceres::Solver::Summary& summary, int maxIterations);

/// The same with each pair's residual rows weighted by its a priori precision: easting and
/// northing by 1/σ² of precision[i].horizontal, the height by 1/σ² of precision[i].vertical
/// (every σ above 0, metres), which makes it the weighted least squares; a null `precision` gives
/// the fit of unit weights above.
void FitTransform(const PointList& source, const PointList& destination,
                  const std::vector<bool>& fitted, const std::vector<Precision>* precision,
                  TransformParams& params, ceres::Solver::Summary& summary, int maxIterations);

}  // namespace Quorvane
