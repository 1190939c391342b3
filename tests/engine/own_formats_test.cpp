// Formats written by our own encoders: every code at every allowed depth is
// written, read back (by ImageMagick where it reads the format, else by our
// reader) and compared pixel for pixel.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <opencv2/imgproc.hpp>

#include "core/file_format.h"
#include "engine/codecs/own.h"
#include "engine/lead.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/reference.h"
#include "tests/support/support.h"

namespace {

enum class Back { kMagick, kOwn };

struct Row {
  int code;
  const char* ext;
  std::vector<int> depths;
  Back back;
  int width = 37, height = 23;
  bool exactBits = false;  // the file stores any depth, not the next of 1, 4, 8, 24
  int readCode = 0;        // the code a read reports, when not `code`
};

using pv::test::asColour;

cv::Mat blackAndWhite(int w, int h) {
  cv::Mat bw = pv::test::checkerImage(w, h, 3, 3);
  cv::threshold(bw, bw, 127, 255, cv::THRESH_BINARY);
  return bw;
}

cv::Mat readBack(const Row& r, const std::string& path, int& bits) {
  if (r.back == Back::kMagick) {
    bits = 0;
    return asColour(pv::test::decodeWithMagick(path, 3));
  }
  pv::test::LeadWithImage lead;
  EXPECT_EQ(lead.LoadImage(path, 0, 1, 1), 0);
  EXPECT_EQ(lead.ReadFileInfo(path, -1, 1), 0);
  EXPECT_EQ(lead.GetInfoFormat(), r.readCode ? r.readCode : r.code);
  bits = lead.GetInfoBits();
  return lead.pageCount() ? asColour(lead.pixels()) : cv::Mat();
}

// Raw G4 data as ImageMagick's G4 reader decodes it, given the size.
cv::Mat decodeG4WithMagick(const std::string& path, int w, int h) {
  Magick::Image im;
  im.quiet(true);
  im.size(Magick::Geometry(static_cast<std::size_t>(w), static_cast<std::size_t>(h)));
  im.read("G4:" + path);
  cv::Mat out(h, w, CV_8UC3);
  im.write(0, 0, static_cast<std::size_t>(w), static_cast<std::size_t>(h), "BGR", Magick::CharPixel,
           out.data);
  return out;
}

void roundTrip(const std::vector<Row>& rows) {
  pv::test::TempDir dir;
  for (const Row& r : rows)
    for (int d : r.depths) {
      SCOPED_TRACE(std::to_string(r.code) + " at " + std::to_string(d));
      const cv::Mat bw = blackAndWhite(r.width, r.height);
      const cv::Mat src = d == 1   ? bw
                          : d <= 8 ? pv::test::fewColours(r.width, r.height, 1 << std::min(d, 4))
                                   : pv::test::noiseImage(r.width, r.height, 3, 5);
      pv::test::LeadWithImage lead;
      lead.set(src, 24);
      const std::string path = dir.file(std::to_string(r.code) + "_" + std::to_string(d) + "." + r.ext);
      ASSERT_EQ(lead.SaveImage(path, static_cast<short>(r.code), static_cast<short>(d), 0, 0), 0);
      int bits = 0;
      const cv::Mat back = readBack(r, path, bits);
      ASSERT_EQ(back.cols, r.width);
      ASSERT_EQ(back.rows, r.height);
      EXPECT_EQ(cv::norm(back, src, cv::NORM_INF), 0.0);
      if (r.back == Back::kOwn) {
        EXPECT_EQ(bits, r.exactBits ? d : d <= 1 ? 1 : d <= 4 ? 4 : d <= 8 ? 8 : 24);
      }
    }
}

}  // namespace

TEST(OwnFormats, IconsCursorsClipboardAndMetafilesRoundTrip) {
  roundTrip({
      {pv::fmt::kIcon, "ico", {1, 4, 8, 24}, Back::kMagick, 32, 32},
      {pv::fmt::kCursor, "cur", {1, 4, 8, 24}, Back::kMagick, 32, 32},
      {pv::fmt::kAnimatedCursor, "ani", {1, 4, 8, 24}, Back::kOwn, 32, 32},
      {pv::fmt::kClipboard, "clp", {1, 4, 8, 24}, Back::kOwn},
      {pv::fmt::kWmf, "wmf", {8, 24}, Back::kOwn},
      {pv::fmt::kEmf, "emf", {8, 24}, Back::kOwn},
  });
}

