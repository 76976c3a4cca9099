// The similarity in the plane, fitted by the solver: destination = scale · Rz(rz) · (source + t)
// about the plane's origin, or about a reference point c, destination = c + scale · Rz(rz) ·
// (source − c + t), which is the same fit to points taken about c. The plane's origin is the
// centre of the destination points in a centred plane; a grid's lies thousands of kilometres away,
// where a shift and a rotation are nearly the same thing to a small network, so there the
// centroid of the fitted source points serves.
#include <memory>

#include "estimation/model.h"
#include "estimation/model_support.h"

namespace Quorvane {

namespace {

using namespace ModelSupport;

PointList Centred(const PointList& points, std::size_t count, const Point3& c) {
  PointList centred;
  centred.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    centred.emplace_back(points[i].x - c.x, points[i].y - c.y, points[i].z - c.z);
  }
  return centred;
}

class SimilarityModel final : public TransformModel {
 public:
  explicit SimilarityModel(bool aboutCentroid) : aboutCentroid_(aboutCentroid) {
    parameters_ = PlaneSimilarityParameters();
    components_ = {{"", ComponentLayout::Whole, {0, 1, 2, 3, 4}}};
  }

  const char* Name() const override { return "similarity"; }
  Frame FrameOf() const override { return Frame::Plane; }
  const std::vector<ParameterInfo>& Parameters() const override { return parameters_; }
  const std::vector<Component>& Components() const override { return components_; }

  FitOutcome Fit(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 ModelParameters& params, int maxIterations) const override {
    FitOutcome outcome;
    params = ModelParameters{};
    if (aboutCentroid_) params.reference = CentroidOf(pairs.source, {used[0]});
    const std::vector<bool>& fitted = used[0];
    const bool all = CountOf(fitted) == pairs.source.size();
    if (!IsOrigin(params.reference)) {
      Solve(pairs, fitted, params, outcome.summary, maxIterations);
    } else if (all && maxIterations == 0) {
      // Every pair fitted goes straight to the solver, so that the fit of a plain run is the
      // same computation whatever else is asked for.
      FitTransform(pairs.source, pairs.destination, params.transform, outcome.summary);
    } else {
      Solve(pairs, fitted, params, outcome.summary, maxIterations);
    }
    FromSummary(outcome, params);
    Summarise(pairs, used, params, outcome);
    return outcome;
  }

  bool FitComponent(std::size_t, const FramePairs& pairs, const std::vector<bool>& used,
                    ModelParameters& params, FitOutcome& outcome) const override {
    Solve(pairs, used, params, outcome.summary, 0);
    FromSummary(outcome, params);
    return outcome.usable;
  }

  void Summarise(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                 const ModelParameters&, FitOutcome& outcome) const override {
    outcome.summaryLine = outcome.summary.BriefReport();
    outcome.sumOfSquares = 2.0 * outcome.summary.final_cost;
    outcome.determined = {DeterminesTransform(pairs.source, used[0])};
  }

  void Linearise(std::size_t, const ModelParameters& params, const FramePairs& pairs,
                 std::size_t i, PairLinearisation& out) const override {
    const Point3& p = pairs.source[i];
    const Point3& q = pairs.destination[i];
    const Point3& c = params.reference;
    if (IsOrigin(c)) {
      LineariseSimilarity(p, q, params.transform, out);
    } else {
      LineariseSimilarity(Point3(p.x - c.x, p.y - c.y, p.z - c.z),
                          Point3(q.x - c.x, q.y - c.y, q.z - c.z), params.transform, out);
    }
  }

  Point3 Apply(const ModelParameters& params, const Point3& point) const override {
    const Point3& c = params.reference;
    if (IsOrigin(c)) return TransformPoint(params.transform, point);
    const Point3 w =
        TransformPoint(params.transform, Point3(point.x - c.x, point.y - c.y, point.z - c.z));
    return Point3(c.x + w.x, c.y + w.y, c.z + w.z);
  }

  std::string ReportLines(const ModelParameters& params) const override {
    const TransformParams& p = params.transform;
    std::string lines = Printed("after:%.8f,%.8f,%.8f,%.8f,%.8f,%.8f,%.8f\n", p.tx, p.ty, p.tz,
                                p.rx, p.ry, p.rz, p.scale);
    if (StatesReference(params)) {
      const Point3& c = params.reference;
      lines += Printed("reference: E0=%.4f m, N0=%.4f m, H0=%.4f m\n", c.x, c.y, c.z);
    }
    return lines;
  }

  std::vector<ResultMember> ResultMembers(const ModelParameters& params) const override {
    const TransformParams& p = params.transform;
    std::vector<ResultMember> members = {
        {"offset", {p.tx, p.ty, p.tz}, true},
        {"rotate", {Degrees(p.rx), Degrees(p.ry), Degrees(p.rz)}, true},
        {"scale", {p.scale}},
    };
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
    const TransformParams& p = params.transform;
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

  bool StatesReference(const ModelParameters&) const override { return aboutCentroid_; }

 private:
  // The solver's fit to the pairs `fitted` marks, about the reference point in `params`.
  static void Solve(const FramePairs& pairs, const std::vector<bool>& fitted,
                    ModelParameters& params, ceres::Solver::Summary& summary, int maxIterations) {
    const Point3 c = params.reference;
    const std::size_t n = pairs.source.size();
    const auto fit = [&](const PointList& source, const PointList& destination) {
      if (maxIterations == 0) {
        FitTransform(source, destination, fitted, params.transform, summary);
      } else {
        FitTransform(source, destination, fitted, params.transform, summary, maxIterations);
      }
    };
    if (IsOrigin(c)) {
      fit(pairs.source, pairs.destination);
    } else {
      fit(Centred(pairs.source, n, c), Centred(pairs.destination, n, c));
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

std::unique_ptr<const TransformModel> MakeSimilarityModel(const Model& model) {
  return std::make_unique<SimilarityModel>(model.aboutCentroid);
}

}  // namespace Quorvane
