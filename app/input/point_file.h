// Point lists read from text files, as surveyors' control tables have them: names, a header that
// orders the columns, several separators, angles in degrees-minutes-seconds, UTF-8 or GBK.
#pragma once

#include <cstddef>
#include <string>

#include "app/text/console_text.h"
#include "common/point_list.h"

namespace Quorvane {

/// How a point file is read.
struct PointFileOptions {
  /// Geographic points (longitude, latitude in degrees, height in metres) or grid coordinates
  /// (easting, northing, height, in the grid's unit).
  bool grid = false;
  /// Geocentric coordinates X, Y, Z (metres), whatever `grid` says.
  bool geocentric = false;
  /// Every angle as ddd.mmssss (--packed-dms); geographic files only.
  bool packedDms = false;
  /// The console's encoding, for file text quoted in a problem.
  ConsoleEncoding encoding = ConsoleEncoding::Gbk;
};

/// The longest line a point file may have, bytes without the line end: a control table's line
/// is some tens of bytes, and a file without line ends (a binary, /dev/zero through a pipe) is
/// refused at once instead of being read whole.
constexpr std::size_t kLongestPointLine = 4096;

/// What is wrong with a geographic point's longitude or latitude, or empty when nothing is: a
/// latitude beyond ±90° or a longitude beyond ±180°, with its likely cause ("longitude and
/// latitude swapped?" when the other value would fit, "plane coordinates, not degrees?" when
/// either is beyond 1000), e.g. "latitude 139.703 is beyond 90 degrees (longitude and
/// latitude swapped?)". ASCII.
std::string RangeProblem(double longitude, double latitude);

/// Reads the points of `text`, the bytes of a point file, one point per line:
///
/// - Lines end in LF or CRLF. A UTF-8 byte-order mark at the very start is skipped; a UTF-16 one
///   is refused as UTF-16, and so is a first line whose every other byte is NUL. Lines that are
///   empty, blank or start with "#" after any blanks are skipped. A line longer than
///   kLongestPointLine is refused.
/// - Fields are separated by "," (or the full-width "，") when the first line that is not
///   skipped holds one, else by ";" (or "；"), else by tab, else by runs of blanks; the same on
///   every line, with blanks around each field removed.
/// - That first line is a header when none of its fields is a number: it names the columns, in
///   any order: a name column (name, id, point, station, 点名, 点号) if any, and for a
///   geographic file longitude (lon, longitude, L, 经度), latitude (lat, latitude, B, 纬度) and
///   height (h, height, elevation, elev, Z, 高程, 正常高, 大地高); for a grid file northing (N,
///   northing, 北坐标), easting (E, easting, 东坐标) and height. Any list may add a point's a
///   priori precision, the σ of one horizontal coordinate (sigmaH, σH, HRMS, H.RMS, HPrec) and
///   of the height (sigmaV, σV, VRMS, V.RMS, VPrec), and its epoch (epoch, t, 历元). ASCII
///   names compare without regard to case; "X" and "Y" are refused in a grid as ambiguous, and a
///   grid's words (N, E, …) in a geographic file as a grid table whose system was not given. A
///   word may carry a unit in brackets ("X(m)", "E [m]", "高程（m）"): metres for lengths and σ,
///   degrees for angles, years (a, yr, year, 年) for epochs; another is refused. Without a header
///   the columns are name (when a line has four fields), then longitude, latitude and height
///   (easting, northing and height for a grid).
/// - The file is UTF-8 when every line of it is, GBK otherwise; its names are kept as UTF-8.
/// - A point line has one field per column. Names are the field's bytes (converted from GBK in
///   a GBK file); a file has names on every point line or on none, and a name that is a decimal
///   number with a point or exponent is taken for a shifted coordinate and refused. Heights and
///   grid coordinates are decimal numbers ([+-] digits, an optional fraction and exponent; no
///   hexadecimal, "inf" or "nan"), finite; angles as ReadAngle reads them. A σ or epoch field
///   may be empty (the point has none); given, a σ is above 0 and an epoch a decimal year from
///   1900 to 2100. A latitude beyond
///   ±90° or a longitude beyond ±180° is refused with its likely cause (columns swapped, or
///   plane coordinates).
/// A decimal number is converted exactly as the argument parser converts the same field, so a
/// file and an argument with the same points give the same doubles.
///
/// Appends the points, with their names, precision and epochs when the file has them, to `list`
/// and returns true; on the first line that is not so, returns false with `problem` naming the
/// line (counted from 1) and why, in one line without a line end, and `list` as it was.
bool ParsePointFileText(const std::string& text, const PointFileOptions& options,
                        ObservationList& list, std::string& problem);

/// The same for the file at `path` (as the operating system takes it, relative to the current
/// directory), read as a stream: only a regular file or a pipe is read, and reading stops at the
/// first line that is refused. A file that cannot be opened or read gives false with the
/// system's reason in `problem`, and so does one that holds no point (most likely the wrong
/// file).
bool ReadPointFile(const std::string& path, const PointFileOptions& options, ObservationList& list,
                   std::string& problem);

}  // namespace Quorvane
