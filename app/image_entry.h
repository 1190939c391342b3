#pragma once
// One image of the image list: where it is and the facts read when it was
// listed. The list is ordered and owned by the application for a whole run.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/image.h"

namespace pv::app {

struct ImageEntry {
  std::string fileName;   // the path after its last '/'
  std::string folder;     // the path up to and including its last '/'
  std::string extension;  // the file name after its last '.'
  // The folders between the folder searched and the image's own, up to and
  // including its last '/' ("2024/july/"); empty for an image named alone.
  std::string subFolder;
  // From the photo's EXIF when it has them: when it was taken
  // ("YYYY:MM:DD HH:MM:SS") and the camera's model.
  std::string dateTaken, camera;
  std::int32_t value44 = 0;  // the file's width as its header tells it (GetInfoValue44)
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t sourceBits = 0;
  std::uint32_t targetBits = 0;
  std::uint32_t pageCount = 0;
  std::int32_t firstPage = 1;
  std::uint32_t thumbnailHeight = 0;
  std::uint32_t thumbnailWidth = 0;
  std::int32_t sourceFormat = 0;
  bool multiPage = false;
  bool hasAlpha = false;
  bool hasTransparentColor = false;
  // Some pixel is not fully opaque (an alpha channel alone may be all opaque:
  // colour PNGs are listed with one).
  bool seeThrough = false;
  // The thumbnail as 32-bit B G R A pixels, taken out of the engine's handle
  // table so it lives exactly as long as the entry; null when none was made.
  std::shared_ptr<const engine::Image> thumbnail;

  std::string path() const { return folder + fileName; }
};

using ImageList = std::vector<ImageEntry>;

}  // namespace pv::app
