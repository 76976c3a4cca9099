// Numbers as the console report, the quality block and the picture print them.
#pragma once

#include <charconv>
#include <string>

namespace Quorvane {

/// `value` in fixed notation with `decimals` decimals, the text of printf's "%.Nf" (both round
/// exactly; "inf" and "nan" included), without the stream's locale machinery, which a report of
/// a hundred thousand lines feels. The longest such text of a double, DBL_MAX's in "%.9f", has
/// 319 characters.
inline char* AppendFixed(char* first, char* last, double value, int decimals) {
  return std::to_chars(first, last, value, std::chars_format::fixed, decimals).ptr;
}

inline std::string FixedText(double value, int decimals) {
  char text[400];
  return std::string(text, AppendFixed(text, text + sizeof text, value, decimals));
}

}  // namespace Quorvane
