// The height surfaces' choice and the ellipsoid they lie on for the geocentric models.
//
// Geodetic latitude from geocentric coordinates by the fixed-point iteration
//   φ ← atan2(Z + e²·N(φ)·sin φ, p),  N(φ) = a / √(1 − e²·sin²φ),  p = √(X² + Y²),
// from φ = atan2(Z, p·(1 − e²)) (Bowring's start; Hofmann-Wellenhof et al., GNSS, 2008, 10.2.1):
// near the surface each step gains the factor e²·h/N, and five leave nothing of a double.
#include "estimation/height_surface.h"

#include <cmath>
#include <limits>

#include "estimation/model_support.h"
#include "estimation/site_fit.h"

namespace Quorvane {

using namespace ModelSupport;

const HeightModel kHeightModels[3] = {
    {Model::Vertical::Constant, "constant", 1},
    {Model::Vertical::Plane, "plane", 3},
    {Model::Vertical::Quadric, "quadric", 6},
};

HeightChoice ChooseHeightModel(const PointList& source, const PointList& destination,
                               const std::vector<bool>& used, const Point3& reference,
                               const std::vector<Precision>* precision) {
  HeightChoice choice;
  choice.made = true;
  std::size_t best = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    choice.press[k] =
        PredictionError(source, destination, used, kHeightModels[k].terms, reference, precision);
    if (choice.press[k] < choice.press[best]) best = k;
  }
  choice.chosen = kHeightModels[best].name;
  choice.surface = kHeightModels[best].vertical;
  return choice;
}

std::string HeightChoiceLine(const HeightChoice& choice) {
  if (!choice.made) return std::string();
  std::string line =
      std::string("vertical auto: ") + choice.chosen + ", leave-one-out prediction errors";
  for (std::size_t k = 0; k < 3; ++k) {
    line += std::string(k == 0 ? " " : ", ") + kHeightModels[k].name + "=" +
            (std::isfinite(choice.press[k]) ? Printed("%.4f m", choice.press[k]) : "-");
  }
  return line + "\n";
}

std::vector<ResultMember> HeightChoiceMembers(const HeightChoice& choice) {
  if (!choice.made) return {};
  ResultMember chosen{"verticalChosen"};
  chosen.text = choice.chosen;
  return {chosen, {"predictionErrors", {choice.press[0], choice.press[1], choice.press[2]}, true}};
}

void EllipsoidSurface::Geodetic(const Point3& point, double& longitude, double& latitude) const {
  const double e2 = f_ * (2.0 - f_);
  const double p = std::hypot(point.x, point.y);
  longitude = std::atan2(point.y, point.x);
  latitude = std::atan2(point.z, p * (1.0 - e2));
  for (int step = 0; step < 5; ++step) {
    const double sine = std::sin(latitude);
    const double n = a_ / std::sqrt(1.0 - e2 * sine * sine);
    latitude = std::atan2(point.z + e2 * n * sine, p);
  }
}

void EllipsoidSurface::PlaneTerms(const Point3& centre, double scales[2], double offsets[2]) const {
  double longitude0 = 0.0, latitude0 = 0.0;
  Geodetic(centre, longitude0, latitude0);
  scales[0] = a_ * std::cos(latitude0);
  scales[1] = a_;
  offsets[0] = -scales[0] * longitude0;
  offsets[1] = -scales[1] * latitude0;
}

Point3 EllipsoidSurface::Plane(const Point3& centre, const Point3& point) const {
  double scales[2], offsets[2], longitude = 0.0, latitude = 0.0;
  PlaneTerms(centre, scales, offsets);
  Geodetic(point, longitude, latitude);
  return Point3(scales[0] * longitude + offsets[0], scales[1] * latitude + offsets[1], 0.0);
}

Point3 EllipsoidSurface::Normal(const Point3& point) const {
  double longitude = 0.0, latitude = 0.0;
  Geodetic(point, longitude, latitude);
  return Point3(std::cos(latitude) * std::cos(longitude), std::cos(latitude) * std::sin(longitude),
                std::sin(latitude));
}

EllipsoidSurface::Local EllipsoidSurface::LocalAt(const Point3& point) const {
  double longitude = 0.0, latitude = 0.0;
  Geodetic(point, longitude, latitude);
  const double e2 = f_ * (2.0 - f_);
  const double sl = std::sin(longitude), cl = std::cos(longitude);
  const double sp = std::sin(latitude), cp = std::cos(latitude);
  const double w = std::sqrt(1.0 - e2 * sp * sp);
  const double n = a_ / w, m = a_ * (1.0 - e2) / (w * w * w);
  // The height from the distance along the normal, which holds at any latitude.
  const double h = std::hypot(point.x, point.y) * cp + point.z * sp - a_ * w;
  Local local;
  local.east = Point3(-sl, cl, 0.0);
  local.north = Point3(-sp * cl, -sp * sl, cp);
  local.longitudeRadius = (n + h) * cp;
  local.latitudeRadius = m + h;
  return local;
}

double EllipsoidSurface::EastScale(const Point3& centre) const {
  double scales[2], offsets[2];
  PlaneTerms(centre, scales, offsets);
  return scales[0];
}

std::string EllipsoidSurface::PlaneProjection(const Point3& centre) const {
  double longitude = 0.0, latitude = 0.0;
  Geodetic(centre, longitude, latitude);
  const std::string parallel = PipelineNumber(latitude * 180.0 / kPi);
  return "+proj=eqc +lat_ts=" + parallel + " +lat_0=" + parallel +
         " +lon_0=" + PipelineNumber(longitude * 180.0 / kPi) + " +a=" + PipelineNumber(a_) +
         " +b=" + PipelineNumber(a_);
}

std::string EllipsoidSurface::Figure() const {
  // As the frame's own cart steps name an ellipsoid: PROJ derives the rest from a and f.
  return " +a=" + PipelineNumber(a_) + " +f=" + PipelineNumber(f_);
}

std::string EllipsoidSurface::ToGeodetic() const { return " +step +inv +proj=cart" + Figure(); }
std::string EllipsoidSurface::FromGeodetic() const { return " +step +proj=cart" + Figure(); }

QuadricFit FitHeightSurface(Model::Vertical vertical, const PointList& source,
                            const PointList& destination, const std::vector<bool>& used,
                            const Point3& reference, const std::vector<Precision>* precision,
                            std::string& notDetermined) {
  const std::string pairs = std::to_string(CountOf(used));
  if (vertical == Model::Vertical::Quadric) {
    const QuadricFit fit = FitQuadric(source, destination, used, reference, precision);
    notDetermined = fit.determined ? std::string()
                                   : "the height quadric is not determined by the points given: "
                                     "the " + pairs +
                                         " pairs fitted vertically do not fix its six terms (six "
                                         "at least, not on one conic); the terms they do not fix "
                                         "are left at 0";
    return fit;
  }
  const VerticalFit plane = FitVertical(source, destination, used,
                                        vertical == Model::Vertical::Plane, reference, precision);
  QuadricFit fit;
  fit.tz = plane.tz, fit.slopeNorth = plane.slopeNorth, fit.slopeEast = plane.slopeEast;
  fit.determined = plane.determined, fit.fixed = plane.fixed;
  notDetermined = fit.determined ? std::string()
                                 : "the vertical plane is not determined by the points given: "
                                   "the " + pairs +
                                       " pairs fitted vertically do not span a plane (three at "
                                       "least, not on one line); the slopes across are left at 0";
  return fit;
}

}  // namespace Quorvane
