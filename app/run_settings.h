// The options of a run read into what each step needs: the plane, the model, the checks and the
// outputs. Every value is checked here, before any point is read.
#pragma once

#include <ostream>

#include "app/command_line.h"
#include "app/console_text.h"
#include "app/registration.h"
#include "estimation/model.h"
#include "geodesy/plane_setup.h"

namespace Quorvane {

/// What the plane options ask for: each list's system (--source-ellipsoid,
/// --destination-ellipsoid, --grid).
struct PlaneChoice {
  ListSystem source;
  ListSystem destination;
};

/// The options of a run, checked and read.
struct RunSettings {
  ConsoleEncoding encoding = ConsoleEncoding::Gbk;
  PlaneChoice plane;
  Model model;
  Tolerances tolerances;
  /// The statistics are computed: for --quality, --snoop, --record, --plot, --strict or a
  /// tolerance.
  bool statistics = false;
  /// The quality block is printed: --quality, --snoop or a tolerance.
  bool qualityBlock = false;
};

/// Reads the plane, model and check options of `texts` into `settings`. A value that cannot be
/// used (an unknown model or ellipsoid, a malformed --grid, a tolerance that is no length above
/// 0, an option that needs another) is said in one line on `errors`, naming the option and the
/// value, and false is returned.
bool ReadSettings(const OptionTexts& texts, RunSettings& settings, std::ostream& errors);

/// Reads a --grid value, key=value pairs separated by ",": ellipsoid= (as ParseEllipsoid reads
/// it) and meridian= (decimal degrees, −180..180) required; false-easting= (default 500000),
/// false-northing= (0) and height= (0) in metres. False with `problem` naming the key for a pair
/// that is not key=value, an unknown or repeated key, a value that is no finite number, or a
/// missing required key.
bool ParseGridSpec(const std::string& text, GridSpec& spec, std::string& problem,
                   ConsoleEncoding encoding);

}  // namespace Quorvane
