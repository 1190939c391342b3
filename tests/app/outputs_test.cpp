// Outputs are whole and nobody else's: a run killed at any moment leaves no
// output under its name that is not complete (so --skip-done never takes a
// cut file for a done one), and runs started together into one folder never
// overwrite each other. The real program, run as a user runs it.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/image_list.h"
#include "app/run.h"
#include "app/session.h"
#include "core/file_format.h"
#include "core/format_registry.h"
#include "core/text.h"
#include "engine/lead.h"
#include "engine/outputs.h"
#include "formats/format.h"
#include "tests/app/prompter.h"
#include "tests/engine/lead_holder.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;

namespace {

// A TIFF of `pages` small pages, written page by page.
void writeTiffPages(const std::string& path, int pages) {
  pv::test::LeadWithImage lead;
  ASSERT_EQ(lead.StartPages(path, pv::fmt::kTiffLzw, 24, 0), 0);
  for (int p = 0; p < pages; ++p) {
    lead.set(pv::test::noiseImage(40, 30, 3, static_cast<std::uint32_t>(p % 7)), 24);
    ASSERT_EQ(lead.AddPage(), 0);
  }
  ASSERT_EQ(lead.EndPages(true), 0);
}

int pagesOf(const std::string& path) {
  pv::engine::CLead lead;
  return lead.ReadFileInfo(path, -1, 1) == 0 ? lead.GetInfoPageCount() : 0;
}

std::vector<std::string> temporariesIn(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder))
    if (pv::engine::isTemporaryName(e.path().filename().string())) out.push_back(e.path().string());
  return out;
}

bool waitFor(const std::function<bool()>& ready, int milliseconds) {
  for (int i = 0; i < milliseconds; ++i) {
    if (ready()) return true;
    usleep(1000);
  }
  return ready();
}

}  // namespace

namespace {

// An animation of `frames` small frames moving over a large screen: a
// small file that decodes to a screen's worth of pixels per frame.
void writeSparseAnimation(const std::string& path, int screen, int frames) {
  int err = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &err);
  ASSERT_NE(gif, nullptr);
  GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  ASSERT_EQ(EGifPutScreenDesc(gif, screen, screen, 2, 0, map), GIF_OK);
  std::vector<GifPixelType> line(16);
  for (int f = 0; f < frames; ++f) {
    const int x = (f * 37) % (screen - 16), y = (f * 53) % (screen - 16);
    ASSERT_EQ(EGifPutImageDesc(gif, x, y, 16, 16, false, nullptr), GIF_OK);
    for (int row = 0; row < 16; ++row) {
      std::fill(line.begin(), line.end(), static_cast<GifPixelType>(1 + f % 3));
      ASSERT_EQ(EGifPutLine(gif, line.data(), 16), GIF_OK);
    }
  }
  GifFreeMapObject(map);
  ASSERT_EQ(EGifCloseFile(gif, &err), GIF_OK);
}

}  // namespace

namespace {

struct Outputs : ::testing::Test {
  pv::test::DataDirGuard data;
  pv::test::TempDir dir;
};

}  // namespace

