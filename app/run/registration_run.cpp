// The run from the command line to the files: the steps in order, then the report and the files.
#include "app/run/registration_run.h"

#include <cmath>
#include <cstdio>
#include <future>
#include <iostream>
#include <new>
#include <system_error>

#include "app/cli/options.h"
#include "app/output/console_report.h"
#include "app/output/quality_report.h"
#include "app/output/result_file.h"
#include "app/platform/platform.h"
#include "app/run/run_steps.h"
#include "geodesy/proj_operation.h"

namespace Quorvane {

namespace {

// Names listed in a message before the rest is only counted.
constexpr std::size_t kNamesShown = 5;

}  // namespace

bool IsFinite(const Point3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// "a, b, c, d, e and 3 more" in the console's encoding.
std::string ListOfNames(const std::vector<std::string>& names, ConsoleEncoding encoding) {
  std::string list;
  for (std::size_t k = 0; k < names.size() && k < kNamesShown; ++k) {
    if (k > 0) list += ", ";
    list += QuotedField(names[k], 40, encoding);
  }
  if (names.size() > kNamesShown) list += " and " + std::to_string(names.size() - kNamesShown) + " more";
  return list;
}

namespace {

// Everything a run computes, from the settings to the transformed --apply points: every input is
// read and checked here, and refused with one line on `errors` (false); warnings are held in
// `step` for the report.
bool Compute(Step& step, Registration& run) {
  const RunSettings& settings = step.settings;
  for (const std::string& unknown : settings.unknown) {
    step.Warn("unknown option " + step.Quoted(unknown) + ", ignored");
  }
  run.model = MakeModel(settings.model);
  run.components = run.model->Components();
  // One (empty) set of statistics per component even when none are computed, so that a writer
  // may look at them whatever was asked for.
  run.statistics.resize(run.components.size());
  run.tolerances = settings.tolerances;

  ObservationList source, destination, further;
  if (!ReadLists(step, source, destination, further) || !PairPoints(step, source, destination, run) ||
      !ReadExclusions(step, run) || !ProjectPairs(step, run)) {
    return false;
  }
  Fit(step, run);
  if (run.outcome.usable) {
    if (!ModelTheDistortion(step, run) || !ApplyFurther(step, further, run) ||
        !ExpressForEachSide(step, run)) {
      return false;
    }
    WarnAboutTheFit(step, run);
  }
  run.warnings = step.warnings;
  return true;
}

// The warnings, then the console report of a computed run: the report, and for a usable fit the
// quality block when asked for and the transformed points.
int Report(const Step& step, const Registration& run, std::ostream& report, std::ostream& errors) {
  for (const std::string& warning : run.warnings) errors << warning;
  const ConsoleEncoding encoding = step.settings.encoding;
  PrintReport(run, report, encoding);
  if (!run.outcome.usable) {
    errors << "quorvane: the solver gave no usable result (" << run.outcome.message << ")"
           << kNothingWritten;
    return kExitNoResult;
  }
  if (step.settings.outputs.qualityBlock) {
    PrintQualityBlock(run, step.settings.snoop, encoding, report);
  }
  if (!run.applied.empty()) PrintAppliedPoints(run, encoding, report);
  return kExitSuccess;
}

}  // namespace

int RegisterPoints(const RunSettings& settings, std::ostream& report, std::ostream& errors,
                   Registration& run) {
  Step step{settings, errors, {}};
  if (!Compute(step, run)) return kExitBadInput;
  return Report(step, run, report, errors);
}

int RegisterPoints(const OptionTexts& texts, std::ostream& report, std::ostream& errors,
                   Registration& run) {
  RunSettings settings;
  OptionTexts read = texts;
  if (!ReadSettings(read, settings, errors)) return kExitBadInput;
  return RegisterPoints(settings, report, errors, run);
}

namespace {

// Starts making the files' texts. A large run's record costs about as much as the report's
// console lines (most of it the shortest-digit conversion of its numbers), so a second core makes
// the texts while the report prints; the report only reads `run` as well.
std::future<FileTexts> StartFileTexts(const OutputChoice& outputs, const Registration& run) {
  const auto build = [&outputs, &run] { return MakeFileTexts(outputs, run); };
  // A plain run's one short text is not worth a thread.
  if (outputs.recordGiven || outputs.plotGiven || !outputs.distortionPath.empty()) {
    try {
      return std::async(std::launch::async, build);
    } catch (const std::system_error&) {
      // No thread to be had (a process limit): made when they are needed instead.
    }
  }
  return std::async(std::launch::deferred, build);
}

// --help or --version: the text, and whether standard output took it.
int PrintAbout(bool help) {
  const std::string text = help ? UsageText() : std::string(kVersionLine);
  const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
  if (written) return kExitSuccess;
  std::fputs("quorvane: standard output could not take the whole text.\n", stderr);
  return kExitReportCut;
}

int Run(int argc, const char* const* argv) {
#ifdef _WIN32
  // The zip ships proj.db beside quorvane.exe; PROJ's own places are folders of the build machine.
  SetProjDataFolder(ExecutableFolderUtf8());
#endif
  OptionTexts texts;
  const bool complete = ParseCommandLine(argc, argv, texts);
  if (const About about = AboutAsked(texts); about != About::None) {
    return PrintAbout(about == About::Help);
  }
  const ConsoleEncoding encoding = texts.Has(Option::Utf8) ? ConsoleEncoding::Utf8 : ConsoleEncoding::Gbk;
  if (!complete) {
    // An option mistyped is the likeliest cause, and the message names none.
    for (const std::string& unknown : texts.unknown) {
      std::cerr << "quorvane: warning: unknown option " << QuotedField(unknown, 40, encoding)
                << ", ignored\n";
    }
    std::fputs(kBadArgumentsMessage.In(encoding), stdout);
    return kExitBadInput;
  }
  RunSettings settings;
  if (!ReadSettings(texts, settings, std::cerr)) return kExitBadInput;
  const std::string resultPath = ResultFilePath(argv[0]);
  if (!OutputsAreApart(settings, resultPath, std::cerr)) return kExitBadInput;

  Registration run;
  Step step{settings, std::cerr, {}};
  if (!Compute(step, run)) return kExitBadInput;
  std::future<FileTexts> fileTexts;
  if (run.outcome.usable) fileTexts = StartFileTexts(settings.outputs, run);
  const int exitCode = Report(step, run, std::cout, std::cerr);
  if (exitCode != kExitSuccess) return exitCode;

  bool resultWritten = false, recordWritten = false, warned = !run.warnings.empty();
  bool filesWarned = false;
  const int files =
      WriteFiles(settings, fileTexts.get(), resultPath, resultWritten, recordWritten, filesWarned);
  std::fflush(stdout);
  const bool reported = std::cout.good() && !std::ferror(stdout);
  if (files != kExitSuccess) return files;
  if (!reported) {
    std::cerr << "quorvane: standard output was closed before the whole report was written; "
              << (resultWritten ? "quorvane.json was written" : "quorvane.json was not written")
              << (settings.outputs.recordGiven ? " and so was the record" : "") << ".\n";
    return kExitReportCut;
  }
  // --strict fails a run that was warned of anything, as much as one whose pairs fail.
  if (settings.strict && (warned || filesWarned || FailsStrictly(run))) return kExitStrict;
  return kExitSuccess;
}

}  // namespace

int RunRegistration(int argc, const char* const* argv) {
  IgnoreWriteSignals();
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Written without allocating, since there is no memory to be had.
    std::fputs("quorvane: out of memory: the input needs more than this machine can give; no "
               "file was written.\n",
               stderr);
    return kExitOutOfMemory;
  }
}

}  // namespace Quorvane

