#include "support/caldav.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>
#include <utility>

#include "support/process.h"

namespace quorvel::testing {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// A socket listening on a loopback port the system picks, and that port.
std::pair<int, int> listenOnLoopback() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(fd, 64) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size)) {
    if (fd >= 0) ::close(fd);
    return {-1, 0};
  }
  return {fd, ntohs(address.sin_port)};
}

// A connection to the loopback `port`, or -1.
int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = loopback(port);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return fd;
  }
  if (fd >= 0) ::close(fd);
  return -1;
}

void pause(std::chrono::milliseconds time) { ::poll(nullptr, 0, static_cast<int>(time.count())); }

}  // namespace

bool CalDavServer::available() {
  static const bool importable = runProcess({QUORVEL_PYTHON3, "-c", "import radicale"}).status == 0;
  return importable;
}

CalDavServer::CalDavServer(const std::string& calendar, const std::vector<std::string>& items) {
  if (!available()) return;
  // Radicale's own layout: a collection is a folder whose properties name
  // its kind, an item a file in it.
  const std::string collection = "collection-root/" + calendar + "/";
  folder_.write(collection + ".Radicale.props", R"({"tag": "VCALENDAR"})");
  for (std::size_t i = 0; i < items.size(); ++i) {
    folder_.write(collection + std::to_string(i) + ".ics", items[i]);
  }
  // The port is free when picked and taken by Radicale a moment later: one
  // that someone took in between costs another try.
  for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
    const auto [fd, port] = listenOnLoopback();
    if (fd < 0) return;
    ::close(fd);
    port_ = port;
    const std::filesystem::path config = folder_.dataHome() / "config";
    // Without authentication everyone is the anonymous user, whom the
    // "authenticated" rights then let read and write every calendar.
    std::ofstream(config) << "[server]\nhosts = 127.0.0.1:" << port_
                          << "\n[auth]\ntype = none\n[rights]\ntype = authenticated\n"
                             "[storage]\nfilesystem_folder = "
                          << folder_.root().string()
                          << "\n[web]\ntype = none\n[logging]\nlevel = warning\n";
    const std::string log = (folder_.dataHome() / "log").string();
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      const int none = ::open("/dev/null", O_RDONLY);
      if (out < 0 || none < 0 || ::dup2(none, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) {
        ::_exit(126);
      }
      ::execl(QUORVEL_PYTHON3, QUORVEL_PYTHON3, "-m", "radicale", "--config", config.c_str(),
              nullptr);
      ::_exit(127);
    }
    if (pid_ < 0) return;
    // Python takes a moment to start: polled, for 15 s at most.
    for (int waited = 0; waited < 750 && !running_; ++waited) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      const int fd = connectTo(port_);
      running_ = fd >= 0;
      if (running_) ::close(fd);
      if (!running_) pause(std::chrono::milliseconds(20));
    }
    if (!running_) stop();
  }
}

CalDavServer::~CalDavServer() { stop(); }

void CalDavServer::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string CalDavServer::log() const {
  std::ifstream file(folder_.dataHome() / "log");
  return {std::istreambuf_iterator<char>(file), {}};
}

namespace {

// One connection through the relay. What the client sends goes to the
// server as it comes; each piece of the server's answer waits in `answers`
// until its time. A silent link has no server.
struct Link {
  int client = -1;
  bool silent = false;
  std::chrono::milliseconds delay{};
  int server = -1;      // none once it has ended
  std::string request;  // from the client, not yet written to the server
  std::deque<std::pair<Clock::time_point, std::string>> answers;
  bool clientEnded = false;
  bool serverTold = false;  // that the client has ended
  bool closed = false;
};

// What is held per link at most: beyond it, the sender isn't read.
constexpr std::size_t kRequestHeld = 1 << 20;
constexpr std::size_t kAnswersHeld = 64;  // pieces of 16 KiB at most
constexpr std::size_t kLinks = 64;

// Reads one piece of what `fd` has into `into`; false at its end or on a
// failure.
bool readInto(int fd, std::string& into) {
  char buffer[16384];
  const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (got > 0) into.append(buffer, static_cast<std::size_t>(got));
  return got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR));
}

