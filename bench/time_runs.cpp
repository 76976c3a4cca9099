// Times whole runs of programs, interleaved, each with its standard output to a pipe that this
// process drains as a pipeline's next program would:
//
//   time_runs [--rounds N] [--warmup N] [--raw FILE] NAME[:STATUS]=ARGV_FILE...
//
// ARGV_FILE holds one argument per line, the first an absolute path to the executable; STATUS is
// the exit status the case must end with (default 0; 255 for a run that is refused). Every
// round runs each case once, in an order shuffled afresh (fixed seed), so machine noise falls on
// all of them alike and no case always follows the same other one (on a virtual machine a hello
// world straight after a 4369-pair run took 40 % longer than at random places); --warmup rounds
// (default 5) go first and are not counted. Standard input and standard error are /dev/null;
// a run that ends in any other way than its STATUS stops the measurement, so a broken build or
// argument file cannot pass for a fast run.
//
// A run is timed on CLOCK_MONOTONIC from just before posix_spawn to the return of wait4, after
// this process has read the pipe to its end. glibc's posix_spawn uses clone(CLONE_VM|CLONE_VFORK),
// so no page tables are copied: the driver adds little, and the same to every case. CPU time and
// peak resident memory are the child's rusage from wait4 (ru_maxrss, KiB: the figure GNU time
// prints as %M). Linux folds the memory the child starts in, this process's own, into that peak at
// exec, so the driver's own peak, printed last, is a floor under every case's figure.
//
// Prints, per case: runs, median, 10th and 90th percentile and minimum of the wall time (ms), the
// median CPU time (user + system, ms), the highest peak resident memory seen (KiB), the median
// count of minor page faults (a page fault can cost tens of microseconds on a virtual machine,
// so for a short run the count says much about its time) and the bytes read from the pipe in one
// run. --raw writes every counted run as a tab-separated line.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Case {
  std::string name;
  int status = 0;
  std::vector<std::string> args;
  std::vector<char*> argv;  // points into `args`, null-terminated
};

struct Sample {
  double wallMs;
  double cpuMs;
  long maxRssKib;
  long minorFaults;
  long long bytes;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "time_runs: %s\n", what.c_str());
  std::exit(1);
}

Case LoadCase(const std::string& spec) {
  const auto eq = spec.find('=');
  if (eq == std::string::npos || eq == 0) Fail("expected NAME=ARGV_FILE, got " + spec);
  Case c;
  c.name = spec.substr(0, eq);
  const auto colon = c.name.find(':');
  if (colon != std::string::npos) {
    c.status = std::atoi(c.name.c_str() + colon + 1);
    c.name.erase(colon);
  }
  std::ifstream in(spec.substr(eq + 1), std::ios::binary);
  if (!in) Fail("cannot read " + spec.substr(eq + 1));
  for (std::string line; std::getline(in, line);) c.args.push_back(line);
  if (c.args.empty() || c.args[0].empty() || c.args[0][0] != '/') {
    Fail(c.name + ": the first line must be the executable's absolute path");
  }
  for (std::string& a : c.args) c.argv.push_back(a.data());
  c.argv.push_back(nullptr);
  return c;
}

double NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

double Ms(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) * 1e-3;
}

Sample RunOnce(Case& c) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) Fail(std::string("pipe2: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);  // dup2 clears close-on-exec on fd 1
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  static char buffer[1 << 16];
  long long bytes = 0;
  pid_t pid = 0;
  const double start = NowMs();
  const int rc = posix_spawn(&pid, c.argv[0], &actions, nullptr, c.argv.data(), environ);
  close(fds[1]);
  if (rc != 0) Fail(c.name + ": posix_spawn: " + std::strerror(rc));
  for (;;) {
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n > 0) {
      bytes += n;
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      Fail(std::string("read: ") + std::strerror(errno));
    }
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) Fail(std::string("wait4: ") + std::strerror(errno));
  }
  const double end = NowMs();
  close(fds[0]);
  posix_spawn_file_actions_destroy(&actions);

  if (!WIFEXITED(status) || WEXITSTATUS(status) != c.status) {
    Fail(c.name + ": the program did not exit with status " + std::to_string(c.status) +
         " (wait status " + std::to_string(status) + ")");
  }
  return {end - start, Ms(usage.ru_utime) + Ms(usage.ru_stime), usage.ru_maxrss, usage.ru_minflt,
          bytes};
}

