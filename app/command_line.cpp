#include "app/command_line.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace Quorvane {

namespace {

// Options that take the next argument as their value: where the value goes, and the flag that
// records that the option was seen (or nullptr).
struct ValueOption {
  const char* name;
  std::string& (*value)(OptionTexts&);
  bool* (*seen)(OptionTexts&);
};
const ValueOption kValueOptions[] = {
    {"--refsrc", [](OptionTexts& t) -> std::string& { return t.sourceText; },
     [](OptionTexts& t) { return &t.input.sourceGiven; }},
    {"--refdes", [](OptionTexts& t) -> std::string& { return t.destinationText; },
     [](OptionTexts& t) { return &t.input.destinationGiven; }},
    {"--exclude", [](OptionTexts& t) -> std::string& { return t.model.exclude; },
     [](OptionTexts& t) { return &t.model.excludeGiven; }},
    {"--apply", [](OptionTexts& t) -> std::string& { return t.input.applyText; },
     [](OptionTexts& t) { return &t.input.applyGiven; }},
    {"--record", [](OptionTexts& t) -> std::string& { return t.output.recordPath; },
     [](OptionTexts& t) { return &t.output.recordGiven; }},
    {"--refsrc-file", [](OptionTexts& t) -> std::string& { return t.input.sourceFile; },
     [](OptionTexts& t) { return &t.input.sourceFileGiven; }},
    {"--refdes-file", [](OptionTexts& t) -> std::string& { return t.input.destinationFile; },
     [](OptionTexts& t) { return &t.input.destinationFileGiven; }},
    {"--apply-file", [](OptionTexts& t) -> std::string& { return t.input.applyFile; },
     [](OptionTexts& t) { return &t.input.applyFileGiven; }},
    {"--plot", [](OptionTexts& t) -> std::string& { return t.output.plotPath; },
     [](OptionTexts& t) { return &t.output.plotGiven; }},
    {"--model", [](OptionTexts& t) -> std::string& { return t.model.model; },
     [](OptionTexts& t) { return &t.model.modelGiven; }},
    {"--vertical", [](OptionTexts& t) -> std::string& { return t.model.vertical; },
     [](OptionTexts& t) { return &t.model.verticalGiven; }},
    {"--convention", [](OptionTexts& t) -> std::string& { return t.model.convention; },
     [](OptionTexts& t) { return &t.model.conventionGiven; }},
    {"--tolerance-h", [](OptionTexts& t) -> std::string& { return t.model.toleranceHorizontal; },
     [](OptionTexts& t) { return &t.model.toleranceHorizontalGiven; }},
    {"--tolerance-v", [](OptionTexts& t) -> std::string& { return t.model.toleranceVertical; },
     [](OptionTexts& t) { return &t.model.toleranceVerticalGiven; }},
    {"--source-ellipsoid", [](OptionTexts& t) -> std::string& { return t.plane.sourceEllipsoid; },
     [](OptionTexts& t) { return &t.plane.sourceEllipsoidGiven; }},
    {"--destination-ellipsoid",
     [](OptionTexts& t) -> std::string& { return t.plane.destinationEllipsoid; },
     [](OptionTexts& t) { return &t.plane.destinationEllipsoidGiven; }},
    {"--grid", [](OptionTexts& t) -> std::string& { return t.plane.grid; },
     [](OptionTexts& t) { return &t.plane.gridGiven; }},
};

struct FlagOption {
  const char* name;
  bool* (*flag)(OptionTexts&);
};
const FlagOption kFlagOptions[] = {
    {"--quality", [](OptionTexts& t) { return &t.output.quality; }},
    {"--snoop", [](OptionTexts& t) { return &t.model.snoop; }},
    {"--help", [](OptionTexts& t) { return &t.output.help; }},
    {"--version", [](OptionTexts& t) { return &t.output.version; }},
    {"--utf8", [](OptionTexts& t) { return &t.output.utf8; }},
    {"--fix-scale", [](OptionTexts& t) { return &t.model.fixScale; }},
    {"--strict", [](OptionTexts& t) { return &t.model.strict; }},
    {"--packed-dms", [](OptionTexts& t) { return &t.input.packedDms; }},
};

// Pair numbers longer than this cannot be below any list's size and are refused unread.
constexpr std::size_t kLongestPairNumber = 18;

// The suffixes that leave a pair out of one component of the site model only.
constexpr char kComponentSuffix[] = {'h', 'v'};

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, OptionTexts& texts) {
  texts = OptionTexts{};
  for (int i = 1; i < argc; ++i) {
    const ValueOption* value = nullptr;
    for (const ValueOption& option : kValueOptions) {
      if (std::strcmp(argv[i], option.name) == 0) {
        value = &option;
        break;
      }
    }
    if (value == nullptr) {
      bool known = false;
      for (const FlagOption& option : kFlagOptions) {
        if (std::strcmp(argv[i], option.name) == 0) *option.flag(texts) = known = true;
      }
      if (!known && std::strncmp(argv[i], "--", 2) == 0) texts.unknown.push_back(argv[i]);
      continue;
    }
    *value->seen(texts) = true;
    if (i + 1 < argc) {
      // The value is consumed here, so the scan never takes it for an option.
      value->value(texts) = argv[++i];
    } else {
      // A trailing option has an empty value, which replaces any earlier one.
      value->value(texts).clear();
    }
  }
  return (!texts.sourceText.empty() || texts.input.sourceFileGiven) &&
         (!texts.destinationText.empty() || texts.input.destinationFileGiven);
}

