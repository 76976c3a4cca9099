#include "app/record_file.h"

#include <cmath>
#include <cstdio>

#include "app/json_text.h"
#include "geodesy/ellipsoid.h"

namespace Quorvane {

namespace {

// The origin latitude as the projection uses it: within 1e-6° of the equator it counts from the
// equator, so PROJ is told 0.
double EffectiveOriginLatitude(double latitude) {
  return std::fabs(latitude) > 1e-6 ? latitude : 0.0;
}

std::string Number17(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

void AppendMember(std::string& json, const char* name) {
  json += '"';
  json += name;
  json += "\":";
}

void AppendTriple(std::string& json, const Point3& p) { AppendJsonTriple(json, p.x, p.y, p.z); }

void AppendDetermined(std::string& json, bool determined, double value) {
  if (determined) {
    AppendJsonNumber(json, value);
  } else {
    json += "null";
  }
}

// Whether the plane is the one a run without plane options has: both lists on WGS 84 about the
// centre. Its record keeps the layout it always had.
bool IsPlainPlane(const PlaneSetup& plane) {
  const NamedEllipsoid wgs84 = Wgs84();
  const auto same = [&](const NamedEllipsoid& e) {
    return e.ellipsoid.a == wgs84.ellipsoid.a && e.ellipsoid.f == wgs84.ellipsoid.f;
  };
  return !plane.destinationOnGrid && same(plane.sourceEllipsoid) &&
         same(plane.destinationEllipsoid) && plane.projectionHeight == 0.0 &&
         plane.falseEasting == 0.0 && plane.falseNorthing == 0.0;
}

// The suffix of a component's test members: "" for the similarity's one, "Horizontal",
// "Vertical".
const char* TestSuffix(const Component& component) {
  switch (component.layout) {
    case ComponentLayout::Horizontal:
      return "Horizontal";
    case ComponentLayout::Vertical:
      return "Vertical";
    case ComponentLayout::Whole:
      break;
  }
  return "";
}

// What became of a pair over all components, as the record names it.
const char* StatusName(const Registration& run, std::size_t pair) {
  const auto is = [&](std::size_t c, PairStatus status) { return run.status[c][pair] == status; };
  if (run.components.size() == 2) {
    const bool horizontal = is(0, PairStatus::Fitted);
    const bool vertical = is(1, PairStatus::Fitted);
    if (horizontal && vertical) return "fitted";
    if (horizontal) return "horizontal only";
    if (vertical) return "vertical only";
    return is(0, PairStatus::Excluded) && is(1, PairStatus::Excluded) ? "excluded" : "removed";
  }
  if (is(0, PairStatus::Excluded)) return "excluded";
  if (is(0, PairStatus::Removed)) return "removed";
  return "fitted";
}

void AppendPairs(std::string& json, const Registration& run) {
  json += '[';
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    if (i > 0) json += ',';
    const Point3 mapped = ApplyModel(run.model, run.params, run.planeSource[i]);
    const Point3& q = run.planeDestination[i];
    json += '{';
    AppendMember(json, "pair");
    AppendJsonInteger(json, static_cast<std::int64_t>(i + 1));
    if (!run.names.empty()) {
      json += ',';
      AppendMember(json, "name");
      AppendJsonString(json, run.names[i]);
    }
    json += ',';
    AppendMember(json, "source");
    AppendTriple(json, run.source[i]);
    json += ',';
    AppendMember(json, "destination");
    AppendTriple(json, run.destination[i]);
    json += ',';
    AppendMember(json, "sourcePlane");
    AppendTriple(json, run.planeSource[i]);
    json += ',';
    AppendMember(json, "destinationPlane");
    AppendTriple(json, q);
    json += ',';
    AppendMember(json, "residual");
    AppendJsonTriple(json, mapped.x - q.x, mapped.y - q.y, mapped.z - q.z);
    json += ',';
    AppendMember(json, "status");
    AppendJsonString(json, StatusName(run, i));
    bool anyTested = false;
    bool suspect = false;
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      const bool tested = run.hasStatistics && run.status[c][i] == PairStatus::Fitted &&
                          run.statistics[c].tests[i].testable;
      const PairTest* test = tested ? &run.statistics[c].tests[i] : nullptr;
      const std::string suffix = TestSuffix(run.components[c]);
      json += ',';
      AppendMember(json, ("test" + suffix).c_str());
      AppendDetermined(json, test != nullptr, test ? test->statistic : 0.0);
      json += ',';
      AppendMember(json, ("critical" + suffix).c_str());
      AppendDetermined(json, test != nullptr, test ? test->critical : 0.0);
      anyTested = anyTested || tested;
      suspect = suspect || (test != nullptr && test->suspect);
    }
    json += ',';
    AppendMember(json, "suspect");
    json += anyTested ? (suspect ? "true" : "false") : "null";
    if (run.tolerances.Any()) {
      json += ',';
      AppendMember(json, "overTolerance");
      json += run.hasStatistics ? (IsOverTolerance(run, i) ? "true" : "false") : "null";
    }
    json += '}';
  }
  json += ']';
}

void AppendCovariance(std::string& json, bool precise, const FitStatistics& stats) {
  if (!precise) {
    json += "null";
    return;
  }
  const Eigen::Index u = stats.covariance.rows();
  json += '[';
  for (Eigen::Index a = 0; a < u; ++a) {
    json += a > 0 ? ",[" : "[";
    for (Eigen::Index b = 0; b < u; ++b) {
      if (b > 0) json += ',';
      AppendJsonNumber(json, stats.covariance(a, b));
    }
    json += ']';
  }
  json += ']';
}

// "sigma": {…} over every parameter of the model, null for one its settings do not fit (the
// site model's scale held at 1, or its slopes with a constant vertical shift).
void AppendSigma(std::string& json, const Registration& run) {
  AppendMember(json, "sigma");
  json += '{';
  bool first = true;
  for (const Parameter parameter : ParametersOf(run.model)) {
    bool known = false;
    double sigma = 0.0;
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      const std::vector<Parameter>& own = run.components[c].parameters;
      for (std::size_t k = 0; k < own.size(); ++k) {
        if (own[k] != parameter) continue;
        known = run.hasStatistics && run.statistics[c].precisionDetermined;
        if (known) sigma = run.statistics[c].sigma[k];
      }
    }
    if (!first) json += ',';
    first = false;
    AppendMember(json, InfoOf(parameter).name);
    AppendDetermined(json, known, sigma);
  }
  json += '}';
}

