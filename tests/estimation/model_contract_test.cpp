// What every model of the table promises, in every setting its table line lets it take, fitted
// with equal weights and with a priori σ: its PROJ steps run by libproj carry points where Apply
// does; Linearise is the derivative of Apply; the fit is the (weighted) least-squares optimum, a
// dense Gauss-Newton step from it moving nothing; the leave-one-out test of a planted blunder is
// what a real refit without it gives; and points on one spot or one line are said not to
// determine what they do not, with no precision claimed for it.
#include <proj.h>

#include <algorithm>
#include <cmath>
#include <string>

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include "estimation/model.h"
#include "tests/estimation/networks.h"

namespace Quorvane {
namespace {

using QuorvaneTest::All;

constexpr double kMicrometre = 1e-6;  // m: two evaluations of the same map, rounding apart
constexpr double kDerivative = 1e-6;  // of a column's largest entry: central differences
constexpr double kEpsilon = 2.220446049250313e-16;  // of a double
constexpr double kRoundingUlps = 4;   // of the largest coordinate, in two images differenced
constexpr double kClosedForm = 1e-7;  // m: a closed form against its own linearisation
constexpr double kSolver = 1e-5;      // m: the solver stops within this of the optimum
constexpr double kRoundingSum = 1e-9;  // of Σ vᵀPv, relative: sums of a few dozen terms
constexpr std::size_t kBlunder = 4;   // the pair that carries 0.3 m in each coordinate

// Every combination of the settings the table line declares (and, in a plane, of the reference
// a grid gives), with the model's name.
std::vector<Model> Variants(const ModelEntry& entry) {
  std::vector<Model> variants(1);
  variants[0].name = entry.name;
  const auto times = [&](int count, void (*set)(Model&, int)) {
    std::vector<Model> more;
    for (const Model& model : variants) {
      for (int k = 0; k < count; ++k) set(more.emplace_back(model), k);
    }
    variants = more;
  };
  if (entry.Takes(kTakesFixScale)) times(2, [](Model& m, int k) { m.fixScale = k == 1; });
  if (entry.Takes(kTakesVertical)) {
    times(5, [](Model& m, int k) { m.vertical = static_cast<Model::Vertical>(k); });
  }
  if (entry.Takes(kTakesConvention)) {
    times(2, [](Model& m, int k) { m.convention = static_cast<Model::Convention>(k); });
  }
  if (entry.frame == Frame::Plane) times(2, [](Model& m, int k) { m.aboutCentroid = k == 1; });
  if (entry.Takes(kTakesRates)) times(2, [](Model& m, int k) { m.rates = k == 1; });
  // The run refuses --vertical constant with a geocentric model: the seven fitted to east and
  // north alone leave a tilt in the heights that a constant does not take up.
  if (entry.frame == Frame::Geocentric) {
    variants.erase(
        std::remove_if(variants.begin(), variants.end(),
                       [](const Model& m) { return m.vertical == Model::Vertical::Constant; }),
        variants.end());
  }
  return variants;
}

// Pairs for a model in its frame: 16 over 10 km of plane (at a grid's coordinates when the model
// acts about the centroid) or 300 km of Britain, a 0.3 m blunder, and each pair's σ and epoch (in
// 2011 to 2023, which only a model with rates reads).
struct Network {
  PointList source, destination;
  std::vector<LocalAxes> axes;
  std::vector<Precision> precision;
  std::vector<double> epochs;

