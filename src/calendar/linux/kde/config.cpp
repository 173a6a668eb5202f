#include "calendar/linux/kde/config.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>

#include "calendar/ical/file.h"
#include "calendar/ical/problem.h"
#include "calendar/linux/source/settings.h"

namespace quorvel::calendar::linuxstore::kde {
namespace fs = std::filesystem;
using ical::lineAbout;
using Say = std::function<void(std::string)>;
namespace {

constexpr std::string_view kIcalType = "akonadi_ical_resource";
constexpr std::string_view kIcalDirType = "akonadi_icaldir_resource";

bool isAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isAsciiSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isAsciiSpace(text.back())) text.remove_suffix(1);
  return text;
}

// ---- KConfig files (kconfigini.cpp) ----

struct Entry {
  std::string value;    // escapes undone
  bool expand = false;  // written with [$e]
};
// A KConfig file's entries: by group (the parts of a nested group joined by
// \x1d, as KConfig names them), then by key. Localised variants are left out.
using KConfigFile = std::map<std::string, std::map<std::string, Entry, std::less<>>, std::less<>>;

// A key, group name or value with KConfig's escapes undone (\s, \t, \n,
// \r, a doubled backslash, \xNN); `\;` and `\,` are kept as written (a
// list's separator escapes), and an unknown escape leaves only its backslash.
std::string unescapeKConfig(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) {
      out += '\\';
      break;
    }
    constexpr std::string_view kFrom = "stnr\\", kTo = " \t\n\r\\";
    if (const std::size_t simple = kFrom.find(text[i]); simple != kFrom.npos) {
      out += kTo[simple];
    } else if (text[i] == ';' || text[i] == ',') {
      out += '\\';
      out += text[i];
    } else if (text[i] == 'x' && i + 2 < text.size()) {
      const int high = hexDigit(text[i + 1]), low = hexDigit(text[i + 2]);
      out += high < 0 || low < 0 ? 'x' : static_cast<char>(high * 16 + low);
      i += 2;
    } else if (text[i] == 'x') {
      out += 'x';  // too short to be \xNN: the rest goes with it
      break;
    } else {
      out += '\\';
    }
  }
  return out;
}

// The KConfig file `text`, read as KConfig reads it: lines that don't parse
// are passed over, a later key replaces an earlier one, `[$d]` deletes one.
KConfigFile parseKConfig(std::string_view text) {
  KConfigFile file;
  std::string group = "<default>";
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty() || line.front() == '#') continue;

    if (line.front() == '[') {
      // `[A][B]` names the nested group B of A; a last `[$i]` marks the
      // group immutable, which matters only to later files.
      std::string name;
      bool closed = true;
      for (std::size_t start = 1;;) {
        const std::size_t close = line.find(']', start);
        if (close == std::string_view::npos) {
          closed = false;
          break;
        }
        const std::string_view part = line.substr(start, close - start);
        if (close + 1 != line.size() || part != "$i") {
          if (!name.empty()) name += '\x1d';
          name += unescapeKConfig(part);
        }
        start = close + 2;
        if (start > line.size() || line[close + 1] != '[') break;
      }
      if (closed) group = std::move(name);
      continue;
    }

    const std::size_t equals = line.find('=');
    std::string_view key = trimmed(line.substr(0, equals));
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : trimmed(line.substr(equals + 1));
    if (key.empty()) continue;
    bool expand = false, usable = true, deleted = false;
    std::optional<std::string_view> locale;
    // Options and a locale trail the key in brackets: `Key[de][$e]`.
    while (usable && !deleted && key.find('[') != std::string_view::npos) {
      const std::size_t open = key.rfind('[');
      const std::size_t close = key.find(']', open);
      if (close == std::string_view::npos) {
        usable = false;
      } else if (close > open + 1 && key[open + 1] == '$') {
        for (std::size_t i = open + 2; i < close && !deleted; ++i) {
          if (key[i] == 'e') expand = true;
          if (key[i] == 'd') deleted = true;
        }
      } else if (locale) {
        usable = false;  // a second locale
      } else {
        locale = key.substr(open + 1, close - open - 1);
      }
      key = key.substr(0, open);
    }
    if (!usable) continue;
    if (deleted) {
      file[group].erase(unescapeKConfig(key));
      continue;
    }
    if (equals == std::string_view::npos || (locale && !locale->empty())) continue;
    file[group][unescapeKConfig(key)] = Entry{unescapeKConfig(value), expand};
  }
  return file;
}

