// Accuracy of --distortion on a network with a real distortion field, not a timing. Thirty control
// points over about 110 km of Hesse and Thuringia (9.3–10.8 °E, 50–51 °N) in ETRS89, and the same
// points in DHDN made by libproj's hgridshift with BETA2007.gsb (the published distortion of the
// old German network against ETRS89; or, by name, ntf_r93.gsb in France, CHENYX06.gsb in
// Switzerland, nzgd2kgrid0005.gsb in New Zealand, or "beta@WEST,SOUTH" for BETA2007 elsewhere),
// heights less the EGM96 geoid (a smooth height anomaly of decimetres to metres over the area),
// 5 mm of noise in every coordinate; 2,000 check points over the area and a band of about 20 km
// around it. `distortion_accuracy SEEDS AREA cells` spreads the control points evenly. For each
// seed: the site model alone, with tin and with smooth, the check points' RMS inside and outside
// the control points' hull, the printed leave-one-out RMS, and the largest difference between
// libproj running the record's pipeline (the written file through tinshift) and --apply.
#include <proj.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/output/distortion_file.h"
#include "app/output/record_file.h"
#include "app/run/registration.h"
#include "app/run/registration_run.h"

namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr double kEarthRadius = 6378137.0;  // metres a radian, for errors of millimetres
constexpr double kNoise = 0.005;            // metres, each coordinate of a control point
constexpr int kControlPoints = 30;
constexpr int kCheckPoints = 2000;

// Where the network lies: its grid, the south-west corner of the control points' area (1.5° of
// longitude by 1° of latitude) and the legacy datum's ellipsoid as --destination-ellipsoid reads
// it.
struct Area {
  const char* grid = "BETA2007.gsb";
  double west = 9.3, south = 50.0;
  const char* ellipsoid = "BESSEL1841";
};

struct Network {
  std::string source, destination, checks;
  std::vector<Quorvane::Point3> truth;  // the check points in DHDN: lon, lat (deg), height
};

// A point of ETRS89 in DHDN (BETA2007 backwards), its height less the geoid.
Quorvane::Point3 Legacy(PJ* shift, PJ* geoid, double lon, double lat, double h) {
  const PJ_COORD g = proj_trans(shift, PJ_INV, proj_coord(lon * kDegree, lat * kDegree, h, 0));
  const PJ_COORD n = proj_trans(geoid, PJ_FWD, proj_coord(lon * kDegree, lat * kDegree, h, 0));
  return {g.lp.lam / kDegree, g.lp.phi / kDegree, n.xyz.z};
}

void Append(std::string& list, const Quorvane::Point3& p) {
  char text[96];
  std::snprintf(text, sizeof text, "%s%.10f,%.10f,%.5f", list.empty() ? "" : ",", p.x, p.y, p.z);
  list += text;
}

// The control points fall anywhere in the area, or with `cells` one in each cell of a 6 × 5 grid
// over it, as a control network is usually laid out.
Network MakeNetwork(unsigned seed, const Area& area, PJ* shift, PJ* geoid, bool cells) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0), height(100.0, 600.0);
  std::normal_distribution<double> noise(0.0, kNoise);
  Network network;
  for (int i = 0; i < kControlPoints; ++i) {
    double lon = area.west + 1.5 * unit(random), lat = area.south + unit(random);
    if (cells) {
      lon = area.west + 1.5 * (i % 6 + (lon - area.west) / 1.5) / 6;
      lat = area.south + (i / 6 + (lat - area.south)) / 5;
    }
    const double h = height(random);
    Quorvane::Point3 q = Legacy(shift, geoid, lon, lat, h);
    q.x += noise(random) / (kEarthRadius * kDegree * std::cos(lat * kDegree));
    q.y += noise(random) / (kEarthRadius * kDegree);
    q.z += noise(random);
    Append(network.source, {lon, lat, h});
    Append(network.destination, q);
  }
  for (int i = 0; i < kCheckPoints; ++i) {
    const double lon = area.west - 0.3 + 2.1 * unit(random);
    const double lat = area.south - 0.2 + 1.4 * unit(random);
    const double h = height(random);
    Append(network.checks, {lon, lat, h});
    network.truth.push_back(Legacy(shift, geoid, lon, lat, h));
  }
  return network;
}

