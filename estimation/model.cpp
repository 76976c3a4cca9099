#include "estimation/model.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "estimation/model_support.h"

// The model table: one line a model, X(--model name, maker, frame, settings it takes), in the
// order --help lists them, the default first. The maker is defined in the model's own file,
// estimation/*_model.cpp, which the build takes in by its name.
#define QUORVANE_MODELS(X)                                                                     \
  X("similarity", MakeSimilarityModel, Frame::Plane, 0)                                        \
  X("site", MakeSiteModel, Frame::Plane, kTakesFixScale | kTakesVertical)                      \
  X("helmert", MakeHelmertModel, Frame::Geocentric,                                            \
    kTakesVertical | kTakesConvention | kTakesRates)                                           \
  X("molodensky-badekas", MakeMolodenskyBadekasModel, Frame::Geocentric,                       \
    kTakesVertical | kTakesConvention | kTakesRates)                                           \
  X("affine", MakeAffineModel, Frame::Geocentric, 0)

namespace Quorvane {

#define QUORVANE_DECLARE_MAKER(name, maker, frame, settings) \
  std::unique_ptr<TransformModel> maker(const Model& model);
QUORVANE_MODELS(QUORVANE_DECLARE_MAKER)
#undef QUORVANE_DECLARE_MAKER

const std::vector<ModelEntry>& ModelTable() {
#define QUORVANE_TABLE_LINE(name, maker, frame, settings) {name, &maker, frame, settings},
  static const std::vector<ModelEntry> table = {QUORVANE_MODELS(QUORVANE_TABLE_LINE)};
#undef QUORVANE_TABLE_LINE
  return table;
}

const ModelEntry* FindModel(const std::string& name) {
  for (const ModelEntry& entry : ModelTable()) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

std::string ModelNames(bool (*which)(const ModelEntry& model)) {
  std::vector<const char*> names;
  for (const ModelEntry& entry : ModelTable()) {
    if (which == nullptr || which(entry)) names.push_back(entry.name);
  }
  std::string sentence;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k > 0) sentence += k + 1 == names.size() ? " or " : ", ";
    sentence += names[k];
  }
  return sentence;
}

std::unique_ptr<const TransformModel> MakeModel(const Model& model) {
  const ModelEntry* entry = FindModel(model.name);
  if (entry == nullptr) return nullptr;
  std::unique_ptr<TransformModel> made = entry->make(model);
  made->entry_ = entry;
  return made;
}

double TransformModel::ValueOf(const ModelParameters& params, const char* name,
                               double otherwise) const {
  const std::vector<ParameterInfo>& parameters = Parameters();
  for (std::size_t k = 0; k < parameters.size() && k < params.values.size(); ++k) {
    if (parameters[k].name == name) return params.values[k];
  }
  return otherwise;
}

ContractFigures TransformModel::Figures(const ModelParameters& params) const {
  ContractFigures figures;
  const char* const offsets[3] = {"tx", "ty", "tz"};
  const char* const rotations[3] = {"rx", "ry", "rz"};
  for (int k = 0; k < 3; ++k) {
    figures.offset[k] = ValueOf(params, offsets[k], 0.0);
    figures.rotate[k] = ValueOf(params, rotations[k], 0.0);
  }
  figures.scale = ValueOf(params, "scale", 1.0);
  return figures;
}

std::vector<ResultMember> TransformModel::ContractMembers(const ModelParameters& params) const {
  using ModelSupport::Degrees;
  const ContractFigures f = Figures(params);
  return {
      {"offset", {f.offset[0], f.offset[1], f.offset[2]}, true},
      {"rotate", {Degrees(f.rotate[0]), Degrees(f.rotate[1]), Degrees(f.rotate[2])}, true},
      {"scale", {f.scale}},
  };
}

std::string TransformModel::AfterLine(const ModelParameters& params) const {
  const ContractFigures f = Figures(params);
  return ModelSupport::Printed("after:%.8f,%.8f,%.8f,%.8f,%.8f,%.8f,%.8f\n", f.offset[0],
                               f.offset[1], f.offset[2], f.rotate[0], f.rotate[1], f.rotate[2],
                               f.scale);
}

std::string TransformModel::ReportLines(const ModelParameters& params) const {
  using ModelSupport::Printed;
  const std::vector<ParameterInfo>& parameters = Parameters();
  std::string line = std::string(Name()) + ":";
  for (std::size_t k = 0; k < parameters.size() && k < params.values.size(); ++k) {
    const ParameterInfo& p = parameters[k];
    line += (k == 0 ? " " : ", ") + p.name + "=" +
            Printed("%.*f", p.valueDecimals, params.values[k]) +
            (*p.valueUnit != '\0' ? std::string(" ") + p.valueUnit : std::string());
  }
  if (StatesReference(params)) {
    const Point3& c = params.reference;
    line += FrameOf() == Frame::Plane
                ? Printed(", reference E0=%.4f m, N0=%.4f m, H0=%.4f m", c.x, c.y, c.z)
                : Printed(", reference X=%.4f m, Y=%.4f m, Z=%.4f m", c.x, c.y, c.z);
  }
  return line + "\n";
}

std::vector<ResultMember> TransformModel::ResultMembers(const ModelParameters& params) const {
  std::vector<ResultMember> members = ContractMembers(params);
  ResultMember model{"model"};
  model.text = Name();
  members.push_back(model);
  if (StatesReference(params)) {
    const Point3& c = params.reference;
    members.push_back({"reference", {c.x, c.y, c.z}, true});
  }
  return members;
}

