// The seven-parameter transformation of geocentric coordinates, as PROJ's helmert step applies it
// without +exact (EPSG method 1033, Position Vector transformation, geocentric domain):
//   X' = T + (1 + s) · R · X,  R = [[1, −rz, ry], [rz, 1, −rx], [−ry, rx, 1]],
// and as Molodensky–Badekas (EPSG 1061, PROJ's molobadekas step) about a pivot Xp, here the
// centroid of the fitted source points: X' = Xp + T + (1 + s) · R · (X − Xp). The coordinate-frame
// convention (EPSG 1032, and 1034 about a pivot) is the same transformation with every rotation
// given the opposite sign.
//
// With R · d = d + Ω × d (Ω = (rx, ry, rz)), m = 1 + s and w = m·Ω the model is
//   X' = Xp + T + m · d + w × d,  d = X − Xp,
// linear in (T, m, w), and (T, m, Ω) ↔ (T, m, w) is one to one for m ≠ 0: the least-squares
// optimum of the linear problem is that of the seven. About the centroids the shift separates,
// and since d · (w × d) = 0 the scale separates from the rotation as well:
//   m = Σ d·e / Σ |d|²,  (Σ (|d|² I − d dᵀ)) · w = Σ d × e,
// d and e the centred source and destination points, summed in long double. That avoids the
// normal equations of raw geocentric coordinates, which over a network of 20 km are singular to
// working precision (every point 6.4e6 m from the origin and within 1e4 m of the others).
//
// With rates (EPSG methods 1053 and 1056, PROJ's helmert step with +dx … +ds and +t_epoch) each of
// the seven changes with time, p(t) = p + ṗ · (t − t0), and a pair observed at t is carried by
// X' = Xp + T(t) + m(t) · (d + Ω(t) × d). With w(t) = m(t)·Ω(t) = w + ẇ·(t − t0) + ṁ·Ω̇·(t − t0)²
// that is linear in the fourteen (T, Ṫ, m, ṁ, w, ẇ) but for the last term (1e-10 m over ten years
// of a datum's drift), and (Ω, Ω̇) = (w/m, (ẇ − ṁ·Ω)/m) one to one: about the centroids and the
// pairs' mean epoch, one linear solve of the whitened design with its columns scaled to unit
// length (QR with column pivoting, by complete orthogonal decomposition) gives them, and one
// Gauss-Newton step of the fourteen themselves takes up what the last term moves.
//
// With --vertical (七参数 + 高程拟合) the seven are fitted to the east and north rows of each pair
// alone, the same solve with the up rows weighted 0, and the site model's height surface
// (site_fit.h) to what they leave along the destination ellipsoid's normal, over the plane
// coordinates of height_surface.h. The lift along a normal moves a pair's east and north by the
// angle between that normal and the pair's up, so each part is fitted about the other's values:
// the seven to the destination points less the lift, with Gauss-Newton steps for the lift's own
// change with them, and the two by Newton's method on the surface's terms (SettleTheParts).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include <Eigen/Dense>

#include "estimation/height_surface.h"
#include "estimation/model.h"
#include "estimation/model_support.h"
#include "estimation/site_fit.h"

namespace Quorvane {

namespace {

using namespace ModelSupport;
using Real = long double;

// The picture's title: 七参数 (the seven parameters) with the model, in full-width brackets.
constexpr char kBursaWolfTitle[] =
    "\xEF\xBC\x88\xE4\xB8\x83\xE5\x8F\x82\xE6\x95\xB0\xEF\xBC\x9A\xE5\xB8\x83\xE5\xB0\x94\xE8"
    "\x8E\x8E\xEF\xBC\x89";  // （七参数：布尔莎）
constexpr char kMolodenskyTitle[] =
    "\xEF\xBC\x88\xE4\xB8\x83\xE5\x8F\x82\xE6\x95\xB0\xEF\xBC\x9A\xE8\x8E\xAB\xE6\xB4\x9B\xE5"
    "\x9D\x9A\xE6\x96\xAF\xE5\x9F\xBA\xEF\xBC\x89";  // （七参数：莫洛坚斯基）

// The EPSG methods, as PROJ's database names 1032, 1033 and 1061; 1034, the coordinate-frame
// form of Molodensky–Badekas in the geocentric domain, is the EPSG registry's (PROJ 9.1's
// database holds no transformation that uses it).
constexpr int kPositionVector = 1033;
constexpr int kCoordinateFrame = 1032;
constexpr int kMolodenskyBadekasPositionVector = 1061;
constexpr int kMolodenskyBadekasCoordinateFrame = 1034;
// With rates, as PROJ's database names 1053 and 1056.
constexpr int kTimeDependentPositionVector = 1053;
constexpr int kTimeDependentCoordinateFrame = 1056;

// Below this spread of the points about a line through their centroid (square metres per
// point, a millimetre across) the rotation about that line is free.
constexpr double kLeastSpread = 1e-6;

using Vector3 = Eigen::Matrix<Real, 3, 1>;
using Matrix3 = Eigen::Matrix<Real, 3, 3>;

Vector3 ToVector(const Point3& p) { return Vector3(p.x, p.y, p.z); }

// The seven in the position-vector convention, as the formulas take them: shift (metres),
// rotations (radians), m = 1 + s.
struct Seven {
  double tx = 0.0, ty = 0.0, tz = 0.0, rx = 0.0, ry = 0.0, rz = 0.0, scale = 1.0;
};

// The used pairs about their centroids, summed about the first used pair in long double, so that
// the centring loses nothing to the 6.4e6 m.
struct Centring {
  std::size_t count = 0;
  Vector3 first = Vector3::Zero(), firstImage = Vector3::Zero();
  Vector3 mean = Vector3::Zero(), meanImage = Vector3::Zero();

