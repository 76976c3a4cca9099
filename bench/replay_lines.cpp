// Writes a file to standard output one line per write(2), as the tool's report does with its
// flush at every line end:
//   replay_lines FILE
// Given the report of a run, it shows what those writes alone cost on this machine, with no
// start-up beyond the C library's and none of the tool's work: a floor under any run that
// prints the same report.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(1, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: replay_lines FILE\n", stderr);
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(argv[1]);
    return 2;
  }
  // Read whole before the first write, into one buffer of the file's size so that reading costs
  // as few page faults as it can; what remains is the writes.
  std::vector<char> text;
  struct stat info {};
  if (fstat(fd, &info) == 0 && info.st_size > 0) {
    text.reserve(static_cast<std::size_t>(info.st_size));
  }
  char buffer[1 << 16];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror(argv[1]);
      return 2;
    }
    text.insert(text.end(), buffer, buffer + n);
  }
  close(fd);

  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    const char* stop = newline != nullptr ? static_cast<const char*>(newline) + 1 : end;
    if (!WriteAll(p, static_cast<std::size_t>(stop - p))) return 1;
    p = stop;
  }
  return 0;
}
