#include "app/cli/options.h"

#include <cstring>

namespace Quorvane {

const OptionSpec kOptions[] = {
    // Points.
    {"--refsrc", "LIST", OptionGroup::Points, "the control points in the source system",
     "The control points in the source system."},
    {"--refdes", "LIST", OptionGroup::Points, "the same points in the destination system",
     "The same points in the destination system."},
    {"--refsrc-file", "FILE", OptionGroup::Points, "the source points from a file instead",
     "The source points from a file instead of an argument.\n"
     "Giving both \\-\\-refsrc and \\-\\-refsrc\\-file is an error."},
    {"--refdes-file", "FILE", OptionGroup::Points, "the destination points from a file instead",
     "The destination points from a file instead of an argument.\n"
     "Giving both \\-\\-refdes and \\-\\-refdes\\-file is an error."},
    {"--apply", "LIST", OptionGroup::Points,
     "further source points: printed after the report,\ntransformed into the destination system",
     "Further points in the source system.\n"
     "After the report, each is carried into the frame, through the fit and back, and printed\n"
     "in the destination system under the label \"转换结果：\": longitude and latitude\n"
     "(degrees, nine decimals) and height (metres, four decimals), or a grid's easting,\n"
     "northing and height first, separated by tabs."},
    {"--apply-file", "FILE", OptionGroup::Points, "the further points from a file instead",
     "The further points from a file instead of an argument; named points are\n"
     "printed with their names."},
    {"--packed-dms", nullptr, OptionGroup::Points, "read every angle of the files as ddd.mmssss",
     "Read every angle of every point file as ddd.mmssss (139.4211915 is\n"
     "139\\(de42'11.915\")."},
    // Plane.
    {"--source-ellipsoid", "E", OptionGroup::Plane,
     "the source list's ellipsoid: a name (WGS84,\nCGCS2000, BJ54, XIAN80, BESSEL1841, ...) or\n"
     "A/RF (semi-major axis in metres, then the\ninverse flattening)",
     "The ellipsoid of the source longitudes and latitudes: WGS84, CGCS2000, BJ54,\n"
     "XIAN80, INTL1924, BESSEL1841, AIRY1830, CLARKE1866, CLARKE1880, GRS80 or GRS67\n"
     "(in any case), or A/RF, the semi\\-major axis in metres and the inverse\n"
     "flattening.\n"
     "Each list is projected on its own ellipsoid."},
    {"--destination-ellipsoid", "E", OptionGroup::Plane,
     "the destination list's ellipsoid, likewise",
     "The ellipsoid of the destination longitudes and latitudes, likewise; \\-\\-apply\n"
     "points are taken back on it."},
    {"--grid", "SPEC", OptionGroup::Plane,
     "the destination is a local grid table (easting,\nnorthing, height): SPEC is "
     "ellipsoid=E,\nmeridian=L0[,false-easting=M][,false-northing=M]\n[,height=M][,scale=K]"
     "[,latitude-of-origin=B]",
     "The destination points are a local Gauss\\(enKr\\(:uger grid table: easting,\n"
     "northing and height in metres.\n"
     "SPEC is key=value pairs separated by commas: ellipsoid= and meridian= (the\n"
     "central meridian in degrees) are required, false\\-easting= (500000, with the\n"
     "zone number in front for a prefixed grid), false\\-northing= (0), height= (the\n"
     "projection surface, 0), scale= (on the central meridian, 1; 0.9996 for UTM) and\n"
     "latitude\\-of\\-origin= (degrees, 0) are optional.\n"
     "The source points are projected with the grid's meridian, false origin and\n"
     "projection height on their own ellipsoid, and the fit runs in the grid."},
    {"--source-crs", "CRS", OptionGroup::Plane,
     "the source list's coordinate system as PROJ names\nit: EPSG:4326, EPSG:27700, a WKT text, "
     "@FILE\n(a .prj file) or a PROJ string",
     "The source list's coordinate reference system, anything PROJ takes: an EPSG code\n"
     "(EPSG:4326), a WKT 1 or 2 text, @FILE for a file holding one (a .prj file), or a\n"
     "PROJ string.\n"
     "A geographic CRS gives longitude, latitude and height in degrees and metres\n"
     "(whatever its axis order), on its ellipsoid; a projected CRS easting, northing\n"
     "and height in its own unit, taken back to longitude and latitude by its inverse\n"
     "projection; a geocentric CRS X, Y, Z in metres (the geocentric models only); a\n"
     "compound CRS its horizontal part.\n"
     "Not with \\-\\-source\\-ellipsoid."},
    {"--destination-crs", "CRS", OptionGroup::Plane,
     "the destination list's coordinate system,\nlikewise; a projected one is the plane of "
     "the fit",
     "The destination list's coordinate reference system, likewise.\n"
     "A projected CRS plays \\-\\-grid's part: the fit runs in its plane, the source\n"
     "points going through its projection on their own ellipsoid.\n"
     "Not with \\-\\-destination\\-ellipsoid or \\-\\-grid."},
    {"--geoid", "GRID", OptionGroup::Plane,
     "a geoid model grid (egm96_15.gtx, or a path):\nsource heights less the geoid's "
     "undulation\n(plane models)",
     "A geoid model grid PROJ reads (GTX or GeoTIFF): a bare name such as egm96_15.gtx is\n"
     "looked up where PROJ keeps its grids, a path is taken as it is.\n"
     "Each source height h becomes h \\- N, N the grid's undulation at the source point\n"
     "(PROJ's vgridshift), before anything else, and the record's pipeline gains the\n"
     "step. With the plane models only: geocentric coordinates need ellipsoidal\n"
     "heights."},
    // Model.
    {"--model", "NAME", OptionGroup::Model,
     "similarity (the default); site: a horizontal\nsimilarity and a height surface, fitted "
     "apart;\nhelmert or molodensky-badekas: the seven\nparameters in geocentric coordinates; "
     "affine:\nX' = T + A*X, twelve parameters, geocentric",
     "similarity (the default), site, helmert, molodensky\\-badekas or affine.\n"
     "The site model fits (E',N') = (E0,N0) + t + scale\\(**R(rz)\\(**((E,N) \\- (E0,N0))\n"
     "horizontally and H' = H + tz + slopeNorth\\(**(N \\- N0) + slopeEast\\(**(E \\- E0)\n"
     "vertically, about the centroid (E0,N0) of its source points, as two least\\-squares\n"
     "problems with statistics and blunder tests of their own.\n"
     "helmert fits X' = T + (1 + s)\\(**R\\(**X to geocentric coordinates, each list on its\n"
     "own ellipsoid (EPSG method 1033, PROJ's helmert step);\n"
     "molodensky\\-badekas the same about the centroid Xp of the source points,\n"
     "X' = Xp + T + (1 + s)\\(**R\\(**(X \\- Xp) (EPSG 1061).\n"
     "affine fits X' = T + A\\(**X, A a general 3 \\(mu 3 matrix, to geocentric coordinates\n"
     "(twelve parameters, PROJ's affine step)."},
    {"--fix-scale", nullptr, OptionGroup::Model, "site model: the horizontal scale held at 1",
     "Site model: the horizontal scale held at exactly 1."},
    {"--vertical", "KIND", OptionGroup::Model,
     "site model: plane (the default), constant,\nquadric, or auto: the one that predicts "
     "pairs it\ndid not see best",
     "Site model: plane (the default), constant (H' = H + tz), quadric (the plane +\n"
     "qNN\\(**n\\(S2 + qNE\\(**n\\(**e + qEE\\(**e\\(S2, n and e the distances north and east of\n"
     "the reference point in kilometres), or auto: of the three that the vertically\n"
     "fitted pairs allow with redundancy (2, 4 and 7 pairs), the one with the smallest\n"
     "leave\\-one\\-out prediction error, the simpler on a tie."},
    {"--convention", "NAME", OptionGroup::Model,
     "helmert and molodensky-badekas: the rotations'\nsigns, position-vector (the default) or\n"
     "coordinate-frame",
     "Geocentric models: position\\-vector (the default, EPSG 1033) or\n"
     "coordinate\\-frame (EPSG 1032): the same transformation, each rotation reported\n"
     "with the opposite sign."},
    // Fit quality.
    {"--quality", nullptr, OptionGroup::Quality,
     "after the report, residuals per point, sigma0, RMS,\nthe parameters' precision and a "
     "blunder test of\nevery pair",
     "After the report, a quality block: the residual of every pair in easting,\n"
     "northing and height (in geocentric models east, north and up), the number of\n"
     "fitted pairs and the redundancy, the standard deviation of unit weight sigma0,\n"
     "horizontal and vertical RMS, the standard deviations of the parameters, and a\n"
     "leave\\-one\\-out blunder test of every pair at the 0.1% level."},
    {"--exclude", "LIST", OptionGroup::Quality,
     "pair numbers (from 1) or point names, separated by\ncommas, left out of the fit; they "
     "are still shown,\nas check points (site model: 3h or 3v leaves pair\n3 out of the "
     "horizontal or the vertical fit only)",
     "Pair numbers, counted from 1, or point names, separated by commas, that take no\n"
     "part in the fit.\n"
     "With the site model a field ending in h or v leaves the pair out of the\n"
     "horizontal or the vertical fit only.\n"
     "They are still listed, and the quality block shows them as check points.\n"
     "The projection centre stays the mean of all paired destination points."},
    {"--snoop", nullptr, OptionGroup::Quality,
     "remove the worst pair that fails the blunder test\nand fit again, until none fails "
     "(implies --quality)",
     "Automatic blunder removal: leave out the pair with the largest test statistic\n"
     "that fails the blunder test, fit again, and repeat until none fails or too few\n"
     "pairs remain to test.\n"
     "Implies \\-\\-quality."},
    {"--tolerance-h", "M", OptionGroup::Quality,
     "mark fitted pairs whose horizontal residual\nexceeds M metres (implies --quality)",
     "Mark fitted pairs whose horizontal residual exceeds M metres with 超限.\n"
     "Implies \\-\\-quality."},
    {"--tolerance-v", "M", OptionGroup::Quality, "the same for the height residual",
     "The same for the height residual."},
    {"--strict", nullptr, OptionGroup::Quality,
     "exit with 3 when a fitted pair is still flagged or\nbeyond a tolerance, or the run warned",
     "After everything else, exit with status 3 when a fitted pair is still flagged\n"
     "by the blunder test or beyond a tolerance, or the run printed a warning."},
    // Output.
    {"--record", "FILE", OptionGroup::Output,
     "write the fit with its projection and a PROJ\npipeline that applies it to FILE (JSON)",
     "Write a JSON record of the fit to FILE: the projection, the parameters, their\n"
     "statistics and a PROJ pipeline that applies the whole transformation to\n"
     "longitude, latitude and height (or grid coordinates), degrees in and out, for\n"
     ".BR cct (1)\n"
     "or\n"
     ".BR ogr2ogr (1)\n"
     "\\-ct."},
    {"--plot", "FILE", OptionGroup::Output,
     "draw the points and their residuals to FILE (SVG)",
     "Draw the fit to FILE as one self\\-contained SVG picture: every destination\n"
     "point in the plane with its pair number, its horizontal residual as an arrow\n"
     "and its vertical residual as a bar, each on a scale of its own with a scale\n"
     "bar; fitted pairs, suspected blunders, excluded and removed pairs in four\n"
     "styles with a legend; and a title block with sigma0, RMS and the projection\n"
     "centre."},
    {"--utf8", nullptr, OptionGroup::Output, "Chinese labels in UTF-8 instead of GBK",
     "Print the Chinese labels and messages in UTF\\-8 instead of GBK (code page 936),\n"
     "for a UTF\\-8 terminal."},
    {"--help", nullptr, OptionGroup::Output, "print this text and exit",
     "Print a usage text and exit.\n"
     "Wins over every other option."},
    {"--version", nullptr, OptionGroup::Output, "print the version and exit",
     "Print \"quorvane\" and the version and exit.\n"
     "Wins over every option but \\-\\-help."},
};
const std::size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];

