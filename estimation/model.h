// The transformation models a run can fit, each described once: its parameters, its components
// (the parts fitted as least-squares problems of their own), how it is fitted, linearised for its
// statistics, applied to a point, and written as an affine map.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <ceres/solver.h>

#include "common/point_list.h"
#include "estimation/blunder_removal.h"
#include "estimation/fit_statistics.h"
#include "estimation/fit_transform.h"

namespace Quorvane {

/// Which model, with its settings.
struct Model {
  enum class Kind {
    Similarity,  // destination = scale · Rz(rz) · (source + t) in three dimensions
    Site,        // a horizontal similarity and a vertical shift or plane, fitted apart
  };
  enum class Vertical {
    Plane,     // H' = H + tz + slopeNorth · N + slopeEast · E
    Constant,  // H' = H + tz
  };
  Kind kind = Kind::Similarity;
  bool fixScale = false;             // site: the horizontal scale held at exactly 1
  Vertical vertical = Vertical::Plane;  // site: the vertical part
};

/// The model's name as the command line and the files give it: "similarity" or "site".
const char* ModelName(const Model& model);

/// Every parameter a model can have.
enum class Parameter { Tx, Ty, Tz, Rz, Scale, SlopeNorth, SlopeEast };

/// How a parameter is named in files and shown with its precision.
struct ParameterInfo {
  const char* name;      // "tx", …, "slopeNorth": the member name in the record
  const char* unit;      // of its σ in the quality block: "m", "arcsec", "ppm"
  double factor;         // from the parameter's own unit (metres, radians, none) to `unit`
  int decimals;          // of its σ in the quality block
};
const ParameterInfo& InfoOf(Parameter parameter);

/// The fitted values of every parameter of either model: the similarity's seven scalars (rx and
/// ry stay 0), to which the site model adds its slopes. The site model uses tx, ty, rz and scale
/// horizontally and tz as the vertical shift.
struct ModelParameters {
  TransformParams transform;
  double slopeNorth = 0.0;  // no unit
  double slopeEast = 0.0;   // no unit
};

/// The value of one parameter, in its own unit (metres, radians or none).
double ValueOf(const ModelParameters& params, Parameter parameter);

/// A part of a model that is fitted as a least-squares problem of its own, with its own
/// statistics.
struct Component {
  const char* name;                    // "", "horizontal" or "vertical"
  ComponentLayout layout;              // the residual rows of each pair
  std::vector<Parameter> parameters;   // in the order of its covariance
};

/// The components of a model, in the order the outputs list them: the similarity's one; the
/// site model's horizontal and vertical parts.
std::vector<Component> ComponentsOf(const Model& model);

/// Every parameter of a model, in the order the record lists them.
std::vector<Parameter> ParametersOf(const Model& model);

/// How a fit ended.
struct FitOutcome {
  /// A fit to use: not a solver failure, a finite cost and finite parameters.
  bool usable = false;
  /// The report's first line without its line end: the solver's one-line summary, or for a
  /// model solved in closed form, its own.
  std::string summaryLine;
  /// The solver stopped at its iteration limit (NO_CONVERGENCE).
  bool stoppedEarly = false;
  /// The solver's message, for the warnings and errors that quote it.
  std::string message;
  /// Σ|v|² over the fitted pairs of every component, square metres (for the similarity twice the
  /// solver's final cost).
  double sumOfSquares = 0.0;
  /// Per component: whether its pairs determine it (DeterminesTransform for a similarity part;
  /// three pairs spanning a plane for an inclined vertical plane; one pair for a shift).
  std::vector<bool> determined;
  /// The solver's whole summary, for the similarity (empty otherwise).
  ceres::Solver::Summary summary;
};

/// Fits every component of `model` to the pairs (source[i], destination[i]) that used[c][i]
/// marks for component c, i below source.size(); plane coordinates in metres. The similarity is
/// fitted by FitTransform (`maxIterations` caps the solver's iterations where it is not 0); the
/// site model by its closed forms.
FitOutcome FitModel(const Model& model, const PointList& source, const PointList& destination,
                    const std::vector<std::vector<bool>>& used, ModelParameters& params,
                    int maxIterations = 0);

/// Sets the outcome's summary line and sum of squares for the fit in `params` to the pairs `used`
/// marks (and the similarity's determination; the site model's parts set theirs when fitted): the solver's one-line summary for the similarity; for the site model
/// "Site calibration, least squares in closed form: horizontal N pairs, vertical M pairs".
void Summarise(const Model& model, const PointList& source, const PointList& destination,
               const std::vector<std::vector<bool>>& used, const ModelParameters& params,
               FitOutcome& outcome);

/// Fits component `c` alone to the pairs `used` marks, the others' parameters unchanged; false
/// when that gives no usable result.
bool FitComponent(const Model& model, std::size_t c, const PointList& source,
                  const PointList& destination, const std::vector<bool>& used,
                  ModelParameters& params, FitOutcome& outcome);

/// Pair i's part in component `c` at `params`: residual rows and their derivatives by the
/// component's parameters in its order.
void LineariseComponent(const Model& model, std::size_t c, const ModelParameters& params,
                        const Point3& source, const Point3& destination, PairLinearisation& out);

/// The statistics of component `c` at `params` over the pairs `used` marks.
FitStatistics ComputeModelStatistics(const Model& model, std::size_t c, const PointList& source,
                                     const PointList& destination, const std::vector<bool>& used,
                                     const ModelParameters& params);

/// Data snooping on component `c` (SnoopComponent), with its refit by FitComponent; `progress`
/// is told the number of removals so far and may be empty.
void SnoopModel(const Model& model, std::size_t c, const PointList& source,
                const PointList& destination, std::vector<bool>& used, ModelParameters& params,
                FitOutcome& outcome, FitStatistics& stats, std::vector<BlunderRemoval>& removals,
                const std::function<void(std::size_t)>& progress);

/// A projected source point (easting, northing, height, metres) carried through the fitted model.
/// For the similarity exactly TransformPoint; for the site model the horizontal similarity and
/// the height from the vertical part at the point's own easting and northing.
Point3 ApplyModel(const Model& model, const ModelParameters& params, const Point3& point);

/// The fitted model as the affine map x' = S·x + offset on plane points, the terms of PROJ's
/// +proj=affine: s11 … s33 row by row and xoff, yoff, zoff.
struct AffineTerms {
  double s[3][3];
  double offset[3];
};
AffineTerms AffineOf(const Model& model, const ModelParameters& params);

/// The model as a formula over plane points, as the record's "model" member gives it.
std::string FormulaOf(const Model& model);

}  // namespace Quorvane