// A run stopped while it writes a 2,000-page file: killed, the file is not
// there (only its temporary, which the next run into the folder removes);
// asked to stop (SIGTERM, Ctrl+C), it finishes the file first. Either way a
// run with --skip-done afterwards leaves the whole file.
TEST_F(Outputs, AMultiPageOutputCutShortIsNeverTakenAsDone) {
  constexpr int kPages = 2000;
  const std::string source = dir.file("scan.tif");
  writeTiffPages(source, kPages);
  ASSERT_EQ(pagesOf(source), kPages);
  struct Case {
    int signal;
    int afterMs;  // after the temporary file appears
    int exitCode;
  } cases[] = {{SIGKILL, 0, 128 + SIGKILL},
               {SIGKILL, 40, 128 + SIGKILL},
               {SIGKILL, 150, 128 + SIGKILL},
               {SIGTERM, 0, 143},
               {SIGINT, 20, 130}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("signal " + std::to_string(c.signal) + " after " + std::to_string(c.afterMs) + " ms");
    const std::string out = dir.file("out" + std::to_string(n++));
    fs::create_directory(out);
    const std::string target = out + "/scan.tif";
    const std::vector<std::string> args = {"--convert", "TIF", "9", "--output", out, "--file", source};
    {
      pv::test::Background run(PV_EXECUTABLE, args);
      const bool started = waitFor([&] { return !temporariesIn(out).empty() || fs::exists(target); }, 60000);
      ASSERT_TRUE(started);
      usleep(static_cast<useconds_t>(c.afterMs) * 1000);
      run.stop(c.signal);
      const int code = run.wait();
      if (fs::exists(target)) {
        // The run got to the end before the signal, or finished the image in work.
        EXPECT_EQ(pagesOf(target), kPages);
      } else {
        EXPECT_EQ(code, c.exitCode);
      }
      if (c.signal != SIGKILL) {
        EXPECT_TRUE(temporariesIn(out).empty());
      }
    }
    const pv::test::ProcessResult again = pv::test::runProcess(
        PV_EXECUTABLE, {"--convert", "TIF", "9", "--output", out, "--skip-done", "--file", source});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(pagesOf(target), kPages);
    EXPECT_TRUE(temporariesIn(out).empty());
    EXPECT_FALSE(fs::exists(out + "/scan-1.tif"));
  }
}

// A temporary that a live writer holds is not touched; one whose writer is
// gone is.
TEST_F(Outputs, OnlyTemporariesWithoutAWriterAreRemoved) {
  // A save in progress in another process holds its temporary: a run
  // converting slowly into the same folder.
  const std::string big = dir.file("big.tif");
  writeTiffPages(big, 1500);
  const std::string out = dir.file("out");
  fs::create_directory(out);
  pv::test::Background slow(PV_EXECUTABLE, {"--convert", "TIF", "9", "--output", out, "--file", big});
  // The run's temporary once its writer holds it: a temporary caught between
  // its making and its locking may be cleared, and its writer makes another.
  std::string live;
  const auto held = [](const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
  };
  ASSERT_TRUE(waitFor(
      [&] {
        for (const std::string& t : temporariesIn(out))
          if (t.find("big.tif") != std::string::npos && held(t)) live = t;
        return !live.empty() || fs::exists(out + "/big.tif");
      },
      60000));
  std::ofstream(out + "/left.png.pvtmp-abcdef") << "a killed run's";
  EXPECT_EQ(pv::engine::removeStaleTemporaries(out + "/"), 1);
  EXPECT_FALSE(fs::exists(out + "/left.png.pvtmp-abcdef"));
  if (!live.empty()) {
    EXPECT_TRUE(fs::exists(live) || fs::exists(out + "/big.tif"));  // still being written, or done
  }
  EXPECT_EQ(slow.wait(), 0);
  EXPECT_EQ(pagesOf(out + "/big.tif"), 1500);
  EXPECT_TRUE(temporariesIn(out).empty());
  for (const char* name : {"a.png.pvtmp-abcdef", "b.tif.pvtmp-123456"})
    EXPECT_TRUE(pv::engine::isTemporaryName(name));
  for (const char* name : {"a.png", ".pvtmp-abcdef", "a.png.pvtmp-abcde", "a.png.pvtmp-abcdefg"})
    EXPECT_FALSE(pv::engine::isTemporaryName(name)) << name;
}

