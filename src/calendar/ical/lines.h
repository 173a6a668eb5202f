// Content lines of iCalendar text (RFC 5545, 3.1 and 3.2), read in one pass
// over the bytes, whatever their shape: every byte is looked at a bounded
// number of times, so long lines, many parameters and many lines all cost
// time and memory in proportion to the text.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::calendar::ical {

// A parameter as written: its name, and its value or values (several are
// separated by commas; a quoted one keeps its quotes here).
struct Parameter {
  std::string_view name;
  std::string_view values;
};

// One unfolded content line: NAME *(";" param) ":" value. The views point
// into the text or into the reader's own buffer, and last until the next line
// is read.
struct ContentLine {
  std::string_view text;  // the whole line
  std::string_view name;
  std::vector<Parameter> parameters;
  std::string_view value;
  // False for a line without its ':' (or with an unclosed quote): it has a
  // name, and nothing else can be trusted.
  bool hasValue = false;

  // The first value of the named parameter, unquoted and with RFC 6868's
  // ^n, ^^ and ^' decoded; empty when the line doesn't have it.
  std::string parameter(std::string_view parameterName) const;
  bool hasParameter(std::string_view parameterName) const;

  // Parameters compared by the two lookups above, for the reader's count of
  // its work.
  mutable std::size_t lookups = 0;
};

// Reads the content lines of a text one after another. Line ends may be CRLF,
// LF or CR alone; a line end followed by a space or a tab continues the line
// (a fold may fall anywhere, even inside a name or a UTF-8 sequence); blank
// lines are passed over, and a UTF-8 byte-order mark at the start is dropped.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  // The next line into `line`; false at the end of the text.
  bool next(ContentLine& line);

  // Bytes examined and parameters compared so far, the lines' lookups
  // included: grows with the text alone.
  std::size_t work() const { return work_; }

 private:
  std::size_t lineBreak(std::size_t from);
  std::size_t pastBreak(std::size_t at) const;
  void split(std::string_view text, ContentLine& line);

  std::string_view text_;
  std::size_t pos_ = 0;
  // Where the next line feed at or after the last search is (the text's
  // size when there is none); searched again only once passed.
  std::size_t nextFeed_ = 0;
  bool searched_ = false;
  bool first_ = true;
  std::string unfolded_;
  std::size_t work_ = 0;
};

// `text` with each pair of `escape` and a character that `meanings` names
// replaced by what it means; any other byte, the escape included, is kept.
std::string undoEscapes(std::string_view text, char escape,
                        std::initializer_list<std::pair<char, char>> meanings);

// Whether `a` and `b` are the same name (ASCII letters in any case). Inline:
// the reader asks it of every line, several times.
inline bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto upper = [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

}  // namespace quorvel::calendar::ical
