// Accuracy near the poles, not a timing: at each latitude from 80° to within 0.0001° of a pole,
// the longitude difference up to which the tool's series stay within 1 mm of PROJ's exact
// transverse Mercator (+proj=tmerc, Poder/Engsager), next to the reach DomainLongitude allows.
// The error counted is the part that grows away from the central meridian: the forward
// projection's plane error, and the inverse's ground error for a plane point of the exact
// projection, each less the same error on the central meridian (the meridian arc's truncation,
// which the accuracy page gives apart). Both hemispheres; the worst of six ellipsoids.
#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "geodesy/gauss_projector.h"
#include "geodesy/plane_setup.h"

namespace {

using Quorvane::GaussProjector;
using Quorvane::PlaneCoordinates;
using Quorvane::Point3;

constexpr double kBound = 0.001;  // metres: the error a point of the domain may carry
constexpr double kStep = 0.005;   // degrees of longitude between the differences tried

struct Figure {
  double a, rf;
};

// The series' error away from the meridian at longitude difference `dl` and latitude `lat`
// (degrees), metres; infinite where either side gives no finite point.
double ErrorAwayFromTheMeridian(PJ* exact, const Figure& figure, double dl, double lat) {
  const double f = 1.0 / figure.rf, e2 = 2 * f - f * f;
  const GaussProjector series;
  const auto forward = [&](double lon) {
    const PJ_COORD c =
        proj_trans(exact, PJ_FWD, proj_coord(proj_torad(lon), proj_torad(lat), 0, 0));
    return PlaneCoordinates{c.xy.x, c.xy.y};
  };
  const PlaneCoordinates x = forward(dl), x0 = forward(0.0);
  const PlaneCoordinates s = series.Forward(Point3(dl, lat, 0), 0, 0, 0, figure.a, f, 0);
  const PlaneCoordinates s0 = series.Forward(Point3(0, lat, 0), 0, 0, 0, figure.a, f, 0);
  const double plane = std::hypot((s.x - s0.x) - (x.x - x0.x), (s.y - s0.y) - (x.y - x0.y));
  // The inverse: the exact plane point back by the series, against the meridian's own error at
  // the same northing.
  const Point3 back = series.Inverse(x, 0, 0, 0, figure.a, f, 0);
  const Point3 meridian = series.Inverse(PlaneCoordinates{0, x.y}, 0, 0, 0, figure.a, f, 0);
  const PJ_COORD exactMeridian = proj_trans(exact, PJ_INV, proj_coord(0, x.y, 0, 0));
  const double sinLat = std::sin(proj_torad(lat));
  const double w = std::sqrt(1 - e2 * sinLat * sinLat);
  const double primeVertical = figure.a / w, meridional = figure.a * (1 - e2) / (w * w * w);
  const double east = proj_torad(back.x - dl) * primeVertical * std::cos(proj_torad(lat));
  const double north =
      proj_torad((back.y - meridian.y) - (lat - proj_todeg(exactMeridian.lp.phi))) * meridional;
  const double ground = std::hypot(east, north);
  return std::isfinite(plane) && std::isfinite(ground) ? std::max(plane, ground) : INFINITY;
}

}  // namespace

int main() {
  const Figure figures[] = {{6378137.0, 298.257223563}, {6378245.0, 298.3},
                            {6377397.155, 299.1528128}, {6378249.2, 293.4660212936},
                            {6378388.0, 297.0},         {6377563.396, 299.3249646}};
  const double latitudes[] = {80, 82, 84, 86, 88, 89, 89.5, 89.9, 89.99, 89.999, 89.9999};
  std::printf("latitude  series within 1 mm up to  DomainLongitude\n");
  for (const double lat : latitudes) {
    double reach = 180.0;
    for (const Figure& figure : figures) {
      char definition[160];
      std::snprintf(definition, sizeof definition,
                    "+proj=tmerc +lat_0=0 +lon_0=0 +k_0=1 +x_0=0 +y_0=0 +a=%.17g +rf=%.17g",
                    figure.a, figure.rf);
      PJ* exact = proj_create(PJ_DEFAULT_CTX, definition);
      double last = 0.0;
      for (double dl = kStep; dl < 180.0; dl += kStep) {
        const double error = std::max(ErrorAwayFromTheMeridian(exact, figure, dl, lat),
                                      ErrorAwayFromTheMeridian(exact, figure, dl, -lat));
        if (!(error <= kBound)) break;
        last = dl;
      }
      reach = std::min(reach, last);
      proj_destroy(exact);
    }
    std::printf("%8g  %22.3f°  %14g°\n", lat, reach, Quorvane::DomainLongitude(lat));
  }
  return 0;
}
