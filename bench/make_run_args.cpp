// Writes the command line of one whole run of the tool, one argument per line, for time_runs:
//   make_run_args PAIRS TOOL          TOOL, --refsrc, the source list, --refdes, the destination
//                                     list, with PAIRS points in each (at most 4369, the most one
//                                     argument holds)
//   make_run_args PAIRS TOOL FOLDER   the same points written to FOLDER/source.txt and
//                                     FOLDER/destination.txt, one point per line, and TOOL,
//                                     --refsrc-file, --refdes-file with those paths; any PAIRS
//   make_run_args PAIRS TOOL FOLDER KIND
//                                     the same with the destination spoilt, into files of
//                                     KIND's name: "blunders" moves every hundredth destination
//                                     point by 0.2 to 2 m north, "collapsed" puts every
//                                     destination point on the first one; "epochs" gives the
//                                     source file an epoch column (2011 to 2024), for --rates
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>

#include "bench/networks.h"

namespace {

// A list as a point file: every third comma ends a line.
// With `epochs`, under a header and with each point's epoch after it.
void WritePointFile(const std::string& path, std::string list, bool epochs = false) {
  std::size_t field = 0;
  std::string lines = epochs ? "lon,lat,h,epoch\n" : "";
  for (const char c : list) {
    if (c != ',' || ++field % 3 != 0) {
      lines += c;
      continue;
    }
    if (epochs) lines += "," + std::to_string(2011 + field / 3 % 14) + ".5";
    lines += '\n';
  }
  if (epochs) lines += "," + std::to_string(2011 + (field + 1) / 3 % 14) + ".5";
  std::ofstream out(path, std::ios::binary);
  out << lines << '\n';
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace

// The destination list with blunders or all on one spot, as the benchmarks of snooping and of
// inputs without a best fit take it.
std::string Spoilt(const std::string& destination, const std::string& kind) {
  std::string spoilt;
  std::size_t start = 0;
  char text[64];
  double first[3] = {0.0, 0.0, 0.0};
  for (std::size_t point = 0; start < destination.size(); ++point) {
    double p[3];
    for (double& value : p) {
      const std::size_t comma = std::min(destination.find(',', start), destination.size());
      value = std::strtod(destination.c_str() + start, nullptr);
      start = comma + 1;
    }
    if (point == 0) std::copy(p, p + 3, first);
    if (kind == "collapsed") {
      std::copy(first, first + 3, p);
    } else if (point % 100 == 37) {
      // 0.2 to 2 m north, a degree of latitude being 111 km.
      p[1] += (0.2 + 1.8 * static_cast<double>(point % 1000) / 1000.0) / 111000.0;
    }
    std::snprintf(text, sizeof text, "%s%.9f,%.9f,%.4f", spoilt.empty() ? "" : ",", p[0], p[1],
                  p[2]);
    spoilt += text;
  }
  return spoilt;
}

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fputs("usage: make_run_args PAIRS TOOL [FOLDER [blunders|collapsed|epochs]]\n", stderr);
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
      const std::string kind = argc == 5 ? argv[4] : "";
      if (!kind.empty() && kind != "blunders" && kind != "collapsed" && kind != "epochs") {
        throw std::invalid_argument("unknown kind " + kind);
      }
      const bool epochs = kind == "epochs";
      const std::string source = epochs ? "epochs" : "source";
      const std::string destination = kind.empty() || epochs ? "destination" : kind;
      WritePointFile(folder + "/" + source + ".txt", texts.source, epochs);
      WritePointFile(folder + "/" + destination + ".txt",
                     kind.empty() || epochs ? texts.destination : Spoilt(texts.destination, kind));
      std::printf("%s\n--refsrc-file\n%s/%s.txt\n--refdes-file\n%s/%s.txt\n", argv[2],
                  folder.c_str(), source.c_str(), folder.c_str(), destination.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_run_args: %s\n", e.what());
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
