// The whole run through the built executable: report bytes, exit codes, the result file beside
// the executable, and input that cannot give a result.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/cli/command_line.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/gauss_projector.h"
#include "tests/estimation/closed_form_fit.h"
#include "tests/support/child_process.h"
#include "tests/support/point_printing.h"

namespace {

using QuorvaneTest::ChildOptions;
using QuorvaneTest::ChildResult;
using QuorvaneTest::FileExists;
using QuorvaneTest::ReadFile;
using QuorvaneTest::RunChild;
using QuorvaneTest::TempDir;

constexpr int kStatusSuccess = 0;
constexpr int kStatusNoResult = 1;
constexpr int kStatusBadInput = 255;  // exit(-1)

const std::string kSourceLabel = "\xD4\xB4\xB5\xE3\xCE\xBB\xD6\xC3\xA3\xBA";       // 源点位置：
const std::string kDestinationLabel = "\xC4\xBF\xB1\xEA\xCE\xBB\xD6\xC3\xA3\xBA";  // 目标位置：
const std::string kComputedLabel = "ceres\xBC\xC6\xCB\xE3\xD6\xB5\xA3\xBA";        // ceres计算值：
const std::string kStartValuesJson =
    R"({"offset":[0.0,0.0,0.0],"rotate":[0.0,0.0,0.0],"scale":1.0})";

// Three points whose mean is (117°, 0°): two mirrored about the centre and one on it.
const std::string kMirroredPoints = "118,31,25,116,-31,10,117,0,5";

// A copy of the executable in a directory of its own, run from another directory.
// A geographic point in the plane of the tool's series on WGS 84 centred on (lon0, lat0), as a
// run without options projects it.
Quorvane::Point3 CentredPlane(const Quorvane::Point3& p, double lon0, double lat0) {
  const Quorvane::Ellipsoid wgs84 = Quorvane::EllipsoidByName("WGS84");
  const Quorvane::PlaneCoordinates plane =
      Quorvane::GaussProjector().Forward(p, lon0, 0.0, 0.0, wgs84.a, wgs84.f, lat0);
  return {plane.x, plane.y, p.z};
}

// Runs of two lists from another folder than the executable's.
struct Installation : QuorvaneTest::Installation {
  ChildResult Run(const std::string& source, const std::string& destination) const {
    return RunElsewhere({"--refsrc", source, "--refdes", destination});
  }
};

// The report minus the solver's summary line, whose wording is the library's; checks that the
// summary is one line followed by an empty line.
std::string AfterSummary(const std::string& out) {
  const std::size_t cut = out.find("\n\n");
  EXPECT_EQ(out.rfind("Ceres Solver Report: ", 0), 0u) << out;
  EXPECT_EQ(out.find('\n'), cut);
  return cut == std::string::npos ? std::string() : out.substr(cut + 2);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// Lines of the block under `label`, up to the next empty line or label.
std::vector<std::string> Block(const std::string& report, const std::string& label) {
  std::vector<std::string> block;
  bool inside = false;
  for (const std::string& line : Lines(report)) {
    if (line == label) {
      inside = true;
    } else if (inside) {
      if (line.empty() || line[0] != '(') break;
      block.push_back(line);
    }
  }
  return block;
}

TEST(RegistrationRun, KnownCaseReportBytesAndResultFile) {
  Installation q;
  const ChildResult r = q.Run(kMirroredPoints, kMirroredPoints);
  ASSERT_EQ(r.exitStatus, kStatusSuccess) << r.err;
  EXPECT_EQ(r.err, "");
  // Plane coordinates about (117°, 0°) on WGS 84 with no false origin; PROJ's
  // +proj=tmerc +approx +k_0=1 +lon_0=117 +ellps=WGS84 gives 95506.556289, 3431403.610175 for
  // (118°, 31°), within 0.04 mm of the digits below. Identical lists leave the start values.
  const std::string kPlaneBlock =
      "( 95506.55629,\t3431403.61021,\t25.00000 )\n"
      "( -95506.55629,\t-3431403.61021,\t10.00000 )\n"
      "( 0.00000,\t0.00000,\t5.00000 )\n";
  const std::string kComputedBlock =
      "(95506.55629,\t3431403.61021,\t25.00000)\n"
      "(-95506.55629,\t-3431403.61021,\t10.00000)\n"
      "(0.00000,\t0.00000,\t5.00000)\n";
  EXPECT_EQ(AfterSummary(r.out),
            "after:0.00000000,0.00000000,0.00000000,0.00000000,0.00000000,0.00000000,1.00000000\n" +
                kSourceLabel + "\n" + kPlaneBlock + kDestinationLabel + "\n" + kPlaneBlock + "\n" +
                kComputedLabel + "\n" + kComputedBlock);
  EXPECT_EQ(ReadFile(q.resultFile), kStartValuesJson);
  EXPECT_FALSE(FileExists(q.elsewhere.path() + "/quorvane.json"));
}

TEST(RegistrationRun, ReplacesALongerResultFileCompletely) {
  Installation q;
  QuorvaneTest::WriteFile(q.resultFile, std::string(300, ' ') + R"({"offset":[1,2,3]})" + "\n");
  const ChildResult r = q.Run(kMirroredPoints, kMirroredPoints);
  ASSERT_EQ(r.exitStatus, kStatusSuccess);
  EXPECT_EQ(ReadFile(q.resultFile), kStartValuesJson);
}

TEST(RegistrationRun, EmptySourceListStillWritesStartValues) {
  Installation q;
  const ChildResult r = q.Run("1,2", "139.7,35.7,10");
  ASSERT_EQ(r.exitStatus, kStatusSuccess) << r.err;
  EXPECT_EQ(AfterSummary(r.out),
            "after:0.00000000,0.00000000,0.00000000,0.00000000,0.00000000,0.00000000,1.00000000\n" +
                kSourceLabel + "\n" + kDestinationLabel + "\n\n" + kComputedLabel + "\n");
  EXPECT_EQ(ReadFile(q.resultFile), kStartValuesJson);
}

TEST(RegistrationRun, LongerDestinationListMovesTheCentreButIsNotPaired) {
  Installation q;
  // Centre (118°, 0°) from both destination points; only the first is paired and listed.
  const ChildResult r = q.Run("117,0,5", "117,0,5,119,0,0");
  ASSERT_EQ(r.exitStatus, kStatusSuccess) << r.err;
  const Quorvane::Point3 plane = CentredPlane({117, 0, 5}, 118, 0);
  char expected[128];
  std::snprintf(expected, sizeof expected, "( %.5f,\t%.5f,\t%.5f )", plane.x, plane.y, plane.z);
  const std::string report = AfterSummary(r.out);
  EXPECT_EQ(Block(report, kSourceLabel), std::vector<std::string>{expected});
  EXPECT_EQ(Block(report, kDestinationLabel), std::vector<std::string>{expected});
  EXPECT_LT(plane.x, -100000.0);  // one degree west of the centre, not on it
}

TEST(RegistrationRun, CentreDependsOnTheDestinationListOnly) {
  Installation q;
  const std::string destination = "139.70,35.72,60,139.74,35.61,58,139.57,35.61,-9";
  const ChildResult a = q.Run("139.701,35.721,98,139.741,35.611,95,139.571,35.611,27", destination);
  const ChildResult b = q.Run("139.9,35.9,0,139.2,35.2,0,139.5,35.5,0", destination);
  ASSERT_EQ(a.exitStatus, kStatusSuccess);
  ASSERT_EQ(b.exitStatus, kStatusSuccess);
  EXPECT_EQ(Block(a.out, kDestinationLabel), Block(b.out, kDestinationLabel));
  EXPECT_EQ(Block(a.out, kDestinationLabel).size(), 3u);
  EXPECT_NE(Block(a.out, kSourceLabel), Block(b.out, kSourceLabel));
}

TEST(RegistrationRun, UnwritableDirectoryKeepsReportAndExitCode) {
  if (!QuorvaneTest::CanRunAsNobody()) {
    GTEST_SKIP() << "needs root to run the tool as user nobody (root ignores permissions)";
  }
  Installation q;
  ASSERT_EQ(chmod(q.home.path().c_str(), 0555), 0);  // readable and searchable, not writable
  ChildOptions options;
  options.workingDirectory = "/";
  options.asNobody = true;
  const ChildResult r =
      RunChild(q.executable, {"--refsrc", kMirroredPoints, "--refdes", kMirroredPoints}, options);
  EXPECT_EQ(r.exitStatus, kStatusSuccess) << r.err;
  EXPECT_NE(AfterSummary(r.out).find(kComputedLabel + "\n(95506.55629,"), std::string::npos);
  EXPECT_FALSE(FileExists(q.resultFile));
}

TEST(RegistrationRun, WithoutItsOwnPathWritesBesideArgumentZero) {
  if (!QuorvaneTest::CanRunWithoutProc()) {
    GTEST_SKIP() << "needs root and mount namespaces to hide /proc/self/exe";
  }
#ifdef QUORVANE_SANITIZED
  GTEST_SKIP() << "the sanitizer runtimes read their options and threads from /proc";
#endif
  // A bare name, as a shell gives it for a program found on PATH, means the current directory.
  for (const bool fullPath : {false, true}) {
    SCOPED_TRACE(fullPath ? "argument 0 the full path" : "argument 0 a bare name");
    Installation q;
    const std::string current = q.elsewhere.path() + "/quorvane.json";
    ChildOptions options;
    options.workingDirectory = q.elsewhere.path();
    options.argument0 = fullPath ? q.executable : "quorvane";
    options.withoutProc = true;
    const ChildResult r =
        RunChild(q.executable, {"--refsrc", kMirroredPoints, "--refdes", kMirroredPoints}, options);
    ASSERT_EQ(r.exitStatus, kStatusSuccess) << r.err;
    EXPECT_EQ(ReadFile(fullPath ? q.resultFile : current), kStartValuesJson);
    EXPECT_FALSE(FileExists(fullPath ? current : q.resultFile));
    EXPECT_FALSE(FileExists("/quorvane.json"));
  }
}

TEST(RegistrationRun, LongInstallPathKeepsTheResultBesideTheExecutable) {
  // Longer than the first two sizes of the buffer the executable's path is read into (256 and
  // 512 bytes), so a path cut short at either would put the file into a folder above.
  TempDir top, elsewhere;
  std::string home = top.path();
  while (home.size() <= 600) {
    home += "/" + std::string(100, 'd');
    ASSERT_EQ(mkdir(home.c_str(), 0755), 0) << home;
  }
  const ChildResult r = RunChild(QuorvaneTest::CopyExecutableTo(home),
                                 {"--refsrc", kMirroredPoints, "--refdes", kMirroredPoints},
                                 QuorvaneTest::InDirectory(elsewhere.path()));
  ASSERT_EQ(r.exitStatus, kStatusSuccess) << r.err;
  EXPECT_EQ(ReadFile(home + "/quorvane.json"), kStartValuesJson);
}

// Input that cannot be fitted: a message on standard error, nothing on standard output, and an
// earlier result file left as it was.
struct RejectedCase {
  const char* name;
  const char* source;
  const char* destination;
  std::vector<std::string> messageParts;
};

void PrintTo(const RejectedCase& c, std::ostream* os) { *os << c.name; }

class RejectedInput : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedInput, SaysWhyAndWritesNothing) {
  const RejectedCase& c = GetParam();
  Installation q;
  const std::string previous = R"({"offset":[1.0,2.0,3.0],"rotate":[0.0,0.0,0.0],"scale":1.0})";
  QuorvaneTest::WriteFile(q.resultFile, previous);
  const ChildResult r = q.Run(c.source, c.destination);
  EXPECT_EQ(r.exitStatus, kStatusBadInput);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("quorvane: ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
  for (const std::string& part : c.messageParts) {
    EXPECT_NE(r.err.find(part), std::string::npos) << "missing \"" << part << "\" in " << r.err;
  }
  EXPECT_EQ(ReadFile(q.resultFile), previous);
}

INSTANTIATE_TEST_SUITE_P(
    TooFewDestinationPoints, RejectedInput,
    ::testing::Values(
        RejectedCase{"OneShort", "139.7,35.7,1,139.8,35.6,2", "139.7,35.7,1", {"2 points", "only 1"}},
        RejectedCase{"NoDestinationPoint", "139.7,35.7,1", "139.7,35.7", {"1 points", "only 0"}}),
    QuorvaneTest::CaseName());

INSTANTIATE_TEST_SUITE_P(
    NotFiniteAfterProjection, RejectedInput,
    ::testing::Values(
        RejectedCase{"NanLatitudeInSource", "139.7,35.7,1,139.8,nan,2", "139.7,35.7,1,139.8,35.6,2",
                     {"source point 2 ", "139.8,nan,2"}},
        RejectedCase{"InfiniteHeightInDestination", "139.7,35.7,1,139.8,35.6,2",
                     "139.7,35.7,1,139.8,35.6,-inf", {"destination point 2 ", "139.8,35.6,-inf"}},
        RejectedCase{"OverflowingNumberInSource", "1e308,35.7,1", "139.7,35.7,1",
                     {"source point 1 ", "1e+308,35.7,1"}},
        // 1e308 is a finite latitude, but as the origin latitude it spoils every projection.
        RejectedCase{"OverflowingLatitudeInDestination", "139.7,35.7,1", "139.7,1e308,1",
                     {"source point 1 "}},
        // An unpaired destination point still enters the centre.
        RejectedCase{"CentreFromUnpairedNan", "139.7,35.7,1", "139.7,35.7,1,nan,35,0",
                     {"source point 1 ", "projection centre"}},
        RejectedCase{"SourceBeforeDestinationInOnePair", "139.7,inf,1", "139.7,nan,1",
                     {"source point 1 "}}),
    QuorvaneTest::CaseName());

// Data that overflows the squared residuals: the solver ends without a usable result.
struct FailedSolveCase {
  const char* name;
  const char* source;
  const char* destination;
};

void PrintTo(const FailedSolveCase& c, std::ostream* os) { *os << c.name; }

class FailedSolve : public ::testing::TestWithParam<FailedSolveCase> {};

TEST_P(FailedSolve, PrintsTheReportButNoResultFile) {
  const FailedSolveCase& c = GetParam();
  Installation q;
  const ChildResult r = q.Run(c.source, c.destination);
  EXPECT_EQ(r.exitStatus, kStatusNoResult);
  EXPECT_NE(AfterSummary(r.out).find(kComputedLabel), std::string::npos);
  EXPECT_NE(r.err.find("quorvane: the solver gave no usable result"), std::string::npos) << r.err;
  EXPECT_FALSE(FileExists(q.resultFile));
}

INSTANTIATE_TEST_SUITE_P(
    Overflow, FailedSolve,
    ::testing::Values(
        // Ceres reports FAILURE after five invalid steps.
        FailedSolveCase{"TerminationFailure", "139.7,35.7,1e300,139.8,35.6,0",
                        "139.7,35.7,0,139.8,35.6,0"},
        // Ceres reports CONVERGENCE with "Final cost: inf".
        FailedSolveCase{"ConvergedToInfiniteCost",
                        "139.7,35.7,1e300,139.8,35.6,1e300,139.75,35.65,1e300",
                        "139.7,35.7,0,139.8,35.6,0,139.75,35.65,0"},
        // Ceres reports FAILURE before the first step with "Final cost: -1", a finite cost: only
        // the termination type tells this result from a fit.
        FailedSolveCase{"FailureWithFiniteCost", "139.7,35.7,1e308", "139.7,35.7,-1e308"}),
    QuorvaneTest::CaseName());

// The bundled Tokyo control points: the tool's fit is the least-squares optimum of its own
// projected points.
TEST(RegistrationRun, TokyoExampleReachesTheClosedFormOptimum) {
  std::ifstream data(QUORVANE_SOURCE_DIR "/examples/tokyo-wgs84-to-tokyo-datum.txt");
  std::vector<std::string> lists;
  for (std::string line; std::getline(data, line);) {
    if (!line.empty() && line[0] != '#') lists.push_back(line);
  }
  ASSERT_EQ(lists.size(), 2u);

  Installation q;
  const ChildResult r = q.Run(lists[0], lists[1]);
  ASSERT_EQ(r.exitStatus, kStatusSuccess) << r.err;
  // The result file has one fixed layout; strtod (under sscanf) reads each number back exactly.
  double offset[3], rotate[3], scale;
  ASSERT_EQ(std::sscanf(ReadFile(q.resultFile).c_str(),
                        R"({"offset":[%lf,%lf,%lf],"rotate":[%lf,%lf,%lf],"scale":%lf})",
                        &offset[0], &offset[1], &offset[2], &rotate[0], &rotate[1], &rotate[2],
                        &scale),
            7);

  Quorvane::PointList source, destination;
  Quorvane::ParsePointList(lists[0], source);
  Quorvane::ParsePointList(lists[1], destination);
  ASSERT_EQ(source.size(), 6u);
  double lon = 0, lat = 0;
  for (const Quorvane::Point3& p : destination) lon += p.x / 6, lat += p.y / 6;
  for (Quorvane::PointList* list : {&source, &destination}) {
    for (Quorvane::Point3& p : *list) p = CentredPlane(p, lon, lat);
  }
  const QuorvaneTest::ClosedFormFit oracle = QuorvaneTest::SolveClosedForm(source, destination);

  // Bounds as for the solver's own tests on noisy networks of this size (10 km, cm residuals).
  constexpr double kTranslationTolerance = 1e-5;  // metres
  constexpr double kAngleTolerance = 5e-9;        // radians
  constexpr double kScaleTolerance = 5e-9;
  constexpr double kPi = 3.141592653589793;
  EXPECT_NEAR(offset[0], oracle.tx, kTranslationTolerance);
  EXPECT_NEAR(offset[1], oracle.ty, kTranslationTolerance);
  EXPECT_NEAR(offset[2], oracle.tz, kTranslationTolerance);
  EXPECT_EQ(rotate[0], 0.0);
  EXPECT_EQ(rotate[1], 0.0);
  EXPECT_NEAR(rotate[2] * kPi / 180, oracle.rz, kAngleTolerance);
  EXPECT_NEAR(scale, oracle.scale, kScaleTolerance);
  // A WGS 84 to Tokyo datum shift of a few hundred metres and 36.7 m in height.
  EXPECT_NEAR(offset[2], -36.7, 0.1);
}

// Runs writing quorvane.json at the same time, with a reader beside them: every read finds one
// run's whole result, never a part or a mixture.
TEST(RegistrationRun, ParallelRunsNeverShowAPartialResult) {
  Installation q;
  const std::string lists[2][2] = {{kMirroredPoints, kMirroredPoints},
                                   {"139.7,35.7,10,139.8,35.6,20", "139.7,35.7,11,139.8,35.6,21"}};
  std::string results[2];
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(q.Run(lists[k][0], lists[k][1]).exitStatus, kStatusSuccess);
    results[k] = ReadFile(q.resultFile);
  }
  ASSERT_NE(results[0], results[1]);
  std::atomic<bool> writing{true};
  std::size_t reads = 0;
  std::vector<std::string> bad;
  std::thread reader([&] {
    while (writing) {
      const std::string seen = ReadFile(q.resultFile);
      ++reads;
      if (seen != results[0] && seen != results[1] && bad.size() < 5) bad.push_back(seen);
    }
  });
  std::vector<std::thread> writers;
  for (int k = 0; k < 4; ++k) {
    writers.emplace_back([&, k] {
      for (int round = 0; round < 15; ++round) q.Run(lists[k % 2][0], lists[k % 2][1]);
    });
  }
  for (std::thread& writer : writers) writer.join();
  writing = false;
  reader.join();
  EXPECT_GT(reads, 0u);
  EXPECT_EQ(bad, std::vector<std::string>{});
  // No temporary file is left behind.
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(q.home.path())) {
    entries += entry.path().filename() != "quorvane" ? 1 : 0;
  }
  EXPECT_EQ(entries, 1u);
}

