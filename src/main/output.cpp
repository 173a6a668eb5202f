#include "main/output.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace quorvel {

int writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // A non-blocking descriptor whose reader is slow: wait until it
        // takes more. Only a real error ends the write.
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return errno;
        continue;
      }
      return errno;
    }
    // A regular write never reports 0 bytes for a non-empty buffer; treat it
    // as a device that takes nothing rather than loop forever.
    if (written == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

void holdStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // open() takes the lowest free descriptor: this one.
      const int held = ::open("/dev/null", O_RDONLY);
      if (held >= 0 && held != fd) ::close(held);
    }
  }
}

void writeLine(int fd, std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text).push_back('\n');
  writeAll(fd, line);
}

}  // namespace quorvel
