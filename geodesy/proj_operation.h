// A coordinate operation of PROJ made from the text of a pipeline, applied to points: the same
// text the record's "proj" pipeline carries, so that what the tool computes and what cct or
// ogr2ogr compute from the record are one operation.
#pragma once

#include <memory>
#include <string>

#include "common/point_list.h"

namespace Quorvane {

class ProjOperation {
 public:
  ProjOperation() = default;

  /// Makes the operation `definition` (a PROJ string such as "+proj=pipeline +step …"); false
  /// with `problem` saying why (PROJ missing, or "PROJ: " and its own reason) in a phrase
  /// without a line end.
  bool Make(const std::string& definition, std::string& problem);

  /// Whether Make succeeded.
  bool Valid() const { return object_ != nullptr; }

  /// The operation forward and backward on one point (x, y, z in the units its ends take: degrees
  /// where it begins or ends with a conversion to or from degrees, metres otherwise). A point
  /// PROJ cannot transform comes back as NaNs.
  Point3 Forward(const Point3& point) const;
  Point3 Inverse(const Point3& point) const;

 private:
  Point3 Apply(const Point3& point, bool forward) const;

  std::shared_ptr<void> object_;  // the PJ, destroyed with the last copy
};

/// Names the folder that holds proj.db (and grids given by a bare name) instead of PROJ's own
/// places: the folder of the executable on Windows, where the zip ships proj.db beside it. Takes
/// effect only when called before PROJ is first used; an empty folder changes nothing.
void SetProjDataFolder(const std::string& folder);

/// Whether PROJ can be had, with the reason when not (a phrase without a line end).
bool ProjAvailable(std::string& problem);

}  // namespace Quorvane
