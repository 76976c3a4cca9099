#include "app/result_file.h"

#include <cmath>
#include <cstdio>
#include <string>

#include <rapidjson/writer.h>

namespace Quorvane {

namespace {

// π as the double the result file's degrees are computed with.
constexpr double kPi = 3.141592653589793;

double Degrees(double radians) { return radians * 180.0 / kPi; }

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

// Appends one number as RapidJSON's Writer writes it, or null for a value that is not finite:
// the default Writer refuses NaN and infinity, and null keeps the text valid JSON.
//
// Each number gets a Writer of its own as a single root value, into a TextOutput: a Writer
// pushes onto its stack of open objects and arrays, and a StringBuffer onto its character
// stack, both of which in RapidJSON 1.1 start as null pointers that the first push offsets
// before anything is allocated, which is undefined behaviour. A root number touches neither.
void AppendNumber(std::string& json, double value) {
  if (!std::isfinite(value)) {
    json += "null";
    return;
  }
  TextOutput output(json);
  rapidjson::Writer<TextOutput> writer(output);
  writer.Double(value);
}

void AppendTriple(std::string& json, double a, double b, double c) {
  json += '[';
  AppendNumber(json, a);
  json += ',';
  AppendNumber(json, b);
  json += ',';
  AppendNumber(json, c);
  json += ']';
}

}  // namespace

std::string BuildResultJson(const TransformParams& params) {
  std::string json = "{\"offset\":";
  AppendTriple(json, params.tx, params.ty, params.tz);
  json += ",\"rotate\":";
  AppendTriple(json, Degrees(params.rx), Degrees(params.ry), Degrees(params.rz));
  json += ",\"scale\":";
  AppendNumber(json, params.scale);
  json += '}';
  return json;
}

std::string ResultFilePathFor(const std::string& executablePath, PathStyle style) {
  const char separator = style == PathStyle::Windows ? '\\' : '/';
  const std::size_t cut = executablePath.rfind(separator);
  const std::string directory =
      cut == std::string::npos ? std::string() : executablePath.substr(0, cut + 1);
  if (style == PathStyle::Windows) {
    return directory + "\\" + kResultFileName;
  }
  return directory + kResultFileName;
}

std::string ResultFilePath(const std::string& argument0) {
  std::string executable = ExecutablePath();
  if (executable.empty()) executable = argument0;
  return ResultFilePathFor(executable, kNativePathStyle);
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = text.empty() || std::fwrite(text.data(), text.size(), 1, file) == 1;
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

void WriteResultFile(const TransformParams& params, const std::string& argument0) {
  WriteTextFile(ResultFilePath(argument0), BuildResultJson(params));
}

}  // namespace Quorvane