// Two and four runs started together, with sources of the same names, into
// one output folder: every output is kept, each under a name of its own.
TEST_F(Outputs, RunsStartedTogetherIntoOneFolderKeepEveryOutput) {
  constexpr int kImages = 24;
  for (int runs : {2, 4}) {
    SCOPED_TRACE(std::to_string(runs) + " runs");
    const std::string out = dir.file("out" + std::to_string(runs));
    fs::create_directory(out);
    std::vector<std::string> sources;
    for (int r = 0; r < runs; ++r) {
      const std::string folder = dir.file("src" + std::to_string(runs) + "-" + std::to_string(r));
      fs::create_directory(folder);
      for (int i = 0; i < kImages; ++i) {
        pv::test::LeadWithImage lead;
        lead.set(pv::test::noiseImage(64, 48, 3, static_cast<std::uint32_t>(r * 100 + i)), 24);
        ASSERT_EQ(lead.SaveImage(folder + "/p" + std::to_string(i) + ".png", pv::fmt::kPng, 24, 0, 0), 0);
      }
      sources.push_back(folder);
    }
    std::vector<std::unique_ptr<pv::test::Background>> started;
    for (const std::string& folder : sources)
      started.push_back(std::make_unique<pv::test::Background>(
          PV_EXECUTABLE, std::vector<std::string>{"--convert", "BMP", "--output", out, "--file", folder}));
    for (auto& run : started) EXPECT_EQ(run->wait(), 0);
    int outputs = 0;
    for (const auto& e : fs::directory_iterator(out)) {
      ++outputs;
      pv::engine::CLead lead;
      EXPECT_EQ(lead.LoadImage(e.path().string(), 0, 0, 1), 0) << e.path();
    }
    EXPECT_EQ(outputs, runs * kImages);
  }
}

// A GIF of 1,000 frames on a 1024 x 1024 screen becomes a GIF frame by frame:
// the run holds a screen or two, never every frame.
TEST_F(Outputs, AGifOfManyFramesIsConvertedHoldingAFewFrames) {
  // Under ThreadSanitizer a frame costs ten times as long: 250 frames still
  // take 750 MB held at once.
#if defined(__SANITIZE_THREAD__)
  constexpr int kFrames = 250;
#else
  constexpr int kFrames = 1000;
#endif
  const std::string source = dir.file("moving.gif");
  writeSparseAnimation(source, 1024, kFrames);
  EXPECT_LT(fs::file_size(source), 200u * 1024);
  const std::string out = dir.file("out");
  fs::create_directory(out);
  pv::test::Background run(PV_EXECUTABLE, {"--convert", "GIF", "--output", out, "--file", source});
  long peakKiB = 0;
  EXPECT_EQ(run.wait(&peakKiB), 0);
  EXPECT_EQ(pagesOf(out + "/moving.gif"), kFrames);
  // Every frame decoded at once would be 3 GB; the limit leaves room for a
  // sanitizer build's own memory.
  EXPECT_LT(peakKiB, 600 * 1024) << peakKiB / 1024 << " MiB";
}

namespace {

// Bytes this process has read and written so far (read and write calls).
long long bytesMoved() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0, moved = 0;
  while (io >> key >> value)
    if (key == "rchar:" || key == "wchar:") moved += value;
  return moved;
}

}  // namespace

