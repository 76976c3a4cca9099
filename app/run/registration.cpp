#include "app/run/registration.h"

#include <algorithm>
#include <cmath>

namespace Quorvane {

namespace {

bool ExplainsHorizontal(const Component& component) {
  return component.layout != ComponentLayout::Vertical;
}

bool ExplainsVertical(const Component& component) {
  return component.layout != ComponentLayout::Horizontal;
}

}  // namespace

Point3 FitResidualOf(const Registration& run, std::size_t pair) {
  const Point3 w = run.model->Apply(run.params, run.planeSource[pair], run.EpochOf(pair));
  const Point3& q = run.planeDestination[pair];
  const Point3 v(w.x - q.x, w.y - q.y, w.z - q.z);
  if (run.localAxes.empty()) return v;
  const LocalAxes& a = run.localAxes[pair];
  const auto along = [&v](const double* axis) { return axis[0] * v.x + axis[1] * v.y + axis[2] * v.z; };
  return Point3(along(a.east), along(a.north), along(a.up));
}

bool Registration::Weighted() const {
  if (precision.empty()) return false;
  return std::all_of(precision.begin(), precision.end(), [](const Precision& p) {
    return p.horizontal > 0.0 && p.vertical > 0.0;
  });
}

Point3 ResidualOf(const Registration& run, std::size_t pair) {
  Point3 residual;
  if (!run.hasStatistics) return residual;
  // Each coordinate taken from the component that explains it, as it is (no sum that would
  // turn a -0 into a 0).
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    const Point3& v = run.statistics[c].residuals[pair];
    if (ExplainsHorizontal(run.components[c])) residual.x = v.x, residual.y = v.y;
    if (ExplainsVertical(run.components[c])) residual.z = v.z;
  }
  return residual;
}

bool IsSuspect(const Registration& run, std::size_t c, std::size_t pair) {
  if (!run.hasStatistics || run.status[c][pair] != PairStatus::Fitted) return false;
  const PairTest& test = run.statistics[c].tests[pair];
  return test.testable && test.suspect;
}

bool IsOverTolerance(const Registration& run, std::size_t pair, bool* horizontally,
                     bool* vertically) {
  bool overH = false;
  bool overV = false;
  if (run.hasStatistics) {
    const Point3 v = ResidualOf(run, pair);
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      if (run.status[c][pair] != PairStatus::Fitted) continue;
      if (ExplainsHorizontal(run.components[c]) && run.tolerances.horizontal > 0.0 &&
          std::hypot(v.x, v.y) > run.tolerances.horizontal) {
        overH = true;
      }
      if (ExplainsVertical(run.components[c]) && run.tolerances.vertical > 0.0 &&
          std::fabs(v.z) > run.tolerances.vertical) {
        overV = true;
      }
    }
  }
  if (horizontally != nullptr) *horizontally = overH;
  if (vertically != nullptr) *vertically = overV;
  return overH || overV;
}

PairFate FateOf(const Registration& run, std::size_t pair) {
  PairFate fate;
  const std::size_t components = run.components.size();
  std::size_t fitted = 0, excluded = 0, removed = 0, only = 0;
  bool suspect = false;
  for (std::size_t c = 0; c < components; ++c) {
    const PairStatus status = run.status[c][pair];
    if (status == PairStatus::Fitted) ++fitted, only = c;
    if (status == PairStatus::Excluded) ++excluded;
    if (status == PairStatus::Removed) ++removed;
    suspect = suspect || IsSuspect(run, c, pair);
  }
  if (removed > 0) {
    fate.by = "snoop";
    for (const RobustOutcome& robust : run.robust) {
      for (const RobustTest& test : robust.removed) {
        if (test.pair == pair) fate.by = "robust";
      }
    }
  }
  fate.everyExcluded = excluded == components;
  fate.everyRemoved = removed == components;
  fate.kind = suspect         ? PairFate::Kind::Suspect
              : excluded > 0 ? PairFate::Kind::Excluded
              : removed > 0  ? PairFate::Kind::Removed
                             : PairFate::Kind::Fitted;
  if (fitted == components) {
    fate.status = "fitted";
  } else if (fitted == 1 && components > 1) {
    fate.status = std::string(run.components[only].name) + " only";
  } else {
    fate.status = fate.everyExcluded ? "excluded" : "removed";
  }
  return fate;
}

const ComponentLabels& LabelsOf(const Component& component) {
  static const ComponentLabels kWhole = {nullptr, nullptr, ""};
  static const ComponentLabels kHorizontal = {&kHorizontalLabel, &kHorizontalPrefix, "Horizontal"};
  static const ComponentLabels kVertical = {&kVerticalLabel, &kVerticalPrefix, "Vertical"};
  switch (component.layout) {
    case ComponentLayout::Horizontal:
      return kHorizontal;
    case ComponentLayout::Vertical:
      return kVertical;
    case ComponentLayout::Whole:
      break;
  }
  return kWhole;
}

}  // namespace Quorvane
