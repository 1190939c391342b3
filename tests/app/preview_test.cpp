// The panes' pictures, the output place of the save-location dialog, the
// options pages and sorting the image list: what the window shows and
// stores, without Qt.
#include "app/preview.h"

#include <gtest/gtest.h>

#include "app/image_list.h"
#include "app/options.h"
#include "core/file_format.h"
#include "tests/app/prompter.h"
#include "tests/engine/lead_holder.h"
#include "tests/support/support.h"

namespace {

using pv::app::PaneSize;

TEST(Preview, FitsTheImageToThePaneWithItsProportions) {
  struct Case {
    int w, h;
    PaneSize pane, expected;
  } cases[] = {
      {400, 300, {200, 150}, {200, 150}},  // same proportions
      {800, 200, {200, 150}, {200, 50}},   // wider image: the pane's width decides
      {200, 800, {200, 150}, {37, 150}},   // taller image: the pane's height decides
      {10, 5, {200, 150}, {200, 100}},     // small images grow to the pane
      {5000, 1, {200, 150}, {200, 1}},     // never below one pixel
      {1, 5000, {200, 150}, {1, 150}},
      {0, 10, {200, 150}, {0, 0}},  // nothing to fit
      {10, 10, {0, 150}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " into " << c.pane.width << "x" << c.pane.height);
    const PaneSize got = pv::app::fitToPane(c.w, c.h, c.pane);
    EXPECT_EQ(got.width, c.expected.width);
    EXPECT_EQ(got.height, c.expected.height);
  }
}

struct Panes : ::testing::Test {
  pv::test::DataDirGuard data;
  pv::test::TempDir dir;
  pv::test::RecordingPrompter prompter;
  pv::app::Session session{pv::app::loadSettings(), prompter};

