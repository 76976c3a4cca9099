// The one place the Writer template is instantiated. RapidJSON 1.1's internal stack does pointer
// arithmetic on its null buffer before the first allocation (stackTop_ + n with stackTop_ null,
// fixed upstream after 1.1), which clang's UndefinedBehaviorSanitizer reports as an offset
// applied to a null pointer; the sanitizer builds leave that one check out of this file (see
// app/CMakeLists.txt) and keep every other.
#include "app/output/json_text.h"

#include <cmath>

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

struct JsonWriter::Impl {
  explicit Impl(std::string& out) : output(out), writer(output) {}
  TextOutput output;
  rapidjson::Writer<TextOutput> writer;
};

JsonWriter::JsonWriter(std::string& out) : impl_(std::make_unique<Impl>(out)) {}

JsonWriter::~JsonWriter() = default;

void JsonWriter::StartObject() { impl_->writer.StartObject(); }
void JsonWriter::EndObject() { impl_->writer.EndObject(); }
void JsonWriter::StartArray() { impl_->writer.StartArray(); }
void JsonWriter::EndArray() { impl_->writer.EndArray(); }

void JsonWriter::Key(const char* key) { impl_->writer.Key(key); }

void JsonWriter::Key(const std::string& key) {
  impl_->writer.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
}

void JsonWriter::Number(double value) {
  if (std::isfinite(value)) {
    impl_->writer.Double(value);
  } else {
    impl_->writer.Null();
  }
}

void JsonWriter::NumberOrNull(bool known, double value) {
  if (known) {
    Number(value);
  } else {
    Null();
  }
}

void JsonWriter::Integer(std::int64_t value) { impl_->writer.Int64(value); }

void JsonWriter::String(const std::string& text) {
  impl_->writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void JsonWriter::Bool(bool value) { impl_->writer.Bool(value); }

void JsonWriter::Null() { impl_->writer.Null(); }

void JsonWriter::Triple(const Point3& point) {
  StartArray();
  Number(point.x);
  Number(point.y);
  Number(point.z);
  EndArray();
}

void JsonWriter::Raw(const std::string& json) {
  impl_->writer.RawValue(json.data(), json.size(), rapidjson::kObjectType);
}

void JsonWriter::Member(const ResultMember& member) {
  if (!member.text.empty()) {
    String(member.text);
  } else if (!member.array && member.numbers.size() == 1) {
    if (member.integer) {
      Integer(static_cast<std::int64_t>(member.numbers[0]));
    } else {
      Number(member.numbers[0]);
    }
  } else {
    StartArray();
    for (const double number : member.numbers) Number(number);
    EndArray();
  }
}

}  // namespace Quorvane
