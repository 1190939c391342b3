#include "formats/catalogue.h"

#include <array>

#include "core/format_registry.h"

namespace pv::formats {

namespace {

// Depth masks: bit i stands for kDepthList[i] (1 2 3 4 5 6 7 8 12 16 24 32).
constexpr MethodRow kJpgMethods[] = {
    {"Lossless JPEG", 10, 0x780},
    {"YUV 4:4:4", 10, 0x780},
    {"YUV 4:2:2", 23, 0x480},
    {"YUV 4:1:1", 21, 0x480},
    {"CieLAB 4:4:4", 171, 0x780},
    {"CieLAB 4:2:2", 173, 0x780},
    {"CieLAB 4:1:1", 172, 0x780},
};
constexpr MethodRow kBmpMethods[] = {
    {"No Compression", 6, 0xE89},
    {"RLE Compression", 84, 0x088},
    {"OS/2 BMP Version 1", 14, 0x489},
    {"OS/2 BMP Version 2", 74, 0x489},
};
constexpr MethodRow kPngMethods[] = {
    {"", 75, 0xC89},
};
constexpr MethodRow kGifMethods[] = {
    {"Non-Interlaced", 2, 0x0FF},
    {"Interlaced", 2, 0x0FF},
};
constexpr MethodRow kIcoMethods[] = {
    {"Size 16x16", 91, 0x489},
    {"Size 24x24", 91, 0x489},
    {"Size 32x32", 91, 0x489},
    {"Size 48x48", 91, 0x489},
    {"Size 72x72", 91, 0x489},
    {"Size 128x128", 91, 0x489},
};
constexpr MethodRow kTifMethods[] = {
    {"Uncompressed RGB", 3, 0xEFF},
    {"Uncompressed CMYK", 85, 0xC00},
    {"Uncompressed YCbCr", 93, 0x400},
    {"Packbits RGB", 87, 0xEFF},
    {"Packbits CMYK", 88, 0xC00},
    {"Packbits YCbCr", 95, 0x400},
    {"JPEG YCbCr 4:4:4", 11, 0x780},
    {"JPEG YCbCr 4:2:2", 24, 0x480},
    {"JPEG YCbCr 4:1:1", 22, 0x480},
    {"LZW RGB", 17, 0xEFF},
    {"LZW CMYK", 86, 0xC00},
    {"LZW YCbCr", 94, 0x400},
    {"CMP", 138, 0x480},
};
constexpr MethodRow kClpMethods[] = {
    {"", 114, 0x489},
};
constexpr MethodRow kAniMethods[] = {
    {"", 119, 0x489},
};
constexpr MethodRow kAwdMethods[] = {
    {"", 99, 0x001},
};
constexpr MethodRow kCalMethods[] = {
    {"Raster File", 50, 0x001},
    {"CCITT G4 Compressed", 130, 0x001},
    {"Fax Group 4 Compressed", 131, 0x001},
    {"CCITT G4 Tiled", 129, 0x001},
};
constexpr MethodRow kCinMethods[] = {
    {"", 298, 0x400},
};
constexpr MethodRow kCmpMethods[] = {
    {"", 5, 0x480},
};
constexpr MethodRow kCmp2Methods[] = {
    {"", 26, 0x001},
};
constexpr MethodRow kCurMethods[] = {
    {"", 92, 0x489},
};
constexpr MethodRow kCutMethods[] = {
    {"", 108, 0x080},
};
constexpr MethodRow kEmfMethods[] = {
    {"", 116, 0x480},
};
constexpr MethodRow kEpsMethods[] = {
    {"", 16, 0x080},
};
constexpr MethodRow kExifMethods[] = {
    {"EXIF File - TIFF - No compresssion (RGB Color Space)", 96, 0x400},
    {"EXIF File - TIFF - No compresssion (YCbCr Color Space)", 97, 0x400},
    {"EXIF File - JPEG", 98, 0x400},
    {"EXIF 2.0 File - JPEG", 101, 0x400},
};
constexpr MethodRow kFaxMethods[] = {
    {"CCITT G3 1D", 66, 0x001},
    {"CCITT G3 2D", 67, 0x001},
    {"CCITT G4", 68, 0x001},
};
constexpr MethodRow kFlcMethods[] = {
    {"", 134, 0x080},
};
constexpr MethodRow kIcaMethods[] = {
    {"CCITT G3 1D (With MO:DCA)", 71, 0x001},
    {"CCITT G3 2D (With MO:DCA)", 72, 0x001},
    {"CCITT G4 (With MO:DCA)", 73, 0x001},
    {"IBM MMR (With MO:DCA)", 117, 0x001},
    {"Uncompressed (With MO:DCA)", 253, 0x001},
    {"CCITT G3 1D", 77, 0x001},
    {"CCITT G3 2D", 78, 0x001},
    {"CCITT G4", 79, 0x001},
    {"IBM MMR", 118, 0x001},
    {"Uncompressed", 254, 0x001},
};
constexpr MethodRow kIffMethods[] = {
    {"RLE Compressed", 111, 0x4FF},
    {"Uncompressed", 303, 0x4FF},
};
constexpr MethodRow kIff2Methods[] = {
    {"RLE Compressed", 112, 0x4FF},
    {"Uncompressed", 304, 0x4FF},
};
constexpr MethodRow kImgMethods[] = {
    {"", 52, 0x001},
};
constexpr MethodRow kItgMethods[] = {
    {"RLE Compressed", 122, 0x001},
    {"CCITT G4 Compressed", 301, 0x001},
};
constexpr MethodRow kMacMethods[] = {
    {"", 51, 0x001},
};
constexpr MethodRow kMspMethods[] = {
    {"", 53, 0x001},
};
constexpr MethodRow kPbmMethods[] = {
    {"ASCII File", 102, 0x001},
    {"Binary File", 103, 0x001},
};
constexpr MethodRow kPctMethods[] = {
    {"", 56, 0x689},
};
constexpr MethodRow kPcxMethods[] = {
    {"", 1, 0x489},
};
constexpr MethodRow kPgmMethods[] = {
    {"ASCII File", 104, 0x080},
    {"Binary File", 105, 0x080},
};
constexpr MethodRow kPpmMethods[] = {
    {"ASCII File", 106, 0x400},
    {"Binary File", 107, 0x400},
};
constexpr MethodRow kPsdMethods[] = {
    {"", 76, 0x481},
};
constexpr MethodRow kPspMethods[] = {
    {"Uncompressed", 267, 0x489},
    {"RLE Compressed", 268, 0x489},
};
constexpr MethodRow kRasMethods[] = {
    {"", 55, 0xC89},
};
constexpr MethodRow kRawMethods[] = {
    {"", 153, 0xFFF},
};
constexpr MethodRow kSctMethods[] = {
    {"", 250, 0x400},
};
constexpr MethodRow kSffMethods[] = {
    {"", 302, 0x001},
};
constexpr MethodRow kSgiMethods[] = {
    {"Uncompressed", 142, 0xC80},
    {"RLE Compressed", 143, 0xC80},
};
constexpr MethodRow kSmpMethods[] = {
    {"Uncompressed", 256, 0x001},
    {"CCITT Group 3 1D Compressed", 257, 0x001},
    {"CCITT Group 3 2D Compressed", 258, 0x001},
    {"CCITT Group 4 Compressed", 259, 0x001},
};
constexpr MethodRow kTifxMethods[] = {
    {"", 276, 0x485},
};
constexpr MethodRow kTgaMethods[] = {
    {"Uncompressed", 4, 0xE80},
    {"RLE Compressed", 262, 0xE80},
};
constexpr MethodRow kWbmpMethods[] = {
    {"", 170, 0x001},
};
constexpr MethodRow kWfxMethods[] = {
    {"CCITT G3 1D", 69, 0x001},
    {"CCITT G4", 70, 0x001},
};
constexpr MethodRow kWmfMethods[] = {
    {"", 15, 0x480},
};
constexpr MethodRow kWpgMethods[] = {
    {"", 54, 0x089},
};
constexpr MethodRow kXbmMethods[] = {
    {"", 110, 0x001},
};
constexpr MethodRow kXpmMethods[] = {
    {"", 109, 0xE80},
};
constexpr MethodRow kXwdMethods[] = {
    {"Version 10", 132, 0x089},
    {"Version 11", 133, 0xE89},
};

// key, methods, hasQuality, qualityStart, qualityEnd, hasPasses,
// default method, quality when missing, quality after a reset
constexpr std::array<FormatCatalogueRow, kFormatCount> kRows{{
    {"JPG", kJpgMethods, true, 2, 255, true, 3, 25, 26},
    {"BMP", kBmpMethods, false, 0, 100, false, 0, 10, 10},
    {"PNG", kPngMethods, true, 0, 9, false, 0, 0, 0},
    {"GIF", kGifMethods, false, 0, 100, false, 0, 10, 10},
    {"ICO", kIcoMethods, false, 0, 100, false, 2, 10, 10},
    {"TIF", kTifMethods, true, 2, 255, false, 0, 25, 26},
    {"CLP", kClpMethods, false, 0, 100, false, 0, 10, 10},
    {"ANI", kAniMethods, false, 0, 100, false, 0, 10, 10},
    {"AWD", kAwdMethods, false, 0, 100, false, 0, 10, 10},
    {"CAL", kCalMethods, false, 0, 100, false, 0, 10, 10},
    {"CIN", kCinMethods, false, 0, 100, false, 0, 10, 10},
    {"CMP", kCmpMethods, true, -1, -9, true, 0, -2, -2},
    {"CMP2", kCmp2Methods, false, 0, 100, false, 0, 10, 10},
    {"CUR", kCurMethods, false, 0, 100, false, 0, 10, 10},
    {"CUT", kCutMethods, false, 0, 100, false, 0, 10, 10},
    {"EMF", kEmfMethods, false, 0, 100, false, 0, 10, 10},
    {"EPS", kEpsMethods, false, 0, 100, false, 0, 10, 10},
    {"EXIF", kExifMethods, false, 0, 100, false, 0, 10, 10},
    {"FAX", kFaxMethods, false, 0, 100, false, 0, 10, 10},
    {"FLC", kFlcMethods, false, 0, 100, false, 0, 10, 10},
    {"ICA", kIcaMethods, false, 0, 100, false, 0, 10, 10},
    {"IFF", kIffMethods, false, 0, 100, false, 0, 10, 10},
    {"IFF2", kIff2Methods, false, 0, 100, false, 0, 10, 10},
    {"IMG", kImgMethods, false, 0, 100, false, 0, 10, 10},
    {"ITG", kItgMethods, false, 0, 100, false, 0, 10, 10},
    {"MAC", kMacMethods, false, 0, 100, false, 0, 10, 10},
    {"MSP", kMspMethods, false, 0, 100, false, 0, 10, 10},
    {"PBM", kPbmMethods, false, 0, 100, false, 0, 10, 10},
    {"PCT", kPctMethods, false, 0, 100, false, 0, 10, 10},
    {"PCX", kPcxMethods, false, 0, 100, false, 0, 10, 10},
    {"PGM", kPgmMethods, false, 0, 100, false, 0, 10, 10},
    {"PPM", kPpmMethods, false, 0, 100, false, 0, 10, 10},
    {"PSD", kPsdMethods, false, 0, 100, false, 0, 10, 10},
    {"PSP", kPspMethods, false, 0, 100, false, 0, 10, 10},
    {"RAS", kRasMethods, false, 0, 100, false, 0, 10, 10},
    {"RAW", kRawMethods, false, 0, 100, false, 0, 10, 10},
    {"SCT", kSctMethods, false, 0, 100, false, 0, 10, 10},
    {"SFF", kSffMethods, false, 0, 100, false, 0, 10, 10},
    {"SGI", kSgiMethods, false, 0, 100, false, 0, 10, 10},
    {"SMP", kSmpMethods, false, 0, 100, false, 0, 10, 10},
    {"TIFX", kTifxMethods, false, 0, 100, false, 0, 10, 10},
    {"TGA", kTgaMethods, false, 0, 100, false, 0, 10, 10},
    {"WBMP", kWbmpMethods, false, 0, 100, false, 0, 10, 10},
    {"WFX", kWfxMethods, false, 0, 100, false, 0, 10, 10},
    {"WMF", kWmfMethods, false, 0, 100, false, 0, 10, 10},
    {"WPG", kWpgMethods, false, 0, 100, false, 0, 10, 10},
    {"XBM", kXbmMethods, false, 0, 100, false, 0, 10, 10},
    {"XPM", kXpmMethods, false, 0, 100, false, 0, 10, 10},
    {"XWD", kXwdMethods, false, 0, 100, false, 0, 10, 10},
}};

}  // namespace

const FormatCatalogueRow& catalogueRow(int index) { return kRows.at(static_cast<std::size_t>(index)); }

}  // namespace pv::formats
