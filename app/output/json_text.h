// JSON text as the result file and the record are written: RapidJSON's Writer, into a
// std::string.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/point_list.h"
#include "estimation/model.h"

namespace Quorvane {

/// RapidJSON's Writer with its default settings (no whitespace; a double as the shortest text
/// that reads back to it: 1.0, -0.0, 1e-7, 1e21), appending to a string, with what the tool's
/// files need besides: null for a number that is not finite (the Writer refuses those), and
/// JSON text from elsewhere taken as a value (PROJ's PROJJSON).
class JsonWriter {
 public:
  explicit JsonWriter(std::string& out);
  ~JsonWriter();
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void StartObject();
  void EndObject();
  void StartArray();
  void EndArray();
  void Key(const char* key);
  void Key(const std::string& key);
  /// A double, or null when it is not finite.
  void Number(double value);
  /// A number when `known`, else null.
  void NumberOrNull(bool known, double value);
  void Integer(std::int64_t value);
  /// Text, quoted and escaped; bytes that are not valid UTF-8 are written as they are.
  void String(const std::string& text);
  void Bool(bool value);
  void Null();
  /// [x, y, z].
  void Triple(const Point3& point);
  /// A JSON value given as its text, written as it is.
  void Raw(const std::string& json);
  /// A model's member: its text as a string, its numbers as one number (a whole one as an
  /// integer) or as an array.
  void Member(const ResultMember& member);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Quorvane
