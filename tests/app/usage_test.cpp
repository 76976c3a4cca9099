// What a new user meets first, through the built executable: --help and --version, point files,
// and the labels in UTF-8.
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/point_printing.h"
#include "tests/support/tokyo_example.h"

namespace {

using QuorvaneTest::ChildResult;
using QuorvaneTest::MistypedTokyoSource;
using QuorvaneTest::ReadFile;
using QuorvaneTest::Tokyo;
using QuorvaneTest::WriteFile;

struct Installation {
  QuorvaneTest::TempDir home;
  std::string executable = QuorvaneTest::CopyExecutableTo(home.path());
  std::string resultFile = home.path() + "/quorvane.json";

  ChildResult Run(const std::vector<std::string>& arguments) const {
    return QuorvaneTest::RunChild(executable, arguments, QuorvaneTest::InDirectory(home.path()));
  }
};

// Every "--name" in a text; in a manual page after roff's "\-" escapes are undone.
std::set<std::string> OptionsNamed(std::string text) {
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
  std::set<std::string> names;
  const std::regex option("--[a-z0-9][a-z0-9-]*");
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
    names.insert(it->str());
  }
  return names;
}

TEST(Usage, HelpAndVersionWinAndTheManualPageNamesTheSameOptions) {
  Installation q;
  const std::vector<std::string> lists = {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1]};
  std::vector<std::string> withHelp = lists;
  withHelp.insert(withHelp.begin() + 2, "--help");  // after the value, not as it
  withHelp.push_back("--version");
  const ChildResult help = q.Run(withHelp);
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_FALSE(QuorvaneTest::FileExists(q.resultFile));
  for (const char c : help.out) ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);

  const std::string manual = ReadFile(QUORVANE_SOURCE_DIR "/man/quorvane.1");
  EXPECT_EQ(OptionsNamed(help.out), OptionsNamed(manual));
  EXPECT_NE(manual.find("\"quorvane " QUORVANE_VERSION "\""), std::string::npos);

  const ChildResult version = q.Run({"--version", "--refsrc", "--help"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out, "quorvane " QUORVANE_VERSION "\n");
}

// Each exit status the help lists opens as one of that status's rows in the README's table:
// "  1    the solver gave no usable result: …" as "| 1 | the solver gave no usable result (…",
// 255 as "| −1 (255) | …". The README is read, not copied, so that the two cannot drift apart.
TEST(Usage, HelpGivesTheExitCodesOfTheReadme) {
  Installation q;
  const std::string help = q.Run({"--help"}).out;
  std::string readme = ReadFile(QUORVANE_SOURCE_DIR "/README.md");
  readme.erase(std::remove(readme.begin(), readme.end(), '`'), readme.end());
  const std::size_t table = readme.find("\n| code | meaning |");
  ASSERT_NE(table, std::string::npos);
  const std::string rows = readme.substr(table, readme.find("\n\n", table) - table);
  std::set<std::string> inReadme, inHelp;
  const std::regex row(R"(\n\| [^|\n]*?(\d+)\)? \|)");
  for (std::sregex_iterator it(rows.begin(), rows.end(), row), end; it != end; ++it) {
    inReadme.insert((*it)[1]);
  }
  const std::string statuses = help.substr(std::min(help.find("Exit status:"), help.size()));
  const std::regex line(R"(\n  (\d+) +([a-z ]*[a-z]))");  // the status, its words to a stop
  for (std::sregex_iterator it(statuses.begin(), statuses.end(), line), end; it != end; ++it) {
    const std::string status = (*it)[1], words = (*it)[2];
    inHelp.insert(status);
    EXPECT_TRUE(rows.find("\n| " + status + " | " + words) != std::string::npos ||
                rows.find("(" + status + ") | " + words) != std::string::npos)
        << (*it)[0];
  }
  EXPECT_EQ(inHelp, inReadme);
}

// GBK bytes converted by the C library's own converter, an independent table.
std::string GbkToUtf8(const std::string& gbk) {
  const iconv_t convert = iconv_open("UTF-8", "GBK");
  EXPECT_NE(convert, reinterpret_cast<iconv_t>(-1));
  std::string in = gbk, out(gbk.size() * 2, '\0');
  char* from = in.data();
  char* to = out.data();
  std::size_t left = in.size(), room = out.size();
  EXPECT_NE(iconv(convert, &from, &left, &to, &room), static_cast<std::size_t>(-1));
  iconv_close(convert);
  out.resize(out.size() - room);
  return out;
}