// "pairs", "redundancy" and "sigma0" of one component, each followed by a comma.
void AppendCounts(std::string& json, const FitStatistics& stats, bool known) {
  AppendMember(json, "pairs");
  AppendJsonInteger(json, static_cast<std::int64_t>(stats.fittedPairs));
  json += ',';
  AppendMember(json, "redundancy");
  AppendJsonInteger(json, stats.redundancy);
  json += ',';
  AppendMember(json, "sigma0");
  AppendDetermined(json, known && stats.sigma0Determined, stats.sigma0);
  json += ',';
}

void AppendQuality(std::string& json, const Registration& run) {
  const bool known = run.hasStatistics;
  json += '{';
  if (run.components.size() == 1) {
    const FitStatistics& stats = run.statistics[0];
    AppendCounts(json, stats, known);
    AppendMember(json, "rmsHorizontal");
    AppendDetermined(json, known && stats.rmsDetermined, stats.rmsHorizontal);
    json += ',';
    AppendMember(json, "rmsVertical");
    AppendDetermined(json, known && stats.rmsDetermined, stats.rmsVertical);
    json += ',';
    AppendSigma(json, run);
    json += ',';
    AppendMember(json, "covariance");
    AppendCovariance(json, known && stats.precisionDetermined, stats);
    json += '}';
    return;
  }
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    const FitStatistics& stats = run.statistics[c];
    const bool horizontal = run.components[c].layout == ComponentLayout::Horizontal;
    AppendMember(json, run.components[c].name);
    json += '{';
    AppendCounts(json, stats, known);
    AppendMember(json, "rms");
    AppendDetermined(json, known && stats.rmsDetermined,
                     horizontal ? stats.rmsHorizontal : stats.rmsVertical);
    json += "},";
  }
  AppendSigma(json, run);
  json += ',';
  AppendMember(json, "covariance");
  json += '{';
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    if (c > 0) json += ',';
    AppendMember(json, run.components[c].name);
    AppendCovariance(json, known && run.statistics[c].precisionDetermined, run.statistics[c]);
  }
  json += "}}";
}