// A reader that quits early (a pager, head -1) does not cost the files: they are written, the
// cut report is said on standard error, and the run ends with 4 instead of dying of SIGPIPE.
TEST(RegistrationRun, ClosedStandardOutputKeepsTheFiles) {
  Installation q;
  int pipe_[2];
  ASSERT_EQ(pipe(pipe_), 0);
  int errors[2];
  ASSERT_EQ(pipe(errors), 0);
  close(pipe_[0]);  // nobody reads: the first write fails
  const std::string record = q.elsewhere.path() + "/r.json";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(pipe_[1], 1);
    dup2(errors[1], 2);
    execl(q.executable.c_str(), q.executable.c_str(), "--refsrc", kMirroredPoints.c_str(),
          "--refdes", kMirroredPoints.c_str(), "--record", record.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipe_[1]);
  close(errors[1]);
  std::string err;
  char buffer[4096];
  for (ssize_t n; (n = read(errors[0], buffer, sizeof buffer)) > 0;) err.append(buffer, n);
  close(errors[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 4) << err;
  EXPECT_NE(err.find("standard output was closed"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(q.resultFile), kStartValuesJson);
  EXPECT_EQ(ReadFile(record).rfind("{\"format\":\"quorvane-record/1\"", 0), 0u);
}

}  // namespace