  Centring(const FramePairs& pairs, const std::vector<bool>& used) {
    for (std::size_t i = 0; i < pairs.source.size(); ++i) {
      if (!used[i]) continue;
      if (count++ == 0) {
        first = ToVector(pairs.source[i]), firstImage = ToVector(pairs.destination[i]);
      }
      mean += ToVector(pairs.source[i]) - first;
      meanImage += ToVector(pairs.destination[i]) - firstImage;
    }
    if (count == 0) return;
    mean /= static_cast<Real>(count);
    meanImage /= static_cast<Real>(count);
  }
  // A pair's source and destination points about their centroids.
  Vector3 Source(const Point3& p) const { return (ToVector(p) - first) - mean; }
  Vector3 Image(const Point3& q) const { return (ToVector(q) - firstImage) - meanImage; }
};

// What the points' spread lets the fit determine: the scale where they spread at all, and the
// rotations about the axes they span; the sums of the closed form on the way.
struct Spread {
  Real spread = 0, along = 0;
  Matrix3 inertia = Matrix3::Zero();
  Vector3 turn = Vector3::Zero();
  bool full = false;            // every rotation determined
  int fixed = 4;                // the scale and rotations held
  std::vector<Vector3> axes;    // the axes the rotations about are determined
  std::vector<double> moments;  // the inertia about each of them
};

Spread SpreadOf(const FramePairs& pairs, const std::vector<bool>& used, const Centring& c) {
  Spread s;
  for (std::size_t i = 0; i < pairs.source.size(); ++i) {
    if (!used[i]) continue;
    const Vector3 d = c.Source(pairs.source[i]);
    const Vector3 e = c.Image(pairs.destination[i]);
    s.spread += d.squaredNorm();
    s.along += d.dot(e);
    s.inertia += d.squaredNorm() * Matrix3::Identity() - d * d.transpose();
    s.turn += d.cross(e);
  }
  if (!(s.spread > 0)) return s;
  // The rotation about every axis the points span; about a line they lie on, none (the smallest
  // rotation that fits best).
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(s.inertia.cast<double>());
  const double least = kLeastSpread * static_cast<double>(c.count);
  s.full = eigen.eigenvalues()[0] > least;
  s.fixed = 0;
  for (int k = 0; k < 3; ++k) {
    const double value = eigen.eigenvalues()[k];
    if (!(value > least)) {
      ++s.fixed;
      continue;
    }
    s.axes.push_back(eigen.eigenvectors().col(k).cast<Real>());
    s.moments.push_back(value);
  }
  return s;
}

// The local rows of pair i divided by their a priori σ (1 without): east, north (horizontal σ)
// and up (vertical σ), or X, Y, Z without local axes; with `heightsApart` the up row 0, for the
// seven fitted to east and north alone.
Matrix3 WhitenedAxes(const FramePairs& pairs, std::size_t i, bool heightsApart = false) {
  Matrix3 axes = Matrix3::Identity();
  if (pairs.axes != nullptr) {
    const LocalAxes& local = (*pairs.axes)[i];
    for (int k = 0; k < 3; ++k) {
      axes(0, k) = local.east[k], axes(1, k) = local.north[k], axes(2, k) = local.up[k];
    }
  }
  if (heightsApart) axes.row(2).setZero();
  if (pairs.precision == nullptr) return axes;
  const Precision& sigma = (*pairs.precision)[i];
  axes.row(0) /= sigma.horizontal;
  axes.row(1) /= sigma.horizontal;
  axes.row(2) /= sigma.vertical;
  return axes;
}

// How many of the seven the pairs determine: the shifts, the scale where the points spread, and
// the rotations about the axes they spread along.
Eigen::Index DeterminedUnknowns(const Spread& spread) {
  return 3 + (spread.spread > 0 ? 1 : 0) + static_cast<Eigen::Index>(spread.axes.size());
}

// The derivatives of s + μ·d + w × d by those unknowns at the source point d (about its
// centroid): the identity, d, and each determined axis × d.
Eigen::Matrix<Real, 3, Eigen::Dynamic> SevenColumns(const Spread& spread, const Vector3& d) {
  Eigen::Matrix<Real, 3, Eigen::Dynamic> columns(3, DeterminedUnknowns(spread));
  columns.leftCols<3>().setIdentity();
  Eigen::Index k = 3;
  if (spread.spread > 0) columns.col(k++) = d;
  for (const Vector3& axis : spread.axes) columns.col(k++) = axis.cross(d);
  return columns;
}

// The used pairs' epochs as years from t0, the mean of those, and whether they differ.
struct Timing {
  std::vector<double> tau;  // per pair, NaN for one without an epoch
  double mean = 0.0;        // of the used pairs'
  bool spread = false;      // the used pairs are of more than one epoch
  double first = NAN;       // the first used pair's epoch
};

// The whitened design of the seven over the used pairs (with `timing` whose pairs are of more
// than one epoch, followed by the same columns times τ for their rates), with its columns scaled
// to unit length for the solvers: `scaled` = design · diag(scaling).
struct SevenDesign {
  Eigen::MatrixXd scaled;
  Eigen::VectorXd observed, scaling;
};

template <class Whiten>
SevenDesign DesignOfSeven(const FramePairs& pairs, const std::vector<bool>& used,
                          const Centring& c, const Spread& spread, const Timing* timing,
                          Whiten whiten) {
  const Eigen::Index block = DeterminedUnknowns(spread);
  const bool rates = timing != nullptr && timing->spread;
  Eigen::MatrixXd design(3 * static_cast<Eigen::Index>(c.count), rates ? 2 * block : block);
  SevenDesign system;
  system.observed.resize(design.rows());
  Eigen::Index row = 0;
  for (std::size_t i = 0; i < pairs.source.size(); ++i) {
    if (!used[i]) continue;
    const Vector3 d = c.Source(pairs.source[i]);
    const Matrix3 whitened = whiten(i);
    const Eigen::MatrixXd rows = (whitened * SevenColumns(spread, d)).cast<double>();
    design.block(row, 0, 3, block) = rows;
    if (rates) design.block(row, block, 3, block) = (timing->tau[i] - timing->mean) * rows;
    system.observed.segment<3>(row) =
        (whitened * (c.Image(pairs.destination[i]) - d)).cast<double>();
    row += 3;
  }
  system.scaling.resize(design.cols());
  for (Eigen::Index k = 0; k < design.cols(); ++k) {
    const double norm = design.col(k).norm();
    system.scaling[k] = norm > 0.0 ? 1.0 / norm : 1.0;
  }
  system.scaled = design * system.scaling.asDiagonal();
  return system;
}

// The weighted least squares of X' − c' = s + m·d + w × d over the shift s between the centroids,
// μ = m − 1 and w along the determined axes (with d, the source point about its centroid, and
// the destination about its own): linear, solved by QR of the whitened, column-scaled design.
// Returns s; `scale` and `w` take the rest.
Vector3 WeightedSolve(const FramePairs& pairs, const std::vector<bool>& used, const Centring& c,
                      const Spread& spread, bool heightsApart, Real& scale, Vector3& w) {
  const SevenDesign system = DesignOfSeven(pairs, used, c, spread, nullptr, [&](std::size_t i) {
    return WhitenedAxes(pairs, i, heightsApart);
  });
  const Eigen::VectorXd x =
      system.scaling.asDiagonal() * system.scaled.colPivHouseholderQr().solve(system.observed);
  scale = 1 + (spread.spread > 0 ? static_cast<Real>(x[3]) : 0);
  w = Vector3::Zero();
  for (std::size_t k = 0; k < spread.axes.size(); ++k) {
    w += spread.axes[k] * static_cast<Real>(x[4 + static_cast<Eigen::Index>(k)]);
  }
  return Vector3(x[0], x[1], x[2]);
}

// An epoch as the shortest decimal that reads back to it: 2018.1, not 2018.0999999999999.
std::string EpochNumber(double epoch) {
  for (int digits = 6; digits < 17; ++digits) {
    const std::string text = Printed("%.*g", digits, epoch);
    if (std::strtod(text.c_str(), nullptr) == epoch) return text;
  }
  return PipelineNumber(epoch);
}

// The fourteen: the seven at t0 and their rates, the scale's rate that of s.
constexpr std::size_t kWithRates = 14;

// Below this ratio of a pivot to the largest, in the column-scaled design of the fourteen, a
// combination of them counts as not fixed by the pairs: the bound under which the statistics call
// the parameters' precision not determined (√ε).
const double kRatesRankRatio = std::sqrt(std::numeric_limits<double>::epsilon());

// The pairs' Timing against the reference epoch t0 (decimal years).
Timing TimingOf(const FramePairs& pairs, const std::vector<bool>& used, double t0) {
  Timing timing;
  timing.tau.assign(pairs.source.size(), NAN);
  Real sum = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < pairs.source.size(); ++i) {
    const double epoch = pairs.EpochOf(i);
    timing.tau[i] = epoch - t0;
    if (!used[i]) continue;
    if (count++ == 0) timing.first = epoch;
    timing.spread = timing.spread || epoch != timing.first;
    sum += timing.tau[i];
  }
  if (count > 0) timing.mean = static_cast<double>(sum / static_cast<Real>(count));
  return timing;
}

// The solve of the fourteen, about the used pairs' centroids and at t0: the shift between the
// centroids beyond the scale and rotation, μ = m − 1 and w = m·Ω, each with its rate, and how
// many independent combinations of the fourteen the pairs fix.
struct Drift {
  Vector3 shift = Vector3::Zero(), shiftRate = Vector3::Zero();
  Real scale = 0, scaleRate = 0;
  Vector3 w = Vector3::Zero(), wRate = Vector3::Zero();
  Eigen::Index rank = 0;

