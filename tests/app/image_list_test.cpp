#include "app/image_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "app/naming.h"
#include "core/file_format.h"
#include "engine/lead.h"
#include "tests/app/prompter.h"
#include "tests/engine/lead_holder.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::app::ImageListBuilder;

namespace {

// Real files written by the engine.
void writePng(const std::string& path, int w = 40, int h = 30, int channels = 3) {
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(w, h, channels), channels * 8);
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kPng, 0, 0, 0), 0) << path;
}
void writeTwoPageTiff(const std::string& path) {
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(20, 10, 3), 24);
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kTiff, 24, 0, 0), 0);
  lead.set(pv::test::checkerImage(20, 10, 3, 2), 24);
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kTiff, 24, 0, 1), 0);
}

struct Lister : ::testing::Test {
  pv::test::TempDir dir;
  pv::app::Settings settings;
  pv::app::RunTexts texts;
  pv::engine::CLead primary, secondary;
  pv::app::ImageList list;
  pv::app::JobProgress progress;
  std::atomic<bool> running{true};
  pv::test::RecordingPrompter prompter;
  ImageListBuilder builder{{settings, texts, primary, secondary, list, progress, running, prompter}};

  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : list) out.push_back(e.path().substr(dir.str().size() + 1));
    return out;
  }
};

}  // namespace

TEST(Wildcards, MatchLikeTheDesktopDoes) {
  using pv::app::wildcardMatch;
  EXPECT_TRUE(wildcardMatch("*.*", "README"));
  EXPECT_TRUE(wildcardMatch("*.png", "A.PNG"));
  EXPECT_FALSE(wildcardMatch("*.png", "a.png.bak"));
  EXPECT_TRUE(wildcardMatch("img??.j*", "IMG01.jpeg"));
  EXPECT_FALSE(wildcardMatch("img??.j*", "img1.jpeg"));
  EXPECT_TRUE(wildcardMatch("*a*b*c", "xxaxxbxxbxc"));
  EXPECT_FALSE(wildcardMatch("*a*b*c", "xxaxxbxxbx"));
}

TEST_F(Lister, ExtensionGateAndTheFactsOfAnEntry) {
  writePng(dir.file("PHOTO.JPEG"));  // PNG content under a JPEG name: accepted, content decides
  writePng(dir.file("photo.jpe"));
  writePng(dir.file("noext"));
  writePng(dir.file("alpha.png"), 30, 40, 4);
  fs::create_directory(dir.file("folder.png"));
  EXPECT_TRUE(builder.isAcceptedFile(dir.file("PHOTO.JPEG"), true));
  EXPECT_FALSE(builder.isAcceptedFile(dir.file("photo.jpe"), true));
  EXPECT_FALSE(builder.isAcceptedFile(dir.file("noext"), true));
  EXPECT_FALSE(builder.isAcceptedFile(dir.file("x.d/noext"), true));  // the dot belongs to a folder
  EXPECT_TRUE(builder.isAcceptedFile(dir.file("noext"), false));
  EXPECT_TRUE(texts.errorSummary.empty());  // extension mismatches are not logged
  // A folder that passes the extension test is not an image: logged as such.
  EXPECT_FALSE(builder.isAcceptedFile(dir.file("folder.png"), true));
  EXPECT_NE(texts.errorSummary.find("ERROR 5003 - Does not seem to be a valid image file - " + dir.file("folder.png")),
            std::string::npos);

  // A pipe named like an image is refused at once instead of blocking the job.
  ASSERT_EQ(mkfifo(dir.file("pipe.png").c_str(), 0644), 0);
  EXPECT_FALSE(builder.isAcceptedFile(dir.file("pipe.png"), true));

  ASSERT_TRUE(builder.isAcceptedFile(dir.file("alpha.png"), true));
  builder.addImage(dir.file("alpha.png"));
  ASSERT_EQ(list.size(), 1u);
  const auto& e = list[0];
  EXPECT_EQ(e.folder, dir.str() + "/");
  EXPECT_EQ(e.fileName, "alpha.png");
  EXPECT_EQ(e.extension, "png");
  EXPECT_EQ(e.width, 30u);
  EXPECT_EQ(e.height, 40u);
  EXPECT_EQ(e.sourceBits, 32u);
  EXPECT_EQ(e.pageCount, 1u);
  EXPECT_EQ(e.firstPage, 1);
  EXPECT_FALSE(e.multiPage);
  EXPECT_TRUE(e.hasAlpha);
  EXPECT_EQ(e.sourceFormat, 75);
  // The thumbnail fits 76 x 57 with the aspect kept: 30 x 40 becomes 43 x 57.
  ASSERT_TRUE(e.thumbnail);
  EXPECT_EQ(e.thumbnailWidth, 43u);
  EXPECT_EQ(e.thumbnailHeight, 57u);
  EXPECT_EQ(e.thumbnail->pixels.cols, 43);
  EXPECT_EQ(e.thumbnail->pixels.channels(), 4);

  settings.commandLineMode = true;  // a plain command-line job makes none
  builder.addImage(dir.file("alpha.png"));
  EXPECT_FALSE(list[1].thumbnail);
  EXPECT_EQ(list[1].thumbnailWidth, 0u);
}

