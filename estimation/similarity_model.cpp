// The similarity in the plane, fitted by the solver: destination = scale · Rz(rz) · (source + t)
// about the plane's origin, or about a reference point c, destination = c + scale · Rz(rz) ·
// (source − c + t), which is the same fit to points taken about c. The plane's origin is the
// centre of the destination points in a centred plane; a grid's lies thousands of kilometres away,
// where a shift and a rotation are nearly the same thing to a small network, so there the
// centroid of the fitted source points serves.
#include <memory>

#include <ceres/jet.h>

#include "estimation/model.h"
#include "estimation/model_support.h"
#include "estimation/register_point2point_error.h"

namespace Quorvane {

namespace {

using namespace ModelSupport;

using Jet = ceres::Jet<double, 7>;
// The parameters that enter the solver's functor, tx, ty, tz, rz, scale, at their positions among
// its seven blocks (rx and ry, 3 and 4, never enter).
constexpr int kSimilarityParameters = 5;
constexpr int kParameterBlock[kSimilarityParameters] = {0, 1, 2, 5, 6};

// The pair's residual rows (easting, northing, height) of the solver's own functor at `params`
// and their derivatives by tx, ty, tz, rz, scale, by its automatic differentiation.
void LineariseSimilarity(const Point3& p, const Point3& q, const TransformParams& params,
                         PairLinearisation& out) {
  const double values[7] = {params.tx, params.ty, params.tz,   params.rx,
                            params.ry, params.rz, params.scale};
  Jet blocks[7];
  for (int k = 0; k < 7; ++k) blocks[k] = Jet(values[k], k);
  Jet r[3];
  const RegisterPoint2PointError functor(p.x, p.y, p.z, q.x, q.y, q.z);
  functor(&blocks[0], &blocks[1], &blocks[2], &blocks[3], &blocks[4], &blocks[5], &blocks[6], r);
  for (int row = 0; row < 3; ++row) {
    out.residual[row] = r[row].a;
    for (int k = 0; k < kSimilarityParameters; ++k) {
      out.jacobian[row * kSimilarityParameters + k] = r[row].v[kParameterBlock[k]];
    }
  }
  out.largestCoordinate = Largest({p.x, p.y, p.z, q.x, q.y, q.z});
}

PointList Centred(const PointList& points, std::size_t count, const Point3& c) {
  PointList centred;
  centred.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    centred.emplace_back(points[i].x - c.x, points[i].y - c.y, points[i].z - c.z);
  }
  return centred;
}

// The solver's parameter blocks of the five values, tx, ty, tz, rz, scale (rx and ry stay 0).
TransformParams ToTransform(const ModelParameters& params) {
  const std::vector<double>& v = params.values;
  TransformParams t;
  t.tx = v[0], t.ty = v[1], t.tz = v[2], t.rz = v[3], t.scale = v[4];
  return t;
}

void FromTransform(const TransformParams& t, ModelParameters& params) {
  params.values = {t.tx, t.ty, t.tz, t.rz, t.scale};
}

class SimilarityModel final : public TransformModel {
 public:
  explicit SimilarityModel(bool aboutCentroid) : aboutCentroid_(aboutCentroid) {
    parameters_ = PlaneSimilarityParameters();
    components_ = {{"", ComponentLayout::Whole, {0, 1, 2, 3, 4}}};
  }

  const std::vector<ParameterInfo>& Parameters() const override { return parameters_; }
  const std::vector<Component>& Components() const override { return components_; }

  FitOutcome Fit(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 ModelParameters& params, int maxIterations) const override {
    FitOutcome outcome;
    params = ModelParameters{};
    if (aboutCentroid_) params.reference = CentroidOf(pairs.source, {used[0]});
    const std::vector<bool>& fitted = used[0];
    const bool all = CountOf(fitted) == pairs.source.size();
    TransformParams t;
    if (all && maxIterations == 0 && IsOrigin(params.reference) && pairs.precision == nullptr) {
      // Every pair fitted goes straight to the solver, so that the fit of a plain run is the
      // same computation whatever else is asked for.
      FitTransform(pairs.source, pairs.destination, t, outcome.summary);
    } else {
      Solve(pairs, fitted, params.reference, t, outcome.summary, maxIterations);
    }
    FromTransform(t, params);
    FromSummary(outcome, params);
    Summarise(pairs, used, params, outcome);
    return outcome;
  }

  bool FitComponent(std::size_t, const FramePairs& pairs, const std::vector<bool>& used,
                    ModelParameters& params, FitOutcome& outcome) const override {
    TransformParams t;
    Solve(pairs, used, params.reference, t, outcome.summary, 0);
    FromTransform(t, params);
    FromSummary(outcome, params);
    return outcome.usable;
  }

  void Summarise(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 const ModelParameters& params, FitOutcome& outcome) const override {
    outcome.summaryLine = outcome.summary.BriefReport();
    outcome.sumOfSquares = 2.0 * outcome.summary.final_cost;
    if (pairs.precision != nullptr) {
      // The solver's cost is the weighted one.
      outcome.sumOfSquares = 0.0;
      for (std::size_t i = 0; i < pairs.source.size(); ++i) {
        if (!used[0][i]) continue;
        const Point3 w = Apply(params, pairs.source[i], pairs.EpochOf(i));
        const Point3& q = pairs.destination[i];
        outcome.sumOfSquares +=
            (w.x - q.x) * (w.x - q.x) + (w.y - q.y) * (w.y - q.y) + (w.z - q.z) * (w.z - q.z);
      }
    }
    const bool determined = DeterminesTransform(pairs.source, used[0]);
    outcome.determined = {determined};
    outcome.notDetermined = {
        determined ? std::string() : PlaneSimilarityNotDetermined("transform", CountOf(used[0]))};
  }

