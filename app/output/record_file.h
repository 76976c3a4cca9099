// The transformation record (--record FILE): the fit with everything needed to use it again.
#pragma once

#include <string>

#include "app/run/registration.h"

namespace Quorvane {

/// Identifies the record's layout; a reader checks it before anything else.
constexpr char kRecordFormat[] = "quorvane-record/1";

/// The record of a run as one JSON object with no whitespace, members in this order:
///   "format": kRecordFormat, "version": the tool's version;
///   "projection": for both lists on WGS 84 about the centre (no plane option), {"method":
///     "gauss-kruger-snyder", "ellipsoid": "WGS84", "a" (metres), "f", "centralMeridian",
///     "originLatitude" (degrees), "falseEasting", "falseNorthing" (metres, 0)}; otherwise
///     {"method", "plane": "centred" or "grid", "sourceEllipsoid" and "destinationEllipsoid" (the
///     grid's) each {"name", "a", "f"}, "centralMeridian", "originLatitude", "falseEasting",
///     "falseNorthing", "projectionHeight"}, and where PROJ carried the source to the destination's
///     datum, "datumShift": {"name", "accuracy" (metres, or null), "ballpark"} after the
///     ellipsoids;
///   "model": FormulaOf(model);
///   "parameters": every parameter of the model, ParametersOf order, in metres, radians or no
///     unit: the reported fit;
///   "pairs": per pair, {"pair" (from 1), "name" (when the pairs have names), "source",
///     "destination" (as given), "sourcePlane", "destinationPlane" ([E, N, H], metres), for a
///     grid destination in another unit than metres "sourceGrid", "destinationGrid" (the same in
///     its units),
///     "residual" (the model at sourcePlane − destinationPlane), "status" ("fitted", "excluded",
///     "removed", and for the site model "horizontal only" or "vertical only"), then per
///     component its test and F quantile ("test", "critical" for the similarity;
///     "testHorizontal", "criticalHorizontal", "testVertical", "criticalVertical" for the site
///     model), "suspect" (either test fails), and with a tolerance "overTolerance"};
///   "quality": for the similarity {"pairs" (m), "redundancy" (r), "sigma0", "rmsHorizontal",
///     "rmsVertical" (metres), "sigma": {per parameter}, "covariance" (u × u rows in the
///     parameters' order)}; for the site model {"horizontal": {"pairs", "redundancy", "sigma0",
///     "rms"}, "vertical": {the same}, "sigma": {every parameter}, "covariance": {"horizontal":
///     rows, "vertical": rows}};
///   "applied": per --apply point, {"name" (when they have names), "source" ([lon, lat, h]),
///     "plane" ([E, N, H] after the model and the distortion), for a grid destination in another
///     unit than metres "grid" (its E, N, H in its units), "destination" ([lon, lat, h])};
///   "distortion" (with --distortion only): {"method" ("tin" or "smooth"), "file" (as given),
///     "pairs" (that shaped it), "looRmsHorizontal", "looRmsVertical" (metres: the leave-one-out
///     prediction RMS of the pairs inside their hull, null when none is), "outside" (the rule
///     beyond their hull, OutsideRule)};
///   "proj": ProjPipeline, or null when the fit has no finite pipeline (an empty fit's centre).
/// Numbers as RapidJSON's Writer writes them; null for a value that is not finite, not
/// determined (σ̂0, RMS, σ, the whole covariance) or not testable (a test, its critical value
/// and suspect of a pair not tested). Always valid JSON, names in UTF-8.
std::string BuildRecordJson(const Registration& run);

/// The fitted transformation as one PROJ pipeline for cct, ogr2ogr -ct or proj_create, degrees
/// in and out: "+proj=unitconvert" from degrees, a forward "+proj=tmerc +approx" step on the
/// source ellipsoid with the plane's centre, false origin and projection height (the ellipsoid
/// enlarged as ProjectionSurface does, +k_0=1; +lat_0=0 when the origin latitude is within 1e-6°
/// of 0, as the projection then counts from the equator), a "+proj=affine" step with AffineOf,
/// and, unless the destination is a grid (whose plane coordinates are the result), the inverse
/// tmerc step on the destination ellipsoid and "+proj=unitconvert" back to degrees. With a
/// distortion, "+step +proj=tinshift +file=FILE" follows the model's steps, in the plane of the
/// fit. Numbers with
/// 17 significant digits. Empty when a number is not finite.
std::string ProjPipeline(const Registration& run);

}  // namespace Quorvane
