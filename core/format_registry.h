#pragma once
// The one table of the output formats, in their fixed order: per format its
// key, extension and description, its methods (name, file format code and the
// depths each allows), quality range, passes, option defaults, and the traits
// the program asks about. The program (the format classes, settings, the
// window) and the file-manager plugin (its menu) read it; docs/extending.md
// walks through adding a row.

#include <algorithm>
#include <array>
#include <initializer_list>
#include <iterator>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/file_format.h"

namespace pv {

// Bit i stands for the i-th depth of 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 24, 32.
using DepthMask = std::uint16_t;

// The depths a method can save with, as a set of depths in bits per pixel;
// a depth that is not one of the twelve does not build.
consteval DepthMask depths(std::initializer_list<int> bits) {
  constexpr int kDepths[] = {1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 24, 32};
  DepthMask mask = 0;
  for (int d : bits) {
    const int* at = std::find(std::begin(kDepths), std::end(kDepths), d);
    if (at == std::end(kDepths)) throw "not a depth a method saves with";
    mask = static_cast<DepthMask>(mask | 1u << (at - std::begin(kDepths)));
  }
  return mask;
}

// The sets the methods below use.
inline constexpr DepthMask kBilevel = depths({1});
inline constexpr DepthMask kEightBits = depths({8});
inline constexpr DepthMask kTrueColour = depths({24});
inline constexpr DepthMask kFourOrEightBits = depths({4, 8});
inline constexpr DepthMask kEightBitsOrColour = depths({8, 24});
inline constexpr DepthMask kColourOrAlpha = depths({24, 32});
inline constexpr DepthMask kPaletteDepths = depths({1, 4, 8});
inline constexpr DepthMask kBilevelEightOrColour = depths({1, 8, 24});
inline constexpr DepthMask kEightBitsColourOrAlpha = depths({8, 24, 32});
inline constexpr DepthMask kFaxTiffDepths = depths({1, 3, 8, 24});
inline constexpr DepthMask kPaletteOrColour = depths({1, 4, 8, 24});
inline constexpr DepthMask kJpegDepths = depths({8, 12, 16, 24});
inline constexpr DepthMask kWholeByteDepths = depths({8, 16, 24, 32});
inline constexpr DepthMask kPictDepths = depths({1, 4, 8, 16, 24});
inline constexpr DepthMask kPaletteColourOrAlpha = depths({1, 4, 8, 24, 32});
inline constexpr DepthMask kBitmapDepths = depths({1, 4, 8, 16, 24, 32});
inline constexpr DepthMask kAnyPalette = depths({1, 2, 3, 4, 5, 6, 7, 8});
inline constexpr DepthMask kAnyPaletteOrColour = depths({1, 2, 3, 4, 5, 6, 7, 8, 24});
inline constexpr DepthMask kTiffDepths = depths({1, 2, 3, 4, 5, 6, 7, 8, 16, 24, 32});
inline constexpr DepthMask kEveryDepth = depths({1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 24, 32});

struct MethodRow {
  std::string_view name;  // empty for the one method of a single-method format
  short code;             // the engine's file format code
  DepthMask depths;
  bool lossless = false;  // every pixel kept: the quality setting has nothing to say
};

// A set of methods by their positions in a format's list (for `keepsColour`).
consteval std::uint16_t methodSet(std::initializer_list<int> positions) {
  std::uint16_t set = 0;
  for (int m : positions) {
    if (m < 0 || m > 15) throw "a method position beyond the sixteen a set holds";
    set = static_cast<std::uint16_t>(set | 1u << m);
  }
  return set;
}
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
  bool sizeTarget = false;         // a largest file size (MaxFileSize) is met by lowering the quality

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
    {"Lossless JPEG", kJpeg, kJpegDepths, true},      {"YUV 4:4:4", kJpeg, kJpegDepths},
    {"YUV 4:2:2", kJpeg422, kEightBitsOrColour},       {"YUV 4:1:1", kJpeg411, kEightBitsOrColour},
    {"CieLAB 4:4:4", kJpegLab, kJpegDepths},    {"CieLAB 4:2:2", kJpegLab422, kJpegDepths},
    {"CieLAB 4:1:1", kJpegLab411, kJpegDepths},
};
inline constexpr MethodRow kBmpMethods[] = {
    {"No Compression", kBmp, kBitmapDepths},
    {"RLE Compression", kBmpRle, kFourOrEightBits},
    {"OS/2 BMP Version 1", kOs2Bmp, kPaletteOrColour},
    {"OS/2 BMP Version 2", kOs2Bmp2, kPaletteOrColour},
};
inline constexpr MethodRow kPngMethods[] = {
    {"", kPng, kPaletteColourOrAlpha},
};
inline constexpr MethodRow kGifMethods[] = {
    {"Non-Interlaced", kGif, kAnyPalette},
    {"Interlaced", kGif, kAnyPalette},
};
inline constexpr MethodRow kIcoMethods[] = {
    {"Size 16x16", kIcon, kPaletteOrColour}, {"Size 24x24", kIcon, kPaletteOrColour}, {"Size 32x32", kIcon, kPaletteOrColour},
    {"Size 48x48", kIcon, kPaletteOrColour}, {"Size 72x72", kIcon, kPaletteOrColour}, {"Size 128x128", kIcon, kPaletteOrColour},
};
inline constexpr MethodRow kTifMethods[] = {
    {"Uncompressed RGB", kTiff, kTiffDepths},
    {"Uncompressed CMYK", kTiffCmyk, kColourOrAlpha},
    {"Uncompressed YCbCr", kTiffYcc, kTrueColour},
    {"Packbits RGB", kTiffPackbits, kTiffDepths},
    {"Packbits CMYK", kTiffPackbitsCmyk, kColourOrAlpha},
    {"Packbits YCbCr", kTiffPackbitsYcc, kTrueColour},
    {"JPEG YCbCr 4:4:4", kTiffJpeg, kJpegDepths},
    {"JPEG YCbCr 4:2:2", kTiffJpeg422, kEightBitsOrColour},
    {"JPEG YCbCr 4:1:1", kTiffJpeg411, kEightBitsOrColour},
    {"LZW RGB", kTiffLzw, kTiffDepths},
    {"LZW CMYK", kTiffLzwCmyk, kColourOrAlpha},
    {"LZW YCbCr", kTiffLzwYcc, kTrueColour},
    {"CMP", kTiffCmp, kEightBitsOrColour},
};
inline constexpr MethodRow kClpMethods[] = {
    {"", kClipboard, kPaletteOrColour},
};
inline constexpr MethodRow kAniMethods[] = {
    {"", kAnimatedCursor, kPaletteOrColour},
};
inline constexpr MethodRow kAwdMethods[] = {
    {"", kAwd, kBilevel},
};
inline constexpr MethodRow kCalMethods[] = {
    {"Raster File", kCals, kBilevel},
    {"CCITT G4 Compressed", kCalsG4, kBilevel},
    {"Fax Group 4 Compressed", kCalsFaxG4, kBilevel},
    {"CCITT G4 Tiled", kCalsTiled, kBilevel},
};
inline constexpr MethodRow kCinMethods[] = {
    {"", kCineon, kTrueColour},
};
inline constexpr MethodRow kCmpMethods[] = {
    {"", kCmp, kEightBitsOrColour},
};
inline constexpr MethodRow kCmp2Methods[] = {
    {"", kCmp2, kBilevel},
};
inline constexpr MethodRow kCurMethods[] = {
    {"", kCursor, kPaletteOrColour},
};
inline constexpr MethodRow kCutMethods[] = {
    {"", kCut, kEightBits},
};
inline constexpr MethodRow kEmfMethods[] = {
    {"", kEmf, kEightBitsOrColour},
};
inline constexpr MethodRow kEpsMethods[] = {
    {"", kEps, kEightBits},
};
inline constexpr MethodRow kExifMethods[] = {
    {"EXIF File - TIFF - No compresssion (RGB Color Space)", kExifTiffRgb, kTrueColour},
    {"EXIF File - TIFF - No compresssion (YCbCr Color Space)", kExifTiffYcc, kTrueColour},
    {"EXIF File - JPEG", kExifJpeg, kTrueColour},
    {"EXIF 2.0 File - JPEG", kExifJpeg2, kTrueColour},
};
inline constexpr MethodRow kFaxMethods[] = {
    {"CCITT G3 1D", kFaxG3, kBilevel},
    {"CCITT G3 2D", kFaxG3_2D, kBilevel},
    {"CCITT G4", kFaxG4, kBilevel},
};
inline constexpr MethodRow kFlcMethods[] = {
    {"", kFlc, kEightBits},
};
inline constexpr MethodRow kIcaMethods[] = {
    {"CCITT G3 1D (With MO:DCA)", kModcaG3, kBilevel},
    {"CCITT G3 2D (With MO:DCA)", kModcaG3_2D, kBilevel},
    {"CCITT G4 (With MO:DCA)", kModcaG4, kBilevel},
    {"IBM MMR (With MO:DCA)", kModcaMmr, kBilevel},
    {"Uncompressed (With MO:DCA)", kModcaRaw, kBilevel},
    {"CCITT G3 1D", kIcaG3, kBilevel},
    {"CCITT G3 2D", kIcaG3_2D, kBilevel},
    {"CCITT G4", kIcaG4, kBilevel},
    {"IBM MMR", kIcaMmr, kBilevel},
    {"Uncompressed", kIcaRaw, kBilevel},
};
inline constexpr MethodRow kIffMethods[] = {
    {"RLE Compressed", kIff, kAnyPaletteOrColour},
    {"Uncompressed", kIffRaw, kAnyPaletteOrColour},
};
inline constexpr MethodRow kIff2Methods[] = {
    {"RLE Compressed", kIffCat, kAnyPaletteOrColour},
    {"Uncompressed", kIffCatRaw, kAnyPaletteOrColour},
};
inline constexpr MethodRow kImgMethods[] = {
    {"", kGemImg, kBilevel},
};
inline constexpr MethodRow kItgMethods[] = {
    {"RLE Compressed", kItg, kBilevel},
    {"CCITT G4 Compressed", kItgG4, kBilevel},
};
inline constexpr MethodRow kMacMethods[] = {
    {"", kMacPaint, kBilevel},
};
inline constexpr MethodRow kMspMethods[] = {
    {"", kMsp, kBilevel},
};
inline constexpr MethodRow kPbmMethods[] = {
    {"ASCII File", kPbmAscii, kBilevel},
    {"Binary File", kPbm, kBilevel},
};
inline constexpr MethodRow kPctMethods[] = {
    {"", kPict, kPictDepths},
};
inline constexpr MethodRow kPcxMethods[] = {
    {"", kPcx, kPaletteOrColour},
};
inline constexpr MethodRow kPgmMethods[] = {
    {"ASCII File", kPgmAscii, kEightBits},
    {"Binary File", kPgm, kEightBits},
};
inline constexpr MethodRow kPpmMethods[] = {
    {"ASCII File", kPpmAscii, kTrueColour},
    {"Binary File", kPpm, kTrueColour},
};
inline constexpr MethodRow kPsdMethods[] = {
    {"", kPsd, kBilevelEightOrColour},
};
inline constexpr MethodRow kPspMethods[] = {
    {"Uncompressed", kPsp, kPaletteOrColour},
    {"RLE Compressed", kPspRle, kPaletteOrColour},
};
inline constexpr MethodRow kRasMethods[] = {
    {"", kSunRaster, kPaletteColourOrAlpha},
};
inline constexpr MethodRow kRawMethods[] = {
    {"", kRawData, kEveryDepth},
};
inline constexpr MethodRow kSctMethods[] = {
    {"", kScitexCt, kTrueColour},
};
inline constexpr MethodRow kSffMethods[] = {
    {"", kSff, kBilevel},
};
inline constexpr MethodRow kSgiMethods[] = {
    {"Uncompressed", kSgi, kEightBitsColourOrAlpha},
    {"RLE Compressed", kSgiRle, kEightBitsColourOrAlpha},
};
inline constexpr MethodRow kSmpMethods[] = {
    {"Uncompressed", kSmp, kBilevel},
    {"CCITT Group 3 1D Compressed", kSmpG3, kBilevel},
    {"CCITT Group 3 2D Compressed", kSmpG3_2D, kBilevel},
    {"CCITT Group 4 Compressed", kSmpG4, kBilevel},
};
inline constexpr MethodRow kTifxMethods[] = {
    {"", kTiffFax, kFaxTiffDepths},
};
inline constexpr MethodRow kTgaMethods[] = {
    {"Uncompressed", kTga, kWholeByteDepths},
    {"RLE Compressed", kTgaRle, kWholeByteDepths},
};
inline constexpr MethodRow kWbmpMethods[] = {
    {"", kWbmp, kBilevel},
};
inline constexpr MethodRow kWfxMethods[] = {
    {"CCITT G3 1D", kWfxG3, kBilevel},
    {"CCITT G4", kWfxG4, kBilevel},
};
inline constexpr MethodRow kWmfMethods[] = {
    {"", kWmf, kEightBitsOrColour},
};
inline constexpr MethodRow kWpgMethods[] = {
    {"", kWpg, kPaletteDepths},
};
inline constexpr MethodRow kXbmMethods[] = {
    {"", kXbm, kBilevel},
};
inline constexpr MethodRow kXpmMethods[] = {
    {"", kXpm, kWholeByteDepths},
};
inline constexpr MethodRow kXwdMethods[] = {
    {"Version 10", kXwd10, kPaletteDepths},
    {"Version 11", kXwd11, kBitmapDepths},
};

