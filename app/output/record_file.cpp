#include "app/output/record_file.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "app/output/distortion_file.h"
#include "app/output/json_text.h"
#include "geodesy/ellipsoid.h"

namespace Quorvane {

namespace {

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
         plane.falseEasting == 0.0 && plane.falseNorthing == 0.0 && plane.scale == 1.0 &&
         plane.geoid.empty();
}

// Whether the destination is a grid whose coordinates or heights are not in metres (US survey
// feet): the record then gives its grid coordinates in its own unit, as the report does, beside
// the metres of the frame.
bool GridInOwnUnit(const PlaneSetup& plane) {
  const ListSystem& grid = plane.destination;
  return grid.kind == ListSystem::Kind::Grid && (grid.unit != 1.0 || grid.heightUnit != 1.0);
}

// A point of the frame (metres) in the destination grid's unit.
Point3 InGridUnit(const PlaneSetup& plane, const Point3& metres) {
  const ListSystem& grid = plane.destination;
  return Point3(metres.x / grid.unit, metres.y / grid.unit, metres.z / grid.heightUnit);
}

void WritePairs(JsonWriter& json, const Registration& run) {
  const bool grid = run.plane.destinationOnGrid && GridInOwnUnit(run.plane);
  json.StartArray();
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    json.StartObject();
    json.Key("pair");
    json.Integer(static_cast<std::int64_t>(i + 1));
    if (!run.names.empty()) {
      json.Key("name");
      json.String(run.names[i]);
    }
    json.Key("source");
    json.Triple(run.source[i]);
    json.Key("destination");
    json.Triple(run.destination[i]);
    if (run.model->ChangesWithTime()) {
      json.Key("epoch");
      json.Number(run.EpochOf(i));
    }
    json.Key("sourcePlane");
    json.Triple(run.planeSource[i]);
    json.Key("destinationPlane");
    json.Triple(run.planeDestination[i]);
    if (grid) {
      json.Key("sourceGrid");
      json.Triple(InGridUnit(run.plane, run.planeSource[i]));
      json.Key("destinationGrid");
      json.Triple(run.destination[i]);  // the grid is the plane: as given
    }
    json.Key("residual");
    json.Triple(FitResidualOf(run, i));
    const PairFate fate = FateOf(run, i);
    json.Key("status");
    json.String(fate.status);
    // A weighted or robust run's record says what removed a pair, and the σ each pair took; an
    // unweighted run's without --robust keeps the layout it always had.
    if (*fate.by != '\0' && (run.Weighted() || !run.robust.empty())) {
      json.Key("by");
      json.String(fate.by);
    }
    if (run.Weighted()) {
      json.Key("sigma");
      json.StartArray();
      json.Number(run.precision[i].horizontal);
      json.Number(run.precision[i].vertical);
      json.EndArray();
    }
    bool anyTested = false;
    bool suspect = false;
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      const bool tested = run.hasStatistics && run.status[c][i] == PairStatus::Fitted &&
                          run.statistics[c].tests[i].testable;
      const PairTest* test = tested ? &run.statistics[c].tests[i] : nullptr;
      const std::string suffix = LabelsOf(run.components[c]).recordSuffix;
      json.Key("test" + suffix);
      json.NumberOrNull(test != nullptr, test ? test->statistic : 0.0);
      json.Key("critical" + suffix);
      json.NumberOrNull(test != nullptr, test ? test->critical : 0.0);
      anyTested = anyTested || tested;
      suspect = suspect || (test != nullptr && test->suspect);
    }
    json.Key("suspect");
    if (anyTested) {
      json.Bool(suspect);
    } else {
      json.Null();
    }
    if (run.tolerances.Any()) {
      json.Key("overTolerance");
      if (run.hasStatistics) {
        json.Bool(IsOverTolerance(run, i));
      } else {
        json.Null();
      }
    }
    json.EndObject();
  }
  json.EndArray();
}

