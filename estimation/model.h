// The transformation models a run can fit. Each is one class behind the TransformModel interface,
// which the fit, the statistics, snooping, --apply, the record, the PROJ pipeline, the report and
// the picture all take: none of them asks which model it is.
//
// Adding a model: one file estimation/NAME_model.cpp with a class that implements TransformModel
// and its maker, and one line in the model table of estimation/model.cpp (its --model name, maker,
// frame and the settings it takes).
#pragma once

#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <ceres/solver.h>

#include "common/point_list.h"
#include "estimation/blunder_removal.h"
#include "estimation/fit_statistics.h"

namespace Quorvane {

/// Which model a run fits, with its settings: what the command line asks for. A setting is read
/// only by the models whose table line takes it (ModelEntry::Takes).
struct Model {
  enum class Vertical {
    Plane,     // H' = H + tz + slopeNorth · dN + slopeEast · dE
    Constant,  // H' = H + tz
    Quadric,   // the plane + qNN · dN² + qNE · dN · dE + qEE · dE², dN and dE in kilometres
    Auto,      // whichever of the three predicts left-out pairs best (its PRESS)
    None,      // not given: the site model's plane; the geocentric models' heights with the seven
  };
  /// How the geocentric models' rotations are signed (EPSG methods 1033 and 1032): the same
  /// transformation, each rotation reported with the opposite sign.
  enum class Convention { PositionVector, CoordinateFrame };

  /// The --model name, a name of the model table: "similarity" (the default), "site", …
  std::string name = "similarity";
  bool fixScale = false;                // --fix-scale: the horizontal scale held at exactly 1
  /// --vertical: the height surface. A geocentric model given one fits its seven to the east and
  /// north of each pair alone and the surface to what they leave in the height.
  Vertical vertical = Vertical::None;
  /// The destination's ellipsoid, on which a geocentric model's height surface lies: semi-major
  /// axis (metres) and flattening.
  double heightA = 6378137.0;
  double heightF = 1.0 / 298.257223563;
  Convention convention = Convention::PositionVector;  // --convention
  /// A plane model's rotation and scale act about the centroid of the fitted source points
  /// instead of the plane's origin: for a grid, whose origin lies far from the points.
  bool aboutCentroid = false;
  /// --rates: the model's parameters change linearly with time about t0, their yearly rates
  /// fitted with them from the pairs' epochs.
  bool rates = false;
  /// --reference-epoch: t0, decimal years; NaN for the mean epoch of the fitted pairs rounded to
  /// 0.1 year.
  double referenceEpoch = NAN;
};

/// The coordinates a model is fitted in.
enum class Frame {
  Plane,       // easting, northing, height, metres: the set-up's plane
  Geocentric,  // X, Y, Z, metres, Earth-centred and Earth-fixed
};

/// The settings of Model a model takes, as its table line declares them.
enum ModelSetting : unsigned {
  kTakesFixScale = 1u << 0,    // fixScale
  kTakesVertical = 1u << 1,    // vertical
  kTakesConvention = 1u << 2,  // convention
  kTakesRates = 1u << 3,       // rates and referenceEpoch
};

class TransformModel;

/// One line of the model table.
struct ModelEntry {
  const char* name;  // as --model takes it
  std::unique_ptr<TransformModel> (*make)(const Model& settings);
  Frame frame;
  unsigned settings;  // the ModelSetting flags of the settings it takes

