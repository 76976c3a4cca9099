#include "app/registration_run.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>

#include <ceres/solver.h>

#include "app/command_line.h"
#include "app/console_report.h"
#include "app/result_file.h"
#include "common/point_list.h"
#include "estimation/fit_transform.h"
#include "geodesy/geo_converter.h"

namespace Quorvane {

namespace {

// "输入的参数有误\n" ("the arguments are wrong") in GBK, the console code page of our users.
constexpr char kBadArgumentsMessage[] = "\xCA\xE4\xC8\xEB\xB5\xC4\xB2\xCE\xCA\xFD\xD3\xD0\xCE\xF3\n";

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

}  // namespace

int RegisterPoints(const OptionTexts& texts, std::ostream& report, std::ostream& errors,
                   TransformParams& params) {
  PointList source;
  PointList destination;
  ParsePointList(texts.sourceText, source);
  ParsePointList(texts.destinationText, destination);

  // Every source point needs the destination point of the same index; more destination points
  // are allowed and only move the projection centre.
  if (destination.size() < source.size()) {
    errors << "quorvane: --refsrc gives " << source.size() << " points but --refdes only "
           << destination.size()
           << "; every source point needs its destination point. No result was written.\n";
    return kExitBadInput;
  }

  const Point3 centre = ProjectionCentre(destination);
  GeoConverter converter;
  converter.SetProjectionSetup(
      std::make_unique<ProjectionSetup>(centre.x, centre.y, "WGS84", 0.0, 0.0, 0.0));
  const PointList planeSource = Project(converter, source);
  const PointList planeDestination = Project(converter, destination);

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

  ceres::Solver::Summary summary;
  FitTransform(planeSource, planeDestination, params, summary);
  PrintConsoleReport(summary, params, planeSource, planeDestination, report);

  if (!IsUsable(summary, params)) {
    errors << "quorvane: the solver gave no usable result (" << summary.message
           << "). No result was written.\n";
    return kExitNoResult;
  }
  return kExitSuccess;
}

int RunRegistration(int argc, const char* const* argv) {
  OptionTexts texts;
  if (!ParseCommandLine(argc, argv, texts)) {
    std::fputs(kBadArgumentsMessage, stdout);
    return kExitBadInput;
  }
  TransformParams params;
  const int exitCode = RegisterPoints(texts, std::cout, std::cerr, params);
  if (exitCode == kExitSuccess) {
    WriteResultFile(params, argv[0]);
  }
  return exitCode;
}

}  // namespace Quorvane