// A u × u matrix of a component's statistics as rows, or null when not determined: its
// covariance, or (`correlation`) its correlations C_ab / (σ_a σ_b).
void WriteMatrix(JsonWriter& json, bool precise, const FitStatistics& stats, bool correlation) {
  if (!precise) {
    json.Null();
    return;
  }
  const Eigen::Index u = stats.covariance.rows();
  json.StartArray();
  for (Eigen::Index a = 0; a < u; ++a) {
    json.StartArray();
    for (Eigen::Index b = 0; b < u; ++b) {
      const double value = stats.covariance(a, b);
      json.Number(!correlation ? value : a == b ? 1.0 : value / (stats.sigma[a] * stats.sigma[b]));
    }
    json.EndArray();
  }
  json.EndArray();
}

// `key`: {…} over every parameter of the model, its σ from the component that fits it (times
// σ̂0 where `scaled`), null for one its settings do not fit (the site model's scale held at 1, or
// its slopes with a constant vertical shift).
void WriteParameterSigmas(JsonWriter& json, const Registration& run, const char* key,
                          bool scaled) {
  json.Key(key);
  json.StartObject();
  const std::vector<ParameterInfo>& parameters = run.model->Parameters();
  for (std::size_t parameter = 0; parameter < parameters.size(); ++parameter) {
    bool known = false;
    double sigma = 0.0;
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      const std::vector<std::size_t>& own = run.components[c].parameters;
      const FitStatistics& stats = run.statistics[c];
      for (std::size_t k = 0; k < own.size(); ++k) {
        if (own[k] != parameter) continue;
        known = run.hasStatistics && stats.precisionDetermined;
        if (known) sigma = scaled ? stats.sigmaScaled[k] : stats.sigma[k];
      }
    }
    json.Key(parameters[parameter].name);
    json.NumberOrNull(known, sigma);
  }
  json.EndObject();
}

// "sigma", and with absolute σ "sigmaScaled", each parameter's σ times σ̂0.
void WriteSigma(JsonWriter& json, const Registration& run) {
  WriteParameterSigmas(json, run, "sigma", false);
  bool any = false;
  for (const FitStatistics& stats : run.statistics) any = any || stats.varianceKnown;
  if (run.hasStatistics && any) WriteParameterSigmas(json, run, "sigmaScaled", true);
}

// "pairs", "redundancy" and "sigma0" of one component; with absolute σ "varianceTest".
void WriteCounts(JsonWriter& json, const FitStatistics& stats, bool known) {
  json.Key("pairs");
  json.Integer(static_cast<std::int64_t>(stats.fittedPairs));
  json.Key("redundancy");
  json.Integer(stats.redundancy);
  json.Key("sigma0");
  json.NumberOrNull(known && stats.sigma0Determined, stats.sigma0);
  if (!known || !stats.varianceKnown) return;
  json.Key("varianceTest");
  if (!stats.varianceTest.tested) {
    json.Null();
    return;
  }
  json.StartObject();
  json.Key("factor");
  json.Number(stats.varianceTest.factor);
  json.Key("lower");
  json.Number(stats.varianceTest.lower);
  json.Key("upper");
  json.Number(stats.varianceTest.upper);
  json.Key("passed");
  json.Bool(stats.varianceTest.passed);
  json.EndObject();
}

// With --robust, "robust": per component (an array in the order of the components) the start,
// the rounds, and the pairs removed and given back with their tests.
void WriteRobust(JsonWriter& json, const Registration& run) {
  if (run.robust.empty()) return;
  const auto tests = [&](const char* member, const std::vector<RobustTest>& list) {
    json.Key(member);
    json.StartArray();
    for (const RobustTest& test : list) {
      json.StartObject();
      json.Key("pair");
      json.Integer(static_cast<std::int64_t>(test.pair + 1));
      json.Key("test");
      json.NumberOrNull(test.testable, test.statistic);
      json.Key("critical");
      json.NumberOrNull(test.testable, test.critical);
      json.EndObject();
    }
    json.EndArray();
  };
  json.Key("robust");
  json.StartArray();
  for (const RobustOutcome& robust : run.robust) {
    json.StartObject();
    json.Key("start");
    json.String(!robust.started ? "none" : robust.consensus ? "msac" : "lms");
    json.Key("subsets");
    json.Integer(static_cast<std::int64_t>(robust.subsets));
    json.Key("subsetPairs");
    json.Integer(static_cast<std::int64_t>(robust.subsetPairs));
    json.Key("iterations");
    json.Integer(robust.iterations);
    tests("removed", robust.removed);
    tests("readmitted", robust.readmitted);
    json.EndObject();
  }
  json.EndArray();
}