// Every Chinese text the tool prints, each run once without and once with --utf8: the same
// bytes but for the labels, which are the GBK ones in UTF-8.
TEST(Usage, Utf8GivesTheGbkTextsInUtf8AndNothingElseChanges) {
  const std::string mistyped = MistypedTokyoSource();
  const std::vector<std::vector<std::string>> runs = {
      {"--refsrc", mistyped, "--refdes", Tokyo()[1], "--quality", "--apply", "139.7,35.7,10"},
      {"--refsrc", mistyped, "--refdes", Tokyo()[1], "--snoop", "--exclude", "1"},
      {"--refsrc", "139.7,35.7,10", "--refdes", "139.7,35.7,40", "--quality"},  // 无法确定
      {"--refsrc", "139.7,35.7,10"},                                             // incomplete
  };
  for (const std::vector<std::string>& arguments : runs) {
    Installation q;
    const ChildResult gbk = q.Run(arguments);
    std::vector<std::string> utf8Arguments = arguments;
    utf8Arguments.push_back("--utf8");
    const ChildResult utf8 = q.Run(utf8Arguments);
    EXPECT_NE(gbk.out, utf8.out);
    EXPECT_EQ(GbkToUtf8(gbk.out), utf8.out) << arguments[0] << " " << arguments.size();
    EXPECT_EQ(gbk.err, utf8.err);
    EXPECT_EQ(gbk.exitStatus, utf8.exitStatus);
  }
}

// Tokyo's lists as point files written as an editor on Windows might: a byte-order mark, CRLF,
// comments, blank lines and blanks around the numbers.
std::string AsPointFile(const std::string& list) {
  std::string file = "\xEF\xBB\xBF# lon,lat,h\r\n\r\n";
  std::size_t field = 0;
  for (std::size_t start = 0; start <= list.size(); ++field) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    file += " " + list.substr(start, comma - start) + (field % 3 == 2 ? " \r\n" : " ,\t");
    if (field % 3 == 2) file += "   # comment-like line below\r\n#\r\n";
    start = comma + 1;
  }
  return file;
}

TEST(PointFiles, GiveWhatTheSameArgumentsGive) {
  Installation q;
  WriteFile(q.home.path() + "/src.txt", AsPointFile(Tokyo()[0]));
  WriteFile(q.home.path() + "/des.txt", AsPointFile(Tokyo()[1]));
  WriteFile(q.home.path() + "/more.txt", "139.7,35.7,10\n139.71,35.69,12");  // no final line end
  const ChildResult text = q.Run({"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--quality",
                                  "--apply", "139.7,35.7,10,139.71,35.69,12"});
  ASSERT_EQ(text.exitStatus, 0) << text.err;
  const std::string json = ReadFile(q.resultFile);
  std::remove(q.resultFile.c_str());
  const ChildResult file = q.Run({"--refsrc-file", "src.txt", "--refdes-file", "des.txt",
                                  "--quality", "--apply-file", "more.txt"});
  EXPECT_EQ(file.exitStatus, 0) << file.err;
  EXPECT_EQ(file.out, text.out);
  EXPECT_EQ(file.err, text.err);
  EXPECT_EQ(ReadFile(q.resultFile), json);
}

struct RefusedFile {
  const char* name;
  const char* content;  // of src.txt, or nullptr for none
  std::vector<std::string> arguments;
  const char* messagePart;
};

void PrintTo(const RefusedFile& c, std::ostream* os) { *os << c.name; }