inline constexpr MethodRow kWebpMethods[] = {
    {"Lossy", kWebp, kColourOrAlpha},
    {"Lossless", kWebpLossless, kColourOrAlpha, true},
};
inline constexpr MethodRow kAvifMethods[] = {
    {"Lossy", kAvif, kEightBitsColourOrAlpha},
    {"Lossless", kAvifLossless, kEightBitsColourOrAlpha, true},
};
inline constexpr MethodRow kHeicMethods[] = {
    {"", kHeic, kColourOrAlpha},
};
inline constexpr MethodRow kJxlMethods[] = {
    {"Lossy", kJxl, kEightBitsColourOrAlpha},
    {"Lossless", kJxlLossless, kEightBitsColourOrAlpha, true},
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
                   .sizeTarget = true,
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
     .keepsColour = kEveryMethod,
     .sizeTarget = true},
    {.key = "BMP", .extension = "BMP", .description = "Windows or OS/2 Bitmap", .methods = kBmpMethods},
    {.key = "PNG",
     .extension = "PNG",
     .description = "Portable Network Graphics",
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
     .pagesTogether = true},
    {.key = "ICO",
     .extension = "ICO",
     .description = "Windows Icon",
     .methods = kIcoMethods,
     .multiPage = true,
     .defaultMethod = 2},
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
     .keepsColour = methodSet({6, 7, 8, 12}),  // the JPEG methods and CMP
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
     .multiPage = true},
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
     .multiPage = true},
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
     .methods = kPsdMethods},
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
