// The transformation models a run can fit. Each is one class behind the TransformModel interface,
// which the fit, the statistics, snooping, --apply, the record, the PROJ pipeline, the report and
// the picture all take: none of them asks which model it is.
//
// Adding a model: one file with a class that implements TransformModel, one enumerator in
// Model::Kind and one line in the table of model.cpp (its --model name and its maker).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <ceres/solver.h>

#include "common/point_list.h"
#include "estimation/blunder_removal.h"
#include "estimation/fit_statistics.h"
#include "estimation/fit_transform.h"

namespace Quorvane {

/// Which model a run fits, with its settings: what the command line asks for.
struct Model {
  enum class Kind {
    Similarity,         // destination = scale · Rz(rz) · (source + t) in the plane, in three dimensions
    Site,               // a horizontal similarity and a height surface in the plane, fitted apart
    Helmert,            // the seven-parameter transformation of geocentric coordinates (Bursa–Wolf)
    MolodenskyBadekas,  // the same about the centroid of the source points
  };
  enum class Vertical {
    Plane,     // H' = H + tz + slopeNorth · dN + slopeEast · dE
    Constant,  // H' = H + tz
    Quadric,   // the plane + qNN · dN² + qNE · dN · dE + qEE · dE², dN and dE in kilometres
    Auto,      // whichever of the three predicts left-out pairs best (its PRESS)
  };
  /// How the geocentric models' rotations are signed (EPSG methods 1033 and 1032): the same
  /// transformation, each rotation reported with the opposite sign.
  enum class Convention { PositionVector, CoordinateFrame };

  Kind kind = Kind::Similarity;
  bool fixScale = false;                // site: the horizontal scale held at exactly 1
  Vertical vertical = Vertical::Plane;  // site: the vertical part
  Convention convention = Convention::PositionVector;  // Helmert, Molodensky–Badekas
  /// The similarity's rotation and scale act about the centroid of the fitted source points
  /// instead of the plane's origin: for a grid, whose origin lies far from the points.
  bool aboutCentroid = false;
};

/// The model's name as --model takes it: "similarity", "site", "helmert", "molodensky-badekas".
const char* ModelName(const Model& model);

/// The model of a --model name, with default settings; false for a name no model has.
bool ModelByName(const std::string& name, Model::Kind& kind);

/// The coordinates a model is fitted in.
enum class Frame {
  Plane,       // easting, northing, height, metres: the set-up's plane
  Geocentric,  // X, Y, Z, metres, Earth-centred and Earth-fixed
};

/// The fitted values of a model, each in its own unit, and the point its rotation, scale and
/// slopes act about. A model uses the members it names and leaves the others at their start
/// values.
struct ModelParameters {
  /// tx, ty, tz (metres), rx, ry, rz (radians), scale (no unit): the similarity's seven (rx and
  /// ry stay 0), the site model's horizontal part and height shift, the geocentric models'
  /// seven (position-vector rotations; scale is 1 + s).
  TransformParams transform;
  double slopeNorth = 0.0;  // site: metres per metre
  double slopeEast = 0.0;   // site: metres per metre
  /// Parameters a model has beyond these, in the order of its own table.
  std::vector<double> further;
  /// The reference point (E0, N0, H0 in the plane, or X, Y, Z), metres: the origin of the frame
  /// for the similarity in its centred plane and for Helmert, else the centroid of the source
  /// points of the fit (for the site model, of its horizontal part, with H0 the mean source
  /// height of its vertical part).
  Point3 reference;
  /// The site model's height surface acts about (E0, N0) of this point, the centroid of the
  /// source points of the vertical part: `reference` but where the parts fit different pairs.
  Point3 heightReference;
};

/// How a parameter is named in files and shown with its precision.
struct ParameterInfo {
  std::string name;  // the member name in the record: "tx", …, "slopeNorth"
  const char* unit;  // of its σ in the quality block: "m", "arcsec", "ppm", …
  double factor;     // from the parameter's own unit (metres, radians, none) to `unit`
  int decimals;      // of its σ in the quality block
  /// Its value in its own unit, as reported (a geocentric model's rotations in its convention).
  std::function<double(const ModelParameters&)> value;
};

/// A part of a model that is fitted as a least-squares problem of its own, with its own
/// statistics.
struct Component {
  const char* name;                     // "" for a model's only part, "horizontal", "vertical"
  ComponentLayout layout;               // the residual rows of each pair
  std::vector<std::size_t> parameters;  // indices into the model's Parameters(), covariance order
};

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
  /// Per component: whether its pairs determine it.
  std::vector<bool> determined;
  /// Per component, where it is not determined: how many combinations of its parameters the fit
  /// held at fixed values instead of estimating them (the slope across a line of points); the
  /// statistics count them out of the parameters (empty or 0: none).
  std::vector<int> fixed;
  /// The solver's whole summary, for a model fitted by the solver (empty otherwise).
  ceres::Solver::Summary summary;
};

