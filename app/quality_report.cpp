#include "app/quality_report.h"

#include <charconv>
#include <cmath>
#include <string>

namespace Quorvane {

namespace {

constexpr double kArcSecondsPerRadian = 206264.80624709636;  // 648000 / π
constexpr double kPartsPerMillion = 1e6;

// `value` in fixed notation with `decimals` decimals, as printf's "%.Nf" writes it ("inf" and
// "nan" included); std::to_chars avoids the stream's locale.
std::string Fixed(double value, int decimals) {
  char text[400];  // DBL_MAX in "%.4f" takes 314 characters
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

// "\t<value>\t<unit>", or "\t无法确定" when the value is not determined.
std::string Measured(bool determined, double value, int decimals, const char* unit,
                     ConsoleEncoding encoding) {
  if (!determined) return std::string("\t") + kNotDetermined.In(encoding);
  return "\t" + Fixed(value, decimals) + "\t" + unit;
}

}  // namespace

void PrintQualityBlock(const FitStatistics& stats, const std::vector<PairStatus>& status,
                       bool snooped, const std::vector<BlunderRemoval>& removals,
                       ConsoleEncoding encoding, std::ostream& out) {
  std::string block = kResidualsLabel.In(encoding);
  block += '\n';
  for (std::size_t i = 0; i < stats.residuals.size(); ++i) {
    const Point3& v = stats.residuals[i];
    const PairTest& test = stats.tests[i];
    block += std::to_string(i + 1) + '\t' + Fixed(v.x, 4) + '\t' + Fixed(v.y, 4) + '\t' +
             Fixed(v.z, 4) + '\t' + Fixed(std::hypot(v.x, v.y), 4) + '\t';
    const bool tested = status[i] == PairStatus::Fitted && test.testable;
    block += tested ? Fixed(test.statistic, 2) + '\t' + Fixed(test.critical, 2) : "-\t-";
    block += '\t';
    if (status[i] == PairStatus::Excluded) {
      block += kExcludedMark.In(encoding);
    } else if (status[i] == PairStatus::Removed) {
      block += kRemovedMark.In(encoding);
    } else if (tested && test.suspect) {
      block += kSuspectMark.In(encoding);
    }
    block += '\n';
  }

  block +=
      std::string(kFittedPairsLabel.In(encoding)) + '\t' + std::to_string(stats.fittedPairs) + '\n';
  block +=
      std::string(kRedundancyLabel.In(encoding)) + '\t' + std::to_string(stats.redundancy) + '\n';
  block += kSigma0Label.In(encoding) +
           Measured(stats.sigma0Determined, stats.sigma0, 4, "m", encoding) + '\n';
  block += kRmsHorizontalLabel.In(encoding) +
           Measured(stats.rmsDetermined, stats.rmsHorizontal, 4, "m", encoding) + '\n';
  block += kRmsVerticalLabel.In(encoding) +
           Measured(stats.rmsDetermined, stats.rmsVertical, 4, "m", encoding) + '\n';

  block += kParameterSigmaLabel.In(encoding);
  block += '\n';
  struct Row {
    const char* name;
    double factor;
    int decimals;
    const char* unit;
  };
  const Row rows[kModelParameters] = {{"tx", 1.0, 4, "m"},
                                      {"ty", 1.0, 4, "m"},
                                      {"tz", 1.0, 4, "m"},
                                      {"rz", kArcSecondsPerRadian, 3, "arcsec"},
                                      {"scale", kPartsPerMillion, 3, "ppm"}};
  for (int k = 0; k < kModelParameters; ++k) {
    block += rows[k].name +
             Measured(stats.precisionDetermined, stats.sigma[k] * rows[k].factor, rows[k].decimals,
                      rows[k].unit, encoding) +
             '\n';
  }

  if (snooped) {
    block += kRemovalsLabel.In(encoding);
    block += '\n';
    for (const BlunderRemoval& removal : removals) {
      block += std::to_string(removal.pair + 1) + '\t' + Fixed(removal.statistic, 2) + '\t' +
               Fixed(removal.critical, 2) + '\n';
    }
  }
  out << block << std::flush;
}

}  // namespace Quorvane
