#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace quorvel::testing {
namespace {

std::string readAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, got);
  }
  return text;
}

std::vector<std::string> childEnvironment(const std::map<std::string, std::string>& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (!changes.contains(name)) result.push_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (!value.empty()) result.push_back(name + "=" + value);
  }
  return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::string toolPath() { return QUORVEL_TOOL_PATH; }

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env = childEnvironment(options.environment);
  std::vector<char*> argPointers = pointersTo(args);
  std::vector<char*> envPointers = pointersTo(env);

  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (out == nullptr || err == nullptr) throw std::runtime_error("no temporary files");
  // The child gets these as its descriptors 1 and 2, and no others.
  ::fcntl(fileno(out), F_SETFD, FD_CLOEXEC);
  ::fcntl(fileno(err), F_SETFD, FD_CLOEXEC);
  int outFd = fileno(out);
  int pipeFds[2] = {-1, -1};
  if (options.output == StdoutMode::full) outFd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (options.output == StdoutMode::brokenPipe) {
    if (::pipe(pipeFds) != 0) throw std::runtime_error("no pipe");
    ::fcntl(pipeFds[1], F_SETFD, FD_CLOEXEC);
    ::close(pipeFds[0]);
    outFd = pipeFds[1];
  }
  if (options.output == StdoutMode::slowNonBlockingPipe) {
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    ::fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
    ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    outFd = pipeFds[1];
  }
  // Make the child's view of the handles writable even for tests that drop
  // privileges.
  ::fchmod(fileno(out), 0666);
  ::fchmod(fileno(err), 0666);

  const pid_t child = ::fork();
  if (child == 0) {
    if (options.output == StdoutMode::closed) {
      ::close(1);
    } else {
      ::dup2(outFd, 1);
    }
    ::dup2(fileno(err), 2);
    if (options.groupId >= 0) {
      ::setgroups(0, nullptr);
      if (::setgid(static_cast<gid_t>(options.groupId)) != 0) ::_exit(126);
    }
    if (options.userId >= 0 && ::setuid(static_cast<uid_t>(options.userId)) != 0) ::_exit(126);
    ::execve(argPointers[0], argPointers.data(), envPointers.data());
    ::_exit(127);
  }
  if (pipeFds[1] >= 0) ::close(pipeFds[1]);
  if (options.output == StdoutMode::full) ::close(outFd);

  ProcessResult result;
  if (options.output == StdoutMode::slowNonBlockingPipe) {
    char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1) result.out.push_back(byte);
    ::close(pipeFds[0]);
  }
  int waitStatus = 0;
  ::waitpid(child, &waitStatus, 0);
  result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  if (options.output != StdoutMode::slowNonBlockingPipe) result.out = readAll(out);
  result.err = readAll(err);
  std::fclose(out);
  std::fclose(err);
  return result;
}

}  // namespace quorvel::testing
