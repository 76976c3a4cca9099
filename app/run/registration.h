// What a run computed: complete when RegisterPoints returns (the settings read, every input
// checked, the pairs made and projected, the model fitted, its statistics and snooping done, the
// --apply points carried), then read, and never changed, by the report, the result file, the
// record and the picture.
#pragma once

#include <cmath>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/text/console_text.h"
#include "common/point_list.h"
#include "estimation/blunder_removal.h"
#include "estimation/distortion.h"
#include "estimation/fit_statistics.h"
#include "estimation/model.h"
#include "estimation/robust_estimation.h"
#include "estimation/variance_components.h"
#include "geodesy/plane_setup.h"

namespace Quorvane {

/// What became of a pair in one component of the model.
enum class PairStatus {
  Fitted,    // took part in the reported fit
  Excluded,  // left out by --exclude; a check point
  Removed,   // left out by --robust or --snoop as a blunder; a check point
};

/// Residual limits a fitted pair must keep (--tolerance-h, --tolerance-v), metres; 0 for none.
struct Tolerances {
  double horizontal = 0.0;  // of √(vE² + vN²)
  double vertical = 0.0;    // of |vH|
  bool Any() const { return horizontal > 0.0 || vertical > 0.0; }
};

/// One --apply point carried from the source system into the destination system.
struct AppliedPoint {
  std::string name;    // from its file, or empty
  Point3 source;       // as given, in the source list's system
  double epoch = NAN;  // as given, decimal years; NaN when it has none
  Point3 plane;        // in the frame and carried through the fitted model (and the
                       // distortion, where there is one): E, N, H or X, Y, Z
  Point3 destination;  // `plane` as longitude, latitude (degrees), height (m) on the
                       // destination's ellipsoid
  Point3 given;        // `plane` as the destination list gives its points (a grid's E, N, H)
};

/// What a run computed. After a refused run (kExitBadInput) only what was made before the refusal
/// holds anything; after kExitNoResult everything up to the fit holds (`outcome.usable` false,
/// no statistics, no applied points); after kExitSuccess every member holds what its comment
/// says.
struct Registration {
  /// The pairs: source point i with destination point i, as given (geographic, or grid
  /// coordinates for a grid's destination), in source order; paired by name when both lists
  /// name their points, by order otherwise.
  PointList source;
  PointList destination;
  /// The pairs' names (the source's, or the destination's when only it has names), one per
  /// pair, UTF-8; empty when neither list names its points.
  std::vector<std::string> names;
  /// Each pair's a priori precision, the σ of its misclosure (the variances its two points give,
  /// summed; --sigma-h/--sigma-v where they give none), metres, all above 0; empty unless a list
  /// or an option gives σ.
  std::vector<Precision> precision;
  /// The σ are absolute (--sigma-h or --sigma-v given): σ0 = 1 is known, and the statistics
  /// test against it; otherwise they weight the pairs relatively and σ0 is estimated.
  bool varianceKnown = false;
  /// Each pair's epoch, decimal years (NaN where neither point has one); empty unless a list
  /// gives epochs.
  std::vector<double> epochs;
  /// The frame of the fit and how each list reaches it: a plane (both lists' projection, or the
  /// destination's grid), or geocentric space.
  PlaneSetup plane;
  PointList planeSource;       // in the frame: easting, northing, height, or X, Y, Z, metres
  PointList planeDestination;  // likewise
  /// In geocentric space, the local axes at each paired destination point, in which residuals
  /// are given; empty in a plane.
  std::vector<LocalAxes> localAxes;

  std::shared_ptr<const TransformModel> model;  // the model the settings ask for, made
  std::vector<Component> components;            // model->Components()
  std::vector<std::vector<PairStatus>> status;  // [component][pair]
  ModelParameters params;                       // the reported fit
  FitOutcome outcome;                           // of the reported fit
  /// With --quality, --snoop, --record, --plot, --strict or a tolerance, for a usable fit.
  bool hasStatistics = false;
  std::vector<FitStatistics> statistics;  // [component], of the reported fit
  std::vector<BlunderRemoval> removals;   // by --snoop, in order
  /// With --robust, what it did in each component, before the fit and any snooping; empty
  /// otherwise.
  std::vector<RobustOutcome> robust;
  /// For a model with rates fitted to pairs nobody gave a σ: the horizontal and vertical
  /// variances estimated from the pairs, whose weights the fit and its statistics then take.
  VarianceComponents varianceComponents;
  Tolerances tolerances;

