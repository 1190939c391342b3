#pragma once
// The image types the open dialog offers, made from the one table of accepted
// extensions (core/extensions.h) and what this build reads: "All images"
// first, then one entry per family of files read here, then "All files".

#include <string>
#include <vector>

namespace pv::app {

struct FileTypeFilter {
  std::string text;                   // "JPEG"
  std::vector<std::string> patterns;  // "*.jpg", "*.jpeg", "*.jtf"; "*" for any name
};

// Only extensions some reader of this build serves are offered; families in
// the order of their names.
std::vector<FileTypeFilter> openDialogFilters();

}  // namespace pv::app