TEST(OwnFormats, BlackAndWhitePaintFormatsRoundTrip) {
  roundTrip({
      {pv::fmt::kMsp, "msp", {1}, Back::kOwn},
      {pv::fmt::kGemImg, "img", {1}, Back::kOwn},
  });
  // MacPaint pictures are always 576 x 720: a smaller page sits at the top
  // left on white, and ImageMagick reads it back.
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  const cv::Mat bw = blackAndWhite(100, 60);
  lead.set(bw, 1);
  ASSERT_EQ(lead.SaveImage(dir.file("p.mac"), pv::fmt::kMacPaint, 1, 0, 0), 0);
  const cv::Mat back = asColour(pv::test::decodeWithMagick(dir.file("p.mac"), 3));
  ASSERT_EQ(back.cols, 576);
  ASSERT_EQ(back.rows, 720);
  EXPECT_EQ(cv::norm(back(cv::Rect(0, 0, 100, 60)), bw, cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::countNonZero(back(cv::Rect(100, 60, 476, 660)).reshape(1) != 255), 0);
  // Our reader takes the file with and without its MacBinary header.
  pv::test::writeFile(dir.file("bare.mac"), pv::test::readFile(dir.file("p.mac")).substr(128));
  for (const char* name : {"p.mac", "bare.mac"}) {
    pv::test::LeadWithImage own;
    ASSERT_EQ(own.LoadImage(dir.file(name), 0, 1, 1), 0) << name;
    EXPECT_EQ(cv::norm(asColour(own.pixels()), back, cv::NORM_INF), 0.0) << name;
  }
  // A larger page is scaled down to fit, keeping its shape.
  cv::Mat big(1440, 1152, CV_8UC3, cv::Scalar(255, 255, 255));
  big(cv::Rect(0, 0, 576, 1440)).setTo(cv::Scalar(0, 0, 0));  // the left half black
  lead.set(big, 24);
  ASSERT_EQ(lead.SaveImage(dir.file("big.mac"), pv::fmt::kMacPaint, 1, 0, 0), 0);
  const cv::Mat fitted = asColour(pv::test::decodeWithMagick(dir.file("big.mac"), 3));
  EXPECT_EQ(fitted.at<cv::Vec3b>(700, 100), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(fitted.at<cv::Vec3b>(700, 400), cv::Vec3b(255, 255, 255));
}

TEST(OwnFormats, PaintReadersTakeTheReferencePictures) {
  const auto corpus = pv::test::corpusDir();
  if (!corpus) GTEST_SKIP() << "no corpus";
  const std::string msp = (*corpus / "pillow/Tests/images/hopper.msp").string();
  pv::engine::CLead lead;
  ASSERT_EQ(lead.ReadFileInfo(msp, -1, 1), 0);
  EXPECT_EQ(lead.GetInfoFormat(), 53);
  EXPECT_EQ(lead.GetInfoBits(), 1);
  ASSERT_EQ(lead.LoadImage(msp, 0, 1, 1), 0);
  EXPECT_EQ(lead.GetImageWidth(), 128);
  EXPECT_EQ(lead.GetImageHeight(), 128);
}

TEST(OwnFormats, FaxCodingsRoundTrip) {
  roundTrip({{pv::fmt::kSff, "sff", {1}, Back::kOwn, 300, 40}});
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  const cv::Mat bw = blackAndWhite(200, 30);
  lead.set(bw, 1);
  // Raw G4 as ImageMagick reads it, given the line width.
  ASSERT_EQ(lead.SaveImage(dir.file("g4.fax"), pv::fmt::kFaxG4, 1, 0, 0), 0);
  EXPECT_EQ(cv::norm(decodeG4WithMagick(dir.file("g4.fax"), 200, 30), bw, cv::NORM_INF), 0.0);
  // Raw G3 2D through libtiff's decoder.
  ASSERT_EQ(lead.SaveImage(dir.file("g3.fax"), pv::fmt::kFaxG3_2D, 1, 0, 0), 0);
  pv::engine::codecs::Coding c;
  c.compression = 3;  // CCITT group 3
  c.twoD = true;
  cv::Mat black;
  ASSERT_EQ(pv::engine::codecs::ccittDecode({pv::test::readFile(dir.file("g3.fax"))}, 200, 30, c, black), 0);
  cv::Mat grey;
  cv::cvtColor(bw, grey, cv::COLOR_BGR2GRAY);
  EXPECT_EQ(cv::countNonZero((black == 1) != (grey == 0)), 0);
  // A cut structured fax file is damaged, not a crash.
  ASSERT_EQ(lead.SaveImage(dir.file("s.sff"), pv::fmt::kSff, 1, 0, 0), 0);
  const std::string sff = pv::test::readFile(dir.file("s.sff"));
  for (std::size_t cut : {std::size_t{21}, std::size_t{40}, sff.size() / 2}) {
    pv::test::writeFile(dir.file("cut.sff"), sff.substr(0, cut));
    pv::engine::CLead r;
    EXPECT_NE(r.LoadImage(dir.file("cut.sff"), 0, 1, 1), 0);
  }
}

TEST(OwnFormats, IffPicturesRoundTripAndReadTheReferencePictures) {
  roundTrip({
      {pv::fmt::kIff, "iff", {1, 2, 3, 4, 5, 6, 7, 8, 24}, Back::kOwn, 37, 23, true},
      {pv::fmt::kIffRaw, "iff", {1, 4, 8, 24}, Back::kOwn, 37, 23, true, pv::fmt::kIff},
  });
  // The multi-page variant holds every page.
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  const cv::Mat a = pv::test::noiseImage(21, 9, 3, 1), b = pv::test::noiseImage(13, 30, 3, 2);
  lead.setPages({a, b}, 24);
  ASSERT_EQ(lead.SaveImage(dir.file("two.iff"), pv::fmt::kIffCat, 24, 0, 0), 0);
  pv::test::LeadWithImage back;
  ASSERT_EQ(back.LoadImage(dir.file("two.iff"), 0, 1, -1), 0);
  ASSERT_EQ(back.pageCount(), 2u);
  back.SetPageNumber(1);
  EXPECT_EQ(cv::norm(back.pixels(), b, cv::NORM_INF), 0.0);

  PV_REQUIRE_CORPUS(corpus);
  const auto iff = corpus / "kimageformats/autotests/read/iff";
  for (const char* name :
       {"testcard_indexed2_amiga", "testcard_indexed3_amiga", "testcard_pbm", "testcard_rlepbm",
        "ps_testcard_rgb_amiga", "ps_testcard_gray_amiga", "ps_testcard_bitmap_amiga", "flag_ham6", "ham8"}) {
    SCOPED_TRACE(name);
    pv::test::LeadWithImage ref;
    ASSERT_EQ(ref.LoadImage((iff / (std::string(name) + ".png")).string(), 0, 1, 1), 0);
    pv::test::LeadWithImage got;
    ASSERT_EQ(got.LoadImage((iff / (std::string(name) + ".iff")).string(), 0, 1, 1), 0);
    ASSERT_EQ(got.pixels().size(), ref.pixels().size());
    // Hold-and-modify with 6-bit levels: scaling to 8 bits may round either way.
    EXPECT_LE(cv::norm(asColour(got.pixels()), asColour(ref.pixels()), cv::NORM_INF),
              name == std::string("ham8") ? 1.0 : 0.0);
  }
  pv::engine::CLead cat;
  ASSERT_EQ(cat.ReadFileInfo((iff / "cat_ilbm.iff").string(), -1, 1), 0);
  EXPECT_EQ(cat.GetInfoPageCount(), 2);
  EXPECT_EQ(cat.GetInfoBits(), 24);
  EXPECT_EQ(cat.GetInfoFormat(), 112);  // the multi-page kind
  ASSERT_EQ(cat.ReadFileInfo((iff / "flag_ham6.iff").string(), -1, 1), 0);
  EXPECT_EQ(cat.GetInfoBits(), 24);  // hold-and-modify makes true colour
}

TEST(OwnFormats, WordPerfectScitexAndHaloPicturesRoundTrip) {
  roundTrip({
      {pv::fmt::kWpg, "wpg", {1, 4, 8}, Back::kMagick},
      {pv::fmt::kScitexCt, "sct", {24}, Back::kMagick},
      {pv::fmt::kCut, "cut", {8}, Back::kOwn},
  });
  // The CUT's colours live in its palette file, which ImageMagick finds
  // beside it too; without it the indices read as grey levels.
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  const cv::Mat src = pv::test::fewColours(30, 20, 200);
  lead.set(src, 8);
  ASSERT_EQ(lead.SaveImage(dir.file("halo.cut"), pv::fmt::kCut, 8, 0, 0), 0);
  ASSERT_FALSE(pv::test::readFile(dir.file("halo.pal")).empty());
  EXPECT_EQ(cv::norm(asColour(pv::test::decodeWithMagick(dir.file("halo.cut"), 3)), src, cv::NORM_INF), 0.0);
  std::remove(dir.file("halo.pal").c_str());
  pv::test::LeadWithImage grey;
  ASSERT_EQ(grey.LoadImage(dir.file("halo.cut"), 0, 1, 1), 0);
  EXPECT_EQ(grey.pixels().channels(), 1);
}

TEST(OwnFormats, AnimationsRoundTripAndReadTheReferencePictures) {
  roundTrip({{pv::fmt::kFlc, "flc", {8}, Back::kOwn}});
  // Every page is a frame on a canvas that holds the largest.
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  const cv::Mat a = pv::test::fewColours(20, 10, 50), b = pv::test::fewColours(12, 16, 9);
  lead.setPages({a, b}, 8);
  ASSERT_EQ(lead.SaveImage(dir.file("two.flc"), pv::fmt::kFlc, 8, 0, 0), 0);
  pv::test::LeadWithImage back;
  ASSERT_EQ(back.LoadImage(dir.file("two.flc"), 0, 1, -1), 0);
  ASSERT_EQ(back.pageCount(), 2u);
  back.SetPageNumber(1);
  ASSERT_EQ(back.pixels().cols, 20);
  ASSERT_EQ(back.pixels().rows, 16);
  EXPECT_EQ(cv::norm(back.pixels()(cv::Rect(0, 0, 12, 16)), b, cv::NORM_INF), 0.0);

  PV_REQUIRE_CORPUS(corpus);
  const auto images = corpus / "pillow/Tests/images";
  pv::test::LeadWithImage ref, got;
  ASSERT_EQ(ref.LoadImage((images / "a_fli.png").string(), 0, 1, 1), 0);
  // The reference is frame 50 (counted from 0), built up by 50 deltas; its
  // 64-level colours were scaled by 4 where we scale 63 to 255.
  ASSERT_EQ(got.LoadImage((images / "a.fli").string(), 0, 51, 1), 0);
  EXPECT_LE(cv::norm(asColour(got.pixels()), asColour(ref.pixels()), cv::NORM_INF), 3.0);
  pv::engine::CLead info;
  for (const char* name : {"hopper.fli", "2422.flc", "a.fli"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(info.ReadFileInfo((images / name).string(), -1, 1), 0);
    EXPECT_EQ(info.GetInfoFormat(), 134);
    EXPECT_GE(info.GetInfoPageCount(), 1);
    EXPECT_EQ(info.LoadImage((images / name).string(), 0, 1, -1), 0);
  }
}

TEST(OwnFormats, X10DumpsRoundTripAndRawDataIsExactlyThePixels) {
  roundTrip({{pv::fmt::kXwd10, "xwd", {1, 4, 8}, Back::kOwn}});
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  cv::Mat px(2, 3, CV_8UC3);
  for (int i = 0; i < 6; ++i)
    px.at<cv::Vec3b>(i / 3, i % 3) = cv::Vec3b(static_cast<uchar>(10 * i), static_cast<uchar>(100 + i), 255);
  lead.set(px, 24);
  ASSERT_EQ(lead.SaveImage(dir.file("a.raw"), pv::fmt::kRawData, 24, 0, 0), 0);
  EXPECT_EQ(pv::test::readFile(dir.file("a.raw")), std::string(reinterpret_cast<const char*>(px.data), 18));
  ASSERT_EQ(lead.SaveImage(dir.file("b.raw"), pv::fmt::kRawData, 32, 0, 0), 0);
  EXPECT_EQ(pv::test::readFile(dir.file("b.raw")).size(), 24u);
  ASSERT_EQ(lead.SaveImage(dir.file("c.raw"), pv::fmt::kRawData, 16, 0, 0), 0);
  const std::string c = pv::test::readFile(dir.file("c.raw"));
  ASSERT_EQ(c.size(), 12u);
  EXPECT_EQ(static_cast<unsigned char>(c[0]) | (static_cast<unsigned char>(c[1]) << 8),
            (31 << 10) | (100 >> 3 << 5));
  ASSERT_EQ(lead.SaveImage(dir.file("d.raw"), pv::fmt::kRawData, 12, 0, 0), 0);
  EXPECT_EQ(pv::test::readFile(dir.file("d.raw")).size(), 12u);
  // Indices packed from the high bit, rows padded to whole bytes: 3 pixels
  // of 3 bits are two bytes a row; 1 bit is one byte a row with 1 white.
  ASSERT_EQ(lead.SaveImage(dir.file("e.raw"), pv::fmt::kRawData, 3, 0, 0), 0);
  EXPECT_EQ(pv::test::readFile(dir.file("e.raw")).size(), 4u);
  cv::Mat bw(2, 3, CV_8UC3, cv::Scalar(255, 255, 255));
  bw.at<cv::Vec3b>(0, 1) = cv::Vec3b(0, 0, 0);
  lead.set(bw, 24);
  ASSERT_EQ(lead.SaveImage(dir.file("f.raw"), pv::fmt::kRawData, 1, 0, 0), 0);
  EXPECT_EQ(pv::test::readFile(dir.file("f.raw")), std::string("\xA0\xE0"));
}

TEST(CameraRaw, LibRawDecodesARawAndOtherFilesFallThrough) {
  pv::test::TempDir dir;
  // A headerless sensor dump that LibRaw knows by its size (614400 bytes: a
  // Kodak camera of 640 x 480), filled with a ramp.
  std::string dump(614400, '\0');
  for (std::size_t i = 0; i < dump.size(); ++i) dump[i] = static_cast<char>((i / 640) & 0xFF);
  pv::test::writeFile(dir.file("shot.kdc"), dump);
  pv::engine::CLead lead;
  ASSERT_EQ(lead.ReadFileInfo(dir.file("shot.kdc"), -1, 1), 0);
  EXPECT_EQ(lead.GetInfoBits(), 24);
  const int infoWidth = lead.GetInfoValue44();
  ASSERT_EQ(lead.LoadImage(dir.file("shot.kdc"), 0, 1, 1), 0);
  EXPECT_GE(lead.GetImageWidth(), 600);
  EXPECT_GE(lead.GetImageHeight(), 400);
  // The facts come without a decode, and agree with it.
  EXPECT_EQ(infoWidth, static_cast<int>(lead.GetImageWidth()));
  // Not a raw: another file with a raw's name is read by its content, and
  // bytes nobody knows are no image.
  pv::test::LeadWithImage png;
  png.set(pv::test::gradientImage(8, 8, 3), 24);
  ASSERT_EQ(png.SaveImage(dir.file("photo.crw"), pv::fmt::kPng, 24, 0, 0), 0);
  ASSERT_EQ(lead.LoadImage(dir.file("photo.crw"), 0, 1, 1), 0);
  EXPECT_EQ(lead.GetImageWidth(), 8);
  pv::test::writeFile(dir.file("junk.dcr"), std::string(1000, 'x'));
  EXPECT_NE(lead.LoadImage(dir.file("junk.dcr"), 0, 1, 1), 0);
}

TEST(OwnFormats, AddingAPageKeepsThePagesAlreadyInTheFile) {
  pv::test::TempDir dir;
  struct Case {
    int code;
    const char* ext;
    int bits;
  };
  for (const Case& c : {Case{pv::fmt::kIffCat, "iff", 8}, Case{pv::fmt::kFlc, "flc", 8},
                        Case{pv::fmt::kAnimatedCursor, "ani", 8}, Case{pv::fmt::kIcon, "ico", 8},
                        Case{pv::fmt::kCursor, "cur", 8}, Case{pv::fmt::kPcx, "pcx", 8}}) {
    SCOPED_TRACE(c.code);
    const std::string path = dir.file(std::string("added.") + c.ext);
    for (int i = 0; i < 3; ++i) {
      pv::test::LeadWithImage lead;
      lead.set(pv::test::fewColours(32, 32, 3 + i), 24);
      ASSERT_EQ(lead.SaveImage(path, static_cast<short>(c.code), static_cast<short>(c.bits), 0, 1), 0);
    }
    pv::engine::CLead back;
    ASSERT_EQ(back.ReadFileInfo(path, -1, 1), 0);
    EXPECT_EQ(back.GetInfoPageCount(), 3);
    // Page mode 0 replaces the file.
    pv::test::LeadWithImage one;
    one.set(pv::test::fewColours(32, 32, 2), 24);
    ASSERT_EQ(one.SaveImage(path, static_cast<short>(c.code), static_cast<short>(c.bits), 0, 0), 0);
    ASSERT_EQ(back.ReadFileInfo(path, -1, 1), 0);
    EXPECT_EQ(back.GetInfoPageCount(), 1);
  }
  // A file of another format at the path is replaced, not added to.
  pv::test::LeadWithImage lead;
  lead.set(pv::test::fewColours(32, 32, 3), 24);
  ASSERT_EQ(lead.SaveImage(dir.file("other.flc"), pv::fmt::kPng, 24, 0, 0), 0);
  ASSERT_EQ(lead.SaveImage(dir.file("other.flc"), pv::fmt::kFlc, 8, 0, 1), 0);
  pv::engine::CLead back;
  ASSERT_EQ(back.ReadFileInfo(dir.file("other.flc"), -1, 1), 0);
  EXPECT_EQ(back.GetInfoFormat(), 134);
  EXPECT_EQ(back.GetInfoPageCount(), 1);
}

TEST(OwnFormats, MetafileDrawingsGoToImageMagickOrAreRefused) {
  PV_REQUIRE_CORPUS(corpus);
  const auto images = corpus / "pillow/Tests/images";
  // A WMF that draws is rendered by ImageMagick, about the reference's size.
  pv::engine::CLead lead;
  ASSERT_EQ(lead.LoadImage((images / "drawing.wmf").string(), 0, 1, 1), 0);
  EXPECT_NEAR(lead.GetImageWidth(), 82, 1);
  EXPECT_NEAR(lead.GetImageHeight(), 82, 1);
  // An EMF that draws is recognised, but nothing here renders it.
  EXPECT_EQ(lead.LoadImage((images / "drawing.emf").string(), 0, 1, 1), 20012);
}

TEST(OwnFormats, IocaImagesRoundTripBareAndInsideMoDca) {
  roundTrip({
      {pv::fmt::kIcaG3, "ica", {1}, Back::kOwn, 37, 23, false, pv::fmt::kIcaG3},
      {pv::fmt::kIcaG3_2D, "ica", {1}, Back::kOwn, 37, 23, false, pv::fmt::kIcaG3},
      {pv::fmt::kIcaG4, "ica", {1}, Back::kOwn, 37, 23, false, pv::fmt::kIcaG3},
      {pv::fmt::kIcaRaw, "ica", {1}, Back::kOwn, 37, 23, false, pv::fmt::kIcaG3},
  });
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  const cv::Mat bw = blackAndWhite(120, 40);
  lead.set(bw, 1);
  ASSERT_EQ(lead.SaveImage(dir.file("g4.ica"), pv::fmt::kIcaG4, 1, 0, 0), 0);
  const std::string segment = pv::test::readFile(dir.file("g4.ica"));
  // The G4 data is standard: ImageMagick's G4 reader takes it.
  const std::size_t data = segment.find("\xFE\x92");
  ASSERT_NE(data, std::string::npos);
  const std::size_t length =
      (static_cast<unsigned char>(segment[data + 2]) << 8) | static_cast<unsigned char>(segment[data + 3]);
  pv::test::writeFile(dir.file("g4.raw"), segment.substr(data + 4, length));
  EXPECT_EQ(cv::norm(decodeG4WithMagick(dir.file("g4.raw"), 120, 40), bw, cv::NORM_INF), 0.0);
  // Two image objects of a MO:DCA stream are two pages.
  auto field = [](std::uint32_t id, const std::string& payload) {
    std::string f = "\x5A";
    const std::size_t n = payload.size() + 8;
    f.push_back(static_cast<char>(n >> 8)), f.push_back(static_cast<char>(n & 0xFF));
    f.push_back(static_cast<char>(id >> 16)), f.push_back(static_cast<char>((id >> 8) & 0xFF)),
        f.push_back(static_cast<char>(id & 0xFF));
    f.append(3, '\0');
    return f + payload;
  };
  std::string doc = field(0xD3A8A8, std::string(8, '\x40'));
  for (int i = 0; i < 2; ++i)
    doc += field(0xD3A8FB, std::string(8, '\x40')) + field(0xD3EEFB, segment.substr(0, 30)) +
           field(0xD3EEFB, segment.substr(30)) + field(0xD3A9FB, std::string(8, '\x40'));
  doc += field(0xD3A9A8, std::string(8, '\x40'));
  pv::test::writeFile(dir.file("doc.ica"), doc);
  pv::test::LeadWithImage wrapped;
  ASSERT_EQ(wrapped.LoadImage(dir.file("doc.ica"), 0, 1, -1), 0);
  ASSERT_EQ(wrapped.pageCount(), 2u);
  EXPECT_EQ(cv::norm(asColour(wrapped.pixels()), bw, cv::NORM_INF), 0.0);
}

TEST(OwnFormats, IconPagesBecomeEntriesAndAlphaBecomesTheMask) {
  pv::test::TempDir dir;
  cv::Mat a(16, 16, CV_8UC4, cv::Scalar(10, 20, 200, 255));
  a(cv::Rect(0, 0, 8, 16)).setTo(cv::Scalar(0, 0, 0, 0));
  const cv::Mat b = pv::test::noiseImage(48, 48, 4, 3) | cv::Scalar(0, 0, 0, 255);
  pv::test::LeadWithImage lead;
  lead.setPages({a, b}, 32);
  ASSERT_EQ(lead.SaveImage(dir.file("two.ico"), pv::fmt::kIcon, 24, 0, 0), 0);
  const std::string bytes = pv::test::readFile(dir.file("two.ico"));
  ASSERT_GT(bytes.size(), 38u);
  EXPECT_EQ(bytes[2], 1);  // an icon
  EXPECT_EQ(bytes[4], 2);  // two entries
  EXPECT_EQ(static_cast<unsigned char>(bytes[6]), 16);
  EXPECT_EQ(static_cast<unsigned char>(bytes[22]), 48);
  Magick::Image im;
  im.quiet(true);
  im.read(dir.file("two.ico"));
  EXPECT_EQ(im.columns(), 16u);
  // The transparent half comes back transparent.
  const cv::Mat back = pv::test::decodeWithMagick(dir.file("two.ico"), 4);
  EXPECT_EQ(back.at<cv::Vec4b>(3, 3)[3], 0);
  EXPECT_EQ(back.at<cv::Vec4b>(3, 12), cv::Vec4b(10, 20, 200, 255));

  // Animated cursors of 32-bit frames carry alpha in the pixels: an icon that
  // ImageMagick wrote, wrapped as the one frame of a RIFF list, keeps it.
  {
    cv::Mat bgra(16, 16, CV_8UC4, cv::Scalar(255, 0, 0, 255));
    bgra(cv::Rect(0, 0, 8, 16)).setTo(cv::Scalar(0, 0, 0, 0));
    Magick::Image icon(16, 16, "BGRA", Magick::CharPixel, bgra.data);
    icon.magick("ICO");
    Magick::Blob blob;
    icon.write(&blob);
    const std::string ico(static_cast<const char*>(blob.data()), blob.length());
    auto chunk = [](const std::string& id, const std::string& data) {
      std::string c = id;
      for (int i = 0; i < 4; ++i) c.push_back(static_cast<char>((data.size() >> (8 * i)) & 0xFF));
      return c + data + (data.size() % 2 ? std::string(1, '\0') : std::string());
    };
    const std::string body = "ACON" + chunk("LIST", "fram" + chunk("icon", ico));
    pv::test::writeFile(dir.file("alpha.ani"), chunk("RIFF", body));
    pv::test::LeadWithImage ani;
    ASSERT_EQ(ani.LoadImage(dir.file("alpha.ani"), 0, 1, 1), 0);
    ASSERT_EQ(ani.pixels().channels(), 4);
    EXPECT_EQ(ani.pixels().at<cv::Vec4b>(5, 2)[3], 0);
    EXPECT_EQ(ani.pixels().at<cv::Vec4b>(5, 12), cv::Vec4b(255, 0, 0, 255));
    // A 256-pixel icon keeps its entry as a PNG.
    cv::Mat large(256, 256, CV_8UC4, cv::Scalar(0, 255, 0, 128));
    Magick::Image big(256, 256, "BGRA", Magick::CharPixel, large.data);
    big.magick("ICO");
    big.write(&blob);
    const std::string png(static_cast<const char*>(blob.data()), blob.length());
    ASSERT_NE(png.find("\x89PNG"), std::string::npos);
    pv::test::writeFile(dir.file("png.ani"),
                        chunk("RIFF", "ACON" + chunk("LIST", "fram" + chunk("icon", png))));
    ASSERT_EQ(ani.LoadImage(dir.file("png.ani"), 0, 1, 1), 0);
    EXPECT_EQ(ani.pixels().at<cv::Vec4b>(100, 100), cv::Vec4b(0, 255, 0, 128));
  }

  // Depth 0 keeps the image's own depth.
  pv::test::LeadWithImage colour;
  colour.set(pv::test::noiseImage(16, 16, 3, 4), 24);
  for (const char* name : {"own.ico", "own.clp", "own.wmf"}) {
    const short code = name[4] == 'i' ? 91 : name[4] == 'c' ? 114 : 15;
    ASSERT_EQ(colour.SaveImage(dir.file(name), code, 0, 0, 0), 0) << name;
    pv::test::LeadWithImage got;
    ASSERT_EQ(got.LoadImage(dir.file(name), 0, 1, 1), 0) << name;
    EXPECT_EQ(cv::norm(asColour(got.pixels()), colour.pixels(), cv::NORM_INF), 0.0) << name;
  }

  // A cursor says so and an animated cursor holds every page as a frame.
  ASSERT_EQ(lead.SaveImage(dir.file("c.cur"), pv::fmt::kCursor, 24, 0, 0), 0);
  EXPECT_EQ(pv::test::readFile(dir.file("c.cur"))[2], 2);
  ASSERT_EQ(lead.SaveImage(dir.file("a.ani"), pv::fmt::kAnimatedCursor, 24, 0, 0), 0);
  pv::engine::CLead r;
  ASSERT_EQ(r.ReadFileInfo(dir.file("a.ani"), -1, 1), 0);
  EXPECT_EQ(r.GetInfoPageCount(), 2);
  ASSERT_EQ(r.LoadImage(dir.file("a.ani"), 0, 2, 1), 0);
  EXPECT_EQ(r.GetImageWidth(), 48);
}

TEST(TiffAndJpegVariants, ExifInternetFaxAndCielabMethodsWriteStandardFiles) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  const cv::Mat photo = pv::test::gradientImage(40, 24, 3);
  lead.set(photo, 24);
  // Exif TIFF, RGB and YCbCr: an Exif directory that libtiff finds.
  for (int code : {96, 97}) {
    SCOPED_TRACE(code);
    const std::string path = dir.file("e" + std::to_string(code) + ".tif");
    ASSERT_EQ(lead.SaveImage(path, static_cast<short>(code), 24, 0, 0), 0);
    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    std::uint16_t photometric = 0;
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    EXPECT_EQ(photometric, code == 96 ? PHOTOMETRIC_RGB : PHOTOMETRIC_YCBCR);
    std::uint64_t exif = 0;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_EXIFIFD, &exif));
    ASSERT_TRUE(TIFFReadEXIFDirectory(t, exif));
    std::uint32_t width = 0;
    ASSERT_TRUE(TIFFGetField(t, EXIFTAG_PIXELXDIMENSION, &width));
    EXPECT_EQ(width, 40u);
    TIFFClose(t);
    // libtiff's reader (the engine's) turns YCbCr back into colour.
    pv::test::LeadWithImage back;
    ASSERT_EQ(back.LoadImage(path, 0, 1, 1), 0);
    EXPECT_LE(cv::norm(asColour(back.pixels()), photo, cv::NORM_INF), code == 96 ? 0.0 : 3.0);
  }
  // Exif JPEG 1.1 and 2.0: an Exif segment in place of JFIF.
  for (int code : {98, 101}) {
    const std::string path = dir.file("e" + std::to_string(code) + ".jpg");
    ASSERT_EQ(lead.SaveImage(path, static_cast<short>(code), 24, 0, 0), 0);
    const std::string bytes = pv::test::readFile(path);
    ASSERT_GT(bytes.size(), 12u);
    EXPECT_EQ(bytes.substr(2, 2), "\xFF\xE1");
    EXPECT_EQ(bytes.substr(6, 4), "Exif");
    Magick::Image im;
    im.quiet(true);
    im.read(path);
    EXPECT_EQ(im.attribute("exif:ExifVersion").empty(), false);
    EXPECT_EQ(im.attribute("exif:PixelXDimension"), "40");
  }
  // CIELab methods: standard JPEG with the subsampling, never lossless.
  for (int code : {171, 172, 173}) {
    const std::string path = dir.file("l" + std::to_string(code) + ".jpg");
    ASSERT_EQ(lead.SaveImage(path, static_cast<short>(code), 24, 0, 0), 0);
    EXPECT_LE(cv::norm(asColour(pv::test::decodeWithMagick(path, 3)), photo, cv::NORM_L1) / photo.total(),
              12.0);
    EXPECT_EQ(pv::test::readFile(path).find("\xFF\xC3"), std::string::npos);
  }
  // Internet fax: 1 bit as 2D fax lines, 3 and 8 bits as a palette, colour as JPEG.
  const cv::Mat bw = blackAndWhite(40, 24);
  struct Case {
    int bits;
    const cv::Mat src;
    std::uint16_t compression;
  };
  for (const Case& c :
       {Case{1, bw, COMPRESSION_CCITTFAX3}, Case{3, pv::test::fewColours(40, 24, 8), COMPRESSION_LZW},
        Case{8, pv::test::fewColours(40, 24, 16), COMPRESSION_LZW}, Case{24, photo, COMPRESSION_JPEG}}) {
    SCOPED_TRACE(c.bits);
    lead.set(c.src, 24);
    const std::string path = dir.file("x" + std::to_string(c.bits) + ".tif");
    ASSERT_EQ(lead.SaveImage(path, pv::fmt::kTiffFax, static_cast<short>(c.bits), 0, 0), 0);
    TIFF* t = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    std::uint16_t compression = 0;
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    EXPECT_EQ(compression, c.compression);
    TIFFClose(t);
    const cv::Mat back = asColour(pv::test::decodeWithMagick(path, 3));
    EXPECT_LE(
        cv::norm(back, c.src, c.bits == 24 ? cv::NORM_L1 : cv::NORM_INF) / (c.bits == 24 ? photo.total() : 1),
        c.bits == 24 ? 12.0 : 0.0);
  }
}

