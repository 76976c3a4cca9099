// The tool's only input: the two reference-point lists on the command line, and the options
// that ask for more than the default run.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/point_list.h"

namespace Quorvane {

/// The values of the options, exactly as the argument bytes came in (no trimming, unquoting or
/// character-set conversion). Texts are empty and flags false until their option is seen.
struct OptionTexts {
  std::string sourceText;       // value of --refsrc
  std::string destinationText;  // value of --refdes

  bool quality = false;       // --quality: the quality block after the report
  bool snoop = false;         // --snoop: automatic blunder removal (implies quality)
  bool excludeGiven = false;  // --exclude was seen, even with an empty value
  std::string excludeText{};  // value of --exclude: pair numbers, from 1, separated by ","

  std::string applyText{};    // value of --apply: further source points, as --refsrc takes them
  bool recordGiven = false;   // --record was seen, even with an empty value
  std::string recordPath{};   // value of --record: the record file's path
  bool plotGiven = false;     // --plot was seen, even with an empty value
  std::string plotPath{};     // value of --plot: the picture's path

  bool help = false;     // --help: the usage text, and nothing else
  bool version = false;  // --version: the version line, and nothing else
  bool utf8 = false;     // --utf8: Chinese console text in UTF-8 instead of GBK

  // Lists read from files (--refsrc-file, --refdes-file, --apply-file) instead of arguments, and
  // whether each text option was seen at all, so that a file and a text for one list conflict
  // even when the text is empty.
  bool sourceGiven = false;
  bool destinationGiven = false;
  bool applyGiven = false;
  bool sourceFileGiven = false;
  std::string sourceFile{};
  bool destinationFileGiven = false;
  std::string destinationFile{};
  bool applyFileGiven = false;
  std::string applyFile{};
};

/// Scans argv[1] .. argv[argc-1] for the options (exact, case-sensitive, whole argument; no "="
/// form, no abbreviations): the value options "--refsrc", "--refdes", "--exclude", "--apply",
/// "--record", "--plot", "--refsrc-file", "--refdes-file" and "--apply-file", and the flags
/// "--quality", "--snoop", "--help", "--version" and "--utf8". The argument after a value option
/// is its value and is consumed even if it looks like an option; a flag consumes nothing. A
/// repeated value option keeps its last value, even an empty one; a value option that is the last
/// argument counts as having an empty value. Every other argument is skipped. argv[0] is never
/// examined and nothing past argv[argc-1] is read.
///
/// `texts` is overwritten as a whole. Returns true exactly when each point list, source and
/// destination, has a non-empty text or a file option (even one with an empty path); no content
/// is examined.
bool ParseCommandLine(int argc, const char* const* argv, OptionTexts& texts);

/// `field` in double quotes for a one-line message: control bytes, '"' and '\\' as \\xNN, and
/// past its first `longest` bytes cut, with "..." after the closing quote.
std::string QuotedField(const std::string& field, std::size_t longest = 40);

/// A `longest` for file paths, which are shown whole unless absurd.
constexpr std::size_t kLongestQuotedPath = 4096;

/// Reads `text` as pair numbers counted from 1, separated by ",": each field exactly a run of the
/// digits 0-9 (no sign, blank or other byte) whose value is 1..pairCount, none repeated. Fills
/// `pairs` with the numbers less one (indices from 0), in the order given, and returns true; on
/// the first field that is not so (an empty text is one empty field), returns false with
/// `problem` saying which field, counted from 1, and why, in one line without a line end.
bool ParsePairNumbers(const std::string& text, std::size_t pairCount,
                      std::vector<std::size_t>& pairs, std::string& problem);

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
