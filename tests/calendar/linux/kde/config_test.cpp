// KDE's local calendar resources and identities, from settings files in a
// temporary config folder.
#include "calendar/linux/kde/config.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "support/temp_store.h"

namespace quorvel::calendar::linuxstore::kde {
namespace {
namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;

// The config folder's files ("$" in a text stands for the folder), and the
// environment: HOME is the folder, CAL is /srv/cal.
struct Config {
  testing::TempStore temp;
  std::string lines;

  explicit Config(const Files& files) {
    for (const auto& [relative, text] : files) {
      fs::create_directories((home() / relative).parent_path());
      std::ofstream(home() / relative, std::ios::binary) << withHome(text);
    }
  }
  const fs::path& home() const { return temp.dataHome(); }
  std::string withHome(std::string text) const {
    for (std::size_t at = 0; (at = text.find("$/", at)) != std::string::npos;) {
      text.replace(at, 1, home());
      at += home().native().size();
    }
    return text;
  }
  Variable variable() const {
    return [this](std::string_view name) -> std::optional<std::string> {
      if (name == "HOME") return home().string();
      if (name == "CAL") return "/srv/cal";
      return std::nullopt;
    };
  }
  std::function<void(std::string)> say() {
    return [this](std::string line) { lines += line + "\n"; };
  }
};

TEST(KdeConfig, ListsTheLocalIcalResources) {
  const std::string agents =
      "[General]\n\n[Instances]\nakonadi_ical_resource_0\\AgentType=akonadi_ical_resource\n"
      "akonadi_icaldir_resource_2\\AgentType=akonadi_icaldir_resource\n"
      "akonadi_birthdays_resource\\AgentType=akonadi_birthdays_resource\n"
      "; akonadi_ical_resource_9\\AgentType=akonadi_ical_resource\n";
  const std::string ical = "akonadi_ical_resource_";
  const auto listing = [&ical](const std::string& n) {
    return ical + n + "\\AgentType=akonadi_ical_resource\n";
  };
  struct Case {
    const char* what;
    Files files;
    std::vector<std::string> found;  // instance, kind and path of each
    std::string lines;
  };
  const Case cases[] = {
      {"an ical file and an icaldir folder, $HOME and ${VAR} expanded",
       {{"akonadi/agentsrc", agents},
        {ical + "0rc", "[General]\nDisplayName=Mine\nPath[$e]=$HOME/.local/share/k.ics\n"},
        {"akonadi_icaldir_resource_2rc", "# folder\n[General]\nPath = ${CAL}/dir\\s\n"},
        {"akonadi_birthdays_resourcerc", "[General]\nPath=/b.ics\n"},
        {ical + "9rc", "[General]\nPath=/unlisted.ics\n"}},
       {ical + "0 file $/.local/share/k.ics", "akonadi_icaldir_resource_2 folder /srv/cal/dir "},
       ""},
      {"lines for the unusable, the others still listed",
       {{"akonadi/agentsrc", "[Instances]\n" + listing("1") + listing("2") + listing("3") + ical +
                                 "4\\AgentType=\"akonadi_ical_resource\"\n" + listing("5") +
                                 listing("6") + listing("7")},
        {ical + "1rc", "[General]\nPath[$e]=$(cat /etc/passwd)/x.ics\n"},
        {ical + "3rc", "[General]\nReadOnly=true\n[Other]\nPath=/o.ics\n"},
        {ical + "4rc", "[General]\nPath[$e]=file://$HOME/My%20Calendar.ics\nPath[de]=/de.ics\n"},
        {ical + "5rc", "[General]\nPath=https://example.org/c.ics\n"},
        {ical + "6rc", "[General]\nPath=cal.ics\n"},
        {ical + "7rc", "[General]\nPath=/first.ics\nPath=/second.ics\n"}},
       {ical + "4 file $/My Calendar.ics", ical + "7 file /second.ics"},
       "$/" + ical + "1rc: [General] Path would run a command ($(…)), which is never done\n" +
           "$/" + ical + "2rc: not found, so " + ical + "2 is not read\n" + "$/" + ical +
           "3rc: [General] Path is not set\n" + "$/" + ical +
           "5rc: [General] Path is a https: URL, not a local file\n" + "$/" + ical +
           "6rc: [General] Path is not an absolute path\n"},
      {"no agentsrc", {{ical + "0rc", "[General]\nPath=/a.ics\n"}}, {}, ""},
      {"an agentsrc that is not text",
       {{"akonadi/agentsrc", std::string("[Inst\0", 6)}},
       {},
       "$/akonadi/agentsrc: not a text file\n"},
  };
  for (const Case& c : cases) {
    Config config(c.files);
    std::vector<std::string> found;
    for (const Resource& r : localResources(config.home(), config.variable(), config.say())) {
      found.push_back(r.instance + (r.kind == Resource::Kind::file ? " file " : " folder ") +
                      r.path.string());
    }
    std::vector<std::string> expected;
    for (const std::string& line : c.found) expected.push_back(config.withHome(line));
    EXPECT_EQ(found, expected) << c.what;
    EXPECT_EQ(config.lines, config.withHome(c.lines)) << c.what;
  }
}

TEST(KdeConfig, TakesTheIdentitiesAddressesAndAliases) {
  Config config(
      Files{{"emailidentities",
             "[General]\nDefault Identity=1\n\n[Identity #0]\nEmail Address=Me@Example.org\n"
             "Email Aliases=old@example.org,\"odd\\,one\"@example.org, mailto:Third@x.org\n"
             "Email Address[de]=de@example.org\n\n[Identity #1]\n"
             "Email Address[$e]=${USER}home@example.org\nEmail Aliases[$e]=$(id -un)@x.org\n"
             "[Identity #1][Signature]\nEmail Address=sig@example.org\n"
             "[Identity]\nEmail Address=nobody@example.org\n"}});
  const ical::Addresses found = identityAddresses(config.home(), config.variable(), config.say());
  EXPECT_EQ(found, (ical::Addresses{"me@example.org", "old@example.org", "\"odd,one\"@example.org",
                                    "third@x.org", "home@example.org"}));
  EXPECT_EQ(config.lines,
            config.withHome("$/emailidentities: [Identity #1] Email Aliases would run "
                            "a command ($(…)), which is never done\n"));

  Config none(Files{});
  EXPECT_TRUE(identityAddresses(none.home(), none.variable(), none.say()).empty());
  EXPECT_EQ(none.lines, "");
}

}  // namespace
}  // namespace quorvel::calendar::linuxstore::kde