void AppendApplied(std::string& json, const Registration& run) {
  json += '[';
  for (std::size_t i = 0; i < run.applied.size(); ++i) {
    const AppliedPoint& point = run.applied[i];
    json += i > 0 ? ",{" : "{";
    if (run.appliedNamed) {
      AppendMember(json, "name");
      AppendJsonString(json, point.name);
      json += ',';
    }
    AppendMember(json, "source");
    AppendTriple(json, point.source);
    json += ',';
    AppendMember(json, "plane");
    AppendTriple(json, point.plane);
    json += ',';
    AppendMember(json, "destination");
    AppendTriple(json, point.destination);
    json += '}';
  }
  json += ']';
}

void AppendEllipsoid(std::string& json, const char* member, const NamedEllipsoid& ellipsoid) {
  AppendMember(json, member);
  json += '{';
  AppendMember(json, "name");
  AppendJsonString(json, ellipsoid.name);
  json += ',';
  AppendMember(json, "a");
  AppendJsonNumber(json, ellipsoid.ellipsoid.a);
  json += ',';
  AppendMember(json, "f");
  AppendJsonNumber(json, ellipsoid.ellipsoid.f);
  json += '}';
}

void AppendProjection(std::string& json, const PlaneSetup& plane) {
  json += '{';
  AppendMember(json, "method");
  AppendJsonString(json, "gauss-kruger-snyder");
  json += ',';
  if (IsPlainPlane(plane)) {
    AppendMember(json, "ellipsoid");
    AppendJsonString(json, "WGS84");
    json += ',';
    AppendMember(json, "a");
    AppendJsonNumber(json, plane.destinationEllipsoid.ellipsoid.a);
    json += ',';
    AppendMember(json, "f");
    AppendJsonNumber(json, plane.destinationEllipsoid.ellipsoid.f);
  } else {
    AppendMember(json, "plane");
    AppendJsonString(json, plane.destinationOnGrid ? "grid" : "centred");
    json += ',';
    AppendEllipsoid(json, "sourceEllipsoid", plane.sourceEllipsoid);
    json += ',';
    AppendEllipsoid(json, "destinationEllipsoid", plane.destinationEllipsoid);
  }
  json += ',';
  AppendMember(json, "centralMeridian");
  AppendJsonNumber(json, plane.centralMeridian);
  json += ',';
  AppendMember(json, "originLatitude");
  AppendJsonNumber(json, plane.originLatitude);
  json += ',';
  AppendMember(json, "falseEasting");
  AppendJsonNumber(json, plane.falseEasting);
  json += ',';
  AppendMember(json, "falseNorthing");
  AppendJsonNumber(json, plane.falseNorthing);
  if (!IsPlainPlane(plane)) {
    json += ',';
    AppendMember(json, "projectionHeight");
    AppendJsonNumber(json, plane.projectionHeight);
  }
  json += '}';
}

