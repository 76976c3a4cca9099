// The tool's only input: the two reference-point lists on the command line, and the options
// that ask for more than the default run, grouped by what they feed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/text_encoding.h"
#include "common/point_list.h"

namespace Quorvane {

/// The point lists beyond the two list texts: files instead of texts, and the further points.
struct InputOptions {
  // Whether each text option was seen at all, so that a file and a text for one list conflict
  // even when the text is empty.
  bool sourceGiven = false;       // --refsrc
  bool destinationGiven = false;  // --refdes
  bool applyGiven = false;        // --apply
  std::string applyText{};        // value of --apply: further source points, as --refsrc takes them
  bool sourceFileGiven = false;   // --refsrc-file
  std::string sourceFile{};
  bool destinationFileGiven = false;  // --refdes-file
  std::string destinationFile{};
  bool applyFileGiven = false;  // --apply-file
  std::string applyFile{};
  bool packedDms = false;       // --packed-dms: every angle of every file as ddd.mmssss
};

/// How the plane is made.
struct PlaneOptions {
  bool sourceEllipsoidGiven = false;  // --source-ellipsoid
  std::string sourceEllipsoid{};
  bool destinationEllipsoidGiven = false;  // --destination-ellipsoid
  std::string destinationEllipsoid{};
  bool gridGiven = false;  // --grid: the destination is a local grid table
  std::string grid{};
};

/// What is fitted, and how it is judged.
struct ModelOptions {
  bool modelGiven = false;  // --model: "similarity" (the default), "site", "helmert",
                            // "molodensky-badekas"
  std::string model{};
  bool fixScale = false;       // --fix-scale: the site model's scale held at 1
  bool verticalGiven = false;  // --vertical: "plane" or "constant"
  std::string vertical{};
  bool conventionGiven = false;  // --convention: "position-vector" or "coordinate-frame"
  std::string convention{};
  bool excludeGiven = false;  // --exclude was seen, even with an empty value
  std::string exclude{};      // pair numbers or names, separated by ","
  bool snoop = false;         // --snoop: automatic blunder removal (implies --quality)
  bool toleranceHorizontalGiven = false;  // --tolerance-h
  std::string toleranceHorizontal{};
  bool toleranceVerticalGiven = false;  // --tolerance-v
  std::string toleranceVertical{};
  bool strict = false;  // --strict: exit 3 when a fitted pair is flagged or over a tolerance
};

/// What is written, and how.
struct OutputOptions {
  bool quality = false;       // --quality: the quality block after the report
  bool recordGiven = false;   // --record was seen, even with an empty value
  std::string recordPath{};   // value of --record: the record file's path
  bool plotGiven = false;     // --plot was seen, even with an empty value
  std::string plotPath{};     // value of --plot: the picture's path
  bool utf8 = false;          // --utf8: Chinese console text in UTF-8 instead of GBK
  bool help = false;          // --help: the usage text, and nothing else
  bool version = false;       // --version: the version line, and nothing else
};

/// The values of the options, exactly as the argument bytes came in (no trimming, unquoting or
/// character-set conversion). Texts are empty and flags false until their option is seen.
struct OptionTexts {
  std::string sourceText;       // value of --refsrc
  std::string destinationText;  // value of --refdes
  InputOptions input{};
  PlaneOptions plane{};
  ModelOptions model{};
  OutputOptions output{};
  /// Arguments that start with "--" but are no option and no option's value, in order.
  std::vector<std::string> unknown{};
};

/// Scans argv[1] .. argv[argc-1] for the options (exact, case-sensitive, whole argument; no "="
/// form, no abbreviations): the value options "--refsrc", "--refdes", "--exclude", "--apply",
/// "--record", "--plot", "--refsrc-file", "--refdes-file", "--apply-file", "--model",
/// "--vertical", "--convention", "--tolerance-h", "--tolerance-v", "--source-ellipsoid",
/// "--destination-ellipsoid" and "--grid", and the flags "--quality", "--snoop", "--help",
/// "--version", "--utf8", "--fix-scale", "--strict" and "--packed-dms". The argument after a
/// value option is its value and is consumed even if it looks like an option; a flag consumes
/// nothing. A repeated value option keeps its last value, even an empty one; a value option that
/// is the last argument counts as having an empty value. Every other argument is skipped, and
/// noted in `unknown` when it starts with "--". argv[0] is never examined and nothing past
/// argv[argc-1] is read.
///
/// `texts` is overwritten as a whole. Returns true exactly when each point list, source and
/// destination, has a non-empty text or a file option (even one with an empty path); no content
/// is examined.
bool ParseCommandLine(int argc, const char* const* argv, OptionTexts& texts);

/// What --exclude leaves out, for each component of the model (one for the similarity; the
/// horizontal and the vertical part for the site model): excluded[c][i] for pair i.
using Exclusions = std::vector<std::vector<bool>>;

/// Reads `text` as the pairs to leave out, separated by ",": each field a pair number counted
/// from 1 (exactly a run of the digits 0-9, 1..pairCount) or a point name of `names` (exact bytes
/// after conversion to UTF-8; a name wins over a number), left out of every component. With
/// more than one component a field may end in "h" (left out of the first, horizontal, component
/// only) or "v" (the second, vertical, only). No pair is left out of a component twice.
/// `excluded` gets `components` rows of pairCount entries. On the first field that is not so
/// (an empty text is one empty field) returns false with `problem` saying which field, counted
/// from 1, and why, in one line without a line end, field text quoted in `encoding`.
bool ParseExclusions(const std::string& text, std::size_t pairCount,
                     const std::vector<std::string>& names, std::size_t components,
                     ConsoleEncoding encoding, Exclusions& excluded, std::string& problem);

/// Appends to `list` the points that `text` describes, but only when `text` is non-empty and
/// `list` is empty; otherwise does nothing.
///
/// Fields are separated by "," alone (blanks, tabs and semicolons belong to their field) and are
/// converted with the C library's atof in the C locale: leading white space is skipped, the
/// longest numeric prefix counts, and a field with no number (the empty field included) is 0.
/// Fields 3j, 3j+1, 3j+2 become point j as (x, y, z) = (longitude, latitude, height); a trailing
/// comma adds no field, and an incomplete last group of one or two fields is dropped. Nothing is
/// reported.
void ParsePointList(const std::string& text, PointList& list);

}  // namespace Quorvane
