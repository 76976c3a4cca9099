#include "app/command_line.h"

#include <cstdlib>
#include <cstring>

namespace Quorvane {

namespace {

constexpr char kSourceOption[] = "--refsrc";
constexpr char kDestinationOption[] = "--refdes";

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, OptionTexts& texts) {
  texts = OptionTexts{};
  for (int i = 1; i < argc; ++i) {
    std::string* target = nullptr;
    if (std::strcmp(argv[i], kSourceOption) == 0) {
      target = &texts.sourceText;
    } else if (std::strcmp(argv[i], kDestinationOption) == 0) {
      target = &texts.destinationText;
    } else {
      continue;
    }
    if (i + 1 < argc) {
      // The value is consumed here, so the scan never takes it for an option.
      *target = argv[++i];
    } else {
      // A trailing option has an empty value, which replaces any earlier one.
      target->clear();
    }
  }
  return !texts.sourceText.empty() && !texts.destinationText.empty();
}

void ParsePointList(const std::string& text, PointList& list) {
  if (text.empty() || !list.empty()) {
    return;
  }
  // The remainder is walked by position instead of being copied after every field, so a long
  // list costs linear time; the fields come out exactly as cutting at each "," would give them.
  double group[3] = {0.0, 0.0, 0.0};
  int fieldCounter = 0;
  std::string field;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::size_t end = comma == std::string::npos ? text.size() : comma;
    field.assign(text, start, end - start);
    start = comma == std::string::npos ? text.size() : comma + 1;

    group[fieldCounter] = std::atof(field.c_str());
    if (++fieldCounter == 3) {
      list.emplace_back(group[0], group[1], group[2]);
      fieldCounter = 0;
    }
  }
}

}  // namespace Quorvane
