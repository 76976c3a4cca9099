// Running the built executable as a child process, the way a user or a pipeline does.
#pragma once

#include <string>
#include <vector>

namespace QuorvaneTest {

struct ChildResult {
  int exitStatus = -1;  // 0..255 as the shell sees it; 128 + signal number if killed by a signal
  std::string out;      // every byte written to standard output
  std::string err;      // every byte written to standard error
};

struct ChildOptions {
  std::string workingDirectory;  // empty: the test's own current directory
  bool asNobody = false;         // drop root privileges to user "nobody" before exec
  std::string argument0;         // empty: `program` itself
  bool withoutProc = false;      // run in a private mount namespace with /proc unmounted
};

/// Options that only set the child's working directory.
inline ChildOptions InDirectory(const std::string& directory) {
  ChildOptions options;
  options.workingDirectory = directory;
  return options;
}

/// Exit status of a child whose set-up before exec failed (namespace, user switch, directory).
constexpr int kChildSetupFailed = 125;

/// Runs `program` with `arguments` (argv[1] onwards; argv[0] is `program`) and collects its
/// output and exit status. Aborts the test on a failure to start it.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     const ChildOptions& options = {});

/// True when the process may switch to user "nobody" (it runs as root and the user exists).
bool CanRunAsNobody();

/// True when a child can be started with /proc hidden (it runs as root and may unshare mounts).
bool CanRunWithoutProc();

/// A fresh directory under the system's temporary directory, removed with its content when the
/// object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Whole content of a file, or `fallback` when it cannot be opened.
std::string ReadFile(const std::string& path, const std::string& fallback = "<missing>");
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

/// Copies the built executable into `directory` and returns the copy's path.
std::string CopyExecutableTo(const std::string& directory);

/// The executable installed in a folder of its own, where it writes quorvane.json, and a second
/// folder to run it from, as a user runs an installed tool.
struct Installation {
  TempDir home;
  TempDir elsewhere;
  std::string executable = CopyExecutableTo(home.path());
  std::string resultFile = home.path() + "/quorvane.json";

  /// Runs it with `arguments`, its working directory its own folder.
  ChildResult Run(const std::vector<std::string>& arguments) const {
    return RunChild(executable, arguments, InDirectory(home.path()));
  }
  /// Runs it with `arguments` from the other folder.
  ChildResult RunElsewhere(const std::vector<std::string>& arguments) const {
    return RunChild(executable, arguments, InDirectory(elsewhere.path()));
  }
};

}  // namespace QuorvaneTest
