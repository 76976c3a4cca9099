#include "app/record_file.h"

#include <cmath>
#include <cstdio>

#include "app/json_text.h"
#include "geodesy/ellipsoid.h"

namespace Quorvane {

namespace {

constexpr char kEllipsoidName[] = "WGS84";

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

const char* StatusName(PairStatus status) {
  switch (status) {
    case PairStatus::Excluded:
      return "excluded";
    case PairStatus::Removed:
      return "removed";
    case PairStatus::Fitted:
      break;
  }
  return "fitted";
}

void AppendDetermined(std::string& json, bool determined, double value) {
  if (determined) {
    AppendJsonNumber(json, value);
  } else {
    json += "null";
  }
}

void AppendPairs(std::string& json, const Registration& run) {
  json += '[';
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    if (i > 0) json += ',';
    const Point3 mapped = TransformPoint(run.params, run.planeSource[i]);
    const Point3& q = run.planeDestination[i];
    json += '{';
    AppendMember(json, "pair");
    AppendJsonInteger(json, static_cast<std::int64_t>(i + 1));
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
    AppendJsonString(json, StatusName(run.status[i]));
    const bool tested = run.hasStatistics && run.status[i] == PairStatus::Fitted &&
                        run.statistics.tests[i].testable;
    const PairTest* test = tested ? &run.statistics.tests[i] : nullptr;
    json += ',';
    AppendMember(json, "test");
    AppendDetermined(json, test != nullptr, test ? test->statistic : 0.0);
    json += ',';
    AppendMember(json, "critical");
    AppendDetermined(json, test != nullptr, test ? test->critical : 0.0);
    json += ',';
    AppendMember(json, "suspect");
    json += test ? (test->suspect ? "true" : "false") : "null";
    json += '}';
  }
  json += ']';
}

void AppendQuality(std::string& json, const Registration& run) {
  const FitStatistics& stats = run.statistics;
  const bool known = run.hasStatistics;
  json += '{';
  AppendMember(json, "pairs");
  AppendJsonInteger(json, static_cast<std::int64_t>(stats.fittedPairs));
  json += ',';
  AppendMember(json, "redundancy");
  AppendJsonInteger(json, stats.redundancy);
  json += ',';
  AppendMember(json, "sigma0");
  AppendDetermined(json, known && stats.sigma0Determined, stats.sigma0);
  json += ',';
  AppendMember(json, "rmsHorizontal");
  AppendDetermined(json, known && stats.rmsDetermined, stats.rmsHorizontal);
  json += ',';
  AppendMember(json, "rmsVertical");
  AppendDetermined(json, known && stats.rmsDetermined, stats.rmsVertical);
  json += ',';
  AppendMember(json, "sigma");
  const bool precise = known && stats.precisionDetermined;
  const char* const names[kModelParameters] = {"tx", "ty", "tz", "rz", "scale"};
  json += '{';
  for (int k = 0; k < kModelParameters; ++k) {
    if (k > 0) json += ',';
    AppendMember(json, names[k]);
    AppendDetermined(json, precise, stats.sigma[k]);
  }
  json += "},";
  AppendMember(json, "covariance");
  if (!precise) {
    json += "null";
  } else {
    json += '[';
    for (int a = 0; a < kModelParameters; ++a) {
      json += a > 0 ? ",[" : "[";
      for (int b = 0; b < kModelParameters; ++b) {
        if (b > 0) json += ',';
        AppendJsonNumber(json, stats.covariance(a, b));
      }
      json += ']';
    }
    json += ']';
  }
  json += '}';
}

void AppendApplied(std::string& json, const Registration& run) {
  json += '[';
  for (std::size_t i = 0; i < run.applied.size(); ++i) {
    const AppliedPoint& point = run.applied[i];
    json += i > 0 ? ",{" : "{";
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

}  // namespace

std::string ProjPipeline(const Registration& run) {
  const TransformParams& p = run.params;
  const double c = std::cos(p.rz);
  const double s = std::sin(p.rz);
  const std::string tmerc =
      "+proj=tmerc +approx +lat_0=" + Number17(EffectiveOriginLatitude(run.centre.y)) +
      " +lon_0=" + Number17(run.centre.x) + " +k_0=1 +x_0=0 +y_0=0 +ellps=WGS84";
  // destination = scale · Rz · (source + t) = A · source + scale · Rz · t.
  return "+proj=pipeline +step " + tmerc + " +step +proj=affine" +
         " +xoff=" + Number17(p.scale * (c * p.tx - s * p.ty)) +
         " +yoff=" + Number17(p.scale * (s * p.tx + c * p.ty)) +
         " +zoff=" + Number17(p.scale * p.tz) + " +s11=" + Number17(p.scale * c) +
         " +s12=" + Number17(-p.scale * s) + " +s13=0" + " +s21=" + Number17(p.scale * s) +
         " +s22=" + Number17(p.scale * c) + " +s23=0" + " +s31=0 +s32=0 +s33=" + Number17(p.scale) +
         " +step +inv " + tmerc;
}

std::string BuildRecordJson(const Registration& run) {
  const Ellipsoid ellipsoid = EllipsoidByName(kEllipsoidName);
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
  json += '{';
  AppendMember(json, "method");
  AppendJsonString(json, "gauss-kruger-snyder");
  json += ',';
  AppendMember(json, "ellipsoid");
  AppendJsonString(json, kEllipsoidName);
  json += ',';
  AppendMember(json, "a");
  AppendJsonNumber(json, ellipsoid.a);
  json += ',';
  AppendMember(json, "f");
  AppendJsonNumber(json, ellipsoid.f);
  json += ',';
  AppendMember(json, "centralMeridian");
  AppendJsonNumber(json, run.centre.x);
  json += ',';
  AppendMember(json, "originLatitude");
  AppendJsonNumber(json, run.centre.y);
  json += ',';
  AppendMember(json, "falseEasting");
  AppendJsonNumber(json, 0.0);
  json += ',';
  AppendMember(json, "falseNorthing");
  AppendJsonNumber(json, 0.0);
  json += "},";
  AppendMember(json, "model");
  AppendJsonString(json, "destination = scale * Rz(rz) * (source + t)");
  json += ',';
  AppendMember(json, "parameters");
  json += '{';
  const TransformParams& p = run.params;
  const char* const names[kModelParameters] = {"tx", "ty", "tz", "rz", "scale"};
  const double values[kModelParameters] = {p.tx, p.ty, p.tz, p.rz, p.scale};
  for (int k = 0; k < kModelParameters; ++k) {
    if (k > 0) json += ',';
    AppendMember(json, names[k]);
    AppendJsonNumber(json, values[k]);
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
  AppendJsonString(json, ProjPipeline(run));
  json += '}';
  return json;
}

}  // namespace Quorvane
