// The steps of one run, in the order the data flows through them: read the lists, pair the points,
// take them into the frame, fit, carry the --apply points, judge the fit; then the files. Each
// step refuses what it cannot use with one line on the run's error stream and returns false, and
// holds its warnings until the input is accepted. Only the run's own files include this.
#pragma once

#include <cmath>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/run_settings.h"
#include "app/run/registration.h"
#include "app/text/text_encoding.h"
#include "common/point_list.h"

namespace Quorvane {

/// The end of every refusal's line.
constexpr char kNothingWritten[] = ". No result was written.\n";

/// The state of one run while it is built: its settings, where refusals go, and the warnings held
/// until the input is accepted.
struct Step {
  const RunSettings& settings;
  std::ostream& errors;
  std::vector<std::string> warnings;  // each a whole line, "quorvane: warning: …\n"

  void Warn(const std::string& text) { warnings.push_back("quorvane: warning: " + text + "\n"); }
  std::string Quoted(const std::string& text, std::size_t longest = 40) const {
    return QuotedField(text, longest, settings.encoding);
  }
};

/// "a, b, c, d, e and 3 more": the first names quoted in the console's encoding, the rest counted.
std::string ListOfNames(const std::vector<std::string>& names, ConsoleEncoding encoding);

/// Whether each coordinate of `p` is finite.
bool IsFinite(const Point3& p);

/// Reads the source, destination and --apply lists from their texts or files.
bool ReadLists(Step& step, ObservationList& source, ObservationList& destination,
               ObservationList& further);

/// Pairs the points into `run` (by name when both lists name them, by order otherwise; the lists'
/// points are moved, not copied), with each pair's precision and epoch.
bool PairPoints(Step& step, ObservationList& source, ObservationList& destination,
                Registration& run);

/// The pairs each component fits: all but those --exclude leaves out of it.
bool ReadExclusions(Step& step, Registration& run);

/// The reach of the projection's domain that a geographic point outside it passes, for a
/// message: "more than 6 degrees of longitude from the central meridian M or 80 degrees of
/// latitude from the equator" followed by `why`; poleward of 80° the reach at its latitude and
/// what a site around the pole needs.
std::string DomainReach(const Point3& geographic, double meridian, const char* why);

/// Why a point of a geocentric list, `given`, lies off the Earth, for a message ("lies 6356.1 km
/// below the ellipsoid, where the source list's geocentric X, Y, Z (metres) put it", with the
/// likely cause), or "" for a point within 100 km of its ellipsoid's surface or of a list of
/// another kind; `geographic` is its longitude, latitude and height, `which` "source" or
/// "destination". A geographic NaN (no point at all) is left to the finiteness checks.
std::string OffTheEarth(const ListSystem& list, const Point3& given, const Point3& geographic,
                        const char* which);

/// The points of one list that lie outside the area of use of the CRS it is named by.
struct OutsideArea {
  const ListSystem& list;             // whose `area` they are held to
  const char* option;                 // that names its CRS: "--source-crs"
  const char* one;                    // how the warning names one point: "source point"
  const char* several;                // and several: "source points"
  bool images;                        // they are where --apply points came out, not points as given
  std::vector<std::string> labels{};  // of those outside: "3 \"P3\"", in order
  std::string given{};                // of the first outside, as given: "47.37,8.55,400"
};

/// A point as given, for a message: "47.37,8.55,400" (12 significant digits).
std::string GivenText(const Point3& given);

/// Warns, in one line, of the points `outside` holds: nothing when it holds none.
void WarnOutsideTheArea(Step& step, const OutsideArea& outside);

/// The box the fitted control points span where the picture draws them (PlaneSetup::MapPoint of
/// their destination points), metres.
struct NetworkBox {
  double west = INFINITY, south = INFINITY, east = -INFINITY, north = -INFINITY;
  /// Its diagonal, metres; NaN for a box of no point.
  double Extent() const;
  /// How far a point drawn at `map` lies outside the box, metres; 0 inside.
  double DistanceTo(const Point3& map) const;
};
NetworkBox FittedNetworkBox(const Registration& run);

/// Makes the frame of the fit and takes both lists into it; refuses a pair without finite
/// coordinates there or outside the projection's domain.
bool ProjectPairs(Step& step, Registration& run);

/// Fits the model to the pairs each component keeps; then, when asked for, its statistics and
/// the blunders removed.
void Fit(Step& step, Registration& run);

/// With --distortion, models what the fit leaves of the pairs fitted in every component over the
/// plane of the fit; refuses pairs too few for the method.
bool ModelTheDistortion(Step& step, Registration& run);

/// The seven for each side's CRS where the record or --export-crs asks: the refitted inverse,
/// and the CRS not on WGS 84 bound to it by its set; refuses --export-crs for a model whose record
/// gives no +towgs84 set, and where neither list or both are on WGS 84.
bool ExpressForEachSide(Step& step, Registration& run);

/// Carries the --apply points through the frame and the fit into the destination's system;
/// refuses one that comes out not finite or outside the projection's domain.
bool ApplyFurther(Step& step, const ObservationList& further, Registration& run);

/// Warnings about a usable fit that the user should not take at face value.
void WarnAboutTheFit(Step& step, const Registration& run);

/// Which pairs each component fits: fitted[c][i] for pair i.
std::vector<std::vector<bool>> FittedMasks(const Registration& run);

/// Whether the fitted destination points all lie on one spot while the source points do not:
/// then no transform is best.
bool DestinationCollapsed(const Registration& run, const std::vector<bool>& fitted);

/// The texts of a fitted run's files, all made before the first file is written, so that a run
/// that fails on the way (out of memory) replaces none.
struct FileTexts {
  std::string result;
  std::string record;
  std::string plot;
  std::string distortion;
  std::string exportedCrs;
};

/// An output that would overwrite an input or another output is refused (false, one line on
/// `errors`) before anything is read.
bool OutputsAreApart(const RunSettings& settings, const std::string& resultPath,
                     std::ostream& errors);

/// Makes the files' texts of a fitted run.
FileTexts MakeFileTexts(const OutputChoice& outputs, const Registration& run);

/// Writes quorvane.json, the record and the picture, each whole or not at all, saying on
/// standard error what could not be written; returns kExitSuccess or kExitFileNotWritten.
int WriteFiles(const RunSettings& settings, const FileTexts& texts, const std::string& resultPath,
               bool& resultWritten, bool& recordWritten, bool& warned);

}  // namespace Quorvane