std::vector<ResultMember> TransformModel::RecordMembers(const ModelParameters&) const {
  return {};
}

std::string TransformModel::PlotTitle() const { return std::string(); }

bool TransformModel::ChangesWithTime() const { return false; }

bool TransformModel::RecordsCorrelation() const { return FrameOf() == Frame::Geocentric; }

bool TransformModel::StatesReference(const ModelParameters&) const { return true; }

std::unique_ptr<const TransformModel> TransformModel::Settled(
    const FramePairs&, const std::vector<std::vector<bool>>&) const {
  return nullptr;
}

std::string PipelineNumber(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string AffineStep(const AffineTerms& affine) {
  for (int r = 0; r < 3; ++r) {
    if (!std::isfinite(affine.offset[r])) return std::string();
    for (int k = 0; k < 3; ++k) {
      if (!std::isfinite(affine.s[r][k])) return std::string();
    }
  }
  std::string step = " +step +proj=affine +xoff=" + PipelineNumber(affine.offset[0]) +
                     " +yoff=" + PipelineNumber(affine.offset[1]) +
                     " +zoff=" + PipelineNumber(affine.offset[2]);
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 3; ++k) {
      step += " +s" + std::to_string(r + 1) + std::to_string(k + 1) + "=" +
              PipelineNumber(affine.s[r][k]);
    }
  }
  return step;
}

FitStatistics ComputeModelStatistics(const TransformModel& model, std::size_t c,
                                     const FramePairs& pairs, const std::vector<bool>& used,
                                     const ModelParameters& params) {
  const Component& component = model.Components()[c];
  return ComputeComponentStatistics(
      component.layout, static_cast<int>(component.parameters.size()), used,
      [&](std::size_t i, PairLinearisation& out) { model.Linearise(c, params, pairs, i, out); },
      pairs.precision, pairs.varianceKnown);
}

void CountOutFixed(FitStatistics& stats, int fixed) {
  if (fixed <= 0) return;
  stats.redundancy += fixed;
  if (stats.redundancy >= 1 && std::isfinite(stats.sumOfSquares)) {
    stats.sigma0Determined = true;
    stats.sigma0 = std::sqrt(stats.sumOfSquares / stats.redundancy);
    if (stats.varianceKnown) {
      stats.varianceTest = TestVarianceFactor(stats.sigma0 * stats.sigma0, stats.redundancy);
    }
  }
  stats.precisionDetermined = false;
  stats.covariance.setZero();
  std::fill(stats.sigma.begin(), stats.sigma.end(), 0.0);
  std::fill(stats.sigmaScaled.begin(), stats.sigmaScaled.end(), 0.0);
  for (PairTest& test : stats.tests) test = PairTest{};
}

void SnoopModel(const TransformModel& model, std::size_t c, const FramePairs& pairs,
                std::vector<bool>& used, ModelParameters& params, FitOutcome& outcome,
                FitStatistics& stats, std::vector<BlunderRemoval>& removals,
                const std::function<void(std::size_t)>& progress) {
  const Component& component = model.Components()[c];
  SnoopedComponent snooped;
  snooped.layout = component.layout;
  snooped.parameters = static_cast<int>(component.parameters.size());
  snooped.precision = pairs.precision;
  snooped.varianceKnown = pairs.varianceKnown;
  snooped.linearise = [&](std::size_t i, PairLinearisation& out) {
    model.Linearise(c, params, pairs, i, out);
  };
  snooped.refit = [&](const std::vector<bool>& mask) {
    return model.FitComponent(c, pairs, mask, params, outcome);
  };
  snooped.statistics = [&](const std::vector<bool>& mask) {
    return ComputeModelStatistics(model, c, pairs, mask, params);
  };
  snooped.progress = progress;
  SnoopComponent(snooped, c, used, stats, removals);
}

namespace ModelSupport {

Point3 CentroidOf(const PointList& source, const std::vector<std::vector<bool>>& used) {
  using Real = long double;
  std::size_t count = 0;
  Point3 first;
  Real x = 0, y = 0, z = 0;
  for (std::size_t i = 0; i < source.size(); ++i) {
    bool any = false;
    for (const std::vector<bool>& mask : used) any = any || (i < mask.size() && mask[i]);
    if (!any) continue;
    if (count++ == 0) first = source[i];
    x += static_cast<Real>(source[i].x) - first.x;
    y += static_cast<Real>(source[i].y) - first.y;
    z += static_cast<Real>(source[i].z) - first.z;
  }
  if (count == 0) return Point3();
  return Point3(static_cast<double>(first.x + x / count), static_cast<double>(first.y + y / count),
                static_cast<double>(first.z + z / count));
}

std::string Printed(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

std::string PairsFitted(std::size_t m) {
  return std::to_string(m) + (m == 1 ? " pair is" : " pairs are") + " fitted";
}

std::string PlaneSimilarityNotDetermined(const char* what, std::size_t m) {
  return std::string("the ") + what + " is not determined by the points given: " +
         (m < 2 ? PairsFitted(m)
                : "the " + std::to_string(m) + " fitted source points lie within " +
                      std::to_string(static_cast<int>(kCoincidenceDistance * 1000)) +
                      " mm of each other in the plane") +
         ", and a rotation and scale need at least two apart; the values are one of many that "
         "fit them equally well.";
}

}  // namespace ModelSupport

}  // namespace Quorvane
