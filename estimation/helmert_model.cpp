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
#include <memory>

#include <Eigen/Dense>

#include "estimation/model.h"
#include "estimation/model_support.h"

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

// The local rows of pair i divided by their a priori σ: east, north (horizontal σ) and up
// (vertical σ), or X, Y, Z without local axes.
Matrix3 WhitenedAxes(const FramePairs& pairs, std::size_t i) {
  Matrix3 axes = Matrix3::Identity();
  if (pairs.axes != nullptr) {
    const LocalAxes& local = (*pairs.axes)[i];
    for (int k = 0; k < 3; ++k) {
      axes(0, k) = local.east[k], axes(1, k) = local.north[k], axes(2, k) = local.up[k];
    }
  }
  const Precision& sigma = (*pairs.precision)[i];
  axes.row(0) /= sigma.horizontal;
  axes.row(1) /= sigma.horizontal;
  axes.row(2) /= sigma.vertical;
  return axes;
}

// The weighted least squares of X' − c' = s + m·d + w × d over the shift s between the centroids,
// μ = m − 1 and w along the determined axes (with d, the source point about its centroid, and
// the destination about its own): linear, solved by QR of the whitened, column-scaled design.
// Returns s; `scale` and `w` take the rest.
Vector3 WeightedSolve(const FramePairs& pairs, const std::vector<bool>& used, const Centring& c,
                      const Spread& spread, Real& scale, Vector3& w) {
  const Eigen::Index unknowns =
      3 + (spread.spread > 0 ? 1 : 0) + static_cast<Eigen::Index>(spread.axes.size());
  Eigen::MatrixXd design(3 * static_cast<Eigen::Index>(c.count), unknowns);
  Eigen::VectorXd observed(design.rows());
  Eigen::Index row = 0;
  for (std::size_t i = 0; i < pairs.source.size(); ++i) {
    if (!used[i]) continue;
    const Vector3 d = c.Source(pairs.source[i]);
    Eigen::Matrix<Real, 3, Eigen::Dynamic> columns(3, unknowns);
    columns.leftCols<3>().setIdentity();
    if (spread.spread > 0) columns.col(3) = d;
    for (std::size_t k = 0; k < spread.axes.size(); ++k) {
      columns.col(4 + static_cast<Eigen::Index>(k)) = spread.axes[k].cross(d);
    }
    const Matrix3 whitened = WhitenedAxes(pairs, i);
    design.middleRows<3>(row) = (whitened * columns).cast<double>();
    observed.segment<3>(row) = (whitened * (c.Image(pairs.destination[i]) - d)).cast<double>();
    row += 3;
  }
  Eigen::VectorXd scaling(unknowns);
  for (Eigen::Index k = 0; k < unknowns; ++k) {
    const double norm = design.col(k).norm();
    scaling[k] = norm > 0.0 ? 1.0 / norm : 1.0;
  }
  const Eigen::VectorXd x =
      scaling.asDiagonal() * (design * scaling.asDiagonal()).colPivHouseholderQr().solve(observed);
  scale = 1 + (spread.spread > 0 ? static_cast<Real>(x[3]) : 0);
  w = Vector3::Zero();
  for (std::size_t k = 0; k < spread.axes.size(); ++k) {
    w += spread.axes[k] * static_cast<Real>(x[4 + static_cast<Eigen::Index>(k)]);
  }
  return Vector3(x[0], x[1], x[2]);
}

class HelmertModel final : public TransformModel {
 public:
  HelmertModel(bool aboutCentroid, Model::Convention convention)
      : aboutCentroid_(aboutCentroid), sign_(convention == Model::Convention::CoordinateFrame ? -1 : 1) {
    parameters_ = {
        {"tx", "m", 1.0, 4},
        {"ty", "m", 1.0, 4},
        {"tz", "m", 1.0, 4},
        {"rx", "arcsec", kArcSecondsPerRadian, 4},
        {"ry", "arcsec", kArcSecondsPerRadian, 4},
        {"rz", "arcsec", kArcSecondsPerRadian, 4},
        {"scale", "ppm", kPartsPerMillion, 4},
    };
    components_ = {{"", ComponentLayout::Whole, {0, 1, 2, 3, 4, 5, 6}}};
  }

  const std::vector<ParameterInfo>& Parameters() const override { return parameters_; }
  const std::vector<Component>& Components() const override { return components_; }

  FitOutcome Fit(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 ModelParameters& params, int) const override {
    FitOutcome outcome;
    params = ModelParameters{};
    if (aboutCentroid_) params.reference = CentroidOf(pairs.source, {used[0]});
    FitComponent(0, pairs, used[0], params, outcome);
    Summarise(pairs, used, params, outcome);
    return outcome;
  }

