// Linux: the executable's path is the target of the /proc/self/exe link.
#include <unistd.h>

#include <string>

#include "app/platform.h"

namespace Quorvane {

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

}  // namespace Quorvane
