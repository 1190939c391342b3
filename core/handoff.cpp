#include "core/handoff.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "core/paths.h"

namespace fs = std::filesystem;

namespace pv {

namespace {

constexpr std::string_view kPrefix = "pictoravine-";
constexpr std::string_view kSuffix = ".dat";
constexpr std::size_t kRandomChars = 6;  // mkstemps' XXXXXX

bool handOffName(std::string_view name) {
  if (name.size() != kPrefix.size() + kRandomChars + kSuffix.size()) return false;
  if (name.substr(0, kPrefix.size()) != kPrefix || name.substr(name.size() - kSuffix.size()) != kSuffix)
    return false;
  for (char c : name.substr(kPrefix.size(), kRandomChars))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  return true;
}

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<std::string> writeHandOffList(const std::vector<std::string>& paths) {
  std::string name = dataFolder() + "/" + std::string(kPrefix) + std::string(kRandomChars, 'X') + std::string(kSuffix);
  const int fd = ::mkstemps(name.data(), static_cast<int>(kSuffix.size()));
  if (fd < 0) return std::nullopt;
  std::string text;
  for (const std::string& p : paths) text += p + "\n";
  const bool ok = writeAll(fd, text);
  if (::close(fd) != 0 || !ok) {
    ::unlink(name.c_str());
    return std::nullopt;
  }
  return name;
}

bool isHandOffList(const std::string& path) {
  const fs::path p(path);
  std::error_code a, b;
  const fs::path folder = fs::weakly_canonical(p.parent_path(), a), data = fs::weakly_canonical(dataFolder(false), b);
  return !a && !b && folder == data && handOffName(p.filename().string());
}

int removeStaleHandOffLists(std::chrono::seconds age) {
  int removed = 0;
  std::error_code ec;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(dataFolder(false), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code e;
    if (!handOffName(it->path().filename().string()) || !it->is_regular_file(e)) continue;
    const auto written = it->last_write_time(e);
    if (!e && now - written > age && fs::remove(it->path(), e)) ++removed;
  }
  return removed;
}

}  // namespace pv
