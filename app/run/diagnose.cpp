// Judging the fit: warnings about what the user should not take at face value, and what
// --strict fails.
#include "app/run/run_steps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "estimation/site_fit.h"

namespace Quorvane {

namespace {

// Beyond these the pairs do not look like the same points in two coordinate sets.
constexpr double kImplausibleRms = 10.0;     // metres, horizontal
constexpr double kImplausibleScale = 0.01;   // |scale − 1|
// Beyond these a fit into a grid says more about how the grid is described than about the
// points: a datum change and a survey's own scale stay within some tens of ppm and a few
// seconds of arc.
constexpr double kSuspectGridScale = 100e-6;                             // |scale − 1|
constexpr double kSuspectGridRotation = 0.1 * 3.141592653589793 / 180;  // radians
// A datum change moves points by some hundreds of metres, a local one by a kilometre or two; a
// grid described with a wrong origin latitude or false origin moves them by the arc or the
// offset missing, hundreds or thousands of kilometres.
constexpr double kSuspectGridShift = 10e3;  // metres, at the centroid
// A grid's zone or central meridian taken wrong turns the points by the difference times the
// sine of the latitude in a plane, by the whole difference about the Earth's axis, and scales
// them by at most a few per cent.
constexpr double kZoneScale = 0.05;  // |scale − 1|
// A fitted scale this close to a foot in metres or a metre in feet (international and US survey)
// is one list in feet and the other in metres.
constexpr double kFeetScales[] = {0.3048, 3.2808, 0.3048006, 3.2808333};
constexpr double kFeetScaleTolerance = 1e-3;
// Heights of one system in one unit leave centimetres to decimetres about a height surface, and
// a geoid tilts by some tens of ppm.
constexpr double kImplausibleVerticalSigma = 0.5;  // metres
constexpr double kImplausibleSlope = 1000.0;       // ppm
// Below these the seven of a geocentric model are not determined: a rotation about the Earth's
// centre moves a small network almost as a shift does.
constexpr double kSmallNetwork = 10e3;    // metres across
constexpr double kLooseShiftSigma = 1.0;  // metres

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

// The fitted horizontal scale, no unit: the one place the feet-and-metres hint reads it.
double FittedScale(const Registration& run) { return run.model->Figures(run.params).scale; }

// What a scale of feet against metres says; "" for another scale.
std::string FeetAndMetresCause(const Registration& run) {
  const double scale = FittedScale(run);
  for (const double feet : kFeetScales) {
    if (std::fabs(scale - feet) >= kFeetScaleTolerance) continue;
    char text[80];
    std::snprintf(text, sizeof text, "a scale of %.7f is %s", scale,
                  feet < 1.0 ? "a foot in metres" : "a metre in feet");
    return std::string(text) +
           ": one list's coordinates are in feet and the other's in metres (a CRS in feet "
           "named for a table in metres, or the other way round); check each list's unit";
  }
  return std::string();
}

// The fitted rotation about the plane's vertical, or in geocentric space about the Earth's axis
// (radians), and the scale: the one place the wrong-zone hint reads them.
struct Turn {
  double angle;
  double scale;
};
Turn FittedTurn(const Registration& run) {
  const ContractFigures fit = run.model->Figures(run.params);
  return Turn{fit.rotate[2], fit.scale};
}

// What a turn of a grid's wrong zone says; "" for a fit that turns less or scales more, or
// where no list is a grid.
std::string WrongZoneCause(const Registration& run) {
  const PlaneSetup& plane = run.plane;
  const Turn turn = FittedTurn(run);
  if ((plane.source.kind != ListSystem::Kind::Grid &&
       plane.destination.kind != ListSystem::Kind::Grid) ||
      !(std::fabs(turn.angle) > kSuspectGridRotation) ||
      !(std::fabs(turn.scale - 1.0) < kZoneScale)) {
    return std::string();
  }
  char text[80];
  std::snprintf(text, sizeof text, "the fit turns the points by %.2f degrees%s",
                std::fabs(turn.angle) * 180 / 3.141592653589793,
                plane.frame == PlaneSetup::Frame::Geocentric ? " about the Earth's axis" : "");
  return std::string(text) +
         ", as a grid's zone or central meridian taken wrong does: check the grid's zone "
         "(meridian=, false-easting=, or the CRS's code)";
}

// Why pairs that are not the same points in two coordinate sets likely are not: angles in packed
// ddd.mmss read as decimal degrees; pairs that fit in another order (one list reversed, or a row
// missing or extra, which shifts every later pair); a list in feet, or a grid's wrong zone; or
// else the columns.
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
  for (const std::string& cause : {FeetAndMetresCause(run), WrongZoneCause(run)}) {
    if (!cause.empty()) return cause;
  }
  return "a scale or rotation this far from a similarity says the columns are not what they "
         "are taken for: check the column order";
}

// Whether the source went into a projection that ignores its ellipsoid and no datum shift took
// it to the projection's own: the fit then holds the ellipsoids' difference, which the frame's
// warning names, and the grid is not to blame.
bool EllipsoidLeftToTheFit(const PlaneSetup& plane) {
  return plane.projectionIgnoresSourceEllipsoid && plane.datumShift.name.empty();
}

// A fit into a grid that moves, scales or turns the points more than a datum change does says
// the grid is described wrong: its scale or rotation first, as they always were warned of.
void WarnAboutTheGrid(Step& step, const Registration& run) {
  const ContractFigures fit = run.model->Figures(run.params);
  const double scale = fit.scale;
  const double shift = std::hypot(fit.offset[0], fit.offset[1]);
  char figures[160];
  if (std::fabs(scale - 1.0) > kSuspectGridScale || std::fabs(fit.rotate[2]) > kSuspectGridRotation) {
    std::snprintf(figures, sizeof figures,
                  "the fit into the grid has a scale of 1 %+.1f ppm and a rotation of %.4f "
                  "degrees",
                  (scale - 1.0) * 1e6, fit.rotate[2] * 180 / 3.141592653589793);
    step.Warn(std::string(figures) +
              ", more than a datum change leaves: is the grid described right? A scale factor "
              "or projection height missing (scale=, height=) shows as scale; a wrong central "
              "meridian or zone (meridian=, false-easting=, or another CRS) as rotation");
  } else if (shift > kSuspectGridShift) {
    // The shift at the centroid, which a model fitted in a grid acts about.
    std::snprintf(figures, sizeof figures, "the fit into the grid shifts the points by %.1f km",
                  shift / 1000);
    step.Warn(std::string(figures) +
              ", more than a datum change leaves: is the grid described right? An origin "
              "latitude or a false northing missing or wrong (latitude-of-origin=, "
              "false-northing=, or another CRS) shows as a shift north; a false easting "
              "(false-easting=) as a shift east");
  }
}

// What the height surface of vertical component c says: its σ̂0 (metres; its statistics' where
// the run computed them, else the same √(Σ v² / r) over the residuals of the pairs it fitted; NaN
// where r < 1) and its largest slope (ppm: of its parameters stated in ppm). The one place the
// height warning reads them.
struct HeightFit {
  double sigma0;
  double slope;
};
HeightFit HeightFitOf(const Registration& run, std::size_t c, const std::vector<bool>& fitted) {
  HeightFit fit{NAN, 0.0};
  const std::vector<ParameterInfo>& parameters = run.model->Parameters();
  for (const std::size_t k : run.components[c].parameters) {
    if (std::string(parameters[k].unit) != "ppm") continue;
    if (k >= run.params.values.size()) continue;
    fit.slope = std::max(fit.slope, std::fabs(run.params.values[k] * parameters[k].factor));
  }
  if (run.hasStatistics) {
    if (run.statistics[c].sigma0Determined) fit.sigma0 = run.statistics[c].sigma0;
    return fit;
  }
  double sum = 0.0;
  std::size_t m = 0;
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    if (!fitted[i]) continue;
    const double v = FitResidualOf(run, i).z;
    sum += v * v;
    ++m;
  }
  const int held = c < run.outcome.fixed.size() ? run.outcome.fixed[c] : 0;
  const double r = static_cast<double>(m) -
                   static_cast<double>(run.components[c].parameters.size()) +
                   static_cast<double>(held);
  if (r >= 1.0) fit.sigma0 = std::sqrt(sum / r);
  return fit;
}

