#include "app/output/distortion_file.h"

#include <cmath>
#include <cstdint>

#include "app/output/json_text.h"

namespace Quorvane {

namespace {

void WriteStrings(JsonWriter& json, const char* key, std::initializer_list<const char*> items) {
  json.Key(key);
  json.StartArray();
  for (const char* item : items) json.String(item);
  json.EndArray();
}

std::string Description(const DistortionField& field) {
  std::string text = "What the fitted model leaves at " + std::to_string(field.pairs) +
                     " control points (destination - model(source)), ";
  text += field.method == DistortionMethod::Tin
              ? "interpolated linearly over their Delaunay triangulation"
              : "as a smoothing thin-plate spline sampled on a grid of " +
                    std::to_string(static_cast<long long>(std::lround(field.spacing))) +
                    " m";
  return text + ", in the plane of the fit, metres; beyond their area the correction " +
         OutsideRule(field) + ".";
}

}  // namespace

std::string OutsideRule(const DistortionField& field) {
  const std::string margin = std::to_string(static_cast<long long>(std::lround(field.margin)));
  return field.method == DistortionMethod::Tin
             ? "falls linearly to zero within " + margin + " m of the pairs' convex hull, and is "
               "zero beyond"
             : "falls to zero by 1 - 3t^2 + 2t^3 of the distance t*" + margin +
                   " m from the pairs' convex hull, and is zero beyond";
}

std::string BuildDistortionJson(const Registration& run) {
  const DistortionField& field = *run.distortion;
  std::string text;
  text.reserve(256 + 100 * field.vertices.size() + 24 * field.triangles.size());
  JsonWriter json(text);
  json.StartObject();
  json.Key("file_type");
  json.String("triangulation_file");
  json.Key("format_version");
  json.String("1.1");
  json.Key("name");
  json.String(std::string("quorvane distortion (") + DistortionName(field.method) + ")");
  json.Key("version");
  json.String(QUORVANE_VERSION);
  json.Key("description");
  json.String(Description(field));
  json.Key("fallback_strategy");
  json.String("nearest_side");
  WriteStrings(json, "transformed_components", {"horizontal", "vertical"});
  WriteStrings(json, "vertices_columns",
               {"source_x", "source_y", "target_x", "target_y", "offset_z"});
  WriteStrings(json, "triangles_columns", {"idx_vertex1", "idx_vertex2", "idx_vertex3"});
  json.Key("vertices");
  json.StartArray();
  for (const DistortionVertex& v : field.vertices) {
    json.StartArray();
    json.Number(v.at.x);
    json.Number(v.at.y);
    json.Number(v.at.x + v.correction.x);
    json.Number(v.at.y + v.correction.y);
    json.Number(v.correction.z);
    json.EndArray();
  }
  json.EndArray();
  json.Key("triangles");
  json.StartArray();
  for (const Triangle& t : field.triangles) {
    json.StartArray();
    for (std::uint32_t k : t) json.Integer(k);
    json.EndArray();
  }
  json.EndArray();
  json.EndObject();
  return text;
}

}  // namespace Quorvane
