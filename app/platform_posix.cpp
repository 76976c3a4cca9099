// Linux: /proc/self/exe, iconv for GBK, rename(2) for whole-file replacement, stat for identity.
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/platform.h"

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

bool ReplaceFileContents(const std::string& path, const std::string& text, std::string& reason) {
  std::string target = path;
  struct stat existing;
  bool exists = lstat(path.c_str(), &existing) == 0;
  if (exists && S_ISLNK(existing.st_mode)) {
    std::unique_ptr<char, void (*)(void*)> resolved(realpath(path.c_str(), nullptr), &std::free);
    if (resolved) target = resolved.get();
    exists = stat(target.c_str(), &existing) == 0;
  }
  if (exists && S_ISDIR(existing.st_mode)) {
    reason = std::strerror(EISDIR);
    return false;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    // A device or a pipe: nothing to rename over, and the bytes go where they always went.
    const int fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
      reason = Reason();
      return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        reason = Reason();
        close(fd);
        return false;
      }
      done += static_cast<std::size_t>(wrote);
    }
    if (close(fd) != 0) {
      reason = Reason();
      return false;
    }
    return true;
  }

  // The new file beside the target, under a name no other run uses at once (this process's id)
  // and none of its earlier files. Created with the old file's permissions, or those a new file
  // gets; the umask applies to either.
  const std::size_t cut = target.rfind('/');
  const std::string folder = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
  const std::string name = cut == std::string::npos ? target : target.substr(cut + 1);
  const mode_t mode = exists ? (existing.st_mode & 0777) : 0666;
  static unsigned serial = 0;
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = folder + "." + name + "." + std::to_string(getpid()) + "." +
                std::to_string(++serial) + ".tmp";
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    reason = Reason();
    return false;
  }
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    ok = wrote > 0;
    if (ok) done += static_cast<std::size_t>(wrote);
  }
  if (!ok) reason = Reason();
  if (close(fd) != 0 && ok) {
    ok = false;
    reason = Reason();
  }
  if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
    ok = false;
    reason = Reason();
  }
  if (!ok) unlink(temporary.c_str());
  return ok;
}

FileIdentity IdentifyFile(const std::string& path) {
  FileIdentity identity;
  struct stat status;
  if (stat(path.c_str(), &status) == 0) {
    identity.exists = true;
    identity.device = static_cast<unsigned long long>(status.st_dev);
    identity.file = static_cast<unsigned long long>(status.st_ino);
    return identity;
  }
  const std::size_t cut = path.rfind('/');
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  std::unique_ptr<char, void (*)(void*)> folder(realpath(Folder(path).c_str(), nullptr),
                                                &std::free);
  identity.path = (folder ? std::string(folder.get()) : Folder(path)) + "/" + name;
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