// For a model with rates fitted to pairs nobody gave a σ, "varianceComponents": the
// horizontal and vertical σ estimated from the pairs, their pooled σ (the weighted σ̂0) and the
// fits it took, metres.
void WriteVarianceComponents(JsonWriter& json, const Registration& run) {
  const VarianceComponents& components = run.varianceComponents;
  if (!components.estimated) return;
  json.Key("varianceComponents");
  json.StartObject();
  const std::pair<const char*, double> sigmas[] = {{"horizontal", components.horizontal},
                                                   {"vertical", components.vertical},
                                                   {"pooled", components.pooled}};
  for (const auto& [member, sigma] : sigmas) {
    json.Key(member);
    json.Number(sigma);
  }
  json.Key("fits");
  json.Integer(components.rounds);
  json.EndObject();
}

// A model of one component has its figures flat; one of several has them per component.
void WriteQuality(JsonWriter& json, const Registration& run) {
  const bool known = run.hasStatistics;
  json.StartObject();
  if (run.components.size() == 1) {
    const FitStatistics& stats = run.statistics[0];
    const bool precise = known && stats.precisionDetermined;
    WriteCounts(json, stats, known);
    json.Key("rmsHorizontal");
    json.NumberOrNull(known && stats.rmsDetermined, stats.rmsHorizontal);
    json.Key("rmsVertical");
    json.NumberOrNull(known && stats.rmsDetermined, stats.rmsVertical);
    WriteSigma(json, run);
    json.Key("covariance");
    WriteMatrix(json, precise, stats, false);
    if (run.model->RecordsCorrelation()) {
      json.Key("correlation");
      WriteMatrix(json, precise, stats, true);
    }
    WriteRobust(json, run);
    WriteVarianceComponents(json, run);
    json.EndObject();
    return;
  }
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    const FitStatistics& stats = run.statistics[c];
    const bool horizontal = run.components[c].layout == ComponentLayout::Horizontal;
    json.Key(run.components[c].name);
    json.StartObject();
    WriteCounts(json, stats, known);
    json.Key("rms");
    json.NumberOrNull(known && stats.rmsDetermined,
                      horizontal ? stats.rmsHorizontal : stats.rmsVertical);
    json.EndObject();
  }
  WriteSigma(json, run);
  json.Key("covariance");
  json.StartObject();
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    json.Key(run.components[c].name);
    WriteMatrix(json, known && run.statistics[c].precisionDetermined, run.statistics[c], false);
  }
  json.EndObject();
  WriteRobust(json, run);
  WriteVarianceComponents(json, run);
  json.EndObject();
}

void WriteApplied(JsonWriter& json, const Registration& run) {
  const bool grid = GridInOwnUnit(run.plane);
  json.StartArray();
  for (const AppliedPoint& point : run.applied) {
    json.StartObject();
    if (run.appliedNamed) {
      json.Key("name");
      json.String(point.name);
    }
    json.Key("source");
    json.Triple(point.source);
    if (run.model->ChangesWithTime()) {
      json.Key("epoch");
      json.Number(point.epoch);
    }
    json.Key("plane");
    json.Triple(point.plane);
    if (grid) {
      json.Key("grid");
      json.Triple(point.given);
    }
    json.Key("destination");
    json.Triple(point.destination);
    json.EndObject();
  }
  json.EndArray();
}

