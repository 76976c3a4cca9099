#include "app/input/point_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "app/input/angle_text.h"
#include "app/platform/platform.h"
#include "app/text/text_encoding.h"

namespace Quorvane {

namespace {

// What a column holds. The words of the header name one each (kColumnWords); a kind of list
// then reads each word's role as one of its columns, or refuses it.
enum class Role {
  Name, Longitude, Latitude, Easting, Northing, Height, X, Y, Z, SigmaH, SigmaV, Epoch,
  None, Ambiguous
};
constexpr std::size_t kWordRoles = 12;  // Name … Epoch

// The words a header may name a column by, for every kind of list: ASCII ones compare without
// regard to case, the Chinese ones (UTF-8) exactly.
struct ColumnWord {
  const char* word;
  Role role;
};
const ColumnWord kColumnWords[] = {
    {"name", Role::Name}, {"id", Role::Name}, {"point", Role::Name}, {"station", Role::Name},
    {"\xE7\x82\xB9\xE5\x90\x8D", Role::Name},                 // 点名
    {"\xE7\x82\xB9\xE5\x8F\xB7", Role::Name},                 // 点号
    {"lon", Role::Longitude}, {"longitude", Role::Longitude}, {"l", Role::Longitude},
    {"\xE7\xBB\x8F\xE5\xBA\xA6", Role::Longitude},            // 经度
    {"lat", Role::Latitude}, {"latitude", Role::Latitude}, {"b", Role::Latitude},
    {"\xE7\xBA\xAC\xE5\xBA\xA6", Role::Latitude},             // 纬度
    {"e", Role::Easting}, {"easting", Role::Easting},
    {"\xE4\xB8\x9C\xE5\x9D\x90\xE6\xA0\x87", Role::Easting},  // 东坐标
    {"n", Role::Northing}, {"northing", Role::Northing},
    {"\xE5\x8C\x97\xE5\x9D\x90\xE6\xA0\x87", Role::Northing}, // 北坐标
    {"h", Role::Height}, {"height", Role::Height}, {"elevation", Role::Height},
    {"elev", Role::Height},
    {"\xE9\xAB\x98\xE7\xA8\x8B", Role::Height},               // 高程
    {"\xE6\xAD\xA3\xE5\xB8\xB8\xE9\xAB\x98", Role::Height},   // 正常高 (normal height)
    {"\xE5\xA4\xA7\xE5\x9C\xB0\xE9\xAB\x98", Role::Height},   // 大地高 (ellipsoidal height)
    {"x", Role::X}, {"y", Role::Y}, {"z", Role::Z},
    // A point's a priori precision, as receivers and control tables give it: the standard
    // deviation of one horizontal coordinate and of the height.
    {"sigmah", Role::SigmaH}, {"\xCF\x83h", Role::SigmaH},  // σH
    {"hrms", Role::SigmaH}, {"h.rms", Role::SigmaH}, {"hprec", Role::SigmaH},
    {"sigmav", Role::SigmaV}, {"\xCF\x83v", Role::SigmaV},  // σV
    {"vrms", Role::SigmaV}, {"v.rms", Role::SigmaV}, {"vprec", Role::SigmaV},
    // The epoch of the coordinates, a decimal year.
    {"epoch", Role::Epoch}, {"t", Role::Epoch},
    {"\xE5\x8E\x86\xE5\x85\x83", Role::Epoch},  // 历元
};

// A kind of list: its three coordinates in the order of a point (x, y, z of Point3), and the
// column each word's role is read as (None: no column of this kind), indexed by that role.
struct ListKind {
  Role coordinates[3];
  Role reads[kWordRoles];
  const char* columns;  // for "is not a column name (…)"
};
using R = Role;
// `reads` in the order Name, Longitude, Latitude, Easting, Northing, Height, X, Y, Z, SigmaH,
// SigmaV, Epoch (the last three the same in every kind). Z is the height in both. Survey tables put the northing in X and others the easting, so a grid refuses
// X and Y rather than guess.
const ListKind kGeographic = {{R::Longitude, R::Latitude, R::Height},
                              {R::Name, R::Longitude, R::Latitude, R::None, R::None,
                               R::Height, R::None, R::None, R::Height, R::SigmaH, R::SigmaV,
                               R::Epoch},
                              "name, lon, lat, h"};
const ListKind kGrid = {{R::Easting, R::Northing, R::Height},
                        {R::Name, R::None, R::None, R::Easting, R::Northing,
                         R::Height, R::Ambiguous, R::Ambiguous, R::Height, R::SigmaH,
                         R::SigmaV, R::Epoch},
                        "name, N, E, h"};
// Geocentric X, Y, Z: here the letters are the coordinates, and a height is none of them.
const ListKind kGeocentric = {{R::X, R::Y, R::Z},
                              {R::Name, R::None, R::None, R::None, R::None, R::None, R::X,
                               R::Y, R::Z, R::SigmaH, R::SigmaV, R::Epoch},
                              "name, X, Y, Z"};

// The units a header may give in brackets after a column's word ("X(m)", "E [m]", "高程（m）"):
// metres for lengths, degrees for angles. Compared as the words are.
const char* const kMetreUnits[] = {"m", "metre", "metres", "meter", "meters",
                                   "\xE7\xB1\xB3"};  // 米
const char* const kDegreeUnits[] = {"\xC2\xB0", "deg", "degree", "degrees", "dms",
                                    "\xE5\xBA\xA6"};  // ° 度
const char* const kYearUnits[] = {"a", "yr", "year", "years", "\xE5\xB9\xB4"};  // 年


// The full-width comma and semicolon of Chinese input methods, in each encoding a file may use.
constexpr char kWideCommaUtf8[] = "\xEF\xBC\x8C";      // ，
constexpr char kWideSemicolonUtf8[] = "\xEF\xBC\x9B";  // ；
constexpr char kWideCommaGbk[] = "\xA3\xAC";
constexpr char kWideSemicolonGbk[] = "\xA3\xBB";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const std::string& text, std::size_t begin, std::size_t end) {
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool SameWord(const std::string& field, const char* word) {
  if (field.size() != std::strlen(word)) return false;
  for (std::size_t k = 0; k < field.size(); ++k) {
    const char c = field[k];
    const char lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower != word[k]) return false;
  }
  return true;
}

// A field that reads as a number of any kind the file may hold: a header has none.
bool LooksNumeric(const std::string& field) {
  double value = 0.0;
  std::string problem;
  return ReadDecimal(field, value, problem) ||
         ReadAngle(field, AngleAxis::Longitude, false, value, problem) ||
         ReadAngle(field, AngleAxis::Latitude, false, value, problem);
}

// ASCII text in UTF-16 without a byte-order mark: every other byte NUL, the others not.
bool LooksLikeUtf16(const std::string& line) {
  const std::size_t length = std::min<std::size_t>(line.size(), 64) & ~std::size_t{1};
  if (length < 2) return false;
  for (const std::size_t zero : {0u, 1u}) {
    bool pattern = true;
    for (std::size_t k = 0; k < length && pattern; ++k) {
      pattern = (line[k] == '\0') == (k % 2 == zero);
    }
    if (pattern) return true;
  }
  return false;
}

// A decimal with a point or an exponent: a coordinate, never a point's name.
bool LooksLikeCoordinate(const std::string& field) {
  double value = 0.0;
  std::string problem;
  return field.find_first_of(".eE") != std::string::npos && ReadDecimal(field, value, problem);
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

// A header field split into its word and the unit in brackets after it: "X(m)", "E [m]",
// "高程（m）" (full-width brackets). The unit is empty when there are no brackets.
void SplitUnit(const std::string& field, std::string& word, std::string& unit) {
  static const struct {
    const char* open;
    const char* close;
  } kBrackets[] = {{"(", ")"}, {"[", "]"}, {"\xEF\xBC\x88", "\xEF\xBC\x89"}};  // （ ）
  word = field;
  unit.clear();
  for (const auto& bracket : kBrackets) {
    const std::size_t closeLength = std::strlen(bracket.close);
    if (field.size() < closeLength ||
        field.compare(field.size() - closeLength, closeLength, bracket.close) != 0) {
      continue;
    }
    const std::size_t open = field.rfind(bracket.open);
    if (open == std::string::npos || open == 0) continue;
    const std::size_t openLength = std::strlen(bracket.open);
    word = Trimmed(field, 0, open);
    unit = Trimmed(field, open + openLength, field.size() - closeLength);
    return;
  }
}

bool OneOf(const std::string& unit, const char* const* begin, const char* const* end) {
  return std::any_of(begin, end, [&](const char* known) { return SameWord(unit, known); });
}

// The line-by-line reading of one point file.
class Parser {
 public:
  Parser(const PointFileOptions& options, ObservationList& list)
      : options_(options),
        kind_(options.geocentric ? kGeocentric : options.grid ? kGrid : kGeographic),
        list_(list),
        kept_(list.points.size()),
        keptNames_(list.names.size()),
        keptPrecision_(list.precision.size()),
        keptEpochs_(list.epochs.size()),
        roles_(std::begin(kind_.coordinates), std::end(kind_.coordinates)) {}

  // One line without its line end, numbered from 1.
  bool Line(std::size_t number, std::string line, std::string& problem) {
    // UTF-16 shows in the first lines that are not empty: a byte-order mark, ASCII with every
    // other byte NUL, or a line that is one NUL (an empty line's other byte, big-endian).
    if (!started_ && ((number == 1 && (line.compare(0, 2, "\xFF\xFE") == 0 ||
                                       line.compare(0, 2, "\xFE\xFF") == 0)) ||
                      LooksLikeUtf16(line) || line == std::string(1, '\0'))) {
      problem = "UTF-16: save the file as UTF-8 or GBK";
      return Fail();
    }
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kLongestPointLine) {
      problem = Where(number) + "longer than " + std::to_string(kLongestPointLine) + " bytes";
      return Fail();
    }
    // The file's encoding is one for all its bytes, comments included: UTF-8 while every line
    // is, GBK from the first line that is not (and the names read before it with it).
    ascii_ = IsAscii(line);
    if (utf8_ && !ascii_ && !IsValidUtf8(line) && !BecomeGbk(number, problem)) return Fail();
    std::size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (first == line.size() || line[first] == '#') return true;

    if (!started_) {
      started_ = true;
      const std::string trimmed = Trimmed(line, 0, line.size());
      separator_ = 0;
      for (const char c : {',', ';', '\t'}) {
        separator_ = c;
        std::size_t length = 0;
        NextSeparator(trimmed, 0, length);
        if (length > 0) break;
        separator_ = 0;
      }
      const std::vector<std::string> fields = Split(line);
      if (std::none_of(fields.begin(), fields.end(), LooksNumeric)) {
        return Header(number, fields, problem);
      }
    }
    return Point(number, Split(line), problem);
  }

  bool Finish(std::string& problem) {
    if (list_.points.size() == kept_) {
      problem = "holds no points";
      return false;
    }
    return true;
  }

  bool Fail() {
    list_.points.resize(kept_);
    list_.names.resize(keptNames_);
    list_.precision.resize(keptPrecision_);
    list_.epochs.resize(keptEpochs_);
    return false;
  }

 private:
  static std::string Where(std::size_t number) { return "line " + std::to_string(number) + ": "; }

  std::string Quoted(const std::string& text) const {
    return QuotedField(text, 40, options_.encoding);
  }

  // Where the next separator at or after `from` (a character's start) is, with its length in
  // `length`; the line's end, with 0, when none follows.
  std::size_t NextSeparator(const std::string& line, std::size_t from, std::size_t& length) const {
    length = 0;
    if (ascii_ || (separator_ != ',' && separator_ != ';')) {
      const std::size_t at = line.find(separator_, from);
      if (at == std::string::npos) return line.size();
      length = 1;
      return at;
    }
    if (utf8_) {
      // In UTF-8 the full-width form's bytes are that character wherever they are: searched for.
      const char* wide = separator_ == ',' ? kWideCommaUtf8 : kWideSemicolonUtf8;
      for (std::size_t at = from; at < line.size(); ++at) {
        length = line[at] == separator_                                ? 1
                 : line[at] == wide[0] && line.compare(at, 3, wide) == 0 ? 3
                                                                         : 0;
        if (length > 0) return at;
      }
      return line.size();
    }
    // GBK: its two-byte characters are stepped over whole, so that a separator is never found
    // across two of them.
    const char* wide = separator_ == ',' ? kWideCommaGbk : kWideSemicolonGbk;
    for (std::size_t at = from; at < line.size(); ++at) {
      if (line[at] == separator_) {
        length = 1;
        return at;
      }
      if ((line[at] & 0x80) == 0 || at + 1 == line.size()) continue;
      if (line[at] == wide[0] && line[at + 1] == wide[1]) {
        length = 2;
        return at;
      }
      ++at;
    }
    return line.size();
  }

  std::vector<std::string> Split(const std::string& line) const {
    std::vector<std::string> fields;
    if (separator_ != 0) {
      for (std::size_t start = 0;;) {
        std::size_t length = 0;
        const std::size_t stop = NextSeparator(line, start, length);
        fields.push_back(Trimmed(line, start, stop));
        if (length == 0) return fields;
        start = stop + length;
      }
    }
    for (std::size_t at = 0; at < line.size();) {
      while (at < line.size() && IsBlank(line[at])) ++at;
      const std::size_t start = at;
      while (at < line.size() && !IsBlank(line[at])) ++at;
      if (at > start) fields.push_back(line.substr(start, at - start));
    }
    return fields;
  }

  // From line `number` on the file is GBK: the names read so far, valid UTF-8 like their lines,
  // are read again as GBK.
  bool BecomeGbk(std::size_t number, std::string& problem) {
    utf8_ = false;
    for (std::size_t k = keptNames_; k < list_.names.size(); ++k) {
      std::string converted;
      if (!FromGbk(list_.names[k], converted)) {
        problem = Where(number) +
                  "the file is not UTF-8 here, so it is read as GBK, but the name " +
                  Quoted(list_.names[k]) + " of point " + std::to_string(k - keptNames_ + 1) +
                  " is not GBK text";
        return false;
      }
      list_.names[k] = std::move(converted);
    }
    return true;
  }

  static bool FromGbk(const std::string& gbk, std::string& utf8) {
    if (IsAscii(gbk)) {
      utf8 = gbk;
      return true;
    }
    return GbkToUtf8(gbk, utf8) && IsValidUtf8(utf8);
  }

  // What the columns are, for messages: "(lon,lat,h)".
  std::string Layout(bool named) const {
    std::string layout = "(";
    const auto word = [](Role role) {
      switch (role) {
        case Role::Name:
          return "name";
        case Role::Longitude:
          return "lon";
        case Role::Latitude:
          return "lat";
        case Role::Easting:
          return "E";
        case Role::Northing:
          return "N";
        case Role::Height:
          return "h";
        case Role::X:
          return "X";
        case Role::Y:
          return "Y";
        case Role::Z:
          return "Z";
        case Role::SigmaH:
          return "sigmaH";
        case Role::SigmaV:
          return "sigmaV";
        case Role::Epoch:
          return "epoch";
        case Role::None:
        case Role::Ambiguous:
          break;
      }
      return "";
    };
    if (named && !header_) layout += "name,";
    for (std::size_t k = 0; k < roles_.size(); ++k) {
      if (k > 0) layout += ',';
      layout += word(roles_[k]);
    }
    return layout + ")";
  }

  bool Header(std::size_t number, const std::vector<std::string>& fields, std::string& problem) {
    header_ = true;
    roles_.clear();
    for (std::size_t k = 0; k < fields.size(); ++k) {
      std::string text;
      if (!ToUtf8(fields[k], text)) text = fields[k];
      std::string word;
      std::string unit;
      SplitUnit(text, word, unit);
      const std::string column = "column " + std::to_string(k + 1) + " " + Quoted(fields[k]);
      Role role = Role::None;
      Role named = Role::None;  // what the word names in any kind of list
      for (const ColumnWord& entry : kColumnWords) {
        if (SameWord(word, entry.word)) {
          role = kind_.reads[static_cast<std::size_t>(entry.role)];
          named = entry.role;
          break;
        }
      }
      // A grid table read as longitudes and latitudes: its system was not given.
      if (role == Role::None && (named == Role::Easting || named == Role::Northing) &&
          kind_.coordinates[0] == Role::Longitude) {
        problem = Where(number) + column + " names a grid's " +
                  (named == Role::Easting ? "easting" : "northing") +
                  ", and this list is read as longitude, latitude and height: give the grid's "
                  "system, --source-crs for a source list (and its --apply points), "
                  "--destination-crs or --grid for a destination list";
        return Fail();
      }
      if (role == Role::Ambiguous) {
        problem = Where(number) + column +
                  " is ambiguous: survey tables put the northing in X, others the easting; name "
                  "the columns N and E (or northing and easting)";
        return Fail();
      }
      if (role == Role::None) {
        problem = Where(number) + column + " is not a column name (" + kind_.columns +
                  " or their Chinese names)";
        return Fail();
      }
      const bool angle = role == Role::Longitude || role == Role::Latitude;
      const bool year = role == Role::Epoch;
      if (!unit.empty() && role != Role::Name &&
          !(angle  ? OneOf(unit, std::begin(kDegreeUnits), std::end(kDegreeUnits))
            : year ? OneOf(unit, std::begin(kYearUnits), std::end(kYearUnits))
                   : OneOf(unit, std::begin(kMetreUnits), std::end(kMetreUnits)))) {
        problem = Where(number) + column + " gives its unit as " + Quoted(unit) + ", where " +
                  (angle  ? "angles are read in degrees"
                   : year ? "epochs are read in decimal years"
                          : "lengths are read in metres");
        return Fail();
      }
      if (std::find(roles_.begin(), roles_.end(), role) != roles_.end()) {
        problem = Where(number) + column + " names a column a second time";
        return Fail();
      }
      roles_.push_back(role);
    }
    for (const Role needed : kind_.coordinates) {
      if (std::find(roles_.begin(), roles_.end(), needed) == roles_.end()) {
        const char* what = needed == Role::Easting     ? "easting"
                           : needed == Role::Northing  ? "northing"
                           : needed == Role::Longitude ? "longitude"
                           : needed == Role::Latitude  ? "latitude"
                           : needed == Role::Height    ? "height"
                           : needed == Role::X         ? "X"
                           : needed == Role::Y         ? "Y"
                                                       : "Z";
        problem = Where(number) + "the header names no " + what + " column";
        return Fail();
      }
    }
    named_ = std::find(roles_.begin(), roles_.end(), Role::Name) != roles_.end() ? 1 : 0;
    const auto has = [this](Role role) {
      return std::find(roles_.begin(), roles_.end(), role) != roles_.end();
    };
    precise_ = has(Role::SigmaH) || has(Role::SigmaV);
    dated_ = has(Role::Epoch);
    return true;
  }

  // A name field: a UTF-8 file's names are its bytes; a GBK file's are converted.
  bool Name(const std::string& field, const std::string& where, std::string& name,
            std::string& problem) const {
    if (field.empty()) {
      problem = where + "(the point's name) is empty";
      return false;
    }
    if (utf8_) {
      name = field;
    } else if (!FromGbk(field, name)) {
      problem = where + Quoted(field) +
                ", the point's name, is not GBK text (the file is not UTF-8 throughout, so "
                "it is read as GBK)";
      return false;
    }
    return true;
  }

  // A σ or an epoch field: empty when the point has none, else a number in its range.
  bool Extra(Role role, const std::string& field, const std::string& where, Precision& sigma,
             double& epoch, std::string& problem) const {
    if (field.empty()) return true;
    double value = 0.0;
    std::string why;
    if (!ReadDecimal(field, value, why)) {
      problem = where + Quoted(field) + " " + why;
      return false;
    }
    if (role == Role::Epoch) {
      if (!(value >= kEarliestEpoch && value <= kLatestEpoch)) {
        problem = where + Quoted(field) + " is not an epoch in decimal years (" +
                  std::to_string(static_cast<int>(kEarliestEpoch)) + " to " +
                  std::to_string(static_cast<int>(kLatestEpoch)) + ")";
        return false;
      }
      epoch = value;
      return true;
    }
    if (!(value > 0.0)) {
      problem = where + Quoted(field) + " is not a standard deviation in metres above 0";
      return false;
    }
    (role == Role::SigmaH ? sigma.horizontal : sigma.vertical) = value;
    return true;
  }

  bool Point(std::size_t number, const std::vector<std::string>& fields, std::string& problem) {
    // Without a header the first point decides whether the file names its points.
    std::size_t columns = roles_.size();
    if (!header_) {
      if (named_ < 0) {
        named_ = fields.size() == 4 && !LooksLikeCoordinate(fields[0]) ? 1 : 0;
        if (fields.size() == 4 && named_ == 0) {
          problem = Where(number) + "4 fields where a point has 3 " + Layout(false) +
                    ", and field 1 " + Quoted(fields[0]) +
                    " is a number, not a name: is a column shifted?";
          return Fail();
        }
      }
      columns += static_cast<std::size_t>(named_);
    }
    if (fields.size() != columns) {
      problem = Where(number) + std::to_string(fields.size()) + " fields where a point has " +
                std::to_string(columns) + " " + Layout(named_ == 1);
      if (!header_ && (fields.size() == 3 || fields.size() == 4)) {
        problem += ": a file names every point or none";
      }
      return Fail();
    }
    double values[3] = {0.0, 0.0, 0.0};
    std::string name;
    Precision sigma;
    double epoch = NAN;
    for (std::size_t k = 0; k < fields.size(); ++k) {
      const Role role = header_ ? roles_[k] : (named_ == 1 && k == 0 ? Role::Name : roles_[k - named_]);
      const std::string& field = fields[k];
      const std::string where = Where(number) + "field " + std::to_string(k + 1) + " ";
      if (role == Role::Name) {
        if (!Name(field, where, name, problem)) return Fail();
        continue;
      }
      if (role == Role::SigmaH || role == Role::SigmaV || role == Role::Epoch) {
        if (!Extra(role, field, where, sigma, epoch, problem)) return Fail();
        continue;
      }
      std::string why;
      double value = 0.0;
      bool read = false;
      if (role == Role::Longitude || role == Role::Latitude) {
        // The marks of degrees, minutes and seconds are told apart in either encoding: GBK's
        // never form UTF-8.
        std::string utf8;
        const std::string& text = IsAscii(field) || !ToUtf8(field, utf8) ? field : utf8;
        read = ReadAngle(text, role == Role::Latitude ? AngleAxis::Latitude : AngleAxis::Longitude,
                         options_.packedDms, value, why);
      } else {
        read = ReadDecimal(field, value, why);
      }
      if (!read) {
        problem = where + (field.empty() ? why : Quoted(field) + " " + why);
        return Fail();
      }
      std::size_t slot = 0;
      while (slot < 2 && kind_.coordinates[slot] != role) ++slot;
      values[slot] = value;
    }
    if (!options_.grid && !options_.geocentric && !InRange(number, values[0], values[1], problem)) {
      return Fail();
    }
    list_.points.emplace_back(values[0], values[1], values[2]);
    if (named_ == 1) list_.names.push_back(std::move(name));
    if (precise_) {
      list_.precision.resize(list_.points.size() - 1);
      list_.precision.push_back(sigma);
    }
    if (dated_) {
      list_.epochs.resize(list_.points.size() - 1, NAN);
      list_.epochs.push_back(epoch);
    }
    return true;
  }

  static bool InRange(std::size_t number, double longitude, double latitude, std::string& problem) {
    const std::string why = RangeProblem(longitude, latitude);
    if (why.empty()) return true;
    problem = Where(number) + why;
    return false;
  }

  const PointFileOptions& options_;
  const ListKind& kind_;
  ObservationList& list_;
  std::size_t kept_;
  std::size_t keptNames_;
  std::size_t keptPrecision_;
  std::size_t keptEpochs_;
  bool started_ = false;
  bool precise_ = false;  // the header names a σ column
  bool dated_ = false;    // the header names an epoch column
  bool header_ = false;
  bool utf8_ = true;  // every line so far is UTF-8
  bool ascii_ = true;  // the line being read is ASCII
  char separator_ = 0;
  std::vector<Role> roles_;  // with a header: every column; without: the coordinates
  int named_ = -1;           // -1 until the first point or the header tells
};

}  // namespace

