#include "calendar/linux/vdir/config.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <variant>

#include <nlohmann/json.hpp>

#include "calendar/ical/file.h"
#include "calendar/ical/problem.h"
#include "calendar/linux/source/settings.h"

namespace quorvel::calendar::linuxstore::vdir {
namespace fs = std::filesystem;
using ical::failIncomplete;
using ical::isResourceError;
using ical::lineAbout;
using Json = nlohmann::json;
using Say = std::function<void(std::string)>;
namespace {

// Folders one configuration may lead to, counting those a discover glob
// walks through: far more than anyone keeps calendars in, and a bound on a
// glob like `~/**`.
constexpr std::size_t kMaxFolders = 10000;

constexpr const char* kSpaces = " \t\v\f\r\n";

bool isSpace(char c) { return std::strchr(kSpaces, c) != nullptr && c != '\0'; }

std::string_view trimLeft(std::string_view text) {
  const std::size_t start = text.find_first_not_of(kSpaces);
  return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

std::string_view trim(std::string_view text) {
  text = trimLeft(text);
  return text.substr(0, text.find_last_not_of(kSpaces) + 1);
}

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string atLine(std::size_t number, std::string_view what) {
  return "line " + std::to_string(number) + " " + std::string(what);
}

// The lines of `text`, which end at LF, CRLF or a lone CR.
std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    lines.push_back(text.substr(0, end));
    std::size_t next = end;
    if (next < text.size()) next += text.substr(end, 2) == "\r\n" ? 2 : 1;
    text.remove_prefix(next);
  }
  return lines;
}

// Whether anything is at `path` (following links), as Python's
// os.path.exists tells.
bool somethingAt(const fs::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) return true;
  if (isResourceError(errno)) failIncomplete(path.string(), errno);
  return false;
}

// The text of the configuration file at `path`, a byte-order mark dropped
// (Python reads it so); nothing, with a line, when it can't be read or
// isn't text.
std::optional<std::string> readConfig(const fs::path& path, const Say& say) {
  ical::ReadBuffer buffer;
  bool absent = false;
  std::optional<std::string_view> text = readSettingsFile(path.string(), buffer, say, &absent);
  if (!text) {
    if (absent) say(lineAbout(path.string(), std::strerror(ENOENT)));
    return std::nullopt;
  }
  if (text->starts_with("\xEF\xBB\xBF")) text->remove_prefix(3);
  return std::string(*text);
}

std::string tooMany() {
  return "the configuration leads through more than " + std::to_string(kMaxFolders) + " folders";
}

// ---- Paths ----

// The home folder of the user `user`, from the user database; nothing when
// there is no such user.
std::optional<std::string> homeOf(const std::string& user) {
  std::vector<char> buffer(1024);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    const int error = ::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (std::size_t{1} << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error == ENOMEM || error == EMFILE || error == ENFILE) failIncomplete("~" + user, error);
    if (error != 0 || found == nullptr || found->pw_dir == nullptr) return std::nullopt;
    return std::string(found->pw_dir);
  }
}

// `path` with a leading `~` (the user's `home`) or `~user` replaced by that
// home folder, as Python's os.path.expanduser does; left as written when
// there is no home or no such user.
std::string expandUser(const std::string& path, const fs::path& home) {
  if (!path.starts_with('~')) return path;
  const std::size_t slash = std::min(path.find('/', 1), path.size());
  std::string folder;
  if (slash == 1) {
    if (home.empty()) return path;
    folder = home.string();
  } else {
    const std::optional<std::string> found = homeOf(path.substr(1, slash - 1));
    if (!found) return path;
    folder = *found;
  }
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  folder += path.substr(slash);
  return folder.empty() ? "/" : folder;
}

