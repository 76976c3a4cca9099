// One registration, from the command line to the result file.
#pragma once

#include <ostream>

#include "app/command_line.h"
#include "estimation/fit_transform.h"

namespace Quorvane {

/// Exit codes of a run. kExitBadInput is returned from main, so the shell sees 255.
constexpr int kExitSuccess = 0;    // fitted; report printed, quorvane.json written
constexpr int kExitBadInput = -1;  // incomplete command line, or points that cannot be paired or
                                   // projected: nothing on standard output but the GBK message
                                   // for an incomplete command line, no result file
constexpr int kExitNoResult = 1;   // the solver gave no usable result: report printed, no file

/// Everything of a run between the command line and the result file: parses both texts, checks
/// that every source point has a destination point, projects both lists, refuses pairs without
/// finite plane coordinates, fits `params`, and writes the console report to `report`. Reasons
/// for refusing the input or the fit go to `errors` as one line each; nothing reaches `report`
/// for refused input. Returns kExitSuccess (and `params` holds the fit), kExitBadInput or
/// kExitNoResult.
int RegisterPoints(const OptionTexts& texts, std::ostream& report, std::ostream& errors,
                   TransformParams& params);

/// Runs the tool once with the process arguments and returns the process exit code:
/// command line → source and destination point lists → both projected on WGS 84 about the mean
/// longitude and latitude of all destination points, with no false origin → fit → console
/// report → quorvane.json beside the executable. Faults in the input are reported on standard
/// error before anything is written to standard output.
int RunRegistration(int argc, const char* const* argv);

}  // namespace Quorvane
