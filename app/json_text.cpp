#include "app/json_text.h"

#include <cmath>

#include <rapidjson/internal/dtoa.h>
#include <rapidjson/writer.h>

namespace Quorvane {

namespace {

// Collects what a rapidjson::Writer puts out in a std::string.
class TextOutput {
 public:
  using Ch = char;
  explicit TextOutput(std::string& text) : text_(text) {}
  void Put(char c) { text_.push_back(c); }
  void Flush() {}

 private:
  std::string& text_;
};

}  // namespace

// Each value gets a Writer of its own as a single root value, into a TextOutput: a Writer pushes
// onto its stack of open objects and arrays, and a StringBuffer onto its character stack, both
// of which in RapidJSON 1.1 start as null pointers that the first push offsets before anything is
// allocated, which is undefined behaviour. A root number or string touches neither.
void AppendJsonNumber(std::string& json, double value) {
  // The default Writer refuses NaN and infinity, and null keeps the text valid JSON.
  if (!std::isfinite(value)) {
    json += "null";
    return;
  }
  // Writer::Double writes exactly what internal::dtoa gives at the Writer's default of 324
  // decimal places (Grisu2, then RapidJSON's exponent rules), one character at a time; calling it
  // directly gives the same text at a fraction of the cost, which a record of thousands of pairs
  // feels.
  char text[32];  // dtoa needs at most 25
  json.append(text, rapidjson::internal::dtoa(value, text,
                                              rapidjson::Writer<TextOutput>::kDefaultMaxDecimalPlaces));
}

void AppendJsonInteger(std::string& json, std::int64_t value) {
  TextOutput output(json);
  rapidjson::Writer<TextOutput> writer(output);
  writer.Int64(value);
}

void AppendJsonString(std::string& json, const std::string& text) {
  TextOutput output(json);
  rapidjson::Writer<TextOutput> writer(output);
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void AppendJsonTriple(std::string& json, double a, double b, double c) {
  json += '[';
  AppendJsonNumber(json, a);
  json += ',';
  AppendJsonNumber(json, b);
  json += ',';
  AppendJsonNumber(json, c);
  json += ']';
}

void AppendResultMember(std::string& json, const ResultMember& member) {
  if (!member.text.empty()) {
    AppendJsonString(json, member.text);
    return;
  }
  if (!member.array && member.numbers.size() == 1) {
    if (member.integer) {
      AppendJsonInteger(json, static_cast<std::int64_t>(member.numbers[0]));
    } else {
      AppendJsonNumber(json, member.numbers[0]);
    }
    return;
  }
  json += '[';
  for (std::size_t k = 0; k < member.numbers.size(); ++k) {
    if (k > 0) json += ',';
    AppendJsonNumber(json, member.numbers[k]);
  }
  json += ']';
}

}  // namespace Quorvane
