// The tool's only input: the two reference-point lists on the command line, and the options
// that ask for more than the default run, grouped by what they feed.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <string>
#include <vector>

#include "app/cli/options.h"
#include "app/text/text_encoding.h"
#include "common/point_list.h"

namespace Quorvane {

/// The options of a command line exactly as the argument bytes came in (no trimming, unquoting or
/// character-set conversion), before anything is made of them (RunSettings does that).
struct OptionTexts {
  std::string sourceText;       // value of --refsrc
  std::string destinationText;  // value of --refdes
  /// Arguments that start with "--" but are no option and no option's value, in order.
  std::vector<std::string> unknown{};

  /// Whether the option was seen (a flag, or a value option even with an empty value).
  bool Has(Option option) const;
  /// The option's last value: "" for a flag, for a value option that is the last argument, and
  /// for an option not seen. --refsrc's and --refdes's are their members above.
  const std::string& Value(Option option) const;
  /// Gives the option as seen with `value` (the scan's own way, and that of programs that make
  /// the texts without a command line).
  void Set(Option option, std::string value);
  /// The option's value, moved out: the --apply list may be as long as the others.
  std::string Take(Option option);
  /// Whether a reader asked for the option (Has or Value) since the texts were made: an option
  /// of the table that no reader asks for is one the run ignores.
  bool Asked(Option option) const { return asked_[static_cast<std::size_t>(option)]; }

  // Read and written through the functions above only; members rather than private so that the
  // texts stay an aggregate ({source, destination} makes them).
  std::array<std::string, kOptionCount> values_{};
  std::bitset<kOptionCount> seen_{};
  mutable std::bitset<kOptionCount> asked_{};
};

/// Scans argv[1] .. argv[argc-1] for the options of the table kOptions (exact, case-sensitive,
/// whole argument; no "=" form, no abbreviations). The argument after a value option is its
/// value and is consumed even if it looks like an option; a flag consumes nothing. A repeated value option keeps its last value, even an empty one; a value option that
/// is the last argument counts as having an empty value. Every other argument is skipped, and
/// noted in `unknown` when it starts with "--". argv[0] is never examined and nothing past
/// argv[argc-1] is read.
///
/// `texts` is overwritten as a whole. Returns true exactly when each point list, source and
/// destination, has a non-empty text or a file option (even one with an empty path); no content
/// is examined.
bool ParseCommandLine(int argc, const char* const* argv, OptionTexts& texts);

/// What the command line asks for instead of a run: --help (which wins) or --version, or
/// nothing.
enum class About { None, Help, Version };
About AboutAsked(const OptionTexts& texts);

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
