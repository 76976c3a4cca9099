#include "app/output/plot_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "app/text/console_text.h"
#include "app/output/number_text.h"
#include "app/text/text_encoding.h"

namespace Quorvane {

namespace {

// Layout in SVG user units. The frame's padding holds the largest arrow and a label around the
// points' extent; its least height leaves room beside it for the legend and the scale bars.
constexpr double kCanvasWidth = 900.0;
constexpr double kMargin = 20.0;
constexpr double kFrameTop = 112.0;
constexpr double kFramePadding = 80.0;
constexpr double kUsableWidth = kPlotFrameWidth - 2.0 * kFramePadding;
constexpr double kLeastFrameHeight = 400.0;
constexpr double kPanelLeft = kMargin + kPlotFrameWidth + 24.0;
constexpr double kLargestArrow = 0.1 * kPlotFrameWidth;
constexpr double kLargestBar = 0.06 * kPlotFrameWidth;
// The plane's scale bar, in the frame's lower left corner, is at most this long.
constexpr double kLongestPlaneBar = 0.3 * kPlotFrameWidth;
// Arrows shorter than their head are drawn without one: a head would hide the shaft's direction.
constexpr double kHeadLength = 8.0;
// Residuals below this, metres, are drawn as rounding: a few times the last bit of plane
// coordinates of some hundred kilometres (2.2e-16 · 5e5 m ≈ 1e-10 m), far below any survey.
constexpr double kLeastDrawnResidual = 1e-9;
// The extent, metres, that the frame is drawn for when all points lie on one spot, so that the
// plane still has a scale, and its bar a length.
constexpr double kCoincidentSpan = 1.0;

// The plot's own texts, UTF-8; the statistics' labels and marks are the console's.
constexpr char kTitle[] = "\xE6\xAE\x8B\xE5\xB7\xAE\xE5\x9B\xBE";                   // 残差图
constexpr char kPairsLabel[] = "\xE7\x82\xB9\xE5\xAF\xB9\xE6\x95\xB0\xEF\xBC\x9A";  // 点对数：
constexpr char kCentreLabel[] =
    "\xE6\x8A\x95\xE5\xBD\xB1\xE4\xB8\xAD\xE5\xBF\x83\xEF\xBC\x9A";     // 投影中心：
constexpr char kFittedName[] = "\xE6\x8B\x9F\xE5\x90\x88\xE7\x82\xB9";  // 拟合点
constexpr char kLegendLabel[] = "\xE5\x9B\xBE\xE4\xBE\x8B";             // 图例
constexpr char kHorizontalScaleLabel[] =
    "\xE5\xB9\xB3\xE9\x9D\xA2\xE6\xAE\x8B\xE5\xB7\xAE";  // 平面残差
constexpr char kHeightScaleLabel[] =
    "\xE9\xAB\x98\xE7\xA8\x8B\xE6\xAE\x8B\xE5\xB7\xAE";                      // 高程残差
constexpr char kPlaneScaleLabel[] = "\xE6\xAF\x94\xE4\xBE\x8B\xE5\xB0\xBA";  // 比例尺
constexpr char kDegree[] = "\xC2\xB0";                                       // °
constexpr char kMeridianLabel[] =
    "\xE4\xB8\xAD\xE5\xA4\xAE\xE5\xAD\x90\xE5\x8D\x88\xE7\xBA\xBF\xEF\xBC\x9A";  // 中央子午线：
constexpr char kFalseEastingLabel[] = "\xE4\xB8\x9C\xE5\x81\x8F";  // 东偏
// How each kind of pair is drawn: colour for the screen, and for grey print a marker shape
// (filled for fitted pairs, hollow for check points) and an arrow dash of its own. In the order
// of PairFate::Kind.
using Kind = PairFate::Kind;
struct Style {
  const char* name;    // the class in the file
  const char* colour;  // of marker, arrow and height bar
  const char* dash;    // the arrow's stroke-dasharray, or nullptr for a solid line
  double width;        // the arrow's stroke width
  bool hollow;         // marker and height bar outlined on white
};
constexpr Style kStyles[] = {
    {"fitted", "#1f4e9c", nullptr, 1.5, false},
    {"suspect", "#d7191c", nullptr, 2.5, false},
    {"excluded", "#e66101", "6 3", 1.5, true},
    {"removed", "#5e3c99", "1.5 2.5", 1.5, true},
};
constexpr Kind kKinds[] = {Kind::Fitted, Kind::Suspect, Kind::Excluded, Kind::Removed};

const Style& StyleOf(Kind kind) { return kStyles[static_cast<int>(kind)]; }

// Coordinates to a hundredth of a unit, far below what any renderer shows; never NaN or inf in
// the file, whatever reaches here.
std::string Number(double value) {
  // Below the last decimal, 0 without the sign that "-0.00" would carry.
  if (!std::isfinite(value) || std::fabs(value) < 0.005) value = 0.0;
  return FixedText(value, 2);
}


// A statistic as the quality block gives it, "<value> m" with four decimals, or 无法确定.
std::string Metres(bool determined, double value) {
  if (!determined || !std::isfinite(value)) return kNotDetermined.utf8;
  return FixedText(value, 4) + " m";
}

// mantissa · 10^exponent, rounded once, so that 5e-05 reads back as 5e-05.
double Scaled(double mantissa, int exponent) {
  return exponent >= 0 ? mantissa * std::pow(10.0, exponent) : mantissa / std::pow(10.0, -exponent);
}

// The largest of 1, 2 and 5 times a power of ten that is at most `x`; 0 when there is none
// (x not positive and finite, or below the smallest normal double's powers of ten).
double RoundBelow(double x) {
  if (!(x > 0.0) || !std::isfinite(x)) return 0.0;
  const int exponent = static_cast<int>(std::floor(std::log10(x)));
  // One decade either side, for a log10 that rounds across a power of ten.
  for (int e = exponent + 1; e >= exponent - 1; --e) {
    for (const double mantissa : {5.0, 2.0, 1.0}) {
      const double value = Scaled(mantissa, e);
      if (value <= x && value > 0.0) return value;
    }
  }
  return 0.0;
}

// A round length as the scale bars say it: "0.05 m", "500 m", "10 km".
std::string LengthText(double metres) {
  const double shown = metres >= 1000.0 ? metres / 1000.0 : metres;
  char text[40];
  std::string length(text, std::to_chars(text, text + sizeof text, shown).ptr);
  return length + (metres >= 1000.0 ? " km" : " m");
}

// The marker of `kind` about (0, 0), about 10 units across.
std::string Marker(Kind kind) {
  const Style& style = StyleOf(kind);
  const std::string paint =
      style.hollow
          ? std::string(" fill=\"white\" stroke=\"") + style.colour + "\" stroke-width=\"2\""
          : std::string(" fill=\"") + style.colour + "\" stroke=\"white\" stroke-width=\"1\"";
  switch (kind) {
    case Kind::Suspect:
      return "<polygon class=\"marker\" points=\"0 -8 7 4 -7 4\"" + paint + "/>";
    case Kind::Excluded:
      return "<rect class=\"marker\" x=\"-4.5\" y=\"-4.5\" width=\"9\" height=\"9\"" + paint + "/>";
    case Kind::Removed:
      return "<polygon class=\"marker\" points=\"0 -6 6 0 0 6 -6 0\"" + paint + "/>";
    case Kind::Fitted:
      break;
  }
  return "<circle class=\"marker\" r=\"4.5\"" + paint + "/>";
}

// An arrow from (0, 0) to (dx, dy), its head from the <defs> of its kind.
std::string Arrow(Kind kind, double dx, double dy) {
  const Style& style = StyleOf(kind);
  std::string arrow = "<path class=\"arrow\" d=\"M0 0L" + Number(dx) + ' ' + Number(dy) +
                      "\" fill=\"none\" stroke=\"" + style.colour + "\" stroke-width=\"" +
                      Number(style.width) + '"';
  if (style.dash != nullptr) arrow += std::string(" stroke-dasharray=\"") + style.dash + '"';
  if (std::hypot(dx, dy) >= kHeadLength) {
    arrow += std::string(" marker-end=\"url(#head-") + style.name + ")\"";
  }
  return arrow + "/>";
}

// A height residual drawn `length` long, up from (0, 0) when `up`, beside the marker, on a
// tick at the point's own height so that a short bar does not read as a second marker.
std::string HeightBar(Kind kind, double length, bool up) {
  const Style& style = StyleOf(kind);
  return "<path d=\"M7 0h9\" stroke=\"#444\" stroke-width=\"1\"/>"
         "<rect class=\"height-bar\" x=\"9\" y=\"" +
         Number(up ? -length : 0.0) + "\" width=\"5\" height=\"" + Number(length) + "\" fill=\"" +
         (style.hollow ? "white" : style.colour) + "\" stroke=\"" + style.colour +
         "\" stroke-width=\"1\"/>";
}

std::string Text(double x, double y, const std::string& content, const char* more = "") {
  return "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + '"' + more + '>' + content +
         "</text>\n";
}

// A horizontal scale bar with end ticks under its label, `pixels` long for `metres`; a length
// of 0 (a plane too wide for doubles) is said, not drawn.
std::string HorizontalScaleBar(double x, double y, const char* label, double metres,
                               double pixels) {
  std::string bar = Text(x, y, label);
  if (metres > 0.0) {
    bar += "<path d=\"M" + Number(x) + ' ' + Number(y + 8) + "v8h" + Number(pixels) +
           "v-8\" fill=\"none\" stroke=\"black\" stroke-width=\"1.5\"/>\n";
  }
  return bar + Text(x + (metres > 0.0 ? pixels : 0.0) + 8, y + 20, LengthText(metres));
}


// `text` as XML character data: markup characters as entities, and as "?" what XML 1.0's Char
// production does not allow (U+FFFE, U+FFFF, each byte that is no UTF-8, a surrogate's among
// them) and the control characters (of which XML allows only tab, line feed and carriage
// return, which a one-line label has no use for).
std::string XmlText(const std::string& text) {
  std::string escaped;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if ((c & 0x80) != 0) {
      std::uint32_t code = 0;
      const std::size_t length = DecodeUtf8(text, at, code);
      if (length == 0) {
        escaped += '?';
        continue;
      }
      if (code == 0xFFFE || code == 0xFFFF) {
        escaped += '?';
      } else {
        escaped.append(text, at, length);
      }
      at += length - 1;
      continue;
    }
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
  }
  return escaped;
}

// The statistics of the title block: σ̂0, RMS_H and RMS_V of the similarity; σ̂ and RMS of each of
// the site model's parts, each after its name.
std::string StatisticsLine(const Registration& run) {
  const std::string gap = "\xE3\x80\x80";  // an ideographic space between items
  std::string line;
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    const FitStatistics& stats = run.statistics[c];
    const ComponentLayout layout = run.components[c].layout;
    if (c > 0) line += gap;
    if (const ConsoleText* prefix = LabelsOf(run.components[c]).prefix) {
      line += std::string(prefix->utf8) + " ";
    }
    line += kSigma0Label.utf8 + Metres(run.hasStatistics && stats.sigma0Determined, stats.sigma0);
    if (layout != ComponentLayout::Vertical) {
      line += gap + kRmsHorizontalLabel.utf8 +
              Metres(run.hasStatistics && stats.rmsDetermined, stats.rmsHorizontal);
    }
    if (layout != ComponentLayout::Horizontal) {
      line += gap + kRmsVerticalLabel.utf8 +
              Metres(run.hasStatistics && stats.rmsDetermined, stats.rmsVertical);
    }
  }
  return line;
}

