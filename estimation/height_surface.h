// The height surfaces a model fits to what its other part leaves in the heights (constant, plane,
// quadric, or the one that predicts left-out pairs best), shared by the site model, which fits
// them over its plane, and the geocentric models, which fit them over the destination's
// ellipsoid after the seven.
#pragma once

#include <string>
#include <vector>

#include "common/point_list.h"
#include "estimation/model.h"
#include "estimation/site_fit.h"

namespace Quorvane {

/// A height surface --vertical names, simplest first, with its terms.
struct HeightModel {
  Model::Vertical vertical;
  const char* name;  // as --vertical takes it
  int terms;         // 1 a shift, 3 a plane, 6 a quadric
};
/// The surface `vertical` (a quadric, else the plane FitVertical fits, flat but for Plane) fitted
/// by the site model's closed forms to the heights of `destination` over the plane coordinates
/// of `source` about `reference`, weighted by `precision` where given; a surface other than the
/// quadric has its quadratic terms 0. Where the pairs `used` marks do not determine it,
/// `notDetermined` takes the warning's sentence (what they lack and what the fit held), else "".
QuadricFit FitHeightSurface(Model::Vertical vertical, const PointList& source,
                            const PointList& destination, const std::vector<bool>& used,
                            const Point3& reference, const std::vector<Precision>* precision,
                            std::string& notDetermined);

/// The surfaces --vertical auto chooses from.
extern const HeightModel kHeightModels[3];

/// How --vertical auto chose: the surface, and each candidate's leave-one-out prediction error
/// (metres; infinity for one the pairs do not allow with redundancy).
struct HeightChoice {
  bool made = false;
  const char* chosen = "";  // its name
  Model::Vertical surface = Model::Vertical::Constant;
  double press[3] = {0.0, 0.0, 0.0};
};

/// The choice among kHeightModels by the smallest prediction error (PredictionError, site_fit.h)
/// over the pairs `used` marks of plane points (easting, northing, height, metres) about
/// `reference`; the simpler surface on a tie.
HeightChoice ChooseHeightModel(const PointList& source, const PointList& destination,
                               const std::vector<bool>& used, const Point3& reference,
                               const std::vector<Precision>* precision);

/// The report's line of a choice made, "vertical auto: plane, leave-one-out prediction errors
/// constant=0.0123 m, plane=0.0031 m, quadric=-\n"; "" for none made.
std::string HeightChoiceLine(const HeightChoice& choice);

/// The record's members of a choice made: "verticalChosen" and "predictionErrors".
std::vector<ResultMember> HeightChoiceMembers(const HeightChoice& choice);

/// The destination's ellipsoid as a geocentric model's height surface lies on it: where a
/// geocentric point is in longitude and latitude, and the surface's plane coordinates there.
/// The surface moves a point along the ellipsoid's normal, which changes its ellipsoidal height
/// alone, as PROJ's +inv +proj=cart, a change of the height and +proj=cart do.
class EllipsoidSurface {
 public:
  EllipsoidSurface(double a, double f) : a_(a), f_(f) {}

  /// Geodetic longitude and latitude (radians) of geocentric X, Y, Z (metres).
  void Geodetic(const Point3& point, double& longitude, double& latitude) const;
  /// The surface's plane coordinates of `point` about `centre` (both geocentric): easting
  /// a · cos φ0 · (λ − λ0) and northing a · (φ − φ0), metres, in x and y; z 0. Fixed scales of the
  /// longitude and latitude differences, so that the pipeline computes them after +inv +proj=cart.
  Point3 Plane(const Point3& centre, const Point3& point) const;
  /// The outward unit normal of the ellipsoid at the longitude and latitude of `point`.
  Point3 Normal(const Point3& point) const;
  /// What the derivative of a lift along the normal needs at `point`: its local east and north
  /// unit vectors, and the radii of the longitude and latitude through it, (N + h)·cos φ and
  /// M + h, metres (dλ = east · dX / the first, dφ = north · dX / the second).
  struct Local {
    Point3 east, north;
    double longitudeRadius = 0.0, latitudeRadius = 0.0;
  };
  Local LocalAt(const Point3& point) const;
  /// The PROJ operation from longitude and latitude (radians) to the plane coordinates of Plane
  /// about `centre`, "+proj=eqc …": the equidistant cylindrical projection on the sphere of
  /// radius a, standard parallel and origin at the centre's latitude.
  std::string PlaneProjection(const Point3& centre) const;
  /// The metres of the surface's plane coordinates per radian of longitude and of latitude.
  double EastScale(const Point3& centre) const;
  double NorthScale() const { return a_; }
  /// The PROJ steps from geocentric coordinates to the heights' surface coordinates and back:
  /// " +step +inv +proj=cart +a=… +f=…" before the height steps, and " +step +proj=cart …"
  /// after.
  std::string ToGeodetic() const;
  std::string FromGeodetic() const;
  /// The affine terms that turn longitude and latitude (radians) into the plane coordinates of
  /// Plane about `centre`: x = scales[0] · λ + offsets[0], y = scales[1] · φ + offsets[1].
  void PlaneTerms(const Point3& centre, double scales[2], double offsets[2]) const;

 private:
  std::string Figure() const;
  double a_, f_;
};

}  // namespace Quorvane
