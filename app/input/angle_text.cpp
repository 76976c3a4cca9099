#include "app/input/angle_text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace Quorvane {

namespace {

// An exact decimal as an integer count of 10^-fraction units.
__extension__ typedef unsigned __int128 Wide;

// Digits beyond these cannot be a survey angle and would only overflow the integers.
constexpr std::size_t kMostWholeDigits = 6;
constexpr std::size_t kMostFractionDigits = 15;

struct Decimal {
  std::string whole;     // digits before the point (may be empty: ".5")
  std::string fraction;  // digits after it
};

// A run of digits with at most one point at `at`; advances `at`. False when there is none.
bool ScanDecimal(const std::string& text, std::size_t& at, Decimal& number) {
  const std::size_t start = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') number.whole += text[at++];
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') number.fraction += text[at++];
  }
  return at > start && !(number.whole.empty() && number.fraction.empty());
}

Wide Scaled(const Decimal& number, std::size_t fraction) {
  Wide value = 0;
  for (const char c : number.whole) value = value * 10 + static_cast<unsigned>(c - '0');
  for (std::size_t k = 0; k < fraction; ++k) {
    value = value * 10 + (k < number.fraction.size() ? static_cast<unsigned>(number.fraction[k] - '0') : 0);
  }
  return value;
}

// The double nearest (degrees + minutes/60 + seconds/3600), each part an exact decimal: the sum
// over 3600·10^k in integers, written out to 30 decimals and read by strtod.
double ExactDegrees(const Decimal& degrees, const Decimal& minutes, const Decimal& seconds,
                    bool negative) {
  const std::size_t k = std::max({degrees.fraction.size(), minutes.fraction.size(),
                                  seconds.fraction.size()});
  Wide unit = 1;
  for (std::size_t i = 0; i < k; ++i) unit *= 10;
  const Wide numerator = Scaled(degrees, k) * 3600 + Scaled(minutes, k) * 60 + Scaled(seconds, k);
  const Wide denominator = unit * 3600;
  Wide whole = numerator / denominator;
  Wide rest = numerator % denominator;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(whole % 10)));
    whole /= 10;
  } while (whole > 0);
  digits += '.';
  for (int i = 0; i < 30; ++i) {
    rest *= 10;
    digits += static_cast<char>('0' + static_cast<int>(rest / denominator));
    rest %= denominator;
  }
  const double value = std::strtod(digits.c_str(), nullptr);
  return negative ? -value : value;
}

bool Fits(const Decimal& number) {
  return number.whole.size() <= kMostWholeDigits && number.fraction.size() <= kMostFractionDigits;
}

// Whether `text` at `at` starts with one of `marks` (UTF-8 strings); advances past it.
bool Skip(const std::string& text, std::size_t& at, std::initializer_list<const char*> marks) {
  for (const char* mark : marks) {
    const std::size_t length = std::strlen(mark);
    if (text.compare(at, length, mark) == 0) {
      at += length;
      return true;
    }
  }
  return false;
}

void SkipBlanks(const std::string& text, std::size_t& at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
}

// The hemisphere a letter names, +1 or -1 for the axis's letters, 0 for none of them.
int Hemisphere(char c, AngleAxis axis) {
  const char upper = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (axis == AngleAxis::Latitude) return upper == 'N' ? 1 : upper == 'S' ? -1 : 0;
  return upper == 'E' ? 1 : upper == 'W' ? -1 : 0;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits with at most one point and nothing else: what --packed-dms reads as ddd.mmssss once a
// sign or hemisphere letter is taken off.
bool IsUnsignedDecimal(const std::string& text, std::size_t from) {
  std::size_t points = 0;
  std::size_t digits = 0;
  for (std::size_t k = from; k < text.size(); ++k) {
    if (text[k] == '.') {
      ++points;
    } else if (IsDigit(text[k])) {
      ++digits;
    } else {
      return false;
    }
  }
  return digits > 0 && points <= 1;
}

}  // namespace

bool ReadDecimal(const std::string& field, double& value, std::string& problem) {
  if (field.empty()) {
    problem = "is empty";
    return false;
  }
  // Decimal notation only: strtod would also take "0x1p3", "inf" and "nan".
  if (field.find_first_not_of("0123456789+-.eE") != std::string::npos) {
    problem = "is not a number";
    return false;
  }
  char* stop = nullptr;
  errno = 0;
  value = std::strtod(field.c_str(), &stop);
  if (stop != field.c_str() + field.size() || stop == field.c_str()) {
    problem = "is not a number";
    return false;
  }
  if (!std::isfinite(value)) {
    problem = "is too large for a double";
    return false;
  }
  return true;
}