const OptionSpec* FindOption(const char* argument) {
  for (const OptionSpec& option : kOptions) {
    if (std::strcmp(argument, option.name) == 0) return &option;
  }
  return nullptr;
}

const char kVersionLine[] = "quorvane " QUORVANE_VERSION "\n";

namespace {

struct GroupText {
  OptionGroup group;
  const char* help;    // its heading in --help
  const char* manual;  // its subsection in the manual page
};
constexpr GroupText kGroups[] = {
    {OptionGroup::Points, "Points:", "Points"},
    {OptionGroup::Plane, "Plane:", "Plane"},
    {OptionGroup::Model, "Model:", "Model"},
    {OptionGroup::Quality, "Fit quality:", "Fit quality"},
    {OptionGroup::Output, "Output:", "Output"},
};

// The column --help's texts start in.
constexpr std::size_t kHelpColumn = 25;

constexpr char kUsageHead[] =
    "Usage: quorvane --refsrc LIST --refdes LIST [OPTION]...\n"
    "       quorvane --refsrc-file FILE --refdes-file FILE [OPTION]...\n"
    "       quorvane --help | --version\n"
    "\n"
    "Fits a transform that carries control points given in a source system onto the\n"
    "same points given in a destination system, and prints the fit and both point\n"
    "lists in the frame of the fit. By default both lists are projected into one\n"
    "Gauss-Kruger plane on WGS 84 whose central meridian and origin latitude are the\n"
    "mean longitude and latitude of the destination points, and a similarity (shift,\n"
    "rotation about the vertical, uniform scale) is fitted.\n"
    "\n"
    "A LIST is lon,lat,h,lon,lat,h,... in degrees, degrees and metres, separated by\n"
    "commas; the i-th source point pairs with the i-th destination point, and\n"
    "destination points beyond the source points only move the projection centre.\n"
    "A point FILE holds one point per line: lon,lat,h, or name,lon,lat,h; fields\n"
    "separated by commas, semicolons, tabs or blanks; a header line may name the\n"
    "columns in any order (name, lon, lat, h, B, L, H or the Chinese names); angles\n"
    "may be degrees-minutes-seconds (139d42m11.9s, 139:42:11.9, E/W/N/S). When both\n"
    "files name their points, pairs go by name.\n";

constexpr char kUsageTail[] =
    "\n"
    "The report goes to standard output, messages and warnings to standard error.\n"
    "quorvane.json, the fitted offset (m), rotation (degrees) and scale, is written\n"
    "beside the executable; FILE paths are relative to the current directory. Every\n"
    "file is written whole or not at all.\n"
    "\n"
    "Exit status:\n"
    "  0    fitted: report printed, quorvane.json written\n"
    "  1    the solver gave no usable result: report printed, nothing written\n"
    "  2    fitted, but the --record or --plot file could not be written\n"
    "  3    fitted and written, but with --strict a fitted pair is still flagged\n"
    "       or beyond a tolerance, or the run printed a warning\n"
    "  4    fitted and written, but standard output was closed before the whole\n"
    "       report was written\n"
    "  5    out of memory: the input is too large for this machine\n"
    "  255  incomplete command line, or points or options that cannot be used:\n"
    "       nothing printed on standard output but the message for an incomplete\n"
    "       command line, nothing written\n";

// The manual page around its options.
constexpr char kManualHead[] =
    ".TH QUORVANE 1 \"December 2026\" \"quorvane " QUORVANE_VERSION "\" \"User Commands\"\n"
    ".SH NAME\n"
    "quorvane \\- fit a transformation between two sets of control points\n"
    ".SH SYNOPSIS\n"
    ".B quorvane\n"
    ".B \\-\\-refsrc\n"
    ".I LIST\n"
    ".B \\-\\-refdes\n"
    ".I LIST\n"
    ".RI [ OPTION ]...\n"
    ".br\n"
    ".B quorvane\n"
    ".B \\-\\-refsrc\\-file\n"
    ".I FILE\n"
    ".B \\-\\-refdes\\-file\n"
    ".I FILE\n"
    ".RI [ OPTION ]...\n"
    ".br\n"
    ".B quorvane\n"
    ".BR \\-\\-help \" | \" \\-\\-version\n"
    ".SH DESCRIPTION\n"
    ".B quorvane\n"
    "takes the same control points twice, once in a source coordinate system and once\n"
    "in a destination system, as longitude, latitude and height triples (or, for a\n"
    "local grid, as easting, northing and height).\n"
    "It projects both lists into one Gauss\\(enKr\\(:uger (transverse Mercator) plane,\n"
    "by default on WGS 84 with its central meridian and origin latitude the mean\n"
    "longitude and latitude of the destination points and no false origin, and fits\n"
    "a translation, a rotation about the vertical and a uniform scale that carry the\n"
    "source points onto the destination points in the least\\-squares sense; or, with\n"
    "\\-\\-model site, a horizontal similarity and a vertical shift or inclined plane,\n"
    "fitted apart; or, with \\-\\-model helmert or molodensky\\-badekas, the\n"
    "seven\\-parameter transformation of geocentric coordinates, and with \\-\\-model\n"
    "affine their twelve\\-parameter affine transformation.\n"
    ".PP\n"
    "The report on standard output gives the solver's summary, the model's parameters\n"
    "(for the default model the line\n"
    ".B after:\n"
    "with the seven values tx, ty, tz (metres), rx, ry, rz (radians) and scale), and\n"
    "three blocks of coordinates in the frame of the fit: the source points, the\n"
    "destination points and the source points carried through the fit.\n"
    "The fitted values are also written to\n"
    ".B quorvane.json\n"
    "beside the executable.\n"
    ".PP\n"
    "A\n"
    ".I LIST\n"
    "is lon,lat,h,lon,lat,h,... in degrees, degrees and metres, separated by commas.\n"
    "The i\\-th source point pairs with the i\\-th destination point; destination\n"
    "points beyond the source points only move the projection centre.\n"
    ".PP\n"
    "A point\n"
    ".I FILE\n"
    "holds one point per line as lon,lat,h or name,lon,lat,h, its fields separated\n"
    "by commas (or full\\-width ，), semicolons (or ；), tabs or blanks (one kind per\n"
    "file).\n"
    "A first line without numbers is a header naming the columns in any order:\n"
    "name, id, point, station, 点名 or 点号; lon, longitude, L or 经度; lat,\n"
    "latitude, B or 纬度; h, height, elevation, elev, Z, 高程, 正常高 or 大地高 (for a\n"
    "grid, N, northing or 北坐标 and E, easting or 东坐标 instead of the angles), each\n"
    "word optionally followed by its unit in brackets, metres or degrees (X(m),\n"
    "E [m], 高程（m）).\n"
    "Angles are decimal degrees or degrees\\-minutes\\-seconds (139\\(de42'11.9\"E,\n"
    "139d42m11.9s, 139:42:11.9, and 139 42 11.9 in a file not separated by\n"
    "blanks), with a hemisphere letter or a sign.\n"
    "A file that is valid UTF\\-8 throughout is read as UTF\\-8, any other as GBK.\n"
    "Blanks around the fields, empty lines, lines starting with \"#\", a UTF\\-8\n"
    "byte\\-order mark and CRLF line ends are allowed; every other line must be a\n"
    "point, and the first that is not is named in the error message, as is a\n"
    "latitude beyond 90 or a longitude beyond 180 degrees.\n"
    "Lines are at most 4096 bytes, and only regular files and pipes are read.\n"
    "When both files name their points, pair i is source point i with the\n"
    "destination point of the same name; names missing or repeated are refused.\n"
    ".SH OPTIONS\n"
    "An option is recognised only as a whole argument, spelled exactly as below.\n"
    "An option that takes a value consumes the next argument, whatever it looks\n"
    "like; a repeated option keeps its last value.\n"
    "Other arguments are skipped.\n";

constexpr char kManualTail[] =
    ".SH FILES\n"
    ".TP\n"
    ".B quorvane.json\n"
    "Written beside the executable after every usable fit:\n"
    "{\"offset\":[tx,ty,tz],\"rotate\":[rx,ry,rz],\"scale\":s}, rotations in degrees,\n"
    "null for a value that is not finite; the other models add \"model\" and their\n"
    "own members (the site model \"slope\":[slopeNorth,slopeEast]), and a model stated\n"
    "about a reference point gives it as \"reference\".\n"
    "When it cannot be written (an installed copy in a folder its user cannot\n"
    "write), a warning says so; \\-\\-record keeps the result instead.\n"
    "Paths given to the options are relative to the current directory.\n"
    "Every file is written to a temporary file beside it and renamed, so it is\n"
    "whole or not there; an output that is the same file as an input or another\n"
    "output is refused.\n"
    ".SH EXIT STATUS\n"
    ".TP\n"
    ".B 0\n"
    "Fitted: report printed, quorvane.json written.\n"
    ".TP\n"
    ".B 1\n"
    "The solver gave no usable result: report printed, nothing written.\n"
    ".TP\n"
    ".B 2\n"
    "Fitted, but the \\-\\-record or \\-\\-plot file could not be written; the other\n"
    "files are still written.\n"
    ".TP\n"
    ".B 3\n"
    "Fitted and written, but with \\-\\-strict a fitted pair is still flagged by the\n"
    "blunder test or beyond a tolerance, or the run printed a warning.\n"
    ".TP\n"
    ".B 4\n"
    "Fitted and written, but standard output was closed before the whole report\n"
    "was written.\n"
    ".TP\n"
    ".B 5\n"
    "Out of memory: the input is too large for this machine.\n"
    ".TP\n"
    ".B 255\n"
    "Incomplete command line, or points or options that cannot be used: nothing\n"
    "on standard output but the message for an incomplete command line, and nothing\n"
    "written.\n"
    "Every such problem is explained in one line on standard error.\n"
    ".SH EXAMPLES\n"
    ".nf\n"
    "quorvane \\-\\-refsrc\\-file tokyo.txt \\-\\-refdes\\-file wgs84.txt \\-\\-quality \\-\\-utf8\n"
    "quorvane \\-\\-refsrc 139.7,35.7,40,139.8,35.6,20 \\e\n"
    "         \\-\\-refdes 139.69,35.71,80,139.79,35.61,60 \\-\\-record fit.json\n"
    ".fi\n"
    ".SH SEE ALSO\n"
    ".BR cct (1),\n"
    ".BR ogr2ogr (1)\n";

// "-" as roff writes it in a name.
std::string Roff(const char* text) {
  std::string roff;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '-') roff += '\\';
    roff += *c;
  }
  return roff;
}

}  // namespace