  // Ω̇ = (ẇ − ṁ·Ω)/m, Ω = w/m: the rotation's rate at t0.
  Vector3 Turning() const {
    const Real m = 1 + scale;
    return (wRate - scaleRate * (w / m)) / m;
  }
};

// The (weighted) least squares of e − d = s + μ·d + w × d + τ·(ṡ + μ̇·d + ẇ × d) over the used
// pairs, d and e the source and destination points about their centroids and τ the pair's epoch
// less the mean: w and ẇ along the axes the points spread along, the rates only where the pairs
// are of more than one epoch, and of what the pairs still leave free the smallest solution, every
// such combination at 0.
Drift SolveDrift(const FramePairs& pairs, const std::vector<bool>& used, const Centring& c,
                 const Spread& spread, const Timing& timing) {
  const Eigen::Index block = DeterminedUnknowns(spread);
  const SevenDesign system = DesignOfSeven(pairs, used, c, spread, &timing, [&](std::size_t i) {
    return pairs.precision != nullptr ? WhitenedAxes(pairs, i) : Matrix3::Identity();
  });
  Eigen::CompleteOrthogonalDecomposition<Eigen::MatrixXd> solver;
  solver.setThreshold(kRatesRankRatio);
  solver.compute(system.scaled);
  const Eigen::VectorXd x = system.scaling.asDiagonal() * solver.solve(system.observed);
  Drift drift;
  drift.rank = solver.rank();
  const auto unpack = [&](Eigen::Index at, Vector3& shift, Real& scale, Vector3& w) {
    shift = Vector3(x[at], x[at + 1], x[at + 2]);
    Eigen::Index k = at + 3;
    if (spread.spread > 0) scale = static_cast<Real>(x[k++]);
    for (const Vector3& axis : spread.axes) w += axis * static_cast<Real>(x[k++]);
  };
  unpack(0, drift.shift, drift.scale, drift.w);
  if (!timing.spread) return drift;
  unpack(block, drift.shiftRate, drift.scaleRate, drift.wRate);
  // From the mean epoch back to t0.
  const Real mean = timing.mean;
  drift.shift -= mean * drift.shiftRate;
  drift.scale -= mean * drift.scaleRate;
  drift.w -= mean * drift.wRate;
  return drift;
}

class HelmertModel final : public TransformModel {
 public:
  HelmertModel(bool aboutCentroid, const Model& model, const HeightChoice& choice)
      : aboutCentroid_(aboutCentroid),
        sign_(model.convention == Model::Convention::CoordinateFrame ? -1 : 1),
        rates_(model.rates),
        referenceEpoch_(model.referenceEpoch),
        heights_(model.vertical != Model::Vertical::None && !model.rates),
        vertical_(model.vertical),
        settings_(model),
        surface_(model.heightA, model.heightF),
        choice_(choice) {
    parameters_ = {
        {"tx", "m", 1.0, 4},
        {"ty", "m", 1.0, 4},
        {"tz", "m", 1.0, 4},
        {"rx", "arcsec", kArcSecondsPerRadian, 4},
        {"ry", "arcsec", kArcSecondsPerRadian, 4},
        {"rz", "arcsec", kArcSecondsPerRadian, 4},
        {"scale", "ppm", kPartsPerMillion, 4},
    };
    if (rates_) {
      // Their σ a decimal finer than the seven's: a datum's drift is millimetres a year.
      for (const char* name : {"txRate", "tyRate", "tzRate"}) {
        parameters_.push_back({name, "m/yr", 1.0, 5});
      }
      for (const char* name : {"rxRate", "ryRate", "rzRate"}) {
        parameters_.push_back({name, "arcsec/yr", kArcSecondsPerRadian, 6});
      }
      parameters_.push_back({"scaleRate", "ppm/yr", kPartsPerMillion, 6});
    }
    if (heights_) {
      HeightParameters();
      return;
    }
    components_ = {WholeComponent(parameters_.size())};
  }

  const std::vector<ParameterInfo>& Parameters() const override { return parameters_; }
  const std::vector<Component>& Components() const override { return components_; }

  FitOutcome Fit(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 ModelParameters& params, int) const override {
    FitOutcome outcome;
    params = ModelParameters{};
    if (aboutCentroid_) params.reference = CentroidOf(pairs.source, {used[0]});
    if (rates_) params.referenceEpoch = ReferenceEpoch(pairs, used[0]);
    FitComponent(0, pairs, used[0], params, outcome);
    if (heights_) {
      params.heightReference = CentroidOf(pairs.destination, {used[1]});
      SettleTheParts(pairs, used, params, outcome);
      outcome.usable = AllFinite(params);
    }
    Summarise(pairs, used, params, outcome);
    return outcome;
  }

  bool FitComponent(std::size_t component, const FramePairs& pairs, const std::vector<bool>& used,
                    ModelParameters& params, FitOutcome& outcome) const override {
    if (rates_) return FitWithRates(pairs, used, params, outcome);
    if (params.values.size() != parameters_.size()) {
      params.values.assign(parameters_.size(), 0.0);
      Store(Seven(), params);
    }
    const std::size_t slots = components_.size();
    outcome.determined.resize(slots, false);
    outcome.fixed.resize(slots, 0);
    outcome.notDetermined.resize(slots);
    if (component == 1) return FitHeights(pairs, used, params, outcome);
    if (!heights_) return FitSeven(pairs, used, params, outcome);
    // The lift along the normal moves the east and north a little where the normal is not the
    // pair's up (by the angle between them, microradians): the seven are fitted to the
    // destination points less the lift, which moves with them, twice.
    PointList target;
    for (int pass = 0; pass < 2; ++pass) {
      target = pairs.destination;
      for (std::size_t i = 0; i < pairs.source.size(); ++i) {
        const Point3 moved = ApplySeven(params, pairs.source[i], NAN);
        const Point3 lifted = Apply(params, pairs.source[i], NAN);
        target[i].x -= lifted.x - moved.x, target[i].y -= lifted.y - moved.y;
        target[i].z -= lifted.z - moved.z;
      }
      const FramePairs less{pairs.source,    target,       pairs.axes,
                            pairs.precision, pairs.epochs, pairs.varianceKnown};
      if (!FitSeven(less, used, params, outcome)) return false;
    }
    // What the lift's own change with the seven moves: Gauss-Newton steps of the whole, the
    // third of which moves nothing a double holds.
    for (int step = 0; step < 3 && outcome.determined[0]; ++step) {
      StepToTheOptimum(pairs, used, params);
    }
    outcome.usable = AllFinite(params);
    return outcome.usable;
  }

  // The seven fitted to the pairs `used` marks (to east and north alone with the heights
  // apart).
  bool FitSeven(const FramePairs& pairs, const std::vector<bool>& used, ModelParameters& params,
                FitOutcome& outcome) const {
    const Centring c(pairs, used);
    outcome.determined[0] = false;
    outcome.fixed[0] = 0;
    Seven t;
    if (c.count == 0) {
      outcome.notDetermined[0] = NotDetermined(0, false);
      Store(t, params);
      outcome.usable = true;
      return true;
    }
    const Spread spread = SpreadOf(pairs, used, c);
    Real scale = 1;
    Vector3 w = Vector3::Zero();
    Vector3 shift = Vector3::Zero();  // between the centroids, beyond the scale and rotation
    if (pairs.precision != nullptr || heights_) {
      shift = WeightedSolve(pairs, used, c, spread, heights_, scale, w);
    } else if (spread.spread > 0) {
      scale = spread.along / spread.spread;
      if (spread.full) {
        w = spread.inertia.ldlt().solve(spread.turn);
      } else {
        for (std::size_t k = 0; k < spread.axes.size(); ++k) {
          const Vector3& axis = spread.axes[k];
          w += axis * (axis.dot(spread.turn) / static_cast<Real>(spread.moments[k]));
        }
      }
    }
    outcome.fixed[0] = spread.fixed;
    outcome.determined[0] = spread.spread > 0 && spread.full;
    // East and north alone: two rows a pair for the seven.
    if (heights_ && 2 * c.count < 7) {
      outcome.fixed[0] = std::max(spread.fixed, 7 - 2 * static_cast<int>(c.count));
      outcome.determined[0] = false;
    }
    outcome.notDetermined[0] = NotDetermined(c.count, outcome.determined[0]);
    // The shift of the pivot: Ȳ = Xp + T + m·(X̄ − Xp) + w × (X̄ − Xp).
    const Vector3 pivot = ToVector(params.reference);
    const Vector3 arm = (c.first - pivot) + c.mean;
    Vector3 moved = ((c.firstImage - pivot) + c.meanImage) - scale * arm - w.cross(arm);
    if (pairs.precision != nullptr || heights_) moved += shift;
    t.tx = static_cast<double>(moved[0]);
    t.ty = static_cast<double>(moved[1]);
    t.tz = static_cast<double>(moved[2]);
    const Vector3 rotation = w / scale;
    t.rx = static_cast<double>(rotation[0]);
    t.ry = static_cast<double>(rotation[1]);
    t.rz = static_cast<double>(rotation[2]);
    t.scale = static_cast<double>(scale);
    Store(t, params);
    outcome.usable = AllFinite(params);
    return outcome.usable;
  }

