// Any bytes given to ReadFileInfo and LoadImage give a status, never a fault;
// whatever loads (every page) can be saved again as PNG, JPEG, TIFF and BMP.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/lead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/pv-fuzz-XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (!made) std::abort();
    setenv("PICTORAVINE_MAX_PIXELS", "4000000", 1);  // keep hostile sizes cheap
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
    static_cast<void>(lead.SaveImage(out + ".png", 75, 0, 0, 0));
    static_cast<void>(lead.SaveImage(out + ".jpg", 10, 24, 30, 0));
    static_cast<void>(lead.SaveImage(out + ".tif", 17, 0, 0, 0));
    static_cast<void>(lead.SaveImage(out + ".bmp", 84, 8, 0, 0));
  }
  return 0;
}
