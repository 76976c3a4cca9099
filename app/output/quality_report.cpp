#include "app/output/quality_report.h"

#include <charconv>
#include <cmath>
#include <string>

#include "app/output/number_text.h"
#include "app/text/text_encoding.h"

namespace Quorvane {

namespace {

// "\t<value>\t<unit>", or "\t无法确定" when the value is not determined.
std::string Measured(bool determined, double value, int decimals, const char* unit,
                     ConsoleEncoding encoding) {
  if (!determined) return std::string("\t") + kNotDetermined.In(encoding);
  return "\t" + FixedText(value, decimals) + (*unit != '\0' ? std::string("\t") + unit : "");
}

// --robust's block: per component its method, then each pair it removed (自动剔除) and each it
// gave back (恢复), with its test against the fit of the pairs kept.
std::string RobustBlock(const Registration& run, ConsoleEncoding encoding) {
  std::string block = kRobustLabel.In(encoding);
  block += '\n';
  const bool named = !run.names.empty();
  for (std::size_t c = 0; c < run.robust.size(); ++c) {
    const RobustOutcome& robust = run.robust[c];
    const ConsoleText* prefix = LabelsOf(run.components[c]).prefix;
    if (prefix != nullptr) block += std::string(prefix->In(encoding)) + '\t';
    if (!robust.started) {
      block += "no robust start (too few pairs, or none that determine the fit): none removed\n";
      continue;
    }
    block += std::string(robust.consensus ? "MSAC" : "LMS") + " over " +
             std::to_string(robust.subsets) + " subsets of " +
             std::to_string(robust.subsetPairs) + " pairs, IGG III (k0 = " + FixedText(kIggK0, 1) +
             ", k1 = " + FixedText(kIggK1, 1) + ") " +
             std::to_string(robust.iterations) + " rounds, re-admission test\n";
    const auto line = [&](const RobustTest& test, const ConsoleText& mark) {
      block += std::to_string(test.pair + 1) + '\t';
      if (named) block += ConsoleName(run.names[test.pair], encoding) + '\t';
      block += test.testable ? FixedText(test.statistic, 2) + '\t' + FixedText(test.critical, 2)
                             : std::string("-\t-");
      block += '\t';
      if (prefix != nullptr) block += prefix->In(encoding);
      block += mark.In(encoding);
      block += '\n';
    };
    for (const RobustTest& test : robust.removed) line(test, kRemovedMark);
    for (const RobustTest& test : robust.readmitted) line(test, kReadmittedMark);
  }
  return block;
}

// The marks of pair i, separated by blanks.
std::string Marks(const Registration& run, std::size_t i, ConsoleEncoding encoding) {
  std::string marks;
  const auto add = [&](const ConsoleText* prefix, const ConsoleText& mark) {
    if (!marks.empty()) marks += ' ';
    if (prefix != nullptr) marks += prefix->In(encoding);
    marks += mark.In(encoding);
  };
  const PairFate fate = FateOf(run, i);
  if (fate.everyExcluded) {
    add(nullptr, kExcludedMark);
  } else if (fate.everyRemoved) {
    add(nullptr, kRemovedMark);
  } else {
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      const ConsoleText* prefix = LabelsOf(run.components[c]).prefix;
      if (run.status[c][i] == PairStatus::Excluded) {
        add(prefix, kExcludedMark);
      } else if (run.status[c][i] == PairStatus::Removed) {
        add(prefix, kRemovedMark);
      } else if (IsSuspect(run, c, i)) {
        add(prefix, kSuspectMark);
      }
    }
  }
  if (run.tolerances.Any() && IsOverTolerance(run, i)) add(nullptr, kOverToleranceMark);
  return marks;
}

// Component c's figures: pairs, redundancy, σ̂0 (and with absolute σ its test), RMS and the
// parameters' σ (with absolute σ, scaled by σ̂0 beside them).
std::string ComponentBlock(const Registration& run, std::size_t c, ConsoleEncoding encoding) {
  std::string block;
  const Component& component = run.components[c];
  const FitStatistics& stats = run.statistics[c];
  if (const ConsoleText* section = LabelsOf(component).section) {
    block += section->In(encoding);
    block += '\n';
  }
  block += std::string(kFittedPairsLabel.In(encoding)) + '\t' +
           std::to_string(stats.fittedPairs) + '\n';
  block += std::string(kRedundancyLabel.In(encoding)) + '\t' +
           std::to_string(stats.redundancy) + '\n';
  // Weighted, σ̂0 is the factor of the a priori σ and has no unit.
  block += kSigma0Label.In(encoding) +
           Measured(stats.sigma0Determined, stats.sigma0, 4, run.Weighted() ? "" : "m",
                    encoding) +
           '\n';
  if (stats.varianceTest.tested) {
    const VarianceTest& test = stats.varianceTest;
    block += kVarianceTestLabel.In(encoding) + ('\t' + FixedText(test.factor, 3) + '\t' +
                                                FixedText(test.lower, 3) + '\t' +
                                                FixedText(test.upper, 3) + '\t') +
             (test.passed ? kPassedMark : kFailedMark).In(encoding) + '\n';
  }
  if (component.layout != ComponentLayout::Vertical) {
    block += kRmsHorizontalLabel.In(encoding) +
             Measured(stats.rmsDetermined, stats.rmsHorizontal, 4, "m", encoding) + '\n';
  }
  if (component.layout != ComponentLayout::Horizontal) {
    block += kRmsVerticalLabel.In(encoding) +
             Measured(stats.rmsDetermined, stats.rmsVertical, 4, "m", encoding) + '\n';
  }
  const bool scaled = stats.varianceKnown;
  block += (scaled ? kScaledSigmaLabel : kParameterSigmaLabel).In(encoding);
  block += '\n';
  for (std::size_t k = 0; k < component.parameters.size(); ++k) {
    const ParameterInfo& info = run.model->Parameters()[component.parameters[k]];
    block += info.name + Measured(stats.precisionDetermined, stats.sigma[k] * info.factor,
                                  info.decimals, info.unit, encoding);
    if (scaled && stats.precisionDetermined) {
      block += Measured(true, stats.sigmaScaled[k] * info.factor, info.decimals, info.unit,
                        encoding);
    }
    block += '\n';
  }
  return block;
}

}  // namespace