const Entry* entryOf(const KConfigFile& file, std::string_view group, std::string_view key) {
  const auto found = file.find(group);
  if (found == file.end()) return nullptr;
  const auto entry = found->second.find(key);
  return entry == found->second.end() ? nullptr : &entry->second;
}

// A variable's value as KConfig expands it: empty when unset or empty,
// except the three Qt locations it falls back to.
std::string valueOf(std::string_view name, const Variable& variable) {
  if (auto value = variable(name); value && !value->empty()) return std::move(*value);
  const auto under = [&variable](std::string_view xdg, std::string_view fallback) {
    if (auto value = variable(xdg); value && value->starts_with('/')) return std::move(*value);
    return variable("HOME").value_or("") + std::string(fallback);
  };
  if (name == "QT_DATA_HOME") return under("XDG_DATA_HOME", "/.local/share");
  if (name == "QT_CONFIG_HOME") return under("XDG_CONFIG_HOME", "/.config");
  if (name == "QT_CACHE_HOME") return under("XDG_CACHE_HOME", "/.cache");
  return {};
}

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// `value` with its variables expanded as KConfig expands them: `$NAME` and
// `${NAME}` replaced by the variable's value (empty when unset), `$$` by
// `$`, and a `$` starting no name dropped; `~` is not expanded. A `$(…)`,
// which older KConfig ran as a shell command, is refused: nothing here ever
// runs one. Returns why the value can't be used, or the expansion.
ical::Checked<std::string> expanded(std::string_view value, const Variable& variable) {
  std::string out;
  for (std::size_t i = 0; i < value.size();) {
    if (value[i] != '$' || i + 1 == value.size()) {
      out += value[i++];
      continue;
    }
    std::string_view name;
    if (value[i + 1] == '$') {
      out += '$';
      i += 2;
      continue;
    }
    if (value[i + 1] == '(') {
      return ical::Problem{"would run a command ($(…)), which is never done"};
    }
    if (value[i + 1] == '{') {
      const std::size_t close = value.find('}', i + 2);
      if (close == std::string_view::npos) return ical::Problem{"opens a ${ it doesn't close"};
      name = value.substr(i + 2, close - i - 2);
      i = close + 1;
    } else {
      std::size_t end = i + 1;
      while (end < value.size() && isNameChar(value[end])) ++end;
      name = value.substr(i + 1, end - i - 1);
      i = end;
    }
    if (!name.empty()) out += valueOf(name, variable);
  }
  return out;
}

// ---- agentsrc, a QSettings INI file (qsettings.cpp) ----

// The next line of a QSettings INI file from `at`: blanks before it
// skipped, `;` comments passed over, a line continued within quotes or
// after a backslash. `equals` is where its first unquoted `=` is, or npos.
bool nextIniLine(std::string_view data, std::size_t& at, std::string_view& line,
                 std::size_t& equals) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  std::size_t start = at;
  while (start < data.size() && isSpace(data[start])) ++start;
  bool quoted = false;
  equals = std::string_view::npos;
  std::size_t i = start;
  while (i < data.size()) {
    const char c = data[i++];
    if (c == '=') {
      if (!quoted && equals == std::string_view::npos) equals = i - 1 - start;
    } else if (c == '\n' || c == '\r') {
      if (!quoted) {
        --i;
        break;
      }
    } else if (c == '\\') {
      if (i < data.size()) {
        const char escaped = data[i++];
        if (i < data.size() &&
            ((escaped == '\n' && data[i] == '\r') || (escaped == '\r' && data[i] == '\n'))) {
          ++i;
        }
      }
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ';') {
      if (i == start + 1) {
        while (i < data.size() && data[i] != '\n' && data[i] != '\r') ++i;
        while (i < data.size() && isSpace(data[i])) ++i;
        start = i;
      } else if (!quoted) {
        --i;
        break;
      }
    }
  }
  at = i;
  line = data.substr(start, i - start);
  return !line.empty();
}

