#include "app/file_types.h"

#include <algorithm>

#include "core/extensions.h"
#include "core/text.h"
#include "engine/capabilities.h"

namespace pv::app {

std::vector<FileTypeFilter> openDialogFilters() {
  FileTypeFilter all{"All images", {}};
  std::vector<FileTypeFilter> families;
  for (const ExtensionRow& row : kAcceptedExtensions) {
    if (engine::readerOf(row.extension.substr(1)).empty()) continue;
    const std::string pattern = "*" + std::string(row.extension);
    all.patterns.push_back(pattern);
    auto family = std::find_if(families.begin(), families.end(),
                               [&](const FileTypeFilter& f) { return f.text == row.family; });
    if (family == families.end()) family = families.insert(families.end(), {std::string(row.family), {}});
    family->patterns.push_back(pattern);
  }
  std::sort(families.begin(), families.end(), [](const FileTypeFilter& a, const FileTypeFilter& b) {
    return asciiLower(a.text) < asciiLower(b.text);
  });
  families.insert(families.begin(), std::move(all));
  families.push_back(anyFileType());
  return families;
}

FileTypeFilter imageListType() {
  return {"Pictoravine Image List", {"*.pvl"}};
}
FileTypeFilter logFileType() {
  return {"Text File", {"*.txt"}};
}
FileTypeFilter anyFileType() {
  return {"All files", {"*"}};
}

}  // namespace pv::app
