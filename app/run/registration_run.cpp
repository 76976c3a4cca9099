#include "app/run/registration_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <iostream>
#include <map>
#include <new>
#include <sstream>
#include <system_error>

#include "app/output/console_report.h"
#include "app/text/console_text.h"
#include "app/output/plot_file.h"
#include "app/input/point_file.h"
#include "app/output/quality_report.h"
#include "app/output/record_file.h"
#include "app/output/result_file.h"
#include "app/cli/run_settings.h"
#include "app/text/text_encoding.h"
#include "app/cli/options.h"
#include "estimation/site_fit.h"
#include "geodesy/proj_operation.h"

namespace Quorvane {

namespace {

constexpr char kNothingWritten[] = ". No result was written.\n";
// Names listed in a message before the rest is only counted.
constexpr std::size_t kNamesShown = 5;
// The solver's iterations when the destination points all lie on one spot and the source points
// do not: such pairs have no best fit (the scale goes to 0 with an unbounded shift), and the
// solver's 10000 iterations would take minutes on a large list for no better answer (each one
// about 0.15 s on 100,000 pairs).
constexpr int kDegenerateIterations = 5;
// Beyond these the pairs do not look like the same points in two coordinate sets.
constexpr double kImplausibleRms = 10.0;     // metres, horizontal
constexpr double kImplausibleScale = 0.01;   // |scale − 1|
// Beyond these a fit into a grid says more about how the grid is described than about the
// points: a datum change and a survey's own scale stay within some tens of ppm and a few
// seconds of arc.
constexpr double kSuspectGridScale = 100e-6;                             // |scale − 1|
constexpr double kSuspectGridRotation = 0.1 * 3.141592653589793 / 180;  // radians

bool IsFinite(const Point3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Mean of the longitudes and latitudes, degrees; NaN for an empty list. Longitudes on both sides
// of ±180° (more than 180° apart) are averaged on the circle, so that their centre lies between
// them near ±180° and not on the far side of the Earth; others keep their plain mean.
Point3 ProjectionCentre(const PointList& geographic) {
  double sumX = 0.0;
  double sumY = 0.0;
  double west = INFINITY, east = -INFINITY;
  for (const Point3& p : geographic) {
    sumX += p.x;
    sumY += p.y;
    west = std::min(west, p.x);
    east = std::max(east, p.x);
  }
  const double count = static_cast<double>(geographic.size());
  if (east - west > 180.0 && std::isfinite(east - west)) {
    constexpr double kRadians = 3.14159265358979323846 / 180.0;
    double sine = 0.0, cosine = 0.0;
    for (const Point3& p : geographic) {
      sine += std::sin(p.x * kRadians);
      cosine += std::cos(p.x * kRadians);
    }
    return {std::atan2(sine, cosine) / kRadians, sumY / count, 0.0};
  }
  return {sumX / count, sumY / count, 0.0};
}

// "a, b, c, d, e and 3 more" in the console's encoding.
std::string ListOfNames(const std::vector<std::string>& names, ConsoleEncoding encoding) {
  std::string list;
  for (std::size_t k = 0; k < names.size() && k < kNamesShown; ++k) {
    if (k > 0) list += ", ";
    list += QuotedField(names[k], 40, encoding);
  }
  if (names.size() > kNamesShown) list += " and " + std::to_string(names.size() - kNamesShown) + " more";
  return list;
}

// The state of one run while it is built: settings, warnings held until the input is accepted.
struct Step {
  const RunSettings& settings;
  std::ostream& errors;
  std::vector<std::string> warnings;  // each a whole line, "quorvane: warning: …\n"

  void Warn(const std::string& text) { warnings.push_back("quorvane: warning: " + text + "\n"); }
  std::string Quoted(const std::string& text, std::size_t longest = 40) const {
    return QuotedField(text, longest, settings.encoding);
  }
};

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

bool ReadLists(Step& step, ObservationList& source, ObservationList& destination,
               ObservationList& further) {
  const RunSettings& s = step.settings;
  return ReadList(step, s.source, s.plane.source.kind, source) &&
         ReadList(step, s.destination, s.plane.destination.kind, destination) &&
         ReadList(step, s.further, s.plane.source.kind, further);
}

// Names given twice in one list, in the order of their first repetition.
std::vector<std::string> Repeated(const std::vector<std::string>& names) {
  std::map<std::string, int> count;
  std::vector<std::string> repeated;
  for (const std::string& name : names) {
    if (++count[name] == 2) repeated.push_back(name);
  }
  return repeated;
}

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

// Why a point of a list lies outside the projection's domain, likely: latitude and longitude
// swapped, or a grid's zone number in front of the eastings that false-easting lacks.
std::string DomainCause(const PlaneSetup& plane, const ListSystem& list, const Point3& given,
                        const Point3& geographic) {
  if (list.kind == ListSystem::Kind::Geographic &&
      plane.OutsideDomain(Point3(geographic.y, geographic.x, geographic.z)) == 0.0) {
    return " (latitude and longitude swapped?)";
  }
  if (list.kind == ListSystem::Kind::Grid && list.projection.empty() &&
      std::fabs(given.x - list.grid.falseEasting) > 1e6) {
    const double zone = std::floor(given.x / 1e6);
    if (zone >= 1 && zone <= 120 && std::fabs(given.x - (zone * 1e6 + 500000)) < 1e6) {
      char text[160];
      std::snprintf(text, sizeof text,
                    " (the eastings carry the zone number %.0f in front: false-easting=%.0f?)",
                    zone, zone * 1e6 + 500000);
      return text;
    }
  }
  return std::string();
}

// Paired points are held to the projection's domain as --apply points are: outside it the series
// lose their accuracy, and a pair there is most often a mistake of the input.
bool PairsInTheDomain(Step& step, const Registration& run) {
  const PlaneSetup& plane = run.plane;
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    for (const bool isSource : {true, false}) {
      const Point3& given = isSource ? run.source[i] : run.destination[i];
      const Point3 geographic =
          isSource ? plane.SourceGeographic(given) : plane.DestinationGeographic(given);
      if (plane.OutsideDomain(geographic) == 0.0) continue;
      char coordinates[100];
      std::snprintf(coordinates, sizeof coordinates, "%.12g,%.12g,%.12g", given.x, given.y,
                    given.z);
      step.errors << "quorvane: " << (isSource ? "source" : "destination") << " point " << i + 1
                  << " (counting from 1; given as " << coordinates
                  << ") lies outside the projection's domain: more than "
                  << kDomainLongitude << " degrees of longitude from the central meridian "
                  << plane.DomainMeridian() << " or " << kDomainLatitude
                  << " degrees of latitude from the equator"
                  << DomainCause(plane, isSource ? plane.source : plane.destination, given,
                                 geographic)
                  << kNothingWritten;
      return false;
    }
  }
  return true;
}

// The frame the model is fitted in, and both lists in it; a pair without finite coordinates
// there is refused.
bool ProjectPairs(Step& step, Registration& run) {
  const PlaneChoice& choice = step.settings.plane;
  PlaneSetup& plane = run.plane;
  plane.source = choice.source;
  plane.destination = choice.destination;
  plane.geoid = choice.geoid;
  plane.frame = run.model->FrameOf() == Frame::Geocentric ? PlaneSetup::Frame::Geocentric
                                                           : PlaneSetup::Frame::Plane;
  const ListSystem& destination = plane.destination;
  if (plane.frame == PlaneSetup::Frame::Plane && destination.kind == ListSystem::Kind::Grid) {
    plane.UseGrid(destination.grid);
  }
  std::string problem;
  if (plane.UsesProj() && !plane.Prepare(problem)) {
    step.errors << "quorvane: the frame of the fit could not be set up: " << problem
                << kNothingWritten;
    return false;
  }
  // The plane of the tool's series (in geocentric space, the one the picture maps the points
  // in) is centred on the paired destination points.
  if (!plane.destinationOnGrid) {
    Point3 centre;
    if (destination.kind == ListSystem::Kind::Geographic) {
      centre = ProjectionCentre(run.destination);
    } else {
      PointList geographic;
      geographic.reserve(run.destination.size());
      for (const Point3& q : run.destination) geographic.push_back(plane.DestinationGeographic(q));
      centre = ProjectionCentre(geographic);
    }
    plane.centralMeridian = centre.x;
    plane.originLatitude = centre.y;
  }
  run.planeSource.reserve(run.source.size());
  for (const Point3& p : run.source) run.planeSource.push_back(plane.SourceToFrame(p));
  run.planeDestination.reserve(run.destination.size());
  for (const Point3& q : run.destination) run.planeDestination.push_back(plane.DestinationToFrame(q));
  if (plane.frame == PlaneSetup::Frame::Geocentric) {
    run.localAxes.reserve(run.source.size());
    for (std::size_t i = 0; i < run.source.size(); ++i) {
      run.localAxes.push_back(AxesAt(plane.DestinationGeographic(run.destination[i])));
    }
  }
  // A pair with a coordinate that is not finite (from "nan", "inf" or an overflowing number in
  // the input, or a centre that is not finite) cannot be fitted: say which point, first in pair
  // order, and stop before anything reaches the report.
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    const bool sourceUnusable = !IsFinite(run.planeSource[i]);
    if (sourceUnusable || !IsFinite(run.planeDestination[i])) {
      const Point3& given = sourceUnusable ? run.source[i] : run.destination[i];
      step.errors << "quorvane: " << (sourceUnusable ? "source" : "destination") << " point "
                  << i + 1 << " (counting from 1; given as " << given.x << ',' << given.y << ','
                  << given.z << ") has no finite "
                  << (plane.frame == PlaneSetup::Frame::Plane ? "plane" : "geocentric")
                  << " coordinates";
      if (sourceUnusable && !plane.geoid.empty() && IsFinite(given)) {
        step.errors << " (outside the geoid grid " << step.Quoted(plane.geoid, kLongestQuotedPath)
                    << "?)";
      }
      if (!plane.destinationOnGrid &&
          (!std::isfinite(plane.centralMeridian) || !std::isfinite(plane.originLatitude))) {
        step.errors << ", because the projection centre, the mean of the destination points, is "
                       "not finite";
      }
      step.errors << kNothingWritten;
      return false;
    }
  }
  return PairsInTheDomain(step, run);
}

std::vector<std::vector<bool>> FittedMasks(const Registration& run) {
  std::vector<std::vector<bool>> fitted(run.status.size());
  for (std::size_t c = 0; c < run.status.size(); ++c) {
    fitted[c].resize(run.status[c].size());
    for (std::size_t i = 0; i < run.status[c].size(); ++i) {
      fitted[c][i] = run.status[c][i] == PairStatus::Fitted;
    }
  }
  return fitted;
}

// Whether the fitted destination points all lie on one spot while the source points do not:
// then no fit is best, and the solver is given few iterations.
bool DestinationCollapsed(const Registration& run, const std::vector<bool>& fitted) {
  return DeterminesTransform(run.planeSource, fitted) &&
         !DeterminesTransform(run.planeDestination, fitted);
}

// Progress of a long snoop on a terminal: after a second, a line that counts the removals,
// erased at the end.
class Progress {
 public:
  explicit Progress(bool shown) : shown_(shown), start_(Clock::now()), last_(start_) {}
  ~Progress() {
    if (written_) std::fputs("\r                                                  \r", stderr);
  }
  void Removed(std::size_t count) {
    if (!shown_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(250)) {
      return;
    }
    last_ = now;
    written_ = true;
    std::fprintf(stderr, "\rquorvane: snooping, %zu pairs removed", count);
    std::fflush(stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool shown_;
  Clock::time_point start_;
  Clock::time_point last_;
  bool written_ = false;
};

// The model fitted to the pairs each component keeps; then, when asked for, its statistics and
// the blunders removed.
void Fit(Step& step, Registration& run) {
  std::vector<std::vector<bool>> fitted = FittedMasks(run);
  const bool collapsed = DestinationCollapsed(run, fitted[0]);
  const FramePairs pairs = run.Pairs();
  // A model that chooses its form from the pairs (--vertical auto) does so once, before the fit
  // and any snooping.
  if (std::unique_ptr<const TransformModel> settled = run.model->Settled(pairs, fitted)) {
    run.model = std::move(settled);
    run.components = run.model->Components();
  }
  const TransformModel& model = *run.model;
  run.outcome = model.Fit(pairs, fitted, run.params, collapsed ? kDegenerateIterations : 0);
  if (collapsed) {
    step.Warn("the fitted destination points all lie within " +
              std::to_string(static_cast<int>(kCoincidenceDistance * 1000)) +
              " mm of one spot while the source points do not: no transform fits them (the best "
              "scale would be 0), and the values are not a fit");
  }
  if (!run.outcome.usable || !step.settings.statistics) return;
  Progress progress(step.settings.snoop && StandardErrorIsTerminal());
  // The statistics count out what the fit held rather than estimated (the slope across points
  // on one line), so that they say what the warning says the fit did.
  const auto statistics = [&] {
    run.statistics.resize(run.components.size());
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      run.statistics[c] = ComputeModelStatistics(model, c, pairs, fitted[c], run.params);
      if (c < run.outcome.fixed.size()) CountOutFixed(run.statistics[c], run.outcome.fixed[c]);
    }
  };
  statistics();
  if (step.settings.snoop) {
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      const std::size_t before = run.removals.size();
      SnoopModel(model, c, pairs, fitted[c], run.params, run.outcome, run.statistics[c],
                 run.removals, [&](std::size_t removals) { progress.Removed(removals); });
      for (std::size_t k = before; k < run.removals.size(); ++k) {
        run.status[c][run.removals[k].pair] = PairStatus::Removed;
      }
      if (!run.outcome.usable) break;
    }
    // Removals move the centroid a model's parameters are stated about: the model is fitted once
    // more about the centroid of the pairs left, which changes the parameters and their σ but not
    // the fit. Then the summary and the pairs it counts are those of the last fit.
    if (run.outcome.usable && !run.removals.empty() && model.StatesReference(run.params)) {
      run.outcome = model.Fit(pairs, fitted, run.params, 0);
      if (run.outcome.usable) statistics();
    } else {
      model.Summarise(pairs, fitted, run.params, run.outcome);
    }
  }
  run.hasStatistics = run.outcome.usable;
}

// Further points, through the same frame and the reported fit, and back to the destination's
// system; one outside the projection's domain, or that comes out not finite, is refused.
bool ApplyFurther(Step& step, const ObservationList& further, Registration& run) {
  run.appliedNamed = further.HasNames();
  for (std::size_t i = 0; i < further.points.size(); ++i) {
    AppliedPoint point;
    point.source = further.points[i];
    if (run.appliedNamed) point.name = further.names[i];
    point.plane = run.model->Apply(run.params, run.plane.SourceToFrame(point.source));
    point.destination = run.plane.FrameToDestinationGeographic(point.plane);
    point.given = run.plane.FrameToDestination(point.plane);
    const double outside = std::max(run.plane.OutsideDomain(run.plane.SourceGeographic(point.source)),
                                    run.plane.OutsideDomain(point.destination));
    const bool finite =
        IsFinite(point.plane) && IsFinite(point.destination) && IsFinite(point.given);
    if (!finite || !(outside == 0.0)) {
      step.errors << "quorvane: --apply point " << i + 1 << " (counting from 1; given as "
                  << point.source.x << ',' << point.source.y << ',' << point.source.z << ")";
      if (run.appliedNamed) step.errors << ", " << step.Quoted(point.name) << ",";
      if (!finite || std::isnan(outside)) {
        step.errors << " has no finite coordinates in the destination system";
      } else {
        step.errors << " lies outside the projection's domain: more than " << kDomainLongitude
                    << " degrees of longitude from the central meridian "
                    << run.plane.centralMeridian << " or " << kDomainLatitude
                    << " degrees of latitude from the equator, where the series lose their accuracy";
      }
      step.errors << kNothingWritten;
      return false;
    }
    run.applied.push_back(point);
  }
  return true;
}

// Whether every angle of a geographic list looks like packed ddd.mmss: the first two digits after
// the point, and the next two, below 60 each. Decimal degrees do so by chance with a probability
// of 0.36 per angle; over the three points asked for at least, below 0.3 %.
bool LooksPacked(const PointList& points) {
  if (points.size() < 3) return false;
  for (const Point3& p : points) {
    for (const double angle : {p.x, p.y}) {
      const double fraction = std::fabs(angle) - std::floor(std::fabs(angle));
      const double minutes = std::floor(fraction * 100 + 1e-9);
      const double seconds = std::floor((fraction * 100 - minutes) * 100 + 1e-7);
      if (!(minutes < 60 && seconds < 60)) return false;
    }
  }
  return true;
}

// Why pairs that are not the same points in two coordinate sets likely are not: angles in packed
// ddd.mmss read as decimal degrees; pairs that fit in another order (one list reversed, or a row
// missing or extra, which shifts every later pair); or else the columns.
std::string LikelyCause(const Step& step, const Registration& run, double rms) {
  const PlaneSetup& plane = run.plane;
  if (!step.settings.packedDms) {
    const struct {
      const ListSystem& system;
      const PointList& points;
      const char* option;
    } lists[] = {{plane.source, run.source, "source"}, {plane.destination, run.destination, "destination"}};
    for (const auto& list : lists) {
      if (list.system.kind == ListSystem::Kind::Geographic && LooksPacked(list.points)) {
        return std::string("the ") + list.option +
               " angles all look like packed ddd.mmss (minutes and seconds below 60): give "
               "--packed-dms if they are";
      }
    }
  }
  // Other orders of pairs given by order: one list reversed, or a row missing from one list at
  // some place, which pairs every later point with the next one of the other list. Lists of up
  // to a few thousand points are searched whole (each place a closed-form fit).
  constexpr std::size_t kLongestSearched = 2000;
  const std::size_t n = run.planeSource.size();
  const PointList& p = run.planeSource;
  const PointList& q = run.planeDestination;
  if (run.names.empty() && n >= 4 && n <= kLongestSearched && rms > kImplausibleRms) {
    const double good = 0.01 * rms;
    PointList reversed(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(n));
    std::reverse(reversed.begin(), reversed.end());
    if (SimilarityRms(p, reversed) < good) {
      return "the pairs fit in another order: one list is in the reverse order of the other; "
             "check the pairing";
    }
    // A source row missing before pair k: source i ≥ k goes with destination i + 1 (when the
    // destination list has a point more); a destination row missing: source i + 1 with
    // destination i.
    for (const bool sourceMissing : {true, false}) {
      for (std::size_t k = 0; k + 1 < n || (sourceMissing && k < n && q.size() > n); ++k) {
        PointList from, to;
        for (std::size_t i = 0; i < n; ++i) {
          const std::size_t other = i < k ? i : (sourceMissing ? i + 1 : i - 1);
          if (!sourceMissing && i == k) continue;
          if (other >= q.size()) break;
          from.push_back(p[i]);
          to.push_back(q[other]);
        }
        if (from.size() + 1 < n || SimilarityRms(from, to) >= good) continue;
        return "the pairs fit if a " + std::string(sourceMissing ? "source" : "destination") +
               " row is missing before pair " + std::to_string(k + 1) +
               " (every later pair then shifted by one); check the pairing";
      }
    }
  }
  return "a scale or rotation this far from a similarity says the columns are not what they "
         "are taken for: check the column order";
}

// Warnings about a usable fit that the user should not take at face value.
void WarnAboutTheFit(Step& step, const Registration& run) {
  const std::vector<std::vector<bool>> fitted = FittedMasks(run);
  // What the model says of each component its pairs do not determine.
  for (std::size_t c = 0; c < run.outcome.determined.size(); ++c) {
    if (!run.outcome.determined[c]) step.Warn(run.outcome.notDetermined.at(c));
  }
  if (run.outcome.stoppedEarly) {
    step.Warn("the solver stopped without converging (" + run.outcome.message +
              "); the values may not be the best fit.");
  }
  // Pairs that are not the same points (a shifted row, swapped or wrong columns) leave
  // residuals of kilometres or a scale far from 1. The sum of squares bounds the horizontal RMS,
  // which is only worked out when that bound is exceeded.
  const std::size_t m = static_cast<std::size_t>(std::count(fitted[0].begin(), fitted[0].end(), true));
  double rms = 0.0;
  if (m > 0 && run.outcome.sumOfSquares > kImplausibleRms * kImplausibleRms * m) {
    double sum = 0.0;
    for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
      if (!fitted[0][i]) continue;
      const Point3 v = FitResidualOf(run, i);
      sum += v.x * v.x + v.y * v.y;
    }
    rms = std::sqrt(sum / static_cast<double>(m));
  }
  const ContractFigures fit = run.model->Figures(run.params);
  const double scale = fit.scale;
  // A transform the points do not determine, or destination points on one spot, have been warned
  // of, and their scale means nothing.
  const bool determined = (run.outcome.determined.empty() || run.outcome.determined[0]) &&
                          !DestinationCollapsed(run, fitted[0]);
  if (determined && (rms > kImplausibleRms || std::fabs(scale - 1.0) > kImplausibleScale)) {
    char figures[128];
    std::snprintf(figures, sizeof figures, "the horizontal RMS is %.3f m and the scale %.6f", rms,
                  scale);
    step.Warn(std::string(figures) +
              ": the pairs do not look like the same points in two coordinate sets: " +
              LikelyCause(step, run, rms));
  } else if (determined && run.plane.frame == PlaneSetup::Frame::Plane &&
             run.plane.destinationOnGrid &&
             (std::fabs(scale - 1.0) > kSuspectGridScale ||
              std::fabs(fit.rotate[2]) > kSuspectGridRotation)) {
    char figures[160];
    std::snprintf(figures, sizeof figures,
                  "the fit into the grid has a scale of 1 %+.1f ppm and a rotation of %.4f "
                  "degrees",
                  (scale - 1.0) * 1e6, fit.rotate[2] * 180 / 3.141592653589793);
    step.Warn(std::string(figures) +
              ", more than a datum change leaves: is the grid described right? A scale factor "
              "or projection height missing (scale=, height=) shows as scale; a wrong central "
              "meridian or zone (meridian=, false-easting=, or another CRS) as rotation");
  }
}

}  // namespace

