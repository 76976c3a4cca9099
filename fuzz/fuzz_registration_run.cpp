// libFuzzer target over the whole registration in-process: both point lists (as option texts or
// through the point-file reader), projection, fit of either model, console report into a
// discarding stream, and the files: the result text, which must always be valid JSON, the record
// and the picture, each written into a scratch folder and read back whole.
//
// The input is the option values: the source text up to the first NUL or newline, the
// destination text up to the next one (an input with neither is a source text with an empty
// destination). What follows a second separator sets the further options: its first byte is a set
// of flags (1 --quality, 2 --snoop, 4 --exclude, 8 --record, 16 --plot, 32 a model other than
// the similarity: site, helmert or molodensky-badekas by the source text's length, 64 the
// source text as a point file, 128 the destination text as one), then comes the --exclude text
// up to the next separator, and after it the --apply text up to the next one. Three bytes after
// that set the options of 0.2.0 (Settings below): the coordinate systems, from a small table of
// codes, WKT and PROJ strings or as texts of the input; a geoid grid, a tiny GTX file written
// into the scratch folder; every --vertical and --model, the ellipsoids, and --grid, whose keys
// are the input's next text. One byte after the texts sets the estimation's options: 1 --robust,
// 2 --sigma-h, 4 --sigma-v (each 0.01 m, or 0, refused, with 16), 8 --rates, 32 its
// --reference-epoch (refused, as a one-line list carries no epoch column), 64 --export-crs (its
// text a BoundCRS of PROJ's where it is made), 128 --distortion, tin, or smooth with 16 (its
// triangulation file built, valid JSON with no NaN or infinity). Every run's record text is
// built and must be valid JSON as well, and its picture must hold no NaN or infinity.
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#include <rapidjson/reader.h>

#include "app/cli/command_line.h"
#include "app/output/distortion_file.h"
#include "app/output/plot_file.h"
#include "app/input/point_file.h"
#include "app/output/record_file.h"
#include "app/run/registration_run.h"
#include "app/output/result_file.h"
#include "estimation/fit_transform.h"

namespace {

// Bounds on one input, so that every input of this target takes a bounded time. The solver may
// take up to 10000 iterations, each over every pair, and nearly coincident points make it take
// all of them (the optimum lies at a scale of 0 and an infinite shift). In this build, with
// AddressSanitizer and UBSan, such a run takes 1.5 to 3 s at 2 to 8 pairs, 10 to 15 times as
// long as in the release build; a limit on the bytes alone would allow some 340 pairs and runs
// of a minute. Inputs beyond either bound are refused: more pairs or longer texts reach no code
// that fewer and shorter ones do not, and the per-point loops are covered at any count.
constexpr std::size_t kMaxInputBytes = 2048;
constexpr std::size_t kMaxPairs = 8;

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// Drops everything written to it and counts the bytes.
class CountingBuffer : public std::streambuf {
 public:
  std::size_t count() const { return count_; }

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) ++count_;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char_type*, std::streamsize n) override {
    count_ += static_cast<std::size_t>(n);
    return n;
  }

 private:
  std::size_t count_ = 0;
};

// The events of a parse, one character each: braces and brackets as they are, a key as its
// name in quotes, "n" for a number, "0" for null and "?" for anything else.
struct ShapeHandler : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ShapeHandler> {
  std::string shape;

  bool Default() { return Add("?"); }
  bool Null() { return Add("0"); }
  bool Int(int) { return Add("n"); }
  bool Uint(unsigned) { return Add("n"); }
  bool Int64(std::int64_t) { return Add("n"); }
  bool Uint64(std::uint64_t) { return Add("n"); }
  bool Double(double) { return Add("n"); }
  bool StartObject() { return Add("{"); }
  bool Key(const char* name, rapidjson::SizeType length, bool) {
    return Add("\"" + std::string(name, length) + "\"");
  }
  bool EndObject(rapidjson::SizeType) { return Add("}"); }
  bool StartArray() { return Add("["); }
  bool EndArray(rapidjson::SizeType) { return Add("]"); }

