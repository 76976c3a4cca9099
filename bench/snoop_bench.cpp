// Cost of the statistics of one fitted component and of snooping it by downdates alone, on large
// networks with a blunder of 0.2 to 2 m in every hundredth pair, for each shape the models have:
// the similarity (three rows, five parameters), Helmert (three rows, seven), the site model's
// horizontal part (two rows, four) and its height plane (one row, three).
//
// Snooping starts from the fit and statistics of every pair (not timed) and removes pairs by the
// leave-one-out downdates only (no refit budget), until none fails, then refits once.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "bench/networks.h"
#include "estimation/blunder_removal.h"
#include "estimation/model.h"

namespace {

using namespace Quorvane;

// The models of the benchmarks by --model name, with default settings.
std::unique_ptr<const TransformModel> Made(const char* name) {
  Model model;
  model.name = name;
  return MakeModel(model);
}

// Geocentric X, Y, Z on a sphere of the Earth's size at longitude, latitude (degrees) and height.
Point3 Geocentric(double longitude, double latitude, double height) {
  constexpr double kRadius = 6371000.0;  // metres
  constexpr double kDegree = 0.017453292519943295;
  const double r = kRadius + height;
  return {r * std::cos(latitude * kDegree) * std::cos(longitude * kDegree),
          r * std::cos(latitude * kDegree) * std::sin(longitude * kDegree),
          r * std::sin(latitude * kDegree)};
}

// A network for the model's frame: the plane network of the fit's benchmark, or the same number
// of points over 40 km at 52° N through a Helmert transformation of a few hundred metres, 1.5″ and
// 20 ppm, 1 cm of noise; then the blunders.
QuorvaneBench::PlaneNetwork Network(Frame frame, std::size_t pairs) {
  QuorvaneBench::PlaneNetwork net;
  if (frame == Frame::Plane) {
    net = QuorvaneBench::MakePlaneNetwork(pairs);
  } else {
    QuorvaneBench::Draw draw(52);
    const double rx = 7e-6, ry = -3e-6, rz = 5e-6, m = 1.00002;
    for (std::size_t i = 0; i < pairs; ++i) {
      const Point3 p = Geocentric(draw.Uniform(-0.3, 0.3), draw.Uniform(51.8, 52.2),
                                  draw.Uniform(0.0, 300.0));
      net.source.push_back(p);
      net.destination.emplace_back(
          446.4 + m * (p.x - rz * p.y + ry * p.z) + draw.Normal(0.01),
          -125.1 + m * (rz * p.x + p.y - rx * p.z) + draw.Normal(0.01),
          542.0 + m * (-ry * p.x + rx * p.y + p.z) + draw.Normal(0.01));
    }
  }
  for (std::size_t i = 37; i < pairs; i += 100) {
    const double blunder = 0.2 + 1.8 * static_cast<double>(i % 1000) / 1000.0;
    net.destination[i].y += blunder;
    net.destination[i].z += blunder;
  }
  return net;
}

// One benchmark's model, component and network, fitted to every pair.
struct Fitted {
  std::unique_ptr<const TransformModel> model;
  std::size_t component;
  QuorvaneBench::PlaneNetwork net;
  std::vector<std::vector<bool>> used;
  ModelParameters params;
  FitOutcome outcome;

  Fitted(const char* name, std::size_t c, std::size_t pairs) : model(Made(name)), component(c) {
    net = Network(model->FrameOf(), pairs);
    used.assign(model->Components().size(), std::vector<bool>(pairs, true));
    outcome = model->Fit(Pairs(), used, params, 0);
  }
  FramePairs Pairs() const { return FramePairs{net.source, net.destination}; }
};

const char* const kModels[] = {"similarity", "helmert", "site", "site"};
const std::size_t kComponents[] = {0, 0, 0, 1};

void SetLabel(benchmark::State& state) {
  const auto k = static_cast<std::size_t>(state.range(0));
  state.SetLabel(std::string(kModels[k]) + (kComponents[k] == 0 ? "" : " vertical") +
                 (std::string(kModels[k]) == "site" && kComponents[k] == 0 ? " horizontal" : ""));
}

void BM_ComponentStatistics(benchmark::State& state) {
  const auto k = static_cast<std::size_t>(state.range(0));
  const auto pairs = static_cast<std::size_t>(state.range(1));
  const Fitted fitted(kModels[k], kComponents[k], pairs);
  for (auto _ : state) {
    FitStatistics stats = ComputeModelStatistics(*fitted.model, fitted.component, fitted.Pairs(),
                                                 fitted.used[fitted.component], fitted.params);
    benchmark::DoNotOptimize(stats);
  }
  SetLabel(state);
}

void BM_SnoopByDowndates(benchmark::State& state) {
  const auto k = static_cast<std::size_t>(state.range(0));
  const auto pairs = static_cast<std::size_t>(state.range(1));
  const Fitted start(kModels[k], kComponents[k], pairs);
  const std::size_t c = start.component;
  const FitStatistics startStats =
      ComputeModelStatistics(*start.model, c, start.Pairs(), start.used[c], start.params);
  std::size_t removed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<bool> used = start.used[c];
    ModelParameters params = start.params;
    FitOutcome outcome = start.outcome;
    FitStatistics stats = startStats;
    std::vector<BlunderRemoval> removals;
    const FramePairs framePairs = start.Pairs();
    SnoopedComponent snooped;
    snooped.layout = start.model->Components()[c].layout;
    snooped.parameters = static_cast<int>(start.model->Components()[c].parameters.size());
    snooped.linearise = [&](std::size_t i, PairLinearisation& out) {
      start.model->Linearise(c, params, framePairs, i, out);
    };
    snooped.refit = [&](const std::vector<bool>& mask) {
      return start.model->FitComponent(c, framePairs, mask, params, outcome);
    };
    snooped.statistics = [&](const std::vector<bool>& mask) {
      return ComputeModelStatistics(*start.model, c, framePairs, mask, params);
    };
    snooped.refitBudget = 0;
    state.ResumeTiming();
    SnoopComponent(snooped, c, used, stats, removals);
    removed = removals.size();
    benchmark::DoNotOptimize(stats);
  }
  state.counters["removals"] = static_cast<double>(removed);
  SetLabel(state);
}

// Models 0 to 3 as kModels lists them, on 4369 and 100,000 pairs.
void Shapes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"model", "pairs"});
  for (const int pairs : {4369, 100000}) {
    for (int k = 0; k < 4; ++k) b->Args({k, pairs});
  }
}
BENCHMARK(BM_ComponentStatistics)->Apply(Shapes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnoopByDowndates)->Apply(Shapes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
