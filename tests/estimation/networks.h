// Control networks the estimation tests share, in the frames the models are fitted in, and the
// models made from the table as the run makes them.
#pragma once

#include <proj.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "estimation/model.h"

namespace QuorvaneTest {

using Quorvane::LocalAxes;
using Quorvane::Point3;
using Quorvane::PointList;

/// The model of the table named `name`, with `settings` (whose name is overwritten).
inline std::unique_ptr<const Quorvane::TransformModel> Made(const char* name,
                                                            Quorvane::Model settings = {}) {
  settings.name = name;
  return Quorvane::MakeModel(settings);
}

/// Every pair used in each of `components` components.
inline std::vector<std::vector<bool>> All(std::size_t pairs, std::size_t components = 1) {
  return std::vector<std::vector<bool>>(components, std::vector<bool>(pairs, true));
}

/// Pairs in a plane over 10 km about `origin` (E, N), heights 100 to 300 m: a similarity of scale
/// 1 + 20 ppm and 6″ after a shift, a height shift and a geoid tilt of 3 and −2 ppm, then
/// `horizontal` and `vertical` metres of normal noise; `seed` picks the points.
struct PlaneNetwork {
  PointList source, destination;

  PlaneNetwork(int pairs, double horizontal, double vertical, unsigned seed = 19,
               Point3 origin = Point3()) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> plane(-5000, 5000), height(100, 300);
    std::normal_distribution<double> h(0, horizontal), v(0, vertical);
    const double s = 1.00002, c = std::cos(3e-5), sn = std::sin(3e-5);
    for (int i = 0; i < pairs; ++i) {
      const Point3 p{plane(random), plane(random), height(random)};
      source.push_back({origin.x + p.x, origin.y + p.y, p.z});
      destination.push_back({origin.x + s * (c * (p.x + 152.3) - sn * (p.y - 88.1)) + h(random),
                             origin.y + s * (sn * (p.x + 152.3) + c * (p.y - 88.1)) + h(random),
                             p.z - 36.7 + 3e-6 * p.y - 2e-6 * p.x + v(random)});
    }
  }
  Quorvane::FramePairs Pairs() const { return {source, destination}; }
};

/// OSGB36 points over about 300 km of Britain, heights 0 to 300 m, as geocentric X, Y, Z on Airy
/// 1830, and their images under `transformation` (a PROJ step on geocentric coordinates) plus
/// `noise` metres of normal noise in each coordinate; with the local axes at each image.
struct GeocentricNetwork {
  PointList source, destination;
  std::vector<LocalAxes> axes;

  GeocentricNetwork(int pairs, const std::string& transformation, double noise) {
    PJ* cart = proj_create(PJ_DEFAULT_CTX, "+proj=cart +ellps=airy");
    PJ* step = proj_create(PJ_DEFAULT_CTX, transformation.c_str());
    EXPECT_NE(cart, nullptr);
    EXPECT_NE(step, nullptr);
    std::mt19937_64 random(1314);
    std::uniform_real_distribution<double> lon(-3.5, 0.5), lat(51.0, 53.7), height(0, 300);
    std::normal_distribution<double> error(0, noise);
    for (int i = 0; i < pairs && cart != nullptr && step != nullptr; ++i) {
      const double lambda = proj_torad(lon(random)), phi = proj_torad(lat(random));
      const PJ_COORD xyz = proj_trans(cart, PJ_FWD, proj_coord(lambda, phi, height(random), 0));
      const PJ_COORD image = proj_trans(step, PJ_FWD, xyz);
      source.push_back({xyz.xyz.x, xyz.xyz.y, xyz.xyz.z});
      destination.push_back({image.xyz.x + error(random), image.xyz.y + error(random),
                             image.xyz.z + error(random)});
      // The points' own normals: the image lies within metres of them.
      LocalAxes local;
      const double sl = std::sin(lambda), cl = std::cos(lambda);
      const double sp = std::sin(phi), cp = std::cos(phi);
      const double east[3] = {-sl, cl, 0.0}, north[3] = {-sp * cl, -sp * sl, cp},
                   up[3] = {cp * cl, cp * sl, sp};
      for (int k = 0; k < 3; ++k) {
        local.east[k] = east[k], local.north[k] = north[k], local.up[k] = up[k];
      }
      axes.push_back(local);
    }
    proj_destroy(step);
    proj_destroy(cart);
  }
  Quorvane::FramePairs Pairs() const { return {source, destination, &axes}; }
};

/// EPSG:1314, OSGB36 to WGS 84 (6), position vector: metres, arc seconds, parts per million.
constexpr double kEpsg1314[7] = {446.448, -125.157, 542.060, 0.150, 0.247, 0.842, -20.489};

/// PROJ's helmert step of EPSG:1314 in a convention ("position_vector", `sign` 1, or
/// "coordinate_frame", −1).
inline std::string Epsg1314Step(const char* convention = "position_vector", double sign = 1) {
  char text[300];
  std::snprintf(text, sizeof text,
                "+proj=helmert +x=%.3f +y=%.3f +z=%.3f +rx=%.3f +ry=%.3f +rz=%.3f +s=%.3f "
                "+convention=%s",
                kEpsg1314[0], kEpsg1314[1], kEpsg1314[2], sign * kEpsg1314[3],
                sign * kEpsg1314[4], sign * kEpsg1314[5], kEpsg1314[6], convention);
  return text;
}

}  // namespace QuorvaneTest
