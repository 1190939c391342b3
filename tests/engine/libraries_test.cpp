#include "engine/libraries.h"

#include <gtest/gtest.h>

TEST(EngineLibraries, EveryCodecAndImagingLibraryIsLinkedAndReportsAVersion) {
  auto rows = pv::engine::libraryVersions();
  std::vector<std::string> names;
  for (const auto& r : rows) {
    names.push_back(r.name);
    EXPECT_FALSE(r.version.empty()) << r.name;
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(r.version[0]))) << r.name << " " << r.version;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"libjpeg-turbo", "libpng", "libtiff", "giflib", "ImageMagick",
                                             "OpenCV", "LibRaw", "exiv2", "Little CMS", "libdeflate", "libwebp",
                                             "libavif", "libheif", "libjxl"}));
}
