#include "geodesy/named_crs.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

#include "geodesy/proj_library.h"

namespace Quorvane {

namespace {

// PROJ objects freed with the library's own function.
using Object = std::unique_ptr<PJ, std::function<void(PJ*)>>;

Object Own(const ProjLibrary* proj, PJ* object) {
  return Object(object, [proj](PJ* pj) {
    if (pj != nullptr) proj->proj_destroy(pj);
  });
}

// The parameters of a PROJ string that say what a projection maps from and to rather than how it
// projects: the ellipsoid and datum (each list puts in its own), the units (the frame is in
// metres), and the markers of a CRS.
bool IsProjectionParameter(const std::string& token) {
  static const char* const kOthers[] = {"ellps", "a",     "b",       "rf",        "f",
                                        "es",    "e",     "R",       "datum",     "towgs84",
                                        "nadgrids", "geoidgrids", "units", "to_meter", "vunits",
                                        "vto_meter", "no_defs", "type", "wktext", "axis"};
  const std::string key = token.substr(1, token.find('=') - 1);
  for (const char* other : kOthers) {
    if (key == other) return false;
  }
  return true;
}

// proj_as_proj_string of a projected CRS less what IsProjectionParameter leaves out.
bool ProjectionOf(const ProjLibrary* proj, PJ* crs, std::string& projection, std::string& problem) {
  const char* text = proj->proj_as_proj_string(proj->context, crs, PJ_PROJ_5, nullptr);
  if (text == nullptr) {
    problem = "its projection has no PROJ string (" + proj->LastError() + ")";
    return false;
  }
  std::istringstream tokens(text);
  projection.clear();
  for (std::string token; tokens >> token;) {
    if (token.empty() || token[0] != '+' || !IsProjectionParameter(token)) continue;
    if (!projection.empty()) projection += ' ';
    projection += token;
  }
  return true;
}

// PROJ's name for a linear unit of `metres` metres, as unitconvert takes it.
std::string UnitName(double metres) {
  if (metres == 1.0) return std::string();
  if (metres == 0.3048) return "ft";
  if (std::fabs(metres - 1200.0 / 3937.0) < 1e-15) return "us-ft";
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", metres);
  return text;
}

// The horizontal CRS `crs` stands for: a bound CRS's source, a compound CRS's first part.
Object HorizontalPart(const ProjLibrary* proj, Object crs) {
  PJ_CONTEXT* context = proj->context;
  const auto unbound = [&](Object object) {
    if (object && proj->proj_get_type(object.get()) == PJ_TYPE_BOUND_CRS) {
      return Own(proj, proj->proj_get_source_crs(context, object.get()));
    }
    return object;
  };
  crs = unbound(std::move(crs));
  if (crs && proj->proj_get_type(crs.get()) == PJ_TYPE_COMPOUND_CRS) {
    crs = unbound(Own(proj, proj->proj_crs_get_sub_crs(context, crs.get(), 0)));
  }
  return crs;
}

// What a list of the CRS's kind holds, or false with `problem` for a kind no list has.
bool KindOf(PJ_TYPE type, ListSystem::Kind& kind, std::string& problem) {
  switch (type) {
    case PJ_TYPE_GEOGRAPHIC_2D_CRS:
    case PJ_TYPE_GEOGRAPHIC_3D_CRS:
      kind = ListSystem::Kind::Geographic;
      return true;
    case PJ_TYPE_GEOCENTRIC_CRS:
      kind = ListSystem::Kind::Geocentric;
      return true;
    case PJ_TYPE_PROJECTED_CRS:
      kind = ListSystem::Kind::Grid;
      return true;
    case PJ_TYPE_VERTICAL_CRS:
      problem = "is a vertical CRS; give a geographic, projected or geocentric one (a compound "
                "one gives its horizontal part)";
      return false;
    default:
      problem = "is no geographic, projected or geocentric CRS";
      return false;
  }
}

// The CRS's ellipsoid into `named`.
bool ReadEllipsoid(const ProjLibrary* proj, PJ* crs, ListSystem& named, std::string& problem) {
  Object ellipsoid = Own(proj, proj->proj_get_ellipsoid(proj->context, crs));
  double a = 0.0, b = 0.0, inverseFlattening = 0.0;
  int computed = 0;
  if (ellipsoid == nullptr ||
      !proj->proj_ellipsoid_get_parameters(proj->context, ellipsoid.get(), &a, &b, &computed,
                                           &inverseFlattening)) {
    problem = "has no ellipsoid PROJ can give";
    return false;
  }
  const char* ellipsoidName = proj->proj_get_name(ellipsoid.get());
  named.ellipsoid.name = ellipsoidName != nullptr ? ellipsoidName : "";
  named.ellipsoid.ellipsoid.a = a;
  named.ellipsoid.ellipsoid.f = inverseFlattening > 0.0 ? 1.0 / inverseFlattening : 0.0;
  return true;
}

// A projected CRS's projection and linear unit into `named`.
bool ReadProjection(const ProjLibrary* proj, PJ* crs, ListSystem& named, std::string& problem) {
  if (!ProjectionOf(proj, crs, named.projection, problem)) return false;
  Object system = Own(proj, proj->proj_crs_get_coordinate_system(proj->context, crs));
  double metres = 1.0;
  if (system == nullptr ||
      !proj->proj_cs_get_axis_info(proj->context, system.get(), 0, nullptr, nullptr, nullptr,
                                   &metres, nullptr, nullptr, nullptr) ||
      !(metres > 0.0)) {
    problem = "has no linear unit PROJ can give";
    return false;
  }
  named.unit = metres;
  named.unitName = UnitName(metres);
  return true;
}

// How the record names the CRS: its code, or PROJ's identification of it, or its PROJJSON.
void ReadIdentity(const ProjLibrary* proj, PJ* crs, ListSystem& named) {
  PJ_CONTEXT* context = proj->context;
  const char* name = proj->proj_get_name(crs);
  named.crsName = name != nullptr ? name : "";
  const char* authority = proj->proj_get_id_auth_name(crs, 0);
  const char* code = proj->proj_get_id_code(crs, 0);
  if (authority != nullptr && code != nullptr) {
    named.crsCode = std::string(authority) + ":" + code;
  } else {
    int* confidence = nullptr;
    PJ_OBJ_LIST* candidates = proj->proj_identify(context, crs, "EPSG", nullptr, &confidence);
    if (candidates != nullptr && proj->proj_list_get_count(candidates) > 0 &&
        confidence != nullptr && confidence[0] == 100) {
      Object best = Own(proj, proj->proj_list_get(context, candidates, 0));
      const char* bestCode = best ? proj->proj_get_id_code(best.get(), 0) : nullptr;
      if (bestCode != nullptr) named.crsCode = std::string("EPSG:") + bestCode;
    }
    if (confidence != nullptr) proj->proj_int_list_destroy(confidence);
    if (candidates != nullptr) proj->proj_list_destroy(candidates);
  }
  if (named.crsCode.empty()) {
    const char* const options[] = {"MULTILINE=NO", nullptr};
    const char* json = proj->proj_as_projjson(context, crs, options);
    named.crsJson = json != nullptr ? json : "";
  }
}

}  // namespace

bool ReadNamedCrs(const std::string& definition, ListSystem& list, std::string& problem) {
  const ProjLibrary* proj = ProjLibraryOrNull(problem);
  if (proj == nullptr) return false;
  std::string text = definition;
  if (!text.empty() && text[0] == '+' && text.find("+type=crs") == std::string::npos) {
    text += " +type=crs";
  }
  Object created = Own(proj, proj->proj_create(proj->context, text.c_str()));
  if (created == nullptr) {
    const std::string why = proj->LastError();
    problem = "PROJ cannot resolve it" + (why.empty() ? std::string() : " (" + why + ")");
    return false;
  }
  const Object crs = HorizontalPart(proj, std::move(created));
  ListSystem named;
  if (!KindOf(crs ? proj->proj_get_type(crs.get()) : PJ_TYPE_UNKNOWN, named.kind, problem) ||
      !ReadEllipsoid(proj, crs.get(), named, problem) ||
      (named.kind == ListSystem::Kind::Grid && !ReadProjection(proj, crs.get(), named, problem))) {
    return false;
  }
  ReadIdentity(proj, crs.get(), named);
  list = named;
  return true;
}

}  // namespace Quorvane