bool FailsStrictly(const Registration& run) {
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      if (IsSuspect(run, c, i)) return true;
    }
    if (run.tolerances.Any() && IsOverTolerance(run, i)) return true;
  }
  return false;
}

namespace {

// Everything a run computes, from the settings to the transformed --apply points: every input is
// read and checked here, and refused with one line on `errors` (false); warnings are held in
// `step` for the report.
bool Compute(Step& step, Registration& run) {
  const RunSettings& settings = step.settings;
  for (const std::string& unknown : settings.unknown) {
    step.Warn("unknown option " + step.Quoted(unknown) + ", ignored");
  }
  run.choice = settings.model;
  run.model = MakeModel(run.choice);
  run.components = run.model->Components();
  // One (empty) set of statistics per component even when none are computed, so that a writer
  // may look at them whatever was asked for.
  run.statistics.resize(run.components.size());
  run.tolerances = settings.tolerances;

  ObservationList source, destination, further;
  if (!ReadLists(step, source, destination, further) || !PairPoints(step, source, destination, run) ||
      !ReadExclusions(step, run) || !ProjectPairs(step, run)) {
    return false;
  }
  Fit(step, run);
  if (run.outcome.usable) {
    if (!ApplyFurther(step, further, run)) return false;
    WarnAboutTheFit(step, run);
  }
  run.warnings = step.warnings;
  return true;
}

// The warnings, then the console report of a computed run: the report, and for a usable fit the
// quality block when asked for and the transformed points.
int Report(const Step& step, const Registration& run, std::ostream& report, std::ostream& errors) {
  for (const std::string& warning : run.warnings) errors << warning;
  const ConsoleEncoding encoding = step.settings.encoding;
  PrintReport(run, report, encoding);
  if (!run.outcome.usable) {
    errors << "quorvane: the solver gave no usable result (" << run.outcome.message << ")"
           << kNothingWritten;
    return kExitNoResult;
  }
  if (step.settings.outputs.qualityBlock) {
    PrintQualityBlock(run, step.settings.snoop, encoding, report);
  }
  if (!run.applied.empty()) PrintAppliedPoints(run, encoding, report);
  return kExitSuccess;
}

}  // namespace

