#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <grp.h>

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace QuorvaneTest {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    ADD_FAILURE() << what << ": " << std::strerror(errno);
    std::abort();
  }
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     const ChildOptions& options) {
  int outPipe[2];
  int errPipe[2];
  Check(pipe(outPipe) == 0 && pipe(errPipe) == 0, "pipe");

  uid_t nobodyUid = 0;
  gid_t nobodyGid = 0;
  if (options.asNobody) {
    const passwd* nobody = getpwnam("nobody");
    Check(nobody != nullptr, "getpwnam(nobody)");
    nobodyUid = nobody->pw_uid;
    nobodyGid = nobody->pw_gid;
  }

  std::vector<char*> argv;
  const std::string& argument0 = options.argument0.empty() ? program : options.argument0;
  argv.push_back(const_cast<char*>(argument0.c_str()));
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  const pid_t pid = fork();
  Check(pid >= 0, "fork");
  if (pid == 0) {
    // Child: only async-signal-safe calls from here to exec.
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    close(outPipe[0]);
    close(outPipe[1]);
    close(errPipe[0]);
    close(errPipe[1]);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
      _exit(kChildSetupFailed);
    }
    if (options.withoutProc &&
        (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
         umount2("/proc", MNT_DETACH) != 0)) {
      _exit(kChildSetupFailed);
    }
    if (options.asNobody && (setgroups(0, nullptr) != 0 || setgid(nobodyGid) != 0 ||
                             setuid(nobodyUid) != 0)) {
      _exit(kChildSetupFailed);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);

  ChildResult result;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      Check(errno == EINTR, "poll");
      continue;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[k]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[k].fd);
        fds[k].fd = -1;
        --open;
      }
    }
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    Check(errno == EINTR, "waitpid");
  }
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool CanRunAsNobody() { return geteuid() == 0 && getpwnam("nobody") != nullptr; }

bool CanRunWithoutProc() {
  if (geteuid() != 0) return false;
  ChildOptions options;
  options.withoutProc = true;
  return RunChild("/bin/true", {}, options).exitStatus == 0;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
  Check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path, const std::string& fallback) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fallback;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string CopyExecutableTo(const std::string& directory) {
  const std::filesystem::path target = std::filesystem::path(directory) / "quorvane";
  std::filesystem::copy_file(QUORVANE_EXECUTABLE, target,
                             std::filesystem::copy_options::overwrite_existing);
  return target.string();
}

}  // namespace QuorvaneTest
