// Applying: the --apply points carried through the frame and the fit.
#include "app/run/run_steps.h"

#include <algorithm>
#include <cmath>

namespace Quorvane {

namespace {

// A point the model carried, with the distortion's correction; counted when it lies beyond the
// area of the pairs that shaped it.
Point3 Distorted(const DistortionField& field, const Point3& p, std::size_t& outside) {
  const PlanePoint at{p.x, p.y};
  if (!field.Inside(at)) ++outside;
  const Point3 c = field.CorrectionAt(at);
  return Point3(p.x + c.x, p.y + c.y, p.z + c.z);
}

}  // namespace

// Further points, through the same frame and the reported fit, and back to the destination's
// system; one outside the projection's domain, or that comes out not finite, is refused.
bool ApplyFurther(Step& step, const ObservationList& further, Registration& run) {
  run.appliedNamed = further.HasNames();
  std::size_t outside = 0;
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
    if (run.distortion) point.plane = Distorted(*run.distortion, point.plane, outside);
    point.destination = run.plane.FrameToDestinationGeographic(point.plane);
    point.given = run.plane.FrameToDestination(point.plane);
    const double beyond = std::max(run.plane.OutsideDomain(run.plane.SourceGeographic(point.source)),
                                    run.plane.OutsideDomain(point.destination));
    const bool finite =
        IsFinite(point.plane) && IsFinite(point.destination) && IsFinite(point.given);
    if (!finite || !(beyond == 0.0)) {
      step.errors << "quorvane: --apply point " << i + 1 << " (counting from 1; given as "
                  << point.source.x << ',' << point.source.y << ',' << point.source.z << ")";
      if (run.appliedNamed) step.errors << ", " << step.Quoted(point.name) << ",";
      if (!finite || std::isnan(beyond)) {
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
  run.appliedOutside = outside;
  if (outside > 0) {
    step.Warn(std::to_string(outside) + " of the " + std::to_string(further.points.size()) +
              " --apply points lie outside the area of the pairs that shaped the distortion: "
              "its correction there falls to zero within " +
              std::to_string(static_cast<long long>(std::lround(run.distortion->margin))) +
              " m of the area, and they are known no better than the model alone makes them");
  }
  return true;
}

}  // namespace Quorvane
