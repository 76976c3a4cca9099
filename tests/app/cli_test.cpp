// The real executable as a child process: what a user or a calling program sees.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/point_printing.h"

namespace {

using QuorvaneTest::ChildResult;
using QuorvaneTest::RunChild;

// "输入的参数有误\n" as GBK bytes, the tool's one message for an incomplete command line.
const std::string kBadArgumentsGbk =
    "\xCA\xE4\xC8\xEB\xB5\xC4\xB2\xCE\xCA\xFD\xD3\xD0\xCE\xF3\x0A";
// exit(-1) as an 8-bit exit status.
constexpr int kStatusBadInput = 255;

struct IncompleteCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string err = "";  // a warning for each argument that looks like an option but is none
};

void PrintTo(const IncompleteCase& c, std::ostream* os) { *os << c.name; }

class IncompleteCommandLine : public ::testing::TestWithParam<IncompleteCase> {};

TEST_P(IncompleteCommandLine, PrintsOnlyTheMessageAndExitsMinusOne) {
  QuorvaneTest::TempDir cwd;
  const ChildResult r = RunChild(QUORVANE_EXECUTABLE, GetParam().arguments, QuorvaneTest::InDirectory(cwd.path()));
  EXPECT_EQ(r.exitStatus, kStatusBadInput);
  EXPECT_EQ(r.out, kBadArgumentsGbk);
  EXPECT_EQ(r.err, GetParam().err);
  EXPECT_FALSE(QuorvaneTest::FileExists(cwd.path() + "/quorvane.json"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IncompleteCommandLine,
    ::testing::Values(
        IncompleteCase{"NoArguments", {}},
        IncompleteCase{"DestinationMissing", {"--refsrc", "1,2,3"}},
        IncompleteCase{"SourceMissing", {"--refdes", "4,5,6"}},
        IncompleteCase{"WrongCase", {"--REFSRC", "1,2,3", "--refdes", "4,5,6"},
                       "quorvane: warning: unknown option \"--REFSRC\", ignored\n"},
        IncompleteCase{"WrongCaseDestination", {"--refsrc", "1,2,3", "--REFDES", "4,5,6"},
                       "quorvane: warning: unknown option \"--REFDES\", ignored\n"},
        IncompleteCase{"JoinedForm", {"--refsrc=1,2,3", "--refdes", "4,5,6"},
                       "quorvane: warning: unknown option \"--refsrc=1,2,3\", ignored\n"},
        IncompleteCase{"JoinedFileOption", {"--refsrc-file=x", "--refdes", "4,5,6"},
                       "quorvane: warning: unknown option \"--refsrc-file=x\", ignored\n"},
        IncompleteCase{"LaterEmptyValue", {"--refsrc", "1,2,3", "--refsrc", "", "--refdes", "4,5,6"}},
        IncompleteCase{"OptionAsValue", {"--refsrc", "--refdes", "4,5,6"}},
        IncompleteCase{"TrailingOption", {"--refsrc", "1,2,3", "--refdes"}},
        IncompleteCase{"HelpAsAValueIsNoOption", {"--refdes", "--help"}}),
    QuorvaneTest::CaseName());

}  // namespace
