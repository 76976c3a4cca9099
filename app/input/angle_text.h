// Angles as control tables write them: decimal degrees, degrees-minutes-seconds in its common
// notations, and the packed ddd.mmss form.
#pragma once

#include <string>

namespace Quorvane {

/// Which coordinate an angle is, for the hemisphere letters it may carry.
enum class AngleAxis {
  Longitude,  // E positive, W negative
  Latitude,   // N positive, S negative
};

/// Reads one angle field, blanks around it already removed, into decimal degrees:
/// - decimal degrees as the rest of the tool reads numbers: [+-]digits[.digits][e[+-]digits],
///   converted by strtod (when `packed` is false);
/// - degrees-minutes-seconds: 139°42'11.915", 139°42′11.915″, 139d42m11.915s, 139:42:11.915,
///   139 42 11.915 (blanks alone between the parts), blanks allowed between the parts of every
///   notation ("35 d 43 m 17 s": an "s" after the seconds is theirs, blank or not); the seconds,
///   or the minutes and seconds, may be left out (139°42.5', 139°, 139 42.5), the last part
///   given may have decimals, minutes and seconds must be below 60; a hemisphere letter before
///   or after, in either case (N/E positive, S/W negative; the letters of the axis only) or a
///   sign, not both; decimal degrees with a hemisphere letter (35.7N, E139.7) too;
/// - with `packed`, every decimal field as ddd.mmssss, with a sign or a hemisphere letter
///   (35.4317557N): 139.4211915 is 139°42'11.915" (digits after the point: two of minutes, two
///   of seconds, then the seconds' decimals).
/// `field` is UTF-8. The degrees are the double nearest the exact value of what was written
/// (the exact decimal worked out in integers, then strtod), so a DMS text and the decimal
/// degrees it equals give the same double. Returns false with `problem` saying why, as a phrase
/// that follows the quoted field ("is not a number", …), without a line end.
bool ReadAngle(const std::string& field, AngleAxis axis, bool packed, double& degrees,
               std::string& problem);

/// Reads a plain decimal number as the rest of the tool does (digits, sign, point, exponent;
/// no hexadecimal, "inf" or "nan"), whole field, finite; false with `problem` as ReadAngle.
bool ReadDecimal(const std::string& field, double& value, std::string& problem);

}  // namespace Quorvane
