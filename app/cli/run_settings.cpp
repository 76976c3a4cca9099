#include "app/cli/run_settings.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

#include "app/cli/options.h"
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

// The heights a grid's projection surface may have above its ellipsoid, metres.
constexpr double kLowestSurface = -1000.0;
constexpr double kHighestSurface = 9000.0;

// The longest CRS definition read from a file: a WKT of a compound CRS has some kilobytes.
constexpr std::size_t kLongestCrsFile = 1 << 20;

// `text` as UTF-8: as it is, or from GBK (a .prj file Chinese GIS software wrote), or with each
// byte of neither as U+FFFD; PROJ keeps a CRS's name as it gets it, and the record is UTF-8.
std::string Utf8Definition(const std::string& text) {
  std::string utf8;
  if (ToUtf8(text, utf8)) return utf8;
  utf8.clear();
  for (std::size_t at = 0; at < text.size();) {
    std::uint32_t code = 0;
    const std::size_t length = DecodeUtf8(text, at, code);
    utf8 += length > 0 ? text.substr(at, length) : std::string("\xEF\xBF\xBD");
    at += length > 0 ? length : 1;
  }
  return utf8;
}

// A --source-crs or --destination-crs value: its text, or "@FILE"'s file, read no further than
// the longest definition (a device or a pipe may have no end). False with `problem` when the
// file cannot be read.
bool CrsText(const std::string& value, std::string& text, std::string& problem) {
  if (value.empty() || value[0] != '@') {
    text = Utf8Definition(value);
    return true;
  }
  const std::string path = value.substr(1);
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    problem = "is a folder, not a file";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    const int why = errno;
    problem = std::string("cannot be read (") + std::strerror(why) +
              "): give the path of the CRS file after @, or the CRS by its EPSG code";
    return false;
  }
  try {
    text.assign(kLongestCrsFile + 1, '\0');
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
  } catch (const std::ios_base::failure&) {
    // libstdc++ reports a failed read(2) so.
    problem = "cannot be read";
    return false;
  }
  if (text.size() > kLongestCrsFile) {
    problem = "is longer than a CRS definition can be";
    return false;
  }
  // A UTF-8 byte-order mark, as some programs write .prj files.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (text.find_first_not_of(" \t\r\n\v\f") == std::string::npos) {
    problem =
        "is an empty file: a .prj file holds one WKT text of a CRS; write it again from "
        "the GIS software, or give the CRS by its EPSG code";
    return false;
  }
  text = Utf8Definition(text);
  return true;
}

// Why a pipeline's text cannot carry a file's name as one step's file, or "": a control
// character (a line end would start a step of its own; a tab is quoted like a blank), a double
// quote or a leading @ (PROJ's optional file, @null for none).
std::string PipelineFileProblem(const std::string& name, const std::string& what) {
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) return "holds a control character";
  }
  if (name.find('"') != std::string::npos) return "holds a double quote";
  if (name[0] == '@') {
    return "starts with @, which PROJ reads as an optional " + what +
           " (@null for none): give the " + what + " itself, or ./" + name + " for a file so named";
  }
  return std::string();
}

// Why PROJ's text cannot carry a --geoid value as one grid's name, or "": what no pipeline's
// file may hold, or a comma (PROJ's list of grids).
std::string GeoidNameProblem(const std::string& name) {
  const std::string problem = PipelineFileProblem(name, "grid");
  if (!problem.empty()) return problem;
  if (name.find(',') != std::string::npos) {
    return "holds a comma, which PROJ reads as between two grids: give one grid, by a path "
           "without a comma";
  }
  return std::string();
}

}  // namespace