  void Summarise(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 const ModelParameters& params, FitOutcome& outcome) const override {
    if (heights_) {
      SummariseHeights(pairs, used, params, outcome);
      return;
    }
    const std::size_t m = CountOf(used[0]);
    outcome.summaryLine = std::string(aboutCentroid_ ? "Molodensky-Badekas" : "Helmert") +
                          (rates_ ? " with rates, least squares: "
                                  : ", least squares in closed form: ") +
                          std::to_string(m) + (m == 1 ? " pair" : " pairs");
    double sum = 0.0;
    for (std::size_t i = 0; i < pairs.source.size(); ++i) {
      if (!used[0][i]) continue;
      const Point3 w = Apply(params, pairs.source[i], pairs.EpochOf(i));
      const Point3& q = pairs.destination[i];
      sum += (w.x - q.x) * (w.x - q.x) + (w.y - q.y) * (w.y - q.y) + (w.z - q.z) * (w.z - q.z);
    }
    outcome.sumOfSquares = sum;
  }

  void Linearise(std::size_t c, const ModelParameters& params, const FramePairs& pairs,
                 std::size_t i, PairLinearisation& out) const override {
    if (c == 1) {
      LineariseHeight(params, pairs, i, out);
      return;
    }
    const Seven t = AtEpoch(params, pairs.EpochOf(i));
    const Eigen::Vector3d pivot(params.reference.x, params.reference.y, params.reference.z);
    const Point3& p = pairs.source[i];
    const Point3& q = pairs.destination[i];
    const Eigen::Vector3d d = Eigen::Vector3d(p.x, p.y, p.z) - pivot;
    const Eigen::Vector3d omega(t.rx, t.ry, t.rz);
    const Eigen::Vector3d turned = d + omega.cross(d);
    const Eigen::Vector3d residual = pivot + Eigen::Vector3d(t.tx, t.ty, t.tz) + t.scale * turned -
                                     Eigen::Vector3d(q.x, q.y, q.z);
    // Columns: the shift, the rotations as reported (−Ω in the coordinate frame convention), the
    // scale; ∂(Ω × d)/∂Ω = −[d]×. Each rate's column is its parameter's times t − t0.
    Eigen::Matrix<double, 3, 7> jacobian;
    jacobian.leftCols<3>().setIdentity();
    Eigen::Matrix3d cross;
    cross << 0.0, d.z(), -d.y(), -d.z(), 0.0, d.x(), d.y(), -d.x(), 0.0;
    jacobian.middleCols<3>(3) = (sign_ * t.scale) * cross;
    jacobian.col(6) = turned;
    const Eigen::Vector3d image = residual + Eigen::Vector3d(q.x, q.y, q.z);
    Eigen::Vector3d lifted = residual;
    if (heights_) LiftedDerivative(params, image, lifted, jacobian);
    Eigen::Matrix3d axes = Eigen::Matrix3d::Identity();
    if (pairs.axes != nullptr) {
      const LocalAxes& local = (*pairs.axes)[i];
      axes << local.east[0], local.east[1], local.east[2], local.north[0], local.north[1],
          local.north[2], local.up[0], local.up[1], local.up[2];
    }
    const Eigen::Vector3d rows = axes * lifted;
    const Eigen::Matrix<double, 3, 7> local = axes * jacobian;
    // With the heights apart, the seven's rows are east and north alone.
    const std::size_t u = components_[0].parameters.size();
    const double tau = rates_ ? pairs.EpochOf(i) - params.referenceEpoch : 0.0;
    for (int r = 0; r < (heights_ ? 2 : 3); ++r) {
      out.residual[r] = rows[r];
      for (int k = 0; k < 7; ++k) {
        out.jacobian[r * u + k] = local(r, k);
        if (rates_) out.jacobian[r * u + 7 + k] = tau * local(r, k);
      }
    }
    out.largestCoordinate = Largest({p.x, p.y, p.z, q.x, q.y, q.z});
  }

  Point3 Apply(const ModelParameters& params, const Point3& point, double epoch) const override {
    const Point3 moved = ApplySeven(params, point, epoch);
    if (!heights_) return moved;
    // Along the destination ellipsoid's normal, which keeps the longitude and latitude.
    const Point3 normal = surface_.Normal(moved);
    const double lift = HeightOf(params, surface_.Plane(params.heightReference, moved));
    return Point3(moved.x + lift * normal.x, moved.y + lift * normal.y, moved.z + lift * normal.z);
  }

  // The seven alone.
  Point3 ApplySeven(const ModelParameters& params, const Point3& point, double epoch) const {
    const Seven t = AtEpoch(params, epoch);
    const Point3& o = params.reference;
    const double dx = point.x - o.x, dy = point.y - o.y, dz = point.z - o.z;
    // d + Ω × d, then the scale and the shift.
    const double x = dx + (t.ry * dz - t.rz * dy);
    const double y = dy + (t.rz * dx - t.rx * dz);
    const double z = dz + (t.rx * dy - t.ry * dx);
    return Point3(o.x + t.tx + t.scale * x, o.y + t.ty + t.scale * y, o.z + t.tz + t.scale * z);
  }

  bool ChangesWithTime() const override { return rates_; }

  std::string ReportLines(const ModelParameters& params) const override {
    const std::vector<double>& v = params.values;
    std::string lines = AfterLine(params);
    lines += Printed("%s: tx=%.4f m, ty=%.4f m, tz=%.4f m, rx=%.6f arcsec, ry=%.6f arcsec, "
                     "rz=%.6f arcsec, s=%.6f ppm, convention=%s",
                     Name(), v[0], v[1], v[2], v[3] * kArcSecondsPerRadian,
                     v[4] * kArcSecondsPerRadian, v[5] * kArcSecondsPerRadian,
                     (v[6] - 1.0) * kPartsPerMillion, ConventionName());
    if (StatesReference(params)) {
      const Point3& o = params.reference;
      lines += Printed(", reference X=%.4f m, Y=%.4f m, Z=%.4f m", o.x, o.y, o.z);
    }
    lines += "\n";
    if (heights_) return lines + HeightLine(params) + HeightChoiceLine(choice_);
    if (!rates_) return lines;
    // The rates a decimal finer than the seven, as their σ.
    return lines +
           Printed("rates: tx=%.5f m/yr, ty=%.5f m/yr, tz=%.5f m/yr, rx=%.7f arcsec/yr, "
                   "ry=%.7f arcsec/yr, rz=%.7f arcsec/yr, s=%.7f ppm/yr, reference epoch %s\n",
                   v[7], v[8], v[9], v[10] * kArcSecondsPerRadian, v[11] * kArcSecondsPerRadian,
                   v[12] * kArcSecondsPerRadian, v[13] * kPartsPerMillion,
                   EpochText(params).c_str());
  }

  // The default members and the convention after "model"; with rates, then "rates" (the
  // rotations' in degrees a year) and "referenceEpoch".
  std::vector<ResultMember> ResultMembers(const ModelParameters& params) const override {
    std::vector<ResultMember> members = TransformModel::ResultMembers(params);
    ResultMember convention{"convention"};
    convention.text = ConventionName();
    members.insert(members.begin() + 4, convention);
    if (heights_) {
      const std::vector<double>& v = params.values;
      const Point3& h = params.heightReference;
      members.push_back({"heightShift", {v[kDh]}});
      members.push_back({"slope", {v[kDh + 1], v[kDh + 2]}, true});
      if (vertical_ == Model::Vertical::Quadric) {
        members.push_back({"quadric", {v[kDh + 3], v[kDh + 4], v[kDh + 5]}, true});
      }
      members.push_back({"heightReference", {h.x, h.y, h.z}, true});
    }
    if (!rates_) return members;
    const std::vector<double>& v = params.values;
    members.push_back({"rates",
                       {v[7], v[8], v[9], Degrees(v[10]), Degrees(v[11]), Degrees(v[12]), v[13]},
                       true});
    members.push_back({"referenceEpoch", {params.referenceEpoch}});
    return members;
  }