  bool Add(const std::string& event) {
    shape += event;
    return true;
  }
};

// "n" where the value is finite, "0" (null) where it is not.
char Expected(double value) { return std::isfinite(value) ? 'n' : '0'; }

// Parses `json` in place with a SAX handler rather than into a Document: RapidJSON 1.1's
// Document, like its parser when it copies strings, grows a stack that starts as null pointers,
// with pointer arithmetic on them that UBSan rightly reports. In place, with numbers as doubles,
// the parser never touches that stack. Parse() also refuses anything after the closing brace.
bool ParseJson(const std::string& json, ShapeHandler& handler) {
  std::string buffer = json;
  rapidjson::InsituStringStream stream(&buffer[0]);
  rapidjson::Reader reader;
  return !reader.Parse<rapidjson::kParseInsituFlag | rapidjson::kParseValidateEncodingFlag>(
                    stream, handler)
              .IsError();
}

bool IsValidJson(const std::string& json) {
  ShapeHandler handler;
  return ParseJson(json, handler);
}

// The coordinate systems a list may name: a geographic, a projected, a compound CRS in feet and
// metres, Web Mercator's sphere, a south-oriented grid, a geocentric one; index 0 names none, 7
// (below) a WKT .prj text in GBK or a PROJ string in feet, or the input's own text.
const char* const kCrs[] = {
    nullptr, "EPSG:4326", "EPSG:27700", "EPSG:2229+5703", "EPSG:3857", "EPSG:2053", "EPSG:4978",
};
const char kGbkWkt[] =
    "PROJCS[\"\xB1\xB1\xBE\xA9"
    "54 \xD7\xD4\xB6\xA8\xD2\xE5\",GEOGCS[\"GCS_Beijing_1954\","
    "DATUM[\"D_Beijing_1954\",SPHEROID[\"Krasovsky_1940\",6378245.0,298.3]],PRIMEM["
    "\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
    "PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],PARAMETER["
    "\"Central_Meridian\",139.75],PARAMETER[\"Scale_Factor\",1.0],PARAMETER["
    "\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";
const char kFeetProj[] =
    "+proj=tmerc +lon_0=139.75 +k=0.9999 +x_0=500000 +ellps=bessel +units=us-ft";

const char* const kVertical[] = {nullptr, "plane", "constant", "quadric", "auto", "tilted"};
const char* const kModel[] = {nullptr,   "similarity",         "site",
                              "helmert", "molodensky-badekas", "affine"};
const char* const kEllipsoid[] = {nullptr, "BESSEL1841", "AIRY1830", "6378245/298.3"};

// A folder of this process's own for the point files and the files a run writes.
const std::string& ScratchFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/quorvane-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    Require(made != nullptr, "a scratch folder");
    return std::string(made);
  }();
  return folder;
}

std::string ReadBack(const std::string& path) {
  std::string text;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
      text.append(chunk, got);
    }
    std::fclose(file);
  }
  return text;
}

// Writes `text` as a run writes its files and reads it back: whole, and nothing left beside it.
void CheckWritten(const std::string& name, const std::string& text) {
  const std::string path = ScratchFolder() + "/" + name;
  std::string reason;
  Require(Quorvane::WriteTextFile(path, text, reason), "a file in the scratch folder is written");
  Require(ReadBack(path) == text, "a written file reads back whole");
}