bool ParseExclusions(const std::string& text, std::size_t pairCount,
                     const std::vector<std::string>& names, std::size_t components,
                     ConsoleEncoding encoding, Exclusions& excluded, std::string& problem) {
  excluded.assign(components, std::vector<bool>(pairCount, false));
  // Names compare as UTF-8, as the files' names are kept; an argument in GBK (Windows) too.
  std::string converted;
  const std::string& utf8 = ToUtf8(text, converted) ? converted : text;
  const auto byName = [&](const std::string& field) {
    const auto at = std::find(names.begin(), names.end(), field);
    return at == names.end() ? pairCount : static_cast<std::size_t>(at - names.begin());
  };
  std::size_t start = 0;
  for (std::size_t field = 1;; ++field) {
    const std::size_t comma = utf8.find(',', start);
    const std::size_t end = comma == std::string::npos ? utf8.size() : comma;
    std::string item = utf8.substr(start, end - start);
    const std::string where =
        "field " + std::to_string(field) + " (" + QuotedField(item, 40, encoding) + ")";
    if (item.empty()) {
      problem = "field " + std::to_string(field) + " is empty";
      return false;
    }
    // Which components: all, or the one a suffix names (only where there are several).
    std::size_t only = components;
    std::size_t pair = byName(item);
    if (pair == pairCount && components > 1) {
      for (std::size_t c = 0; c < components && c < sizeof kComponentSuffix; ++c) {
        if (item.size() > 1 && item.back() == kComponentSuffix[c]) {
          only = c;
          item.pop_back();
          pair = byName(item);
          break;
        }
      }
    }
    if (pair == pairCount) {
      if (item.find_first_not_of("0123456789") != std::string::npos) {
        problem = where + (names.empty() ? " is not a whole number"
                                         : " is neither a whole number nor a point name");
        return false;
      }
      const std::size_t digits = item.find_first_not_of('0');
      const unsigned long long value =
          digits == std::string::npos || item.size() - digits > kLongestPairNumber
              ? (digits == std::string::npos ? 0 : ~0ull)
              : std::stoull(item.substr(digits));
      if (value < 1 || value > pairCount) {
        problem = where + " is not a pair number from 1 to " + std::to_string(pairCount);
        return false;
      }
      pair = static_cast<std::size_t>(value - 1);
    }
    for (std::size_t c = 0; c < components; ++c) {
      if (only != components && c != only) continue;
      if (excluded[c][pair]) {
        problem = where + " repeats pair " + std::to_string(pair + 1);
        return false;
      }
      excluded[c][pair] = true;
    }
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