  explicit Network(const Model& model, Frame frame) {
    if (frame == Frame::Plane) {
      const Point3 grid = model.aboutCentroid ? Point3(500000, 3800000, 0) : Point3();
      QuorvaneTest::PlaneNetwork net(16, 0.02, 0.01, 23, grid);
      source = net.source, destination = net.destination;
    } else {
      QuorvaneTest::GeocentricNetwork net(16, QuorvaneTest::Epsg1314Step(), 0.02);
      source = net.source, destination = net.destination, axes = net.axes;
    }
    destination[kBlunder].x += 0.3, destination[kBlunder].y += 0.3, destination[kBlunder].z += 0.3;
    for (std::size_t i = 0; i < source.size(); ++i) {
      precision.push_back({0.01 + 0.002 * (i % 5), 0.02 + 0.003 * (i % 4)});
      epochs.push_back(2011.0 + static_cast<double>((7 * i) % 13));
    }
  }
  FramePairs Pairs(bool weighted) const {
    return {source, destination, axes.empty() ? nullptr : &axes, weighted ? &precision : nullptr,
            &epochs};
  }
};

// Pair i's residual rows of component `layout` at `params`, from Apply: east, north, height or
// up (the local axes in geocentric space).
Eigen::VectorXd RowsAt(const TransformModel& model, const ModelParameters& params,
                       const FramePairs& pairs, std::size_t i, ComponentLayout layout) {
  const Point3 w = model.Apply(params, pairs.source[i], pairs.EpochOf(i));
  const Point3& q = pairs.destination[i];
  Eigen::Vector3d v(w.x - q.x, w.y - q.y, w.z - q.z);
  if (pairs.axes != nullptr) {
    const LocalAxes& a = (*pairs.axes)[i];
    v = Eigen::Vector3d(Eigen::Vector3d(a.east).dot(v), Eigen::Vector3d(a.north).dot(v),
                        Eigen::Vector3d(a.up).dot(v));
  }
  if (layout == ComponentLayout::Horizontal) return v.head<2>();
  if (layout == ComponentLayout::Vertical) return v.tail<1>();
  return v;
}

// The step of a parameter's central difference.
double StepOf(double value) { return 1e-4 * (1.0 + std::fabs(value)); }

// ∂(rows of pair i)/∂(the component's parameters) by central differences of Apply.
Eigen::MatrixXd NumericJacobian(const TransformModel& model, const ModelParameters& params,
                                const FramePairs& pairs, std::size_t i, const Component& c) {
  Eigen::MatrixXd J(RowsOf(c.layout), static_cast<Eigen::Index>(c.parameters.size()));
  for (std::size_t k = 0; k < c.parameters.size(); ++k) {
    ModelParameters plus = params, minus = params;
    const double h = StepOf(params.values[c.parameters[k]]);
    plus.values[c.parameters[k]] += h, minus.values[c.parameters[k]] -= h;
    J.col(static_cast<Eigen::Index>(k)) = (RowsAt(model, plus, pairs, i, c.layout) -
                                           RowsAt(model, minus, pairs, i, c.layout)) / (2 * h);
  }
  return J;
}

// Apply against the PROJ steps and against Linearise, pair by pair.
void CheckApply(const TransformModel& model, const ModelParameters& params,
                const FramePairs& pairs) {
  PJ* pipeline = proj_create(PJ_DEFAULT_CTX, ("+proj=pipeline" + model.ProjSteps(params)).c_str());
  ASSERT_NE(pipeline, nullptr) << model.ProjSteps(params);
  for (std::size_t i = 0; i < pairs.source.size(); ++i) {
    const Point3& p = pairs.source[i];
    const double t = pairs.EpochOf(i);
    const PJ_COORD proj = proj_trans(pipeline, PJ_FWD, proj_coord(p.x, p.y, p.z, t));
    const Point3 mine = model.Apply(params, p, t);
    EXPECT_NEAR(proj.xyz.x, mine.x, kMicrometre) << "pair " << i;
    EXPECT_NEAR(proj.xyz.y, mine.y, kMicrometre) << "pair " << i;
    EXPECT_NEAR(proj.xyz.z, mine.z, kMicrometre) << "pair " << i;
    for (std::size_t c = 0; c < model.Components().size(); ++c) {
      const Component& component = model.Components()[c];
      const int d = RowsOf(component.layout);
      std::vector<double> jacobian(d * component.parameters.size());
      PairLinearisation out;
      out.jacobian = jacobian.data();
      model.Linearise(c, params, pairs, i, out);
      const Eigen::VectorXd rows = RowsAt(model, params, pairs, i, component.layout);
      const Eigen::MatrixXd numeric = NumericJacobian(model, params, pairs, i, component);
      const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic,
                                           Eigen::RowMajor>>
          given(jacobian.data(), d, numeric.cols());
      for (int r = 0; r < d; ++r) EXPECT_NEAR(out.residual[r], rows[r], kMicrometre) << i;
      for (Eigen::Index k = 0; k < numeric.cols(); ++k) {
        const double scale = std::max(1.0, numeric.col(k).cwiseAbs().maxCoeff());
        // A parameter near 0 (a rate) is stepped by 1e-4 only, over which rounding the image of
        // a point 6.4e6 m out costs more than the central difference's own error.
        const double rounding = kRoundingUlps * kEpsilon * out.largestCoordinate /
                                StepOf(params.values[component.parameters[k]]);
        EXPECT_LE((given.col(k) - numeric.col(k)).cwiseAbs().maxCoeff(),
                  kDerivative * scale + rounding)
            << "part " << c << ", parameter " << model.Parameters()[component.parameters[k]].name;
      }
    }
  }
  proj_destroy(pipeline);
}

// The fit is the optimum of its weighted least squares: a Gauss-Newton step of its linearisation
// (which CheckApply holds to Apply), by QR of J with its columns scaled to unit length, moves no
// point.
void CheckOptimum(const TransformModel& model, std::size_t c, const ModelParameters& params,
                  const FramePairs& pairs, double tolerance) {
  const Component& component = model.Components()[c];
  const int d = RowsOf(component.layout);
  const std::size_t m = pairs.source.size();
  const Eigen::Index u = static_cast<Eigen::Index>(component.parameters.size());
  Eigen::MatrixXd J(d * m, u);  // rows divided by their σ
  Eigen::VectorXd v(d * m), whitening(d * m);
  std::vector<double> jacobian(d * u);
  for (std::size_t i = 0; i < m; ++i) {
    PairLinearisation out;
    out.jacobian = jacobian.data();
    model.Linearise(c, params, pairs, i, out);
    double rows[3];
    RowWhitening(component.layout, pairs.precision, i, rows);
    for (int r = 0; r < d; ++r) {
      whitening[d * i + r] = rows[r];
      for (Eigen::Index k = 0; k < u; ++k) J(d * i + r, k) = rows[r] * jacobian[r * u + k];
      v[d * i + r] = rows[r] * out.residual[r];
    }
  }
  const Eigen::VectorXd scaling = J.colwise().norm().cwiseInverse();
  const Eigen::VectorXd step =
      scaling.asDiagonal() * (J * scaling.asDiagonal()).colPivHouseholderQr().solve(-v);
  const Eigen::VectorXd moved = (J * step).cwiseQuotient(whitening);  // metres
  EXPECT_LE(moved.cwiseAbs().maxCoeff(), tolerance) << "part " << c;
}

// The leave-one-out test of the blunder flags it and is what a real refit without it gives.
void CheckLeaveOneOut(const TransformModel& model, std::size_t c, const ModelParameters& params,
                      const FramePairs& pairs, double tolerance) {
  const Component& component = model.Components()[c];
  const int d = RowsOf(component.layout);
  const std::size_t m = pairs.source.size();
  std::vector<bool> used(m, true);
  const FitStatistics stats = ComputeModelStatistics(model, c, pairs, used, params);
  const PairTest& test = stats.tests[kBlunder];
  ASSERT_TRUE(test.testable) << "part " << c;
  EXPECT_TRUE(test.suspect) << "part " << c;
  used[kBlunder] = false;
  ModelParameters refit = params;
  FitOutcome outcome;
  ASSERT_TRUE(model.FitComponent(c, pairs, used, refit, outcome));
  const FitStatistics without = ComputeModelStatistics(model, c, pairs, used, refit);
  // The identities are exact for a model linear in its parameters and first order otherwise (a
  // rotation without a scale): then within the model's own departure from its linearisation
  // over the step from the fit to the refit, at every row it is fitted to.
  Eigen::VectorXd moved(component.parameters.size());
  for (std::size_t k = 0; k < component.parameters.size(); ++k) {
    moved[static_cast<Eigen::Index>(k)] =
        refit.values[component.parameters[k]] - params.values[component.parameters[k]];
  }
  double curved = 0.0, whitest = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    const Eigen::VectorXd linear = RowsAt(model, params, pairs, i, component.layout) +
                                   NumericJacobian(model, params, pairs, i, component) * moved;
    const Eigen::VectorXd real = RowsAt(model, refit, pairs, i, component.layout);
    curved = std::max(curved, (real - linear).cwiseAbs().maxCoeff());
    double whitening[3];
    RowWhitening(component.layout, pairs.precision, i, whitening);
    whitest = std::max({whitest, whitening[0], whitening[d - 1]});
  }
  const double near = tolerance + static_cast<double>(d * m) * curved;
  const Point3& left = without.residuals[kBlunder];
  EXPECT_NEAR(left.x, test.misclosure.x, near) << "part " << c;
  EXPECT_NEAR(left.y, test.misclosure.y, near) << "part " << c;
  EXPECT_NEAR(left.z, test.misclosure.z, near) << "part " << c;
  // Residuals that far off move Σ vᵀPv by 2·|v|·that, over the rows.
  const double slack = near * whitest, sum = stats.sumOfSquares;
  EXPECT_NEAR(without.sumOfSquares, sum - test.sumOfSquaresDrop,
              kRoundingSum * sum + 2 * std::sqrt(d * m * sum) * slack + d * m * slack * slack)
      << "part " << c;
}

// Source points on one spot or one line.
void CheckUndetermined(const TransformModel& model, const Network& net, bool line) {
  PointList source = net.source;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const double t = line ? 100.0 * static_cast<double>(i) : 0.0;
    source[i] = Point3(net.source[0].x + t, net.source[0].y + 2 * t, net.source[0].z + 3 * t);
  }
  const FramePairs pairs{source, net.destination, net.axes.empty() ? nullptr : &net.axes,
                         nullptr, &net.epochs};
  std::unique_ptr<const TransformModel> settled = model.Settled(pairs, All(source.size(), 2));
  const TransformModel& fitted = settled != nullptr ? *settled : model;
  ModelParameters params;
  const FitOutcome outcome =
      fitted.Fit(pairs, All(source.size(), fitted.Components().size()), params, 0);
  ASSERT_TRUE(outcome.usable);
  ASSERT_EQ(outcome.notDetermined.size(), fitted.Components().size());
  bool any = false;
  for (std::size_t c = 0; c < fitted.Components().size(); ++c) {
    const Component& component = fitted.Components()[c];
    // On one spot only shifts are determined, one a row.
    const bool shifts = static_cast<int>(component.parameters.size()) <= RowsOf(component.layout);
    if (!line) {
      EXPECT_EQ(outcome.determined[c], shifts) << "part " << c;
    }
    EXPECT_EQ(outcome.notDetermined[c].empty(), outcome.determined[c]) << "part " << c;
    if (outcome.determined[c]) continue;
    any = true;
    EXPECT_NE(outcome.notDetermined[c].find("not determined by the points given"),
              std::string::npos);
    FitStatistics stats =
        ComputeModelStatistics(fitted, c, pairs, std::vector<bool>(source.size(), true), params);
    if (c < outcome.fixed.size()) CountOutFixed(stats, outcome.fixed[c]);
    EXPECT_FALSE(stats.precisionDetermined) << "part " << c;
  }
  EXPECT_TRUE(any || line);
}

