// Accuracy of --rates, not a timing: 40 stations over a region, each at 1 to 3 epochs in 2011 to
// 2025, carried by libproj with a published time-dependent EPSG transformation (ITRF2014 to
// NAD83(2011), EPSG:8970, over the United States; ITRF2014 to ETRF2014, EPSG:8366, over Europe)
// as geocentric point files with an epoch column, then fitted by a whole run with --rates at the
// published epoch. Noise-free, the largest error of the shifts, rotations and scale and of their
// rates (target: 0.01 mm, 1e-4 mas, 1e-4 ppb, each a year for the rates); with 5/5/10 mm of
// noise in east, north and up, each parameter's distance from the published value in its σ
// (target: within 2.5) and σ̂0 against the noise's 7.07 mm a coordinate (target: within 20 %),
// for one network and over 50 (the root mean square of those distances, 1 where the σ are
// right, and how many networks keep every parameter within 2.5 σ), with no σ given (the fit's
// own horizontal and vertical variance components) and with the noise's σ in the destination
// file; and libproj on the record's pipeline with each pair's
// epoch against the run's own Apply.
#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "app/output/record_file.h"
#include "app/run/registration.h"
#include "app/run/registration_run.h"
#include "tests/support/published_terms.h"

namespace {

constexpr double kArcSecond = 3.141592653589793 / 648000;

struct FramePair {
  const char* code;                    // the EPSG transformation
  const char* source;                  // its geocentric CRSs
  const char* destination;
  double west, east, south, north;     // the stations' region, degrees
};

// Writes the two point files of the stations (`seed` picks them and their noise), `noise` metres
// in east, north and up; `weighted`, with the noise's σ in the destination file.
bool WriteLists(const FramePair& pair, const std::string& step, const double noise[3],
                const std::string& folder, unsigned seed, bool weighted) {
  PJ* cart = proj_create(PJ_DEFAULT_CTX, "+proj=cart +ellps=GRS80");
  PJ* helmert = proj_create(PJ_DEFAULT_CTX, step.c_str());
  if (cart == nullptr || helmert == nullptr) return false;
  std::ofstream source(folder + "/source.txt"), destination(folder + "/destination.txt");
  source << "name,X,Y,Z,epoch\n";
  destination << (weighted ? "name,X,Y,Z,sigmaH,sigmaV\n" : "name,X,Y,Z\n");
  source.precision(17);
  destination.precision(17);
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> lon(pair.west, pair.east), lat(pair.south, pair.north),
      height(0, 2000), year(2011, 2025);
  std::uniform_int_distribution<int> visits(1, 3);
  std::normal_distribution<double> error(0, 1);
  for (int k = 0; k < 40; ++k) {
    const double lambda = proj_torad(lon(random)), phi = proj_torad(lat(random));
    const PJ_COORD x = proj_trans(cart, PJ_FWD, proj_coord(lambda, phi, height(random), 0));
    const double sl = std::sin(lambda), cl = std::cos(lambda), sp = std::sin(phi),
                 cp = std::cos(phi);
    for (int v = visits(random); v > 0; --v) {
      const double t = year(random);
      const PJ_COORD y = proj_trans(helmert, PJ_FWD, proj_coord(x.xyz.x, x.xyz.y, x.xyz.z, t));
      const double e = noise[0] * error(random), n = noise[1] * error(random),
                   u = noise[2] * error(random);
      const std::string name = "S" + std::to_string(k) + "-" + std::to_string(v);
      source << name << ',' << x.xyz.x << ',' << x.xyz.y << ',' << x.xyz.z << ',' << t << '\n';
      destination << name << ',' << y.xyz.x - sl * e - sp * cl * n + cp * cl * u << ','
                  << y.xyz.y + cl * e - sp * sl * n + cp * sl * u << ','
                  << y.xyz.z + cp * n + sp * u;
      if (weighted) destination << ',' << noise[0] << ',' << noise[2];
      destination << '\n';
    }
  }
  proj_destroy(helmert);
  proj_destroy(cart);
  return static_cast<bool>(source.flush()) && static_cast<bool>(destination.flush());
}

// What one fit gives against the published terms.
struct Figures {
  bool ran = false;
  double largest[6] = {0, 0, 0, 0, 0, 0};  // mm, mas, ppb; their rates a year
  double z[14] = {};                       // each parameter's error in its σ
  double sigma0 = NAN;                     // m without σ given, no unit with σ
  double pipeline = NAN;                   // libproj against Apply, metres at most
  std::size_t pairs = 0;
};

// One fit of the lists in `folder` at the published epoch.
Figures Fit(const FramePair& pair, std::map<std::string, std::string>& published,
            const std::string& folder) {
  Quorvane::OptionTexts texts;
  using Quorvane::Option;
  texts.Set(Option::RefSrcFile, folder + "/source.txt");
  texts.Set(Option::RefDesFile, folder + "/destination.txt");
  texts.Set(Option::SourceCrs, pair.source);
  texts.Set(Option::DestinationCrs, pair.destination);
  texts.Set(Option::Model, "helmert");
  if (published["convention"] == "coordinate_frame") {
    texts.Set(Option::Convention, "coordinate-frame");
  }
  texts.Set(Option::Rates, "");
  texts.Set(Option::ReferenceEpoch, published["t_epoch"]);
  texts.Set(Option::Quality, "");
  std::ostringstream report, errors;
  Quorvane::Registration run;
  Figures f;
  if (Quorvane::RegisterPoints(texts, report, errors, run) != Quorvane::kExitSuccess) {
    std::fprintf(stderr, "rates_accuracy: the run failed: %s", errors.str().c_str());
    return f;
  }
  const char* const names[14] = {"x",  "y",  "z",  "rx",  "ry",  "rz",  "s",
                                 "dx", "dy", "dz", "drx", "dry", "drz", "ds"};
  const Quorvane::FitStatistics& stats = run.statistics[0];
  for (int k = 0; k < 14; ++k) {
    // In the published unit (m, arc seconds, ppm, each a year for the rates), shown in mm, mas
    // and ppb.
    const int kind = k % 7;
    const double unit = kind < 3 ? 1.0 : kind < 6 ? kArcSecond : 1e-6;
    const double value = (run.params.values[k] - (k == 6 ? 1.0 : 0.0)) / unit;
    const double difference = value - std::stod(published[names[k]]);
    const int group = (kind < 3 ? 0 : kind < 6 ? 1 : 2) + (k >= 7 ? 3 : 0);
    f.largest[group] = std::max(f.largest[group], std::fabs(difference) * 1e3);
    f.z[k] = difference / (stats.sigma[k] / unit);
  }
  f.sigma0 = stats.sigma0;
  f.pairs = run.source.size();
  PJ* pipeline = proj_create(PJ_DEFAULT_CTX, Quorvane::ProjPipeline(run).c_str());
  for (std::size_t i = 0; pipeline != nullptr && i < run.source.size(); ++i) {
    const Quorvane::Point3& p = run.planeSource[i];
    const PJ_COORD theirs = proj_trans(pipeline, PJ_FWD, proj_coord(p.x, p.y, p.z, run.epochs[i]));
    const Quorvane::Point3 mine = run.model->Apply(run.params, p, run.epochs[i]);
    const double apart =
        std::hypot(theirs.xyz.x - mine.x, theirs.xyz.y - mine.y, theirs.xyz.z - mine.z);
    f.pipeline = i == 0 ? apart : std::max(f.pipeline, apart);
  }
  proj_destroy(pipeline);
  f.ran = true;
  return f;
}

double Largest(const double (&z)[14]) {
  double largest = 0.0;
  for (const double value : z) largest = std::max(largest, std::fabs(value));
  return largest;
}

// Noisy networks fitted with no σ given or with the noise's σ: the first network's figures,
// then over `networks` of them each parameter's root mean square distance in σ.
bool ReportNoisy(const FramePair& pair, std::map<std::string, std::string>& published,
                 const std::string& step, const std::string& folder, bool weighted) {
  constexpr int kNetworks = 50;
  const double noise[3] = {0.005, 0.005, 0.010};
  const double level =
      std::sqrt((noise[0] * noise[0] + noise[1] * noise[1] + noise[2] * noise[2]) / 3);
  double squares[14] = {}, sigma0 = 0.0;
  int within = 0;
  for (int n = 0; n < kNetworks; ++n) {
    if (!WriteLists(pair, step, noise, folder, 37 + n, weighted)) return false;
    const Figures f = Fit(pair, published, folder);
    if (!f.ran) return false;
    for (int k = 0; k < 14; ++k) squares[k] += f.z[k] * f.z[k] / kNetworks;
    within += Largest(f.z) <= 2.5 ? 1 : 0;
    sigma0 += f.sigma0 / kNetworks;
    if (n > 0) continue;
    std::printf("  5/5/10 mm noise, %s: every parameter within %.2f sigma of EPSG:%s's (target "
                "2.5); ",
                weighted ? "weighted by the noise's sigma" : "no sigma given", Largest(f.z),
                pair.code);
    if (weighted) {
      std::printf("sigma0 %.3f (1 expected)\n", f.sigma0);
    } else {
      std::printf("sigma0 %.2f mm, %+.1f %% of the noise's %.2f mm (target +-20 %%)\n",
                  f.sigma0 * 1e3, (f.sigma0 / level - 1) * 100, level * 1e3);
    }
  }
  std::printf("    over %d networks: every parameter within 2.5 sigma in %d; mean sigma0 %.4f%s; "
              "RMS of the errors in sigma:",
              kNetworks, within, weighted ? sigma0 : sigma0 * 1e3, weighted ? "" : " mm");
  for (const double square : squares) std::printf(" %.2f", std::sqrt(square));
  std::printf("\n");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  const FramePair pairs[] = {{"8970", "EPSG:7789", "EPSG:6317", -124, -70, 26, 48},
                             {"8366", "EPSG:7789", "EPSG:8401", -9, 28, 36, 70}};
  for (const FramePair& pair : pairs) {
    std::map<std::string, std::string> published = QuorvaneTest::PublishedTerms(pair.code);
    if (published.empty()) {
      std::fprintf(stderr, "rates_accuracy: PROJ's database has no EPSG:%s\n", pair.code);
      return 1;
    }
    std::string step = "+proj=helmert";
    for (const auto& [name, value] : published) {
      if (name != "proj") step += " +" + name + "=" + value;
    }
    std::printf("EPSG:%s, 40 stations, %s to %s with rates at %s:\n", pair.code, pair.source,
                pair.destination, published["t_epoch"].c_str());
    const double none[3] = {0, 0, 0};
    if (!WriteLists(pair, step, none, folder, 37, false)) {
      std::fprintf(stderr, "rates_accuracy: cannot write the lists in %s\n", folder.c_str());
      return 1;
    }
    const Figures f = Fit(pair, published, folder);
    if (!f.ran) return 1;
    std::printf("  noise-free: shifts %.2e mm, rotations %.2e mas, scale %.2e ppb; rates %.2e "
                "mm/yr, %.2e mas/yr, %.2e ppb/yr\n",
                f.largest[0], f.largest[1], f.largest[2], f.largest[3], f.largest[4],
                f.largest[5]);
    std::printf("  libproj on the record's pipeline against Apply, %zu pairs at their epochs: "
                "%.2e mm at most (target 0.1 mm)\n",
                f.pairs, f.pipeline * 1e3);
    if (!ReportNoisy(pair, published, step, folder, false) ||
        !ReportNoisy(pair, published, step, folder, true)) {
      return 1;
    }
  }
  return 0;
}
