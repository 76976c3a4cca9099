// Pairing: source point i with destination point i, by name or by order; and what --exclude
// leaves out of each component.
#include "app/run/run_steps.h"

#include <map>

#include "app/cli/command_line.h"

namespace Quorvane {

namespace {

// Names given twice in one list, in the order of their first repetition.
std::vector<std::string> Repeated(const std::vector<std::string>& names) {
  std::map<std::string, int> count;
  std::vector<std::string> repeated;
  for (const std::string& name : names) {
    if (++count[name] == 2) repeated.push_back(name);
  }
  return repeated;
}


}  // namespace

// Pairs the points: by name when both lists name them, by order otherwise. `run.destination`
// gets the destination points that pair or, by order, all of them (the extra ones only move the
// projection centre).
// The lists' points are moved into `run`, not copied.
bool PairPoints(Step& step, ObservationList& source, ObservationList& destination,
                Registration& run) {
  run.source = std::move(source.points);
  if (source.HasNames() && destination.HasNames()) {
    for (const auto& [list, option] : {std::make_pair(&source, "--refsrc-file"),
                                       std::make_pair(&destination, "--refdes-file")}) {
      const std::vector<std::string> repeated = Repeated(list->names);
      if (!repeated.empty()) {
        step.errors << "quorvane: " << option << " names more than one point "
                    << ListOfNames(repeated, step.settings.encoding)
                    << "; pairing by name needs each name once" << kNothingWritten;
        return false;
      }
    }
    std::map<std::string, std::size_t> where;
    for (std::size_t i = 0; i < destination.names.size(); ++i) where[destination.names[i]] = i;
    std::vector<std::string> missing;
    std::vector<bool> paired(destination.points.size(), false);
    for (const std::string& name : source.names) {
      const auto found = where.find(name);
      if (found == where.end()) {
        missing.push_back(name);
        continue;
      }
      paired[found->second] = true;
      run.destination.push_back(destination.points[found->second]);
    }
    if (!missing.empty()) {
      step.errors << "quorvane: --refdes-file has no point named "
                  << ListOfNames(missing, step.settings.encoding)
                  << "; every source point needs the destination point of its name"
                  << kNothingWritten;
      return false;
    }
    std::vector<std::string> unpaired;
    for (std::size_t i = 0; i < destination.names.size(); ++i) {
      if (!paired[i]) unpaired.push_back(destination.names[i]);
    }
    if (!unpaired.empty()) {
      step.Warn("--refdes-file names " + std::to_string(unpaired.size()) +
                (unpaired.size() == 1 ? " point" : " points") + " the source list lacks: " +
                ListOfNames(unpaired, step.settings.encoding) +
                "; they take no part and do not move the projection centre");
    }
    run.names = source.names;
    return true;
  }
  run.destination = std::move(destination.points);
  // Every source point needs the destination point of the same index; more destination points
  // are allowed and only move the projection centre.
  if (run.destination.size() < run.source.size()) {
    step.errors << "quorvane: --refsrc gives " << run.source.size() << " points but --refdes only "
                << run.destination.size()
                << "; every source point needs its destination point" << kNothingWritten;
    return false;
  }
  if (run.destination.size() > run.source.size()) {
    const std::size_t extra = run.destination.size() - run.source.size();
    const auto points = [](std::size_t n) {
      return std::to_string(n) + (n == 1 ? " point" : " points");
    };
    step.Warn("--refdes gives " + points(run.destination.size()) + " and --refsrc " +
              points(run.source.size()) + "; pairs go by order, so the last " +
              std::to_string(extra) + (extra == 1 ? " destination point is" : " destination points are") +
              " not paired and only " + (extra == 1 ? "moves" : "move") + " the projection centre");
  }
  if (source.HasNames()) {
    run.names = source.names;
  } else if (destination.HasNames()) {
    run.names.assign(destination.names.begin(),
                     destination.names.begin() + static_cast<std::ptrdiff_t>(run.source.size()));
  }
  return true;
}

// The pairs each component fits: all but those --exclude leaves out of it.
bool ReadExclusions(Step& step, Registration& run) {
  const std::size_t pairs = run.source.size();
  run.status.assign(run.components.size(), std::vector<PairStatus>(pairs, PairStatus::Fitted));
  if (!step.settings.excludeGiven) return true;
  const std::string& text = step.settings.exclude;
  Exclusions excluded;
  std::string problem;
  if (!ParseExclusions(text, pairs, run.names, run.components.size(), step.settings.encoding,
                       excluded, problem)) {
    step.errors << "quorvane: --exclude " << step.Quoted(text) << ": " << problem
                << kNothingWritten;
    return false;
  }
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    std::size_t left = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
      if (excluded[c][i]) {
        run.status[c][i] = PairStatus::Excluded;
      } else {
        ++left;
      }
    }
    if (left == 0) {
      step.errors << "quorvane: --exclude " << step.Quoted(text) << " leaves out all " << pairs
                  << " pairs";
      if (run.components.size() > 1) step.errors << " of the " << run.components[c].name << " fit";
      step.errors << ", and at least one must be fitted" << kNothingWritten;
      return false;
    }
  }
  return true;
}

}  // namespace Quorvane
