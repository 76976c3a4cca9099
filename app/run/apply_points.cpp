// Applying: the --apply points carried through the frame and the fit.
#include "app/run/run_steps.h"

#include <algorithm>
#include <cmath>

namespace Quorvane {

// Further points, through the same frame and the reported fit, and back to the destination's
// system; one outside the projection's domain, or that comes out not finite, is refused.
bool ApplyFurther(Step& step, const ObservationList& further, Registration& run) {
  run.appliedNamed = further.HasNames();
  for (std::size_t i = 0; i < further.points.size(); ++i) {
    AppliedPoint point;
    point.source = further.points[i];
    if (run.appliedNamed) point.name = further.names[i];
    const std::string off = OffTheEarth(run.plane.source, point.source,
                                        run.plane.SourceGeographic(point.source), "source");
    if (!off.empty()) {
      step.errors << "quorvane: --apply point " << i + 1 << " (counting from 1; given as "
                  << point.source.x << ',' << point.source.y << ',' << point.source.z << ") " << off
                  << kNothingWritten;
      return false;
    }
    point.plane = run.model->Apply(run.params, run.plane.SourceToFrame(point.source));
    point.destination = run.plane.FrameToDestinationGeographic(point.plane);
    point.given = run.plane.FrameToDestination(point.plane);
    const double outside = std::max(run.plane.OutsideDomain(run.plane.SourceGeographic(point.source)),
                                    run.plane.OutsideDomain(point.destination));
    const bool finite =
        IsFinite(point.plane) && IsFinite(point.destination) && IsFinite(point.given);
    if (!finite || !(outside == 0.0)) {
      step.errors << "quorvane: --apply point " << i + 1 << " (counting from 1; given as "
                  << point.source.x << ',' << point.source.y << ',' << point.source.z << ")";
      if (run.appliedNamed) step.errors << ", " << step.Quoted(point.name) << ",";
      if (!finite || std::isnan(outside)) {
        step.errors << " has no finite coordinates in the destination system";
      } else {
        // The point the domain refuses: the source's or, when that is inside, the
        // destination's.
        const Point3 source = run.plane.SourceGeographic(point.source);
        const Point3& far = run.plane.OutsideDomain(source) > 0.0 ? source : point.destination;
        step.errors << " lies outside the projection's domain: "
                    << DomainReach(far, run.plane.centralMeridian,
                                   ", where the series lose their accuracy");
      }
      step.errors << kNothingWritten;
      return false;
    }
    run.applied.push_back(point);
  }
  return true;
}

}  // namespace Quorvane
