// Linux: /proc/self/exe, iconv for GBK, rename(2) for whole-file replacement, stat for identity,
// sigaction for the temporary files of a run ended by a signal.
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/platform/platform.h"

namespace Quorvane {

namespace {

// Converts with iconv; a character `to` lacks becomes `replacement` when that is not 0, and
// makes the conversion fail otherwise.
bool Convert(const char* to, const char* from, const std::string& in, std::string& out,
             char replacement) {
  const iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  std::string input = in;
  char* source = input.data();
  std::size_t left = input.size();
  char buffer[1024];
  bool ok = true;
  while (left > 0) {
    char* target = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t done = iconv(cd, &source, &left, &target, &room);
    out.append(buffer, static_cast<std::size_t>(target - buffer));
    if (done != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (errno == EILSEQ && replacement != 0) {
      // Skip one whole UTF-8 character of the input.
      out += replacement;
      std::size_t skip = 1;
      while (skip < left && (static_cast<unsigned char>(source[skip]) & 0xC0) == 0x80) ++skip;
      source += skip;
      left -= skip;
      continue;
    }
    ok = false;
    break;
  }
  iconv_close(cd);
  return ok;
}

std::string Folder(const std::string& path) {
  const std::size_t cut = path.rfind('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

std::string Reason() { return std::strerror(errno); }

bool WriteAll(int fd, const std::string& text, std::string& reason) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      reason = Reason();
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// Where a path leads: the last target of its chain of symbolic links, followed one link at a time
// as the system does, whether or not that target exists; and whether the chain passes through an
// alias of an open descriptor (/dev/stdout, /dev/fd/N, /proc/PID/fd/N), whose "link" names the
// file the descriptor was opened on.
struct ResolvedPath {
  std::string path;
  int stream = -1;     // this process's descriptor the path is an alias of, or -1
  bool alias = false;  // an alias of some process's descriptor
};

// The descriptor an absolute path whose folder holds no link names, or -1: /dev/stdin,
// /dev/stdout, /dev/stderr, /dev/fd/N, /proc/PID/fd/N, /proc/PID/task/TID/fd/N. `own` says
// whether PID is this process.
int DescriptorOf(const std::string& path, bool& own) {
  own = true;
  static const char* const kStreams[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
  for (int fd = 0; fd < 3; ++fd) {
    if (path == kStreams[fd]) return fd;
  }
  std::string digits;
  if (path.compare(0, 8, "/dev/fd/") == 0) {
    digits = path.substr(8);
  } else if (path.compare(0, 6, "/proc/") == 0) {
    const std::size_t fdPart = path.rfind("/fd/");
    if (fdPart == std::string::npos || fdPart < 6) return -1;
    const std::string process = path.substr(6, path.find('/', 6) - 6);
    own = process == "self" || process == "thread-self" || process == std::to_string(getpid());
    digits = path.substr(fdPart + 4);
  } else {
    return -1;
  }
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  return std::atoi(digits.c_str());
}

ResolvedPath Resolve(const std::string& path) {
  ResolvedPath resolved;
  std::string current = path;
  // The system's own limit on links in one lookup (MAXSYMLINKS); past it the path is left as it
  // stands, and opening it fails with ELOOP as it would.
  for (int hop = 0; hop < 40; ++hop) {
    const std::size_t cut = current.rfind('/');
    const std::string name = cut == std::string::npos ? current : current.substr(cut + 1);
    std::unique_ptr<char, void (*)(void*)> folder(realpath(Folder(current).c_str(), nullptr),
                                                  &std::free);
    if (folder) {
      bool own = true;
      const int fd = DescriptorOf(std::string(folder.get()) + "/" + name, own);
      if (fd >= 0) {
        // Not followed further: the system opens such a "link" as the descriptor's own file,
        // which its text (a path, or "pipe:[…]") need not name.
        resolved.alias = true;
        resolved.stream = own ? fd : -1;
        resolved.path = current;
        return resolved;
      }
    }
    struct stat status;
    if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
    std::string link(256, '\0');
    ssize_t length = 0;
    while ((length = readlink(current.c_str(), link.data(), link.size())) >= 0 &&
           static_cast<std::size_t>(length) == link.size()) {
      link.resize(link.size() * 2);
    }
    if (length < 0) break;
    link.resize(static_cast<std::size_t>(length));
    current =
        link.front() == '/' || cut == std::string::npos ? link : current.substr(0, cut + 1) + link;
  }
  resolved.path = current;
  return resolved;
}

// The temporary file being written, for the signal handler: a fixed buffer, since the handler
// may neither allocate nor wait for a lock.
char gTemporary[PATH_MAX];
std::atomic<bool> gTemporaryArmed{false};

void Arm(const std::string& temporary) {
  gTemporaryArmed.store(false);
  if (temporary.size() >= sizeof gTemporary) return;
  std::memcpy(gTemporary, temporary.c_str(), temporary.size() + 1);
  gTemporaryArmed.store(true);
}

void Disarm() { gTemporaryArmed.store(false); }

// The interruption note, for the handler likewise.
char gNote[2 * PATH_MAX + 512];
std::atomic<std::size_t> gNoteLength{0};

// A signal that ends the process while a file is written: the temporary file is removed, the
// note said, and the process then ends by the same signal, as it would have without the handler
// (the shell sees 128 + the signal). SIGKILL cannot be caught; its temporary file stays.
extern "C" void RemoveTemporaryAndEnd(int signal) {
  if (gTemporaryArmed.load()) unlink(gTemporary);
  const std::size_t note = gNoteLength.load();
  if (note > 0 && write(STDERR_FILENO, gNote, note) < 0) {
    // Nothing more a handler may do.
  }
  struct sigaction ending;
  std::memset(&ending, 0, sizeof ending);
  ending.sa_handler = SIG_DFL;
  sigemptyset(&ending.sa_mask);
  sigaction(signal, &ending, nullptr);
  raise(signal);  // delivered once the handler returns, the signal being blocked until then
}

// Installed at the first temporary file, for each of the signals whose default ends the process
// (one that was ignored when the process started, as nohup does with SIGHUP, stays ignored, and
// so do SIGPIPE and SIGXFSZ, which IgnoreWriteSignals set; a handler of a sanitizer's stays).
bool RemoveTemporaryOnSignals() {
  struct sigaction handler;
  std::memset(&handler, 0, sizeof handler);
  handler.sa_handler = RemoveTemporaryAndEnd;
  sigemptyset(&handler.sa_mask);
  const auto install = [&handler](int signal) {
    // Set, and put back when it replaced anything but the default: one call in the usual case.
    struct sigaction previous;
    if (sigaction(signal, &handler, &previous) == 0 && previous.sa_handler != SIG_DFL) {
      sigaction(signal, &previous, nullptr);
    }
  };
  for (const int signal : {SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                           SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT,
                           SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS}) {
    install(signal);
  }
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) install(signal);
  return true;
}

}  // namespace

std::string ExecutablePath() {
  // readlink neither reports the link's length nor terminates the text, so a result that fills
  // the buffer may have been cut: try again with twice the room.
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool GbkToUtf8(const std::string& gbk, std::string& utf8) {
  return Convert("UTF-8", "GBK", gbk, utf8, 0);
}

std::string Utf8ToGbk(const std::string& utf8) {
  std::string gbk;
  if (!Convert("GBK", "UTF-8", utf8, gbk, '?')) return std::string(utf8.size(), '?');
  return gbk;
}

namespace {

// Writes `text` into the file at `path` as it stands, opened with `flags` (truncated or appended
// to): for what cannot be replaced by a rename.
bool WriteInPlace(const std::string& path, int flags, const std::string& text, std::string& reason) {
  const int fd = open(path.c_str(), O_WRONLY | flags | O_CLOEXEC);
  if (fd < 0) {
    reason = Reason();
    return false;
  }
  const bool ok = WriteAll(fd, text, reason);
  if (close(fd) != 0 && ok) {
    reason = Reason();
    return false;
  }
  return ok;
}

// Creates the new file beside `target`, under a name no other run uses at once (this process's
// id) and none of its earlier files, the target's name cut short when the whole would pass the
// folder's limit on a name; armed for removal on a signal. Returns its descriptor, or -1.
int CreateTemporary(const std::string& target, mode_t mode, std::string& temporary) {
  static const bool cleanup = RemoveTemporaryOnSignals();
  (void)cleanup;
  const std::size_t cut = target.rfind('/');
  const std::string folder = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
  const std::string name = cut == std::string::npos ? target : target.substr(cut + 1);
  const long limit = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  const std::size_t longest = limit > 0 ? static_cast<std::size_t>(limit) : std::size_t{NAME_MAX};
  static unsigned serial = 0;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    const std::string suffix =
        "." + std::to_string(getpid()) + "." + std::to_string(++serial) + ".tmp";
    std::size_t kept = std::min(name.size(), longest - std::min(longest, suffix.size() + 1));
    // Not inside a UTF-8 character.
    while (kept > 0 && kept < name.size() &&
           (static_cast<unsigned char>(name[kept]) & 0xC0) == 0x80) {
      --kept;
    }
    temporary = folder + "." + name.substr(0, kept) + suffix;
    Arm(temporary);
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  return fd;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const std::string& text, std::string& reason) {
  const ResolvedPath resolved = Resolve(path);
  if (resolved.stream >= 0) {
    // An alias of one of this process's own descriptors (/dev/stdout, /proc/self/fd/1): the bytes
    // go after what the stream already holds, through the stream itself, and never replace the
    // file it was opened on (a log appended to, a report redirected to a file); a descriptor that
    // is closed, or open for reading only, fails (EBADF) instead of a file being made in /dev.
    // What the C library still buffers goes first.
    std::fflush(nullptr);
    return WriteAll(resolved.stream, text, reason);
  }
  const std::string& target = resolved.path;
  struct stat existing;
  const bool exists = stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    reason = std::strerror(EISDIR);
    return false;
  }
  // A device or a pipe: nothing to rename over, and the bytes go where they always went.
  if (exists && !S_ISREG(existing.st_mode)) return WriteInPlace(target, O_TRUNC, text, reason);
  // A regular file reached through another process's descriptor under /proc: appended to in
  // place like the stream it is, not replaced behind that process's back.
  if (resolved.alias && exists) return WriteInPlace(target, O_APPEND, text, reason);
  // A file marked read-only is kept, as writing into it in place would fail: renaming over it
  // needs only the folder's permission (and root passes every permission check).
  if (exists && ((existing.st_mode & 0222) == 0 ||
                 faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)) {
    reason = std::strerror(EACCES);
    return false;
  }

  // Created with the old file's permissions, or those a new file gets; the umask applies to
  // either.
  std::string temporary;
  const int fd = CreateTemporary(target, exists ? (existing.st_mode & 0777) : 0666, temporary);
  if (fd < 0) {
    reason = Reason();
    Disarm();
    return false;
  }
  bool ok = WriteAll(fd, text, reason);
  if (close(fd) != 0 && ok) {
    ok = false;
    reason = Reason();
  }
  if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
    ok = false;
    reason = Reason();
  }
  if (!ok) unlink(temporary.c_str());
  // After the rename: a signal before it still finds the temporary name to remove, and one after
  // it finds nothing under that name.
  Disarm();
  return ok;
}

void SetInterruptionNote(const std::string& note) {
  gNoteLength.store(0);
  if (note.size() > sizeof gNote) return;
  std::memcpy(gNote, note.data(), note.size());
  gNoteLength.store(note.size());
}

FileIdentity IdentifyFile(const std::string& path) {
  FileIdentity identity;
  struct stat status;
  // A link is followed to its last target even when that does not exist, so that a dangling
  // link and the file it will create are one file.
  const std::string target = Resolve(path).path;
  if (stat(target.c_str(), &status) == 0) {
    identity.exists = true;
    identity.device = static_cast<unsigned long long>(status.st_dev);
    identity.file = static_cast<unsigned long long>(status.st_ino);
    return identity;
  }
  const std::size_t cut = target.rfind('/');
  const std::string name = cut == std::string::npos ? target : target.substr(cut + 1);
  std::unique_ptr<char, void (*)(void*)> folder(realpath(Folder(target).c_str(), nullptr),
                                                &std::free);
  identity.path = (folder ? std::string(folder.get()) : Folder(target)) + "/" + name;
  return identity;
}

FileKind KindOfFile(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return FileKind::Missing;
  if (S_ISDIR(status.st_mode)) return FileKind::Folder;
  if (S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode)) return FileKind::Readable;
  return FileKind::Special;
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void IgnoreWriteSignals() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace Quorvane
