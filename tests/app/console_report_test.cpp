// The console report's bytes, written to a string stream.
#include "app/output/console_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace Quorvane {
namespace {

constexpr double kPi = 3.141592653589793;

// GBK bytes of the three labels: 源点位置： 目标位置： ceres计算值：
const std::string kSourceLabel = "\xD4\xB4\xB5\xE3\xCE\xBB\xD6\xC3\xA3\xBA";
const std::string kDestinationLabel = "\xC4\xBF\xB1\xEA\xCE\xBB\xD6\xC3\xA3\xBA";
const std::string kComputedLabel = "\x63\x65\x72\x65\x73\xBC\xC6\xCB\xE3\xD6\xB5\xA3\xBA";

// A similarity's values, as the report names them.
struct Values {
  double tx = 0.0, ty = 0.0, tz = 0.0, rz = 0.0, scale = 1.0;
};

// A run of the similarity with these values and plane points, as the report takes it.
Registration RunOf(const Values& p, const PointList& source, const PointList& destination) {
  Registration run;
  run.model = MakeModel(Model{});
  run.params.values = {p.tx, p.ty, p.tz, p.rz, p.scale};
  run.planeSource = source;
  run.planeDestination = destination;
  run.outcome.summaryLine = ceres::Solver::Summary().BriefReport();
  return run;
}

std::string Report(const Values& params, const PointList& source, const PointList& destination) {
  std::ostringstream out;
  PrintReport(RunOf(params, source, destination), out, ConsoleEncoding::Gbk);
  return out.str();
}

// The report minus the solver's summary line, whose wording is the library's.
std::string AfterSummary(const std::string& report) {
  const std::size_t cut = report.find("\n\n");
  EXPECT_NE(cut, std::string::npos);
  EXPECT_EQ(report.find('\n'), cut) << "the summary is one line followed by an empty line";
  return report.substr(cut + 2);
}

TEST(ConsoleReport, StartValuesRepeatTheSourceBlockWithoutBlanks) {
  const PointList source = {{12.5, -3.25, 100.0}, {0.000004, 1234567.891234, -7.0}};
  const PointList destination = {{1, 2, 3}, {4, 5, 6}};
  const ceres::Solver::Summary summary;
  const std::string report = Report(Values{}, source, destination);
  EXPECT_EQ(report.substr(0, summary.BriefReport().size() + 2), summary.BriefReport() + "\n\n");
  EXPECT_EQ(AfterSummary(report),
            "after:0.00000000,0.00000000,0.00000000,0.00000000,0.00000000,0.00000000,1.00000000\n" +
                kSourceLabel + "\n" +
                "( 12.50000,\t-3.25000,\t100.00000 )\n"
                "( 0.00000,\t1234567.89123,\t-7.00000 )\n" +
                kDestinationLabel + "\n" +
                "( 1.00000,\t2.00000,\t3.00000 )\n"
                "( 4.00000,\t5.00000,\t6.00000 )\n"
                "\n" +
                kComputedLabel + "\n" +
                "(12.50000,\t-3.25000,\t100.00000)\n"
                "(0.00000,\t1234567.89123,\t-7.00000)\n");
}

TEST(ConsoleReport, ComputedBlockTranslatesThenTurnsThenScales) {
  Values params;
  params.tx = 1;
  params.rz = kPi / 2;
  params.scale = 2;
  const PointList points = {{0, 0, 0}, {10, 20, 5}};
  const std::string report = AfterSummary(Report(params, points, points));
  // (0,0,0) + (1,0,0), turned a quarter counter-clockwise, doubled: (0,2,0);
  // (10,20,5) + (1,0,0) = (11,20,5) → (-20,11,5) → (-40,22,10).
  const std::string computed = report.substr(report.find(kComputedLabel) + kComputedLabel.size());
  EXPECT_EQ(computed,
            "\n(0.00000,\t2.00000,\t0.00000)\n"
            "(-40.00000,\t22.00000,\t10.00000)\n");
  EXPECT_EQ(report.substr(0, report.find('\n')),
            "after:1.00000000,0.00000000,0.00000000,0.00000000,0.00000000,1.57079633,2.00000000");
}

TEST(ConsoleReport, EmptySourceListGivesLabelsOnly) {
  EXPECT_EQ(AfterSummary(Report(Values{}, {}, {{1, 2, 3}})),
            "after:0.00000000,0.00000000,0.00000000,0.00000000,0.00000000,0.00000000,1.00000000\n" +
                kSourceLabel + "\n" + kDestinationLabel + "\n\n" + kComputedLabel + "\n");
}

TEST(ConsoleReport, ListsOnlyAsManyDestinationPointsAsSourcePoints) {
  const std::string report =
      AfterSummary(Report(Values{}, {{1, 1, 1}}, {{2, 2, 2}, {3, 3, 3}, {4, 4, 4}}));
  EXPECT_NE(report.find("( 2.00000,\t2.00000,\t2.00000 )\n\n"), std::string::npos);
  EXPECT_EQ(report.find("3.00000"), std::string::npos);
  EXPECT_EQ(report.find("4.00000"), std::string::npos);
}

TEST(ConsoleReport, ShorterDestinationListIsListedAsFarAsItGoes) {
  const std::string report = AfterSummary(Report(Values{}, {{1, 1, 1}, {5, 5, 5}}, {}));
  EXPECT_NE(report.find(kDestinationLabel + "\n\n" + kComputedLabel), std::string::npos);
}

TEST(ConsoleReport, NumberFormat) {
  Values params;
  params.tx = -0.000004;
  params.scale = 123456789.123456789;
  const std::string report =
      AfterSummary(Report(params, {{-0.000004, -1e-9, 0.000005}}, {{-0.0, 1e15, 2.5e-6}}));
  // Negative values that round to zero keep their sign; 5 rounds as the C library does.
  EXPECT_NE(report.find("( -0.00000,\t-0.00000,\t0.00001 )\n"), std::string::npos) << report;
  EXPECT_NE(report.find("( -0.00000,\t1000000000000000.00000,\t0.00000 )\n"), std::string::npos)
      << report;
  EXPECT_EQ(report.substr(0, report.find('\n')),
            "after:-0.00000400,0.00000000,0.00000000,0.00000000,0.00000000,0.00000000,"
            "123456789.12345679");
}

// Notes how much of the report had been written at each flush.
class FlushRecorder : public std::stringbuf {
 public:
  std::vector<std::size_t> flushedAt;