// Writes what `fd` takes of `text` and drops it from there; false on a
// failure.
bool writeFrom(int fd, std::string& text) {
  const ssize_t put = ::send(fd, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (put > 0) text.erase(0, static_cast<std::size_t>(put));
  return put >= 0 || errno == EAGAIN || errno == EINTR;
}

// What `link` does with what poll found on its two sockets.
void step(Link& link, short clientEvents, short serverEvents, Clock::time_point now) {
  const short ended = POLLHUP | POLLERR;
  if (!link.clientEnded && (clientEvents & (POLLIN | ended)) != 0) {
    link.clientEnded = !readInto(link.client, link.request);
    if (link.server < 0) link.request.clear();  // silent: heard, never answered
    link.closed = link.clientEnded && link.silent;
  } else if ((clientEvents & ended) != 0) {
    link.closed = true;
  }
  if ((serverEvents & POLLOUT) != 0 && !writeFrom(link.server, link.request)) link.closed = true;
  if (link.clientEnded && link.request.empty() && link.server >= 0 && !link.serverTold) {
    link.serverTold = true;
    ::shutdown(link.server, SHUT_WR);
  }
  if ((serverEvents & (POLLIN | ended)) != 0) {
    std::string piece;
    const bool open = readInto(link.server, piece);
    if (!piece.empty()) link.answers.emplace_back(now + link.delay, std::move(piece));
    if (!open) {
      ::close(link.server);  // nothing more to pass on to it
      link.server = -1;
      link.request.clear();
    }
  }
  if ((clientEvents & POLLOUT) != 0 && !link.answers.empty()) {
    if (!writeFrom(link.client, link.answers.front().second)) link.closed = true;
    if (link.answers.front().second.empty()) link.answers.pop_front();
  }
  // A server that has ended, once all it said is passed on, ends the link;
  // so does a silent link's client (above).
  if (!link.silent && link.server < 0 && link.answers.empty()) link.closed = true;
}

}  // namespace

Relay::Relay(int serverPort) : serverPort_(serverPort) {
  std::tie(listener_, port_) = listenOnLoopback();
  stop_ = ::eventfd(0, EFD_CLOEXEC);
  if (listener_ >= 0 && stop_ >= 0) thread_ = std::thread([this] { serve(); });
}

Relay::~Relay() {
  const std::uint64_t one = 1;
  if (thread_.joinable() && ::write(stop_, &one, sizeof one) == sizeof one) thread_.join();
  if (thread_.joinable()) thread_.detach();  // can't be told to end: left to the process's end
  if (stop_ >= 0) ::close(stop_);
  if (listener_ >= 0) ::close(listener_);
}

void Relay::setMode(Mode mode, std::chrono::milliseconds delay) {
  const std::lock_guard lock(mutex_);
  mode_ = mode;
  delay_ = delay;
}

void Relay::serve() {
  std::vector<Link> links;
  std::vector<pollfd> fds;
  for (;;) {
    const auto now = Clock::now();
    int timeout = -1;
    fds.assign({{stop_, POLLIN, 0},
                {listener_, static_cast<short>(links.size() < kLinks ? POLLIN : 0), 0}});
    for (const Link& link : links) {
      bool due = false;
      if (!link.answers.empty()) {
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(link.answers.front().first - now);
        due = wait.count() <= 0;
        if (!due && (timeout < 0 || wait.count() < timeout))
          timeout = static_cast<int>(wait.count());
      }
      const bool hearing = !link.clientEnded && link.request.size() < kRequestHeld;
      fds.push_back(
          {link.client, static_cast<short>((hearing ? POLLIN : 0) | (due ? POLLOUT : 0)), 0});
      fds.push_back({link.server,
                     static_cast<short>((link.answers.size() < kAnswersHeld ? POLLIN : 0) |
                                        (link.request.empty() ? 0 : POLLOUT)),
                     0});
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) break;
    for (std::size_t i = 0; i < links.size(); ++i) {
      step(links[i], fds[2 + 2 * i].revents, fds[3 + 2 * i].revents, Clock::now());
    }
    std::erase_if(links, [](const Link& link) {
      if (!link.closed) return false;
      ::close(link.client);
      if (link.server >= 0) ::close(link.server);
      return true;
    });
    if ((fds[1].revents & POLLIN) == 0) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    Link link;
    link.client = client;
    {
      const std::lock_guard lock(mutex_);
      link.silent = mode_ == Mode::silent;
      if (mode_ == Mode::delay) link.delay = delay_;
    }
    if (!link.silent && (link.server = connectTo(serverPort_)) < 0) {
      ::close(client);
      continue;
    }
    links.push_back(std::move(link));
  }
  for (const Link& link : links) {
    ::close(link.client);
    if (link.server >= 0) ::close(link.server);
  }
}

}  // namespace quorvel::testing
