// Writes the command line of one whole run of the tool, one argument per line, for time_runs:
//   make_run_args PAIRS TOOL          TOOL, --refsrc, the source list, --refdes, the destination
//                                     list, with PAIRS points in each (at most 4369, the most one
//                                     argument holds)
//   make_run_args PAIRS TOOL FOLDER   the same points written to FOLDER/source.txt and
//                                     FOLDER/destination.txt, one point per line, and TOOL,
//                                     --refsrc-file, --refdes-file with those paths; any PAIRS
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>

#include "bench/networks.h"

namespace {

// A list as a point file: every third comma ends a line.
void WritePointFile(const std::string& path, std::string list) {
  std::size_t field = 0;
  for (char& c : list) {
    if (c == ',' && ++field % 3 == 0) c = '\n';
  }
  std::ofstream out(path, std::ios::binary);
  out << list << '\n';
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fputs("usage: make_run_args PAIRS TOOL [FOLDER]\n", stderr);
    return 2;
  }
  try {
    const std::size_t pairs = std::strtoul(argv[1], nullptr, 10);
    if (argc == 3) {
      const QuorvaneBench::ArgumentTexts texts = QuorvaneBench::MakeArgumentTexts(pairs);
      std::printf("%s\n--refsrc\n%s\n--refdes\n%s\n", argv[2], texts.source.c_str(),
                  texts.destination.c_str());
    } else {
      const QuorvaneBench::ArgumentTexts texts = QuorvaneBench::MakeListTexts(pairs);
      const std::string folder = argv[3];
      WritePointFile(folder + "/source.txt", texts.source);
      WritePointFile(folder + "/destination.txt", texts.destination);
      std::printf("%s\n--refsrc-file\n%s/source.txt\n--refdes-file\n%s/destination.txt\n",
                  argv[2], folder.c_str(), folder.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_run_args: %s\n", e.what());
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
