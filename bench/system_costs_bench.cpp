// What the machine charges for the kernel work every run does: a system call, a small write into a
// pipe that another thread drains (the report's flush at every line end), and a first touch of an
// anonymous page (a page fault). A whole run's time is roughly its own work plus its counts of
// these three (strace -c, and the fault column of scripts/bench) times these costs; on a machine
// where they are high, the counts matter more than the instructions.
#include <benchmark/benchmark.h>

#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace {

// getppid through syscall(), so no C library cache can answer it.
void BM_NullSystemCall(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(syscall(SYS_getppid));
  }
}
BENCHMARK(BM_NullSystemCall);

// One 36-byte line per write(2), the size of a point line of the report, into a pipe whose other
// end a second thread reads in 64 KiB chunks, as `quorvane … | cat` does.
void BM_PipeLineWrite(benchmark::State& state) {
  int fds[2];
  if (pipe(fds) != 0) {
    state.SkipWithError("pipe failed");
    return;
  }
  std::thread reader([fd = fds[0]] {
    static char buffer[1 << 16];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
  });
  static const char line[] = "(-1234.56789,\t2345.67891,\t2345.678)\n";
  for (auto _ : state) {
    if (write(fds[1], line, sizeof line - 1) < 0) {
      state.SkipWithError("write failed");
      break;
    }
  }
  close(fds[1]);
  reader.join();
  close(fds[0]);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sizeof line - 1));
}
BENCHMARK(BM_PipeLineWrite);

// One first write into a fresh anonymous page per iteration, so the Time column is the cost of one
// page fault. Pages come from a 64 MiB mapping that is replaced, outside the timing, when used up.
void BM_PageFirstTouch(benchmark::State& state) {
  constexpr std::size_t kPages = 16384;
  const auto pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t length = kPages * pageSize;
  auto fresh = [length] {
    void* map = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return map == MAP_FAILED ? nullptr : static_cast<volatile char*>(map);
  };
  volatile char* pages = fresh();
  std::size_t next = 0;
  for (auto _ : state) {
    if (next == kPages) {
      state.PauseTiming();
      munmap(const_cast<char*>(pages), length);
      pages = fresh();
      next = 0;
      state.ResumeTiming();
    }
    if (pages == nullptr) {
      state.SkipWithError("mmap failed");
      break;
    }
    pages[next++ * pageSize] = 1;
  }
  if (pages != nullptr) munmap(const_cast<char*>(pages), length);
}
BENCHMARK(BM_PageFirstTouch);

}  // namespace

BENCHMARK_MAIN();
