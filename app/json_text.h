// Pieces of JSON text, appended to a std::string: what the result file and the record are made of.
#pragma once

#include <cstdint>
#include <string>

#include "estimation/model.h"

namespace Quorvane {

/// Appends `value` as RapidJSON's Writer writes a double (the shortest text that reads back to
/// the same double: 1.0, -0.0, 1e-7, 1e21), or null when it is not finite.
void AppendJsonNumber(std::string& json, double value);

/// Appends `value` as a JSON integer.
void AppendJsonInteger(std::string& json, std::int64_t value);

/// Appends `text` as a JSON string, quoted and escaped by RapidJSON's Writer; bytes that are not
/// valid UTF-8 are written as they are.
void AppendJsonString(std::string& json, const std::string& text);

/// Appends [a,b,c], each as AppendJsonNumber writes it.
void AppendJsonTriple(std::string& json, double a, double b, double c);

/// Appends a model's member's value: its text as a string, its numbers as one number (a whole one
/// as an integer) or as an array.
void AppendResultMember(std::string& json, const ResultMember& member);

}  // namespace Quorvane
