// Closed forms of the two site-calibration problems (Wolf and Ghilani, Adjustment Computations,
// 2006, ch. 18: the two-dimensional conformal transformation; Umeyama, IEEE PAMI 13(4), 1991,
// for the rotation alone). Both are linear least squares once the points are taken about their
// centroid, which separates the shift from the rest.
#include "estimation/site_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <Eigen/Dense>

#include "estimation/fit_statistics.h"

namespace Quorvane {

namespace {

using Real = long double;

// Pairs of one unknown precision, every one of weight 1: the multiplications by it fold away, and
// the sums are those of the unweighted closed forms.
struct EqualWeights {
  static constexpr bool kEqual = true;
  Real operator[](std::size_t) const { return 1; }
};

// Each used pair's weight 1/σ² (of its horizontal or its vertical σ) over the mean of the used
// pairs' weights: relative weights keep the weighted sums of squares in square metres and of the
// sizes unweighted ones have, so that the tests of spread apply to them unchanged.
class RelativeWeights {
 public:
  static constexpr bool kEqual = false;
  RelativeWeights(const std::vector<Precision>& precision, const std::vector<bool>& used,
                  bool horizontal) {
    weights_.assign(used.size(), 0);
    Real sum = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < used.size() && i < precision.size(); ++i) {
      if (!used[i]) continue;
      const Real sigma = horizontal ? precision[i].horizontal : precision[i].vertical;
      weights_[i] = 1 / (sigma * sigma);
      sum += weights_[i];
      ++count;
    }
    if (count == 0) return;
    for (Real& weight : weights_) weight /= sum / count;
  }
  RelativeWeights() = default;
  Real operator[](std::size_t i) const { return weights_[i]; }

 private:
  std::vector<Real> weights_;
};

// Weighted centroid sums of the used pairs about the first used source and destination points.
struct Centred {
  std::size_t count = 0;
  Real weight = 0;                          // Σ w
  Real p0x = 0, p0y = 0, q0x = 0, q0y = 0;  // the reference points
  Real pmx = 0, pmy = 0, qmx = 0, qmy = 0;  // weighted means relative to them
};

template <class Weights>
Centred Centre(const PointList& source, const PointList& destination,
               const std::vector<bool>& used, const Weights& w) {
  Centred c;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (!used[i]) continue;
    if (c.count == 0) {
      c.p0x = source[i].x, c.p0y = source[i].y;
      c.q0x = destination[i].x, c.q0y = destination[i].y;
    }
    ++c.count;
    if constexpr (!Weights::kEqual) c.weight += w[i];
    c.pmx += w[i] * (source[i].x - c.p0x), c.pmy += w[i] * (source[i].y - c.p0y);
    c.qmx += w[i] * (destination[i].x - c.q0x), c.qmy += w[i] * (destination[i].y - c.q0y);
  }
  if constexpr (Weights::kEqual) c.weight = c.count;
  if (c.count > 0) c.pmx /= c.weight, c.pmy /= c.weight, c.qmx /= c.weight, c.qmy /= c.weight;
  return c;
}

template <class Weights>
HorizontalFit Horizontal(const PointList& source, const PointList& destination,
                         const std::vector<bool>& used, bool fixScale, const Point3& reference,
                         const Weights& w) {
  HorizontalFit fit;
  const Centred c = Centre(source, destination, used, w);
  if (c.count == 0) return fit;
  // With centred coordinates p', q' and weights w: A = Σ w p'·q', B = Σ w (p'x q'y − p'y q'x),
  // P = Σ w |p'|².
  Real a = 0, b = 0, spread = 0;
  bool apart = false;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (!used[i]) continue;
    const Real px = (source[i].x - c.p0x) - c.pmx, py = (source[i].y - c.p0y) - c.pmy;
    const Real qx = (destination[i].x - c.q0x) - c.qmx, qy = (destination[i].y - c.q0y) - c.qmy;
    a += w[i] * (px * qx + py * qy);
    b += w[i] * (px * qy - py * qx);
    spread += w[i] * (px * px + py * py);
    apart = apart || std::hypot(static_cast<double>(source[i].x - c.p0x),
                                static_cast<double>(source[i].y - c.p0y)) > kCoincidenceDistance;
  }
  Real scale = 1, rz = 0;
  if (apart && spread > 0 && (a != 0 || b != 0)) {
    rz = std::atan2(b, a);
    // scale·cos rz = A / P and scale·sin rz = B / P, so scale = √(A² + B²) / P.
    if (!fixScale) scale = std::sqrt(a * a + b * b) / spread;
    fit.determined = true;
  } else {
    fit.fixed = fixScale ? 1 : 2;
  }
  // The centroids map onto each other: c + t + scale·R·(p̄ − c) = q̄. The differences from the
  // reference c are taken from the first point's, so that none of the large coordinates cancel.
  const Real cs = std::cos(rz), sn = std::sin(rz);
  const Real px = (c.p0x - reference.x) + c.pmx, py = (c.p0y - reference.y) + c.pmy;
  const Real qx = (c.q0x - reference.x) + c.qmx, qy = (c.q0y - reference.y) + c.qmy;
  fit.tx = static_cast<double>(qx - scale * (cs * px - sn * py));
  fit.ty = static_cast<double>(qy - scale * (sn * px + cs * py));
  fit.rz = static_cast<double>(rz);
  fit.scale = static_cast<double>(scale);
  return fit;
}

