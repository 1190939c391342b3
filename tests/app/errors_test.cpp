// Every failure says what it is: an image over the pixel limit, a want of
// memory, a file that cannot be read or is no file at all, a full file
// system, a folder that cannot be searched, a GIF cut short. The real
// program, run as a user runs it, and its error summary.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/file_format.h"
#include "tests/engine/lead_holder.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;

namespace {

bool sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

// The summary line of a source that failed with `status`.
std::string line(unsigned status, const std::string& words, const std::string& path) {
  return "ERROR " + std::to_string(status) + " - " + words + " - " + path;
}

struct Errors : ::testing::Test {
  pv::test::DataDirGuard data;
  pv::test::TempDir dir;
  pv::test::ProcessResult run(const std::vector<std::string>& args,
                              const std::vector<std::string>& env = {}) {
    return pv::test::runProcess(PV_EXECUTABLE, args, env);
  }
  // A picture in the format of a save code; false when this build cannot write it.
  bool write(const std::string& path, short code, int w = 64, int h = 48) {
    pv::test::LeadWithImage lead;
    lead.set(pv::test::noiseImage(w, h, 3, 9), 24);
    return lead.SaveImage(path, code, 24, code == pv::fmt::kPng || code == pv::fmt::kTiff ? 0 : 80, 0) == 0;
  }
};

}  // namespace

// An image over the pixel limit is "Image too big" whatever its format.
TEST_F(Errors, AnImageOverThePixelLimitIsTooBigInEveryFormat) {
  const struct {
    const char* name;
    short code;
  } formats[] = {{"a.png", pv::fmt::kPng},   {"a.tif", pv::fmt::kTiff},  {"a.gif", pv::fmt::kGif},
                 {"a.webp", pv::fmt::kWebp}, {"a.avif", pv::fmt::kAvif}, {"a.heic", pv::fmt::kHeic},
                 {"a.jxl", pv::fmt::kJxl},   {"a.jpg", pv::fmt::kJpeg},  {"a.bmp", pv::fmt::kBmp}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f.name);
    const std::string path = dir.file(f.name);
    if (!write(path, f.code)) continue;  // an encoder this build lacks
    const pv::test::ProcessResult r = run({"--convert", "PNG", "--output", dir.file("out"), "--file", path},
                                          {"PICTORAVINE_MAX_PIXELS=1000"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(line(20108, "Image too big", path)), std::string::npos) << r.err;
  }
}

// Out of memory, the program says so and ends in order.
TEST_F(Errors, RunningOutOfMemoryIsNotEnoughMemory) {
  if (sanitized()) GTEST_SKIP() << "a sanitizer's shadow memory needs more address space than the limit";
  // A GIF whose 30000 x 30000 screen takes 2.7 GB, under 1.5 GB of address space.
  const std::string path = dir.file("huge.gif");
  int err = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &err);
  ASSERT_NE(gif, nullptr);
  GifColorType colours[2] = {{0, 0, 0}, {255, 255, 255}};
  ColorMapObject* map = GifMakeMapObject(2, colours);
  ASSERT_EQ(EGifPutScreenDesc(gif, 30000, 30000, 1, 0, map), GIF_OK);
  ASSERT_EQ(EGifPutImageDesc(gif, 0, 0, 2, 2, false, nullptr), GIF_OK);
  GifPixelType row[2] = {1, 0};
  for (int y = 0; y < 2; ++y) ASSERT_EQ(EGifPutLine(gif, row, 2), GIF_OK);
  GifFreeMapObject(map);
  ASSERT_EQ(EGifCloseFile(gif, &err), GIF_OK);
  const pv::test::ProcessResult r = pv::test::runProcess(
      "/usr/bin/prlimit", {"--as=1500000000", PV_EXECUTABLE, "--convert", "PNG", "--usesf", "--file", path});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find(line(20107, "Not enough memory available", path)), std::string::npos) << r.err;
}