struct Figures {
  double inside[2] = {0, 0}, outside[2] = {0, 0};  // RMS horizontal, vertical, metres
  double looH = 0, looV = 0;
  double pipelineMiss = 0;  // metres
  std::size_t vertices = 0;
  double spacing = 0, gridError = 0;  // metres
};

double Rms(const std::vector<double>& squares) {
  double sum = 0;
  for (double s : squares) sum += s;
  return squares.empty() ? 0.0 : std::sqrt(sum / squares.size());
}

// The largest difference between libproj running the record's pipeline from the folder the
// distortion file lies in and the run's --apply points, metres.
double PipelineMiss(const Quorvane::Registration& run, const Network& network) {
  std::ofstream(run.distortionFile) << Quorvane::BuildDistortionJson(run);
  PJ* pipeline = proj_create(PJ_DEFAULT_CTX, Quorvane::ProjPipeline(run).c_str());
  if (pipeline == nullptr) return INFINITY;
  double worst = 0;
  std::istringstream checks(network.checks);
  for (const Quorvane::AppliedPoint& a : run.applied) {
    const PJ_COORD out = proj_trans(pipeline, PJ_FWD, proj_coord(a.source.x, a.source.y, a.source.z, 0));
    const double e = (out.xyz.x - a.destination.x) * kDegree * kEarthRadius *
                     std::cos(a.destination.y * kDegree);
    const double n = (out.xyz.y - a.destination.y) * kDegree * kEarthRadius;
    worst = std::max({worst, std::hypot(e, n), std::fabs(out.xyz.z - a.destination.z)});
  }
  proj_destroy(pipeline);
  return worst;
}

// One run over the network, "" for the site model alone; `inside` says which check points lie
// within the control points' hull (set by the first run that has a distortion).
bool Run(const Network& network, const Area& area, const char* method, std::vector<char>& inside,
         Figures& f) {
  Quorvane::OptionTexts texts;
  using Quorvane::Option;
  texts.sourceText = network.source;
  texts.destinationText = network.destination;
  texts.Set(Option::DestinationEllipsoid, area.ellipsoid);
  texts.Set(Option::Model, "site");
  texts.Set(Option::Apply, network.checks);
  if (*method != '\0') {
    texts.Set(Option::Distortion, method);
    texts.Set(Option::DistortionFile, std::string("distortion-") + method + ".json");
  }
  std::ostringstream report, errors;
  Quorvane::Registration run;
  if (Quorvane::RegisterPoints(texts, report, errors, run) != Quorvane::kExitSuccess) {
    std::fprintf(stderr, "distortion_accuracy: the run failed: %s", errors.str().c_str());
    return false;
  }
  if (run.distortion && inside.empty()) {
    for (const Quorvane::AppliedPoint& a : run.applied) {
      inside.push_back(run.distortion->Inside({a.plane.x, a.plane.y}));
    }
  }
  std::vector<double> squares[2][2];
  for (std::size_t k = 0; k < run.applied.size(); ++k) {
    const Quorvane::Point3& got = run.applied[k].destination;
    const Quorvane::Point3& want = network.truth[k];
    const double e = (got.x - want.x) * kDegree * kEarthRadius * std::cos(want.y * kDegree);
    const double n = (got.y - want.y) * kDegree * kEarthRadius;
    const int where = inside[k] ? 0 : 1;
    squares[where][0].push_back(e * e + n * n);
    squares[where][1].push_back((got.z - want.z) * (got.z - want.z));
  }
  for (int c = 0; c < 2; ++c) f.inside[c] = Rms(squares[0][c]), f.outside[c] = Rms(squares[1][c]);
  if (run.distortion) {
    f.looH = run.distortion->inside.rmsHorizontal;
    f.looV = run.distortion->inside.rmsVertical;
    f.pipelineMiss = PipelineMiss(run, network);
    f.vertices = run.distortion->vertices.size();
    f.spacing = run.distortion->spacing;
    f.gridError = run.distortion->gridError;
  }
  return true;
}

