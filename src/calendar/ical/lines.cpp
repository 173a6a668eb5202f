#include "calendar/ical/lines.h"

#include <algorithm>
#include <cstring>

namespace quorvel::calendar::ical {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The first value of a list: up to the closing quote of a quoted value, else
// up to the first comma.
std::string_view firstValue(std::string_view values) {
  if (!values.empty() && values.front() == '"') {
    const std::size_t close = values.find('"', 1);
    return values.substr(1, (close == std::string_view::npos ? values.size() : close) - 1);
  }
  return values.substr(0, values.find(','));
}

// RFC 6868: ^n is a line feed, ^^ a caret and ^' a double quote; any other
// caret stays as it is.
std::string decoded(std::string_view value) {
  return undoEscapes(value, '^', {{'n', '\n'}, {'N', '\n'}, {'^', '^'}, {'\'', '"'}});
}

}  // namespace

std::string undoEscapes(std::string_view text, char escape,
                        std::initializer_list<std::pair<char, char>> meanings) {
  std::size_t i = text.find(escape);
  std::string out(text.substr(0, i));  // most texts have nothing to undo
  if (i == std::string_view::npos) return out;
  out.reserve(text.size());
  for (; i < text.size(); ++i) {
    if (text[i] == escape && i + 1 < text.size()) {
      const auto meaning = std::find_if(meanings.begin(), meanings.end(),
                                        [&](const auto& m) { return m.first == text[i + 1]; });
      if (meaning != meanings.end()) {
        out.push_back(meaning->second);
        ++i;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

bool ContentLine::hasParameter(std::string_view parameterName) const {
  for (const Parameter& p : parameters) {
    ++lookups;
    if (sameName(p.name, parameterName)) return true;
  }
  return false;
}

std::string ContentLine::parameter(std::string_view parameterName) const {
  for (const Parameter& p : parameters) {
    ++lookups;
    if (!sameName(p.name, parameterName)) continue;
    return decoded(firstValue(p.values));
  }
  return {};
}

std::size_t LineReader::lineBreak(std::size_t from) {
  // The first CR or LF: the next line feed, found with memchr and kept until
  // it is passed (a text of CR line ends has none to find again and again),
  // then a carriage return looked for only before it.
  if (!searched_ || nextFeed_ < from) {
    searched_ = true;
    const void* feed = std::memchr(text_.data() + from, '\n', text_.size() - from);
    nextFeed_ = feed != nullptr
                    ? static_cast<std::size_t>(static_cast<const char*>(feed) - text_.data())
                    : text_.size();
    work_ += nextFeed_ - from + 1;
  }
  const void* ret = std::memchr(text_.data() + from, '\r', nextFeed_ - from);
  const std::size_t at =
      ret != nullptr ? static_cast<std::size_t>(static_cast<const char*>(ret) - text_.data())
                     : nextFeed_;
  work_ += at - from + 1;
  return at;
}

std::size_t LineReader::pastBreak(std::size_t at) const {
  if (at < text_.size() && text_[at] == '\r') {
    ++at;
    if (at < text_.size() && text_[at] == '\n') ++at;
  } else if (at < text_.size()) {
    ++at;  // a line feed
  }
  return at;
}

bool LineReader::next(ContentLine& line) {
  const auto continues = [this](std::size_t at) {
    return at < text_.size() && (text_[at] == ' ' || text_[at] == '\t');
  };
  while (pos_ < text_.size()) {
    const std::size_t start = pos_;
    std::size_t end = lineBreak(start);
    std::size_t after = pastBreak(end);
    std::string_view unfolded = text_.substr(start, end - start);
    if (continues(after)) {
      unfolded_.assign(unfolded);
      while (continues(after)) {
        const std::size_t from = after + 1;
        end = lineBreak(from);
        after = pastBreak(end);
        unfolded_.append(text_.substr(from, end - from));
      }
      unfolded = unfolded_;
    }
    pos_ = after;
    if (first_) {
      first_ = false;
      if (unfolded.starts_with(kByteOrderMark)) unfolded.remove_prefix(kByteOrderMark.size());
    }
    if (unfolded.empty()) continue;
    split(unfolded, line);
    return true;
  }
  return false;
}

void LineReader::split(std::string_view text, ContentLine& line) {
  work_ += line.lookups;  // what was asked of the previous line
  line.lookups = 0;
  line.parameters.clear();
  line.value = {};
  line.hasValue = false;

  // Every scan goes through here, so that `work_` counts each byte looked at.
  std::size_t i = 0;
  const auto skipUntil = [&](auto stop) {
    const std::size_t from = i;
    while (i < text.size() && !stop(text[i])) ++i;
    work_ += i - from + 1;
  };
  const auto at = [&](char c) { return i < text.size() && text[i] == c; };
  const auto nameEnd = [](char c) { return c == ';' || c == ':'; };
  const auto parameterNameEnd = [](char c) { return c == '=' || c == ';' || c == ':'; };
  const auto valueEnd = [](char c) { return c == ',' || c == ';' || c == ':'; };
  const auto quote = [](char c) { return c == '"'; };

  skipUntil(nameEnd);
  line.name = text.substr(0, i);
  line.text = text;
  while (at(';')) {
    const std::size_t nameStart = ++i;
    skipUntil(parameterNameEnd);
    const std::string_view name = text.substr(nameStart, i - nameStart);
    if (!at('=')) {
      line.parameters.push_back({name, {}});  // a parameter without a value
      continue;
    }
    const std::size_t valuesStart = ++i;
    for (;;) {
      if (at('"')) {
        ++i;
        skipUntil(quote);
        if (!at('"')) return;  // an unclosed quote: no value to be had
        ++i;
      }
      skipUntil(valueEnd);
      if (!at(',')) break;
      ++i;
    }
    line.parameters.push_back({name, text.substr(valuesStart, i - valuesStart)});
  }
  if (at(':')) {
    line.value = text.substr(i + 1);
    line.hasValue = true;
  }
}

}  // namespace quorvel::calendar::ical
