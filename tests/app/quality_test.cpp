// --quality, --exclude and --snoop through the built executable: the block's bytes, refused
// exclusions, the fit they give, and the warnings of fits the points do not determine.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <Eigen/Dense>

#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/support/point_printing.h"
#include "tests/support/tokyo_example.h"

namespace {

using QuorvaneTest::ChildResult;
using QuorvaneTest::MistypedTokyoSource;
using QuorvaneTest::ReadFile;
using QuorvaneTest::Tokyo;

using QuorvaneTest::Installation;

std::string After(const std::string& text, const std::string& marker) {
  const std::size_t at = text.find(marker);
  return at == std::string::npos ? "<no " + marker + ">" : text.substr(at);
}

TEST(QualityBlock, TokyoExampleBytes) {
  Installation q;
  const ChildResult r = q.Run({"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--quality"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // GBK: 残差： 拟合点数： 多余观测数： 单位权中误差： 平面RMS： 高程RMS： 参数中误差：
  EXPECT_EQ(After(r.out, "\n\xB2\xD0\xB2\xEE\xA3\xBA\n"),
            "\n\xB2\xD0\xB2\xEE\xA3\xBA\n"
            "1\t-0.0147\t0.0273\t0.0021\t0.0310\t0.21\t12.55\t\n"
            "2\t-0.0365\t-0.0609\t0.0037\t0.0710\t2.04\t12.55\t\n"
            "3\t-0.0292\t0.0207\t0.0058\t0.0358\t0.30\t12.55\t\n"
            "4\t-0.0285\t0.0184\t-0.0014\t0.0339\t0.26\t12.55\t\n"
            "5\t0.0513\t-0.0591\t-0.0044\t0.0783\t5.01\t12.55\t\n"
            "6\t0.0576\t0.0536\t-0.0057\t0.0787\t3.71\t12.55\t\n"
            "\xC4\xE2\xBA\xCF\xB5\xE3\xCA\xFD\xA3\xBA\t6\n"
            "\xB6\xE0\xD3\xE0\xB9\xDB\xB2\xE2\xCA\xFD\xA3\xBA\t13\n"
            "\xB5\xA5\xCE\xBB\xC8\xA8\xD6\xD0\xCE\xF3\xB2\xEE\xA3\xBA\t0.0401\tm\n"
            "\xC6\xBD\xC3\xE6RMS\xA3\xBA\t0.0588\tm\n"
            "\xB8\xDF\xB3\xCCRMS\xA3\xBA\t0.0042\tm\n"
            "\xB2\xCE\xCA\xFD\xD6\xD0\xCE\xF3\xB2\xEE\xA3\xBA\n"
            "tx\t0.0164\tm\nty\t0.0164\tm\ntz\t0.0164\tm\nrz\t0.378\tarcsec\nscale\t1.832\tppm\n");
}

// --snoop finds the mistyped pair, and its final fit is the fit without that pair, as --exclude
// gives it; and that is the fit of lists that lack the pair but keep its destination point, which
// still counts towards the projection centre.
TEST(QualityBlock, SnoopAndExcludeGiveTheFitWithoutTheBlunder) {
  Installation q;
  const std::vector<std::string> tokyo = Tokyo();
  const std::string mistyped = MistypedTokyoSource();
  ChildResult r = q.Run({"--refsrc", mistyped, "--refdes", tokyo[1], "--snoop"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  // 自动剔除：, then the removal; and pair 3 marked 自动剔除 in the residuals.
  EXPECT_EQ(After(r.out, "\xD7\xD4\xB6\xAF\xCC\xDE\xB3\xFD\xA3\xBA\n"),
            "\xD7\xD4\xB6\xAF\xCC\xDE\xB3\xFD\xA3\xBA\n3\t8473.25\t12.55\n");
  EXPECT_NE(r.out.find("\t-\t-\t\xD7\xD4\xB6\xAF\xCC\xDE\xB3\xFD\n4\t"), std::string::npos);
  const std::string snooped = ReadFile(q.resultFile);
  r = q.Run({"--refsrc", mistyped, "--refdes", tokyo[1], "--exclude", "3"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadFile(q.resultFile), snooped);

  // The last pair, so that the centre is summed in the same order both ways.
  r = q.Run({"--refsrc", tokyo[0], "--refdes", tokyo[1], "--exclude", "6"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string excluded = ReadFile(q.resultFile);
  r = q.Run({"--refsrc", tokyo[0].substr(0, tokyo[0].rfind(',', tokyo[0].rfind(',') - 1)),
             "--refdes", tokyo[1]});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadFile(q.resultFile), excluded);
}

// The first pair is tested like the others: pair 1's latitude mistyped by 8 m (35.721543559 as
// 35.721615559) is the one removal.
TEST(QualityBlock, SnoopRemovesABlunderOnTheFirstPair) {
  Installation q;
  std::string source = Tokyo()[0];
  source.replace(source.find("35.721543559"), 12, "35.721615559");
  const ChildResult r = q.Run({"--refsrc", source, "--refdes", Tokyo()[1], "--snoop"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(After(r.out, "\xD7\xD4\xB6\xAF\xCC\xDE\xB3\xFD\xA3\xBA\n"),  // 自动剔除：
            "\xD7\xD4\xB6\xAF\xCC\xDE\xB3\xFD\xA3\xBA\n1\t8590.94\t12.55\n");
}

// Masking: ten pairs over 2 km with 1 cm of noise and pairs 1, 7 and 10 displaced by 15 to 40 cm
// together inflate σ̂0 so that no leave-one-out test fails, and --snoop removes nothing. With the
// a priori σ the χ² tests do not divide by σ̂0 and snooping finds all three; --robust finds them
// without σ; the record says what removed each and, weighted, the σ each pair took.
TEST(QualityBlock, MaskedBlundersAreFoundWithSigmaGivenAndByRobustEstimation) {
  const std::string source =
      "116.294349678,39.900206844,56.197,116.306002002,39.902131392,50.020,116.307268049,"
      "39.907230546,52.406,116.290633595,39.898812895,64.435,116.299460758,39.906574041,50.420,"
      "116.297632023,39.905845590,66.726,116.308616155,39.895395473,53.008,116.290164688,"
      "39.896762442,60.318,116.301207434,39.903714198,61.898,116.302051465,39.899010746,63.851";
  const std::string destination =
      "116.294362274,39.900199541,86.364,116.306016092,39.902124414,80.005,116.307282085,"
      "39.907223160,82.401,116.290647541,39.898805901,94.421,116.299474875,39.906566740,80.436,"
      "116.297646106,39.905838501,96.726,116.308630632,39.895387447,83.246,116.290178720,"
      "39.896755287,90.316,116.301221559,39.903706901,91.911,116.302066275,39.899004954,93.777";
  const struct {
    std::vector<std::string> options;
    std::vector<int> removed;
    const char* by;
  } ways[] = {
      {{"--snoop"}, {}, ""},
      {{"--sigma-h", "0.01", "--sigma-v", "0.01", "--snoop"}, {1, 7, 10}, "snoop"},
      {{"--robust"}, {1, 7, 10}, "robust"},
      {{"--robust", "--snoop"}, {1, 7, 10}, "robust"},
  };
  Installation q;
  for (const auto& way : ways) {
    std::vector<std::string> arguments = {"--refsrc", source, "--refdes", destination,
                                          "--record", "r.json"};
    arguments.insert(arguments.end(), way.options.begin(), way.options.end());
    const ChildResult r = q.Run(arguments);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const nlohmann::json record = nlohmann::json::parse(ReadFile(q.home.path() + "/r.json"));
    std::vector<int> removed;
    for (const nlohmann::json& pair : record["pairs"]) {
      if (pair["status"] != "removed") continue;
      removed.push_back(pair["pair"].get<int>());
      EXPECT_EQ(pair["by"], way.by) << way.options[0];
    }
    EXPECT_EQ(removed, way.removed) << way.options[0];
    const bool weighted = way.options[0] == "--sigma-h";
    EXPECT_EQ(record["pairs"][0].contains("sigma"), weighted);
    if (weighted) {
      EXPECT_EQ(record["pairs"][0]["sigma"], nlohmann::json::array({0.01, 0.01}));
    }
  }
}

struct CommandCase {
  const char* name;
  std::vector<std::string> arguments;  // after the Tokyo lists
  const char* messagePart;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class RefusedExclusion : public ::testing::TestWithParam<CommandCase> {};

TEST_P(RefusedExclusion, SaysWhichFieldAndWritesNothing) {
  Installation q;
  std::vector<std::string> arguments = {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1]};
  arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  const ChildResult r = q.Run(arguments);
  EXPECT_EQ(r.exitStatus, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("quorvane: --exclude \"", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_NE(r.err.find(GetParam().messagePart), std::string::npos) << r.err;
  EXPECT_FALSE(QuorvaneTest::FileExists(q.resultFile));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, RefusedExclusion,
    ::testing::Values(CommandCase{"Zero", {"--exclude", "0"}, "field 1 (\"0\") is not a pair"},
                      CommandCase{"BeyondThePairs", {"--exclude", "2,7"}, "from 1 to 6"},
                      // A seventh destination point moves the centre but makes no pair.
                      CommandCase{"BeyondThePairsNotTheDestinations",
                                  {"--refdes", Tokyo()[1] + ",139.7,35.7,40", "--exclude", "7"},
                                  "not a pair number from 1 to 6"},
                      CommandCase{"NotANumber", {"--exclude", "2,x"}, "field 2 (\"x\") is not a"},
                      CommandCase{"Signed", {"--exclude", "+1"}, "not a whole number"},
                      CommandCase{"Fraction", {"--exclude", "1.5"}, "not a whole number"},
                      CommandCase{"EmptyField", {"--exclude", "1,,2"}, "field 2 is empty"},
                      CommandCase{"TrailingComma", {"--exclude", "3,"}, "field 2 is empty"},
                      CommandCase{"EmptyValue", {"--exclude"}, "field 1 is empty"},
                      CommandCase{"Repeated", {"--exclude", "2,4,2"}, "repeats pair 2"},
                      // A line break in the value must not break the one-line message.
                      CommandCase{"LineBreak", {"--exclude", "2,\n3"}, "field 2 (\"\\x0a3\")"},
                      // Nor may a quote end the quoted field early.
                      CommandCase{"Quote", {"--exclude", "3\""}, "field 1 (\"3\\x22\")"},
                      CommandCase{"EveryPair", {"--exclude", "6,5,4,3,2,1"}, "all 6 pairs"},
                      // Per-part suffixes belong to the site model.
                      CommandCase{"SuffixWithTheSimilarity", {"--exclude", "3h"},
                                  "field 1 (\"3h\") is not a whole number"},
                      CommandCase{"SiteLeavesNoHeight",
                                  {"--model", "site", "--exclude", "1v,2v,3v,4v,5v,6v"},
                                  "all 6 pairs of the vertical fit"}),
    QuorvaneTest::CaseName());

class UndeterminedFit : public ::testing::TestWithParam<CommandCase> {};

// Whether or not the quality block is asked for, the run and its file stand, with a warning.
TEST_P(UndeterminedFit, WarnsAndStillWritesTheFit) {
  Installation q;
  const ChildResult r = q.Run(GetParam().arguments);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err.rfind("quorvane: warning: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(GetParam().messagePart), std::string::npos) << r.err;
  EXPECT_TRUE(QuorvaneTest::FileExists(q.resultFile));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UndeterminedFit,
    ::testing::Values(
        CommandCase{"OnePair", {"--refsrc", "1,2,3", "--refdes", "4,5,6"}, "1 pair is fitted"},
        CommandCase{"CoincidentSources",
                    {"--refsrc", "139.7,35.7,1,139.7,35.7,2,139.7,35.7,3", "--refdes",
                     "139.7,35.7,1,139.8,35.6,2,139.75,35.65,3", "--quality"},
                    "the 3 fitted source points lie within 1 mm"},
        // 0.1 mm apart: the site model's closed form must not take them for a baseline.
        CommandCase{"SiteCoincidentSources",
                    {"--refsrc", "139.7,35.7,1,139.700000001,35.7,2,139.7,35.700000001,3",
                     "--refdes", "139.7,35.7,1,139.8,35.6,2,139.75,35.65,3", "--model", "site"},
                    "the horizontal transform is not determined by the points given: the 3 "
                    "fitted source points lie within 1 mm"},
        CommandCase{"SiteVerticalPlaneOnTwoPairs",
                    {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--model", "site",
                     "--exclude", "3v,4v,5v,6v"},
                    "the 2 pairs fitted vertically do not span a plane"},
        CommandCase{"HelmertOnTwoPairs",
                    {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--model", "helmert",
                     "--exclude", "3,4,5,6"},
                    "2 pairs are fitted, and the seven parameters need three pairs not on one"},
        // A grid line: the northings about their centroid are only PROJ's rounding.
        CommandCase{"QuadricOnAGridLine",
                    {"--refsrc", "500000,3800000,10,501000,3800000,11,502000,3800000,12,"
                                 "503000,3800000,13,504000,3800000,14,505000,3800000,15",
                     "--refdes", "500000.1,3800000,5,501000.1,3800000,6.01,502000.1,3800000,6.99,"
                                 "503000.1,3800000,8.02,504000.1,3800000,9,505000.1,3800000,9.98",
                     "--source-crs", "EPSG:2436", "--destination-crs", "EPSG:2436", "--model",
                     "site", "--vertical", "quadric"},
                    "the height quadric is not determined by the points given: the 6 pairs"},
        // All but one point on one spot: the optimum is at scale 0, and the solver runs out.
        CommandCase{"NoConvergence",
                    {"--refsrc", "139.7,35.7,10,139.7,35.7,10,139.7,35.7,10,139.7,35.0,10",
                     "--refdes", "139.7,35.7,10,139.7,35.7,10,139.7,35.7,10,139.7,35.7,10"},
                    "stopped without converging"}),
    QuorvaneTest::CaseName());

// A list "lon,lat,h,…" without point `index` (from 0).
std::string WithoutPoint(const std::string& list, std::size_t index) {
  std::size_t start = 0;
  for (std::size_t k = 0; k < 3 * index; ++k) start = list.find(',', start) + 1;
  std::size_t end = start;
  for (std::size_t k = 0; k < 3 && end != std::string::npos; ++k) end = list.find(',', end + 1);
  return end == std::string::npos ? list.substr(0, start - 1)
                                  : list.substr(0, start) + list.substr(end + 1);
}

// What looks like a mistake in the input is said, and the run goes on.
INSTANTIATE_TEST_SUITE_P(
    LooksWrong, UndeterminedFit,
    ::testing::Values(
        CommandCase{"UnknownOption",
                    {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--qualty"},
                    "unknown option \"--qualty\", ignored"},
        // Every pair after the second is shifted by one: 7 km of RMS.
        CommandCase{"RowMissing", {"--refsrc", WithoutPoint(Tokyo()[0], 1), "--refdes", Tokyo()[1]},
                    "the pairs do not look like the same points in two coordinate sets"},
        CommandCase{"MoreDestinationPoints",
                    {"--refsrc", WithoutPoint(Tokyo()[0], 5), "--refdes", Tokyo()[1]},
                    "the last 1 destination point is not paired and only moves the projection "
                    "centre"}),
    QuorvaneTest::CaseName());

// The Tokyo source list with each point's longitude and latitude as ddd.mmss, or its points in
// the reverse order.
std::string PackedTokyoSource() {
  std::string packed;
  double p[3];
  const std::string source = Tokyo()[0];
  int k = 0;
  for (std::size_t start = 0; start <= source.size(); ++k) {
    const std::size_t comma = std::min(source.find(',', start), source.size());
    p[k % 3] = std::stod(source.substr(start, comma - start));
    start = comma + 1;
    if (k % 3 != 2) continue;
    for (int axis = 0; axis < 2; ++axis) {
      const double degrees = std::floor(p[axis]), minutes = std::floor((p[axis] - degrees) * 60);
      const double seconds = ((p[axis] - degrees) * 60 - minutes) * 60;
      char angle[40];
      std::snprintf(angle, sizeof angle, "%.0f.%02.0f%07.0f", degrees, minutes, seconds * 1e5);
      packed += std::string(packed.empty() ? "" : ",") + angle;
    }
    packed += "," + std::to_string(p[2]);
  }
  return packed;
}

std::string ReversedTokyoSource() {
  std::vector<std::string> points;
  const std::string source = Tokyo()[0];
  for (std::size_t start = 0, k = 0; start <= source.size(); ++k) {
    std::size_t end = start;
    for (int field = 0; field < 3; ++field) end = std::min(source.find(',', end), source.size()) + 1;
    points.push_back(source.substr(start, end - 1 - start));
    start = end;
  }
  std::string reversed;
  for (auto it = points.rbegin(); it != points.rend(); ++it) {
    reversed += (reversed.empty() ? "" : ",") + *it;
  }
  return reversed;
}

// A user's mistakes, caught: refused (255) or warned of with the likely cause, which --strict
// turns into exit 3.
// Thirty pairs scattered over 100 km whose heights part by a field of ±10 m over 60 km, which
// the smooth distortion follows closer than a grid of 90,000 nodes can (5 mm between nodes):
// source and destination as --refsrc and --refdes take them.
std::pair<std::string, std::string> SharplyBentHeights() {
  std::string source, destination;
  for (int k = 0; k < 30; ++k) {
    const double e = 500000 + (k * 7919 % 97) * 1000.0, n = 3500000 + (k * 104729 % 89) * 1100.0;
    const double h = 100 + 10 * k;
    const std::string at = std::to_string(e) + "," + std::to_string(n) + ",";
    source += (k ? "," : "") + at + std::to_string(h);
    destination +=
        (k ? "," : "") + at + std::to_string(h + 10 * std::sin(e / 20000) * std::cos(n / 20000));
  }
  return {source, destination};
}

struct Mistake {
  const char* name;
  std::vector<std::string> arguments;
  int status;
  const char* messagePart;
};

void PrintTo(const Mistake& c, std::ostream* os) { *os << c.name; }

class Mistakes : public ::testing::TestWithParam<Mistake> {};

TEST_P(Mistakes, AreRefusedOrFailStrictlyNamingTheLikelyCause) {
  Installation q;
  std::vector<std::string> arguments = GetParam().arguments;
  arguments.push_back("--strict");
  const ChildResult r = q.Run(arguments);
  EXPECT_EQ(r.exitStatus, GetParam().status) << r.err;
  EXPECT_NE(r.err.find(GetParam().messagePart), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Mistakes,
    ::testing::Values(
        Mistake{"PackedAnglesWithoutTheOption", {"--refsrc", PackedTokyoSource(), "--refdes", Tokyo()[1]},
                3, "give --packed-dms"},
        Mistake{"LatitudeFirst",
                {"--refsrc",
                 "35.721543559,139.703309802" + Tokyo()[0].substr(Tokyo()[0].find(",98.748")),
                 "--refdes", Tokyo()[1]},
                255, "source point 1 (counting from 1; given as 35.721543559,139.703309802"},
        Mistake{"RowMissing", {"--refsrc", WithoutPoint(Tokyo()[0], 1), "--refdes", Tokyo()[1]},
                3, "a source row is missing before pair 2"},
        Mistake{"RowsReversed", {"--refsrc", ReversedTokyoSource(), "--refdes", Tokyo()[1]}, 3,
                "one list is in the reverse order of the other"},
        Mistake{"WrongZone",
                {"--refsrc-file", QUORVANE_SOURCE_DIR "/examples/d-wgs84.txt", "--refdes-file",
                 QUORVANE_SOURCE_DIR "/examples/d-bj54-zone37.txt", "--grid",
                 "ellipsoid=BJ54,meridian=114,false-easting=37500000"},
                3, "a wrong central meridian or zone"},
        // The hint swaps the point back and finds it inside.
        Mistake{"LatitudeFirstIsNamed",
                {"--refsrc",
                 "35.721543559,139.703309802" + Tokyo()[0].substr(Tokyo()[0].find(",98.748")),
                 "--refdes", Tokyo()[1]},
                255, "(latitude and longitude swapped?)"},
        // Eastings east of the meridian: the zone is the number's floor, not its rounding.
        Mistake{"ZonePrefixEastOfTheMeridian",
                {"--refsrc", "111.9,34.2,500,112.0,34.3,500,111.95,34.25,500", "--refdes",
                 "37582000,3785000,500,37591000,3796000,500,37586000,3790000,500", "--grid",
                 "ellipsoid=BJ54,meridian=111"},
                255, "the zone number 37 in front: false-easting=37500000?"},
        // Some angles' first two digits are below 60 and the next two are not: decimal degrees,
        // and the pairs' other order is the cause.
        Mistake{"RowsReversedNotPacked",
                {"--refsrc", "139.5071,35.1234,10,139.5512,35.1842,20,139.5280,35.1455,15,139.5433,35.1109,12",
                 "--refdes", "139.5433,35.1109,12,139.5280,35.1455,15,139.5512,35.1842,20,139.5071,35.1234,10"},
                3, "one list is in the reverse order of the other"},
        // Half a degree off the meridian: 0.28 degrees of rotation, 26 ppm of scale.
        Mistake{"GridMeridianHalfADegreeOff",
                {"--refsrc-file", QUORVANE_SOURCE_DIR "/examples/d-wgs84.txt", "--refdes-file",
                 QUORVANE_SOURCE_DIR "/examples/d-bj54-zone37.txt", "--grid",
                 "ellipsoid=BJ54,meridian=111.5,false-easting=37500000"},
                3, "a wrong central meridian or zone"},
        Mistake{"ZonePrefixMissing",
                {"--refsrc-file", QUORVANE_SOURCE_DIR "/examples/d-wgs84.txt", "--refdes-file",
                 QUORVANE_SOURCE_DIR "/examples/d-bj54-zone37.txt", "--grid",
                 "ellipsoid=BJ54,meridian=111"},
                255, "false-easting=37500000?"},
        // Points of Tokyo named as ETRS89, whose area of use is Europe.
        Mistake{"SourceOutsideItsCrsArea",
                {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--source-crs", "EPSG:4258"}, 3,
                "lie outside the area of use of --source-crs EPSG:4258"},
        // Latitude first: the point comes out 9,770 km away, outside the British National Grid.
        Mistake{"ApplyPointComesOutOfTheGridsArea",
                {"--refsrc-file", QUORVANE_SOURCE_DIR "/examples/bng-wgs84.txt", "--refdes-file",
                 QUORVANE_SOURCE_DIR "/examples/bng-27700.txt", "--destination-crs", "EPSG:27700",
                 "--model", "site", "--apply", "53.8,-1.6,100"},
                3, "given as 53.8,-1.6,100) lies outside the area of use of --destination-crs"},
        // 95 km north of a network 21.5 km across.
        Mistake{"ApplyPointFarFromTheControlPoints",
                {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--apply", "139.7,36.6,40"}, 3,
                "1 of the 1 --apply points lies farther from the fitted control points"},
        // A table in metres named by the same grid in US survey feet.
        Mistake{"MetresTableNamedInFeet",
                {"--refsrc-file", QUORVANE_SOURCE_DIR "/examples/bng-wgs84.txt", "--refdes-file",
                 QUORVANE_SOURCE_DIR "/examples/bng-27700.txt", "--destination-crs",
                 "+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996012717 +x_0=400000 +y_0=-100000 "
                 "+ellps=airy +units=us-ft", "--model", "site"},
                3, "a scale of 0.3048093 is a foot in metres"},
        // Heights in metres read as US survey feet.
        Mistake{"HeightsInAnotherUnit",
                {"--refsrc-file", QUORVANE_SOURCE_DIR "/examples/bng-wgs84.txt", "--refdes-file",
                 QUORVANE_SOURCE_DIR "/examples/bng-27700.txt", "--destination-crs",
                 "+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996012717 +x_0=400000 +y_0=-100000 "
                 "+ellps=airy +vunits=us-ft", "--model", "site"},
                3, "one list's heights are likely in another unit"},
        // The seven on the zone-37 network: sigma of tx 1.1 m.
        Mistake{"GeocentricModelOnASmallNetwork",
                {"--refsrc-file", QUORVANE_SOURCE_DIR "/examples/d-wgs84.txt", "--refdes-file",
                 QUORVANE_SOURCE_DIR "/examples/d-bj54-zone37.txt", "--grid",
                 "ellipsoid=BJ54,meridian=111,false-easting=37500000", "--model", "helmert"},
                3, "the seven parameters are not determined by a network"},
        // Stations observed from 2011 to 2024 in ITRF2014 against NAD83(2011), fitted without
        // rates.
        Mistake{"EpochsYearsApartWithoutRates",
                {"--refsrc-file", QUORVANE_SOURCE_DIR "/examples/itrf2014-us-epochs.txt",
                 "--refdes-file", QUORVANE_SOURCE_DIR "/examples/nad83-2011-us.txt",
                 "--source-crs", "EPSG:7912", "--destination-crs", "EPSG:6319", "--model",
                 "helmert"},
                3, ": the transformation may change with time (--rates)"},
        // Lists that hold no pair leave no epoch to state the rates at.
        Mistake{"RatesOnListsWithoutPairs",
                {"--refsrc", "x", "--refdes", "y", "--model", "helmert", "--rates"}, 255,
                "--rates needs pairs at their epochs, and the lists hold no pair"},
        Mistake{"DistortionBendingBeyondTheGrid",
                {"--refsrc", SharplyBentHeights().first, "--refdes", SharplyBentHeights().second,
                 "--source-crs", "EPSG:32650", "--destination-crs", "EPSG:32650", "--model",
                 "site", "--distortion", "smooth", "--distortion-file", "bent.json"},
                3, "the smooth distortion bends more than the most nodes a file PROJ reads"},
        // Five points along a parallel, 3.4 km, within 0.1 m of one line in the plane: the spline's
        // slope across it would rest on that, corrections of decimetres from centimetres.
        Mistake{"SmoothDistortionAlongALine",
                {"--refsrc",
                 "116.30,39.90,50,116.31,39.90,51,116.32,39.90,52,116.33,39.90,53,116.34,39.90,54",
                 "--refdes",
                 "116.3001,39.9001002,50.1,116.3101,39.9001,51.103,116.3201,39.9001003,52.098,"
                 "116.3301,39.9000998,53.101,116.3401,39.9001001,54.1",
                 "--model", "site", "--distortion", "smooth", "--distortion-file", "d.json"},
                255, "needs at least four control points spread across an area"},
        // The table's central meridian taken two 6-degree zones east: 12 degrees about the axis.
        Mistake{"WrongZoneUnderHelmert",
                {"--refsrc-file", QUORVANE_SOURCE_DIR "/examples/bng-wgs84.txt", "--refdes-file",
                 QUORVANE_SOURCE_DIR "/examples/bng-27700.txt", "--destination-crs",
                 "+proj=tmerc +lat_0=49 +lon_0=10 +k=0.9996012717 +x_0=400000 +y_0=-100000 "
                 "+ellps=airy", "--model", "helmert"},
                3, "12.10 degrees about the Earth's axis, as a grid's zone or central meridian"}),
    QuorvaneTest::CaseName());

// Options of the model and its checks that cannot be used: one line, nothing written.
class RefusedOption : public ::testing::TestWithParam<CommandCase> {};

TEST_P(RefusedOption, SaysWhichAndWritesNothing) {
  Installation q;
  std::vector<std::string> arguments = {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1]};
  arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  const ChildResult r = q.Run(arguments);
  EXPECT_EQ(r.exitStatus, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_NE(r.err.find(GetParam().messagePart), std::string::npos) << r.err;
  EXPECT_FALSE(QuorvaneTest::FileExists(q.resultFile));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedOption,
    ::testing::Values(
        CommandCase{"UnknownModel", {"--model", "bursa-wolf"},
                    "--model \"bursa-wolf\" is not a model"},
        CommandCase{"SigmaNotALength", {"--sigma-v", "0"},
                    "--sigma-v \"0\" is not a length in metres above 0"},
        CommandCase{"SigmaForOneDirectionOnly", {"--sigma-h", "0.01"},
                    "pair 1 (counting from 1) has no vertical sigma"},
        CommandCase{"ConventionOfAPlaneModel", {"--convention", "coordinate-frame"},
                    "--convention needs --model helmert or molodensky-badekas"},
        CommandCase{"UnknownConvention", {"--model", "helmert", "--convention", "frame"},
                    "--convention \"frame\" is neither"},
        CommandCase{"UnknownCrs", {"--destination-crs", "EPSG:99999"},
                    "--destination-crs \"EPSG:99999\" PROJ cannot resolve it"},
        CommandCase{"VerticalCrs", {"--source-crs", "EPSG:5773"}, "is a vertical CRS"},
        // NTF (Paris): grads from the Paris meridian, where the lists hold Greenwich degrees.
        CommandCase{"GeographicCrsInGradsFromParis", {"--source-crs", "EPSG:4807"},
                    "--source-crs \"EPSG:4807\" gives its angles in grad and counts its "
                    "longitudes from the Paris meridian"},
        CommandCase{"NoMapProjection", {"--destination-crs", "+proj=affine +xoff=1"},
                    "is no map projection"},
        CommandCase{"CrsAndGrid",
                    {"--destination-crs", "EPSG:4547", "--grid", "ellipsoid=CGCS2000,meridian=114"},
                    "give --destination-crs or --grid, not both"},
        CommandCase{"GeoidOfAGeocentricModel", {"--model", "helmert", "--geoid", "egm96_15.gtx"},
                    "--geoid reduces heights for a plane model"},
        CommandCase{"UnreadableGeoid", {"--geoid", "no-such-geoid.gtx"},
                    "the geoid grid cannot be read"},
        // A line end would end the step and start one of the run's and the record's own.
        CommandCase{"GeoidNameWithALineEnd",
                    {"--geoid", "egm96_15.gtx\n+step +proj=affine +xoff=100"},
                    "--geoid \"egm96_15.gtx\\x0a+step +proj=affine +xoff=10\"... holds a "
                    "control character"},
        CommandCase{"GeoidOfPropsOptionalGrids", {"--geoid", "@null"},
                    "--geoid \"@null\" starts with @, which PROJ reads as an optional grid"},
        CommandCase{"GeoidPathWithAComma", {"--geoid", "grids,2024/egm96_15.gtx"},
                    "holds a comma, which PROJ reads as between two grids"},
        CommandCase{"CrsFileThatIsAFolder", {"--source-crs", "@."},
                    "--source-crs \"@.\" is a folder, not a file"},
        // Read no further than the longest definition, not until memory runs out.
        CommandCase{"CrsFileWithoutEnd", {"--source-crs", "@/dev/zero"},
                    "--source-crs \"@/dev/zero\" is longer than a CRS definition can be"},
        CommandCase{"GeocentricListOfAPlaneModel", {"--source-crs", "EPSG:4978"},
                    "is geocentric, and the similarity model is fitted in a plane"},
        CommandCase{"FixScaleAlone", {"--fix-scale"}, "--fix-scale needs --model site"},
        CommandCase{"RatesOfAPlaneModel", {"--rates"},
                    "--rates needs --model helmert or molodensky-badekas"},
        CommandCase{"ReferenceEpochAlone", {"--reference-epoch", "2010"},
                    "--reference-epoch needs --rates"},
        CommandCase{"RatesWithoutEpochs", {"--model", "helmert", "--rates"},
                    "--rates needs the epoch of every pair, and pair 1"},
        CommandCase{"VerticalAlone", {"--vertical", "plane"}, "--vertical needs --model site"},
        CommandCase{"VerticalOfTheAffineModel", {"--model", "affine", "--vertical", "plane"},
                    "--vertical needs --model helmert or molodensky-badekas"},
        CommandCase{"VerticalConstantWithTheSeven",
                    {"--model", "helmert", "--vertical", "constant"},
                    "--vertical constant needs --model site"},
        CommandCase{"VerticalWithRates",
                    {"--model", "molodensky-badekas", "--vertical", "plane", "--rates"},
                    "--rates and --vertical do not go together"},
        CommandCase{"UnknownVertical", {"--model", "site", "--vertical", "tilted"},
                    "--vertical \"tilted\" is neither"},
        CommandCase{"DistortionWithoutFile", {"--distortion", "tin"},
                    "--distortion needs --distortion-file FILE"},
        CommandCase{"DistortionFileAlone", {"--distortion-file", "d.json"},
                    "--distortion-file needs --distortion tin or smooth"},
        CommandCase{"UnknownDistortion", {"--distortion", "idw", "--distortion-file", "d.json"},
                    "--distortion \"idw\" is neither tin nor smooth"},
        CommandCase{"DistortionOfAGeocentricModel",
                    {"--model", "helmert", "--distortion", "tin", "--distortion-file", "d.json"},
                    "--distortion models what a plane model leaves"},
        CommandCase{"DistortionFileWithALineEnd",
                    {"--distortion", "tin", "--distortion-file", "d.json\n+step +proj=noop"},
                    "--distortion-file \"d.json\\x0a+step +proj=noop\" holds a control character"},
        CommandCase{"DistortionFromTooFewPairs",
                    {"--exclude", "1,2,3,4", "--distortion", "smooth", "--distortion-file",
                     "d.json"},
                    "--distortion smooth needs at least"},
        CommandCase{"ExportCrsOfAPlaneModel", {"--export-crs", "b.wkt"},
                    "--export-crs binds a CRS to WGS 84 by seven parameters, which +towgs84 "
                    "takes without rates"},
        CommandCase{"ExportCrsOfTheAffineModel", {"--model", "affine", "--export-crs", "b.wkt"},
                    "the affine model has no set +towgs84 takes"},
        CommandCase{"ExportCrsBothOnWgs84", {"--model", "helmert", "--export-crs", "b.wkt"},
                    "and both lists are on WGS 84"},
        CommandCase{"ExportCrsNeitherOnWgs84",
                    {"--model", "helmert", "--source-ellipsoid", "BESSEL1841",
                     "--destination-ellipsoid", "BESSEL1841", "--export-crs", "b.wkt"},
                    "and neither list is on WGS 84"},
        // The source point is outside, its image, 0.3 degrees east, inside: refused for either.
        CommandCase{"ApplyOutsideWhereItsImageIsInside",
                    {"--refsrc", "139.7,35.6,10,139.8,35.7,20,139.75,35.65,15", "--refdes",
                     "140.0,35.6,10,140.1,35.7,20,140.05,35.65,15", "--apply", "133.8,35.65,0"},
                    "--apply point 1 (counting from 1; given as 133.8,35.65,0) lies outside"},
        CommandCase{"ZeroTolerance", {"--tolerance-h", "0"}, "--tolerance-h \"0\" is not a length"},
        CommandCase{"ToleranceWithUnit", {"--tolerance-v", "5mm"}, "--tolerance-v \"5mm\""},
        // 6.4° west of the central meridian, the mean of the destination longitudes.
        CommandCase{"ApplyOutsideTheDomain", {"--apply", "133.3,35.7,0"},
                    "--apply point 1 (counting from 1; given as 133.3,35.7,0) lies outside the "
                    "projection's domain"}),
    QuorvaneTest::CaseName());

// The Tokyo example with pair 4's destination height 0.10 m too high (33.005 for 33.105).
std::string RaisedHeightDestination() {
  std::string destination = Tokyo()[1];
  return destination.replace(destination.find("33.005"), 6, "33.105");
}

// Leaving the last pair out of one part of the site model gives that part the fit of lists
// without the pair (its destination point kept, so the centre stays), and the other part the fit
// of all pairs: the same doubles in the record.
TEST(SiteModel, ExcludingFromOnePartFitsThatPartWithoutThePair) {
  Installation q;
  const std::string source = Tokyo()[0];
  const std::string withoutLast = source.substr(0, source.rfind(',', source.rfind(',') - 1));
  const auto parameters = [&](const std::string& list, std::vector<std::string> more) {
    more.insert(more.end(), {"--refsrc", list, "--refdes", RaisedHeightDestination(), "--model",
                             "site", "--record", "r.json"});
    const ChildResult r = q.Run(more);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return nlohmann::json::parse(ReadFile(q.home.path() + "/r.json"));
  };
  const nlohmann::json all = parameters(source, {}), without = parameters(withoutLast, {});
  for (const char* suffix : {"h", "v"}) {
    const nlohmann::json record = parameters(source, {"--exclude", std::string("6") + suffix});
    const bool horizontal = suffix[0] == 'h';
    for (const char* name : {"tx", "ty", "rz", "scale"}) {
      EXPECT_EQ(record["parameters"][name], (horizontal ? without : all)["parameters"][name])
          << suffix << " " << name;
    }
    for (const char* name : {"tz", "slopeNorth", "slopeEast"}) {
      EXPECT_EQ(record["parameters"][name], (horizontal ? all : without)["parameters"][name])
          << suffix << " " << name;
    }
    EXPECT_EQ(record["pairs"][5]["status"], horizontal ? "vertical only" : "horizontal only");
  }
}

// --strict: exit 3 with everything written while a fitted pair is flagged or over a tolerance,
// 0 once --snoop has removed it or when nothing fails.
TEST(SiteModel, StrictExitsThreeWhileAPairIsFlagged) {
  struct Run {
    std::vector<std::string> more;
    int status;
  };
  const std::vector<Run> runs = {
      {{"--model", "site", "--vertical", "constant"}, 3},
      {{"--model", "site", "--vertical", "constant", "--snoop"}, 0},
      {{"--model", "site", "--vertical", "constant", "--snoop", "--tolerance-h", "0.06"}, 3},
      {{"--model", "site", "--snoop", "--tolerance-h", "0.08"}, 0}};
  for (const Run& run : runs) {
    Installation q;
    std::vector<std::string> arguments = {"--refsrc", Tokyo()[0], "--refdes",
                                          RaisedHeightDestination(), "--strict"};
    arguments.insert(arguments.end(), run.more.begin(), run.more.end());
    const ChildResult r = q.Run(arguments);
    EXPECT_EQ(r.exitStatus, run.status) << r.err;
    EXPECT_TRUE(QuorvaneTest::FileExists(q.resultFile));
  }
}

// Pair 4 left out of the horizontal part by --exclude and out of the vertical one by --snoop: the
// summary line counts what each part kept after snooping, the removal names its part, the record
// calls the pair removed, and a tolerance marks only pairs that were fitted.
TEST(SiteModel, SnoopingAfterAnExclusionReportsWhatEachPartLeftOut) {
  Installation q;
  const ChildResult r = q.Run({"--refsrc", Tokyo()[0], "--refdes", RaisedHeightDestination(),
                               "--model", "site", "--vertical", "constant", "--exclude", "4h",
                               "--snoop", "--tolerance-v", "0.05", "--record", "r.json", "--utf8"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            "Site calibration, least squares in closed form: horizontal 5 pairs, vertical 5 pairs");
  EXPECT_NE(r.out.find("\t-\t-\t-\t-\t平面剔除 高程自动剔除\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("自动剔除：\n4\t361.12\t74.14\t高程\n"), std::string::npos) << r.out;
  const nlohmann::json pair =
      nlohmann::json::parse(ReadFile(q.home.path() + "/r.json"))["pairs"][3];
  EXPECT_EQ(pair["status"], "removed");
  EXPECT_EQ(pair["overTolerance"], false);
}

// The site model's parts as linear least squares, solved here by Householder QR: horizontally
// q = s·R(rz)·(p − p̄) + q̄, linear in s·cos rz and s·sin rz, whose angle is also the best turn
// with the scale held at 1; vertically H' − H = tz [+ slopeNorth·(N − N̄) + slopeEast·(E − Ē)].
// Each σ is σ̂·√((JᵀJ)⁻¹)ᵢᵢ, J by the parameters in this form: for rz, the scale and the slopes
// the σ of the tool's own, about whatever point its shifts act.
struct SiteFitCase {
  const char* name;
  std::vector<std::string> options;  // besides --model site
  bool fixScale;
  bool plane;
};

void PrintTo(const SiteFitCase& c, std::ostream* os) { *os << c.name; }

class SiteFit : public ::testing::TestWithParam<SiteFitCase> {};

TEST_P(SiteFit, IsTheClosedFormOptimumWithItsPrecision) {
  constexpr double kPointAgreement = 1e-9;  // metres; two closed forms on coordinates of 10 km
  constexpr double kSigmaAgreement = 1e-8;  // relative; both from the same residuals
  constexpr double kPrintedPpm = 1e-6;      // the site line's last decimal of the slopes
  const SiteFitCase& c = GetParam();
  Installation q;
  std::vector<std::string> arguments = {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1],
                                        "--model",  "site",     "--record", "r.json"};
  arguments.insert(arguments.end(), c.options.begin(), c.options.end());
  const ChildResult r = q.Run(arguments);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const nlohmann::json record = nlohmann::json::parse(ReadFile(q.home.path() + "/r.json"));
  const nlohmann::json& pairs = record["pairs"];
  const Eigen::Index m = static_cast<Eigen::Index>(pairs.size());
  Eigen::MatrixXd p(m, 3), d(m, 3);
  for (Eigen::Index i = 0; i < m; ++i) {
    for (int k = 0; k < 3; ++k) {
      p(i, k) = pairs[i]["sourcePlane"][k].get<double>();
      d(i, k) = pairs[i]["destinationPlane"][k].get<double>();
    }
  }
  const Eigen::RowVector3d pm = p.colwise().mean(), qm = d.colwise().mean();
  const Eigen::VectorXd dh = d.col(2) - p.col(2);
  Eigen::MatrixXd A(2 * m, 2), V = Eigen::MatrixXd::Ones(m, c.plane ? 3 : 1);
  Eigen::VectorXd b(2 * m);
  for (Eigen::Index i = 0; i < m; ++i) {
    const double e = p(i, 0) - pm[0], n = p(i, 1) - pm[1];
    A.row(2 * i) << e, -n;
    A.row(2 * i + 1) << n, e;
    b.segment<2>(2 * i) << d(i, 0) - qm[0], d(i, 1) - qm[1];
    if (c.plane) V(i, 1) = n, V(i, 2) = e;
  }
  const Eigen::Vector2d turn = A.householderQr().solve(b);
  const Eigen::VectorXd z = V.householderQr().solve(dh), vz = V * z - dh;
  const double rz = std::atan2(turn[1], turn[0]), s = c.fixScale ? 1.0 : turn.norm();

  // Residuals, and their derivatives by the centroid's image (a shift), rz and the scale.
  Eigen::MatrixXd J = Eigen::MatrixXd::Zero(2 * m, c.fixScale ? 3 : 4);
  Eigen::VectorXd v(2 * m);
  for (Eigen::Index i = 0; i < m; ++i) {
    const double e = p(i, 0) - pm[0], n = p(i, 1) - pm[1];
    const double ue = std::cos(rz) * e - std::sin(rz) * n, un = std::sin(rz) * e + std::cos(rz) * n;
    v.segment<2>(2 * i) << s * ue + qm[0] - d(i, 0), s * un + qm[1] - d(i, 1);
    J(2 * i, 0) = J(2 * i + 1, 1) = 1;
    J(2 * i, 2) = -s * un, J(2 * i + 1, 2) = s * ue;
    if (!c.fixScale) J(2 * i, 3) = ue, J(2 * i + 1, 3) = un;
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(pairs[i]["residual"][k].get<double>(), k < 2 ? v[2 * i + k] : vz[i],
                  kPointAgreement)
          << "pair " << i + 1 << ", coordinate " << k;
    }
  }
  // σ̂ for k < 0, else the σ of parameter k.
  const auto sigma = [](const Eigen::MatrixXd& jacobian, const Eigen::VectorXd& residuals, int k) {
    const double sigma0 = std::sqrt(residuals.squaredNorm() /
                                    static_cast<double>(jacobian.rows() - jacobian.cols()));
    return k < 0 ? sigma0 : sigma0 * std::sqrt((jacobian.transpose() * jacobian).inverse()(k, k));
  };
  const nlohmann::json& quality = record["quality"];
  const auto expectSigma = [&](const nlohmann::json& value, double expected) {
    EXPECT_NEAR(value.get<double>(), expected, kSigmaAgreement * expected) << value;
  };
  expectSigma(quality["horizontal"]["sigma0"], sigma(J, v, -1));
  expectSigma(quality["vertical"]["sigma0"], sigma(V, vz, -1));
  expectSigma(quality["sigma"]["rz"], sigma(J, v, 2));
  if (c.fixScale) {
    EXPECT_TRUE(quality["sigma"]["scale"].is_null());
  } else {
    expectSigma(quality["sigma"]["scale"], sigma(J, v, 3));
  }
  if (c.plane) expectSigma(quality["sigma"]["slopeNorth"], sigma(V, vz, 1));
  if (c.plane) expectSigma(quality["sigma"]["slopeEast"], sigma(V, vz, 2));
  if (!c.plane) expectSigma(quality["sigma"]["tz"], sigma(V, vz, 0));
  // The report's site line names each slope, in ppm.
  for (const auto& [name, slope] : {std::make_pair("slopeNorth=", c.plane ? z[1] : 0.0),
                                    std::make_pair("slopeEast=", c.plane ? z[2] : 0.0)}) {
    const std::size_t at = r.out.find(name);
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_NEAR(std::stod(r.out.substr(at + std::strlen(name))), slope * 1e6, kPrintedPpm) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SiteFit,
    ::testing::Values(SiteFitCase{"FixedScale", {"--fix-scale"}, true, true},
                      SiteFitCase{"ConstantHeightShift", {"--vertical", "constant"}, false, false}),
    QuorvaneTest::CaseName());

}  // namespace