  bool FitComponent(std::size_t, const FramePairs& pairs, const std::vector<bool>& used,
                    ModelParameters& params, FitOutcome& outcome) const override {
    const Centring c(pairs, used);
    outcome.determined.assign(1, false);
    outcome.fixed.assign(1, 0);
    Seven t;
    if (c.count == 0) {
      outcome.notDetermined.assign(1, NotDetermined(0, false));
      Store(t, params);
      outcome.usable = true;
      return true;
    }
    const Spread spread = SpreadOf(pairs, used, c);
    Real scale = 1;
    Vector3 w = Vector3::Zero();
    Vector3 shift = Vector3::Zero();  // between the centroids, beyond the scale and rotation
    if (pairs.precision != nullptr) {
      shift = WeightedSolve(pairs, used, c, spread, scale, w);
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
    outcome.notDetermined.assign(1, NotDetermined(c.count, outcome.determined[0]));
    // The shift of the pivot: Ȳ = Xp + T + m·(X̄ − Xp) + w × (X̄ − Xp).
    const Vector3 pivot = ToVector(params.reference);
    const Vector3 arm = (c.first - pivot) + c.mean;
    Vector3 moved = ((c.firstImage - pivot) + c.meanImage) - scale * arm - w.cross(arm);
    if (pairs.precision != nullptr) moved += shift;
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
    const std::size_t m = CountOf(used[0]);
    outcome.summaryLine = std::string(aboutCentroid_ ? "Molodensky-Badekas" : "Helmert") +
                          ", least squares in closed form: " + std::to_string(m) +
                          (m == 1 ? " pair" : " pairs");
    double sum = 0.0;
    for (std::size_t i = 0; i < pairs.source.size(); ++i) {
      if (!used[0][i]) continue;
      const Point3 w = Apply(params, pairs.source[i]);
      const Point3& q = pairs.destination[i];
      sum += (w.x - q.x) * (w.x - q.x) + (w.y - q.y) * (w.y - q.y) + (w.z - q.z) * (w.z - q.z);
    }
    outcome.sumOfSquares = sum;
  }

  void Linearise(std::size_t, const ModelParameters& params, const FramePairs& pairs,
                 std::size_t i, PairLinearisation& out) const override {
    const Seven t = Internal(params);
    const Eigen::Vector3d pivot(params.reference.x, params.reference.y, params.reference.z);
    const Point3& p = pairs.source[i];
    const Point3& q = pairs.destination[i];
    const Eigen::Vector3d d = Eigen::Vector3d(p.x, p.y, p.z) - pivot;
    const Eigen::Vector3d omega(t.rx, t.ry, t.rz);
    const Eigen::Vector3d turned = d + omega.cross(d);
    const Eigen::Vector3d residual = pivot + Eigen::Vector3d(t.tx, t.ty, t.tz) + t.scale * turned -
                                     Eigen::Vector3d(q.x, q.y, q.z);
    // Columns: the shift, the rotations as reported (−Ω in the coordinate frame convention), the
    // scale; ∂(Ω × d)/∂Ω = −[d]×.
    Eigen::Matrix<double, 3, 7> jacobian;
    jacobian.leftCols<3>().setIdentity();
    Eigen::Matrix3d cross;
    cross << 0.0, d.z(), -d.y(), -d.z(), 0.0, d.x(), d.y(), -d.x(), 0.0;
    jacobian.middleCols<3>(3) = (sign_ * t.scale) * cross;
    jacobian.col(6) = turned;
    Eigen::Matrix3d axes = Eigen::Matrix3d::Identity();
    if (pairs.axes != nullptr) {
      const LocalAxes& local = (*pairs.axes)[i];
      axes << local.east[0], local.east[1], local.east[2], local.north[0], local.north[1],
          local.north[2], local.up[0], local.up[1], local.up[2];
    }
    const Eigen::Vector3d rows = axes * residual;
    const Eigen::Matrix<double, 3, 7> local = axes * jacobian;
    for (int r = 0; r < 3; ++r) {
      out.residual[r] = rows[r];
      for (int k = 0; k < 7; ++k) out.jacobian[r * 7 + k] = local(r, k);
    }
    out.largestCoordinate = Largest({p.x, p.y, p.z, q.x, q.y, q.z});
  }

  Point3 Apply(const ModelParameters& params, const Point3& point) const override {
    const Seven t = Internal(params);
    const Point3& o = params.reference;
    const double dx = point.x - o.x, dy = point.y - o.y, dz = point.z - o.z;
    // d + Ω × d, then the scale and the shift.
    const double x = dx + (t.ry * dz - t.rz * dy);
    const double y = dy + (t.rz * dx - t.rx * dz);
    const double z = dz + (t.rx * dy - t.ry * dx);
    return Point3(o.x + t.tx + t.scale * x, o.y + t.ty + t.scale * y, o.z + t.tz + t.scale * z);
  }

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
    return lines + "\n";
  }