/// The pairs a model is fitted to, in its frame: source[i] with destination[i], i below
/// source.size() (destination has at least as many points).
struct FramePairs {
  const PointList& source;
  const PointList& destination;
  /// For the geocentric frame, the local axes at each destination point, in which residuals are
  /// given (east, north, up); null in a plane, whose own axes are east, north and height.
  const std::vector<LocalAxes>* axes = nullptr;
  /// The a priori σ of each pair's misclosure (horizontal: of east and of north; vertical: of the
  /// height or up), metres, all above 0; null when the pairs are of one unknown precision (unit
  /// weights, σ0 estimated).
  const std::vector<Precision>* precision = nullptr;
  /// Each pair's epoch, decimal years; null when the pairs have none.
  const std::vector<double>* epochs = nullptr;
};

/// A member of quorvane.json or the record that a model gives: a number, an array of numbers, or
/// a text.
struct ResultMember {
  std::string name{};
  std::vector<double> numbers{};
  bool array = false;    // numbers as an array, even of one
  bool integer = false;  // a whole number, written without a fraction
  std::string text{};    // a text member when not empty
};

/// One transformation model. Pairs are given as FramePairs and the pairs a component fits as a
/// mask `used` (used[i] for pair i, as many entries as pairs); plane and geocentric coordinates
/// are metres.
class TransformModel {
 public:
  virtual ~TransformModel() = default;

  /// The --model name.
  virtual const char* Name() const = 0;
  virtual Frame FrameOf() const = 0;
  /// Every parameter, in the order the record lists them.
  virtual const std::vector<ParameterInfo>& Parameters() const = 0;
  /// The components, in the order the outputs list them.
  virtual const std::vector<Component>& Components() const = 0;

  /// Fits every component c to the pairs used[c] marks, about the reference point the model
  /// takes from them, into `params` (overwritten whole). `maxIterations` caps a solver's
  /// iterations where it is not 0 (models in closed form have none).
  virtual FitOutcome Fit(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                         ModelParameters& params, int maxIterations) const = 0;
  /// Fits component `c` alone to the pairs `used` marks, about the reference point already in
  /// `params`, the other components' parameters unchanged; false when that gives no usable
  /// result. Sets outcome.usable, and the component's entry of outcome.determined where the
  /// model tells it from the fit.
  virtual bool FitComponent(std::size_t c, const FramePairs& pairs, const std::vector<bool>& used,
                            ModelParameters& params, FitOutcome& outcome) const = 0;
  /// Sets the outcome's summary line, sum of squares and the determination of what the fit
  /// itself did not tell, for the fit in `params` to the pairs `used` marks.
  virtual void Summarise(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                         const ModelParameters& params, FitOutcome& outcome) const = 0;
  /// Pair i's part in component `c` at `params`: its residual rows, in the component's layout
  /// (east, north, height or up), and their derivatives by the component's parameters in its
  /// order, into out.jacobian (rows × parameters, row-major).
  virtual void Linearise(std::size_t c, const ModelParameters& params, const FramePairs& pairs,
                         std::size_t i, PairLinearisation& out) const = 0;
  /// A source point in the frame carried through the fitted model.
  virtual Point3 Apply(const ModelParameters& params, const Point3& point) const = 0;

