// The options of a run read into what each step needs: the plane, the model, the checks and the
// outputs. Every value is checked here, before any point is read.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/text/console_text.h"
#include "app/run/registration.h"
#include "estimation/distortion.h"
#include "estimation/model.h"
#include "geodesy/plane_setup.h"

namespace Quorvane {

/// Where a point list comes from: its text option, its file option (never both), or neither
/// (an empty list).
struct ListInput {
  const char* textOption;  // "--refsrc"
  const char* fileOption;  // "--refsrc-file"
  bool textGiven = false;  // even with an empty value
  std::string text{};
  bool fileGiven = false;
  std::string path{};
};

/// What the run writes besides the report.
struct OutputChoice {
  bool qualityBlock = false;  // --quality, --snoop, --robust or a tolerance
  bool recordGiven = false;   // --record, even with an empty path
  std::string recordPath;
  bool plotGiven = false;     // --plot, even with an empty path
  std::string plotPath;
  std::string distortionPath;  // --distortion-file, given with --distortion; never empty
  std::string exportCrsPath;   // --export-crs; empty for none
};

/// The options of a run, checked and read: what every step needs, so that nothing reads the
/// option texts once these are made.
struct RunSettings {
  ConsoleEncoding encoding = ConsoleEncoding::Gbk;  // --utf8
  ListInput source{"--refsrc", "--refsrc-file"};
  ListInput destination{"--refdes", "--refdes-file"};
  ListInput further{"--apply", "--apply-file"};
  bool packedDms = false;  // --packed-dms
  /// The frame as the options describe it: each list's system (--source-ellipsoid,
  /// --destination-ellipsoid, --grid, --source-crs, --destination-crs), the frame the model is
  /// fitted in, and the geoid (--geoid); the run completes it from the paired points.
  PlaneSetup frame;
  Model model;
  bool excludeGiven = false;  // --exclude, even with an empty value
  std::string exclude;
  bool snoop = false;   // --snoop
  bool robust = false;  // --robust
  /// --sigma-h and --sigma-v, metres: the a priori σ of a pair's misclosure where its points
  /// give none; 0 where the option is not given.
  Precision sigma;
  bool strict = false;  // --strict
  Tolerances tolerances;
  /// --distortion: what the plane model leaves is modelled by `distortionMethod` and written to
  /// outputs.distortionPath.
  bool distortion = false;
  DistortionMethod distortionMethod = DistortionMethod::Tin;
  /// The statistics are computed: for --quality, --snoop, --record, --plot, --strict or a
  /// tolerance.
  bool statistics = false;
  OutputChoice outputs;
  /// The files options read besides the lists, each after its option: a CRS's @FILE, the geoid
  /// grid PROJ reads; so that no output replaces one.
  std::vector<std::pair<std::string, std::string>> optionFiles;
  /// Arguments that looked like options but are none, for a warning each.
  std::vector<std::string> unknown;
};

/// Reads every option of `texts` into `settings`, taking the lists' texts out of `texts` rather
/// than copying them. A value that cannot be used (an unknown model or ellipsoid, a malformed
/// --grid, a tolerance that is no length above 0, an option that needs another) is said in one
/// line on `errors`, naming the option and the value, and false is returned.
bool ReadSettings(OptionTexts& texts, RunSettings& settings, std::ostream& errors);

/// Reads a --grid value, key=value pairs separated by ",": ellipsoid= (as ParseEllipsoid reads
/// it) and meridian= (decimal degrees, −180..180) required; false-easting= (default 500000),
/// false-northing= (0) and height= (0) in metres, scale= (the scale on the central meridian,
/// 0.9..1.1, default 1) and latitude-of-origin= (degrees, −80..80, default 0) optional. False
/// with `problem` naming the key for a pair that is not key=value, an unknown or repeated key, a
/// value that is no finite number, a missing required key, a height that leaves the
/// projection surface (ProjectionSurface of the grid's ellipsoid) a semi-major axis of 0 or
/// less, or one outside −1000..9000 m, the heights of the land.
bool ParseGridSpec(const std::string& text, GridSpec& spec, std::string& problem,
                   ConsoleEncoding encoding);

}  // namespace Quorvane
