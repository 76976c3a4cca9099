// One registration, from the command line to the result file.
#pragma once

#include <future>
#include <ostream>
#include <string>
#include <vector>

#include <ceres/solver.h>

#include "app/command_line.h"
#include "app/quality_report.h"
#include "common/point_list.h"
#include "estimation/blunder_removal.h"
#include "estimation/fit_statistics.h"
#include "estimation/fit_transform.h"

namespace Quorvane {

/// Exit codes of a run. kExitBadInput is returned from main, so the shell sees 255.
constexpr int kExitSuccess = 0;    // fitted; report printed, quorvane.json written
constexpr int kExitBadInput = -1;  // incomplete command line, or points that cannot be paired or
                                   // projected: nothing on standard output but the message for
                                   // an incomplete command line, no result file
constexpr int kExitNoResult = 1;   // the solver gave no usable result: report printed, no file
constexpr int kExitFileNotWritten = 2;  // fitted, reported, quorvane.json written as ever, but a
                                        // file named on the command line (--record, --plot)
                                        // could not be written

/// One --apply point carried from the source system into the destination system.
struct AppliedPoint {
  Point3 source;       // geographic, as given: longitude, latitude (degrees), height (m)
  Point3 plane;        // projected and carried through the fitted transform: E, N, H, metres
  Point3 destination;  // `plane` taken back by the inverse projection: lon, lat, h
};

/// What a run computed, kept for the outputs that follow the report.
struct Registration {
  PointList source;       // geographic, as parsed: longitude, latitude (degrees), height (m)
  PointList destination;  // likewise, the unpaired points included
  Point3 centre;          // projection centre: mean longitude and latitude of `destination`
  PointList planeSource;  // easting, northing, height, metres
  PointList planeDestination;
  std::vector<PairStatus> status;        // one per pair (per source point)
  TransformParams params;                // the reported fit
  ceres::Solver::Summary summary;        // of the reported fit
  bool hasStatistics = false;            // with --quality, --snoop, --record or --plot, for a
                                         // usable fit
  FitStatistics statistics;              // of the reported fit
  std::vector<BlunderRemoval> removals;  // by --snoop, in order
  std::vector<AppliedPoint> applied;     // the --apply points, in input order
  /// With --record, for a usable fit: the record's text (BuildRecordJson), built on a thread of
  /// its own while the report is printed. Nothing in the run changes once it has started.
  std::future<std::string> record;
};

/// Everything of a run between the command line and the result file: reads the point lists from
/// their texts or their files (refusing a list given both ways, and a file that cannot be read or
/// holds a line that is not a point), checks
/// that every source point has a destination point and that --exclude names pairs, projects both
/// lists, refuses pairs without finite plane coordinates, fits the pairs not excluded (and with
/// --snoop removes blunders), carries the --apply points into the destination system and refuses
/// any that come out not finite, and writes the console report to `report`, followed, for a
/// usable fit, by the quality block when asked for and the transformed points, with the Chinese
/// labels in UTF-8 for --utf8 and in GBK otherwise. The statistics are computed for --quality,
/// --snoop, --record and --plot. Reasons for refusing the input or the fit go to `errors` as one
/// line each, and so do warnings of a fit that the points do not determine or that did not
/// converge; nothing reaches `report` for refused input. Returns kExitSuccess, kExitBadInput or
/// kExitNoResult; `run` holds what was computed up to there.
int RegisterPoints(const OptionTexts& texts, std::ostream& report, std::ostream& errors,
                   Registration& run);

/// The same, keeping only the fit: `params` holds it when kExitSuccess is returned.
int RegisterPoints(const OptionTexts& texts, std::ostream& report, std::ostream& errors,
                   TransformParams& params);

/// Runs the tool once with the process arguments and returns the process exit code. --help or
/// --version anywhere as an option prints the usage text or the version line and does nothing
/// else (--help first); otherwise: command line → source and destination point lists → both projected on WGS 84 about the mean
/// longitude and latitude of all destination points, with no false origin → fit → console
/// report → quorvane.json beside the executable → the record at the --record path and the
/// picture at the --plot path, if asked for; each of the two that cannot be written is said in
/// one line on standard error and makes the exit code kExitFileNotWritten. Faults in the input
/// are reported on standard error before anything is written to standard output.
int RunRegistration(int argc, const char* const* argv);

}  // namespace Quorvane
