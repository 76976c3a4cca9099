// The exit codes of a run. The README's table says in full what each means; --help and the
// manual page give the line of kExitCodes and point to it.
#pragma once

namespace Quorvane {

/// kExitBadInput is returned from main, so the shell sees 255.
constexpr int kExitSuccess = 0;    // fitted; report printed, quorvane.json written if it could be
constexpr int kExitBadInput = -1;  // incomplete command line, or points or options that cannot
                                   // be used: nothing on standard output but the message for an
                                   // incomplete command line, no file written
constexpr int kExitNoResult = 1;   // the solver gave no usable result: report printed, no file
constexpr int kExitFileNotWritten = 2;  // fitted and reported, but a file named on the command
                                        // line (--record, --plot) could not be written
constexpr int kExitStrict = 3;  // --strict: everything as for 0, but a fitted pair is still
                                // flagged by the blunder test or beyond a tolerance, or the run
                                // warned
constexpr int kExitReportCut = 4;  // fitted and the files written, but standard output could not
                                   // take the whole report (a closed pipe)
constexpr int kExitOutOfMemory = 5;  // the input needs more memory than there is: one line on
                                     // standard error, no file written that was not already

/// Each exit status as --help and the manual page list it: the status the shell sees and what
/// it means, in the README table's words (ASCII).
struct ExitCodeLine {
  int status;
  const char* meaning;
};
constexpr ExitCodeLine kExitCodes[] = {
    {0, "fitted: report printed, quorvane.json written"},
    {1, "the solver gave no usable result: report printed, nothing written"},
    {2, "fitted, but the --record, --plot or --distortion-file file could not be written"},
    {3, "fitted and written, but with --strict a fitted pair is still flagged or beyond a "
        "tolerance, or the run printed a warning"},
    {4, "fitted and written, but standard output was closed before the whole report was "
        "written"},
    {5, "out of memory: the input is too large for this machine"},
    {255, "incomplete command line, or points or options that cannot be used: nothing printed "
          "on standard output but the message for an incomplete command line, nothing written"},
};

}  // namespace Quorvane
