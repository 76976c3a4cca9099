#include "app/cli/command_line.h"

#include "app/cli/options.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace Quorvane {

namespace {

// Pair numbers longer than this cannot be below any list's size and are refused unread.
constexpr std::size_t kLongestPairNumber = 18;

// The suffixes that leave a pair out of one component of the site model only.
constexpr char kComponentSuffix[] = {'h', 'v'};

}  // namespace

bool OptionTexts::Has(Option option) const {
  const std::size_t k = static_cast<std::size_t>(option);
  asked_.set(k);
  return seen_.test(k) || (option == Option::RefSrc && !sourceText.empty()) ||
         (option == Option::RefDes && !destinationText.empty());
}

const std::string& OptionTexts::Value(Option option) const {
  asked_.set(static_cast<std::size_t>(option));
  if (option == Option::RefSrc) return sourceText;
  if (option == Option::RefDes) return destinationText;
  return values_[static_cast<std::size_t>(option)];
}

void OptionTexts::Set(Option option, std::string value) {
  const std::size_t k = static_cast<std::size_t>(option);
  seen_.set(k);
  std::string& held = option == Option::RefSrc   ? sourceText
                      : option == Option::RefDes ? destinationText
                                                 : values_[k];
  held = std::move(value);
}

std::string OptionTexts::Take(Option option) {
  asked_.set(static_cast<std::size_t>(option));
  return std::move(values_[static_cast<std::size_t>(option)]);
}

bool ParseCommandLine(int argc, const char* const* argv, OptionTexts& texts) {
  texts = OptionTexts{};
  for (int i = 1; i < argc; ++i) {
    const OptionSpec* option = FindOption(argv[i]);
    if (option == nullptr) {
      if (std::strncmp(argv[i], "--", 2) == 0) texts.unknown.push_back(argv[i]);
      continue;
    }
    // The value is consumed here, so the scan never takes it for an option; a trailing option
    // has an empty value, which replaces any earlier one.
    texts.Set(option->id, option->value == nullptr || i + 1 >= argc ? "" : argv[++i]);
  }
  return (!texts.sourceText.empty() || texts.Has(Option::RefSrcFile)) &&
         (!texts.destinationText.empty() || texts.Has(Option::RefDesFile));
}

About AboutAsked(const OptionTexts& texts) {
  // Both are asked for, so that a reader of the table sees that both are read.
  const bool help = texts.Has(Option::Help);
  const bool version = texts.Has(Option::Version);
  return help ? About::Help : version ? About::Version : About::None;
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
