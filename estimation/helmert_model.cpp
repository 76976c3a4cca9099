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

Vector3 ToVector(const Point3& p) { return Vector3(p.x, p.y, p.z); }

class HelmertModel final : public TransformModel {
 public:
  HelmertModel(bool aboutCentroid, Model::Convention convention)
      : aboutCentroid_(aboutCentroid), sign_(convention == Model::Convention::CoordinateFrame ? -1 : 1) {
    const double sign = sign_;
    parameters_ = {
        {"tx", "m", 1.0, 4, [](const ModelParameters& p) { return p.transform.tx; }},
        {"ty", "m", 1.0, 4, [](const ModelParameters& p) { return p.transform.ty; }},
        {"tz", "m", 1.0, 4, [](const ModelParameters& p) { return p.transform.tz; }},
        {"rx", "arcsec", kArcSecondsPerRadian, 4,
         [sign](const ModelParameters& p) { return sign * p.transform.rx; }},
        {"ry", "arcsec", kArcSecondsPerRadian, 4,
         [sign](const ModelParameters& p) { return sign * p.transform.ry; }},
        {"rz", "arcsec", kArcSecondsPerRadian, 4,
         [sign](const ModelParameters& p) { return sign * p.transform.rz; }},
        {"scale", "ppm", kPartsPerMillion, 4,
         [](const ModelParameters& p) { return p.transform.scale; }},
    };
    components_ = {{"", ComponentLayout::Whole, {0, 1, 2, 3, 4, 5, 6}}};
  }