  bool Takes(ModelSetting setting) const { return (settings & setting) != 0; }
};

/// Every model, in the order --help lists them; the first is the default.
const std::vector<ModelEntry>& ModelTable();

/// The table line of the model called `name`; null for a name no model has.
const ModelEntry* FindModel(const std::string& name);

/// The --model names of the models `which` accepts (every model when null), in table order, as a
/// sentence lists them: "a", "a or b", "a, b or c".
std::string ModelNames(bool (*which)(const ModelEntry& model) = nullptr);

/// How a parameter is named in files and shown with its precision.
struct ParameterInfo {
  std::string name;  // the member name in the record: "tx", …, "slopeNorth"
  const char* unit;  // of its σ in the quality block: "m", "arcsec", "ppm", …
  double factor;     // from the parameter's own unit (metres, radians, none) to `unit`
  int decimals;      // of its σ in the quality block
  /// How the report's line of parameters shows its value, in its own unit: the decimals and the
  /// unit after the number ("" for none).
  int valueDecimals = 8;
  const char* valueUnit = "";
};

/// The fitted values of a model and the point its rotation, scale and slopes act about.
struct ModelParameters {
  /// Every parameter's value, in the order and the units of the model's Parameters() (as
  /// reported: a geocentric model's rotations in its convention).
  std::vector<double> values;
  /// The reference point (E0, N0, H0 in the plane, or X, Y, Z), metres: the origin of the frame
  /// for the similarity in its centred plane and for Helmert, else the centroid of the source
  /// points of the fit (for the site model, of its horizontal part, with H0 the mean source
  /// height of its vertical part).
  Point3 reference;
  /// The site model's height surface acts about (E0, N0) of this point, the centroid of the
  /// source points of the vertical part: `reference` but where the parts fit different pairs.
  Point3 heightReference;
  /// The epoch t0 the rates of a model that changes with time act about, decimal years; NaN for
  /// a model that does not.
  double referenceEpoch = NAN;
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
  /// Σ|v|² over the fitted pairs of every component, square metres, unweighted (for the
  /// similarity fitted with unit weights twice the solver's final cost).
  double sumOfSquares = 0.0;
  /// Per component: whether its pairs determine it.
  std::vector<bool> determined;
  /// Per component, where it is not determined: why, and what the fit held instead, as one
  /// sentence for a warning ("the transform is not determined by the points given: …"); empty
  /// where it is determined.
  std::vector<std::string> notDetermined;
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
  /// height or up), metres, all above 0: the fit and the statistics weight each residual row by
  /// 1/σ². Null when the pairs are of one unknown precision (unit weights, σ0 estimated).
  const std::vector<Precision>* precision = nullptr;
  /// Each pair's epoch, decimal years (NaN for a pair without one); null when the pairs have
  /// none.
  const std::vector<double>* epochs = nullptr;
  /// The σ of `precision` are absolute, σ0 = 1 known a priori (FitStatistics::varianceKnown);
  /// false when they are relative weights only. The fit is the same either way.
  bool varianceKnown = false;

  /// Pair i's epoch, NaN when it has none.
  double EpochOf(std::size_t i) const { return epochs != nullptr ? (*epochs)[i] : NAN; }
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

/// The three figures every result file gives of a fit, whatever the model: a shift (metres), the
/// rotations about the three axes (radians, as reported) and a scale (no unit).
struct ContractFigures {
  double offset[3] = {0.0, 0.0, 0.0};
  double rotate[3] = {0.0, 0.0, 0.0};
  double scale = 1.0;
};

/// One transformation model. Pairs are given as FramePairs and the pairs a component fits as a
/// mask `used` (used[i] for pair i, as many entries as pairs); plane and geocentric coordinates
/// are metres.
class TransformModel {
 public:
  virtual ~TransformModel() = default;

  /// The --model name and the frame, from the model's table line.
  const char* Name() const { return entry_->name; }
  Frame FrameOf() const { return entry_->frame; }
  /// Every parameter, in the order the record lists them and ModelParameters::values holds them.
  virtual const std::vector<ParameterInfo>& Parameters() const = 0;
  /// The components, in the order the outputs list them.
  virtual const std::vector<Component>& Components() const = 0;

  /// Fits every component c to the pairs used[c] marks, about the reference point the model
  /// takes from them, into `params` (overwritten whole), weighted by pairs.precision where given.
  /// `maxIterations` caps a solver's iterations where it is not 0 (models in closed form have
  /// none).
  virtual FitOutcome Fit(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                         ModelParameters& params, int maxIterations) const = 0;
  /// Fits component `c` alone to the pairs `used` marks, about the reference point already in
  /// `params`, the other components' parameters unchanged; false when that gives no usable
  /// result. Sets outcome.usable, and the component's entries of outcome.determined,
  /// notDetermined and fixed where the model tells them from the fit.
  virtual bool FitComponent(std::size_t c, const FramePairs& pairs, const std::vector<bool>& used,
                            ModelParameters& params, FitOutcome& outcome) const = 0;
  /// Sets the outcome's summary line, sum of squares and the determination of what the fit
  /// itself did not tell, for the fit in `params` to the pairs `used` marks.
  virtual void Summarise(const FramePairs& pairs, const std::vector<std::vector<bool>>& used,
                         const ModelParameters& params, FitOutcome& outcome) const = 0;
  /// Pair i's part in component `c` at `params`: its residual rows, in the component's layout
  /// (east, north, height or up), metres and unweighted, and their derivatives by the
  /// component's parameters in its order, into out.jacobian (rows × parameters, row-major).
  virtual void Linearise(std::size_t c, const ModelParameters& params, const FramePairs& pairs,
                         std::size_t i, PairLinearisation& out) const = 0;
  /// A source point in the frame, observed at `epoch` (decimal years; NaN when it has none),
  /// carried through the fitted model. A model that does not change with time ignores the epoch;
  /// one that does gives NaN coordinates for a point without one.
  virtual Point3 Apply(const ModelParameters& params, const Point3& point, double epoch) const = 0;
  /// A source point without an epoch carried through the fitted model.
  Point3 Apply(const ModelParameters& params, const Point3& point) const {
    return Apply(params, point, NAN);
  }
  /// Whether the model changes with time: its fit needs every pair's epoch and Apply every
  /// point's. False by default.
  virtual bool ChangesWithTime() const;

