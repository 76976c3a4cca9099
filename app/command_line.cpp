#include "app/command_line.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace Quorvane {

namespace {

// Options that take the next argument as their value, and the text each one fills.
struct ValueOption {
  const char* name;
  std::string OptionTexts::*text;
  bool OptionTexts::*seen;  // or nullptr
};
const ValueOption kValueOptions[] = {
    {"--refsrc", &OptionTexts::sourceText, &OptionTexts::sourceGiven},
    {"--refdes", &OptionTexts::destinationText, &OptionTexts::destinationGiven},
    {"--exclude", &OptionTexts::excludeText, &OptionTexts::excludeGiven},
    {"--apply", &OptionTexts::applyText, &OptionTexts::applyGiven},
    {"--record", &OptionTexts::recordPath, &OptionTexts::recordGiven},
    {"--refsrc-file", &OptionTexts::sourceFile, &OptionTexts::sourceFileGiven},
    {"--refdes-file", &OptionTexts::destinationFile, &OptionTexts::destinationFileGiven},
    {"--apply-file", &OptionTexts::applyFile, &OptionTexts::applyFileGiven},
    {"--plot", &OptionTexts::plotPath, &OptionTexts::plotGiven},
};

struct FlagOption {
  const char* name;
  bool OptionTexts::*flag;
};
const FlagOption kFlagOptions[] = {
    {"--quality", &OptionTexts::quality},
    {"--snoop", &OptionTexts::snoop},
    {"--help", &OptionTexts::help},
    {"--version", &OptionTexts::version},
    {"--utf8", &OptionTexts::utf8},
};

// Pair numbers longer than this cannot be below any list's size and are refused unread.
constexpr std::size_t kLongestPairNumber = 18;

}  // namespace

// Cutting a long field keeps one bad value of a megabyte from becoming a megabyte of standard
// error.
std::string QuotedField(const std::string& field, std::size_t longest) {
  std::string quoted = "\"";
  const std::size_t shown = std::min(field.size(), longest);
  for (std::size_t k = 0; k < shown; ++k) {
    const unsigned char c = static_cast<unsigned char>(field[k]);
    if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') {
      static const char kHex[] = "0123456789abcdef";
      quoted += "\\x";
      quoted += kHex[c >> 4];
      quoted += kHex[c & 0xf];
    } else {
      quoted += static_cast<char>(c);
    }
  }
  quoted += shown < field.size() ? "\"..." : "\"";
  return quoted;
}

bool ParseCommandLine(int argc, const char* const* argv, OptionTexts& texts) {
  texts = OptionTexts{};
  for (int i = 1; i < argc; ++i) {
    std::string* target = nullptr;
    for (const ValueOption& option : kValueOptions) {
      if (std::strcmp(argv[i], option.name) == 0) {
        target = &(texts.*option.text);
        if (option.seen != nullptr) texts.*option.seen = true;
        break;
      }
    }
    if (target == nullptr) {
      for (const FlagOption& option : kFlagOptions) {
        if (std::strcmp(argv[i], option.name) == 0) texts.*option.flag = true;
      }
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
  return (!texts.sourceText.empty() || texts.sourceFileGiven) &&
         (!texts.destinationText.empty() || texts.destinationFileGiven);
}

bool ParsePairNumbers(const std::string& text, std::size_t pairCount,
                      std::vector<std::size_t>& pairs, std::string& problem) {
  pairs.clear();
  std::vector<bool> taken(pairCount, false);
  std::size_t start = 0;
  for (std::size_t field = 1;; ++field) {
    const std::size_t comma = text.find(',', start);
    const std::size_t end = comma == std::string::npos ? text.size() : comma;
    const std::string number = text.substr(start, end - start);
    const std::string where = "field " + std::to_string(field) + " (" + QuotedField(number) + ")";
    if (number.empty()) {
      problem = "field " + std::to_string(field) + " is empty";
      return false;
    }
    if (number.find_first_not_of("0123456789") != std::string::npos) {
      problem = where + " is not a whole number";
      return false;
    }
    const std::size_t digits = number.find_first_not_of('0');
    const unsigned long long value =
        digits == std::string::npos || number.size() - digits > kLongestPairNumber
            ? (digits == std::string::npos ? 0 : ~0ull)
            : std::stoull(number.substr(digits));
    if (value < 1 || value > pairCount) {
      problem = where + " is not a pair number from 1 to " + std::to_string(pairCount);
      return false;
    }
    if (taken[value - 1]) {
      problem = where + " repeats pair " + std::to_string(value);
      return false;
    }
    taken[value - 1] = true;
    pairs.push_back(static_cast<std::size_t>(value - 1));
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
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
