#pragma once
// Helpers for the test suites.

#include <gtest/gtest.h>

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

namespace pv::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // path() / name, as a string.
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable for the guard's lifetime, then restores the old
// value (or its absence).
class EnvGuard {
 public:
  EnvGuard(std::string name, const std::optional<std::string>& value);
  ~EnvGuard();
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Points PICTORAVINE_DATA_DIR at a fresh temporary data folder.
class DataDirGuard {
 public:
  DataDirGuard();
  const std::filesystem::path& path() const { return dir_.path(); }
  std::string str() const { return dir_.str(); }
  std::string file(const std::string& name) const { return dir_.file(name); }

 private:
  TempDir dir_;
  EnvGuard env_;
};

// Synthetic pictures in the engine's layout (8 bits a channel; 1 = grey,
// 3 = B G R, 4 = B G R A). Each is fully determined by its arguments.
cv::Mat gradientImage(int width, int height, int channels);
cv::Mat checkerImage(int width, int height, int channels, int cell);
cv::Mat noiseImage(int width, int height, int channels, std::uint32_t seed);

// The shared corpus of real test images (PICTORAVINE_CORPUS, else
// ../shared/corpus beside the source tree), when it exists.
std::optional<std::filesystem::path> corpusDir();

// Skips the current test, with a message, when the corpus is absent; else
// evaluates to its path.
#define PV_REQUIRE_CORPUS(var)                                                       \
  auto var##_opt = ::pv::test::corpusDir();                                          \
  if (!var##_opt) GTEST_SKIP() << "image corpus not found (set PICTORAVINE_CORPUS)"; \
  const std::filesystem::path var = *var##_opt

// The whole content of a file (empty when it cannot be read).
std::string readFile(const std::string& path);
// Writes `bytes` as the whole content of a file.
void writeFile(const std::string& path, const std::string& bytes);

struct ProcessResult {
  int exitCode = -1;  // 128 + signal number when the process was killed
  std::string out;
  std::string err;
};

// Runs `program` with `args`, extra environment entries "NAME=value" and the
// given standard input, and collects its output.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv = {}, const std::string& input = {});

// A program started in the background, its output thrown away: `stop`
// sends it a signal, `wait` gives its exit code (128 + signal number when a
// signal ended it) and its peak resident memory in KiB. Its destructor
// kills and reaps a child still running.
class Background {
 public:
  Background(const std::string& program, const std::vector<std::string>& args);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  void stop(int signal);
  int wait(long* peakKiB = nullptr);

 private:
  pid_t pid_ = -1;
};

}  // namespace pv::test
