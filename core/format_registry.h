#pragma once
// The one table of the output formats, in their fixed order: per format its
// key, extension and description, its methods (name, file format code and the
// depths each allows), quality range, passes, option defaults, and the traits
// the program asks about. The program (the format classes, settings, the
// window) and the file-manager plugin (its menu) read it; docs/extending.md
// walks through adding a row.

#include <array>
#include <iterator>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/file_format.h"

namespace pv {

// Bit i stands for the i-th depth of 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 24, 32.
using DepthMask = std::uint16_t;

struct MethodRow {
  std::string_view name;  // empty for the one method of a single-method format
  short code;             // the engine's file format code
  DepthMask depths;
  bool lossless = false;  // every pixel kept: the quality setting has nothing to say
};

inline constexpr std::uint16_t kEveryMethod = 0xFFFF;

struct FormatRow {
  std::string_view key;          // upper case; also the config.ini section of its options
  std::string_view extension;    // upper case, without dot
  std::string_view description;  // shown beside the key
  std::span<const MethodRow> methods;
  bool multiPage = false;  // writes every page of a source into one file
  bool hasQuality = false;
  int qualityStart = 0, qualityEnd = 100;
  bool hasPasses = false;
  // Defaults: method, quality when the key is missing, quality after a reset.
  std::uint32_t defaultMethod = 0;
  int qualityMissing = 10, qualityReset = 10;

  // Traits. Bit m of `keepsColour`: with method m a kept source depth below
  // 24 is saved with 24 bits (the method stores colour only).
  std::uint16_t keepsColour = 0;
  bool clipboard = false;          // copies to the clipboard instead of writing a file
  bool pagesTogether = false;      // a multi-page source is loaded whole and every save writes all pages
  bool keepsTransparency = false;  // a transparent source keeps its transparency (alpha at 32 bits)
  bool colourKey = false;          // a transparent colour is kept at any depth (palette entry or key)
  bool prepares = false;           // the format's class adjusts the image or the save before it