// A section name or key with QSettings' escapes undone: `\` for `/` (a
// group's separator), %XX and %UXXXX for other characters.
std::string unescapeIniKey(std::string_view key) {
  std::string out;
  for (std::size_t i = 0; i < key.size();) {
    const char c = key[i];
    if (c == '\\') {
      out += '/';
      ++i;
      continue;
    }
    if (c != '%' || i + 1 == key.size()) {
      out += c;
      ++i;
      continue;
    }
    const std::size_t first = key[i + 1] == 'U' ? i + 2 : i + 1;
    const std::size_t digits = key[i + 1] == 'U' ? 4 : 2;
    unsigned unit = 0;
    bool valid = first + digits <= key.size();
    for (std::size_t d = 0; valid && d < digits; ++d) {
      const int digit = hexDigit(key[first + d]);
      valid = digit >= 0;
      unit = unit * 16 + static_cast<unsigned>(digit);
    }
    if (!valid) {
      out += '%';
      ++i;
      continue;
    }
    appendUtf8(out, unit);
    i = first + digits;
  }
  return out;
}

// The string a QSettings INI value holds: quotes and escapes undone, the
// blanks around it dropped. Nothing when it holds something else: a list (an
// unquoted comma) or a typed value (`@Variant(…)` and the like).
std::optional<std::string> iniString(std::string_view raw) {
  std::string out;
  std::size_t i = 0, keep = 0;  // trailing blanks are dropped back to `keep`
  bool inQuotes = false, quoted = false;
  const auto skipBlanks = [&] {
    while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t')) ++i;
  };
  skipBlanks();
  while (i < raw.size()) {
    const char c = raw[i];
    if (c == '\\') {
      if (++i >= raw.size()) break;
      const char e = raw[i++];
      constexpr std::string_view kFrom = "abfnrtv\"?'\\", kTo = "\a\b\f\n\r\t\v\"?'\\";
      if (const std::size_t simple = kFrom.find(e); simple != kFrom.npos) {
        out += kTo[simple];
      } else if ((e == 'x' && i < raw.size() && hexDigit(raw[i]) >= 0) || (e >= '0' && e <= '7')) {
        const bool hex = e == 'x';
        std::uint16_t unit = hex ? 0 : static_cast<std::uint16_t>(e - '0');
        for (; i < raw.size(); ++i) {
          const int digit =
              hex ? hexDigit(raw[i]) : (raw[i] >= '0' && raw[i] <= '7' ? raw[i] - '0' : -1);
          if (digit < 0) break;
          unit = static_cast<std::uint16_t>(unit * (hex ? 16 : 8) + digit);
        }
        appendUtf8(out, unit);
      } else if ((e == '\n' || e == '\r') && i < raw.size() && (raw[i] == '\n' || raw[i] == '\r') &&
                 raw[i] != e) {
        ++i;  // a continued line's CRLF or LFCR
      }
      keep = out.size();
    } else if (c == '"') {
      ++i;
      quoted = true;
      inQuotes = !inQuotes;
      if (!inQuotes) {
        skipBlanks();
        keep = out.size();
      }
    } else if (c == ',' && !inQuotes) {
      return std::nullopt;
    } else {
      std::size_t end = i + 1;
      while (end < raw.size() && raw[end] != '\\' && raw[end] != '"' && raw[end] != ',') ++end;
      out += raw.substr(i, end - i);
      i = end;
    }
  }
  if (!quoted) {
    while (out.size() > keep && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
  }
  if (out.starts_with('@')) {
    if (out.starts_with("@@")) return out.substr(1);
    if (out.ends_with(')')) {
      for (const std::string_view type : {"@String(", "@ByteArray("}) {
        if (out.starts_with(type)) return out.substr(type.size(), out.size() - type.size() - 1);
      }
      return std::nullopt;
    }
  }
  return out;
}

// The ical and icaldir instances an agentsrc lists, with their kind, by
// name. As QSettings reads the file, `[General]` is its top level, a later
// key replaces an earlier one, and the sections apply in their names' order.
std::map<std::string, Resource::Kind> listedInstances(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::map<std::string, std::vector<std::pair<std::string, std::string_view>>> sections;
  std::string section;
  std::string_view line;
  std::size_t equals = 0;
  for (std::size_t at = 0; nextIniLine(text, at, line, equals);) {
    if (line.starts_with('[')) {
      const std::string_view name = trimmed(line.substr(1, line.find(']') - 1));
      const auto is = [name](std::string_view word) {
        return name.size() == word.size() &&
               ::strncasecmp(name.data(), word.data(), word.size()) == 0;
      };
      section = is("general")
                    ? ""
                    : (is("%general") ? std::string(name.substr(1)) : unescapeIniKey(name)) + "/";
      continue;
    }
    if (equals == std::string_view::npos) continue;
    sections[section].emplace_back(section + unescapeIniKey(trimmed(line.substr(0, equals))),
                                   line.substr(equals + 1));
  }
  std::map<std::string, std::string_view, std::less<>> keys;
  for (auto& [name, entries] : sections) {
    for (auto& [key, value] : entries) keys[std::move(key)] = value;
  }

  constexpr std::string_view kPrefix = "Instances/", kSuffix = "/AgentType";
  std::map<std::string, Resource::Kind> instances;
  for (auto found = keys.lower_bound(kPrefix);
       found != keys.end() && found->first.starts_with(kPrefix); ++found) {
    const std::string_view key = found->first;
    if (key.size() <= kPrefix.size() + kSuffix.size() || !key.ends_with(kSuffix)) continue;
    const std::string_view name =
        key.substr(kPrefix.size(), key.size() - kPrefix.size() - kSuffix.size());
    if (name.empty() || name.find('/') != name.npos) continue;
    const std::optional<std::string> type = iniString(found->second);
    if (type == kIcalType) instances.emplace(name, Resource::Kind::file);
    if (type == kIcalDirType) instances.emplace(name, Resource::Kind::folder);
  }
  return instances;
}

// ---- the resources' paths ----

// A Path setting, expanded, as the resource takes it: an absolute path, or
// a `file:` URL's local path, percent-decoded. The ical resource reads it
// through QUrl::fromUserInput, which drops the blanks around it; the icaldir
// resource takes it as it is. Why it can't be read otherwise.
ical::Checked<fs::path> localPath(std::string_view path, Resource::Kind kind) {
  if (kind == Resource::Kind::file) path = trimmed(path);
  if (path.find('\0') != std::string_view::npos) return ical::Problem{"holds a NUL character"};
  if (path.starts_with('/')) return fs::path(path);
  // A URL starts with its scheme: a letter, then letters, digits, + - .
  std::size_t colon = 0;
  if (!path.empty() && std::isalpha(static_cast<unsigned char>(path[0]))) {
    while (colon < path.size() &&
           (std::isalnum(static_cast<unsigned char>(path[colon])) || path[colon] == '+' ||
            path[colon] == '-' || path[colon] == '.')) {
      ++colon;
    }
  }
  if (colon == 0 || colon == path.size() || path[colon] != ':') {
    return ical::Problem{"is not an absolute path"};
  }
  const std::string_view scheme = path.substr(0, colon);
  if (scheme.size() != 4 || ::strncasecmp(scheme.data(), "file", 4) != 0) {
    return ical::Problem{"is a " + std::string(scheme) + ": URL, not a local file"};
  }
  std::string_view rest = path.substr(colon + 1);
  if (rest.starts_with("//")) {
    const std::size_t slash = std::min(rest.find('/', 2), rest.size());
    if (slash != 2) return ical::Problem{"is a file: URL on another host"};
    rest.remove_prefix(slash);
  }
  rest = rest.substr(0, std::min(rest.find_first_of("?#"), rest.size()));
  std::string decoded;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const int high = i + 2 < rest.size() ? hexDigit(rest[i + 1]) : -1;
    const int low = i + 2 < rest.size() ? hexDigit(rest[i + 2]) : -1;
    if (rest[i] == '%' && high >= 0 && low >= 0) {
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      decoded += rest[i];
    }
  }
  if (decoded.find('\0') != std::string::npos) return ical::Problem{"holds a NUL character"};
  if (!decoded.starts_with('/')) return ical::Problem{"is not an absolute path"};
  return fs::path(decoded);
}

}  // namespace

