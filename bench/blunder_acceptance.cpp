// How often blunders are found exactly: site networks of 10 points (2 km across, 1 cm of noise in
// east, north and height) with k pairs displaced by 8 to 50 cm in a random direction, 200 trials
// for each k from 0 to 4, each run in process as the command line gives it. A trial counts when
// the pairs removed are exactly the displaced ones; on clean networks (k = 0) the figure is the
// share of runs that removed a good pair. Also the mean of σ̂0/σ0 over the clean networks fitted
// with σ0 = 1 cm given. An accuracy figure, not a timing.
//
//   blunder_acceptance [TRIALS]   trials per k (default 200)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/run/registration_run.h"
#include "bench/networks.h"

namespace {

using namespace Quorvane;

constexpr int kPoints = 10;
constexpr double kNoise = 0.01;                      // metres, each coordinate
constexpr double kSmallest = 0.08, kLargest = 0.50;  // metres, a blunder's length
constexpr double kRadius = 6371000.0;                // metres, for degrees from metres here

struct Network {
  std::string source, destination;  // --refsrc and --refdes texts
  std::vector<bool> displaced;
};

// Points over 2 km at 39.9° N; the destination is the source shifted by 1.2 m east, −0.8 m north
// and 30 m up (a shift this small carries no distortion of its own into the plane), with noise
// and the blunders.
Network MakeNetwork(QuorvaneBench::Draw& draw, int blunders) {
  Network net;
  net.displaced.assign(kPoints, false);
  for (int k = 0; k < blunders;) {
    const int i = static_cast<int>(draw.Uniform(0.0, kPoints));
    if (!net.displaced[i]) net.displaced[i] = true, ++k;
  }
  const double degree = 0.017453292519943295, latitude = 39.9, longitude = 116.3;
  const double east = 1.0 / (kRadius * std::cos(latitude * degree) * degree);
  const double north = 1.0 / (kRadius * degree);
  char text[128];
  for (int i = 0; i < kPoints; ++i) {
    const double x = draw.Uniform(-1000.0, 1000.0), y = draw.Uniform(-1000.0, 1000.0);
    const double h = draw.Uniform(40.0, 80.0);
    double dx = 1.2 + draw.Normal(kNoise), dy = -0.8 + draw.Normal(kNoise);
    double dh = 30.0 + draw.Normal(kNoise);
    if (net.displaced[i]) {
      // A direction uniform on the sphere, a length uniform in [8, 50] cm.
      const double z = draw.Uniform(-1.0, 1.0), turn = draw.Uniform(0.0, 6.283185307179586);
      const double length = draw.Uniform(kSmallest, kLargest), across = std::sqrt(1.0 - z * z);
      dx += length * across * std::cos(turn);
      dy += length * across * std::sin(turn);
      dh += length * z;
    }
    std::snprintf(text, sizeof text, "%s%.11f,%.11f,%.4f", i ? "," : "", longitude + x * east,
                  latitude + y * north, h);
    net.source += text;
    std::snprintf(text, sizeof text, "%s%.11f,%.11f,%.4f", i ? "," : "",
                  longitude + (x + dx) * east, latitude + (y + dy) * north, h + dh);
    net.destination += text;
  }
  return net;
}

struct Result {
  bool exact = false;        // removed exactly the displaced pairs
  bool goodRemoved = false;  // removed a pair that was not displaced
  double sigma0 = 0.0;
};

Result RunOnce(const Network& net, const std::vector<std::string>& options) {
  std::vector<std::string> arguments = {"quorvane", "--refsrc", net.source, "--refdes",
                                        net.destination};
  arguments.insert(arguments.end(), options.begin(), options.end());
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  OptionTexts texts;
  Result result;
  if (!ParseCommandLine(static_cast<int>(argv.size()), argv.data(), texts)) return result;
  std::ostringstream report, errors;
  Registration run;
  if (RegisterPoints(texts, report, errors, run) != kExitSuccess || !run.hasStatistics) {
    return result;
  }
  result.exact = true;
  for (std::size_t i = 0; i < run.status[0].size(); ++i) {
    bool removed = false;
    for (const std::vector<PairStatus>& component : run.status) {
      removed = removed || component[i] == PairStatus::Removed;
    }
    result.exact = result.exact && removed == net.displaced[i];
    result.goodRemoved = result.goodRemoved || (removed && !net.displaced[i]);
  }
  result.sigma0 = run.statistics[0].sigma0;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int trials = argc > 1 ? std::atoi(argv[1]) : 200;
  const struct {
    const char* name;
    std::vector<std::string> options;
  } ways[] = {
      {"--snoop", {"--snoop"}},
      {"--sigma-h 0.01 --sigma-v 0.01 --snoop",
       {"--sigma-h", "0.01", "--sigma-v", "0.01", "--snoop"}},
      {"--robust", {"--robust"}},
  };
  std::printf("%-38s %8s %8s %8s %8s %8s   (k = 0: good pair removed; else exactly found)\n",
              "options", "k=0", "k=1", "k=2", "k=3", "k=4");
  for (const auto& way : ways) {
    std::printf("%-38s", way.name);
    for (int k = 0; k <= 4; ++k) {
      QuorvaneBench::Draw draw(1000 + static_cast<std::uint64_t>(k));
      int count = 0;
      for (int t = 0; t < trials; ++t) {
        const Result result = RunOnce(MakeNetwork(draw, k), way.options);
        count += k == 0 ? result.goodRemoved : result.exact;
      }
      std::printf(" %7.1f%%", 100.0 * count / trials);
    }
    std::printf("\n");
  }
  QuorvaneBench::Draw draw(999);
  double sum = 0.0;
  for (int t = 0; t < trials; ++t) {
    sum += RunOnce(MakeNetwork(draw, 0), {"--sigma-h", "0.01", "--sigma-v", "0.01", "--quality"})
               .sigma0;
  }
  std::printf("mean sigma0 / sigma0 given over %d clean networks: %.3f (target 0.95 to 1.05)\n",
              trials, sum / trials);
  return 0;
}