std::string RangeProblem(double longitude, double latitude) {
  // Why a value is out of range: swapped when each value fits the other's range.
  const auto cause = [](double value, double valueAsOther, double other,
                        double otherLimit) -> const char* {
    if (std::fabs(value) > 1000.0 || std::fabs(other) > 1000.0) {
      return " (plane coordinates, not degrees?)";
    }
    if (std::fabs(value) <= valueAsOther && std::fabs(other) <= otherLimit) {
      return " (longitude and latitude swapped?)";
    }
    return "";
  };
  char text[64];
  if (std::fabs(latitude) > 90.0) {
    std::snprintf(text, sizeof text, "%.9g", latitude);
    return std::string("latitude ") + text + " is beyond 90 degrees" +
           cause(latitude, 180.0, longitude, 90.0);
  }
  if (std::fabs(longitude) > 180.0) {
    std::snprintf(text, sizeof text, "%.9g", longitude);
    return std::string("longitude ") + text + " is beyond 180 degrees" +
           cause(longitude, 90.0, latitude, 180.0);
  }
  return std::string();
}

bool ParsePointFileText(const std::string& text, const PointFileOptions& options,
                        ObservationList& list, std::string& problem) {
  Parser parser(options, list);
  std::size_t start = 0;
  for (std::size_t line = 1; start < text.size(); ++line) {
    std::size_t stop = text.find('\n', start);
    if (stop == std::string::npos) stop = text.size();
    if (!parser.Line(line, text.substr(start, stop - start), problem)) return false;
    start = stop + 1;
  }
  return true;
}

