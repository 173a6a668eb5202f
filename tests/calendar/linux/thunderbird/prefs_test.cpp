// The calendars a prefs.js registers, where their events are kept, and who
// the user is in each.
#include "calendar/linux/thunderbird/prefs.h"

#include <gtest/gtest.h>

namespace quorvel::calendar::linuxstore::thunderbird {
namespace {

using Pairs = std::initializer_list<std::pair<const char*, const char*>>;
const Pairs kStorage = {{"type", "\"storage\""}, {"uri", "\"moz-storage-calendar://\""}};

// user_pref statements for calendar `id`: each a key and its value in prefs.js.
std::string registry(const std::string& id, Pairs prefs, Pairs more = {}) {
  std::string text;
  for (const Pairs& list : {prefs, more}) {
    for (const auto& [key, value] : list) {
      text += "user_pref(\"calendar.registry." + id + "." + key + "\", " + value + ");\n";
    }
  }
  return text;
}

std::vector<std::string> shown(const std::string& text) {
  const char* const kept[] = {"local", "file", "cache", "nowhere"};
  std::vector<std::string> shown;
  for (const Calendar& c : registeredCalendars(readPrefs(text))) {
    std::string line = c.id + " " + c.name + " " + kept[static_cast<int>(c.kept)];
    if (c.kept == Kept::file) line.append(" ").append(c.file.string());
    shown.push_back(std::move(line));
  }
  return shown;
}

TEST(ThunderbirdPrefs, ListsRegisteredCalendarsWhereTheyAreKept) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {registry("b", {{"type", "\"caldav\""}, {"uri", "\"https://d.example/b/\""}},
                {{"cache.enabled", "true"}}) +
           registry("a", kStorage, {{"name", "\"Home\""}}) +
           registry("c", {{"type", "\"caldav\""}, {"uri", "\"https://d.example/c/\""}}) +
           registry("d", {{"type", "\"ics\""}, {"uri", "\"file:///home/u/My%20Cal.ics\""}}) +
           registry("e", {{"type", "\"ics\""}, {"uri", "\"http://e.example/e.ics\""}},
                    {{"cache.enabled", "\"true\""}}) +
           registry("f", {{"type", "\"gdata\""}, {"uri", "\"googleapi://me\""}}) +
           registry("g", {{"type", "\"memory\""}, {"uri", "\"moz-memory-calendar://\""}}) +
           registry("h", kStorage, {{"disabled", "true"}}) +
           registry("i", kStorage, {{"disabled", "\"true\""}}) +
           registry("j", {{"uri", "\"moz-storage-calendar://\""}}) +
           registry("k", {{"type", "\"ics\""}, {"uri", "\"file://otherhost/k.ics\""}}),
       {"a Home local", "b b cache", "c c nowhere", "d d file /home/u/My Cal.ics", "e e cache",
        "f f cache", "k k nowhere"}},
      {R"js(# user_pref("calendar.registry.x.type", "storage");
// user_pref("calendar.registry.y.type", "storage");
/* user_pref("calendar.registry.z.type", "storage"); */
user_pref("calendar.registry.a.type", 'storage');
user_pref("calendar.registry.a.uri", "moz-storage-calendar://");
user_pref("calendar.registry.a.name", "Caf\u00e9 \"\ud83d\ude00\" \x41\\");
user_pref("calendar.registry.a.name", "bad \t escape");
user_pref("calendar.registry.b.type", "ics"); user_pref("calendar.registry.b.uri",
  "file://localhost/tmp/\u00e9t\u00e9%2520x.ics");
user_pref("calendar.registry.b.disabled", false); pref("calendar.registry.b.disabled", true);
user_pref("calendar.registry.c.type" "storage");
user_pref("calendar.registry.c.uri", "moz-storage-calendar://");
)js",
       {"a Caf\xC3\xA9 \"\xF0\x9F\x98\x80\" A\\ local", "b b file /tmp/\xC3\xA9t\xC3\xA9%20x.ics"}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(shown(text), expected) << text;
}

// A calendar's identity key names the identity; without one, the default
// account's first identity (or the first account's that has one) is taken;
// an empty one names nobody.
TEST(ThunderbirdPrefs, TakesTheUsersAddressFromTheCalendarsIdentity) {
  const std::string prefs = registry("k", kStorage, {{"imip.identity.key", "\"id1\""}}) +
                            registry("n", kStorage) +
                            registry("e", kStorage, {{"imip.identity.key", "\"\""}}) +
                            R"(user_pref("mail.account.account2.identities", "id2, id1");
user_pref("mail.account.account3.identities", "id3");
user_pref("mail.identity.id1.useremail", "Alice@Example.COM");
user_pref("mail.identity.id2.useremail", "bob@example.com");
user_pref("mail.identity.id3.useremail", "carol@example.com");
)";
  const std::pair<std::string, const char*> cases[] = {
      {R"(user_pref("mail.accountmanager.defaultaccount", "account2");)", "bob@example.com"},
      {R"(user_pref("mail.accountmanager.accounts", "account1, account3");)", "carol@example.com"},
  };
  for (const auto& [accounts, fallback] : cases) {
    const auto found = registeredCalendars(readPrefs(prefs + accounts));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].addresses, ical::Addresses{}) << accounts;
    EXPECT_EQ(found[1].addresses, ical::Addresses{"alice@example.com"}) << accounts;
    EXPECT_EQ(found[2].addresses, ical::Addresses{fallback}) << accounts;
  }
}

}  // namespace
}  // namespace quorvel::calendar::linuxstore::thunderbird