template <class Weights>
VerticalFit Vertical(const PointList& source, const PointList& destination,
                     const std::vector<bool>& used, bool plane, const Point3& reference,
                     const Weights& w) {
  VerticalFit fit;
  std::size_t count = 0;
  Real weight = 0;
  Real e0 = 0, n0 = 0, me = 0, mn = 0, md = 0;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (!used[i]) continue;
    if (count == 0) e0 = source[i].x, n0 = source[i].y;
    ++count;
    if constexpr (!Weights::kEqual) weight += w[i];
    me += w[i] * (source[i].x - e0), mn += w[i] * (source[i].y - n0);
    md += w[i] * (static_cast<Real>(destination[i].z) - source[i].z);
  }
  if (count == 0) return fit;
  if constexpr (Weights::kEqual) weight = count;
  me /= weight, mn /= weight, md /= weight;
  if (!plane) {
    fit.tz = static_cast<double>(md);
    fit.determined = true;
    return fit;
  }
  fit.fixed = 2;
  // Normal equations of the slopes about the centroid: [See Sen; Sen Snn] [sE; sN] = [Sed; Snd].
  Real see = 0, sen = 0, snn = 0, sed = 0, snd = 0;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (!used[i]) continue;
    const Real e = (source[i].x - e0) - me, n = (source[i].y - n0) - mn;
    const Real d = (static_cast<Real>(destination[i].z) - source[i].z) - md;
    see += w[i] * (e * e), sen += w[i] * (e * n), snn += w[i] * (n * n);
    sed += w[i] * (e * d), snd += w[i] * (n * d);
  }
  // The 2 × 2 matrix's eigenvalues: the points' spread along and across their main direction.
  const Real half = (see + snn) / 2;
  const Real root = std::sqrt((see - snn) * (see - snn) / 4 + sen * sen);
  const Real across = half - root;
  const Real along = half + root;
  // About a millimetre of spread across the line over the pairs, and no less than the rounding
  // of the coordinates themselves, counts as none.
  const Real least = static_cast<Real>(kCoincidenceDistance) * kCoincidenceDistance * count;
  Real slopeEast = 0, slopeNorth = 0;
  if (across > least && across > along * std::numeric_limits<double>::epsilon()) {
    const Real det = see * snn - sen * sen;
    slopeEast = (snn * sed - sen * snd) / det;
    slopeNorth = (see * snd - sen * sed) / det;
    fit.determined = true;
    fit.fixed = 0;
  } else if (along > least) {
    fit.fixed = 1;
    // Points along one line: the slope along it, none across (the least-norm solution).
    const Real ux = root > 0 ? (sen != 0 ? sen : (see >= snn ? 1 : 0)) : 1;
    const Real uy = root > 0 ? (sen != 0 ? along - see : (see >= snn ? 0 : 1)) : 0;
    const Real length = std::sqrt(ux * ux + uy * uy);
    const Real gx = ux / length, gy = uy / length;  // unit direction along the line (E, N)
    const Real slope = (gx * sed + gy * snd) / along;
    slopeEast = slope * gx;
    slopeNorth = slope * gy;
  }
  fit.slopeEast = static_cast<double>(slopeEast);
  fit.slopeNorth = static_cast<double>(slopeNorth);
  fit.tz = static_cast<double>(md - slopeEast * ((e0 - reference.x) + me) -
                               slopeNorth * ((n0 - reference.y) + mn));
  return fit;
}

}  // namespace

HorizontalFit FitHorizontal(const PointList& source, const PointList& destination,
                            const std::vector<bool>& used, bool fixScale, const Point3& reference,
                            const std::vector<Precision>* precision) {
  if (precision == nullptr) {
    return Horizontal(source, destination, used, fixScale, reference, EqualWeights());
  }
  return Horizontal(source, destination, used, fixScale, reference,
                    RelativeWeights(*precision, used, true));
}