  void add(const std::string& name, const cv::Mat& pixels, int bits) {
    pv::test::LeadWithImage lead;
    lead.set(pixels, bits);
    ASSERT_EQ(lead.SaveImage(dir.file(name), pv::fmt::kPng, 0, 0, 0), 0);
    pv::app::ImageListBuilder builder({session.settings, session.texts, session.primary, session.secondary, session.list,
                                       session.progress, session.running, session.prompter});
    ASSERT_TRUE(builder.isAcceptedFile(dir.file(name), true));
    builder.addImage(dir.file(name));
  }
};

TEST_F(Panes, BeforeIsTheImageFittedAndAfterHasTheChainApplied) {
  add("photo.png", pv::test::gradientImage(400, 200, 3), 24);
  session.chain.createByIndex(pv::filters::filterIndexOfText("/filter invert"));
  const auto pictures = pv::app::makePreview(session, 0, {100, 100}, true, true);
  ASSERT_TRUE(pictures.before);
  ASSERT_TRUE(pictures.after);
  EXPECT_EQ(pictures.before->width(), 100);
  EXPECT_EQ(pictures.before->height(), 50);
  EXPECT_EQ(pictures.after->width(), 100);
  // Inverted: each channel of a pixel sums with the original to 255, give or take resampling.
  const cv::Vec4b b = pictures.before->pixels.at<cv::Vec4b>(25, 10), a = pictures.after->pixels.at<cv::Vec4b>(25, 10);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(b[c] + a[c], 255, 2) << "channel " << c;
  // The session's own chain and list are untouched.
  EXPECT_EQ(session.chain.size(), 1u);
  EXPECT_EQ(session.currentEntry, -1);
}

TEST_F(Panes, OnlyThePicturesAskedForAndNoneForAnImageThatCannotBeOpened) {
  add("a.png", pv::test::gradientImage(40, 30, 3), 24);
  add("b.png", pv::test::checkerImage(40, 30, 1, 4), 8);
  auto only = pv::app::makePreview(session, 1, {80, 60}, false, true);
  EXPECT_FALSE(only.before);
  ASSERT_TRUE(only.after);
  EXPECT_EQ(only.after->width(), 80);  // a small image grows to the pane
  EXPECT_EQ(only.after->bits, 32);

  pv::test::writeFile(dir.file("a.png"), "damaged since it was listed");
  const auto gone = pv::app::makePreview(session, 0, {80, 60}, true, true);
  EXPECT_FALSE(gone.before);
  EXPECT_FALSE(gone.after);
  EXPECT_FALSE(pv::app::makePreview(session, 5, {80, 60}, true, true).before);  // no such entry
  EXPECT_TRUE(prompter.shown.empty());  // a pane never asks or tells anything
}

TEST(OutputPlace, ReadsAndStoresTheThreeChoices) {
  using pv::app::OutputPlace;
  struct Read {
    bool useSource;
    const char* dir;
    OutputPlace::Choice choice;
  } reads[] = {
      {true, "/srv/out", OutputPlace::kBesideSource},  // the switch wins over a folder
      {false, "", OutputPlace::kBesideSource},
      {false, "/srv/out", OutputPlace::kOneFolder},
      {false, "converted/", OutputPlace::kBelowSource},
  };
  for (const Read& r : reads) {
    SCOPED_TRACE(r.dir);
    pv::app::Settings s;
    s.UseSourcePathForOutput = r.useSource;
    s.OutPutDir = r.dir;
    EXPECT_EQ(pv::app::outputPlaceOf(s).choice, r.choice);
  }

  struct Store {
    OutputPlace place;
    const char* problem;
    bool useSource;
    const char* dir;
  } stores[] = {
      {{OutputPlace::kBesideSource, ""}, "", true, "old/"},
      {{OutputPlace::kOneFolder, "/srv/out"}, "", false, "/srv/out"},
      {{OutputPlace::kOneFolder, ""}, pv::app::kNoOutputFolderText, true, "old/"},
      {{OutputPlace::kBelowSource, "//web/small//"}, "", false, "web/small/"},
      {{OutputPlace::kBelowSource, "web"}, "", false, "web/"},
      {{OutputPlace::kBelowSource, ""}, pv::app::kNoOutputPathText, true, "old/"},
      // Slashes alone would name the root folder: refused like an empty path.
      {{OutputPlace::kBelowSource, "///"}, pv::app::kNoOutputPathText, true, "old/"},
  };
  for (const Store& c : stores) {
    SCOPED_TRACE(c.place.path);
    pv::app::Settings s;
    s.UseSourcePathForOutput = true;
    s.OutPutDir = "old/";
    EXPECT_EQ(pv::app::applyOutputPlace(s, c.place), c.problem);
    EXPECT_EQ(s.UseSourcePathForOutput, c.useSource);
    EXPECT_EQ(s.OutPutDir, c.dir);
  }
}

TEST(SortImageList, ByNameWithoutCaseKeepingEqualNamesInOrder) {
  pv::app::ImageList list;
  for (const char* path : {"/x/b.png", "/y/B.PNG", "/x/a.png", "/z/b.png", "/x/C.png"}) {
    pv::app::ImageEntry e;
    const std::string p = path;
    e.folder = p.substr(0, 3);
    e.fileName = p.substr(3);
    list.push_back(e);
  }
  const auto paths = [&] {
    std::string out;
    for (const auto& e : list) out += e.path() + " ";
    return out;
  };
  pv::app::sortImageList(list, true);
  EXPECT_EQ(paths(), "/x/a.png /x/b.png /y/B.PNG /z/b.png /x/C.png ");
  pv::app::sortImageList(list, false);
  EXPECT_EQ(paths(), "/x/C.png /x/b.png /y/B.PNG /z/b.png /x/a.png ");
}

}  // namespace

