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
  // SIGTERM once a file whose name starts so is created: ".NAME." for the temporary file of NAME
  const char* interruptAt = nullptr;
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
        kill(pid, SIGTERM);
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
        Fault{"ReadOnlyRecord",
              {{"r.json", "old\n"}},
              "chmod 444 r.json",
              {"--refsrc", Tokyo()[0], "--refdes", Tokyo()[1], "--record", "r.json"},
              2,
              "cat r.json err.txt; ls -A | grep -c tmp",
              "old\nquorvane: the record could not be written to \"r.json\" (Permission denied); "
              "the report was printed and quorvane.json was written.\n0\n"},
        // Ended while the record of 40,000 pairs (some megabytes) is written.
        Fault{"TerminatedWhileWriting",
              {{"src.txt", ManyPoints(40000, 0.0)}, {"des.txt", ManyPoints(40000, 0.003)}},
              "",
              {"--refsrc-file", "src.txt", "--refdes-file", "des.txt", "--record", "r.json"},
              128 + SIGTERM,
              "ls -A",
              "des.txt\nerr.txt\nout.txt\nquorvane\nquorvane.json\nsrc.txt\n",
              ".r.json."}),
    QuorvaneTest::CaseName());

}  // namespace