// The area a name on the command line picks; BETA2007's without one, or BETA2007's with its
// south-west corner moved by "beta@WEST,SOUTH" (degrees).
Area AreaNamed(const std::string& name) {
  if (name.rfind("beta@", 0) == 0) {
    Area moved;
    if (std::sscanf(name.c_str() + 5, "%lf,%lf", &moved.west, &moved.south) == 2) return moved;
  }
  if (name == "ntf") {
    // The Centre-Val de Loire in NTF (Clarke 1880 IGN), ntf_r93.gsb.
    return {"ntf_r93.gsb", 1.3, 46.8, "6378249.2/293.4660212936269"};
  }
  if (name == "ch") {
    // The Swiss plateau from Bern to Zurich in LV03 (Bessel 1841), CHENYX06.gsb.
    return {"CHENYX06.gsb", 7.2, 46.7, "BESSEL1841"};
  }
  if (name == "nz") {
    // Manawatū–Whanganui in NZGD49 (International 1924), nzgd2kgrid0005.gsb.
    return {"nzgd2kgrid0005.gsb", 174.9, -40.6, "INTL1924"};
  }
  return Area{};
}

constexpr const char* kMethods[] = {"", "tin", "smooth"};

// The figures of every seed so far: sums over the seeds (inside h, v, outside h, v per method;
// leave-one-out h, v) and whether each acceptance held on every network.
struct Tally {
  double sum[3][4] = {}, looSum[3][2] = {}, worstPipeline = 0;
  bool halved[2] = {true, true}, outsideNoWorse = true, looWithin = true;
};

// Prints one seed's lines and adds its figures to the tally.
void Count(int seed, const Figures (&f)[3], Tally& t) {
  for (int m = 0; m < 3; ++m) {
    std::printf("seed %d %-6s %6.1f / %6.1f | %6.1f / %6.1f", seed,
                *kMethods[m] ? kMethods[m] : "site", f[m].inside[0] * 1e3, f[m].outside[0] * 1e3,
                f[m].inside[1] * 1e3, f[m].outside[1] * 1e3);
    if (m > 0) {
      std::printf("   loo %6.1f %6.1f   pipeline %.4f   vertices %zu", f[m].looH * 1e3,
                  f[m].looV * 1e3, f[m].pipelineMiss * 1e3, f[m].vertices);
      if (m == 2) std::printf(" spacing %.0f m error %.2f mm", f[m].spacing, f[m].gridError * 1e3);
      t.worstPipeline = std::max(t.worstPipeline, f[m].pipelineMiss);
      t.outsideNoWorse = t.outsideNoWorse && f[m].outside[0] <= f[0].outside[0] &&
                         f[m].outside[1] <= f[0].outside[1];
      for (const double ratio : {f[m].looH / f[m].inside[0], f[m].looV / f[m].inside[1]}) {
        t.looWithin = t.looWithin && ratio >= 1 / 2.5 && ratio <= 2.5;
      }
      t.looSum[m][0] += f[m].looH, t.looSum[m][1] += f[m].looV;
    }
    std::printf("\n");
    for (int k = 0; k < 2; ++k) t.sum[m][k] += f[m].inside[k], t.sum[m][2 + k] += f[m].outside[k];
  }
  for (int c = 0; c < 2; ++c) {
    t.halved[c] = t.halved[c] && f[1].inside[c] <= 0.5 * f[0].inside[c];
  }
}

