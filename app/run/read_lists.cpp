// Reading: the three point lists from their texts or files.
#include "app/run/run_steps.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/input/angle_text.h"
#include "app/input/point_file.h"

namespace Quorvane {

namespace {

// The --apply text of a model with rates: lon,lat,h,epoch for each point, every field a number
// and every epoch one in decimal years; anything else is refused, as a point carried at a wrong
// epoch would come out silently wrong.
bool ParseTimedPoints(Step& step, const ListInput& input, ObservationList& list) {
  std::vector<double> fields;
  std::size_t start = 0;
  while (!input.text.empty() && start <= input.text.size()) {
    const std::size_t comma = std::min(input.text.find(',', start), input.text.size());
    std::string field = input.text.substr(start, comma - start);
    // Blanks around a field are dropped, as a point file's are.
    field.erase(0, field.find_first_not_of(" \t"));
    field.erase(field.find_last_not_of(" \t") + 1);
    double value = 0.0;
    std::string problem;
    if (!ReadDecimal(field, value, problem)) {
      step.errors << "quorvane: " << input.textOption << " field " << fields.size() + 1
                  << " (counting from 1), " << step.Quoted(field) << ", " << problem
                  << kNothingWritten;
      return false;
    }
    fields.push_back(value);
    start = comma + 1;
  }
  if (fields.size() % 4 != 0) {
    step.errors << "quorvane: " << input.textOption << " with --rates takes four numbers a point, "
                << "lon,lat,h,epoch (or x,y,z,epoch), and " << fields.size()
                << " is not a multiple of four" << kNothingWritten;
    return false;
  }
  for (std::size_t k = 0; k < fields.size(); k += 4) {
    const double epoch = fields[k + 3];
    if (!(epoch >= kEarliestEpoch && epoch <= kLatestEpoch)) {
      step.errors << "quorvane: " << input.textOption << " point " << k / 4 + 1
                  << " (counting from 1) has the epoch " << epoch
                  << ", not one in decimal years (" << kEarliestEpoch << " to " << kLatestEpoch
                  << ")" << kNothingWritten;
      return false;
    }
    list.points.emplace_back(fields[k], fields[k + 1], fields[k + 2]);
    list.epochs.push_back(epoch);
  }
  return true;
}

// One point list from its text option or its file option, never both (a `timed` text gives each
// point's epoch after its coordinates): a text that is given
// even empty conflicts with a file, which is the likelier mistake than an intended override.
bool ReadList(Step& step, const ListInput& input, ListSystem::Kind kind, ObservationList& list,
              bool timed = false) {
  const bool grid = kind != ListSystem::Kind::Geographic;
  if (input.textGiven && input.fileGiven) {
    step.errors << "quorvane: " << input.textOption << " and " << input.fileOption
                << " both give the same points; give only one of them" << kNothingWritten;
    return false;
  }
  if (!input.fileGiven && timed) return ParseTimedPoints(step, input, list);
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
         ReadList(step, s.further, s.frame.source.kind, further, s.model.rates);
}

}  // namespace Quorvane
