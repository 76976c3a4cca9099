// Point lists read from text files, for lists too long for a command line.
#pragma once

#include <string>

#include "common/point_list.h"

namespace Quorvane {

/// Reads the points of `text`, the bytes of a point file: one point per line as "lon,lat,h"
/// (degrees, degrees, metres; three decimal numbers separated by commas, spaces and tabs allowed
/// around each). A UTF-8 byte-order mark at the very start is skipped, lines may end in LF or
/// CRLF, and lines that are empty, blank or start with "#" after any blanks are skipped.
///
/// Unlike the lenient argument syntax, every other line is checked: exactly three fields, each a
/// decimal number ([+-] digits, an optional fraction and exponent; no hexadecimal, "inf" or
/// "nan") whose value is finite. A number is converted exactly as the argument parser converts
/// the same field, so a file and an argument with the same points give the same doubles.
///
/// Appends the points to `list` and returns true; on the first line that is not so, returns
/// false with `problem` naming the line (counted from 1) and why, in one line without a line end,
/// and `list` as it was.
bool ParsePointFileText(const std::string& text, PointList& list, std::string& problem);

/// The same for the file at `path` (as the operating system takes it, relative to the current
/// directory), read whole; a file that cannot be opened or read gives false with the system's
/// reason in `problem`, and so does one that holds no point (most likely the wrong file).
bool ReadPointFile(const std::string& path, PointList& list, std::string& problem);

}  // namespace Quorvane