// Value at fraction q of the sorted samples, linear between neighbours (q = 0.5 is the median,
// the mean of the middle two for an even count).
double Quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const double pos = q * static_cast<double>(v.size() - 1);
  const auto lo = static_cast<std::size_t>(pos);
  const std::size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (v[hi] - v[lo]) * (pos - static_cast<double>(lo));
}

}  // namespace

int main(int argc, char** argv) {
  long rounds = 200;
  long warmup = 5;
  std::string rawPath;
  std::vector<Case> cases;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--rounds" || a == "--warmup" || a == "--raw") && i + 1 < argc) {
      const std::string v = argv[++i];
      if (a == "--raw") {
        rawPath = v;
      } else {
        (a == "--rounds" ? rounds : warmup) = std::strtol(v.c_str(), nullptr, 10);
      }
    } else {
      cases.push_back(LoadCase(a));
    }
  }
  if (cases.empty() || rounds < 1 || warmup < 0) {
    Fail("usage: time_runs [--rounds N] [--warmup N] [--raw FILE] NAME[:STATUS]=ARGV_FILE...");
  }

  const std::size_t n = cases.size();
  std::vector<std::vector<Sample>> samples(n);
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::mt19937 shuffle(12345);
  for (long r = 0; r < warmup + rounds; ++r) {
    // Fisher–Yates by hand: std::shuffle's sequence differs between standard libraries.
    for (std::size_t k = n; k > 1; --k) {
      std::swap(order[k - 1], order[shuffle() % k]);
    }
    for (const std::size_t i : order) {
      const Sample s = RunOnce(cases[i]);
      if (r >= warmup) samples[i].push_back(s);
    }
  }

  if (!rawPath.empty()) {
    std::FILE* raw = std::fopen(rawPath.c_str(), "w");
    if (raw == nullptr) Fail("cannot write " + rawPath);
    std::fprintf(raw, "case\tround\twall_ms\tcpu_ms\tmax_rss_kib\tminor_faults\tstdout_bytes\n");
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t r = 0; r < samples[i].size(); ++r) {
        const Sample& s = samples[i][r];
        std::fprintf(raw, "%s\t%zu\t%.4f\t%.3f\t%ld\t%ld\t%lld\n", cases[i].name.c_str(), r,
                     s.wallMs, s.cpuMs, s.maxRssKib, s.minorFaults, s.bytes);
      }
    }
    std::fclose(raw);
  }

  std::printf("%-12s %5s %10s %8s %8s %8s %8s %13s %7s %13s\n", "case", "runs", "median_ms",
              "p10_ms", "p90_ms", "min_ms", "cpu_ms", "peak_rss_kib", "faults", "stdout_bytes");
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<double> wall;
    std::vector<double> cpu;
    std::vector<double> faults;
    long rss = 0;
    for (const Sample& s : samples[i]) {
      wall.push_back(s.wallMs);
      cpu.push_back(s.cpuMs);
      faults.push_back(static_cast<double>(s.minorFaults));
      rss = std::max(rss, s.maxRssKib);
    }
    std::printf("%-12s %5zu %10.3f %8.3f %8.3f %8.3f %8.3f %13ld %7.0f %13lld\n",
                cases[i].name.c_str(), wall.size(), Quantile(wall, 0.5), Quantile(wall, 0.1),
                Quantile(wall, 0.9), *std::min_element(wall.begin(), wall.end()),
                Quantile(cpu, 0.5), rss, Quantile(faults, 0.5), samples[i].back().bytes);
  }
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  std::printf("driver_peak_rss_kib %ld\n", self.ru_maxrss);
  return 0;
}
