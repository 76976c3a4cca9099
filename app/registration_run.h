// One registration, from the command line to the result file.
#pragma once

namespace Quorvane {

/// Exit codes of a run. kExitBadInput is returned from main, so the shell sees 255.
constexpr int kExitSuccess = 0;    // fitted; report printed, quorvane.json written
constexpr int kExitBadInput = -1;  // incomplete command line, or points that cannot be paired or
                                   // projected: nothing on standard output but the GBK message
                                   // for an incomplete command line, no result file
constexpr int kExitNoResult = 1;   // the solver gave no usable result: report printed, no file

/// Runs the tool once with the process arguments and returns the process exit code:
/// command line → source and destination point lists → both projected on WGS 84 about the mean
/// longitude and latitude of all destination points, with no false origin → fit → console
/// report → quorvane.json beside the executable. Faults in the input are reported on standard
/// error before anything is written to standard output.
int RunRegistration(int argc, const char* const* argv);

}  // namespace Quorvane
