// The tool's only input: the two reference-point lists on the command line.
#pragma once

#include <string>

#include "common/point_list.h"

namespace Quorvane {

/// The values of --refsrc and --refdes, exactly as the argument bytes came in (no trimming,
/// unquoting or character-set conversion). Empty until an option with a value is seen.
struct OptionTexts {
  std::string sourceText;       // value of --refsrc
  std::string destinationText;  // value of --refdes
};

/// Scans argv[1] .. argv[argc-1] for "--refsrc" and "--refdes" (exact, case-sensitive, whole
/// argument; no "=" form, no abbreviations). The argument after an option is its value and is
/// consumed even if it looks like an option. A repeated option keeps its last value, even an
/// empty one; an option that is the last argument counts as having an empty value. Every other
/// argument is skipped. argv[0] is never examined and nothing past argv[argc-1] is read.
///
/// `texts` is overwritten as a whole. Returns true exactly when both values are non-empty; their
/// content is not examined.
bool ParseCommandLine(int argc, const char* const* argv, OptionTexts& texts);

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
