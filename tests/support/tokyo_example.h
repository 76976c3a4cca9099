// The README's example, six control points around Tokyo, as the command-line tests give it.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace QuorvaneTest {

/// The example's two lists (examples/tokyo-wgs84-to-tokyo-datum.txt): [0] the --refsrc value in
/// WGS 84, [1] the --refdes value in the Tokyo datum.
inline std::vector<std::string> Tokyo() {
  std::ifstream data(QUORVANE_SOURCE_DIR "/examples/tokyo-wgs84-to-tokyo-datum.txt");
  std::vector<std::string> lists;
  for (std::string line; std::getline(data, line);) {
    if (!line.empty() && line[0] != '#') lists.push_back(line);
  }
  return lists;
}

/// The source list with pair 3's latitude mistyped, 35.714719804 as 35.714791804 (8 m): a blunder
/// the quality block flags.
inline std::string MistypedTokyoSource() {
  std::string source = Tokyo()[0];
  return source.replace(source.find("35.714719804"), 12, "35.714791804");
}

}  // namespace QuorvaneTest
