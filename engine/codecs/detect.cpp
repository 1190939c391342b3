// Recognises a file's format from its first bytes, then asks the codec for the
// facts it stores.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "engine/codecs/table.h"
#include "engine/outputs.h"
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

std::string extensionOf(const std::string& path) {
  const std::size_t slash = path.rfind('/'), dot = path.rfind('.');
  std::string ext;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    for (char c : path.substr(dot + 1))
      ext.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return ext;
}

short readInfo(const std::string& path, FileInfo& info, bool readerOnly) {
  info = FileInfo{};
  // Only regular files are read: a folder cannot be, and opening a pipe or a
  // device named like an image would block or read forever.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT ? kFileNotFound : kCannotOpen;
  if (!S_ISREG(st.st_mode)) return kCannotOpen;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return errno == ENOENT ? kFileNotFound : kCannotOpen;
  std::string head(512, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), f));
  std::fclose(f);
  const std::string ext = extensionOf(path);
  // Rows recognised by extension come first; a camera raw that LibRaw cannot
  // read is then tried by its content.
  const Codec* codec = codecReading(head, ext);
  if (codec && codec->byExtension && codec->info(*codec, path, info) == kOk) return kOk;
  if (codec && codec->byExtension) codec = codecReading(head, "");
  if (head.empty() || !codec) return kNotAnImage;
  // A reader whose facts take a decode is not asked for them when only the
  // reader is wanted.
  if (readerOnly && codec->readsAs != 0 && !codec->header) {
    info.codec = codec, info.format = codec->readsAs;
    return kOk;
  }
  const short s = codec->info(*codec, path, info);
  if (s == kOk) info.codec = codec;
  return s;
}

short openStatus(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? kFileNotFound : kCannotOpen;
  close(fd);
  return kOk;
}

short readFileBytes(const std::string& path, std::string& bytes) {
  bytes.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? kFileNotFound : kCannotOpen;
  char buf[1 << 16];
  short status = kOk;
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) status = kCannotOpen;  // a folder, or a read error
    if (n <= 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return status;
}

// Writes all of `data`, retrying short writes.
short writeAll(int fd, const void* bytes, std::size_t size) {
  const char* data = static_cast<const char*>(bytes);
  for (std::size_t done = 0; done < size;) {
    const ssize_t w = write(fd, data + done, size - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return errno == ENOSPC ? kDiskFull : kWriteError;
    done += static_cast<std::size_t>(w);
  }
  return kOk;
}

std::size_t FileRows::bytes() const {
  return conversion < 0 ? static_cast<std::size_t>(source.cols) * source.elemSize()
                        : static_cast<std::size_t>(source.cols) * static_cast<std::size_t>(channels);
}

const std::uint8_t* FileRows::row(int y, std::uint8_t* buffer) const {
  if (conversion < 0) return source.ptr<std::uint8_t>(y);
  cv::Mat out(1, source.cols, CV_8UC(channels), buffer);
  cv::cvtColor(source.row(y), out, conversion);
  return buffer;
}

void FileRows::copyRow(int y, std::uint8_t* out) const {
  if (const std::uint8_t* own = row(y, out); own != out) std::memcpy(out, own, bytes());
}

void packIndices(const std::uint8_t* in, int count, int bits, std::uint8_t* out) {
  if (bits >= 8) {
    std::memcpy(out, in, static_cast<std::size_t>(count));
    return;
  }
  std::memset(out, 0, (static_cast<std::size_t>(count) * static_cast<std::size_t>(bits) + 7) / 8);
  for (int x = 0; x < count; ++x) {
    const int bit = x * bits;
    out[bit / 8] = static_cast<std::uint8_t>(out[bit / 8] | (in[x] << (8 - bits - bit % 8)));
  }
}

cv::Mat bgraOf(const Image& image) {
  const cv::Mat& px = image.pixels;
  if (px.channels() == 4) return px;
  cv::Mat out;
  cv::cvtColor(px, out, px.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
  if (image.useTransparentColor) {
    cv::Scalar key = bgrOf(image.transparentColor), clearKey = key;
    clearKey[3] = 0;
    cv::Mat clear;
    cv::inRange(out, key, key, clear);
    out.setTo(clearKey, clear);
  }
  return out;
}

PendingFile::PendingFile(const std::string& target)
    : target_(target), temp_(target + kTemporaryMark + "XXXXXX") {
  if (isTemporaryName(target.substr(target.rfind('/') + 1)) || target.starts_with(kMemoryFileFolder)) {
    temp_ = target;
    inPlace_ = true;
    status_ = kOk;
    return;
  }
  // The lock says that a live writer owns the file: a later run removes
  // only temporaries whose writer is gone (removeStaleTemporaries). Another
  // run may clear the folder between the file's making and its locking; a
  // file taken away then is made again.
  const std::string pattern = temp_;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = pattern;
    lock_ = mkostemp(temp_.data(), O_CLOEXEC);
    if (lock_ < 0) break;
    flock(lock_, LOCK_EX);
    struct stat opened {
    }, named{};
    if (fstat(lock_, &opened) == 0 && stat(temp_.c_str(), &named) == 0 && opened.st_ino == named.st_ino &&
        opened.st_dev == named.st_dev) {
      fchmod(lock_, 0644);
      status_ = kOk;
      return;
    }
    close(lock_);
    lock_ = -1;
  }
  status_ = errno == ENOSPC ? kDiskFull : kCannotCreate;
  temp_.clear();
}

PendingFile::~PendingFile() {
  if (!done_ && !inPlace_ && !temp_.empty()) unlink(temp_.c_str());
  if (lock_ >= 0) close(lock_);
}

short PendingFile::copyTarget() { return inPlace_ ? static_cast<short>(kOk) : copyFrom(target_); }

short PendingFile::copyFrom(const std::string& source) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno == ENOENT ? kFileNotFound : kCannotOpen;
  int out = open(temp_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  short status = out < 0 ? kCannotCreate : kOk;
  char buf[1 << 16];
  while (status == kOk) {
    const ssize_t n = read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) status = kDamaged;
    if (n <= 0) break;
    status = writeAll(out, buf, static_cast<std::size_t>(n));
  }
  close(in);
  if (out >= 0 && close(out) != 0 && status == kOk) status = kWriteError;
  return status;
}

