#pragma once
// What this build writes, code by code: the library or encoder behind each
// file format code of the catalogue, or the reason it answers 20016.

#include <string>
#include <string_view>

namespace pv::engine {

struct WriterInfo {
  std::string_view
      writer;        // "libpng", "libjpeg-turbo", "libtiff", "giflib", "ImageMagick", "own"; empty: none
  std::string note;  // for a refusal, why
};

// The writer of a file format code (the reason when there is none).
WriterInfo writerOf(int code);

// True when a multi-page file of this code is written one page at a time
// (the writer holds a page at most); false when its pages are gathered.
bool writesPageByPage(int code);

// The memory the encoder of a file format code works with besides the
// image, in bytes a pixel saved, at an effort (the save's passes).
double encoderBytesPerPixel(int code, int effort);

// The reader of files with this extension (lower case, without the dot):
// "own", "LibRaw", "ImageMagick", or empty for none. Files
// are recognised by their content, so this is what a file named so usually gets.
std::string_view readerOf(std::string_view extension);

// True when files with this extension (lower case, without the dot) hold one
// picture at several resolutions, of which chooseLoadResolution picks one.
bool holdsResolutions(std::string_view extension);

}  // namespace pv::engine
