// The quality block of a run with --quality: residuals, tests and precision, for the console.
#pragma once

#include <ostream>
#include <vector>

#include "app/console_text.h"
#include "estimation/blunder_removal.h"
#include "estimation/fit_statistics.h"

namespace Quorvane {

/// What became of a pair in the run.
enum class PairStatus {
  Fitted,    // took part in the reported fit
  Excluded,  // left out by --exclude; a check point
  Removed,   // left out by --snoop as a blunder; a check point
};

/// Writes the quality block, every line ended by "\n", fields separated by tabs, numbers in
/// fixed notation with a full stop:
///
///   残差：
///   <pair>\t<vE>\t<vN>\t<vH>\t<horizontal>\t<T>\t<critical>\t<mark>     one line per pair
///   拟合点数：\t<m>
///   多余观测数：\t<r>
///   单位权中误差：\t<σ̂0>\tm
///   平面RMS：\t<RMS_H>\tm
///   高程RMS：\t<RMS_V>\tm
///   参数中误差：
///   tx\t<σ>\tm          ty and tz likewise
///   rz\t<σ>\tarcsec
///   scale\t<σ>\tppm
///   自动剔除：                                  only when `snooped`
///   <pair>\t<T>\t<critical>                     one line per removal, in order
///
/// Pairs are numbered from 1. Residuals and σ̂0, RMS and the σ of tx, ty, tz in metres with four
/// decimals; the σ of rz in arc seconds and of the scale in parts per million, three decimals;
/// T and the critical value with two ("inf" when the other pairs fit exactly), or "-" for a pair
/// that is not tested (not testable, or not fitted). The mark is empty for a pair that passes or
/// is not testable, 粗差? for a fitted pair that fails the test, 剔除 for an excluded pair and
/// 自动剔除 for one removed; the field is there, empty, when there is no mark. A value that is
/// not determined is written as 无法确定 instead of the number and its unit field.
void PrintQualityBlock(const FitStatistics& stats, const std::vector<PairStatus>& status,
                       bool snooped, const std::vector<BlunderRemoval>& removals,
                       ConsoleEncoding encoding, std::ostream& out);

}  // namespace Quorvane
