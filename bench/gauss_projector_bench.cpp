// Throughput of the Gauss–Krüger projection, forward and inverse, one point at a time as the tool
// calls it.
//
// Each benchmark iteration projects one point, cycling through kBatch different ones, so the
// Time column is the time per point and `items_per_second` is points per second. The library's
// loop costs about a nanosecond of that. The batch (4096 · 24 bytes) stays in the L1/L2 cache, as
// the tool's own lists of a few points to a few thousand do.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/networks.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/gauss_projector.h"
#include "geodesy/plane_setup.h"

namespace {

using Quorvane::Ellipsoid;
using Quorvane::GaussProjector;
using Quorvane::PlaneCoordinates;
using Quorvane::Point3;
using Quorvane::PointList;

constexpr std::size_t kBatch = 4096;

// Central meridian and origin latitude of the benchmark zone, degrees.
constexpr double kCentralMeridian = 117.0;
constexpr double kOriginLatitude = 36.0;

// Points within ±halfWidth degrees of longitude of the central meridian and ±halfHeight degrees
// of latitude of the origin latitude.
PointList ZonePoints(double halfWidth, double halfHeight) {
  QuorvaneBench::Draw draw(99991);
  PointList points;
  points.reserve(kBatch);
  for (std::size_t i = 0; i < kBatch; ++i) {
    points.emplace_back(kCentralMeridian + draw.Uniform(-halfWidth, halfWidth),
                        kOriginLatitude + draw.Uniform(-halfHeight, halfHeight),
                        draw.Uniform(0.0, 3000.0));
  }
  return points;
}

// The projection as the tool uses it: WGS 84, no false origin, northing from an origin latitude
// (the tool's origin is the mean latitude of the destination points, so the second meridian arc
// is always evaluated). Arg 0: points of one control network, within ±0.05° (about ±4.5 km);
// arg 1: a whole 3° zone, ±1.5° of longitude and ±10° of latitude.
void BM_GaussForward(benchmark::State& state) {
  const bool zone = state.range(0) != 0;
  const PointList points = zone ? ZonePoints(1.5, 10.0) : ZonePoints(0.05, 0.05);
  const Ellipsoid wgs84 = Quorvane::EllipsoidByName("WGS84");
  const GaussProjector projector;
  std::size_t i = 0;
  for (auto _ : state) {
    PlaneCoordinates c =
        projector.Forward(points[i], kCentralMeridian, 0.0, 0.0, wgs84.a, wgs84.f, kOriginLatitude);
    benchmark::DoNotOptimize(c);
    i = (i + 1) % kBatch;
  }
  state.SetLabel(zone ? "3-degree zone" : "one network");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GaussForward)->ArgName("zone")->Arg(0)->Arg(1);

// The inverse on the same zone and points, projected beforehand: the footpoint latitude costs two
// meridian arcs (its Newton step and the origin's) besides the series.
void BM_GaussInverse(benchmark::State& state) {
  const bool zone = state.range(0) != 0;
  const PointList points = zone ? ZonePoints(1.5, 10.0) : ZonePoints(0.05, 0.05);
  const Ellipsoid wgs84 = Quorvane::EllipsoidByName("WGS84");
  const GaussProjector projector;
  std::vector<PlaneCoordinates> plane;
  plane.reserve(kBatch);
  for (const Point3& p : points) {
    plane.push_back(
        projector.Forward(p, kCentralMeridian, 0.0, 0.0, wgs84.a, wgs84.f, kOriginLatitude));
  }
  std::size_t i = 0;
  for (auto _ : state) {
    Point3 g =
        projector.Inverse(plane[i], kCentralMeridian, 0.0, 0.0, wgs84.a, wgs84.f, kOriginLatitude);
    benchmark::DoNotOptimize(g);
    i = (i + 1) % kBatch;
  }
  state.SetLabel(zone ? "3-degree zone" : "one network");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GaussInverse)->ArgName("zone")->Arg(0)->Arg(1);

// The same with the northing counted from the equator: the difference is the cost of the
// origin's meridian arc.
void BM_GaussForwardFromEquator(benchmark::State& state) {
  const PointList points = ZonePoints(0.05, 0.05);
  const Ellipsoid wgs84 = Quorvane::EllipsoidByName("WGS84");
  const GaussProjector projector;
  std::size_t i = 0;
  for (auto _ : state) {
    PlaneCoordinates c =
        projector.Forward(points[i], kCentralMeridian, 500000.0, 0.0, wgs84.a, wgs84.f, 0.0);
    benchmark::DoNotOptimize(c);
    i = (i + 1) % kBatch;
  }
  state.SetLabel("one network");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GaussForwardFromEquator);

// The whole per-point path of the tool: the frame of a run without options takes a source point
// on its ellipsoid, enlarged for the projection height, through the series.
void BM_FrameSourceToFrame(benchmark::State& state) {
  const PointList points = ZonePoints(0.05, 0.05);
  Quorvane::PlaneSetup frame;
  std::string problem;
  frame.Complete({Point3(kCentralMeridian, kOriginLatitude, 0.0)}, problem);
  std::size_t i = 0;
  for (auto _ : state) {
    Point3 out = frame.SourceToFrame(points[i]);
    benchmark::DoNotOptimize(out);
    i = (i + 1) % kBatch;
  }
  state.SetLabel("one network");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FrameSourceToFrame);

}  // namespace

BENCHMARK_MAIN();
