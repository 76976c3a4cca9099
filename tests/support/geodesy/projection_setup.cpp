#include "geodesy/projection_setup.h"

#include <utility>

namespace Quorvane {

ProjectionSetup::ProjectionSetup(double centralMeridian_, double originLatitude_,
                                 std::string ellipsoidName_, double projectionHeight_,
                                 double falseEasting_, double falseNorthing_)
    : centralMeridian(centralMeridian_),
      originLatitude(originLatitude_),
      ellipsoidName(std::move(ellipsoidName_)),
      projectionHeight(projectionHeight_),
      falseEasting(falseEasting_),
      falseNorthing(falseNorthing_) {}

}  // namespace Quorvane
