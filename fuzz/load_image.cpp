// Any bytes given to ReadFileInfo and LoadImage give a status, never a fault;
// whatever loads (every page) can be saved again as PNG, JPEG, TIFF and BMP.
#include <cstdint>
#include <string>

#include "core/file_format.h"
#include "engine/lead.h"
#include "fuzz/input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& dir = pv::fuzz::fuzzFolder("4000000");
  const std::string in = dir + "/in", out = dir + "/out";
  if (!pv::fuzz::writeInput(in, data, size)) return 0;
  pv::engine::CLead lead;
  static_cast<void>(lead.ReadFileInfo(in, -1, 1));
  if (lead.LoadImage(in, 0, 0, -1) == 0) {
    static_cast<void>(lead.SaveImage(out + ".png", pv::fmt::kPng, 0, 0, 0));
    static_cast<void>(lead.SaveImage(out + ".jpg", pv::fmt::kJpeg, 24, 30, 0));
    static_cast<void>(lead.SaveImage(out + ".tif", pv::fmt::kTiffLzw, 0, 0, 0));
    static_cast<void>(lead.SaveImage(out + ".bmp", pv::fmt::kBmpRle, 8, 0, 0));
  }
  return 0;
}
