#include "geodesy/named_crs.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
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

// The key of a PROJ parameter, "+key=value" or "+flag".
std::string KeyOf(const std::string& token) { return token.substr(1, token.find('=') - 1); }

// The parameters of a PROJ string that say what a projection maps from and to rather than how it
// projects: the datum (each list puts in its own ellipsoid), the units (the frame is in metres),
// and the markers of a CRS. The figure and the axes are kept apart.
bool IsProjectionParameter(const std::string& key) {
  static const char* const kOthers[] = {"datum",   "towgs84",  "nadgrids", "geoidgrids",
                                        "units",   "to_meter", "vunits",   "vto_meter",
                                        "no_defs", "type",     "wktext"};
  for (const char* other : kOthers) {
    if (key == other) return false;
  }
  return true;
}

bool IsFigureParameter(const std::string& key) {
  return key == "ellps" || key == "a" || key == "b" || key == "rf" || key == "f" || key == "es" ||
         key == "e" || key == "R";
}

// Whether the projection keeps the figure it names: a sphere (+R, or +a with +b, +rf or +f
// giving no flattening; +a alone is one), onto which any datum's latitudes are taken as they are
// (Web Mercator's on WGS 84, or on a sphere of its own), or an ellipsoid other than `ellipsoid`,
// the CRS's datum's.
bool OwnFigure(const std::vector<std::string>& figure, const Ellipsoid& ellipsoid) {
  double a = NAN, b = NAN, rf = NAN, f = NAN;
  for (const std::string& token : figure) {
    const std::string key = KeyOf(token);
    const double value = std::strtod(token.c_str() + key.size() + 2, nullptr);
    if (key == "R" || key == "a") a = value;
    if (key == "R" || key == "b") b = value;
    if (key == "rf") rf = value;
    if (key == "f") f = value;
  }
  if (std::isnan(a)) return false;  // a named ellipsoid, the datum's own
  const double flattening = !std::isnan(b)    ? (a - b) / a
                            : !std::isnan(rf) ? 1.0 / rf
                            : !std::isnan(f)  ? f
                                              : 0.0;
  return flattening == 0.0 || std::fabs(a - ellipsoid.a) > 1e-3 ||
         std::fabs(flattening - ellipsoid.f) > 1e-12;
}

// A +axis of PROJ's with the easting or westing first, as the lists give a grid's coordinates
// whatever the CRS's order (Krovak's "swu" as "wsu"); empty for the usual "enu".
std::string AxesEastingFirst(const std::string& token) {
  std::string order = token.substr(token.find('=') + 1);
  if (order.size() >= 2 && (order[0] == 'n' || order[0] == 's')) std::swap(order[0], order[1]);
  return order == "enu" || order == "en" ? std::string() : "+axis=" + order;
}

// proj_as_proj_string of a projected CRS less what IsProjectionParameter leaves out, and less
// its figure unless that is another than the datum's ellipsoid.
bool ProjectionOf(const ProjLibrary* proj, PJ* crs, ListSystem& named, std::string& problem) {
  const char* text = proj->proj_as_proj_string(proj->context, crs, PJ_PROJ_5, nullptr);
  if (text == nullptr) {
    problem = "its projection has no PROJ string (" + proj->LastError() + ")";
    return false;
  }
  std::istringstream tokens(text);
  std::vector<std::string> kept, figure;
  for (std::string token; tokens >> token;) {
    if (token.size() < 2 || token[0] != '+') continue;
    const std::string key = KeyOf(token);
    if (key == "axis") token = AxesEastingFirst(token);
    if (token.empty() || !IsProjectionParameter(key)) continue;
    (IsFigureParameter(key) ? figure : kept).push_back(token);
  }
  named.projectionFigure = OwnFigure(figure, named.ellipsoid.ellipsoid);
  if (named.projectionFigure) kept.insert(kept.end(), figure.begin(), figure.end());
  named.projection.clear();
  for (const std::string& token : kept) {
    named.projection += (named.projection.empty() ? "" : " ") + token;
  }
  return true;
}

// Whether the projection takes longitudes and latitudes to a plane, as PROJ declares its ends:
// PROJ makes a projected CRS of "+proj=noop" or "+proj=affine …" too, which would take a grid's
// coordinates for radians.
bool IsMapProjection(const ProjLibrary* proj, const ListSystem& named, std::string& problem) {
  char figure[80] = "";
  if (!named.projectionFigure) {
    std::snprintf(figure, sizeof figure, " +a=%.17g +f=%.17g", named.ellipsoid.ellipsoid.a,
                  named.ellipsoid.ellipsoid.f);
  }
  const Object projection =
      Own(proj, proj->proj_create(proj->context, (named.projection + figure).c_str()));
  if (projection && proj->proj_angular_input(projection.get(), PJ_FWD) &&
      !proj->proj_angular_output(projection.get(), PJ_FWD)) {
    return true;
  }
  proj->LastError();  // PROJ's own message, if it gave one, is not the reason
  problem = "is no map projection: its conversion (" +
            named.projection.substr(0, named.projection.find(' ')) +
            ") does not take longitudes and latitudes to a plane";
  return false;
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
  if (!ProjectionOf(proj, crs, named, problem) || !IsMapProjection(proj, named, problem)) {
    return false;
  }
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
  named.heightUnit = metres;
  named.heightUnitName = named.unitName;
  return true;
}

