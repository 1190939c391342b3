// The codec table and the format table agree: every method of every output
// format is either written by a codec row or refused with a reason, and every
// reading row can be asked for facts and pages.
#include "engine/codecs/table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/extensions.h"
#include "core/format_registry.h"
#include "engine/capabilities.h"

using pv::engine::codecs::Codec;

TEST(CodecTable, EveryMethodOfEveryFormatHasAWriterOrAReason) {
  for (const pv::FormatRow& f : pv::formatRegistry())
    for (const pv::MethodRow& m : f.methods) {
      SCOPED_TRACE(std::string(f.key) + " " + std::string(m.name));
      const Codec* c = pv::engine::codecs::codecWriting(m.code);
      ASSERT_NE(c, nullptr) << m.code;
      if (c->save) {
        EXPECT_FALSE(c->writer.empty());
      } else
        EXPECT_FALSE(c->refusal.empty());
    }
}

TEST(CodecTable, RowsAreWholeAndNoCodeIsClaimedTwice) {
  std::set<short> written;
  for (const Codec& c : pv::engine::codecs::codecTable()) {
    SCOPED_TRACE(std::string(c.name));
    for (short code : c.writes) EXPECT_TRUE(written.insert(code).second) << code;
    // A row that names codes writes them or says why not.
    if (!c.writes.empty() || c.writesCode) {
      EXPECT_EQ(c.save != nullptr, c.refusal.empty());
    }
    if (c.save) {
      EXPECT_TRUE(!c.writes.empty() || c.writesCode);
    }
    // A reader has every entry point and serves extensions.
    if (c.sniff) {
      EXPECT_NE(c.info, nullptr);
      EXPECT_NE(c.load, nullptr);
      EXPECT_FALSE(c.reader.empty());
      EXPECT_TRUE(!c.extensions.empty() || c.servesExtension);
    }
    // Our own codecs come with their decoder or encoder.
    if (c.load == pv::engine::codecs::ownLoad) {
      EXPECT_NE(c.decode, nullptr);
    }
    if (c.save == pv::engine::codecs::ownSave) {
      EXPECT_NE(c.encode, nullptr);
    }
    // Adding pages needs a codec that writes every page.
    if (!c.addsTo.empty() || c.appends) {
      EXPECT_TRUE(c.everyPage);
    }
  }
}

namespace {

// The start of an ISO media file: an 'ftyp' box with its brands.
std::string ftyp(const char* major, std::initializer_list<const char*> compatible) {
  std::string box = std::string("\0\0\0\0ftyp", 8) + major + std::string("\0\0\0\0", 4);
  for (const char* b : compatible) box += b;
  box[3] = static_cast<char>(box.size());
  return box + std::string("\0\0\0\x08meta", 8);
}

}  // namespace

TEST(CodecTable, ContentDecidesTheReaderAndCameraRawsGoByName) {
  struct Case {
    std::string head, ext, reader;
  };
  const Case cases[] = {
      {"\x89PNG\r\n\x1a\n....", "jpg", "PNG"},
      {std::string("\xFF\xD8\xFF\xE0", 4), "png", "JPEG"},
      {"GIF89a....", "", "GIF"},
      {std::string("II*\0....", 8), "tif", "TIFF"},
      {"BM......", "", "BMP"},
      {"anything", "crw", "Camera raw"},
      {"P6 1 1 255\n", "ppm", "ImageMagick"},
      {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), "jpg", "WebP"},
      // ISO media files go by their brands: major, then compatible ones
      // (after the minor version, which is no brand).
      {ftyp("avif", {"mif1", "miaf"}), "heic", "AVIF"},
      {ftyp("mif1", {"avif", "miaf"}), "", "AVIF"},
      {ftyp("heic", {"mif1", "heic"}), "avif", "HEIF"},
      {ftyp("mif1", {"heic"}), "", "HEIF"},
      {ftyp("isom", {"mp41"}), "mp4", "ImageMagick"},
      {std::string("\xFF\x0A\xFA", 3), "", "JPEG XL"},
      {std::string("\0\0\0\x0CJXL \r\n\x87\n", 12), "", "JPEG XL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reader);
    const Codec* codec = pv::engine::codecs::codecReading(c.head, c.ext);
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(codec->name, c.reader);
  }
  EXPECT_EQ(pv::engine::codecs::codecReading("", "txt"), nullptr);
  EXPECT_EQ(pv::engine::readerOf("crw"), "LibRaw");
  EXPECT_EQ(pv::engine::readerOf("tiff"), "own");
  EXPECT_EQ(pv::engine::readerOf("hif"), "libheif");
}

// The extensions a row reads by name, and those whose files hold several
// resolutions, are all taken by the list's one table of accepted extensions;
// every accepted extension some row reads is found by readerOf.
TEST(CodecTable, RowsAndTheAcceptedExtensionsAgree) {
  const auto accepted = [](std::string_view ext) {
    for (const pv::ExtensionRow& row : pv::kAcceptedExtensions)
      if (row.extension.substr(1) == ext) return true;
    return false;
  };
  const auto words = [](std::string_view list) {
    std::vector<std::string_view> out;
    for (std::size_t at = 0; at < list.size();) {
      const std::size_t end = std::min(list.find(' ', at), list.size());
      if (end > at) out.push_back(list.substr(at, end - at));
      at = end + 1;
    }
    return out;
  };
  for (const Codec& c : pv::engine::codecs::codecTable()) {
    SCOPED_TRACE(std::string(c.name));
    for (std::string_view ext : words(c.extensions)) {
      EXPECT_TRUE(accepted(ext)) << ext;
      EXPECT_FALSE(pv::engine::readerOf(ext).empty()) << ext;
    }
    for (std::string_view ext : words(c.resolutions)) {
      EXPECT_TRUE(accepted(ext)) << ext;
      EXPECT_TRUE(pv::engine::holdsResolutions(ext)) << ext;
    }
  }
  for (const char* single : {"jpg", "png", "tif", "heic", "", "pcdx"})
    EXPECT_FALSE(pv::engine::holdsResolutions(single));
  // Every extension of the table has a family, and no extension is there twice.
  std::set<std::string_view> seen;
  for (const pv::ExtensionRow& row : pv::kAcceptedExtensions) {
    SCOPED_TRACE(std::string(row.extension));
    EXPECT_TRUE(seen.insert(row.extension).second);
    EXPECT_EQ(row.extension.front(), '.');
    EXPECT_FALSE(row.family.empty());
  }
}
