// Pairing: source point i with destination point i, by name or by order; and what --exclude
// leaves out of each component.
#include "app/run/run_steps.h"

#include <cmath>
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


// Pairs by name: partner[i] is the destination point named as source point i. Refuses names
// repeated in a list and source names the destination lacks; warns of destination names the
// source lacks.
bool PairByName(Step& step, const ObservationList& source, const ObservationList& destination,
                std::vector<std::size_t>& partner) {
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
    partner.push_back(found->second);
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
  return true;
}

// Pairs by order: source point i with destination point i. Refuses a source point without its
// destination point; warns of destination points beyond the source list's.
bool PairByOrder(Step& step, std::size_t sources, std::size_t destinations) {
  if (destinations < sources) {
    step.errors << "quorvane: --refsrc gives " << sources << " points but --refdes only "
                << destinations << "; every source point needs its destination point"
                << kNothingWritten;
    return false;
  }
  if (destinations > sources) {
    const std::size_t extra = destinations - sources;
    const auto points = [](std::size_t n) {
      return std::to_string(n) + (n == 1 ? " point" : " points");
    };
    step.Warn("--refdes gives " + points(destinations) + " and --refsrc " + points(sources) +
              "; pairs go by order, so the last " + std::to_string(extra) +
              (extra == 1 ? " destination point is" : " destination points are") +
              " not paired and only " + (extra == 1 ? "moves" : "move") + " the projection centre");
  }
  return true;
}

// Each pair's a priori σ: the misclosure of a pair holds the errors of both points, so its
// variance is the sum of the variances its points give; a pair whose points give none takes
// --sigma-h/--sigma-v. A pair left without one, horizontally or vertically, while others have
// one is refused: weights for some pairs and none for others would say nothing.
bool PairPrecision(Step& step, const ObservationList& source, const ObservationList& destination,
                   const std::vector<std::size_t>& partner, Registration& run) {
  const Precision& option = step.settings.sigma;
  const bool given = option.horizontal > 0.0 || option.vertical > 0.0;
  if (!source.HasPrecision() && !destination.HasPrecision() && !given) return true;
  run.varianceKnown = given;
  const std::size_t n = partner.size();
  run.precision.assign(n, Precision{});
  for (std::size_t i = 0; i < n; ++i) {
    const Precision p = source.HasPrecision() ? source.precision[i] : Precision{};
    const Precision q =
        destination.HasPrecision() ? destination.precision[partner[i]] : Precision{};
    Precision& pair = run.precision[i];
    pair = {std::hypot(p.horizontal, q.horizontal), std::hypot(p.vertical, q.vertical)};
    if (!(pair.horizontal > 0.0)) pair.horizontal = option.horizontal;
    if (!(pair.vertical > 0.0)) pair.vertical = option.vertical;
    if (pair.horizontal > 0.0 && pair.vertical > 0.0) continue;
    const bool horizontal = !(pair.horizontal > 0.0);
    step.errors << "quorvane: pair " << i + 1 << " (counting from 1"
                << (run.names.empty() ? "" : ", " + step.Quoted(run.names[i])) << ") has no "
                << (horizontal ? "horizontal" : "vertical")
                << " sigma: its points give none and " << (horizontal ? "--sigma-h" : "--sigma-v")
                << " is not given; give a sigma to every pair or to none" << kNothingWritten;
    return false;
  }
  return true;
}

// A model with rates carries every pair, fitted or a check point, at its own epoch: a pair
// without one is refused.
bool EveryPairHasAnEpoch(Step& step, const Registration& run) {
  if (!step.settings.model.rates) return true;
  if (run.source.empty()) {
    step.errors << "quorvane: --rates needs pairs at their epochs, and the lists hold no pair"
                << kNothingWritten;
    return false;
  }
  for (std::size_t i = 0; i < run.source.size(); ++i) {
    if (run.EpochOf(i) >= kEarliestEpoch) continue;
    step.errors << "quorvane: --rates needs the epoch of every pair, and pair " << i + 1
                << " (counting from 1"
                << (run.names.empty() ? "" : ", " + step.Quoted(run.names[i]))
                << ") has none: give a list an epoch column (headed epoch, decimal years)"
                << kNothingWritten;
    return false;
  }
  return true;
}

// Each pair's precision and epoch from its two points. A pair's epoch is its source point's, or
// its destination point's where only that one has one; two different epochs for one pair are
// refused.
bool PairExtras(Step& step, const ObservationList& source, const ObservationList& destination,
                const std::vector<std::size_t>& partner, Registration& run) {
  const std::size_t n = partner.size();
  if (!PairPrecision(step, source, destination, partner, run)) return false;
  if (!source.HasEpochs() && !destination.HasEpochs()) return EveryPairHasAnEpoch(step, run);
  run.epochs.assign(n, NAN);
  for (std::size_t i = 0; i < n; ++i) {
    const double s = source.HasEpochs() ? source.epochs[i] : NAN;
    const double d = destination.HasEpochs() ? destination.epochs[partner[i]] : NAN;
    if (std::isfinite(s) && std::isfinite(d) && s != d) {
      step.errors << "quorvane: pair " << i + 1 << " (counting from 1"
                  << (run.names.empty() ? "" : ", " + step.Quoted(run.names[i])) << ") has the epoch "
                  << s << " in the source list and " << d
                  << " in the destination list; a pair is one point at one epoch" << kNothingWritten;
      return false;
    }
    run.epochs[i] = std::isfinite(s) ? s : d;
  }
  return EveryPairHasAnEpoch(step, run);
}

}  // namespace

// Pairs the points: by name when both lists name them, by order otherwise. `run.destination`
// gets the destination points that pair or, by order, all of them (the extra ones only move the
// projection centre). The lists' points are moved into `run`, not copied.
bool PairPoints(Step& step, ObservationList& source, ObservationList& destination,
                Registration& run) {
  std::vector<std::size_t> partner;
  if (source.HasNames() && destination.HasNames()) {
    if (!PairByName(step, source, destination, partner)) return false;
    run.destination.reserve(partner.size());
    for (const std::size_t k : partner) run.destination.push_back(destination.points[k]);
    run.names = source.names;
  } else {
    if (!PairByOrder(step, source.points.size(), destination.points.size())) return false;
    partner.resize(source.points.size());
    for (std::size_t i = 0; i < partner.size(); ++i) partner[i] = i;
    if (source.HasNames()) {
      run.names = source.names;
    } else if (destination.HasNames()) {
      run.names.assign(destination.names.begin(),
                       destination.names.begin() + static_cast<std::ptrdiff_t>(partner.size()));
    }
    run.destination = std::move(destination.points);
  }
  run.source = std::move(source.points);
  return PairExtras(step, source, destination, partner, run);
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
