// The smooth distortion's grid: a field sampled at regular nodes so that linear interpolation over
// the cells' two triangles stays within a millimetre of it.
#pragma once

#include <functional>
#include <vector>

#include "estimation/delaunay.h"
#include "estimation/distortion.h"

namespace Quorvane {

/// The field's three values (east, north, height, metres) at a point; `active` says where it may
/// be other than zero.
using FieldAt = std::function<void(PlanePoint, double*)>;
using ActiveAt = std::function<bool(PlanePoint)>;

/// Samples `field` on a regular grid over [low, high] and two nodes beyond it on every side,
/// each cell split into two triangles along its diagonal from the lower left, into the field's
/// vertices and triangles; sets its spacing and gridError.
void SampleOnGrid(const FieldAt& field, const ActiveAt& active, PlanePoint low, PlanePoint high,
                  DistortionField& out);

}  // namespace Quorvane