bool ReadPointFile(const std::string& path, const PointFileOptions& options, ObservationList& list,
                   std::string& problem) {
  switch (KindOfFile(path)) {
    case FileKind::Folder:
      problem = std::string("cannot be read (") + std::strerror(EISDIR) + ")";
      return false;
    case FileKind::Special:
      problem = "cannot be read: it is a device, not a regular file or a pipe";
      return false;
    case FileKind::Missing:
    case FileKind::Readable:
      break;
  }
  // C streams rather than iostreams: a folder opens on Linux and only fails at the first read,
  // which std::ferror reports and an istream iterator would take for the end of an empty file.
  errno = 0;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  if (!file) {
    problem = std::string("cannot be opened (") +
              (errno != 0 ? std::strerror(errno) : "open failed") + ")";
    return false;
  }
  // Line by line through a fixed buffer; a line is only ever held up to the longest allowed, so
  // a file without line ends costs one line's memory before it is refused.
  Parser parser(options, list);
  std::string line;
  std::size_t number = 1;
  char chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    for (std::size_t at = 0; at < got;) {
      // The bytes a line may hold besides its text: a CR, and on the first line a byte-order
      // mark.
      const std::size_t room = kLongestPointLine + 1 + (number == 1 ? 3 : 0);
      const void* end = std::memchr(chunk + at, '\n', got - at);
      const std::size_t stop = end ? static_cast<std::size_t>(static_cast<const char*>(end) - chunk) : got;
      line.append(chunk + at, std::min(stop - at, room + 1 - std::min(room + 1, line.size())));
      if (line.size() > room) {
        // Longer than any line may be: refused without reading on. The parser refuses it (or
        // the file as UTF-16); should it ever take such a line, the file is still refused rather
        // than cut short here.
        if (parser.Line(number, line, problem)) {
          problem = "line " + std::to_string(number) + ": longer than " +
                    std::to_string(kLongestPointLine) + " bytes";
          parser.Fail();
        }
        return false;
      }
      if (!end) break;
      if (!parser.Line(number++, line, problem)) return false;
      line.clear();
      at = stop + 1;
    }
  }
  if (std::ferror(file.get())) {
    problem = std::string("cannot be read (") +
              (errno != 0 ? std::strerror(errno) : "read failed") + ")";
    parser.Fail();
    return false;
  }
  if (!line.empty() && !parser.Line(number, line, problem)) return false;
  if (!parser.Finish(problem)) return false;
  return true;
}

}  // namespace Quorvane
