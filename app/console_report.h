// The report of a run for the person at the console.
#pragma once

#include <ostream>

#include <ceres/solver.h>

#include "app/console_text.h"
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

/// Writes "转换结果：" and one line per point of `geographic` (longitude, latitude in degrees,
/// height in metres) as "<lon>\t<lat>\t<h>", fixed with nine, nine and four decimals, full stop
/// as decimal point; the label in `encoding`. Ends with a flush.
void PrintAppliedPoints(const PointList& geographic, ConsoleEncoding encoding, std::ostream& out);

}  // namespace Quorvane
