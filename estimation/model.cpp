#include "estimation/model.h"

#include <algorithm>
#include <cmath>

#include "estimation/site_fit.h"

namespace Quorvane {

namespace {

constexpr double kArcSecondsPerRadian = 206264.80624709636;  // 648000 / π
constexpr double kPartsPerMillion = 1e6;

bool AllFinite(const ModelParameters& params) {
  const TransformParams& p = params.transform;
  return std::isfinite(p.tx) && std::isfinite(p.ty) && std::isfinite(p.tz) &&
         std::isfinite(p.rx) && std::isfinite(p.ry) && std::isfinite(p.rz) &&
         std::isfinite(p.scale) && std::isfinite(params.slopeNorth) &&
         std::isfinite(params.slopeEast);
}

bool IsUsable(const ceres::Solver::Summary& summary, const ModelParameters& params) {
  return summary.termination_type != ceres::FAILURE && std::isfinite(summary.final_cost) &&
         AllFinite(params);
}

bool IsSite(const Model& model) { return model.kind == Model::Kind::Site; }

// The similarity's outcome from its solver summary.
// (The summary line, which costs a formatted print, is made once, by Summarise.)
void FromSummary(FitOutcome& outcome, const ModelParameters& params) {
  const ceres::Solver::Summary& summary = outcome.summary;
  outcome.usable = IsUsable(summary, params);
  outcome.stoppedEarly = summary.termination_type == ceres::NO_CONVERGENCE;
  outcome.message = summary.message;
}

void StoreHorizontal(const HorizontalFit& fit, ModelParameters& params) {
  params.transform.tx = fit.tx;
  params.transform.ty = fit.ty;
  params.transform.rz = fit.rz;
  params.transform.scale = fit.scale;
}

void StoreVertical(const VerticalFit& fit, ModelParameters& params) {
  params.transform.tz = fit.tz;
  params.slopeNorth = fit.slopeNorth;
  params.slopeEast = fit.slopeEast;
}

std::size_t CountOf(const std::vector<bool>& used) {
  return static_cast<std::size_t>(std::count(used.begin(), used.end(), true));
}

double Largest(std::initializer_list<double> values) {
  double largest = 0.0;
  for (const double v : values) largest = std::max(largest, std::fabs(v));
  return largest;
}

}  // namespace

const char* ModelName(const Model& model) { return IsSite(model) ? "site" : "similarity"; }

const ParameterInfo& InfoOf(Parameter parameter) {
  static const ParameterInfo kInfo[] = {
      {"tx", "m", 1.0, 4},
      {"ty", "m", 1.0, 4},
      {"tz", "m", 1.0, 4},
      {"rz", "arcsec", kArcSecondsPerRadian, 3},
      {"scale", "ppm", kPartsPerMillion, 3},
      {"slopeNorth", "ppm", kPartsPerMillion, 3},
      {"slopeEast", "ppm", kPartsPerMillion, 3},
  };
  return kInfo[static_cast<int>(parameter)];
}

double ValueOf(const ModelParameters& params, Parameter parameter) {
  const TransformParams& p = params.transform;
  switch (parameter) {
    case Parameter::Tx:
      return p.tx;
    case Parameter::Ty:
      return p.ty;
    case Parameter::Tz:
      return p.tz;
    case Parameter::Rz:
      return p.rz;
    case Parameter::Scale:
      return p.scale;
    case Parameter::SlopeNorth:
      return params.slopeNorth;
    case Parameter::SlopeEast:
      return params.slopeEast;
  }
  return 0.0;
}

std::vector<Component> ComponentsOf(const Model& model) {
  if (!IsSite(model)) {
    return {{"", ComponentLayout::Whole,
             {Parameter::Tx, Parameter::Ty, Parameter::Tz, Parameter::Rz, Parameter::Scale}}};
  }
  Component horizontal{"horizontal", ComponentLayout::Horizontal,
                       {Parameter::Tx, Parameter::Ty, Parameter::Rz}};
  if (!model.fixScale) horizontal.parameters.push_back(Parameter::Scale);
  Component vertical{"vertical", ComponentLayout::Vertical, {Parameter::Tz}};
  if (model.vertical == Model::Vertical::Plane) {
    vertical.parameters.push_back(Parameter::SlopeNorth);
    vertical.parameters.push_back(Parameter::SlopeEast);
  }
  return {horizontal, vertical};
}

std::vector<Parameter> ParametersOf(const Model& model) {
  std::vector<Parameter> all = {Parameter::Tx, Parameter::Ty, Parameter::Tz, Parameter::Rz,
                                Parameter::Scale};
  if (IsSite(model)) {
    all.push_back(Parameter::SlopeNorth);
    all.push_back(Parameter::SlopeEast);
  }
  return all;
}

FitOutcome FitModel(const Model& model, const PointList& source, const PointList& destination,
                    const std::vector<std::vector<bool>>& used, ModelParameters& params,
                    int maxIterations) {
  FitOutcome outcome;
  params = ModelParameters{};
  if (!IsSite(model)) {
    const std::vector<bool>& fitted = used[0];
    const bool all = CountOf(fitted) == source.size();
    // Every pair fitted goes straight to the solver, so that the fit of a plain run is the same
    // computation whatever else is asked for.
    if (all && maxIterations == 0) {
      FitTransform(source, destination, params.transform, outcome.summary);
    } else if (maxIterations == 0) {
      FitTransform(source, destination, fitted, params.transform, outcome.summary);
    } else {
      FitTransform(source, destination, fitted, params.transform, outcome.summary, maxIterations);
    }
    FromSummary(outcome, params);
    Summarise(model, source, destination, used, params, outcome);
    return outcome;
  }
  FitComponent(model, 0, source, destination, used[0], params, outcome);
  FitComponent(model, 1, source, destination, used[1], params, outcome);
  outcome.usable = AllFinite(params);
  Summarise(model, source, destination, used, params, outcome);
  return outcome;
}

void Summarise(const Model& model, const PointList& source, const PointList& destination,
               const std::vector<std::vector<bool>>& used, const ModelParameters& params,
               FitOutcome& outcome) {
  if (!IsSite(model)) {
    outcome.summaryLine = outcome.summary.BriefReport();
    outcome.sumOfSquares = 2.0 * outcome.summary.final_cost;
    outcome.determined = {DeterminesTransform(source, used[0])};
    return;
  }
  const std::size_t h = CountOf(used[0]);
  const std::size_t v = CountOf(used[1]);
  outcome.summaryLine = "Site calibration, least squares in closed form: horizontal " +
                        std::to_string(h) + (h == 1 ? " pair" : " pairs") + ", vertical " +
                        std::to_string(v) + (v == 1 ? " pair" : " pairs");
  double sum = 0.0;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const Point3 w = ApplyModel(model, params, source[i]);
    if (used[0][i]) sum += (w.x - destination[i].x) * (w.x - destination[i].x) +
                           (w.y - destination[i].y) * (w.y - destination[i].y);
    if (used[1][i]) sum += (w.z - destination[i].z) * (w.z - destination[i].z);
  }
  outcome.sumOfSquares = sum;
}

