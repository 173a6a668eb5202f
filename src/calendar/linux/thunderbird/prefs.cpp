#include "calendar/linux/thunderbird/prefs.h"

#include <strings.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "calendar/linux/source/settings.h"

namespace quorvel::calendar::linuxstore::thunderbird {
namespace {

// The tokens of a prefs file, as Mozilla's prefs parser (modules/libpref/
// parser) reads them.
enum class TokenKind {
  end,
  punctuation,  // one of ( ) , + - ;
  keyword,
  string,   // its value in the buffer it was read into
  integer,  // up to 2^32 - 1: a sign is a token of its own
  error,
};

struct Token {
  Token(TokenKind kind = TokenKind::end, char punctuation = 0)  // NOLINT: a kind converts
      : kind(kind), punctuation(punctuation) {}

  TokenKind kind;
  char punctuation;
  std::string_view keyword;
  std::uint32_t integer = 0;

  bool is(char c) const { return kind == TokenKind::punctuation && punctuation == c; }
};

bool isWordChar(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

// Reads tokens one character at a time, never looking back more than one:
// linear in the text whatever it holds.
class Lexer {
 public:
  // Mozilla reads a NUL as the end of the text.
  explicit Lexer(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

  // The next token; a string's value goes to `buffer`.
  Token next(std::string& buffer) {
    for (;;) {
      if (at_ == text_.size()) return {};
      const char c = text_[at_++];
      switch (c) {
        case '(':
        case ')':
        case ',':
        case '+':
        case '-':
        case ';':
          return Token(TokenKind::punctuation, c);
        case ' ':
        case '\t':
        case '\v':
        case '\f':
        case '\n':
        case '\r':
          continue;
        case '#':
          skipLine();
          continue;
        case '/':
          if (take('/')) {
            skipLine();
            continue;
          }
          if (take('*')) {
            const std::size_t close = text_.find("*/", at_);
            if (close == std::string_view::npos) {
              at_ = text_.size();
              return error();  // an unterminated comment
            }
            at_ = close + 2;
            continue;
          }
          // Mozilla takes the character after a lone '/' with it, unless it
          // ends the line.
          if (at_ < text_.size() && text_[at_] != '\n' && text_[at_] != '\r') ++at_;
          return error();
        case '"':
        case '\'':
          return string(c, buffer);
        default:
          break;
      }
      if (isWordChar(c)) {
        const std::size_t start = at_ - 1;
        while (at_ < text_.size() && isWordChar(text_[at_])) ++at_;
        Token token(TokenKind::keyword);
        token.keyword = text_.substr(start, at_ - start);
        return token;
      }
      if (c >= '0' && c <= '9') return integer(c);
      return error();
    }
  }

 private:
  static Token error() { return TokenKind::error; }

  bool take(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  void skipLine() {
    while (at_ < text_.size() && text_[at_] != '\n' && text_[at_] != '\r') ++at_;
  }

  Token integer(char first) {
    std::uint64_t value = static_cast<std::uint64_t>(first - '0');
    bool overflow = false;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      value = value * 10 + static_cast<std::uint64_t>(text_[at_++] - '0');
      if (value > 0xFFFFFFFFu) {
        overflow = true;
        value = 0;
      }
    }
    // "123abc" is no number; what follows is read again from the letter.
    if (overflow || (at_ < text_.size() && isWordChar(text_[at_]))) return error();
    Token token(TokenKind::integer);
    token.integer = static_cast<std::uint32_t>(value);
    return token;
  }

  // `count` hex digits as a number, or nothing (the first character that
  // isn't one is left to be read again).
  std::optional<unsigned> hex(int count) {
    unsigned value = 0;
    for (int i = 0; i < count; ++i) {
      const int digit = at_ < text_.size() ? hexDigit(text_[at_]) : -1;
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<unsigned>(digit);
      ++at_;
    }
    return value;
  }

  // The string literal after `quote`. A bad escape spoils the token, but
  // the literal is still read to its end so that what follows is read as
  // Mozilla reads it.
  Token string(char quote, std::string& out) {
    out.clear();
    bool bad = false;
    for (;;) {
      if (at_ == text_.size()) return error();  // unterminated
      const char c = text_[at_++];
      if (c == quote) break;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (at_ == text_.size()) return error();
      const char escape = text_[at_++];
      switch (escape) {
        case '"':
        case '\'':
        case '\\':
          out.push_back(escape);
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 'x': {
          // A raw byte; \x00 would end the value early in Mozilla's C code.
          const auto byte = hex(2);
          if (!byte || *byte == 0) bad = true;
          if (byte && *byte != 0) out.push_back(static_cast<char>(*byte));
          break;
        }
        case 'u': {
          // A UTF-16 unit: a high surrogate must be followed by "\u" and its
          // low one.
          const auto unit = hex(4);
          if (!unit || *unit == 0 || (*unit & 0xFC00) == 0xDC00) {
            bad = true;
            break;
          }
          char32_t code = *unit;
          if ((*unit & 0xFC00) == 0xD800) {
            std::optional<unsigned> low;
            if (take('\\') && take('u')) low = hex(4);
            if (!low || (*low & 0xFC00) != 0xDC00) {
              bad = true;
              break;
            }
            code = 0x10000 + ((*unit - 0xD800) << 10) + (*low - 0xDC00);
          }
          appendUtf8(out, code);
          break;
        }
        default:
          // Not an escape Mozilla knows (\t among them); a line end after
          // the backslash is read again, within the string.
          if (escape == '\n' || escape == '\r') --at_;
          bad = true;
          break;
      }
    }
    return bad ? error() : Token(TokenKind::string);
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// A default value (set by `pref`, `sticky_pref` or `lockPref`), which a
// lock keeps from changing.
struct Default {
  PrefValue value;
  bool locked = false;
};

// The statements of a prefs file, `user_pref("name", value);` and its kin,
// read as Mozilla reads them: one that is malformed is passed over, and
// reading goes on after its ';'.
class Statements {
 public:
  explicit Statements(std::string_view text) : lexer_(text) { token_ = lexer_.next(scratch_); }

  Prefs read() {
    std::map<std::string, PrefValue, std::less<>> user;
    std::map<std::string, Default, std::less<>> defaults;
    while (token_.kind != TokenKind::end) {
      if (!statement()) {
        recover();
        continue;
      }
      if (kind_ == Kind::user) {
        user.insert_or_assign(name_, std::move(value_));
      } else {
        Default& slot = defaults[name_];
        if (!slot.locked) slot = {std::move(value_), kind_ == Kind::locked};
      }
      token_ = lexer_.next(scratch_);
    }
    // A user value stands over the default, unless the default is locked.
    Prefs prefs = std::move(user);
    for (auto& [name, slot] : defaults) {
      if (slot.locked) {
        prefs.insert_or_assign(name, std::move(slot.value));
      } else {
        prefs.try_emplace(name, std::move(slot.value));
      }
    }
    return prefs;
  }

 private:
  enum class Kind { user, preset, locked };

  // Reads one statement into kind_, name_ and value_; false when it isn't
  // one, with token_ where it went wrong.
  bool statement() {
    if (token_.kind != TokenKind::keyword) return false;
    if (token_.keyword == "user_pref") {
      kind_ = Kind::user;
    } else if (token_.keyword == "pref" || token_.keyword == "sticky_pref") {
      kind_ = Kind::preset;
    } else if (token_.keyword == "lockPref") {
      kind_ = Kind::locked;
    } else {
      return false;
    }
    if (!(token_ = lexer_.next(scratch_)).is('(')) return false;
    if ((token_ = lexer_.next(name_)).kind != TokenKind::string) return false;
    if (!(token_ = lexer_.next(scratch_)).is(',')) return false;
    if (!value()) return false;
    // Attributes (", sticky") belong to default prefs files, not this one.
    if (!(token_ = lexer_.next(scratch_)).is(')')) return false;
    return (token_ = lexer_.next(scratch_)).is(';');
  }

  bool value() {
    token_ = lexer_.next(text_);
    switch (token_.kind) {
      case TokenKind::string:
        value_ = text_;
        return true;
      case TokenKind::keyword:
        if (token_.keyword != "true" && token_.keyword != "false") return false;
        value_ = token_.keyword == "true";
        return true;
      case TokenKind::integer:
        return integer(false);
      case TokenKind::punctuation: {
        if (!token_.is('-') && !token_.is('+')) return false;
        const bool negative = token_.is('-');
        token_ = lexer_.next(scratch_);
        return token_.kind == TokenKind::integer && integer(negative);
      }
      default:
        return false;
    }
  }

  // Mozilla keeps integers as 32 bits, signed.
  bool integer(bool negative) {
    const std::int64_t magnitude = token_.integer;
    if (magnitude > (negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1)) return false;
    value_ = negative ? -magnitude : magnitude;
    return true;
  }

  // After an error, Mozilla passes over tokens up to the next ';' (a ';'
  // within a string doesn't count) and starts again after it.
  void recover() {
    while (token_.kind != TokenKind::end && !token_.is(';')) token_ = lexer_.next(scratch_);
    if (token_.is(';')) token_ = lexer_.next(scratch_);
  }

  Lexer lexer_;
  Token token_;
  Kind kind_ = Kind::user;
  std::string name_;
  std::string text_;
  std::string scratch_;
  PrefValue value_;
};

const PrefValue* find(const Prefs& prefs, std::string_view name) {
  const auto found = prefs.find(name);
  return found == prefs.end() ? nullptr : &found->second;
}

const std::string* findString(const Prefs& prefs, std::string_view name) {
  const PrefValue* value = find(prefs, name);
  return value == nullptr ? nullptr : std::get_if<std::string>(value);
}

// How Thunderbird's JavaScript tests a calendar's flag: any non-empty
// string (even "false") and any non-zero number count as set.
bool isSet(const PrefValue* value) {
  if (value == nullptr) return false;
  if (const bool* flag = std::get_if<bool>(value)) return *flag;
  if (const std::int64_t* number = std::get_if<std::int64_t>(value)) return *number != 0;
  return !std::get<std::string>(*value).empty();
}

// The first key of a comma-separated list ("id1, id2"), spaces stripped.
std::string firstOf(std::string_view list) {
  const std::string_view first = list.substr(0, list.find(','));
  std::string key;
  for (const char c : first) {
    if (c != ' ' && c != '\t') key.push_back(c);
  }
  return key;
}

std::string firstIdentityOf(const Prefs& prefs, std::string_view account) {
  const std::string* identities =
      findString(prefs, "mail.account." + std::string(account) + ".identities");
  return identities == nullptr ? std::string() : firstOf(*identities);
}

// The identity Thunderbird takes for a calendar that names none: the
// default account's first, or else the first account's that has one.
std::string defaultIdentity(const Prefs& prefs) {
  if (const std::string* account = findString(prefs, "mail.accountmanager.defaultaccount")) {
    std::string identity = firstIdentityOf(prefs, *account);
    if (!identity.empty()) return identity;
  }
  const std::string* accounts = findString(prefs, "mail.accountmanager.accounts");
  std::string_view rest = accounts == nullptr ? std::string_view() : *accounts;
  while (!rest.empty()) {
    std::string identity = firstIdentityOf(prefs, firstOf(rest));
    if (!identity.empty()) return identity;
    const std::size_t comma = rest.find(',');
    rest.remove_prefix(comma == std::string_view::npos ? rest.size() : comma + 1);
  }
  return {};
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// The local path a file: URI names, percent escapes undone; nothing when it
// names a file on another host or a path no file can have.
std::optional<std::string> localPath(std::string_view uri) {
  std::string_view rest = uri.substr(5);  // after "file:"
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const std::size_t slash = std::min(rest.find('/'), rest.size());
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !(host.size() == 9 && startsWithNoCase(host, "localhost"))) {
      return std::nullopt;
    }
    rest.remove_prefix(slash);
  }
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (!rest.starts_with('/')) return std::nullopt;
  std::string path;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && hexDigit(rest[i + 1]) >= 0 &&
        hexDigit(rest[i + 2]) >= 0) {
      path.push_back(static_cast<char>(hexDigit(rest[i + 1]) * 16 + hexDigit(rest[i + 2])));
      i += 2;
    } else {
      path.push_back(rest[i]);
    }
  }
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return path;
}

}  // namespace

Prefs readPrefs(std::string_view text) { return Statements(text).read(); }

std::vector<Calendar> registeredCalendars(const Prefs& prefs) {
  constexpr std::string_view kRegistry = "calendar.registry.";
  // A calendar's id runs to the first dot after the registry's name.
  std::vector<std::string_view> ids;
  for (auto it = prefs.lower_bound(kRegistry); it != prefs.end(); ++it) {
    const std::string_view name = it->first;
    if (!name.starts_with(kRegistry)) break;
    const std::size_t dot = name.find('.', kRegistry.size());
    if (dot != std::string_view::npos) {
      ids.push_back(name.substr(kRegistry.size(), dot - kRegistry.size()));
    }
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());

  std::optional<std::string> fallbackIdentity;
  std::vector<Calendar> calendars;
  for (const std::string_view id : ids) {
    const std::string branch = std::string(kRegistry) + std::string(id) + ".";
    // Thunderbird drops a registration without a type or a location.
    const std::string* type = findString(prefs, branch + "type");
    const std::string* uri = findString(prefs, branch + "uri");
    if (type == nullptr || type->empty() || uri == nullptr || uri->empty()) continue;
    if (*type == "memory" || isSet(find(prefs, branch + "disabled"))) continue;

    Calendar calendar;
    calendar.id = id;
    const std::string* name = findString(prefs, branch + "name");
    calendar.name = name != nullptr && !name->empty() ? *name : calendar.id;
    const bool cached = isSet(find(prefs, branch + "cache.enabled"));
    if (*type == "storage") {
      calendar.kept = Kept::local;
    } else if (*type == "ics" && startsWithNoCase(*uri, "file:")) {
      const std::optional<std::string> path = localPath(*uri);
      calendar.kept = path ? Kept::file : Kept::nowhere;
      if (path) calendar.file = *path;
    } else if (*type == "ics" || *type == "caldav") {
      calendar.kept = cached ? Kept::cache : Kept::nowhere;
    } else {
      calendar.kept = Kept::cache;  // other providers always keep a copy
    }

    // Who the user is: the identity the calendar names, none when it names
    // the empty one, the default one when it names none.
    const PrefValue* key = find(prefs, branch + "imip.identity.key");
    std::string identity;
    if (key == nullptr) {
      if (!fallbackIdentity) fallbackIdentity = defaultIdentity(prefs);
      identity = *fallbackIdentity;
    } else if (const std::string* named = std::get_if<std::string>(key)) {
      identity = *named;
    }
    if (!identity.empty()) {
      if (const std::string* email =
              findString(prefs, "mail.identity." + identity + ".useremail")) {
        std::string address = ical::addressKey(*email);
        if (!address.empty()) calendar.addresses.insert(std::move(address));
      }
    }
    calendars.push_back(std::move(calendar));
  }
  return calendars;
}

}  // namespace quorvel::calendar::linuxstore::thunderbird
