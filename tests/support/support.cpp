#include "tests/support/support.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "pv_version.h"

extern char** environ;

namespace fs = std::filesystem;

namespace pv::test {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "pv-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave folders without write or search permission behind.
  for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

EnvGuard::EnvGuard(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  if (value)
    setenv(name_.c_str(), value->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

EnvGuard::~EnvGuard() {
  if (old_)
    setenv(name_.c_str(), old_->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

DataDirGuard::DataDirGuard() : env_("PICTORAVINE_DATA_DIR", dir_.str()) {}

cv::Mat gradientImage(int width, int height, int channels) {
  cv::Mat m(height, width, CV_8UC(channels));
  for (int y = 0; y < height; ++y) {
    auto* row = m.ptr<unsigned char>(y);
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        int v = c == 3 ? 255 - (x * 255) / std::max(1, width - 1)
                       : ((x + y * (c + 1)) * 255) / std::max(1, width + height * (c + 1) - 2);
        row[x * channels + c] = static_cast<unsigned char>(v);
      }
  }
  return m;
}

cv::Mat checkerImage(int width, int height, int channels, int cell) {
  cv::Mat m(height, width, CV_8UC(channels));
  for (int y = 0; y < height; ++y) {
    auto* row = m.ptr<unsigned char>(y);
    for (int x = 0; x < width; ++x) {
      bool on = ((x / cell) + (y / cell)) % 2 == 0;
      for (int c = 0; c < channels; ++c)
        row[x * channels + c] = c == 3 ? 255 : static_cast<unsigned char>(on ? 230 - 40 * c : 20 + 30 * c);
    }
  }
  return m;
}

cv::Mat noiseImage(int width, int height, int channels, std::uint32_t seed) {
  cv::Mat m(height, width, CV_8UC(channels));
  std::mt19937 rng(seed);
  for (int y = 0; y < height; ++y) {
    auto* row = m.ptr<unsigned char>(y);
    for (int i = 0; i < width * channels; ++i) row[i] = static_cast<unsigned char>(rng() & 0xFF);
  }
  return m;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::optional<fs::path> corpusDir() {
  std::error_code ec;
  if (const char* env = std::getenv("PICTORAVINE_CORPUS"); env && *env) {
    if (fs::is_directory(env, ec)) return fs::path(env);
    return std::nullopt;
  }
  fs::path p = fs::path(PV_SOURCE_DIR).parent_path() / "shared" / "corpus";
  if (fs::is_directory(p, ec)) return p;
  return std::nullopt;
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv, const std::string& input) {
  // A child that exits without reading its input must not kill the test.
  signal(SIGPIPE, SIG_IGN);
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) || pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC))
    throw std::runtime_error("pipe failed");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    bool replaced = false;
    for (const auto& x : extraEnv)
      if (entry.substr(0, entry.find('=') + 1) == x.substr(0, x.find('=') + 1)) replaced = true;
    if (!replaced) envStore.push_back(entry);
  }
  envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) {
    close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  }

  ProcessResult result;
  size_t written = 0;
  if (input.empty()) {
    close(inPipe[1]);
    inPipe[1] = -1;
  }
  pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {inPipe[1], POLLOUT, 0}};
  int open = 2;
  while (open > 0 || fds[2].fd >= 0) {
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
        char buf[8192];
        ssize_t n = read(fds[i].fd, buf, sizeof buf);
        if (n > 0) {
          (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
        } else {
          close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        }
      }
    }
    if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n =
          (fds[2].revents & POLLOUT) ? write(fds[2].fd, input.data() + written, input.size() - written) : -1;
      if (n > 0) written += static_cast<size_t>(n);
      if (n <= 0 || written == input.size()) {
        close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

Background::Background(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
}

Background::~Background() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  wait();
}

void Background::stop(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

int Background::wait(long* peakKiB) {
  if (pid_ <= 0) return -1;
  int status = 0;
  rusage usage{};
  while (wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (peakKiB) *peakKiB = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace pv::test
