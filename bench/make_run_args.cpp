// Writes the command line of one whole run of the tool, one argument per line, for time_runs:
//   make_run_args PAIRS TOOL
// gives TOOL, --refsrc, the source list, --refdes, the destination list, with PAIRS points in
// each list (MakeArgumentTexts: at most 4369, the most one argument holds).
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "bench/networks.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: make_run_args PAIRS TOOL\n", stderr);
    return 2;
  }
  try {
    const QuorvaneBench::ArgumentTexts texts =
        QuorvaneBench::MakeArgumentTexts(std::strtoul(argv[1], nullptr, 10));
    std::printf("%s\n--refsrc\n%s\n--refdes\n%s\n", argv[2], texts.source.c_str(),
                texts.destination.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_run_args: %s\n", e.what());
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