bool isWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// `text` with each `$name` (letters, digits, underscores) and `${name}`
// replaced by the variable's value, as Python's os.path.expandvars does: an
// unset variable is left as written, and a value is not expanded again.
std::string expandVariables(std::string_view text, const Variable& variable) {
  std::string expanded;
  std::size_t done = 0;
  for (std::size_t dollar; (dollar = text.find('$', done)) != std::string_view::npos;) {
    expanded += text.substr(done, dollar - done);
    std::size_t end = dollar + 1;
    std::string_view name;
    if (end < text.size() && text[end] == '{') {
      const std::size_t close = text.find('}', end);
      if (close != std::string_view::npos) {
        name = text.substr(end + 1, close - end - 1);
        end = close + 1;
      }
    } else {
      while (end < text.size() && isWordCharacter(text[end])) ++end;
      name = text.substr(dollar + 1, end - dollar - 1);
    }
    if (end == dollar + 1) {  // no name follows: a plain `$`
      expanded += '$';
      done = end;
      continue;
    }
    const std::optional<std::string> value = name.empty() ? std::nullopt : variable(name);
    expanded += value ? std::string_view(*value) : text.substr(dollar, end - dollar);
    done = end;
  }
  expanded += text.substr(done);
  return expanded;
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// ---- Folders ----

struct DirCloser {
  void operator()(DIR* listing) const { ::closedir(listing); }
};

// The names of the folders (or links to one) directly in `path`, sorted;
// names starting with a dot only when `hidden`. Returns the error that kept
// it from being listed (0 for none); throws when the system lacked a
// resource.
int listFolders(const std::string& path, bool hidden, std::vector<std::string>& names) {
  names.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (isResourceError(errno)) failIncomplete(path, errno);
    return errno;
  }
  const std::unique_ptr<DIR, DirCloser> listing(::fdopendir(fd));
  if (!listing) {
    const int error = errno;
    ::close(fd);
    if (isResourceError(error)) failIncomplete(path, error);
    return error;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (entry == nullptr) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || (name.starts_with('.') && !hidden)) continue;
    bool folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat status {};
      if (::fstatat(fd, entry->d_name, &status, 0) == 0) {
        folder = S_ISDIR(status.st_mode);
      } else if (isResourceError(errno)) {
        failIncomplete(path + "/" + entry->d_name, errno);
      }
    }
    if (folder) names.emplace_back(name);
  }
  if (errno != 0) {
    const int error = errno;
    if (isResourceError(error)) failIncomplete(path, error);
    return error;
  }
  std::sort(names.begin(), names.end());
  return 0;
}

// The folders found from one configuration: each (by device and inode)
// once, in the order found; and what may still be walked through to find
// them.
struct Found {
  std::set<std::pair<dev_t, ino_t>> seen;
  std::vector<fs::path> folders;
  std::size_t budget = kMaxFolders;

  // Whether `count` more folders may be walked through.
  bool spend(std::size_t count) {
    if (count > budget) {
      budget = 0;
      return false;
    }
    budget -= count;
    return true;
  }

  // Adds the folder at `path`. Nothing is there: nothing, silently; there
  // is something else, or it can't be looked at: a line, when `say` is
  // given.
  void add(const std::string& path, const Say* say) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
      if (isResourceError(errno)) failIncomplete(path, errno);
      if (say != nullptr && errno != ENOENT && errno != ENOTDIR) {
        (*say)(lineAbout(path, std::strerror(errno)));
      }
      return;
    }
    if (!S_ISDIR(status.st_mode)) {
      if (say != nullptr) (*say)(lineAbout(path, "not a folder"));
      return;
    }
    if (seen.emplace(status.st_dev, status.st_ino).second) folders.emplace_back(path);
  }
};

// ---- Globs, as khal's discover uses them ----

// A name or pattern as the code points Python reads it as: UTF-8, each byte
// of no valid sequence a code point of its own (U+DC80..U+DCFF).
std::u32string codePoints(std::string_view text) {
  std::u32string points;
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                                                             : 0;
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = length > 0 && at + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[at + k]);
      valid = (next & 0xC0) == 0x80;
      point = point << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and points past U+10FFFF aren't UTF-8.
    if (length == 3 && (point < 0x800 || (point >= 0xD800 && point < 0xE000))) valid = false;
    if (length == 4 && (point < 0x10000 || point > 0x10FFFF)) valid = false;
    points.push_back(valid ? point : char32_t{0xDC00} + lead);
    at += valid ? length : 1;
  }
  return points;
}

// One component of a glob, as Python's fnmatch reads it: `*` any run of
// characters, `?` any one, `[…]` one of a set (`[!…]` one not in it, with
// `a-z` ranges); any other character, and a `[` never closed, stands for
// itself.
class NamePattern {
 public:
  explicit NamePattern(std::string_view pattern) {
    const std::u32string points = codePoints(pattern);
    for (std::size_t at = 0; at < points.size(); ++at) {
      const char32_t c = points[at];
      if (c == U'*') {
        if (tokens_.empty() || tokens_.back().kind != Token::kStar)
          tokens_.push_back({Token::kStar, false, {}});
        continue;
      }
      if (c == U'?') {
        tokens_.push_back({Token::kAny, false, {}});
        continue;
      }
      std::size_t close = at + 1;
      if (c == U'[') {
        if (close < points.size() && points[close] == U'!') ++close;
        if (close < points.size() && points[close] == U']') ++close;
        while (close < points.size() && points[close] != U']') ++close;
      }
      if (c != U'[' || close >= points.size()) {
        tokens_.push_back({Token::kSet, false, std::u32string{c, c}});
        continue;
      }
      Token set{Token::kSet, false, {}};
      std::size_t from = at + 1;
      if (points[from] == U'!') {
        set.negated = true;
        ++from;
      }
      for (std::size_t k = from; k < close;) {
        const bool range = k + 2 < close && points[k + 1] == U'-';
        set.ranges += points[k];
        set.ranges += points[range ? k + 2 : k];
        k += range ? 3 : 1;
      }
      tokens_.push_back(std::move(set));
      at = close;
    }
  }

