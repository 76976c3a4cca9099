#include "app/run_settings.h"

#include <cmath>
#include <cstdio>
#include <set>

#include "app/angle_text.h"
#include "app/text_encoding.h"

namespace Quorvane {

namespace {

constexpr char kNothingWritten[] = ". No result was written.\n";

bool ReadLength(const std::string& text, double& metres) {
  std::string problem;
  return ReadDecimal(text, metres, problem) && metres > 0.0;
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
               key == "height") {
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
      } else {
        spec.height = number;
        heightText = value;
      }
    } else {
      problem = named + " is unknown (ellipsoid, meridian, false-easting, false-northing, height)";
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

bool ReadSettings(const OptionTexts& texts, RunSettings& settings, std::ostream& errors) {
  settings = RunSettings{};
  const ConsoleEncoding encoding = texts.output.utf8 ? ConsoleEncoding::Utf8 : ConsoleEncoding::Gbk;
  settings.encoding = encoding;
  const auto quoted = [&](const std::string& value) { return QuotedField(value, 40, encoding); };

  // The model.
  const ModelOptions& model = texts.model;
  if (model.modelGiven) {
    if (model.model == "site") {
      settings.model.kind = Model::Kind::Site;
    } else if (model.model != "similarity") {
      errors << "quorvane: --model " << quoted(model.model)
             << " is not a model: give similarity or site" << kNothingWritten;
      return false;
    }
  }
  const bool site = settings.model.kind == Model::Kind::Site;
  if (model.fixScale && !site) {
    errors << "quorvane: --fix-scale needs --model site (the similarity always fits its scale)"
           << kNothingWritten;
    return false;
  }
  settings.model.fixScale = model.fixScale;
  if (model.verticalGiven) {
    if (!site) {
      errors << "quorvane: --vertical needs --model site (the similarity scales heights with "
                "the plane)"
             << kNothingWritten;
      return false;
    }
    if (model.vertical == "constant") {
      settings.model.vertical = Model::Vertical::Constant;
    } else if (model.vertical != "plane") {
      errors << "quorvane: --vertical " << quoted(model.vertical)
             << " is neither plane nor constant" << kNothingWritten;
      return false;
    }
  }

  // The checks.
  const struct {
    bool given;
    const std::string& text;
    const char* option;
    double& value;
  } limits[] = {
      {model.toleranceHorizontalGiven, model.toleranceHorizontal, "--tolerance-h",
       settings.tolerances.horizontal},
      {model.toleranceVerticalGiven, model.toleranceVertical, "--tolerance-v",
       settings.tolerances.vertical},
  };
  for (const auto& limit : limits) {
    if (limit.given && !ReadLength(limit.text, limit.value)) {
      errors << "quorvane: " << limit.option << " " << quoted(limit.text)
             << " is not a length in metres above 0" << kNothingWritten;
      return false;
    }
  }

  // The plane.
  const PlaneOptions& plane = texts.plane;
  std::string problem;
  if (plane.sourceEllipsoidGiven &&
      !ParseEllipsoid(plane.sourceEllipsoid, settings.plane.source, problem)) {
    errors << "quorvane: --source-ellipsoid " << quoted(plane.sourceEllipsoid) << " " << problem
           << kNothingWritten;
    return false;
  }
  if (plane.gridGiven && plane.destinationEllipsoidGiven) {
    errors << "quorvane: --grid names the destination's ellipsoid itself; give --grid or "
              "--destination-ellipsoid, not both"
           << kNothingWritten;
    return false;
  }
  if (plane.destinationEllipsoidGiven &&
      !ParseEllipsoid(plane.destinationEllipsoid, settings.plane.destination, problem)) {
    errors << "quorvane: --destination-ellipsoid " << quoted(plane.destinationEllipsoid) << " "
           << problem << kNothingWritten;
    return false;
  }
  if (plane.gridGiven) {
    if (!ParseGridSpec(plane.grid, settings.plane.gridSpec, problem, encoding)) {
      errors << "quorvane: --grid " << quoted(plane.grid) << ": " << problem << kNothingWritten;
      return false;
    }
    settings.plane.grid = true;
    settings.plane.destination = settings.plane.gridSpec.ellipsoid;
  }

  settings.qualityBlock =
      texts.output.quality || model.snoop || settings.tolerances.Any();
  settings.statistics = settings.qualityBlock || texts.output.recordGiven ||
                        texts.output.plotGiven || model.strict;
  return true;
}

}  // namespace Quorvane