TEST_F(Lister, DamagedAndMultiPageFiles) {
  writePng(dir.file("good.png"));
  std::string bytes = pv::test::readFile(dir.file("good.png"));
  std::ofstream(dir.file("cut.png"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  std::ofstream(dir.file("text.jpg")) << "not an image at all";
  writeTwoPageTiff(dir.file("two.tif"));
  builder.addDropped({dir.file("cut.png"), dir.file("text.jpg"), dir.file("two.tif"), dir.file("good.png")});
  EXPECT_EQ(names(), (std::vector<std::string>{"two.tif", "good.png"}));
  EXPECT_EQ(list[0].pageCount, 2u);
  EXPECT_EQ(list[0].firstPage, 1);
  EXPECT_TRUE(list[0].multiPage);
  // The damaged PNG is recognised but does not load; the text file is no image.
  EXPECT_EQ(texts.errorSummary, "The following images could not be opened:\r\n\r\nERROR 20007 - Error reading file - " +
                                       dir.file("cut.png") +
                                       "\r\nERROR 5003 - Does not seem to be a valid image file - " + dir.file("text.jpg") +
                                       "\r\n");
  EXPECT_NE(texts.conversionLog.find(dir.file("text.jpg") + " could NOT be opened.\r\n"), std::string::npos);
  EXPECT_EQ(progress.name(), "-");
  EXPECT_EQ(progress.percent, 100);
  EXPECT_EQ(progress.count, 4);
}

TEST_F(Lister, FolderSearchIsBreadthFirstAndSorted) {
  fs::create_directories(dir.file("b/deep"));
  fs::create_directories(dir.file("a"));
  writePng(dir.file("top2.png"));
  writePng(dir.file("top1.PNG"));
  writePng(dir.file("b/b1.png"));
  writePng(dir.file("b/deep/d1.png"));
  writePng(dir.file("a/a1.png"));
  writePng(dir.file("a/a2.gif.png"));
  std::ofstream(dir.file("a/notes.txt")) << "x";
  // A link loop and a link to a folder are never followed.
  fs::create_directory_symlink(dir.str(), dir.file("a/loop"));

  builder.searchFolder(dir.str());
  EXPECT_EQ(names(), (std::vector<std::string>{"top1.PNG", "top2.png", "a/a1.png", "a/a2.gif.png", "b/b1.png",
                                               "b/deep/d1.png"}));
  list.clear();
  builder.searchFolder(dir.str() + "/", "*1.png");
  EXPECT_EQ(names(), (std::vector<std::string>{"top1.PNG", "a/a1.png", "b/b1.png", "b/deep/d1.png"}));

  list.clear();
  settings.ScanSubDir = false;
  builder.searchFolder(dir.str());
  EXPECT_EQ(names(), (std::vector<std::string>{"top1.PNG", "top2.png"}));

  list.clear();
  builder.addWildcard(dir.file("a/*.png"));
  EXPECT_EQ(names(), (std::vector<std::string>{"a/a1.png", "a/a2.gif.png"}));
  EXPECT_TRUE(texts.errorSummary.empty()) << texts.errorSummary;
}

TEST_F(Lister, ReadOnlyFoldersAreSearchedAndUnlistableOnesGiveNothing) {
  fs::create_directories(dir.file("ro"));
  fs::create_directories(dir.file("closed"));
  writePng(dir.file("ro/r.png"));
  writePng(dir.file("closed/c.png"));
  chmod(dir.file("ro").c_str(), 0555);
  chmod(dir.file("closed").c_str(), 0);
  builder.searchFolder(dir.str());
  chmod(dir.file("ro").c_str(), 0755);
  chmod(dir.file("closed").c_str(), 0755);
  if (geteuid() == 0) {
    EXPECT_EQ(names(), (std::vector<std::string>{"closed/c.png", "ro/r.png"}));  // root reads everything
  } else {
    EXPECT_EQ(names(), (std::vector<std::string>{"ro/r.png"}));
  }
  list.clear();
  builder.searchFolder(dir.file("missing"));
  builder.addWildcard(dir.file("missing/*.png"));
  EXPECT_TRUE(list.empty());
}

TEST_F(Lister, AbortStopsBetweenCandidatesWhateverMessagesSay) {
  for (int i = 0; i < 3; ++i) writePng(dir.file("p" + std::to_string(i) + ".png"));
  running = false;
  for (bool shown : {true, false}) {
    SCOPED_TRACE(shown);
    settings.ShowMessages = shown;
    list.clear();
    builder.addChosenFiles(dir.str(), {"p0.png", "p1.png"});
    builder.searchFolder(dir.str());
    builder.addWildcard(dir.file("*.png"));
    EXPECT_TRUE(list.empty());
    builder.addDropped({dir.file("p2.png")});  // dropped files are not tested
    EXPECT_EQ(list.size(), 1u);
  }
}

TEST_F(Lister, ListFilesTakeEveryLineEndAndLongLines) {
  writePng(dir.file("one.png"));
  // A path far beyond 1,499 characters, through nested folders.
  std::string longFolder = dir.str();
  for (int i = 0; i < 12; ++i) longFolder += "/" + std::string(150, static_cast<char>('a' + i));
  fs::create_directories(longFolder);
  writePng(longFolder + "/long.png");
  ASSERT_GT(longFolder.size(), 1600u);
  const std::string listPath = dir.file("list.pvl");
  std::ofstream(listPath, std::ios::binary) << dir.file("one.png") << "\r\r\n\n" << longFolder << "/long.png\r\n"
                                            << dir.file("missing.png") << "\n" << dir.file("one.png");
  ASSERT_TRUE(builder.readListFile(listPath));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1].path(), longFolder + "/long.png");
  EXPECT_EQ(list[2].path(), dir.file("one.png"));
  EXPECT_NE(texts.errorSummary.find(dir.file("missing.png")), std::string::npos);

  // Written back: one path a line, LF on disk, read again to the same list.
  const std::string out = dir.file("out.pvl");
  ASSERT_TRUE(pv::app::writeListFile(settings, list, out, prompter));
  EXPECT_EQ(pv::test::readFile(out), dir.file("one.png") + "\n" + longFolder + "/long.png\n" + dir.file("one.png") + "\n");
  pv::app::ImageList again;
  ImageListBuilder second({settings, texts, primary, secondary, again, progress, running, prompter});
  ASSERT_TRUE(second.readListFile(out));
  ASSERT_EQ(again.size(), 3u);

  EXPECT_FALSE(builder.readListFile(dir.file("nope.pvl")));
  EXPECT_FALSE(builder.readListFile(dir.str()));
  EXPECT_FALSE(pv::app::writeListFile(settings, list, dir.file("no/such/dir.pvl"), prompter));
  ASSERT_EQ(prompter.shown.size(), 3u);
  EXPECT_EQ(prompter.shown[0], std::string(pv::app::kCaption) + "|" + pv::app::kFileLoadFailedText);
  EXPECT_EQ(prompter.shown[2], std::string(pv::app::kCaption) + "|" + pv::app::kFileSaveFailedText);
}