bool FitComponent(const Model& model, std::size_t c, const PointList& source,
                  const PointList& destination, const std::vector<bool>& used,
                  ModelParameters& params, FitOutcome& outcome) {
  if (!IsSite(model)) {
    FitTransform(source, destination, used, params.transform, outcome.summary);
    FromSummary(outcome, params);
    return outcome.usable;
  }
  // Whether the part's pairs determine it is known from its closed form alone.
  outcome.determined.resize(2, false);
  if (c == 0) {
    const HorizontalFit fit = FitHorizontal(source, destination, used, model.fixScale);
    StoreHorizontal(fit, params);
    outcome.determined[0] = fit.determined;
  } else {
    const VerticalFit fit =
        FitVertical(source, destination, used, model.vertical == Model::Vertical::Plane);
    StoreVertical(fit, params);
    outcome.determined[1] = fit.determined;
  }
  outcome.usable = AllFinite(params);
  return outcome.usable;
}

void LineariseComponent(const Model& model, std::size_t c, const ModelParameters& params,
                        const Point3& p, const Point3& q, PairLinearisation& out) {
  if (!IsSite(model)) {
    LineariseSimilarity(p, q, params.transform, out);
    return;
  }
  const TransformParams& t = params.transform;
  if (c == 0) {
    // r = scale·R(rz)·(p + t) − q over tx, ty, rz[, scale].
    const double cs = std::cos(t.rz), sn = std::sin(t.rz);
    const double ux = p.x + t.tx, uy = p.y + t.ty;
    const double rx = cs * ux - sn * uy, ry = sn * ux + cs * uy;  // R·(p + t)
    out.residual[0] = t.scale * rx - q.x;
    out.residual[1] = t.scale * ry - q.y;
    const int u = model.fixScale ? 3 : 4;
    double* j = out.jacobian;
    j[0] = t.scale * cs, j[1] = -t.scale * sn, j[2] = -t.scale * ry;
    j[u] = t.scale * sn, j[u + 1] = t.scale * cs, j[u + 2] = t.scale * rx;
    if (!model.fixScale) j[3] = rx, j[u + 3] = ry;
    out.largestCoordinate = Largest({p.x, p.y, q.x, q.y, ux, uy});
    return;
  }
  // r = H + tz + slopeNorth·N + slopeEast·E − H' over tz[, slopeNorth, slopeEast].
  const double north = params.slopeNorth * p.y, east = params.slopeEast * p.x;
  out.residual[0] = p.z + t.tz + north + east - q.z;
  out.jacobian[0] = 1.0;
  if (model.vertical == Model::Vertical::Plane) {
    out.jacobian[1] = p.y;
    out.jacobian[2] = p.x;
  }
  out.largestCoordinate = Largest({p.z, q.z, t.tz, north, east});
}