  bool matches(std::string_view name) const {
    const std::u32string points = codePoints(name);
    // The usual walk: on a mismatch, let the last `*` take one more.
    std::size_t token = 0, at = 0, star = std::string::npos, starAt = 0;
    while (at < points.size()) {
      if (token < tokens_.size() && tokens_[token].kind == Token::kStar) {
        star = token++;
        starAt = at;
      } else if (token < tokens_.size() && tokens_[token].accepts(points[at])) {
        ++token;
        ++at;
      } else if (star != std::string::npos) {
        token = star + 1;
        at = ++starAt;
      } else {
        return false;
      }
    }
    while (token < tokens_.size() && tokens_[token].kind == Token::kStar) ++token;
    return token == tokens_.size();
  }

 private:
  struct Token {
    enum Kind { kStar, kAny, kSet } kind;
    bool negated = false;
    std::u32string ranges;  // pairs of first and last

    bool accepts(char32_t c) const {
      if (kind == kAny) return true;
      bool in = false;
      for (std::size_t k = 0; k + 1 < ranges.size() && !in; k += 2) {
        in = ranges[k] <= c && c <= ranges[k + 1];
      }
      return in != negated;
    }
  };
  std::vector<Token> tokens_;
};

std::string joined(const std::string& folder, std::string_view name) {
  return folder == "/" ? "/" + std::string(name) : folder + "/" + std::string(name);
}

std::string parentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// Adds `folder`, when it is one, and every folder below it whose name
// doesn't start with a dot, each reached once: what `**` matches. False
// when that would walk past `found`'s budget.
bool addAllBelow(const std::string& folder, std::vector<std::string>& paths, Found& found) {
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0) {
    if (isResourceError(errno)) failIncomplete(folder, errno);
    return true;
  }
  if (!S_ISDIR(status.st_mode)) return true;
  std::set<std::pair<dev_t, ino_t>> reached = {{status.st_dev, status.st_ino}};
  std::vector<std::string> pending = {folder}, names;
  paths.push_back(folder);
  while (!pending.empty()) {
    const std::string current = std::move(pending.back());
    pending.pop_back();
    listFolders(current, false, names);
    if (!found.spend(names.size())) return false;
    for (const std::string& name : names) {
      std::string child = joined(current, name);
      if (::stat(child.c_str(), &status) != 0) {
        if (isResourceError(errno)) failIncomplete(child, errno);
        continue;
      }
      if (!reached.emplace(status.st_dev, status.st_ino).second) continue;  // a link back
      paths.push_back(child);
      pending.push_back(std::move(child));
    }
  }
  return true;
}

// The folders khal discovers for the glob `pattern` (absolute): those
// Python's glob.glob(pattern + "/", recursive=True) finds — folders, or
// links to one, whose names start with a dot only where the pattern's
// components do, a `**` component standing for any depth of folders (none
// included) — less each that is a match's parent (khal keeps only the
// innermost folders, the vdirs), sorted. Nothing when the walk would go past
// `found`'s budget.
std::optional<std::vector<std::string>> discover(std::string_view pattern, Found& found) {
  std::vector<std::string> paths = {"/"}, next, names;
  for (std::size_t start = 0; start < pattern.size();) {
    const std::size_t end = std::min(pattern.find('/', start), pattern.size());
    const std::string_view component = pattern.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") continue;
    next.clear();
    if (component == "**") {
      for (const std::string& path : paths) {
        if (!addAllBelow(path, next, found)) return std::nullopt;
      }
    } else if (component.find_first_of("*?[") == std::string_view::npos) {
      for (const std::string& path : paths) next.push_back(joined(path, component));
    } else {
      const NamePattern matcher(component);
      for (const std::string& path : paths) {
        listFolders(path, component.starts_with('.'), names);
        if (!found.spend(names.size())) return std::nullopt;
        for (const std::string& name : names) {
          if (matcher.matches(name)) next.push_back(joined(path, name));
        }
      }
    }
    std::sort(next.begin(), next.end());
    next.erase(std::unique(next.begin(), next.end()), next.end());
    std::swap(paths, next);
  }
  std::erase_if(paths, [](const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) return !S_ISDIR(status.st_mode);
    if (isResourceError(errno)) failIncomplete(path, errno);
    return true;
  });
  // khal's rule, longest first: a folder another match's parent named is no
  // vdir, and then names no parent itself.
  std::stable_sort(paths.begin(), paths.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  std::set<std::string> parents;
  std::vector<std::string> leaves;
  for (std::string& path : paths) {
    if (parents.contains(path)) continue;
    parents.insert(parentOf(path));
    leaves.push_back(std::move(path));
  }
  std::sort(leaves.begin(), leaves.end());
  return leaves;
}

