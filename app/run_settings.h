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

/// What the plane options ask for.
struct PlaneChoice {
  NamedEllipsoid source = Wgs84();       // --source-ellipsoid
  NamedEllipsoid destination = Wgs84();  // --destination-ellipsoid
  bool grid = false;                     // --grid: the destination is a grid table
  GridSpec gridSpec;
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
/// that is not key=value, an unknown or repeated key, a value that is no finite number, a
/// missing required key, or a height that leaves the projection surface (ProjectionSurface of
/// the grid's ellipsoid) a semi-major axis of 0 or less.
bool ParseGridSpec(const std::string& text, GridSpec& spec, std::string& problem,
                   ConsoleEncoding encoding);

}  // namespace Quorvane