namespace fs = std::filesystem;

// Every Targa of the corpus against its reference picture (alpha too), and
// the four origins against the one upright picture. The references keep only
// the top bits of alpha that the descriptor counts; we keep all eight.
TEST(TgaCorpus, EveryFileMatchesItsReference) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path dir = corpus / "kimageformats/autotests/read/tga";
  if (!fs::exists(dir)) GTEST_SKIP() << "no Targa files";
  int matched = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() != ".tga") continue;
    const std::string name = e.path().stem().string();
    fs::path ref = dir / (name + ".png");
    if (!fs::exists(ref) && name.find('_') != std::string::npos) ref = dir / "orientation.png";
    if (!fs::exists(ref)) continue;
    SCOPED_TRACE(name);
    pv::test::LeadWithImage lead;
    ASSERT_EQ(lead.LoadImage(e.path().string(), 32, 0, 1), 0);
    const cv::Mat want = pv::test::decodeWithMagick(ref.string(), 4);
    cv::Mat mine = lead.pixels();
    ASSERT_EQ(mine.size(), want.size());
    std::vector<cv::Mat> a, b;
    cv::split(mine, a);
    cv::split(want, b);
    EXPECT_LE(cv::norm(a[3], b[3], cv::NORM_INF), name == "rgba" ? 15.0 : 0.0) << "alpha";
    const cv::Mat seen = b[3] > 0;  // colour counts where it shows
    for (int c = 0; c < 3; ++c) EXPECT_EQ(cv::norm(a[c], b[c], cv::NORM_INF, seen), 0) << "channel " << c;
    ++matched;
  }
  EXPECT_GE(matched, 14);
  // Cut short, a file gives a status, never a picture of what was not there.
  pv::test::TempDir tmp;
  for (const char* name : {"bwa.tga", "rgb-gimp-2.8.10-rle-top-left.tga", "colormapped.tga"}) {
    SCOPED_TRACE(name);
    const std::string bytes = pv::test::readFile((dir / name).string());
    pv::test::writeFile(tmp.file(name), bytes.substr(0, bytes.size() / 2));
    pv::test::LeadWithImage lead;
    EXPECT_NE(lead.LoadImage(tmp.file(name), 0, 0, 1), 0);
  }
}