  // The default members and the convention after "model".
  std::vector<ResultMember> ResultMembers(const ModelParameters& params) const override {
    std::vector<ResultMember> members = TransformModel::ResultMembers(params);
    ResultMember convention{"convention"};
    convention.text = ConventionName();
    members.insert(members.begin() + 4, convention);
    return members;
  }

  std::string Formula(const ModelParameters&) const override {
    const char* rotation = sign_ > 0 ? "R = [[1, -rz, ry], [rz, 1, -rx], [-ry, rx, 1]]"
                                     : "R = [[1, rz, -ry], [-rz, 1, rx], [ry, -rx, 1]]";
    if (aboutCentroid_) {
      return std::string("molodensky-badekas: X' = Xp + T + (1 + s) * R * (X - Xp), ") + rotation +
             ", Xp = reference (" + ConventionName() + ")";
    }
    return std::string("helmert: X' = T + (1 + s) * R * X, ") + rotation + " (" +
           ConventionName() + ")";
  }

  std::string ProjSteps(const ModelParameters& params) const override {
    const std::vector<double>& v = params.values;
    const double numbers[] = {v[0], v[1], v[2], v[3], v[4], v[5], v[6],
                              params.reference.x, params.reference.y, params.reference.z};
    for (const double number : numbers) {
      if (!std::isfinite(number)) return std::string();
    }
    std::string step = std::string(" +step +proj=") + (aboutCentroid_ ? "molobadekas" : "helmert") +
                       " +x=" + PipelineNumber(v[0]) + " +y=" + PipelineNumber(v[1]) +
                       " +z=" + PipelineNumber(v[2]) +
                       " +rx=" + PipelineNumber(v[3] * kArcSecondsPerRadian) +
                       " +ry=" + PipelineNumber(v[4] * kArcSecondsPerRadian) +
                       " +rz=" + PipelineNumber(v[5] * kArcSecondsPerRadian) +
                       " +s=" + PipelineNumber((v[6] - 1.0) * kPartsPerMillion);
    if (aboutCentroid_) {
      step += " +px=" + PipelineNumber(params.reference.x) +
              " +py=" + PipelineNumber(params.reference.y) +
              " +pz=" + PipelineNumber(params.reference.z);
    }
    return step + " +convention=" + ConventionName();
  }

  std::vector<ResultMember> RecordMembers(const ModelParameters& params) const override {
    const int method = aboutCentroid_
                           ? (sign_ > 0 ? kMolodenskyBadekasPositionVector
                                        : kMolodenskyBadekasCoordinateFrame)
                           : (sign_ > 0 ? kPositionVector : kCoordinateFrame);
    ResultMember code{"method", {static_cast<double>(method)}};
    code.integer = true;
    // +towgs84 takes the Bursa–Wolf terms in the position-vector convention: about the pivot,
    // T_bw = Xp + T − (1 + s)·R·Xp.
    const Seven t = Internal(params);
    const Point3 origin = Apply(params, Point3());
    return {code,
            {"towgs84",
             {origin.x, origin.y, origin.z, t.rx * kArcSecondsPerRadian,
              t.ry * kArcSecondsPerRadian, t.rz * kArcSecondsPerRadian,
              (t.scale - 1.0) * kPartsPerMillion},
             true}};
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
  void Store(const Seven& t, ModelParameters& params) const {
    params.values = {t.tx, t.ty, t.tz, sign_ * t.rx, sign_ * t.ry, sign_ * t.rz, t.scale};
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

  bool aboutCentroid_;
  double sign_;  // of the rotations as reported: +1 position vector, −1 coordinate frame
  std::vector<ParameterInfo> parameters_;
  std::vector<Component> components_;
};

}  // namespace

std::unique_ptr<TransformModel> MakeHelmertModel(const Model& model) {
  return std::make_unique<HelmertModel>(false, model.convention);
}

std::unique_ptr<TransformModel> MakeMolodenskyBadekasModel(const Model& model) {
  return std::make_unique<HelmertModel>(true, model.convention);
}

}  // namespace Quorvane
