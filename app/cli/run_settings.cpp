#include "app/cli/run_settings.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

#include "app/input/angle_text.h"
#include "app/text/text_encoding.h"
#include "geodesy/named_crs.h"

namespace Quorvane {

namespace {

constexpr char kNothingWritten[] = ". No result was written.\n";

bool ReadLength(const std::string& text, double& metres) {
  std::string problem;
  return ReadDecimal(text, metres, problem) && metres > 0.0;
}

// The longest CRS definition read from a file: a WKT of a compound CRS has some kilobytes.
constexpr std::size_t kLongestCrsFile = 1 << 20;

// A --source-crs or --destination-crs value: its text, or "@FILE"'s file. False with `problem`
// when the file cannot be read.
bool CrsText(const std::string& value, std::string& text, std::string& problem) {
  if (value.empty() || value[0] != '@') {
    text = value;
    return true;
  }
  std::ifstream file(value.substr(1), std::ios::binary);
  if (!file) {
    problem = "cannot be read";
    return false;
  }
  text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (text.size() > kLongestCrsFile) {
    problem = "is longer than a CRS definition can be";
    return false;
  }
  // A UTF-8 byte-order mark, as some programs write .prj files.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return true;
}

// --model and the settings of a model, each refused for a model whose table line does not take
// it, and an unknown value refused with the values there are.
bool ReadModel(const OptionTexts& texts, Model& model, std::ostream& errors,
               ConsoleEncoding encoding) {
  const auto quoted = [&](const std::string& value) { return QuotedField(value, 40, encoding); };
  if (texts.Has("--model")) {
    if (FindModel(texts.Value("--model")) == nullptr) {
      errors << "quorvane: --model " << quoted(texts.Value("--model")) << " is not a model: give "
             << ModelNames() << kNothingWritten;
      return false;
    }
    model.name = texts.Value("--model");
  }
  const ModelEntry& entry = *FindModel(model.name);
  if (texts.Has("--fix-scale") && !entry.Takes(kTakesFixScale)) {
    errors << "quorvane: --fix-scale needs --model "
           << ModelNames([](const ModelEntry& m) { return m.Takes(kTakesFixScale); }) << " (the "
           << model.name << " model always fits its scale)" << kNothingWritten;
    return false;
  }
  model.fixScale = texts.Has("--fix-scale");
  if (texts.Has("--vertical")) {
    const std::string& vertical = texts.Value("--vertical");
    if (!entry.Takes(kTakesVertical)) {
      errors << "quorvane: --vertical needs --model "
             << ModelNames([](const ModelEntry& m) { return m.Takes(kTakesVertical); }) << " (the "
             << model.name << " model scales heights with the rest)" << kNothingWritten;
      return false;
    }
    if (vertical == "constant") {
      model.vertical = Model::Vertical::Constant;
    } else if (vertical == "quadric") {
      model.vertical = Model::Vertical::Quadric;
    } else if (vertical == "auto") {
      model.vertical = Model::Vertical::Auto;
    } else if (vertical != "plane") {
      errors << "quorvane: --vertical " << quoted(vertical)
             << " is neither plane, constant, quadric nor auto" << kNothingWritten;
      return false;
    }
  }
  if (texts.Has("--convention")) {
    const std::string& convention = texts.Value("--convention");
    if (!entry.Takes(kTakesConvention)) {
      errors << "quorvane: --convention needs --model "
             << ModelNames([](const ModelEntry& m) { return m.Takes(kTakesConvention); })
             << " (the " << model.name
             << (entry.frame == Frame::Plane ? " model has no rotations about X and Y)"
                                             : " model has no rotation angles to sign)")
             << kNothingWritten;
      return false;
    }
    if (convention == "coordinate-frame") {
      model.convention = Model::Convention::CoordinateFrame;
    } else if (convention != "position-vector") {
      errors << "quorvane: --convention " << quoted(convention)
             << " is neither position-vector nor coordinate-frame" << kNothingWritten;
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseGridSpec(const std::string& text, GridSpec& spec, std::string& problem,
                   ConsoleEncoding encoding) {
  spec = GridSpec{};
  std::set<std::string> seen;
  std::string heightText;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, (comma == std::string::npos ? text.size() : comma) - start);
    const std::size_t equals = item.find('=');
    if (equals == std::string::npos) {
      problem = QuotedField(item, 40, encoding) + " is not key=value";
      return false;
    }
    const std::string key = item.substr(0, equals);
    const std::string value = item.substr(equals + 1);
    const std::string named = "key " + QuotedField(key, 40, encoding);
    if (!seen.insert(key).second) {
      problem = named + " is given twice";
      return false;
    }
    double number = 0.0;
    std::string why;
    if (key == "ellipsoid") {
      if (!ParseEllipsoid(value, spec.ellipsoid, why)) {
        problem = named + ": " + QuotedField(value, 40, encoding) + " " + why;
        return false;
      }
    } else if (key == "meridian" || key == "false-easting" || key == "false-northing" ||
               key == "height" || key == "scale" || key == "latitude-of-origin") {
      if (!ReadDecimal(value, number, why)) {
        problem = named + ": " + QuotedField(value, 40, encoding) + " is not a finite number";
        return false;
      }
      if (key == "meridian") {
        if (std::fabs(number) > 180.0) {
          problem = named + ": " + QuotedField(value, 40, encoding) +
                    " is not a longitude from -180 to 180 degrees";
          return false;
        }
        spec.meridian = number;
      } else if (key == "false-easting") {
        spec.falseEasting = number;
      } else if (key == "false-northing") {
        spec.falseNorthing = number;
      } else if (key == "scale") {
        // A transverse Mercator's scale on its central meridian is close to 1 (UTM's 0.9996).
        if (!(number >= 0.9 && number <= 1.1)) {
          problem = named + ": " + QuotedField(value, 40, encoding) +
                    " is not a scale factor from 0.9 to 1.1";
          return false;
        }
        spec.scale = number;
      } else if (key == "latitude-of-origin") {
        if (std::fabs(number) > 80.0) {
          problem = named + ": " + QuotedField(value, 40, encoding) +
                    " is not a latitude from -80 to 80 degrees";
          return false;
        }
        spec.originLatitude = number;
      } else {
        spec.height = number;
        heightText = value;
      }
    } else {
      problem = named + " is unknown (ellipsoid, meridian, false-easting, false-northing, height, "
                        "scale, latitude-of-origin)";
      return false;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  for (const char* needed : {"ellipsoid", "meridian"}) {
    if (seen.count(needed) == 0) {
      problem = std::string("key \"") + needed + "\" is missing; the grid needs its ellipsoid and "
                "its central meridian";
      return false;
    }
  }
  // A surface lowered to the centre or past it has no radius, and the projection's scale would
  // be 0 or negative.
  const double surfaceAxis = ProjectionSurface(spec.ellipsoid.ellipsoid, spec.height).a;
  if (!(surfaceAxis > 0.0)) {
    char axis[32];
    std::snprintf(axis, sizeof axis, "%.1f", surfaceAxis);
    problem = "key \"height\": " + QuotedField(heightText, 40, encoding) +
              " puts the projection surface through or past the ellipsoid's centre (its "
              "semi-major axis would be " + axis + " m)";
    return false;
  }
  return true;
}

bool ReadSettings(OptionTexts texts, RunSettings& result, std::ostream& errors) {
  // Made apart and moved in whole, so that a refusal leaves `result` as it was.
  RunSettings settings;
  const ConsoleEncoding encoding = texts.Has("--utf8") ? ConsoleEncoding::Utf8 : ConsoleEncoding::Gbk;
  settings.encoding = encoding;
  const auto quoted = [&](const std::string& value) { return QuotedField(value, 40, encoding); };
  settings.unknown = texts.unknown;

  // The lists.
  for (ListInput* list : {&settings.source, &settings.destination, &settings.further}) {
    list->textGiven = texts.Has(list->textOption);
    list->fileGiven = texts.Has(list->fileOption);
    list->path = texts.Value(list->fileOption);
  }
  // The lists' texts are moved, not copied: each may be 128 KiB. Programs that call the run with
  // the two texts alone (no scan) give them only in their members.
  settings.source.text = std::move(texts.sourceText);
  settings.destination.text = std::move(texts.destinationText);
  if (const auto further = texts.given.find("--apply"); further != texts.given.end()) {
    settings.further.text = std::move(further->second);
  }
  settings.packedDms = texts.Has("--packed-dms");

  // The model.
  if (!ReadModel(texts, settings.model, errors, encoding)) return false;
  const bool geocentric = FindModel(settings.model.name)->frame == Frame::Geocentric;

  // The checks.
  const struct {
    const char* option;
    double& value;
  } limits[] = {
      {"--tolerance-h", settings.tolerances.horizontal},
      {"--tolerance-v", settings.tolerances.vertical},
  };
  for (const auto& limit : limits) {
    if (texts.Has(limit.option) && !ReadLength(texts.Value(limit.option), limit.value)) {
      errors << "quorvane: " << limit.option << " " << quoted(texts.Value(limit.option))
             << " is not a length in metres above 0" << kNothingWritten;
      return false;
    }
  }

  settings.excludeGiven = texts.Has("--exclude");
  settings.exclude = texts.Value("--exclude");
  settings.snoop = texts.Has("--snoop");
  settings.strict = texts.Has("--strict");

  // The plane.
  std::string problem;
  const std::string& sourceEllipsoid = texts.Value("--source-ellipsoid");
  const std::string& destinationEllipsoid = texts.Value("--destination-ellipsoid");
  const std::string& grid = texts.Value("--grid");
  if (texts.Has("--source-ellipsoid") &&
      !ParseEllipsoid(sourceEllipsoid, settings.plane.source.ellipsoid, problem)) {
    errors << "quorvane: --source-ellipsoid " << quoted(sourceEllipsoid) << " " << problem
           << kNothingWritten;
    return false;
  }
  if (texts.Has("--grid") && texts.Has("--destination-ellipsoid")) {
    errors << "quorvane: --grid names the destination's ellipsoid itself; give --grid or "
              "--destination-ellipsoid, not both"
           << kNothingWritten;
    return false;
  }
  if (texts.Has("--destination-ellipsoid") &&
      !ParseEllipsoid(destinationEllipsoid, settings.plane.destination.ellipsoid, problem)) {
    errors << "quorvane: --destination-ellipsoid " << quoted(destinationEllipsoid) << " "
           << problem << kNothingWritten;
    return false;
  }
  if (texts.Has("--grid")) {
    ListSystem& table = settings.plane.destination;
    if (!ParseGridSpec(grid, table.grid, problem, encoding)) {
      errors << "quorvane: --grid " << quoted(grid) << ": " << problem << kNothingWritten;
      return false;
    }
    table.kind = ListSystem::Kind::Grid;
    table.ellipsoid = table.grid.ellipsoid;
  }
  // Coordinate systems named through PROJ, each instead of the options that describe its list.
  const struct {
    const char* option;
    const char* conflicts[2];
    ListSystem& list;
  } named[] = {
      {"--source-crs", {"--source-ellipsoid", nullptr}, settings.plane.source},
      {"--destination-crs", {"--destination-ellipsoid", "--grid"}, settings.plane.destination},
  };
  for (const auto& crs : named) {
    if (!texts.Has(crs.option)) continue;
    for (const char* conflict : crs.conflicts) {
      if (conflict != nullptr && texts.Has(conflict)) {
        errors << "quorvane: " << crs.option << " names the list's ellipsoid and projection "
               << "itself; give " << crs.option << " or " << conflict << ", not both"
               << kNothingWritten;
        return false;
      }
    }
    const std::string& value = texts.Value(crs.option);
    std::string definition;
    if (!CrsText(value, definition, problem) || !ReadNamedCrs(definition, crs.list, problem)) {
      errors << "quorvane: " << crs.option << " " << quoted(value) << " " << problem
             << kNothingWritten;
      return false;
    }
  }
  // A plane model cannot take geocentric coordinates.
  if (!geocentric) {
    for (const auto& crs : named) {
      if (crs.list.kind == ListSystem::Kind::Geocentric) {
        errors << "quorvane: " << crs.option << " " << quoted(texts.Value(crs.option))
               << " is geocentric, and the " << settings.model.name
               << " model is fitted in a plane; give --model "
               << ModelNames([](const ModelEntry& m) { return m.frame == Frame::Geocentric; })
               << kNothingWritten;
        return false;
      }
    }
  }
  if (texts.Has("--geoid")) {
    const std::string& geoid = texts.Value("--geoid");
    if (geocentric) {
      errors << "quorvane: --geoid reduces heights for a plane model, and the "
             << settings.model.name
             << " model needs the ellipsoidal heights of geocentric coordinates" << kNothingWritten;
      return false;
    }
    if (geoid.empty()) {
      errors << "quorvane: --geoid needs a grid: a name such as egm96_15.gtx, or a path"
             << kNothingWritten;
      return false;
    }
    settings.plane.geoid = geoid;
  }
  if (settings.plane.destination.kind == ListSystem::Kind::Grid) {
    // A similarity about a grid's origin, thousands of kilometres from the points, would fit a
    // shift that is mostly the rotation times that distance.
    settings.model.aboutCentroid = true;
  }

  // The outputs.
  OutputChoice& outputs = settings.outputs;
  outputs.recordGiven = texts.Has("--record");
  outputs.recordPath = texts.Value("--record");
  outputs.plotGiven = texts.Has("--plot");
  outputs.plotPath = texts.Value("--plot");
  outputs.qualityBlock = texts.Has("--quality") || settings.snoop || settings.tolerances.Any();
  settings.statistics =
      outputs.qualityBlock || outputs.recordGiven || outputs.plotGiven || settings.strict;
  result = std::move(settings);
  return true;
}

}  // namespace Quorvane
