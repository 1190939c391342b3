#pragma once
// What the file-loading fuzz targets share: a folder of their own, made once
// with the decoders' pixel limit set (hostile sizes stay cheap), and each
// input written into a file there, since the engine loads files.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace pv::fuzz {

inline const std::string& fuzzFolder(const char* maxPixels) {
  static const std::string dir = [maxPixels] {
    char tmpl[] = "/tmp/pv-fuzz-XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (!made) std::abort();
    setenv("PICTORAVINE_MAX_PIXELS", maxPixels, 1);
    return std::string(made);
  }();
  return dir;
}

// False when the file cannot be written (the input is then skipped).
inline bool writeInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  return true;
}

}  // namespace pv::fuzz