// ---- khal's configuration, as configobj reads it ----

// A value: a string, or a list (written with commas).
struct KhalValue {
  std::string text;
  bool list = false;
};

struct KhalCalendar {
  std::string name;
  std::optional<KhalValue> path;
  std::optional<KhalValue> type;
};

// Whether `text` from `at` on is blanks, then the end or a `#` comment.
bool endsAt(std::string_view text, std::size_t at) {
  at = std::min(text.find_first_not_of(kSpaces, at), text.size());
  return at == text.size() || text[at] == '#';
}

// The number of `]`s in the blanks and `]`s from `at` on, when they end
// the line (before a comment); -1 when they don't or there are none.
int closingBrackets(std::string_view line, std::size_t at) {
  int count = 0;
  for (; at < line.size() && (isSpace(line[at]) || line[at] == ']'); ++at) count += line[at] == ']';
  return count > 0 && endsAt(line, at) ? count : -1;
}

// The depth and name of the section marker `line` (stripped, starting with
// `[`): as many `[`s as `]`s around a name, quoted or not, the name as
// short as lets the rest close the line.
std::optional<std::pair<int, std::string>> sectionMarker(std::string_view line) {
  int depth = 0;
  std::size_t at = 0;
  while (at < line.size() && line[at] == '[') {
    ++depth;
    at = std::min(line.find_first_not_of(kSpaces, at + 1), line.size());
  }
  if (at == line.size()) return std::nullopt;
  std::string name;
  int closing = -1;
  if (line[at] == '"' || line[at] == '\'') {
    const std::size_t firstSolid = line.find_first_not_of(kSpaces, at + 1);
    for (std::size_t quote = line.find(line[at], at + 1);
         quote != std::string_view::npos && closing < 0; quote = line.find(line[at], quote + 1)) {
      if (firstSolid >= quote) continue;
      closing = closingBrackets(line, quote + 1);
      name = line.substr(at + 1, quote - at - 1);
    }
  } else {
    for (std::size_t end = at + 1; end < line.size() && closing < 0;) {
      if (!isSpace(line[end]) && line[end] != ']') {
        ++end;
        continue;
      }
      closing = closingBrackets(line, end);
      name = line.substr(at, end - at);
      while (end < line.size() && (isSpace(line[end]) || line[end] == ']')) ++end;
    }
  }
  if (closing != depth) return std::nullopt;
  return std::pair{depth, std::move(name)};
}

// The value `text` (after the `=` and its blanks, on one line): a string,
// quoted or not, or a list of them separated by commas, then an optional `#`
// comment. Nothing when it is none of these.
std::optional<KhalValue> parseValue(std::string_view text) {
  if (text.empty() || text[0] == '#') return KhalValue{};
  if (text[0] == ',') return endsAt(text, 1) ? std::optional(KhalValue{"", true}) : std::nullopt;
  bool list = false;
  for (std::size_t at = 0;;) {
    std::string item;
    std::size_t end;
    if (text[at] == '"' || text[at] == '\'') {
      const std::size_t close = text.find(text[at], at + 1);
      if (close == std::string_view::npos) return std::nullopt;
      item = text.substr(at + 1, close - at - 1);
      end = close + 1;
    } else if (text[at] != ',' && text[at] != '#') {
      end = std::min(text.find_first_of(",#", at), text.size());
      item = trim(text.substr(at, end - at));
    } else {
      return std::nullopt;
    }
    const std::size_t after = std::min(text.find_first_not_of(kSpaces, end), text.size());
    if (after < text.size() && text[after] == ',') {
      list = true;
      at = std::min(text.find_first_not_of(kSpaces, after + 1), text.size());
      if (at == text.size() || text[at] == '#') return KhalValue{"", true};
      continue;
    }
    if (endsAt(text, after)) return KhalValue{std::move(item), list};
    if (list || (text[0] != '"' && text[0] != '\'')) return std::nullopt;
    // One quoted string, with its quote in it: it ends at the quote that
    // ends the line.
    for (std::size_t close = text.find(text[0], end); close != std::string_view::npos;
         close = text.find(text[0], close + 1)) {
      if (endsAt(text, close + 1)) return KhalValue{std::string(text.substr(1, close - 1))};
    }
    return std::nullopt;
  }
}

