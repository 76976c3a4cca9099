// One registration, from the command line to the files.
#pragma once

#include <ostream>

#include "app/cli/command_line.h"
#include "app/cli/exit_codes.h"
#include "app/run/registration.h"
#include "app/cli/run_settings.h"

namespace Quorvane {

/// Everything of a run between the command line and the files, in two steps. Computing: reads the
/// point lists from their texts or files (refusing a list given both ways, and a file that
/// cannot be read or holds a line that is not a point), pairs the points (by name when both
/// lists name them, refusing names missing or repeated; by order otherwise, refusing a source
/// point without its destination point), checks that --exclude names pairs, makes the frame of
/// the model (about the paired destination points, or the destination's grid, or geocentric
/// space) and takes both lists into it, refuses pairs without finite coordinates there or
/// outside the projection's domain, fits the model to the pairs not excluded (and with --snoop
/// removes blunders), carries the --apply points into the destination system and refuses any
/// that come out not finite or outside the domain: `run` is then complete. Writing: the warnings
/// about the input and the fit to `errors`, one line each, then the console report to `report`,
/// followed, for a usable fit, by the quality block when asked for and the transformed points,
/// with the Chinese labels in UTF-8 for --utf8 and in GBK otherwise. A refusal is one line on
/// `errors` and nothing on `report`. Returns kExitSuccess, kExitBadInput or kExitNoResult.
int RegisterPoints(const RunSettings& settings, std::ostream& report, std::ostream& errors,
                   Registration& run);

/// The same from the option texts, read into RunSettings first (a value that cannot be used is
/// refused as ReadSettings says).
int RegisterPoints(const OptionTexts& texts, std::ostream& report, std::ostream& errors,
                   Registration& run);


/// Whether --strict fails a run: a fitted pair still flagged by the blunder test of a component,
/// or beyond a tolerance.
bool FailsStrictly(const Registration& run);

/// Runs the tool once with the process arguments and returns the process exit code. --help or
/// --version anywhere as an option prints the usage text or the version line and does nothing
/// else (--help first); otherwise: command line → an output path that is the same file as an
/// input or another output refused → RegisterPoints on standard output and standard error →
/// quorvane.json beside the executable, the record at the --record path and the picture at the
/// --plot path, each written whole or not at all. A quorvane.json that cannot be written is a
/// warning (unless the record was written); each of the other two that cannot be written is said
/// in one line, with what was written, and makes the exit code kExitFileNotWritten. Then a
/// report that standard output could not take whole gives kExitReportCut, and --strict with a
/// flagged pair kExitStrict. Writing to a closed pipe does not end the process, and running out
/// of memory is one line and kExitOutOfMemory.
int RunRegistration(int argc, const char* const* argv);

}  // namespace Quorvane
