// The twelve-parameter affine transformation of geocentric coordinates, X' = T + A · X with A a
// general 3 × 3 matrix: a shift, three rotations, three scales and three shears, as PROJ's affine
// step applies it. It is linear in its twelve parameters. About the centroid c of the fitted
// source points and c' of their images, X' − c' = s + d + (A − I) · d with d = X − c and
// s = T + A·c − c': the least squares of s and A − I, solved by QR of the design with its columns
// scaled to unit length, are those of T and A, and they do not lose the digits that the raw
// coordinates (every one 6.4e6 m from the origin) would cost the normal equations. Where the
// points do not spread in some direction n (all in one plane, on one line), A·n is held at n: the
// matrix is the identity in the directions the points leave open.
#include <cmath>
#include <memory>

#include <Eigen/Dense>

#include "estimation/model.h"
#include "estimation/model_support.h"

namespace Quorvane {

namespace {

using namespace ModelSupport;
using Real = long double;
using Vector3 = Eigen::Matrix<Real, 3, 1>;

// The picture's title: 十二参数 (the twelve parameters) and 仿射 (affine), in full-width brackets.
constexpr char kAffineTitle[] =
    "\xEF\xBC\x88\xE5\x8D\x81\xE4\xBA\x8C\xE5\x8F\x82\xE6\x95\xB0\xEF\xBC\x9A\xE4\xBB\xBF\xE5"
    "\xB0\x84\xEF\xBC\x89";  // （十二参数：仿射）

// Below this spread of the points along a direction through their centroid (square metres per
// point, a millimetre across) A is not determined along it.
constexpr double kLeastSpread = 1e-6;

Vector3 ToVector(const Point3& p) { return Vector3(p.x, p.y, p.z); }

// The source and destination centroids of the used pairs, summed about the first used pair in
// long double.
struct Centroids {
  std::size_t count = 0;
  Vector3 source = Vector3::Zero(), image = Vector3::Zero();
};

Centroids CentroidsOf(const FramePairs& pairs, const std::vector<bool>& used) {
  Centroids c;
  Vector3 first = Vector3::Zero(), firstImage = Vector3::Zero();
  for (std::size_t i = 0; i < pairs.source.size(); ++i) {
    if (!used[i]) continue;
    if (c.count++ == 0) {
      first = ToVector(pairs.source[i]), firstImage = ToVector(pairs.destination[i]);
    }
    c.source += ToVector(pairs.source[i]) - first;
    c.image += ToVector(pairs.destination[i]) - firstImage;
  }
  if (c.count == 0) return c;
  c.source = first + c.source / static_cast<Real>(c.count);
  c.image = firstImage + c.image / static_cast<Real>(c.count);
  return c;
}

// The directions the used source points spread along (unit vectors, the eigenvectors of their
// scatter about the centroid whose spread exceeds kLeastSpread per point).
std::vector<Eigen::Vector3d> SpreadDirections(const FramePairs& pairs,
                                              const std::vector<bool>& used, const Centroids& c) {
  Eigen::Matrix<Real, 3, 3> scatter = Eigen::Matrix<Real, 3, 3>::Zero();
  for (std::size_t i = 0; i < pairs.source.size(); ++i) {
    if (!used[i]) continue;
    const Vector3 d = ToVector(pairs.source[i]) - c.source;
    scatter += d * d.transpose();
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(scatter.cast<double>());
  std::vector<Eigen::Vector3d> directions;
  for (int k = 0; k < 3; ++k) {
    if (eigen.eigenvalues()[k] > kLeastSpread * static_cast<double>(c.count)) {
      directions.push_back(eigen.eigenvectors().col(k));
    }
  }
  return directions;
}

// Pair i's residual rows in the statistics' frame, divided by their a priori σ: local east, north
// (horizontal σ) and up (vertical σ). Without a priori precision every row weighs alike, and
// geocentric X, Y, Z give the same least squares.
Eigen::Matrix3d RowsOf(const FramePairs& pairs, std::size_t i) {
  Eigen::Matrix3d rows = Eigen::Matrix3d::Identity();
  if (pairs.precision == nullptr) return rows;
  if (pairs.axes != nullptr) {
    const LocalAxes& local = (*pairs.axes)[i];
    for (int k = 0; k < 3; ++k) {
      rows(0, k) = local.east[k], rows(1, k) = local.north[k], rows(2, k) = local.up[k];
    }
  }
  const Precision& sigma = (*pairs.precision)[i];
  rows.row(0) /= sigma.horizontal;
  rows.row(1) /= sigma.horizontal;
  rows.row(2) /= sigma.vertical;
  return rows;
}

class AffineModel final : public TransformModel {
 public:
  AffineModel() {
    for (const char* name : {"tx", "ty", "tz"}) parameters_.push_back({name, "m", 1.0, 4, 4, "m"});
    for (int r = 1; r <= 3; ++r) {
      for (int k = 1; k <= 3; ++k) {
        parameters_.push_back(
            {"a" + std::to_string(r) + std::to_string(k), "ppm", kPartsPerMillion, 4, 12, ""});
      }
    }
    components_ = {WholeComponent(parameters_.size())};
  }

  const std::vector<ParameterInfo>& Parameters() const override { return parameters_; }
  const std::vector<Component>& Components() const override { return components_; }

  FitOutcome Fit(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 ModelParameters& params, int) const override {
    FitOutcome outcome;
    params = ModelParameters{};
    FitComponent(0, pairs, used[0], params, outcome);
    Summarise(pairs, used, params, outcome);
    return outcome;
  }

  bool FitComponent(std::size_t, const FramePairs& pairs, const std::vector<bool>& used,
                    ModelParameters& params, FitOutcome& outcome) const override {
    const Centroids c = CentroidsOf(pairs, used);
    const std::vector<Eigen::Vector3d> spread =
        c.count == 0 ? std::vector<Eigen::Vector3d>() : SpreadDirections(pairs, used, c);
    const Eigen::Index r = static_cast<Eigen::Index>(spread.size());
    // A − I = G · Uᵀ, U the directions of spread as columns: the unknowns s and G (row by row).
    Eigen::MatrixXd U(3, r);
    for (Eigen::Index k = 0; k < r; ++k) U.col(k) = spread[static_cast<std::size_t>(k)];
    const Eigen::Index unknowns = 3 + 3 * r;
    Eigen::MatrixXd design(3 * static_cast<Eigen::Index>(c.count), unknowns);
    Eigen::VectorXd observed(design.rows());
    Eigen::Index row = 0;
    for (std::size_t i = 0; i < pairs.source.size(); ++i) {
      if (!used[i]) continue;
      const Vector3 d = ToVector(pairs.source[i]) - c.source;
      const Vector3 e = ToVector(pairs.destination[i]) - c.image;
      const Eigen::RowVectorXd along = (U.transpose() * d.cast<double>()).transpose();
      Eigen::MatrixXd columns = Eigen::MatrixXd::Zero(3, unknowns);
      columns.leftCols<3>().setIdentity();
      for (Eigen::Index j = 0; j < 3; ++j) columns.block(j, 3 + j * r, 1, r) = along;
      const Eigen::Matrix3d rows = RowsOf(pairs, i);
      design.middleRows<3>(row) = rows * columns;
      observed.segment<3>(row) = rows * (e - d).cast<double>();
      row += 3;
    }
    Eigen::VectorXd x = Eigen::VectorXd::Zero(unknowns);
    if (c.count > 0) {
      Eigen::VectorXd scaling(unknowns);
      for (Eigen::Index k = 0; k < unknowns; ++k) {
        const double norm = design.col(k).norm();
        scaling[k] = norm > 0.0 ? 1.0 / norm : 1.0;
      }
      x = scaling.asDiagonal() *
          (design * scaling.asDiagonal()).colPivHouseholderQr().solve(observed);
    }
    Eigen::Matrix<Real, 3, 3> change = Eigen::Matrix<Real, 3, 3>::Zero();  // A − I
    for (Eigen::Index j = 0; j < 3; ++j) {
      for (Eigen::Index k = 0; k < r; ++k) {
        change.row(j) += static_cast<Real>(x[3 + j * r + k]) * U.col(k).transpose().cast<Real>();
      }
    }
    // X' = c' + s + A·(X − c): T = (c' − c) + s − (A − I)·c.
    const Vector3 shift =
        (c.image - c.source) + Vector3(x[0], x[1], x[2]) - change * c.source;
    params.values.assign(parameters_.size(), 0.0);
    for (int j = 0; j < 3; ++j) {
      params.values[static_cast<std::size_t>(j)] = static_cast<double>(shift[j]);
      for (int k = 0; k < 3; ++k) {
        params.values[static_cast<std::size_t>(3 + 3 * j + k)] =
            static_cast<double>((j == k ? 1 : 0) + change(j, k));
      }
    }
    outcome.determined.assign(1, r == 3);
    outcome.fixed.assign(1, static_cast<int>(3 * (3 - r)));
    outcome.notDetermined.assign(1, NotDetermined(c.count, r));
    outcome.usable = AllFinite(params);
    return outcome.usable;
  }

  void Summarise(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 const ModelParameters& params, FitOutcome& outcome) const override {
    const std::size_t m = CountOf(used[0]);
    outcome.summaryLine = "Affine, linear least squares: " + std::to_string(m) +
                          (m == 1 ? " pair" : " pairs");
    double sum = 0.0;
    for (std::size_t i = 0; i < pairs.source.size(); ++i) {
      if (!used[0][i]) continue;
      const Point3 w = Apply(params, pairs.source[i], pairs.EpochOf(i));
      const Point3& q = pairs.destination[i];
      sum += (w.x - q.x) * (w.x - q.x) + (w.y - q.y) * (w.y - q.y) + (w.z - q.z) * (w.z - q.z);
    }
    outcome.sumOfSquares = sum;
  }

  void Linearise(std::size_t, const ModelParameters& params, const FramePairs& pairs,
                 std::size_t i, PairLinearisation& out) const override {
    const Point3& p = pairs.source[i];
    const Point3& q = pairs.destination[i];
    const Eigen::Vector3d source(p.x, p.y, p.z);
    // T + (A − I)·p + (p − q): the difference p − q of two nearly equal coordinates is exact.
    const Eigen::Vector3d residual =
        Shift(params) + Change(params) * source + (source - Eigen::Vector3d(q.x, q.y, q.z));
    // ∂/∂T = I, ∂/∂a_jk = e_j · p_k, in the local axes.
    Eigen::Matrix<double, 3, 12> jacobian = Eigen::Matrix<double, 3, 12>::Zero();
    jacobian.leftCols<3>().setIdentity();
    for (int j = 0; j < 3; ++j) jacobian.block<1, 3>(j, 3 + 3 * j) = source.transpose();
    Eigen::Matrix3d axes = Eigen::Matrix3d::Identity();
    if (pairs.axes != nullptr) {
      const LocalAxes& local = (*pairs.axes)[i];
      axes << local.east[0], local.east[1], local.east[2], local.north[0], local.north[1],
          local.north[2], local.up[0], local.up[1], local.up[2];
    }
    const Eigen::Vector3d rows = axes * residual;
    const Eigen::Matrix<double, 3, 12> local = axes * jacobian;
    for (int r = 0; r < 3; ++r) {
      out.residual[r] = rows[r];
      for (int k = 0; k < 12; ++k) out.jacobian[r * 12 + k] = local(r, k);
    }
    out.largestCoordinate = Largest({p.x, p.y, p.z, q.x, q.y, q.z});
  }

  Point3 Apply(const ModelParameters& params, const Point3& point, double) const override {
    const Eigen::Vector3d p(point.x, point.y, point.z);
    const Eigen::Vector3d image = Shift(params) + Change(params) * p + p;
    return Point3(image[0], image[1], image[2]);
  }

  // The shift, the rotations of A's antisymmetric part (A − Aᵀ)/2 and the scale ∛det A, the
  // rotations divided by it: for the small angles of a datum change those of the Helmert
  // transformation nearest to A, in its position-vector convention.
  ContractFigures Figures(const ModelParameters& params) const override {
    const std::vector<double>& v = params.values;
    const Eigen::Matrix3d A = Change(params) + Eigen::Matrix3d::Identity();
    ContractFigures figures;
    figures.offset[0] = v[0], figures.offset[1] = v[1], figures.offset[2] = v[2];
    figures.scale = std::cbrt(A.determinant());
    figures.rotate[0] = (A(2, 1) - A(1, 2)) / (2.0 * figures.scale);
    figures.rotate[1] = (A(0, 2) - A(2, 0)) / (2.0 * figures.scale);
    figures.rotate[2] = (A(1, 0) - A(0, 1)) / (2.0 * figures.scale);
    return figures;
  }

  // The default members and A row by row.
  std::vector<ResultMember> ResultMembers(const ModelParameters& params) const override {
    std::vector<ResultMember> members = TransformModel::ResultMembers(params);
    members.push_back({"matrix", std::vector<double>(params.values.begin() + 3,
                                                     params.values.end()),
                       true});
    return members;
  }

  std::string Formula(const ModelParameters&) const override {
    return "affine: X' = T + A * X, T = (tx, ty, tz), "
           "A = [[a11, a12, a13], [a21, a22, a23], [a31, a32, a33]]";
  }

  std::string ProjSteps(const ModelParameters& params) const override {
    const std::vector<double>& v = params.values;
    AffineTerms affine{};
    for (int j = 0; j < 3; ++j) {
      affine.offset[j] = v[static_cast<std::size_t>(j)];
      for (int k = 0; k < 3; ++k) affine.s[j][k] = v[static_cast<std::size_t>(3 + 3 * j + k)];
    }
    return AffineStep(affine);
  }

  std::string PlotTitle() const override { return kAffineTitle; }
  bool StatesReference(const ModelParameters&) const override { return false; }

 private:
  static Eigen::Vector3d Shift(const ModelParameters& params) {
    return Eigen::Vector3d(params.values[0], params.values[1], params.values[2]);
  }
  // A − I: each diagonal term less 1 exactly, as the terms lie near 1.
  static Eigen::Matrix3d Change(const ModelParameters& params) {
    Eigen::Matrix3d change;
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) {
        change(j, k) = params.values[static_cast<std::size_t>(3 + 3 * j + k)] - (j == k ? 1 : 0);
      }
    }
    return change;
  }

  // Why `m` pairs whose source points spread in `spread` directions do not determine the
  // twelve, and what the fit held.
  static std::string NotDetermined(std::size_t m, Eigen::Index spread) {
    if (spread == 3) return std::string();
    const char* where = spread == 2 ? "lie in one plane"
                        : spread == 1 ? "lie on one line"
                                      : "lie within a millimetre of each other";
    return "the transform is not determined by the points given: " +
           (m < 4 ? PairsFitted(m)
                  : "the " + std::to_string(m) + " fitted source points " + where) +
           ", and the twelve parameters need four pairs not in one plane; the matrix is left as "
           "the identity in the directions they do not span.";
  }

  std::vector<ParameterInfo> parameters_;
  std::vector<Component> components_;
};

}  // namespace

std::unique_ptr<TransformModel> MakeAffineModel(const Model&) {
  return std::make_unique<AffineModel>();
}

}  // namespace Quorvane