  std::string Formula(const ModelParameters&) const override {
    if (heights_) return SevenFormula() + HeightFormula();
    return SevenFormula();
  }

  std::string SevenFormula() const {
    const char* rotation = sign_ > 0 ? "R = [[1, -rz, ry], [rz, 1, -rx], [-ry, rx, 1]]"
                                     : "R = [[1, rz, -ry], [-rz, 1, rx], [ry, -rx, 1]]";
    if (rates_) {
      const std::string timed =
          ", each of tx, ty, tz, rx, ry, rz, s at t = p + pRate * (t - t0), t0 = referenceEpoch, ";
      return aboutCentroid_
                 ? "molodensky-badekas: X' = Xp + T(t) + (1 + s(t)) * R(t) * (X - Xp)" + timed +
                       rotation + ", Xp = reference (" + ConventionName() + ")"
                 : "helmert: X' = T(t) + (1 + s(t)) * R(t) * X" + timed + rotation + " (" +
                       ConventionName() + ")";
    }
    if (aboutCentroid_) {
      return std::string("molodensky-badekas: X' = Xp + T + (1 + s) * R * (X - Xp), ") + rotation +
             ", Xp = reference (" + ConventionName() + ")";
    }
    return std::string("helmert: X' = T + (1 + s) * R * X, ") + rotation + " (" +
           ConventionName() + ")";
  }

  std::string ProjSteps(const ModelParameters& params) const override {
    for (const double number : params.values) {
      if (!std::isfinite(number)) return std::string();
    }
    const Point3& o = params.reference;
    for (const double number : {o.x, o.y, o.z}) {
      if (!std::isfinite(number)) return std::string();
    }
    if (rates_ && !std::isfinite(params.referenceEpoch)) return std::string();
    const std::vector<double>& v = params.values;
    std::string step = " +x=" + PipelineNumber(v[0]) + " +y=" + PipelineNumber(v[1]) +
                       " +z=" + PipelineNumber(v[2]) +
                       " +rx=" + PipelineNumber(v[3] * kArcSecondsPerRadian) +
                       " +ry=" + PipelineNumber(v[4] * kArcSecondsPerRadian) +
                       " +rz=" + PipelineNumber(v[5] * kArcSecondsPerRadian) +
                       " +s=" + PipelineNumber((v[6] - 1.0) * kPartsPerMillion);
    if (!rates_) {
      if (aboutCentroid_) {
        step += " +px=" + PipelineNumber(o.x) + " +py=" + PipelineNumber(o.y) +
                " +pz=" + PipelineNumber(o.z);
      }
      return std::string(" +step +proj=") + (aboutCentroid_ ? "molobadekas" : "helmert") + step +
             " +convention=" + ConventionName() + (heights_ ? HeightSteps(params) : "");
    }
    // The rates as PROJ takes them, each parameter's unit a year; the epoch of each point is its
    // fourth coordinate.
    step = " +step +proj=helmert" + step + " +dx=" + PipelineNumber(v[7]) +
           " +dy=" + PipelineNumber(v[8]) + " +dz=" + PipelineNumber(v[9]) +
           " +drx=" + PipelineNumber(v[10] * kArcSecondsPerRadian) +
           " +dry=" + PipelineNumber(v[11] * kArcSecondsPerRadian) +
           " +drz=" + PipelineNumber(v[12] * kArcSecondsPerRadian) +
           " +ds=" + PipelineNumber(v[13] * kPartsPerMillion) +
           " +t_epoch=" + EpochNumber(params.referenceEpoch) +
           " +convention=" + ConventionName();
    if (!aboutCentroid_) return step;
    // PROJ's molobadekas takes no rates: the point is moved to the pivot and back about the
    // kinematic helmert step, which is the same transformation.
    return " +step +proj=helmert +x=" + PipelineNumber(-o.x) + " +y=" + PipelineNumber(-o.y) +
           " +z=" + PipelineNumber(-o.z) + step + " +step +proj=helmert +x=" +
           PipelineNumber(o.x) + " +y=" + PipelineNumber(o.y) + " +z=" + PipelineNumber(o.z);
  }

  std::vector<ResultMember> RecordMembers(const ModelParameters& params) const override {
    if (rates_) {
      // EPSG has no time-dependent Molodensky–Badekas (PROJ's database neither): null.
      ResultMember code{"method", {aboutCentroid_ ? NAN
                                                  : static_cast<double>(
                                                        sign_ > 0 ? kTimeDependentPositionVector
                                                                  : kTimeDependentCoordinateFrame)}};
      code.integer = !aboutCentroid_;
      return {code, {"referenceEpoch", {params.referenceEpoch}}};
    }
    const int method = aboutCentroid_
                           ? (sign_ > 0 ? kMolodenskyBadekasPositionVector
                                        : kMolodenskyBadekasCoordinateFrame)
                           : (sign_ > 0 ? kPositionVector : kCoordinateFrame);
    ResultMember code{"method", {static_cast<double>(method)}};
    code.integer = true;
    // +towgs84 takes the Bursa–Wolf terms in the position-vector convention: about the pivot,
    // T_bw = Xp + T − (1 + s)·R·Xp.
    const Seven t = Internal(params);
    const Point3 origin = ApplySeven(params, Point3(), NAN);
    std::vector<ResultMember> members = {
        code,
        {"towgs84",
         {origin.x, origin.y, origin.z, t.rx * kArcSecondsPerRadian, t.ry * kArcSecondsPerRadian,
          t.rz * kArcSecondsPerRadian, (t.scale - 1.0) * kPartsPerMillion},
         true}};
    if (heights_) {
      const Point3& h = params.heightReference;
      members.push_back({"heightReference", {h.x, h.y, h.z}, true});
      for (ResultMember& member : HeightChoiceMembers(choice_)) members.push_back(member);
    }
    return members;
  }

  // --vertical auto: the seven fitted to the horizontally used pairs, then the surface that
  // predicts what they leave in the heights of the vertically used pairs best.
  std::unique_ptr<const TransformModel> Settled(
      const FramePairs& pairs, const std::vector<std::vector<bool>>& used) const override {
    if (!heights_ || vertical_ != Model::Vertical::Auto) return nullptr;
    ModelParameters params;
    if (aboutCentroid_) params.reference = CentroidOf(pairs.source, {used[0]});
    params.heightReference = CentroidOf(pairs.destination, {used[1]});
    FitOutcome outcome;
    FitComponent(0, pairs, used[0], params, outcome);
    PointList plane, left;
    HeightLists(pairs, params, plane, left);
    const HeightChoice choice = ChooseHeightModel(plane, left, used[1], Point3(), pairs.precision);
    Model settled = settings_;
    settled.vertical = choice.surface;
    auto made = std::make_unique<HelmertModel>(aboutCentroid_, settled, choice);
    made->SameLineAs(*this);
    return made;
  }

  std::string PlotTitle() const override {
    return aboutCentroid_ ? kMolodenskyTitle : kBursaWolfTitle;
  }
  bool StatesReference(const ModelParameters&) const override { return aboutCentroid_; }

 private:
  const char* ConventionName() const {
    return sign_ > 0 ? "position_vector" : "coordinate_frame";
  }