TEST_F(Lister, CorpusFilesAreListed) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path suite = corpus / "pngsuite";
  if (!fs::is_directory(suite)) GTEST_SKIP() << "no pngsuite in the corpus";
  settings.ShowThumbnails = false;
  builder.searchFolder(suite.string(), "basn*.png");
  EXPECT_GE(list.size(), 10u);
  for (const auto& e : list) {
    EXPECT_GT(e.width, 0u) << e.fileName;
    EXPECT_FALSE(e.thumbnail);
  }
}

TEST_F(Lister, AListedJpegKeepsItsOwnSizeAndAShortenedOneIsStillRefused) {
  pv::test::LeadWithImage lead;
  lead.set(pv::test::noiseImage(800, 600, 3, 3), 24);
  ASSERT_EQ(lead.SaveImage(dir.file("big.jpg"), pv::fmt::kJpeg, 24, 2, 0), 0);
  const std::string bytes = pv::test::readFile(dir.file("big.jpg"));
  pv::test::writeFile(dir.file("cut.jpg"), bytes.substr(0, bytes.size() / 2));
  for (bool thumbnails : {true, false}) {
    SCOPED_TRACE(thumbnails);
    list.clear();
    settings.ShowThumbnails = thumbnails;
    ASSERT_TRUE(builder.isAcceptedFile(dir.file("big.jpg"), true));
    builder.addImage(dir.file("big.jpg"));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].width, 800u);  // decoded smaller for the list, recorded as it is
    EXPECT_EQ(list[0].height, 600u);
    EXPECT_EQ(list[0].thumbnail != nullptr, thumbnails);
    if (thumbnails) {
      EXPECT_EQ(list[0].thumbnailWidth, 76u);
    }
    EXPECT_FALSE(builder.isAcceptedFile(dir.file("cut.jpg"), true));  // damage is found at any scale
  }
  // The next load of the control is whole again.
  ASSERT_EQ(primary.LoadImage(dir.file("big.jpg"), 0, 0, 1), 0);
  EXPECT_EQ(primary.GetImageWidth(), 800);
}