std::string UsageText() {
  std::string text = kUsageHead;
  for (const GroupText& group : kGroups) {
    text += std::string("\n") + group.help + "\n";
    for (const OptionSpec& option : kOptions) {
      if (option.group != group.group) continue;
      std::string head = std::string("  ") + option.name;
      if (option.value != nullptr) head += std::string(" ") + option.value;
      // The text beside the name, or under it when the name reaches its column.
      if (head.size() + 1 > kHelpColumn) {
        text += head + "\n";
        head.clear();
      }
      for (const char* line = option.help; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - line)
                                                  : std::strlen(line);
        head.resize(kHelpColumn, ' ');
        text += head + std::string(line, length) + "\n";
        head.clear();
        line += length + (end != nullptr ? 1 : 0);
      }
    }
  }
  return text + kUsageTail;
}

std::string ManualPage() {
  std::string page = kManualHead;
  for (const GroupText& group : kGroups) {
    page += std::string(".SS ") + group.manual + "\n";
    for (const OptionSpec& option : kOptions) {
      if (option.group != group.group) continue;
      page += ".TP\n";
      page += option.value != nullptr
                  ? ".BI " + Roff(option.name) + " \" " + option.value + "\"\n"
                  : ".B " + Roff(option.name) + "\n";
      page += std::string(option.manual) + "\n";
    }
  }
  return page + kManualTail;
}

}  // namespace Quorvane