// The means over the seeds and the verdict on each acceptance figure.
void Summarise(int seeds, const Tally& t) {
  std::printf("mean over %d seeds, mm:\n", seeds);
  bool looTogether = true;  // over the networks together, each method both ways
  for (int m = 0; m < 3; ++m) {
    std::printf("  %-6s inside %6.1f h %6.1f v   outside %6.1f h %6.1f v",
                *kMethods[m] ? kMethods[m] : "site", t.sum[m][0] / seeds * 1e3,
                t.sum[m][1] / seeds * 1e3, t.sum[m][2] / seeds * 1e3, t.sum[m][3] / seeds * 1e3);
    if (m > 0) {
      std::printf("   loo %6.1f h %6.1f v (loo / check inside: %.2f h, %.2f v)",
                  t.looSum[m][0] / seeds * 1e3, t.looSum[m][1] / seeds * 1e3,
                  t.looSum[m][0] / t.sum[m][0], t.looSum[m][1] / t.sum[m][1]);
      for (int c = 0; c < 2; ++c) {
        const double ratio = t.looSum[m][c] / t.sum[m][c];
        looTogether = looTogether && ratio >= 0.6 && ratio <= 1.4;
      }
    }
    std::printf("\n");
  }
  const auto verdict = [](bool ok) { return ok ? "met" : "NOT met"; };
  std::printf("tin inside at most half the site model's on every network: horizontally %s, "
              "vertically %s\n",
              verdict(t.halved[0]), verdict(t.halved[1]));
  std::printf("smooth at least as good as tin inside on average: %s\n",
              verdict(t.sum[2][0] <= t.sum[1][0]));
  std::printf("outside never worse than the site model alone: %s\n", verdict(t.outsideNoWorse));
  std::printf("leave-one-out within 40 %% of the check points' RMS over the networks: %s\n",
              verdict(looTogether));
  std::printf("leave-one-out within a factor 2.5 of the check points' RMS on each, both ways: %s\n",
              verdict(t.looWithin));
  std::printf("libproj through the record = --apply, largest difference %.4f mm (target 0.1): %s\n",
              t.worstPipeline * 1e3, verdict(t.worstPipeline <= 1e-4));
}

}  // namespace

int main(int argc, char** argv) {
  const int seeds = argc > 1 ? std::atoi(argv[1]) : 6;
  const Area area = AreaNamed(argc > 2 ? argv[2] : "beta");
  const bool cells = argc > 3 && std::string(argv[3]) == "cells";
  const std::string grid = std::string("+proj=hgridshift +grids=") + area.grid;
  PJ* shift = proj_create(PJ_DEFAULT_CTX, grid.c_str());
  PJ* geoid = proj_create(PJ_DEFAULT_CTX, "+proj=vgridshift +grids=egm96_15.gtx +multiplier=-1");
  if (shift == nullptr || geoid == nullptr) {
    std::fprintf(stderr, "distortion_accuracy: %s or egm96_15.gtx not found (proj-data)\n",
                 area.grid);
    return 1;
  }
  char folder[] = "/tmp/quorvane-distortion-XXXXXX";
  if (mkdtemp(folder) == nullptr || chdir(folder) != 0) return 1;
  std::printf("check points' RMS, mm: horizontal inside / outside the hull | vertical inside / "
              "outside; leave-one-out RMS of the points inside, mm; pipeline = libproj on the "
              "record's pipeline less --apply, mm\n");
  Tally tally;
  for (int seed = 1; seed <= seeds; ++seed) {
    const Network network = MakeNetwork(static_cast<unsigned>(seed), area, shift, geoid, cells);
    std::vector<char> inside;
    Figures f[3];
    if (!Run(network, area, "tin", inside, f[1]) || !Run(network, area, "", inside, f[0]) ||
        !Run(network, area, "smooth", inside, f[2])) {
      return 1;
    }
    Count(seed, f, tally);
  }
  Summarise(seeds, tally);
  proj_destroy(shift);
  proj_destroy(geoid);
  return 0;
}
