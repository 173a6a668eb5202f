// A reading thread's side of the store: how every item is read, whatever its
// source, and what the thread keeps of it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "calendar/ical/file.h"
#include "calendar/linux/merge.h"
#include "calendar/linux/source/source.h"

namespace quorvel::calendar::linuxstore {

// What one reading thread gives its work, and keeps: only what items gave,
// so that memory grows with the events listed, not with the items read, and
// of the occurrences of sub-daily events little more than a run lists. Used
// by its thread alone.
class ThreadReading final : public Reading {
 public:
  explicit ThreadReading(const Window& window) : window_(window) {}

  // The source whose work this thread runs next, by its rank in the store.
  void startWorkOf(std::size_t source) { source_ = source; }

  const Window& window() const override { return window_; }
  ical::ReadBuffer& buffer() override { return buffer_; }
  void read(const Item& item, const std::function<Place()>& place,
            const std::function<std::string()>& subject) override;
  void say(Place place, std::string line) override {
    sayFor(source_, std::move(place), std::move(line));
  }
  // The same, for `source`'s line.
  void sayFor(std::size_t source, Place place, std::string line);

  // What the thread kept, and whether occurrences of sub-daily events were
  // left out for the run's cap.
  std::vector<Outcome>& kept() { return kept_; }
  bool subDailyCut() const { return subDailyCut_; }

 private:
  void keep(Outcome outcome);

  const Window& window_;
  std::size_t source_ = 0;
  ical::ReadBuffer buffer_;
  std::vector<Outcome> kept_;
  std::size_t subDaily_ = 0;  // occurrences of sub-daily events among those kept
  bool subDailyCut_ = false;
};

}  // namespace quorvel::calendar::linuxstore
