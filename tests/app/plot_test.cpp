// --plot through the built executable: the SVG read back by libxml2 and held against the same
// run's quality block, on the Tokyo example with a blunder and on degenerate inputs, and the
// picture rsvg-convert renders from it.
#include <png.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/point_printing.h"
#include "tests/support/tokyo_example.h"
#include "tests/support/xml_tree.h"

namespace {

using QuorvaneTest::Attribute;
using QuorvaneTest::Elements;

// Elements that would run something, fetch something or link elsewhere.
const std::set<std::string> kNotSelfContained = {"script", "image",         "a",
                                                 "style",  "foreignObject", "use"};

// Arrows are written to 0.01 px, the quality block's residuals to 0.1 mm (under 0.001 px here).
constexpr double kDrawingTolerance = 0.02;  // px

// Runs the tool in a fresh directory, with the Tokyo lists with pair 3's source latitude
// mistyped by 8 m (35.714719804 as 35.714791804, as in the quality tests) for "BLUNDER".
QuorvaneTest::ChildResult RunTool(const std::vector<std::string>& arguments,
                                  const std::string& cwd) {
  std::vector<std::string> expanded;
  for (const std::string& a : arguments) {
    if (a != "BLUNDER") expanded.push_back(a);
    if (a == "BLUNDER") {
      expanded.insert(expanded.end(), {"--refsrc", QuorvaneTest::MistypedTokyoSource(), "--refdes",
                                       QuorvaneTest::Tokyo()[1]});
    }
  }
  QuorvaneTest::TempDir home;
  return QuorvaneTest::RunChild(QuorvaneTest::CopyExecutableTo(home.path()), expanded,
                                QuorvaneTest::InDirectory(cwd));
}

// An element as it looks: its name and its attributes but where it is drawn.
std::map<std::string, std::string> Look(const xmlNode* e) {
  std::map<std::string, std::string> look = {{"", reinterpret_cast<const char*>(e->name)}};
  for (const xmlAttr* a = e->properties; a != nullptr; a = a->next) {
    const char* name = reinterpret_cast<const char*>(a->name);
    look[name] = Attribute(e, name);
  }
  for (const char* where : {"d", "marker-end", "class", "transform"}) look.erase(where);
  return look;
}

struct PlotCase {
  const char* name;
  std::vector<std::string> arguments;  // before "--plot plot.svg"
  std::vector<std::string> kinds;      // the class of each pair's drawing
  const char* titlePart;
  std::vector<std::string> scaleBars = {};  // 平面残差's, 高程残差's and 比例尺's lengths, if given
};

void PrintTo(const PlotCase& c, std::ostream* os) { *os << c.name; }

class PlotFile : public ::testing::TestWithParam<PlotCase> {};

TEST_P(PlotFile, DrawsEveryPairAsTheLegendSaysFromTheQualityBlockAndRenders) {
  QuorvaneTest::TempDir cwd;
  std::vector<std::string> arguments = GetParam().arguments;
  arguments.insert(arguments.end(), {"--plot", "plot.svg"});
  const QuorvaneTest::ChildResult r = RunTool(arguments, cwd.path());
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const auto doc = QuorvaneTest::ParseXml(QuorvaneTest::ReadFile(cwd.path() + "/plot.svg"));
  ASSERT_NE(doc, nullptr);
  const xmlNode* svg = xmlDocGetRootElement(doc.get());
  // Nothing that runs, fetches or links out, every reference into the file, every number one.
  for (const xmlNode* e : Elements(svg)) {
    EXPECT_EQ(kNotSelfContained.count(reinterpret_cast<const char*>(e->name)), 0u);
    for (const xmlAttr* a = e->properties; a != nullptr; a = a->next) {
      const std::string value = Attribute(e, reinterpret_cast<const char*>(a->name));
      EXPECT_TRUE(value.find("nan") == value.find("inf")) << value;  // both npos
      EXPECT_EQ(value.find("url("), value.find("url(#")) << value;
    }
  }

  // The legend's four kinds differ in colour, and in marker, filling, arrow width or dash.
  std::map<std::string, std::vector<const xmlNode*>> legend;
  std::set<std::string> colours, greys;
  for (const xmlNode* entry : Elements(svg, "legend-entry")) {
    auto& drawn = legend[Attribute(entry, "class").substr(std::string("legend-entry ").size())];
    drawn = {Elements(entry, "marker").at(0), Elements(entry, "arrow").at(0)};
    colours.insert(Attribute(drawn[1], "stroke"));
    greys.insert(Look(drawn[0])[""] + Attribute(drawn[0], "fill")[0] +
                 Attribute(drawn[1], "stroke-width") + Attribute(drawn[1], "stroke-dasharray"));
  }
  EXPECT_EQ(colours.size(), 4u);
  EXPECT_EQ(greys.size(), 4u);

  // One marker and one arrow per pair, as the legend draws its kind; with the quality block
  // printed, the arrows its residuals (northing up), the longest a tenth of the frame's width.
  const std::vector<const xmlNode*> pairs = Elements(svg, "pair");
  ASSERT_EQ(pairs.size(), GetParam().kinds.size());
  std::vector<std::vector<double>> v(pairs.size(), std::vector<double>(2)), arrow(v);
  const std::size_t block = r.out.find("\n\xB2\xD0\xB2\xEE\xA3\xBA\n");  // 残差：
  double longest = 0.0;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const std::string& kind = GetParam().kinds[i];
    EXPECT_EQ(Attribute(pairs[i], "class"), "pair " + kind) << "pair " << i + 1;
    const auto markers = Elements(pairs[i], "marker");
    const auto arrows = Elements(pairs[i], "arrow");
    ASSERT_TRUE(markers.size() == 1 && arrows.size() == 1 && legend[kind].size() == 2) << i + 1;
    EXPECT_EQ(Look(markers[0]), Look(legend[kind][0])) << "pair " << i + 1;
    EXPECT_EQ(Look(arrows[0]), Look(legend[kind][1])) << "pair " << i + 1;
    std::sscanf(Attribute(arrows[0], "d").c_str(), "M0 0L%lf %lf", &arrow[i][0], &arrow[i][1]);
    const std::size_t line = r.out.find("\n" + std::to_string(i + 1) + "\t", block);
    if (line != std::string::npos) std::sscanf(&r.out[line], "\n%*d\t%lf\t%lf", &v[i][0], &v[i][1]);
    longest = std::max(longest, std::hypot(v[i][0], v[i][1]));
  }
  const double frameWidth = std::stod(Attribute(Elements(svg, "frame").at(0), "width"));
  for (std::size_t i = 0; i < pairs.size() && block != std::string::npos; ++i) {
    const double magnification = longest > 0.0 ? 0.1 * frameWidth / longest : 0.0;
    EXPECT_NEAR(arrow[i][0], magnification * v[i][0], kDrawingTolerance) << i + 1;
    EXPECT_NEAR(arrow[i][1], -magnification * v[i][1], kDrawingTolerance) << i + 1;
  }
  xmlChar* title = xmlNodeGetContent(Elements(svg, "title-block").at(0));
  EXPECT_NE(std::string(reinterpret_cast<char*>(title)).find(GetParam().titlePart),
            std::string::npos);
  xmlFree(title);
  std::vector<std::string> lengths;
  for (const xmlNode* e : Elements(svg)) {
    xmlChar* text = xmlNodeGetContent(e);
    const std::string content = reinterpret_cast<char*>(text);
    xmlFree(text);
    if (std::regex_match(content, std::regex("[0-9.]+ k?m"))) lengths.push_back(content);
  }
  if (!GetParam().scaleBars.empty()) {
    EXPECT_EQ(lengths, GetParam().scaleBars);
  }

