// Each side's seven: the +towgs84 set for the destination's CRS, refitted, and the CRS that is
// not on WGS 84 bound to WGS 84 by its set (--export-crs).
#include "app/run/run_steps.h"

#include <algorithm>

#include "geodesy/bound_crs.h"

namespace Quorvane {

namespace {

// The numbers of the model's record member `name` for `params`; empty where it gives none.
std::vector<double> RecordNumbers(const TransformModel& model, const ModelParameters& params,
                                  const char* name) {
  for (const ResultMember& member : model.RecordMembers(params)) {
    if (member.name == name) return member.numbers;
  }
  return {};
}

// The model fitted the other way over the pairs fitted in every component: from each source
// point carried by the fitted +towgs84 set (`forward`) back to the source point. The inverse of
// a Helmert transformation with small rotations is not exactly one with the signs turned; a
// refit is the set that reproduces the source best over the network, to well under a
// millimetre. The set, not the whole model, carries the points: a height surface fitted beside
// the seven moves a point along the normal, which a set of seven cannot undo.
std::vector<double> RefitInverse(const Registration& run, const std::vector<double>& forward) {
  const std::size_t n = run.planeSource.size();
  std::vector<bool> fitted(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    fitted[i] = std::all_of(run.status.begin(), run.status.end(),
                            [i](const std::vector<PairStatus>& s) {
                              return s[i] == PairStatus::Fitted;
                            });
  }
  PointList images = run.planeSource;
  ToWgs84 set;
  std::copy(forward.begin(), forward.end(), set.begin());
  std::string problem;
  if (!CarryByToWgs84(set, images, problem)) return {};
  const FramePairs back{images, run.planeSource, run.localAxes.empty() ? nullptr : &run.localAxes};
  ModelParameters inverse;
  const FitOutcome outcome = run.model->Fit(
      back, std::vector<std::vector<bool>>(run.components.size(), fitted), inverse, 0);
  if (!outcome.usable) return {};
  return RecordNumbers(*run.model, inverse, "towgs84");
}

}  // namespace

bool ExpressForEachSide(Step& step, Registration& run) {
  const OutputChoice& outputs = step.settings.outputs;
  const bool exporting = !outputs.exportCrsPath.empty();
  if (!outputs.recordGiven && !exporting) return true;
  const std::vector<double> forward = RecordNumbers(*run.model, run.params, "towgs84");
  if (forward.size() != 7) {
    if (!exporting) return true;
    step.errors << "quorvane: --export-crs binds a CRS to WGS 84 by seven parameters, and the "
                << run.model->Name() << " model has no set +towgs84 takes" << kNothingWritten;
    return false;
  }
  run.towgs84Inverse = RefitInverse(run, forward);
  if (!exporting) return true;
  const bool sourceOnWgs84 = OnWgs84(run.plane.source);
  const bool destinationOnWgs84 = OnWgs84(run.plane.destination);
  if (sourceOnWgs84 == destinationOnWgs84) {
    step.errors << "quorvane: --export-crs writes the list that is not on WGS 84 bound to it, and "
                << (sourceOnWgs84 ? "both lists are on WGS 84"
                                  : "neither list is on WGS 84 (name the one that is as "
                                    "EPSG:4326, 4979 or 4978, or give it on the WGS84 "
                                    "ellipsoid)")
                << kNothingWritten;
    return false;
  }
  // The set of the side bound: the fitted one takes the source to WGS 84, its inverse the
  // destination.
  const std::vector<double>& set = destinationOnWgs84 ? forward : run.towgs84Inverse;
  if (set.size() != 7) {
    step.errors << "quorvane: --export-crs: the inverse of the fitted set could not be fitted"
                << kNothingWritten;
    return false;
  }
  ToWgs84 values;
  std::copy(set.begin(), set.end(), values.begin());
  std::string problem;
  const ListSystem& side = destinationOnWgs84 ? run.plane.source : run.plane.destination;
  if (!BoundToWgs84(side, values, run.exportedCrs, problem)) {
    step.errors << "quorvane: --export-crs: the " << (destinationOnWgs84 ? "source" : "destination")
                << " list " << problem << kNothingWritten;
    return false;
  }
  return true;
}

}  // namespace Quorvane
