#include "estimation/model.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "estimation/model_support.h"

namespace Quorvane {

// Each model's maker, in the model's own file.
std::unique_ptr<const TransformModel> MakeSimilarityModel(const Model& model);
std::unique_ptr<const TransformModel> MakeSiteModel(const Model& model);
std::unique_ptr<const TransformModel> MakeHelmertModel(const Model& model);

namespace {

using Maker = std::unique_ptr<const TransformModel> (*)(const Model&);

// The models, by kind and --model name.
const struct {
  Model::Kind kind;
  const char* name;
  Maker make;
} kModels[] = {
    {Model::Kind::Similarity, "similarity", &MakeSimilarityModel},
    {Model::Kind::Site, "site", &MakeSiteModel},
    {Model::Kind::Helmert, "helmert", &MakeHelmertModel},
    {Model::Kind::MolodenskyBadekas, "molodensky-badekas", &MakeHelmertModel},
};

}  // namespace

const char* ModelName(const Model& model) {
  for (const auto& entry : kModels) {
    if (entry.kind == model.kind) return entry.name;
  }
  return "";
}

bool ModelByName(const std::string& name, Model::Kind& kind) {
  for (const auto& entry : kModels) {
    if (name == entry.name) {
      kind = entry.kind;
      return true;
    }
  }
  return false;
}

std::unique_ptr<const TransformModel> MakeModel(const Model& model) {
  for (const auto& entry : kModels) {
    if (entry.kind == model.kind) return entry.make(model);
  }
  return MakeSimilarityModel(model);
}

std::vector<ResultMember> TransformModel::RecordMembers(const ModelParameters&) const {
  return {};
}

std::string TransformModel::PlotTitle() const { return std::string(); }

bool TransformModel::RecordsCorrelation() const { return false; }

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

std::vector<Component> ComponentsOf(const Model& model) { return MakeModel(model)->Components(); }

FitOutcome FitModel(const Model& model, const PointList& source, const PointList& destination,
                    const std::vector<std::vector<bool>>& used, ModelParameters& params,
                    int maxIterations) {
  return MakeModel(model)->Fit(FramePairs{source, destination}, used, params, maxIterations);
}

bool FitComponent(const Model& model, std::size_t c, const PointList& source,
                  const PointList& destination, const std::vector<bool>& used,
                  ModelParameters& params, FitOutcome& outcome) {
  return MakeModel(model)->FitComponent(c, FramePairs{source, destination}, used, params, outcome);
}

void LineariseComponent(const Model& model, std::size_t c, const ModelParameters& params,
                        const Point3& source, const Point3& destination, PairLinearisation& out) {
  const PointList sources{source};
  const PointList destinations{destination};
  const std::unique_ptr<const TransformModel> made = MakeModel(model);
  std::vector<double> storage;
  if (out.jacobian == nullptr) {
    storage.resize(3 * made->Parameters().size());
    out.jacobian = storage.data();
  }
  made->Linearise(c, params, FramePairs{sources, destinations}, 0, out);
  if (!storage.empty()) out.jacobian = nullptr;
}

Point3 ApplyModel(const Model& model, const ModelParameters& params, const Point3& point) {
  return MakeModel(model)->Apply(params, point);
}

FitStatistics ComputeModelStatistics(const TransformModel& model, std::size_t c,
                                     const FramePairs& pairs, const std::vector<bool>& used,
                                     const ModelParameters& params) {
  const Component& component = model.Components()[c];
  return ComputeComponentStatistics(
      component.layout, static_cast<int>(component.parameters.size()), used,
      [&](std::size_t i, PairLinearisation& out) { model.Linearise(c, params, pairs, i, out); });
}

FitStatistics ComputeModelStatistics(const Model& model, std::size_t c, const PointList& source,
                                     const PointList& destination, const std::vector<bool>& used,
                                     const ModelParameters& params) {
  return ComputeModelStatistics(*MakeModel(model), c, FramePairs{source, destination}, used,
                                params);
}

void CountOutFixed(FitStatistics& stats, int fixed) {
  if (fixed <= 0) return;
  stats.redundancy += fixed;
  if (stats.redundancy >= 1 && std::isfinite(stats.sumOfSquares)) {
    stats.sigma0Determined = true;
    stats.sigma0 = std::sqrt(stats.sumOfSquares / stats.redundancy);
  }
  stats.precisionDetermined = false;
  stats.covariance.setZero();
  std::fill(stats.sigma.begin(), stats.sigma.end(), 0.0);
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

}  // namespace ModelSupport

}  // namespace Quorvane