// A multi-page source becomes a multi-page output in one pass: the bytes read
// and written per page stay the same from 500 to 2,000 pages (a file copied
// or read again for each page would move four times as many per page).
TEST_F(Outputs, MultiPageOutputsTakeTimeInProportionToTheirPages) {
  struct Case {
    const char* source;
    const char* format;
  } cases[] = {{"scan.tif", "TIF"}, {"moving.gif", "GIF"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    double perPage[2] = {0, 0};
    int k = 0;
    for (int pages : {500, 2000}) {
      const std::string source = dir.file(std::to_string(pages) + c.source);
      if (std::string(c.format) == "GIF")
        writeSparseAnimation(source, 64, pages);
      else
        writeTiffPages(source, pages);
      pv::test::RecordingPrompter prompter;
      pv::app::Session s(pv::app::loadSettings(), prompter);
      s.settings.Threads = 1;
      s.settings.UseSourcePathForOutput = false;
      s.settings.OutPutDir = dir.file("out" + std::to_string(pages)) + "/";
      s.format = pv::formats::createFormat(c.format, s.settings.configPath);
      pv::app::ImageListBuilder(
          {s.settings, s.texts, s.primary, s.secondary, s.list, s.progress, s.running, prompter})
          .addDropped({source});
      ASSERT_EQ(s.list.size(), 1u) << s.texts.errorSummary;
      s.running = true;
      const long long before = bytesMoved();
      pv::app::convertAll(s);
      const long long moved = bytesMoved() - before;
      ASSERT_TRUE(s.texts.errorSummary.empty()) << s.texts.errorSummary;
      EXPECT_EQ(pagesOf(s.settings.OutPutDir + fs::path(source).stem().string() + "." +
                        pv::asciiLower(c.format == std::string("TIF") ? "tif" : "gif")),
                pages);
      perPage[k++] = static_cast<double>(moved) / pages;
    }
    EXPECT_LT(perPage[1], 1.5 * perPage[0]) << perPage[0] << " and " << perPage[1] << " bytes a page";
  }
}

// The folder a run writes into is no source of the next run, whether it is
// made below each source's folder or named absolutely inside the folder
// searched.
TEST_F(Outputs, AFolderScanSkipsTheFoldersTheRunWritesInto) {
  struct Case {
    const char* name;
    bool absolute;
    bool skipDone;
    int secondRunAdds;
  } cases[] = {{"relative", false, false, 3},
               {"relative, skip done", false, true, 0},
               {"absolute inside", true, false, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string photos =
        dir.file(std::string("photos-") + (c.absolute ? "a" : "r") + (c.skipDone ? "s" : ""));
    fs::create_directories(photos + "/sub");
    for (const char* name : {"a.png", "b.png", "sub/c.png"}) {
      pv::test::LeadWithImage lead;
      lead.set(pv::test::noiseImage(20, 10, 3, 5), 24);
      ASSERT_EQ(lead.SaveImage(photos + "/" + name, pv::fmt::kPng, 24, 0, 0), 0);
    }
    const std::string output = c.absolute ? photos + "/converted" : "out";
    std::vector<std::string> args = {"--convert", "BMP", "--output", output, "--file", photos};
    if (c.skipDone) args.insert(args.begin(), "--skip-done");
    const auto count = [&] {
      int n = 0;
      for (const auto& e : fs::recursive_directory_iterator(photos)) n += e.path().extension() == ".bmp";
      return n;
    };
    ASSERT_EQ(pv::test::runProcess(PV_EXECUTABLE, args).exitCode, 0);
    EXPECT_EQ(count(), 3);
    ASSERT_EQ(pv::test::runProcess(PV_EXECUTABLE, args).exitCode, 0);
    EXPECT_EQ(count(), 3 + c.secondRunAdds);
    EXPECT_FALSE(fs::exists(photos + "/out/out"));
    EXPECT_FALSE(fs::exists(photos + "/converted/converted"));
    EXPECT_FALSE(fs::exists(photos + "/converted/out"));
  }
}

// Outputs take their source's modification time (as touch -r gives it),
// split pages and multi-page outputs too, unless --no-keep-dates; a kept
// date does not make --skip-done convert the image again.
TEST_F(Outputs, OutputsKeepTheirSourcesDates) {
  struct Case {
    const char* name;
    int pages;  // of the source, a TIFF when above 1, else a PNG
    std::vector<std::string> args;
    int outputs;
    bool kept;
  } cases[] = {
      {"one page", 1, {"--convert", "BMP"}, 1, true},
      {"pages split", 3, {"--convert", "BMP", "--mpo", "1"}, 3, true},
      {"one multi-page output", 3, {"--convert", "TIF", "9"}, 1, true},
      {"dates not kept", 1, {"--convert", "BMP", "--no-keep-dates"}, 1, false},
  };
  const timespec then[2] = {{1000000000, 0}, {1012345678, 500000000}};  // 2001 and 2002
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = dir.file(std::string("dates-") + c.name), out = folder + "/out";
    fs::create_directories(folder);
    const std::string source = folder + (c.pages > 1 ? "/a.tif" : "/a.png");
    if (c.pages > 1) {
      writeTiffPages(source, c.pages);
    } else {
      pv::test::LeadWithImage lead;
      lead.set(pv::test::noiseImage(20, 10, 3, 5), 24);
      ASSERT_EQ(lead.SaveImage(source, pv::fmt::kPng, 24, 0, 0), 0);
    }
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), then, 0), 0);
    std::vector<std::string> args = c.args;
    for (const char* a : {"--output", out.c_str(), "--skip-done", "--file", source.c_str()}) args.push_back(a);
    const pv::test::ProcessResult r = pv::test::runProcess(PV_EXECUTABLE, args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<fs::path> written;
    for (const auto& e : fs::directory_iterator(out)) written.push_back(e.path());
    ASSERT_EQ(static_cast<int>(written.size()), c.outputs);
    std::vector<ino_t> inodes;
    for (const fs::path& p : written) {
      struct stat st {};
      ASSERT_EQ(stat(p.c_str(), &st), 0);
      inodes.push_back(st.st_ino);
      if (c.kept)
        EXPECT_EQ(st.st_mtim.tv_sec, then[1].tv_sec) << p;
      else
        EXPECT_GT(st.st_mtim.tv_sec, then[1].tv_sec + 86400) << p;
    }
    // Done is done: the second run writes nothing again.
    ASSERT_EQ(pv::test::runProcess(PV_EXECUTABLE, args).exitCode, 0);
    for (std::size_t i = 0; i < written.size(); ++i) {
      struct stat st {};
      ASSERT_EQ(stat(written[i].c_str(), &st), 0);
      EXPECT_EQ(st.st_ino, inodes[i]) << written[i] << " was written again";
    }
  }
}