void PrintQualityBlock(const Registration& run, bool snooped, ConsoleEncoding encoding,
                       std::ostream& out) {
  const bool named = !run.names.empty();
  std::string block = kResidualsLabel.In(encoding);
  block += '\n';
  for (std::size_t i = 0; i < run.planeSource.size(); ++i) {
    const Point3 v = ResidualOf(run, i);
    block += std::to_string(i + 1) + '\t';
    if (named) block += ConsoleName(run.names[i], encoding) + '\t';
    block += FixedText(v.x, 4) + '\t' + FixedText(v.y, 4) + '\t' + FixedText(v.z, 4) + '\t' +
             FixedText(std::hypot(v.x, v.y), 4) + '\t';
    for (std::size_t c = 0; c < run.components.size(); ++c) {
      const PairTest& test = run.statistics[c].tests[i];
      const bool tested = run.status[c][i] == PairStatus::Fitted && test.testable;
      block += tested ? FixedText(test.statistic, 2) + '\t' + FixedText(test.critical, 2) : "-\t-";
      block += '\t';
    }
    block += Marks(run, i, encoding);
    block += '\n';
  }

  for (std::size_t c = 0; c < run.components.size(); ++c) {
    block += ComponentBlock(run, c, encoding);
  }

  // Robust estimation ran first, snooping on what it kept.
  if (!run.robust.empty()) block += RobustBlock(run, encoding);
  if (snooped) {
    block += kRemovalsLabel.In(encoding);
    block += '\n';
    for (const BlunderRemoval& removal : run.removals) {
      block += std::to_string(removal.pair + 1) + '\t';
      if (named) block += ConsoleName(run.names[removal.pair], encoding) + '\t';
      block += FixedText(removal.statistic, 2) + '\t' + FixedText(removal.critical, 2);
      if (const ConsoleText* prefix = LabelsOf(run.components[removal.component]).prefix) {
        block += '\t';
        block += prefix->In(encoding);
      }
      block += '\n';
    }
  }
  out << block << std::flush;
}

}  // namespace Quorvane