// A geoid grid in GTX form (a header of four big-endian doubles, the south-west corner and the
// spacing in degrees, and two big-endian integers, the rows and columns, then the undulations
// as big-endian floats row by row from the south), written once into the scratch folder: the
// whole Earth on a 90° grid, or Japan alone, which most points lie outside.
std::string GeoidGridFile(bool world) {
  const std::string name = world ? "world.gtx" : "japan.gtx";
  const std::string path = ScratchFolder() + "/" + name;
  if (!ReadBack(path).empty()) return path;
  std::string bytes;
  const auto put = [&bytes](std::uint64_t bits, int size) {
    for (int k = size - 1; k >= 0; --k) bytes += static_cast<char>((bits >> (8 * k)) & 0xFF);
  };
  const double header[4] = {world ? -90.0 : 30.0, world ? -180.0 : 129.0, world ? 90.0 : 5.0,
                            world ? 180.0 : 5.0};
  for (const double value : header) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    put(bits, 8);
  }
  put(3, 4);
  put(3, 4);
  for (int k = 0; k < 9; ++k) {
    const float undulation = static_cast<float>(30 + 7 * k - k * k);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &undulation, sizeof bits);
    put(bits, 4);
  }
  CheckWritten(name, bytes);
  return path;
}

// The options of 0.2.0 from three bytes at `at` and the texts after them (each up to a
// separator):
// - byte 1: bits 0-2 the source's CRS, kCrs[n] or for 7 the WKT in GBK; bits 3-5 the
//   destination's likewise, the PROJ string in feet for 7; bits 6-7 --geoid: none, the world's
//   grid, Japan's, or "@null", a name PROJ's text would take for an optional grid;
// - byte 2: bits 0-2 --vertical, kVertical[n]; bits 3-5 --model, kModel[n] (none leaves the
//   flags' choice); bit 6 --fix-scale; bit 7 --convention coordinate-frame;
// - byte 3: bit 0 --grid, the keys the next text gives; bits 1-2 and 3-4 the source's and the
//   destination's ellipsoid, kEllipsoid[n]; bit 5 --packed-dms; bit 6 --utf8; bit 7 the CRS of
//   7 read from the input's next text instead, for each list that has it.
// Returns whether a CRS's text came from the input.
bool Settings(const std::string& input, std::size_t at, Quorvane::OptionTexts& texts) {
  using Quorvane::Option;
  const auto byte = [&](std::size_t k) {
    return at + k < input.size() ? static_cast<unsigned char>(input[at + k]) : 0u;
  };
  const unsigned systems = byte(0), model = byte(1), frame = byte(2);
  std::size_t next = at + 3;
  const auto text = [&]() {
    if (next > input.size()) return std::string();
    const std::size_t end = input.find_first_of(std::string("\0\n", 2), next);
    const std::string taken = input.substr(next, end - next);
    next = end == std::string::npos ? input.size() + 1 : end + 1;
    return taken;
  };
  if ((frame & 1u) != 0) texts.Set(Option::Grid, text());
  const bool fromInput = (frame & 128u) != 0;
  const struct {
    Option option;
    unsigned choice;
    const char* fixed;
  } named[] = {{Option::SourceCrs, systems & 7u, kGbkWkt},
               {Option::DestinationCrs, (systems >> 3) & 7u, kFeetProj}};
  bool textTaken = false;
  for (const auto& crs : named) {
    if (crs.choice == 0) continue;
    textTaken = textTaken || (crs.choice == 7 && fromInput);
    texts.Set(crs.option, crs.choice < 7 ? kCrs[crs.choice] : fromInput ? text() : crs.fixed);
  }
  const unsigned geoid = systems >> 6;
  if (geoid != 0) texts.Set(Option::Geoid, geoid == 3 ? "@null" : GeoidGridFile(geoid == 1));
  if (const char* vertical = kVertical[std::min(model & 7u, 5u)]) {
    texts.Set(Option::Vertical, vertical);
  }
  if (const char* name = kModel[std::min((model >> 3) & 7u, 5u)]) texts.Set(Option::Model, name);
  if ((model & 64u) != 0) texts.Set(Option::FixScale, "");
  if ((model & 128u) != 0) texts.Set(Option::Convention, "coordinate-frame");
  if (const char* ellipsoid = kEllipsoid[(frame >> 1) & 3u]) {
    texts.Set(Option::SourceEllipsoid, ellipsoid);
  }
  if (const char* ellipsoid = kEllipsoid[(frame >> 3) & 3u]) {
    texts.Set(Option::DestinationEllipsoid, ellipsoid);
  }
  if ((frame & 32u) != 0) texts.Set(Option::PackedDms, "");
  if ((frame & 64u) != 0) texts.Set(Option::Utf8, "");
  const unsigned estimation = next < input.size() ? static_cast<unsigned char>(input[next]) : 0u;
  const char* const sigma = (estimation & 16u) != 0 ? "0" : "0.01";
  if ((estimation & 1u) != 0) texts.Set(Option::Robust, "");
  if ((estimation & 2u) != 0) texts.Set(Option::SigmaH, sigma);
  if ((estimation & 4u) != 0) texts.Set(Option::SigmaV, sigma);
  if ((estimation & 8u) != 0) texts.Set(Option::Rates, "");
  if ((estimation & 32u) != 0) texts.Set(Option::ReferenceEpoch, "2015");
  if ((estimation & 64u) != 0) texts.Set(Option::ExportCrs, "bound.wkt");
  if ((estimation & 128u) != 0) {
    texts.Set(Option::Distortion, (estimation & 16u) != 0 ? "smooth" : "tin");
    texts.Set(Option::DistortionFile, "distortion.json");
  }
  return textTaken;
}

