#include "estimation/fit_transform.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Core>
#include <ceres/problem.h>

#include "estimation/register_point2point_error.h"

namespace Quorvane {

Point3 TransformPoint(const TransformParams& params, const Point3& point) {
  const double c = std::cos(params.rz);
  const double s = std::sin(params.rz);
  Eigen::Matrix4d translation;
  translation << 1, 0, 0, params.tx,
                 0, 1, 0, params.ty,
                 0, 0, 1, params.tz,
                 0, 0, 0, 1;
  Eigen::Matrix4d rotation;
  rotation << c, -s, 0, 0,
              s, c, 0, 0,
              0, 0, 1, 0,
              0, 0, 0, 1;
  Eigen::Matrix4d scaling;
  scaling << params.scale, 0, 0, 0,
             0, params.scale, 0, 0,
             0, 0, params.scale, 0,
             0, 0, 0, 1;
  const Eigen::Matrix4d transform = (scaling * rotation) * translation;
  const Eigen::Vector4d w = transform * Eigen::Vector4d(point.x, point.y, point.z, 1.0);
  return Point3(w[0], w[1], w[2]);
}

namespace {

// A pair's residual rows divided by their a priori σ: the solver's sum of squares is then the
// weighted one.
struct WeightedError {
  RegisterPoint2PointError error;
  double horizontal;  // 1/σ of easting and northing
  double vertical;    // 1/σ of the height

  template <typename Scalar>
  bool operator()(const Scalar* const tx, const Scalar* const ty, const Scalar* const tz,
                  const Scalar* const rx, const Scalar* const ry, const Scalar* const rz,
                  const Scalar* const scale, Scalar* residual) const {
    error(tx, ty, tz, rx, ry, rz, scale, residual);
    residual[0] *= horizontal;
    residual[1] *= horizontal;
    residual[2] *= vertical;
    return true;
  }
};

void Fit(const PointList& source, const PointList& destination,
         const std::vector<Precision>* precision, TransformParams& params,
         ceres::Solver::Summary& summary, int maxIterations) {
  ceres::Problem problem;  // default options: it owns and deletes the cost functions
  params = TransformParams{};

  // Seven blocks of one scalar each, in this order; every residual block shares them.
  double* const blocks[7] = {&params.tx, &params.ty, &params.tz, &params.rx,
                             &params.ry, &params.rz, &params.scale};
  const std::size_t pairs = std::min(source.size(), destination.size());
  for (std::size_t i = 0; i < pairs; ++i) {
    const Point3& p = source[i];
    const Point3& q = destination[i];
    if (precision == nullptr) {
      problem.AddResidualBlock(RegisterPoint2PointError::Create(p.x, p.y, p.z, q.x, q.y, q.z),
                               nullptr, blocks, 7);
      continue;
    }
    const Precision& sigma = (*precision)[i];
    problem.AddResidualBlock(
        new ceres::AutoDiffCostFunction<WeightedError, 3, 1, 1, 1, 1, 1, 1, 1>(
            new WeightedError{RegisterPoint2PointError(p.x, p.y, p.z, q.x, q.y, q.z),
                              1.0 / sigma.horizontal, 1.0 / sigma.vertical}),
        nullptr, blocks, 7);
  }

  ceres::Solver::Options options;
  options.max_num_iterations = maxIterations;
  options.linear_solver_type = ceres::DENSE_QR;
  options.parameter_tolerance = 1e-9;
  options.minimizer_progress_to_stdout = false;

  ceres::Solve(options, &problem, &summary);
}

}  // namespace

void FitTransform(const PointList& source, const PointList& destination, TransformParams& params,
                  ceres::Solver::Summary& summary) {
  Fit(source, destination, nullptr, params, summary, kSolverIterations);
}

void FitTransform(const PointList& source, const PointList& destination,
                  const std::vector<bool>& fitted, TransformParams& params,
                  ceres::Solver::Summary& summary) {
  FitTransform(source, destination, fitted, nullptr, params, summary, kSolverIterations);
}

void FitTransform(const PointList& source, const PointList& destination,
                  const std::vector<bool>& fitted, TransformParams& params,
                  ceres::Solver::Summary& summary, int maxIterations) {
  FitTransform(source, destination, fitted, nullptr, params, summary, maxIterations);
}

void FitTransform(const PointList& source, const PointList& destination,
                  const std::vector<bool>& fitted, const std::vector<Precision>* precision,
                  TransformParams& params, ceres::Solver::Summary& summary, int maxIterations) {
  // The pairs `fitted` marks, in pair order.
  PointList fittedSource;
  PointList fittedDestination;
  std::vector<Precision> fittedPrecision;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (!fitted[i]) continue;
    fittedSource.push_back(source[i]);
    fittedDestination.push_back(destination[i]);
    if (precision != nullptr) fittedPrecision.push_back((*precision)[i]);
  }
  Fit(fittedSource, fittedDestination, precision != nullptr ? &fittedPrecision : nullptr, params,
      summary, maxIterations);
}

}  // namespace Quorvane
