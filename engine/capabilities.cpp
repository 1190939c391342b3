#include "engine/capabilities.h"

#include "engine/codecs/codecs.h"
#include "engine/codecs/own.h"

namespace pv::engine {

namespace {

struct Row {
  int code;
  WriterInfo info;
};

// Codes written by our own codecs and libraries, and the refusals with their
// reasons. Codes that ImageMagick writes come from its writer table.
constexpr Row kRows[] = {
    {75, {"libpng", ""}},
    {10, {"libjpeg-turbo", ""}},
    {23, {"libjpeg-turbo", ""}},
    {21, {"libjpeg-turbo", ""}},
    {2, {"giflib", ""}},
    {3, {"libtiff", ""}},   {85, {"libtiff", ""}}, {93, {"libtiff", ""}}, {87, {"libtiff", ""}},
    {88, {"libtiff", ""}},  {95, {"libtiff", ""}}, {11, {"libtiff", ""}}, {24, {"libtiff", ""}},
    {22, {"libtiff", ""}},  {17, {"libtiff", ""}}, {86, {"libtiff", ""}}, {94, {"libtiff", ""}},
    {6, {"own", ""}},       {84, {"own", ""}},     {14, {"own", ""}},     {74, {"own", ""}},
    {171, {"libjpeg-turbo", ""}},  {172, {"libjpeg-turbo", ""}}, {173, {"libjpeg-turbo", ""}},
    {96, {"libtiff", ""}},  {97, {"libtiff", ""}},  {276, {"libtiff", ""}},
    {98, {"libjpeg-turbo", ""}},  {101, {"libjpeg-turbo", ""}},
    {138, {"", "CMP compression inside TIFF is proprietary"}},
    {5, {"", "CMP is a proprietary compression without a public definition"}},
    {26, {"", "CMP2 is a proprietary compression without a public definition"}},
    {99, {"", "AWD (fax document) has no public definition"}},
    {122, {"", "ITG has no public definition"}},
    {301, {"", "ITG has no public definition"}},
    {267, {"", "PSP (Paint Shop Pro) is a large undocumented layered format"}},
    {268, {"", "PSP (Paint Shop Pro) is a large undocumented layered format"}},
    {129, {"", "tiled CALS is a type II file, an ODA raster document (FIPS 194), which is not built"}},
    {69, {"", "WFX (WinFax) has no public definition"}},
    {70, {"", "WFX (WinFax) has no public definition"}},
    {71, {"", "the MO:DCA document around the image is not built (the image alone is)"}},
    {72, {"", "the MO:DCA document around the image is not built (the image alone is)"}},
    {73, {"", "the MO:DCA document around the image is not built (the image alone is)"}},
    {117, {"", "IBM's MMR compression has no public definition"}},
    {253, {"", "the MO:DCA document around the image is not built (the image alone is)"}},
    {118, {"", "IBM's MMR compression has no public definition"}},
    {256, {"", "SMP has no public definition"}},
    {257, {"", "SMP has no public definition"}},
    {258, {"", "SMP has no public definition"}},
    {259, {"", "SMP has no public definition"}},
};

}  // namespace

WriterInfo writerOf(int code) {
  for (const Row& r : kRows)
    if (r.code == code) return r.info;
  if (codecs::ownWrites(code)) return {"own", ""};
  if (codecs::magickWrites(code)) return {"ImageMagick", ""};
  return {"", "not built yet"};
}

std::string_view readerOf(std::string_view ext) {
  for (std::string_view own : {"png", "jpg", "jpeg", "jtf", "gif", "tif", "tiff", "tifx", "tfx", "bmp", "exif", "exf"})
    if (ext == own) return "own";
  if (codecs::ownReadsExtension(ext)) return "own";
  if (codecs::isCameraRawExtension(ext)) return "LibRaw";
  return codecs::magickReadsExtension(ext) ? "ImageMagick" : "";
}

}  // namespace pv::engine
