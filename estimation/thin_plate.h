// A smoothing thin-plate spline over points of a plane, its smoothing chosen by leave-one-out
// prediction: the smooth distortion's field.
#pragma once

#include <cstddef>
#include <vector>

#include <Eigen/Dense>

#include "estimation/delaunay.h"

namespace Quorvane {

/// One fitted spline: f(p) = a0 + a1·x + a2·y + Σ wᵢ·φ(|p − pᵢ|), φ(r) = r²·ln r, x, y and r in
/// the smoother's scaled coordinates.
struct ThinPlateFit {
  double smoothing = 0.0;      // μ of the fit, in the units of the scaled kernel
  std::vector<double> weights;  // wᵢ, one per point
  double affine[3] = {0.0, 0.0, 0.0};
  /// Each point's leave-one-out residual, the value less the prediction of the spline fitted to
  /// the others with the same smoothing, in the values' unit.
  std::vector<double> leaveOneOut;
};

/// The smoothing spline over fixed points, decomposed once (O(n³)) so that each value column and
/// each trial smoothing costs O(n²). Needs at least four points spread across an area: their RMS
/// distance from the line that fits them best at least a thousandth of their RMS spread along it.
class ThinPlateSmoother {
 public:
  explicit ThinPlateSmoother(const std::vector<PlanePoint>& points);
  /// Whether the points allow a spline: four or more, spread across an area.
  bool Usable() const { return usable_; }

  /// Fits every column of `columns` (each one value per point) with one smoothing, the one whose
  /// leave-one-out residuals summed in square over the columns are least, out of a range from
  /// interpolation to the plane that fits in least squares.
  std::vector<ThinPlateFit> Fit(const std::vector<std::vector<double>>& columns) const;

  /// The fits' values at p, one per fit (up to three).
  void Evaluate(const std::vector<ThinPlateFit>& fits, PlanePoint p, double* values) const;

 private:
  PlanePoint Scaled(PlanePoint p) const;

  std::vector<PlanePoint> scaled_;
  PlanePoint middle_;
  double scale_ = 1.0;
  bool usable_ = false;
  Eigen::MatrixXd kernel_;  // K, n × n
  Eigen::MatrixXd q1_;      // the affine part's P = Q₁R
  Eigen::Matrix3d r_;
  Eigen::MatrixXd v_;       // Q₂U, n × (n − 3): Q₂ spans the residuals P leaves, Q₂ᵀKQ₂ = UΛUᵀ
  Eigen::VectorXd lambda_;  // Λ
};

}  // namespace Quorvane