  /// The fit's shift, rotations and scale as quorvane.json's "offset", "rotate" and "scale" give
  /// them, and as the run judges whether a fit is plausible. By default the values of the
  /// parameters named tx, ty, tz, rx, ry, rz and scale; 0 (1 for the scale) for one the model
  /// does not have.
  virtual ContractFigures Figures(const ModelParameters& params) const;

  /// The report's lines between the summary line and the point blocks, each ended by "\n". By
  /// default one line of every parameter's value, "NAME: tx=… m, …", and the reference where it
  /// is stated.
  virtual std::string ReportLines(const ModelParameters& params) const;
  /// quorvane.json's members in order: by default "offset", "rotate" (degrees) and "scale" of
  /// Figures(), "model" (the --model name) and "reference" where it is stated.
  virtual std::vector<ResultMember> ResultMembers(const ModelParameters& params) const;
  /// The model as a formula, as the record's "model" member gives it.
  virtual std::string Formula(const ModelParameters& params) const = 0;
  /// The PROJ pipeline step(s) that apply the fitted model in its frame, "+step …" each, numbers
  /// with 17 significant digits; empty when a value is not finite.
  virtual std::string ProjSteps(const ModelParameters& params) const = 0;
  /// Members the record adds after "parameters" (the EPSG method and the +towgs84 terms of the
  /// seven-parameter models); none by default.
  virtual std::vector<ResultMember> RecordMembers(const ModelParameters& params) const;
  /// The model in the picture's title (UTF-8), after its own title; "" by default.
  virtual std::string PlotTitle() const;
  /// Whether the record's quality gives the correlation matrix of the parameters as well: by
  /// default for the geocentric models, whose shifts and rotations about a pivot thousands of
  /// kilometres away are strongly correlated.
  virtual bool RecordsCorrelation() const;
  /// Whether the outputs state the reference point: false only where it is the frame's origin
  /// by definition and the outputs have never named it. True by default.
  virtual bool StatesReference(const ModelParameters& params) const;
  /// A model that chooses its own form from the pairs (the site model's --vertical auto) gives
  /// the model it chose for the pairs `used` marks, which then is fitted and reported; null for
  /// a model whose form is fixed.
  virtual std::unique_ptr<const TransformModel> Settled(
      const FramePairs& pairs, const std::vector<std::vector<bool>>& used) const;

 protected:
  /// The value of the parameter called `name` in `params`, or `otherwise` when the model has
  /// none of that name.
  double ValueOf(const ModelParameters& params, const char* name, double otherwise) const;
  /// "offset", "rotate" and "scale" of Figures(), the rotations in degrees.
  std::vector<ResultMember> ContractMembers(const ModelParameters& params) const;
  /// "after:tx,ty,tz,rx,ry,rz,scale\n" of Figures(), eight decimals, rotations in radians.
  std::string AfterLine(const ModelParameters& params) const;
  /// A model made from another of the table takes its line (Settled's models).
  void SameLineAs(const TransformModel& other) { entry_ = other.entry_; }

 private:
  friend std::unique_ptr<const TransformModel> MakeModel(const Model& model);
  const ModelEntry* entry_ = nullptr;
};

/// The model `model.name` names, made with the settings it takes; null for a name the table
/// does not have.
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

/// The statistics of component `c` of `model` at `params` over the pairs `used` marks, weighted
/// by pairs.precision where given.
FitStatistics ComputeModelStatistics(const TransformModel& model, std::size_t c,
                                     const FramePairs& pairs, const std::vector<bool>& used,
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