// A value in triple quotes, which starts `text` on the line `lines[at]`
// and may go on over the lines after it (`at` is left at its last line).
std::optional<KhalValue> parseTripleQuoted(std::string_view text,
                                           const std::vector<std::string_view>& lines,
                                           std::size_t& at) {
  const std::string_view quote = text.substr(0, 3);
  for (std::size_t close = text.find(quote, 3); close != std::string_view::npos;
       close = text.find(quote, close + 1)) {
    if (endsAt(text, close + 3)) return KhalValue{std::string(text.substr(3, close - 3))};
  }
  if (text.find(quote, 3) != std::string_view::npos) return std::nullopt;
  std::string value(text.substr(3));
  while (++at < lines.size()) {
    const std::string_view line = lines[at];
    value += '\n';
    if (line.find(quote) == std::string_view::npos) {
      value += line;
      continue;
    }
    for (std::size_t close = line.find(quote); close != std::string_view::npos;
         close = line.find(quote, close + 1)) {
      if (endsAt(line, close + 3)) return KhalValue{value + std::string(line.substr(0, close))};
    }
    return std::nullopt;
  }
  return std::nullopt;
}

// The `[[name]]` sections of `[calendars]` in khal's configuration `text`,
// or why configobj refuses it: a line that is no section marker, key or
// comment, sections nested past their parent, a name twice in one section.
std::variant<std::vector<KhalCalendar>, std::string> parseKhal(std::string_view text) {
  struct Section {
    std::size_t parent;
    int depth;
    std::set<std::string, std::less<>> names;  // of its keys and sections
    std::optional<std::size_t> calendar;       // its place in `calendars`
  };
  std::vector<Section> sections = {{0, 0, {}, {}}};
  std::optional<std::size_t> calendarsSection;
  std::vector<KhalCalendar> calendars;
  std::size_t current = 0;
  const std::vector<std::string_view> lines = linesOf(text);
  for (std::size_t at = 0; at < lines.size(); ++at) {
    const std::size_t number = at + 1;
    const std::string_view line = trimLeft(lines[at]);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      auto marker = sectionMarker(trim(line));
      if (!marker) return atLine(number, "is not a section marker");
      auto& [depth, name] = *marker;
      std::size_t parent;
      if (depth > sections[current].depth + 1) return atLine(number, "nests a section too deep");
      if (depth == sections[current].depth + 1) {
        parent = current;
      } else {
        std::size_t sibling = current;
        while (sections[sibling].depth > depth) sibling = sections[sibling].parent;
        parent = sections[sibling].parent;
      }
      if (!sections[parent].names.insert(name).second) {
        return atLine(number, "names " + inQuotes(name) + " again");
      }
      std::optional<std::size_t> calendar;
      if (calendarsSection && parent == *calendarsSection) {
        calendar = calendars.size();
        calendars.push_back({name, {}, {}});
      }
      sections.push_back({parent, depth, {}, calendar});
      current = sections.size() - 1;
      if (depth == 1 && name == "calendars") calendarsSection = current;
      continue;
    }
    // A key, quoted or not, then `=` and the value.
    std::string key;
    std::size_t equals = std::string_view::npos;
    if (line[0] == '"' || line[0] == '\'') {
      for (std::size_t close = line.find(line[0], 1); close != std::string_view::npos;
           close = line.find(line[0], close + 1)) {
        const std::size_t after = line.find_first_not_of(kSpaces, close + 1);
        if (after != std::string_view::npos && line[after] == '=') {
          key = line.substr(1, close - 1);
          equals = after;
          break;
        }
      }
    } else {
      equals = line.find('=');
      if (equals != std::string_view::npos) key = trim(line.substr(0, equals));
    }
    if (equals == std::string_view::npos || line[0] == '=') {
      return atLine(number, "is not a key = value");
    }
    const std::string_view rest = trimLeft(line.substr(equals + 1));
    const std::optional<KhalValue> value = rest.starts_with("\"\"\"") || rest.starts_with("'''")
                                               ? parseTripleQuoted(rest, lines, at)
                                               : parseValue(rest);
    if (!value) return atLine(number, "has a malformed value");
    if (!sections[current].names.insert(key).second) {
      return atLine(number, "sets " + inQuotes(key) + " again");
    }
    if (calendarsSection && current == *calendarsSection) {
      return atLine(number, "sets a key in [calendars] outside a calendar's section");
    }
    if (const auto calendar = sections[current].calendar) {
      if (key == "path") calendars[*calendar].path = *value;
      if (key == "type") calendars[*calendar].type = *value;
    }
  }
  if (calendars.empty()) return std::string("names no calendars");
  for (const KhalCalendar& calendar : calendars) {
    const std::string which = "calendar " + inQuotes(calendar.name);
    if (!calendar.path) return which + " has no path";
    if (calendar.path->list) return which + "'s path is a list";
    if (!calendar.type) continue;
    const std::string& type = calendar.type->text;
    if (calendar.type->list || (type != "calendar" && type != "discover" && type != "birthdays")) {
      return which + " has an unknown type";
    }
  }
  return calendars;
}

