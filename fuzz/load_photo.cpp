// Any bytes given to ReadFileInfo and LoadImage give a status, never a
// fault; whatever loads (every page) is written again as WebP, AVIF, HEIC
// and JPEG XL, lossy and lossless, so the encoders meet odd pictures too.
// The seeds are files of those four formats.
#include <cstdint>
#include <string>
#include <utility>

#include "core/file_format.h"
#include "engine/lead.h"
#include "fuzz/input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& dir = pv::fuzz::fuzzFolder("1000000");  // the encoders are slow on large pictures
  const std::string in = dir + "/in", out = dir + "/out";
  if (!pv::fuzz::writeInput(in, data, size)) return 0;
  pv::engine::CLead lead;
  static_cast<void>(lead.ReadFileInfo(in, -1, 1));
  if (lead.LoadImage(in, 0, 0, -1) == 0) {
    // Each at its least effort or fastest speed.
    for (const auto& [code, effort] : {std::pair{pv::fmt::kWebp, 0},
                                       {pv::fmt::kWebpLossless, 0},
                                       {pv::fmt::kAvif, 10},
                                       {pv::fmt::kHeic, 9},
                                       {pv::fmt::kJxl, 1},
                                       {pv::fmt::kJxlLossless, 1}}) {
      lead.SetSavePasses(static_cast<short>(effort));
      static_cast<void>(lead.SaveImage(out, code, 0, 50, 0));
    }
  }
  return 0;
}
