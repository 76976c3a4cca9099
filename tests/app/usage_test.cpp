// What a new user meets first, through the built executable: --help and --version, point files,
// and the labels in UTF-8.
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <regex>
#include <set>
#include <sstream>
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

// UTF-16 without a byte-order mark is told by its NULs, wherever its first point is.
TEST(PointFiles, Utf16WithoutByteOrderMarkIsRefusedAsSuch) {
  Installation q;
  const auto refusal = [&](const std::string& ascii) {
    std::string utf16le;
    for (const char c : ascii) utf16le += std::string{c, '\0'};
    WriteFile(q.home.path() + "/src.txt", utf16le);
    return q.Run({"--refdes", "139.7,35.7,40", "--refsrc-file", "src.txt"}).err;
  };
  const char* kAsSuch = "\"src.txt\": UTF-16: save the file as UTF-8 or GBK.";
  EXPECT_NE(refusal("139.7,35.7,10\n").find(kAsSuch), std::string::npos);
  EXPECT_NE(refusal("\n139.7,35.7,10\n").find(kAsSuch), std::string::npos);
}

// A Tokyo source point's longitude, latitude and height as the plain list writes them.
using PointTexts = std::array<std::string, 3>;

// Degrees, minutes and seconds that equal a decimal-degree text exactly, worked out in integers:
// 139.703309802 is 139, 42, "11.9152872". Nine decimals of a degree are a multiple of 1e-7".
std::array<std::string, 3> DmsParts(const std::string& decimal) {
  const std::size_t point = decimal.find('.');
  const unsigned long long nanoArcsec =  // 1e-9"
      std::stoull((decimal.substr(point + 1) + "000000000").substr(0, 9)) * 3600;
  std::string seconds = std::to_string(nanoArcsec % 60000000000ull / 1000000000ull);
  std::string fraction = std::to_string(nanoArcsec % 1000000000ull + 1000000000ull).substr(1);
  fraction.erase(fraction.find_last_not_of('0') + 1);
  if (!fraction.empty()) seconds += "." + fraction;
  return {decimal.substr(0, point), std::to_string(nanoArcsec / 60000000000ull), seconds};
}

std::string Dms(const std::string& decimal, const char* d, const char* m, const char* s) {
  const std::array<std::string, 3> dms = DmsParts(decimal);
  return dms[0] + d + dms[1] + m + dms[2] + s;
}

// ddd.mmssss: the minutes and whole seconds as two digits each, then the seconds' decimals.
std::string PackedDms(const std::string& decimal) {
  const std::array<std::string, 3> dms = DmsParts(decimal);
  const std::size_t point = dms[2].find('.');
  const std::string whole = dms[2].substr(0, point);
  return dms[0] + "." + (dms[1].size() < 2 ? "0" : "") + dms[1] + (whole.size() < 2 ? "0" : "") +
         whole + (point == std::string::npos ? "" : dms[2].substr(point + 1));
}

// Tokyo's source points, one line each from `line(point, number from 1)`, after `header`.
template <typename Line>
std::string EachPoint(const std::string& header, Line line) {
  std::string file = header;
  std::istringstream list(Tokyo()[0]);
  std::size_t number = 0;
  for (PointTexts p; std::getline(list, p[0], ',') && std::getline(list, p[1], ',') &&
                     std::getline(list, p[2], ',');) {
    file += line(p, ++number);
  }
  return file;
}

struct FileForm {
  const char* name;
  std::string source;                                           // the bytes of --refsrc-file
  std::vector<std::string> options = {"--refdes", Tokyo()[1]};  // the destination and more
};

void PrintTo(const FileForm& c, std::ostream* os) { *os << c.name; }

class PointFileForm : public ::testing::TestWithParam<FileForm> {};