void CheckResultText(const std::string& json, const Quorvane::ContractFigures& fit,
                     const std::string& model) {
  Require(json.find_first_of(" \t\r\n") == std::string::npos, "result text has no whitespace");

  ShapeHandler handler;
  const bool parsed = ParseJson(json, handler);
  Require(parsed, "result text is valid JSON");

  // Rotations are written in degrees, value · 180 / 3.141592653589793, which can overflow.
  const auto degrees = [](double radians) { return radians * 180.0 / 3.141592653589793; };
  const std::string expected = std::string("{\"offset\"[") + Expected(fit.offset[0]) +
                               Expected(fit.offset[1]) + Expected(fit.offset[2]) + "]\"rotate\"[" +
                               Expected(degrees(fit.rotate[0])) + Expected(degrees(fit.rotate[1])) +
                               Expected(degrees(fit.rotate[2])) + "]\"scale\"" +
                               Expected(fit.scale) + (model == "similarity" ? "" : "\"model\"?");
  Require(handler.shape.compare(0, expected.size(), expected) == 0,
          "three numbers, three numbers, one; null where not finite");
  // A similarity ends there, or, fitted in a grid about its centroid, states that.
  Require(model != "similarity" || handler.shape.compare(expected.size(), 1, "}") == 0 ||
              handler.shape.compare(expected.size(), 12, "\"reference\"[") == 0,
          "a similarity's members end, or its reference follows");
}

// What the quality block prints is either a number or "not determined", never NaN.
void CheckStatistics(const Quorvane::FitStatistics& stats) {
  Require(!stats.sigma0Determined || std::isfinite(stats.sigma0), "sigma0 finite");
  Require(!stats.rmsDetermined ||
              (std::isfinite(stats.rmsHorizontal) && std::isfinite(stats.rmsVertical)),
          "RMS finite");
  for (const double sigma : stats.sigma) {
    Require(!stats.precisionDetermined || std::isfinite(sigma), "sigma finite");
  }
  for (const Quorvane::PairTest& test : stats.tests) {
    Require(!test.testable || (!std::isnan(test.statistic) && test.statistic >= 0.0 &&
                               std::isfinite(test.critical)),
            "a tested pair has a statistic and a critical value");
  }
}

