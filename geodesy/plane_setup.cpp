// Every list goes to the frame through longitude and latitude on its own ellipsoid: a grid is
// taken back by its inverse projection, geocentric coordinates by PROJ's cart; from there the
// frame's plane (the tool's series, or a grid of PROJ's, with the plane's parameters on the
// list's own ellipsoid) or PROJ's cart makes frame coordinates. A source carried to the
// destination's datum by PROJ's operation between the two (the one cs2cs uses) goes into the
// plane on the destination's ellipsoid instead. The destination's grid, when it is the plane, is
// taken as it is. PROJ's operations are made from the same step texts the record's pipeline
// carries, so the tool and cct compute one thing.
#include "geodesy/plane_setup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "geodesy/gauss_projector.h"
#include "geodesy/named_crs.h"
#include "geodesy/proj_library.h"

namespace Quorvane {

namespace {

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;
// Within this many degrees of the equator the series count the northing from the equator, and
// PROJ is told so.
constexpr double kOriginLatitudeBound = 1e-6;

std::string Number17(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

bool Finite(std::initializer_list<double> values) {
  for (const double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

Point3 NotFinite() { return Point3(NAN, NAN, NAN); }

// A longitude difference taken the short way round, degrees: points either side of ±180° are
// neighbours. Within ±180° it stays the same double.
double Wrapped(double difference) {
  if (difference > 180.0) return difference - 360.0;
  if (difference < -180.0) return difference + 360.0;
  return difference;
}

// A longitude the series gave back, within ±180°.
double Normalised(double longitude) {
  if (longitude > 180.0) return longitude - 360.0;
  if (longitude < -180.0) return longitude + 360.0;
  return longitude;
}

// The ellipsoid as PROJ takes it: its own name for WGS 84, a and f otherwise.
std::string EllipsoidParameters(const Ellipsoid& ellipsoid) {
  const Ellipsoid wgs84 = Wgs84().ellipsoid;
  if (ellipsoid.a == wgs84.a && ellipsoid.f == wgs84.f) return " +ellps=WGS84";
  return " +a=" + Number17(ellipsoid.a) + " +f=" + Number17(ellipsoid.f);
}

// The tool's series as PROJ's +approx transverse Mercator, on `ellipsoid` enlarged for the
// projection height as the series are.
std::string SeriesStep(double meridian, double originLatitude, double scale, double falseEasting,
                       double falseNorthing, double height, const Ellipsoid& ellipsoid) {
  const Ellipsoid surface = ProjectionSurface(ellipsoid, height);
  return "+proj=tmerc +approx +lat_0=" +
         Number17(std::fabs(originLatitude) > kOriginLatitudeBound ? originLatitude : 0.0) +
         " +lon_0=" + Number17(meridian) + " +k_0=" + Number17(scale) + " +x_0=" +
         Number17(falseEasting) + " +y_0=" + Number17(falseNorthing) +
         EllipsoidParameters(surface);
}

std::string GridSeriesStep(const GridSpec& grid, const Ellipsoid& ellipsoid) {
  return SeriesStep(grid.meridian, grid.originLatitude, grid.scale, grid.falseEasting,
                    grid.falseNorthing, grid.height, ellipsoid);
}

// A grid of PROJ's as a step's text: its projection on `ellipsoid`, or on its own figure.
std::string ProjectionStep(const ListSystem& grid, const Ellipsoid& ellipsoid) {
  return grid.projection + (grid.projectionFigure ? std::string() : EllipsoidParameters(ellipsoid));
}

std::string CartStep(const Ellipsoid& ellipsoid) {
  return "+proj=cart" + EllipsoidParameters(ellipsoid);
}

// Two projections of one point closer than this are one: an ellipsoid a projection ignores
// moves nothing, and ellipsoids as near as WGS 84 and GRS 80 move it by a tenth of a millimetre.
constexpr double kSameProjection = 1e-6;  // metres

// Makes `operation` from `steps` unless it was made.
bool MakeOnce(ProjOperation& operation, const std::string& steps, std::string& problem) {
  return operation.Valid() || operation.Make("+proj=pipeline" + steps, problem);
}

bool IsNamed(const ListSystem& list) { return !list.crsCode.empty() || !list.crsJson.empty(); }

constexpr char kToRadians[] = " +step +proj=unitconvert +xy_in=deg +xy_out=rad";
constexpr char kToDegrees[] = " +step +proj=unitconvert +xy_in=rad +xy_out=deg";

// The step from ellipsoidal heights to heights above the geoid `grid` (as PROJ itself writes the
// transformation from WGS 84 to EGM96 heights): a name with white space is quoted, so that it
// stays one parameter (the options refuse the control characters and quotes PROJ's text cannot
// carry in it).
std::string GeoidStep(const std::string& grid) {
  const bool blank = grid.find_first_of(" \t\n\v\f\r") != std::string::npos;
  return " +step +inv +proj=vgridshift +grids=" + (blank ? "\"" + grid + "\"" : grid) +
         " +multiplier=1";
}

// The tool's series forward, with a scale on the central meridian: the series are made for scale
// 1, and a scale k0 multiplies both coordinates from the false origin.
Point3 SeriesForward(const Point3& geographic, double meridian, double originLatitude,
                     double scale, double falseEasting, double falseNorthing, double height,
                     const Ellipsoid& geodetic) {
  const Ellipsoid surface = ProjectionSurface(geodetic, height);
  // The series take the longitude difference as it stands: a point across ±180° from the
  // meridian is brought round to its side first.
  Point3 point = geographic;
  if (std::fabs(geographic.x - meridian) > 180.0) {
    point.x = meridian + Wrapped(geographic.x - meridian);
  }
  if (scale == 1.0) {
    const PlaneCoordinates plane = GaussProjector().Forward(
        point, meridian, falseEasting, falseNorthing, surface.a, surface.f, originLatitude);
    return Point3(plane.x, plane.y, geographic.z);
  }
  const PlaneCoordinates plane =
      GaussProjector().Forward(point, meridian, 0.0, 0.0, surface.a, surface.f, originLatitude);
  return Point3(falseEasting + scale * plane.x, falseNorthing + scale * plane.y, geographic.z);
}

Point3 SeriesInverse(const Point3& planePoint, double meridian, double originLatitude,
                     double scale, double falseEasting, double falseNorthing, double height,
                     const Ellipsoid& ellipsoid) {
  const Ellipsoid surface = ProjectionSurface(ellipsoid, height);
  Point3 geographic;
  if (scale == 1.0) {
    geographic = GaussProjector().Inverse(PlaneCoordinates{planePoint.x, planePoint.y}, meridian,
                                          falseEasting, falseNorthing, surface.a, surface.f,
                                          originLatitude);
  } else {
    geographic = GaussProjector().Inverse(
        PlaneCoordinates{(planePoint.x - falseEasting) / scale, (planePoint.y - falseNorthing) / scale},
        meridian, 0.0, 0.0, surface.a, surface.f, originLatitude);
  }
  return Point3(Normalised(geographic.x), geographic.y, planePoint.z);
}

// A list's point in metres: a grid's coordinates in its unit, heights in theirs (a geographic
// list's angles as they are).
Point3 InMetres(const ListSystem& list, const Point3& given) {
  const double unit = list.kind == ListSystem::Kind::Grid ? list.unit : 1.0;
  if (unit == 1.0 && list.heightUnit == 1.0) return given;
  return Point3(given.x * unit, given.y * unit, given.z * list.heightUnit);
}

// A point in metres in the list's own units, the inverse of InMetres.
Point3 InListUnits(const ListSystem& list, const Point3& metres) {
  const double unit = list.kind == ListSystem::Kind::Grid ? list.unit : 1.0;
  if (unit == 1.0 && list.heightUnit == 1.0) return metres;
  const double perMetre = 1.0 / unit;
  return Point3(metres.x * perMetre, metres.y * perMetre, metres.z * (1.0 / list.heightUnit));
}

// The pipeline's conversion of a list's units to metres (and back): a grid's coordinates, and
// the heights.
std::string UnitStep(const ListSystem& list, bool toMetres) {
  const std::string plane = list.kind == ListSystem::Kind::Grid ? list.unitName : std::string();
  const std::string& height = list.heightUnitName;
  if (plane.empty() && height.empty()) return std::string();
  const auto part = [](const char* key, const std::string& unit, const char* other) {
    return unit.empty() ? std::string() : std::string(" +") + key + "=" + (other ? other : unit);
  };
  const char* metres = "m";
  return " +step +proj=unitconvert" + part("xy_in", plane, toMetres ? nullptr : metres) +
         part("z_in", height, toMetres ? nullptr : metres) +
         part("xy_out", plane, toMetres ? metres : nullptr) +
         part("z_out", height, toMetres ? metres : nullptr);
}

// Mean of the longitudes and latitudes, degrees; NaN for an empty list. Longitudes on both sides
// of ±180° (more than 180° apart) are averaged on the circle, so that their centre lies between
// them near ±180° and not on the far side of the Earth; others keep their plain mean.
Point3 ProjectionCentre(const PointList& geographic) {
  double sumX = 0.0;
  double sumY = 0.0;
  double west = INFINITY, east = -INFINITY;
  for (const Point3& p : geographic) {
    sumX += p.x;
    sumY += p.y;
    west = std::min(west, p.x);
    east = std::max(east, p.x);
  }
  const double count = static_cast<double>(geographic.size());
  if (east - west > 180.0 && std::isfinite(east - west)) {
    constexpr double kRadians = 3.14159265358979323846 / 180.0;
    double sine = 0.0, cosine = 0.0;
    for (const Point3& p : geographic) {
      sine += std::sin(p.x * kRadians);
      cosine += std::cos(p.x * kRadians);
    }
    return {std::atan2(sine, cosine) / kRadians, sumY / count, 0.0};
  }
  return {sumX / count, sumY / count, 0.0};
}

}  // namespace

bool PlaneSetup::OwnPlane() const {
  return frame == Frame::Plane && !(destinationOnGrid && !destination.projection.empty());
}

bool PlaneSetup::UsesProj() const {
  const auto needs = [](const ListSystem& list) {
    return list.kind == ListSystem::Kind::Geocentric ||
           (list.kind == ListSystem::Kind::Grid && !list.projection.empty());
  };
  return frame == Frame::Geocentric || needs(source) || needs(destination) || !geoid.empty();
}

bool PlaneSetup::Prepare(std::string& problem) {
  if (!UsesProj()) return true;
  if (!geoid.empty() &&
      !MakeOnce(geoid_, std::string(kToRadians) + GeoidStep(geoid) + kToDegrees, problem)) {
    problem = "the geoid grid cannot be read (" + problem + ")";
    return false;
  }
  for (const bool isSource : {true, false}) {
    const ListSystem& list = isSource ? source : destination;
    ProjOperation& grid = isSource ? sourceGrid_ : destinationGrid_;
    ProjOperation& cart = isSource ? sourceCart_ : destinationCart_;
    if (list.kind == ListSystem::Kind::Grid && !list.projection.empty() &&
        !MakeOnce(
            grid,
            std::string(kToRadians) + " +step " + ProjectionStep(list, list.ellipsoid.ellipsoid),
            problem)) {
      return false;
    }
    if ((list.kind == ListSystem::Kind::Geocentric || frame == Frame::Geocentric) &&
        !MakeOnce(cart, std::string(kToRadians) + " +step " + CartStep(list.ellipsoid.ellipsoid),
                  problem)) {
      return false;
    }
  }
  return true;
}

bool PlaneSetup::PreparePlanes(std::string& problem) {
  if (OwnPlane() || frame != Frame::Plane) return true;
  // The plane of a grid of PROJ's, on the figure each list is projected on.
  for (const bool isSource : {true, false}) {
    const ListSystem& list = isSource ? source : destination;
    if (!MakeOnce(isSource ? sourcePlane_ : destinationPlane_,
                  std::string(kToRadians) + " +step " + ProjectionStep(destination, Figure(list)),
                  problem)) {
      return false;
    }
  }
  return true;
}

const Ellipsoid& PlaneSetup::Figure(const ListSystem& list) const {
  const bool shifted = &list == &source && !datumShift.name.empty();
  return (shifted ? destination : list).ellipsoid.ellipsoid;
}

Point3 PlaneSetup::DestinationCentre(const PointList& destinationGiven) const {
  if (destination.kind == ListSystem::Kind::Geographic) return ProjectionCentre(destinationGiven);
  PointList geographic;
  geographic.reserve(destinationGiven.size());
  for (const Point3& q : destinationGiven) geographic.push_back(DestinationGeographic(q));
  return ProjectionCentre(geographic);
}

bool PlaneSetup::ChooseDatumShift(const Point3& centre, std::string& problem) {
  datumShift = DatumShift{};
  datum_ = ProjOperation();
  projectionIgnoresSourceEllipsoid = false;
  if (frame != Frame::Plane || !IsNamed(destination)) return true;
  // Projected with each ellipsoid, one point comes out at the same place when the projection
  // takes no ellipsoid but its own (PROJ's krovak is always on Bessel 1841) or names its figure.
  const Ellipsoid& mine = source.ellipsoid.ellipsoid;
  const Ellipsoid& theirs = destination.ellipsoid.ellipsoid;
  if (destinationOnGrid && !destination.projection.empty() &&
      (mine.a != theirs.a || mine.f != theirs.f)) {
    ProjOperation onMine, onTheirs;
    const std::string start = std::string("+proj=pipeline") + kToRadians + " +step ";
    if (!onMine.Make(start + ProjectionStep(destination, mine), problem) ||
        !onTheirs.Make(start + ProjectionStep(destination, theirs), problem)) {
      return false;
    }
    const Point3 a = onMine.Forward(centre), b = onTheirs.Forward(centre);
    projectionIgnoresSourceEllipsoid = std::hypot(a.x - b.x, a.y - b.y) < kSameProjection;
  }
  const bool wanted = datumChoice == DatumChoice::Proj ||
                      (datumChoice == DatumChoice::Auto && projectionIgnoresSourceEllipsoid);
  if (!wanted || source.datumCrs.empty() || destination.datumCrs.empty()) return true;
  if (!FindDatumShift(source.datumCrs, destination.datumCrs, centre, datumShift, problem)) {
    return false;
  }
  return datumShift.steps.empty() ||
         datum_.Make(std::string("+proj=pipeline") + kToRadians + datumShift.steps + kToDegrees,
                     problem);
}

Point3 PlaneSetup::ToGeographic(const ListSystem& list, const Point3& given, bool isSource) const {
  switch (list.kind) {
    case ListSystem::Kind::Geographic:
      return InMetres(list, given);
    case ListSystem::Kind::Grid:
      if (list.projection.empty()) {
        const GridSpec& g = list.grid;
        return SeriesInverse(given, g.meridian, g.originLatitude, g.scale, g.falseEasting,
                             g.falseNorthing, g.height, list.ellipsoid.ellipsoid);
      }
      return (isSource ? sourceGrid_ : destinationGrid_).Inverse(InMetres(list, given));
    case ListSystem::Kind::Geocentric:
      return (isSource ? sourceCart_ : destinationCart_).Inverse(given);
  }
  return NotFinite();
}

Point3 PlaneSetup::FromGeographic(const ListSystem& list, const Point3& geographic,
                                  bool isSource) const {
  switch (list.kind) {
    case ListSystem::Kind::Geographic:
      return InListUnits(list, geographic);
    case ListSystem::Kind::Grid:
      if (list.projection.empty()) {
        const GridSpec& g = list.grid;
        return SeriesForward(geographic, g.meridian, g.originLatitude, g.scale, g.falseEasting,
                             g.falseNorthing, g.height, list.ellipsoid.ellipsoid);
      }
      return InListUnits(list, (isSource ? sourceGrid_ : destinationGrid_).Forward(geographic));
    case ListSystem::Kind::Geocentric:
      return (isSource ? sourceCart_ : destinationCart_).Forward(geographic);
  }
  return NotFinite();
}

Point3 PlaneSetup::GeographicToFrame(const ListSystem& list, const Point3& geographic,
                                     bool isSource) const {
  if (frame == Frame::Geocentric) return (isSource ? sourceCart_ : destinationCart_).Forward(geographic);
  if (!OwnPlane()) return (isSource ? sourcePlane_ : destinationPlane_).Forward(geographic);
  return SeriesForward(geographic, centralMeridian, originLatitude, scale, falseEasting,
                       falseNorthing, projectionHeight, Figure(list));
}

Point3 PlaneSetup::FrameToGeographic(const ListSystem& list, const Point3& framePoint,
                                     bool isSource) const {
  if (frame == Frame::Geocentric) return (isSource ? sourceCart_ : destinationCart_).Inverse(framePoint);
  if (!OwnPlane()) return (isSource ? sourcePlane_ : destinationPlane_).Inverse(framePoint);
  return SeriesInverse(framePoint, centralMeridian, originLatitude, scale, falseEasting,
                       falseNorthing, projectionHeight, Figure(list));
}

Point3 PlaneSetup::SourceToFrame(const Point3& given) const {
  if (frame == Frame::Geocentric && source.kind == ListSystem::Kind::Geocentric) return given;
  Point3 geographic = ToGeographic(source, given, true);
  if (!geoid.empty()) geographic.z = geoid_.Forward(geographic).z;
  if (datum_.Valid()) geographic = datum_.Forward(geographic);
  return GeographicToFrame(source, geographic, true);
}

Point3 PlaneSetup::DestinationToFrame(const Point3& given) const {
  if (frame == Frame::Plane && destinationOnGrid) return InMetres(destination, given);
  if (frame == Frame::Geocentric && destination.kind == ListSystem::Kind::Geocentric) return given;
  return GeographicToFrame(destination, ToGeographic(destination, given, false), false);
}

Point3 PlaneSetup::FrameToDestination(const Point3& framePoint) const {
  if (frame == Frame::Plane && destinationOnGrid) return InListUnits(destination, framePoint);
  if (frame == Frame::Geocentric && destination.kind == ListSystem::Kind::Geocentric) {
    return framePoint;
  }
  return FromGeographic(destination, FrameToGeographic(destination, framePoint, false), false);
}

Point3 PlaneSetup::FrameToDestinationGeographic(const Point3& framePoint) const {
  if (frame == Frame::Plane && destinationOnGrid) {
    return ToGeographic(destination, FrameToDestination(framePoint), false);
  }
  return FrameToGeographic(destination, framePoint, false);
}

Point3 PlaneSetup::DestinationGeographic(const Point3& given) const {
  return ToGeographic(destination, given, false);
}

Point3 PlaneSetup::SourceGeographic(const Point3& given) const {
  return ToGeographic(source, given, true);
}

Point3 PlaneSetup::MapPoint(const Point3& destinationGiven) const {
  if (frame == Frame::Plane) return DestinationToFrame(destinationGiven);
  if (destination.kind == ListSystem::Kind::Grid) return InMetres(destination, destinationGiven);
  const Point3 geographic = DestinationGeographic(destinationGiven);
  return SeriesForward(geographic, centralMeridian, originLatitude, 1.0, 0.0, 0.0, 0.0,
                       destination.ellipsoid.ellipsoid);
}

bool WithinArea(const AreaOfUse& area, const Point3& geographic) {
  if (!area.known) return true;
  if (!std::isfinite(geographic.x) || !std::isfinite(geographic.y)) return false;
  const double height = area.north - area.south;
  if (geographic.y < area.south - kAreaMargin * height ||
      geographic.y > area.north + kAreaMargin * height) {
    return false;
  }
  // A box across ±180° has its west edge east of its east edge.
  const double width =
      area.east >= area.west ? area.east - area.west : area.east + 360.0 - area.west;
  const double west = area.west - kAreaMargin * width;
  const double span = width * (1.0 + 2.0 * kAreaMargin);
  if (span >= 360.0) return true;
  const double east = std::fmod(std::fmod(geographic.x - west, 360.0) + 360.0, 360.0);
  return east <= span;
}

double DomainLongitude(double latitude) {
  const double beyond = std::fabs(latitude);
  if (!(beyond <= 90.0)) return NAN;
  if (beyond == 90.0) return 180.0;
  if (beyond <= kDomainLatitude) return kDomainLongitude;
  // The largest longitude difference at which the series' error away from the meridian (the
  // forward projection's, and the inverse's on the ground, against PROJ 9.1's exact +proj=tmerc;
  // the meridian arc's truncation, the same on and off the meridian, taken out) stays within
  // 1 mm, measured at each latitude on WGS 84, Krassovsky, Bessel, Clarke 1880, International
  // 1924 and Airy alike, rounded down to 0.05°. Between two rows the lower latitude's, since the
  // reach grows towards the pole.
  static const struct {
    double latitude, longitude;
  } kReach[] = {{80, 6.25},    {82, 6.45},     {84, 6.65},     {86, 7.0},
                {88, 7.65},    {89, 8.3},      {89.5, 9.05},   {89.9, 11.0},
                {89.99, 14.4}, {89.999, 18.7}, {89.9999, 24.0}};
  double reach = kReach[0].longitude;
  for (const auto& row : kReach) {
    if (beyond >= row.latitude) reach = row.longitude;
  }
  return reach;
}

double PlaneSetup::OutsideDomain(const Point3& geographic) const {
  // The series serve the plane, or the destination's own grid in geocentric space.
  const bool ownGrid = destination.kind == ListSystem::Kind::Grid && destination.projection.empty();
  if (!OwnPlane() && !ownGrid) {
    return std::isfinite(geographic.x) && std::isfinite(geographic.y) ? 0.0 : NAN;
  }
  // A latitude past a pole (a grid's inverse far outside its zone gives one) is outside by as
  // much.
  const double pastPole = std::fabs(geographic.y) - 90.0;
  if (pastPole > 0.0) {
    return std::isfinite(geographic.x) && std::isfinite(pastPole) ? pastPole : NAN;
  }
  const double longitude =
      std::fabs(Wrapped(geographic.x - DomainMeridian())) - DomainLongitude(geographic.y);
  if (!std::isfinite(longitude)) return NAN;
  return std::max(0.0, longitude);
}

double PlaneSetup::DomainMeridian() const {
  return OwnPlane() ? centralMeridian : destination.grid.meridian;
}

std::string PlaneSetup::SourceSteps() const {
  if (!Finite({centralMeridian, originLatitude, falseEasting, falseNorthing, projectionHeight,
               scale})) {
    return std::string();
  }
  std::string steps;
  const Ellipsoid& ellipsoid = source.ellipsoid.ellipsoid;
  // To longitude and latitude in radians, unless the list is in the frame already.
  const bool inFrame = frame == Frame::Geocentric && source.kind == ListSystem::Kind::Geocentric;
  if (inFrame) return steps;
  switch (source.kind) {
    case ListSystem::Kind::Geographic:
      steps += kToRadians + UnitStep(source, true);
      break;
    case ListSystem::Kind::Grid:
      steps += UnitStep(source, true);
      steps += " +step +inv " + (source.projection.empty() ? GridSeriesStep(source.grid, ellipsoid)
                                                           : ProjectionStep(source, ellipsoid));
      break;
    case ListSystem::Kind::Geocentric:
      steps += " +step +inv " + CartStep(ellipsoid);
      break;
  }
  if (!geoid.empty()) steps += GeoidStep(geoid);
  steps += datumShift.steps;
  // Into the frame.
  if (frame == Frame::Geocentric) {
    steps += " +step " + CartStep(ellipsoid);
  } else if (!OwnPlane()) {
    steps += " +step " + ProjectionStep(destination, Figure(source));
  } else {
    steps += " +step " + SeriesStep(centralMeridian, originLatitude, scale, falseEasting,
                                    falseNorthing, projectionHeight, Figure(source));
  }
  return steps;
}

std::string PlaneSetup::DestinationSteps() const {
  if (!Finite({centralMeridian, originLatitude, falseEasting, falseNorthing, projectionHeight,
               scale})) {
    return std::string();
  }
  const Ellipsoid& ellipsoid = destination.ellipsoid.ellipsoid;
  if (frame == Frame::Plane && destinationOnGrid) return UnitStep(destination, false);
  if (frame == Frame::Geocentric && destination.kind == ListSystem::Kind::Geocentric) {
    return std::string();
  }
  std::string steps;
  // Out of the frame to longitude and latitude in radians.
  if (frame == Frame::Geocentric) {
    steps += " +step +inv " + CartStep(ellipsoid);
  } else {
    steps += " +step +inv " + SeriesStep(centralMeridian, originLatitude, scale, falseEasting,
                                         falseNorthing, projectionHeight, ellipsoid);
  }
  // Into the list's own coordinates.
  switch (destination.kind) {
    case ListSystem::Kind::Geographic:
      steps += kToDegrees + UnitStep(destination, false);
      break;
    case ListSystem::Kind::Grid:
      steps +=
          " +step " + (destination.projection.empty() ? GridSeriesStep(destination.grid, ellipsoid)
                                                      : ProjectionStep(destination, ellipsoid));
      steps += UnitStep(destination, false);
      break;
    case ListSystem::Kind::Geocentric:
      steps += " +step " + CartStep(ellipsoid);
      break;
  }
  return steps;
}

bool FindGeoidGrid(const std::string& grid, GeoidGrid& found, std::string& problem) {
  const ProjLibrary* proj = ProjLibraryOrNull(problem);
  if (proj == nullptr) return false;
  PJ* step = proj->proj_create(proj->context, ("+proj=pipeline" + GeoidStep(grid)).c_str());
  const char* path = nullptr;
  int available = 0;
  if (step != nullptr && proj->proj_coordoperation_get_grid_used_count(proj->context, step) == 1) {
    proj->proj_coordoperation_get_grid_used(proj->context, step, 0, nullptr, &path, nullptr,
                                            nullptr, nullptr, nullptr, &available);
  }
  const std::string file = path != nullptr ? path : "";
  if (step != nullptr) proj->proj_destroy(step);
  if (!available || file.empty()) {
    const std::string why = proj->LastError();
    problem = why.empty() ? "PROJ finds no grid of that name" : why;
    return false;
  }
  found = GeoidGrid{file, grid, std::string()};
  std::error_code error;
  if (std::filesystem::path(file).is_absolute()) return true;
  // Found relative to the current folder: named so that the record's pipeline reads it from
  // anywhere.
  const std::string whole = std::filesystem::absolute(file, error).lexically_normal().string();
  if (error) return true;
  if (whole.find_first_of(",\"") == std::string::npos) {
    found.name = whole;
  } else {
    found.folder = std::filesystem::current_path(error).string();
  }
  return true;
}

LocalAxes AxesAt(const Point3& geographic) {
  const double lambda = geographic.x * kRadiansPerDegree;
  const double phi = geographic.y * kRadiansPerDegree;
  const double sl = std::sin(lambda), cl = std::cos(lambda);
  const double sp = std::sin(phi), cp = std::cos(phi);
  LocalAxes axes;
  axes.east[0] = -sl, axes.east[1] = cl, axes.east[2] = 0.0;
  axes.north[0] = -sp * cl, axes.north[1] = -sp * sl, axes.north[2] = cp;
  axes.up[0] = cp * cl, axes.up[1] = cp * sl, axes.up[2] = sp;
  return axes;
}

void PlaneSetup::UseGrid(const GridSpec& grid) {
  centralMeridian = grid.meridian;
  originLatitude = grid.originLatitude;
  falseEasting = grid.falseEasting;
  falseNorthing = grid.falseNorthing;
  projectionHeight = grid.height;
  scale = grid.scale;
  destinationOnGrid = true;
}

bool PlaneSetup::Complete(const PointList& destinationGiven, std::string& problem) {
  if (frame == Frame::Plane && destination.kind == ListSystem::Kind::Grid) UseGrid(destination.grid);
  if (!Prepare(problem)) return false;
  // The plane of the tool's series (in geocentric space, the one the picture maps the points in)
  // is centred on the paired destination points, and PROJ chooses a datum shift there.
  Point3 centre(NAN, NAN, NAN);
  if (!destinationOnGrid || IsNamed(destination)) centre = DestinationCentre(destinationGiven);
  if (!ChooseDatumShift(centre, problem) || !PreparePlanes(problem)) return false;
  if (destinationOnGrid) return true;
  centralMeridian = centre.x;
  originLatitude = centre.y;
  return true;
}

}  // namespace Quorvane