// Heights that a height surface fits to metres, or tilts by more than a geoid does, are heights of
// another unit or another height system.
void WarnAboutTheHeights(Step& step, const Registration& run,
                         const std::vector<std::vector<bool>>& fitted) {
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    if (run.components[c].layout != ComponentLayout::Vertical) continue;
    if (c < run.outcome.determined.size() && !run.outcome.determined[c]) continue;
    const HeightFit fit = HeightFitOf(run, c, fitted[c]);
    if (!(fit.sigma0 > kImplausibleVerticalSigma) && !(fit.slope > kImplausibleSlope)) continue;
    char figures[160];
    std::snprintf(figures, sizeof figures,
                  "the heights fit with a sigma0 of %.3f m and a slope of %.1f ppm", fit.sigma0,
                  fit.slope);
    step.Warn(std::string(figures) +
              ", more than heights of one system leave (0.5 m, 1000 ppm): one list's heights "
              "are likely in another unit (metres against feet: each CRS's height unit) or of "
              "another height system (ellipsoidal against normal heights: --geoid)");
  }
}

// The largest σ of the shifts tx, ty, tz, metres; NaN without statistics. The one place the
// small-network warning reads them.
double ShiftSigma(const Registration& run) {
  if (!run.hasStatistics) return NAN;
  const std::vector<ParameterInfo>& parameters = run.model->Parameters();
  double largest = NAN;
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    if (!run.statistics[c].precisionDetermined) continue;
    const std::vector<std::size_t>& own = run.components[c].parameters;
    for (std::size_t k = 0; k < own.size(); ++k) {
      const std::string& name = parameters[own[k]].name;
      if (name != "tx" && name != "ty" && name != "tz") continue;
      if (!(largest >= run.statistics[c].sigma[k])) largest = run.statistics[c].sigma[k];
    }
  }
  return largest;
}

