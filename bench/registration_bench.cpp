// The tool's own work in one run, inside the process: parse both option texts, project both lists,
// fit, and format the console report into a stream that throws the bytes away. What a whole run
// costs beyond this is starting the process (loading and relocating the shared libraries, static
// initialisers), writing the report to its pipe, the result file and exiting; scripts/bench times
// whole runs for that.
//
// The option texts are the very ones scripts/bench passes to the executable (MakeArgumentTexts).
#include <benchmark/benchmark.h>

#include <memory>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <utility>

#include "app/cli/command_line.h"
#include "app/run/registration_run.h"
#include "app/output/result_file.h"
#include "bench/networks.h"

namespace {

// Counts the bytes and keeps none, so the report's formatting and per-line flushes are timed but
// not a terminal or a pipe.
class CountingBuffer : public std::streambuf {
 public:
  std::size_t bytes = 0;

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) ++bytes;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    bytes += static_cast<std::size_t>(n);
    return n;
  }
};

// A whole run without its files, keeping only the fit.
int RegisterPoints(const Quorvane::OptionTexts& texts, std::ostream& report, std::ostream& errors,
                   Quorvane::ModelParameters& params) {
  Quorvane::Registration run;
  const int code = Quorvane::RegisterPoints(texts, report, errors, run);
  params = std::move(run.params);
  return code;
}

void BM_RegisterPoints(benchmark::State& state) {
  const auto pairs = static_cast<std::size_t>(state.range(0));
  const QuorvaneBench::ArgumentTexts args = QuorvaneBench::MakeArgumentTexts(pairs);
  Quorvane::OptionTexts texts;
  texts.sourceText = args.source;
  texts.destinationText = args.destination;

  CountingBuffer discard;
  std::ostream report(&discard);
  std::ostringstream errors;
  for (auto _ : state) {
    discard.bytes = 0;
    Quorvane::ModelParameters params;
    const int code = RegisterPoints(texts, report, errors, params);
    benchmark::DoNotOptimize(params);
    if (code != Quorvane::kExitSuccess) {
      state.SkipWithError("the run was refused or gave no result");
      break;
    }
  }
  state.counters["report_bytes"] = static_cast<double>(discard.bytes);
  state.counters["pairs_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations() * pairs), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RegisterPoints)->ArgName("pairs")->Arg(4)->Arg(4369)->Unit(benchmark::kMicrosecond);

// The result text of a run, without the file it goes into.
void BM_BuildResultJson(benchmark::State& state) {
  const std::unique_ptr<const Quorvane::TransformModel> model =
      Quorvane::MakeModel(Quorvane::Model{});
  Quorvane::ModelParameters params;
  params.values = {292.04400939374076, -359.0709055748972, -36.717342148758508, -4.5967e-7,
                   1.0001193431804179};
  for (auto _ : state) {
    std::string json = Quorvane::BuildResultJson(*model, params);
    benchmark::DoNotOptimize(json);
  }
}
BENCHMARK(BM_BuildResultJson);

}  // namespace

BENCHMARK_MAIN();
