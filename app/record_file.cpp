#include "app/record_file.h"

#include <cmath>
#include <cstdio>

#include "app/json_text.h"
#include "geodesy/ellipsoid.h"

namespace Quorvane {

namespace {

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
  const auto same = [&](const ListSystem& list) {
    return list.kind == ListSystem::Kind::Geographic &&
           list.ellipsoid.ellipsoid.a == wgs84.ellipsoid.a &&
           list.ellipsoid.ellipsoid.f == wgs84.ellipsoid.f;
  };
  return plane.frame == PlaneSetup::Frame::Plane && !plane.destinationOnGrid &&
         same(plane.source) && same(plane.destination) && plane.projectionHeight == 0.0 &&
         plane.falseEasting == 0.0 && plane.falseNorthing == 0.0 && plane.scale == 1.0;
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

// What became of a pair over all components, as the record names it: "fitted", "excluded",
// "removed", or the one component it was fitted in followed by " only".
std::string StatusName(const Registration& run, std::size_t pair) {
  std::size_t fitted = 0, excluded = 0, only = 0;
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    if (run.status[c][pair] == PairStatus::Fitted) ++fitted, only = c;
    if (run.status[c][pair] == PairStatus::Excluded) ++excluded;
  }
  if (fitted == run.components.size()) return "fitted";
  if (fitted == 1 && run.components.size() > 1) {
    return std::string(run.components[only].name) + " only";
  }
  return excluded == run.components.size() ? "excluded" : "removed";
}

void AppendPairs(std::string& json, const Registration& run) {
  json += '[';
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    if (i > 0) json += ',';
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
    AppendTriple(json, FitResidualOf(run, i));
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
  const std::vector<ParameterInfo>& parameters = run.model->Parameters();
  for (std::size_t parameter = 0; parameter < parameters.size(); ++parameter) {
    bool known = false;
    double sigma = 0.0;
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      const std::vector<std::size_t>& own = run.components[c].parameters;
      for (std::size_t k = 0; k < own.size(); ++k) {
        if (own[k] != parameter) continue;
        known = run.hasStatistics && run.statistics[c].precisionDetermined;
        if (known) sigma = run.statistics[c].sigma[k];
      }
    }
    if (parameter > 0) json += ',';
    AppendMember(json, parameters[parameter].name.c_str());
    AppendDetermined(json, known, sigma);
  }
  json += '}';
}