// A geographic CRS's angles as the lists give them, degrees from Greenwich; false with `problem`
// for another unit (grads) or prime meridian (Paris), which the lists do not take.
bool DegreesFromGreenwich(const ProjLibrary* proj, PJ* crs, std::string& problem) {
  PJ_CONTEXT* context = proj->context;
  Object system = Own(proj, proj->proj_crs_get_coordinate_system(context, crs));
  const char* unitName = nullptr;
  double radians = 0.0;
  if (system == nullptr ||
      !proj->proj_cs_get_axis_info(context, system.get(), 0, nullptr, nullptr, nullptr, &radians,
                                   &unitName, nullptr, nullptr)) {
    problem = "has no angular unit PROJ can give";
    return false;
  }
  Object meridian = Own(proj, proj->proj_get_prime_meridian(context, crs));
  double longitude = 0.0, toRadians = 0.0;
  if (meridian != nullptr) {
    proj->proj_prime_meridian_get_parameters(context, meridian.get(), &longitude, &toRadians,
                                             nullptr);
  }
  const char* meridianName = meridian ? proj->proj_get_name(meridian.get()) : nullptr;
  const bool degrees = std::fabs(radians / (3.14159265358979323846 / 180.0) - 1.0) < 1e-12;
  const bool greenwich = longitude * toRadians == 0.0;
  if (degrees && greenwich) return true;
  std::string what;
  if (!degrees) what = std::string("gives its angles in ") + (unitName ? unitName : "another unit");
  if (!degrees && !greenwich) what += " and ";
  if (!greenwich) {
    what += std::string("counts its longitudes from the ") +
            (meridianName ? meridianName : "another") + " meridian";
  }
  problem = what +
            "; the lists hold longitudes and latitudes in degrees from Greenwich: name a "
            "CRS of the same datum that gives them so";
  return false;
}

// The unit of a CRS's heights when it has a height axis of its own: a compound CRS's vertical
// part's, a 3D CRS's third axis's; metres per unit, or 0 for none.
double HeightAxisUnit(const ProjLibrary* proj, PJ* crs) {
  PJ_CONTEXT* context = proj->context;
  Object vertical;
  int axis = 2;
  if (proj->proj_get_type(crs) == PJ_TYPE_COMPOUND_CRS) {
    vertical = Own(proj, proj->proj_crs_get_sub_crs(context, crs, 1));
    if (vertical && proj->proj_get_type(vertical.get()) == PJ_TYPE_BOUND_CRS) {
      vertical = Own(proj, proj->proj_get_source_crs(context, vertical.get()));
    }
    axis = 0;
  }
  PJ* holder = vertical ? vertical.get() : crs;
  Object system = Own(proj, proj->proj_crs_get_coordinate_system(context, holder));
  double metres = 0.0;
  if (system == nullptr || proj->proj_cs_get_axis_count(context, system.get()) <= axis ||
      !proj->proj_cs_get_axis_info(context, system.get(), axis, nullptr, nullptr, nullptr, &metres,
                                   nullptr, nullptr, nullptr)) {
    return 0.0;
  }
  return metres > 0.0 ? metres : 0.0;
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
    // proj.db that cannot be opened for want of memory is no reason of the CRS's.
    if (OutOfMemoryNow()) throw std::bad_alloc();
    const std::string why = proj->LastError();
    problem = "PROJ cannot resolve it" + (why.empty() ? std::string() : " (" + why + ")");
    return false;
  }
  double heightUnit = 0.0;
  if (proj->proj_get_type(created.get()) == PJ_TYPE_BOUND_CRS) {
    const Object unbound = Own(proj, proj->proj_get_source_crs(proj->context, created.get()));
    if (unbound) heightUnit = HeightAxisUnit(proj, unbound.get());
  } else {
    heightUnit = HeightAxisUnit(proj, created.get());
  }
  const Object crs = HorizontalPart(proj, std::move(created));
  ListSystem named;
  if (!KindOf(crs ? proj->proj_get_type(crs.get()) : PJ_TYPE_UNKNOWN, named.kind, problem) ||
      !ReadEllipsoid(proj, crs.get(), named, problem) ||
      (named.kind == ListSystem::Kind::Grid && !ReadProjection(proj, crs.get(), named, problem)) ||
      (named.kind == ListSystem::Kind::Geographic &&
       !DegreesFromGreenwich(proj, crs.get(), problem))) {
    return false;
  }
  // Geocentric coordinates are metres whatever a height axis says.
  if (heightUnit > 0.0 && named.kind != ListSystem::Kind::Geocentric) {
    named.heightUnit = heightUnit;
    named.heightUnitName = UnitName(heightUnit);
  }
  ReadIdentity(proj, crs.get(), named);
  list = named;
  return true;
}

}  // namespace Quorvane