// The option texts the input gives (see the top of this file); whether a CRS's text came from
// the input.
bool ReadInput(const std::string& input, Quorvane::OptionTexts& texts) {
  const std::size_t cut = input.find_first_of(std::string("\0\n", 2));
  bool crsFromInput = false;
  texts.sourceText = input.substr(0, cut);
  if (cut != std::string::npos) {
    const std::size_t second = input.find_first_of(std::string("\0\n", 2), cut + 1);
    texts.destinationText = input.substr(cut + 1, second - (cut + 1));
    if (second != std::string::npos && second + 1 < input.size()) {
      const unsigned flags = static_cast<unsigned char>(input[second + 1]);
      using Quorvane::Option;
      const Option flagged[] = {Option::Quality, Option::Snoop, Option::Exclude, Option::Record,
                                Option::Plot};
      for (unsigned k = 0; k < 5; ++k) {
        if ((flags & (1u << k)) != 0) texts.Set(flagged[k], "");
      }
      if ((flags & 32u) != 0) {
        const char* const models[] = {"site", "helmert", "molodensky-badekas"};
        texts.Set(Option::Model, models[texts.sourceText.size() % 3]);
      }
      const std::size_t third = input.find_first_of(std::string("\0\n", 2), second + 2);
      if (texts.Has(Option::Exclude)) {
        texts.Set(Option::Exclude, input.substr(second + 2, third - (second + 2)));
      }
      if (third != std::string::npos) {
        const std::size_t fourth = input.find_first_of(std::string("\0\n", 2), third + 1);
        texts.Set(Option::Apply, input.substr(third + 1, fourth - (third + 1)));
        if (fourth != std::string::npos) crsFromInput = Settings(input, fourth + 1, texts);
      }
      // Lists as point files go through the file reader, lines and all.
      const auto asFile = [&](std::string& text, Option option, const char* name) {
        texts.Set(option, ScratchFolder() + "/" + name);
        CheckWritten(name, text);
        text.clear();
      };
      if ((flags & 64u) != 0) asFile(texts.sourceText, Option::RefSrcFile, "src.txt");
      if ((flags & 128u) != 0) asFile(texts.destinationText, Option::RefDesFile, "des.txt");
    }
  }
  return crsFromInput;
}