// Every form holds the same numbers as the list: the same doubles, so the same bytes out.
TEST_P(PointFileForm, GivesTheBytesOfThePlainList) {
  Installation q;
  const ChildResult plain = q.Run({"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1]});
  ASSERT_EQ(plain.exitStatus, 0) << plain.err;
  const std::string json = ReadFile(q.resultFile);
  std::remove(q.resultFile.c_str());
  WriteFile(q.home.path() + "/src.txt", GetParam().source);
  std::vector<std::string> arguments = {"--refsrc-file", "src.txt"};
  arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
  const ChildResult r = q.Run(arguments);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, plain.out);
  EXPECT_EQ(ReadFile(q.resultFile), json);
}

// One line per Tokyo source point in each form, from the point and its number (from 1).
std::string NamedLine(const PointTexts& p, std::size_t i) {
  return "P" + std::to_string(i) + "," + p[0] + "," + p[1] + "," + p[2] + "\n";
}
std::string GbkNamedLatitudeFirst(const PointTexts& p, std::size_t i) {  // 点1, 点2, …
  return "\xB5\xE3" + std::to_string(i) + "," + p[1] + "," + p[0] + "," + p[2] + "\r\n";
}
std::string SemicolonsLatitudeFirst(const PointTexts& p, std::size_t) {
  return p[1] + ";" + p[0] + ";" + p[2] + "\n";
}
std::string DmsQuotesHemisphereBefore(const PointTexts& p, std::size_t) {  // UTF-8 °
  return "E" + Dms(p[0], "\xC2\xB0", "'", "\"") + ", N " + Dms(p[1], "\xC2\xB0", "'", "\"") + "," +
         p[2] + "\n";
}
std::string DmsPrimesHemisphereAfterTabs(const PointTexts& p, std::size_t) {  // ° ′ ″
  return Dms(p[0], "\xC2\xB0", "\xE2\x80\xB2", "\xE2\x80\xB3") + "E\t" +
         Dms(p[1], "\xC2\xB0 ", "\xE2\x80\xB2 ", "\xE2\x80\xB3 N") + "\t" + p[2] + "\n";
}
std::string DmsLettersRunsOfBlanks(const PointTexts& p, std::size_t) {
  return "  " + Dms(p[0], "d", "m", "s") + "   " + Dms(p[1], "d", "m", "s") + "  " + p[2] +
         "  \r\n";
}
std::string DmsColons(const PointTexts& p, std::size_t) {
  return Dms(p[0], ":", ":", "") + "," + Dms(p[1], ":", ":", "") + "," + p[2] + "\n";
}
std::string PackedDmsBlanks(const PointTexts& p, std::size_t) {
  return PackedDms(p[0]) + " " + PackedDms(p[1]) + " " + p[2] + "\n";
}
std::string PackedDmsHemisphereLetters(const PointTexts& p, std::size_t) {
  return PackedDms(p[0]) + "E,n" + PackedDms(p[1]) + "," + p[2] + "\n";
}
std::string DmsLettersSpacedSeconds(const PointTexts& p, std::size_t) {  // s after a blank
  return Dms(p[0], " d ", " m ", " s") + "," + Dms(p[1], " d ", " m ", " s") + "," + p[2] + "\n";
}
std::string WideCommasDmsBlanks(const PointTexts& p, std::size_t i) {  // ， UTF-8
  return "P" + std::to_string(i) + "\xEF\xBC\x8C" + Dms(p[1], " ", " ", " N") + "\xEF\xBC\x8C " +
         Dms(p[0], " ", " ", "") + "\xEF\xBC\x8C" + p[2] + "\n";
}
std::string GbkWideSemicolons(const PointTexts& p, std::size_t i) {  // ； GBK
  return "\xB5\xE3" + std::to_string(i) + "\xA3\xBB" + p[1] + "\xA3\xBB" + p[0] + "\xA3\xBB" +
         p[2] + "\r\n";
}
std::string HemisphereBeforeDecimalDegrees(const PointTexts& p, std::size_t) {
  return "E" + p[0] + ",N" + p[1] + "," + p[2] + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Forms, PointFileForm,
    ::testing::Values(
        FileForm{"NamedLines", EachPoint("", NamedLine)},
        FileForm{"GbkHeaderLatitudeFirst",  // 点名,B,L,H
                 EachPoint("\xB5\xE3\xC3\xFB,B,L,H\r\n", GbkNamedLatitudeFirst)},
        FileForm{"SemicolonsLatitudeFirst", EachPoint("lat;lon;h\n", SemicolonsLatitudeFirst)},
        FileForm{"DmsQuotesHemisphereBefore", EachPoint("", DmsQuotesHemisphereBefore)},
        FileForm{"DmsPrimesHemisphereAfterTabs", EachPoint("", DmsPrimesHemisphereAfterTabs)},
        FileForm{"DmsLettersRunsOfBlanks", EachPoint("", DmsLettersRunsOfBlanks)},
        FileForm{"DmsColons", EachPoint("", DmsColons)},
        FileForm{"PackedDms", EachPoint("", PackedDmsBlanks),
                 {"--refdes", Tokyo()[1], "--packed-dms"}},
        FileForm{"PackedDmsHemisphereLetters", EachPoint("", PackedDmsHemisphereLetters),
                 {"--refdes", Tokyo()[1], "--packed-dms"}},
        FileForm{"DmsLettersSpacedSeconds", EachPoint("", DmsLettersSpacedSeconds)},
        FileForm{"HemisphereBeforeDecimalDegrees", EachPoint("", HemisphereBeforeDecimalDegrees)},
        // The words, units and separators of surveyors' tables.
        FileForm{"WideCommasDmsBlanks",
                 EachPoint("Station\xEF\xBC\x8CLatitude\xEF\xBC\x8C Longitude [deg]\xEF\xBC\x8C"
                           "Elevation(m)\n",
                           WideCommasDmsBlanks)},
        FileForm{"GbkWideSemicolons",  // 点号；B；L；正常高（m）
                 EachPoint("\xB5\xE3\xBA\xC5\xA3\xBB" "B\xA3\xBBL\xA3\xBB\xD5\xFD\xB3\xA3\xB8\xDF"
                           "\xA3\xA8m\xA3\xA9\r\n",
                           GbkWideSemicolons)},
        // The longest first line allowed, after a byte-order mark and before CRLF: the rest of
        // the file is read as well.
        FileForm{"LongestFirstLineAfterByteOrderMark",
                 EachPoint("\xEF\xBB\xBF#" + std::string(4095, '-') + "\r\n", NamedLine)},
        // GBK, CRLF, 点名,B,L,H, DMS with ′″ and hemisphere letters; the destination
        // tab-separated, lon first, shuffled: pairs go by name.
        FileForm{"ExampleFilesPairedByName",
                 ReadFile(QUORVANE_SOURCE_DIR "/examples/tokyo-wgs84-named.txt"),
                 {"--refdes-file", QUORVANE_SOURCE_DIR "/examples/tokyo-datum-named.txt"}}),
    QuorvaneTest::CaseName());

struct RefusedFile {
  const char* name;
  const char* content;  // of src.txt, or nullptr for none
  std::vector<std::string> arguments;
  const char* messagePart;
  const char* destination = nullptr;  // of des.txt as --refdes-file in place of the --refdes list
};

void PrintTo(const RefusedFile& c, std::ostream* os) { *os << c.name; }

class RefusedPointFile : public ::testing::TestWithParam<RefusedFile> {};

TEST_P(RefusedPointFile, SaysWhyInOneLineAndWritesNothing) {
  Installation q;
  if (GetParam().content) WriteFile(q.home.path() + "/src.txt", GetParam().content);
  WriteFile(q.home.path() + "/long.txt", std::string(100000, '1'));
  std::vector<std::string> arguments = {"--refdes", "139.7,35.7,40,139.8,35.6,50"};
  if (GetParam().destination) {
    WriteFile(q.home.path() + "/des.txt", GetParam().destination);
    arguments = {"--refdes-file", "des.txt"};
  }
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
                    "--refsrc and --refsrc-file both give"},
        // Outputs that would destroy an input, refused before anything is read.
        RefusedFile{"RecordOverItsInput", "139.7,35.7,10\n139.8,35.6,5\n",
                    {"--refsrc-file", "src.txt", "--record", "./src.txt"},
                    "--record \"./src.txt\" is the same file as --refsrc-file \"src.txt\""},
        RefusedFile{"PlotOverTheRecord", "139.7,35.7,10\n139.8,35.6,5\n",
                    {"--refsrc-file", "src.txt", "--record", "r.json", "--plot", "r.json"},
                    "--plot \"r.json\" is the same file as --record"},
        // A device is refused at once, not read until memory runs out.
        RefusedFile{"Device", nullptr, {"--refsrc-file", "/dev/zero"},
                    "not a regular file or a pipe"},
        RefusedFile{"LineWithoutEnd", nullptr, {"--refsrc-file", "long.txt"},
                    "line 1: longer than 4096 bytes"},
        RefusedFile{"LongitudeAndLatitudeSwapped", "139.7,35.7,10\n35.6,139.8,50\n", kFromFile,
                    "line 2: latitude 139.8 is beyond 90 degrees (longitude and latitude "
                    "swapped?)"},
        // Gauss-Krueger easting and northing in a geographic file.
        RefusedFile{"PlaneCoordinates", "500000.25,3950000.5,12\n", kFromFile,
                    "line 1: latitude 3950000.5 is beyond 90 degrees (plane coordinates, not "
                    "degrees?)"},
        RefusedFile{"NamesOnSomeLines", "A,139.7,35.7,10\n139.8,35.6,50\n", kFromFile,
                    "line 2: 3 fields where a point has 4 (name,lon,lat,h): a file names every "
                    "point or none"},
        RefusedFile{"UnknownColumn", "name,lon,lat,hgt\nA,139.7,35.7,10\n", kFromFile,
                    "line 1: column 4 \"hgt\" is not a column name"},
        RefusedFile{"HeightInFeet", "name,lon,lat,H (ft)\nA,139.7,35.7,10\n", kFromFile,
                    "line 1: column 4 \"H (ft)\" gives its unit as \"ft\", where lengths are read "
                    "in metres"},
        // Latitude first without a header that says so.
        RefusedFile{"HemisphereOfTheOtherAxis", "35\302\26042'N,139\302\26042'E,10\n", kFromFile,
                    "has the hemisphere N, where this column takes E or W"},
        // The field quoted in GBK: \241\343 is the \302\260 of UTF-8, °.
        RefusedFile{"MinutesOf60", "139\302\26060'11\",35.7,10\n", kFromFile,
                    "line 1: field 1 \"139\241\34360'11\\x22\" has minutes of 60 or more"},
        RefusedFile{"Utf16", "\377\3761", kFromFile, "UTF-16: save the file as UTF-8 or GBK"},
        RefusedFile{"NameMissingFromDestination", "A,139.7,35.7,10\nC,139.8,35.6,50\n",
                    kFromFile, "--refdes-file has no point named \"C\"",
                    "A,139.7,35.7,40\nB,139.8,35.6,50\n"},
        RefusedFile{"NameTwice", "A,139.7,35.7,10\nA,139.8,35.6,50\n", kFromFile,
                    "--refsrc-file names more than one point \"A\"",
                    "A,139.7,35.7,40\nB,139.8,35.6,50\n"},
        RefusedFile{"ExcludedNameUnknown", "A,139.7,35.7,10\nB,139.8,35.6,50\n",
                    {"--refsrc-file", "src.txt", "--exclude", "C"},
                    "--exclude \"C\": field 1 (\"C\") is neither a whole number nor a point name"}),
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
        // Krassovsky's semi-major axis below the ellipsoid: a surface of radius below 0.
        RefusedFile{"SurfaceThroughTheCentre", nullptr,
                    {"--grid", std::string(kZone37) + ",height=-6378245"},
                    "key \"height\": \"-6378245\" puts the projection surface"},
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
                    "column 1 \"X\" is ambiguous"},
        RefusedFile{"XYHeaderWithUnits", "X(m),Y(m),H(m)\n3785579.7,37496062.4,606\n",
                    {"--grid", kZone37}, "column 1 \"X(m)\" is ambiguous"}),
    QuorvaneTest::CaseName());

}  // namespace
