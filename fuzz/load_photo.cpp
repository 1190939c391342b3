// Any bytes given to ReadFileInfo and LoadImage give a status, never a
// fault; whatever loads (every page) is written again as WebP, AVIF, HEIC
// and JPEG XL, lossy and lossless, so the encoders meet odd pictures too.
// The seeds are files of those four formats.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/file_format.h"
#include "engine/lead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/pv-fuzz-XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (!made) std::abort();
    setenv("PICTORAVINE_MAX_PIXELS", "1000000", 1);  // the encoders are slow on large pictures
    return std::string(made);
  }();
  const std::string in = dir + "/in", out = dir + "/out";
  std::FILE* f = std::fopen(in.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  pv::engine::CLead lead;
  static_cast<void>(lead.ReadFileInfo(in, -1, 1));
  if (lead.LoadImage(in, 0, 0, -1) == 0) {
    lead.SetSavePasses(9);  // the fastest speed or least effort each allows
    for (short code : {pv::fmt::kWebp, pv::fmt::kWebpLossless, pv::fmt::kAvif, pv::fmt::kHeic, pv::fmt::kJxl,
                       pv::fmt::kJxlLossless})
      static_cast<void>(lead.SaveImage(out, code, 0, 50, 0));
  }
  return 0;
}
