// --distortion through the built executable, on a network whose distortion is a published one:
// ETRS89 points of the Centre-Val de Loire and the same points in NTF made by libproj's
// hgridshift with ntf_r93.gsb, their heights less the EGM96 geoid (vgridshift). Check points are
// set against libproj's own values; the file is checked against PROJ's schema and run by libproj
// through the record's pipeline.
#include <proj.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/text/console_text.h"
#include "common/point_list.h"
#include "tests/support/child_process.h"

namespace {

using Quorvane::Point3;
using QuorvaneTest::ChildResult;
using QuorvaneTest::ReadFile;

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr double kMetresPerRadian = 6378137.0;  // for differences of millimetres
// tin puts each control point on its destination; the file keeps corrections to 0.01 mm.
constexpr double kControlExact = 1e-4;  // metres
// libproj through the record's pipeline and --apply: the same triangles, the same numbers.
constexpr double kPipelineAgreement = 1e-4;  // metres

constexpr int kSide = 5;  // control points on a jittered 5 × 5 grid over 0.4° × 0.3°
constexpr int kChecks = 120;

struct Network {
  std::string source, destination, apply;
  std::vector<Point3> truth;  // of the --apply points: the check points, then the controls
};

void Append(std::string& list, const Point3& p) {
  char text[96];
  std::snprintf(text, sizeof text, "%s%.10f,%.10f,%.5f", list.empty() ? "" : ",", p.x, p.y, p.z);
  list += text;
}

Network MakeNetwork() {
  PJ* shift = proj_create(PJ_DEFAULT_CTX, "+proj=hgridshift +grids=ntf_r93.gsb");
  PJ* geoid = proj_create(PJ_DEFAULT_CTX, "+proj=vgridshift +grids=egm96_15.gtx +multiplier=-1");
  EXPECT_NE(shift, nullptr);
  EXPECT_NE(geoid, nullptr);
  const auto legacy = [&](double lon, double lat, double h) {
    const PJ_COORD at = proj_coord(lon * kDegree, lat * kDegree, h, 0);
    const PJ_COORD g = proj_trans(shift, PJ_INV, at), n = proj_trans(geoid, PJ_FWD, at);
    return Point3(g.lp.lam / kDegree, g.lp.phi / kDegree, n.xyz.z);
  };
  Network network;
  std::vector<Point3> controls;
  for (int k = 0; k < kSide * kSide; ++k) {
    const double lon = 2.0 + 0.1 * (k % kSide) + 0.013 * std::sin(7.0 * k);
    const double lat = 47.0 + 0.075 * (k / kSide) + 0.01 * std::cos(5.0 * k);
    const double h = 120.0 + 3.0 * k;
    Append(network.source, {lon, lat, h});
    Append(network.destination, legacy(lon, lat, h));
    controls.push_back(legacy(lon, lat, h));
  }
  // Well inside the control points' area, then the control points themselves.
  for (int k = 0; k < kChecks; ++k) {
    const double lon = 2.06 + 0.28 * std::fmod(0.618034 * k, 1.0);
    const double lat = 47.04 + 0.22 * std::fmod(0.4142136 * k + 0.1, 1.0);
    Append(network.apply, {lon, lat, 150.0});
    network.truth.push_back(legacy(lon, lat, 150.0));
  }
  network.apply += "," + network.source;
  network.truth.insert(network.truth.end(), controls.begin(), controls.end());
  proj_destroy(shift);
  proj_destroy(geoid);
  return network;
}

// The difference between two longitude, latitude, height points: horizontal and vertical,
// metres.
std::pair<double, double> Miss(const Point3& a, const Point3& b) {
  const double e = (a.x - b.x) * kDegree * kMetresPerRadian * std::cos(b.y * kDegree);
  const double n = (a.y - b.y) * kDegree * kMetresPerRadian;
  return {std::hypot(e, n), std::fabs(a.z - b.z)};
}

struct Outcome {
  ChildResult run;
  nlohmann::json record;
  double rms[2] = {0, 0};  // check points: horizontal, vertical
  double controls[2] = {0, 0};  // the largest misses of the control points
};

Outcome RunWith(const QuorvaneTest::Installation& q, const Network& network,
                std::vector<std::string> more) {
  Outcome o;
  std::vector<std::string> arguments = {"--refsrc", network.source, "--refdes",
                                        network.destination, "--destination-ellipsoid",
                                        "6378249.2/293.4660212936269", "--model", "site",
                                        "--apply", network.apply, "--record", "r.json"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  o.run = q.Run(arguments);
  EXPECT_EQ(o.run.exitStatus, 0) << o.run.err;
  o.record = nlohmann::json::parse(ReadFile(q.home.path() + "/r.json"));
  const nlohmann::json& applied = o.record["applied"];
  for (std::size_t k = 0; k < network.truth.size(); ++k) {
    const nlohmann::json& d = applied[k]["destination"];
    const auto miss = Miss(Point3(d[0], d[1], d[2]), network.truth[k]);
    if (k < kChecks) {
      o.rms[0] += miss.first * miss.first / kChecks, o.rms[1] += miss.second * miss.second / kChecks;
    } else {
      o.controls[0] = std::max(o.controls[0], miss.first);
      o.controls[1] = std::max(o.controls[1], miss.second);
    }
  }
  o.rms[0] = std::sqrt(o.rms[0]), o.rms[1] = std::sqrt(o.rms[1]);
  return o;
}

// libproj on the record's pipeline, from the folder the file was written in, less --apply:
// the largest difference, metres.
double PipelineMiss(const std::string& folder, const nlohmann::json& record) {
  char previous[4096];
  EXPECT_NE(getcwd(previous, sizeof previous), nullptr);
  EXPECT_EQ(chdir(folder.c_str()), 0);
  PJ* pipeline = proj_create(PJ_DEFAULT_CTX, record["proj"].get<std::string>().c_str());
  EXPECT_NE(pipeline, nullptr) << record["proj"];
  double worst = 0;
  for (const nlohmann::json& a : record["applied"]) {
    if (pipeline == nullptr) break;
    const nlohmann::json &s = a["source"], &d = a["destination"];
    const PJ_COORD out = proj_trans(pipeline, PJ_FWD, proj_coord(s[0], s[1], s[2], 0));
    const auto miss = Miss(Point3(out.xyz.x, out.xyz.y, out.xyz.z), Point3(d[0], d[1], d[2]));
    worst = std::max({worst, miss.first, miss.second});
  }
  proj_destroy(pipeline);
  EXPECT_EQ(chdir(previous), 0);
  return worst;
}

// How many sides of the convex hull of a triangulation file's first `controls` vertices (the
// control points) are no side of its triangles: within the hull the correction is the control
// points' alone only when there are none.
int HullSidesMissing(const std::string& path, std::size_t controls) {
  const nlohmann::json tin = nlohmann::json::parse(ReadFile(path));
  std::vector<std::pair<double, double>> at;
  for (std::size_t k = 0; k < controls; ++k) at.emplace_back(tin["vertices"][k][0], tin["vertices"][k][1]);
  const auto turn = [&](std::size_t o, std::size_t a, std::size_t b) {
    return (at[a].first - at[o].first) * (at[b].second - at[o].second) -
           (at[a].second - at[o].second) * (at[b].first - at[o].first);
  };
  std::vector<std::size_t> order(controls), hull;
  for (std::size_t k = 0; k < controls; ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return at[a] < at[b]; });
  for (int pass = 0; pass < 2; ++pass) {  // Andrew's monotone chain: lower, then upper
    const std::size_t start = hull.size();
    for (std::size_t k : order) {
      while (hull.size() >= start + 2 && turn(hull[hull.size() - 2], hull.back(), k) <= 0) {
        hull.pop_back();
      }
      hull.push_back(k);
    }
    hull.pop_back();
    std::reverse(order.begin(), order.end());
  }
  std::set<std::pair<std::size_t, std::size_t>> sides;
  for (const auto& t : tin["triangles"]) {
    for (int k = 0; k < 3; ++k) {
      const std::size_t a = t[k], b = t[(k + 1) % 3];
      sides.insert({std::min(a, b), std::max(a, b)});
    }
  }
  int missing = 0;
  for (std::size_t k = 0; k < hull.size(); ++k) {
    const std::size_t a = hull[k], b = hull[(k + 1) % hull.size()];
    missing += sides.count({std::min(a, b), std::max(a, b)}) == 0 ? 1 : 0;
  }
  return missing;
}

TEST(Distortion, TinAndSmoothTakeUpAPublishedDistortionAndPROJAppliesTheirFile) {
  const Network network = MakeNetwork();
  QuorvaneTest::Installation q;
  const Outcome site = RunWith(q, network, {});
  EXPECT_EQ(site.record.count("distortion"), 0u);
  for (const std::string method : {"tin", "smooth"}) {
    SCOPED_TRACE(method);
    const std::string file = "distortion-" + method + ".json";
    const Outcome o = RunWith(q, network,
                              {"--distortion", method, "--distortion-file", file, "--plot", "p.svg"});
    EXPECT_EQ(o.run.err, "");
    EXPECT_NE(o.run.out.find(std::string(Quorvane::kDistortionLabel.gbk) + "\t" + method + "\t25"),
              std::string::npos)
        << o.run.out;
    // The model alone leaves centimetres of the old network's distortion inside the area.
    EXPECT_GT(site.rms[0], 0.02);
    EXPECT_LT(o.rms[0], 0.25 * site.rms[0]) << site.rms[0];
    EXPECT_LT(o.rms[1], 0.5 * site.rms[1]) << site.rms[1];
    if (method == "tin") {
      EXPECT_LT(o.controls[0], kControlExact);
      EXPECT_LT(o.controls[1], kControlExact);
      EXPECT_EQ(HullSidesMissing(q.home.path() + "/" + file, kSide * kSide), 0);
    }
    EXPECT_NE(ReadFile(q.home.path() + "/p.svg").find("<g class=\"distortion " + method + "\""),
              std::string::npos);
    const nlohmann::json& d = o.record["distortion"];
    EXPECT_EQ(d["method"], method);
    EXPECT_EQ(d["file"], file);
    EXPECT_EQ(d["pairs"], kSide * kSide);
    EXPECT_GT(d["looRmsHorizontal"].get<double>(), 0.0);
    EXPECT_NE(o.record["proj"].get<std::string>().find("+step +proj=tinshift +file=" + file +
                                                       " +step +inv +proj=tmerc"),
              std::string::npos);
    EXPECT_LT(PipelineMiss(q.home.path(), o.record), kPipelineAgreement);
    const ChildResult valid = QuorvaneTest::RunChild(
        "/usr/bin/python3",
        {"-c",
         "import json, sys, jsonschema\n"
         "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))\n",
         q.home.path() + "/" + file, "/usr/share/proj/triangulation.schema.json"});
    EXPECT_EQ(valid.exitStatus, 0) << valid.err;
  }
  // A point beyond the area is corrected less, and said to be.
  const ChildResult outside = q.Run({"--refsrc", network.source, "--refdes", network.destination,
                                     "--model", "site", "--apply", "2.9,47.6,0", "--distortion",
                                     "tin", "--distortion-file", "d.json"});
  EXPECT_EQ(outside.exitStatus, 0);
  EXPECT_NE(outside.err.find("quorvane: warning: 1 of the 1 --apply points lie outside"),
            std::string::npos)
      << outside.err;
}

}  // namespace
