// The transformation record (--record FILE): the fit with everything needed to use it again.
#pragma once

#include <string>

#include "app/registration_run.h"

namespace Quorvane {

/// Identifies the record's layout; a reader checks it before anything else.
constexpr char kRecordFormat[] = "quorvane-record/1";

/// The record of a run as one JSON object with no whitespace, members in this order:
///   "format": kRecordFormat, "version": the tool's version;
///   "projection": {"method": "gauss-kruger-snyder", "ellipsoid": "WGS84", "a" (metres), "f",
///     "centralMeridian", "originLatitude" (degrees), "falseEasting", "falseNorthing" (metres)};
///   "model": "destination = scale * Rz(rz) * (source + t)";
///   "parameters": {"tx", "ty", "tz" (metres), "rz" (radians), "scale"}, the reported fit;
///   "pairs": per pair, {"pair" (from 1), "source", "destination" ([lon, lat, h] as given),
///     "sourcePlane", "destinationPlane" ([E, N, H], metres), "residual" (T(sourcePlane) −
///     destinationPlane), "status" ("fitted", "excluded" or "removed"), "test" (T_i),
///     "critical" (its F quantile), "suspect" (T_i > critical)};
///   "quality": {"pairs" (m), "redundancy" (r), "sigma0", "rmsHorizontal", "rmsVertical"
///     (metres), "sigma": {"tx", "ty", "tz" (metres), "rz" (radians), "scale"}, "covariance"
///     (5 × 5 rows, order tx, ty, tz, rz, scale, in those units)};
///   "applied": per --apply point, {"source" ([lon, lat, h]), "plane" ([E, N, H] after the
///     transform), "destination" ([lon, lat, h])};
///   "proj": a PROJ pipeline from source longitude, latitude, height to destination longitude,
///     latitude, height (see ProjPipeline).
/// Numbers as RapidJSON's Writer writes them; null for a value that is not finite, not
/// determined (σ̂0, RMS, σ, the whole covariance) or not testable (test, critical and suspect of
/// a pair that is not tested). Always valid JSON.
std::string BuildRecordJson(const Registration& run);

/// The fitted transformation as one PROJ pipeline, for cct or proj_create: a forward
/// "+proj=tmerc +approx" step with the run's centre on WGS 84 (+k_0=1 +x_0=0 +y_0=0; +lat_0=0
/// when the origin latitude is within 1e-6° of 0, as the projection then counts from the
/// equator), a "+proj=affine" step with the transform written out, and the inverse tmerc step.
/// Numbers with 17 significant digits. Angles cross it in PROJ's convention: cct reads and writes
/// degrees, proj_trans radians.
std::string ProjPipeline(const Registration& run);

}  // namespace Quorvane
