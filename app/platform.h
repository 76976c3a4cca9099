// What the program needs from the operating system: its own executable's path.
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

}  // namespace Quorvane