  /// With --distortion, the field modelled from the corrections of the pairs fitted in every
  /// component, which the --apply points take after the model; null otherwise.
  std::shared_ptr<const DistortionField> distortion;
  std::string distortionFile;  // --distortion-file, as given
  std::size_t appliedOutside = 0;  // --apply points beyond the hull of the distortion's pairs

  /// The seven as +towgs84 takes them on the destination's CRS, to the source's datum: the model
  /// refitted from the fitted pairs' transformed source points back to those points (not the
  /// forward set's signs turned); empty unless the record or --export-crs asks for it and the
  /// model's record gives "towgs84".
  std::vector<double> towgs84Inverse;
  /// With --export-crs, the CRS it writes: WKT2 (2019).
  std::string exportedCrs;

  std::vector<AppliedPoint> applied;  // the --apply points, in input order
  bool appliedNamed = false;          // the --apply points came with names

  /// What looks wrong about the input or the fit, each a whole line "quorvane: warning: …\n",
  /// printed before the report; --strict fails a run that has any.
  std::vector<std::string> warnings;

  /// The pairs in the frame, as the model takes them.
  FramePairs Pairs() const {
    const std::vector<Precision>* weights =
        Weighted()                        ? &precision
        : varianceComponents.estimated ? &varianceComponents.weights
                                       : nullptr;
    return FramePairs{planeSource, planeDestination, localAxes.empty() ? nullptr : &localAxes,
                      weights, epochs.empty() ? nullptr : &epochs, Weighted() && varianceKnown};
  }
  /// Whether the fit is weighted: every pair has a precision above 0, horizontally and
  /// vertically.
  bool Weighted() const;
  /// Pair i's epoch, decimal years; NaN when it has none.
  double EpochOf(std::size_t pair) const { return epochs.empty() ? NAN : epochs[pair]; }
};

/// The residual of pair i, metres: v = T(p) − q in easting, northing and height (or up), each
/// from the component that explains it (for a pair not fitted there, its misclosure); zeros
/// without statistics.
Point3 ResidualOf(const Registration& run, std::size_t pair);

/// The model's residual of pair i at the reported fit, metres, from the points alone: T(p) − q
/// in the frame, in the local east, north and up in geocentric space.
Point3 FitResidualOf(const Registration& run, std::size_t pair);

/// Whether pair i was fitted in component c and its test there failed.
bool IsSuspect(const Registration& run, std::size_t c, std::size_t pair);

/// What became of a pair over the model's components: the one decision the quality block's
/// marks, the record's "status" and the picture's kind of pair all show.
struct PairFate {
  enum class Kind {
    Fitted,    // fitted in every component, and no test failed
    Suspect,   // fitted and failing a component's blunder test
    Excluded,  // left out of a component by --exclude
    Removed,   // left out of a component by --snoop
  };
  Kind kind = Kind::Fitted;  // the first that applies, in the order Suspect, Excluded, Removed
  /// The record's status: "fitted", "excluded" (out of every component by --exclude),
  /// "removed" (out of every one, by --robust or --snoop for one at least), or "<component>
  /// only".
  std::string status;
  /// What removed it: "robust" where --robust removed it from a component, else "snoop"; empty
  /// for a pair neither removed.
  const char* by = "";
  bool everyExcluded = false;  // --exclude left it out of every component
  bool everyRemoved = false;   // --snoop did
};
PairFate FateOf(const Registration& run, std::size_t pair);

/// How the outputs name a component of the model: its section in the quality block (平面：),
/// the prefix of a mark that concerns it alone (平面), the suffix of its test members in the
/// record ("Horizontal"), and its prefix in the picture's title block; none for a model's only
/// component.
struct ComponentLabels {
  const ConsoleText* section;
  const ConsoleText* prefix;
  const char* recordSuffix;
};
const ComponentLabels& LabelsOf(const Component& component);

/// Whether pair i, fitted in the component that explains a coordinate, exceeds the tolerance
/// on it: horizontally, vertically, or either (`horizontally`, `vertically` say which).
bool IsOverTolerance(const Registration& run, std::size_t pair, bool* horizontally = nullptr,
                     bool* vertically = nullptr);

}  // namespace Quorvane
