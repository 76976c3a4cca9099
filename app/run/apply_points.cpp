// Applying: the --apply points carried through the frame and the fit.
#include "app/run/run_steps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

// The --apply points, and where they come out, held to the areas of use of the CRSs the lists
// are named by.
void WarnAppliedOutsideTheAreas(Step& step, const Registration& run) {
  const PlaneSetup& plane = run.plane;
  for (const bool isSource : {true, false}) {
    const ListSystem& list = isSource ? plane.source : plane.destination;
    if (!list.area.known) continue;
    OutsideArea outside{list, isSource ? "--source-crs" : "--destination-crs",
                        isSource ? "--apply point" : "the image of --apply point",
                        isSource ? "--apply points" : "the images of --apply points", !isSource};
    for (std::size_t i = 0; i < run.applied.size(); ++i) {
      const AppliedPoint& point = run.applied[i];
      const Point3 geographic = isSource ? plane.SourceGeographic(point.source) : point.destination;
      if (WithinArea(list.area, geographic)) continue;
      if (outside.labels.empty()) outside.given = GivenText(point.source);
      outside.labels.push_back(std::to_string(i + 1) +
                               (run.appliedNamed ? " " + step.Quoted(point.name) : ""));
    }
    WarnOutsideTheArea(step, outside);
  }
}

// --apply points far from the control points the fit holds about: farther from the box they
// span than the box is across, or 1 km when it is less, as field software warns of a
// calibration used outside its area.
void WarnFarApplied(Step& step, const Registration& run) {
  constexpr double kLeastReach = 1000.0;  // metres
  const NetworkBox box = FittedNetworkBox(run);
  const double extent = box.Extent();
  if (!std::isfinite(extent)) return;
  const double reach = std::max(extent, kLeastReach);
  std::size_t far = 0;
  double farthest = 0.0;
  for (const AppliedPoint& point : run.applied) {
    // Drawn where the control points are (FittedNetworkBox): in a plane, where the fit put it.
    const bool plane = run.plane.frame == PlaneSetup::Frame::Plane;
    const double distance = box.DistanceTo(plane ? point.plane : run.plane.MapPoint(point.given));
    if (!(distance > reach)) continue;
    ++far;
    farthest = std::max(farthest, distance);
  }
  if (far == 0) return;
  char figures[200];
  std::snprintf(figures, sizeof figures,
                "%zu of the %zu --apply points %s farther from the fitted control points than "
                "the %.1f km they span (or 1 km), %s%.1f km from them",
                far, run.applied.size(), far == 1 ? "lies" : "lie", extent / 1000,
                far == 1 ? "" : "the farthest ", farthest / 1000);
  step.Warn(std::string(figures) +
            ": the fit holds about its control points and is extrapolated beyond them");
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
    if (further.HasEpochs()) point.epoch = further.epochs[i];
    if (run.model->ChangesWithTime() && !std::isfinite(point.epoch)) {
      step.errors << "quorvane: --apply point " << i + 1 << " (counting from 1"
                  << (run.appliedNamed ? ", " + step.Quoted(point.name) : "")
                  << ") has no epoch, and a model with rates carries a point at its epoch: give "
                     "--apply-file an epoch column"
                  << kNothingWritten;
      return false;
    }
    point.plane =
        run.model->Apply(run.params, run.plane.SourceToFrame(point.source), point.epoch);
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
  WarnAppliedOutsideTheAreas(step, run);
  WarnFarApplied(step, run);
  return true;
}

}  // namespace Quorvane