// The outputs of a fitted run: what it reports, its statistics, its record and its picture.
void CheckFitted(const Quorvane::Registration& run, const Quorvane::OptionTexts& texts,
                 const std::string& reported, bool namesFromFile, bool crsFromInput) {
  const Quorvane::ContractFigures fit = run.model->Figures(run.params);
  // Warnings of an undetermined or unconverged fit may go to standard error.
  Require(!reported.empty(), "a fit is reported");
  Require(reported.find("nan") == std::string::npos, "a usable fit reports no NaN");
  Require(run.hasStatistics ==
              (texts.Has(Quorvane::Option::Quality) || texts.Has(Quorvane::Option::Snoop) ||
               texts.Has(Quorvane::Option::Robust) || texts.Has(Quorvane::Option::Record) ||
               texts.Has(Quorvane::Option::Plot)),
          "statistics exactly when asked for");
  if (run.hasStatistics) {
    for (const Quorvane::FitStatistics& stats : run.statistics) CheckStatistics(stats);
  }
  {
    const std::string record = Quorvane::BuildRecordJson(run);
    Require(IsValidJson(record), "the record is valid JSON");
    // A CRS's text from the input may spell "nan" in a name or a parameter of its own.
    Require(crsFromInput || (record.find("nan") == std::string::npos &&
                             record.find("inf\"") == std::string::npos),
            "the record's pipeline holds no NaN or infinity");
    CheckWritten("record.json", record);
    // Numbers are the only place either could appear: names come from files, which this
    // target writes only from lists that read as points.
    const std::string svg = Quorvane::BuildPlotSvg(run);
    if (!namesFromFile) {
      Require(svg.find("nan") == std::string::npos && svg.find("inf") == std::string::npos,
              "the plot holds no NaN or infinity");
    }
    CheckWritten("plot.svg", svg);
  }
  Require(run.exportedCrs.empty() || run.exportedCrs.compare(0, 9, "BOUNDCRS[") == 0,
          "an exported CRS is a BoundCRS");
  Require(run.exportedCrs.empty() == !texts.Has(Quorvane::Option::ExportCrs),
          "a fitted run asked for a CRS exports one");
  Require((run.distortion == nullptr) == !texts.Has(Quorvane::Option::Distortion),
          "a fitted run asked for a distortion models one");
  if (run.distortion != nullptr) {
    const std::string file = Quorvane::BuildDistortionJson(run);
    Require(IsValidJson(file), "the distortion file is valid JSON");
    Require(file.find("nan") == std::string::npos && file.find("inf") == std::string::npos,
            "the distortion file holds no NaN or infinity");
    CheckWritten("distortion.json", file);
  }
  for (const double value : run.params.values) {
    Require(std::isfinite(value), "a fit that succeeded is finite");
  }
  // rx and ry take no part in the plane models, so no fit moves them.
  Require(run.model->FrameOf() != Quorvane::Frame::Plane ||
              (fit.rotate[0] == 0.0 && fit.rotate[1] == 0.0),
          "rx and ry stay 0 in the plane");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInputBytes) return -1;
  const char* const bytes = reinterpret_cast<const char*>(data);
  const std::string input(bytes, size);
  Quorvane::OptionTexts texts;
  const bool crsFromInput = ReadInput(input, texts);

  // Source points are the pairs (destination points beyond them only move the projection
  // centre). -1 keeps the input out of the corpus.
  Quorvane::ObservationList sourceFile;
  std::string problem;
  Quorvane::PointList source;
  if (texts.Has(Quorvane::Option::RefSrcFile)) {
    if (Quorvane::ReadPointFile(texts.Value(Quorvane::Option::RefSrcFile),
                                Quorvane::PointFileOptions{}, sourceFile, problem)) {
      source = sourceFile.points;
    }
  } else {
    Quorvane::ParsePointList(texts.sourceText, source);
  }
  if (source.size() > kMaxPairs) return -1;

  std::ostringstream report;
  CountingBuffer errorBuffer;
  std::ostream errors(&errorBuffer);
  Quorvane::Registration run;
  const int code = Quorvane::RegisterPoints(texts, report, errors, run);
  // A run refused before its fit holds no parameters, and its model's figures are not read.
  const bool fitted =
      run.model != nullptr && run.params.values.size() == run.model->Parameters().size();
  const Quorvane::ContractFigures fit =
      fitted ? run.model->Figures(run.params) : Quorvane::ContractFigures{};
  // The model the run made: the one --model names (the flags or the settings choose it).
  const std::string model = run.model != nullptr ? run.model->Name() : "similarity";
  const std::string reported = report.str();

  switch (code) {
    case Quorvane::kExitSuccess:
      CheckFitted(run, texts, reported, sourceFile.HasNames(), crsFromInput);
      break;
    case Quorvane::kExitBadInput:
      Require(reported.empty() && errorBuffer.count() > 0,
              "refused input is explained and not reported");
      break;
    case Quorvane::kExitNoResult:
      Require(!reported.empty() && errorBuffer.count() > 0,
              "an unusable fit is reported and explained");
      break;
    default:
      Require(false, "exit code is one of the three");
  }

  // With no complete source point there is nothing to fit, and the start values stay.
  if (source.empty() && code != Quorvane::kExitBadInput) {
    bool start = fit.scale == 1.0;
    for (int k = 0; k < 3; ++k) start = start && fit.offset[k] == 0.0 && fit.rotate[k] == 0.0;
    Require(code == Quorvane::kExitSuccess && start, "an empty fit keeps the start values");
  }

  if (!fitted) return 0;  // refused before the fit: the product writes no quorvane.json
  const std::string result = Quorvane::BuildResultJson(*run.model, run.params);
  CheckResultText(result, fit, model);
  CheckWritten("quorvane.json", result);
  return 0;
}
