#include "app/cli/options.h"

#include <algorithm>
#include <cstring>

#include "app/cli/exit_codes.h"

namespace Quorvane {

constexpr OptionSpec kOptions[kOptionCount] = {
    // Points.
    {Option::RefSrc, "--refsrc", "LIST", OptionGroup::Points,
     "The control points in the source system.", "--refsrc 139.7,35.6,10"},
    {Option::RefDes, "--refdes", "LIST", OptionGroup::Points,
     "The same points in the destination system.", "--refdes 139.703,35.603,-30"},
    {Option::RefSrcFile, "--refsrc-file", "FILE", OptionGroup::Points,
     "The source points from a file instead of an argument.\n"
     "Giving both --refsrc and --refsrc-file is an error.",
     "--refsrc-file examples/tokyo-wgs84-named.txt"},
    {Option::RefDesFile, "--refdes-file", "FILE", OptionGroup::Points,
     "The destination points from a file instead of an argument.\n"
     "Giving both --refdes and --refdes-file is an error.",
     "--refdes-file examples/tokyo-datum-named.txt"},
    {Option::Apply, "--apply", "LIST", OptionGroup::Points,
     "Further source points, printed after the report transformed into the destination\n"
     "system.\n"
     "Each is carried into the frame, through the fit and back, and printed in the\n"
     "destination system under the label \"转换结果：\": longitude and latitude (degrees,\n"
     "nine decimals) and height (metres, four decimals), or a grid's easting, northing\n"
     "and height first, separated by tabs.",
     "--apply 139.7,35.69,40"},
    {Option::ApplyFile, "--apply-file", "FILE", OptionGroup::Points,
     "The further points from a file instead of an argument.\n"
     "Named points are printed with their names.",
     "--apply-file examples/tokyo-wgs84-named.txt"},
    {Option::PackedDms, "--packed-dms", nullptr, OptionGroup::Points,
     "Read every angle of every point file as packed degrees, minutes and seconds,\n"
     "ddd.mmssss.\n"
     "139.4211915 is then 139°42'11.915\".",
     "--packed-dms"},
    // Plane.
    {Option::SourceEllipsoid, "--source-ellipsoid", "E", OptionGroup::Plane,
     "The ellipsoid of the source longitudes and latitudes, by name or as A/RF.\n"
     "The names are WGS84, CGCS2000, BJ54, XIAN80, INTL1924, BESSEL1841, AIRY1830,\n"
     "CLARKE1866, CLARKE1880, GRS80 and GRS67 (in any case); A/RF is the semi-major\n"
     "axis in metres and the inverse flattening.\n"
     "Each list is projected on its own ellipsoid.",
     "--source-ellipsoid CGCS2000"},
    {Option::DestinationEllipsoid, "--destination-ellipsoid", "E", OptionGroup::Plane,
     "The ellipsoid of the destination longitudes and latitudes, likewise.\n"
     "--apply points are taken back on it.",
     "--destination-ellipsoid BESSEL1841"},
    {Option::Grid, "--grid", "SPEC", OptionGroup::Plane,
     "The destination points are a local Gauss-Kruger grid table: easting, northing and\n"
     "height in metres.\n"
     "SPEC is key=value pairs separated by commas: ellipsoid= and meridian= (the\n"
     "central meridian in degrees) are required, false-easting= (500000, with the zone\n"
     "number in front for a prefixed grid), false-northing= (0), height= (the\n"
     "projection surface, 0), scale= (on the central meridian, 1; 0.9996 for UTM) and\n"
     "latitude-of-origin= (degrees, 0) are optional.\n"
     "The source points are projected with the grid's meridian, false origin and\n"
     "projection height on their own ellipsoid, and the fit runs in the grid.",
     "--grid ellipsoid=BJ54,meridian=111,false-easting=37500000"},
    {Option::SourceCrs, "--source-crs", "CRS", OptionGroup::Plane,
     "The source list's coordinate reference system, anything PROJ takes: an EPSG code,\n"
     "a WKT text, @FILE or a PROJ string.\n"
     "An EPSG code is EPSG:4326; a WKT 1 or 2 text may come from a file as @FILE (a .prj\n"
     "file).\n"
     "A geographic CRS gives longitude, latitude and height in degrees and metres\n"
     "(whatever its axis order), on its ellipsoid; a projected CRS easting, northing and\n"
     "height in its own unit, taken back to longitude and latitude by its inverse\n"
     "projection; a geocentric CRS X, Y, Z in metres (the geocentric models only); a\n"
     "compound CRS its horizontal part.\n"
     "Not with --source-ellipsoid.",
     "--source-crs EPSG:4326"},
    {Option::DestinationCrs, "--destination-crs", "CRS", OptionGroup::Plane,
     "The destination list's coordinate reference system, likewise; a projected one is\n"
     "the plane of the fit.\n"
     "A projected CRS plays --grid's part: the fit runs in its plane, the source points\n"
     "going through its projection on their own ellipsoid.\n"
     "Not with --destination-ellipsoid or --grid.",
     "--destination-crs EPSG:4301"},
    {Option::DatumShift, "--datum-shift", "HOW", OptionGroup::Plane,
     "Carry the source to the destination CRS's datum by PROJ's own operation before the\n"
     "plane (proj), or not (none).\n"
     "With proj, the source's longitudes and latitudes go to the datum of the CRS named\n"
     "by --destination-crs by the operation cs2cs uses between the two CRSs' geographic\n"
     "CRSs, and then through the destination's projection on its own ellipsoid: the fit\n"
     "takes up only what that operation leaves. The source's datum is its\n"
     "--source-crs's, or WGS 84's for a source left on WGS 84; the operation's name is\n"
     "in the report and the record, and its steps in the record's pipeline. none\n"
     "projects each list on its own ellipsoid.\n"
     "Without the option, proj is taken where the destination's projection takes no\n"
     "ellipsoid but its own (Krovak, EPSG:5514, is always on Bessel 1841), and none\n"
     "elsewhere. Not with the geocentric models, which fit the datum change themselves.",
     "--destination-crs EPSG:27700 --datum-shift proj"},
    {Option::Geoid, "--geoid", "GRID", OptionGroup::Plane,
     "A geoid model grid PROJ reads (GTX or GeoTIFF): source heights less the geoid's\n"
     "undulation.\n"
     "A bare name such as egm96_15.gtx is looked up where PROJ keeps its grids, a path is\n"
     "taken as it is, and the record names a grid found in the current folder by its\n"
     "absolute path. One grid: a comma, PROJ's list of grids, or a leading @ is refused.\n"
     "Each source height h becomes h - N, N the grid's undulation at the source point\n"
     "(PROJ's vgridshift), before anything else, and the record's pipeline gains the\n"
     "step. With the plane models, and with helmert or molodensky-badekas given --vertical\n"
     "(the height surface is fitted to the reduced heights); without it geocentric\n"
     "coordinates need ellipsoidal heights.",
     "--geoid egm96_15.gtx"},
    // Model.
    {Option::Model, "--model", "NAME", OptionGroup::Model,
     "The model fitted: similarity (the default), site, helmert, molodensky-badekas or\n"
     "affine.\n"
     "The site model fits (E',N') = (E0,N0) + t + scale*R(rz)*((E,N) - (E0,N0))\n"
     "horizontally and H' = H + tz + slopeNorth*(N - N0) + slopeEast*(E - E0)\n"
     "vertically, about the centroid (E0,N0) of its source points, as two least-squares\n"
     "problems with statistics and blunder tests of their own.\n"
     "helmert fits X' = T + (1 + s)*R*X to geocentric coordinates, each list on its own\n"
     "ellipsoid (EPSG method 1033, PROJ's helmert step); molodensky-badekas the same\n"
     "about the centroid Xp of the source points, X' = Xp + T + (1 + s)*R*(X - Xp)\n"
     "(EPSG 1061). affine fits X' = T + A*X, A a general 3 × 3 matrix, to geocentric\n"
     "coordinates (twelve parameters, PROJ's affine step).",
     "--model site"},
    {Option::FixScale, "--fix-scale", nullptr, OptionGroup::Model,
     "Site model: the horizontal scale held at exactly 1.", "--model site --fix-scale"},
    {Option::Vertical, "--vertical", "KIND", OptionGroup::Model,
     "Site, helmert and molodensky-badekas models: the height surface, plane (the site\n"
     "model's default), constant, quadric or auto.\n"
     "constant is H' = H + tz; quadric the plane + qNN*n² + qNE*n*e + qEE*e², n and e the\n"
     "distances north and east of the reference point in kilometres; auto, of the three\n"
     "that the vertically fitted pairs allow with redundancy (2, 4 and 7 pairs), the one\n"
     "with the smallest leave-one-out prediction error, the simpler on a tie.\n"
     "With helmert or molodensky-badekas (七参数 + 高程拟合) the seven are fitted to the east\n"
     "and north of each pair alone and the surface to what they leave in the height, over\n"
     "longitude and latitude on the destination's ellipsoid; constant and --rates are\n"
     "refused with them.",
     "--model site --vertical constant"},
    {Option::Convention, "--convention", "NAME", OptionGroup::Model,
     "Geocentric models: the rotations' signs, position-vector (the default, EPSG 1033)\n"
     "or coordinate-frame (EPSG 1032).\n"
     "The same transformation, each rotation reported with the opposite sign.",
     "--model helmert --convention coordinate-frame"},
    {Option::Rates, "--rates", nullptr, OptionGroup::Model,
     "Geocentric models: fit the seven parameters and their yearly rates from each pair's\n"
     "epoch, fourteen parameters.\n"
     "Each of tx, ty, tz, rx, ry, rz and s is p + rate*(t - t0) at a pair's epoch t, t0 the\n"
     "--reference-epoch: helmert fits X' = T(t) + (1 + s(t))*R(t)*X as PROJ's helmert step\n"
     "with +dx ... +ds and +t_epoch applies it (EPSG methods 1053 and 1056),\n"
     "molodensky-badekas the same about the centroid. Every pair needs an epoch, from an\n"
     "epoch column of a point file (epoch, t or 历元, decimal years); --apply then takes\n"
     "lon,lat,h,epoch for each point and --apply-file an epoch column. The rates are\n"
     "reported in m/yr, arcsec/yr and ppm/yr. Where no point file and no option gives a\n"
     "sigma, the fit weights east and north and the heights by their own sigma, estimated\n"
     "from the pairs (variance components, reported as 方差分量估计).",
     "--model helmert --rates"},
    {Option::ReferenceEpoch, "--reference-epoch", "T", OptionGroup::Model,
     "With --rates, the epoch t0 the seven are given at, decimal years (default: the mean\n"
     "epoch of the fitted pairs, rounded to 0.1 year).\n"
     "The fit is the same at any t0; the seven are those of t0, most precise near the\n"
     "pairs' mean epoch. Give a published set's epoch to compare with it (2010 for ITRF2014\n"
     "to NAD83(2011), EPSG:8970).",
     "--model helmert --rates --reference-epoch 2010"},
    {Option::Distortion, "--distortion", "METHOD", OptionGroup::Model,
     "Model what the plane model leaves, tin or smooth, from the fitted pairs'\n"
     "residuals, and apply it after the model (needs --distortion-file).\n"
     "The corrections destination - model(source) of the pairs fitted in every part of\n"
     "the model, after --exclude and --snoop, in easting, northing and height, spread over\n"
     "the plane of the fit: tin interpolates them linearly over the Delaunay\n"
     "triangulation of the pairs, so that each lands on its destination; smooth fits a\n"
     "thin-plate spline whose smoothing is chosen by leave-one-out prediction and samples\n"
     "it on a grid fine enough for linear interpolation to stay within 1 mm of it.\n"
     "Beyond the pairs' convex hull the correction falls to zero over a margin of two\n"
     "mean spacings of the pairs. --apply points get the model and then the correction;\n"
     "the record's pipeline gains PROJ's tinshift step, and the report a line with the\n"
     "leave-one-out prediction RMS. For the plane models only.",
     "--model site --distortion tin --distortion-file distortion.json"},
    // Fit quality.
    {Option::Quality, "--quality", nullptr, OptionGroup::Quality,
     "After the report, a quality block: residuals per pair, sigma0, RMS, the\n"
     "parameters' precision and a blunder test of every pair.\n"
     "The residual of every pair in easting, northing and height (in geocentric models\n"
     "east, north and up), the number of fitted pairs and the redundancy, the standard\n"
     "deviation of unit weight sigma0, horizontal and vertical RMS, the standard\n"
     "deviations of the parameters, and a leave-one-out blunder test of every pair at\n"
     "the 0.1% level.",
     "--quality"},
    {Option::Exclude, "--exclude", "LIST", OptionGroup::Quality,
     "Pair numbers (counted from 1) or point names, separated by commas, left out of the\n"
     "fit.\n"
     "With the site model a field ending in h or v leaves the pair out of the horizontal\n"
     "or the vertical fit only.\n"
     "They are still listed, and the quality block shows them as check points.\n"
     "The projection centre stays the mean of all paired destination points.",
     "--exclude 3"},
    {Option::Snoop, "--snoop", nullptr, OptionGroup::Quality,
     "Remove the worst pair that fails the blunder test and fit again, until none fails\n"
     "(implies --quality).\n"
     "Automatic blunder removal: the pair with the largest test statistic goes first,\n"
     "and it repeats until none fails or too few pairs remain to test.",
     "--snoop"},
    {Option::Robust, "--robust", nullptr, OptionGroup::Quality,
     "Find several blunders at once by a robust estimation before the fit (implies\n"
     "--quality).\n"
     "A start from minimal subsets of pairs (least median of squares, or with\n"
     "--sigma-h/--sigma-v the largest consensus), then IGG III reweighting, then every\n"
     "pair it cut is tested against the fit of the pairs kept and given back where it\n"
     "passes; the pairs still cut are removed, and the fit is the least squares of the\n"
     "rest. With --snoop, snooping then goes on over the pairs kept.",
     "--robust"},
    {Option::SigmaH, "--sigma-h", "S", OptionGroup::Quality,
     "The a priori standard deviation of a pair's misclosure in east and in north, S\n"
     "metres.\n"
     "The fit is weighted by 1/S² and the statistics take the variance as known: the\n"
     "variance factor is tested, each pair is tested against chi-square, and the\n"
     "parameters' precision comes from the a priori σ. A pair whose points give σ\n"
     "columns takes those instead (docs/point-files.md).",
     "--sigma-v 0.02 --sigma-h 0.01"},
    {Option::SigmaV, "--sigma-v", "S", OptionGroup::Quality,
     "The same for the height (or up) of a pair's misclosure.", "--sigma-h 0.01 --sigma-v 0.02"},
    {Option::ToleranceH, "--tolerance-h", "M", OptionGroup::Quality,
     "Mark fitted pairs whose horizontal residual exceeds M metres (implies --quality).\n"
     "They are marked with 超限.",
     "--tolerance-h 0.05"},
    {Option::ToleranceV, "--tolerance-v", "M", OptionGroup::Quality,
     "The same for the height residual.", "--tolerance-v 0.05"},
    {Option::Strict, "--strict", nullptr, OptionGroup::Quality,
     "Exit with 3 when a fitted pair is still flagged or beyond a tolerance, or the run\n"
     "warned.\n"
     "Everything else is done first: the report is printed and the files are written.",
     "--strict"},
    // Output.
    {Option::Record, "--record", "FILE", OptionGroup::Output,
     "Write the fit with its projection and a PROJ pipeline that applies it to FILE\n"
     "(JSON).\n"
     "The record holds the projection, the parameters, their statistics and a PROJ\n"
     "pipeline that applies the whole transformation to longitude, latitude and height\n"
     "(or grid coordinates), degrees in and out, for cct(1) or ogr2ogr(1) -ct.",
     "--record fit.json"},
    {Option::Plot, "--plot", "FILE", OptionGroup::Output,
     "Draw the points and their residuals to FILE (SVG).\n"
     "One self-contained picture: every destination point in the plane with its pair\n"
     "number, its horizontal residual as an arrow and its vertical residual as a bar,\n"
     "each on a scale of its own with a scale bar; fitted pairs, suspected blunders,\n"
     "excluded and removed pairs in four styles with a legend; and a title block with\n"
     "sigma0, RMS and the projection centre.",
     "--plot fit.svg"},
    {Option::DistortionFile, "--distortion-file", "FILE", OptionGroup::Output,
     "Write the --distortion field to FILE, a triangulation PROJ's tinshift applies\n"
     "(JSON).\n"
     "PROJ's triangulation format 1.1: the vertices with their corrections and the\n"
     "triangles, for cct(1), ogr2ogr(1) -ct or QGIS through the record's pipeline, which\n"
     "names FILE as given.",
     "--distortion tin --distortion-file distortion.json"},
    {Option::ExportCrs, "--export-crs", "FILE", OptionGroup::Output,
     "Write the list that is not on WGS 84 as its CRS bound to WGS 84 by the fitted\n"
     "seven parameters to FILE (WKT2 2019).\n"
     "A BoundCRS: the list's CRS (as named by --source-crs or --destination-crs, or its\n"
     "ellipsoid alone) with the position-vector transformation to WGS 84, the fitted set\n"
     "for the source, its refitted inverse for the destination; projinfo(1), cs2cs(1)\n"
     "and QGIS read it. With --model helmert or molodensky-badekas without --rates, one\n"
     "list on WGS 84.",
     "--model helmert --source-crs EPSG:2435 --export-crs beijing54.wkt"},
    {Option::Utf8, "--utf8", nullptr, OptionGroup::Output,
     "Chinese labels and messages in UTF-8 instead of GBK (code page 936), for a UTF-8\n"
     "terminal.",
     "--utf8"},
    {Option::Help, "--help", nullptr, OptionGroup::Output,
     "Print a usage text and exit.\n"
     "Wins over every other option.",
     "--help"},
    {Option::Version, "--version", nullptr, OptionGroup::Output,
     "Print the version and exit.\n"
     "Wins over every option but --help.",
     "--version"},
};

namespace {

// The table's rows stand in the order of their ids, so that an id finds its row at once.
constexpr bool RowsInOrderOfIds() {
  for (std::size_t k = 0; k < kOptionCount; ++k) {
    if (static_cast<std::size_t>(kOptions[k].id) != k) return false;
  }
  return true;
}
static_assert(RowsInOrderOfIds(), "the table's rows stand in the order of their ids");

}  // namespace

const OptionSpec& OptionOf(Option id) { return kOptions[static_cast<std::size_t>(id)]; }

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

// The column --help's summaries start in, and the width they are wrapped to.
constexpr std::size_t kHelpColumn = 25;
constexpr std::size_t kHelpWidth = 79;

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
    "Exit status:\n";

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
    "A header may add each point's a priori precision, the standard deviation of one\n"
    "horizontal coordinate (sigmaH, σH, HRMS, H.RMS or HPrec) and of the height\n"
    "(sigmaV, σV, VRMS, V.RMS or VPrec), in metres, and its epoch in decimal years\n"
    "(epoch, t or 历元); an empty field gives none.\n"
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
    "output is refused.\n";

constexpr char kManualEnd[] =
    ".SH EXAMPLES\n"
    ".nf\n"
    "quorvane \\-\\-refsrc\\-file tokyo.txt \\-\\-refdes\\-file wgs84.txt \\-\\-quality \\-\\-utf8\n"
    "quorvane \\-\\-refsrc 139.7,35.7,40,139.8,35.6,20 \\e\n"
    "         \\-\\-refdes 139.69,35.71,80,139.79,35.61,60 \\-\\-record fit.json\n"
    ".fi\n"
    ".SH SEE ALSO\n"
    ".BR cct (1),\n"
    ".BR ogr2ogr (1)\n";

// An option's summary: its text up to the first sentence's end, on one line.
std::string Summary(const char* text) {
  std::string summary;
  for (const char* c = text; *c != '\0'; ++c) {
    summary += *c == '\n' ? ' ' : *c;
    if (*c == '.' && (c[1] == ' ' || c[1] == '\n' || c[1] == '\0')) break;
  }
  return summary;
}

// `text` wrapped at blanks into lines of at most `width` characters after `indent` blanks, the
// first line after `first` instead (padded to the indent).
std::string Wrapped(std::string first, const std::string& text, std::size_t indent,
                    std::size_t width) {
  std::string out;
  std::string line = std::move(first);
  bool empty = true;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t blank = std::min(text.find(' ', at), text.size());
    const std::string word = text.substr(at, blank - at);
    at = blank + 1;
    if (!empty && std::max(line.size(), indent) + 1 + word.size() > width) {
      out += line + "\n";
      line.clear();
      empty = true;
    }
    if (empty) {
      line.resize(indent, ' ');
    } else {
      line += ' ';
    }
    line += word;
    empty = false;
  }
  return out + line + "\n";
}

