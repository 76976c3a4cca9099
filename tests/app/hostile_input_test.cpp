// Faults a careless or hostile run could provoke in the file layer and the readers, one row
// each, through the real executable: its files set up, a run with standard output appended to
// out.txt and standard error in err.txt (and, for some rows, a SIGTERM while a file is
// written), then a shell command that prints what a user would look at.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/point_printing.h"
#include "tests/support/tokyo_example.h"

namespace {

using QuorvaneTest::Tokyo;

struct Fault {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // name and bytes, before the run
  const char* setup;                                       // sh, before the run
  std::vector<std::string> arguments;
  int exitStatus;     // as a shell sees it: 128 + the signal for a run ended by one
  const char* check;  // sh, after the run, with LC_ALL=C: its standard output is `seen`
  std::string seen;
  // `signal` once a file whose name starts so is created: ".NAME." for the temporary file of NAME
  const char* interruptAt = nullptr;
  int signal = SIGTERM;
};

void PrintTo(const Fault& c, std::ostream* os) { *os << c.name; }

// Runs the copy of the executable in `home`; returns its exit status as a shell sees it.
int RunTool(const std::string& home, const Fault& fault) {
  std::vector<std::string> texts = {home + "/quorvane"};
  texts.insert(texts.end(), fault.arguments.begin(), fault.arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  EXPECT_GE(watch, 0);
  EXPECT_GE(inotify_add_watch(watch, home.c_str(), IN_CREATE), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open((home + "/out.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int err = open((home + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(home.c_str()) != 0) {
      _exit(QuorvaneTest::kChildSetupFailed);
    }
    execv(argv[0], argv.data());
    _exit(QuorvaneTest::kChildSetupFailed);
  }
  EXPECT_GT(pid, 0);
  int status = 0;
  bool interrupted = fault.interruptAt == nullptr;
  while (!interrupted && waitpid(pid, &status, WNOHANG) == 0) {
    pollfd ready = {watch, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    alignas(inotify_event) char events[4096];
    const ssize_t length = read(watch, events, sizeof events);
    for (ssize_t at = 0; at < length && !interrupted;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      if (event->len > 0 && std::string(event->name).rfind(fault.interruptAt, 0) == 0) {
        kill(pid, fault.signal);
        interrupted = true;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  if (interrupted) waitpid(pid, &status, 0);
  close(watch);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

class HostileRun : public ::testing::TestWithParam<Fault> {};

TEST_P(HostileRun, EndsAsAUserExpects) {
  const Fault& fault = GetParam();
#ifdef QUORVANE_SANITIZED
  if (std::strstr(fault.setup, "ulimit -v") != nullptr) {
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
  }
#endif
  QuorvaneTest::TempDir home;
  QuorvaneTest::CopyExecutableTo(home.path());
  for (const auto& file : fault.files) {
    QuorvaneTest::WriteFile(home.path() + "/" + file.first, file.second);
  }
  ASSERT_EQ(
      QuorvaneTest::RunChild("/bin/sh", {"-c", fault.setup}, QuorvaneTest::InDirectory(home.path()))
          .exitStatus,
      0);
  int status = RunTool(home.path(), fault);
  if (fault.interruptAt != nullptr) {
    // The signal may come too late, the file complete and renamed: the run proves nothing
    // then, and is run again. On two busy cores that happens to one run in five.
    const std::string name(fault.interruptAt + 1, std::strlen(fault.interruptAt) - 2);
    const std::string output = home.path() + "/" + name;
    for (int attempt = 1; attempt < 8 && (status == 0 || QuorvaneTest::FileExists(output));
         ++attempt) {
      std::remove(output.c_str());
      status = RunTool(home.path(), fault);
    }
  }
  EXPECT_EQ(status, fault.exitStatus) << QuorvaneTest::ReadFile(home.path() + "/err.txt");
  const QuorvaneTest::ChildResult check =
      QuorvaneTest::RunChild("/bin/sh", {"-c", std::string("export LC_ALL=C; ") + fault.check},
                             QuorvaneTest::InDirectory(home.path()));
  EXPECT_EQ(check.out, fault.seen) << check.err;
}

// Three of the Tokyo points as table lines "name,lon,lat,h" after `header`, named `names`.
std::string Table(const std::string& header, const std::string& list,
                  const std::vector<std::string>& names, const char* lineEnd) {
  std::istringstream fields(list);
  std::string table = header;
  for (const std::string& name : names) {
    std::string lon, lat, h;
    std::getline(fields, lon, ',');
    std::getline(fields, lat, ',');
    std::getline(fields, h, ',');
    table += name + "," + lon + "," + lat + "," + h + lineEnd;
  }
  return table;
}

// `count` points on a 10 m grid around Tokyo, "lon,lat,h" a line, moved by `shift` degrees.
std::string ManyPoints(int count, double shift) {
  std::string text;
  char line[96];
  for (int i = 0; i < count; ++i) {
    std::snprintf(line, sizeof line, "%.9f,%.9f,%.3f\n", 139.6 + (i % 200) * 1e-4 + shift,
                  35.6 + (i / 200) * 1e-4 + shift, 50.0 + (i % 7));
    text += line;
  }
  return text;
}

// 水准1, 水准2, 水准3: GBK bytes that happen to be valid UTF-8 as well (ˮ׼1 …).
const std::vector<std::string> kGbkLevelNames = {
    "\xCB\xAE\xD7\xBC"
    "1",
    "\xCB\xAE\xD7\xBC"
    "2",
    "\xCB\xAE\xD7\xBC"
    "3"};
const std::vector<std::string> kUtf8LevelNames = {
    "\xE6\xB0\xB4\xE5\x87\x86"
    "1",
    "\xE6\xB0\xB4\xE5\x87\x86"
    "2",
    "\xE6\xB0\xB4\xE5\x87\x86"
    "3"};
const std::string kLongName = std::string(250, 'r') + ".json";  // 255 bytes, NAME_MAX

INSTANTIATE_TEST_SUITE_P(
    Faults, HostileRun,
    ::testing::Values(
        // A GBK table (its header is not UTF-8) against a UTF-8 one: pairs go by name.
        Fault{"GbkNamesThatAreAlsoUtf8",
              {{"src.txt", Table("\xB5\xE3\xC3\xFB,L,B,H\r\n", Tokyo()[0], kGbkLevelNames, "\r\n")},
               {"des.txt", Table("name,lon,lat,h\n", Tokyo()[1], kUtf8LevelNames, "\n")}},
              "",
              {"--refsrc-file", "src.txt", "--refdes-file", "des.txt", "--record", "r.json"},
              0,
              "grep -o '\"name\":\"[^\"]*\"' r.json",
              "\"name\":\"\xE6\xB0\xB4\xE5\x87\x86"
              "1\"\n\"name\":\"\xE6\xB0\xB4\xE5\x87\x86"
              "2\"\n"
              "\"name\":\"\xE6\xB0\xB4\xE5\x87\x86"
              "3\"\n"},
        // Standard output appended to a log: the record follows the report, nothing is lost.
        Fault{"RecordToStandardOutputInAFile",
              {{"out.txt", "log\n"}},
              "",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--record", "/dev/stdout"},
              0,
              "head -n 1 out.txt; grep -c '^Ceres Solver Report' out.txt; "
              "grep -c '\"format\":\"quorvane-record/1\"' out.txt",
              "log\n1\n1\n"},
        // The link's target is quorvane.json, which the run writes first.
        Fault{"RecordThroughADanglingLink",
              {},
              "ln -s quorvane.json rec.json",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--record", "rec.json"},
              255,
              "sed \"s|$PWD|HOME|\" err.txt; ls",
              "quorvane: --record \"rec.json\" is the same file as the result file quorvane.json "
              "\"HOME/quorvane.json\", which writing it would destroy. No result was written.\n"
              "err.txt\nout.txt\nquorvane\nrec.json\n"},
        // U+FFFE and U+FFFF are no XML characters.
        Fault{"NoncharactersInNamesOfThePicture",
              {{"src.txt", Table("", Tokyo()[0], {"A\xEF\xBF\xBE", "B\xEF\xBF\xBF", "C"}, "\n")},
               {"des.txt", Table("", Tokyo()[1], {"A\xEF\xBF\xBE", "B\xEF\xBF\xBF", "C"}, "\n")}},
              "",
              {"--refsrc-file", "src.txt", "--refdes-file", "des.txt", "--plot", "p.svg"},
              0,
              "grep -c \"$(printf '\\357\\277[\\276\\277]')\" p.svg; grep -c '>A?</text>' p.svg",
              "0\n1\n"},
        Fault{"OutputNameOfNameMaxBytes",
              {},
              "",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--record", kLongName},
              0,
              "ls -A | grep -c '^rrrrr.*json$'; ls -A | grep -c tmp",
              "1\n0\n"},
        // A tag character, the combining grapheme joiner and the Hangul choseong filler.
        Fault{"InvisibleCharactersInAMessage",
              {{"src.txt", "139.7,35.7\xF3\xA0\x81\x81\xCD\x8F\xE1\x85\x9F,10\n"}},
              "",
              {"--refsrc-file", "src.txt", "--refdes", "139.7,35.7,10"},
              255,
              "cat err.txt",
              "quorvane: --refsrc-file \"src.txt\": line 1: field 2 "
              "\"35.7\\u{e0041}\\u{034f}\\u{115f}\" is not a number. No result was written.\n"},
        Fault{"BrailleBlankInAMessage",
              {{"src.txt", "139.7,35.7\xE2\xA0\x80,10\n"}},
              "",
              {"--refsrc-file", "src.txt", "--refdes", "139.7,35.7,10"},
              255,
              "cat err.txt",
              "quorvane: --refsrc-file \"src.txt\": line 1: field 2 \"35.7\\u{2800}\" is not a "
              "number. No result was written.\n"},
        Fault{"ReadOnlyRecord",
              {{"r.json", "old\n"}},
              "chmod 444 r.json",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--record", "r.json"},
              2,
              "cat r.json err.txt; ls -A | grep -c tmp",
              "old\nquorvane: the record could not be written to \"r.json\" (Permission denied); "
              "the report was printed and quorvane.json was written.\n0\n"},
        // A tab, an escape sequence (a terminal title) and a carriage return in names: every
        // line of the quality block keeps its columns, and nothing reaches the terminal raw.
        Fault{"NamesThatWouldMoveAColumn",
              {{"src.txt", Table("", Tokyo()[0], {"A\tB", "\x1b]0;x\x07", "C\rD"}, "\n")},
               {"des.txt", Table("", Tokyo()[1], {"A\tB", "\x1b]0;x\x07", "C\rD"}, "\n")}},
              "",
              {"--refsrc-file", "src.txt", "--refdes-file", "des.txt", "--quality", "--utf8"},
              0,
              "awk -F'\t' '/^[0-9]\t/ { print NF }' out.txt | sort -u; "
              "tr -d '\n\t' < out.txt | tr -d '\040-\176\200-\377' | wc -c",
              "9\n0\n"},
        // Points either side of ±180°, moved by 0.0005°: the plane is centred between them, and
        // the fit leaves the 1.8 mm the same network leaves at 170°E (centred on the plain mean
        // of the longitudes, near 0°, it left 0.63 m).
        Fault{"AcrossTheAntimeridian",
              {},
              "",
              {"--refsrc", "179.99,-17.8,10,-179.99,-17.81,12,179.995,-17.82,11",
               "--refdes", "179.9905,-17.7995,10,-179.9895,-17.8095,12,179.9955,-17.8195,11",
               "--quality", "--utf8"},
              0,
              "grep -a 'RMS' out.txt",
              "\xE5\xB9\xB3\xE9\x9D\xA2RMS\xEF\xBC\x9A\t0.0018\tm\n"
              "\xE9\xAB\x98\xE7\xA8\x8BRMS\xEF\xBC\x9A\t0.0000\tm\n"},
        // 88°N, the destination turned 0.01° about the Earth's axis: within the 7.65° of
        // longitude where the series hold 1 mm there (docs/accuracy.md), fitted as elsewhere;
        // the same lists in PROJ's exact +proj=tmerc about the site fit to 0.0000 m as well.
        Fault{"PolarSite",
              {},
              "",
              {"--refsrc", "10,88,10,12,88.02,12,14,88.05,11,11,87.98,13,13,87.99,14",
               "--refdes",
               "10.01,88,10,12.01,88.02,12,14.01,88.05,11,11.01,87.98,13,13.01,87.99,14",
               "--quality", "--utf8"},
              0,
              "grep -a 'RMS' out.txt",
              "\xE5\xB9\xB3\xE9\x9D\xA2RMS\xEF\xBC\x9A\t0.0000\tm\n"
              "\xE9\xAB\x98\xE7\xA8\x8BRMS\xEF\xBC\x9A\t0.0000\tm\n"},
        // State plane feet with NAVD88 heights in metres: the same points as the destination,
        // made by libproj (heights unchanged), so the height shift is 0, not 133.8 m.
        Fault{"CompoundCrsHeightsInTheirOwnUnit",
              {},
              "",
              {"--refsrc", "6470845.0187,1858909.6306,100,6486000.0281,1866146.5688,150,"
                           "6476849.0923,1840696.2762,220,6461727.0423,1848020.5818,300",
               "--refdes", "-118.3,34.1,100,-118.25,34.12,150,-118.28,34.05,220,-118.33,34.07,300",
               "--source-crs", "EPSG:2229+5703", "--model", "site", "--vertical", "constant"},
              0,
              "grep -a -o 'tz=[^ ]*' out.txt | "
              "awk -F= '{ v = $2 + 0; printf \"%.3f\\n\", v < 0 ? -v : v }'",
              "0.000\n"},
        // The British National Grid with its scale but without its latitude of origin: the
        // northings count from the equator, 5427.5 km from the table's, and a point of the
        // table comes back at 4.8°N.
        Fault{"GridWithoutItsLatitudeOfOrigin",
              {},
              "cp " QUORVANE_SOURCE_DIR "/examples/bng-wgs84.txt " QUORVANE_SOURCE_DIR
              "/examples/bng-27700.txt .",
              {"--refsrc-file", "bng-wgs84.txt", "--refdes-file", "bng-27700.txt", "--grid",
               "ellipsoid=AIRY1830,meridian=-2,false-easting=400000,false-northing=-100000,"
               "scale=0.9996012717",
               "--model", "site"},
              0,
              "cat err.txt",
              "quorvane: warning: the fit into the grid shifts the points by 5427.5 km, more than "
              "a datum change leaves: is the grid described right? An origin latitude or a false "
              "northing missing or wrong (latitude-of-origin=, false-northing=, or another CRS) "
              "shows as a shift north; a false easting (false-easting=) as a shift east\n"},
        // The picture over the geoid grid the run reads.
        Fault{"PlotOverTheGeoidGrid",
              {},
              "cp /usr/share/proj/egm96_15.gtx g.gtx",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--geoid", "g.gtx", "--plot",
               "./g.gtx"},
              255,
              "sed \"s|$PWD|HOME|\" err.txt; cmp g.gtx /usr/share/proj/egm96_15.gtx && echo kept",
              "quorvane: --plot \"./g.gtx\" is the same file as --geoid \"g.gtx\", which writing "
              "it would destroy. No result was written.\nkept\n"},
        // A geoid grid found relative to the folder of the run: the record names it by its
        // absolute path, so that its pipeline reads it from anywhere.
        Fault{"GeoidGridRelativeToTheRun",
              {},
              "mkdir grids && cp /usr/share/proj/egm96_15.gtx grids/g.gtx",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--geoid", "grids/g.gtx",
               "--record", "r.json"},
              0,
              "grep -o 'grids=[^ ]*\\|\"geoid\":\"[^\"]*\"' r.json | sed \"s|$PWD|HOME|\"",
              "\"geoid\":\"HOME/grids/g.gtx\"\ngrids=HOME/grids/g.gtx\n"},
        // The record gives the quadric's terms as quorvane.json does.
        Fault{"QuadricInTheRecord",
              {},
              "cp " QUORVANE_SOURCE_DIR "/examples/d-wgs84.txt " QUORVANE_SOURCE_DIR
              "/examples/d-bj54-zone37.txt .",
              {"--refsrc-file", "d-wgs84.txt", "--refdes-file", "d-bj54-zone37.txt", "--grid",
               "ellipsoid=BJ54,meridian=111,false-easting=37500000", "--model", "site",
               "--vertical", "quadric", "--record", "r.json"},
              0,
              "a=$(grep -o '\"quadric\":\\[[^]]*\\]' r.json); "
              "b=$(grep -o '\"quadric\":\\[[^]]*\\]' quorvane.json); "
              "[ -n \"$a\" ] && [ \"$a\" = \"$b\" ] && echo same",
              "same\n"},
        // 30 MB of address space: the tool starts, libproj (27 MiB with its libraries) cannot
        // be mapped beside it, which is memory's fault, not a PROJ missing.
        Fault{"ProjWithoutTheMemoryToLoadIt",
              {},
              "mv quorvane quorvane.bin && printf '#!/bin/sh\\nulimit -v 30000 && exec "
              "\"$0.bin\" \"$@\"\\n' > quorvane && chmod 755 quorvane",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--source-crs", "EPSG:4326"},
              5,
              "cat err.txt",
              "quorvane: out of memory: the input needs more than this machine can give; no file "
              "was written.\n"},
        // A geocentric source list takes X, Y, Z: a longitude, latitude and height given in their
        // place is a point 6356 km below the ellipsoid, printed at latitude 90°.
        Fault{"LongitudeLatitudeForGeocentricXyz",
              {},
              "",
              {"--refsrc", "3920310.1737,-131864.0740,5012141.2634,3838822.4810,-123750.8647,"
                           "5074575.5745,3811126.1595,-172066.9745,5093859.6549,3866318.8015,"
                           "-112082.5518,5053803.6014,3839637.3165,-144396.4037,5073368.0465",
               "--refdes", "-1.9279062742,52.1394546796,296.6447,-1.8478554529,53.0635105861,"
                           "269.0293,-2.5864609483,53.3529691223,256.2133,-1.6619888344,"
                           "52.7565177899,58.2982,-2.1551273163,53.0459627293,226.8534",
               "--source-crs", "+proj=cart +ellps=airy", "--model", "helmert", "--apply",
               "116.4,39.9,100"},
              255,
              "cat err.txt",
              "quorvane: --apply point 1 (counting from 1; given as 116.4,39.9,100) lies 6356.2 km "
              "below the ellipsoid, where the source list's geocentric X, Y, Z (metres) put it "
              "(longitude, latitude and height given for X, Y, Z?). No result was written.\n"},
        // A .prj file in GBK (a custom zone, no EPSG code): the record gives its PROJJSON with
        // the name in UTF-8.
        Fault{"CrsNameInGbk",
              {{"zone.prj",
                "PROJCS[\"\xB1\xB1\xBE\xA9" "54 \xD7\xD4\xB6\xA8\xD2\xE5\",GEOGCS["
                "\"GCS_Beijing_1954\",DATUM[\"D_Beijing_1954\",SPHEROID[\"Krasovsky_1940\","
                "6378245.0,298.3]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\","
                "0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],PARAMETER["
                "\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],PARAMETER["
                "\"Central_Meridian\",139.75],PARAMETER[\"Scale_Factor\",1.0],PARAMETER["
                "\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]"}},
              "",
              {"--refsrc", Tokyo()[0], "--refdes",
               "496067.546,3954358.375,62.036,498943.725,3942661.517,58.959,498468.794,"
               "3953600.338,76.733,498309.086,3953262.110,33.005,483730.966,3941941.250,-9.157,"
               "484105.587,3957147.800,72.173",
               "--destination-crs", "@zone.prj", "--record", "r.json"},
              0,
              "iconv -f UTF-8 -t UTF-8 r.json > /dev/null && grep -o "
              "'\"name\":\"\xE5\x8C\x97\xE4\xBA\xAC" "54 [^\"]*\"' r.json",
              "\"name\":\"\xE5\x8C\x97\xE4\xBA\xAC" "54 \xE8\x87\xAA\xE5\xAE\x9A\xE4\xB9\x89\"\n"},
        // A .prj as some programs save it, after a UTF-8 byte-order mark.
        Fault{"CrsFileAfterAByteOrderMark",
              {{"tokyo.prj", "\xEF\xBB\xBF" "EPSG:4301"}},
              "",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--destination-crs", "@tokyo.prj",
               "--record", "r.json"},
              0,
              "grep -o '\"destination\":\"EPSG:4301\"' r.json",
              "\"destination\":\"EPSG:4301\"\n"},
        // An EPSG method is a code: written as an integer, never 1033.0.
        Fault{"EpsgMethodAnInteger",
              {},
              "",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--model", "helmert", "--record",
               "r.json"},
              0,
              "grep -o '\"method\":[0-9][0-9.e+]*' r.json",
              "\"method\":1033\n"},
        // Heights on one line: the fit holds the slope across, and its statistics say so.
        Fault{"HeightPlaneOnALine",
              {},
              "",
              {"--refsrc", "500000,3800000,10,501000,3801000,11,502000,3802000,12,503000,3803000,13",
               "--refdes", "500000.1,3800000,5,501000.1,3801000,6.1,502000.1,3802000,7,503000.1,3803000,8.05",
               "--source-crs", "EPSG:2436", "--destination-crs", "EPSG:2436", "--model", "site",
               "--quality", "--utf8"},
              0,
              "grep -a -A9 '^\xE9\xAB\x98\xE7\xA8\x8B\xEF\xBC\x9A' out.txt | grep -a -c "
              "'\xE6\x97\xA0\xE6\xB3\x95\xE7\xA1\xAE\xE5\xAE\x9A'; grep -a -A2 "
              "'^\xE9\xAB\x98\xE7\xA8\x8B\xEF\xBC\x9A' out.txt | tail -1",
              "3\n\xE5\xA4\x9A\xE4\xBD\x99\xE8\xA7\x82\xE6\xB5\x8B\xE6\x95\xB0\xEF\xBC\x9A\t2\n"},
        // One pair fitted vertically allows no candidate with redundancy: the simplest is taken.
        Fault{"VerticalAutoWithoutACandidate",
              {},
              "",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--model", "site", "--vertical",
               "auto", "--exclude", "2v,3v,4v,5v,6v"},
              0,
              "grep -a -o 'vertical auto: [a-z]*' out.txt",
              "vertical auto: constant\n"},
        // Three sources on one spot: rz and the scale held, so 6 rows less 2 estimated leave 4.
        Fault{"SiteOnOneSpotCountsWhatItHeld",
              {},
              "",
              {"--refsrc", "139.7,35.7,1,139.700000001,35.7,2,139.7,35.700000001,3", "--refdes",
               "139.7,35.7,1,139.8,35.6,2,139.75,35.65,3", "--model", "site", "--quality",
               "--utf8"},
              0,
              "grep -a -A2 '^\xE5\xB9\xB3\xE9\x9D\xA2\xEF\xBC\x9A' out.txt | tail -1",
              "\xE5\xA4\x9A\xE4\xBD\x99\xE8\xA7\x82\xE6\xB5\x8B\xE6\x95\xB0\xEF\xBC\x9A\t4\n"},
        // The quality block gives the rotations' sigma in arc seconds, the record in radians.
        Fault{"HelmertRotationSigmaInArcSeconds",
              {},
              "",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--model", "helmert",
               "--destination-ellipsoid", "BESSEL1841", "--quality", "--record", "r.json"},
              0,
              "for k in rx ry rz; do r=$(grep -o '\"sigma\":{[^}]*}' r.json | "
              "grep -o \"\\\"$k\\\":[-0-9.e]*\" | cut -d: -f2); "
              "b=$(grep -a \"^$k\t\" out.txt | cut -f2); "
              "awk -v r=\"$r\" -v b=\"$b\" 'BEGIN { d = r * 206264.806 - b; "
              "print (b > 0 && d < 6e-5 && d > -6e-5) ? \"agrees\" : \"differs\" }'; done",
              "agrees\nagrees\nagrees\n"},
        // --help into a full device: the text was not written, and the exit status says so.
        Fault{"HelpIntoAFullDevice",
              {},
              "ln -s /dev/full out.txt",
              {"--help"},
              4,
              "cat err.txt",
              "quorvane: standard output could not take the whole text.\n"},
        // Ended while the record of 40,000 pairs (some megabytes) is written.
        Fault{"TerminatedWhileWriting",
              {{"src.txt", ManyPoints(40000, 0.0)}, {"des.txt", ManyPoints(40000, 0.003)}},
              "",
              {"--refsrc-file", "src.txt", "--refdes-file", "des.txt", "--record", "r.json"},
              128 + SIGTERM,
              "ls -A",
              "des.txt\nerr.txt\nout.txt\nquorvane\nquorvane.json\nsrc.txt\n",
              ".r.json."},
        // Any signal that ends a process removes the temporary file.
        Fault{"EndedBySigusr1WhileWriting",
              {{"src.txt", ManyPoints(40000, 0.0)}, {"des.txt", ManyPoints(40000, 0.003)}},
              "",
              {"--refsrc-file", "src.txt", "--refdes-file", "des.txt", "--record", "r.json"},
              128 + SIGUSR1,
              "ls -A",
              "des.txt\nerr.txt\nout.txt\nquorvane\nquorvane.json\nsrc.txt\n",
              ".r.json.", SIGUSR1},
        // quorvane.json is new, the record old: the run says so.
        Fault{"InterruptedBetweenTwoFiles",
              {{"src.txt", ManyPoints(40000, 0.0)}, {"des.txt", ManyPoints(40000, 0.003)}},
              "",
              {"--refsrc-file", "src.txt", "--refdes-file", "des.txt", "--record", "r.json"},
              128 + SIGINT,
              "cat err.txt",
              "quorvane: ended by a signal after quorvane.json was written; the record "
              "\"r.json\" was left as it was.\n",
              ".r.json.", SIGINT}),
    QuorvaneTest::CaseName());

}  // namespace
