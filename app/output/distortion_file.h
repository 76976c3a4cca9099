// The distortion file (--distortion-file FILE): the field as a triangulation PROJ's tinshift
// applies.
#pragma once

#include <string>

#include "app/run/registration.h"

namespace Quorvane {

/// The distortion of a run as PROJ's triangulation file, format 1.1 (PROJ ≥ 9.1), one JSON
/// object with no whitespace: "file_type" "triangulation_file", "format_version" "1.1", "name",
/// "version" (the tool's), "description", "fallback_strategy" "nearest_side" (beyond the
/// triangles PROJ takes the nearest side's triangle, whose corrections are all zero),
/// "transformed_components" ["horizontal", "vertical"], "vertices_columns" ["source_x",
/// "source_y", "target_x", "target_y", "offset_z"], "triangles_columns" ["idx_vertex1",
/// "idx_vertex2", "idx_vertex3"], "vertices" (easting and northing in the plane of the fit
/// where the model puts a point, the same plus the correction, and the height's correction, all
/// metres) and "triangles" (indices counted from 0, counter-clockwise). Needs run.distortion.
std::string BuildDistortionJson(const Registration& run);

/// How the field treats points beyond the area of the pairs that shaped it, as the record's
/// "distortion"."outside" says it.
std::string OutsideRule(const DistortionField& field);

}  // namespace Quorvane