namespace {

// Renames without replacing: -1 with EEXIST when `to` is taken. A file
// system without RENAME_NOREPLACE gets a hard link and an unlink, which
// refuses a taken name as well; one without hard links either (FAT through
// FUSE) has the name taken by an empty file created exclusively, which the
// rename then replaces.
int renameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return 0;
  }
  if (errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
  const int held = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (held < 0) return -1;
  close(held);
  if (std::rename(from.c_str(), to.c_str()) == 0) return 0;
  const int error = errno;
  unlink(to.c_str());
  errno = error;
  return -1;
}

}  // namespace

short PendingFile::commit(const Placement& placement) {
  if (status_ != kOk) return status_;
  if (inPlace_) return kOk;
  if (placement.replace) {
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) return kCannotCreate;
  } else {
    while (renameNoReplace(temp_, target_) != 0) {
      if (errno != EEXIST || !placement.another) return kCannotCreate;
      std::string next = placement.another(target_);
      if (next.empty()) return kCannotCreate;
      target_ = std::move(next);
    }
  }
  done_ = true;
  return kOk;
}

}  // namespace codecs

short replaceWithCopy(const std::string& from, const std::string& target) {
  codecs::PendingFile file(target);
  if (file.status() != kOk) return file.status();
  if (short s = file.copyFrom(from)) return s;
  return file.commit();
}

namespace codecs {

short writeFileAtomically(const std::string& path, std::string_view bytes) {
  PendingFile file(path);
  if (file.status() != kOk) return file.status();
  int fd = open(file.path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return kCannotCreate;
  short status = writeAll(fd, bytes.data(), bytes.size());
  if (close(fd) != 0 && status == kOk) status = errno == ENOSPC ? kDiskFull : kWriteError;
  return status == kOk ? file.commit() : status;
}

}  // namespace codecs

bool isTemporaryName(std::string_view name) {
  const std::size_t at = name.rfind(codecs::kTemporaryMark);
  return at != std::string_view::npos && at > 0 &&
         name.size() == at + std::strlen(codecs::kTemporaryMark) + 6;
}

int removeStaleTemporaries(const std::string& folder) {
  const std::string dir = folder.empty() ? "." : folder;
  DIR* d = opendir(dir.c_str());
  if (!d) return 0;
  int removed = 0;
  while (const dirent* e = readdir(d)) {
    if (!isTemporaryName(e->d_name)) continue;
    const int fd = openat(dirfd(d), e->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat opened {
    }, named{};
    // Taken only when no writer holds it, and only the file that was looked at.
    if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(dirfd(d), e->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == opened.st_ino &&
        named.st_dev == opened.st_dev && unlinkat(dirfd(d), e->d_name, 0) == 0)
      ++removed;
    close(fd);
  }
  closedir(d);
  return removed;
}

}  // namespace pv::engine
