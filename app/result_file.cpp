#include "app/result_file.h"

#include <cmath>
#include <cstdio>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace Quorvane {

namespace {

// π as the double the result file's degrees are computed with.
constexpr double kPi = 3.141592653589793;

double Degrees(double radians) { return radians * 180.0 / kPi; }

// RapidJSON's default Writer refuses NaN and infinity after writing the separator in front of
// them, which would leave invalid JSON; null keeps the text valid.
void WriteNumber(rapidjson::Writer<rapidjson::StringBuffer>& writer, double value) {
  if (std::isfinite(value)) {
    writer.Double(value);
  } else {
    writer.Null();
  }
}

}  // namespace

std::string BuildResultJson(const TransformParams& params) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("offset");
  writer.StartArray();
  WriteNumber(writer, params.tx);
  WriteNumber(writer, params.ty);
  WriteNumber(writer, params.tz);
  writer.EndArray();
  writer.Key("rotate");
  writer.StartArray();
  WriteNumber(writer, Degrees(params.rx));
  WriteNumber(writer, Degrees(params.ry));
  WriteNumber(writer, Degrees(params.rz));
  writer.EndArray();
  writer.Key("scale");
  WriteNumber(writer, params.scale);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
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
