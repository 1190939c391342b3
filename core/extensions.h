#pragma once
// The file name extensions the program reads: the image list's jobs (chosen
// files, folders, wildcards, list files, drops), `--formats` and the
// file-manager menu all take a file by this one table.

#include <algorithm>
#include <iterator>
#include <string_view>

namespace pv {

// Lower case, with their dot.
inline constexpr std::string_view kAcceptedExtensions[] = {
    ".cmp", ".jpg", ".jpeg", ".jtf", ".tif", ".tiff",     ".gif", ".png",  ".psd", ".afp",  ".ani",
    ".cal", ".crw", ".clp",  ".wmz", ".cut", ".djv",      ".ecw", ".emf",  ".exf", ".exif", ".fax",
    ".flc", ".fli", ".fpx",  ".fit", ".img", ".hgl",      ".iff", ".tifx", ".tfx", ".ica",  ".itg",
    ".cit", ".cin", ".kdc",  ".pcd", ".lv",  ".lmc",      ".mac", ".pict", ".sid", ".awd",  ".msp",
    ".ptk", ".bmp", ".pcx",  ".psp", ".pspimage", ".pbm", ".pgm", ".ppm",  ".prn", ".prt",  ".dcr",
    ".sct", ".ct",  ".sgi",  ".sff", ".ras",      ".tga", ".cur", ".ico",  ".icon", ".wfx", ".wmf",
    ".wpg", ".wbmp", ".smp", ".xwd", ".xbm",      ".xpm",
    ".webp", ".avif", ".heic", ".heif", ".hif", ".jxl"};

inline constexpr std::size_t kAcceptedExtensionCount = std::size(kAcceptedExtensions);

// True when the text from the last dot of the file's name (the part after
// its last '/'), lower-cased, is an accepted extension: "A.JPG" and "x.TIFF"
// are taken, "a.jpg.bak", "README" and "dir.jpg/file" are not.
constexpr bool acceptedImageName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view ext = name.substr(dot);
  return std::any_of(std::begin(kAcceptedExtensions), std::end(kAcceptedExtensions), [ext](std::string_view a) {
    if (a.size() != ext.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      const char c = ext[i] >= 'A' && ext[i] <= 'Z' ? static_cast<char>(ext[i] - 'A' + 'a') : ext[i];
      if (c != a[i]) return false;
    }
    return true;
  });
}

}  // namespace pv
