// Writing: the files of a fitted run, each whole or not at all, none over an input.
#include "app/run/run_steps.h"

#include <iostream>
#include <iterator>

#include "app/output/distortion_file.h"
#include "app/output/plot_file.h"
#include "app/output/record_file.h"
#include "app/output/result_file.h"
#include "app/platform/platform.h"
#include "app/run/registration_run.h"

namespace Quorvane {

// A plain run names no file but quorvane.json, and asks nothing of the file system here.
bool OutputsAreApart(const RunSettings& settings, const std::string& resultPath,
                     std::ostream& errors) {
  struct Named {
    std::string what;
    std::string path;
  };
  std::vector<Named> inputs;
  for (const ListInput* list : {&settings.source, &settings.destination, &settings.further}) {
    if (list->fileGiven && !list->path.empty()) inputs.push_back({list->fileOption, list->path});
  }
  for (const auto& [option, path] : settings.optionFiles) inputs.push_back({option, path});
  std::vector<Named> named;
  const OutputChoice& out = settings.outputs;
  if (out.recordGiven && !out.recordPath.empty()) named.push_back({"--record", out.recordPath});
  if (out.plotGiven && !out.plotPath.empty()) named.push_back({"--plot", out.plotPath});
  if (!out.distortionPath.empty()) named.push_back({"--distortion-file", out.distortionPath});
  if (!out.exportCrsPath.empty()) named.push_back({"--export-crs", out.exportCrsPath});
  if (inputs.empty() && named.empty()) return true;
  // The record and the picture must not replace the executable either; quorvane.json, beside it
  // under a name of its own, cannot be it.
  if (!named.empty()) {
    const std::string executable = ExecutablePath();
    if (!executable.empty()) inputs.push_back({"the executable", executable});
  }
  std::vector<Named> outputs = {{"the result file quorvane.json", resultPath}};
  outputs.insert(outputs.end(), named.begin(), named.end());
  std::vector<FileIdentity> identities;
  for (const Named& input : inputs) identities.push_back(IdentifyFile(input.path));
  std::vector<Named> others = inputs;
  const ConsoleEncoding encoding = settings.encoding;
  for (const Named& output : outputs) {
    const FileIdentity identity = IdentifyFile(output.path);
    for (std::size_t k = 0; k < others.size(); ++k) {
      if (!(identity == identities[k])) continue;
      errors << "quorvane: " << output.what << " "
             << QuotedField(output.path, kLongestQuotedPath, encoding) << " is the same file as "
             << others[k].what << " " << QuotedField(others[k].path, kLongestQuotedPath, encoding)
             << ", which writing it would destroy" << kNothingWritten;
      return false;
    }
    others.push_back(output);
    identities.push_back(identity);
  }
  return true;
}

namespace {

// "a", "a and b", "a, b and c".
std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t k = 0; k < items.size(); ++k) {
    text += (k == 0 ? "" : k + 1 == items.size() ? " and " : ", ") + items[k];
  }
  return text;
}

// What a signal that ends the run between two of its files says: those `written`, and those
// `left` as they were; nothing before the first is written, when every file is as it was.
std::string InterruptionNote(const std::vector<std::string>& written,
                             const std::vector<std::string>& left) {
  if (written.empty() || left.empty()) return std::string();
  return "quorvane: ended by a signal after " + Listed(written) +
         (written.size() == 1 ? " was" : " were") + " written; " + Listed(left) +
         (left.size() == 1 ? " was left as it was" : " were left as they were") + ".\n";
}

}  // namespace

FileTexts MakeFileTexts(const OutputChoice& outputs, const Registration& run) {
  FileTexts texts;
  texts.result = BuildResultJson(*run.model, run.params);
  if (outputs.recordGiven) texts.record = BuildRecordJson(run);
  if (outputs.plotGiven) texts.plot = BuildPlotSvg(run);
  if (run.distortion) texts.distortion = BuildDistortionJson(run);
  texts.exportedCrs = run.exportedCrs;
  return texts;
}

int WriteFiles(const RunSettings& settings, const FileTexts& texts,
               const std::string& resultPath, bool& resultWritten, bool& recordWritten,
               bool& warned) {
  const ConsoleEncoding encoding = settings.encoding;
  const OutputChoice& outputs = settings.outputs;
  const std::string& result = texts.result;
  const std::string& record = texts.record;
  const std::string& plot = texts.plot;

  std::string resultReason;
  resultWritten = WriteTextFile(resultPath, result, resultReason);
  // Each file named on the command line is tried, so that one that fails does not cost the
  // others.
  std::vector<std::string> failures;
  const auto write = [&](const std::string& path, const std::string& text, const char* what) {
    std::string reason;
    if (WriteTextFile(path, text, reason)) return true;
    failures.push_back(std::string("quorvane: the ") + what + " could not be written to " +
                       QuotedField(path, kLongestQuotedPath, encoding) + " (" + reason + ")");
    return false;
  };
  // Files named on the command line follow quorvane.json, in this order: a signal between two
  // renames says which were replaced.
  struct Named {
    bool given;
    const std::string& path;
    const std::string& text;
    const char* what;   // in a failure's line: "the record could not be written"
    const char* label;  // in a signal's note: "the record 'fit.json'"
  };
  const Named files[] = {
      {outputs.recordGiven, outputs.recordPath, record, "record", "the record "},
      {outputs.plotGiven, outputs.plotPath, plot, "plot", "the picture "},
      {!outputs.distortionPath.empty(), outputs.distortionPath, texts.distortion,
       "distortion file", "the distortion file "},
      {!outputs.exportCrsPath.empty(), outputs.exportCrsPath, texts.exportedCrs, "CRS file",
       "the CRS file "}};
  std::vector<std::string> written;
  if (resultWritten) written.push_back("quorvane.json");
  bool others = false;  // a file besides the record is named
  for (std::size_t k = 0; k < std::size(files); ++k) {
    if (!files[k].given) continue;
    others = others || k > 0;
    std::vector<std::string> left;
    for (std::size_t j = k; j < std::size(files); ++j) {
      if (files[j].given) {
        left.push_back(files[j].label + QuotedField(files[j].path, kLongestQuotedPath, encoding));
      }
    }
    SetInterruptionNote(InterruptionNote(written, left));
    const bool done = write(files[k].path, files[k].text, files[k].what);
    if (k == 0) recordWritten = done;
    if (done) written.push_back(left.front());
  }
  SetInterruptionNote(std::string());

  warned = !resultWritten && !recordWritten;
  if (warned) {
    std::cerr << "quorvane: warning: quorvane.json could not be written to "
              << QuotedField(resultPath, kLongestQuotedPath, encoding) << " (" << resultReason
              << "); the fit is in the report only. --record FILE keeps the result in a file of "
                 "your choosing.\n";
  }
  for (const std::string& failure : failures) {
    std::cerr << failure << "; the report was printed"
              << (resultWritten ? " and quorvane.json was written" : ", quorvane.json was not written")
              << (outputs.recordGiven && others
                      ? (recordWritten ? ", the record was written" : "")
                      : "")
              << ".\n";
  }
  return failures.empty() ? kExitSuccess : kExitFileNotWritten;
}

}  // namespace Quorvane