// The correlations of a component's parameters, C_ab / (σ_a σ_b), null when not determined.
void AppendCorrelation(std::string& json, bool precise, const FitStatistics& stats) {
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
      const double scale = stats.sigma[a] * stats.sigma[b];
      AppendJsonNumber(json, a == b ? 1.0 : stats.covariance(a, b) / scale);
    }
    json += ']';
  }
  json += ']';
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
    if (run.model->RecordsCorrelation()) {
      json += ',';
      AppendMember(json, "correlation");
      AppendCorrelation(json, known && stats.precisionDetermined, stats);
    }
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
  // The geoid grid the source heights were reduced with, last.
  const auto close = [&] {
    if (!plane.geoid.empty()) {
      json += ',';
      AppendMember(json, "geoid");
      AppendJsonString(json, plane.geoid);
    }
    json += '}';
  };
  AppendMember(json, "method");
  const bool geocentric = plane.frame == PlaneSetup::Frame::Geocentric;
  const bool projGrid = !geocentric && plane.destinationOnGrid && !plane.destination.projection.empty();
  AppendJsonString(json, geocentric ? "geocentric" : projGrid ? "proj" : "gauss-kruger-snyder");
  json += ',';
  if (IsPlainPlane(plane)) {
    AppendMember(json, "ellipsoid");
    AppendJsonString(json, "WGS84");
    json += ',';
    AppendMember(json, "a");
    AppendJsonNumber(json, plane.destination.ellipsoid.ellipsoid.a);
    json += ',';
    AppendMember(json, "f");
    AppendJsonNumber(json, plane.destination.ellipsoid.ellipsoid.f);
  } else {
    AppendMember(json, "plane");
    AppendJsonString(json, geocentric ? "none" : plane.destinationOnGrid ? "grid" : "centred");
    json += ',';
    AppendEllipsoid(json, "sourceEllipsoid", plane.source.ellipsoid);
    json += ',';
    AppendEllipsoid(json, "destinationEllipsoid", plane.destination.ellipsoid);
  }
  // A projection of PROJ's: the source grid's, and the destination grid's (the plane of a plane
  // fit), each as its PROJ string without ellipsoid and unit.
  const bool grid = plane.destination.kind == ListSystem::Kind::Grid;
  if (plane.source.kind == ListSystem::Kind::Grid && !plane.source.projection.empty()) {
    json += ',';
    AppendMember(json, "sourceProjection");
    AppendJsonString(json, plane.source.projection);
  }
  if (grid && !plane.destination.projection.empty()) {
    json += ',';
    AppendMember(json, geocentric ? "destinationProjection" : "projection");
    AppendJsonString(json, plane.destination.projection);
    close();
    return;
  }
  // The plane of the tool's series: the fit's, or for geocentric space the destination's grid.
  if (geocentric && !grid) {
    close();
    return;
  }
  const GridSpec own{plane.destination.ellipsoid, plane.centralMeridian, plane.falseEasting,
                     plane.falseNorthing, plane.projectionHeight, plane.scale,
                     plane.originLatitude};
  const GridSpec& series = geocentric ? plane.destination.grid : own;
  json += ',';
  AppendMember(json, "centralMeridian");
  AppendJsonNumber(json, series.meridian);
  json += ',';
  AppendMember(json, "originLatitude");
  AppendJsonNumber(json, series.originLatitude);
  json += ',';
  AppendMember(json, "falseEasting");
  AppendJsonNumber(json, series.falseEasting);
  json += ',';
  AppendMember(json, "falseNorthing");
  AppendJsonNumber(json, series.falseNorthing);
  if (!IsPlainPlane(plane)) {
    json += ',';
    AppendMember(json, "projectionHeight");
    AppendJsonNumber(json, series.height);
  }
  if (grid) {
    json += ',';
    AppendMember(json, "scale");
    AppendJsonNumber(json, series.scale);
  }
  close();
}

}  // namespace

std::string ProjPipeline(const Registration& run) {
  const std::string model = run.model->ProjSteps(run.params);
  const std::string from = run.plane.SourceSteps();
  const std::string to = run.plane.DestinationSteps();
  const bool sourceInFrame = run.plane.frame == PlaneSetup::Frame::Geocentric &&
                             run.plane.source.kind == ListSystem::Kind::Geocentric;
  if (model.empty() || (from.empty() && !sourceInFrame)) return std::string();
  return "+proj=pipeline" + from + model + to;
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
  // The coordinate systems named through PROJ: by code, or as PROJJSON.
  for (const auto& [member, list] : {std::make_pair("source", &run.plane.source),
                                     std::make_pair("destination", &run.plane.destination)}) {
    if (list->crsCode.empty() && list->crsJson.empty()) continue;
    AppendMember(json, member);
    if (list->crsCode.empty()) {
      json += list->crsJson;
    } else {
      AppendJsonString(json, list->crsCode);
    }
    json += ',';
  }
  AppendMember(json, "model");
  AppendJsonString(json, run.model->Formula(run.params));
  json += ',';
  if (run.model->StatesReference(run.params)) {
    AppendMember(json, "reference");
    AppendTriple(json, run.params.reference);
    json += ',';
  }
  AppendMember(json, "parameters");
  json += '{';
  const std::vector<ParameterInfo>& parameters = run.model->Parameters();
  for (std::size_t k = 0; k < parameters.size(); ++k) {
    if (k > 0) json += ',';
    AppendMember(json, parameters[k].name.c_str());
    AppendJsonNumber(json, parameters[k].value(run.params));
  }
  json += "},";
  for (const ResultMember& member : run.model->RecordMembers(run.params)) {
    AppendMember(json, member.name.c_str());
    AppendResultMember(json, member);
    json += ',';
  }
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
