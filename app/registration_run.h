// One registration, from the command line to the result file.
#pragma once

namespace Quorvane {

/// Exit codes of a run. kExitBadInput is returned from main, so the shell sees 255.
constexpr int kExitSuccess = 0;
constexpr int kExitBadInput = -1;

/// Runs the tool once with the process arguments and returns the process exit code.
int RunRegistration(int argc, const char* const* argv);

}  // namespace Quorvane
