// Windows: GetModuleFileNameA, the GBK code page 936 through the system's converters, MoveFileEx
// for whole-file replacement (its temporary file deleted on Ctrl+C), file identity from
// GetFileInformationByHandle. Kept apart from the rest of the program so that <windows.h> and
// its macros (ERROR among them) reach no other source.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <string>

#include "app/platform/platform.h"

namespace Quorvane {

namespace {

constexpr UINT kGbk = 936;

std::string SystemReason(DWORD code) {
  char text[512];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  std::string reason(text, length);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  return reason.empty() ? "error " + std::to_string(code) : reason;
}

bool ToWide(UINT codePage, DWORD flags, const std::string& in, std::wstring& out) {
  if (in.empty()) {
    out.clear();
    return true;
  }
  const int length = MultiByteToWideChar(codePage, flags, in.data(), static_cast<int>(in.size()),
                                         nullptr, 0);
  if (length <= 0) return false;
  out.assign(static_cast<std::size_t>(length), L'\0');
  return MultiByteToWideChar(codePage, flags, in.data(), static_cast<int>(in.size()), &out[0],
                             length) == length;
}

std::string FromWide(UINT codePage, const std::wstring& in) {
  if (in.empty()) return std::string();
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  const int length = WideCharToMultiByte(codePage, 0, in.data(), static_cast<int>(in.size()),
                                         nullptr, 0, fallback, nullptr);
  std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(codePage, 0, in.data(), static_cast<int>(in.size()), &out[0], length,
                        fallback, nullptr);
  }
  return out;
}

// A path for the wide file functions: the ANSI bytes as the system reads them, and, when long
// enough to meet MAX_PATH (a temporary name adds some twenty characters), the full path with the
// "\\?\" prefix that lifts that limit.
std::wstring WidePath(const std::string& path) {
  std::wstring wide;
  if (!ToWide(CP_ACP, 0, path, wide)) return std::wstring();
  if (wide.size() < MAX_PATH - 40 || wide.compare(0, 4, L"\\\\?\\") == 0) return wide;
  const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (length == 0) return wide;
  std::wstring full(length, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), length, &full[0], nullptr);
  if (written == 0 || written >= length) return wide;
  full.resize(written);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The temporary file being written, for the console's control handler, which runs on a thread
// of its own: a fixed buffer (the longest path the wide functions take, and the suffix).
wchar_t gTemporary[32768 + 64];
std::atomic<bool> gTemporaryArmed{false};

void Arm(const std::wstring& temporary) {
  gTemporaryArmed.store(false);
  if (temporary.size() >= sizeof gTemporary / sizeof gTemporary[0]) return;
  std::copy(temporary.begin(), temporary.end(), gTemporary);
  gTemporary[temporary.size()] = L'\0';
  gTemporaryArmed.store(true);
}

// The interruption note, for the handler likewise.
char gNote[2 * 32768 + 512];
std::atomic<std::size_t> gNoteLength{0};

// Ctrl+C, Ctrl+Break or the console closed while a file is written: the temporary file is
// deleted (it was opened sharing deletion, so it goes when the process's handle closes), the
// note said, and the default handler then ends the process. TerminateProcess cannot be caught;
// its file stays.
BOOL WINAPI RemoveTemporaryOnBreak(DWORD) {
  if (gTemporaryArmed.load()) DeleteFileW(gTemporary);
  const std::size_t note = gNoteLength.load();
  DWORD written = 0;
  if (note > 0) {
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), gNote, static_cast<DWORD>(note), &written, nullptr);
  }
  return FALSE;
}

}  // namespace

void SetInterruptionNote(const std::string& note) {
  gNoteLength.store(0);
  if (note.size() > sizeof gNote) return;
  std::copy(note.begin(), note.end(), gNote);
  gNoteLength.store(note.size());
}