namespace {

// A number key of --grid into `spec`, its range checked; false with `problem` after `named`.
bool ReadGridNumber(const std::string& key, const std::string& value, const std::string& named,
                    GridSpec& spec, std::string& problem, ConsoleEncoding encoding) {
  double number = 0.0;
  std::string why;
  const std::string quoted = named + ": " + QuotedField(value, 40, encoding);
  if (!ReadDecimal(value, number, why)) {
    problem = quoted + " is not a finite number";
    return false;
  }
  if (key == "meridian") {
    if (std::fabs(number) > 180.0) {
      problem = quoted + " is not a longitude from -180 to 180 degrees";
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
      problem = quoted + " is not a scale factor from 0.9 to 1.1";
      return false;
    }
    spec.scale = number;
  } else if (key == "latitude-of-origin") {
    if (std::fabs(number) > 80.0) {
      problem = quoted + " is not a latitude from -80 to 80 degrees";
      return false;
    }
    spec.originLatitude = number;
  } else {
    spec.height = number;
  }
  return true;
}

// Whether the grid's projection surface, `heightText` above its ellipsoid, is one.
bool SurfaceUsable(const GridSpec& spec, const std::string& heightText, std::string& problem,
                   ConsoleEncoding encoding) {
  // A surface lowered to the centre or past it has no radius, and the projection's scale would
  // be 0 or negative.
  const double surfaceAxis = ProjectionSurface(spec.ellipsoid.ellipsoid, spec.height).a;
  if (!(surfaceAxis > 0.0)) {
    char axis[32];
    std::snprintf(axis, sizeof axis, "%.1f", surfaceAxis);
    problem = "key \"height\": " + QuotedField(heightText, 40, encoding) +
              " puts the projection surface through or past the ellipsoid's centre (its "
              "semi-major axis would be " +
              axis + " m)";
    return false;
  }
  // A projection surface lies at the height of the survey's ground: above the ellipsoid the land
  // reaches from the Dead Sea's shore (about −450 m) to Everest's summit (about 8,850 m).
  if (!(spec.height >= kLowestSurface && spec.height <= kHighestSurface)) {
    problem = "key \"height\": " + QuotedField(heightText, 40, encoding) +
              " is not a height from -1000 to 9000 metres, where a grid's projection surface "
              "lies";
    return false;
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
    std::string why;
    if (key == "ellipsoid") {
      if (!ParseEllipsoid(value, spec.ellipsoid, why)) {
        problem = named + ": " + QuotedField(value, 40, encoding) + " " + why;
        return false;
      }
    } else if (key == "meridian" || key == "false-easting" || key == "false-northing" ||
               key == "height" || key == "scale" || key == "latitude-of-origin") {
      if (!ReadGridNumber(key, value, named, spec, problem, encoding)) return false;
      if (key == "height") heightText = value;
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
  return SurfaceUsable(spec, heightText, problem, encoding);
}

namespace {

// What each section of the reading shares: the texts, where refusals go, and the console's
// encoding for the values they quote.
struct Reading {
  OptionTexts& texts;
  std::ostream& errors;
  ConsoleEncoding encoding;

  std::string Quoted(const std::string& value) const { return QuotedField(value, 40, encoding); }
};

// The lists: where each comes from, their texts moved, not copied (each may be 128 KiB; programs
// that call the run with the two texts alone, without a scan, give them only in their members).
void ReadListInputs(Reading& r, RunSettings& settings) {
  const struct {
    ListInput& list;
    Option text;
    Option file;
  } lists[] = {{settings.source, Option::RefSrc, Option::RefSrcFile},
               {settings.destination, Option::RefDes, Option::RefDesFile},
               {settings.further, Option::Apply, Option::ApplyFile}};
  for (const auto& list : lists) {
    list.list.textGiven = r.texts.Has(list.text);
    list.list.fileGiven = r.texts.Has(list.file);
    list.list.path = r.texts.Value(list.file);
  }
  settings.source.text = std::move(r.texts.sourceText);
  settings.destination.text = std::move(r.texts.destinationText);
  settings.further.text = r.texts.Take(Option::Apply);
  settings.packedDms = r.texts.Has(Option::PackedDms);
}

// --rates and its --reference-epoch, for a model whose table line takes them.
bool ReadRates(Reading& r, const ModelEntry& entry, Model& model) {
  OptionTexts& texts = r.texts;
  model.rates = texts.Has(Option::Rates);
  if (model.rates && !entry.Takes(kTakesRates)) {
    r.errors << "quorvane: --rates needs --model "
             << ModelNames([](const ModelEntry& m) { return m.Takes(kTakesRates); }) << " (the "
             << model.name << " model has no rates)" << kNothingWritten;
    return false;
  }
  if (model.rates && texts.Has(Option::Vertical)) {
    r.errors << "quorvane: --rates and --vertical do not go together: with rates the seven are "
                "fitted to all three coordinates of each pair; give one of them"
             << kNothingWritten;
    return false;
  }
  if (!texts.Has(Option::ReferenceEpoch)) return true;
  const std::string& value = texts.Value(Option::ReferenceEpoch);
  if (!model.rates) {
    r.errors << "quorvane: --reference-epoch needs --rates, whose parameters it states at an "
                "epoch"
             << kNothingWritten;
    return false;
  }
  std::string problem;
  double epoch = 0.0;
  if (!ReadDecimal(value, epoch, problem) || !(epoch >= kEarliestEpoch && epoch <= kLatestEpoch)) {
    r.errors << "quorvane: --reference-epoch " << r.Quoted(value)
             << " is not an epoch in decimal years (" << kEarliestEpoch << " to " << kLatestEpoch
             << ")" << kNothingWritten;
    return false;
  }
  model.referenceEpoch = epoch;
  return true;
}

// --model and the settings of a model, each refused for a model whose table line does not take
// it, and an unknown value refused with the values there are.
bool ReadModel(Reading& r, Model& model) {
  OptionTexts& texts = r.texts;
  std::ostream& errors = r.errors;
  if (texts.Has(Option::Model)) {
    if (FindModel(texts.Value(Option::Model)) == nullptr) {
      errors << "quorvane: --model " << r.Quoted(texts.Value(Option::Model))
             << " is not a model: give " << ModelNames() << kNothingWritten;
      return false;
    }
    model.name = texts.Value(Option::Model);
  }
  const ModelEntry& entry = *FindModel(model.name);
  if (texts.Has(Option::FixScale) && !entry.Takes(kTakesFixScale)) {
    errors << "quorvane: --fix-scale needs --model "
           << ModelNames([](const ModelEntry& m) { return m.Takes(kTakesFixScale); }) << " (the "
           << model.name << " model always fits its scale)" << kNothingWritten;
    return false;
  }
  model.fixScale = texts.Has(Option::FixScale);
  if (texts.Has(Option::Vertical)) {
    const std::string& vertical = texts.Value(Option::Vertical);
    if (!entry.Takes(kTakesVertical)) {
      // The models of the same frame, which take the same lists.
      const auto plane = [](const ModelEntry& m) {
        return m.Takes(kTakesVertical) && m.frame == Frame::Plane;
      };
      const auto geocentric = [](const ModelEntry& m) {
        return m.Takes(kTakesVertical) && m.frame == Frame::Geocentric;
      };
      errors << "quorvane: --vertical needs --model "
             << ModelNames(entry.frame == Frame::Plane ? +plane : +geocentric) << " (the "
             << model.name << " model scales heights with the rest)" << kNothingWritten;
      return false;
    }
    if (vertical == "constant") {
      model.vertical = Model::Vertical::Constant;
    } else if (vertical == "quadric") {
      model.vertical = Model::Vertical::Quadric;
    } else if (vertical == "auto") {
      model.vertical = Model::Vertical::Auto;
    } else if (vertical == "plane") {
      model.vertical = Model::Vertical::Plane;
    } else {
      errors << "quorvane: --vertical " << r.Quoted(vertical)
             << " is neither plane, constant, quadric nor auto" << kNothingWritten;
      return false;
    }
    if (model.vertical == Model::Vertical::Constant && entry.frame == Frame::Geocentric) {
      errors << "quorvane: --vertical constant needs --model "
             << ModelNames([](const ModelEntry& m) {
                  return m.Takes(kTakesVertical) && m.frame == Frame::Plane;
                })
             << " (the seven of the " << model.name
             << " model, fitted to east and north alone, leave a tilt in the heights that only a "
                "plane or a quadric takes up: give --vertical plane, quadric or auto)"
             << kNothingWritten;
      return false;
    }
  }
  if (texts.Has(Option::Convention)) {
    const std::string& convention = texts.Value(Option::Convention);
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
      errors << "quorvane: --convention " << r.Quoted(convention)
             << " is neither position-vector nor coordinate-frame" << kNothingWritten;
      return false;
    }
  }
  return ReadRates(r, entry, model);
}

// The checks: tolerances, exclusions, a priori σ, snooping and robust estimation, --strict.
bool ReadChecks(Reading& r, RunSettings& settings) {
  const struct {
    Option option;
    double& value;
  } limits[] = {
      {Option::ToleranceH, settings.tolerances.horizontal},
      {Option::ToleranceV, settings.tolerances.vertical},
      {Option::SigmaH, settings.sigma.horizontal},
      {Option::SigmaV, settings.sigma.vertical},
  };
  for (const auto& limit : limits) {
    if (r.texts.Has(limit.option) && !ReadLength(r.texts.Value(limit.option), limit.value)) {
      r.errors << "quorvane: " << OptionOf(limit.option).name << " "
               << r.Quoted(r.texts.Value(limit.option)) << " is not a length in metres above 0"
               << kNothingWritten;
      return false;
    }
  }
  settings.excludeGiven = r.texts.Has(Option::Exclude);
  settings.exclude = r.texts.Value(Option::Exclude);
  settings.snoop = r.texts.Has(Option::Snoop);
  settings.robust = r.texts.Has(Option::Robust);
  settings.strict = r.texts.Has(Option::Strict);
  return true;
}

// Each list's ellipsoid, and the destination's grid.
bool ReadEllipsoidsAndGrid(Reading& r, PlaneSetup& frame) {
  OptionTexts& texts = r.texts;
  std::string problem;
  const std::string& sourceEllipsoid = texts.Value(Option::SourceEllipsoid);
  const std::string& destinationEllipsoid = texts.Value(Option::DestinationEllipsoid);
  const std::string& grid = texts.Value(Option::Grid);
  if (texts.Has(Option::SourceEllipsoid) &&
      !ParseEllipsoid(sourceEllipsoid, frame.source.ellipsoid, problem)) {
    r.errors << "quorvane: --source-ellipsoid " << r.Quoted(sourceEllipsoid) << " " << problem
             << kNothingWritten;
    return false;
  }
  if (texts.Has(Option::Grid) && texts.Has(Option::DestinationEllipsoid)) {
    r.errors << "quorvane: --grid names the destination's ellipsoid itself; give --grid or "
                "--destination-ellipsoid, not both"
             << kNothingWritten;
    return false;
  }
  if (texts.Has(Option::DestinationEllipsoid) &&
      !ParseEllipsoid(destinationEllipsoid, frame.destination.ellipsoid, problem)) {
    r.errors << "quorvane: --destination-ellipsoid " << r.Quoted(destinationEllipsoid) << " "
             << problem << kNothingWritten;
    return false;
  }
  if (texts.Has(Option::Grid)) {
    ListSystem& table = frame.destination;
    if (!ParseGridSpec(grid, table.grid, problem, r.encoding)) {
      r.errors << "quorvane: --grid " << r.Quoted(grid) << ": " << problem << kNothingWritten;
      return false;
    }
    table.kind = ListSystem::Kind::Grid;
    table.ellipsoid = table.grid.ellipsoid;
  }
  return true;
}

// Coordinate systems named through PROJ, each instead of the options that describe its list; a
// plane model cannot take geocentric coordinates.
bool ReadNamedSystems(Reading& r, const Model& model, bool geocentric, PlaneSetup& frame,
                      std::vector<std::pair<std::string, std::string>>& files) {
  OptionTexts& texts = r.texts;
  std::string problem;
  const struct {
    Option option;
    std::vector<Option> conflicts;
    ListSystem& list;
  } named[] = {
      {Option::SourceCrs, {Option::SourceEllipsoid}, frame.source},
      {Option::DestinationCrs, {Option::DestinationEllipsoid, Option::Grid}, frame.destination},
  };
  for (const auto& crs : named) {
    if (!texts.Has(crs.option)) continue;
    const char* name = OptionOf(crs.option).name;
    for (const Option conflict : crs.conflicts) {
      if (texts.Has(conflict)) {
        r.errors << "quorvane: " << name << " names the list's ellipsoid and projection "
                 << "itself; give " << name << " or " << OptionOf(conflict).name << ", not both"
                 << kNothingWritten;
        return false;
      }
    }
    const std::string& value = texts.Value(crs.option);
    std::string definition;
    if (!CrsText(value, definition, problem)) {
      r.errors << "quorvane: " << name << " " << r.Quoted(value) << " " << problem
               << kNothingWritten;
      return false;
    }
    if (!ReadNamedCrs(definition, crs.list, problem)) {
      r.errors << "quorvane: " << name << " " << r.Quoted(value) << " " << problem;
      // A file's text that is no CRS at all: most often another file than the .prj.
      if (!value.empty() && value[0] == '@' && problem.rfind("PROJ cannot resolve it", 0) == 0) {
        r.errors << "; the file holds no WKT text, PROJ string or EPSG code of a CRS: give the "
                    ".prj file that goes with the points, or the CRS by its EPSG code";
      }
      r.errors << kNothingWritten;
      return false;
    }
    if (!value.empty() && value[0] == '@') files.emplace_back(name, value.substr(1));
  }
  for (const auto& crs : named) {
    if (geocentric || crs.list.kind != ListSystem::Kind::Geocentric) continue;
    r.errors << "quorvane: " << OptionOf(crs.option).name << " "
             << r.Quoted(texts.Value(crs.option)) << " is geocentric, and the "
             << model.name << " model is fitted in a plane; give --model "
             << ModelNames([](const ModelEntry& m) { return m.frame == Frame::Geocentric; })
             << kNothingWritten;
    return false;
  }
  return true;
}

// The geoid grid: one grid's name PROJ's text can carry, named in the record so that its
// pipeline reads it from any folder.
bool ReadGeoid(Reading& r, const Model& model, bool geocentric, RunSettings& settings) {
  const std::string& geoid = r.texts.Value(Option::Geoid);
  // With --vertical a geocentric model fits its seven to east and north alone, which a height
  // reduced along the normal leaves as they are, and its surface to the reduced heights.
  if (geocentric && model.vertical == Model::Vertical::None) {
    r.errors << "quorvane: --geoid reduces heights for a plane model or a height surface "
                "(--vertical), and the "
             << model.name
             << " model without --vertical needs the ellipsoidal heights of geocentric coordinates"
             << kNothingWritten;
    return false;
  }
  if (geoid.empty()) {
    r.errors << "quorvane: --geoid needs a grid: a name such as egm96_15.gtx, or a path"
             << kNothingWritten;
    return false;
  }
  const std::string problem = GeoidNameProblem(geoid);
  if (!problem.empty()) {
    r.errors << "quorvane: --geoid " << r.Quoted(geoid) << " " << problem << kNothingWritten;
    return false;
  }
  PlaneSetup& frame = settings.frame;
  frame.geoid = geoid;
  GeoidGrid found;
  std::string why;
  if (!ProjAvailable(why)) {
    r.errors << "quorvane: --geoid " << r.Quoted(geoid) << " needs PROJ: " << why
             << kNothingWritten;
    return false;
  }
  if (!FindGeoidGrid(geoid, found, why)) {
    r.errors << "quorvane: --geoid " << r.Quoted(geoid)
             << ": the geoid grid cannot be read: PROJ finds no such grid among its own or in "
                "the current folder; give the grid's path, or put it where PROJ keeps its "
                "grids (proj-data ships egm96_15.gtx)"
             << kNothingWritten;
    return false;
  }
  frame.geoid = found.name;
  frame.geoidFolder = found.folder;
  settings.optionFiles.emplace_back("--geoid", found.file);
  return true;
}

// Whether and how the source is carried to the destination's datum (--datum-shift), and the
// datum of a source the options leave on WGS 84, which PROJ takes it from.
bool ReadDatumShift(Reading& r, const Model& model, bool geocentric, PlaneSetup& frame) {
  const Ellipsoid wgs84 = Wgs84().ellipsoid;
  ListSystem& source = frame.source;
  if (source.kind == ListSystem::Kind::Geographic && source.datumCrs.empty() &&
      source.ellipsoid.ellipsoid.a == wgs84.a && source.ellipsoid.ellipsoid.f == wgs84.f) {
    source.datumCrs = "EPSG:4326";
  }
  if (!r.texts.Has(Option::DatumShift)) return true;
  const std::string& how = r.texts.Value(Option::DatumShift);
  if (how == "none") {
    frame.datumChoice = PlaneSetup::DatumChoice::None;
    return true;
  }
  if (how != "proj") {
    r.errors << "quorvane: --datum-shift " << r.Quoted(how) << " is neither proj nor none"
             << kNothingWritten;
    return false;
  }
  const char* missing = nullptr;
  if (geocentric) {
    r.errors << "quorvane: --datum-shift proj carries the source to the destination's datum "
                "before a plane model, and the "
             << model.name << " model fits the datum change itself" << kNothingWritten;
    return false;
  }
  if (!r.texts.Has(Option::DestinationCrs)) {
    missing = "--destination-crs, the CRS whose datum PROJ carries the source to";
  } else if (source.datumCrs.empty()) {
    missing = "the source's datum: give --source-crs (an ellipsoid alone names none)";
  }
  if (missing != nullptr) {
    r.errors << "quorvane: --datum-shift proj needs " << missing << kNothingWritten;
    return false;
  }
  frame.datumChoice = PlaneSetup::DatumChoice::Proj;
  return true;
}

// The frame: each list's system, the geoid; and the model and the frame, which decide each other
// here and nowhere else.
bool ReadFrame(Reading& r, RunSettings& settings) {
  Model& model = settings.model;
  PlaneSetup& frame = settings.frame;
  const bool geocentric = FindModel(model.name)->frame == Frame::Geocentric;
  if (!ReadEllipsoidsAndGrid(r, frame) ||
      !ReadNamedSystems(r, model, geocentric, frame, settings.optionFiles) ||
      !ReadDatumShift(r, model, geocentric, frame) ||
      (r.texts.Has(Option::Geoid) && !ReadGeoid(r, model, geocentric, settings))) {
    return false;
  }
  // The model's frame is the frame of the fit; and a similarity about a grid's origin, thousands
  // of kilometres from the points, would fit a shift that is mostly the rotation times that
  // distance, so in a grid it acts about the centroid.
  frame.frame = geocentric ? PlaneSetup::Frame::Geocentric : PlaneSetup::Frame::Plane;
  // A geocentric model's height surface lies on the destination's ellipsoid.
  model.heightA = frame.destination.ellipsoid.ellipsoid.a;
  model.heightF = frame.destination.ellipsoid.ellipsoid.f;
  if (frame.destination.kind == ListSystem::Kind::Grid) model.aboutCentroid = true;
  return true;
}

// The distortion's method and file: both or neither, and a plane model's only, decided by the
// frame the model is fitted in.
bool ReadDistortion(Reading& r, RunSettings& settings) {
  OptionTexts& texts = r.texts;
  const bool method = texts.Has(Option::Distortion), file = texts.Has(Option::DistortionFile);
  if (!method && !file) return true;
  if (!method) {
    r.errors << "quorvane: --distortion-file needs --distortion tin or smooth, the field it "
                "holds"
             << kNothingWritten;
    return false;
  }
  const std::string& name = texts.Value(Option::Distortion);
  if (name == "smooth") {
    settings.distortionMethod = DistortionMethod::Smooth;
  } else if (name != "tin") {
    r.errors << "quorvane: --distortion " << r.Quoted(name) << " is neither tin nor smooth"
             << kNothingWritten;
    return false;
  }
  if (settings.frame.frame != PlaneSetup::Frame::Plane) {
    r.errors << "quorvane: --distortion models what a plane model leaves, and the "
             << settings.model.name << " model is fitted in geocentric space; give --model "
             << ModelNames([](const ModelEntry& m) { return m.frame == Frame::Plane; })
             << kNothingWritten;
    return false;
  }
  if (!file || texts.Value(Option::DistortionFile).empty()) {
    r.errors << "quorvane: --distortion needs --distortion-file FILE, the triangulation it is "
                "written to"
             << kNothingWritten;
    return false;
  }
  const std::string& path = texts.Value(Option::DistortionFile);
  if (const std::string problem = PipelineFileProblem(path, "file"); !problem.empty()) {
    r.errors << "quorvane: --distortion-file " << r.Quoted(path) << " " << problem
             << ", and the record's pipeline names it" << kNothingWritten;
    return false;
  }
  settings.distortion = true;
  settings.outputs.distortionPath = path;
  return true;
}

// The CRS written bound to WGS 84: a fit of the seven, which +towgs84 holds, and a file to
// write it to. Which list is on WGS 84 the frame says once the run has made it.
bool ReadExportCrs(Reading& r, RunSettings& settings) {
  if (!r.texts.Has(Option::ExportCrs)) return true;
  const std::string& path = r.texts.Value(Option::ExportCrs);
  const Model& model = settings.model;
  if (path.empty()) {
    r.errors << "quorvane: --export-crs needs FILE, the file the CRS is written to"
             << kNothingWritten;
    return false;
  }
  // The seven-parameter models are those that take a rotation convention.
  if (settings.frame.frame != PlaneSetup::Frame::Geocentric || model.rates) {
    r.errors << "quorvane: --export-crs binds a CRS to WGS 84 by seven parameters, which "
                "+towgs84 takes without rates: give --model "
             << ModelNames([](const ModelEntry& m) { return m.Takes(kTakesConvention); })
             << " without --rates" << kNothingWritten;
    return false;
  }
  settings.outputs.exportCrsPath = path;
  return true;
}

// What the run writes besides the report, and whether it computes the statistics.
void ReadOutputs(Reading& r, RunSettings& settings) {
  OutputChoice& outputs = settings.outputs;
  outputs.recordGiven = r.texts.Has(Option::Record);
  outputs.recordPath = r.texts.Value(Option::Record);
  outputs.plotGiven = r.texts.Has(Option::Plot);
  outputs.plotPath = r.texts.Value(Option::Plot);
  outputs.qualityBlock =
      r.texts.Has(Option::Quality) || settings.snoop || settings.robust ||
      settings.tolerances.Any();
  settings.statistics =
      outputs.qualityBlock || outputs.recordGiven || outputs.plotGiven || settings.strict;
}

}  // namespace

bool ReadSettings(OptionTexts& texts, RunSettings& result, std::ostream& errors) {
  // Made apart and moved in whole, so that a refusal leaves `result` as it was.
  RunSettings settings;
  settings.encoding = texts.Has(Option::Utf8) ? ConsoleEncoding::Utf8 : ConsoleEncoding::Gbk;
  settings.unknown = texts.unknown;
  Reading reading{texts, errors, settings.encoding};
  ReadListInputs(reading, settings);
  if (!ReadModel(reading, settings.model) || !ReadChecks(reading, settings) ||
      !ReadFrame(reading, settings) || !ReadDistortion(reading, settings) ||
      !ReadExportCrs(reading, settings)) {
    return false;
  }
  ReadOutputs(reading, settings);
  result = std::move(settings);
  return true;
}

}  // namespace Quorvane