// A pipe, a socket and a file that cannot be read are "Not able to open
// file"; a folder that cannot be searched is logged as one.
TEST_F(Errors, FilesAndFoldersThatCannotBeReadSaySo) {
  const std::string pipe = dir.file("pipe.png"), socket = dir.file("socket.png");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socket.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  for (const std::string& path : {pipe, socket}) {
    const pv::test::ProcessResult r = run({"--convert", "BMP", "--usesf", "--file", path});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(line(20014, "Not able to open file", path)), std::string::npos) << r.err;
  }
  close(s);

  // Permissions stop only another user than root: as root the run is made
  // as nobody.
  const bool root = geteuid() == 0;
  if (root && !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "no setpriv to run as another user";
  const std::string photos = dir.file("photos");
  fs::create_directories(photos + "/locked");
  ASSERT_TRUE(write(photos + "/open.png", pv::fmt::kPng));
  ASSERT_TRUE(write(photos + "/secret.png", pv::fmt::kPng));
  ASSERT_TRUE(write(photos + "/locked/inside.png", pv::fmt::kPng));
  for (const fs::path& p : {dir.path(), data.path(), fs::path(photos)}) fs::permissions(p, fs::perms::all);
  fs::permissions(photos + "/open.png", fs::perms::all);
  fs::permissions(photos + "/secret.png", fs::perms::none);
  fs::permissions(photos + "/locked", fs::perms::none);
  std::vector<std::string> args = {"--convert", "BMP", "--usesf", "--file", photos};
  if (root) args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", PV_EXECUTABLE});
  const pv::test::ProcessResult r = pv::test::runProcess(root ? "/usr/bin/setpriv" : PV_EXECUTABLE, args);
  fs::permissions(photos + "/locked", fs::perms::owner_all);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(line(20014, "Not able to open file", photos + "/secret.png")), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(line(20350, "directory browsing failed", photos + "/locked/")), std::string::npos)
      << r.err;
  EXPECT_TRUE(fs::exists(photos + "/open.bmp"));
}

// A full file system is "File system full" for every writer, and leaves
// neither an output nor a temporary file.
TEST_F(Errors, AFullFileSystemIsFileSystemFullForEveryWriter) {
  const std::string full = dir.file("full");
  fs::create_directory(full);
  if (geteuid() != 0 || mount("tmpfs", full.c_str(), "tmpfs", 0, "size=96k") != 0)
    GTEST_SKIP() << "a small file system needs root to mount";
  struct Unmount {
    std::string at;
    ~Unmount() { umount(at.c_str()); }
  } unmount{full};
  const std::string source = dir.file("big.png");
  ASSERT_TRUE(write(source, pv::fmt::kPng, 400, 300));
  for (const char* format : {"TIF", "PNG", "BMP", "GIF", "JPG"}) {
    SCOPED_TRACE(format);
    const pv::test::ProcessResult r = run({"--convert", format, "--output", full, "--file", source});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(line(20114, "File system full", source)), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(full)) << fs::begin(fs::directory_iterator(full))->path();
  }
}

// A GIF that ends inside a frame is damaged, as a cut JPEG is; one that only
// lacks its trailer after whole frames is converted.
TEST_F(Errors, AGifCutInsideAFrameIsDamagedAndOneWithoutTrailerIsNot) {
  const std::string whole = dir.file("whole.gif");
  ASSERT_TRUE(write(whole, pv::fmt::kGif, 120, 90));
  const std::string bytes = pv::test::readFile(whole);
  ASSERT_EQ(bytes.back(), ';');
  pv::test::writeFile(dir.file("no-trailer.gif"), bytes.substr(0, bytes.size() - 1));
  pv::test::writeFile(dir.file("cut.gif"), bytes.substr(0, bytes.size() * 2 / 3));
  pv::test::ProcessResult r = run({"--convert", "PNG", "--usesf", "--file", dir.file("no-trailer.gif")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.file("no-trailer.png")));
  r = run({"--convert", "PNG", "--usesf", "--file", dir.file("cut.gif")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(line(20007, "Error reading file", dir.file("cut.gif"))), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir.file("cut.png")));
}