// --only-smaller: a JPEG that recompression would make larger comes out as
// its own bytes, one that shrinks is recompressed; other formats' outputs
// are never compared with their sources.
TEST_F(Outputs, OnlySmallerKeepsASourceThatRecompressionWouldEnlarge) {
  const std::string photos = dir.file("photos");
  fs::create_directories(photos);
  struct Source {
    const char* name;
    int code, quality;
    bool noisy;
  } sources[] = {{"well.jpg", pv::fmt::kJpeg, 200, false},  // libjpeg quality 22
                 {"poorly.jpg", pv::fmt::kJpeg, 2, true},   // quality 100
                 {"other.png", pv::fmt::kPng, 0, false}};
  for (const Source& s : sources) {
    pv::test::LeadWithImage lead;
    lead.set(s.noisy ? pv::test::noiseImage(300, 200, 3, 9) : pv::test::gradientImage(300, 200, 3), 24);
    ASSERT_EQ(lead.SaveImage(photos + "/" + s.name, s.code, 24, static_cast<short>(s.quality), 0), 0);
  }
  const std::string log = dir.file("run.log");
  std::ofstream(data.file("config.ini")) << "[Global]\nDoLog=1\nLogFile=" << log << "\n";
  struct Case {
    const char* name;
    bool onlySmaller;
  } cases[] = {{"every output recompressed", false}, {"only smaller", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.file(std::string("out-") + (c.onlySmaller ? "smaller" : "all"));
    std::vector<std::string> args = {"--convert", "JPG", "0", "24", "20", "--output", out, "--file", photos};
    if (c.onlySmaller) args.push_back("--only-smaller");
    const pv::test::ProcessResult r = pv::test::runProcess(PV_EXECUTABLE, args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string text = pv::test::readFile(log);
    const auto same = [&](const char* name, const char* output) {
      return pv::test::readFile(photos + "/" + name) == pv::test::readFile(out + "/" + output);
    };
    const auto size = [&](const std::string& p) { return fs::file_size(p); };
    // Recompressed at quality 93, the quality-22 JPEG grows; with
    // --only-smaller it is the source itself.
    EXPECT_EQ(same("well.jpg", "well.jpg"), c.onlySmaller);
    if (!c.onlySmaller) {
      EXPECT_GT(size(out + "/well.jpg"), size(photos + "/well.jpg"));
    }
    EXPECT_LT(size(out + "/poorly.jpg"), size(photos + "/poorly.jpg"));
    EXPECT_TRUE(fs::exists(out + "/other.jpg"));
    const std::string kept = ": its output would be larger, so the source was kept as it is.";
    EXPECT_EQ(text.find(photos + "/well.jpg" + kept) != std::string::npos, c.onlySmaller) << text;
    EXPECT_EQ(text.find("poorly.jpg" + kept), std::string::npos) << text;
    EXPECT_EQ(text.find("other.png" + kept), std::string::npos) << text;
  }
}

// --keep-folders: a scanned tree is mirrored below the output folder (equal
// names in different folders are not numbered); images named alone go into
// the output folder itself.
TEST_F(Outputs, AScannedTreeIsMirroredBelowTheOutputFolder) {
  const std::string photos = dir.file("tree");
  for (const char* name : {"a.png", "x/a.png", "x/y/a.png", "x/y/b.png"}) {
    fs::create_directories(fs::path(photos + "/" + name).parent_path());
    pv::test::LeadWithImage lead;
    lead.set(pv::test::noiseImage(20, 10, 3, 5), 24);
    ASSERT_EQ(lead.SaveImage(photos + "/" + name, pv::fmt::kPng, 24, 0, 0), 0);
  }
  struct Case {
    const char* name;
    std::vector<std::string> extra;
    std::string output;  // relative to the tree when it does not start with '/'
    std::string sources;
    std::set<std::string> outputs;
  } cases[] = {
      {"mirrored", {"--keep-folders"}, dir.file("out1"), photos, {"a.bmp", "x/a.bmp", "x/y/a.bmp", "x/y/b.bmp"}},
      {"flat", {}, dir.file("out2"), photos, {"a.bmp", "a-1.bmp", "a-2.bmp", "b.bmp"}},
      {"mirrored below the folder searched", {"--keep-folders"}, "conv", photos,
       {"a.bmp", "x/a.bmp", "x/y/a.bmp", "x/y/b.bmp"}},
      {"named alone", {"--keep-folders"}, dir.file("out3"), photos + "/x/y/b.png", {"b.bmp"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--convert", "BMP", "--output", c.output, "--file", c.sources};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const pv::test::ProcessResult r = pv::test::runProcess(PV_EXECUTABLE, args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string root = c.output.starts_with('/') ? c.output : photos + "/" + c.output;
    std::set<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(root))
      if (e.is_regular_file()) found.insert(fs::relative(e.path(), root).string());
    EXPECT_EQ(found, c.outputs);
  }
}

// --max-size on real photos (shrunk on their longest side to 480 pixels, as
// for the web): in each of the five formats and at three limits every
// output fits at a quality no better than the one chosen, the log and the
// report name that quality, and the file is the report's size; a limit no
// quality reaches writes the lowest and the log says so.
TEST_F(Outputs, ATargetSizeIsMetForEveryPhotoAndLogged) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path images = corpus / "pillow" / "Tests" / "images";
  std::vector<std::string> photos;
  for (const char* name : {"flower.jpg", "exif_typeerror.jpg", "exif-72dpi-int.jpg", "junk_jpeg_header.jpg",
                           "sugarshack_bad_mpo_header.jpg"})
    if (fs::exists(images / name)) photos.push_back((images / name).string());
  if (photos.size() < 5) GTEST_SKIP() << "the corpus lacks some of the photos";
  const std::string log = dir.file("size.log");
  std::ofstream(data.file("config.ini")) << "[Global]\nDoLog=1\nLogFile=" << log << "\n";
  struct Case {
    const char* key;
    const char* limit;
    std::uint64_t bytes;
    int reached;  // photos whose output fits: the smallest limits are below
                  // what a photo with a large EXIF block can reach
  } cases[] = {
      {"JPG", "20K", 20000, 5},  {"JPG", "10K", 10000, 5},   {"JPG", "0.006M", 6000, 4}, {"WEBP", "20K", 20000, 5},
      {"WEBP", "10KB", 10000, 5}, {"WEBP", "5K", 5000, 4},   {"AVIF", "15k", 15000, 5},  {"AVIF", "8K", 8000, 5},
      {"AVIF", "4K", 4000, 4},    {"HEIC", "20K", 20000, 5}, {"HEIC", "10K", 10000, 5},  {"HEIC", "5K", 5000, 4},
      {"JXL", "20K", 20000, 5},   {"JXL", "10K", 10000, 5},  {"JXL", "5K", 5000, 4},     {"WEBP", "1K", 1000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " at most " + c.limit);
    const pv::FormatRow& row = pv::formatRegistry()[static_cast<std::size_t>(pv::formatIndexOfKey(c.key))];
    const std::string out = dir.file(std::string("sized-") + c.key + "-" + c.limit);
    std::ofstream(log, std::ios::trunc).close();
    std::vector<std::string> args = {"--convert", c.key, "--output", out, "--max-size", c.limit,
                                     "--filter", "resize 4 4 480 0 1 0", "--report", "-", "--file"};
    args.insert(args.end(), photos.begin(), photos.end());
    const pv::test::ProcessResult r = pv::test::runProcess(PV_EXECUTABLE, args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string text = pv::test::readFile(log);
    int reached = 0;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      const nlohmann::json j = nlohmann::json::parse(line);
      SCOPED_TRACE(j.dump());
      ASSERT_EQ(j["status"], 0);
      ASSERT_TRUE(j.contains("quality"));
      const int q = j["quality"];
      const std::uint64_t bytes = j["bytes"];
      EXPECT_EQ(j["size_limit"], c.bytes);
      EXPECT_EQ(fs::file_size(j["outputs"][0].get<std::string>()), bytes);
      // Never better than the quality chosen, never beyond the lowest.
      const int worst = row.qualityRises ? row.qualityStart : row.qualityEnd;
      EXPECT_TRUE(row.qualityRises ? (q >= worst && q <= row.qualityMissing)
                                   : (q <= worst && q >= row.qualityMissing))
          << q;
      const std::string source = j["source"];
      if (bytes <= c.bytes) {
        ++reached;
        EXPECT_NE(text.find(source + ": written at quality " + std::to_string(q) + " ("), std::string::npos) << text;
      } else {
        EXPECT_EQ(q, worst);
        EXPECT_NE(text.find(source + ": the size limit of " + std::to_string(c.bytes / 1000) +
                            ".0 kB was not reached: written at the lowest quality, " + std::to_string(q) + " ("),
                  std::string::npos)
            << text;
      }
    }
    EXPECT_EQ(reached, c.reached);
  }
}

// A source of several pages under a size limit: pages in files of their
// own are each sized; pages written together into one file are written at
// the chosen quality, and the log says the limit was not sought for it.
TEST_F(Outputs, PagesUnderASizeLimitAreSizedAloneOrLoggedAsNotSought) {
  const std::string source = dir.file("pages.tif");
  writeTiffPages(source, 3);
  const std::string log = dir.file("pages.log");
  std::ofstream(data.file("config.ini")) << "[Global]\nDoLog=1\nLogFile=" << log << "\n";
  struct Case {
    const char* mpo;
    int records;
    bool sought;
  } cases[] = {{"1", 3, true}, {"0", 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("mpo ") + c.mpo);
    std::ofstream(log, std::ios::trunc).close();
    const pv::test::ProcessResult r =
        pv::test::runProcess(PV_EXECUTABLE, {"--convert", "WEBP", "--mpo", c.mpo, "--max-size", "1K", "--output",
                                             dir.file(std::string("pages-") + c.mpo), "--report", "-", "--file", source});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    int records = 0;
    for (std::string line; std::getline(lines, line); ++records) {
      const nlohmann::json j = nlohmann::json::parse(line);
      EXPECT_EQ(j["quality"].get<int>() < 80, c.sought) << line;
      EXPECT_EQ(j["bytes"].get<std::uint64_t>(), fs::file_size(j["outputs"][0].get<std::string>()));
    }
    EXPECT_EQ(records, c.records);
    const std::string text = pv::test::readFile(log);
    EXPECT_EQ(text.find("is sought for single images only.") != std::string::npos, !c.sought) << text;
  }
}

// Eight workers writing 13-megapixel photos as JPEG XL at effort 7 (about
// 1.3 GB of encoder memory each) under --memory 2G: the budget lets one
// encode run at a time, so the run finishes well below 2.3 GB, where eight
// at once would take about 10 GB.
TEST_F(Outputs, EightWorkersOfLargeJpegXlEncodesStayWithinTheMemoryBudget) {
#if defined(PV_TSAN) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' own memory makes the peak meaningless";
#endif
  const std::string photos = dir.file("large");
  fs::create_directories(photos);
  {
    pv::test::LeadWithImage lead;
    cv::Mat photo = pv::test::gradientImage(4200, 3100, 3), noise = pv::test::noiseImage(4200, 3100, 3, 3);
    cv::addWeighted(photo, 0.9, noise, 0.1, 0, photo);
    lead.set(photo, 24);
    ASSERT_EQ(lead.SaveImage(photos + "/0.jpg", pv::fmt::kJpeg, 24, 26, 0), 0);
  }
  for (int i = 1; i < 8; ++i) fs::copy_file(photos + "/0.jpg", photos + "/" + std::to_string(i) + ".jpg");
  pv::test::Background run(PV_EXECUTABLE, {"--convert", "JXL", "0", "24", "90", "7", "--threads", "8", "--memory",
                                           "2G", "--output", dir.file("jxl"), "--file", photos});
  long peak = 0;
  ASSERT_EQ(run.wait(&peak), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("jxl")), fs::directory_iterator()), 8);
  EXPECT_LT(peak, 2300L * 1000 * 1000 / 1024) << peak / 1024 << " MiB";
}

