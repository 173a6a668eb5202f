// Fuzzes the command-line time syntax: a text is accepted exactly when it
// is not empty, doesn't start with white space or NUL, and strtod in the C
// locale reads all of it; an accepted text gives strtod's value. Never crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "main/number.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<double> parsed = quorvel::parseTime(text);

  // The fuzzer never changes the process locale: strtod here reads as "C".
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  const bool wholeText =
      std::strlen(text.c_str()) == size && end != text.c_str() && end == text.c_str() + size;
  const bool allowedStart =
      size > 0 && std::strchr("\t\n\v\f\r ", text[0]) == nullptr && text[0] != '\0';
  if (parsed.has_value() != (wholeText && allowedStart)) std::abort();
  if (parsed && !(*parsed == value || (*parsed != *parsed && value != value))) std::abort();
  return 0;
}
