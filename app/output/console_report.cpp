#include "app/output/console_report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>

#include "app/output/number_text.h"
#include "app/text/text_encoding.h"

namespace Quorvane {

namespace {



// One point line, ended by a newline and a flush so that a reader of a pipe sees each line as it
// comes.
void PointLine(std::ostream& out, const char* open, double x, double y, double z,
               const char* close) {
  // The longest "%.5f" text of a double, DBL_MAX's, has 316 characters with its sign.
  char line[3 * 320 + 16];
  char* const end = line + sizeof line;
  char* p = line;
  p = std::copy(open, open + std::strlen(open), p);
  p = AppendFixed(p, end, x, 5);
  p = std::copy_n(",\t", 2, p);
  p = AppendFixed(p, end, y, 5);
  p = std::copy_n(",\t", 2, p);
  p = AppendFixed(p, end, z, 5);
  p = std::copy(close, close + std::strlen(close), p);
  *p++ = '\n';
  out.write(line, p - line);
  out.flush();
}


// The three blocks of plane points, the last one the source points through `fitted` (given the
// point and its pair's index), the same model the fit used, so that it can be set against the
// destination block.
template <typename Fitted>
void PrintBlocks(const PointList& source, const PointList& destination, const Fitted& fitted,
                 std::ostream& out, ConsoleEncoding encoding) {
  const std::size_t n = source.size();
  out << kSourceLabel.In(encoding) << std::endl;
  for (std::size_t i = 0; i < n; ++i) {
    PointLine(out, "( ", source[i].x, source[i].y, source[i].z, " )");
  }
  out << kDestinationLabel.In(encoding) << std::endl;
  for (std::size_t i = 0; i < n && i < destination.size(); ++i) {
    PointLine(out, "( ", destination[i].x, destination[i].y, destination[i].z, " )");
  }
  out << std::endl << kComputedLabel.In(encoding) << std::endl;
  for (std::size_t i = 0; i < n; ++i) {
    const Point3 w = fitted(source[i], i);
    PointLine(out, "(", w.x, w.y, w.z, ")");
  }
}

// The distortion's method, pairs and leave-one-out prediction RMS, horizontally and vertically, of
// the pairs inside their hull, then of those on it apart: the outside rule predicts these.
void PrintDistortionLine(const DistortionField& field, std::ostream& out,
                         ConsoleEncoding encoding) {
  std::string line = kDistortionLabel.In(encoding);
  line += std::string("\t") + DistortionName(field.method) + "\t" + std::to_string(field.pairs) +
          kDistortionPairs.In(encoding);
  const auto figures = [&](const LeaveOneOut& loo) {
    line += std::string("\t") + kHorizontalPrefix.In(encoding) + "\t" +
            FixedText(loo.rmsHorizontal, 4) + "\tm\t" + kVerticalPrefix.In(encoding) + "\t" +
            FixedText(loo.rmsVertical, 4) + "\tm";
  };
  if (field.inside.points > 0) {
    line += std::string("\t") + kLeaveOneOutLabel.In(encoding);
    figures(field.inside);
  }
  if (field.onHull.points > 0) {
    line += std::string("\t") + kHullApartOpen.In(encoding) + std::to_string(field.onHull.points) +
            kHullApartClose.In(encoding);
    figures(field.onHull);
  }
  out << line << "\n";
}

// The operation PROJ carried the source to the destination's datum with, before the plane.
std::string DatumShiftLine(const PlaneSetup& plane, ConsoleEncoding encoding) {
  const DatumShift& shift = plane.datumShift;
  std::string line = "datum shift: " + QuotedField(shift.name, 200, encoding) + " by PROJ";
  if (shift.accuracy >= 0.0) {
    char accuracy[40];
    std::snprintf(accuracy, sizeof accuracy, ", accuracy %g m", shift.accuracy);
    line += accuracy;
  }
  return line + ", then the destination's projection on " +
         ConsoleName(plane.destination.ellipsoid.name, encoding) + "\n";
}

}  // namespace

void PrintReport(const Registration& run, std::ostream& out, ConsoleEncoding encoding) {
  out << run.outcome.summaryLine << "\n\n";
  out << run.model->ReportLines(run.params);
  if (!run.plane.datumShift.name.empty()) out << DatumShiftLine(run.plane, encoding);
  if (run.distortion) PrintDistortionLine(*run.distortion, out, encoding);
  if (run.varianceComponents.estimated) {
    out << kVarianceComponentsLabel.In(encoding) << '\t' << kHorizontalPrefix.In(encoding) << '\t'
        << FixedText(run.varianceComponents.horizontal, 4) << "\tm\t"
        << kVerticalPrefix.In(encoding) << '\t' << FixedText(run.varianceComponents.vertical, 4)
        << "\tm\n";
  }
  // A grid in feet is shown in feet, its heights in theirs: the frame is in metres.
  const double unit = run.plane.destinationOnGrid ? run.plane.destination.unit : 1.0;
  const double heightUnit = run.plane.destinationOnGrid ? run.plane.destination.heightUnit : 1.0;
  if (unit == 1.0 && heightUnit == 1.0) {
    PrintBlocks(run.planeSource, run.planeDestination,
                [&run](const Point3& p, std::size_t i) {
                  return run.model->Apply(run.params, p, run.EpochOf(i));
                },
                out, encoding);
    return;
  }
  const auto inUnits = [unit, heightUnit](const Point3& p) {
    return Point3(p.x / unit, p.y / unit, p.z / heightUnit);
  };
  PointList source, destination;
  for (const Point3& p : run.planeSource) source.push_back(inUnits(p));
  for (const Point3& q : run.planeDestination) destination.push_back(inUnits(q));
  PrintBlocks(source, destination,
              [&](const Point3& p, std::size_t i) {
                return inUnits(run.model->Apply(
                    run.params, Point3(p.x * unit, p.y * unit, p.z * heightUnit), run.EpochOf(i)));
              },
              out, encoding);
}


void PrintAppliedPoints(const Registration& run, ConsoleEncoding encoding, std::ostream& out) {
  std::string block = kTransformedLabel.In(encoding);
  block += '\n';
  // A grid's or geocentric coordinates first, then the longitude and latitude on the
  // destination's ellipsoid; for a geographic destination its longitude, latitude and height,
  // the height in the list's unit.
  const bool geographic = run.plane.destination.kind == ListSystem::Kind::Geographic;
  for (const AppliedPoint& point : run.applied) {
    if (run.appliedNamed) block += ConsoleName(point.name, encoding) + '\t';
    const std::pair<double, int> fields[] = {
        {point.given.x, 4},          {point.given.y, 4}, {point.given.z, 4},
        {point.destination.x, 9},    {point.destination.y, 9},
        {geographic ? point.given.z : point.destination.z, 4}};
    for (std::size_t k = geographic ? 3 : 0; k < (geographic ? 6u : 5u); ++k) {
      if (k != (geographic ? 3u : 0u)) block += '\t';
      block += FixedText(fields[k].first, fields[k].second);
    }
    // A model with rates gives the point at its epoch, which the line repeats.
    if (run.model->ChangesWithTime()) block += '\t' + FixedText(point.epoch, 4);
    block += '\n';
  }
  out << block << std::flush;
}

}  // namespace Quorvane