bool ReadAngle(const std::string& field, AngleAxis axis, bool packed, double& degrees,
               std::string& problem) {
  const bool plain =
      !field.empty() && field.find_first_not_of("0123456789+-.eE") == std::string::npos;
  if (plain && !packed) {
    if (ReadDecimal(field, degrees, problem)) return true;
    // In "139.7E" and "E139.7" the E is the hemisphere, not an exponent.
    const std::size_t letter = field.find_first_of("eE");
    if (letter != field.size() - 1 && letter != 0) return false;
  }
  if (field.empty()) {
    problem = "is empty";
    return false;
  }
  const char* const axisLetters = axis == AngleAxis::Latitude ? "N or S" : "E or W";
  std::string text = field;
  int hemisphere = 0;
  // A letter of either axis at either end is a hemisphere; one of the other axis is refused by
  // name, since it says the columns are mixed up. A final "s" after the seconds' digits of the
  // d-m-s notation, with or without blanks between ("17s", "17 s"), marks the seconds, not the
  // south.
  const bool dmsLetters = text.find_first_of("mM") != std::string::npos;
  for (const bool atStart : {true, false}) {
    if (text.empty()) break;
    const char c = atStart ? text.front() : text.back();
    if (!IsLetter(c)) continue;
    if (!atStart && (c == 's' || c == 'S') && dmsLetters) {
      std::size_t before = text.size() - 1;
      while (before > 0 && (text[before - 1] == ' ' || text[before - 1] == '\t')) --before;
      if (before > 0 && IsDigit(text[before - 1])) continue;
    }
    const int sign = Hemisphere(c, axis);
    if (sign == 0) {
      const AngleAxis other = axis == AngleAxis::Latitude ? AngleAxis::Longitude : AngleAxis::Latitude;
      if (Hemisphere(c, other) != 0) {
        problem = std::string("has the hemisphere ") + c + ", where this column takes " + axisLetters;
        return false;
      }
      continue;
    }
    if (hemisphere != 0) {
      problem = "has a hemisphere letter at both ends";
      return false;
    }
    hemisphere = sign;
    if (atStart) {
      text.erase(0, 1);
    } else {
      text.pop_back();
    }
  }
  std::size_t at = 0;
  SkipBlanks(text, at);
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
    if (hemisphere != 0) {
      problem = "has both a sign and a hemisphere letter";
      return false;
    }
    negative = text[at] == '-';
    ++at;
  }
  if (hemisphere < 0) negative = true;

  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();

  Decimal parts[3];
  int given = 0;
  if (packed && (plain || IsUnsignedDecimal(text, at))) {
    // ddd.mmssss, a hemisphere letter (35.4317557N) read off it like a sign: the fraction's
    // digits are minutes, seconds and the seconds' decimals.
    Decimal packedNumber;
    if (!ScanDecimal(text, at, packedNumber) || at != text.size()) {
      problem = "is not a packed ddd.mmss angle";
      return false;
    }
    std::string fraction = packedNumber.fraction;
    if (fraction.size() < 4) fraction.append(4 - fraction.size(), '0');
    parts[0].whole = packedNumber.whole.empty() ? "0" : packedNumber.whole;
    parts[1].whole = fraction.substr(0, 2);
    parts[2].whole = fraction.substr(2, 2);
    parts[2].fraction = fraction.substr(4);
    given = 3;
  } else {
    if (!ScanDecimal(text, at, parts[0])) {
      problem = "is not a number";
      return false;
    }
    given = 1;
    const std::size_t afterDegrees = at;
    SkipBlanks(text, at);
    if (at > afterDegrees && at < text.size() && (IsDigit(text[at]) || text[at] == '.')) {
      // Blanks alone between the parts, as a comma-, semicolon- or tab-separated table may
      // write them: "53 46 34.66192".
      for (; given < 3 && at < text.size() && (IsDigit(text[at]) || text[at] == '.'); ++given) {
        if (!ScanDecimal(text, at, parts[given])) {
          problem = "is not a number";
          return false;
        }
        const std::size_t afterPart = at;
        SkipBlanks(text, at);
        if (at == afterPart && at < text.size()) break;
      }
    } else if (at < text.size() && text[at] == ':') {
      for (; given < 3 && at < text.size() && text[at] == ':'; ++given) {
        ++at;
        if (!ScanDecimal(text, at, parts[given])) {
          problem = "is not a number";
          return false;
        }
      }
    } else if (Skip(text, at, {"\xC2\xB0", "\xC2\xBA", "d", "D"})) {  // ° º
      SkipBlanks(text, at);
      if (at < text.size()) {
        if (!ScanDecimal(text, at, parts[1])) {
          problem = "is not a number";
          return false;
        }
        given = 2;
        SkipBlanks(text, at);
        if (!Skip(text, at, {"'", "\xE2\x80\xB2", "\xE2\x80\x99", "m", "M"})) {  // ′ ’
          problem = "is not a degrees-minutes-seconds angle";
          return false;
        }
        SkipBlanks(text, at);
        if (at < text.size()) {
          if (!ScanDecimal(text, at, parts[2])) {
            problem = "is not a number";
            return false;
          }
          given = 3;
          SkipBlanks(text, at);
          Skip(text, at, {"\"", "\xE2\x80\xB3", "\xE2\x80\x9D", "''", "s", "S"});  // ″ ”
        }
      }
    } else if (at != text.size() || hemisphere == 0) {
      problem = "is not a number";
      return false;
    }
    // Otherwise decimal degrees with a hemisphere letter (35.7N).
    SkipBlanks(text, at);
    if (at != text.size()) {
      problem = "is not a degrees-minutes-seconds angle";
      return false;
    }
  }
  for (int k = 0; k < given; ++k) {
    if (!Fits(parts[k])) {
      problem = "has more digits than an angle";
      return false;
    }
    // Only the last part given may have decimals.
    if (k + 1 < given && !parts[k].fraction.empty()) {
      problem = "has decimals before its last part";
      return false;
    }
  }
  if (given >= 2 && Scaled(parts[1], parts[1].fraction.size()) >=
                        60 * Scaled(Decimal{"1", ""}, parts[1].fraction.size())) {
    problem = "has minutes of 60 or more";
    return false;
  }
  if (given >= 3 && Scaled(parts[2], parts[2].fraction.size()) >=
                        60 * Scaled(Decimal{"1", ""}, parts[2].fraction.size())) {
    problem = "has seconds of 60 or more";
    return false;
  }
  degrees = ExactDegrees(parts[0], parts[1], parts[2], negative);
  return true;
}

}  // namespace Quorvane
