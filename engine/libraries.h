#pragma once
// The outside libraries the engine is built on, with the versions it runs with.

#include <string>
#include <vector>

namespace pv::engine {

struct LibraryVersion {
  std::string name;
  std::string version;
};

// One row per library, in a fixed order: libjpeg-turbo, libpng, libtiff,
// giflib, ImageMagick, OpenCV. Versions are the ones of the loaded libraries
// where the library can say so at run time, else the ones compiled against.
std::vector<LibraryVersion> libraryVersions();

}  // namespace pv::engine
