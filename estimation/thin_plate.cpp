// The smoothing thin-plate spline (Duchon 1977; Wahba 1990, ch. 2): f minimises
// Σ (yᵢ − f(pᵢ))² + μ·J(f), J the bending energy, which gives f = affine + Σ wᵢ·φ(|p − pᵢ|) with
// (K + μI)w + Pa = y and Pᵀw = 0. With P = [Q₁ Q₂][R; 0] and Q₂ᵀKQ₂ = UΛUᵀ (positive definite,
// φ being conditionally positive definite of order 2), w = Q₂U(Λ + μ)⁻¹UᵀQ₂ᵀy, and the residual
// y − ŷ = μw is (I − H)y with I − H = μ·Q₂U(Λ + μ)⁻¹UᵀQ₂ᵀ. Its leave-one-out residual is
// (y − ŷ)ᵢ / (I − H)ᵢᵢ, exactly (the spline being a linear smoother whose fit to the others
// predicts pᵢ by the same weights): one decomposition serves every trial μ at O(n²) each.
#include "estimation/thin_plate.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <Eigen/Eigenvalues>

namespace Quorvane {

namespace {

// The smoothings tried, from near interpolation to near the least-squares plane, as multiples
// of the largest eigenvalue: log-spaced, 8 to a decade.
constexpr double kLeastSmoothing = 1e-10;
constexpr double kMostSmoothing = 1e4;
constexpr int kSmoothingsPerDecade = 8;

// r²·ln r from r², 0 at r = 0.
double Kernel(double r2) { return r2 > 0.0 ? 0.5 * r2 * std::log(r2) : 0.0; }

// Points close to one line leave the spline's slope across it resting on their small offsets
// from it: ten points over 10 km with 5 mm of noise, within 0.1, 1, 10 and 100 m of a line, gave
// corrections of up to 66, 47, 18 and 7.7 mm near them, where linear interpolation gave 7.5.
// Their RMS distance from the line that fits them best, as a share of their RMS spread along it,
// below which no spline is made.
constexpr double kLeastBreadth = 1e-3;

// Whether points about their mean spread across an area: the smaller principal axis of their
// scatter at least kLeastBreadth of the larger.
bool SpreadAcrossAnArea(const std::vector<PlanePoint>& centred) {
  Eigen::Matrix2d scatter = Eigen::Matrix2d::Zero();
  for (const PlanePoint& p : centred) {
    const Eigen::Vector2d d(p.x, p.y);
    scatter += d * d.transpose();
  }
  const Eigen::Vector2d axes =
      Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d>(scatter).eigenvalues();
  return axes[1] > 0.0 && axes[0] >= kLeastBreadth * kLeastBreadth * axes[1];
}

}  // namespace

PlanePoint ThinPlateSmoother::Scaled(PlanePoint p) const {
  return {(p.x - middle_.x) / scale_, (p.y - middle_.y) / scale_};
}

ThinPlateSmoother::ThinPlateSmoother(const std::vector<PlanePoint>& points) {
  const Eigen::Index n = static_cast<Eigen::Index>(points.size());
  if (n < 4) return;
  for (const PlanePoint& p : points) middle_.x += p.x / n, middle_.y += p.y / n;
  double reach = 0.0;
  for (const PlanePoint& p : points) {
    reach = std::max({reach, std::fabs(p.x - middle_.x), std::fabs(p.y - middle_.y)});
  }
  if (!(reach > 0.0)) return;
  // Coordinates of order 1 keep K's entries and P's columns of one size.
  scale_ = reach;
  for (const PlanePoint& p : points) scaled_.push_back(Scaled(p));
  if (!SpreadAcrossAnArea(scaled_)) return;
  Eigen::MatrixXd affine(n, 3);
  for (Eigen::Index i = 0; i < n; ++i) affine.row(i) << 1.0, scaled_[i].x, scaled_[i].y;
  const Eigen::HouseholderQR<Eigen::MatrixXd> qr(affine);
  r_ = qr.matrixQR().topLeftCorner(3, 3).triangularView<Eigen::Upper>();
  kernel_.resize(n, n);
  for (Eigen::Index i = 0; i < n; ++i) {
    for (Eigen::Index j = 0; j <= i; ++j) {
      const double dx = scaled_[i].x - scaled_[j].x, dy = scaled_[i].y - scaled_[j].y;
      kernel_(i, j) = kernel_(j, i) = Kernel(dx * dx + dy * dy);
    }
  }
  // QᵀKQ by the three reflections of the QR, O(n²), rather than by forming Q.
  Eigen::MatrixXd rotated = kernel_;
  rotated.applyOnTheLeft(qr.householderQ().adjoint());
  rotated.applyOnTheRight(qr.householderQ());
  const Eigen::Index m = n - 3;
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(rotated.bottomRightCorner(m, m));
  if (eigen.info() != Eigen::Success) return;
  lambda_ = eigen.eigenvalues().cwiseMax(0.0);
  Eigen::MatrixXd lifted = Eigen::MatrixXd::Zero(n, m);
  lifted.bottomRows(m) = eigen.eigenvectors();
  lifted.applyOnTheLeft(qr.householderQ());
  v_ = std::move(lifted);
  q1_ = qr.householderQ() * Eigen::MatrixXd::Identity(n, 3);
  usable_ = true;
}

std::vector<ThinPlateFit> ThinPlateSmoother::Fit(
    const std::vector<std::vector<double>>& columns) const {
  const Eigen::Index n = v_.rows();
  std::vector<Eigen::VectorXd> y, z;
  for (const std::vector<double>& column : columns) {
    y.push_back(Eigen::Map<const Eigen::VectorXd>(column.data(), n));
    z.push_back(v_.transpose() * y.back());
  }
  const Eigen::MatrixXd squares = v_.cwiseProduct(v_);
  const double top = std::max(lambda_.maxCoeff(), std::numeric_limits<double>::min());
  // The leave-one-out residuals of every column at μ.
  const auto leaveOneOut = [&](double mu, std::vector<Eigen::VectorXd>& loo) {
    const Eigen::VectorXd d = (lambda_.array() + mu).inverse().matrix();
    const Eigen::VectorXd diagonal = squares * d;
    loo.clear();
    for (const Eigen::VectorXd& zc : z) {
      loo.push_back((v_ * zc.cwiseProduct(d)).cwiseQuotient(diagonal));
    }
  };
  double best = std::numeric_limits<double>::infinity(), bestMu = top;
  std::vector<Eigen::VectorXd> loo;
  const int steps = static_cast<int>(std::lround(std::log10(kMostSmoothing / kLeastSmoothing) *
                                                 kSmoothingsPerDecade));
  for (int k = 0; k <= steps; ++k) {
    const double mu = top * kLeastSmoothing * std::pow(10.0, double(k) / kSmoothingsPerDecade);
    leaveOneOut(mu, loo);
    double sum = 0.0;
    for (const Eigen::VectorXd& e : loo) sum += e.squaredNorm();
    if (sum < best) best = sum, bestMu = mu;
  }
  leaveOneOut(bestMu, loo);
  const Eigen::VectorXd d = (lambda_.array() + bestMu).inverse().matrix();
  std::vector<ThinPlateFit> fits;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    ThinPlateFit fit;
    fit.smoothing = bestMu;
    const Eigen::VectorXd w = v_ * z[c].cwiseProduct(d);
    // Pa is what the fit leaves of y after the smoothing's share μw and the kernel's Kw.
    const Eigen::VectorXd rest = y[c] - bestMu * w - kernel_ * w;
    const Eigen::Vector3d a = r_.triangularView<Eigen::Upper>().solve(q1_.transpose() * rest);
    fit.weights.assign(w.data(), w.data() + n);
    for (int k = 0; k < 3; ++k) fit.affine[k] = a[k];
    fit.leaveOneOut.assign(loo[c].data(), loo[c].data() + n);
    fits.push_back(std::move(fit));
  }
  return fits;
}

void ThinPlateSmoother::Evaluate(const std::vector<ThinPlateFit>& fits, PlanePoint p,
                                 double* values) const {
  const PlanePoint s = Scaled(p);
  const std::size_t count = fits.size();
  for (std::size_t c = 0; c < count; ++c) {
    values[c] = fits[c].affine[0] + fits[c].affine[1] * s.x + fits[c].affine[2] * s.y;
  }
  for (std::size_t i = 0; i < scaled_.size(); ++i) {
    const double dx = s.x - scaled_[i].x, dy = s.y - scaled_[i].y;
    const double phi = Kernel(dx * dx + dy * dy);
    for (std::size_t c = 0; c < count; ++c) values[c] += fits[c].weights[i] * phi;
  }
}

}  // namespace Quorvane