namespace {

TEST(OptionsPages, TheFilePageStoresNamesAndPlaces) {
  struct Case {
    const char* number;
    const char* multi;
    pv::app::OutputPlace place;
    const char* problem;
    const char* storedNumber;
    const char* storedMulti;
    const char* storedDir;
  } cases[] = {
      {"#", "_p%n", {pv::app::OutputPlace::kBelowSource, "/out/sub//"}, "", "#-%n", "_p%n", "out/sub/"},
      {"(%n)", "", {pv::app::OutputPlace::kOneFolder, "/srv/x"}, "", "(%n)", "-#%n", "/srv/x"},
      {"#", "#", {pv::app::OutputPlace::kBelowSource, ""}, pv::app::kNoOutputPathText, "-%n", "-#%n", "old/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    pv::app::Settings s;
    s.OutPutDir = "old/";
    pv::app::FilePage page = pv::app::filePageOf(s);
    page.number = c.number;
    page.multiPage = c.multi;
    page.place = c.place;
    EXPECT_EQ(pv::app::applyFilePage(s, page), c.problem);
    EXPECT_EQ(s.FileNameNumber, c.storedNumber);  // a stop leaves the names as they were
    EXPECT_EQ(s.FileNameMultiPage, c.storedMulti);
    EXPECT_EQ(s.OutPutDir, c.storedDir);
  }
}

TEST(OptionsPages, TheGlobalAndShellPages) {
  pv::app::Settings s;
  pv::app::GlobalPage g = pv::app::globalPageOf(s);
  EXPECT_EQ(g.silent, !s.ShowMessages);
  g.silent = true;
  g.doLog = true;
  g.logFile = "";
  EXPECT_EQ(pv::app::applyGlobalPage(s, g), pv::app::kNoLogFileText);
  EXPECT_FALSE(s.ShowMessages);  // stored before the stop
  g.logFile = "/tmp/run.log";
  g.threads = 3;
  EXPECT_TRUE(g.autoOrient && g.keepMetadata);
  g.autoOrient = false;
  g.keepMetadata = false;
  EXPECT_EQ(pv::app::applyGlobalPage(s, g), "");
  EXPECT_EQ(s.LogFile, "/tmp/run.log");
  EXPECT_EQ(s.Threads, 3);
  EXPECT_FALSE(s.AutoOrient || s.KeepMetadata);
  EXPECT_FALSE(pv::app::globalPageOf(s).autoOrient || pv::app::globalPageOf(s).keepMetadata);

  std::vector<bool> registered;
  const auto record = [&](bool on) { registered.push_back(on); };
  pv::app::ShellPage p = pv::app::shellPageOf(s);
  p.formats[2] = !p.formats[2];
  pv::app::applyShellPage(s, p, record);
  EXPECT_TRUE(registered.empty());  // the menu itself did not change
  EXPECT_EQ(s.shellFormats[2], p.formats[2]);
  p.enabled = !s.ShellContextEnabled;
  pv::app::applyShellPage(s, p, record);
  EXPECT_EQ(registered, std::vector<bool>{p.enabled});
}

}  // namespace

namespace {

TEST_F(Panes, AFormatsSampleIsTheImageWrittenWithItsOptions) {
  add("photo.png", pv::test::noiseImage(300, 200, 3, 5), 24);
  const std::string path = session.list[0].path();
  auto jpg = pv::formats::createFormat("JPG", session.settings.configPath);
  jpg->method = 2;
  struct Case {
    int quality;
    long long bytes = 0;
  } cases[] = {{10}, {200}};
  for (Case& c : cases) {
    jpg->quality = c.quality;
    const pv::app::EncodedSample s = pv::app::encodeSample(path, *jpg, {120, 80});
    ASSERT_TRUE(s.before && s.after) << c.quality;
    EXPECT_EQ(s.before->width(), 120);
    EXPECT_EQ(s.after->height(), 80);
    c.bytes = s.bytes;
  }
  // Quality factors count down: a high factor compresses harder, and noise shows it.
  EXPECT_GT(cases[0].bytes, cases[1].bytes * 2);
  // The clipboard writes no file; an image that cannot be read gives nothing.
  EXPECT_EQ(pv::app::encodeSample(path, *pv::formats::createFormat("CLP", ""), {120, 80}).bytes, -1);
  EXPECT_EQ(pv::app::encodeSample(dir.file("none.png"), *jpg, {120, 80}).bytes, -1);
}

}  // namespace