namespace {

// What a listing hands on: the entries, the log, the summary and the records
// the observer is told, in the order it is told them.
struct Seen final : pv::app::JobObserver {
  std::vector<std::string> records;
  std::function<void()> after;  // run after each record
  void outcome(const pv::app::OutcomeRecord& r) override {
    records.push_back(r.source + " " + std::to_string(r.status) + (r.entry ? " " + r.entry->fileName : ""));
    if (after) after();
  }
};

}  // namespace

// Candidates are opened on every worker; the list, the log, the summary and
// the records come out as one worker gives them, whichever finishes first.
TEST_F(Lister, SeveralWorkersListLikeOne) {
  std::vector<std::string> paths;
  for (int i = 0; i < 24; ++i) {
    const std::string name = "p" + std::to_string(10 + i);
    if (i % 7 == 3) {
      std::ofstream(dir.file(name + ".jpg")) << "not an image";
    } else if (i % 7 == 5) {
      std::ofstream(dir.file(name + ".txt")) << "not a candidate";
      paths.push_back(dir.file(name + ".txt"));
      continue;
    } else if (i % 5 == 4) {
      writeTwoPageTiff(dir.file(name + ".tif"));
      paths.push_back(dir.file(name + ".tif"));
      continue;
    } else {
      writePng(dir.file(name + ".png"), 20 + i, 10 + i, i % 2 ? 4 : 3);
      paths.push_back(dir.file(name + ".png"));
      continue;
    }
    paths.push_back(dir.file(name + ".jpg"));
  }
  pv::test::writeFile(dir.file("list.txt"), [&] {
    std::string text;
    for (const auto& p : paths) text += p + "\n";
    return text;
  }());
  const struct {
    const char* kind;
    std::function<void(ImageListBuilder&)> run;
  } kinds[] = {
      {"dropped", [&](ImageListBuilder& b) { b.addDropped(paths); }},
      {"folder", [&](ImageListBuilder& b) { b.searchFolder(dir.str()); }},
      {"list file", [&](ImageListBuilder& b) { b.readListFile(dir.file("list.txt")); }},
  };
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.kind);
    std::vector<std::vector<std::string>> results;
    for (int workers : {1, 4}) {
      settings.Threads = workers;
      texts.conversionLog.clear();
      texts.errorSummary.clear();
      list.clear();
      Seen seen;
      ImageListBuilder b{{settings, texts, primary, secondary, list, progress, running, prompter, nullptr, &seen}};
      k.run(b);
      std::vector<std::string> result = seen.records;
      for (const auto& e : list)
        result.push_back(e.fileName + " " + std::to_string(e.width) + "x" + std::to_string(e.height) + " " +
                         std::to_string(e.pageCount) + " " + std::to_string(e.thumbnailWidth) + " " +
                         std::to_string(e.hasAlpha));
      result.push_back(texts.errorSummary);
      result.push_back(std::to_string(progress.count) + " " + std::to_string(progress.percent));
      results.push_back(result);
    }
    EXPECT_EQ(results[1], results[0]);
    EXPECT_GT(results[0].size(), 30u);
  }
}

// A stop in the middle of a listing: however far the other workers got, the
// list ends where one worker's does, without a gap.
TEST_F(Lister, AStopOnSeveralWorkersListsAnUnbrokenBeginning) {
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) {
    names.push_back("p" + std::to_string(10 + i) + ".png");
    writePng(dir.file(names.back()));
  }
  for (int workers : {1, 4}) {
    SCOPED_TRACE(workers);
    settings.Threads = workers;
    list.clear();
    running = true;
    Seen seen;
    seen.after = [&] {
      if (seen.records.size() == 5) running = false;
    };
    ImageListBuilder b{{settings, texts, primary, secondary, list, progress, running, prompter, nullptr, &seen}};
    b.addChosenFiles(dir.str(), names);
    ASSERT_EQ(list.size(), 5u);
    for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i].fileName, names[i]);
    EXPECT_EQ(seen.records.size(), list.size());
  }
}
