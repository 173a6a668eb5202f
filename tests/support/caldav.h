// A CalDAV server on a loopback port (Radicale, Debian: python3-radicale) holding
// one calendar, and a relay in front of it that passes its answers on,
// holds them back, or swallows them, as a slow or dead server would.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_store.h"

namespace quorvel::testing {

// Radicale serving the calendar collection /<calendar>/ (e.g. "me/work")
// holding `items`, each one VCALENDAR text, to anyone without a login, from a
// temporary folder. Its log goes to a file there. Stopped with the object.
class CalDavServer {
 public:
  CalDavServer(const std::string& calendar, const std::vector<std::string>& items);
  ~CalDavServer();
  CalDavServer(const CalDavServer&) = delete;
  CalDavServer& operator=(const CalDavServer&) = delete;

  // Whether Radicale is installed; without it no server starts.
  static bool available();
  // Whether the server took connections within its start-up time.
  bool running() const { return running_; }
  int port() const { return port_; }
  // What Radicale logged, for a failure's message.
  std::string log() const;

 private:
  void stop();

  TempStore folder_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool running_ = false;
};

// A TCP relay from a loopback port of its own to `serverPort`, served by a
// thread of its own until the object goes.
class Relay {
 public:
  enum class Mode {
    pass,    // both ways as they come
    delay,   // each piece of the server's answer held for the delay first
    silent,  // connections taken and read, never answered nor passed on
  };

  explicit Relay(int serverPort);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  int port() const { return port_; }
  // For the connections taken from now on; those already open keep theirs.
  void setMode(Mode mode, std::chrono::milliseconds delay = {});

 private:
  void serve();

  int serverPort_;
  int port_ = 0;
  int listener_ = -1;
  int stop_ = -1;  // an eventfd that ends the thread
  std::mutex mutex_;
  Mode mode_ = Mode::pass;
  std::chrono::milliseconds delay_{};
  std::thread thread_;
};

}  // namespace quorvel::testing