void WriteEllipsoid(JsonWriter& json, const char* member, const NamedEllipsoid& ellipsoid) {
  json.Key(member);
  json.StartObject();
  json.Key("name");
  json.String(ellipsoid.name);
  json.Key("a");
  json.Number(ellipsoid.ellipsoid.a);
  json.Key("f");
  json.Number(ellipsoid.ellipsoid.f);
  json.EndObject();
}

// The series of the tool's own plane (the fit's, or in geocentric space the destination's
// --grid), as the record gives them.
void WriteSeries(JsonWriter& json, const GridSpec& series, bool plain, bool grid) {
  json.Key("centralMeridian");
  json.Number(series.meridian);
  json.Key("originLatitude");
  json.Number(series.originLatitude);
  json.Key("falseEasting");
  json.Number(series.falseEasting);
  json.Key("falseNorthing");
  json.Number(series.falseNorthing);
  if (!plain) {
    json.Key("projectionHeight");
    json.Number(series.height);
  }
  if (grid) {
    json.Key("scale");
    json.Number(series.scale);
  }
}

void WriteProjection(JsonWriter& json, const PlaneSetup& plane) {
  json.StartObject();
  const bool geocentric = plane.frame == PlaneSetup::Frame::Geocentric;
  const bool grid = plane.destination.kind == ListSystem::Kind::Grid;
  const bool projGrid = !geocentric && plane.destinationOnGrid && !plane.destination.projection.empty();
  const bool plain = IsPlainPlane(plane);
  json.Key("method");
  json.String(geocentric ? "geocentric" : projGrid ? "proj" : "gauss-kruger-snyder");
  if (plain) {
    json.Key("ellipsoid");
    json.String("WGS84");
    json.Key("a");
    json.Number(plane.destination.ellipsoid.ellipsoid.a);
    json.Key("f");
    json.Number(plane.destination.ellipsoid.ellipsoid.f);
  } else {
    json.Key("plane");
    json.String(geocentric ? "none" : plane.destinationOnGrid ? "grid" : "centred");
    WriteEllipsoid(json, "sourceEllipsoid", plane.source.ellipsoid);
    WriteEllipsoid(json, "destinationEllipsoid", plane.destination.ellipsoid);
  }
  // The operation that carried the source to the destination's datum, whose steps the pipeline
  // holds.
  if (!plane.datumShift.name.empty()) {
    json.Key("datumShift");
    json.StartObject();
    json.Key("name");
    json.String(plane.datumShift.name);
    json.Key("accuracy");
    json.NumberOrNull(plane.datumShift.accuracy >= 0.0, plane.datumShift.accuracy);
    json.Key("ballpark");
    json.Bool(plane.datumShift.ballpark);
    json.EndObject();
  }
  // A projection of PROJ's, as its PROJ string without ellipsoid and unit: the source grid's,
  // and the destination grid's, the plane of a plane fit.
  if (plane.source.kind == ListSystem::Kind::Grid && !plane.source.projection.empty()) {
    json.Key("sourceProjection");
    json.String(plane.source.projection);
  }
  if (grid && !plane.destination.projection.empty()) {
    json.Key(geocentric ? "destinationProjection" : "projection");
    json.String(plane.destination.projection);
  } else if (!geocentric) {
    const GridSpec own{plane.destination.ellipsoid, plane.centralMeridian, plane.falseEasting,
                       plane.falseNorthing, plane.projectionHeight, plane.scale,
                       plane.originLatitude};
    WriteSeries(json, own, plain, grid);
  } else if (grid) {
    WriteSeries(json, plane.destination.grid, false, true);
  }
  // The geoid grid the source heights were reduced with, last; and the folder it is relative
  // to when it could not be named by an absolute path.
  if (!plane.geoid.empty()) {
    json.Key("geoid");
    json.String(plane.geoid);
  }
  if (!plane.geoidFolder.empty()) {
    json.Key("geoidFolder");
    json.String(plane.geoidFolder);
  }
  json.EndObject();
}