std::vector<Resource> localResources(const fs::path& configHome, const Variable& variable,
                                     const Say& say) {
  ical::ReadBuffer buffer;
  bool missing = false;
  const std::string agentsPath = (configHome / "akonadi" / "agentsrc").string();
  const std::optional<std::string_view> agents = readSettingsFile(agentsPath, buffer, say);
  if (!agents) return {};
  // Taken from the text before each resource's file reuses `buffer`.
  const std::map<std::string, Resource::Kind> instances = listedInstances(*agents);

  std::vector<Resource> resources;
  for (const auto& [instance, kind] : instances) {
    if (instance.find('\0') != std::string::npos) {
      say(lineAbout(agentsPath, "names an instance with a NUL character in its name"));
      continue;
    }
    const std::string rcPath = (configHome / (instance + "rc")).string();
    const std::optional<std::string_view> text = readSettingsFile(rcPath, buffer, say, &missing);
    if (!text) {
      if (missing) say(lineAbout(rcPath, "not found, so " + instance + " is not read"));
      continue;
    }
    const KConfigFile settings = parseKConfig(*text);
    const Entry* path = entryOf(settings, "General", "Path");
    if (path == nullptr || path->value.empty()) {
      say(lineAbout(rcPath, "[General] Path is not set"));
      continue;
    }
    // The resource reads it as a path entry: expanded with or without [$e].
    const ical::Checked<std::string> value = expanded(path->value, variable);
    ical::Checked<fs::path> local = value ? localPath(*value, kind) : value.problem();
    if (!local) {
      say(lineAbout(rcPath, "[General] Path " + local.problem().reason));
      continue;
    }
    resources.push_back(Resource{instance, kind, std::move(*local)});
  }
  return resources;
}

