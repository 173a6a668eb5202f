#include "main/output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace quorvel {

namespace {

// Writes every byte the `count` buffers at `parts` hold, in order, going on
// after short writes and interrupted calls, and waiting whenever a
// non-blocking `fd` is full. Returns 0 when all was written, else the errno
// of the failed write. Changes the buffers' descriptions as it goes.
int writeAllOf(int fd, iovec* parts, int count) {
  while (count > 0) {
    if (parts->iov_len == 0) {
      ++parts;
      --count;
      continue;
    }
    const ssize_t written = ::writev(fd, parts, count);
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
    for (auto left = static_cast<std::size_t>(written); left > 0;) {
      const std::size_t taken = std::min(left, parts->iov_len);
      parts->iov_base = static_cast<char*>(parts->iov_base) + taken;
      parts->iov_len -= taken;
      left -= taken;
      if (parts->iov_len == 0) {
        ++parts;
        --count;
      }
    }
  }
  return 0;
}

iovec bufferOf(std::string_view bytes) { return {const_cast<char*>(bytes.data()), bytes.size()}; }

}  // namespace

int writeAll(int fd, std::string_view bytes) {
  iovec whole = bufferOf(bytes);
  return writeAllOf(fd, &whole, 1);
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

void writeParts(int fd, const std::string_view* parts, std::size_t count) {
  // A line has a few parts: they go in one write, a longer list in a few.
  constexpr std::size_t kPerWrite = 8;
  std::array<iovec, kPerWrite> buffers{};
  for (std::size_t done = 0; done < count;) {
    const std::size_t now = std::min(count - done, kPerWrite);
    std::transform(parts + done, parts + done + now, buffers.begin(), bufferOf);
    if (writeAllOf(fd, buffers.data(), static_cast<int>(now)) != 0) return;
    done += now;
  }
}

}  // namespace quorvel
