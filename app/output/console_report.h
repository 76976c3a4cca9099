// The report of a run for the person at the console.
#pragma once

#include <ostream>

#include <ceres/solver.h>

#include "app/text/console_text.h"
#include "app/run/registration.h"
#include "common/point_list.h"

namespace Quorvane {

/// Writes the report of a run's fit to `out`, in this order: the outcome's summary line and
/// "\n\n"; the model's lines of parameters (TransformModel::ReportLines: for the similarity
/// "after:tx,ty,tz,rx,ry,rz,scale\n", "%.8f" each, rotations in radians); the datum shift and
/// the distortion where there are; then "源点位置：" and the first n source points in the frame as
/// "( x,\ty,\tz )", "目标位置：" and the first n destination points in the same form (a shorter
/// destination list as far as it goes), an empty line, "ceres计算值：" and the first n source points
/// carried through the fitted model as "(x,\ty,\tz)", n the number of source points. Points in
/// metres (a grid's own unit for a grid in feet), fixed with five decimals and a full stop as
/// decimal point; the labels in `encoding`; every point line ended by a newline and a flush.
void PrintReport(const Registration& run, std::ostream& out, ConsoleEncoding encoding);

/// Writes "转换结果：" and one line per --apply point of `run`: longitude and latitude in degrees
/// with nine decimals and height in metres with four, separated by tabs; for a grid, the grid
/// easting, northing and height (metres, four decimals) first, then longitude and latitude on
/// the grid's ellipsoid. Each line starts with the point's name and a tab when the points have
/// names (in `encoding`). Full stop as decimal point; the label in `encoding`; ends with a flush.
void PrintAppliedPoints(const Registration& run, ConsoleEncoding encoding, std::ostream& out);

}  // namespace Quorvane
