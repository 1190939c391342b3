// A largest file size, met by lowering the quality: the bisection on sizes
// made up for it, then real photos in the five lossy photo formats, where
// the file written must be the very file of the quality it reports and one
// quality better must not fit.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/file_format.h"
#include "engine/lead.h"
#include "engine/outputs.h"
#include "engine/status.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::engine::SizeOutcome;

namespace {

struct Search {
  SizeOutcome out;
  bool kept = false;
  short status = 0;
  std::vector<int> probed;
  int keptQuality = -1;  // the quality of the last probe `keep` was called after
};

Search search(int best, int worst, std::uint64_t limit, const std::function<std::uint64_t(int)>& size,
              int failAt = -1) {
  Search s;
  int last = -1;
  s.status = pv::engine::searchQuality(
      best, worst, limit, pv::engine::kMaxSizeEncodes,
      [&](int q, std::uint64_t& bytes) -> short {
        s.probed.push_back(q);
        last = q;
        if (q == failAt) return pv::engine::kCannotCreate;
        bytes = size(q);
        return 0;
      },
      [&] { s.keptQuality = last; }, s.out, s.kept);
  return s;
}

}  // namespace

// Sizes that fall as the quality falls, in both directions of quality
// numbers: the best quality that fits is found (exactly where the range
// allows it in eight encodes), the quality asked for is tried first, and
// the worst quality is written when nothing fits.
TEST(SizeSearch, FindsTheBestQualityThatFitsInAtMostEightEncodes) {
  const auto rising = [](int q) { return static_cast<std::uint64_t>(1000 + 100 * q); };  // 0..100 better upward
  const auto falling = [](int q) { return static_cast<std::uint64_t>(30000 - 100 * q); };  // 2..255 better downward
  struct Case {
    const char* name;
    int best, worst;
    std::uint64_t limit;
    std::function<std::uint64_t(int)> size;
    int quality;  // expected; -1: any within `slack` of the optimum `optimum`
    bool fits, kept;
    int optimum = -1, slack = 0;
  } cases[] = {
      {"the quality asked for fits", 80, 0, 9000, rising, 80, true, true},
      {"rising, exact", 100, 0, 7050, rising, 60, true, true},
      {"rising, the lowest fits only", 100, 0, 1000, rising, 0, true, false},
      {"rising, nothing fits", 100, 0, 999, rising, 0, false, false},
      {"rising, one quality only, fits", 0, 0, 1000, rising, 0, true, true},
      {"rising, one quality only, too big", 0, 0, 10, rising, 0, false, true},
      {"rising, a ceiling below the best", 50, 0, 5550, rising, 45, true, true},
      {"falling factors, close", 2, 255, 20000, falling, -1, true, true, 100, 1},
      {"falling factors, nothing fits", 2, 255, 4000, falling, 255, false, false},
      {"a step in the sizes", 100, 0, 5000, [](int q) -> std::uint64_t { return q > 37 ? 9000 : 4000; }, 37, true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Search s = search(c.best, c.worst, c.limit, c.size);
    ASSERT_EQ(s.status, 0);
    EXPECT_LE(static_cast<int>(s.probed.size()) + (s.kept ? 0 : 1), pv::engine::kMaxSizeEncodes);
    EXPECT_EQ(s.out.encodes, static_cast<int>(s.probed.size()));
    EXPECT_EQ(s.probed.front(), c.best) << "the quality asked for is tried first";
    if (c.quality >= 0)
      EXPECT_EQ(s.out.quality, c.quality);
    else
      EXPECT_NEAR(s.out.quality, c.optimum, c.slack);
    EXPECT_EQ(s.kept, c.kept);
    if (s.kept) {
      EXPECT_EQ(s.out.fits, c.fits);
      EXPECT_EQ(s.out.bytes, c.size(s.out.quality));
      EXPECT_EQ(s.keptQuality, s.out.quality) << "the kept file is the one chosen";
    }
    // Every quality tried was within the range, none twice.
    EXPECT_EQ(std::set<int>(s.probed.begin(), s.probed.end()).size(), s.probed.size());
    for (int q : s.probed) EXPECT_TRUE(q >= std::min(c.best, c.worst) && q <= std::max(c.best, c.worst)) << q;
  }
}

TEST(SizeSearch, AFailedEncodeEndsTheSearchWithItsStatus) {
  const Search s = search(100, 0, 10, [](int q) { return static_cast<std::uint64_t>(q * 100); }, 50);
  EXPECT_EQ(s.status, pv::engine::kCannotCreate);
}

// Real photos: for each format and limit the file fits (or is the lowest
// quality when nothing does), is byte for byte the save at the quality
// reported, and the next better quality would not have fitted.
TEST(SizeLimit, RealPhotosFitAtTheBestQualityAndReportIt) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path photo = corpus / "pillow" / "Tests" / "images" / "flower.jpg";
  if (!fs::exists(photo)) GTEST_SKIP() << "no flower.jpg in the corpus";
  pv::test::TempDir dir;
  struct Format {
    const char* name;
    short code;
    int quality, worst, better;  // the quality asked for, the lowest, one step better
    short effort;                // the format's default effort or speed
  } formats[] = {
      // JPEG factors run from 2 (best) to 255; eight encodes over them
      // resolve two factors, so two better is over the limit.
      {"jpg", pv::fmt::kJpeg, 26, 255, -2, 0},
      {"webp", pv::fmt::kWebp, 80, 0, 1, 4},
      {"avif", pv::fmt::kAvif, 60, 0, 1, 6},
      {"heic", pv::fmt::kHeic, 50, 0, 1, 5},
      {"jxl", pv::fmt::kJxl, 90, 0, 1, 5},
  };
  for (const Format& f : formats) {
    for (std::uint64_t limit : {20000u, 9000u, 300u}) {
      SCOPED_TRACE(std::string(f.name) + " at most " + std::to_string(limit));
      pv::engine::CLead lead;
      ASSERT_EQ(lead.LoadImage(photo.string(), 0, 0, 1), 0);
      lead.SetSavePasses(f.effort);
      lead.SetSaveSizeLimit({.bytes = limit, .worstQuality = f.worst});
      const std::string out = dir.file(std::string("limited-") + std::to_string(limit) + "." + f.name);
      ASSERT_EQ(lead.SaveImage(out, f.code, 24, static_cast<short>(f.quality), 0), 0);
      ASSERT_TRUE(lead.GetSizeOutcome().has_value());
      const SizeOutcome o = *lead.GetSizeOutcome();
      EXPECT_LE(o.encodes, pv::engine::kMaxSizeEncodes);
      EXPECT_EQ(o.bytes, fs::file_size(out));
      EXPECT_EQ(o.fits, o.bytes <= limit);
      if (!o.fits) {
        EXPECT_EQ(o.quality, f.worst) << "nothing fits: the lowest quality";
      }
      // The file is the save at the quality reported, metadata and all.
      lead.SetSaveSizeLimit({});
      const std::string plain = dir.file(std::string("plain-") + std::to_string(limit) + "." + f.name);
      ASSERT_EQ(lead.SaveImage(plain, f.code, 24, static_cast<short>(o.quality), 0), 0);
      EXPECT_FALSE(lead.GetSizeOutcome().has_value());
      EXPECT_EQ(pv::test::readFile(plain), pv::test::readFile(out));
      // One quality better would not fit (unless the quality asked for
      // fitted, or the lowest was written after the encodes ran out).
      if (o.fits && o.quality != f.quality && o.quality != f.worst) {
        const std::string better = dir.file(std::string("better-") + std::to_string(limit) + "." + f.name);
        ASSERT_EQ(lead.SaveImage(better, f.code, 24, static_cast<short>(o.quality + f.better), 0), 0);
        EXPECT_GT(fs::file_size(better), limit);
      }
    }
  }
  // The trials leave nothing behind in the folder written to.
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_FALSE(pv::engine::isTemporaryName(e.path().filename().string())) << e.path();
}
