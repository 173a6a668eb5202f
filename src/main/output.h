// Whole-buffer writes to the process's raw standard handles: no buffered
// stream between the tool and its host, and nothing added to what is written.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

namespace quorvel {

// Writes every byte of `bytes` to `fd`, going on after short writes and
// interrupted calls, and waiting whenever a non-blocking `fd` is full. Returns 0 when all was
// written, else the errno of the failed write.
int writeAll(int fd, std::string_view bytes);

// Fills any of descriptors 0, 1 and 2 that the process was started without
// with a read-only descriptor, so that no file the tool opens later takes
// their place: writing the document to a closed standard output must fail,
// not land in a calendar file or /dev/null.
void holdStandardDescriptors();

// Writes the `count` texts at `parts` one after the other to `fd`, in one
// write when there are a few, without allocating memory: the line that says
// memory ran out must still get out. Best effort: a failure to write a
// diagnostic has nowhere left to be reported.
void writeParts(int fd, const std::string_view* parts, std::size_t count);

// Writes the texts `parts` and a line feed to `fd` as one line.
template <typename... Parts>
void writeLine(int fd, const Parts&... parts) {
  const std::string_view line[] = {parts..., "\n"};
  writeParts(fd, line, std::size(line));
}

}  // namespace quorvel