  // The values as reported hold the rotations in the model's convention.
  Seven Internal(const ModelParameters& params) const {
    const std::vector<double>& v = params.values;
    return {v[0], v[1], v[2], sign_ * v[3], sign_ * v[4], sign_ * v[5], v[6]};
  }
  // The seven into the first seven values, the height surface's left as they are.
  void Store(const Seven& t, ModelParameters& params) const {
    if (params.values.size() < 7) params.values.resize(7);
    const double seven[7] = {t.tx, t.ty, t.tz, sign_ * t.rx, sign_ * t.ry, sign_ * t.rz, t.scale};
    std::copy(seven, seven + 7, params.values.begin());
  }
  // The seven at `epoch`, each p + ṗ·(epoch − t0); without rates the seven themselves.
  Seven AtEpoch(const ModelParameters& params, double epoch) const {
    Seven t = Internal(params);
    if (!rates_) return t;
    const std::vector<double>& v = params.values;
    const double tau = epoch - params.referenceEpoch;
    t.tx += v[7] * tau, t.ty += v[8] * tau, t.tz += v[9] * tau;
    t.rx += sign_ * v[10] * tau, t.ry += sign_ * v[11] * tau, t.rz += sign_ * v[12] * tau;
    t.scale += v[13] * tau;
    return t;
  }

  // t0: --reference-epoch, or the mean epoch of the fitted pairs rounded to 0.1 year, which keeps
  // the seven and their rates nearly uncorrelated and reads as an epoch.
  double ReferenceEpoch(const FramePairs& pairs, const std::vector<bool>& used) const {
    if (std::isfinite(referenceEpoch_)) return referenceEpoch_;
    Real sum = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < pairs.source.size(); ++i) {
      if (!used[i]) continue;
      sum += pairs.EpochOf(i);
      ++count;
    }
    if (count == 0) return NAN;
    return std::round(static_cast<double>(sum / static_cast<Real>(count)) * 10.0) / 10.0;
  }
  // The report's words for t0.
  std::string EpochText(const ModelParameters& params) const {
    return Printed("%.10g", params.referenceEpoch) +
           (std::isfinite(referenceEpoch_) ? " (--reference-epoch)"
                                           : " (the mean epoch of the fitted pairs)");
  }

  // The fourteen fitted to the pairs `used` marks, about the reference point and epoch in
  // `params`.
  bool FitWithRates(const FramePairs& pairs, const std::vector<bool>& used,
                    ModelParameters& params, FitOutcome& outcome) const {
    const Centring c(pairs, used);
    const Timing timing = TimingOf(pairs, used, params.referenceEpoch);
    const Spread spread = c.count > 0 ? SpreadOf(pairs, used, c) : Spread{};
    // The shift of the pivot and its rate, Ȳ = Xp + T(t) + m(t)·(X̄ − Xp) + w(t) × (X̄ − Xp) at
    // each epoch; then Ω = w/m and Ω̇ = (ẇ − ṁ·Ω)/m.
    const Vector3 pivot = ToVector(params.reference);
    const Vector3 arm = (c.first - pivot) + c.mean;
    const Drift drift = c.count > 0 ? SolveDrift(pairs, used, c, spread, timing) : Drift{};
    const Real scale = 1 + drift.scale;
    const Vector3 moved = c.count == 0 ? Vector3::Zero()
                                       : Vector3(((c.firstImage - pivot) + c.meanImage) -
                                                 scale * arm - drift.w.cross(arm) + drift.shift);
    const Vector3 moving = drift.shiftRate - drift.scaleRate * arm - drift.wRate.cross(arm);
    const Vector3 rotation = drift.w / scale;
    const Vector3 turning = drift.Turning();
    params.values.assign(kWithRates, 0.0);
    for (int k = 0; k < 3; ++k) {
      params.values[k] = static_cast<double>(moved[k]);
      params.values[3 + k] = sign_ * static_cast<double>(rotation[k]);
      params.values[7 + k] = static_cast<double>(moving[k]);
      params.values[10 + k] = sign_ * static_cast<double>(turning[k]);
    }
    params.values[6] = static_cast<double>(scale);
    params.values[13] = static_cast<double>(drift.scaleRate);
    outcome.fixed.assign(1, static_cast<int>(kWithRates) - static_cast<int>(drift.rank));
    outcome.determined.assign(1, outcome.fixed[0] == 0);
    if (outcome.determined[0] && AllFinite(params)) StepToTheOptimum(pairs, used, params);
    outcome.notDetermined.assign(
        1, RatesNotDetermined(c.count, spread.spread > 0 && spread.full, timing, outcome.fixed[0]));
    outcome.usable = AllFinite(params);
    return outcome.usable;
  }

  // One Gauss-Newton step of the fourteen themselves (Linearise, whitened, QR of the columns
  // scaled to unit length) from the linear solve: its w(t) = m(t)·Ω(t) leaves out ṁ·Ω̇·(t − t0)²,
  // whose share of the optimum is of the order of the rates' product, 1e-10 m for a datum's drift
  // and micrometres where a blunder has swung them; the step's own error is of its square.
  void StepToTheOptimum(const FramePairs& pairs, const std::vector<bool>& used,
                        ModelParameters& params) const {
    const Eigen::Index u = static_cast<Eigen::Index>(components_[0].parameters.size());
    const int d = RowsOf(components_[0].layout);
    const Eigen::Index rows = d * static_cast<Eigen::Index>(CountOf(used));
    Eigen::MatrixXd jacobian(rows, u);
    Eigen::VectorXd residual(rows);
    double linearised[3 * kWithRates];
    Eigen::Index row = 0;
    for (std::size_t i = 0; i < pairs.source.size(); ++i) {
      if (!used[i]) continue;
      PairLinearisation out;
      out.jacobian = linearised;
      Linearise(0, params, pairs, i, out);
      for (int r = 0; r < d; ++r, ++row) {
        const Precision* sigma = pairs.precision != nullptr ? &(*pairs.precision)[i] : nullptr;
        const double weight =
            sigma == nullptr ? 1.0 : 1.0 / (r < 2 ? sigma->horizontal : sigma->vertical);
        residual[row] = weight * out.residual[r];
        for (Eigen::Index k = 0; k < u; ++k) jacobian(row, k) = weight * linearised[r * u + k];
      }
    }
    Eigen::VectorXd scaling(u);
    for (Eigen::Index k = 0; k < u; ++k) {
      const double norm = jacobian.col(k).norm();
      scaling[k] = norm > 0.0 ? 1.0 / norm : 1.0;
    }
    const Eigen::VectorXd step =
        scaling.asDiagonal() *
        (jacobian * scaling.asDiagonal()).colPivHouseholderQr().solve(-residual);
    if (!step.allFinite()) return;
    for (Eigen::Index k = 0; k < u; ++k) params.values[static_cast<std::size_t>(k)] += step[k];
  }

  // Why `m` pairs do not determine the fourteen, and what the fit held.
  static std::string RatesNotDetermined(std::size_t m, bool sevenDetermined, const Timing& timing,
                                        int fixed) {
    if (fixed == 0) return std::string();
    if (!sevenDetermined) {
      return "the transform is not determined by the points given: " +
             (m < 3 ? PairsFitted(m)
                    : "the " + std::to_string(m) + " fitted source points lie on one line") +
             ", and the fourteen parameters need three pairs not on one line at each of two "
             "epochs or more; what they do not fix is left at 0.";
    }
    if (!timing.spread) {
      return "the rates are not determined by the points given: every fitted pair is of the "
             "epoch " +
             Printed("%.10g", timing.first) +
             ", and the rates need pairs of two epochs or more; they are left at 0, and the seven "
             "are those of that epoch.";
    }
    return "the rates are not determined by the points given: the fitted pairs leave " +
           std::to_string(fixed) + (fixed == 1 ? " combination" : " combinations") +
           " of the fourteen parameters free, and the rates need three pairs not on one line at "
           "each of two epochs or more; the combinations left free are held at 0.";
  }

  // Why `m` pairs do not determine the seven, and what the fit held.
  static std::string NotDetermined(std::size_t m, bool determined) {
    if (determined) return std::string();
    return "the transform is not determined by the points given: " +
           (m < 3 ? PairsFitted(m)
                  : "the " + std::to_string(m) + " fitted source points lie on one line") +
           ", and the seven parameters need three pairs not on one line; the rotations they do "
           "not fix are left at 0.";
  }