  // Today's codecs: their quality number rises with the quality (the older
  // factors fall), and an effort or speed setting takes the place of
  // progressive passes, with its own label, range and default.
  bool qualityRises = false;
  std::string_view passesLabel = "Progressive:";
  int passesFirst = 0, passesLast = 10, passesReset = 0;
};

namespace format_table {
using namespace ::pv::fmt;

inline constexpr MethodRow kJpgMethods[] = {
    {"Lossless JPEG", kJpeg, 0x780},      {"YUV 4:4:4", kJpeg, 0x780},
    {"YUV 4:2:2", kJpeg422, 0x480},       {"YUV 4:1:1", kJpeg411, 0x480},
    {"CieLAB 4:4:4", kJpegLab, 0x780},    {"CieLAB 4:2:2", kJpegLab422, 0x780},
    {"CieLAB 4:1:1", kJpegLab411, 0x780},
};
inline constexpr MethodRow kBmpMethods[] = {
    {"No Compression", kBmp, 0xE89},
    {"RLE Compression", kBmpRle, 0x088},
    {"OS/2 BMP Version 1", kOs2Bmp, 0x489},
    {"OS/2 BMP Version 2", kOs2Bmp2, 0x489},
};
inline constexpr MethodRow kPngMethods[] = {
    {"", kPng, 0xC89},
};
inline constexpr MethodRow kGifMethods[] = {
    {"Non-Interlaced", kGif, 0x0FF},
    {"Interlaced", kGif, 0x0FF},
};
inline constexpr MethodRow kIcoMethods[] = {
    {"Size 16x16", kIcon, 0x489}, {"Size 24x24", kIcon, 0x489}, {"Size 32x32", kIcon, 0x489},
    {"Size 48x48", kIcon, 0x489}, {"Size 72x72", kIcon, 0x489}, {"Size 128x128", kIcon, 0x489},
};
inline constexpr MethodRow kTifMethods[] = {
    {"Uncompressed RGB", kTiff, 0xEFF},
    {"Uncompressed CMYK", kTiffCmyk, 0xC00},
    {"Uncompressed YCbCr", kTiffYcc, 0x400},
    {"Packbits RGB", kTiffPackbits, 0xEFF},
    {"Packbits CMYK", kTiffPackbitsCmyk, 0xC00},
    {"Packbits YCbCr", kTiffPackbitsYcc, 0x400},
    {"JPEG YCbCr 4:4:4", kTiffJpeg, 0x780},
    {"JPEG YCbCr 4:2:2", kTiffJpeg422, 0x480},
    {"JPEG YCbCr 4:1:1", kTiffJpeg411, 0x480},
    {"LZW RGB", kTiffLzw, 0xEFF},
    {"LZW CMYK", kTiffLzwCmyk, 0xC00},
    {"LZW YCbCr", kTiffLzwYcc, 0x400},
    {"CMP", kTiffCmp, 0x480},
};
inline constexpr MethodRow kClpMethods[] = {
    {"", kClipboard, 0x489},
};
inline constexpr MethodRow kAniMethods[] = {
    {"", kAnimatedCursor, 0x489},
};
inline constexpr MethodRow kAwdMethods[] = {
    {"", kAwd, 0x001},
};
inline constexpr MethodRow kCalMethods[] = {
    {"Raster File", kCals, 0x001},
    {"CCITT G4 Compressed", kCalsG4, 0x001},
    {"Fax Group 4 Compressed", kCalsFaxG4, 0x001},
    {"CCITT G4 Tiled", kCalsTiled, 0x001},
};
inline constexpr MethodRow kCinMethods[] = {
    {"", kCineon, 0x400},
};
inline constexpr MethodRow kCmpMethods[] = {
    {"", kCmp, 0x480},
};
inline constexpr MethodRow kCmp2Methods[] = {
    {"", kCmp2, 0x001},
};
inline constexpr MethodRow kCurMethods[] = {
    {"", kCursor, 0x489},
};
inline constexpr MethodRow kCutMethods[] = {
    {"", kCut, 0x080},
};
inline constexpr MethodRow kEmfMethods[] = {
    {"", kEmf, 0x480},
};
inline constexpr MethodRow kEpsMethods[] = {
    {"", kEps, 0x080},
};
inline constexpr MethodRow kExifMethods[] = {
    {"EXIF File - TIFF - No compresssion (RGB Color Space)", kExifTiffRgb, 0x400},
    {"EXIF File - TIFF - No compresssion (YCbCr Color Space)", kExifTiffYcc, 0x400},
    {"EXIF File - JPEG", kExifJpeg, 0x400},
    {"EXIF 2.0 File - JPEG", kExifJpeg2, 0x400},
};
inline constexpr MethodRow kFaxMethods[] = {
    {"CCITT G3 1D", kFaxG3, 0x001},
    {"CCITT G3 2D", kFaxG3_2D, 0x001},
    {"CCITT G4", kFaxG4, 0x001},
};
inline constexpr MethodRow kFlcMethods[] = {
    {"", kFlc, 0x080},
};
inline constexpr MethodRow kIcaMethods[] = {
    {"CCITT G3 1D (With MO:DCA)", kModcaG3, 0x001},
    {"CCITT G3 2D (With MO:DCA)", kModcaG3_2D, 0x001},
    {"CCITT G4 (With MO:DCA)", kModcaG4, 0x001},
    {"IBM MMR (With MO:DCA)", kModcaMmr, 0x001},
    {"Uncompressed (With MO:DCA)", kModcaRaw, 0x001},
    {"CCITT G3 1D", kIcaG3, 0x001},
    {"CCITT G3 2D", kIcaG3_2D, 0x001},
    {"CCITT G4", kIcaG4, 0x001},
    {"IBM MMR", kIcaMmr, 0x001},
    {"Uncompressed", kIcaRaw, 0x001},
};
inline constexpr MethodRow kIffMethods[] = {
    {"RLE Compressed", kIff, 0x4FF},
    {"Uncompressed", kIffRaw, 0x4FF},
};
inline constexpr MethodRow kIff2Methods[] = {
    {"RLE Compressed", kIffCat, 0x4FF},
    {"Uncompressed", kIffCatRaw, 0x4FF},
};
inline constexpr MethodRow kImgMethods[] = {
    {"", kGemImg, 0x001},
};
inline constexpr MethodRow kItgMethods[] = {
    {"RLE Compressed", kItg, 0x001},
    {"CCITT G4 Compressed", kItgG4, 0x001},
};
inline constexpr MethodRow kMacMethods[] = {
    {"", kMacPaint, 0x001},
};
inline constexpr MethodRow kMspMethods[] = {
    {"", kMsp, 0x001},
};
inline constexpr MethodRow kPbmMethods[] = {
    {"ASCII File", kPbmAscii, 0x001},
    {"Binary File", kPbm, 0x001},
};
inline constexpr MethodRow kPctMethods[] = {
    {"", kPict, 0x689},
};
inline constexpr MethodRow kPcxMethods[] = {
    {"", kPcx, 0x489},
};
inline constexpr MethodRow kPgmMethods[] = {
    {"ASCII File", kPgmAscii, 0x080},
    {"Binary File", kPgm, 0x080},
};
inline constexpr MethodRow kPpmMethods[] = {
    {"ASCII File", kPpmAscii, 0x400},
    {"Binary File", kPpm, 0x400},
};
inline constexpr MethodRow kPsdMethods[] = {
    {"", kPsd, 0x481},
};
inline constexpr MethodRow kPspMethods[] = {
    {"Uncompressed", kPsp, 0x489},
    {"RLE Compressed", kPspRle, 0x489},
};
inline constexpr MethodRow kRasMethods[] = {
    {"", kSunRaster, 0xC89},
};
inline constexpr MethodRow kRawMethods[] = {
    {"", kRawData, 0xFFF},
};
inline constexpr MethodRow kSctMethods[] = {
    {"", kScitexCt, 0x400},
};
inline constexpr MethodRow kSffMethods[] = {
    {"", kSff, 0x001},
};
inline constexpr MethodRow kSgiMethods[] = {
    {"Uncompressed", kSgi, 0xC80},
    {"RLE Compressed", kSgiRle, 0xC80},
};
inline constexpr MethodRow kSmpMethods[] = {
    {"Uncompressed", kSmp, 0x001},
    {"CCITT Group 3 1D Compressed", kSmpG3, 0x001},
    {"CCITT Group 3 2D Compressed", kSmpG3_2D, 0x001},
    {"CCITT Group 4 Compressed", kSmpG4, 0x001},
};
inline constexpr MethodRow kTifxMethods[] = {
    {"", kTiffFax, 0x485},
};
inline constexpr MethodRow kTgaMethods[] = {
    {"Uncompressed", kTga, 0xE80},
    {"RLE Compressed", kTgaRle, 0xE80},
};
inline constexpr MethodRow kWbmpMethods[] = {
    {"", kWbmp, 0x001},
};
inline constexpr MethodRow kWfxMethods[] = {
    {"CCITT G3 1D", kWfxG3, 0x001},
    {"CCITT G4", kWfxG4, 0x001},
};
inline constexpr MethodRow kWmfMethods[] = {
    {"", kWmf, 0x480},
};
inline constexpr MethodRow kWpgMethods[] = {
    {"", kWpg, 0x089},
};
inline constexpr MethodRow kXbmMethods[] = {
    {"", kXbm, 0x001},
};
inline constexpr MethodRow kXpmMethods[] = {
    {"", kXpm, 0xE80},
};
inline constexpr MethodRow kXwdMethods[] = {
    {"Version 10", kXwd10, 0x089},
    {"Version 11", kXwd11, 0xE89},
};

inline constexpr MethodRow kWebpMethods[] = {
    {"Lossy", kWebp, 0xC00},
    {"Lossless", kWebpLossless, 0xC00, true},
};
inline constexpr MethodRow kAvifMethods[] = {
    {"Lossy", kAvif, 0xC80},
    {"Lossless", kAvifLossless, 0xC80, true},
};
inline constexpr MethodRow kHeicMethods[] = {
    {"", kHeic, 0xC00},
};
inline constexpr MethodRow kJxlMethods[] = {
    {"Lossy", kJxl, 0xC80},
    {"Lossless", kJxlLossless, 0xC80, true},
};

// The fields today's photo formats share: quality 0 .. 100 rising, several
// pages written together (an animation or an image collection), transparency
// kept as alpha.
constexpr FormatRow photoRow(std::string_view key, std::string_view description, std::span<const MethodRow> methods,
                             int quality, std::string_view passesLabel, int passesFirst, int passesLast,
                             int passesReset) {
  return FormatRow{.key = key,
                   .extension = key,
                   .description = description,
                   .methods = methods,
                   .multiPage = true,
                   .hasQuality = true,
                   .qualityStart = 0,
                   .qualityEnd = 100,
                   .hasPasses = true,
                   .qualityMissing = quality,
                   .qualityReset = quality,
                   .pagesTogether = true,
                   .keepsTransparency = true,
                   .qualityRises = true,
                   .passesLabel = passesLabel,
                   .passesFirst = passesFirst,
                   .passesLast = passesLast,
                   .passesReset = passesReset};
}

// New formats are appended, so that every stored index stays valid.
inline constexpr FormatRow kFormatRows[] = {
    {.key = "JPG",
     .extension = "JPG",
     .description = "JPEG File Interchange",
     .methods = kJpgMethods,
     .hasQuality = true,
     .qualityStart = 2,
     .qualityEnd = 255,
     .hasPasses = true,
     .defaultMethod = 3,
     .qualityMissing = 25,
     .qualityReset = 26,
     .keepsColour = kEveryMethod},
    {.key = "BMP", .extension = "BMP", .description = "Windows or OS/2 Bitmap", .methods = kBmpMethods},
    {.key = "PNG",
     .extension = "PNG",
     .description = "Portable Networks Graphics",
     .methods = kPngMethods,
     .hasQuality = true,
     .qualityStart = 0,
     .qualityEnd = 9,
     .qualityMissing = 0,
     .qualityReset = 0,
     .keepsTransparency = true,
     .colourKey = true},
    {.key = "GIF",
     .extension = "GIF",
     .description = "CompuServe Graphics Interchange",
     .methods = kGifMethods,
     .multiPage = true,
     .pagesTogether = true,
     .prepares = true},
    {.key = "ICO",
     .extension = "ICO",
     .description = "Windows Icon",
     .methods = kIcoMethods,
     .multiPage = true,
     .defaultMethod = 2,
     .prepares = true},
    {.key = "TIF",
     .extension = "TIF",
     .description = "Tagged Image File",
     .methods = kTifMethods,
     .multiPage = true,
     .hasQuality = true,
     .qualityStart = 2,
     .qualityEnd = 255,
     .qualityMissing = 25,
     .qualityReset = 26,
     .keepsColour = 1u << 6 | 1u << 7 | 1u << 8 | 1u << 12,
     .keepsTransparency = true},
    {.key = "CLP",
     .extension = "CLP",
     .description = "Copy to Clipboard",
     .methods = kClpMethods,
     .clipboard = true},
    {.key = "ANI",
     .extension = "ANI",
     .description = "Windows Animated Cursor",
     .methods = kAniMethods,
     .multiPage = true,
     .prepares = true},
    {.key = "AWD", .extension = "AWD", .description = "Microsoft FAX", .methods = kAwdMethods},
    {.key = "CAL", .extension = "CAL", .description = "CALS Raster File", .methods = kCalMethods},
    {.key = "CIN", .extension = "CIN", .description = "Cineon", .methods = kCinMethods},
    {.key = "CMP",
     .extension = "CMP",
     .description = "LEAD Compression",
     .methods = kCmpMethods,
     .hasQuality = true,
     .qualityStart = -1,
     .qualityEnd = -9,
     .hasPasses = true,
     .qualityMissing = -2,
     .qualityReset = -2,
     .keepsColour = kEveryMethod},
    {.key = "CMP2", .extension = "CMP", .description = "LEAD 1-bit Compression", .methods = kCmp2Methods},
    {.key = "CUR",
     .extension = "CUR",
     .description = "Windows Cursor",
     .methods = kCurMethods,
     .multiPage = true,
     .prepares = true},
    {.key = "CUT", .extension = "CUT", .description = "Dr. Halo", .methods = kCutMethods},
    {.key = "EMF", .extension = "EMF", .description = "Enhanced MetaFile", .methods = kEmfMethods},
    {.key = "EPS", .extension = "EPS", .description = "Encapsulated PostScript", .methods = kEpsMethods},
    {.key = "EXIF", .extension = "TIF", .description = "EXIF File", .methods = kExifMethods},
    {.key = "FAX", .extension = "FAX", .description = "Raw FAX", .methods = kFaxMethods},
    {.key = "FLC",
     .extension = "FLC",
     .description = "Flic Animation",
     .methods = kFlcMethods,
     .multiPage = true},
    {.key = "ICA", .extension = "ICA", .description = "IOCA", .methods = kIcaMethods},
    {.key = "IFF", .extension = "IFF", .description = "Interchange File", .methods = kIffMethods},
    {.key = "IFF2",
     .extension = "IFF",
     .description = "Interchange (Multi-Page)",
     .methods = kIff2Methods,
     .multiPage = true},
    {.key = "IMG", .extension = "IMG", .description = "GEM Image", .methods = kImgMethods},
    {.key = "ITG", .extension = "ITG", .description = "ITG Intergraph", .methods = kItgMethods},
    {.key = "MAC", .extension = "MAC", .description = "MacPaint", .methods = kMacMethods},
    {.key = "MSP", .extension = "MSP", .description = "Microsoft Paint", .methods = kMspMethods},
    {.key = "PBM", .extension = "PBM", .description = "Portable Bitmap", .methods = kPbmMethods},
    {.key = "PCT", .extension = "PCT", .description = "Macintosh QuickDraw", .methods = kPctMethods},
    {.key = "PCX", .extension = "PCX", .description = "ZSoft PCX", .methods = kPcxMethods, .multiPage = true},
    {.key = "PGM", .extension = "PGM", .description = "Portable Greymap", .methods = kPgmMethods},
    {.key = "PPM", .extension = "PPM", .description = "Portable Pixelmap", .methods = kPpmMethods},
    {.key = "PSD",
     .extension = "PSD",
     .description = "Adobe Photoshop",
     .methods = kPsdMethods,
     .prepares = true},
    {.key = "PSP", .extension = "PSP", .description = "Paint Shop Pro", .methods = kPspMethods},
    {.key = "RAS", .extension = "RAS", .description = "Sun Raster", .methods = kRasMethods},
    {.key = "RAW", .extension = "RAW", .description = "Raw Uncompressed Data", .methods = kRawMethods},
    {.key = "SCT", .extension = "SCT", .description = "Scitex Continuous Tone", .methods = kSctMethods},
    {.key = "SFF", .extension = "SFF", .description = "Structured Fax File", .methods = kSffMethods},
    {.key = "SGI", .extension = "SGI", .description = "Silicon Graphics Image", .methods = kSgiMethods},
    {.key = "SMP", .extension = "SMP", .description = "Xionics Format", .methods = kSmpMethods},
    {.key = "TIFX", .extension = "TIFX", .description = "Internet Fax", .methods = kTifxMethods},
    {.key = "TGA", .extension = "TGA", .description = "TARGA", .methods = kTgaMethods},
    {.key = "WBMP", .extension = "WBMP", .description = "Wireless Bitmap", .methods = kWbmpMethods},
    {.key = "WFX", .extension = "WFX", .description = "Winfax", .methods = kWfxMethods},
    {.key = "WMF", .extension = "WMF", .description = "Windows Meta File", .methods = kWmfMethods},
    {.key = "WPG", .extension = "WPG", .description = "Word Perfect", .methods = kWpgMethods},
    {.key = "XBM", .extension = "XBM", .description = "XBitmap File", .methods = kXbmMethods},
    {.key = "XPM", .extension = "XPM", .description = "XPicmap File", .methods = kXpmMethods},
    {.key = "XWD", .extension = "XWD", .description = "X Window Dump", .methods = kXwdMethods},
    // Quality and effort map onto each library as engine/codecs/modern.h
    // says, with the reasons for each default (measured on a 12-megapixel photo).
    photoRow("WEBP", "WebP", kWebpMethods, 80, "Effort:", 0, 6, 4),
    photoRow("AVIF", "AV1 Image File", kAvifMethods, 60, "Speed:", 0, 10, 6),
    photoRow("HEIC", "High Efficiency Image File", kHeicMethods, 50, "Speed:", 0, 9, 5),
    photoRow("JXL", "JPEG XL", kJxlMethods, 90, "Effort:", 1, 9, 5),
};
}  // namespace format_table

inline constexpr int kFormatCount = static_cast<int>(std::size(format_table::kFormatRows));

// The rows by index 0..kFormatCount - 1.
constexpr std::span<const FormatRow> formatRegistry() { return format_table::kFormatRows; }

// Lookups by index; an index outside the table gives empty text.
std::string_view formatKey(int index);
std::string_view formatExtension(int index);
std::string_view formatDescription(int index);

// The index of the format whose key is `key` exactly (upper case), or -1.
constexpr int formatIndexOfKey(std::string_view key) {
  for (int i = 0; i < kFormatCount; ++i)
    if (formatRegistry()[static_cast<std::size_t>(i)].key == key) return i;
  return -1;
}

}  // namespace pv