  /// The report's lines between the summary line and the point blocks, each ended by "\n".
  virtual std::string ReportLines(const ModelParameters& params) const = 0;
  /// quorvane.json's members in order ("offset", "rotate", "scale" first).
  virtual std::vector<ResultMember> ResultMembers(const ModelParameters& params) const = 0;
  /// The model as a formula, as the record's "model" member gives it.
  virtual std::string Formula(const ModelParameters& params) const = 0;
  /// The PROJ pipeline step(s) that apply the fitted model in its frame, "+step …" each, numbers
  /// with 17 significant digits; empty when a value is not finite.
  virtual std::string ProjSteps(const ModelParameters& params) const = 0;
  /// Members the record adds after "parameters" (the EPSG method and the +towgs84 terms of the
  /// geocentric models); none for the plane models.
  virtual std::vector<ResultMember> RecordMembers(const ModelParameters& params) const;
  /// The model in the picture's title (UTF-8), after its own title; "" for the similarity.
  virtual std::string PlotTitle() const;
  /// Whether the record's quality gives the correlation matrix of the parameters as well.
  virtual bool RecordsCorrelation() const;
  /// Whether the outputs state the reference point: false only where it is the frame's origin
  /// by definition and the outputs have never named it.
  virtual bool StatesReference(const ModelParameters& params) const;
  /// A model that chooses its own form from the pairs (the site model's --vertical auto) gives
  /// the model it chose for the pairs `used` marks, which then is fitted and reported; null for
  /// a model whose form is fixed.
  virtual std::unique_ptr<const TransformModel> Settled(
      const FramePairs& pairs, const std::vector<std::vector<bool>>& used) const;
};

/// The model `model` chooses, made with its settings.
std::unique_ptr<const TransformModel> MakeModel(const Model& model);

/// The affine map x' = S·x + offset on plane points that a plane model is, the terms of PROJ's
/// +proj=affine: s11 … s33 row by row and xoff, yoff, zoff.
struct AffineTerms {
  double s[3][3];
  double offset[3];
};

/// Its +proj=affine step, "+step +proj=affine …" with 17 significant digits; empty when a term is
/// not finite.
std::string AffineStep(const AffineTerms& affine);

/// "%.17g" of `value`, as the pipelines write their numbers.
std::string PipelineNumber(double value);

// The same over a model chosen by its settings, for callers that hold no model object: each
// makes the model and calls it on plane pairs (no local axes).

/// Components(): the similarity's one; the site model's horizontal and vertical parts.
std::vector<Component> ComponentsOf(const Model& model);
FitOutcome FitModel(const Model& model, const PointList& source, const PointList& destination,
                    const std::vector<std::vector<bool>>& used, ModelParameters& params,
                    int maxIterations = 0);
bool FitComponent(const Model& model, std::size_t c, const PointList& source,
                  const PointList& destination, const std::vector<bool>& used,
                  ModelParameters& params, FitOutcome& outcome);
/// Linearise() of pair (source, destination). out.jacobian may be left null: the rows are then
/// written into storage of the call's own and the derivatives are not given.
void LineariseComponent(const Model& model, std::size_t c, const ModelParameters& params,
                        const Point3& source, const Point3& destination, PairLinearisation& out);
Point3 ApplyModel(const Model& model, const ModelParameters& params, const Point3& point);

/// The statistics of component `c` of `model` at `params` over the pairs `used` marks.
FitStatistics ComputeModelStatistics(const TransformModel& model, std::size_t c,
                                     const FramePairs& pairs, const std::vector<bool>& used,
                                     const ModelParameters& params);
FitStatistics ComputeModelStatistics(const Model& model, std::size_t c, const PointList& source,
                                     const PointList& destination, const std::vector<bool>& used,
                                     const ModelParameters& params);

/// The statistics of a component whose fit held `fixed` combinations of its parameters instead of
/// estimating them (FitOutcome::fixed): those combinations take no redundancy (r grows by
/// `fixed` and σ̂ with it), and the parameters' precision and the pairs' tests are not
/// determined. Nothing changes for `fixed` 0.
void CountOutFixed(FitStatistics& stats, int fixed);

/// Data snooping on component `c` (SnoopComponent), refitting it with FitComponent; `progress`
/// is told the number of removals so far and may be empty.
void SnoopModel(const TransformModel& model, std::size_t c, const FramePairs& pairs,
                std::vector<bool>& used, ModelParameters& params, FitOutcome& outcome,
                FitStatistics& stats, std::vector<BlunderRemoval>& removals,
                const std::function<void(std::size_t)>& progress);

}  // namespace Quorvane