// ---- vdirsyncer's configuration, as Python's RawConfigParser reads it ----

struct IniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> options;  // keys in lower case
};

// The sections of the INI file `text`, or why it isn't one: `[name]` lines,
// `key = value` or `key: value` lines (a value goes on over the lines
// indented deeper than its key), `#` and `;` comment lines; a section or a
// key in one twice is refused, as is any key in [DEFAULT] (vdirsyncer would
// find it in every section, where it doesn't belong).
std::variant<std::vector<IniSection>, std::string> parseIni(std::string_view text) {
  std::vector<IniSection> sections;
  IniSection defaults{"DEFAULT", {}};  // only to take keys, which are refused
  std::set<std::string, std::less<>> sectionNames, keys;
  IniSection* section = nullptr;
  std::string* value = nullptr;  // the value lines may go on with
  std::size_t indent = 0;        // of its key's line
  const std::vector<std::string_view> lines = linesOf(text);
  for (std::size_t at = 0; at < lines.size(); ++at) {
    const std::string_view line = lines[at];
    const std::string_view stripped = trim(line);
    const bool comment = stripped.starts_with('#') || stripped.starts_with(';');
    if (stripped.empty() || comment) {
      if (!comment && value != nullptr) *value += '\n';
      continue;
    }
    const std::size_t lineIndent = line.find_first_not_of(kSpaces);
    if (value != nullptr && lineIndent > indent) {
      *value += '\n';
      *value += stripped;
      continue;
    }
    indent = lineIndent;
    value = nullptr;
    const std::size_t close = stripped.rfind(']');
    if (stripped.starts_with('[') && close != std::string_view::npos && close > 1) {
      const std::string name(stripped.substr(1, close - 1));
      if (name == "DEFAULT") {
        section = &defaults;
      } else if (!sectionNames.insert(name).second) {
        return atLine(at + 1, "names section " + inQuotes(name) + " again");
      } else {
        sections.push_back({name, {}});
        section = &sections.back();
      }
      keys.clear();
      continue;
    }
    if (section == nullptr) return atLine(at + 1, "comes before any section");
    const std::size_t delimiter = stripped.find_first_of("=:");
    std::string key(trim(stripped.substr(0, std::min(delimiter, stripped.size()))));
    if (delimiter == std::string_view::npos || key.empty()) {
      return atLine(at + 1, "is not a key = value");
    }
    if (section == &defaults) return atLine(at + 1, "sets a key in [DEFAULT]");
    std::transform(key.begin(), key.end(), key.begin(), [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (!keys.insert(key).second) return atLine(at + 1, "sets " + inQuotes(key) + " again");
    section->options.emplace_back(key, trim(stripped.substr(delimiter + 1)));
    value = &section->options.back().second;
  }
  for (IniSection& each : sections) {
    for (auto& option : each.options) option.second = trim(option.second);
  }
  return sections;
}

// A filesystem storage of *.ics files, and how the pairs sync it.
struct IcsStorage {
  std::string name;
  Json path;
  bool itself = false;  // some pair syncs its path without a collection
  bool below = false;   // some pair syncs collections into it, or none syncs it
};

// Why vdirsyncer refuses a `[pair …]`'s `collections` value, or nothing.
std::optional<std::string> collectionsProblem(const Json& collections) {
  if (collections.is_null()) return std::nullopt;
  if (!collections.is_array()) return "is not a list or null";
  std::set<std::string> names;
  for (const Json& entry : collections) {
    const bool triple = entry.is_array() && entry.size() == 3 && entry[0].is_string() &&
                        (entry[1].is_null() || entry[1].is_string()) &&
                        (entry[2].is_null() || entry[2].is_string());
    if (!entry.is_string() && !triple) return "holds something not a name or three of them";
    if (!names.insert(entry.is_string() ? entry.get<std::string>() : entry[0].get<std::string>())
             .second) {
      return "names a collection twice";
    }
  }
  return std::nullopt;
}

// The storages of *.ics files of vdirsyncer's configuration `sections`, in
// their order, or why vdirsyncer refuses the configuration: a section of no
// kind it knows or with a name it doesn't allow, a value that isn't JSON, a
// [general] section other than one with `status_path` alone, a pair
// without `a`, `b` or a valid `collections`, or with options it doesn't
// know.
std::variant<std::vector<IcsStorage>, std::string> readVdirsyncer(
    const std::vector<IniSection>& sections) {
  using Options = std::map<std::string, Json, std::less<>>;
  std::vector<std::pair<std::string, Options>> storages, pairs;
  std::set<std::string, std::less<>> names;
  std::optional<Options> general;
  for (const IniSection& section : sections) {
    const std::string which = "section " + inQuotes(section.name);
    Options options;
    for (const auto& [key, text] : section.options) {
      Json value = Json::parse(text, nullptr, false);
      if (value.is_discarded()) return which + ": " + inQuotes(key) + " is not JSON";
      options.emplace(key, std::move(value));
    }
    const std::size_t space = section.name.find(' ');
    const std::string type = section.name.substr(0, space);
    const std::string name =
        space == std::string::npos ? section.name : section.name.substr(space + 1);
    if (!std::all_of(name.begin(), name.end(), isWordCharacter)) {
      return which + ": names may hold only letters, digits and _";
    }
    if (!names.insert(name).second) return which + ": " + inQuotes(name) + " is named twice";
    if (type == "general") {
      if (general) return which + ": a second general section";
      general = std::move(options);
    } else if (type == "storage") {
      storages.emplace_back(name, std::move(options));
    } else if (type == "pair") {
      pairs.emplace_back(name, std::move(options));
    } else {
      return which + " is of no kind vdirsyncer knows";
    }
  }
  if (!general || !general->contains("status_path") || general->size() != 1) {
    return std::string("[general] must set status_path, and only it");
  }

  std::vector<IcsStorage> found;
  std::map<std::string, std::size_t, std::less<>> byName;
  for (const auto& [name, options] : storages) {
    const auto type = options.find("type"), fileext = options.find("fileext");
    if (type == options.end() || type->second != "filesystem" || fileext == options.end() ||
        fileext->second != ".ics") {
      continue;
    }
    const auto path = options.find("path");
    byName.emplace(name, found.size());
    found.push_back({name, path == options.end() ? Json() : path->second});
  }
  constexpr const char* kPairOptions[] = {
      "a", "b", "collections", "conflict_resolution", "partial_sync", "metadata"};
  for (const auto& [name, options] : pairs) {
    const std::string which = "pair " + inQuotes(name);
    for (const auto& option : options) {
      if (std::find(std::begin(kPairOptions), std::end(kPairOptions), option.first) ==
          std::end(kPairOptions)) {
        return which + " has an unknown option " + inQuotes(option.first);
      }
    }
    const auto collections = options.find("collections");
    if (!options.contains("a") || !options.contains("b") || collections == options.end()) {
      return which + " must set a, b and collections";
    }
    if (auto problem = collectionsProblem(collections->second)) {
      return which + ": collections " + *problem;
    }
    if (const auto resolution = options.find("conflict_resolution");
        resolution != options.end() && !resolution->second.is_null() &&
        resolution->second != "a wins" && resolution->second != "b wins" &&
        !(resolution->second.is_array() && resolution->second.size() > 1 &&
          resolution->second[0] == "command")) {
      return which + " has an unknown conflict_resolution";
    }
    for (const std::size_t side : {1, 2}) {
      const Json& storage = options.find(side == 1 ? "a" : "b")->second;
      const auto ics = storage.is_string() ? byName.find(storage.get<std::string>()) : byName.end();
      if (ics == byName.end()) continue;
      IcsStorage& used = found[ics->second];
      if (collections->second.is_null()) used.itself = true;
      for (const Json& entry : collections->second) {
        // A named collection with null on this side syncs the path itself.
        (entry.is_array() && entry[side].is_null() ? used.itself : used.below) = true;
      }
    }
  }
  for (IcsStorage& storage : found) storage.below = storage.below || !storage.itself;
  return found;
}

// Where khal's configuration is: the first of `khal/config` in the XDG
// configuration folders (`configHome`, then `$XDG_CONFIG_DIRS` or
// /etc/xdg) that exists.
std::optional<fs::path> khalConfig(const fs::path& configHome, const Variable& variable) {
  std::vector<fs::path> folders;
  if (!configHome.empty()) folders.push_back(configHome);
  const std::optional<std::string> dirs = variable("XDG_CONFIG_DIRS");
  const std::string list = dirs && !dirs->empty() ? *dirs : "/etc/xdg";
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t end = std::min(list.find(':', start), list.size());
    // Relative entries are to be ignored, as the XDG base directory rules say.
    if (list.substr(start, end - start).starts_with('/')) {
      folders.emplace_back(list.substr(start, end - start));
    }
    start = end + 1;
  }
  for (const fs::path& folder : folders) {
    if (somethingAt(folder / "khal/config")) return folder / "khal/config";
  }
  return std::nullopt;
}

}  // namespace