  // With the lift L·n at the seven's image X': the residual moved by it, and the seven's
  // derivative carried through ∂(X' + L·n)/∂X' = I + n·∇Lᵀ + L·∂n/∂X', with
  // ∂n/∂X' = cos φ·e·eᵀ / ((N + h)·cos φ) + n_φ·n_φᵀ / (M + h) (e east, n_φ north).
  void LiftedDerivative(const ModelParameters& params, const Eigen::Vector3d& image,
                        Eigen::Vector3d& residual, Eigen::Matrix<double, 3, 7>& jacobian) const {
    const Point3 moved(image.x(), image.y(), image.z());
    const Point3 at = surface_.Plane(params.heightReference, moved);
    const double lift = HeightOf(params, at);
    const Point3 n = surface_.Normal(moved);
    const EllipsoidSurface::Local local = surface_.LocalAt(moved);
    const Eigen::Vector3d normal(n.x, n.y, n.z);
    const Eigen::Vector3d east(local.east.x, local.east.y, local.east.z);
    const Eigen::Vector3d north(local.north.x, local.north.y, local.north.z);
    const std::vector<double>& v = params.values;
    const double k2 = kQuadricKilometresPerMetre * kQuadricKilometresPerMetre;
    const bool curved = v.size() > kDh + 5;
    const double byEast =
        v[kDh + 2] + (curved ? v[kDh + 4] * k2 * at.y + 2 * v[kDh + 5] * k2 * at.x : 0.0);
    const double byNorth =
        v[kDh + 1] + (curved ? 2 * v[kDh + 3] * k2 * at.y + v[kDh + 4] * k2 * at.x : 0.0);
    const Eigen::Vector3d gradient =
        byEast * surface_.EastScale(params.heightReference) / local.longitudeRadius * east +
        byNorth * surface_.NorthScale() / local.latitudeRadius * north;
    const Eigen::Matrix3d carry =
        Eigen::Matrix3d::Identity() + normal * gradient.transpose() +
        lift * (north.z() / local.longitudeRadius * east * east.transpose() +
                north * north.transpose() / local.latitudeRadius);
    residual += lift * normal;
    jacobian = carry * jacobian;
  }

  // The height surface's parameters after the seven and the two components.
  void HeightParameters() {
    parameters_.push_back({"heightShift", "m", 1.0, 4});
    parameters_.push_back({"slopeNorth", "ppm", kPartsPerMillion, 3});
    parameters_.push_back({"slopeEast", "ppm", kPartsPerMillion, 3});
    Component horizontal{"horizontal", ComponentLayout::Horizontal, {0, 1, 2, 3, 4, 5, 6}};
    Component vertical{"vertical", ComponentLayout::Vertical, {kDh}};
    if (vertical_ != Model::Vertical::Constant) {
      vertical.parameters.push_back(kDh + 1);
      vertical.parameters.push_back(kDh + 2);
    }
    if (vertical_ == Model::Vertical::Quadric) {
      // In metres per square kilometre, their σ in millimetres, as the site model's.
      for (const char* name : {"qNN", "qNE", "qEE"}) {
        parameters_.push_back({name, "mm/km2", 1e3, 3});
      }
      for (std::size_t k = kDh + 3; k < kDh + 6; ++k) vertical.parameters.push_back(k);
    }
    components_ = {horizontal, vertical};
  }

  // Each pair's place on the height surface (easting and northing about the height reference,
  // metres, of its source point after the seven) and, with it as z, what the seven leave in its
  // height along the normal: up · (Y − X') / (up · n), which the surface's lift s turns into the
  // residual (up · n) · (s − that).
  void HeightLists(const FramePairs& pairs, const ModelParameters& params, PointList& plane,
                   PointList& left) const {
    plane.assign(pairs.source.size(), Point3());
    left.assign(pairs.source.size(), Point3());
    for (std::size_t i = 0; i < pairs.source.size(); ++i) {
      const Point3 moved = ApplySeven(params, pairs.source[i], NAN);
      const Point3 normal = surface_.Normal(moved);
      const Point3 up = UpAt(pairs, i, normal);
      const Point3& q = pairs.destination[i];
      const double along = up.x * normal.x + up.y * normal.y + up.z * normal.z;
      const double gap = up.x * (q.x - moved.x) + up.y * (q.y - moved.y) + up.z * (q.z - moved.z);
      plane[i] = surface_.Plane(params.heightReference, moved);
      left[i] = Point3(plane[i].x, plane[i].y, gap / along);
    }
  }

  // The up axis at pair i's destination point, or `normal` without local axes.
  static Point3 UpAt(const FramePairs& pairs, std::size_t i, const Point3& normal) {
    if (pairs.axes == nullptr) return normal;
    const LocalAxes& local = (*pairs.axes)[i];
    return Point3(local.up[0], local.up[1], local.up[2]);
  }

  // The surface's lift at its plane coordinates `at` (metres about the height reference).
  double HeightOf(const ModelParameters& params, const Point3& at) const {
    const std::vector<double>& v = params.values;
    double lift = v[kDh] + v[kDh + 1] * at.y + v[kDh + 2] * at.x;
    if (v.size() > kDh + 5) {
      const double n = at.y * kQuadricKilometresPerMetre, e = at.x * kQuadricKilometresPerMetre;
      lift += v[kDh + 3] * n * n + v[kDh + 4] * n * e + v[kDh + 5] * e * e;
    }
    return lift;
  }

  // The surface fitted to what the seven in `params` leave, by the site model's closed forms
  // over the plane coordinates of HeightLists.
  bool FitHeights(const FramePairs& pairs, const std::vector<bool>& used, ModelParameters& params,
                  FitOutcome& outcome) const {
    PointList plane, left;
    HeightLists(pairs, params, plane, left);
    const QuadricFit fit = FitHeightSurface(vertical_, plane, left, used, Point3(),
                                            pairs.precision, outcome.notDetermined[1]);
    const double terms[6] = {fit.tz, fit.slopeNorth, fit.slopeEast, fit.qNN, fit.qNE, fit.qEE};
    std::copy(terms, terms + (vertical_ == Model::Vertical::Quadric ? 6 : 3),
              params.values.begin() + kDh);
    outcome.determined[1] = fit.determined, outcome.fixed[1] = fit.fixed;
    outcome.usable = AllFinite(params);
    return outcome.usable;
  }

  // r = up · (X' + s·n − Y) over the surface's terms: (up · n) times each term's monomial.
  void LineariseHeight(const ModelParameters& params, const FramePairs& pairs, std::size_t i,
                       PairLinearisation& out) const {
    const Point3 moved = ApplySeven(params, pairs.source[i], NAN);
    const Point3 normal = surface_.Normal(moved);
    const Point3 up = UpAt(pairs, i, normal);
    const Point3 at = surface_.Plane(params.heightReference, moved);
    const double lift = HeightOf(params, at);
    const Point3& q = pairs.destination[i];
    out.residual[0] = up.x * (moved.x + lift * normal.x - q.x) +
                      up.y * (moved.y + lift * normal.y - q.y) +
                      up.z * (moved.z + lift * normal.z - q.z);
    const double along = up.x * normal.x + up.y * normal.y + up.z * normal.z;
    const double n = at.y * kQuadricKilometresPerMetre, e = at.x * kQuadricKilometresPerMetre;
    const double monomials[6] = {1.0, at.y, at.x, n * n, n * e, e * e};
    for (std::size_t k = 0; k < components_[1].parameters.size(); ++k) {
      out.jacobian[k] = along * monomials[k];
    }
    out.largestCoordinate = Largest({q.x, q.y, q.z, moved.x, moved.y, moved.z, lift});
  }