// One tmerc step's parameters on `ellipsoid`, enlarged for the projection height as the series
// are: PROJ's own name for WGS 84 unenlarged, its a and f otherwise.
std::string TmercStep(const PlaneSetup& plane, const NamedEllipsoid& ellipsoid) {
  const Ellipsoid surface = ProjectionSurface(ellipsoid.ellipsoid, plane.projectionHeight);
  const Ellipsoid wgs84 = Wgs84().ellipsoid;
  const std::string shape = surface.a == wgs84.a && surface.f == wgs84.f
                                ? " +ellps=WGS84"
                                : " +a=" + Number17(surface.a) + " +f=" + Number17(surface.f);
  return "+proj=tmerc +approx +lat_0=" + Number17(EffectiveOriginLatitude(plane.originLatitude)) +
         " +lon_0=" + Number17(plane.centralMeridian) + " +k_0=1 +x_0=" +
         Number17(plane.falseEasting) + " +y_0=" + Number17(plane.falseNorthing) + shape;
}

}  // namespace

std::string ProjPipeline(const Registration& run) {
  const PlaneSetup& plane = run.plane;
  const AffineTerms affine = AffineOf(run.model, run.params);
  const double numbers[] = {plane.centralMeridian, plane.originLatitude, plane.falseEasting,
                            plane.falseNorthing, plane.projectionHeight};
  for (const double number : numbers) {
    if (!std::isfinite(number)) return std::string();
  }
  for (int r = 0; r < 3; ++r) {
    if (!std::isfinite(affine.offset[r])) return std::string();
    for (int k = 0; k < 3; ++k) {
      if (!std::isfinite(affine.s[r][k])) return std::string();
    }
  }
  std::string pipeline = "+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad +step " +
                         TmercStep(plane, plane.sourceEllipsoid) + " +step +proj=affine" +
                         " +xoff=" + Number17(affine.offset[0]) +
                         " +yoff=" + Number17(affine.offset[1]) +
                         " +zoff=" + Number17(affine.offset[2]);
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 3; ++k) {
      pipeline += " +s" + std::to_string(r + 1) + std::to_string(k + 1) + "=" + Number17(affine.s[r][k]);
    }
  }
  if (!plane.destinationOnGrid) {
    pipeline += " +step +inv " + TmercStep(plane, plane.destinationEllipsoid) +
                " +step +proj=unitconvert +xy_in=rad +xy_out=deg";
  }
  return pipeline;
}

std::string BuildRecordJson(const Registration& run) {
  // About 580 bytes a pair and 200 an applied point, so the text grows in place instead of being
  // copied at every doubling.
  std::string json;
  json.reserve(4096 + 640 * run.planeSource.size() + 240 * run.applied.size());
  json += '{';
  AppendMember(json, "format");
  AppendJsonString(json, kRecordFormat);
  json += ',';
  AppendMember(json, "version");
  AppendJsonString(json, QUORVANE_VERSION);
  json += ',';
  AppendMember(json, "projection");
  AppendProjection(json, run.plane);
  json += ',';
  AppendMember(json, "model");
  AppendJsonString(json, FormulaOf(run.model));
  json += ',';
  AppendMember(json, "parameters");
  json += '{';
  bool first = true;
  for (const Parameter parameter : ParametersOf(run.model)) {
    if (!first) json += ',';
    first = false;
    AppendMember(json, InfoOf(parameter).name);
    AppendJsonNumber(json, ValueOf(run.params, parameter));
  }
  json += "},";
  AppendMember(json, "pairs");
  AppendPairs(json, run);
  json += ',';
  AppendMember(json, "quality");
  AppendQuality(json, run);
  json += ',';
  AppendMember(json, "applied");
  AppendApplied(json, run);
  json += ',';
  AppendMember(json, "proj");
  const std::string pipeline = ProjPipeline(run);
  if (pipeline.empty()) {
    json += "null";
  } else {
    AppendJsonString(json, pipeline);
  }
  json += '}';
  return json;
}

}  // namespace Quorvane
