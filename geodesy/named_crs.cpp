#include "geodesy/named_crs.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <sstream>
#include <vector>

#include "geodesy/proj_library.h"

namespace Quorvane {

namespace {

using Object = ProjObject;

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

// The datum of `crs` (a compound CRS's horizontal part, or a CRS bound to a +towgs84) as its
// geographic 2D CRS, bound to the same transformation where `crs` is: what PROJ finds an
// operation from or to, as PROJJSON; empty where PROJ gives none.
std::string DatumCrsOf(const ProjLibrary* proj, PJ* crs) {
  PJ_CONTEXT* context = proj->context;
  Object part;
  if (proj->proj_get_type(crs) == PJ_TYPE_COMPOUND_CRS) {
    part = Own(proj, proj->proj_crs_get_sub_crs(context, crs, 0));
    if (!part) return std::string();
    crs = part.get();
  }
  const bool bound = proj->proj_get_type(crs) == PJ_TYPE_BOUND_CRS;
  Object base;
  if (bound) base = Own(proj, proj->proj_get_source_crs(context, crs));
  Object datum = Own(proj, proj->proj_crs_get_geodetic_crs(context, bound ? base.get() : crs));
  if (!datum) return std::string();
  // Heights stay as the lists give them: PROJ keeps them through an operation between 2D CRSs.
  if (proj->proj_get_type(datum.get()) == PJ_TYPE_GEOGRAPHIC_3D_CRS) {
    Object flat = Own(proj, proj->proj_crs_demote_to_2D(context, nullptr, datum.get()));
    if (flat) datum = std::move(flat);
  }
  if (bound) {
    const Object hub = Own(proj, proj->proj_get_target_crs(context, crs));
    const Object transformation = Own(proj, proj->proj_crs_get_coordoperation(context, crs));
    Object tied;
    if (hub && transformation) {
      tied = Own(proj, proj->proj_crs_create_bound_crs(context, datum.get(), hub.get(),
                                                       transformation.get()));
    }
    if (tied) datum = std::move(tied);
  }
  const char* const options[] = {"MULTILINE=NO", nullptr};
  const char* json = proj->proj_as_projjson(context, datum.get(), options);
  return json != nullptr ? json : std::string();
}

// The CRS's area of use, from the CRS as given or else from its horizontal part.
AreaOfUse AreaOf(const ProjLibrary* proj, PJ* given, PJ* horizontal) {
  AreaOfUse area;
  for (PJ* crs : {given, horizontal}) {
    const char* name = nullptr;
    if (crs != nullptr &&
        proj->proj_get_area_of_use(proj->context, crs, &area.west, &area.south, &area.east,
                                   &area.north, &name) &&
        area.west > -1000.0) {  // PROJ's -1000 marks a box it does not know
      area.known = true;
      area.name = name != nullptr ? name : "";
      return area;
    }
  }
  return AreaOfUse{};
}

// An operation's PROJ string as steps from radians to radians, to stand between the steps of a
// pipeline that holds longitude and latitude in radians: its conversion from degrees at the
// start and back at the end taken off, or else conversions added around it; empty for an
// operation that does nothing. False for a text a pipeline cannot take in (a pipeline with
// parameters of its own).
bool StepsInRadians(const std::string& text, std::string& steps) {
  std::istringstream words(text);
  std::vector<std::string> parts;  // "+step …" each
  std::string word;
  if (!(words >> word)) return false;
  if (word != "+proj=pipeline") parts.push_back("+step " + word);
  while (words >> word) {
    if (word == "+step") {
      parts.push_back(word);
    } else if (parts.empty()) {
      return false;
    } else {
      parts.back() += " " + word;
    }
  }
  const std::string toRadians = "+step +proj=unitconvert +xy_in=deg +xy_out=rad";
  const std::string toDegrees = "+step +proj=unitconvert +xy_in=rad +xy_out=deg";
  if (parts.size() >= 2 && parts.front() == toRadians && parts.back() == toDegrees) {
    parts.erase(parts.begin());
    parts.pop_back();
  } else {
    parts.insert(parts.begin(), toDegrees);
    parts.push_back(toRadians);
  }
  steps.clear();
  for (const std::string& part : parts) {
    if (part != "+step +proj=noop") steps += " " + part;
  }
  if (steps == " " + toDegrees + " " + toRadians) steps.clear();
  return true;
}

// An operation's name without the axis swaps PROJ names in it when it puts longitude first:
// "axis order change (2D) + Inverse of S-JTSK to WGS 84 (5) + axis order change (2D)".
std::string OperationName(const char* given) {
  const std::string whole = given != nullptr ? given : "";
  const std::string separator = " + ";
  std::string name;
  for (std::size_t at = 0; at <= whole.size();) {
    std::size_t end = whole.find(separator, at);
    if (end == std::string::npos) end = whole.size();
    const std::string part = whole.substr(at, end - at);
    if (part.compare(0, 17, "axis order change") != 0) {
      name += (name.empty() ? "" : separator) + part;
    }
    at = end + separator.size();
  }
  return name.empty() ? "PROJ's operation" : name;
}

}  // namespace

bool FindDatumShift(const std::string& from, const std::string& to, const Point3& at,
                    DatumShift& shift, std::string& problem) {
  const ProjLibrary* proj = ProjLibraryOrNull(problem);
  if (proj == nullptr) return false;
  PJ_CONTEXT* context = proj->context;
  const Object source = Own(proj, proj->proj_create(context, from.c_str()));
  const Object target = Own(proj, proj->proj_create(context, to.c_str()));
  Object found;
  if (source && target) {
    found = Own(proj, proj->proj_create_crs_to_crs_from_pj(context, source.get(), target.get(),
                                                           nullptr, nullptr));
  }
  // Longitude first, as the lists and the pipelines hold the angles.
  Object operations;
  if (found) operations = Own(proj, proj->proj_normalize_for_visualization(context, found.get()));
  if (!operations) {
    if (OutOfMemoryNow()) throw std::bad_alloc();
    const std::string why = proj->LastError();
    problem = "PROJ finds no operation between the two datums" +
              (why.empty() ? std::string() : " (" + why + ")");
    return false;
  }
  // Of several, the one cs2cs takes at that point: the first whose area holds it.
  PJ_COORD point;
  point.xyzt.x = at.x;
  point.xyzt.y = at.y;
  point.xyzt.z = 0.0;
  point.xyzt.t = HUGE_VAL;
  proj->proj_trans(operations.get(), PJ_FWD, point);
  const Object used = Own(proj, proj->proj_trans_get_last_used_operation(operations.get()));
  PJ* operation = used ? used.get() : operations.get();
  const char* text = proj->proj_as_proj_string(context, operation, PJ_PROJ_5, nullptr);
  DatumShift made;
  if (text == nullptr || !StepsInRadians(text, made.steps)) {
    const std::string why = proj->LastError();
    problem = "PROJ's operation between the two datums has no PROJ string" +
              (why.empty() ? std::string() : " (" + why + ")");
    return false;
  }
  made.name = OperationName(proj->proj_get_name(operation));
  made.accuracy = proj->proj_coordoperation_get_accuracy(context, operation);
  made.ballpark = proj->proj_coordoperation_has_ballpark_transformation(context, operation) != 0;
  shift = made;
  return true;
}

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
  ListSystem named;
  named.datumCrs = DatumCrsOf(proj, created.get());
  PJ* const given = created.get();
  AreaOfUse area = AreaOf(proj, given, nullptr);
  const Object crs = HorizontalPart(proj, std::move(created));
  if (!area.known && crs) area = AreaOf(proj, crs.get(), nullptr);
  named.area = area;
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
