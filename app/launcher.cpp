#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "app/ports.h"

extern char** environ;

namespace pv::app {

bool SpawnLauncher::open(const std::string& pathOrUrl) { return start("xdg-open", {pathOrUrl}); }

namespace {

// Starts `program` (looked up on PATH) with `args`; 0 when it could not start.
pid_t spawn(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0 ? pid : 0;
}

// Waits for `pid` to end; its exit status, or -1.
int waitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool SpawnLauncher::start(const std::string& program, const std::vector<std::string>& args) {
  const pid_t pid = spawn(program, args);
  if (pid == 0) return false;
  // Nobody waits for a started program, so a thread reaps it when it ends
  // and no zombie stays behind.
  std::thread([pid] { waitFor(pid); }).detach();
  return true;
}

bool runToSuccess(const std::string& program, const std::vector<std::string>& args) {
  const pid_t pid = spawn(program, args);
  return pid != 0 && waitFor(pid) == 0;
}

}  // namespace pv::app
