// Synthetic control networks for the benchmarks and the whole-run timing: plane networks as the
// fit sees them, and geographic point lists as a user types them on the command line.
//
// Everything is drawn from a fixed-seed mt19937_64 (whose output the standard fixes) through our
// own uniform and Box–Muller steps rather than the <random> distributions (whose output it does
// not), so every machine and standard library benchmarks the very same points.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>

#include "common/point_list.h"

namespace QuorvaneBench {

using Quorvane::Point3;
using Quorvane::PointList;

class Draw {
 public:
  explicit Draw(std::uint64_t seed) : engine_(seed) {}

  /// Uniform in [lo, hi), from the top 53 bits of one draw.
  double Uniform(double lo, double hi) {
    const double unit = static_cast<double>(engine_() >> 11) * 0x1.0p-53;
    return lo + (hi - lo) * unit;
  }

  /// Normal with mean 0 and standard deviation `sigma` (Box–Muller, one value per call).
  double Normal(double sigma) {
    const double u1 = 1.0 - Uniform(0.0, 1.0);  // in (0, 1], so the log is finite
    const double u2 = Uniform(0.0, 1.0);
    return sigma * std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

 private:
  std::mt19937_64 engine_;
};

/// The similarity transform the plane networks are built with, in the fit's own convention
/// p ↦ scale · Rz(rz) · (p + t): a datum shift of a few hundred metres, a rotation of about 5″
/// and a scale 73 ppm off one, as between two realisations of a local network.
struct TrueTransform {
  double tx = -312.472;  // metres
  double ty = 487.158;   // metres
  double tz = -36.713;   // metres
  double rz = 2.5e-5;    // radians
  double scale = 1.000073;
};

/// A pair of matching plane networks, easting, northing and height in metres about the projection
/// origin (the tool centres its projection on the network and sets no false origin).
struct PlaneNetwork {
  PointList source;
  PointList destination;
};

/// `pairs` points spread uniformly within ±3 km of the origin in easting and northing, heights
/// 0–3000 m; the destination is the source through `TrueTransform` plus survey noise of 5 mm
/// (one sigma) in plan and 15 mm in height.
inline PlaneNetwork MakePlaneNetwork(std::size_t pairs, std::uint64_t seed = 20240611) {
  const TrueTransform t;
  Draw draw(seed);
  PlaneNetwork net;
  net.source.reserve(pairs);
  net.destination.reserve(pairs);
  const double c = std::cos(t.rz);
  const double s = std::sin(t.rz);
  for (std::size_t i = 0; i < pairs; ++i) {
    const Point3 p(draw.Uniform(-3000.0, 3000.0), draw.Uniform(-3000.0, 3000.0),
                   draw.Uniform(0.0, 3000.0));
    const double x = p.x + t.tx;
    const double y = p.y + t.ty;
    const double z = p.z + t.tz;
    net.source.push_back(p);
    net.destination.emplace_back(t.scale * (c * x - s * y) + draw.Normal(0.005),
                                 t.scale * (s * x + c * y) + draw.Normal(0.005),
                                 t.scale * z + draw.Normal(0.015));
  }
  return net;
}

/// The two option values of one run of the tool.
struct ArgumentTexts {
  std::string source;       // value of --refsrc
  std::string destination;  // value of --refdes
};

/// Bytes of one point in the form "116.1234567,39.1234567,51.234," (comma included). Linux takes
/// at most 131072 bytes for one argument, its terminating NUL included; n points are 30·n − 1
/// bytes without the last comma, 30·n with the NUL, so one list holds at most 4369 of them.
constexpr std::size_t kPointTextBytes = 30;
constexpr std::size_t kMaxArgumentBytes = 131072;  // MAX_ARG_STRLEN, NUL included
constexpr std::size_t kMaxPairsPerArgument = kMaxArgumentBytes / kPointTextBytes;

/// `points` control points around Beijing (116.35° E, 39.90° N), within about ±2.5 km in each
/// direction, ellipsoidal heights 50–100 m, written with seven decimals of a degree (about 1 cm)
/// and millimetres; the destination list is the same points in a neighbouring datum: shifted by
/// about 180 m east, 140 m south and 36.7 m down, turned by 4″ and scaled by 60 ppm about the
/// centre, so the fit has a real rotation and scale to find. The rounding to seven decimals adds
/// centimetre noise. Every point takes exactly kPointTextBytes, so `points` up to
/// kMaxPairsPerArgument fits one argument; any number fits a point file.
inline ArgumentTexts MakeListTexts(std::size_t points, std::uint64_t seed = 7340033) {
  constexpr double kLon0 = 116.35;
  constexpr double kLat0 = 39.90;
  constexpr double kShiftLon = 0.0021;      // degrees, about 180 m at this latitude
  constexpr double kShiftLat = -0.0013;     // degrees, about 144 m
  constexpr double kShiftHeight = -36.712;  // metres
  constexpr double kTurn = 2.0e-5;          // radians, on the ground
  constexpr double kScale = 1.00006;
  // A degree of longitude is cos φ0 ≈ 0.77 of a degree of latitude on the ground; the turn is
  // applied in those ground-proportional units so it is a rotation and not a shear.
  const double lonToGround = std::cos(kLat0 * 0.017453292519943295);

  Draw draw(seed);
  ArgumentTexts texts;
  texts.source.reserve(points * kPointTextBytes);
  texts.destination.reserve(points * kPointTextBytes);
  const double c = std::cos(kTurn);
  const double s = std::sin(kTurn);
  char buffer[64];
  auto append = [&buffer](std::string& list, double lon, double lat, double h) {
    const int n = std::snprintf(buffer, sizeof buffer, "%.7f,%.7f,%.3f,", lon, lat, h);
    if (n != static_cast<int>(kPointTextBytes)) {
      throw std::logic_error("point text is not exactly 30 bytes");
    }
    list.append(buffer, kPointTextBytes);
  };
  for (std::size_t i = 0; i < points; ++i) {
    const double dLon = draw.Uniform(-0.029, 0.029);
    const double dLat = draw.Uniform(-0.022, 0.022);
    const double h = draw.Uniform(50.0, 99.9);
    const double x = dLon * lonToGround;
    append(texts.source, kLon0 + dLon, kLat0 + dLat, h);
    append(texts.destination, kLon0 + kShiftLon + kScale * (c * x - s * dLat) / lonToGround,
           kLat0 + kShiftLat + kScale * (s * x + c * dLat), kScale * h + kShiftHeight);
  }
  // A list ends without a comma, as one is typed.
  if (!texts.source.empty()) texts.source.pop_back();
  if (!texts.destination.empty()) texts.destination.pop_back();
  return texts;
}

/// MakeListTexts within one argument's limit. Throws std::length_error beyond kMaxPairsPerArgument.
inline ArgumentTexts MakeArgumentTexts(std::size_t points, std::uint64_t seed = 7340033) {
  if (points > kMaxPairsPerArgument) {
    throw std::length_error("more points than one command-line argument holds");
  }
  return MakeListTexts(points, seed);
}

}  // namespace QuorvaneBench