// An image that needs more than the whole budget runs alone, and the log
// says so; the others share the budget as usual.
TEST_F(Outputs, AnImageLargerThanTheBudgetRunsAloneAndIsLogged) {
  const std::string photos = dir.file("alone");
  fs::create_directories(photos);
  for (const auto& [name, side] : {std::pair{"big.png", 900}, std::pair{"small.png", 40}}) {
    pv::test::LeadWithImage lead;
    lead.set(pv::test::noiseImage(side, side, 3, 5), 24);
    ASSERT_EQ(lead.SaveImage(photos + "/" + name, pv::fmt::kPng, 24, 0, 0), 0);
  }
  const std::string log = dir.file("alone.log");
  std::ofstream(data.file("config.ini")) << "[Global]\nDoLog=1\nLogFile=" << log << "\nMemoryBudget=10\n";
  const pv::test::ProcessResult r =
      pv::test::runProcess(PV_EXECUTABLE, {"--convert", "BMP", "--threads", "2", "--output", dir.file("alone-out"),
                                           "--file", photos + "/big.png", photos + "/small.png"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string text = pv::test::readFile(log);
  // 900 x 900 pixels at 16 bytes, and 4 for the writer: about 16 MB of 10.
  EXPECT_NE(text.find(photos + "/big.png: it needs about 16 MB, more than the memory budget of 10 MB, so it ran alone."),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("small.png: it needs"), std::string::npos) << text;
  EXPECT_TRUE(fs::exists(dir.file("alone-out") + "/big.bmp"));
  // --memory stands over the file's setting, and text is refused.
  const pv::test::ProcessResult bad =
      pv::test::runProcess(PV_EXECUTABLE, {"--convert", "BMP", "--memory", "plenty", "--output", dir.file("bad"),
                                           "--file", photos + "/small.png"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("Commandline Error: --memory needs a size such as 2G or 500M, not \"plenty\"."),
            std::string::npos)
      << bad.err;
  EXPECT_FALSE(fs::exists(dir.file("bad")));
}
