// --apply and --record through the built executable; the record's PROJ pipeline run by libproj
// and set against the tool's own transformed points.
#include <proj.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "geodesy/gauss_projector.h"
#include "tests/estimation/closed_form_fit.h"
#include "tests/support/child_process.h"
#include "tests/support/tokyo_example.h"

namespace {

using QuorvaneTest::ChildResult;
using QuorvaneTest::ReadFile;
using QuorvaneTest::Tokyo;

// The pipeline's tmerc +approx and our series agree to 0.1 mm within 3° of the meridian; points
// are compared in PROJ's own plane of the record's projection, where the two meridian arcs' offset
// is the same for points a few hundred metres apart.
constexpr double kPipelineAgreement = 1e-4;  // metres

std::vector<std::string> LinesAfter(const std::string& text, const std::string& label) {
  std::vector<std::string> lines;
  std::size_t at = text.find("\n" + label + "\n");
  if (at == std::string::npos) return lines;
  for (at += label.size() + 2; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    // The block ends at an empty line or the next label.
    if (end == at || (text[at] != '(' && text[at] != '-' && !std::isdigit(text[at]))) break;
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::string Format(const char* format, const nlohmann::ordered_json& p) {
  char text[200];
  std::snprintf(text, sizeof text, format, p[0].get<double>(), p[1].get<double>(),
                p[2].get<double>());
  return text;
}

// Runs of the Tokyo lists with more options, from another folder than the executable's.
struct Installation : QuorvaneTest::Installation {
  ChildResult Run(std::vector<std::string> more) const {
    std::vector<std::string> arguments = {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1]};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return RunElsewhere(arguments);
  }
};

TEST(Record, PipelineAndApplyCarryTheSourcePointsOntoTheDestination) {
  Installation q;
  const ChildResult r = q.Run({"--apply", Tokyo()[0], "--record", "tokyo.json"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_FALSE(QuorvaneTest::FileExists(q.home.path() + "/tokyo.json"));
  const nlohmann::ordered_json record =
      nlohmann::ordered_json::parse(ReadFile(q.elsewhere.path() + "/tokyo.json"));
  std::vector<std::string> keys;
  for (const auto& member : record.items()) keys.push_back(member.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"format", "version", "projection", "model",
                                            "parameters", "pairs", "quality", "applied", "proj"}));
  EXPECT_EQ(record["format"], "quorvane-record/1");
  const nlohmann::ordered_json result =
      nlohmann::ordered_json::parse(ReadFile(q.home.path() + "/quorvane.json"));
  EXPECT_EQ(record["parameters"]["tx"], result["offset"][0]);
  EXPECT_EQ(record["parameters"]["rz"].get<double>() * 180.0 / 3.141592653589793,
            result["rotate"][2].get<double>());
  EXPECT_EQ(record["quality"]["redundancy"], 13);

  PJ* pipeline = proj_create(PJ_DEFAULT_CTX, record["proj"].get<std::string>().c_str());
  const nlohmann::ordered_json& centre = record["projection"];
  const std::string tmerc = "+proj=tmerc +approx +k_0=1 +x_0=0 +y_0=0 +ellps=WGS84 +lat_0=" +
                            centre["originLatitude"].dump() +
                            " +lon_0=" + centre["centralMeridian"].dump();
  PJ* plane = proj_create(PJ_DEFAULT_CTX, tmerc.c_str());
  ASSERT_NE(pipeline, nullptr) << record["proj"];
  ASSERT_NE(plane, nullptr);
  auto toPlane = [&](double lon, double lat) {
    return proj_trans(plane, PJ_FWD, proj_coord(proj_torad(lon), proj_torad(lat), 0, 0)).xy;
  };
  const std::vector<std::string> printed =
      LinesAfter(r.out, "\xD7\xAA\xBB\xBB\xBD\xE1\xB9\xFB\xA3\xBA");  // 转换结果：
  const std::vector<std::string> computed =
      LinesAfter(r.out, "ceres\xBC\xC6\xCB\xE3\xD6\xB5\xA3\xBA");  // ceres计算值：
  ASSERT_EQ(record["applied"].size(), 6u);
  ASSERT_EQ(printed.size(), 6u);
  ASSERT_EQ(computed.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    const nlohmann::ordered_json& applied = record["applied"][i];
    const nlohmann::ordered_json& mine = applied["destination"];
    EXPECT_EQ(Format("%.9f\t%.9f\t%.4f", mine), printed[i]);
    // In the plane, the transformed source point is the report's third block.
    EXPECT_EQ(Format("(%.5f,\t%.5f,\t%.5f)", applied["plane"]), computed[i]);

    const nlohmann::ordered_json& source = applied["source"];
    const PJ_COORD theirs =
        proj_trans(pipeline, PJ_FWD,
                   proj_coord(source[0].get<double>(), source[1].get<double>(),
                              source[2].get<double>(), 0));  // the pipeline takes degrees
    const PJ_XY a = toPlane(theirs.xyz.x, theirs.xyz.y);
    const PJ_XY b = toPlane(mine[0], mine[1]);
    EXPECT_NEAR(a.x, b.x, kPipelineAgreement);
    EXPECT_NEAR(a.y, b.y, kPipelineAgreement);
    EXPECT_NEAR(theirs.lpz.z, mine[2].get<double>(), kPipelineAgreement);

    // The source points land beside their destination points by the fit's residuals.
    const nlohmann::ordered_json& given = record["pairs"][i]["destination"];
    const nlohmann::ordered_json& v = record["pairs"][i]["residual"];
    const PJ_XY c = toPlane(given[0], given[1]);
    EXPECT_NEAR(b.x - c.x, v[0].get<double>(), kPipelineAgreement);
    EXPECT_NEAR(b.y - c.y, v[1].get<double>(), kPipelineAgreement);
    EXPECT_NEAR(mine[2].get<double>() - given[2].get<double>(), v[2].get<double>(), 1e-9);
  }
  proj_destroy(plane);
  proj_destroy(pipeline);
}

// With --rates the record's pipeline is PROJ's time-dependent helmert: libproj on each --apply
// point with its epoch as the fourth coordinate gives what --apply gave, and the record and
// quorvane.json state the EPSG method, the reference epoch and the rates.
TEST(Record, PipelineWithRatesCarriesEachPointAtItsEpochAsApplyDoes) {
  constexpr double kEarthRadius = 6378137.0;  // metres a radian, for differences of 0.1 mm
  const std::string points = QUORVANE_SOURCE_DIR "/examples/itrf2014-us-epochs.txt";
  QuorvaneTest::Installation q;
  const ChildResult r = q.Run(
      {"--refsrc-file", points, "--refdes-file",
       QUORVANE_SOURCE_DIR "/examples/nad83-2011-us.txt", "--source-crs", "EPSG:7912",
       "--destination-crs", "EPSG:6319", "--model", "helmert", "--convention",
       "coordinate-frame", "--rates", "--apply-file", points, "--record", "rates.json"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const nlohmann::ordered_json record =
      nlohmann::ordered_json::parse(ReadFile(q.home.path() + "/rates.json"));
  const nlohmann::ordered_json result = nlohmann::ordered_json::parse(ReadFile(q.resultFile));
  EXPECT_EQ(record["method"], 1056);
  EXPECT_EQ(record["referenceEpoch"], result["referenceEpoch"]);
  ASSERT_EQ(result["rates"].size(), 7u);
  EXPECT_EQ(result["rates"][0], record["parameters"]["txRate"]);
  EXPECT_EQ(result["rates"][4].get<double>(),
            record["parameters"]["ryRate"].get<double>() * 180.0 / 3.141592653589793);
  EXPECT_EQ(record["quality"]["correlation"].size(), 14u);
  PJ* pipeline = proj_create(PJ_DEFAULT_CTX, record["proj"].get<std::string>().c_str());
  ASSERT_NE(pipeline, nullptr) << record["proj"];
  ASSERT_EQ(record["applied"].size(), record["pairs"].size());
  for (const nlohmann::ordered_json& applied : record["applied"]) {
    const nlohmann::ordered_json& source = applied["source"];
    const nlohmann::ordered_json& mine = applied["destination"];
    const PJ_COORD theirs =
        proj_trans(pipeline, PJ_FWD,
                   proj_coord(source[0].get<double>(), source[1].get<double>(),
                              source[2].get<double>(), applied["epoch"].get<double>()));
    const double latitude = proj_torad(mine[1].get<double>());
    EXPECT_NEAR(proj_torad(theirs.lpz.lam - mine[0].get<double>()) * std::cos(latitude) *
                    kEarthRadius, 0.0, kPipelineAgreement);
    EXPECT_NEAR(proj_torad(theirs.lpz.phi - mine[1].get<double>()) * kEarthRadius, 0.0,
                kPipelineAgreement);
    EXPECT_NEAR(theirs.lpz.z, mine[2].get<double>(), kPipelineAgreement);
  }
  proj_destroy(pipeline);
}

// Within 1e-6° of the equator the projection counts northings from the equator, and so must the
// pipeline: told the centre's 9e-7° (0.1 m of arc), its 2 % scale would put it 2 mm off --apply.
TEST(Record, PipelineAgreesWithApplyNearTheEquator) {
  Installation q;
  const ChildResult r = q.Run(  // in place of the Tokyo lists
      {"--refsrc", "10.0102,0.0102,0,9.9898,0.0102,0,9.9898,-0.0102,0,10.0102,-0.0102,0",
       "--refdes", "10.01,0.0100036,0,9.99,0.01,0,9.99,-0.01,0,10.01,-0.01,0", "--apply",
       "10.005,0.003,5,9.995,-0.008,20", "--record", "r.json"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const nlohmann::ordered_json record =
      nlohmann::ordered_json::parse(ReadFile(q.elsewhere.path() + "/r.json"));
  PJ* pipeline = proj_create(PJ_DEFAULT_CTX, record["proj"].get<std::string>().c_str());
  PJ* plane = proj_create(PJ_DEFAULT_CTX, "+proj=tmerc +approx +lon_0=10 +ellps=WGS84");
  ASSERT_TRUE(pipeline != nullptr && plane != nullptr) << record["proj"];
  auto radians = [](const nlohmann::ordered_json& p) {
    return proj_coord(proj_torad(p[0]), proj_torad(p[1]), p[2], 0);
  };
  ASSERT_EQ(record["applied"].size(), 2u);
  for (const nlohmann::ordered_json& point : record["applied"]) {
    const nlohmann::ordered_json& source = point["source"];
    const PJ_COORD theirs =  // degrees in and out
        proj_trans(pipeline, PJ_FWD, proj_coord(source[0], source[1], source[2], 0));
    const PJ_XY a = proj_trans(plane, PJ_FWD, radians({theirs.xyz.x, theirs.xyz.y, 0})).xy;
    const PJ_XY b = proj_trans(plane, PJ_FWD, radians(point["destination"])).xy;
    EXPECT_NEAR(a.x, b.x, kPipelineAgreement);
    EXPECT_NEAR(a.y, b.y, kPipelineAgreement);
  }
  proj_destroy(plane);
  proj_destroy(pipeline);
}

// A pair that was not tested has null "test", "critical" and "suspect", not a number that reads
// as a pass: left out by --exclude (pair 1) or by --snoop (the mistyped pair 3), or one of
// fewer than three fitted pairs.
TEST(Record, PairsNotTestedHaveNullTests) {
  Installation q;
  const std::vector<std::pair<std::vector<std::string>, std::vector<bool>>> runs = {
      {{"--refsrc", QuorvaneTest::MistypedTokyoSource(), "--exclude", "1", "--snoop"},
       {false, true, false, true, true, true}},
      {{"--exclude", "1,2,3,4"}, std::vector<bool>(6, false)}};
  for (const auto& [more, tested] : runs) {
    std::vector<std::string> arguments = more;
    arguments.insert(arguments.end(), {"--record", "r.json"});
    const ChildResult r = q.Run(arguments);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const nlohmann::ordered_json pairs =
        nlohmann::ordered_json::parse(ReadFile(q.elsewhere.path() + "/r.json"))["pairs"];
    for (std::size_t i = 0; i < 6; ++i) {
      for (const char* member : {"test", "critical", "suspect"}) {
        EXPECT_EQ(pairs[i][member].is_null(), !tested[i]) << more.back() << " pair " << i + 1;
      }
    }
  }
}

// Source points on one spot leave the parameters' precision undetermined though σ̂0 has r = 4:
// each σ is null, not a 0 that would read as exact.
TEST(Record, PrecisionNotDeterminedIsNull) {
  Installation q;
  const ChildResult r = q.Run({"--refsrc", "139.7,35.7,1,139.7,35.7,2,139.7,35.7,3", "--refdes",
                               "139.7,35.7,1,139.8,35.6,2,139.75,35.65,3", "--record", "r.json"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const nlohmann::ordered_json quality =
      nlohmann::ordered_json::parse(ReadFile(q.elsewhere.path() + "/r.json"))["quality"];
  EXPECT_TRUE(quality["sigma0"].is_number());
  ASSERT_EQ(quality["sigma"].size(), 5u);
  for (const auto& sigma : quality["sigma"].items()) {
    EXPECT_TRUE(sigma.value().is_null()) << sigma.key();
  }
  EXPECT_TRUE(quality["covariance"].is_null());
}

// Names go where pairs go: UTF-8 in the record whatever the file's encoding, the console's
// encoding in the quality block and before each point of a named --apply-file; --exclude takes
// them. Pair 5 is 点5, GBK in the source file and UTF-8 in the shuffled destination file, so
// pairing compares the converted names; the first --apply-file point is 检查点 in GBK.
TEST(Record, NamesInTheRecordTheBlockAndTheAppliedPoints) {
  Installation q;
  const auto replaced = [](std::string text, const std::string& name) {
    return text.replace(text.find("YL05"), 4, name);
  };
  const std::string examples = QUORVANE_SOURCE_DIR "/examples/";
  QuorvaneTest::WriteFile(q.elsewhere.path() + "/src.txt",
                          replaced(ReadFile(examples + "tokyo-wgs84-named.txt"), "\xB5\xE3\x35"));
  QuorvaneTest::WriteFile(
      q.elsewhere.path() + "/des.txt",
      replaced(ReadFile(examples + "tokyo-datum-named.txt"), "\xE7\x82\xB9\x35"));
  QuorvaneTest::WriteFile(q.elsewhere.path() + "/more.txt",
                          "\xBC\xEC\xB2\xE9\xB5\xE3,139.7,35.69,40\nK2,139.767125,35.681236,3.5\n");
  const std::vector<std::string> arguments = {
      "--refsrc-file", "src.txt", "--refdes-file", "des.txt", "--apply-file", "more.txt",
      "--exclude",     "YL03",    "--quality",     "--record", "r.json"};
  for (const bool utf8 : {false, true}) {
    std::vector<std::string> run = arguments;
    if (utf8) run.push_back("--utf8");
    const ChildResult r =
        QuorvaneTest::RunChild(q.executable, run, QuorvaneTest::InDirectory(q.elsewhere.path()));
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const nlohmann::ordered_json record =
        nlohmann::ordered_json::parse(ReadFile(q.elsewhere.path() + "/r.json"));
    const std::vector<std::string> names = {"YL01", "YL02", "YL03", "YL04", "\xE7\x82\xB9\x35",
                                            "YL06"};
    ASSERT_EQ(record["pairs"].size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(record["pairs"][i]["name"], names[i]);
      EXPECT_EQ(record["pairs"][i]["status"], i == 2 ? "excluded" : "fitted") << names[i];
    }
    // The pair's Tokyo-datum point, found by name in the shuffled file.
    EXPECT_EQ(record["pairs"][4]["destination"][2], -9.157);
    ASSERT_EQ(record["applied"].size(), 2u);
    EXPECT_EQ(record["applied"][0]["name"], "\xE6\xA3\x80\xE6\x9F\xA5\xE7\x82\xB9");  // 检查点
    EXPECT_EQ(record["applied"][1]["name"], "K2");

    const std::string point5 = utf8 ? "\xE7\x82\xB9\x35" : "\xB5\xE3\x35";
    EXPECT_NE(r.out.find("\n3\tYL03\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n5\t" + point5 + "\t"), std::string::npos) << r.out;
    const std::string applied =
        (utf8 ? "\xE8\xBD\xAC\xE6\x8D\xA2\xE7\xBB\x93\xE6\x9E\x9C\xEF\xBC\x9A\n"
                "\xE6\xA3\x80\xE6\x9F\xA5\xE7\x82\xB9\t"
              : "\xD7\xAA\xBB\xBB\xBD\xE1\xB9\xFB\xA3\xBA\n\xBC\xEC\xB2\xE9\xB5\xE3\t") +
        Format("%.9f\t%.9f\t%.4f", record["applied"][0]["destination"]) + "\nK2\t" +
        Format("%.9f\t%.9f\t%.4f", record["applied"][1]["destination"]) + "\n";  // 转换结果：
    EXPECT_NE(r.out.find(applied), std::string::npos) << r.out;
  }
}

TEST(Record, UnwritablePathKeepsTheFitAndSaysSo) {
  Installation q;
  const ChildResult r = q.Run({"--record", q.elsewhere.path() + "/missing/record.json"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_NE(r.out.find("ceres"), std::string::npos);
  EXPECT_EQ(r.err.rfind("quorvane: the record could not be written to \"", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_TRUE(QuorvaneTest::FileExists(q.home.path() + "/quorvane.json"));
}

TEST(Record, ApplyPointWithoutAFiniteResultIsRefused) {
  Installation q;
  const ChildResult r = q.Run({"--apply", "139.7,35.7,1,1e308,35.7,0", "--record", "r.json"});
  EXPECT_EQ(r.exitStatus, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("quorvane: --apply point 2 (counting from 1; given as 1e+308,35.7,0)", 0),
            0u)
      << r.err;
  EXPECT_FALSE(QuorvaneTest::FileExists(q.home.path() + "/quorvane.json"));
  EXPECT_FALSE(QuorvaneTest::FileExists(q.elsewhere.path() + "/r.json"));
}

// The GNSS points of examples/d-wgs84.txt and a Beijing 1954 3° zone 37 table of them made by
// PROJ (EPSG:2413, exact transverse Mercator on Krassovsky), rounded to 0.1 mm as a table is: each
// point moved 2.7" east and 1.9" south by the datum change, its height 21.3 m lower.
struct GridNetwork {
  std::string source, table;             // --refsrc (lon,lat,h) and --refdes (E,N,H) texts
  Quorvane::PointList geographic, grid;  // as the texts give them
};

const char kZone37[] = "ellipsoid=BJ54,meridian=111,false-easting=37500000";

GridNetwork Zone37Network() {
  const auto append = [](std::string& text, Quorvane::PointList& points, const char* format,
                         Quorvane::Point3 p) {
    char field[100];
    std::snprintf(field, sizeof field, format, p.x, p.y, p.z);
    text += (text.empty() ? "" : ",") + std::string(field);
    std::sscanf(field, "%lf,%lf,%lf", &p.x, &p.y, &p.z);
    points.push_back(p);
  };
  GridNetwork n;
  // Geographic Beijing 1954 (latitude first) to the zone's northing and easting, in that order.
  PJ* beijing = proj_create_crs_to_crs(PJ_DEFAULT_CTX, "EPSG:4214", "EPSG:2413", nullptr);
  EXPECT_NE(beijing, nullptr);
  std::ifstream file(QUORVANE_SOURCE_DIR "/examples/d-wgs84.txt");
  for (std::string line; std::getline(file, line);) {
    double lon, lat, h;
    if (std::sscanf(line.c_str(), "D%*d,%lf,%lf,%lf", &lon, &lat, &h) != 3) continue;
    append(n.source, n.geographic, "%.9f,%.9f,%.4f", {lon, lat, h});
    const PJ_COORD ne =
        proj_trans(beijing, PJ_FWD, proj_coord(lat - 1.9 / 3600, lon + 2.7 / 3600, 0, 0));
    append(n.table, n.grid, "%.4f,%.4f,%.4f", {ne.v[1], ne.v[0], h - 21.3});
  }
  proj_destroy(beijing);
  return n;
}

// The site model's horizontal part in a grid is the Helmert four-parameter optimum between the
// table and the GNSS points projected by the series with the grid's meridian and false easting
// on their own WGS 84, not on the table's Krassovsky.
TEST(PlaneRecord, SiteFitIsTheHelmertOptimumAndApplyGivesTheTableBackByItsResiduals) {
  constexpr double kOptimumAgreement = 1e-6;  // metres; far below the 0.1 mm of the table's digits
  const GridNetwork n = Zone37Network();
  ASSERT_EQ(n.grid.size(), 10u);
  Installation q;
  const ChildResult r = q.Run({"--refsrc", n.source, "--refdes", n.table, "--grid", kZone37,
                               "--model", "site", "--apply", n.source, "--record", "r.json"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const nlohmann::ordered_json record =
      nlohmann::ordered_json::parse(ReadFile(q.elsewhere.path() + "/r.json"));
  ASSERT_EQ(record["applied"].size(), n.grid.size());

  // With every height 0 the closed-form similarity is the plane's Helmert fit.
  Quorvane::PointList plane = n.geographic, table = n.grid;
  for (std::size_t i = 0; i < plane.size(); ++i) {
    const Quorvane::PlaneCoordinates e = Quorvane::GaussProjector().Forward(
        n.geographic[i], 111, 37500000, 0, 6378137, 1 / 298.257223563, 0);
    plane[i] = {e.x, e.y, 0};
    table[i].z = 0;
  }
  const QuorvaneTest::ClosedFormFit helmert = QuorvaneTest::SolveClosedForm(plane, table);
  const double c = helmert.scale * std::cos(helmert.rz), s = helmert.scale * std::sin(helmert.rz);
  for (std::size_t i = 0; i < plane.size(); ++i) {
    const double x = plane[i].x + helmert.tx, y = plane[i].y + helmert.ty;
    const double fitted[2] = {c * x - s * y, s * x + c * y};
    const nlohmann::ordered_json& mine = record["applied"][i]["plane"];
    const nlohmann::ordered_json& pair = record["pairs"][i];
    for (int k = 0; k < 2; ++k) EXPECT_NEAR(mine[k].get<double>(), fitted[k], kOptimumAgreement);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(mine[k].get<double>() - pair["destination"][k].get<double>(),
                  pair["residual"][k].get<double>(), kOptimumAgreement)
          << i << k;
    }
  }
}

// On a grid the site model's parameters act about the centroid of its points, 3,800 km from the
// grid's origin: its shifts are known to the millimetres of the tables, and tz is the height
// offset the table was made with (21.3 m, with the geoid's tilt across the site).
TEST(PlaneRecord, SiteParametersOnAGridActAboutTheSite) {
  // Metres: millimetres (this network's σ is 5 mm), where about the origin they were metres.
  constexpr double kTables = 0.01;
  const GridNetwork n = Zone37Network();
  Installation q;
  const ChildResult r = q.Run({"--refsrc", n.source, "--refdes", n.table, "--grid", kZone37,
                               "--model", "site", "--record", "r.json"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const nlohmann::ordered_json record =
      nlohmann::ordered_json::parse(ReadFile(q.elsewhere.path() + "/r.json"));
  for (const char* name : {"tx", "ty", "tz"}) {
    EXPECT_LT(record["quality"]["sigma"][name].get<double>(), kTables) << name;
  }
  EXPECT_NEAR(record["parameters"]["tz"].get<double>(), -21.3, 0.1);
  EXPECT_NEAR(record["reference"][0].get<double>(), 37495844.3, 0.1);
}

// Heights h − N_EGM96 + 2 cm, N from libproj's vgridshift: with --geoid the constant height shift
// is the 2 cm, to rounding, and nothing is left.
TEST(PlaneRecord, GeoidLeavesOnlyTheOffsetOfTheHeights) {
  constexpr double kRounding = 1e-6;  // metres; the tables' heights are written to 0.1 µm
  PJ* geoid = proj_create(PJ_DEFAULT_CTX, "+proj=vgridshift +grids=egm96_15.gtx +multiplier=1");
  ASSERT_NE(geoid, nullptr);
  std::string destination;
  const std::string source = Tokyo()[0];
  double p[3];
  int k = 0;
  for (std::size_t start = 0; start <= source.size(); ++k) {
    const std::size_t comma = std::min(source.find(',', start), source.size());
    p[k % 3] = std::stod(source.substr(start, comma - start));
    start = comma + 1;
    if (k % 3 != 2) continue;
    const PJ_COORD h =
        proj_trans(geoid, PJ_INV, proj_coord(proj_torad(p[0]), proj_torad(p[1]), p[2], 0));
    char point[100];
    std::snprintf(point, sizeof point, "%s%.9f,%.9f,%.7f", destination.empty() ? "" : ",", p[0],
                  p[1], h.xyz.z + 0.02);
    destination += point;
  }
  proj_destroy(geoid);
  Installation q;
  const ChildResult r = QuorvaneTest::RunChild(
      q.executable,
      {"--refsrc", source, "--refdes", destination, "--model", "site", "--vertical", "constant",
       "--geoid", "egm96_15.gtx", "--record", "r.json"},
      QuorvaneTest::InDirectory(q.elsewhere.path()));
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const nlohmann::json record = nlohmann::json::parse(ReadFile(q.elsewhere.path() + "/r.json"));
  EXPECT_NEAR(record["parameters"]["tz"].get<double>(), 0.02, kRounding);
  EXPECT_LT(record["quality"]["vertical"]["sigma0"].get<double>(), kRounding);
  EXPECT_EQ(record["projection"]["geoid"], "egm96_15.gtx");
}

// The Tokyo datum is on Bessel 1841: projected on WGS 84 its plane bends in a way no similarity
// fits; projected on its own ellipsoid only the points' noise is left.
TEST(PlaneRecord, DestinationOnItsOwnEllipsoidFitsToTheNoise) {
  constexpr double kNoise = 1e-3;  // metres of horizontal RMS; the lists agree to millimetres
  Installation q;
  const auto rms = [&](std::vector<std::string> more, const std::string& file) {
    more.insert(more.end(), {"--record", file});
    EXPECT_EQ(q.Run(more).exitStatus, 0);
    const nlohmann::json record = nlohmann::json::parse(ReadFile(q.elsewhere.path() + "/" + file));
    return record["quality"]["rmsHorizontal"].get<double>();
  };
  EXPECT_LT(rms({"--destination-ellipsoid", "BESSEL1841"}, "bessel.json"), kNoise);
  EXPECT_NEAR(rms({}, "wgs84.json"), 0.0588, 0.00005);
}

// A seven-parameter run's +towgs84 terms, in the position-vector convention whatever the run's,
// carry its applied points from WGS 84 to Bessel 1841 as PROJ's helmert step applies them; the
// report's after: line gives the same rotations in the run's own convention (radians).
void ExpectTowgs84(const nlohmann::ordered_json& record, const std::string& report) {
  constexpr double kAfterLine = 1e-8;  // radians: the line's eight decimals
  constexpr double kDegrees = 1e-8;    // a millimetre, as the applied points are written
  constexpr double kHeight = 1e-3;     // metres
  const std::vector<double> t = record["towgs84"];
  std::string steps = "+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad +step "
                      "+proj=cart +ellps=WGS84 +step +proj=helmert +convention=position_vector";
  const char* const names[7] = {"x", "y", "z", "rx", "ry", "rz", "s"};
  for (int k = 0; k < 7; ++k) steps += " +" + std::string(names[k]) + "=" + std::to_string(t[k]);
  steps += " +step +inv +proj=cart +ellps=bessel +step +proj=unitconvert +xy_in=rad +xy_out=deg";
  PJ* helmert = proj_create(PJ_DEFAULT_CTX, steps.c_str());
  ASSERT_NE(helmert, nullptr) << steps;
  for (const nlohmann::ordered_json& point : record["applied"]) {
    const nlohmann::ordered_json& s = point["source"];
    const nlohmann::ordered_json& mine = point["destination"];
    const PJ_COORD theirs = proj_trans(helmert, PJ_FWD, proj_coord(s[0], s[1], s[2], 0));
    EXPECT_NEAR(theirs.lpz.lam, mine[0].get<double>(), kDegrees);
    EXPECT_NEAR(theirs.lpz.phi, mine[1].get<double>(), kDegrees);
    EXPECT_NEAR(theirs.lpz.z, mine[2].get<double>(), kHeight);
  }
  proj_destroy(helmert);
  const double sign = record["method"] == 1032 || record["method"] == 1034 ? -1 : 1;
  double after[7];
  ASSERT_EQ(std::sscanf(report.c_str() + report.find("after:") + 6, "%lf,%lf,%lf,%lf,%lf,%lf,%lf",
                        &after[0], &after[1], &after[2], &after[3], &after[4], &after[5],
                        &after[6]),
            7);
  for (int k = 3; k < 6; ++k) {
    EXPECT_NEAR(after[k], sign * t[k] * 3.141592653589793 / 648000, kAfterLine) << names[k];
  }
}

// The inverse set, +towgs84 on the destination's CRS (Bessel 1841 alone), takes each applied
// point back to its source through cs2cs's operation, and so does the CRS --export-crs wrote:
// within a millimetre, as the refit promises over the fitted network.
void ExpectInverse(const nlohmann::ordered_json& record, const std::string& exported) {
  constexpr double kMillimetre = 1e-3 / 111e3;  // degrees of latitude, and of longitude at most
  std::string bessel = "+proj=longlat +ellps=bessel +no_defs +type=crs +towgs84=";
  for (const double t : record["towgs84Inverse"]) bessel += std::to_string(t) + ",";
  bessel.pop_back();
  for (const std::string& crs : {bessel, exported}) {
    PJ* given = proj_create_crs_to_crs(PJ_DEFAULT_CTX, crs.c_str(), "EPSG:4326", nullptr);
    ASSERT_NE(given, nullptr) << crs;
    PJ* back = proj_normalize_for_visualization(PJ_DEFAULT_CTX, given);
    for (const nlohmann::ordered_json& point : record["applied"]) {
      const nlohmann::ordered_json& d = point["destination"];
      const PJ_COORD theirs = proj_trans(back, PJ_FWD, proj_coord(d[0], d[1], d[2], 0));
      EXPECT_NEAR(theirs.lpz.lam, point["source"][0].get<double>(), kMillimetre) << crs;
      EXPECT_NEAR(theirs.lpz.phi, point["source"][1].get<double>(), kMillimetre) << crs;
    }
    proj_destroy(back);
    proj_destroy(given);
  }
}

// The pipeline carries each list's ellipsoid and the projection height: on a grid it ends in the
// grid's metres, where no inverse step cancels the series' meridian arc against PROJ's (0.06 mm
// at 34°); between two ellipsoids it ends in degrees on the destination's.
TEST(PlaneRecord, PipelineAgreesWithApplyOnAGridAndBetweenTwoEllipsoids) {
  constexpr double kMetresPerDegree = 6378137 * 3.141592653589793 / 180;  // enough for 0.1 mm
  const GridNetwork n = Zone37Network();
  const std::vector<std::vector<std::string>> runs = {
      {"--refsrc", n.source, "--refdes", n.table, "--grid", std::string(kZone37) + ",height=400",
       "--model", "site", "--apply", n.source},
      {"--source-ellipsoid", "GRS80", "--destination-ellipsoid", "6377397.155/299.1528128",
       "--apply", Tokyo()[0]},
      {"--model", "site", "--apply", Tokyo()[0]},
      {"--model", "helmert", "--destination-ellipsoid", "BESSEL1841", "--apply", Tokyo()[0],
       "--export-crs", "bound.wkt"},
      {"--model", "site", "--vertical", "quadric", "--geoid", "egm96_15.gtx", "--apply",
       Tokyo()[0]},
      {"--model", "molodensky-badekas", "--convention", "coordinate-frame",
       "--destination-ellipsoid", "BESSEL1841", "--apply", Tokyo()[0], "--export-crs",
       "bound.wkt"}};
  Installation q;
  for (std::size_t run = 0; run < runs.size(); ++run) {
    std::vector<std::string> more = runs[run];
    more.insert(more.end(), {"--record", "r.json"});
    const ChildResult r = q.Run(more);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const nlohmann::ordered_json record =
        nlohmann::ordered_json::parse(ReadFile(q.elsewhere.path() + "/r.json"));
    PJ* pipeline = proj_create(PJ_DEFAULT_CTX, record["proj"].get<std::string>().c_str());
    ASSERT_NE(pipeline, nullptr) << record["proj"];
    const bool grid = run == 0;
    EXPECT_GE(record["applied"].size(), 6u);
    for (const nlohmann::ordered_json& point : record["applied"]) {
      const nlohmann::ordered_json& s = point["source"];
      const PJ_COORD theirs =  // degrees in; grid metres or degrees out
          proj_trans(pipeline, PJ_FWD, proj_coord(s[0], s[1], s[2], 0));
      const nlohmann::ordered_json& mine = point[grid ? "plane" : "destination"];
      const double north = grid ? 1 : kMetresPerDegree;
      const double east = north * (grid ? 1 : std::cos(proj_torad(mine[1])));
      EXPECT_NEAR((theirs.xyz.x - mine[0].get<double>()) * east, 0, kPipelineAgreement);
      EXPECT_NEAR((theirs.xyz.y - mine[1].get<double>()) * north, 0, kPipelineAgreement);
      EXPECT_NEAR(theirs.xyz.z, mine[2].get<double>(), kPipelineAgreement);
    }
    proj_destroy(pipeline);
    if (record.contains("towgs84")) {
      ExpectTowgs84(record, r.out);
      ExpectInverse(record, ReadFile(q.elsewhere.path() + "/bound.wkt"));
    }
  }
}

}  // namespace
