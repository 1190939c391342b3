// As load_image, for the formats recognised by their file name: the first
// byte picks the extension, the rest is the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/file_format.h"
#include "engine/lead.h"
#include "fuzz/input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static constexpr const char* kExtensions[] = {"cut", "img", "mac", "fax", "crw", "kdc",
                                                "dcr", "tga", "pcd", "wpg", "ica"};
  const std::string& dir = pv::fuzz::fuzzFolder("4000000");
  if (size == 0) return 0;
  const std::string in = dir + "/in." + kExtensions[data[0] % (sizeof kExtensions / sizeof *kExtensions)];
  if (!pv::fuzz::writeInput(in, data + 1, size - 1)) return 0;
  pv::engine::CLead lead;
  static_cast<void>(lead.ReadFileInfo(in, -1, 1));
  if (lead.LoadImage(in, 0, 0, -1) == 0) static_cast<void>(lead.SaveImage(dir + "/out.png", pv::fmt::kPng, 0, 0, 0));
  std::remove(in.c_str());
  return 0;
}