// Where and how large the picture draws everything: each pair's place and residual, and the
// scales of the plane, the arrows and the bars.
struct Drawing {
  PointList map;                  // each pair's destination point in the plane, metres
  std::vector<Point3> residuals;  // as drawn: zero where none was computed or one is not finite
  double largestHorizontal = 0.0;
  double largestHeight = 0.0;
  double arrowScale = 0.0;  // pixels per metre of residual
  double barScale = 0.0;
  double planeScale = 0.0;  // pixels per metre of the plane
  double frameHeight = 0.0;
  double canvasHeight = 0.0;
  double middleE = 0.0;  // the plane's point at the frame's centre
  double middleN = 0.0;
  bool robust = false;  // --robust ran: it removes pairs as --snoop does

  // Pixels of a plane point, northing up (the SVG's y runs down).
  double X(double easting) const {
    return kMargin + kPlotFrameWidth / 2 + (easting - middleE) * planeScale;
  }
  double Y(double northing) const {
    return kFrameTop + frameHeight / 2 - (northing - middleN) * planeScale;
  }
};

// Where each pair is drawn: its destination point in the plane (for geocentric space, in its grid
// or the centred plane); its residual as drawn.
void PlacePairs(const Registration& run, Drawing& d) {
  const std::size_t pairs = run.planeSource.size();
  d.map.reserve(pairs);
  for (std::size_t i = 0; i < pairs; ++i) {
    d.map.push_back(run.plane.frame == PlaneSetup::Frame::Plane
                        ? run.planeDestination[i]
                        : run.plane.MapPoint(run.destination[i]));
  }
  d.residuals.assign(pairs, Point3());
  for (std::size_t i = 0; i < pairs; ++i) {
    if (!run.hasStatistics) continue;
    const Point3 v = ResidualOf(run, i);
    if (std::isfinite(std::hypot(v.x, v.y))) {
      d.residuals[i].x = v.x;
      d.residuals[i].y = v.y;
    }
    if (std::isfinite(v.z)) d.residuals[i].z = v.z;
    d.largestHorizontal =
        std::max(d.largestHorizontal, std::hypot(d.residuals[i].x, d.residuals[i].y));
    d.largestHeight = std::max(d.largestHeight, std::fabs(d.residuals[i].z));
  }
  // Residuals of rounding alone are not blown up to the full length, nor does a zero one divide
  // by zero.
  d.arrowScale = kLargestArrow / std::max(d.largestHorizontal, kLeastDrawnResidual);
  d.barScale = kLargestBar / std::max(d.largestHeight, kLeastDrawnResidual);
}