// Targa alpha as the header says: the descriptor's attribute bits tell
// whether the pixels carry alpha, and a TGA 2.0 extension area what it is.
TEST(TgaAlpha, AttributeBitsAndTheExtensionAreaDecide) {
  pv::test::TempDir dir;
  struct Case {
    const char* name;
    int bits, type, attributeBits;
    int areaType;  // -1: no extension area
    int channels;
    std::uint8_t colour, alpha;  // of the first pixel
  } cases[] = {
      {"32-bit, 8 alpha bits", 32, 2, 8, -1, 4, 0x40, 0x80},
      {"32-bit, no alpha bits", 32, 2, 0, -1, 3, 0x40, 255},
      {"32-bit, area: no alpha", 32, 2, 8, 0, 3, 0x40, 255},
      {"32-bit, area: data to ignore", 32, 2, 8, 1, 3, 0x40, 255},
      {"32-bit, area: alpha", 32, 2, 8, 3, 4, 0x40, 0x80},
      {"32-bit, area: premultiplied", 32, 2, 8, 4, 4, 0x80, 0x80},
      {"grey 16-bit, 8 alpha bits", 16, 3, 8, -1, 4, 0x40, 0x80},
      {"grey 16-bit, no alpha bits", 16, 3, 0, -1, 1, 0x40, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string f(18, '\0');
    f[2] = static_cast<char>(c.type);
    f[12] = 2;  // width 2, height 1
    f[14] = 1;
    f[16] = static_cast<char>(c.bits);
    f[17] = static_cast<char>(c.attributeBits | 0x20);  // top-down
    for (int i = 0; i < 2; ++i) {
      if (c.type == 3) {
        f += '\x40', f += '\x80';
      } else {
        f += '\x40', f += '\x40', f += '\x40', f += '\x80';
      }
    }
    if (c.areaType >= 0) {
      const std::size_t area = f.size();
      std::string ext(495, '\0');
      ext[0] = static_cast<char>(495 & 0xFF), ext[1] = static_cast<char>(495 >> 8);
      ext[494] = static_cast<char>(c.areaType);
      f += ext;
      std::string footer(8, '\0');
      for (int b = 0; b < 4; ++b)
        footer[static_cast<std::size_t>(b)] = static_cast<char>(area >> (8 * b) & 0xFF);
      f += footer + std::string("TRUEVISION-XFILE.\0", 18);
    }
    const std::string path = dir.file("a.tga");
    pv::test::writeFile(path, f);
    pv::test::LeadWithImage lead;
    ASSERT_EQ(lead.LoadImage(path, 0, 0, 1), 0);
    const cv::Mat& px = lead.pixels();
    ASSERT_EQ(px.channels(), c.channels);
    EXPECT_EQ(px.ptr<std::uint8_t>(0)[0], c.colour);
    if (c.channels == 4) {
      EXPECT_EQ(px.ptr<std::uint8_t>(0)[3], c.alpha);
    }
  }
}
