// The readers of control tables and the quoting of their text, case by case: angles against
// doubles worked out by hand, header words, and each class of escape.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/input/angle_text.h"
#include "app/input/point_file.h"
#include "app/text/text_encoding.h"
#include "tests/support/point_printing.h"

namespace Quorvane {
namespace {

constexpr AngleAxis kLon = AngleAxis::Longitude;
constexpr AngleAxis kLat = AngleAxis::Latitude;

struct AngleCase {
  const char* name;
  const char* text;  // UTF-8
  AngleAxis axis;
  bool packed;
  double degrees;                 // the double nearest the exact value, as a literal
  const char* problem = nullptr;  // for a refused text, the phrase that says why
};

void PrintTo(const AngleCase& c, std::ostream* os) { *os << c.name; }

class Angle : public ::testing::TestWithParam<AngleCase> {};

TEST_P(Angle, ReadsTheExactValueOrSaysWhyNot) {
  const AngleCase& c = GetParam();
  double degrees = 0.0;
  std::string problem;
  const bool read = ReadAngle(c.text, c.axis, c.packed, degrees, problem);
  EXPECT_EQ(read, c.problem == nullptr) << problem;
  if (read) {
    EXPECT_EQ(degrees, c.degrees);
  } else if (c.problem != nullptr) {
    EXPECT_EQ(problem, c.problem);
  }
}

// 139°42'11.915" = 139 + 42/60 + 11.915/3600 = 139.7033097222…; 11.9152872" is 0.003309802°
// exactly, so that text gives the double of 139.703309802.
constexpr double kDms = 139.70330972222222222222;

INSTANTIATE_TEST_SUITE_P(
    Forms, Angle,
    ::testing::Values(
        AngleCase{"Decimal", "139.703309802", kLon, false, 139.703309802},
        AngleCase{"Quotes", "139\u00B042'11.915\"", kLon, false, kDms},
        AngleCase{"Primes", "139\u00B042\u203211.915\u2033", kLon, false, kDms},
        AngleCase{"Letters", "139d42m11.915s", kLon, false, kDms},
        AngleCase{"Colons", "139:42:11.915", kLon, false, kDms},
        AngleCase{"BlanksBetweenParts", "139 \u00B0 42 \u2032 11.915 \u2033", kLon, false, kDms},
        AngleCase{"SameDoubleAsDecimal", "139\u00B042'11.9152872\"", kLon, false, 139.703309802},
        AngleCase{"DecimalMinutes", "139\u00B042.5'", kLon, false, 139.70833333333333333333},
        AngleCase{"SecondsJustBelow60", "139\u00B042'59.99\"", kLon, false, 139.71666388888888889},
        AngleCase{"SignNegates", "-35\u00B030'", kLat, false, -35.5},
        AngleCase{"SouthAfter", "35\u00B030'S", kLat, false, -35.5},
        AngleCase{"WestBefore", "W 139\u00B030'", kLon, false, -139.5},
        AngleCase{"WestAfterDecimal", "139.7W", kLon, false, -139.7},
        AngleCase{"SouthAfterSecondsLetter", "35d30m15sS", kLat, false, -35.504166666666666667},
        AngleCase{"Packed", "139.4211915", kLon, true, kDms},
        // The fraction's first two digits are minutes: 139.5 is 139°50', not 139°00'05".
        AngleCase{"PackedShortFraction", "139.5", kLon, true, 139.83333333333333333333},
        AngleCase{"PackedWhole", "139", kLon, true, 139.0}),
    QuorvaneTest::CaseName());

INSTANTIATE_TEST_SUITE_P(
    Refusals, Angle,
    ::testing::Values(
        AngleCase{"Seconds60", "139\u00B042'60\"", kLon, false, 0, "has seconds of 60 or more"},
        AngleCase{"DecimalsBeforeTheLastPart", "139.5\u00B030\u2032", kLon, false, 0,
                  "has decimals before its last part"},
        AngleCase{"SignAndLetter", "-35\u00B030'S", kLat, false, 0,
                  "has both a sign and a hemisphere letter"},
        AngleCase{"LettersAtBothEnds", "N35\u00B030'S", kLat, false, 0,
                  "has a hemisphere letter at both ends"},
        AngleCase{"PackedMinutes60", "139.6", kLon, true, 0, "has minutes of 60 or more"},
        AngleCase{"PackedSeconds60", "139.4260", kLon, true, 0, "has seconds of 60 or more"}),
    QuorvaneTest::CaseName());

// Every header word in some case, each file's one point read back into lon, lat, h (or E, N, h).
struct HeaderCase {
  const char* name;
  const char* header;  // UTF-8
  const char* line;    // the one point, named "P" where the header has a name column
  bool grid;
  const char* problem = nullptr;
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class HeaderWords : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderWords, OrderTheColumnsOrAreRefusedByName) {
  const HeaderCase& c = GetParam();
  PointFileOptions options;
  options.grid = c.grid;
  ObservationList list;
  std::string problem;
  const std::string text = std::string(c.header) + "\n" + c.line + "\n";
  const bool read = ParsePointFileText(text, options, list, problem);
  ASSERT_EQ(read, c.problem == nullptr) << problem;
  if (!read) {
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    return;
  }
  ASSERT_EQ(list.points.size(), 1u);
  EXPECT_EQ(list.points[0], c.grid ? Point3(500000.25, 3800000.5, 10) : Point3(139.5, 35.25, 10));
  EXPECT_EQ(list.names.size(), std::string(c.line).find('P') == std::string::npos ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Words, HeaderWords,
    ::testing::Values(
        HeaderCase{"Short", "name,lon,lat,h", "P,139.5,35.25,10", false},
        HeaderCase{"UpperCase", "NAME,LAT,LON,HEIGHT", "P,35.25,139.5,10", false},
        HeaderCase{"MixedCase", "Id;Latitude;LONGITUDE;Height", "P;35.25;139.5;10", false},
        HeaderCase{"Letters", "Point\tB\tL\tH", "P\t35.25\t139.5\t10", false},
        // 点名,纬度,经度,高程 and 点号 经度 纬度 大地高
        HeaderCase{"Chinese", "\u70B9\u540D,\u7EAC\u5EA6,\u7ECF\u5EA6,\u9AD8\u7A0B",
                   "P,35.25,139.5,10", false},
        HeaderCase{"ChineseEllipsoidalHeight",
                   "\u70B9\u53F7 \u7ECF\u5EA6 \u7EAC\u5EA6 \u5927\u5730\u9AD8", "P 139.5 35.25 10",
                   false},
        HeaderCase{"GridLetters", "name,N,e,h", "P,3800000.5,500000.25,10", true},
        HeaderCase{"GridWords", "EASTING,Northing,HEIGHT", "500000.25,3800000.5,10", true},
        // 北坐标,东坐标,高程
        HeaderCase{"GridChinese", "\u5317\u5750\u6807,\u4E1C\u5750\u6807,\u9AD8\u7A0B",
                   "3800000.5,500000.25,10", true},
        HeaderCase{"UnknownWord", "name,lonX,lat,h", "P,139.5,35.25,10", false,
                   "line 1: column 2 \"lonX\" is not a column name"},
        HeaderCase{"WordWithADigit", "lon,lat,height2", "139.5,35.25,10", false,
                   "line 1: column 3 \"height2\" is not a column name"},
        HeaderCase{"NoHeight", "name,lon,lat", "P,139.5,35.25", false,
                   "line 1: the header names no height column"}),
    QuorvaneTest::CaseName());

// Each class of what QuotedField escapes, and what it keeps.
struct QuotingCase {
  const char* name;
  std::string field;
  ConsoleEncoding encoding;
  std::string quoted;
  std::size_t longest = 40;
};

void PrintTo(const QuotingCase& c, std::ostream* os) { *os << c.name; }

class Quoting : public ::testing::TestWithParam<QuotingCase> {};

TEST_P(Quoting, EscapesWhatCouldBreakTheLineOrHide) {
  const QuotingCase& c = GetParam();
  EXPECT_EQ(QuotedField(c.field, c.longest, c.encoding), c.quoted);
}

constexpr ConsoleEncoding kGbk = ConsoleEncoding::Gbk;
constexpr ConsoleEncoding kUtf8 = ConsoleEncoding::Utf8;

INSTANTIATE_TEST_SUITE_P(
    Classes, Quoting,
    ::testing::Values(
        QuotingCase{"Plain", "139.7", kGbk, "\"139.7\""},
        QuotingCase{"Quote", "3\"", kGbk, "\"3\\x22\""},
        QuotingCase{"Backslash", "a\\b", kGbk, "\"a\\x5cb\""},
        QuotingCase{"LineBreak", "2,\n3", kGbk, "\"2,\\x0a3\""},
        QuotingCase{"EscapeSequence", "\x1b[2J", kUtf8, "\"\\x1b[2J\""},
        QuotingCase{"Delete", "\x7f", kUtf8, "\"\\x7f\""},
        QuotingCase{"C1Control", "\xC2\x85", kUtf8, "\"\\u{0085}\""},
        QuotingCase{"ByteOrderMark", "3\uFEFF5.7", kGbk, "\"3\\u{feff}5.7\""},
        QuotingCase{"ZeroWidthSpace", "a\u200Bb", kUtf8, "\"a\\u{200b}b\""},
        QuotingCase{"RightToLeftOverride", "a\u202Eb", kUtf8, "\"a\\u{202e}b\""},
        QuotingCase{"NeitherUtf8NorGbk", "a\xFF", kUtf8, "\"a\\xff\""},
        QuotingCase{"Utf8ToGbkConsole", "\u70B9", kGbk, "\"\xB5\xE3\""},  // 点
        QuotingCase{"GbkToUtf8Console", "\xB5\xE3", kUtf8, "\"\u70B9\""},
        QuotingCase{"CutAtTheLongest", "abcdefgh", kGbk, "\"abcd\"...", 4},
        QuotingCase{"CutBackToACharacter", "abc\u70B9", kUtf8, "\"abc\"...", 4}),
    QuorvaneTest::CaseName());

}  // namespace
}  // namespace Quorvane
