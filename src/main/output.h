// Whole-buffer writes to the process's raw standard handles: no buffered
// stream between the tool and its host, and nothing added to what is written.
#pragma once

#include <string_view>

namespace quorvel {

// Writes every byte of `bytes` to `fd`, going on after short writes and
// interrupted calls. Returns 0 when all was written, else the errno of the
// failed write.
int writeAll(int fd, std::string_view bytes);

// Writes `text` followed by a line feed to `fd` in one write. Diagnostics are
// best effort: a failure to write one has nowhere left to be reported.
void writeLine(int fd, std::string_view text);

}  // namespace quorvel