// "distortion": the method, the file, the pairs that shaped it, the leave-one-out prediction
// RMS of the points inside their hull (null when none is), and the rule beyond it.
void WriteDistortion(JsonWriter& json, const Registration& run) {
  const DistortionField& field = *run.distortion;
  json.Key("distortion");
  json.StartObject();
  json.Key("method");
  json.String(DistortionName(field.method));
  json.Key("file");
  json.String(run.distortionFile);
  json.Key("pairs");
  json.Integer(static_cast<std::int64_t>(field.pairs));
  json.Key("looRmsHorizontal");
  json.NumberOrNull(field.inside.points > 0, field.inside.rmsHorizontal);
  json.Key("looRmsVertical");
  json.NumberOrNull(field.inside.points > 0, field.inside.rmsVertical);
  json.Key("outside");
  json.String(OutsideRule(field));
  json.EndObject();
}

// The tinshift step that applies the distortion file, its path quoted when it holds a blank.
std::string DistortionStep(const Registration& run) {
  if (!run.distortion) return std::string();
  const std::string& file = run.distortionFile;
  const bool blank = file.find_first_of(" \t") != std::string::npos;
  return " +step +proj=tinshift +file=" + (blank ? "\"" + file + "\"" : file);
}

// The model's own members after "parameters": those of quorvane.json that the record lists as
// well ("quadric"), where the model does not give them among its record's, then the record's.
void WriteModelMembers(JsonWriter& json, const Registration& run) {
  static const char* const kShared[] = {"quadric"};
  const std::vector<ResultMember> own = run.model->RecordMembers(run.params);
  const auto has = [&own](const std::string& name) {
    for (const ResultMember& member : own) {
      if (member.name == name) return true;
    }
    return false;
  };
  for (const ResultMember& member : run.model->ResultMembers(run.params)) {
    for (const char* shared : kShared) {
      if (member.name != shared || has(shared)) continue;
      json.Key(member.name);
      json.Member(member);
    }
  }
  for (const ResultMember& member : own) {
    json.Key(member.name);
    json.Member(member);
  }
  if (!run.towgs84Inverse.empty()) {
    json.Key("towgs84Inverse");
    json.Member(ResultMember{"towgs84Inverse", run.towgs84Inverse, true});
  }
}

}  // namespace

std::string ProjPipeline(const Registration& run) {
  const std::string model = run.model->ProjSteps(run.params) + DistortionStep(run);
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
  std::string text;
  text.reserve(4096 + 640 * run.planeSource.size() + 240 * run.applied.size());
  JsonWriter json(text);
  json.StartObject();
  json.Key("format");
  json.String(kRecordFormat);
  json.Key("version");
  json.String(QUORVANE_VERSION);
  json.Key("projection");
  WriteProjection(json, run.plane);
  // The coordinate systems named through PROJ: by code, or as PROJJSON.
  for (const auto& [member, list] : {std::make_pair("source", &run.plane.source),
                                     std::make_pair("destination", &run.plane.destination)}) {
    if (list->crsCode.empty() && list->crsJson.empty()) continue;
    json.Key(member);
    if (list->crsCode.empty()) {
      json.Raw(list->crsJson);
    } else {
      json.String(list->crsCode);
    }
  }
  json.Key("model");
  json.String(run.model->Formula(run.params));
  if (run.model->StatesReference(run.params)) {
    json.Key("reference");
    json.Triple(run.params.reference);
  }
  json.Key("parameters");
  json.StartObject();
  const std::vector<ParameterInfo>& parameters = run.model->Parameters();
  for (std::size_t k = 0; k < parameters.size(); ++k) {
    json.Key(parameters[k].name);
    json.Number(run.params.values[k]);
  }
  json.EndObject();
  WriteModelMembers(json, run);
  json.Key("pairs");
  WritePairs(json, run);
  json.Key("quality");
  WriteQuality(json, run);
  json.Key("applied");
  WriteApplied(json, run);
  if (run.distortion) WriteDistortion(json, run);
  json.Key("proj");
  const std::string pipeline = ProjPipeline(run);
  if (pipeline.empty()) {
    json.Null();
  } else {
    json.String(pipeline);
  }
  json.EndObject();
  return text;
}

}  // namespace Quorvane