// A text as roff takes it: "-" and "\\" escaped, and a line that would start with a control
// character guarded; paragraphs (an empty line) become ".PP".
std::string Roff(const char* text) {
  std::string roff;
  bool lineStart = true;
  for (const char* c = text; *c != '\0'; ++c) {
    if (lineStart && *c == '\n') {
      roff += ".PP";
    } else if (lineStart && (*c == '.' || *c == '\'')) {
      roff += "\\&";
    }
    if (*c == '-') roff += '\\';
    roff += *c == '\\' ? std::string("\\e") : std::string(1, *c);
    lineStart = *c == '\n';
  }
  return roff;
}

// A text as one Markdown paragraph per paragraph.
std::string Markdown(const char* text) {
  std::string markdown;
  for (const char* c = text; *c != '\0'; ++c) {
    const bool paragraph = *c == '\n' && c[1] == '\n';
    markdown += paragraph ? "\n\n" : *c == '\n' ? " " : std::string(1, *c);
    if (paragraph) ++c;
  }
  return markdown;
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
      // The summary beside the name, or under it when the name reaches its column.
      if (head.size() + 1 > kHelpColumn) {
        text += head + "\n";
        head.clear();
      }
      text += Wrapped(head, Summary(option.text), kHelpColumn, kHelpWidth);
    }
  }
  text += kUsageTail;
  for (const ExitCodeLine& line : kExitCodes) {
    std::string status = "  " + std::to_string(line.status);
    status.resize(7, ' ');
    text += Wrapped(status, line.meaning, 7, kHelpWidth);
  }
  return text + "The README says each in full.\n";
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
      page += Roff(option.text) + "\n";
    }
  }
  page += kManualTail;
  page += ".SH EXIT STATUS\n"
          "The README (/usr/share/doc/quorvane/README.md) says each in full.\n";
  for (const ExitCodeLine& line : kExitCodes) {
    page += ".TP\n.B " + std::to_string(line.status) + "\n" + Roff(line.meaning) + ".\n";
  }
  return page + kManualEnd;
}

std::string OptionsPage() {
  std::string page =
      "# Options\n\n"
      "Every option is a whole argument, matched exactly and case-sensitively, anywhere on the\n"
      "command line; an option with a value takes the next argument, whatever it looks like, and\n"
      "a repeated option keeps its last value. `quorvane --help` gives the first sentence of each\n"
      "and `man quorvane` all of it; this page, both of them, and the table of options in\n"
      "`app/cli/options.cpp` that they are made from say the same (the tests check it). The exit\n"
      "codes are in the [README](../README.md#exit-codes).\n";
  for (const GroupText& group : kGroups) {
    page += std::string("\n## ") + group.manual + "\n";
    for (const OptionSpec& option : kOptions) {
      if (option.group != group.group) continue;
      page += std::string("\n### `") + option.name +
              (option.value != nullptr ? std::string(" ") + option.value : std::string()) +
              "`\n\n" + Markdown(option.text) + "\n\nFor example: `" + option.example + "`\n";
    }
  }
  return page;
}

}  // namespace Quorvane