class RefusedPointFile : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(RefusedPointFile, SaysWhyInOneLineAndWritesNothing) {
  Installation q;
  if (GetParam().content) WriteFile(q.home.path() + "/src.txt", GetParam().content);
  std::vector<std::string> arguments = {"--refdes", "139.7,35.7,40,139.8,35.6,50"};
  arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  const ChildResult r = q.Run(arguments);
  EXPECT_EQ(r.exitStatus, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_NE(r.err.find(GetParam().messagePart), std::string::npos) << r.err;
  EXPECT_FALSE(QuorvaneTest::FileExists(q.resultFile));
}

const std::vector<std::string> kFromFile = {"--refsrc-file", "src.txt"};

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedPointFile,
    ::testing::Values(
        RefusedFile{"Missing", nullptr, kFromFile, "cannot be opened (No such file"},
        RefusedFile{"Folder", nullptr, {"--refsrc-file", "."}, "cannot be read"},
        RefusedFile{"Empty", "# nothing\n\n", kFromFile, "holds no points"},
        RefusedFile{"TwoFields", "139.7,35.7,10\n139.8,35.6\n", kFromFile,
                    "line 2: 2 fields where a point has 3"},
        RefusedFile{"FourFields", "139.7,35.7,10,4\n", kFromFile, "line 1: 4 fields"},
        RefusedFile{"NotANumber", "139.7,35.7,10\r\n139.8,35.6,1O\r\n", kFromFile,
                    "line 2: field 3 \"1O\" is not a number"},
        RefusedFile{"TrailingText", "139.7,35.7 m,10\n", kFromFile, "field 2 \"35.7 m\""},
        // Every character a number may hold, but not one number: strtod would stop at 35.7.
        RefusedFile{"TwoDecimalPoints", "139.7,35.7.1,10\n", kFromFile,
                    "line 1: field 2 \"35.7.1\" is not a number"},
        RefusedFile{"EmptyField", "139.7,,10\n", kFromFile, "line 1: field 2 is empty"},
        RefusedFile{"NotFinite", "139.7,35.7,nan\n", kFromFile, "field 3 \"nan\" is not"},
        RefusedFile{"Overflow", "139.7,35.7,1e999\n", kFromFile, "too large"},
        RefusedFile{"FileAndText", "139.7,35.7,10\n",
                    {"--refsrc", "", "--refsrc-file", "src.txt"},
                    "--refsrc and --refsrc-file both give"}),
    QuorvaneTest::CaseName());

// Plane options that cannot be used, and a grid table whose X and Y could be either axis: refused
// naming the key or the value before anything is fitted. Here the content is the destination
// table, des.txt, by default a well-formed one.
class RefusedPlane : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(RefusedPlane, NamesTheKeyOrValueAndWritesNothing) {
  Installation q;
  const char* table = GetParam().content ? GetParam().content : "N,E,H\n3785579.7,37496062.4,606\n";
  WriteFile(q.home.path() + "/des.txt", table);
  std::vector<std::string> arguments = {"--refsrc", "110.9577,34.1971,627", "--refdes-file",
                                        "des.txt"};
  arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  const ChildResult r = q.Run(arguments);
  EXPECT_EQ(r.exitStatus, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_NE(r.err.find(GetParam().messagePart), std::string::npos) << r.err;
  EXPECT_FALSE(QuorvaneTest::FileExists(q.resultFile));
}

const char kZone37[] = "ellipsoid=BJ54,meridian=111,false-easting=37500000";

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedPlane,
    ::testing::Values(
        RefusedFile{"UnknownKey", nullptr, {"--grid", std::string(kZone37) + ",zone=37"},
                    "key \"zone\" is unknown"},
        RefusedFile{"NoMeridian", nullptr, {"--grid", "ellipsoid=BJ54,false-easting=37500000"},
                    "key \"meridian\" is missing"},
        RefusedFile{"InfiniteHeight", nullptr, {"--grid", std::string(kZone37) + ",height=inf"},
                    "key \"height\": \"inf\" is not a finite number"},
        RefusedFile{"UnknownName", nullptr, {"--source-ellipsoid", "WGS1984"},
                    "--source-ellipsoid \"WGS1984\" is not an ellipsoid"},
        RefusedFile{"MalformedRf", nullptr, {"--destination-ellipsoid", "6377397.155/299.15.28"},
                    "\"6377397.155/299.15.28\" is not A/RF"},
        // The semi-major axis in kilometres.
        RefusedFile{"NoEarthEllipsoid", nullptr,
                    {"--grid", "ellipsoid=6378.245/298.3,meridian=111"},
                    "key \"ellipsoid\": \"6378.245/298.3\" is no Earth ellipsoid"},
        RefusedFile{"GridAndDestinationEllipsoid", nullptr,
                    {"--grid", kZone37, "--destination-ellipsoid", "BJ54"},
                    "give --grid or --destination-ellipsoid, not both"},
        RefusedFile{"XYHeader", "X,Y,H\n3785579.7,37496062.4,606\n", {"--grid", kZone37},
                    "column 1 \"X\" is ambiguous"}),
    QuorvaneTest::CaseName());

}  // namespace