std::vector<fs::path> khalFolders(const fs::path& configHome, const fs::path& home,
                                  const Variable& variable, const Say& say) {
  const std::optional<fs::path> config = khalConfig(configHome, variable);
  if (!config) return {};
  const std::optional<std::string> text = readConfig(*config, say);
  if (!text) return {};
  auto parsed = parseKhal(*text);
  if (const auto* reason = std::get_if<std::string>(&parsed)) {
    say(lineAbout(config->string(), *reason));
    return {};
  }
  Found found;
  for (const KhalCalendar& calendar : std::get<std::vector<KhalCalendar>>(parsed)) {
    const std::string type = calendar.type ? calendar.type->text : "calendar";
    if (type == "birthdays") continue;  // vCards, whose birthdays aren't events here
    const std::string path =
        withoutTrailingSlashes(expandUser(expandVariables(calendar.path->text, variable), home));
    if (!path.starts_with('/')) {
      say(lineAbout(config->string(), "calendar " + inQuotes(calendar.name) + ": path " +
                                          inQuotes(path) + " is not absolute"));
      continue;
    }
    if (type == "calendar") {
      found.add(path, &say);
      continue;
    }
    const std::optional<std::vector<std::string>> discovered = discover(path, found);
    if (!discovered) {
      say(lineAbout(config->string(),
                    "calendar " + inQuotes(calendar.name) + " left out: " + tooMany()));
      continue;
    }
    for (const std::string& folder : *discovered) found.add(folder, nullptr);
  }
  return std::move(found.folders);
}

