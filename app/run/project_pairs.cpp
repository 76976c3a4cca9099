// The frame: both lists taken into the frame the model is fitted in, and held to its domain.
#include "app/run/run_steps.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace Quorvane {

namespace {

// Why a point of a list lies outside the projection's domain, likely: latitude and longitude
// swapped, or a grid's zone number in front of the eastings that false-easting lacks.
std::string DomainCause(const PlaneSetup& plane, const ListSystem& list, const Point3& given,
                        const Point3& geographic) {
  if (list.kind == ListSystem::Kind::Geographic &&
      plane.OutsideDomain(Point3(geographic.y, geographic.x, geographic.z)) == 0.0) {
    return " (latitude and longitude swapped?)";
  }
  if (list.kind == ListSystem::Kind::Grid && list.projection.empty() &&
      std::fabs(given.x - list.grid.falseEasting) > 1e6) {
    const double zone = std::floor(given.x / 1e6);
    if (zone >= 1 && zone <= 120 && std::fabs(given.x - (zone * 1e6 + 500000)) < 1e6) {
      char text[160];
      std::snprintf(text, sizeof text,
                    " (the eastings carry the zone number %.0f in front: false-easting=%.0f?)",
                    zone, zone * 1e6 + 500000);
      return text;
    }
  }
  return std::string();
}

// Paired points are held to the projection's domain as --apply points are: outside it the series
// lose their accuracy, and a pair there is most often a mistake of the input.
bool PairsInTheDomain(Step& step, const Registration& run) {
  const PlaneSetup& plane = run.plane;
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    for (const bool isSource : {true, false}) {
      const Point3& given = isSource ? run.source[i] : run.destination[i];
      const Point3 geographic =
          isSource ? plane.SourceGeographic(given) : plane.DestinationGeographic(given);
      const std::string off = OffTheEarth(isSource ? plane.source : plane.destination, given,
                                          geographic, isSource ? "source" : "destination");
      if (!off.empty()) {
        step.errors << "quorvane: " << (isSource ? "source" : "destination") << " point " << i + 1
                    << " (counting from 1; given as " << given.x << ',' << given.y << ',' << given.z
                    << ") " << off << kNothingWritten;
        return false;
      }
      if (plane.OutsideDomain(geographic) == 0.0) continue;
      char coordinates[100];
      std::snprintf(coordinates, sizeof coordinates, "%.12g,%.12g,%.12g", given.x, given.y,
                    given.z);
      step.errors << "quorvane: " << (isSource ? "source" : "destination") << " point " << i + 1
                  << " (counting from 1; given as " << coordinates
                  << ") lies outside the projection's domain: "
                  << DomainReach(geographic, plane.DomainMeridian(), "")
                  << DomainCause(plane, isSource ? plane.source : plane.destination, given,
                                 geographic)
                  << kNothingWritten;
      return false;
    }
  }
  return true;
}

// What the frame did about the datums that the user should know: a projection that ignores the
// source's ellipsoid, where the source was not carried to the destination's datum, and an
// operation of PROJ's that carries nothing.
void WarnAboutTheDatum(Step& step, const PlaneSetup& plane) {
  const DatumShift& shift = plane.datumShift;
  if (plane.projectionIgnoresSourceEllipsoid && shift.name.empty()) {
    step.Warn("the destination's projection takes no ellipsoid but its own (" +
              step.Quoted(plane.destination.ellipsoid.name) +
              "): the source's longitudes and latitudes on " +
              step.Quoted(plane.source.ellipsoid.name) +
              " go into it as if they were on that one, and the fit takes up the difference (a "
              "scale of some hundred ppm, and centimetres over a few kilometres); " +
              (plane.datumChoice == PlaneSetup::DatumChoice::None
                   ? "without --datum-shift none, PROJ carries them to the destination's datum "
                     "first"
                   : "name the source's CRS (--source-crs), and PROJ carries them to the "
                     "destination's datum first"));
  }
  if (!shift.name.empty() && shift.ballpark) {
    step.Warn("PROJ knows no transformation from the source's datum to the destination's: its " +
              step.Quoted(shift.name, 200) +
              " keeps the longitudes and latitudes as they are, and the fit takes up the whole "
              "datum change");
  }
}

// Each list's points held to the area of use of the CRS it is named by.
void WarnOutsideTheAreas(Step& step, const Registration& run) {
  const PlaneSetup& plane = run.plane;
  for (const bool isSource : {true, false}) {
    const ListSystem& list = isSource ? plane.source : plane.destination;
    if (!list.area.known) continue;
    OutsideArea outside{list, isSource ? "--source-crs" : "--destination-crs",
                        isSource ? "source point" : "destination point",
                        isSource ? "source points" : "destination points", false};
    const PointList& points = isSource ? run.source : run.destination;
    for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
      const Point3 geographic =
          isSource ? plane.SourceGeographic(points[i]) : plane.DestinationGeographic(points[i]);
      if (WithinArea(list.area, geographic)) continue;
      if (outside.labels.empty()) outside.given = GivenText(points[i]);
      outside.labels.push_back(std::to_string(i + 1) +
                               (run.names.empty() ? "" : " " + step.Quoted(run.names[i])));
    }
    WarnOutsideTheArea(step, outside);
  }
}

}  // namespace

std::string GivenText(const Point3& given) {
  char text[100];
  std::snprintf(text, sizeof text, "%.12g,%.12g,%.12g", given.x, given.y, given.z);
  return text;
}

