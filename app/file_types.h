#pragma once
// The types of file the window's file dialogs offer, declared once: the
// image types of the open dialog, made from the one table of accepted
// extensions (core/extensions.h) and what this build reads ("All images"
// first, then one entry per family of files read here, then "All files"),
// and the image lists and logs the program writes.

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

// Image lists (".pvl"), logs (".txt") and any file.
FileTypeFilter imageListType();
FileTypeFilter logFileType();
FileTypeFilter anyFileType();

}  // namespace pv::app