int RegisterPoints(const RunSettings& settings, std::ostream& report, std::ostream& errors,
                   Registration& run) {
  Step step{settings, errors, {}};
  if (!Compute(step, run)) return kExitBadInput;
  return Report(step, run, report, errors);
}

int RegisterPoints(const OptionTexts& texts, std::ostream& report, std::ostream& errors,
                   Registration& run) {
  RunSettings settings;
  if (!ReadSettings(texts, settings, errors)) return kExitBadInput;
  return RegisterPoints(settings, report, errors, run);
}


namespace {

// An output that would overwrite an input, or another output: refused before anything is read.
// A plain run names no file but quorvane.json, and asks nothing of the file system here.
bool OutputsAreApart(const RunSettings& settings, const std::string& resultPath,
                     std::ostream& errors) {
  struct Named {
    std::string what;
    std::string path;
  };
  std::vector<Named> inputs;
  for (const ListInput* list : {&settings.source, &settings.destination, &settings.further}) {
    if (list->fileGiven && !list->path.empty()) inputs.push_back({list->fileOption, list->path});
  }
  std::vector<Named> named;
  const OutputChoice& out = settings.outputs;
  if (out.recordGiven && !out.recordPath.empty()) named.push_back({"--record", out.recordPath});
  if (out.plotGiven && !out.plotPath.empty()) named.push_back({"--plot", out.plotPath});
  if (inputs.empty() && named.empty()) return true;
  // The record and the picture must not replace the executable either; quorvane.json, beside it
  // under a name of its own, cannot be it.
  if (!named.empty()) {
    const std::string executable = ExecutablePath();
    if (!executable.empty()) inputs.push_back({"the executable", executable});
  }
  std::vector<Named> outputs = {{"the result file quorvane.json", resultPath}};
  outputs.insert(outputs.end(), named.begin(), named.end());
  std::vector<FileIdentity> identities;
  for (const Named& input : inputs) identities.push_back(IdentifyFile(input.path));
  std::vector<Named> others = inputs;
  const ConsoleEncoding encoding = settings.encoding;
  for (const Named& output : outputs) {
    const FileIdentity identity = IdentifyFile(output.path);
    for (std::size_t k = 0; k < others.size(); ++k) {
      if (!(identity == identities[k])) continue;
      errors << "quorvane: " << output.what << " "
             << QuotedField(output.path, kLongestQuotedPath, encoding) << " is the same file as "
             << others[k].what << " " << QuotedField(others[k].path, kLongestQuotedPath, encoding)
             << ", which writing it would destroy" << kNothingWritten;
      return false;
    }
    others.push_back(output);
    identities.push_back(identity);
  }
  return true;
}

// The texts of a fitted run's files, all made before the first file is written, so that a run
// that fails on the way (out of memory) replaces none.
struct FileTexts {
  std::string result;
  std::string record;
  std::string plot;
};

// Starts making the files' texts. A large run's record costs about as much as the report's
// console lines (most of it the shortest-digit conversion of its numbers), so a second core makes
// the texts while the report prints; the report only reads `run` as well.
std::future<FileTexts> StartFileTexts(const OutputChoice& outputs, const Registration& run) {
  const auto build = [&outputs, &run] {
    FileTexts texts;
    texts.result = BuildResultJson(*run.model, run.params);
    if (outputs.recordGiven) texts.record = BuildRecordJson(run);
    if (outputs.plotGiven) texts.plot = BuildPlotSvg(run);
    return texts;
  };
  // A plain run's one short text is not worth a thread.
  if (outputs.recordGiven || outputs.plotGiven) {
    try {
      return std::async(std::launch::async, build);
    } catch (const std::system_error&) {
      // No thread to be had (a process limit): made when they are needed instead.
    }
  }
  return std::async(std::launch::deferred, build);
}

// The files of a fitted run: quorvane.json, the record and the picture, each written whole or
// not at all. Returns the exit code of the files.
int WriteFiles(const RunSettings& settings, const FileTexts& texts,
               const std::string& resultPath, bool& resultWritten, bool& recordWritten,
               bool& warned) {
  const ConsoleEncoding encoding = settings.encoding;
  const OutputChoice& outputs = settings.outputs;
  const std::string& result = texts.result;
  const std::string& record = texts.record;
  const std::string& plot = texts.plot;

  std::string resultReason;
  resultWritten = WriteTextFile(resultPath, result, resultReason);
  // Each file named on the command line is tried, so that one that fails does not cost the
  // others.
  std::vector<std::string> failures;
  const auto write = [&](const std::string& path, const std::string& text, const char* what) {
    std::string reason;
    if (WriteTextFile(path, text, reason)) return true;
    failures.push_back(std::string("quorvane: the ") + what + " could not be written to " +
                       QuotedField(path, kLongestQuotedPath, encoding) + " (" + reason + ")");
    return false;
  };
  recordWritten = outputs.recordGiven && write(outputs.recordPath, record, "record");
  if (outputs.plotGiven) write(outputs.plotPath, plot, "plot");

  warned = !resultWritten && !recordWritten;
  if (warned) {
    std::cerr << "quorvane: warning: quorvane.json could not be written to "
              << QuotedField(resultPath, kLongestQuotedPath, encoding) << " (" << resultReason
              << "); the fit is in the report only. --record FILE keeps the result in a file of "
                 "your choosing.\n";
  }
  for (const std::string& failure : failures) {
    std::cerr << failure << "; the report was printed"
              << (resultWritten ? " and quorvane.json was written" : ", quorvane.json was not written")
              << (outputs.recordGiven && outputs.plotGiven
                      ? (recordWritten ? ", the record was written" : "")
                      : "")
              << ".\n";
  }
  return failures.empty() ? kExitSuccess : kExitFileNotWritten;
}

// --help or --version: the text, and whether standard output took it.
int PrintAbout(bool help) {
  const std::string text = help ? UsageText() : std::string(kVersionLine);
  const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
  if (written) return kExitSuccess;
  std::fputs("quorvane: standard output could not take the whole text.\n", stderr);
  return kExitReportCut;
}

int Run(int argc, const char* const* argv) {
#ifdef _WIN32
  // The zip ships proj.db beside quorvane.exe; PROJ's own places are folders of the build machine.
  SetProjDataFolder(ExecutableFolderUtf8());
#endif
  OptionTexts texts;
  const bool complete = ParseCommandLine(argc, argv, texts);
  if (texts.Has("--help") || texts.Has("--version")) return PrintAbout(texts.Has("--help"));
  const ConsoleEncoding encoding = texts.Has("--utf8") ? ConsoleEncoding::Utf8 : ConsoleEncoding::Gbk;
  if (!complete) {
    std::fputs(kBadArgumentsMessage.In(encoding), stdout);
    return kExitBadInput;
  }
  RunSettings settings;
  if (!ReadSettings(std::move(texts), settings, std::cerr)) return kExitBadInput;
  const std::string resultPath = ResultFilePath(argv[0]);
  if (!OutputsAreApart(settings, resultPath, std::cerr)) return kExitBadInput;

  Registration run;
  Step step{settings, std::cerr, {}};
  if (!Compute(step, run)) return kExitBadInput;
  std::future<FileTexts> fileTexts;
  if (run.outcome.usable) fileTexts = StartFileTexts(settings.outputs, run);
  const int exitCode = Report(step, run, std::cout, std::cerr);
  if (exitCode != kExitSuccess) return exitCode;

  bool resultWritten = false, recordWritten = false, warned = !run.warnings.empty();
  bool filesWarned = false;
  const int files =
      WriteFiles(settings, fileTexts.get(), resultPath, resultWritten, recordWritten, filesWarned);
  std::fflush(stdout);
  const bool reported = std::cout.good() && !std::ferror(stdout);
  if (files != kExitSuccess) return files;
  if (!reported) {
    std::cerr << "quorvane: standard output was closed before the whole report was written; "
              << (resultWritten ? "quorvane.json was written" : "quorvane.json was not written")
              << (settings.outputs.recordGiven ? " and so was the record" : "") << ".\n";
    return kExitReportCut;
  }
  // --strict fails a run that was warned of anything, as much as one whose pairs fail.
  if (settings.strict && (warned || filesWarned || FailsStrictly(run))) return kExitStrict;
  return kExitSuccess;
}

}  // namespace

int RunRegistration(int argc, const char* const* argv) {
  IgnoreWriteSignals();
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Written without allocating, since there is no memory to be had.
    std::fputs("quorvane: out of memory: the input needs more than this machine can give; no "
               "file was written.\n",
               stderr);
    return kExitOutOfMemory;
  }
}

}  // namespace Quorvane