// The seven of a geocentric model fitted to a small network fit its points and not what lies
// beyond them: a rotation about the Earth's centre moves a few kilometres almost as a shift does.
void WarnAboutASmallNetwork(Step& step, const Registration& run) {
  if (run.plane.frame != PlaneSetup::Frame::Geocentric) return;
  if (!run.outcome.determined.empty() && !run.outcome.determined[0]) return;
  const double extent = FittedNetworkBox(run).Extent();
  const double sigma = ShiftSigma(run);
  if (!(extent < kSmallNetwork) && !(sigma > kLooseShiftSigma)) return;
  char figures[160];
  std::snprintf(figures, sizeof figures, "a network %.1f km across", extent / 1000);
  std::string text = std::string("the seven parameters are not determined by ") + figures;
  if (std::isfinite(sigma)) {
    std::snprintf(figures, sizeof figures, " (sigma of the shifts up to %.3f m)", sigma);
    text += figures;
  }
  step.Warn(text +
            ": over so small a network a rotation about the Earth's centre moves the points "
            "almost as a shift does, and the seven fit the control points but not what lies "
            "beyond them; fit --model site for a site, or molodensky-badekas, whose shifts act "
            "about the centroid");
}

// A model without rates fitted to pairs observed years apart: in a global frame such as ITRF the
// points move with their plate (centimetres a year) while a national frame holds them, so the
// static fit averages the drift into its residuals and its parameters.
void WarnAboutTheEpochs(Step& step, const Registration& run,
                        const std::vector<std::vector<bool>>& fitted) {
  constexpr double kLongestStaticSpan = 1.0;  // years
  if (run.epochs.empty() || run.model->ChangesWithTime()) return;
  double first = INFINITY, last = -INFINITY;
  for (std::size_t i = 0; i < run.epochs.size(); ++i) {
    const bool any = std::any_of(fitted.begin(), fitted.end(),
                                 [i](const std::vector<bool>& f) { return f[i]; });
    if (!any || !std::isfinite(run.epochs[i])) continue;
    first = std::min(first, run.epochs[i]);
    last = std::max(last, run.epochs[i]);
  }
  if (!(last - first > kLongestStaticSpan)) return;
  char figures[64];
  std::snprintf(figures, sizeof figures, "the pairs span %.1f years", last - first);
  step.Warn(std::string(figures) + ": the transformation may change with time (--rates)");
}

}  // namespace

double NetworkBox::Extent() const {
  if (!(east >= west) || !(north >= south)) return NAN;
  return std::hypot(east - west, north - south);
}

double NetworkBox::DistanceTo(const Point3& map) const {
  const double x = std::max({0.0, west - map.x, map.x - east});
  const double y = std::max({0.0, south - map.y, map.y - north});
  return std::hypot(x, y);
}

NetworkBox FittedNetworkBox(const Registration& run) {
  const std::vector<std::vector<bool>> fitted = FittedMasks(run);
  NetworkBox box;
  const bool plane = run.plane.frame == PlaneSetup::Frame::Plane;
  for (std::size_t i = 0; !fitted.empty() && i < run.planeSource.size(); ++i) {
    if (!fitted[0][i]) continue;
    // In a plane the destination points are drawn where they are.
    const Point3 map = plane ? run.planeDestination[i] : run.plane.MapPoint(run.destination[i]);
    if (!std::isfinite(map.x) || !std::isfinite(map.y)) continue;
    box.west = std::min(box.west, map.x);
    box.east = std::max(box.east, map.x);
    box.south = std::min(box.south, map.y);
    box.north = std::max(box.north, map.y);
  }
  return box;
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
  const double scale = run.model->Figures(run.params).scale;
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
             run.plane.destinationOnGrid && !EllipsoidLeftToTheFit(run.plane)) {
    WarnAboutTheGrid(step, run);
  }
  WarnAboutTheHeights(step, run, fitted);
  WarnAboutASmallNetwork(step, run);
  WarnAboutTheEpochs(step, run, fitted);
}

bool FailsStrictly(const Registration& run) {
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      if (IsSuspect(run, c, i)) return true;
    }
    if (run.tolerances.Any() && IsOverTolerance(run, i)) return true;
  }
  return false;
}

}  // namespace Quorvane
