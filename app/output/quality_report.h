// The quality block of a run with --quality: residuals, tests and precision, for the console.
#pragma once

#include <ostream>

#include "app/text/console_text.h"
#include "app/run/registration.h"

namespace Quorvane {

/// Writes the quality block of `run`, every line ended by "\n", fields separated by tabs, numbers
/// in fixed notation with a full stop:
///
///   残差：
///   <pair>[\t<name>]\t<vE>\t<vN>\t<vH>\t<horizontal>{\t<T>\t<critical>}\t<marks>   one per pair
///   then for each component of the model (the similarity has one, without a title; the site
///   model 平面： and 高程：):
///   [平面：|高程：]
///   拟合点数：\t<m>
///   多余观测数：\t<r>
///   单位权中误差：\t<σ̂>\tm
///   平面RMS：\t<RMS_H>\tm        where the component explains easting and northing
///   高程RMS：\t<RMS_V>\tm        where it explains heights
///   参数中误差：
///   <parameter>\t<σ>\t<unit>     one per parameter of the component
///   and with --snoop:
///   自动剔除：
///   <pair>[\t<name>]\t<T>\t<critical>[\t平面|高程]       one line per removal, in order
///
/// Pairs are numbered from 1; the name column is there only when the pairs have names (in
/// `encoding`). Residuals and σ̂, RMS and the σ of lengths in metres with four decimals; the σ of
/// rz in arc seconds, of the scale and the slopes in parts per million, three decimals; T and the
/// critical value with two ("inf" when the other pairs fit exactly), or "-" and "-" for a pair
/// not tested in that component (not testable, or not fitted). The marks: 剔除 for a pair left
/// out by --exclude, 自动剔除 for one removed by --snoop, 粗差? for a fitted pair that fails the
/// test; for the site model each prefixed 平面 or 高程 when it concerns that component alone;
/// then 超限 for a fitted pair beyond a tolerance; separated by a blank, the field there and
/// empty when there is none. A value that is not determined is written as 无法确定 instead of the
/// number and its unit field.
void PrintQualityBlock(const Registration& run, bool snooped, ConsoleEncoding encoding,
                       std::ostream& out);

}  // namespace Quorvane
