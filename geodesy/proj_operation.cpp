#include "geodesy/proj_operation.h"

#include <cmath>
#include <new>

#include "geodesy/proj_library.h"

namespace Quorvane {

bool ProjOperation::Make(const std::string& definition, std::string& problem) {
  const ProjLibrary* proj = ProjLibraryOrNull(problem);
  if (proj == nullptr) return false;
  PJ* object = proj->proj_create(proj->context, definition.c_str());
  if (object == nullptr) {
    if (OutOfMemoryNow()) throw std::bad_alloc();
    const std::string why = proj->LastError();
    problem = "PROJ: " + (why.empty() ? std::string("the operation cannot be made") : why);
    return false;
  }
  object_ = std::shared_ptr<void>(object, [proj](void* pj) { proj->proj_destroy(static_cast<PJ*>(pj)); });
  return true;
}

Point3 ProjOperation::Forward(const Point3& point) const { return Apply(point, true); }

Point3 ProjOperation::Inverse(const Point3& point) const { return Apply(point, false); }

Point3 ProjOperation::Apply(const Point3& point, bool forward) const {
  std::string problem;
  const ProjLibrary* proj = ProjLibraryOrNull(problem);
  if (proj == nullptr || object_ == nullptr) return Point3(NAN, NAN, NAN);
  PJ* object = static_cast<PJ*>(object_.get());
  PJ_COORD in;
  in.xyzt.x = point.x;
  in.xyzt.y = point.y;
  in.xyzt.z = point.z;
  in.xyzt.t = HUGE_VAL;  // no epoch: the operations here do not depend on time
  proj->proj_errno_reset(object);
  const PJ_COORD out = proj->proj_trans(object, forward ? PJ_FWD : PJ_INV, in);
  // PROJ marks a point it cannot transform with HUGE_VAL (and sets the object's error).
  if (proj->proj_errno(object) != 0 || out.xyzt.x == HUGE_VAL || out.xyzt.y == HUGE_VAL ||
      out.xyzt.z == HUGE_VAL) {
    return Point3(NAN, NAN, NAN);
  }
  return Point3(out.xyzt.x, out.xyzt.y, out.xyzt.z);
}

bool ProjAvailable(std::string& problem) { return ProjLibraryOrNull(problem) != nullptr; }

}  // namespace Quorvane
