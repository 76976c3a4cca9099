#include "app/console_report.h"

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <string>

#include <Eigen/Core>

namespace Quorvane {

namespace {

// Labels in GBK, the console code page of our users.
constexpr char kSourceLabel[] = "\xD4\xB4\xB5\xE3\xCE\xBB\xD6\xC3\xA3\xBA";       // 源点位置：
constexpr char kDestinationLabel[] = "\xC4\xBF\xB1\xEA\xCE\xBB\xD6\xC3\xA3\xBA";  // 目标位置：
constexpr char kComputedLabel[] = "ceres\xBC\xC6\xCB\xE3\xD6\xB5\xA3\xBA";        // ceres计算值：

// The fitted transform as one homogeneous matrix, S·Rz·T in this order of multiplication: the
// same model the fit used, so the third block can be set against the destination block.
Eigen::Matrix4d VerificationTransform(const TransformParams& params) {
  const double c = std::cos(params.rz);
  const double s = std::sin(params.rz);
  Eigen::Matrix4d translation;
  translation << 1, 0, 0, params.tx,
                 0, 1, 0, params.ty,
                 0, 0, 1, params.tz,
                 0, 0, 0, 1;
  Eigen::Matrix4d rotation;
  rotation << c, -s, 0, 0,
              s, c, 0, 0,
              0, 0, 1, 0,
              0, 0, 0, 1;
  Eigen::Matrix4d scaling;
  scaling << params.scale, 0, 0, 0,
             0, params.scale, 0, 0,
             0, 0, params.scale, 0,
             0, 0, 0, 1;
  return (scaling * rotation) * translation;
}

// "after:" and the seven values with eight decimals, formatted by the C library.
std::string AfterLine(const TransformParams& p) {
  constexpr char kFormat[] = "after:%.8f,%.8f,%.8f,%.8f,%.8f,%.8f,%.8f\n";
  const int length = std::snprintf(nullptr, 0, kFormat, p.tx, p.ty, p.tz, p.rx, p.ry, p.rz,
                                   p.scale);
  std::string line(static_cast<std::size_t>(length), '\0');
  std::snprintf(line.data(), line.size() + 1, kFormat, p.tx, p.ty, p.tz, p.rx, p.ry, p.rz,
                p.scale);
  return line;
}

void PointLine(std::ostream& out, const char* open, double x, double y, double z,
               const char* close) {
  out << std::fixed << std::setprecision(5) << open << x << ",\t" << y << ",\t" << z << close
      << std::endl;
}

}  // namespace

void PrintConsoleReport(const ceres::Solver::Summary& summary, const TransformParams& params,
                        const PointList& source, const PointList& destination,
                        std::ostream& out) {
  const std::size_t n = source.size();
  out << summary.BriefReport() << "\n\n";
  out << AfterLine(params);

  out << kSourceLabel << std::endl;
  for (std::size_t i = 0; i < n; ++i) {
    PointLine(out, "( ", source[i].x, source[i].y, source[i].z, " )");
  }
  out << kDestinationLabel << std::endl;
  for (std::size_t i = 0; i < n && i < destination.size(); ++i) {
    PointLine(out, "( ", destination[i].x, destination[i].y, destination[i].z, " )");
  }
  out << std::endl << kComputedLabel << std::endl;
  for (std::size_t i = 0; i < n; ++i) {
    const Eigen::Vector4d p(source[i].x, source[i].y, source[i].z, 1.0);
    const Eigen::Vector4d w = VerificationTransform(params) * p;
    PointLine(out, "(", w[0], w[1], w[2], ")");
  }
}

void PrintConsoleReport(const ceres::Solver::Summary& summary, const TransformParams& params,
                        const PointList& source, const PointList& destination) {
  PrintConsoleReport(summary, params, source, destination, std::cout);
}

}  // namespace Quorvane
