// Recognises a file's format from its first bytes, then asks the codec for the
// facts it stores.
#include <unistd.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/codecs/codecs.h"
#include "engine/status.h"

namespace pv::engine {

std::uint64_t maxPixels() {
  if (const char* env = std::getenv("PICTORAVINE_MAX_PIXELS"); env && *env) {
    char* end = nullptr;
    unsigned long long v = std::strtoull(env, &end, 10);
    if (end && *end == '\0' && v > 0) return v;
  }
  return 1000ull * 1000ull * 1000ull;
}

namespace codecs {

short readInfo(const std::string& path, FileInfo& info) {
  info = FileInfo{};
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return errno == ENOENT ? kFileNotFound : kCannotOpen;
  unsigned char head[16] = {};
  const std::size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (n >= 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0) return readPngInfo(path, info);
  // The other codecs are being added; until then their files are reported as
  // not supported rather than as no image at all.
  if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return readJpegInfo(path, info);
  if (n >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)) return readGifInfo(path, info);
  if (n >= 4 && (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0)) return kNotSupported;
  if (n >= 2 && head[0] == 'B' && head[1] == 'M') return kNotSupported;
  return kNotAnImage;
}

short writeFileAtomically(const std::string& path, const std::string& bytes) {
  std::string tmp = path + ".pvtmp-XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return errno == ENOSPC ? kDiskFull : kCannotCreate;
  fchmod(fd, 0644);
  std::size_t done = 0;
  short status = kOk;
  while (done < bytes.size()) {
    ssize_t w = write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      status = errno == ENOSPC ? kDiskFull : kWriteError;
      break;
    }
    done += static_cast<std::size_t>(w);
  }
  if (close(fd) != 0 && status == kOk) status = errno == ENOSPC ? kDiskFull : kWriteError;
  if (status == kOk && std::rename(tmp.c_str(), path.c_str()) != 0) status = kCannotCreate;
  if (status != kOk) unlink(tmp.c_str());
  return status;
}

}  // namespace codecs
}  // namespace pv::engine
