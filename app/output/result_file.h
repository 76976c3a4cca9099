// The machine-readable result of a run: quorvane.json beside the executable.
#pragma once

#include <string>

#include "app/platform/platform.h"
#include "estimation/model.h"

namespace Quorvane {

/// Name of the result file.
constexpr char kResultFileName[] = "quorvane.json";

/// The result of a fit of `model` as one line of JSON, with no whitespace, no line end and no
/// byte-order mark, its ResultMembers in order: first, for every model,
///   {"offset":[tx,ty,tz],"rotate":[rx,ry,rz],"scale":scale
/// (TransformModel::Figures: offsets in metres and scale as fitted; rotations in degrees, each as
/// value · 180 then ÷ 3.141592653589793), which is all of a similarity's (but "reference" in a
/// grid); the other models then give "model" and their own (the site model
/// "slope":[slopeNorth,slopeEast], no unit), so that no reader takes them for a similarity.
/// Numbers are written by RapidJSON's Writer (shortest text that reads back to the same double,
/// e.g. 1.0, 90.0, -0.0, 1e-7, 1e21). A value that is not finite is written as null, so the text
/// is always valid JSON.
std::string BuildResultJson(const TransformModel& model, const ModelParameters& params);

/// Where the result file of an executable at `executablePath` goes: the directory part of the
/// path (up to and including its last separator) followed by the file name.
/// - Posix: "/opt/q/quorvane" gives "/opt/q/quorvane.json"; a path without '/' gives
///   "quorvane.json", the current directory.
/// - Windows: only '\' separates, and the name is joined with a backslash of its own, which the
///   system reads as one: "C:\tools\reg.exe" gives "C:\tools\\quorvane.json"; a path without
///   '\' gives "\quorvane.json", the root of the current drive.
std::string ResultFilePathFor(const std::string& executablePath, PathStyle style);

/// The result file's path for this process: ResultFilePathFor(ExecutablePath()), or of
/// `argument0` when the system cannot report the executable's path.
std::string ResultFilePath(const std::string& argument0);

/// Writes `text` to the file at `path` whole or not at all (ReplaceFileContents: a reader sees the
/// old file or the new one), in binary mode (no byte is translated). Returns false, with the
/// system's reason in `reason`, when it cannot be written; the old file then stays as it was.
bool WriteTextFile(const std::string& path, const std::string& text, std::string& reason);
bool WriteTextFile(const std::string& path, const std::string& text);

}  // namespace Quorvane