TEST(ModelContract, EveryModelInEverySetting) {
  for (const ModelEntry& entry : ModelTable()) {
    for (const Model& settings : Variants(entry)) {
      const Network net(settings, entry.frame);
      for (const bool weighted : {false, true}) {
        SCOPED_TRACE(std::string(entry.name) + " fix-scale " + std::to_string(settings.fixScale) +
                     " vertical " + std::to_string(static_cast<int>(settings.vertical)) +
                     " convention " + std::to_string(static_cast<int>(settings.convention)) +
                     " about the centroid " + std::to_string(settings.aboutCentroid) +
                     (settings.rates ? " with rates" : "") + (weighted ? " weighted" : ""));
        std::unique_ptr<const TransformModel> model = MakeModel(settings);
        ASSERT_NE(model, nullptr);
        const FramePairs pairs = net.Pairs(weighted);
        const auto used = All(net.source.size(), model->Components().size());
        if (auto settled = model->Settled(pairs, used)) model = std::move(settled);
        ModelParameters params;
        const FitOutcome outcome = model->Fit(pairs, used, params, 0);
        ASSERT_TRUE(outcome.usable);
        ASSERT_EQ(params.values.size(), model->Parameters().size());
        CheckApply(*model, params, pairs);
        const double tolerance = outcome.summary.iterations.empty() ? kClosedForm : kSolver;
        for (std::size_t c = 0; c < model->Components().size(); ++c) {
          CheckOptimum(*model, c, params, pairs, tolerance);
          CheckLeaveOneOut(*model, c, params, pairs, tolerance);
        }
        if (!weighted) {
          CheckUndetermined(*model, net, false);
          CheckUndetermined(*model, net, true);
        }
      }
    }
  }
}

}  // namespace
}  // namespace Quorvane