std::vector<fs::path> vdirsyncerFolders(const fs::path& configHome, const fs::path& home,
                                        const Variable& variable, const Say& say) {
  fs::path config;
  if (std::optional<std::string> named = variable("VDIRSYNCER_CONFIG")) {
    if (named->empty()) {
      say(lineAbout("$VDIRSYNCER_CONFIG", "names no file"));
      return {};
    }
    config = std::move(*named);
  } else if (!home.empty() && somethingAt(home / ".vdirsyncer/config")) {
    config = home / ".vdirsyncer/config";
  } else if (!configHome.empty() && somethingAt(configHome / "vdirsyncer/config")) {
    config = configHome / "vdirsyncer/config";
  } else {
    return {};
  }
  const std::optional<std::string> text = readConfig(config, say);
  if (!text) return {};
  auto sections = parseIni(*text);
  if (const auto* reason = std::get_if<std::string>(&sections)) {
    say(lineAbout(config.string(), *reason));
    return {};
  }
  auto storages = readVdirsyncer(std::get<std::vector<IniSection>>(sections));
  if (const auto* reason = std::get_if<std::string>(&storages)) {
    say(lineAbout(config.string(), *reason));
    return {};
  }
  Found found;
  std::vector<std::string> names;
  for (const IcsStorage& storage : std::get<std::vector<IcsStorage>>(storages)) {
    const std::string which = "storage " + inQuotes(storage.name);
    if (!storage.path.is_string()) {
      say(lineAbout(config.string(), which + " has no path"));
      continue;
    }
    // vdirsyncer expands `~` alone, and normalizes the path.
    const std::string path = withoutTrailingSlashes(
        fs::path(expandUser(storage.path.get<std::string>(), home)).lexically_normal().string());
    if (!path.starts_with('/')) {
      say(lineAbout(config.string(), which + ": path " + inQuotes(path) + " is not absolute"));
      continue;
    }
    if (storage.itself) found.add(path, &say);
    if (!storage.below) continue;
    // Every collection vdirsyncer syncs into a filesystem storage is a folder
    // directly below its path, named after it: those "from a" and "from b"
    // stand for are the folders found there, and named ones are created
    // there. So the folders below the path are the storage's calendars,
    // whatever the pairs' lists say.
    if (const int error = listFolders(path, false, names); error != 0) {
      if (error != ENOENT) say(lineAbout(path, std::strerror(error)));  // none synced yet
      continue;
    }
    if (!found.spend(names.size())) {
      say(lineAbout(config.string(), which + " left out: " + tooMany()));
      continue;
    }
    for (const std::string& name : names) found.add(joined(path, name), nullptr);
  }
  return std::move(found.folders);
}

}  // namespace quorvel::calendar::linuxstore::vdir
