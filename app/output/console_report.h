// The report of a run for the person at the console.
#pragma once

#include <ostream>

#include <ceres/solver.h>

#include "app/text/console_text.h"
#include "app/run/registration.h"
#include "common/point_list.h"
#include "estimation/fit_transform.h"

namespace Quorvane {

/// Writes the report of a fit to `out` (standard output by default), in this order:
/// - the solver's BriefReport and "\n\n";
/// - "after:tx,ty,tz,rx,ry,rz,scale\n", each "%.8f" (rotations in radians);
/// - "源点位置：" and the first n projected source points as "( x,\ty,\tz )";
/// - "目标位置：" and the first n projected destination points in the same form;
/// - an empty line, "ceres计算值：" and the first n source points carried through the fitted
///   transform (translate, turn about the height axis, scale) as "(x,\ty,\tz)";
/// where n is the number of source points; a destination list shorter than that is listed only as
/// far as it goes. Points are in metres, fixed with five decimals, full stop as decimal point.
/// The labels are in `encoding`, GBK unless asked otherwise. Every line after the "after:" line
/// ends with a newline and a flush.
void PrintConsoleReport(const ceres::Solver::Summary& summary, const TransformParams& params,
                        const PointList& source, const PointList& destination,
                        std::ostream& out, ConsoleEncoding encoding = ConsoleEncoding::Gbk);
void PrintConsoleReport(const ceres::Solver::Summary& summary, const TransformParams& params,
                        const PointList& source, const PointList& destination);

/// Writes the report of a run's fit to `out`, as PrintConsoleReport does for the similarity: the
/// outcome's summary line and "\n\n"; the parameter line (for the similarity the "after:" line;
/// for the site model "site: tx=… m, ty=… m, tz=… m, rz=… rad, scale=…, slopeNorth=… ppm,
/// slopeEast=… ppm", "%.8f" each, the slopes "%.6f"); and the three blocks of plane points, the
/// last one the source points carried through the fitted model (heights through its vertical
/// part).
void PrintReport(const Registration& run, std::ostream& out, ConsoleEncoding encoding);

/// Writes "转换结果：" and one line per --apply point of `run`: longitude and latitude in degrees
/// with nine decimals and height in metres with four, separated by tabs; for a grid, the grid
/// easting, northing and height (metres, four decimals) first, then longitude and latitude on
/// the grid's ellipsoid. Each line starts with the point's name and a tab when the points have
/// names (in `encoding`). Full stop as decimal point; the label in `encoding`; ends with a flush.
void PrintAppliedPoints(const Registration& run, ConsoleEncoding encoding, std::ostream& out);

}  // namespace Quorvane