std::string ExecutablePath() {
  // A path that does not fit comes back cut short with the whole buffer used (and, since Vista,
  // ERROR_INSUFFICIENT_BUFFER): try again with twice the room. Long paths reach 32767 characters.
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameA(nullptr, &buffer[0], size);
    if (length == 0) return std::string();
    if (length < size) {
      buffer.resize(length);
      return buffer;
    }
    if (buffer.size() > 65536) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

std::string ExecutableFolderUtf8() {
  // As ExecutablePath, in UTF-16.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], size);
    if (length == 0) return std::string();
    if (length < size) {
      buffer.resize(length);
      break;
    }
    if (buffer.size() > 65536) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  const std::size_t folderEnd = buffer.rfind(L'\\');
  if (folderEnd == std::wstring::npos) return std::string();
  return FromWide(CP_UTF8, buffer.substr(0, folderEnd));
}

bool GbkToUtf8(const std::string& gbk, std::string& utf8) {
  std::wstring wide;
  if (!ToWide(kGbk, MB_ERR_INVALID_CHARS, gbk, wide)) return false;
  utf8 = FromWide(CP_UTF8, wide);
  return true;
}

std::string Utf8ToGbk(const std::string& utf8) {
  std::wstring wide;
  if (!ToWide(CP_UTF8, 0, utf8, wide)) return std::string(utf8.size(), '?');
  return FromWide(kGbk, wide);
}

bool ReplaceFileContents(const std::string& path, const std::string& text, std::string& reason) {
  const std::wstring target = WidePath(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    reason = SystemReason(ERROR_DIRECTORY);
    return false;
  }
  // A file marked read-only is kept, as writing into it in place would fail.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    reason = SystemReason(ERROR_ACCESS_DENIED);
    return false;
  }
  static const bool cleanup = SetConsoleCtrlHandler(RemoveTemporaryOnBreak, TRUE) != 0;
  (void)cleanup;
  static unsigned counter = 0;
  const std::wstring suffix = L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
  // The target's name cut short where name and suffix would pass the 255 UTF-16 units a name may
  // have (NTFS, exFAT, FAT's long names), never between the halves of a surrogate pair.
  constexpr std::size_t kLongestName = 255;
  const std::size_t cut = target.find_last_of(L"\\/");
  const std::size_t nameStart = cut == std::wstring::npos ? 0 : cut + 1;
  std::size_t kept = target.size() - nameStart;
  if (kept + suffix.size() > kLongestName) {
    kept = kLongestName - suffix.size();
    if (kept > 0 && target[nameStart + kept - 1] >= 0xD800 &&
        target[nameStart + kept - 1] <= 0xDBFF) {
      --kept;
    }
  }
  const std::wstring temporary = target.substr(0, nameStart + kept) + suffix;
  Arm(temporary);
  const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = SystemReason(GetLastError());
    gTemporaryArmed.store(false);
    return false;
  }
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 30));
    ok = WriteFile(file, text.data() + done, chunk, &wrote, nullptr) && wrote > 0;
    done += wrote;
  }
  if (!ok) reason = SystemReason(GetLastError());
  if (!CloseHandle(file) && ok) {
    ok = false;
    reason = SystemReason(GetLastError());
  }
  if (ok && !MoveFileExW(temporary.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    reason = SystemReason(GetLastError());
  }
  if (!ok) DeleteFileW(temporary.c_str());
  gTemporaryArmed.store(false);
  return ok;
}

FileIdentity IdentifyFile(const std::string& path) {
  FileIdentity identity;
  const HANDLE file =
      CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(file, &information) != 0;
    CloseHandle(file);
    if (known) {
      identity.exists = true;
      identity.device = information.dwVolumeSerialNumber;
      identity.file = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
                      information.nFileIndexLow;
      return identity;
    }
  }
  char full[4096];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  identity.path = length > 0 && length < sizeof full ? std::string(full, length) : path;
  // Windows compares names without regard to case.
  for (char& c : identity.path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return identity;
}

FileKind KindOfFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::Special;
  return FileKind::Readable;
}

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void IgnoreWriteSignals() {}

}  // namespace Quorvane
