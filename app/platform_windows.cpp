// Windows: the executable's path from GetModuleFileNameA. Kept apart from the rest of the program
// so that <windows.h> and its macros (ERROR among them) reach no other source.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <string>

#include "app/platform.h"

namespace Quorvane {

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

}  // namespace Quorvane