VerticalFit FitVertical(const PointList& source, const PointList& destination,
                        const std::vector<bool>& used, bool plane, const Point3& reference,
                        const std::vector<Precision>* precision) {
  if (precision == nullptr) {
    return Vertical(source, destination, used, plane, reference, EqualWeights());
  }
  return Vertical(source, destination, used, plane, reference,
                  RelativeWeights(*precision, used, false));
}

double SimilarityRms(const PointList& source, const PointList& destination) {
  const std::size_t m = std::min(source.size(), destination.size());
  if (m == 0) return 0.0;
  const std::vector<bool> all(m, true);
  const HorizontalFit fit = FitHorizontal(source, destination, all, false, source[0]);
  const double cs = std::cos(fit.rz), sn = std::sin(fit.rz);
  double sum = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    const double dE = source[i].x - source[0].x, dN = source[i].y - source[0].y;
    const double e = source[0].x + fit.tx + fit.scale * (cs * dE - sn * dN) - destination[i].x;
    const double n = source[0].y + fit.ty + fit.scale * (sn * dE + cs * dN) - destination[i].y;
    sum += e * e + n * n;
  }
  return std::sqrt(sum / static_cast<double>(m));
}

namespace {

// The design of a height model of `terms` terms over the pairs `used` marks, about (E0, N0): a
// row per pair [1, dN, dE, n², n·e, e²] (n, e in kilometres) cut to `terms`, and the height
// differences H' − H, each row multiplied by the square root of its relative weight.
void HeightDesign(const PointList& source, const PointList& destination,
                  const std::vector<bool>& used, int terms, const Point3& reference,
                  const std::vector<Precision>* precision, Eigen::MatrixXd& design,
                  Eigen::VectorXd& differences) {
  const RelativeWeights weights =
      precision == nullptr ? RelativeWeights() : RelativeWeights(*precision, used, false);
  std::size_t m = 0;
  for (std::size_t i = 0; i < source.size(); ++i) m += used[i] ? 1 : 0;
  design.resize(static_cast<Eigen::Index>(m), terms);
  differences.resize(static_cast<Eigen::Index>(m));
  Eigen::Index row = 0;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (!used[i]) continue;
    const double dN = source[i].y - reference.y, dE = source[i].x - reference.x;
    const double n = dN * kQuadricKilometresPerMetre, e = dE * kQuadricKilometresPerMetre;
    const double all[6] = {1.0, dN, dE, n * n, n * e, e * e};
    const double root =
        precision == nullptr ? 1.0 : std::sqrt(static_cast<double>(weights[i]));
    for (int k = 0; k < terms; ++k) design(row, k) = root * all[k];
    differences[row++] = root * (destination[i].z - source[i].z);
  }
}

// Columns scaled to unit length, so that the rank and the conditioning do not depend on units.
Eigen::VectorXd ColumnScaling(const Eigen::MatrixXd& design) {
  Eigen::VectorXd scaling(design.cols());
  for (Eigen::Index k = 0; k < design.cols(); ++k) {
    const double norm = design.col(k).norm();
    scaling[k] = norm > 0.0 ? 1.0 / norm : 1.0;
  }
  return scaling;
}

// A column-scaled rank below this share of the largest pivot counts as deficient (about a
// millimetre's worth over some kilometres), as the plane's "points on one line" does.
const double kRankThreshold = std::sqrt(std::numeric_limits<double>::epsilon());

// Which of the first `terms` terms of the height design (1, dN, dE, n², n·e, e²) the used points
// fix, in that order. The geometry alone decides, not the columns' sizes: the monomials are
// taken in coordinates about `reference` divided by the points' RMS distance L from it, and a
// term counts when its column departs from the span of the counted ones before it by more than
// kCoincidenceDistance / L at the points (RMS), by Gram–Schmidt with a second pass. So points
// within about a millimetre of a line, of two lines or of a conic (a ring) fix no term across
// it, and a column that is only the rounding of the coordinates (dN along a grid line) fixes
// nothing; scaled to unit length, such noise would pass for a direction of its own.
std::vector<bool> TermsFixed(const PointList& source, const std::vector<bool>& used, int terms,
                             const Point3& reference) {
  std::vector<double> north, east;
  double sum = 0.0;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (!used[i]) continue;
    north.push_back(source[i].y - reference.y);
    east.push_back(source[i].x - reference.x);
    sum += north.back() * north.back() + east.back() * east.back();
  }
  std::vector<bool> fixed(static_cast<std::size_t>(terms), false);
  const Eigen::Index m = static_cast<Eigen::Index>(north.size());
  if (m == 0) return fixed;
  fixed[0] = true;
  const double size = std::sqrt(sum / static_cast<double>(m));
  if (!(size > kCoincidenceDistance)) return fixed;
  const double least = kCoincidenceDistance / size * std::sqrt(static_cast<double>(m));
  std::vector<Eigen::VectorXd> kept = {Eigen::VectorXd::Ones(m) /
                                       std::sqrt(static_cast<double>(m))};
  for (int k = 1; k < terms; ++k) {
    Eigen::VectorXd column(m);
    for (Eigen::Index r = 0; r < m; ++r) {
      const double n = north[r] / size, e = east[r] / size;
      const double all[6] = {1.0, n, e, n * n, n * e, e * e};
      column[r] = all[k];
    }
    for (int pass = 0; pass < 2; ++pass) {
      for (const Eigen::VectorXd& q : kept) column -= q.dot(column) * q;
    }
    const double norm = column.norm();
    if (!(norm > least)) continue;
    fixed[static_cast<std::size_t>(k)] = true;
    kept.push_back(column / norm);
  }
  return fixed;
}

}  // namespace