  void SummariseHeights(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                        const ModelParameters& params, FitOutcome& outcome) const {
    const std::size_t h = CountOf(used[0]), v = CountOf(used[1]);
    outcome.summaryLine = std::string(aboutCentroid_ ? "Molodensky-Badekas" : "Helmert") +
                          " and a height surface, least squares in closed form: horizontal " +
                          std::to_string(h) + (h == 1 ? " pair" : " pairs") + ", vertical " +
                          std::to_string(v) + (v == 1 ? " pair" : " pairs");
    double sum = 0.0, jacobian[7 * 3];
    for (std::size_t i = 0; i < pairs.source.size(); ++i) {
      PairLinearisation out;
      out.jacobian = jacobian;
      if (used[0][i]) {
        Linearise(0, params, pairs, i, out);
        sum += out.residual[0] * out.residual[0] + out.residual[1] * out.residual[1];
      }
      if (used[1][i]) {
        Linearise(1, params, pairs, i, out);
        sum += out.residual[0] * out.residual[0];
      }
    }
    outcome.sumOfSquares = sum;
  }

  std::string HeightLine(const ModelParameters& params) const {
    const std::vector<double>& v = params.values;
    std::string line =
        Printed("heights: heightShift=%.4f m, slopeNorth=%.6f ppm, slopeEast=%.6f ppm", v[kDh],
                v[kDh + 1] * kPartsPerMillion, v[kDh + 2] * kPartsPerMillion);
    if (vertical_ == Model::Vertical::Quadric) {
      line += Printed(", qNN=%.6f mm/km2, qNE=%.6f mm/km2, qEE=%.6f mm/km2", v[kDh + 3] * 1e3,
                      v[kDh + 4] * 1e3, v[kDh + 5] * 1e3);
    }
    const Point3& h = params.heightReference;
    return line + Printed(", about X=%.4f m, Y=%.4f m, Z=%.4f m\n", h.x, h.y, h.z);
  }

  std::string HeightFormula() const {
    return std::string(
               "; then along the destination ellipsoid's normal h' = h + heightShift + "
               "slopeNorth * n + slopeEast * e") +
           (vertical_ == Model::Vertical::Quadric
                ? " + qNN * (n/1000)^2 + qNE * (n/1000) * (e/1000) + qEE * (e/1000)^2"
                : "") +
           ", e = a * cos(lat0) * (lon - lon0), n = a * (lat - lat0), (lon0, lat0) of "
           "heightReference on the destination's ellipsoid";
  }

  // After the seven: to longitude, latitude (radians) and height on the destination's
  // ellipsoid, the lift added to the height, and back. An affine step takes the plane's part
  // (z' = z + s31·λ + s32·φ + zoff); the quadric's terms come first, as the site model's do: the
  // point kept aside (push), turned into the plane coordinates (PROJ's horner takes no angles),
  // the terms made in their place by horner, added to the height, turned back into angles (which
  // the steps after take; pop overwrites them) and the point taken back (pop).
  std::string HeightSteps(const ModelParameters& params) const {
    const std::vector<double>& v = params.values;
    double scales[2], offsets[2];
    surface_.PlaneTerms(params.heightReference, scales, offsets);
    const double slopeEast = v[kDh + 2] * scales[0], slopeNorth = v[kDh + 1] * scales[1];
    const std::string linear =
        AffineStep({{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {slopeEast, slopeNorth, 1.0}},
                    {0.0, 0.0, v[kDh] + v[kDh + 2] * offsets[0] + v[kDh + 1] * offsets[1]}});
    if (linear.empty()) return std::string();
    std::string quadric;
    if (vertical_ == Model::Vertical::Quadric) {
      const double perSquareMetre = kQuadricKilometresPerMetre * kQuadricKilometresPerMetre;
      const std::string plane = surface_.PlaneProjection(params.heightReference);
      quadric = " +step +proj=push +v_1 +v_2 +step " + plane +
                " +step +proj=horner +ellps=GRS80 +range=1e10 +deg=2 +fwd_origin=0,0"
                " +inv_origin=0,0 +fwd_u=0,0," +
                PipelineNumber(v[kDh + 5] * perSquareMetre) + ",0," +
                PipelineNumber(v[kDh + 4] * perSquareMetre) + "," +
                PipelineNumber(v[kDh + 3] * perSquareMetre) +
                " +fwd_v=0,0,0,0,0,0 +inv_u=0,0,0,0,0,0 +inv_v=0,0,0,0,0,0"
                " +step +proj=affine +s31=1 +step +inv " +
                plane + " +step +proj=pop +v_1 +v_2";
    }
    return surface_.ToGeodetic() + quadric + linear + surface_.FromGeodetic();
  }

  // Each part fitted to what the other leaves: the seven move the surface's points by their
  // change, and the surface the seven's east and north by the angle between a normal and the
  // pair's up (nanoradians where the axes are the destination's own). The surface's terms y are
  // then a fixed point of y ↦ G(y), the seven fitted about y and the surface about those; the
  // seven fitted to east and north alone are weak in their tilt and their scale against a
  // radial shift, which makes the plain alternation crawl, so G is solved by Newton's method,
  // (I − G'(y))·δ = G(y) − y, G' by differences; G is linear but for the angles, and two steps
  // leave what the rounding of the seven's fit moves (micrometres in the heights).
  void SettleTheParts(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                      ModelParameters& params, FitOutcome& outcome) const {
    const std::vector<std::size_t>& terms = components_[1].parameters;
    const Eigen::Index k = static_cast<Eigen::Index>(terms.size());
    const auto round = [&](ModelParameters& trial) {
      FitComponent(0, pairs, used[0], trial, outcome);
      FitComponent(1, pairs, used[1], trial, outcome);
      Eigen::VectorXd y(k);
      for (Eigen::Index j = 0; j < k; ++j) y[j] = trial.values[terms[j]];
      return y;
    };
    const auto with = [&](const Eigen::VectorXd& y) {
      ModelParameters trial = params;
      for (Eigen::Index j = 0; j < k; ++j) trial.values[terms[j]] = y[j];
      return trial;
    };
    Eigen::VectorXd y = round(params);
    for (int step = 0; step < 3; ++step) {
      ModelParameters at = with(y);
      const Eigen::VectorXd image = round(at);
      // Settled: no term moves by a millionth of its step (nanometres over the site). The
      // seven's weak directions carry the rounding of a fit into the heights by a micrometre
      // or so, which no step removes: on a real network the three steps are taken.
      bool settled = true;
      for (Eigen::Index j = 0; j < k; ++j) {
        settled = settled && std::fabs(image[j] - y[j]) < 1e-6 * kNudge[terms[j] - kDh];
      }
      if (settled) break;
      Eigen::MatrixXd slope(k, k);
      for (Eigen::Index j = 0; j < k; ++j) {
        Eigen::VectorXd nudged = y;
        nudged[j] += kNudge[terms[j] - kDh];
        ModelParameters trial = with(nudged);
        slope.col(j) = (round(trial) - image) / kNudge[terms[j] - kDh];
      }
      const Eigen::VectorXd delta =
          (Eigen::MatrixXd::Identity(k, k) - slope).colPivHouseholderQr().solve(image - y);
      if (!delta.allFinite()) break;
      y += delta;
    }
    params = with(y);
    round(params);
  }
  // The differences' steps of the surface's terms: a millimetre over a site of some kilometres.
  static constexpr double kNudge[6] = {1e-3, 1e-8, 1e-8, 1e-7, 1e-7, 1e-7};

  // The first of the height surface's parameters, after the seven.
  static constexpr std::size_t kDh = 7;

  bool aboutCentroid_;
  double sign_;  // of the rotations as reported: +1 position vector, −1 coordinate frame
  bool rates_;   // the fourteen: each of the seven with its rate
  double referenceEpoch_;  // t0 as the settings give it; NaN for the pairs' mean epoch
  bool heights_;           // the seven on east and north, and a height surface
  Model::Vertical vertical_;
  Model settings_;
  EllipsoidSurface surface_;  // the destination's, which the height surface lies on
  HeightChoice choice_;
  std::vector<ParameterInfo> parameters_;
  std::vector<Component> components_;
};

}  // namespace

std::unique_ptr<TransformModel> MakeHelmertModel(const Model& model) {
  return std::make_unique<HelmertModel>(false, model, HeightChoice{});
}

std::unique_ptr<TransformModel> MakeMolodenskyBadekasModel(const Model& model) {
  return std::make_unique<HelmertModel>(true, model, HeightChoice{});
}

}  // namespace Quorvane