FitStatistics ComputeModelStatistics(const Model& model, std::size_t c, const PointList& source,
                                     const PointList& destination, const std::vector<bool>& used,
                                     const ModelParameters& params) {
  if (!IsSite(model)) return ComputeFitStatistics(source, destination, used, params.transform);
  const Component component = ComponentsOf(model)[c];
  return ComputeComponentStatistics(
      component.layout, static_cast<int>(component.parameters.size()), used,
      [&](std::size_t i, PairLinearisation& out) {
        LineariseComponent(model, c, params, source[i], destination[i], out);
      });
}

void SnoopModel(const Model& model, std::size_t c, const PointList& source,
                const PointList& destination, std::vector<bool>& used, ModelParameters& params,
                FitOutcome& outcome, FitStatistics& stats, std::vector<BlunderRemoval>& removals,
                const std::function<void(std::size_t)>& progress) {
  const Component component = ComponentsOf(model)[c];
  SnoopedComponent snooped;
  snooped.layout = component.layout;
  snooped.parameters = static_cast<int>(component.parameters.size());
  snooped.linearise = [&](std::size_t i, PairLinearisation& out) {
    LineariseComponent(model, c, params, source[i], destination[i], out);
  };
  snooped.refit = [&](const std::vector<bool>& mask) {
    return FitComponent(model, c, source, destination, mask, params, outcome);
  };
  snooped.statistics = [&](const std::vector<bool>& mask) {
    return ComputeModelStatistics(model, c, source, destination, mask, params);
  };
  snooped.progress = progress;
  SnoopComponent(snooped, c, used, stats, removals);
}

Point3 ApplyModel(const Model& model, const ModelParameters& params, const Point3& point) {
  if (!IsSite(model)) return TransformPoint(params.transform, point);
  const TransformParams& t = params.transform;
  const double cs = std::cos(t.rz), sn = std::sin(t.rz);
  const double ux = point.x + t.tx, uy = point.y + t.ty;
  return Point3(t.scale * (cs * ux - sn * uy), t.scale * (sn * ux + cs * uy),
                point.z + t.tz + params.slopeNorth * point.y + params.slopeEast * point.x);
}

AffineTerms AffineOf(const Model& model, const ModelParameters& params) {
  const TransformParams& p = params.transform;
  const double c = std::cos(p.rz);
  const double s = std::sin(p.rz);
  // destination = scale · R · (source + t) = A · source + scale · R · t, horizontally for both.
  AffineTerms affine{{{p.scale * c, -p.scale * s, 0.0}, {p.scale * s, p.scale * c, 0.0},
                      {0.0, 0.0, p.scale}},
                     {p.scale * (c * p.tx - s * p.ty), p.scale * (s * p.tx + c * p.ty),
                      p.scale * p.tz}};
  if (IsSite(model)) {
    affine.s[2][0] = params.slopeEast;
    affine.s[2][1] = params.slopeNorth;
    affine.s[2][2] = 1.0;
    affine.offset[2] = p.tz;
  }
  return affine;
}

std::string FormulaOf(const Model& model) {
  if (IsSite(model)) {
    return "site: (E,N) = scale * R(rz) * ((E,N) + t); H = H + tz + slopeNorth * N + slopeEast "
           "* E";
  }
  return "destination = scale * Rz(rz) * (source + t)";
}

}  // namespace Quorvane