ical::Addresses identityAddresses(const fs::path& configHome, const Variable& variable,
                                  const Say& say) {
  ical::ReadBuffer buffer;
  const std::string path = (configHome / "emailidentities").string();
  const std::optional<std::string_view> text = readSettingsFile(path, buffer, say);
  if (!text) return {};

  ical::Addresses addresses;
  std::optional<std::string> refused;  // the first value left out, for the one line
  const auto add = [&addresses](std::string_view address) {
    address = trimmed(address);
    if (!address.empty()) addresses.insert(ical::addressKey(address));
  };
  for (const auto& [group, entries] : parseKConfig(*text)) {
    // KIdentityManagement's groups: "Identity #" and a number.
    constexpr std::string_view kIdentity = "Identity #";
    if (!group.starts_with(kIdentity) || group.size() == kIdentity.size() ||
        group.find_first_not_of("0123456789", kIdentity.size()) != std::string::npos) {
      continue;
    }
    for (const std::string_view key : {"Email Address", "Email Aliases"}) {
      const auto found = entries.find(key);
      if (found == entries.end()) continue;
      std::string value = found->second.value;
      if (found->second.expand) {
        ical::Checked<std::string> result = expanded(value, variable);
        if (!result) {
          if (!refused) {
            refused = "[" + group + "] " + std::string(key) + " " + result.problem().reason;
          }
          continue;
        }
        value = std::move(*result);
      }
      if (key == "Email Address") {
        add(value);
        continue;
      }
      // A KConfig list: items split at commas, a backslash taking the next
      // character as it is.
      std::string item;
      bool escaped = false;
      for (const char c : value) {
        if (escaped) {
          item += c;
          escaped = false;
        } else if (c == '\\') {
          escaped = true;
        } else if (c == ',') {
          add(item);
          item.clear();
        } else {
          item += c;
        }
      }
      add(item);
    }
  }
  if (refused) say(lineAbout(path, *refused));
  return addresses;
}

}  // namespace quorvel::calendar::linuxstore::kde
