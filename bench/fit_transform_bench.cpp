// Cost of one similarity fit, from building the Ceres problem to the solved parameters, on plane
// networks as the tool hands them over (see MakePlaneNetwork).
//
// Sizes: 4 pairs (a typical hand-typed run), 100 and 1000, and 4369 (the most one command-line
// argument of fixed-width points holds). `solver_iters` is the count the solver's brief report
// gives (successful plus unsuccessful steps); `pairs_per_second` is items per second.
#include <benchmark/benchmark.h>

#include <cmath>

#include <ceres/solver.h>

#include "bench/networks.h"
#include "estimation/fit_transform.h"

namespace {

void BM_FitTransform(benchmark::State& state) {
  const auto pairs = static_cast<std::size_t>(state.range(0));
  const QuorvaneBench::PlaneNetwork net = QuorvaneBench::MakePlaneNetwork(pairs);
  const QuorvaneBench::TrueTransform truth;

  int iterations = 0;
  Quorvane::TransformParams params;
  for (auto _ : state) {
    ceres::Solver::Summary summary;
    Quorvane::FitTransform(net.source, net.destination, params, summary);
    benchmark::DoNotOptimize(params);
    iterations = summary.num_successful_steps + summary.num_unsuccessful_steps;
    if (summary.termination_type != ceres::CONVERGENCE) {
      state.SkipWithError("the fit did not converge");
      break;
    }
  }

  // A fit that finds the wrong transform would time the wrong thing: with centimetre noise the
  // shift must come back within a decimetre and the scale within a few ppm, even at 4 pairs.
  if (std::fabs(params.tx - truth.tx) > 0.1 || std::fabs(params.ty - truth.ty) > 0.1 ||
      std::fabs(params.tz - truth.tz) > 0.1 || std::fabs(params.scale - truth.scale) > 1e-5 ||
      std::fabs(params.rz - truth.rz) > 1e-5) {
    state.SkipWithError("the fit missed the transform the network was built with");
  }

  state.counters["solver_iters"] = iterations;
  state.counters["pairs_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations() * pairs), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FitTransform)
    ->ArgName("pairs")
    ->Arg(4)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4369)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
