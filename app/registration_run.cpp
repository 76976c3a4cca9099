#include "app/registration_run.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <iostream>
#include <memory>
#include <system_error>

#include <ceres/solver.h>

#include "app/command_line.h"
#include "app/console_report.h"
#include "app/console_text.h"
#include "app/plot_file.h"
#include "app/point_file.h"
#include "app/record_file.h"
#include "app/result_file.h"
#include "app/usage_text.h"
#include "common/point_list.h"
#include "estimation/fit_transform.h"
#include "geodesy/geo_converter.h"

namespace Quorvane {

namespace {

bool IsFinite(const Point3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Plain mean of the longitudes and latitudes, degrees; NaN for an empty list.
Point3 ProjectionCentre(const PointList& geographic) {
  double sumX = 0.0;
  double sumY = 0.0;
  for (const Point3& p : geographic) {
    sumX += p.x;
    sumY += p.y;
  }
  const double count = static_cast<double>(geographic.size());
  return {sumX / count, sumY / count, 0.0};
}

PointList Project(const GeoConverter& converter, const PointList& geographic) {
  PointList plane;
  plane.reserve(geographic.size());
  for (const Point3& p : geographic) {
    Point3 projected(0.0, 0.0, 0.0);
    converter.Convert(p, projected);
    plane.push_back(projected);
  }
  return plane;
}

bool IsUsable(const ceres::Solver::Summary& summary, const TransformParams& p) {
  return summary.termination_type != ceres::FAILURE && std::isfinite(summary.final_cost) &&
         std::isfinite(p.tx) && std::isfinite(p.ty) && std::isfinite(p.tz) &&
         std::isfinite(p.rx) && std::isfinite(p.ry) && std::isfinite(p.rz) &&
         std::isfinite(p.scale);
}

std::vector<bool> FittedMask(const std::vector<PairStatus>& status) {
  std::vector<bool> fitted(status.size());
  for (std::size_t i = 0; i < status.size(); ++i) fitted[i] = status[i] == PairStatus::Fitted;
  return fitted;
}

// Warnings about a usable fit that the user should not take at face value.
void WarnAboutTheFit(const Registration& run, std::ostream& errors) {
  const std::vector<bool> fitted = FittedMask(run.status);
  const std::size_t m = static_cast<std::size_t>(std::count(fitted.begin(), fitted.end(), true));
  if (!DeterminesTransform(run.planeSource, fitted)) {
    errors << "quorvane: warning: the transform is not determined by the points given: ";
    if (m < 2) {
      errors << m << (m == 1 ? " pair is" : " pairs are") << " fitted";
    } else {
      errors << "the " << m << " fitted source points lie within " << kCoincidenceDistance * 1000
             << " mm of each other in the plane";
    }
    errors << ", and a rotation and scale need at least two apart; the values are one of many "
              "that fit them equally well.\n";
  }
  if (run.summary.termination_type == ceres::NO_CONVERGENCE) {
    errors << "quorvane: warning: the solver stopped without converging (" << run.summary.message
           << "); the values may not be the best fit.\n";
  }
}

// One point list from its text option or its file option, never both: a text that is given
// even empty conflicts with a file, which is the likelier mistake than an intended override.
bool ReadList(bool textGiven, const std::string& text, const char* textOption, bool fileGiven,
              const std::string& path, const char* fileOption, PointList& list,
              std::ostream& errors) {
  if (textGiven && fileGiven) {
    errors << "quorvane: " << textOption << " and " << fileOption
           << " both give the same points; give only one of them. No result was written.\n";
    return false;
  }
  if (!fileGiven) {
    ParsePointList(text, list);
    return true;
  }
  std::string problem;
  if (!ReadPointFile(path, list, problem)) {
    errors << "quorvane: " << fileOption << " " << QuotedField(path, kLongestQuotedPath) << ": "
           << problem << ". No result was written.\n";
    return false;
  }
  return true;
}

}  // namespace

int RegisterPoints(const OptionTexts& texts, std::ostream& report, std::ostream& errors,
                   Registration& run) {
  PointList& source = run.source;
  PointList& destination = run.destination;
  PointList further;
  if (!ReadList(texts.sourceGiven, texts.sourceText, "--refsrc", texts.sourceFileGiven,
                texts.sourceFile, "--refsrc-file", source, errors) ||
      !ReadList(texts.destinationGiven, texts.destinationText, "--refdes",
                texts.destinationFileGiven, texts.destinationFile, "--refdes-file", destination,
                errors) ||
      !ReadList(texts.applyGiven, texts.applyText, "--apply", texts.applyFileGiven,
                texts.applyFile, "--apply-file", further, errors)) {
    return kExitBadInput;
  }
  const ConsoleEncoding encoding = texts.utf8 ? ConsoleEncoding::Utf8 : ConsoleEncoding::Gbk;

  // Every source point needs the destination point of the same index; more destination points
  // are allowed and only move the projection centre.
  if (destination.size() < source.size()) {
    errors << "quorvane: --refsrc gives " << source.size() << " points but --refdes only "
           << destination.size()
           << "; every source point needs its destination point. No result was written.\n";
    return kExitBadInput;
  }

  std::vector<std::size_t> excluded;
  if (texts.excludeGiven) {
    std::string problem;
    if (!ParsePairNumbers(texts.excludeText, source.size(), excluded, problem)) {
      errors << "quorvane: --exclude " << QuotedField(texts.excludeText) << ": " << problem
             << ". No result was written.\n";
      return kExitBadInput;
    }
    if (excluded.size() == source.size()) {
      errors << "quorvane: --exclude " << QuotedField(texts.excludeText) << " leaves out all "
             << source.size() << " pairs, and at least one must be fitted. No result was "
             << "written.\n";
      return kExitBadInput;
    }
  }

  const Point3 centre = ProjectionCentre(destination);
  run.centre = centre;
  GeoConverter converter;
  converter.SetProjectionSetup(
      std::make_unique<ProjectionSetup>(centre.x, centre.y, "WGS84", 0.0, 0.0, 0.0));
  run.planeSource = Project(converter, source);
  run.planeDestination = Project(converter, destination);
  const PointList& planeSource = run.planeSource;
  const PointList& planeDestination = run.planeDestination;

  // A pair with a coordinate that is not finite (from "nan", "inf" or an overflowing number in
  // the input, or a centre that is not finite) cannot be fitted: say which point, first in pair
  // order, and stop before anything reaches the report.
  for (std::size_t i = 0; i < planeSource.size(); ++i) {
    const bool sourceUnusable = !IsFinite(planeSource[i]);
    if (sourceUnusable || !IsFinite(planeDestination[i])) {
      const Point3& given = sourceUnusable ? source[i] : destination[i];
      errors << "quorvane: " << (sourceUnusable ? "source" : "destination") << " point " << i + 1
             << " (counting from 1; given as " << given.x << ',' << given.y << ',' << given.z
             << ") has no finite plane coordinates";
      if (!std::isfinite(centre.x) || !std::isfinite(centre.y)) {
        errors << ", because the projection centre, the mean of the destination points, is not "
                  "finite";
      }
      errors << ". No result was written.\n";
      return kExitBadInput;
    }
  }

  run.status.assign(source.size(), PairStatus::Fitted);
  for (const std::size_t i : excluded) run.status[i] = PairStatus::Excluded;
  TransformParams& params = run.params;
  ceres::Solver::Summary& summary = run.summary;
  if (excluded.empty()) {
    FitTransform(planeSource, planeDestination, params, summary);
  } else {
    FitTransform(planeSource, planeDestination, FittedMask(run.status), params, summary);
  }

  const bool usable = IsUsable(summary, params);
  if (usable && (texts.quality || texts.snoop || texts.recordGiven || texts.plotGiven)) {
    std::vector<bool> fitted = FittedMask(run.status);
    run.statistics = ComputeFitStatistics(planeSource, planeDestination, fitted, params);
    if (texts.snoop) {
      RemoveBlunders(planeSource, planeDestination, fitted, params, summary, run.statistics,
                     run.removals);
      for (const BlunderRemoval& removal : run.removals) {
        run.status[removal.pair] = PairStatus::Removed;
      }
    }
    run.hasStatistics = IsUsable(summary, params);
  }

  // Further points, through the same plane and the reported fit, and back with the inverse
  // projection; one that comes out not finite is refused before anything is printed.
  if (IsUsable(summary, params)) {
    for (std::size_t i = 0; i < further.size(); ++i) {
      AppliedPoint point;
      point.source = further[i];
      Point3 projected;
      converter.Convert(further[i], projected);
      point.plane = TransformPoint(params, projected);
      converter.ConvertBack(point.plane, point.destination);
      if (!IsFinite(point.destination)) {
        errors << "quorvane: --apply point " << i + 1 << " (counting from 1; given as "
               << further[i].x << ',' << further[i].y << ',' << further[i].z
               << ") has no finite coordinates in the destination system. No result was "
                  "written.\n";
        return kExitBadInput;
      }
      run.applied.push_back(point);
    }
    WarnAboutTheFit(run, errors);
  }

  // The record's text takes as long as the report's console lines on a large run (most of it
  // RapidJSON's shortest-digit conversions): a second core builds it meanwhile.
  if (texts.recordGiven && IsUsable(summary, params)) {
    const auto build = [&run] { return BuildRecordJson(run); };
    try {
      run.record = std::async(std::launch::async, build);
    } catch (const std::system_error&) {
      // No thread to be had (a process limit): built when it is needed instead.
      run.record = std::async(std::launch::deferred, build);
    }
  }
  PrintConsoleReport(summary, params, planeSource, planeDestination, report, encoding);

  if (!IsUsable(summary, params)) {
    errors << "quorvane: the solver gave no usable result (" << summary.message
           << "). No result was written.\n";
    return kExitNoResult;
  }
  if (texts.quality || texts.snoop) {
    PrintQualityBlock(run.statistics, run.status, texts.snoop, run.removals, encoding, report);
  }
  if (!run.applied.empty()) {
    PointList transformed;
    for (const AppliedPoint& point : run.applied) transformed.push_back(point.destination);
    PrintAppliedPoints(transformed, encoding, report);
  }
  return kExitSuccess;
}

int RegisterPoints(const OptionTexts& texts, std::ostream& report, std::ostream& errors,
                   TransformParams& params) {
  Registration run;
  const int exitCode = RegisterPoints(texts, report, errors, run);
  params = run.params;
  return exitCode;
}

int RunRegistration(int argc, const char* const* argv) {
  OptionTexts texts;
  const bool complete = ParseCommandLine(argc, argv, texts);
  if (texts.help || texts.version) {
    std::fputs(texts.help ? kUsageText : kVersionLine, stdout);
    return kExitSuccess;
  }
  if (!complete) {
    std::fputs(kBadArgumentsMessage.In(texts.utf8 ? ConsoleEncoding::Utf8 : ConsoleEncoding::Gbk),
               stdout);
    return kExitBadInput;
  }
  Registration run;
  const int exitCode = RegisterPoints(texts, std::cout, std::cerr, run);
  if (exitCode != kExitSuccess) return exitCode;
  WriteResultFile(run.params, argv[0]);
  // Each file named on the command line is tried, so that one that fails does not cost the
  // others.
  bool allWritten = true;
  const auto write = [&allWritten](const std::string& path, const std::string& text,
                                   const char* what) {
    errno = 0;
    if (!WriteTextFile(path, text)) {
      std::cerr << "quorvane: the " << what << " could not be written to \"" << path << "\" ("
                << (errno != 0 ? std::strerror(errno) : "write failed")
                << "); the fit and quorvane.json stand.\n";
      allWritten = false;
    }
  };
  if (texts.recordGiven) write(texts.recordPath, run.record.get(), "record");
  if (texts.plotGiven) write(texts.plotPath, BuildPlotSvg(run), "plot");
  if (!allWritten) return kExitFileNotWritten;
  return kExitSuccess;
}

}  // namespace Quorvane
