// Reading: the three point lists from their texts or files.
#include "app/run/run_steps.h"

#include "app/input/point_file.h"

namespace Quorvane {

namespace {

// One point list from its text option or its file option, never both: a text that is given
// even empty conflicts with a file, which is the likelier mistake than an intended override.
bool ReadList(Step& step, const ListInput& input, ListSystem::Kind kind, ObservationList& list) {
  const bool grid = kind != ListSystem::Kind::Geographic;
  if (input.textGiven && input.fileGiven) {
    step.errors << "quorvane: " << input.textOption << " and " << input.fileOption
                << " both give the same points; give only one of them" << kNothingWritten;
    return false;
  }
  if (!input.fileGiven) {
    ParsePointList(input.text, list.points);
    // The lenient argument syntax stays as it was; what looks wrong is only said.
    for (std::size_t i = 0; !grid && i < list.points.size(); ++i) {
      const std::string why = RangeProblem(list.points[i].x, list.points[i].y);
      if (!why.empty()) {
        step.Warn(std::string(input.textOption) + " point " + std::to_string(i + 1) +
                  " (counting from 1): " + why);
      }
    }
    return true;
  }
  PointFileOptions options;
  options.grid = grid;
  options.geocentric = kind == ListSystem::Kind::Geocentric;
  options.packedDms = step.settings.packedDms;
  options.encoding = step.settings.encoding;
  std::string problem;
  if (!ReadPointFile(input.path, options, list, problem)) {
    step.errors << "quorvane: " << input.fileOption << " "
                << step.Quoted(input.path, kLongestQuotedPath) << ": " << problem
                << kNothingWritten;
    return false;
  }
  return true;
}


}  // namespace

bool ReadLists(Step& step, ObservationList& source, ObservationList& destination,
               ObservationList& further) {
  const RunSettings& s = step.settings;
  return ReadList(step, s.source, s.frame.source.kind, source) &&
         ReadList(step, s.destination, s.frame.destination.kind, destination) &&
         ReadList(step, s.further, s.frame.source.kind, further);
}

}  // namespace Quorvane