// The plane: one scale for easting and northing, the smaller of the two that fit the frame.
void ScalePlane(Drawing& d) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  double west = kInfinity, east = -kInfinity, south = kInfinity, north = -kInfinity;
  for (const Point3& q : d.map) {
    west = std::min(west, q.x);
    east = std::max(east, q.x);
    south = std::min(south, q.y);
    north = std::max(north, q.y);
  }
  const bool any = !d.map.empty();
  const double spanE = any ? east - west : 0.0;
  const double spanN = any ? north - south : 0.0;
  d.planeScale = kInfinity;
  if (spanE > 0.0) d.planeScale = kUsableWidth / spanE;
  if (spanN > 0.0) d.planeScale = std::min(d.planeScale, kUsableWidth / spanN);
  if (!std::isfinite(d.planeScale)) d.planeScale = kUsableWidth / kCoincidentSpan;
  // std::min keeps the usable width when the product is NaN (an extent that overflows). Whole
  // units, so that a renderer's picture is exactly the drawing's size.
  d.frameHeight = std::ceil(
      std::max(kLeastFrameHeight, std::min(kUsableWidth, spanN * d.planeScale) + 2 * kFramePadding));
  d.canvasHeight = kFrameTop + d.frameHeight + kMargin;
  // Halves first, so that the middle of an extent near the double's limit does not overflow.
  d.middleE = any ? 0.5 * west + 0.5 * east : 0.0;
  d.middleN = any ? 0.5 * south + 0.5 * north : 0.0;
}

