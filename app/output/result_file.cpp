#include "app/output/result_file.h"

#include <string>

#include "app/output/json_text.h"

namespace Quorvane {

std::string BuildResultJson(const TransformModel& model, const ModelParameters& params) {
  std::string text;
  JsonWriter json(text);
  json.StartObject();
  for (const ResultMember& member : model.ResultMembers(params)) {
    json.Key(member.name);
    json.Member(member);
  }
  json.EndObject();
  return text;
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

bool WriteTextFile(const std::string& path, const std::string& text, std::string& reason) {
  return ReplaceFileContents(path, text, reason);
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::string reason;
  return WriteTextFile(path, text, reason);
}

}  // namespace Quorvane
