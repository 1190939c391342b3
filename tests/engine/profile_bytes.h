#pragma once
// Colour profiles for the metadata tests, as the bytes a file embeds.

#include <lcms2.h>

#include <string>

namespace pv::test {

// A profile's bytes; the profile is closed.
inline std::string profileBytes(cmsHPROFILE p) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(p, nullptr, &size);
  std::string bytes(size, '\0');
  cmsSaveProfileToMem(p, bytes.data(), &size);
  cmsCloseProfile(p);
  return bytes;
}

}  // namespace pv::test