  void Linearise(std::size_t, const ModelParameters& params, const FramePairs& pairs,
                 std::size_t i, PairLinearisation& out) const override {
    const Point3& p = pairs.source[i];
    const Point3& q = pairs.destination[i];
    const Point3& c = params.reference;
    if (IsOrigin(c)) {
      LineariseSimilarity(p, q, ToTransform(params), out);
    } else {
      LineariseSimilarity(Point3(p.x - c.x, p.y - c.y, p.z - c.z),
                          Point3(q.x - c.x, q.y - c.y, q.z - c.z), ToTransform(params), out);
    }
  }

  Point3 Apply(const ModelParameters& params, const Point3& point, double) const override {
    const Point3& c = params.reference;
    if (IsOrigin(c)) return TransformPoint(ToTransform(params), point);
    const Point3 w =
        TransformPoint(ToTransform(params), Point3(point.x - c.x, point.y - c.y, point.z - c.z));
    return Point3(c.x + w.x, c.y + w.y, c.z + w.z);
  }

  std::string ReportLines(const ModelParameters& params) const override {
    std::string lines = AfterLine(params);
    if (StatesReference(params)) {
      const Point3& c = params.reference;
      lines += Printed("reference: E0=%.4f m, N0=%.4f m, H0=%.4f m\n", c.x, c.y, c.z);
    }
    return lines;
  }

  // The default model's file names no model: the three members of the first files, and the
  // reference where the fit is about one.
  std::vector<ResultMember> ResultMembers(const ModelParameters& params) const override {
    std::vector<ResultMember> members = ContractMembers(params);
    if (StatesReference(params)) {
      const Point3& c = params.reference;
      members.push_back({"reference", {c.x, c.y, c.z}, true});
    }
    return members;
  }

  std::string Formula(const ModelParameters& params) const override {
    if (StatesReference(params)) {
      return "destination = reference + scale * Rz(rz) * (source - reference + t)";
    }
    return "destination = scale * Rz(rz) * (source + t)";
  }

  std::string ProjSteps(const ModelParameters& params) const override {
    const TransformParams p = ToTransform(params);
    const Point3& c = params.reference;
    const double cs = std::cos(p.rz);
    const double sn = std::sin(p.rz);
    // destination = scale · R · (source − c + t) + c = A · source + scale · R · (t − c) + c.
    AffineTerms affine{{{p.scale * cs, -p.scale * sn, 0.0},
                        {p.scale * sn, p.scale * cs, 0.0},
                        {0.0, 0.0, p.scale}},
                       {p.scale * (cs * p.tx - sn * p.ty), p.scale * (sn * p.tx + cs * p.ty),
                        p.scale * p.tz}};
    if (!IsOrigin(c)) {
      const double ux = p.tx - c.x, uy = p.ty - c.y;
      affine.offset[0] = c.x + p.scale * (cs * ux - sn * uy);
      affine.offset[1] = c.y + p.scale * (sn * ux + cs * uy);
      affine.offset[2] = c.z + p.scale * (p.tz - c.z);
    }
    return AffineStep(affine);
  }

  bool RecordsCorrelation() const override { return false; }
  bool StatesReference(const ModelParameters&) const override { return aboutCentroid_; }

 private:
  // The solver's fit to the pairs `fitted` marks, about the reference point c, weighted by the
  // pairs' precision where given.
  static void Solve(const FramePairs& pairs, const std::vector<bool>& fitted, const Point3& c,
                    TransformParams& t, ceres::Solver::Summary& summary, int maxIterations) {
    const std::size_t n = pairs.source.size();
    const int iterations = maxIterations == 0 ? kSolverIterations : maxIterations;
    if (IsOrigin(c)) {
      FitTransform(pairs.source, pairs.destination, fitted, pairs.precision, t, summary,
                   iterations);
    } else {
      FitTransform(Centred(pairs.source, n, c), Centred(pairs.destination, n, c), fitted,
                   pairs.precision, t, summary, iterations);
    }
  }

  // A solver's fit is usable when it did not fail and left a finite cost and finite parameters.
  static void FromSummary(FitOutcome& outcome, const ModelParameters& params) {
    const ceres::Solver::Summary& summary = outcome.summary;
    outcome.usable = summary.termination_type != ceres::FAILURE &&
                     std::isfinite(summary.final_cost) && AllFinite(params);
    outcome.stoppedEarly = summary.termination_type == ceres::NO_CONVERGENCE;
    outcome.message = summary.message;
  }

  bool aboutCentroid_;
  std::vector<ParameterInfo> parameters_;
  std::vector<Component> components_;
};

}  // namespace

std::unique_ptr<TransformModel> MakeSimilarityModel(const Model& model) {
  return std::make_unique<SimilarityModel>(model.aboutCentroid);
}

}  // namespace Quorvane
