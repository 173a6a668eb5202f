#include "main/number.h"

#include <locale.h>
#include <clocale>
#include <cstdlib>
#include <cstring>
#if __has_include(<xlocale.h>)
#include <xlocale.h>  // strtod_l on macOS
#endif

namespace quorvel {
namespace {

// strtod_l with a locale object of its own, rather than strtod, so that a
// decimal comma in the environment's locale can never change what parses.
locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

bool isForbiddenFirstByte(unsigned char byte) {
  switch (byte) {
    case '\0':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case ' ':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<double> parseTime(const std::string& text) {
  if (text.empty() || isForbiddenFirstByte(static_cast<unsigned char>(text.front()))) {
    return std::nullopt;
  }
  // A NUL inside the text would end the C string early and leave bytes unread.
  if (std::strlen(text.c_str()) != text.size()) return std::nullopt;

  const char* begin = text.c_str();
  char* stop = nullptr;
  const double value = strtod_l(begin, &stop, cLocale());
  if (stop == begin || stop != begin + text.size()) return std::nullopt;
  return value;
}

}  // namespace quorvel
