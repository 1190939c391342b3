// Any bytes parse as an INI document that prints back byte for byte; reads and
// writes on it never fault, and a written value reads back as written.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  pv::ini::Document doc = pv::ini::Document::parse(text);
  if (doc.text() != text) std::abort();
  (void)doc.get("Global", "ShowMessages");
  (void)doc.get("JPG Shell", "Quality");
  doc.set("Global", "ShowMessages", "0");
  doc.set("New Section", "Key", "value with = sign");
  if (doc.get("global", "showmessages") != "0") std::abort();
  if (doc.get("new section", "KEY") != "value with = sign") std::abort();
  return 0;
}
