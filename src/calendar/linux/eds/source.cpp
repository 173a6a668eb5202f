#include "calendar/linux/eds/source.h"

#include <future>
#include <system_error>
#include <utility>

#include "calendar/calendar.h"
#include "calendar/ical/problem.h"
#include "calendar/linux/eds/calendars.h"
#include "calendar/linux/eds/library.h"

namespace quorvel::calendar::linuxstore::eds {
namespace {

class EdsSource final : public Source {
 public:
  EdsSource(std::filesystem::path evolutionConfig, std::filesystem::path evolutionCache)
      : evolutionConfig_(std::move(evolutionConfig)), evolutionCache_(std::move(evolutionCache)) {}

  // EDS's library is loaded here, before any file of another source is open.
  void start(const Window& window) override {
    if (!mayAsk(evolutionConfig_)) return;
    const Library library = loadLibrary();
    if (library.functions == nullptr) {
      if (library.problem.empty()) return;  // not installed: the other sources alone
      std::promise<Reply> unusable;
      unusable.set_value({{}, {}, library.problem});
      reply_ = unusable.get_future();
      return;
    }
    try {
      reply_ = std::async(std::launch::async, readCalendars, std::cref(*library.functions), window,
                          evolutionCache_.empty() ? evolutionCache_ : evolutionCache_ / "calendar",
                          Limits{});
    } catch (const std::system_error& failure) {
      throw IncompleteRead(std::string("cannot start a thread for Evolution Data Server: ") +
                           failure.what());
    }
  }

  void gather(const Window&, const ical::Addresses& storeAddresses, Gathering& gathering) override {
    if (!reply_.valid()) return;
    const auto reply = std::make_shared<const Reply>(reply_.get());
    if (reply->problem) gathering.say({}, *reply->problem);
    const ical::Addresses identities(reply->userAddresses.begin(), reply->userAddresses.end());
    for (const Calendar& calendar : reply->calendars) {
      for (const std::string& note : calendar.notes) {
        gathering.say({calendar.uid, ""}, ical::lineAbout(calendar.subject(), note));
      }
      if (calendar.problem) {
        gathering.say({calendar.uid, ""}, ical::lineAbout(calendar.subject(), *calendar.problem));
        continue;
      }
      ical::Addresses own = identities;
      own.insert(calendar.addresses.begin(), calendar.addresses.end());
      auto addresses =
          std::make_shared<const ical::Addresses>(ical::userAddresses(own, storeAddresses));
      gathering.hand([reply, &calendar, addresses = std::move(addresses)](Reading& reading) {
        const std::string subject = calendar.subject();
        for (const EventText& event : calendar.events) {
          reading.read(
              {event.text, *addresses, true},
              [&] {
                return Place{calendar.uid, event.uid};
              },
              [&] { return subject + ", event " + event.uid; });
        }
      });
    }
  }

 private:
  std::filesystem::path evolutionConfig_;  // empty: EDS is not asked
  std::filesystem::path evolutionCache_;   // empty: its caches are not read
  std::future<Reply> reply_;
};

}  // namespace

std::unique_ptr<Source> edsSource(std::filesystem::path evolutionConfig,
                                  std::filesystem::path evolutionCache) {
  return std::make_unique<EdsSource>(std::move(evolutionConfig), std::move(evolutionCache));
}

}  // namespace quorvel::calendar::linuxstore::eds
