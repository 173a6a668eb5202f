#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

extern char** environ;

namespace quorvel::testing {
namespace {

// Everything written to `file`, which is then closed.
std::string readAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

}  // namespace

std::string toolPath() { return QUORVEL_TOOL_PATH; }

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (!options.environment.contains(text.substr(0, text.find('=')))) env.push_back(text);
  }
  for (const auto& [name, value] : options.environment) {
    if (!value.empty()) env.push_back(name + "=" + value);
  }
  std::vector<char*> args;
  std::vector<char*> envs;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  for (std::string& entry : env) envs.push_back(entry.data());
  args.push_back(nullptr);
  envs.push_back(nullptr);

  // The child gets these as its descriptors 1 and 2, and no others, writable
  // even when it drops privileges.
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  for (std::FILE* file : {out, err}) {
    ::fcntl(fileno(file), F_SETFD, FD_CLOEXEC);
    ::fchmod(fileno(file), 0666);
  }
  int outFd = fileno(out);
  int pipeFds[2] = {-1, -1};
  const bool slow = options.output == StdoutMode::slowNonBlockingPipe;
  if (options.output == StdoutMode::full) outFd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (slow || options.output == StdoutMode::brokenPipe) {
    ::pipe2(pipeFds, O_CLOEXEC);
    outFd = pipeFds[1];
  }
  if (options.output == StdoutMode::brokenPipe) ::close(pipeFds[0]);
  if (slow) {
    ::fcntl(outFd, F_SETPIPE_SZ, 4096);
    ::fcntl(outFd, F_SETFL, O_NONBLOCK);
  }

  const pid_t child = ::fork();
  if (child == 0) {
    if (options.output == StdoutMode::closed) ::close(1);
    if (options.output != StdoutMode::closed) ::dup2(outFd, 1);
    ::dup2(fileno(err), 2);
    if (options.groupId >= 0) {
      ::setgroups(0, nullptr);
      if (::setgid(static_cast<gid_t>(options.groupId)) != 0) ::_exit(126);
    }
    if (options.userId >= 0 && ::setuid(static_cast<uid_t>(options.userId)) != 0) ::_exit(126);
    ::execve(args[0], args.data(), envs.data());
    ::_exit(127);
  }
  if (outFd != fileno(out)) ::close(outFd);

  ProcessResult result;
  for (char byte = 0; slow && ::read(pipeFds[0], &byte, 1) == 1;) result.out.push_back(byte);
  if (slow) ::close(pipeFds[0]);
  // Waited for through a descriptor that becomes readable when it ends.
  if (const int ended = static_cast<int>(::syscall(SYS_pidfd_open, child, 0)); ended >= 0) {
    pollfd ending{ended, POLLIN, 0};
    if (::poll(&ending, 1, static_cast<int>(options.timeLimit.count())) == 0) {
      ::kill(child, SIGKILL);
    }
    ::close(ended);
  }
  int waitStatus = 0;
  ::waitpid(child, &waitStatus, 0);
  result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  if (!slow) result.out = readAll(out);
  if (slow) std::fclose(out);
  result.err = readAll(err);
  return result;
}

}  // namespace quorvel::testing
