// The command-line scan and the point-list parser, case by case from the tool's documented tables.
#include "app/cli/command_line.h"

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/cli/run_settings.h"
#include "tests/support/point_printing.h"

namespace Quorvane {
namespace {

struct ScanCase {
  const char* name;
  std::vector<std::string> arguments;  // after the program path
  bool ok;
  const char* sourceText;
  const char* destinationText;
};

bool Scan(const std::vector<std::string>& arguments, OptionTexts& texts) {
  std::vector<const char*> argv = {"/opt/quorvane/quorvane"};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), texts);
}

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class CommandLineScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(CommandLineScan, StoresValuesAndReportsCompleteness) {
  const ScanCase& c = GetParam();
  OptionTexts texts;
  EXPECT_EQ(Scan(c.arguments, texts), c.ok);
  EXPECT_EQ(texts.sourceText, c.sourceText);
  EXPECT_EQ(texts.destinationText, c.destinationText);
}

INSTANTIATE_TEST_SUITE_P(
    DocumentedTable, CommandLineScan,
    ::testing::Values(
        ScanCase{"Both", {"--refsrc", "1,2,3", "--refdes", "4,5,6"}, true, "1,2,3", "4,5,6"},
        ScanCase{"AnyOrderOthersSkipped",
                 {"--refdes", "4,5,6", "-v", "foo", "--refsrc", "1,2,3"}, true, "1,2,3", "4,5,6"},
        ScanCase{"DestinationMissing", {"--refsrc", "1,2,3"}, false, "1,2,3", ""},
        ScanCase{"CaseSensitive", {"--REFSRC", "1,2,3", "--refdes", "4,5,6"}, false, "", "4,5,6"},
        ScanCase{"JoinedFormNotRecognised", {"--refsrc=1,2,3", "--refdes", "4,5,6"}, false, "",
                 "4,5,6"},
        ScanCase{"LastOccurrenceWins",
                 {"--refsrc", "1,2,3", "--refsrc", "7,8,9", "--refdes", "4,5,6"}, true, "7,8,9",
                 "4,5,6"},
        ScanCase{"LaterEmptyValueReplaces",
                 {"--refsrc", "1,2,3", "--refsrc", "", "--refdes", "4,5,6"}, false, "", "4,5,6"},
        ScanCase{"ValueIsConsumedEvenIfOption", {"--refsrc", "--refdes", "4,5,6"}, false,
                 "--refdes", ""}),
    QuorvaneTest::CaseName());

INSTANTIATE_TEST_SUITE_P(
    Edges, CommandLineScan,
    ::testing::Values(
        ScanCase{"NoArguments", {}, false, "", ""},
        // A trailing option has an empty value: it clears what an earlier occurrence set.
        ScanCase{"TrailingOptionClearsEarlierValue",
                 {"--refsrc", "1,2,3", "--refdes", "4,5,6", "--refsrc"}, false, "", "4,5,6"},
        ScanCase{"TrailingOptionAlone", {"--refdes"}, false, "", ""},
        ScanCase{"SingleDashAndPrefixIgnored", {"-refsrc", "1", "--ref", "2", "--refsrcx", "3"},
                 false, "", ""},
        // Bytes pass through untouched: blanks, quotes and non-ASCII stay as they came.
        ScanCase{"ValueBytesUnchanged", {"--refsrc", " \"1,\xB5\xE3\" ", "--refdes", "\t"}, true,
                 " \"1,\xB5\xE3\" ", "\t"}),
    QuorvaneTest::CaseName());

TEST(CommandLineScanState, OverwritesTextsOfAnEarlierScan) {
  OptionTexts texts{"old source", "old destination"};
  EXPECT_FALSE(Scan({"--refdes", "4,5,6"}, texts));
  EXPECT_EQ(texts.sourceText, "");
  EXPECT_EQ(texts.destinationText, "4,5,6");
}

TEST(CommandLineScanState, ArgumentZeroIsNeverAnOption) {
  const char* argv[] = {"--refsrc", "1,2,3", "--refdes", "4,5,6"};
  OptionTexts texts;
  EXPECT_FALSE(ParseCommandLine(4, argv, texts));
  EXPECT_EQ(texts.sourceText, "");
  EXPECT_EQ(texts.destinationText, "4,5,6");
}