QuadricFit FitQuadric(const PointList& source, const PointList& destination,
                      const std::vector<bool>& used, const Point3& reference,
                      const std::vector<Precision>* precision) {
  QuadricFit fit;
  Eigen::MatrixXd design;
  Eigen::VectorXd differences;
  HeightDesign(source, destination, used, 6, reference, precision, design, differences);
  if (design.rows() == 0) return fit;
  const std::vector<bool> fixed = TermsFixed(source, used, 6, reference);
  const int rank = static_cast<int>(std::count(fixed.begin(), fixed.end(), true));
  fit.determined = rank == 6;
  fit.fixed = 6 - rank;
  Eigen::VectorXd terms = Eigen::VectorXd::Zero(6);
  if (fit.determined) {
    const Eigen::VectorXd scaling = ColumnScaling(design);
    Eigen::CompleteOrthogonalDecomposition<Eigen::MatrixXd> decomposition;
    decomposition.setThreshold(kRankThreshold);
    decomposition.compute(design * scaling.asDiagonal());
    terms = scaling.asDiagonal() * decomposition.solve(differences);
  } else {
    // The least squares of the terms the points fix; the others stay at 0.
    Eigen::MatrixXd part(design.rows(), rank);
    for (int k = 0, c = 0; k < 6; ++k) {
      if (fixed[static_cast<std::size_t>(k)]) part.col(c++) = design.col(k);
    }
    const Eigen::VectorXd scaling = ColumnScaling(part);
    const Eigen::VectorXd solved = scaling.asDiagonal() *
                                   (part * scaling.asDiagonal()).colPivHouseholderQr().solve(
                                       differences);
    for (int k = 0, c = 0; k < 6; ++k) {
      if (fixed[static_cast<std::size_t>(k)]) terms[k] = solved[c++];
    }
  }
  fit.tz = terms[0];
  fit.slopeNorth = terms[1];
  fit.slopeEast = terms[2];
  fit.qNN = terms[3];
  fit.qNE = terms[4];
  fit.qEE = terms[5];
  return fit;
}

double PredictionError(const PointList& source, const PointList& destination,
                       const std::vector<bool>& used, int terms, const Point3& reference,
                       const std::vector<Precision>* precision) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  Eigen::MatrixXd design;
  Eigen::VectorXd differences;
  HeightDesign(source, destination, used, terms, reference, precision, design, differences);
  const Eigen::Index m = design.rows();
  if (m <= terms) return kInfinity;
  const std::vector<bool> fixed = TermsFixed(source, used, terms, reference);
  if (std::count(fixed.begin(), fixed.end(), true) < terms) return kInfinity;
  const Eigen::MatrixXd scaled = design * ColumnScaling(design).asDiagonal();
  // The thin Q of the design spans its columns: h_ii = |Q_i|², v = d − Q Qᵀ d.
  Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(scaled.rows(), scaled.cols());
  qr.setThreshold(kRankThreshold);
  qr.compute(scaled);
  if (qr.rank() < terms) return kInfinity;
  const Eigen::MatrixXd q = qr.householderQ() * Eigen::MatrixXd::Identity(m, terms);
  const Eigen::VectorXd residuals = differences - q * (q.transpose() * differences);
  double sum = 0.0;
  for (Eigen::Index i = 0; i < m; ++i) {
    const double share = 1.0 - q.row(i).squaredNorm();
    if (!(share > kRankThreshold)) return kInfinity;
    const double predicted = residuals[i] / share;
    sum += predicted * predicted;
  }
  return std::sqrt(sum / static_cast<double>(m));
}

}  // namespace Quorvane
