// What the program needs from the operating system: its own executable's path, the GBK code
// page, files replaced whole, file identity, and the terminal and broken pipes.
#pragma once

#include <string>

namespace Quorvane {

/// How a platform separates directories in a path.
enum class PathStyle {
  Posix,    // '/'
  Windows,  // '\' (only the backslash counts, as the platform's own path functions report it)
};

#ifdef _WIN32
constexpr PathStyle kNativePathStyle = PathStyle::Windows;
#else
constexpr PathStyle kNativePathStyle = PathStyle::Posix;
#endif

/// Full path of the running executable, never cut short: on Linux the target of
/// /proc/self/exe, on Windows GetModuleFileNameA for the executable module, each read into a
/// buffer that grows until the whole path fits. Empty when the system cannot tell.
std::string ExecutablePath();

#ifdef _WIN32
/// Folder of the running executable, without the final backslash, as UTF-8: the encoding PROJ
/// takes file names in on Windows. Read through GetModuleFileNameW, so that a folder name outside
/// the ANSI code page (ExecutablePath's) survives. Empty when the system cannot tell.
std::string ExecutableFolderUtf8();
#endif

/// `gbk` (code page 936 bytes) as UTF-8: iconv on Linux, MultiByteToWideChar on Windows. False
/// when the bytes are not GBK text.
bool GbkToUtf8(const std::string& gbk, std::string& utf8);

/// Valid UTF-8 `utf8` as GBK bytes; a character GBK lacks becomes "?".
std::string Utf8ToGbk(const std::string& utf8);

/// Writes `text` to `path` so that a reader sees the old file or the new one, never a part: into
/// a new file beside the target, renamed over it only when complete (rename on Linux, MoveFileEx
/// on Windows), its name cut short where it would pass the file system's limit on a name. A
/// symbolic link is followed to its last target, existing or not, so the file it points to is
/// replaced or made and the link stays. A target that exists and is no regular file (a device, a
/// pipe) is written in place, since renaming over it would replace the device; an alias of one
/// of this process's descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N) is written through
/// that descriptor, after what its stream holds, whatever file it was opened on; a regular file
/// behind another process's descriptor (/proc/PID/fd/N) is appended to. A target marked
/// read-only (no write permission for anyone, or none for this user) is refused like one that
/// cannot be opened. On failure the old file is left as it was, the temporary one removed, and
/// `reason` says why (the system's text). A run ended by any signal that ends a process (SIGINT,
/// SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, …; Ctrl+C or a closed console on Windows) while
/// the temporary file exists removes it first, and writes the interruption note, if one is set;
/// SIGKILL cannot.
bool ReplaceFileContents(const std::string& path, const std::string& text, std::string& reason);

/// The line a run ended by a signal writes on standard error while it writes its files, saying
/// which were replaced and which were left as they were (`note` whole, ending in a line end);
/// "" for none. Kept until it is set again.
void SetInterruptionNote(const std::string& note);

/// Which file a path names, to tell two paths for the same file: for an existing file its device
/// and file number (inode, or volume serial and file index); otherwise its folder's canonical path
/// and its name, compared as text. On Linux a symbolic link is followed to its last target even
/// when that does not exist yet, so a dangling link and the file it would make are one file.
struct FileIdentity {
  bool exists = false;
  unsigned long long device = 0;
  unsigned long long file = 0;
  std::string path;  // when it does not exist

  bool operator==(const FileIdentity& other) const {
    return exists == other.exists &&
           (exists ? device == other.device && file == other.file : path == other.path);
  }
};
FileIdentity IdentifyFile(const std::string& path);

/// What kind of file `path` names, for reading: a regular file or a pipe may be read, anything
/// else (a folder, a device such as /dev/zero) not.
enum class FileKind { Missing, Readable, Folder, Special };
FileKind KindOfFile(const std::string& path);

/// Whether standard error is a terminal, where progress lines may be shown and erased.
bool StandardErrorIsTerminal();

/// Lets writes to a closed pipe or past the file size limit fail with an error instead of ending
/// the process (SIGPIPE and SIGXFSZ on Linux; Windows has neither signal).
void IgnoreWriteSignals();

}  // namespace Quorvane
