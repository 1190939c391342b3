#include "core/format_registry.h"

#include <gtest/gtest.h>

#include <set>

TEST(FormatRegistry, HoldsEveryFormatOnceWithUniqueUpperCaseKeys) {
  std::set<std::string_view> keys;
  for (int i = 0; i < pv::kFormatCount; ++i) {
    auto key = pv::formatKey(i);
    EXPECT_TRUE(keys.insert(key).second) << key;
    for (char c : key) EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) << key;
    EXPECT_EQ(pv::formatIndexOfKey(key), i);
  }
  EXPECT_EQ(keys.size(), static_cast<std::size_t>(pv::kFormatCount));
}

TEST(FormatRegistry, RowsAtFixedIndexes) {
  EXPECT_EQ(pv::formatKey(0), "JPG");
  EXPECT_EQ(pv::formatDescription(2), "Portable Network Graphics");
  EXPECT_EQ(pv::formatKey(6), "CLP");
  EXPECT_EQ(pv::formatDescription(6), "Copy to Clipboard");
  EXPECT_EQ(pv::formatKey(12), "CMP2");
  EXPECT_EQ(pv::formatKey(40), "TIFX");
  EXPECT_EQ(pv::formatExtension(40), "TIFX");
  EXPECT_EQ(pv::formatKey(48), "XWD");
  // Formats added later come after the first 49, so stored indexes keep
  // their meaning.
  EXPECT_EQ(pv::formatKey(49), "WEBP");
  EXPECT_EQ(pv::formatKey(50), "AVIF");
  EXPECT_EQ(pv::formatKey(51), "HEIC");
  EXPECT_EQ(pv::formatKey(52), "JXL");
  EXPECT_EQ(pv::formatRegistry()[5].methods.size(), 13u);
  EXPECT_EQ(pv::formatRegistry()[20].methods.size(), 10u);
  int multi = 0;
  for (const auto& row : pv::formatRegistry()) multi += row.multiPage;
  EXPECT_EQ(multi, 12);  // GIF, ICO, TIF, ANI, CUR, FLC, IFF2, PCX, WEBP, AVIF, HEIC, JXL
}

TEST(FormatRegistry, SharedExtensionsAndOutOfRangeLookups) {
  EXPECT_EQ(pv::formatExtension(11), "CMP");
  EXPECT_EQ(pv::formatExtension(12), "CMP");
  EXPECT_EQ(pv::formatExtension(17), "TIF");
  EXPECT_EQ(pv::formatExtension(22), "IFF");
  for (int bad : {pv::kFormatCount, pv::kFormatCount + 1, 1000, -1}) {
    EXPECT_EQ(pv::formatKey(bad), "");
    EXPECT_EQ(pv::formatExtension(bad), "");
    EXPECT_EQ(pv::formatDescription(bad), "");
  }
  EXPECT_EQ(pv::formatIndexOfKey("jpg"), -1);
}
