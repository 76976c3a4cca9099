#include "geodesy/bound_crs.h"

#include <cmath>
#include <cstdio>

#include "geodesy/proj_library.h"

namespace Quorvane {

namespace {

// "+a=6378245 +rf=298.3" with 17 significant digits: the ellipsoid a list names no CRS for.
std::string FigureText(const Ellipsoid& e) {
  char text[80];
  if (e.f > 0.0) {
    std::snprintf(text, sizeof text, "+a=%.17g +rf=%.17g", e.a, 1.0 / e.f);
  } else {
    std::snprintf(text, sizeof text, "+R=%.17g", e.a);
  }
  return text;
}

// The CRS the set is bound from: the named CRS (unbound), or one of the list's ellipsoid.
ProjObject BaseCrs(const ProjLibrary* proj, const ListSystem& list, std::string& problem) {
  PJ_CONTEXT* context = proj->context;
  std::string text;
  if (!list.crsCode.empty() || !list.crsJson.empty()) {
    text = list.crsCode.empty() ? list.crsJson : list.crsCode;
  } else if (list.kind == ListSystem::Kind::Geographic) {
    text = "+proj=longlat " + FigureText(list.ellipsoid.ellipsoid) + " +no_defs +type=crs";
  } else if (list.kind == ListSystem::Kind::Geocentric) {
    text = "+proj=geocent " + FigureText(list.ellipsoid.ellipsoid) + " +units=m +no_defs +type=crs";
  } else {
    problem = "is a grid of the tool's own series (--grid), which no CRS of PROJ's holds";
    return Own(proj, nullptr);
  }
  ProjObject crs = Own(proj, proj->proj_create(context, text.c_str()));
  if (crs && proj->proj_get_type(crs.get()) == PJ_TYPE_BOUND_CRS) {
    crs = Own(proj, proj->proj_get_source_crs(context, crs.get()));
  }
  if (!crs) {
    const std::string why = proj->LastError();
    problem = "has a CRS PROJ cannot make again" + (why.empty() ? std::string() : " (" + why + ")");
  }
  return crs;
}

}  // namespace

bool OnWgs84(const ListSystem& list) {
  if (list.crsCode.empty() && list.crsJson.empty()) {
    const Ellipsoid wgs84 = Wgs84().ellipsoid;
    return list.kind != ListSystem::Kind::Grid && list.ellipsoid.ellipsoid.a == wgs84.a &&
           list.ellipsoid.ellipsoid.f == wgs84.f;
  }
  std::string problem;
  const ProjLibrary* proj = ProjLibraryOrNull(problem);
  if (proj == nullptr || list.datumCrs.empty()) return false;
  // A geocentric CRS's datum CRS is the geocentric CRS itself.
  const ProjObject datum = Own(proj, proj->proj_create(proj->context, list.datumCrs.c_str()));
  if (!datum) return false;
  for (const char* wgs84 : {"EPSG:4326", "EPSG:4978"}) {
    const ProjObject crs = Own(proj, proj->proj_create(proj->context, wgs84));
    if (crs && proj->proj_is_equivalent_to(datum.get(), crs.get(),
                                           PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS) != 0) {
      return true;
    }
  }
  return false;
}

bool CarryByToWgs84(const ToWgs84& set, std::vector<Point3>& points, std::string& problem) {
  const ProjLibrary* proj = ProjLibraryOrNull(problem);
  if (proj == nullptr) return false;
  char text[400];
  std::snprintf(text, sizeof text,
                "+proj=helmert +x=%.17g +y=%.17g +z=%.17g +rx=%.17g +ry=%.17g +rz=%.17g "
                "+s=%.17g +convention=position_vector",
                set[0], set[1], set[2], set[3], set[4], set[5], set[6]);
  const ProjObject helmert = Own(proj, proj->proj_create(proj->context, text));
  if (!helmert) {
    const std::string why = proj->LastError();
    problem = "PROJ cannot make the helmert step" + (why.empty() ? std::string() : " (" + why + ")");
    return false;
  }
  for (Point3& p : points) {
    PJ_COORD c;
    c.xyzt = {p.x, p.y, p.z, HUGE_VAL};
    c = proj->proj_trans(helmert.get(), PJ_FWD, c);
    p = Point3(c.xyz.x, c.xyz.y, c.xyz.z);
  }
  return true;
}

bool BoundToWgs84(const ListSystem& list, const ToWgs84& set, std::string& wkt,
                  std::string& problem) {
  const ProjLibrary* proj = ProjLibraryOrNull(problem);
  if (proj == nullptr) return false;
  PJ_CONTEXT* context = proj->context;
  const ProjObject base = BaseCrs(proj, list, problem);
  if (!base) return false;
  const ProjObject hub = Own(proj, proj->proj_create(context, "EPSG:4326"));
  const ProjObject geodetic = Own(proj, proj->proj_crs_get_geodetic_crs(context, base.get()));
  // EPSG's parameters of the position-vector transformation, in the units +towgs84 takes.
  constexpr double kArcSecond = 4.84813681109536e-06;  // radians
  const char* const names[] = {"X-axis translation", "Y-axis translation", "Z-axis translation",
                               "X-axis rotation",    "Y-axis rotation",    "Z-axis rotation",
                               "Scale difference"};
  const char* const codes[] = {"8605", "8606", "8607", "8608", "8609", "8610", "8611"};
  PJ_PARAM_DESCRIPTION parameters[7];
  for (int k = 0; k < 7; ++k) {
    const bool shift = k < 3, rotation = k >= 3 && k < 6;
    parameters[k] = {names[k],
                     "EPSG",
                     codes[k],
                     set[static_cast<std::size_t>(k)],
                     shift ? "metre" : rotation ? "arc-second" : "parts per million",
                     shift ? 1.0 : rotation ? kArcSecond : 1e-6,
                     shift ? PJ_UT_LINEAR : rotation ? PJ_UT_ANGULAR : PJ_UT_SCALE};
  }
  const bool geocentric = proj->proj_get_type(base.get()) == PJ_TYPE_GEOCENTRIC_CRS;
  ProjObject bound;
  if (hub && geodetic) {
    const ProjObject transformation = Own(
        proj, proj->proj_create_transformation(
                  context, "Transformation to WGS 84 fitted by quorvane", nullptr, nullptr,
                  geodetic.get(), hub.get(), nullptr,
                  geocentric ? "Position Vector transformation (geocentric domain)"
                             : "Position Vector transformation (geog2D domain)",
                  "EPSG", geocentric ? "1033" : "9606", 7, parameters, -1.0));
    if (transformation) {
      bound = Own(proj, proj->proj_crs_create_bound_crs(context, base.get(), hub.get(),
                                                        transformation.get()));
    }
  }
  const char* text =
      bound ? proj->proj_as_wkt(context, bound.get(), PJ_WKT2_2019, nullptr) : nullptr;
  if (text == nullptr) {
    const std::string why = proj->LastError();
    problem = "cannot be bound to WGS 84 by PROJ" + (why.empty() ? std::string() : " (" + why + ")");
    return false;
  }
  wkt = text;
  wkt += "\n";
  return true;
}

}  // namespace Quorvane