 protected:
  int sync() override {
    flushedAt.push_back(str().size());
    return 0;
  }
};

// A reader of a pipe sees each point line as soon as it is written.
TEST(ConsoleReport, FlushesAfterEveryPointLine) {
  FlushRecorder buffer;
  std::ostream out(&buffer);
  const PointList points = {{1, 2, 3}, {4, 5, 6}};
  PrintReport(RunOf(Values{}, points, points), out, ConsoleEncoding::Gbk);
  const std::string report = buffer.str();
  int pointLines = 0;
  for (std::size_t start = 0, end; (end = report.find('\n', start)) != std::string::npos;
       start = end + 1) {
    if (report[start] != '(') continue;
    ++pointLines;
    EXPECT_NE(std::find(buffer.flushedAt.begin(), buffer.flushedAt.end(), end + 1),
              buffer.flushedAt.end())
        << "no flush after " << report.substr(start, end - start);
  }
  EXPECT_EQ(pointLines, 6);
}

// The point lines must read exactly as the C library's "%.5f" writes the numbers, over values of
// every size a report can hold, rounding boundaries and non-finite values included.
TEST(ConsoleReport, PointNumbersReadAsPrintfFixedFive) {
  std::vector<double> values = {0.0,      -0.0,     0.000005, -0.000005, 0.0000049999, 2.5e-6,
                                1.000005, 0.125,    1e15,     -1e22,     1.7976931348623157e308,
                                4.9e-324, 12345.678905, std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> exponent(-8.0, 17.0);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  for (int i = 0; i < 3000; ++i) values.push_back(mantissa(random) * std::pow(10.0, exponent(random)));

  for (std::size_t i = 0; i + 3 <= values.size(); i += 3) {
    const double x = values[i], y = values[i + 1], z = values[i + 2];
    const std::string report = AfterSummary(Report(Values{}, {{x, y, z}}, {}));
    std::vector<char> expected(1100);
    std::snprintf(expected.data(), expected.size(), "\n( %.5f,\t%.5f,\t%.5f )\n", x, y, z);
    ASSERT_NE(report.find(expected.data()), std::string::npos)
        << "expected " << expected.data() << "in\n" << report;
  }
}

}  // namespace
}  // namespace Quorvane