struct ParseCase {
  const char* name;
  const char* text;
  PointList points;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class PointListParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(PointListParse, GivesDocumentedPoints) {
  const ParseCase& c = GetParam();
  PointList list;
  ParsePointList(c.text, list);
  EXPECT_EQ(list, c.points);
}

INSTANTIATE_TEST_SUITE_P(
    DocumentedTable, PointListParse,
    ::testing::Values(
        ParseCase{"OnePoint", "1.5,2.5,50", {{1.5, 2.5, 50}}},
        ParseCase{"TwoPoints", "1,2,3,4,5,6", {{1, 2, 3}, {4, 5, 6}}},
        ParseCase{"TrailingCommaAddsNoField", "1,2,3,", {{1, 2, 3}}},
        ParseCase{"TwoTrailingCommasLeaveIncompleteGroup", "1,2,3,,", {{1, 2, 3}}},
        ParseCase{"EmptyFieldIsZero", "1,,3", {{1, 0, 3}}},
        ParseCase{"LeadingEmptyFieldShiftsGroups", ",1,2,3", {{0, 1, 2}}},
        ParseCase{"IncompleteGroupDropped", "1,2,3,4,5", {{1, 2, 3}}},
        ParseCase{"BlanksDoNotSeparate", "1 2 3", {}},
        ParseCase{"TooFewNumbers", "1,2", {}},
        ParseCase{"SemicolonsDoNotSeparate", "1;2;3", {}},
        ParseCase{"NumericPrefixes", " 1.5 ,2.5x,5e1", {{1.5, 2.5, 50}}},
        ParseCase{"NoNumbersAreZero", "abc,def,ghi", {{0, 0, 0}}}),
    QuorvaneTest::CaseName());

INSTANTIATE_TEST_SUITE_P(
    CLibraryConversion, PointListParse,
    ::testing::Values(
        ParseCase{"SignsAndExponents", "-1.25,+2e-3,  \t-0", {{-1.25, 0.002, -0.0}}},
        ParseCase{"HexadecimalAsTheCLibraryReadsIt", "0x10,1e,.5", {{16, 1, 0.5}}},
        // The decimal separator is the C locale's full stop: "1,5" is two fields.
        ParseCase{"CommaIsNeverADecimalPoint", "1,5,2", {{1, 5, 2}}},
        ParseCase{"RealControlPoint", "139.703309802,35.721543559,98.748",
                  {{139.703309802, 35.721543559, 98.748}}},
        ParseCase{"OnlyCommas", ",,,", {{0, 0, 0}}}),
    QuorvaneTest::CaseName());

TEST(PointListParseGuard, EmptyTextLeavesListUnchanged) {
  PointList list;
  ParsePointList("", list);
  EXPECT_TRUE(list.empty());
}

TEST(PointListParseGuard, NonEmptyListIsNotAppendedTo) {
  PointList list = {{9, 9, 9}};
  ParsePointList("1,2,3", list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0], Point3(9, 9, 9));
}

TEST(PointListParseGuard, NegativeZeroKeepsItsSign) {
  PointList list;
  ParsePointList("-0,-0.0,0", list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_TRUE(std::signbit(list[0].x));
  EXPECT_TRUE(std::signbit(list[0].y));
  EXPECT_FALSE(std::signbit(list[0].z));
}

// Every row of the table of options is read by a run that gives it: its example, with the two
// lists, is accepted, and the reading asked for the option. A row that no code reads fails here.
TEST(OptionTable, EveryRowIsReadByTheRunThatGivesIt) {
  for (const OptionSpec& option : kOptions) {
    std::vector<std::string> arguments = {"--refsrc", "139.7,35.6,10", "--refdes", "139.7,35.6,10"};
    std::istringstream example(option.example);
    for (std::string word; example >> word;) arguments.push_back(word);
    OptionTexts texts;
    ASSERT_TRUE(Scan(arguments, texts)) << option.name;
    ASSERT_TRUE(texts.Has(option.id)) << option.name << ": its example does not give it";
    texts.asked_.reset();
    RunSettings settings;
    std::ostringstream errors;
    EXPECT_TRUE(ReadSettings(texts, settings, errors)) << option.name << ": " << errors.str();
    AboutAsked(texts);
    EXPECT_TRUE(texts.Asked(option.id)) << option.name << " is read by nothing";
  }
}

}  // namespace
}  // namespace Quorvane
