// The leave-one-out test of each fitted pair of a component, from its linearisation at the fit:
// the statistics' own, not for use outside estimation/.
#pragma once

#include <cstddef>
#include <vector>

#include <Eigen/Core>

#include "estimation/fit_statistics.h"

namespace Quorvane {

/// A component's Jacobian and residuals at the fit, whitened (each row divided by its σ), over
/// the fitted pairs in pair order, d rows a pair, and the sums the statistics take on the way.
struct WhitenedComponent {
  int d = 3;  // rows a pair
  Eigen::MatrixXd J;
  Eigen::VectorXd values;
  std::vector<std::size_t> rows;  // the fitted pairs, in pair order
  Eigen::VectorXd whitening;      // 1/σ of each row of J; empty for unit weights
  double plainSum = 0.0;          // Σ|v|², square metres
  double sumHorizontal = 0.0, sumVertical = 0.0;  // of Σ|v|², square metres
  double weightedHorizontal = 0.0, weightedVertical = 0.0;  // of the whitened rows' Σ v²
  double largestCoordinate = 0.0;
  double largestWeight = 1.0;     // of the rows' 1/σ², for the rounding of whitened sums
};

/// A pair's rows (d of them) as a point of the component's coordinates, 0 in the others.
Point3 PointOf(const double* rows, int d);

/// Fills stats.tests for every fitted pair of `at` (externally studentised, Cook and Weisberg's
/// deleted residuals; with stats.varianceKnown against the a priori variance), given the thin U
/// of the SVD of the whitened J with its columns multiplied by `scaling`, and stats' redundancy
/// and sum of squares.
void TestPairs(const WhitenedComponent& at, const Eigen::MatrixXd& U,
               const Eigen::VectorXd& scaling, FitStatistics& stats);

}  // namespace Quorvane