void WarnOutsideTheArea(Step& step, const OutsideArea& outside) {
  const std::size_t count = outside.labels.size();
  if (count == 0) return;
  constexpr std::size_t kShown = 5;
  std::string text = count == 1 ? std::string(outside.one) + " " + outside.labels[0] +
                                      " (counting from 1; given as " + outside.given + ") lies"
                                : std::string(outside.several) + " ";
  for (std::size_t k = 0; count > 1 && k < count && k < kShown; ++k) {
    text += (k == 0 ? "" : k + 1 == count ? " and " : ", ") + outside.labels[k];
  }
  if (count > kShown) text += " and " + std::to_string(count - kShown) + " more";
  if (count > 1) text += " (counting from 1) lie";
  const AreaOfUse& area = outside.list.area;
  const ListSystem& list = outside.list;
  char box[160];
  std::snprintf(box, sizeof box, "longitudes %.2f to %.2f, latitudes %.2f to %.2f", area.west,
                area.east, area.south, area.north);
  text += " outside the area of use of " + std::string(outside.option) + " " +
          (list.crsCode.empty() ? "" : list.crsCode + " ") + step.Quoted(list.crsName, 80) + " (" +
          box + ") by more than a tenth of its extent: " +
          (outside.images ? std::string(count == 1 ? "is the point" : "are the points") +
                                " in the source's system, its coordinates in their order?"
                          : std::string(count == 1 ? "is it" : "are they") +
                                " in that CRS, its coordinates in their order?");
  step.Warn(text);
}

std::string OffTheEarth(const ListSystem& list, const Point3& given, const Point3& geographic,
                        const char* which) {
  // Survey points lie within some kilometres of the ellipsoid; 100 km is off the Earth.
  constexpr double kOffTheEarth = 100e3;  // metres
  if (list.kind != ListSystem::Kind::Geocentric || std::fabs(geographic.z) <= kOffTheEarth) {
    return std::string();
  }
  char text[200];
  std::snprintf(text, sizeof text,
                "lies %.1f km %s the ellipsoid, where the %s list's geocentric X, Y, Z (metres) "
                "put it",
                std::fabs(geographic.z) / 1000, geographic.z < 0 ? "below" : "above", which);
  // Degrees and a height read as metres from the Earth's centre.
  const bool angles = std::fabs(given.x) <= 180.0 && std::fabs(given.y) <= 90.0;
  return std::string(text) + (angles ? " (longitude, latitude and height given for X, Y, Z?)" : "");
}

std::string DomainReach(const Point3& geographic, double meridian, const char* why) {
  std::ostringstream text;
  const double latitude = std::fabs(geographic.y);
  if (!(latitude > kDomainLatitude && latitude <= 90.0)) {
    text << "more than " << kDomainLongitude << " degrees of longitude from the central meridian "
         << meridian << " or " << kDomainLatitude << " degrees of latitude from the equator" << why;
    return text.str();
  }
  // Around a pole a site spans every longitude, which no central meridian serves.
  text << "more than " << DomainLongitude(geographic.y)
       << " degrees of longitude from the central meridian " << meridian << " at latitude "
       << geographic.y << ", beyond which the series err by more than 1 mm (a site around the "
       << "pole needs its destination in a polar grid: --destination-crs "
       << (geographic.y > 0 ? "EPSG:5041, UPS North" : "EPSG:5042, UPS South") << ")";
  return text.str();
}

// The frame the model is fitted in, and both lists in it; a pair without finite coordinates
// there is refused.
bool ProjectPairs(Step& step, Registration& run) {
  run.plane = step.settings.frame;
  PlaneSetup& plane = run.plane;
  std::string problem;
  if (!plane.Complete(run.destination, problem)) {
    step.errors << "quorvane: the frame of the fit could not be set up: " << problem
                << kNothingWritten;
    return false;
  }
  WarnAboutTheDatum(step, plane);
  run.planeSource.reserve(run.source.size());
  for (const Point3& p : run.source) run.planeSource.push_back(plane.SourceToFrame(p));
  run.planeDestination.reserve(run.destination.size());
  for (const Point3& q : run.destination) run.planeDestination.push_back(plane.DestinationToFrame(q));
  if (plane.frame == PlaneSetup::Frame::Geocentric) {
    run.localAxes.reserve(run.source.size());
    for (std::size_t i = 0; i < run.source.size(); ++i) {
      run.localAxes.push_back(AxesAt(plane.DestinationGeographic(run.destination[i])));
    }
  }
  // A pair with a coordinate that is not finite (from "nan", "inf" or an overflowing number in
  // the input, or a centre that is not finite) cannot be fitted: say which point, first in pair
  // order, and stop before anything reaches the report.
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    const bool sourceUnusable = !IsFinite(run.planeSource[i]);
    if (sourceUnusable || !IsFinite(run.planeDestination[i])) {
      const Point3& given = sourceUnusable ? run.source[i] : run.destination[i];
      step.errors << "quorvane: " << (sourceUnusable ? "source" : "destination") << " point "
                  << i + 1 << " (counting from 1; given as " << given.x << ',' << given.y << ','
                  << given.z << ") has no finite "
                  << (plane.frame == PlaneSetup::Frame::Plane ? "plane" : "geocentric")
                  << " coordinates";
      if (sourceUnusable && !plane.geoid.empty() && IsFinite(given)) {
        step.errors << " (outside the geoid grid " << step.Quoted(plane.geoid, kLongestQuotedPath)
                    << "?)";
      }
      if (!plane.destinationOnGrid &&
          (!std::isfinite(plane.centralMeridian) || !std::isfinite(plane.originLatitude))) {
        step.errors << ", because the projection centre, the mean of the destination points, is "
                       "not finite";
      }
      step.errors << kNothingWritten;
      return false;
    }
  }
  if (!PairsInTheDomain(step, run)) return false;
  WarnOutsideTheAreas(step, run);
  return true;
}

}  // namespace Quorvane