// The document's head: the canvas, its title and the arrow heads of each style.
std::string Head(const Drawing& d, const std::string& modelTitle) {
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
      Number(kCanvasWidth) + "\" height=\"" + Number(d.canvasHeight) + "\" viewBox=\"0 0 " +
      Number(kCanvasWidth) + ' ' + Number(d.canvasHeight) +
      "\" font-family=\"DejaVu Sans, WenQuanYi Micro Hei, Noto Sans CJK SC, sans-serif\" "
      "font-size=\"13\">\n"
      "<title>quorvane " QUORVANE_VERSION " " +
      std::string(kTitle) + modelTitle + "</title>\n<defs>\n";
  for (const Style& style : kStyles) {
    svg += std::string("<marker id=\"head-") + style.name +
           "\" viewBox=\"0 0 10 10\" refX=\"9\" refY=\"5\" markerWidth=\"" + Number(kHeadLength) +
           "\" markerHeight=\"" + Number(kHeadLength) +
           "\" markerUnits=\"userSpaceOnUse\" orient=\"auto\"><path d=\"M0 0L10 5L0 10z\" fill=\"" +
           style.colour + "\"/></marker>\n";
  }
  return svg + "</defs>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

// The title block: the title, the pairs and the plane's centre or grid, the statistics.
std::string TitleBlock(const Registration& run, const std::string& modelTitle) {
  const std::string gap = "\xE3\x80\x80";  // an ideographic space between items
  std::string svg = "<g class=\"title-block\">\n<rect x=\"" + Number(kMargin) +
                    "\" y=\"12\" width=\"" + Number(kCanvasWidth - 2 * kMargin) +
                    "\" height=\"84\" fill=\"none\" stroke=\"#444\" stroke-width=\"1\"/>\n";
  svg += Text(kMargin + 12, 40, std::string("quorvane ") + kTitle + modelTitle,
              " font-size=\"20\" font-weight=\"bold\"");
  const PlaneSetup& plane = run.plane;
  const bool centreKnown = std::isfinite(plane.centralMeridian) && std::isfinite(plane.originLatitude);
  std::string fitted;
  for (std::size_t c = 0; c < run.components.size(); ++c) {
    if (c > 0) fitted += "/";
    fitted += run.hasStatistics ? std::to_string(run.statistics[c].fittedPairs) : kNotDetermined.utf8;
  }
  std::string where;
  if (plane.destination.kind == ListSystem::Kind::Grid) {
    const GridSpec& grid = plane.destination.grid;
    where = kMeridianLabel + FixedText(grid.meridian, 6) + kDegree + "  " + kFalseEastingLabel +
            " " + FixedText(grid.falseEasting, 3) + " m";
  } else {
    where = kCentreLabel + (centreKnown ? "L " + FixedText(plane.centralMeridian, 6) + kDegree + "  B " +
                                              FixedText(plane.originLatitude, 6) + kDegree
                                        : std::string(kNotDetermined.utf8));
  }
  svg += Text(kMargin + 12, 64,
              kPairsLabel + std::to_string(run.planeSource.size()) + gap +
                  kFittedPairsLabel.utf8 + fitted + gap + where);
  svg += Text(kMargin + 12, 86, StatisticsLine(run));
  return svg + "</g>\n";
}

// Under the pairs, the distortion: its triangles between the pairs (tin) or the pairs' hull that
// its grid covers (smooth), and the line beyond which its correction is zero, clipped to the
// frame.
std::string DistortionLayer(const Registration& run, const Drawing& d) {
  if (!run.distortion) return std::string();
  const DistortionField& field = *run.distortion;
  const auto at = [&](PlanePoint p) { return Number(d.X(p.x)) + ' ' + Number(d.Y(p.y)); };
  std::string svg = "<clipPath id=\"frame-clip\"><rect x=\"" + Number(kMargin) + "\" y=\"" +
                    Number(kFrameTop) + "\" width=\"" + Number(kPlotFrameWidth) +
                    "\" height=\"" + Number(d.frameHeight) +
                    "\"/></clipPath>\n<g class=\"distortion " + DistortionName(field.method) +
                    "\" clip-path=\"url(#frame-clip)\" fill=\"none\" stroke=\"#b8b8c8\" "
                    "stroke-width=\"0.8\">\n<path d=\"";
  std::string path;
  for (const Triangle& t : field.triangles) {
    if (t[0] >= field.controlVertices || t[1] >= field.controlVertices ||
        t[2] >= field.controlVertices) {
      continue;
    }
    path += "M" + at(field.vertices[t[0]].at) + "L" + at(field.vertices[t[1]].at) + "L" +
            at(field.vertices[t[2]].at) + "Z";
  }
  if (field.method == DistortionMethod::Smooth) {
    for (std::size_t k = 0; k < field.hull.size(); ++k) path += (k ? "L" : "M") + at(field.hull[k]);
    path += "Z";
  }
  svg += path + "\"/>\n<path stroke-dasharray=\"6 4\" d=\"";
  for (std::size_t k = 0; k < field.reach.size(); ++k) svg += (k ? "L" : "M") + at(field.reach[k]);
  return svg + "Z\"/>\n</g>\n";
}

// The frame, a north arrow in its upper right corner, and the pairs.
std::string PlaneFrame(const Registration& run, const Drawing& d) {
  std::string svg = "<rect class=\"frame\" x=\"" + Number(kMargin) + "\" y=\"" +
                    Number(kFrameTop) + "\" width=\"" + Number(kPlotFrameWidth) +
                    "\" height=\"" + Number(d.frameHeight) +
                    "\" fill=\"#fbfbf8\" stroke=\"#444\" stroke-width=\"1\"/>\n";
  const double northX = kMargin + kPlotFrameWidth - 24;
  svg += Text(northX, kFrameTop + 22, "N", " text-anchor=\"middle\" font-weight=\"bold\"");
  svg += "<path d=\"M" + Number(northX) + ' ' + Number(kFrameTop + 54) + "V" +
         Number(kFrameTop + 28) + "M" + Number(northX - 5) + ' ' + Number(kFrameTop + 36) + "L" +
         Number(northX) + ' ' + Number(kFrameTop + 28) + "L" + Number(northX + 5) + ' ' +
         Number(kFrameTop + 36) + "\" fill=\"none\" stroke=\"black\" stroke-width=\"1.5\"/>\n";
  svg += DistortionLayer(run, d);
  for (std::size_t i = 0; i < d.map.size(); ++i) {
    const Kind kind = static_cast<Kind>(FateOf(run, i).kind);
    const Point3& q = d.map[i];
    const Point3& v = d.residuals[i];
    svg += std::string("<g class=\"pair ") + StyleOf(kind).name + "\" transform=\"translate(" +
           Number(d.X(q.x)) + ' ' + Number(d.Y(q.y)) + ")\">\n";
    svg += Arrow(kind, d.arrowScale * v.x, -d.arrowScale * v.y) + '\n';
    svg += HeightBar(kind, d.barScale * std::fabs(v.z), v.z > 0.0) + '\n';
    svg += Marker(kind) + '\n';
    svg +=
        "<text class=\"label\" x=\"-7\" y=\"-7\" text-anchor=\"end\" stroke=\"white\" "
        "stroke-width=\"3\" paint-order=\"stroke\">" +
        (run.names.empty() ? std::to_string(i + 1) : XmlText(run.names[i])) + "</text>\n</g>\n";
  }
  return svg;
}

// The legend and the scale bars beside the frame, and the plane's scale bar in it.
std::string Legend(const Drawing& d) {
  double y = kFrameTop + 14;
  std::string svg = Text(kPanelLeft, y, kLegendLabel, " font-weight=\"bold\"");
  const std::string names[] = {kFittedName, kSuspectMark.utf8,
                               std::string(kExcludedMark.utf8) + " (--exclude)",
                               std::string(kRemovedMark.utf8) +
                                   (d.robust ? " (--robust, --snoop)" : " (--snoop)")};
  for (const Kind kind : kKinds) {
    y += 28;
    svg += std::string("<g class=\"legend-entry ") + StyleOf(kind).name +
           "\" transform=\"translate(" + Number(kPanelLeft + 8) + ' ' + Number(y) + ")\">\n" +
           Arrow(kind, 34, 0) + '\n' + Marker(kind) + '\n' +
           Text(46, 4.5, names[static_cast<int>(kind)]) + "</g>\n";
  }
  y += 44;
  const double arrowBar = RoundBelow(std::max(d.largestHorizontal, kLeastDrawnResidual));
  svg += HorizontalScaleBar(kPanelLeft, y, kHorizontalScaleLabel, arrowBar, arrowBar * d.arrowScale);
  y += 52;
  svg += Text(kPanelLeft, y, kHeightScaleLabel);
  const double heightBar = RoundBelow(std::max(d.largestHeight, kLeastDrawnResidual));
  svg += "<rect x=\"" + Number(kPanelLeft + 17) + "\" y=\"" + Number(y + 8) +
         "\" width=\"5\" height=\"" + Number(heightBar * d.barScale) +
         "\" fill=\"#888\" stroke=\"black\" stroke-width=\"1\"/>\n";
  svg += Text(kPanelLeft + 32, y + 12 + heightBar * d.barScale / 2, LengthText(heightBar));
  const double planeBar = RoundBelow(kLongestPlaneBar / d.planeScale);
  svg += HorizontalScaleBar(kMargin + 16, kFrameTop + d.frameHeight - 36, kPlaneScaleLabel,
                            planeBar, planeBar * d.planeScale);
  return svg;
}

}  // namespace

std::string BuildPlotSvg(const Registration& run) {
  Drawing drawing;
  drawing.robust = !run.robust.empty();
  PlacePairs(run, drawing);
  ScalePlane(drawing);
  const std::string modelTitle = run.model->PlotTitle();
  return Head(drawing, modelTitle) + TitleBlock(run, modelTitle) + PlaneFrame(run, drawing) +
         Legend(drawing) + "</svg>\n";
}

}  // namespace Quorvane
