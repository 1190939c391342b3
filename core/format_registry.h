#pragma once
// The fixed, ordered table of the 49 output formats. Shared by the program (the
// format factory, settings, the window) and the file-manager plugin (its menu).

#include <array>
#include <string_view>

namespace pv {

struct FormatRow {
  std::string_view key;          // upper case; also the config.ini section of its options
  std::string_view extension;    // upper case, without dot
  std::string_view description;  // shown beside the key
  int methods;                   // compression methods; 1 means one method without a name
  bool multiPage;                // writes every page of a source into one file
};

inline constexpr int kFormatCount = 49;

// The rows by index 0..48.
const std::array<FormatRow, kFormatCount>& formatRegistry();

// Lookups by index; an index outside 0..48 gives empty text.
std::string_view formatKey(int index);
std::string_view formatExtension(int index);
std::string_view formatDescription(int index);

// The index of the format whose key is `key` exactly (upper case), or -1.
int formatIndexOfKey(std::string_view key);

}  // namespace pv
