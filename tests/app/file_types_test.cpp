// The open dialog's list of types, made from the accepted extensions and
// what this build reads.
#include "app/file_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/extensions.h"
#include "core/text.h"
#include "engine/capabilities.h"

TEST(FileTypes, AllImagesFirstThenOneEntryPerFamilyReadThenAllFiles) {
  const std::vector<pv::app::FileTypeFilter> filters = pv::app::openDialogFilters();
  ASSERT_GE(filters.size(), 3u);
  EXPECT_EQ(filters.front().text, "All images");
  EXPECT_EQ(filters.back().text, "All files");
  EXPECT_EQ(filters.back().patterns, std::vector<std::string>{"*"});
  const std::vector<std::string>& all = filters.front().patterns;
  // Every accepted extension that is read is among all images, and only those.
  std::size_t read = 0;
  for (const pv::ExtensionRow& row : pv::kAcceptedExtensions) {
    const bool isRead = !pv::engine::readerOf(row.extension.substr(1)).empty();
    read += isRead ? 1 : 0;
    EXPECT_EQ(std::count(all.begin(), all.end(), "*" + std::string(row.extension)), isRead ? 1 : 0)
        << row.extension;
  }
  EXPECT_EQ(all.size(), read);
  // The families split all images between them, each once, in the order of
  // their names.
  std::multiset<std::string> inFamilies;
  std::set<std::string> names;
  for (std::size_t i = 1; i + 1 < filters.size(); ++i) {
    SCOPED_TRACE(filters[i].text);
    EXPECT_TRUE(names.insert(filters[i].text).second);
    EXPECT_FALSE(filters[i].patterns.empty());
    inFamilies.insert(filters[i].patterns.begin(), filters[i].patterns.end());
    if (i > 1) {
      EXPECT_LT(pv::asciiLower(filters[i - 1].text), pv::asciiLower(filters[i].text));
    }
  }
  EXPECT_EQ(inFamilies, std::multiset<std::string>(all.begin(), all.end()));
  // Today's photo formats are there, each a family of its own.
  for (const char* family : {"WebP", "AVIF", "HEIF", "JPEG XL", "JPEG", "PNG", "TIFF"})
    EXPECT_TRUE(names.count(family)) << family;
}