  // What a person sees: a picture of the drawing's size, with text and lines on it and every
  // kind of pair in its colour (at least in the legend).
  if (std::string(QUORVANE_RSVG_CONVERT).empty()) GTEST_SKIP() << "rsvg-convert is not installed";
  const std::string png = cwd.path() + "/plot.png";
  ASSERT_EQ(QuorvaneTest::RunChild(QUORVANE_RSVG_CONVERT, {"-o", png, cwd.path() + "/plot.svg"})
                .exitStatus,
            0);
  const std::string bytes = QuorvaneTest::ReadFile(png);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()));
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
  EXPECT_EQ(image.width, std::stoul(Attribute(svg, "width")));
  EXPECT_EQ(image.height, std::stoul(Attribute(svg, "height")));
  std::map<std::string, std::size_t> pixels;  // by "#rrggbb", and "dark"
  for (std::size_t p = 0; p < rgb.size(); p += 3) {
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%02x%02x%02x", rgb[p], rgb[p + 1], rgb[p + 2]);
    ++pixels[rgb[p] < 100 && rgb[p + 1] < 100 && rgb[p + 2] < 100 ? "dark" : colour];
  }
  EXPECT_GT(pixels["dark"], 1000u);
  for (const std::string& colour : colours) EXPECT_GT(pixels[colour], 20u) << colour;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, PlotFile,
    ::testing::Values(
        // Without --quality, so the statistics come from --plot alone; σ̂0 as the quality block
        // gives it for this run.
        PlotCase{"TokyoBlunderAndExclusion",
                 {"BLUNDER", "--exclude", "6"},
                 {"fitted", "fitted", "suspect", "fitted", "fitted", "excluded"},
                 "单位权中误差：2.1273 m"},
        // The README's picture and the lengths it gives for its scale bars.
        PlotCase{"TokyoBlunder",
                 {"BLUNDER"},
                 {"fitted", "fitted", "suspect", "fitted", "fitted", "fitted"},
                 "平面RMS：2.8475 m",
                 {"5 m", "0.005 m", "5 km"}},
        PlotCase{"TokyoSnooped",
                 {"BLUNDER", "--snoop"},
                 {"fitted", "fitted", "removed", "fitted", "fitted", "fitted"},
                 "拟合点数：5"},
        PlotCase{"OnePair",
                 {"--refsrc", "139.7,35.7,10", "--refdes", "139.70001,35.70001,12", "--quality"},
                 {"fitted"},
                 "单位权中误差：无法确定"},
        PlotCase{"CoincidentAndExact",
                 {"--refsrc", "139.7,35.7,10,139.7,35.7,10", "--refdes",
                  "139.7,35.7,10,139.7,35.7,10", "--quality"},
                 {"fitted", "fitted"},
                 "平面RMS：0.0000 m"},
        PlotCase{"NoPairs", {"--refsrc", "1", "--refdes", "139.7,35.7,0"}, {}, "点对数：0"}),
    QuorvaneTest::CaseName());

// A name is character data in the drawing: "&" in it must come out as an entity, or the file is
// no XML at all.
TEST(PlotFile, NamesAreTextWhateverTheyHold) {
  QuorvaneTest::TempDir cwd;
  QuorvaneTest::WriteFile(cwd.path() + "/src.txt", "A&B,139.70,35.72,98\nC,139.74,35.61,95\n");
  QuorvaneTest::WriteFile(cwd.path() + "/des.txt", "A&B,139.71,35.71,62\nC,139.75,35.60,58\n");
  const QuorvaneTest::ChildResult r = RunTool(
      {"--refsrc-file", "src.txt", "--refdes-file", "des.txt", "--plot", "plot.svg"}, cwd.path());
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const auto doc = QuorvaneTest::ParseXml(QuorvaneTest::ReadFile(cwd.path() + "/plot.svg"));
  ASSERT_NE(doc, nullptr);
  std::vector<std::string> labels;
  for (const xmlNode* label : Elements(xmlDocGetRootElement(doc.get()), "label")) {
    xmlChar* text = xmlNodeGetContent(label);
    labels.push_back(reinterpret_cast<const char*>(text));
    xmlFree(text);
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"A&B", "C"}));
}

}  // namespace
