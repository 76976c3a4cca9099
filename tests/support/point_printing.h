// Comparison and printing of points for test assertions.
#pragma once

#include <ostream>
#include <string>

#include "common/point_list.h"

namespace Quorvane {

// Exact comparison: parsing and pass-through must keep every bit.
inline bool operator==(const Point3& a, const Point3& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

inline void PrintTo(const Point3& p, std::ostream* os) {
  *os << "(" << p.x << ", " << p.y << ", " << p.z << ")";
}

}  // namespace Quorvane

namespace QuorvaneTest {

// Names a parameterised case after the `name` member of its parameter.
struct CaseName {
  template <class ParamInfo>
  std::string operator()(const ParamInfo& param) const {
    return param.param.name;
  }
};

}  // namespace QuorvaneTest
