// The picture of a fit (--plot FILE): the control points in the projection plane with their
// residuals, as one self-contained SVG file.
#pragma once

#include <string>

#include "app/run/registration.h"

namespace Quorvane {

/// Width of the map frame, SVG user units (pixels at 96 dpi). The largest horizontal residual
/// is drawn a tenth of it long, the largest height residual three fiftieths; residuals below
/// 1e-9 m, rounding, are drawn as if the largest were 1e-9 m.
constexpr double kPlotFrameWidth = 640.0;

/// The picture of a run as an SVG 1.1 document in UTF-8: no script, no external font, image or
/// link (references are all to the file's own <defs>), a white background, a width and height
/// of whole units, and no number that is not finite. From top to bottom and left to right:
///
/// - a title block (<g class="title-block">): the model (for the site model, in the title), the
///   number of pairs and of fitted pairs, σ̂0, RMS_H and RMS_V in metres with four decimals
///   (无法确定 when not determined; for the site model those of each component), and the
///   projection centre, longitude then latitude in degrees (for a grid its central meridian and
///   false easting);
/// - the map frame (<rect class="frame">, kPlotFrameWidth wide): `planeDestination` of every
///   pair, easting to the right and northing up on one scale for both axes, the points' extent
///   centred with room around it for the arrows; points that all coincide are drawn as if they
///   spread over 1 m. Each pair is one <g class="pair STATUS" transform="translate(x y)">
///   holding, about its point at (0, 0), its horizontal residual (vE, vN) as
///   <path class="arrow">, its height residual as <rect class="height-bar"> to the right of the
///   point (above it when vH > 0), a marker (class="marker") and its name, or its number from 1
///   (class="label"). STATUS is "fitted", "suspect" (fitted, tested and failing the blunder
///   test of a component), "excluded" (--exclude, from a component at least) or "removed"
///   (--snoop), each drawn in a colour, a marker shape and an arrow dash of its own;
/// - beside the frame, a legend (<g class="legend-entry STATUS">, one per status, marker and
///   arrow drawn as in the frame) and the scale bars of the arrows and of the height bars; the
///   plane's scale bar in the frame's lower left corner. Each bar is a round length (1, 2 or 5
///   times a power of ten) in m or km, the longest such that is not longer than the largest
///   residual (the plane's: not longer than 0.3 of the frame's width).
///
/// Residuals and statistics are `run.statistics`, as the quality block prints them (heights
/// through the model's vertical part); without
/// `run.hasStatistics` every residual is drawn as zero and every statistic as not determined.
/// A residual that is not finite is drawn as zero.
std::string BuildPlotSvg(const Registration& run);

}  // namespace Quorvane
