// Fitting: the model fitted to the pairs each component keeps, its statistics and snooping.
#include "app/run/run_steps.h"

#include <chrono>
#include <cstdio>

#include "app/platform/platform.h"

namespace Quorvane {

namespace {

// The solver's iterations when the destination points all lie on one spot and the source points
// do not: such pairs have no best fit (the scale goes to 0 with an unbounded shift), and the
// solver's 10000 iterations would take minutes on a large list for no better answer (each one
// about 0.15 s on 100,000 pairs).
constexpr int kDegenerateIterations = 5;

// Progress of a long snoop on a terminal: after a second, a line that counts the removals,
// erased at the end.
class Progress {
 public:
  explicit Progress(bool shown) : shown_(shown), start_(Clock::now()), last_(start_) {}
  ~Progress() {
    if (written_) std::fputs("\r                                                  \r", stderr);
  }
  void Removed(std::size_t count) {
    if (!shown_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(250)) {
      return;
    }
    last_ = now;
    written_ = true;
    std::fprintf(stderr, "\rquorvane: snooping, %zu pairs removed", count);
    std::fflush(stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool shown_;
  Clock::time_point start_;
  Clock::time_point last_;
  bool written_ = false;
};


// --robust: each component's blunders found by the robust estimation from the first fit, then
// the model fitted again to the pairs it keeps (about their centroid, as after snooping).
bool Robust(Registration& run, const FramePairs& pairs, std::vector<std::vector<bool>>& fitted,
            bool& removed) {
  const TransformModel& model = *run.model;
  run.robust.resize(run.components.size());
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    run.robust[c] = RobustComponent(model, c, pairs, fitted[c], run.params);
    for (const RobustTest& test : run.robust[c].removed) {
      run.status[c][test.pair] = PairStatus::Removed;
      removed = true;
    }
  }
  if (removed) run.outcome = model.Fit(pairs, fitted, run.params, 0);
  return run.outcome.usable;
}

}  // namespace

std::vector<std::vector<bool>> FittedMasks(const Registration& run) {
  std::vector<std::vector<bool>> fitted(run.status.size());
  for (std::size_t c = 0; c < run.status.size(); ++c) {
    fitted[c].resize(run.status[c].size());
    for (std::size_t i = 0; i < run.status[c].size(); ++i) {
      fitted[c][i] = run.status[c][i] == PairStatus::Fitted;
    }
  }
  return fitted;
}

// Whether the fitted destination points all lie on one spot while the source points do not:
// then no fit is best, and the solver is given few iterations.
bool DestinationCollapsed(const Registration& run, const std::vector<bool>& fitted) {
  return DeterminesTransform(run.planeSource, fitted) &&
         !DeterminesTransform(run.planeDestination, fitted);
}


namespace {

// A model that changes with time, fitted to pairs nobody gave a σ, takes the weights of the
// variance components its pairs give, refitting: GNSS heights over the years are commonly two to
// three times less precise than the positions, and unit weights would misstate the parameters'
// precision (docs/time-dependent.md). `unitFit`: run.params holds the fit with unit weights to
// the pairs `fitted` marks; otherwise it is made first.
void WeightByComponents(Registration& run, const std::vector<std::vector<bool>>& fitted,
                        bool unitFit) {
  if (!run.model->ChangesWithTime() || run.Weighted()) return;
  run.varianceComponents = VarianceComponents{};
  const FramePairs pairs = run.Pairs();
  if (!unitFit) run.outcome = run.model->Fit(pairs, fitted, run.params, 0);
  if (!run.outcome.usable) return;
  run.varianceComponents =
      EstimateVarianceComponents(*run.model, pairs, fitted, run.params, run.outcome);
}

// The statistics of every component at the reported fit. They count out what the fit held
// rather than estimated (the slope across points on one line), so that they say what the
// warning says the fit did.
void ComputeStatistics(Registration& run, const std::vector<std::vector<bool>>& fitted) {
  const FramePairs pairs = run.Pairs();
  run.statistics.resize(run.components.size());
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    run.statistics[c] = ComputeModelStatistics(*run.model, c, pairs, fitted[c], run.params);
    if (c < run.outcome.fixed.size()) CountOutFixed(run.statistics[c], run.outcome.fixed[c]);
  }
}

// Snooping on what the fit kept, component by component, then the fit and statistics of what
// it leaves.
void Snoop(Registration& run, std::vector<std::vector<bool>>& fitted) {
  const TransformModel& model = *run.model;
  const FramePairs pairs = run.Pairs();
  Progress progress(StandardErrorIsTerminal());
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    const std::size_t before = run.removals.size();
    SnoopModel(model, c, pairs, fitted[c], run.params, run.outcome, run.statistics[c],
               run.removals, [&](std::size_t removals) { progress.Removed(removals); });
    for (std::size_t k = before; k < run.removals.size(); ++k) {
      run.status[c][run.removals[k].pair] = PairStatus::Removed;
    }
    if (!run.outcome.usable) break;
  }
  // Removals move the centroid a model's parameters are stated about, and the variance
  // components weights came from: the model is fitted once more to the pairs left, which
  // changes the parameters and their σ but not the fit. Then the summary and the pairs it
  // counts are those of the last fit.
  const bool refit = run.outcome.usable && !run.removals.empty();
  if (refit && run.varianceComponents.estimated) {
    WeightByComponents(run, fitted, false);
  } else if (refit && model.StatesReference(run.params)) {
    run.outcome = model.Fit(pairs, fitted, run.params, 0);
  } else {
    model.Summarise(pairs, fitted, run.params, run.outcome);
    return;
  }
  if (run.outcome.usable) ComputeStatistics(run, fitted);
}

}  // namespace

// The model fitted to the pairs each component keeps; then, when asked for, the blunders the
// robust estimation finds, the statistics, and the blunders snooping removes from what is kept.
void Fit(Step& step, Registration& run) {
  std::vector<std::vector<bool>> fitted = FittedMasks(run);
  const bool collapsed = DestinationCollapsed(run, fitted[0]);
  const FramePairs pairs = run.Pairs();
  // A model that chooses its form from the pairs (--vertical auto) does so once, before the fit
  // and any snooping.
  if (std::unique_ptr<const TransformModel> settled = run.model->Settled(pairs, fitted)) {
    run.model = std::move(settled);
    run.components = run.model->Components();
  }
  run.outcome = run.model->Fit(pairs, fitted, run.params, collapsed ? kDegenerateIterations : 0);
  if (collapsed) {
    step.Warn("the fitted destination points all lie within " +
              std::to_string(static_cast<int>(kCoincidenceDistance * 1000)) +
              " mm of one spot while the source points do not: no transform fits them (the best "
              "scale would be 0), and the values are not a fit");
  }
  if (run.outcome.usable && !collapsed) WeightByComponents(run, fitted, true);
  if (!run.outcome.usable || !step.settings.statistics) return;
  if (step.settings.robust) {
    bool removed = false;
    if (!Robust(run, run.Pairs(), fitted, removed)) return;
    if (removed) WeightByComponents(run, fitted, false);
    if (!run.outcome.usable) return;
  }
  ComputeStatistics(run, fitted);
  if (step.settings.snoop) Snoop(run, fitted);
  run.hasStatistics = run.outcome.usable;
}

}  // namespace Quorvane
