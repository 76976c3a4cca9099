// The distortion: what the plane model leaves of the fitted pairs, modelled over the plane of the
// fit where the model put them.
#include "app/run/run_steps.h"

#include <algorithm>
#include <cstdio>

namespace Quorvane {

bool ModelTheDistortion(Step& step, Registration& run) {
  const RunSettings& settings = step.settings;
  if (!settings.distortion) return true;
  // A pair left out of any component by --exclude, --robust or --snoop shapes nothing: its
  // residual in the others would carry what made it be left out.
  std::vector<PlanePoint> at;
  std::vector<Point3> corrections;
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    const bool fitted = std::all_of(run.status.begin(), run.status.end(),
                                    [i](const std::vector<PairStatus>& s) {
                                      return s[i] == PairStatus::Fitted;
                                    });
    if (!fitted) continue;
    const Point3 w = run.model->Apply(run.params, run.planeSource[i], run.EpochOf(i));
    const Point3 v = FitResidualOf(run, i);
    at.push_back({w.x, w.y});
    corrections.emplace_back(-v.x, -v.y, -v.z);
  }
  auto field = std::make_shared<DistortionField>();
  std::string problem;
  if (!ModelDistortion(at, corrections, settings.distortionMethod, *field, problem)) {
    step.errors << "quorvane: --distortion " << DistortionName(settings.distortionMethod) << " "
                << problem << ", and " << at.size()
                << " pairs are fitted in every part of the model" << kNothingWritten;
    return false;
  }
  if (field->merged > 0) {
    step.Warn(std::to_string(field->merged) +
              " fitted pairs lie within a millimetre of another in the plane: the distortion "
              "takes each such group as one point with their mean correction");
  }
  if (field->gridError > kDistortionGridLimit) {
    char figures[96];
    std::snprintf(figures, sizeof figures, "%.2f mm at its spacing of %.0f m",
                  field->gridError * 1e3, field->spacing);
    step.Warn(std::string("the smooth distortion bends more than the most nodes a file PROJ reads "
                          "can follow: interpolated between them it departs from the spline by "
                          "up to ") +
              figures + " (--apply and PROJ both take the file)");
  }
  run.distortion = std::move(field);
  run.distortionFile = settings.outputs.distortionPath;
  return true;
}

}  // namespace Quorvane