  const char* Name() const override {
    return aboutCentroid_ ? "molodensky-badekas" : "helmert";
  }
  Frame FrameOf() const override { return Frame::Geocentric; }
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
    const PointList& source = pairs.source;
    const PointList& destination = pairs.destination;
    // Means about the first used pair, so that the centring loses nothing to the 6.4e6 m.
    std::size_t count = 0;
    Vector3 first = Vector3::Zero(), firstImage = Vector3::Zero();
    Vector3 mean = Vector3::Zero(), meanImage = Vector3::Zero();
    for (std::size_t i = 0; i < source.size(); ++i) {
      if (!used[i]) continue;
      if (count++ == 0) first = ToVector(source[i]), firstImage = ToVector(destination[i]);
      mean += ToVector(source[i]) - first;
      meanImage += ToVector(destination[i]) - firstImage;
    }
    outcome.determined.assign(1, false);
    outcome.fixed.assign(1, 0);
    TransformParams& t = params.transform;
    t = TransformParams{};
    if (count == 0) {
      outcome.usable = true;
      return true;
    }
    mean /= static_cast<Real>(count);
    meanImage /= static_cast<Real>(count);
    Real spread = 0, along = 0;
    Eigen::Matrix<Real, 3, 3> inertia = Eigen::Matrix<Real, 3, 3>::Zero();
    Vector3 turn = Vector3::Zero();
    for (std::size_t i = 0; i < source.size(); ++i) {
      if (!used[i]) continue;
      const Vector3 d = (ToVector(source[i]) - first) - mean;
      const Vector3 e = (ToVector(destination[i]) - firstImage) - meanImage;
      spread += d.squaredNorm();
      along += d.dot(e);
      inertia += d.squaredNorm() * Eigen::Matrix<Real, 3, 3>::Identity() - d * d.transpose();
      turn += d.cross(e);
    }
    Real scale = 1;
    Vector3 w = Vector3::Zero();
    // Without spread the scale and the three rotations are held; about a line, the rotation
    // about it.
    outcome.fixed[0] = 4;
    if (spread > 0) {
      scale = along / spread;
      // The rotation about every axis the points span; about a line they lie on, none (the
      // smallest rotation that fits best).
      const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(inertia.cast<double>());
      const double least = kLeastSpread * static_cast<double>(count);
      const bool full = eigen.eigenvalues()[0] > least;
      outcome.fixed[0] = 0;
      for (int k = 0; k < 3; ++k) outcome.fixed[0] += eigen.eigenvalues()[k] > least ? 0 : 1;
      if (full) {
        w = inertia.ldlt().solve(turn);
      } else {
        for (int k = 0; k < 3; ++k) {
          const double value = eigen.eigenvalues()[k];
          if (!(value > least)) continue;
          const Vector3 axis = eigen.eigenvectors().col(k).cast<Real>();
          w += axis * (axis.dot(turn) / static_cast<Real>(value));
        }
      }
      outcome.determined[0] = full;
    }
    // The shift of the pivot: Ȳ = Xp + T + m·(X̄ − Xp) + w × (X̄ − Xp).
    const Vector3 pivot = ToVector(params.reference);
    const Vector3 arm = (first - pivot) + mean;
    const Vector3 shift = ((firstImage - pivot) + meanImage) - scale * arm - w.cross(arm);
    t.tx = static_cast<double>(shift[0]);
    t.ty = static_cast<double>(shift[1]);
    t.tz = static_cast<double>(shift[2]);
    const Vector3 rotation = w / scale;
    t.rx = static_cast<double>(rotation[0]);
    t.ry = static_cast<double>(rotation[1]);
    t.rz = static_cast<double>(rotation[2]);
    t.scale = static_cast<double>(scale);
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
    const TransformParams& t = params.transform;
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
    const TransformParams& t = params.transform;
    const Point3& o = params.reference;
    const double dx = point.x - o.x, dy = point.y - o.y, dz = point.z - o.z;
    // d + Ω × d, then the scale and the shift.
    const double x = dx + (t.ry * dz - t.rz * dy);
    const double y = dy + (t.rz * dx - t.rx * dz);
    const double z = dz + (t.rx * dy - t.ry * dx);
    return Point3(o.x + t.tx + t.scale * x, o.y + t.ty + t.scale * y, o.z + t.tz + t.scale * z);
  }

  std::string ReportLines(const ModelParameters& params) const override {
    const TransformParams& p = params.transform;
    std::string lines = Printed("after:%.8f,%.8f,%.8f,%.8f,%.8f,%.8f,%.8f\n", p.tx, p.ty, p.tz,
                                sign_ * p.rx, sign_ * p.ry, sign_ * p.rz, p.scale);
    lines += Printed("%s: tx=%.4f m, ty=%.4f m, tz=%.4f m, rx=%.6f arcsec, ry=%.6f arcsec, "
                     "rz=%.6f arcsec, s=%.6f ppm, convention=%s",
                     Name(), p.tx, p.ty, p.tz, sign_ * p.rx * kArcSecondsPerRadian,
                     sign_ * p.ry * kArcSecondsPerRadian, sign_ * p.rz * kArcSecondsPerRadian,
                     (p.scale - 1.0) * kPartsPerMillion, ConventionName());
    if (StatesReference(params)) {
      const Point3& o = params.reference;
      lines += Printed(", reference X=%.4f m, Y=%.4f m, Z=%.4f m", o.x, o.y, o.z);
    }
    return lines + "\n";
  }

  std::vector<ResultMember> ResultMembers(const ModelParameters& params) const override {
    const TransformParams& p = params.transform;
    ResultMember model{"model"};
    model.text = Name();
    ResultMember convention{"convention"};
    convention.text = ConventionName();
    std::vector<ResultMember> members = {
        {"offset", {p.tx, p.ty, p.tz}, true},
        {"rotate", {Degrees(sign_ * p.rx), Degrees(sign_ * p.ry), Degrees(sign_ * p.rz)}, true},
        {"scale", {p.scale}},
        model,
        convention,
    };
    if (StatesReference(params)) {
      const Point3& o = params.reference;
      members.push_back({"reference", {o.x, o.y, o.z}, true});
    }
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
    const TransformParams& p = params.transform;
    const double numbers[] = {p.tx, p.ty, p.tz, p.rx, p.ry, p.rz, p.scale,
                              params.reference.x, params.reference.y, params.reference.z};
    for (const double number : numbers) {
      if (!std::isfinite(number)) return std::string();
    }
    std::string step = std::string(" +step +proj=") + (aboutCentroid_ ? "molobadekas" : "helmert") +
                       " +x=" + PipelineNumber(p.tx) + " +y=" + PipelineNumber(p.ty) +
                       " +z=" + PipelineNumber(p.tz) +
                       " +rx=" + PipelineNumber(sign_ * p.rx * kArcSecondsPerRadian) +
                       " +ry=" + PipelineNumber(sign_ * p.ry * kArcSecondsPerRadian) +
                       " +rz=" + PipelineNumber(sign_ * p.rz * kArcSecondsPerRadian) +
                       " +s=" + PipelineNumber((p.scale - 1.0) * kPartsPerMillion);
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
    const TransformParams& t = params.transform;
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
  bool RecordsCorrelation() const override { return true; }
  bool StatesReference(const ModelParameters&) const override { return aboutCentroid_; }

 private:
  const char* ConventionName() const {
    return sign_ > 0 ? "position_vector" : "coordinate_frame";
  }

  bool aboutCentroid_;
  double sign_;  // of the rotations as reported: +1 position vector, −1 coordinate frame
  std::vector<ParameterInfo> parameters_;
  std::vector<Component> components_;
};

}  // namespace

std::unique_ptr<const TransformModel> MakeHelmertModel(const Model& model) {
  return std::make_unique<HelmertModel>(model.kind == Model::Kind::MolodenskyBadekas,
                                        model.convention);
}

}  // namespace Quorvane
