#include "core/text.h"

#include <gtest/gtest.h>

using pv::utf8Prefix;

TEST(Utf8Prefix, KeepsShortTextAndCutsAsciiAtTheLimit) {
  EXPECT_EQ(utf8Prefix("abc", 9), "abc");
  EXPECT_EQ(utf8Prefix("-%n-abcdefgh", 9), "-%n-abcde");
  EXPECT_EQ(utf8Prefix("abc", 0), "");
}

TEST(Utf8Prefix, NeverEndsInsideACharacter) {
  // "é" is 2 bytes, "€" 3, "𝄞" 4.
  EXPECT_EQ(utf8Prefix("aé", 2), "a");
  EXPECT_EQ(utf8Prefix("aé", 3), "aé");
  EXPECT_EQ(utf8Prefix("ab€", 4), "ab");
  EXPECT_EQ(utf8Prefix("𝄞x", 3), "");
  EXPECT_EQ(utf8Prefix("𝄞x", 4), "𝄞");
}

TEST(Utf8Prefix, TreatsInvalidBytesAsSingleCharacters) {
  EXPECT_EQ(utf8Prefix("\xff\xfe\xfd", 2), "\xff\xfe");
  // A lead byte whose continuation is missing is one byte.
  EXPECT_EQ(utf8Prefix("\xc3x\xc3", 2), "\xc3x");
}

TEST(CaseHelpers, ChangeOnlyAsciiLetters) {
  EXPECT_EQ(pv::asciiLower("JPG Shell é"), "jpg shell é");
  EXPECT_EQ(pv::asciiUpper("tifx-1"), "TIFX-1");
  EXPECT_TRUE(pv::iequals("ShowMessages", "SHOWMESSAGES"));
  EXPECT_FALSE(pv::iequals("abc", "abd"));
  EXPECT_FALSE(pv::iequals("abc", "ab"));
}
